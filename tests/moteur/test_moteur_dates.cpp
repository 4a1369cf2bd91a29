// The stored form of a date: "AAAA-MM-JJ HH:MM:SS", always with its zeros, and what a date
// outside the usual widths becomes.
#include <cstdio>

#include "OutilsMoteur.h"

using namespace moteur;

namespace {

std::string Imprime(const DateHeure& d) {
  char t[80];
  std::snprintf(t, sizeof t, "%04d-%02d-%02d %02d:%02d:%02d", d.annee, d.mois, d.jour, d.heure, d.minute, d.seconde);
  return t;
}

TEST(DatesStockees, ZerosDeTeteEtBornes) {
  EXPECT_EQ((DateHeure{2024, 2, 29, 23, 59, 58}.Iso()), "2024-02-29 23:59:58");
  EXPECT_EQ((DateHeure{5, 1, 9, 0, 0, 7}.Iso()), "0005-01-09 00:00:07");
  EXPECT_EQ((DateHeure{9999, 12, 31, 23, 59, 59}.Iso()), "9999-12-31 23:59:59");
  EXPECT_EQ(DateHeure{}.Iso(), "1899-12-30 00:00:00");
}

// Whatever the parts, the text is the one the classic print gives, out of range ones included.
TEST(DatesStockees, MemeTexteQueLImpressionPourToutesLesParties) {
  for (int annee : {-12, -1, 0, 7, 99, 100, 1899, 2024, 9999, 10000, 123456})
    for (int partie : {-5, 0, 1, 9, 10, 59, 99, 100, 1234}) {
      DateHeure d{annee, partie, (partie + 3) % 100, partie, 59, partie == 1234 ? 5 : partie};
      ASSERT_EQ(d.Iso(), Imprime(d)) << annee << " " << partie;
    }
}

}  // namespace

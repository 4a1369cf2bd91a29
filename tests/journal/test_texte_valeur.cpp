// Values written into journal lines keep all of what they hold.
#include "journal/TexteValeur.h"

#include <gtest/gtest.h>

#include "common/Ansi.h"

namespace {

using moteur::Valeur;
using utireorg::EchappeJournal;
using utireorg::TexteValeurJournal;

TEST(TexteValeurJournal, ReelDonneLeTexteLePlusCourtQuiLeRelit) {
  EXPECT_EQ(TexteValeurJournal(Valeur(1250.123456)), "'1250,123456'");
  for (double d : {922337203685.4776, 0.1 + 0.2, 1.0 / 3, -123.45675, 1e-300}) {
    std::string texte = TexteValeurJournal(Valeur(d));
    texte = texte.substr(1, texte.size() - 2);
    for (char& c : texte)
      if (c == ',') c = '.';
    EXPECT_EQ(std::stod(texte), d) << texte;
  }
  EXPECT_EQ(TexteValeurJournal(Valeur(0.1 + 0.2)), "'0,30000000000000004'");
  EXPECT_EQ(TexteValeurJournal(Valeur(1.5)), "'1,5'");
  EXPECT_EQ(TexteValeurJournal(Valeur(-2.0)), "'-2'");
  EXPECT_EQ(TexteValeurJournal(Valeur(1e20)), "'1e+20'");
  EXPECT_EQ(TexteValeurJournal(Valeur(static_cast<double>(0.1f))), "'0,10000000149011612'");
}

TEST(TexteValeurJournal, NullEtValeursDuJeuDEnregistrements) {
  EXPECT_EQ(TexteValeurJournal(Valeur::Nul()), "Null");
  EXPECT_EQ(TexteValeurJournal(Valeur("")), "''");
  EXPECT_EQ(TexteValeurJournal(Valeur(true)), "'Vrai'");
  EXPECT_EQ(TexteValeurJournal(Valeur::Monetaire(-9223372036854775807LL - 1)), "'-922337203685477,5808'");
  EXPECT_EQ(TexteValeurJournal(Valeur(moteur::DateHeure{2024, 1, 31, 10, 20, 30})), "'31/01/2024 10:20:30'");
}

// A line break would split the line, a character outside the code page would become "?".
TEST(TexteValeurJournal, CaracteresQueLeJournalNeTientPasEcritsPourEtreRelus) {
  EXPECT_EQ(EchappeJournal("ligne 1\r\nligne 2\n"), "ligne 1<CR><LF>ligne 2<LF>");
  EXPECT_EQ(EchappeJournal("smile \xF0\x9F\x98\x80 !"), "smile <U+1F600> !");
  EXPECT_EQ(EchappeJournal("\xE2\x82\xAC \xC3\xA9t\xC3\xA9 \xC5\x93uvre"), "\xE2\x82\xAC \xC3\xA9t\xC3\xA9 \xC5\x93uvre");
  EXPECT_EQ(EchappeJournal("\xCE\xA9 \xE4\xB8\xAD"), "<U+03A9> <U+4E2D>");
  EXPECT_EQ(EchappeJournal(std::string("a\0b\x01\tc", 6)), "a<U+0000>b<U+0001>\tc");
  // "<" itself is doubled: the text "<LF>" is not a line break.
  EXPECT_EQ(EchappeJournal("a<b <LF>"), "a<<b <<LF>");
  // Whatever is left holds in the journal's code page without a "?".
  const std::string echappe = EchappeJournal("\xF0\x9F\x98\x80\xCE\xA9\r\n\xC3\xA9");
  EXPECT_EQ(utireorg::DepuisAnsi(utireorg::VersAnsi(echappe)), echappe);
}

}  // namespace

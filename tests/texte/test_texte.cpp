#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "texte/Texte.h"

using namespace texte;

namespace {

// Every step LitCaractere takes through the text: the code point and whether it was valid.
std::vector<std::pair<char32_t, bool>> Lit(std::string_view s) {
  std::vector<std::pair<char32_t, bool>> lus;
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    const bool valide = LitCaractere(s, i, cp);
    lus.emplace_back(cp, valide);
  }
  return lus;
}

using Lus = std::vector<std::pair<char32_t, bool>>;

}  // namespace

TEST(Utf8, LitLesCaracteresDeUnAQuatreOctets) {
  EXPECT_EQ(Lit("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            (Lus{{'a', true}, {0xE9, true}, {0x20AC, true}, {0x1F600, true}}));
  std::string ecrit;
  for (char32_t cp : {U'a', U'\u00E9', U'\u20AC', U'\U0001F600', U'\U0010FFFF'}) EcritCaractere(cp, ecrit);
  EXPECT_EQ(ecrit, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
  EXPECT_TRUE(Utf8Valide(ecrit));
  EXPECT_EQ(PremierOctetInvalide(ecrit), std::string_view::npos);
}

// Overlong forms, surrogates, code points past U+10FFFF, stray continuation bytes and cut
// sequences are no UTF-8: each byte is stepped over alone and given back as it is.
TEST(Utf8, RefuseOctetParOctetCeQuiNEstPasDeLUtf8) {
  EXPECT_EQ(Lit("\xC0\x80"), (Lus{{0xC0, false}, {0x80, false}}));
  EXPECT_EQ(Lit("\xE0\x81\x81"), (Lus{{0xE0, false}, {0x81, false}, {0x81, false}}));
  EXPECT_EQ(Lit("\xF0\x80\x80\x80").front(), std::make_pair(char32_t{0xF0}, false));
  EXPECT_EQ(Lit("\xED\xA0\x80").front(), std::make_pair(char32_t{0xED}, false));
  EXPECT_EQ(Lit("\xF4\x90\x80\x80").front(), std::make_pair(char32_t{0xF4}, false));
  EXPECT_EQ(Lit("\xE2\x82"), (Lus{{0xE2, false}, {0x82, false}}));
  EXPECT_EQ(Lit("\xC3"
                "a"),
            (Lus{{0xC3, false}, {'a', true}}));
  EXPECT_EQ(PremierOctetInvalide("ab\xC3\xA9\xED\xA0\x80"), 4u);
  EXPECT_FALSE(Utf8Valide("\xF5\x80\x80\x80"));
}

// Counted as SQLite's length() counts: a byte that is no UTF-8 is a character of its own.
TEST(Caracteres, CompteEtCoupeSansSeparerUnCaractere) {
  EXPECT_EQ(NombreCaracteres("\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80"), 5u);
  EXPECT_EQ(NombreCaracteres("\xE9t\xE9"), 3u);
  EXPECT_EQ(PremiersCaracteres("\xC3\xA9t\xC3\xA9", 3), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(PremiersCaracteres("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
  EXPECT_EQ(PremiersCaracteres("\xF0\x9F\x98\x80!", 1), "\xF0\x9F\x98\x80");
  EXPECT_EQ(PremiersCaracteres("abc", 0), "");
}

TEST(Casse, PlieLesLettresAccentueesSelonLaRegleChoisie) {
  EXPECT_TRUE(MemeNom("Priorit\xC3\xA9", "PRIORIT\xC3\x89"));
  // Œ, Š, Ž and Ÿ, the capitals code page 1252 holds beyond Latin-1; × is no letter.
  EXPECT_EQ(PlieNom("\xC5\x92\xC5\xA0\xC5\xBD\xC5\xB8\xC3\x97"), "\xC5\x93\xC5\xA1\xC5\xBE\xC3\xBF\xC3\x97");
  EXPECT_EQ(PlieNom("\xCE\xA9\xD0\x96"), "\xCF\x89\xD0\xB6");  // Ω, Ж
  // A to Z only: what SQLite folds in identifiers.
  EXPECT_EQ(PlieNom("\xC3\x89t\xC3\xA9 ABC", Pliage::Ascii), "\xC3\x89t\xC3\xA9 abc");
  EXPECT_FALSE(MemeNom("\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9", Pliage::Ascii));
  // Bytes that are no UTF-8 are kept: an overlong "A" is not the letter a.
  EXPECT_EQ(PlieNom("\xE0\x81\x81\xC9"), "\xE0\x81\x81\xC9");
  EXPECT_FALSE(MemeNom("\xE0\x81\x81", "a"));
  EXPECT_EQ(Majuscules("entr\xC3\xA9"
                       "e \xC5\x93 \xC3\xBF \xC3\xB7",
                       Pliage::Lettres),
            "ENTR\xC3\x89"
            "E \xC5\x92 \xC5\xB8 \xC3\xB7");
  EXPECT_EQ(Majuscules("entr\xC3\xA9"
                       "e",
                       Pliage::Ascii),
            "ENTR\xC3\xA9"
            "E");
}

// Typed names compared without their accents ("Memo" for "Mémo") keep their case and every other
// character, so that the caller chooses how case folds.
TEST(Casse, OteLAccentDesLettresLatin1EtDeRienDAutre) {
  EXPECT_EQ(SansAccents("M\xC3\xA9mo \xC3\x80\xC3\xA7\xC3\x87\xC3\x8F\xC3\xB6\xC3\x9C"), "Memo AcCIoU");
  // Æ, Ñ, Ø, Ý, ÿ, × and Œ have no letter of their own under an accent here.
  const std::string gardes = "\xC3\x86\xC3\x91\xC3\x98\xC3\x9D\xC3\xBF\xC3\x97\xC5\x92";
  EXPECT_EQ(SansAccents(gardes), gardes);
  // A lone lead byte is no letter: "\xC3" then "A" stays as it is.
  EXPECT_EQ(SansAccents("\xC3"
                        "A\xE2\xC3\xA9"),
            "\xC3"
            "A\xE2"
            "e");
}

// Quoting keeps every byte, NUL included: refusing a NUL is the caller's choice.
TEST(Citation, DoubleLeGuillemetEtGardeChaqueOctet) {
  EXPECT_EQ(CiteCrochets("Nom du client"), "[Nom du client]");
  EXPECT_EQ(CiteLitteral("l'\xC3\xA9t\xC3\xA9"), "'l''\xC3\xA9t\xC3\xA9'");
  EXPECT_EQ(CiteLitteral(""), "''");
  EXPECT_EQ(CiteIdent("na\"me'"), "\"na\"\"me'\"");
  EXPECT_EQ(CiteLitteral(std::string("a\0b", 3)), std::string("'a\0b'", 5));
  EXPECT_EQ(CiteIdent(std::string("a\0b", 3)), std::string("\"a\0b\"", 5));
}

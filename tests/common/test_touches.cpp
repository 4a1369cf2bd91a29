#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/LigneDeCommande.h"
#include "common/Touches.h"

namespace utireorg {
namespace {

using E = EvenementTouche;
constexpr int Alt = CodeTouche::Alt;
constexpr int Maj = CodeTouche::Majuscule;
constexpr int Ctrl = CodeTouche::Controle;

std::vector<E> Presse(int code) { return {{code, true}, {code, false}}; }

std::vector<E> Suite(std::initializer_list<std::vector<E>> morceaux) {
  std::vector<E> tout;
  for (const auto& m : morceaux) tout.insert(tout.end(), m.begin(), m.end());
  return tout;
}

// Every key that goes down comes up again, never twice down in a row: no key stays held.
void VerifieEquilibre(const std::vector<E>& evenements, const std::string& texte) {
  std::map<int, bool> enBas;
  for (const auto& e : evenements) {
    EXPECT_NE(enBas[e.code], e.appui) << "texte " << texte << ", touche " << e.code;
    enBas[e.code] = e.appui;
  }
  for (const auto& [code, bas] : enBas) EXPECT_FALSE(bas) << "texte " << texte << ", touche " << code;
}

TEST(NomsDesTouches, TableDesTouchesDeFonction) {
  EXPECT_EQ(NomToucheFonction(27), "ECHAP ESCAPE");
  EXPECT_EQ(NomToucheFonction(113), "F2");
  EXPECT_EQ(NomToucheFonction(120), "F9");
  EXPECT_EQ(NomToucheFonction(121), "F10");
  EXPECT_EQ(NomToucheFonction(123), "F12");
  EXPECT_EQ(NomToucheFonction(13), "ENTREE ENTRÉE");
  EXPECT_EQ(NomToucheFonction(107), "+");
  EXPECT_EQ(NomToucheFonction(109), "-");
  EXPECT_FALSE(NomToucheFonction(112));  // F1 opens help instead
  EXPECT_FALSE(NomToucheFonction('A'));
  EXPECT_FALSE(NomToucheFonction(124));
}

TEST(NomsDesTouches, EchapEtEscapeRepondentAEchap) {
  EXPECT_TRUE(IndiceCorrespond("ECHAP", 27));
  EXPECT_TRUE(IndiceCorrespond("ESCAPE", 27));
  EXPECT_TRUE(IndiceCorrespond("ECH", 27));  // "&Quitter;Ech" of the main window
  EXPECT_FALSE(IndiceCorrespond("ECHAP", 13));
}

TEST(NomsDesTouches, EntreeAvecOuSansAccent) {
  EXPECT_TRUE(IndiceCorrespond("ENTREE", 13));
  EXPECT_TRUE(IndiceCorrespond("ENTRÉE", 13));
  EXPECT_TRUE(IndiceCorrespond("entrée", 13));
  EXPECT_FALSE(IndiceCorrespond("ENTREE", 27));
}

TEST(NomsDesTouches, IndiceVideOuToucheInconnue) {
  EXPECT_FALSE(IndiceCorrespond("", 113));
  EXPECT_FALSE(IndiceCorrespond("   ", 27));
  EXPECT_FALSE(IndiceCorrespond("F2", 0));
  EXPECT_FALSE(IndiceCorrespond("A", 'A'));
}

TEST(NomsDesTouches, ToucheDeFonctionExacte) {
  EXPECT_TRUE(IndiceCorrespond("F2", 113));
  EXPECT_TRUE(IndiceCorrespond(" f5 ", 116));
  EXPECT_FALSE(IndiceCorrespond("F2", 114));
  EXPECT_TRUE(IndiceCorrespond("F10", 121));
  EXPECT_TRUE(IndiceCorrespond("F12", 123));
  // The hint of F1 must not be taken for F10, F11 or F12.
  EXPECT_FALSE(IndiceCorrespond("F1", 121));
  EXPECT_FALSE(IndiceCorrespond("F1", 122));
  EXPECT_FALSE(IndiceCorrespond("F1", 123));
  EXPECT_TRUE(IndiceCorrespond("+", 107));
  EXPECT_TRUE(IndiceCorrespond("-", 109));
  EXPECT_FALSE(IndiceCorrespond("+", 109));
}

TEST(Legendes, IndiceApresLePremierPointVirgule) {
  EXPECT_EQ(IndiceDeLegende("&Lancer;F2"), "F2");
  EXPECT_EQ(IndiceDeLegende("&Quitter; ech "), "ECH");
  EXPECT_EQ(IndiceDeLegende("&Valider;entrée"), "ENTRÉE");
  EXPECT_EQ(IndiceDeLegende("a;b;c"), "B;C");
  EXPECT_EQ(IndiceDeLegende("&Lancer"), "");
  EXPECT_EQ(IndiceDeLegende("&Lancer;"), "");
  EXPECT_EQ(TexteDeLegende("&Lancer;F2"), "&Lancer");
  EXPECT_EQ(TexteDeLegende("&Lancer"), "&Lancer");
}

TEST(Legendes, MajusculesDesLettresAccentuees) {
  EXPECT_EQ(MajusculesUtf8("entrée à ç ü"), "ENTRÉE À Ç Ü");
  EXPECT_EQ(MajusculesUtf8("÷ 1,5 €"), "÷ 1,5 €");
}

TEST(EnvoiDeTouches, AltPuisLettre) {
  EXPECT_EQ(AnalyseTouches("%f"), (std::vector<E>{{Alt, true}, {'F', true}, {'F', false}, {Alt, false}}));
}

TEST(EnvoiDeTouches, ModificateursRelachesDansLOrdreDAppui) {
  EXPECT_EQ(AnalyseTouches("^%x"),
            Suite({{{Ctrl, true}, {Alt, true}}, Presse('X'), {{Ctrl, false}, {Alt, false}}}));
  // Only the next key is modified.
  EXPECT_EQ(AnalyseTouches("+ab"), Suite({{{Maj, true}}, Presse('A'), {{Maj, false}}, Presse('B')}));
  // A modifier already down is not pressed again.
  EXPECT_EQ(AnalyseTouches("%%f"), AnalyseTouches("%f"));
}

TEST(EnvoiDeTouches, ToucheNommeeRepetee) {
  EXPECT_EQ(AnalyseTouches("{TAB 3}"), Suite({Presse(9), Presse(9), Presse(9)}));
  EXPECT_EQ(AnalyseTouches("{tab}"), Presse(9));
  EXPECT_EQ(AnalyseTouches("{TAB 2,5}"), Suite({Presse(9), Presse(9)}));
  EXPECT_EQ(AnalyseTouches("{TAB 2.5}"), Suite({Presse(9), Presse(9)}));
  EXPECT_TRUE(AnalyseTouches("{TAB 0}").empty());
  EXPECT_TRUE(AnalyseTouches("{TAB -4}").empty());
  EXPECT_TRUE(AnalyseTouches("{TAB abc}").empty());
  EXPECT_EQ(AnalyseTouches("{TAB 1e12}").size(), 2u * RepetitionMaximale);
  EXPECT_EQ(AnalyseTouches("+{END}"), Suite({{{Maj, true}}, Presse(35), {{Maj, false}}}));
}

TEST(EnvoiDeTouches, ToutesLesTouchesNommees) {
  const std::map<std::string, int> attendus{
      {"BACKSPACE", 8}, {"BS", 8},      {"BKSP", 8},        {"BREAK", 19},    {"CAPSLOCK", 20},
      {"DEL", 46},      {"DELETE", 46}, {"DOWN", 40},       {"END", 35},      {"ENTER", 13},
      {"ESC", 27},      {"ESCAPE", 27}, {"HELP", 47},       {"HOME", 36},     {"INSERT", 45},
      {"LEFT", 37},     {"NUMLOCK", 144}, {"PGDN", 34},     {"PGUP", 33},     {"PRTSC", 42},
      {"RIGHT", 39},    {"SCROLLLOCK", 145}, {"TAB", 9},    {"UP", 38},       {"F1", 112},
      {"F9", 120},      {"F10", 121},   {"F16", 127}};
  for (const auto& [nom, code] : attendus) {
    EXPECT_EQ(CodeToucheNommee(nom), code) << nom;
    EXPECT_EQ(AnalyseTouches("{" + nom + "}"), Presse(code)) << nom;
  }
  EXPECT_EQ(AnalyseTouches("{CAPSLOCK}"), Presse(CodeTouche::VerrMaj));
  for (const char* inconnu : {"F0", "F01", "F17", "FOO", "", "+", "ESCAP"})
    EXPECT_FALSE(CodeToucheNommee(inconnu)) << inconnu;
}

TEST(EnvoiDeTouches, NomInconnuNEnvoieRien) {
  EXPECT_EQ(AnalyseTouches("{INCONNU}a"), Presse('A'));
  EXPECT_EQ(AnalyseTouches("{}a"), Presse('A'));
  // The modifier waiting for the unknown name is released all the same.
  EXPECT_EQ(AnalyseTouches("%{INCONNU}a"), Suite({{{Alt, true}, {Alt, false}}, Presse('A')}));
}

TEST(EnvoiDeTouches, GroupeGardeLesModificateurs) {
  EXPECT_EQ(AnalyseTouches("+(ab)c"),
            Suite({{{Maj, true}}, Presse('A'), Presse('B'), {{Maj, false}}, Presse('C')}));
  EXPECT_EQ(AnalyseTouches("(a{TAB})"), Suite({Presse('A'), Presse(9)}));
  EXPECT_TRUE(AnalyseTouches("()").empty());
}

TEST(EnvoiDeTouches, CaracteresOrdinaires) {
  EXPECT_EQ(AnalyseTouches("a B1 "), Suite({Presse('A'), Presse(' '), Presse('B'), Presse('1'), Presse(' ')}));
  // No key of their own: nothing is sent, and "." is not taken for the Delete key.
  EXPECT_TRUE(AnalyseTouches("é.;!").empty());
  EXPECT_EQ(AnalyseTouches("ç9"), Presse('9'));
}

TEST(EnvoiDeTouches, AccoladeOuParentheseNonFermeeTermineLeTexte) {
  EXPECT_TRUE(AnalyseTouches("{TAB").empty());
  EXPECT_EQ(AnalyseTouches("a{TAB b"), Presse('A'));
  EXPECT_EQ(AnalyseTouches("x(ab"), Presse('X'));
  EXPECT_EQ(AnalyseTouches("+(ab"), (std::vector<E>{{Maj, true}, {Maj, false}}));
  EXPECT_EQ(AnalyseTouches("((ab))"), std::vector<E>{});
}

TEST(EnvoiDeTouches, AucuneToucheNeResteEnfoncee) {
  for (std::string texte : {"%", "+^%", "a+", "%(", "^{", "+(^a", "%(b{TAB 2})", "(+a)b", "}}){(",
                            "^%{DEL}", "+(%)", "%{TAB 2", "((%a)b)"}) {
    VerifieEquilibre(AnalyseTouches(texte), texte);
  }
}

TEST(ValeurNumerique, NombresEtVirgule) {
  EXPECT_DOUBLE_EQ(ValeurNumerique("3"), 3);
  EXPECT_DOUBLE_EQ(ValeurNumerique(" 2.5 "), 2.5);
  EXPECT_DOUBLE_EQ(ValeurNumerique("2,5"), 2.5);
  EXPECT_DOUBLE_EQ(ValeurNumerique("2,5 fois"), 2.5);
  EXPECT_DOUBLE_EQ(ValeurNumerique("-1"), -1);
  EXPECT_DOUBLE_EQ(ValeurNumerique("+4"), 4);
  EXPECT_DOUBLE_EQ(ValeurNumerique("abc"), 0);
  EXPECT_DOUBLE_EQ(ValeurNumerique(""), 0);
  EXPECT_DOUBLE_EQ(ValeurNumerique("nan"), 0);
  EXPECT_DOUBLE_EQ(ValeurNumerique("inf"), 0);
  EXPECT_DOUBLE_EQ(ValeurNumerique("++3"), 0);
}

class SequenceCachee : public ::testing::Test {
 protected:
  void TearDown() override { MemoriseLigneDeCommande(std::string()); }

  int Tape(std::string_view texte) {
    int mode = 0;
    for (char c : texte) mode = detecteur.Touche(c, true, true, false);
    return mode;
  }

  DetecteurSequence detecteur;
};

TEST_F(SequenceCachee, MotsDesModesUnEtDeux) {
  EXPECT_EQ(Tape("FOR"), 0);
  EXPECT_EQ(Tape("M"), 1);
  EXPECT_EQ(Tape("XTEST"), 2);
  // Once opened, the report does not open again on the next letters.
  EXPECT_EQ(Tape("T"), 0);
}

TEST_F(SequenceCachee, ToucheSansModificateurRecommence) {
  Tape("FO");
  EXPECT_EQ(detecteur.Touche('X', false, false, false), 0);
  EXPECT_EQ(Tape("RM"), 0);
  EXPECT_TRUE(detecteur.Tampon() == "RM");
}

TEST_F(SequenceCachee, UnSeulModificateurNeCompteNiNEfface) {
  Tape("FO");
  EXPECT_EQ(detecteur.Touche('Z', false, true, false), 0);
  EXPECT_EQ(detecteur.Touche('Z', true, false, false), 0);
  EXPECT_EQ(Tape("RM"), 1);
}

TEST_F(SequenceCachee, LettreDuModeTroisSeulementAvecAutotest) {
  EXPECT_EQ(Tape("A"), 0);
  MemoriseLigneDeCommande("c:\\base.mdb /autotest");
  EXPECT_EQ(Tape("A"), 3);
}

TEST_F(SequenceCachee, TamponBorne) {
  for (int i = 0; i < 10000; ++i) detecteur.Touche('Q', true, true, false);
  EXPECT_LE(detecteur.Tampon().size(), 64u);
  EXPECT_EQ(Tape("TEST"), 2);
}

}  // namespace
}  // namespace utireorg

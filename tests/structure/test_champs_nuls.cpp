// Fill values and statements for the fields made required.
#include "OutilsStructure.h"
#include "structure/ChampsNuls.h"

namespace utireorg::tests {
namespace {

using moteur::dbLong;
using moteur::dbMemo;
using moteur::dbText;

TEST(ValeurRemplissage, TextesEntreApostrophesNombresTelsQuels) {
  EXPECT_EQ(ValeurRemplissage(dbText, "\"N\""), "'N'");
  EXPECT_EQ(ValeurRemplissage(dbText, "abc"), "'abc'");
  EXPECT_EQ(ValeurRemplissage(dbMemo, ""), "''");
  EXPECT_EQ(ValeurRemplissage(dbText, "'x'"), "'x'");
  EXPECT_EQ(ValeurRemplissage(dbLong, "0"), "0");
  EXPECT_EQ(ValeurRemplissage(moteur::dbBoolean, "True"), "True");
  // Quotes inside the text stay part of it.
  EXPECT_EQ(ValeurRemplissage(dbText, "\"l'an\""), "'l''an'");
  EXPECT_EQ(ValeurRemplissage(dbText, "\"dit \"\"oui\"\"\""), "'dit \"oui\"'");
}

TEST(ValeurRemplissage, InstructionDeLaTable) {
  EXPECT_EQ(InstructionRemplissage("Clients", {"Code", "'N'"}),
            "UPDATE [Clients] SET [Code] = 'N' WHERE ISNULL([Code])");
}

TEST(ListeRemplissage, CompteAuDelaDeCentSansGarder) {
  ListeRemplissage liste;
  for (int i = 0; i < 101; ++i) liste.Inscrit("F" + std::to_string(i), "1");
  EXPECT_EQ(liste.Nombre(), 101);
  ASSERT_EQ(liste.Entrees().size(), 100u);
  EXPECT_EQ(liste.Entrees().back().champ, "F99");
  liste.Vide();
  EXPECT_EQ(liste.Nombre(), 0);
  EXPECT_TRUE(liste.Entrees().empty());
}

class Remplissage : public StructureTest {};

TEST_F(Remplissage, SeulesLesCentPremieresInstructionsSontExecutees) {
  std::vector<Colonne> champs;
  for (int i = 0; i < 101; ++i) champs.push_back({"F" + std::to_string(i), dbLong});
  Cible([&](moteur::Database& b) {
    CreeTable(b, "T", champs);
    Insere(b, "T", {{"F0", Valeur::Nul()}});
  });
  moteur::Database cible = OuvreBase(cheminCible);
  ListeRemplissage liste;
  for (int i = 0; i < 101; ++i) liste.Inscrit("F" + std::to_string(i), "1");
  RemplitChampsNuls(liste, "T", cible);

  EXPECT_EQ(ValeursColonne(cible, "T", "F99"), std::vector<Valeur>{Valeur(1)});
  EXPECT_TRUE(ValeursColonne(cible, "T", "F100")[0].EstNul());
  FermeBase(cible);
}

TEST_F(Remplissage, ChampInscritAvecLaValeurDeSonType) {
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Code", dbText, 5, true, "\"N\""}, {"Nombre", dbLong, 0, true, "0"}, {"Vide", dbText, 5, true}});
  });
  moteur::Database cible = OuvreBase(cheminCible);
  ListeRemplissage liste;
  for (const char* nom : {"Code", "Nombre", "Vide"}) InscritChampNul(liste, cible.TableDefs()["T"].Fields()[nom]);
  ASSERT_EQ(liste.Entrees().size(), 3u);
  EXPECT_EQ(InstructionRemplissage("T", liste.Entrees()[0]), "UPDATE [T] SET [Code] = 'N' WHERE ISNULL([Code])");
  EXPECT_EQ(InstructionRemplissage("T", liste.Entrees()[1]), "UPDATE [T] SET [Nombre] = 0 WHERE ISNULL([Nombre])");
  EXPECT_EQ(liste.Entrees()[2].valeur, "''");
  FermeBase(cible);
}

// Each new required field's statement is refused for the nulls the others still hold: every one
// of them must still get its default, beyond the hundredth too.
TEST_F(Remplissage, CentDeuxNouveauxChampsRequisRecoiventLeurDefaut) {
  std::vector<Colonne> champs = {{"Id", dbLong}};
  for (int i = 0; i < 102; ++i) champs.push_back({"F" + std::to_string(i), dbLong, 0, true, std::to_string(i)});
  Modele([&](moteur::Database& b) { CreeTable(b, "T", champs); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}});
    Insere(b, "T", {{"Id", Valeur(1)}});
    Insere(b, "T", {{"Id", Valeur(2)}});
  });
  Verifie(false);

  auto& r = Resultat();
  for (int i = 0; i < 102; ++i)
    EXPECT_EQ(ValeursColonne(r, "T", "F" + std::to_string(i)), std::vector<Valeur>(2, Valeur(i))) << i;
}

}  // namespace
}  // namespace utireorg::tests

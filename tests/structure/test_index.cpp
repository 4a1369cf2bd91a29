// Indexes of the model brought to the target: created, refused for duplicates, primary keys.
#include "OutilsStructure.h"

namespace utireorg::tests {
namespace {

using moteur::dbLong;
using moteur::dbText;

class Index : public StructureTest {};

TEST_F(Index, UniqueRefusePourDoublonsDevientIndexSimple) {
  Modele([](moteur::Database& b) { CreeTable(b, "Articles", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"Code", "+Code", true}}); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "Articles", {{"Id", dbLong}, {"Code", dbText, 10}});
    Insere(b, "Articles", {{"Id", Valeur(1)}, {"Code", Valeur("A")}});
    Insere(b, "Articles", {{"Id", Valeur(2)}, {"Code", Valeur("A")}});
  });
  Verifie();

  EXPECT_EQ(Constats(),
            (std::vector<std::string>{
                H("#ALERT# - index 'Articles.Code' non trouvé : Tentative de création"),
                "#ERR# i#Caractéristiques incorrectes :. . Table   : 'Articles'. Index : 'Code'. . Cet index déclaré "
                "primaire ou unique ne peut être créé. correctement car des doublons sont présents dans la table.",
            }));
  EXPECT_TRUE(fenetre.messages.empty());
  ASSERT_FALSE(fenetre.pointeurs.empty());
  EXPECT_EQ(fenetre.pointeurs.back(), PointeurSouris::Sablier);
  moteur::Index code = Resultat().TableDefs()["Articles"].Indexes()["Code"];
  EXPECT_EQ(code.Fields(), "+Code");
  EXPECT_FALSE(code.Unique());
  EXPECT_FALSE(code.Primary());
}

TEST_F(Index, ClePrimaireAjouteeDeclasseLAncienne) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"PrimaryKey", "+Id", true, true}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"AutreCle", "+Code", true, true}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Code", Valeur("A")}});
  });
  Verifie();

  EXPECT_EQ(Constats(), std::vector<std::string>{H("#ALERT# - index 'T.PrimaryKey' non trouvé : Tentative de création")});
  moteur::TableDef t = Resultat().TableDefs()["T"];
  EXPECT_TRUE(t.Indexes()["PrimaryKey"].Primary());
  EXPECT_EQ(t.Indexes()["PrimaryKey"].Fields(), "+Id");
  moteur::Index ancienne = t.Indexes()["AutreCle"];
  EXPECT_FALSE(ancienne.Primary());
  EXPECT_TRUE(ancienne.Unique());
  EXPECT_EQ(ancienne.Fields(), "+Code");
}

TEST_F(Index, ClePrimaireRefuseePourDoublonsApresDeclassementResteIndexSimple) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"PrimaryKey", "+Id", true, true}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"AutreCle", "+Code", true, true}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Code", Valeur("A")}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Code", Valeur("B")}});
  });
  Verifie();

  ASSERT_EQ(Constats().size(), 2u);
  EXPECT_EQ(Constats()[1].rfind("#ERR# i#Caractéristiques incorrectes :. . Table   : 'T'. Index : 'PrimaryKey'", 0), 0u);
  moteur::TableDef t = Resultat().TableDefs()["T"];
  EXPECT_FALSE(t.Indexes()["PrimaryKey"].Primary());
  EXPECT_FALSE(t.Indexes()["AutreCle"].Primary());
}

class IndexModes : public Index, public ::testing::WithParamInterface<bool> {};

TEST_P(IndexModes, IndexDifferentRecreeEnModeAvanceSeulement) {
  const bool avancee = GetParam();
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}, {"B", dbLong}}, {{"Ix", "+A;-B", true}}); });
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}, {"B", dbLong}}, {{"Ix", "+A"}}); });
  Verifie(avancee);

  moteur::Index ix = Resultat().TableDefs()["T"].Indexes()["Ix"];
  EXPECT_EQ(ix.Fields(), avancee ? "+A;-B" : "+A");
  EXPECT_EQ(ix.Unique(), avancee);
  if (avancee) EXPECT_EQ(Constats(), std::vector<std::string>{H("          L'index T.Ix' a bien été créé.")});
  else EXPECT_TRUE(Constats().empty());
}

INSTANTIATE_TEST_SUITE_P(, IndexModes, ::testing::Bool(), [](const auto& info) { return info.param ? "Avance" : "Simple"; });

}  // namespace
}  // namespace utireorg::tests

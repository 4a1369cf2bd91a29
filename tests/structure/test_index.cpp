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
  // The table keeps the key it had: the model's could not take its place.
  EXPECT_TRUE(t.Indexes()["AutreCle"].Primary());
  EXPECT_EQ(t.Indexes()["AutreCle"].Fields(), "+Code");
}

// A key of the model on a field that holds Nulls cannot be built: the table keeps its own key, and
// the journal says why the model's is missing.
TEST_F(Index, ClePrimaireRefuseePourUnNullGardeLAncienneEtLeDit) {
  for (bool avecCle : {true, false}) {
    SCOPED_TRACE(avecCle ? "clé primaire dans la cible" : "sans clé primaire");
    fs::remove(cheminModele);
    fs::remove(cheminCible);
    fenetre.journal.clear();
    Modele([](moteur::Database& b) {
      CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"PrimaryKey", "+Code", true, true}});
    });
    Cible([&](moteur::Database& b) {
      std::vector<IndexTable> index;
      if (avecCle) index.push_back({"Cle", "+Id", true, true});
      CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, index);
      Insere(b, "T", {{"Id", Valeur(1)}, {"Code", Valeur("A")}});
      Insere(b, "T", {{"Id", Valeur(2)}});
    });
    Verifie(true);

    std::string cause = moteur::DescriptionErreur(3058, {"Code"});
    cause.pop_back();  // its full stop
    EXPECT_EQ(Constats(), (std::vector<std::string>{H("#ALERT# - index 'T.PrimaryKey' non trouvé : Tentative de création"),
                                                    "#ERR# Table : T, index 'PrimaryKey' non créé (" + cause + ")."}));
    auto& r = Resultat();
    moteur::TableDef t = r.TableDefs()["T"];
    if (avecCle) {
      EXPECT_TRUE(t.Indexes()["Cle"].Primary());
      EXPECT_EQ(t.Indexes()["Cle"].Fields(), "+Id");
    }
    EXPECT_EQ(moteur::Essaie([&] { t.Indexes()["PrimaryKey"].Name(); }).Number, moteur::err::ElementIntrouvable);
    EXPECT_EQ(ValeursColonne(r, "T", "Id"), (std::vector<Valeur>{Valeur(1), Valeur(2)}));
    FermeBase(resultat);
  }
}

// The model's key under the name of the target's, on a field that holds Nulls or duplicates: the
// target's key is deleted to make room for the model's, which cannot be built. The table keeps
// its own key, as it was, and the journal says why the model's is missing.
TEST_F(Index, ClePrimaireDeMemeNomRefuseeGardeLAncienne) {
  for (bool nul : {true, false}) {
    SCOPED_TRACE(nul ? "valeur Null" : "doublons");
    fs::remove(cheminModele);
    fs::remove(cheminCible);
    fenetre.journal.clear();
    Modele([](moteur::Database& b) {
      CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"PrimaryKey", "+Code", true, true}});
    });
    Cible([&](moteur::Database& b) {
      CreeTable(b, "T", {{"Id", dbLong}, {"Code", dbText, 10}}, {{"PrimaryKey", "+Id", true, true}});
      Insere(b, "T", {{"Id", Valeur(1)}, {"Code", Valeur("A")}});
      Insere(b, "T", {{"Id", Valeur(2)}, {"Code", nul ? Valeur::Nul() : Valeur("A")}});
    });
    Verifie(true);

    ASSERT_EQ(Constats().size(), 1u);
    EXPECT_EQ(Constats()[0].rfind(nul ? "#ERR# Table : T, index 'PrimaryKey' non créé ("
                                      : "#ERR# i#Caractéristiques incorrectes :. . Table   : 'T'. Index : 'PrimaryKey'",
                                  0),
              0u)
        << Constats()[0];
    auto& r = Resultat();
    moteur::Index cle = r.TableDefs()["T"].Indexes()["PrimaryKey"];
    EXPECT_TRUE(cle.Primary());
    EXPECT_TRUE(cle.Unique());
    EXPECT_EQ(cle.Fields(), "+Id");
    EXPECT_EQ(ValeursColonne(r, "T", "Id"), (std::vector<Valeur>{Valeur(1), Valeur(2)}));
    FermeBase(resultat);
  }
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

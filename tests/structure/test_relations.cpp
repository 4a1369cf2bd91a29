// The relation check: the target's relations dropped and rebuilt from the model's.
#include "OutilsStructure.h"

namespace utireorg::tests {
namespace {

using moteur::dbLong;

void Relation(moteur::Database& b, const std::string& nom, const std::string& table, const std::string& etrangere,
              const std::string& champ, long long attributs = 0) {
  moteur::Relation r = b.CreateRelation(nom, table, etrangere, attributs);
  moteur::Field f = r.CreateField(champ);
  f.SetForeignName(champ);
  r.Fields().Append(f);
  b.Relations().Append(r);
}

std::vector<std::string> NomsRelations(moteur::Database& b) {
  std::vector<std::string> noms;
  for (int i = 0; i < b.Relations().Count(); ++i) noms.push_back(b.Relations()[i].Name());
  return noms;
}

class Relations : public StructureTest {
 protected:
  void Tables(moteur::Database& b) {
    CreeTable(b, "Clients", {{"IdClient", dbLong}}, {{"PrimaryKey", "+IdClient", true, true}});
    CreeTable(b, "Factures", {{"IdFacture", dbLong}, {"IdClient", dbLong}}, {{"PrimaryKey", "+IdFacture", true, true}});
    CreeTable(b, "Reglements", {{"IdReglement", dbLong}, {"IdFacture", dbLong}});
  }
};

TEST_F(Relations, RelationsDeLaCibleRemplaceesParCellesDuModele) {
  Modele([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "ClientsFactures", "Clients", "Factures", "IdClient", moteur::dbRelationDeleteCascade);
  });
  Cible([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "Ancienne", "Factures", "Reglements", "IdFacture");
  });
  Verifie(true);

  auto& r = Resultat();
  EXPECT_EQ(NomsRelations(r), std::vector<std::string>{"ClientsFactures"});
  moteur::Relation rel = r.Relations()["ClientsFactures"];
  EXPECT_EQ(rel.Table(), "Clients");
  EXPECT_EQ(rel.ForeignTable(), "Factures");
  EXPECT_EQ(rel.Attributes(), moteur::dbRelationDeleteCascade);
  EXPECT_EQ(rel.Fields()[0].ForeignName(), "IdClient");
  EXPECT_EQ(Sections().back(), "Vérification des relations");
  EXPECT_TRUE(Constats().empty());
}

TEST_F(Relations, SansFlagVerifRelationLaCibleGardeSesRelations) {
  Modele([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "ClientsFactures", "Clients", "Factures", "IdClient");
  });
  Cible([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "Ancienne", "Factures", "Reglements", "IdFacture");
  });
  etat.flagVerifRelation = false;
  Verifie(true);

  EXPECT_EQ(NomsRelations(Resultat()), std::vector<std::string>{"Ancienne"});
  for (const auto& s : Sections()) EXPECT_NE(s, "Vérification des relations");
}

TEST_F(Relations, RelationsIntactesSansModeAvanceNiReconstruction) {
  Modele([&](moteur::Database& b) { Tables(b); });
  Cible([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "Ancienne", "Factures", "Reglements", "IdFacture");
  });
  Verifie(false);

  EXPECT_EQ(NomsRelations(Resultat()), std::vector<std::string>{"Ancienne"});
}

TEST_F(Relations, EchecDUneRelationNommeCellesQuiManquent) {
  Modele([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "ClientsFactures", "Clients", "Factures", "IdClient");
    Relation(b, "FacturesReglements", "Factures", "Reglements", "IdFacture");
  });
  Cible([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "FacturesReglements", "Factures", "Reglements", "IdFacture");
    // An invoice whose customer does not exist: the enforced relation cannot come back.
    Insere(b, "Factures", {{"IdFacture", Valeur(1)}, {"IdClient", Valeur(42)}});
  });
  Verifie(true);

  ASSERT_EQ(Constats().size(), 1u);
  const std::string ligne = Constats()[0];
  EXPECT_EQ(ligne.rfind("#ERR# Relation 'ClientsFactures' non recréée (", 0), 0u) << ligne;
  const std::string fin = "). Relations absentes de la base : 'ClientsFactures', 'FacturesReglements'.";
  EXPECT_EQ(ligne.substr(ligne.size() - std::min(ligne.size(), fin.size())), fin) << ligne;
  EXPECT_TRUE(NomsRelations(Resultat()).empty());
}

TEST_F(Relations, ModeleSansRelationLaisseLaCibleSansRelation) {
  Modele([&](moteur::Database& b) { Tables(b); });
  Cible([&](moteur::Database& b) {
    Tables(b);
    Relation(b, "Ancienne", "Factures", "Reglements", "IdFacture");
  });
  Verifie(true);

  EXPECT_TRUE(NomsRelations(Resultat()).empty());
  EXPECT_TRUE(Constats().empty());
}

}  // namespace
}  // namespace utireorg::tests

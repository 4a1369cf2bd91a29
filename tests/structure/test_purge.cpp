// The purge of temporary tables, the table filter and the switches of the verification.
#include "OutilsStructure.h"
#include "structure/Purge.h"

namespace utireorg::tests {
namespace {

using moteur::dbLong;

class Purge : public StructureTest {
 protected:
  void SetUp() override {
    StructureTest::SetUp();
    etat.nomLogiciel = "Compta";
    fenetre.saisies[saisie::Modele] = (racine / "modele" / "Modele.mdb").string();
  }

  std::vector<std::string> TablesCible() {
    std::vector<std::string> noms;
    auto& r = Resultat();
    for (int i = 0; i < r.TableDefs().Count(); ++i)
      if (!(r.TableDefs()[i].Attributes() & moteur::dbSystemObject)) noms.push_back(r.TableDefs()[i].Name());
    return noms;
  }

  void Purge_() {
    etat.baseCourante = OuvreBase(cheminCible);
    EffaceTablesTemporaires(etat);
    FermeBase(etat.baseCourante);
  }
};

TEST_F(Purge, TablesTmpConnuesDeLaReferenceSupprimees) {
  // The reference written in lower case is still the software's file.
  Base((racine / "modele" / "compta.mdb").string(), [](moteur::Database& b) {
    for (const char* nom : {"TmpCalcul", "TMPa", "TMPb", "Clients"}) CreeTable(b, nom, {{"A", dbLong}});
  });
  Cible([](moteur::Database& b) {
    for (const char* nom : {"Clients", "TMPa", "TMPb", "TMP_Local", "Temp_Clients", "TmpCalcul", "Zones"})
      CreeTable(b, nom, {{"A", dbLong}});
  });
  Purge_();

  EXPECT_EQ(TablesCible(), (std::vector<std::string>{"Clients", "Temp_Clients", "TMP_Local", "Zones"}));
  // TMPa, TMPb and TmpCalcul follow each other: each deletion brings the next one to the same place.
  EXPECT_EQ(Constats(), (std::vector<std::string>{"Purge table TMP_Local", "Purge table TMPa", "Purge table TMPb",
                                                  "Purge table TmpCalcul"}));
  EXPECT_EQ(Sections(), std::vector<std::string>{"Purge des tables temporaires"});
  EXPECT_TRUE(fenetre.messages.empty());
}

TEST_F(Purge, ReferenceAuNomExactPrefereeAUneVarianteDeCasse) {
  Base((racine / "modele" / "Compta.MDB").string(), [](moteur::Database& b) { CreeTable(b, "TmpA", {{"A", dbLong}}); });
  Base((racine / "modele" / "COMPTA.mdb").string(), [](moteur::Database& b) { CreeTable(b, "TmpB", {{"A", dbLong}}); });
  EXPECT_EQ(CheminBaseReference(etat), (racine / "modele" / "Compta.MDB").string());
  fs::remove(racine / "modele" / "Compta.MDB");
  EXPECT_EQ(CheminBaseReference(etat), (racine / "modele" / "COMPTA.mdb").string());
  fs::remove(racine / "modele" / "COMPTA.mdb");
  EXPECT_EQ(CheminBaseReference(etat), "");
}

// A relation cannot outlive its table: the purge says which ones went with it.
TEST_F(Purge, RelationsDUneTablePurgeeNommeesAuJournal) {
  Base((racine / "modele" / "Compta.mdb").string(), [](moteur::Database& b) { CreeTable(b, "TmpCalcul", {{"A", dbLong}}); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "Clients", {{"A", dbLong}}, {{"PrimaryKey", "+A", true, true}});
    CreeTable(b, "TmpCalcul", {{"A", dbLong}});
    CreeTable(b, "Zones", {{"A", dbLong}});
    for (const char* etrangere : {"TmpCalcul", "Zones"}) {
      moteur::Relation r = b.CreateRelation(std::string("Clients") + etrangere, "Clients", etrangere);
      moteur::Field f = r.CreateField("A");
      f.SetForeignName("A");
      r.Fields().Append(f);
      b.Relations().Append(r);
    }
  });
  Purge_();

  EXPECT_EQ(TablesCible(), (std::vector<std::string>{"Clients", "Zones"}));
  EXPECT_EQ(Constats(), (std::vector<std::string>{"Purge table TmpCalcul",
                                                  "#ALERT# Relation 'ClientsTmpCalcul' supprimée avec la table TmpCalcul."}));
  EXPECT_EQ(Resultat().Relations().Count(), 1);
}

TEST_F(Purge, SansReferenceRienNEstSupprime) {
  Cible([](moteur::Database& b) { CreeTable(b, "TmpCalcul", {{"A", dbLong}}); });
  Purge_();

  EXPECT_EQ(TablesCible(), std::vector<std::string>{"TmpCalcul"});
  EXPECT_EQ(fenetre.messages.size(), 1u);  // the error handler's report
  EXPECT_TRUE(Constats().empty());
}

TEST(Filtre, ProprietesDeTableCopiables) {
  EXPECT_TRUE(IsPropTableATraiter("Description"));
  EXPECT_TRUE(IsPropTableATraiter("NomClair"));
  EXPECT_FALSE(IsPropTableATraiter("RecordCount"));
  EXPECT_TRUE(IsPropTableATraiter("recordcount"));
  for (const char* nom : {"Name", "Updatable", "DateCreated", "LastUpdated", "Connect", "Attributes", "SourceTableName",
                          "ValidationRule", "ValidationText", "ConflictTable", "ReplicaFilter", "OrderByOn"})
    EXPECT_FALSE(IsPropTableATraiter(nom)) << nom;
}

TEST_F(Purge, ParametresDeVerificationVides) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  moteur::Database modele = OuvreBase(cheminModele), cible = OuvreBase(cheminCible);
  bool generiques = true, table = true;
  std::string exclusions = "@T@";
  InitFlagVerifDataBase(etat, cheminCible, modele, cible, generiques, table, exclusions);
  EXPECT_FALSE(generiques);
  EXPECT_FALSE(table);
  EXPECT_EQ(exclusions, "");
  FermeBase(modele);
  FermeBase(cible);
}

}  // namespace
}  // namespace utireorg::tests

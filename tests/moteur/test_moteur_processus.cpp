// Sharing a database with another process, and the workspace's transactions over several databases.
#include <sqlite3.h>

#include "OutilsMoteur.h"
#include "moteur/Interne.h"

using namespace moteur;
using namespace outils;

namespace {

class Processus : public TestMoteur {
 protected:
  std::unique_ptr<ProcessusAide> Lance(const std::string& mode) {
    auto aide = std::make_unique<ProcessusAide>(CHEMIN_aide_tenue, std::vector<std::string>{Chemin("base.bd"), mode});
    EXPECT_EQ(aide->PremiereLigne(), "pret") << mode;
    return aide;
  }

  // Every kind of write, each expected to fail at once with a lock number.
  void EcrituresRefusees(Database& base) {
    std::vector<std::pair<std::string, Resultat>> essais;
    essais.emplace_back("recordset", Essaie([&] { Ajoute(base, "Clients", {{"Id", 100}, {"Nom", "bloqué"}}); }));
    essais.emplace_back("insert", Essaie([&] { base.Execute("INSERT INTO Clients (Id) VALUES (101)", dbFailOnError); }));
    essais.emplace_back("update", Essaie([&] { base.Execute("UPDATE Clients SET Nom = 'x'", dbFailOnError); }));
    essais.emplace_back("edit", Essaie([&] {
      auto rs = base.OpenRecordset("Clients");
      rs.Edit();
      rs["Nom"].SetValue("y");
      rs.Update();
    }));
    essais.emplace_back("structure", Essaie([&] { CreeTable(base, "Nouvelle", {{"N", dbLong}}); }));
    for (const auto& [quoi, r] : essais) EXPECT_TRUE(EstNumeroVerrou(r.Number)) << quoi << ": " << r.Number << " " << r.Description;
  }
};

TEST_F(Processus, VerrouDEcritureDUnAutreProcessusBloqueLesEcrituresPasLesLectures) {
  BaseClients(3).Close();
  for (const char* mode : {"immediat", "moteur"}) {
    SCOPED_TRACE(mode);
    auto base = Ouvre();
    {
      auto aide = Lance(mode);
      EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom"),
                (std::vector<std::string>{"client 1", "client 2", "client 3"}));
      EcrituresRefusees(base);
      EXPECT_ERREUR(err::ElementIntrouvable, base.TableDefs()["Nouvelle"]);
      aide->Libere();
      ASSERT_SANS_ERREUR(Ajoute(base, "Clients", {{"Id", 4}, {"Nom", "libre"}}));
      ASSERT_SANS_ERREUR(base.Execute("DELETE FROM Clients WHERE Id = 4", dbFailOnError));
    }
    EXPECT_EQ(Compte(base, "Clients"), 3);
    EXPECT_ERREUR(err::ElementIntrouvable, base.Properties()["TenuParAide"]);
  }
}

TEST_F(Processus, OuvertureExclusiveDUnAutreProcessusRefuseLAcces) {
  BaseClients(3).Close();
  {
    auto aide = Lance("moteur-exclusif");
    auto ouverture = Essaie([&] { Ouvre(); });
    EXPECT_TRUE(ouverture.Number == err::BaseEnUtilisation || ouverture.Number == err::FichierDejaUtilise)
        << ouverture.Number << " " << ouverture.Description;
    EXPECT_ERREUR(err::BaseEnUtilisation, DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("copie.bd")));
    EXPECT_FALSE(fs::exists(Chemin("copie.bd")));
    EXPECT_NE(Essaie([&] { DBEngine::RepairDatabase(Chemin("base.bd")); }).Number, 0);
    aide->Libere();
  }
  ASSERT_SANS_ERREUR(DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("copie.bd")));
  {
    auto copie = Ouvre("copie.bd");
    EXPECT_EQ(Compte(copie, "Clients"), 3);
  }

  // The other way round: what this process holds exclusively, the helper cannot open.
  auto exclusive = DBEngine::OpenDatabase(Chemin("base.bd"), true);
  ProcessusAide aide(CHEMIN_aide_tenue, {Chemin("base.bd"), "moteur"});
  std::string ligne = aide.PremiereLigne();
  EXPECT_TRUE(ligne.rfind("erreur 3356", 0) == 0 || ligne.rfind("erreur 3045", 0) == 0) << ligne;
  ASSERT_SANS_ERREUR(Ajoute(exclusive, "Clients", {{"Id", 4}, {"Nom", "seul"}}));
  EXPECT_EQ(Compte(exclusive, "Clients"), 4);
}

// A reader of another process keeps a commit from being written: the refused commit is undone as
// a whole, and nothing written afterwards disappears into a transaction nobody opened.
TEST_F(Processus, UneValidationRefuseeParUnLecteurNeLaissePasDeTransactionOuverte) {
  auto base = BaseClients(2);
  {
    auto aide = Lance("lecture");
    DBEngine::BeginTrans();
    Ajoute(base, "Clients", {{"Id", 3}, {"Nom", "annulé"}});
    auto validation = Essaie([] { DBEngine::CommitTrans(); });
    EXPECT_TRUE(EstNumeroVerrou(validation.Number)) << validation.Number << " " << validation.Description;
    ASSERT_SANS_ERREUR(DBEngine::Rollback());
    EXPECT_EQ(DBEngine::NiveauTransaction(), 0);
    // A change of the catalog is all or nothing on its own: its refused commit too.
    auto creation = Essaie([&] { CreeTable(base, "Refusee", {{"N", dbLong}}); });
    EXPECT_TRUE(EstNumeroVerrou(creation.Number)) << creation.Number << " " << creation.Description;
    aide->Libere();
  }
  ASSERT_SANS_ERREUR(Ajoute(base, "Clients", {{"Id", 4}, {"Nom", "écrit"}}));
  DBEngine::BeginTrans();
  Ajoute(base, "Clients", {{"Id", 5}, {"Nom", "validé"}});
  DBEngine::CommitTrans();
  ASSERT_SANS_ERREUR(CreeTable(base, "Acceptee", {{"N", dbLong}}));
  base.Close();

  auto relue = Ouvre();
  EXPECT_EQ(Colonne(relue, "SELECT Nom FROM Clients ORDER BY Id", "Nom"),
            (std::vector<std::string>{"client 1", "client 2", "écrit", "validé"}));
  EXPECT_ERREUR(err::ElementIntrouvable, relue.TableDefs()["Refusee"]);
  EXPECT_ERREUR(0, relue.TableDefs()["Acceptee"]);
}

// A connection left in a transaction the engine did not open would swallow every later write:
// such a write is refused instead.
TEST_F(Processus, UneEcritureDansUneTransactionInconnueDuMoteurEstRefusee) {
  auto base = BaseClients(1);
  ASSERT_EQ(sqlite3_exec(base.etat()->db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
  auto ecriture = Essaie([&] { Ajoute(base, "Clients", {{"Id", 2}, {"Nom", "perdu"}}); });
  EXPECT_EQ(ecriture.Number, err::OperationInvalide) << ecriture.Description;
  sqlite3_exec(base.etat()->db, "ROLLBACK", nullptr, nullptr, nullptr);
  ASSERT_SANS_ERREUR(Ajoute(base, "Clients", {{"Id", 2}, {"Nom", "écrit"}}));
  base.Close();
  auto relue = Ouvre();
  EXPECT_EQ(Compte(relue, "Clients"), 2);
}

class Transactions : public TestMoteur {};

TEST_F(Transactions, AnnulationEtValidationPortentSurToutesLesBasesOuvertes) {
  auto a = BaseClients(2, "a.bd");
  auto b = BaseClients(2, "b.bd");
  EXPECT_NE(Essaie([] { DBEngine::CommitTrans(); }).Number, 0);
  EXPECT_NE(Essaie([] { DBEngine::Rollback(); }).Number, 0);

  DBEngine::BeginTrans();
  EXPECT_EQ(DBEngine::NiveauTransaction(), 1);
  Ajoute(a, "Clients", {{"Id", 3}, {"Nom", "annulé a"}});
  b.Execute("DELETE FROM Clients WHERE Id = 1", dbFailOnError);
  CreeTable(b, "Temporaire", {{"N", dbLong}});
  EXPECT_ERREUR(err::ValeurTropLongue, Ajoute(a, "Clients", {{"Nom", std::string(30, 'x')}}));
  EXPECT_EQ(Compte(a, "Clients"), 3);
  DBEngine::Rollback();
  EXPECT_EQ(DBEngine::NiveauTransaction(), 0);
  EXPECT_EQ(Compte(a, "Clients"), 2);
  EXPECT_EQ(Compte(b, "Clients"), 2);
  EXPECT_ERREUR(err::ElementIntrouvable, b.TableDefs()["Temporaire"]);

  DBEngine::BeginTrans();
  Ajoute(a, "Clients", {{"Id", 3}, {"Nom", "gardé a"}});
  DBEngine::BeginTrans();
  b.Execute("DELETE FROM Clients", dbFailOnError);
  DBEngine::Rollback();
  b.Execute("UPDATE Clients SET Nom = 'gardé b' WHERE Id = 2", dbFailOnError);
  DBEngine::CommitTrans();
  a.Close();
  b.Close();
  auto a2 = Ouvre("a.bd");
  auto b2 = Ouvre("b.bd");
  EXPECT_EQ(Colonne(a2, "SELECT Nom FROM Clients ORDER BY Id", "Nom"), (std::vector<std::string>{"client 1", "client 2", "gardé a"}));
  EXPECT_EQ(Colonne(b2, "SELECT Nom FROM Clients ORDER BY Id", "Nom"), (std::vector<std::string>{"client 1", "gardé b"}));
}

TEST_F(Transactions, InsertionsVersDAutresBasesSuiventLaTransaction) {
  for (const char* nom : {"e1.bd", "e2.bd"}) {
    auto externe = Cree(nom);
    CreeTable(externe, "T", {{"Id", dbLong}, {"Nom", dbText, 20}});
  }
  auto base = BaseClients(2, "a.bd");
  auto vers = [&](const char* nom) {
    base.Execute("INSERT INTO T IN '" + Chemin(nom) + "' SELECT Id, Nom FROM Clients", dbFailOnError);
  };
  auto compte = [&](const char* nom) {
    auto externe = Ouvre(nom);
    return Compte(externe, "T");
  };
  DBEngine::BeginTrans();
  ASSERT_SANS_ERREUR(vers("e1.bd"));
  ASSERT_SANS_ERREUR(vers("e1.bd"));
  ASSERT_SANS_ERREUR(vers("e2.bd"));
  DBEngine::Rollback();
  EXPECT_EQ(compte("e1.bd"), 0);
  EXPECT_EQ(compte("e2.bd"), 0);

  DBEngine::BeginTrans();
  ASSERT_SANS_ERREUR(vers("e1.bd"));
  ASSERT_SANS_ERREUR(vers("e2.bd"));
  ASSERT_SANS_ERREUR(vers("e1.bd"));
  DBEngine::CommitTrans();
  ASSERT_SANS_ERREUR(vers("e2.bd"));
  EXPECT_EQ(compte("e1.bd"), 4);
  EXPECT_EQ(compte("e2.bd"), 4);
}

TEST_F(Transactions, FermetureEnCoursDeTransactionAbandonneSesEcritures) {
  auto a = BaseClients(1, "a.bd");
  DBEngine::BeginTrans();
  Ajoute(a, "Clients", {{"Id", 2}, {"Nom", "perdu"}});
  a.Close();
  DBEngine::CommitTrans();
  auto relue = Ouvre("a.bd");
  EXPECT_EQ(Compte(relue, "Clients"), 1);
}

}  // namespace

// The hook that keeps a window alive through the engine's long operations, and a stop thrown
// from it: the operation is abandoned with nothing half-made, the source as it was.
#include <fstream>
#include <sstream>
#include <thread>

#include "OutilsMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

struct StopDemande {};  // what a window's hook throws: no error of the engine

class Veille : public TestMoteur {
 protected:
  void TearDown() override {
    DefinitVeille({});
    TestMoteur::TearDown();
  }
  // Counts the calls; from the call numbered "arretA" on, throws as a stop would.
  void Compte(int arretA = 0) {
    DefinitVeille([this, arretA] {
      ++appels;
      if (arretA > 0 && appels >= arretA) throw StopDemande{};
    });
  }
  std::vector<std::string> ColonneDe(const std::string& nom, const std::string& requete, const std::string& champ) {
    auto base = Ouvre(nom);
    return Colonne(base, requete, champ);
  }
  int appels = 0;
};

TEST_F(Veille, LesOperationsLonguesLaissentVivreLaFenetre) {
  BaseClients(5000).Close();
  Cree("copie.bd").Close();
  Compte();
  DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("compacte.bd"));
  EXPECT_GT(appels, 0) << "compactage";

  appels = 0;
  auto base = Ouvre();
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  EXPECT_GT(appels, 0) << "contrôle d'intégrité";

  auto copie = Ouvre("copie.bd");
  CreeTable(copie, "Clients", {{"Id", dbLong}, {"Nom", dbText}});
  copie.Close();
  appels = 0;
  base.Execute("INSERT INTO Clients IN '" + Chemin("copie.bd") + "' SELECT Id, Nom FROM Clients");
  EXPECT_GT(appels, 0) << "copie groupée";
  EXPECT_EQ(ColonneDe("copie.bd", "SELECT Id FROM Clients", "Id").size(), 5000u);
}

TEST_F(Veille, UnArretAbandonneLeCompactageSansRienLaisser) {
  BaseClients(5000).Close();
  const std::string avant = LitFichier(Chemin("base.bd"));
  Compte(3);
  EXPECT_THROW(DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("compacte.bd")), StopDemande);
  EXPECT_FALSE(fs::exists(Chemin("compacte.bd")));
  EXPECT_FALSE(fs::exists(Chemin("compacte.bd-journal")));
  EXPECT_TRUE(LitFichier(Chemin("base.bd")) == avant) << "la source a changé";
}

TEST_F(Veille, UnArretAbandonneLaCopieGroupeeEnEntier) {
  auto base = BaseClients(5000);
  auto copie = Cree("copie.bd");
  CreeTable(copie, "Clients", {{"Id", dbLong}, {"Nom", dbText}});
  copie.Close();
  Compte(3);
  EXPECT_THROW(base.Execute("INSERT INTO Clients IN '" + Chemin("copie.bd") + "' SELECT Id, Nom FROM Clients"),
               StopDemande);
  DefinitVeille({});
  EXPECT_TRUE(ColonneDe("copie.bd", "SELECT Id FROM Clients", "Id").empty());
  // The connection is usable afterwards: the stop belonged to that statement alone.
  EXPECT_EQ(Colonne(base, "SELECT Id FROM Clients WHERE Id = 7", "Id").size(), 1u);
}

// Elsewhere a stop is no error of the engine: the statement finishes, and the one who asked
// meets the request at its own next check.
TEST_F(Veille, HorsDesOperationsLonguesUnArretNInterromptRien) {
  auto base = BaseClients(5000);
  Compte(1);
  std::vector<std::string> noms;
  EXPECT_NO_THROW(noms = Colonne(base, "SELECT Nom FROM Clients ORDER BY Nom DESC", "Nom"));
  EXPECT_EQ(noms.size(), 5000u);
  EXPECT_GT(appels, 0);
}

// The length check of a compaction reads on a thread of its own: the hook, a window's, is only
// ever called on the thread that set it.
TEST_F(Veille, LaVeilleNEstAppeleeQueSurSonFil) {
  BaseClients(5000).Close();
  const auto fil = std::this_thread::get_id();
  bool ailleurs = false;
  DefinitVeille([&] { ailleurs = ailleurs || std::this_thread::get_id() != fil; });
  DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("compacte.bd"));
  EXPECT_FALSE(ailleurs);
}

// A compaction run as delegated work: the hook lives on its own thread all along while the engine
// works on another, a stop asked there abandons the compaction as it would here, and without a
// hook the work simply runs on the caller's thread.
TEST_F(Veille, UnTravailDelegueLaisseVivreSonFilEtSArreteCommeIci) {
  BaseClients(5000).Close();
  const std::string avant = LitFichier(Chemin("base.bd"));
  const auto fil = std::this_thread::get_id();
  bool ailleurs = false;
  std::thread::id filDuTravail;
  DefinitVeille([&] {
    ++appels;
    ailleurs = ailleurs || std::this_thread::get_id() != fil;
  });
  TravailDelegue([&] {
    filDuTravail = std::this_thread::get_id();
    DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("compacte.bd"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  EXPECT_NE(filDuTravail, fil);
  EXPECT_GT(appels, 0);
  EXPECT_FALSE(ailleurs);
  EXPECT_EQ(ColonneDe("compacte.bd", "SELECT Id FROM Clients", "Id").size(), 5000u);

  int demandes = 0;
  DefinitArretDelegue([&] {
    if (++demandes >= 3) throw StopDemande{};
  });
  EXPECT_THROW(TravailDelegue([&] { DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("compacte2.bd")); }),
               StopDemande);
  DefinitArretDelegue({});
  EXPECT_FALSE(fs::exists(Chemin("compacte2.bd")));
  EXPECT_TRUE(LitFichier(Chemin("base.bd")) == avant) << "la source a changé";

  DefinitVeille({});
  TravailDelegue([&] { filDuTravail = std::this_thread::get_id(); });
  EXPECT_EQ(filDuTravail, fil);
}

}  // namespace

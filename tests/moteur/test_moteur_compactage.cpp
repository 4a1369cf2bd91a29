// Compacting and repairing: what the new file holds, and that a failure leaves nothing half-made.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>

#include "OutilsMoteur.h"
#include "moteur/Injection.h"
#include "commun/SqliteSansMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

bool EstNumeroEspaceDisque(int n) {
  for (int v : {61, 3026, 3183, 3469, 3472, 3559, 3569, 3575})
    if (n == v) return true;
  return false;
}

// Nothing at that path, not even SQLite's journal of it.
bool RienA(const std::string& chemin) {
  return !fs::exists(chemin) && !fs::exists(chemin + "-journal") && !fs::exists(chemin + "-wal");
}

class Compactage : public TestMoteur {
 protected:
  // Clients with a key, a relation to Commandes and properties: everything a copy must carry.
  void BaseComplete(int lignes) {
    auto base = BaseClients(lignes);
    auto clients = base.TableDefs()["Clients"];
    AjouteIndex(clients, "Cle", "Id", true, true);
    clients.Fields()["Nom"].Properties().Append(clients.CreateProperty("NomClair", dbText, "Nom du client"));
    CreeTable(base, "Commandes", {{"ClientId", dbLong}});
    base.Execute("INSERT INTO Commandes VALUES (1)", dbFailOnError);
    auto rel = base.CreateRelation("ClientsCommandes", "Clients", "Commandes");
    auto f = rel.CreateField("Id");
    f.SetForeignName("ClientId");
    rel.Fields().Append(f);
    base.Relations().Append(rel);
  }

  void VerifieComplete(const std::string& nom, int lignes) {
    auto base = Ouvre(nom);
    EXPECT_TRUE(base.VerifieIntegrite().empty());
    EXPECT_EQ(Compte(base, "Clients"), lignes);
    EXPECT_EQ(base.TableDefs()["Clients"].Fields()["Nom"].Properties()["NomClair"].Value().EnTexte(), "Nom du client");
    EXPECT_ERREUR(err::Doublon, Ajoute(base, "Clients", {{"Id", 1}, {"Nom", "x"}}));
    EXPECT_ERREUR(err::EnregistrementsLies, base.Execute("DELETE FROM Clients WHERE Id = 1", dbFailOnError));
    EXPECT_ERREUR(err::PasDEnregistrementLie, base.Execute("INSERT INTO Commandes VALUES (0)", dbFailOnError));
  }
};

TEST_F(Compactage, CopieCompleteEtVersionDemandee) {
  BaseComplete(20);
  DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("v3.bd"), dbLangGeneral, dbVersion30 | dbDecrypt);
  DBEngine::CompactDatabase(Chemin("v3.bd"), Chemin("v3bis.bd"));
  DBEngine::CompactDatabase(Chemin("v3.bd"), Chemin("v4.bd"), dbLangGeneral, dbVersion40);
  EXPECT_EQ(Ouvre("v3.bd").Version(), "3.0");
  EXPECT_EQ(Ouvre("v3bis.bd").Version(), "3.0");
  EXPECT_EQ(Ouvre("v4.bd").Version(), "4.0");
  EXPECT_EQ(Ouvre("base.bd").Version(), "4.0");
  VerifieComplete("v4.bd", 20);

  EXPECT_ERREUR(err::DestinationExiste, DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("v4.bd")));
  EXPECT_ERREUR(err::DestinationExiste, DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("base.bd")));
  EXPECT_ERREUR(err::CheminInvalide, DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("absent/copie.bd")));
  EXPECT_ERREUR(err::FichierIntrouvable, DBEngine::CompactDatabase(Chemin("absente.bd"), Chemin("copie.bd")));
  EXPECT_TRUE(RienA(Chemin("copie.bd")));
  VerifieComplete("v4.bd", 20);
}

TEST_F(Compactage, EspaceLibreEstRendu) {
  {
    auto base = Cree();
    CreeTable(base, "Gros", {{"Id", dbLong}, {"Texte", dbMemo}});
    base.Execute("INSERT INTO Gros VALUES (1, '" + std::string(2000, 'g') + "')", dbFailOnError);
    for (int i = 0; i < 9; ++i) base.Execute("INSERT INTO Gros SELECT Id + " + std::to_string(1 << i) + ", Texte FROM Gros", dbFailOnError);
    ASSERT_EQ(Compte(base, "Gros"), 512);
    base.Execute("DELETE FROM Gros WHERE Id > 10", dbFailOnError);
  }
  auto avant = TailleFichier(Chemin("base.bd"));
  DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("compacte.bd"));
  auto apres = TailleFichier(Chemin("compacte.bd"));
  EXPECT_GT(avant, 1000 * 1000);
  EXPECT_LT(apres * 4, avant) << avant << " -> " << apres;
  auto base = Ouvre("compacte.bd");
  EXPECT_EQ(Compte(base, "Gros"), 10);
  EXPECT_EQ(Colonne(base, "SELECT Texte FROM Gros WHERE Id = 10", "Texte"), (std::vector<std::string>{std::string(2000, 'g')}));
}

// The length check reads the source on a connection of its own, beside the copy: whatever it finds,
// and wherever in the file, the source must be free again afterwards.
TEST_F(Compactage, ControleDesLongueursLoinDansLaSourcePuisSourceLibre) {
  {
    auto base = Cree("grand.bd");
    CreeTable(base, "A", {{"Texte", dbText, 200}});
    CreeTable(base, "B", {{"Court", dbText, 3}});
    DBEngine::BeginTrans();
    for (int i = 0; i < 3000; ++i) Ajoute(base, "A", {{"Texte", std::string(150, 'a')}});
    for (int i = 0; i < 3000; ++i) Ajoute(base, "B", {{"Court", "abc"}});
    DBEngine::CommitTrans();
  }
  DBEngine::CompactDatabase(Chemin("grand.bd"), Chemin("sain.bd"));
  {
    auto sain = Ouvre("sain.bd");
    EXPECT_EQ(Compte(sain, "B"), 3000);
  }
  {
    auto base = DBEngine::OpenDatabase(Chemin("grand.bd"), true);
    EcritSansControle(base, "B", {{"Court", "bien trop long"}});
  }
  EXPECT_ERREUR(err::ValeurTropLongue, DBEngine::CompactDatabase(Chemin("grand.bd"), Chemin("copie.bd")));
  EXPECT_TRUE(RienA(Chemin("copie.bd")));
  auto base = DBEngine::OpenDatabase(Chemin("grand.bd"), true);
  base.Execute("DELETE FROM B WHERE Court = 'bien trop long'", dbFailOnError);
  EXPECT_EQ(Compte(base, "B"), 3000);
}

TEST_F(Compactage, SourceQueLaCopieNePeutPasReproduireNeLaissePasDeDestination) {
  {
    auto base = Cree("long.bd");
    CreeTable(base, "T", {{"Court", dbText, 3}});
    EcritSansControle(base, "T", {{"Court", "bien trop long"}});
  }
  EXPECT_ERREUR(err::ValeurTropLongue, DBEngine::CompactDatabase(Chemin("long.bd"), Chemin("copie.bd")));
  EXPECT_TRUE(RienA(Chemin("copie.bd")));

  {
    auto base = Cree("sansversion.bd");
    base.Properties().Delete("Version");
  }
  EXPECT_ERREUR(err::VersionIndeterminee, DBEngine::CompactDatabase(Chemin("sansversion.bd"), Chemin("copie.bd")));
  {
    auto base = Cree("versionx.bd");
    base.Properties()["Version"].SetValue("x");
  }
  EXPECT_ERREUR(err::VersionIndeterminee, DBEngine::CompactDatabase(Chemin("versionx.bd"), Chemin("copie.bd")));
  EXPECT_TRUE(RienA(Chemin("copie.bd")));
}

TEST_F(Compactage, DisquePleinNeLaissePasDeCopiePartielle) {
  BaseComplete(300);
  const auto taille = TailleFichier(Chemin("base.bd"));
  int echecs = 0, echecsApresCopie = 0;
  // Past the size of the file, the copy is whole and only the change of version can still fail.
  for (long long limite : {0LL, 512LL, 4096LL, taille / 2, taille - 4096, taille, taille + 4096, taille + 8192, taille + 65536}) {
    SCOPED_TRACE(limite);
    const std::string destination = Chemin("copie" + std::to_string(limite) + ".bd");
    Resultat r;
    {
      injection::LimiteTemporaire disque(limite);
      r = Essaie([&] { DBEngine::CompactDatabase(Chemin("base.bd"), destination, dbLangGeneral, dbVersion30); });
    }
    if (r.Number != 0) {
      ++echecs;
      echecsApresCopie += limite > taille;
      EXPECT_TRUE(EstNumeroEspaceDisque(r.Number)) << r.Number << " " << r.Description;
      EXPECT_TRUE(RienA(destination));
    } else {
      VerifieComplete(fs::path(destination).filename(), 300);
      EXPECT_EQ(Ouvre(fs::path(destination).filename()).Version(), "3.0");
    }
  }
  EXPECT_GE(echecs, 6);
  EXPECT_GE(echecsApresCopie, 1);
  EXPECT_LT(echecs, 9);
  // The source came through every attempt whole.
  VerifieComplete("base.bd", 300);
}

// A full disk makes SQLite give up the transaction on its own. What the caller does next (read a
// table the transaction had created, which is gone with it) fails too, but the commit must still
// name the full disk, the cause its caller acts on, not the error that followed.
TEST_F(Compactage, TransactionPerdueSurDisquePleinNommeLeDisque) {
  auto base = BaseClients(10);
  Resultat ecriture;
  {
    injection::LimiteTemporaire disque(64 * 1024);
    DBEngine::BeginTrans();
    CreeTable(base, "Temp_Clients", {{"Id", dbLong}, {"Nom", dbText, 255}});
    ecriture = Essaie([&] {
      for (int i = 0; i < 10000; ++i)
        base.Execute("INSERT INTO [Temp_Clients] VALUES (" + std::to_string(i) + ", '" + std::string(250, 'x') + "')",
                     dbFailOnError);
    });
  }
  EXPECT_TRUE(EstNumeroEspaceDisque(ecriture.Number)) << ecriture.Number << " " << ecriture.Description;
  const Resultat lecture = Essaie([&] { base.OpenRecordset("SELECT count(*) FROM [Temp_Clients]").Close(); });
  EXPECT_NE(lecture.Number, 0);
  const Resultat validation = Essaie([] { DBEngine::CommitTrans(); });
  EXPECT_TRUE(EstNumeroEspaceDisque(validation.Number)) << validation.Number << " " << validation.Description;
  base.Close();
  EXPECT_EQ(Compte(base = Ouvre(), "Clients"), 10);
}

class Reparation : public TestMoteur {
 protected:
  static constexpr int kLignes = 3000;
  static std::string Texte(long long id) { return "MARQUE-" + std::to_string(id) + "-" + std::string(150, 'r'); }

  // kLignes records, then the second half of the file cut off.
  void BaseTronquee() {
    {
      auto base = Cree();
      CreeTable(base, "Grande", {{"Id", dbLong}, {"Texte", dbMemo}});
      DBEngine::BeginTrans();
      for (int i = 1; i <= kLignes; ++i)
        base.Execute("INSERT INTO Grande VALUES (" + std::to_string(i) + ", '" + Texte(i) + "')", dbFailOnError);
      DBEngine::CommitTrans();
    }
    fs::resize_file(Chemin("base.bd"), static_cast<std::uintmax_t>(TailleFichier(Chemin("base.bd")) / 2));
  }

  void BaseComplete() {
    auto base = BaseClients(5);
    base.TableDefs()["Clients"].Properties().Append(base.CreateProperty("Priorite", dbInteger, 4));
  }
};

TEST_F(Reparation, FichierSainResteSainAvecSesDonneesEtSesRegles) {
  BaseComplete();
  // The rules are kept as triggers: a file that lost them is sound for SQLite but not for us.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Chemin("base.bd").c_str(), &db), SQLITE_OK);
  std::vector<std::string> declencheurs;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'trigger'", -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) declencheurs.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  for (const auto& nom : declencheurs) sqlite3_exec(db, ("DROP TRIGGER \"" + nom + "\"").c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_FALSE(declencheurs.empty());
  DBEngine::RepairDatabase(Chemin("base.bd"));
  auto base = Ouvre();
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom"),
            (std::vector<std::string>{"client 1", "client 2", "client 3", "client 4", "client 5"}));
  EXPECT_EQ(base.TableDefs()["Clients"].Properties()["Priorite"].Value().EnEntier(), 4);
  EXPECT_ERREUR(err::ValeurTropLongue, Ajoute(base, "Clients", {{"Nom", std::string(21, 'x')}}));
}

TEST_F(Reparation, PagesAbimeesSontEcarteesEtLeResteSauve) {
  {
    auto base = Cree();
    auto td = base.CreateTableDef("Grande");
    auto id = td.CreateField("Id", dbLong);
    id.SetAttributes(dbAutoIncrField);
    td.Fields().Append(id);
    td.Fields().Append(td.CreateField("Texte", dbMemo));
    base.TableDefs().Append(td);
    td.Properties().Append(td.CreateProperty("Priorite", dbInteger, 4));
    DBEngine::BeginTrans();
    for (int i = 1; i <= kLignes; ++i) base.Execute("INSERT INTO Grande (Texte) VALUES ('" + Texte(i) + "')", dbFailOnError);
    DBEngine::CommitTrans();
  }
  // Garbage over three leaf pages of the big table, away from the header and the catalog.
  int fd = ::open(Chemin("base.bd").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  unsigned char taillePage[2];
  ASSERT_EQ(::pread(fd, taillePage, 2, 16), 2);
  const long long page = taillePage[0] << 8 | taillePage[1], pages = TailleFichier(Chemin("base.bd")) / page;
  int abimees = 0;
  std::string contenu(page, '\0');
  for (long long p = pages / 2; p < pages && abimees < 3; p += 5) {
    ASSERT_EQ(::pread(fd, contenu.data(), page, p * page), page);
    if (contenu[0] != 0x0D || contenu.find("MARQUE-") == std::string::npos) continue;
    std::string dechets(page, '\0');
    for (long long i = 0; i < page; ++i) dechets[i] = static_cast<char>((i * 131 + p) & 0xFF);
    ASSERT_EQ(::pwrite(fd, dechets.data(), page, p * page), page);
    ++abimees;
  }
  ::close(fd);
  ASSERT_EQ(abimees, 3);
  EXPECT_FALSE(Ouvre().VerifieIntegrite().empty());

  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd")));
  auto base = Ouvre();
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  auto t = base.TableDefs()["Grande"];
  EXPECT_EQ(t.Properties()["Priorite"].Value().EnEntier(), 4);
  EXPECT_EQ(t.Fields()["Id"].Attributes() & dbAutoIncrField, dbAutoIncrField);
  long long lignes = t.RecordCount();
  EXPECT_LT(lignes, kLignes);
  EXPECT_GT(lignes, kLignes * 9 / 10);
  auto rs = base.OpenRecordset("Grande");
  long long fausses = 0;
  for (; !rs.Eof(); rs.MoveNext())
    if (rs["Texte"].Value().EnTexte() != Texte(rs["Id"].Value().EnEntier())) ++fausses;
  EXPECT_EQ(fausses, 0);
  // The salvaged table takes new records again, numbered after the old ones.
  Ajoute(base, "Grande", {{"Texte", "après"}});
  EXPECT_EQ(Colonne(base, "SELECT Id FROM Grande WHERE Texte = 'après'", "Id"), (std::vector<std::string>{std::to_string(kLignes + 1)}));
}

TEST_F(Reparation, BaseTronqueeGardeSesPremieresLignes) {
  BaseTronquee();
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd")));
  auto base = Ouvre();
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  long long lignes = Compte(base, "Grande");
  EXPECT_GT(lignes, kLignes / 4);
  EXPECT_LT(lignes, kLignes);
  EXPECT_EQ(Colonne(base, "SELECT Texte FROM Grande WHERE Id = 1", "Texte"), (std::vector<std::string>{Texte(1)}));
}

// A repair that lost records keeps the damaged file beside the repaired one, as it was, for
// another tool to try further; a second one takes a name of its own. A sound file keeps nothing.
TEST_F(Reparation, LaBaseEndommageeEstGardeeQuandDesEnregistrementsSontPerdus) {
  BaseTronquee();
  const std::string endommagee = LitFichier(Chemin("base.bd"));
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats, DBEngine::GardeEndommagee::Oui));
  ASSERT_FALSE(constats.empty());
  EXPECT_EQ(constats.back(), "#ALERT# La base endommagée est gardée telle quelle sous '" +
                                 Chemin("base.endommagee.bd") +
                                 "' : d'autres outils pourront peut-être en tirer davantage.");
  EXPECT_TRUE(LitFichier(Chemin("base.endommagee.bd")) == endommagee);
  fs::remove(Chemin("base.bd"));
  BaseTronquee();
  constats.clear();
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats, DBEngine::GardeEndommagee::Oui));
  EXPECT_TRUE(fs::exists(Chemin("base.endommagee-2.bd"))) << constats.back();
  fs::remove(Chemin("base.endommagee.bd"));
  fs::remove(Chemin("base.endommagee-2.bd"));
  fs::remove(Chemin("base.bd"));
  BaseComplete();
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats = {}, DBEngine::GardeEndommagee::Oui));
  EXPECT_TRUE(constats.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(Dossier()), fs::directory_iterator()), 1);
}

// An index page overwritten loses no record: the repair rebuilds the file and says so in one line.
TEST_F(Reparation, UnIndexAbimeEstReconstruitSansPerteEtLeJournalLeDit) {
  {
    auto base = BaseClients(300);
    auto td = base.TableDefs()["Clients"];
    AjouteIndex(td, "ParNom", "Nom", false);
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Chemin("base.bd").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(
      db, "SELECT rootpage FROM sqlite_master WHERE type = 'index' AND tbl_name = 'Clients' AND sql IS NOT NULL", -1,
      &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  const long long page = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::vector<std::string> avant;
  {
    auto base = Ouvre();
    avant = Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom");
  }
  {
    std::fstream f(Chemin("base.bd"), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp((page - 1) * 4096);
    f << std::string(4096, '\x5A');
  }
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats, DBEngine::GardeEndommagee::Oui));
  EXPECT_EQ(constats, std::vector<std::string>{"#ALERT# La base était endommagée : elle a été reconstruite, sans perte "
                                               "d'enregistrement ni de valeur."});
  auto base = Ouvre();
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom"), avant);
  EXPECT_EQ(std::distance(fs::directory_iterator(Dossier()), fs::directory_iterator()), 1);
}

// What a killed repair left beside the file goes at the next repair that needs a new file; not a
// file still held by its writer, nor one written a moment ago, nor a name of another length.
TEST_F(Reparation, RestesDUneReparationInterrompueSupprimes) {
  auto vieux = [](const std::string& chemin) {
    fs::last_write_time(chemin, fs::file_time_type::clock::now() - std::chrono::hours(1));
  };
  auto baseSqlite = [](const std::string& chemin) {
    sqlite3* db = nullptr;
    sqlite3_open(chemin.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE T (x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };
  const std::string abandonnee = Chemin(".reparationAbC123"), tenue = Chemin(".reparationTenu01"),
                    recente = Chemin(".reparationRecent");
  for (const auto& nom : {abandonnee, tenue, recente}) baseSqlite(nom);
  EcritFichier(abandonnee + "-journal", "journal");
  for (const auto& nom : {".reparationAbC12", ".reparationAbC1234"}) {
    EcritFichier(Chemin(nom), "autre");
    vieux(Chemin(nom));
  }
  ProcessusAide aide(CHEMIN_aide_tenue, {tenue, "immediat"});
  ASSERT_EQ(aide.PremiereLigne(), "pret");
  vieux(abandonnee);
  vieux(tenue);
  BaseTronquee();
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd")));

  EXPECT_FALSE(fs::exists(abandonnee));
  EXPECT_FALSE(fs::exists(abandonnee + "-journal"));
  EXPECT_TRUE(fs::exists(tenue));
  EXPECT_TRUE(fs::exists(recente));
  EXPECT_TRUE(fs::exists(Chemin(".reparationAbC12")));
  EXPECT_TRUE(fs::exists(Chemin(".reparationAbC1234")));
}

// A repair killed in its middle: the next one removes its files, held by no one, at once and
// says so, rather than waiting for them to grow old.
TEST_F(Reparation, RestesDUneReparationTueeSupprimesALaSuivante) {
  auto restes = [&] {
    std::vector<std::string> noms;
    for (const auto& e : fs::directory_iterator(Dossier()))
      if (e.path().filename().string().starts_with(".reparation")) noms.push_back(e.path().filename().string());
    return noms;
  };
  bool tuee = false;
  for (int essai = 0; essai < 5 && !tuee; ++essai) {
    BaseTronquee();
    const pid_t pid = ::fork();
    if (pid == 0) {
      Essaie([&] { DBEngine::RepairDatabase(Chemin("base.bd")); });
      ::_exit(0);
    }
    // Killed once its new file is being written.
    int statut = 0;
    while (::waitpid(pid, &statut, WNOHANG) == 0) {
      auto noms = restes();
      if (std::any_of(noms.begin(), noms.end(), [](const std::string& n) { return n.ends_with("-journal"); })) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &statut, 0);
        tuee = true;
        break;
      }
      ::usleep(200);
    }
    if (!tuee) fs::remove(Chemin("base.bd"));
  }
  if (!tuee) GTEST_SKIP() << "la réparation s'est terminée avant d'avoir pu être arrêtée";
  ASSERT_FALSE(restes().empty());
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  EXPECT_TRUE(restes().empty()) << ::testing::PrintToString(restes());
  EXPECT_TRUE(std::any_of(constats.begin(), constats.end(), [](const std::string& l) {
    return l.find("réparation interrompue") != std::string::npos;
  })) << ::testing::PrintToString(constats);
}

TEST_F(Reparation, FichierIrrecuperableDonneUneErreurEtResteTelQuel) {
  {
    auto base = Cree();
    CreeTable(base, "T", {{"N", dbLong}});
  }
  // The header survives; the first page's tree and everything after it do not.
  const auto taille = TailleFichier(Chemin("base.bd"));
  int fd = ::open(Chemin("base.bd").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  std::string zeros(static_cast<std::size_t>(taille - 100), '\0');
  ASSERT_EQ(::pwrite(fd, zeros.data(), zeros.size(), 100), static_cast<ssize_t>(zeros.size()));
  ::close(fd);
  auto r = Essaie([&] { DBEngine::RepairDatabase(Chemin("base.bd")); });
  EXPECT_NE(r.Number, 0);
  EXPECT_FALSE(r.Description.empty());
  EXPECT_EQ(TailleFichier(Chemin("base.bd")), taille);
  std::size_t restes = 0;
  for (const auto& e : fs::directory_iterator(Dossier())) restes += e.path().filename() != "base.bd";
  EXPECT_EQ(restes, 0u);
}

}  // namespace

// A text that is no UTF-8 cannot be compacted any more than an
// over-long text: the copy would carry bytes that no later reading gives back. The record check
// that this error calls for then finds the value unreadable.
TEST_F(Compactage, UnTexteQuiNEstPasDeLUtf8NeSeCompactePas) {
  {
    auto base = Cree();
    CreeTable(base, "T", {{"Id", dbLong}, {"Note", dbMemo}});
    Ajoute(base, "T", {{"Id", 1}, {"Note", "été"}});
  }
  ASSERT_EQ(utireorg::tests::EcritSansLeMoteur(Chemin("base.bd"), "UPDATE T SET Note = CAST(x'6e6fff0afe37' AS TEXT)"),
            SQLITE_OK);
  EXPECT_ERREUR(err::ValeurTropLongue, DBEngine::CompactDatabase(Chemin("base.bd"), Chemin("copie.bd")));
  EXPECT_TRUE(RienA(Chemin("copie.bd")));
}

// Opening files that are not sound databases of this engine, and the catalog of a fresh one.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <functional>
#include <random>

#include "OutilsMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

int NumeroOuverture(const std::string& chemin) {
  return Essaie([&] { DBEngine::OpenDatabase(chemin); }).Number;
}

// Runs an opening as an ordinary user: as root every file is readable, so the refusal can only
// be seen once the rights are dropped. Returns -1 when they cannot be.
int NumeroOuvertureSansPrivilege(const std::string& chemin) {
  if (::geteuid() != 0) return NumeroOuverture(chemin);
  int tube[2];
  if (::pipe(tube) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(tube[0]);
    int numero = -1;
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) numero = NumeroOuverture(chemin);
    (void)!::write(tube[1], &numero, sizeof numero);
    ::_exit(0);
  }
  ::close(tube[1]);
  int numero = -1;
  if (pid < 0 || ::read(tube[0], &numero, sizeof numero) != sizeof numero) numero = -1;
  ::close(tube[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  return numero;
}

class Fichiers : public TestMoteur {};

TEST_F(Fichiers, CheminManquantDonneUnNumeroSelonCeQuiManque) {
  EXPECT_EQ(NumeroOuverture(Chemin("absente.bd")), err::FichierIntrouvable);
  EXPECT_EQ(NumeroOuverture(Chemin("pas/de/dossier.bd")), err::CheminInvalide);
  EXPECT_EQ(NumeroOuverture(""), err::CheminInvalide);
  // Creating where the folder is missing, or over an existing file, is refused the same way.
  EXPECT_ERREUR(err::CheminInvalide, DBEngine::CreateDatabase(Chemin("pas/de/dossier.bd")));
  Cree("la.bd").Close();
  EXPECT_ERREUR(err::DestinationExiste, DBEngine::CreateDatabase(Chemin("la.bd")));
  EXPECT_ERREUR(err::OperationInvalide, DBEngine::CreateDatabase(Chemin("v.bd"), "5.0"));
  EXPECT_FALSE(fs::exists(Chemin("v.bd")));
}

TEST_F(Fichiers, FichierIlliblePourLUtilisateurEstRefuse) {
  Cree("ferme.bd").Close();
  ::chmod(Dossier().c_str(), 0755);
  ::chmod(Chemin("ferme.bd").c_str(), 0);
  int numero = NumeroOuvertureSansPrivilege(Chemin("ferme.bd"));
  if (numero == -1) GTEST_SKIP() << "impossible de quitter les droits de root";
  EXPECT_EQ(numero, err::AccesRefuse);

  // Through a folder that forbids going in.
  fs::create_directory(Chemin("interdit"));
  Cree("interdit/base.bd").Close();
  ::chmod(Chemin("interdit").c_str(), 0);
  EXPECT_EQ(NumeroOuvertureSansPrivilege(Chemin("interdit/base.bd")), err::AccesRefuse);
}

// The number and description of what `action` throws, run as an ordinary user; -1 when the
// rights cannot be dropped.
std::pair<int, std::string> ErreurSansPrivilege(const std::function<void()>& action) {
  if (::geteuid() != 0) {
    auto r = Essaie(action);
    return {r.Number, r.Description};
  }
  int tube[2];
  if (::pipe(tube) != 0) return {-1, {}};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(tube[0]);
    std::string sortie = "-1";
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
      auto r = Essaie(action);
      sortie = std::to_string(r.Number) + "\n" + r.Description;
    }
    (void)!::write(tube[1], sortie.data(), sortie.size());
    ::_exit(0);
  }
  ::close(tube[1]);
  std::string lu;
  char tampon[512];
  for (ssize_t n; pid > 0 && (n = ::read(tube[0], tampon, sizeof tampon)) > 0;) lu.append(tampon, static_cast<std::size_t>(n));
  ::close(tube[0]);
  if (pid > 0) ::waitpid(pid, nullptr, 0);
  auto fin = lu.find('\n');
  if (fin == std::string::npos) return {-1, {}};
  return {std::stoi(lu.substr(0, fin)), lu.substr(fin + 1)};
}

// A folder that refuses writing: the error is an access refused, and it names the file.
TEST_F(Fichiers, UnAccesRefuseNommeSonFichier) {
  BaseClients(3).Close();
  fs::create_directory(Chemin("lecture"));
  BaseClients(3, "lecture/base.bd").Close();
  ::chmod(Chemin("lecture/base.bd").c_str(), 0666);
  ::chmod(Chemin("lecture").c_str(), 0555);
  ::chmod(Dossier().c_str(), 0755);
  ::chmod(Chemin("base.bd").c_str(), 0644);
  const std::string copie = Chemin("lecture/copie.bd");
  auto [numero, description] = ErreurSansPrivilege([&] { DBEngine::CompactDatabase(Chemin("base.bd"), copie); });
  if (numero == -1) GTEST_SKIP() << "impossible de quitter les droits de root";
  EXPECT_EQ(numero, err::AccesRefuse);
  EXPECT_NE(description.find(copie), std::string::npos) << description;
  // Writing needs a journal beside the file: the folder is named through its file.
  auto [n2, d2] = ErreurSansPrivilege([&] {
    auto base = DBEngine::OpenDatabase(Chemin("lecture/base.bd"));
    base.Execute("INSERT INTO Clients VALUES (9, 'x')", dbFailOnError);
  });
  EXPECT_EQ(n2, err::AccesRefuse);
  EXPECT_NE(d2.find(Chemin("lecture/base.bd")), std::string::npos) << d2;
}

TEST_F(Fichiers, CeQuiNEstPasUneBaseDonneUneErreurNumeroteeSansPlanter) {
  fs::create_directory(Chemin("dossier.bd"));
  EXPECT_EQ(NumeroOuverture(Chemin("dossier.bd")), err::AccesRefuse);

  EcritFichier(Chemin("vide.bd"), "");
  EXPECT_EQ(NumeroOuverture(Chemin("vide.bd")), err::FormatNonReconnu);

  std::mt19937 alea(42);
  std::string octets(64 * 1024, '\0');
  for (char& c : octets) c = static_cast<char>(alea());
  EcritFichier(Chemin("hasard.bd"), octets);
  EXPECT_EQ(NumeroOuverture(Chemin("hasard.bd")), err::FormatNonReconnu);

  // A file whose header opens like "SQLite format 3" but holds nothing else.
  EcritFichier(Chemin("entete.bd"), std::string("SQLite format 3\0", 16) + std::string(200, '\xff'));
  int numero = NumeroOuverture(Chemin("entete.bd"));
  EXPECT_TRUE(numero == err::FormatNonReconnu || numero == err::BaseEndommagee) << numero;

  // None of them can be compacted or repaired either, and none is replaced by something else.
  for (const char* nom : {"vide.bd", "hasard.bd", "entete.bd"}) {
    auto avant = TailleFichier(Chemin(nom));
    EXPECT_NE(Essaie([&] { DBEngine::CompactDatabase(Chemin(nom), Chemin("copie.bd")); }).Number, 0) << nom;
    EXPECT_FALSE(fs::exists(Chemin("copie.bd"))) << nom;
    EXPECT_NE(Essaie([&] { DBEngine::RepairDatabase(Chemin(nom)); }).Number, 0) << nom;
    EXPECT_EQ(TailleFichier(Chemin(nom)), avant) << nom;
  }
}

// A file whose first page another program overwrote, its other pages still those of a database:
// the header is said damaged (3049), not the format unknown; a file of random bytes stays unknown.
TEST_F(Fichiers, UnEnteteEcraseEstDitEndommage) {
  {
    auto base = Cree("entete.bd");
    CreeTable(base, "Lignes", {{"Id", dbLong}, {"Texte", dbMemo}});
    for (int i = 0; i < 40; ++i)
      base.Execute("INSERT INTO Lignes VALUES (" + std::to_string(i) + ", '" + std::string(300, 'a') + "')",
                   dbFailOnError);
  }
  std::mt19937 alea(7);
  std::string hasard(100, '\0');
  for (char& c : hasard) c = static_cast<char>(alea());
  {
    std::fstream f(Chemin("entete.bd"), std::ios::in | std::ios::out | std::ios::binary);
    f.write(hasard.data(), static_cast<std::streamsize>(hasard.size()));
  }
  auto r = Essaie([&] { DBEngine::OpenDatabase(Chemin("entete.bd")); });
  EXPECT_EQ(r.Number, err::BaseEndommagee);  // damaged, for the repair to mend
  EXPECT_NE(r.Description.find("en-tête"), std::string::npos) << r.Description;
  EXPECT_NE(r.Description.find(Chemin("entete.bd")), std::string::npos) << r.Description;
  hasard.resize(64 * 1024);
  for (char& c : hasard) c = static_cast<char>(alea());
  EcritFichier(Chemin("hasard.bd"), hasard);
  EXPECT_NE(Essaie([&] { DBEngine::OpenDatabase(Chemin("hasard.bd")); }).Description.find("non reconnu"),
            std::string::npos);
}

// A Jet signature with a version byte no Jet file has: damaged, not of a later format.
TEST_F(Fichiers, UnFichierJetALaVersionInconnueEstDitEndommage) {
  std::string octets(4096, '\0');
  octets.replace(0, 19, std::string("\0\x01\0\0Standard Jet DB\0", 19));
  octets[0x14] = 5;
  EcritFichier(Chemin("jet.mdb"), octets);
  EXPECT_EQ(FormatDuFichier(Chemin("jet.mdb")), FormatFichier::Inconnu);
  auto r = Essaie([&] { DBEngine::OpenDatabase(Chemin("jet.mdb")); });
  EXPECT_EQ(r.Number, err::BaseEndommagee) << r.Description;
  EXPECT_NE(r.Description.find("version 5"), std::string::npos) << r.Description;
  EXPECT_EQ(r.Description.find("ultérieur"), std::string::npos) << r.Description;
}

// The cause the system gives is the one told: a name too long, a file that is no regular file.
TEST_F(Fichiers, UnNomTropLongOuUnFichierSpecialDitSaCause) {
  const std::string longue = Chemin(std::string(300, 'a') + ".bd");
  for (const auto& action : std::vector<std::function<void()>>{[&] { DBEngine::OpenDatabase(longue); },
                                                               [&] { DBEngine::CreateDatabase(longue); }}) {
    auto r = Essaie(action);
    EXPECT_EQ(r.Number, err::CheminInvalide) << r.Description;
    EXPECT_NE(r.Description.find("nom de fichier trop long"), std::string::npos) << r.Description;
  }
  ASSERT_EQ(::mkfifo(Chemin("tube.bd").c_str(), 0666), 0);
  auto r = Essaie([&] { DBEngine::OpenDatabase(Chemin("tube.bd")); });
  EXPECT_NE(r.Number, 0);
  EXPECT_NE(r.Description.find("pas un fichier ordinaire"), std::string::npos) << r.Description;
  EXPECT_EQ(r.Description.find("non reconnu"), std::string::npos) << r.Description;
}

TEST_F(Fichiers, EnteteDUnFormatEtrangerEstReconnuEtNommeDansLaDescription) {
  const std::string entete = std::string("\x00\x01\x00\x00", 4) + "Standard Jet DB";
  ASSERT_EQ(entete.size(), 19u);
  EcritFichier(Chemin("court.bd"), entete);
  EcritFichier(Chemin("long.bd"), entete + std::string(4096 - entete.size(), '\0'));
  // Jet files are read: a Jet header on nothing is a damaged Jet file.
  for (const char* nom : {"court.bd", "long.bd"}) {
    auto r = Essaie([&] { DBEngine::OpenDatabase(Chemin(nom)); });
    EXPECT_EQ(r.Number, err::BaseEndommagee) << nom;
    EXPECT_NE(r.Description.find("Jet"), std::string::npos) << r.Description;
  }
}

TEST_F(Fichiers, BaseTronqueeEstDiteEndommagee) {
  {
    auto base = Cree("tronquee.bd");
    CreeTable(base, "Lignes", {{"Id", dbLong}, {"Texte", dbMemo}});
    auto rs = base.OpenRecordset("Lignes");
    DBEngine::BeginTrans();
    for (int i = 0; i < 400; ++i) {
      rs.AddNew();
      rs["Id"].SetValue(i);
      rs["Texte"].SetValue(std::string(300, static_cast<char>('a' + i % 26)));
      rs.Update();
    }
    DBEngine::CommitTrans();
  }
  auto taille = TailleFichier(Chemin("tronquee.bd"));
  ASSERT_GT(taille, 100 * 1024);
  fs::resize_file(Chemin("tronquee.bd"), static_cast<std::uintmax_t>(taille / 2));
  int numero = NumeroOuverture(Chemin("tronquee.bd"));
  EXPECT_TRUE(numero == err::BaseEndommagee || numero == err::FormatNonReconnu) << numero;
}

TEST_F(Fichiers, BaseSqliteDUneAutreApplicationNEstPasReconnue) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Chemin("autre.sqlite").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE notes(id INTEGER, texte TEXT); INSERT INTO notes VALUES (1, 'x');", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  auto r = Essaie([&] { DBEngine::OpenDatabase(Chemin("autre.sqlite")); });
  EXPECT_EQ(r.Number, err::FormatNonReconnu);
  EXPECT_FALSE(r.Description.empty());
  // The foreign file is left alone.
  ASSERT_EQ(sqlite3_open(Chemin("autre.sqlite").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1);
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(Fichiers, OuvertureEnLectureSeuleRefuseToutesLesEcritures) {
  BaseClients(2).Close();
  auto base = DBEngine::OpenDatabase(Chemin("base.bd"), false, true);
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom"), (std::vector<std::string>{"client 1", "client 2"}));
  EXPECT_ERREUR(err::LectureSeule, base.Execute("DELETE FROM Clients", dbFailOnError));
  EXPECT_ERREUR(err::LectureSeule, Ajoute(base, "Clients", {{"Id", 3}}));
  auto rs = base.OpenRecordset("Clients", dbOpenDynaset);
  EXPECT_FALSE(rs.Updatable());
  EXPECT_ERREUR(err::LectureSeule, rs.Edit());
  EXPECT_ERREUR(err::LectureSeule, CreeTable(base, "Nouvelle", {{"N", dbLong}}));
  EXPECT_ERREUR(err::LectureSeule, base.TableDefs().Delete("Clients"));
  EXPECT_ERREUR(err::LectureSeule, base.TableDefs()["Clients"].SetName("Autre"));
  EXPECT_ERREUR(err::LectureSeule, base.Properties().Append(base.CreateProperty("P", dbText, "x")));
  EXPECT_ERREUR(err::LectureSeule, base.TableDefs()["Clients"].Fields()["Nom"].SetRequired(true));
  EXPECT_EQ(Compte(base, "Clients"), 2);
}

class Catalogue : public TestMoteur {};

TEST_F(Catalogue, TablesSystemeSontListeesEtProtegees) {
  auto base = Cree();
  CreeTable(base, "Clients", {{"Nom", dbText, 20}});
  std::vector<std::string> systeme;
  for (int i = 0; i < base.TableDefs().Count(); ++i) {
    auto td = base.TableDefs()[i];
    if (td.Name().rfind("MSys", 0) == 0) {
      systeme.push_back(td.Name());
      EXPECT_EQ(td.Attributes() & dbSystemObject, dbSystemObject) << td.Name();
      EXPECT_GT(td.Fields().Count(), 0) << td.Name();
    } else {
      EXPECT_EQ(td.Attributes() & dbSystemObject, 0) << td.Name();
    }
  }
  for (const char* nom : {"MSysTables", "MSysColumns", "MSysIndexes", "MSysRelationships", "MSysProperties"})
    EXPECT_NE(std::find(systeme.begin(), systeme.end(), nom), systeme.end()) << nom;
  EXPECT_EQ(base.TableDefs().Count(), static_cast<int>(systeme.size()) + 1);

  // They can be read but not changed, and no user table may take their prefix.
  auto rs = base.OpenRecordset("MSysTables");
  EXPECT_FALSE(rs.Updatable());
  EXPECT_NE(Essaie([&] { rs.AddNew(); }).Number, 0);
  EXPECT_NE(Essaie([&] { base.TableDefs().Delete("MSysColumns"); }).Number, 0);
  EXPECT_NE(Essaie([&] { base.Execute("DELETE FROM MSysTables", dbFailOnError); }).Number, 0);
  EXPECT_ERREUR(err::NomInvalide, CreeTable(base, "MSysAutre", {{"X", dbLong}}));
  EXPECT_EQ(Compte(base, "Clients"), 0);
  EXPECT_EQ(base.TableDefs()["Clients"].Fields().Count(), 1);
}

TEST_F(Catalogue, VersionParDefautOuDemandeeSurvitALaReouverture) {
  Cree("v4.bd").Close();
  Cree("v3.bd", "3.0").Close();
  auto v4 = Ouvre("v4.bd");
  auto v3 = Ouvre("v3.bd");
  EXPECT_EQ(v4.Version(), "4.0");
  EXPECT_EQ(v3.Version(), "3.0");
  EXPECT_EQ(v3.Properties()["Version"].Value().EnTexte(), "3.0");
  EXPECT_EQ(v4.Properties()["Name"].Value().EnTexte(), Chemin("v4.bd"));
}

}  // namespace

// Second process of the reliability tests: another program writing the database, as a
// workstation of the software would.
//
//   aide_ecrivain <chemin> transaction   a large write not yet committed, part of it already in the
//                                        database file itself (a cache of a few pages spills it
//                                        there); says "pret" and waits, to be killed in the middle
//   aide_ecrivain <chemin> continu       commits small writes one after the other until stdin
//                                        closes; says "pret" after the first one
//   aide_ecrivain <chemin> lignes        commits one numbered row after the other into its table
//                                        "Lignes" until stdin closes, as an application that keeps
//                                        its database open would; says "pret" after the first one
//                                        and, at the end, "validees N": rows 1 to N were committed
//   aide_ecrivain <chemin> connexions    as "lignes", each row through a connection of its own, opened
//                                        for it and closed after it, as an application that opens
//                                        the database for each operation would; ends with
//                                        "validees N lecture-seule K": K writes were refused as if
//                                        the file were read-only
//   aide_ecrivain <chemin> commit        a large write whose commit stops the process (SIGKILL)
//                                        just after it wrote the database's first page: the
//                                        header then counts pages the file does not hold yet
//
// It writes through SQLite directly, into a table of its own, the way a foreign program sharing
// the file would: the engine's catalog never hears of it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

// ---------------------------------------------------------------- a commit cut short

// A layer over the platform's files that kills the process once the first page of the main
// database has been written while it is armed: the crash the engine's rollback journal is there
// for, at the moment a commit has begun to write the database itself.
sqlite3_vfs* vfsReel = nullptr;
bool arme = false;

struct FichierCoupe {
  sqlite3_file base;
  bool principal;
  sqlite3_file* reel() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

FichierCoupe* Coupe(sqlite3_file* f) { return reinterpret_cast<FichierCoupe*>(f); }

int Ferme(sqlite3_file* f) { return Coupe(f)->reel()->pMethods->xClose(Coupe(f)->reel()); }
int Lit(sqlite3_file* f, void* t, int n, sqlite3_int64 p) { return Coupe(f)->reel()->pMethods->xRead(Coupe(f)->reel(), t, n, p); }
int Ecrit(sqlite3_file* f, const void* t, int n, sqlite3_int64 p) {
  int rc = Coupe(f)->reel()->pMethods->xWrite(Coupe(f)->reel(), t, n, p);
  if (arme && Coupe(f)->principal && p == 0) ::kill(::getpid(), SIGKILL);
  return rc;
}
int Tronque(sqlite3_file* f, sqlite3_int64 n) { return Coupe(f)->reel()->pMethods->xTruncate(Coupe(f)->reel(), n); }
int Synchronise(sqlite3_file* f, int o) { return Coupe(f)->reel()->pMethods->xSync(Coupe(f)->reel(), o); }
int Taille(sqlite3_file* f, sqlite3_int64* n) { return Coupe(f)->reel()->pMethods->xFileSize(Coupe(f)->reel(), n); }
int Verrouille(sqlite3_file* f, int n) { return Coupe(f)->reel()->pMethods->xLock(Coupe(f)->reel(), n); }
int Deverrouille(sqlite3_file* f, int n) { return Coupe(f)->reel()->pMethods->xUnlock(Coupe(f)->reel(), n); }
int VerrouReserve(sqlite3_file* f, int* r) { return Coupe(f)->reel()->pMethods->xCheckReservedLock(Coupe(f)->reel(), r); }
int Controle(sqlite3_file* f, int o, void* a) { return Coupe(f)->reel()->pMethods->xFileControl(Coupe(f)->reel(), o, a); }
int Secteur(sqlite3_file* f) { return Coupe(f)->reel()->pMethods->xSectorSize(Coupe(f)->reel()); }
int Caracteristiques(sqlite3_file* f) { return Coupe(f)->reel()->pMethods->xDeviceCharacteristics(Coupe(f)->reel()); }

const sqlite3_io_methods methodesCoupe = {.iVersion = 1,
                                          .xClose = Ferme,
                                          .xRead = Lit,
                                          .xWrite = Ecrit,
                                          .xTruncate = Tronque,
                                          .xSync = Synchronise,
                                          .xFileSize = Taille,
                                          .xLock = Verrouille,
                                          .xUnlock = Deverrouille,
                                          .xCheckReservedLock = VerrouReserve,
                                          .xFileControl = Controle,
                                          .xSectorSize = Secteur,
                                          .xDeviceCharacteristics = Caracteristiques,
                                          // Version 1: SQLite never calls what follows.
                                          .xShmMap = nullptr,
                                          .xShmLock = nullptr,
                                          .xShmBarrier = nullptr,
                                          .xShmUnmap = nullptr,
                                          .xFetch = nullptr,
                                          .xUnfetch = nullptr};

int Ouvre(sqlite3_vfs*, const char* nom, sqlite3_file* f, int drapeaux, int* sortie) {
  FichierCoupe* c = Coupe(f);
  c->base.pMethods = nullptr;
  int rc = vfsReel->xOpen(vfsReel, nom, c->reel(), drapeaux, sortie);
  if (rc == SQLITE_OK) {
    c->principal = (drapeaux & SQLITE_OPEN_MAIN_DB) != 0;
    c->base.pMethods = &methodesCoupe;
  }
  return rc;
}

bool InstalleCoupure() {
  vfsReel = sqlite3_vfs_find(nullptr);
  static sqlite3_vfs vfs;
  vfs = *vfsReel;
  vfs.zName = "coupure";
  vfs.szOsFile = static_cast<int>(sizeof(FichierCoupe)) + vfsReel->szOsFile;
  vfs.xOpen = Ouvre;
  return sqlite3_vfs_register(&vfs, 1) == SQLITE_OK;
}

// ----------------------------------------------------------------

bool Execute(sqlite3* db, const std::string& texte) {
  return sqlite3_exec(db, texte.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool EntreeFermee() {
  pollfd p{0, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char tampon[64];
  return ::read(0, tampon, sizeof tampon) <= 0;
}

void Pret() {
  std::printf("pret\n");
  std::fflush(stdout);
}

// Row n is committed only once rows 1 to n-1 are: what was committed is 1 to the last number.
// A refused write is tried again; a file renamed over by another program (SQLite refuses to write
// the old one) is opened again, as its users would reopen it.
int EcritLignes(const char* chemin, sqlite3* db) {
  if (!Execute(db, "CREATE TABLE IF NOT EXISTS Lignes (Id INTEGER PRIMARY KEY, Texte)")) {
    std::printf("erreur %s\n", sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_extended_result_codes(db, 1);
  long long validees = 0;
  while (!EntreeFermee()) {
    const std::string insertion =
        "INSERT INTO Lignes VALUES (" + std::to_string(validees + 1) + ", 'ligne " + std::to_string(validees + 1) + "')";
    int rc = sqlite3_exec(db, insertion.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      if (++validees == 1) Pret();
    } else if (rc == SQLITE_READONLY_DBMOVED) {
      sqlite3_close(db);
      db = nullptr;
      if (sqlite3_open_v2(chemin, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) break;
      sqlite3_busy_timeout(db, 5000);
      sqlite3_extended_result_codes(db, 1);
    }
    ::usleep(1000);
  }
  sqlite3_close(db);
  std::printf("validees %lld\n", validees);
  std::fflush(stdout);
  return 0;
}

// A write refused (the file held by someone else longer than the wait) is tried again on a new
// connection; the refusals that call the file read-only are counted.
int EcritLignesParConnexion(const char* chemin) {
  long long validees = 0, lectureSeule = 0;
  while (!EntreeFermee()) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(chemin, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) break;
    sqlite3_busy_timeout(db, 10000);
    sqlite3_extended_result_codes(db, 1);
    const std::string n = std::to_string(validees + 1);
    const int rc = sqlite3_exec(db,
                                ("CREATE TABLE IF NOT EXISTS Lignes (Id INTEGER PRIMARY KEY, Texte);"
                                 " INSERT INTO Lignes VALUES (" + n + ", 'ligne " + n + "')").c_str(),
                                nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (rc == SQLITE_OK && ++validees == 1) Pret();
    if ((rc & 0xFF) == SQLITE_READONLY) ++lectureSeule;
    ::usleep(1000);
  }
  std::printf("validees %lld lecture-seule %lld\n", validees, lectureSeule);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: aide_ecrivain <chemin> transaction|continu|lignes|connexions|commit\n");
    return 2;
  }
  const std::string mode = argv[2];
  if (mode == "commit" && !InstalleCoupure()) return 1;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::printf("erreur %s\n", db ? sqlite3_errmsg(db) : "ouverture");
    return 1;
  }
  sqlite3_busy_timeout(db, 5000);
  if (mode == "transaction") {
    if (!Execute(db, "PRAGMA cache_size = 4") || !Execute(db, "BEGIN") ||
        !Execute(db, "CREATE TABLE Bruit (Texte)") ||
        !Execute(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                 "INSERT INTO Bruit SELECT randomblob(1000) FROM n")) {
      std::printf("erreur %s\n", sqlite3_errmsg(db));
      return 1;
    }
    Pret();
    for (;;) ::pause();
  }
  if (mode == "commit") {
    // A cache large enough to hold the whole write: nothing reaches the file before the commit.
    if (!Execute(db, "PRAGMA cache_size = -65536") || !Execute(db, "BEGIN") ||
        !Execute(db, "CREATE TABLE Bruit (Texte)") ||
        !Execute(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                 "INSERT INTO Bruit SELECT randomblob(1000) FROM n")) {
      std::printf("erreur %s\n", sqlite3_errmsg(db));
      return 1;
    }
    arme = true;
    Execute(db, "COMMIT");
    std::printf("commit non interrompu\n");
    return 1;
  }
  if (mode == "continu") {
    if (!Execute(db, "CREATE TABLE IF NOT EXISTS Bruit (Texte)")) {
      std::printf("erreur %s\n", sqlite3_errmsg(db));
      return 1;
    }
    bool annonce = false;
    while (!EntreeFermee()) {
      // A refused write (the file held by someone else for a moment) is simply tried again.
      if (Execute(db, "INSERT INTO Bruit SELECT randomblob(3000) FROM (SELECT 1 UNION ALL SELECT 2)") && !annonce) {
        Pret();
        annonce = true;
      }
      ::usleep(500);
    }
    sqlite3_close(db);
    return 0;
  }
  if (mode == "lignes") return EcritLignes(argv[1], db);
  if (mode == "connexions") {
    sqlite3_close(db);
    return EcritLignesParConnexion(argv[1]);
  }
  std::printf("mode inconnu %s\n", mode.c_str());
  return 2;
}

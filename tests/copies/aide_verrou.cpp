// Second process of the copy tests: holds a database the way another program would, says "pret"
// on stdout, and lets go when stdin is closed.
//
//   aide_verrou <chemin> exclusif   exclusive lock (BEGIN EXCLUSIVE): nobody else may even read
//   aide_verrou <chemin> ecriture   a large write not yet committed, part of it already in the
//                                   file itself: a byte copy taken now would be a torn database
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

void AttendFin() {
  char tampon[64];
  while (::read(0, tampon, sizeof tampon) > 0) {
  }
}

bool Execute(sqlite3* db, const std::string& texte) {
  return sqlite3_exec(db, texte.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: aide_verrou <chemin> exclusif|ecriture\n");
    return 2;
  }
  std::string mode = argv[2];
  sqlite3* db = nullptr;
  bool pret = sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  if (pret && mode == "exclusif") {
    pret = Execute(db, "BEGIN EXCLUSIVE");
  } else if (pret && mode == "ecriture") {
    // A cache of a few pages spills the transaction into the database file before the commit.
    pret = Execute(db, "PRAGMA cache_size = 4") && Execute(db, "BEGIN") &&
           Execute(db, "CREATE TABLE Bruit (Texte)") &&
           Execute(db,
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                   "INSERT INTO Bruit SELECT randomblob(1000) FROM n");
  } else if (pret) {
    std::printf("mode inconnu %s\n", mode.c_str());
    sqlite3_close(db);
    return 2;
  }
  if (!pret) {
    std::printf("erreur %s\n", db ? sqlite3_errmsg(db) : "ouverture");
    sqlite3_close(db);
    return 1;
  }
  std::printf("pret\n");
  std::fflush(stdout);
  AttendFin();
  Execute(db, "ROLLBACK");
  sqlite3_close(db);
  return 0;
}

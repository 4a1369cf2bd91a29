// Second process of the reliability tests: holds a database the way another workstation would,
// says "pret" on stdout, and lets go when its stdin closes.
//
//   aide_verrou <chemin> immediat   write lock (BEGIN IMMEDIATE): others may read, not write
//   aide_verrou <chemin> exclusif   exclusive lock (BEGIN EXCLUSIVE): others may not even read
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: aide_verrou <chemin> immediat|exclusif\n");
    return 2;
  }
  const std::string mode = argv[2];
  const char* debut = mode == "immediat" ? "BEGIN IMMEDIATE" : mode == "exclusif" ? "BEGIN EXCLUSIVE" : nullptr;
  if (!debut) {
    std::printf("mode inconnu %s\n", mode.c_str());
    return 2;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, debut, nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::printf("erreur %s\n", db ? sqlite3_errmsg(db) : "ouverture");
    sqlite3_close(db);
    return 1;
  }
  std::printf("pret\n");
  std::fflush(stdout);
  char tampon[64];
  while (::read(0, tampon, sizeof tampon) > 0) {
  }
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}

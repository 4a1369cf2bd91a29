// Second process of the driver tests: holds a database as another application would (exclusive
// lock, nobody else may even read it), says "pret" on stdout and lets go when stdin closes.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: aide_tenue_base <chemin>\n");
    return 2;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
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

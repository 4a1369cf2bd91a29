// Second process of the lock tests: holds a database the way another workstation would, says
// "pret" on stdout, and lets go when a line arrives on stdin or stdin is closed.
//
//   aide_verrou <chemin> immediat    write lock (BEGIN IMMEDIATE): others may read, not write
//   aide_verrou <chemin> exclusif    exclusive lock (BEGIN EXCLUSIVE): others may not even read
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

void AttendLigneOuFin() {
  char c;
  while (::read(0, &c, 1) == 1)
    if (c == '\n') return;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: aide_verrou <chemin> immediat|exclusif\n");
    return 2;
  }
  std::string mode = argv[2];
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
  AttendLigneOuFin();
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}

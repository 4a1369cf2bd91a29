// Second process for the tests of concurrent access: holds a database the way another user would,
// says "pret" on stdout, and lets go only when its stdin is closed.
//
//   aide_verrou <chemin> sqlite     write lock taken with SQLite alone (BEGIN IMMEDIATE)
//   aide_verrou <chemin> moteur     write lock taken through the engine (a write in a transaction)
//   aide_verrou <chemin> exclusif   database opened exclusively through the engine
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "moteur/Moteur.h"

namespace {

void Attend() {
  char tampon[64];
  while (::read(0, tampon, sizeof tampon) > 0) {
  }
}

int Sqlite(const std::string& chemin) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::printf("erreur sqlite %s\n", sqlite3_errmsg(db));
    sqlite3_close(db);
    return 1;
  }
  std::printf("pret\n");
  std::fflush(stdout);
  Attend();
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}

int Moteur(const std::string& chemin, bool exclusif) {
  moteur::Database base;
  auto r = moteur::Essaie([&] {
    base = moteur::DBEngine::OpenDatabase(chemin, exclusif);
    if (!exclusif) {
      moteur::DBEngine::BeginTrans();
      base.Properties().Append(base.CreateProperty("TenuParAide", moteur::dbText, moteur::Valeur("oui")));
    }
  });
  if (!r) {
    std::printf("erreur %d %s\n", r.Number, r.Description.c_str());
    return 1;
  }
  std::printf("pret\n");
  std::fflush(stdout);
  Attend();
  if (!exclusif) moteur::DBEngine::Rollback();
  base.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: aide_verrou <chemin> sqlite|moteur|exclusif\n");
    return 2;
  }
  std::string mode = argv[2];
  if (mode == "sqlite") return Sqlite(argv[1]);
  if (mode == "moteur") return Moteur(argv[1], false);
  if (mode == "exclusif") return Moteur(argv[1], true);
  std::printf("mode inconnu %s\n", mode.c_str());
  return 2;
}

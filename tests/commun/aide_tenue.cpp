// Second process of the tests that need another workstation or program on a database: holds it,
// says "pret" on stdout, and lets go when its stdin is closed (or a line arrives on it).
//
//   aide_tenue <chemin> lecture           a read transaction (shared lock): others may read and begin
//                                         a write, not commit it
//   aide_tenue <chemin> immediat          write lock (BEGIN IMMEDIATE): others may read, not write
//   aide_tenue <chemin> exclusif          exclusive lock (BEGIN EXCLUSIVE): others may not even read
//   aide_tenue <chemin> ecriture          a large write not yet committed, part of it already in the
//                                         file itself: a byte copy taken now would be a torn database
//   aide_tenue <chemin> moteur            write lock taken through the engine (a write in a transaction)
//   aide_tenue <chemin> moteur-exclusif   database opened exclusively through the engine
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "moteur/Moteur.h"

namespace {

void AttendLigneOuFin() {
  char c;
  while (::read(0, &c, 1) == 1)
    if (c == '\n') return;
}

void Pret() {
  std::printf("pret\n");
  std::fflush(stdout);
}

bool Execute(sqlite3* db, const std::string& texte) {
  return sqlite3_exec(db, texte.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Commence(sqlite3* db, const std::string& mode) {
  if (mode == "lecture") return Execute(db, "BEGIN") && Execute(db, "SELECT count(*) FROM sqlite_master");
  if (mode == "immediat") return Execute(db, "BEGIN IMMEDIATE");
  if (mode == "exclusif") return Execute(db, "BEGIN EXCLUSIVE");
  // A cache of a few pages spills the transaction into the database file before the commit.
  return Execute(db, "PRAGMA cache_size = 4") && Execute(db, "BEGIN") && Execute(db, "CREATE TABLE Bruit (Texte)") &&
         Execute(db,
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                 "INSERT INTO Bruit SELECT randomblob(1000) FROM n");
}

int TientParSqlite(const std::string& chemin, const std::string& mode) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK || !Commence(db, mode)) {
    std::printf("erreur %s\n", db ? sqlite3_errmsg(db) : "ouverture");
    sqlite3_close(db);
    return 1;
  }
  Pret();
  AttendLigneOuFin();
  Execute(db, "ROLLBACK");
  sqlite3_close(db);
  return 0;
}

int TientParLeMoteur(const std::string& chemin, bool exclusif) {
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
  Pret();
  AttendLigneOuFin();
  if (!exclusif) moteur::DBEngine::Rollback();
  base.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[2] : "";
  if (mode == "lecture" || mode == "immediat" || mode == "exclusif" || mode == "ecriture") return TientParSqlite(argv[1], mode);
  if (mode == "moteur" || mode == "moteur-exclusif") return TientParLeMoteur(argv[1], mode == "moteur-exclusif");
  std::printf("usage: aide_tenue <chemin> lecture|immediat|exclusif|ecriture|moteur|moteur-exclusif\n");
  return 2;
}

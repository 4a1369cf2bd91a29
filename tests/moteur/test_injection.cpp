#include "moteur/Injection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace moteur::injection;

namespace {

constexpr long long kIllimite = 1LL << 40;  // a limit that never bites, to measure consumption

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

std::string Valeur(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  std::string v = "<erreur>";
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
    auto* t = sqlite3_column_text(st, 0);
    v = t ? reinterpret_cast<const char*>(t) : "";
  }
  sqlite3_finalize(st);
  return v;
}

constexpr const char* kInstantane =
    "SELECT count(*) || '/' || group_concat(x, ',') FROM (SELECT id || hex(v) x FROM t ORDER BY id)";

class Injection : public ::testing::Test {
 protected:
  void SetUp() override {
    InstalleVfs();
    SupprimeLimite();
    static int numero = 0;
    dir_ = fs::temp_directory_path() /
           ("injection_" + std::to_string(::getpid()) + "_" + std::to_string(++numero));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (auto* db : ouvertes_) sqlite3_close(db);
    SupprimeLimite();
    fs::remove_all(dir_);
  }
  // Opened without naming a VFS: the layer must be picked up as the default.
  sqlite3* Ouvre(const std::string& nom) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((dir_ / nom).c_str(), &db), SQLITE_OK);
    ouvertes_.push_back(db);
    return db;
  }
  void Ferme(sqlite3* db) {
    std::erase(ouvertes_, db);
    sqlite3_close(db);
  }
  // 200 committed rows, several pages, with a clean close so copies start equal.
  std::string CreeBase(const std::string& nom) {
    sqlite3* db = Ouvre(nom);
    EXPECT_EQ(Exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, v BLOB);"
                       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<200)"
                       " INSERT INTO t(v) SELECT randomblob(300) FROM n;"),
              SQLITE_OK);
    std::string instantane = Valeur(db, kInstantane);
    Ferme(db);
    return instantane;
  }
  void Copie(const std::string& de, const std::string& vers) {
    fs::copy_file(dir_ / de, dir_ / vers, fs::copy_options::overwrite_existing);
  }
  fs::path dir_;
  std::vector<sqlite3*> ouvertes_;
};

// --- Through SQLite ----------------------------------------------------------

class InjectionParJournal : public Injection, public ::testing::WithParamInterface<const char*> {};

TEST_P(InjectionParJournal, InsertionsEchouentPuisLaConnexionRepartApresLeveeDeLaLimite) {
  sqlite3* db = Ouvre("base.db");
  ASSERT_EQ(Valeur(db, (std::string("PRAGMA journal_mode=") + GetParam()).c_str()), GetParam());
  ASSERT_EQ(Exec(db, "CREATE TABLE t(v BLOB)"), SQLITE_OK);
  sqlite3_stmt* ins = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(randomblob(1000))", -1, &ins, nullptr), SQLITE_OK);
  int reussies = 0, rc = SQLITE_DONE;
  {
    LimiteTemporaire limite(64 * 1024);
    while (reussies < 10000 && (rc = sqlite3_step(ins)) == SQLITE_DONE) {
      ++reussies;
      sqlite3_reset(ins);
    }
    EXPECT_EQ(rc, SQLITE_FULL);
    EXPECT_GE(OctetsRestants(), 0);
  }
  sqlite3_reset(ins);
  EXPECT_EQ(sqlite3_step(ins), SQLITE_DONE) << sqlite3_errmsg(db);
  sqlite3_finalize(ins);
  EXPECT_EQ(Valeur(db, "PRAGMA integrity_check"), "ok");
  Ferme(db);
  EXPECT_EQ(Valeur(Ouvre("base.db"), "SELECT count(*) FROM t"), std::to_string(reussies + 1));
}

// WAL needs the shared-memory methods (and charges the -wal file, not the database).
INSTANTIATE_TEST_SUITE_P(Modes, InjectionParJournal, ::testing::Values("delete", "wal"));

// The disk fills at many different points of one transaction (journal write,
// cache spill into the database, commit); each time a reopen must see the last
// committed state, byte for byte.
TEST_F(Injection, UneTransactionInterrompueNeLaissePasDeTrace) {
  const std::string avant = CreeBase("base.db");
  const char* transaction =
      "PRAGMA cache_size=4; BEGIN; UPDATE t SET v=randomblob(300) WHERE id%2=0;"
      "INSERT INTO t(v) SELECT randomblob(800) FROM t; COMMIT;";
  Copie("base.db", "mesure.db");
  long long consommation = 0;
  {
    LimiteTemporaire limite(kIllimite);
    ASSERT_EQ(Exec(Ouvre("mesure.db"), transaction), SQLITE_OK);
    consommation = kIllimite - OctetsRestants();
  }
  for (int k = 0; k < 25; ++k) {
    const std::string nom = "essai" + std::to_string(k) + ".db";
    Copie("base.db", nom);
    sqlite3* db = Ouvre(nom);
    {
      LimiteTemporaire limite(consommation * k / 25);
      EXPECT_EQ(Exec(db, transaction), SQLITE_FULL) << "k=" << k;
      Ferme(db);  // rollback may itself hit the full disk and leave a hot journal
    }
    db = Ouvre(nom);
    EXPECT_EQ(Valeur(db, "PRAGMA integrity_check"), "ok") << "k=" << k;
    EXPECT_EQ(Valeur(db, kInstantane), avant) << "k=" << k;
  }
}

TEST_F(Injection, LeJournalEstCompteDansLeBudget) {
  CreeBase("base.db");
  Copie("base.db", "sans_journal.db");
  long long pagesSeules = 0;
  {
    LimiteTemporaire limite(kIllimite);
    ASSERT_EQ(Exec(Ouvre("sans_journal.db"), "PRAGMA journal_mode=OFF; UPDATE t SET v=randomblob(300)"),
              SQLITE_OK);
    pagesSeules = kIllimite - OctetsRestants();
  }
  // Enough for the database pages, not for the journal that must precede them.
  LimiteTemporaire limite(pagesSeules);
  EXPECT_EQ(Exec(Ouvre("base.db"), "UPDATE t SET v=randomblob(300)"), SQLITE_FULL);
}

TEST_F(Injection, LesFichiersTemporairesSontComptes) {
  sqlite3* db = Ouvre("base.db");
  ASSERT_EQ(Exec(db, "PRAGMA temp_store=FILE; PRAGMA temp.cache_size=5;"), SQLITE_OK);
  LimiteTemporaire limite(50 * 1000);
  EXPECT_EQ(Exec(db, "CREATE TEMP TABLE x AS WITH RECURSIVE n(i) AS"
                     " (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<200) SELECT randomblob(1000) FROM n"),
            SQLITE_FULL);
  EXPECT_EQ(fs::file_size(dir_ / "base.db"), 0u);  // nothing of it went to the main file
}

// Straight at the VFS, on an anonymous temporary file: SQLite would mask a
// torn write by replaying its journal, a reorganisation copy would not.
TEST_F(Injection, UneEcritureRefuseeNeToucheRienAuFichier) {
  sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
  std::vector<char> memoire(static_cast<std::size_t>(vfs->szOsFile));
  auto* f = reinterpret_cast<sqlite3_file*>(memoire.data());
  ASSERT_EQ(vfs->xOpen(vfs, nullptr, f,
                       SQLITE_OPEN_TEMP_JOURNAL | SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                           SQLITE_OPEN_DELETEONCLOSE | SQLITE_OPEN_EXCLUSIVE,
                       nullptr),
            SQLITE_OK);
  const std::string donnees(101, 'x');
  sqlite3_int64 taille = -1;
  LimiteEcriture(100);
  EXPECT_EQ(f->pMethods->xWrite(f, donnees.data(), 101, 0), SQLITE_FULL);
  EXPECT_EQ(f->pMethods->xFileSize(f, &taille), SQLITE_OK);
  EXPECT_EQ(taille, 0);
  EXPECT_EQ(OctetsRestants(), 100);
  EXPECT_EQ(f->pMethods->xWrite(f, donnees.data(), 100, 0), SQLITE_OK);
  EXPECT_EQ(f->pMethods->xTruncate(f, 10), SQLITE_OK);  // shrinking needs no space
  EXPECT_EQ(f->pMethods->xFileSize(f, &taille), SQLITE_OK);
  EXPECT_EQ(taille, 10);
  EXPECT_EQ(OctetsRestants(), 0);
  f->pMethods->xClose(f);
}

// --- The budget itself -------------------------------------------------------

TEST_F(Injection, UnRefusNeConsommeRien) {
  EXPECT_EQ(OctetsRestants(), -1);
  EXPECT_TRUE(ConsommeOctets(SIZE_MAX));
  LimiteEcriture(100);
  EXPECT_FALSE(ConsommeOctets(101));
  EXPECT_TRUE(ConsommeOctets(100));
  EXPECT_FALSE(ConsommeOctets(1));
  EXPECT_TRUE(ConsommeOctets(0));
  EXPECT_EQ(OctetsRestants(), 0);
  LimiteEcriture(-7);
  EXPECT_EQ(OctetsRestants(), -1);
}

// Each thread stops at its first refusal, when less than its chunk remained;
// the budget only shrinks afterwards, so in the end less than the smallest chunk
// is left, and what was granted adds up exactly. Many short rounds, so that the
// threads fight over the last bytes many times.
TEST_F(Injection, ConsommationConcurrenteSansDepassement) {
  constexpr long long kLimite = 5003;
  for (int tour = 0; tour < 300; ++tour) {
    LimiteEcriture(kLimite);
    std::atomic<long long> accorde{0};
    std::atomic<bool> depart{false}, negatif{false};
    std::vector<std::thread> ecrivains;
    for (std::size_t morceau = 7; morceau < 7 + 8 * 13; morceau += 13) {
      ecrivains.emplace_back([&, morceau] {
        while (!depart) std::this_thread::yield();
        while (accorde <= kLimite && ConsommeOctets(morceau)) {
          accorde += static_cast<long long>(morceau);
          if (OctetsRestants() < 0) negatif = true;
        }
      });
    }
    depart = true;
    for (auto& t : ecrivains) t.join();
    ASSERT_FALSE(negatif) << "tour " << tour;
    ASSERT_EQ(accorde + OctetsRestants(), kLimite) << "tour " << tour;
    ASSERT_LT(OctetsRestants(), 7) << "tour " << tour;
  }
}

TEST_F(Injection, LimiteTemporaireRetablitLAbsenceDeLimite) {
  {
    LimiteTemporaire limite(4096);
    EXPECT_FALSE(ConsommeOctets(4097));
  }
  EXPECT_EQ(OctetsRestants(), -1);
  EXPECT_TRUE(ConsommeOctets(4097));
}

}  // namespace

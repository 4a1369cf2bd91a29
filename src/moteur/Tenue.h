// Holding a database file against other programs and other runs.
//
// Databases are SQLite files in rollback-journal mode. SQLite's writers, in every process, lock
// bytes of the file before they write: the RESERVED byte to begin a write transaction, the whole
// SHARED range to commit; readers lock the SHARED range for reading only. The holds below are
// kept with open file description locks (F_OFD_SETLK): they belong to one open of the file, not
// to the process, so that this process opening and closing the same file elsewhere (to read its
// header, to copy it, through another connection) never drops them, as it would silently drop
// its POSIX record locks.
//
// Invariants:
//
// TenueEcritures — while it lives, no other program can begin a write transaction on the file nor
//   commit one: it holds read locks on the RESERVED byte and on the SHARED range. It is taken only
//   when no writer is inside a transaction, and after a read through SQLite that rolls back what an
//   interrupted writer left: the state it notes (change counter, size, date) is the last commit,
//   and remains the file's state until it is let go. Readers come and go; this process's own
//   connections may read the file but not write it meanwhile. A file stage takes it before it
//   reads the database and lets it go once its result has replaced the file: no commit can fall
//   between what was read and the replacement. A writer that still has the old file open after
//   the replacement is refused its next write by SQLite (the file moved), never lets it vanish.
//
// TenueRun — a lock on a byte that no SQLite or Jet program uses, held for the whole length of a
//   run: a second run on the same file is refused. It follows the file when a new file is renamed
//   over it (SuiteTenue, around the rename), so that at no moment is the name left unheld.
//
// TenueDossier — an exclusive lock on a folder for a run that writes a file of a fixed name in it
//   ("copie_reorg.mdb"): a second such run in the same folder is refused.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace moteur {

// A database file at one moment: which file it is, its size and date, and the change counter that
// every commit moves on.
struct EtatFichier {
  dev_t peripherique = 0;
  ino_t noeud = 0;
  off_t taille = 0;
  timespec date{};
  std::uint32_t compteur = 0;

  bool operator==(const EtatFichier& autre) const;
};

class TenueEcritures {
 public:
  // Throws err::BaseEnUtilisation when another program is inside a write transaction on the file
  // or holds it exclusively (the caller may wait and try again), the engine's file numbers when
  // it cannot be opened.
  explicit TenueEcritures(const std::string& chemin);
  ~TenueEcritures();
  TenueEcritures(const TenueEcritures&) = delete;
  TenueEcritures& operator=(const TenueEcritures&) = delete;

  const std::string& Chemin() const { return chemin_; }
  // The state of the file when it was taken.
  const EtatFichier& Etat() const { return etat_; }
  // Whether another process holds a lock on the file now: it is reading it.
  bool AutreProcessus() const;
  // Whether the path still names the file held, as it was when it was taken.
  bool Inchangee() const;

  // The hold this process has on the file now at that path, if any.
  static TenueEcritures* De(const std::string& chemin);

  // Lets go of the locks and keeps the file open: Inchangee still tells whether it is the file
  // taken, as it was then, once SQLite's own locks have taken over.
  void Relache();

 private:
  std::string chemin_;
  int fd_ = -1;
  EtatFichier etat_;
};

class TenueRun {
 public:
  // Throws err::BaseEnUtilisation when another run holds the file.
  explicit TenueRun(const std::string& chemin);
  ~TenueRun();
  TenueRun(const TenueRun&) = delete;
  TenueRun& operator=(const TenueRun&) = delete;

 private:
  friend class SuiteTenue;
  int fd_ = -1;
};

class TenueDossier {
 public:
  // Throws err::BaseEnUtilisation when another run holds the folder.
  explicit TenueDossier(const std::string& dossier);
  ~TenueDossier();
  TenueDossier(const TenueDossier&) = delete;
  TenueDossier& operator=(const TenueDossier&) = delete;

 private:
  int fd_ = -1;
};

// Around the rename of `nouveau` over `cible`: the runs of this process that hold `cible` hold
// `nouveau` before it takes the name; Valide, once the rename is done, lets go of the old file.
// Without Valide (the rename failed), `nouveau` is let go and the holds stay on `cible`.
class SuiteTenue {
 public:
  SuiteTenue(const std::string& cible, const std::string& nouveau);
  ~SuiteTenue();
  SuiteTenue(const SuiteTenue&) = delete;
  SuiteTenue& operator=(const SuiteTenue&) = delete;
  void Valide();

 private:
  std::vector<std::pair<TenueRun*, int>> suites_;
};

// Puts the database `source` into the held file itself, through SQLite under its write lock and
// its journal, rather than renaming a file over it: a program that opened the file meanwhile goes
// on with it (its next write on a renamed-over file would be refused as read-only), and a crash
// leaves the old content or the new one. The hold's locks give way to SQLite's write lock, and
// another program's commit may slip in between: its rows are in the file, not in `source`, so
// nothing is written and false is returned, for the caller to start again from the file as it now
// is. `apresRelache` runs in that instant (for the tests).
[[nodiscard]] bool RemetEnPlace(TenueEcritures& tenue, const std::string& source,
                                const std::function<void()>& apresRelache = {});

// Whether a process other than this one holds a lock of SQLite's on the file now (a read or a
// write in progress). False when the file cannot be opened.
bool FichierTenuAilleurs(const std::string& chemin);

// The state of a file as EtatFichier describes it, read through the given descriptor when there
// is one (so that no other open of it is needed); nothing when it cannot be read.
std::optional<EtatFichier> EtatDuFichier(const std::string& chemin, int fd = -1);

}  // namespace moteur

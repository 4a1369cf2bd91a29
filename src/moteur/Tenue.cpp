#include "moteur/Tenue.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "moteur/Interne.h"

namespace moteur {
namespace {

// SQLite's lock bytes in a file of the unix VFS.
constexpr off_t OctetPending = 0x40000000;
constexpr off_t OctetReserved = OctetPending + 1;
constexpr off_t DebutShared = OctetPending + 2;
constexpr off_t TailleShared = 510;
// The run's own byte: far past anything a database file holds or SQLite locks.
constexpr off_t OctetRun = 0x7000000000000000LL;

bool Verrouille(int fd, short type, off_t debut, off_t longueur) {
  struct flock v {};
  v.l_type = type;
  v.l_whence = SEEK_SET;
  v.l_start = debut;
  v.l_len = longueur;
  int rc;
  do {
    rc = ::fcntl(fd, F_OFD_SETLK, &v);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

// The process that holds a lock in the range that a write lock would meet: 0 when none, -1 for
// an open-file-description lock (no process to name).
pid_t Tenant(int fd, off_t debut, off_t longueur) {
  struct flock v {};
  v.l_type = F_WRLCK;
  v.l_whence = SEEK_SET;
  v.l_start = debut;
  v.l_len = longueur;
  if (::fcntl(fd, F_OFD_GETLK, &v) != 0 || v.l_type == F_UNLCK) return 0;
  return v.l_pid == 0 ? -1 : v.l_pid;
}

bool AutreQueNous(pid_t tenant) { return tenant != 0 && tenant != ::getpid(); }

std::uint32_t LitCompteur(int fd) {
  unsigned char octets[4] = {};
  if (::pread(fd, octets, sizeof octets, 24) != static_cast<ssize_t>(sizeof octets)) return 0;
  return (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) | (std::uint32_t{octets[2]} << 8) |
         std::uint32_t{octets[3]};
}

[[noreturn]] void LeveOuverture(int cause, const std::string& chemin) {
  if (cause == ENOENT) throw ErreurMoteur(err::FichierIntrouvable, {chemin});
  throw ErreurMoteur(err::AccesRefuse, {chemin});
}

ErreurMoteur EnUtilisation(const std::string& chemin) { return ErreurMoteur(err::BaseEnUtilisation, {chemin}); }

// The holds of this process, found by the file they hold.
std::mutex verrouRegistre;
std::vector<TenueEcritures*>& TenuesEcritures() {
  static std::vector<TenueEcritures*> tenues;
  return tenues;
}
std::vector<TenueRun*>& TenuesRun() {
  static std::vector<TenueRun*> tenues;
  return tenues;
}

bool MemeFichier(int fd, const struct stat& autre) {
  struct stat s {};
  return fd >= 0 && ::fstat(fd, &s) == 0 && s.st_dev == autre.st_dev && s.st_ino == autre.st_ino;
}

template <class T>
void Retire(std::vector<T*>& liste, T* element) {
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  liste.erase(std::remove(liste.begin(), liste.end(), element), liste.end());
}

// A journal that a writer stopped in the middle of its transaction left, which must be played back
// before the file can be read: with the hold in place, SQLite would take the hold's lock for that
// writer's and read the file without it.
bool JournalChaud(const std::string& chemin) {
  int fd = ::open((chemin + "-journal").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  unsigned char premier = 0;
  const bool chaud = ::pread(fd, &premier, 1, 0) == 1 && premier != 0;
  ::close(fd);
  return chaud;
}

// A read through SQLite before the locks are taken: a journal left by a writer that was stopped
// in the middle of a commit is rolled back, so that the file read is the last commit. The read
// transaction stays open until the locks are taken, which no writer can then be in the middle of.
class LecturePrealable {
 public:
  explicit LecturePrealable(const std::string& chemin) {
    try {
      db_ = OuvreConnexionMoteur(chemin, SQLITE_OPEN_READWRITE);
    } catch (const ErreurMoteur&) {
      return;  // not a file SQLite opens: the locks alone say what they can
    }
    int rc = sqlite3_exec(db_, "BEGIN; SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
      Ferme();
      throw EnUtilisation(chemin);
    }
    if (rc != SQLITE_OK && JournalChaud(chemin)) {
      // The journal could not be played back (a full disk): the file cannot be read as it stands.
      ErreurMoteur erreur = sql::Traduit(db_, rc, sql::Operation::Lecture, chemin);
      Ferme();
      throw erreur;
    }
    // Any other failure: a damaged or foreign file, which the stage holding it will judge.
  }
  ~LecturePrealable() { Ferme(); }
  LecturePrealable(const LecturePrealable&) = delete;
  LecturePrealable& operator=(const LecturePrealable&) = delete;

 private:
  void Ferme() {
    if (!db_) return;
    sql::AnnuleTransaction(db_);
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  sqlite3* db_ = nullptr;
};

}  // namespace

bool EtatFichier::operator==(const EtatFichier& autre) const {
  return peripherique == autre.peripherique && noeud == autre.noeud && taille == autre.taille &&
         date.tv_sec == autre.date.tv_sec && date.tv_nsec == autre.date.tv_nsec && compteur == autre.compteur;
}

std::optional<EtatFichier> EtatDuFichier(const std::string& chemin, int fd) {
  struct stat s {};
  if (::stat(chemin.c_str(), &s) != 0) return std::nullopt;
  EtatFichier e;
  e.peripherique = s.st_dev;
  e.noeud = s.st_ino;
  e.taille = s.st_size;
  e.date = s.st_mtim;
  if (fd >= 0) {
    e.compteur = LitCompteur(fd);
  } else {
    int lecture = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (lecture < 0) return std::nullopt;
    e.compteur = LitCompteur(lecture);
    ::close(lecture);
  }
  return e;
}

TenueEcritures::TenueEcritures(const std::string& chemin) : chemin_(chemin) {
  LecturePrealable lecture(chemin);
  fd_ = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) LeveOuverture(errno, chemin);
  // The RESERVED byte first: taken, no writer is in a transaction and none can begin one. The
  // SHARED range then keeps the commit of one begun meanwhile from happening.
  if (!Verrouille(fd_, F_RDLCK, OctetReserved, 1) || !Verrouille(fd_, F_RDLCK, DebutShared, TailleShared)) {
    ::close(fd_);
    throw EnUtilisation(chemin);
  }
  std::optional<EtatFichier> etat = EtatDuFichier(chemin, fd_);
  struct stat s {};
  if (!etat || ::fstat(fd_, &s) != 0 || s.st_ino != etat->noeud || s.st_dev != etat->peripherique) {
    // The name was given to another file between the open and now.
    ::close(fd_);
    throw EnUtilisation(chemin);
  }
  etat_ = *etat;
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  TenuesEcritures().push_back(this);
}

TenueEcritures::~TenueEcritures() {
  Retire(TenuesEcritures(), this);
  if (fd_ >= 0) ::close(fd_);
}

bool TenueEcritures::AutreProcessus() const { return AutreQueNous(Tenant(fd_, OctetPending, TailleShared + 2)); }

void TenueEcritures::Relache() {
  Verrouille(fd_, F_UNLCK, OctetReserved, 1);
  Verrouille(fd_, F_UNLCK, DebutShared, TailleShared);
}

bool RemetEnPlace(TenueEcritures& tenue, const std::string& source, const std::function<void()>& apresRelache) {
  sqlite3* origine = OuvreConnexionMoteur(source, SQLITE_OPEN_READONLY);
  sqlite3* cible = nullptr;
  sqlite3_backup* copie = nullptr;
  auto ferme = [&] {
    if (copie) sqlite3_backup_finish(copie);  // rolls back what it did not finish
    sqlite3_close_v2(cible);
    sqlite3_close_v2(origine);
  };
  try {
    cible = OuvreConnexionMoteur(tenue.Chemin(), SQLITE_OPEN_READWRITE);
    copie = sqlite3_backup_init(cible, "main", origine, "main");
    if (!copie) throw sql::Traduit(cible, sqlite3_errcode(cible), sql::Operation::Ecriture, tenue.Chemin());
    tenue.Relache();
    if (apresRelache) apresRelache();
    // No page yet: the write lock is taken, and with it the file's state can no longer change.
    int rc = sqlite3_backup_step(copie, 0);
    if (rc != SQLITE_OK && rc != SQLITE_DONE) throw sql::Traduit(cible, rc, sql::Operation::Ecriture, tenue.Chemin());
    if (!tenue.Inchangee()) {
      ferme();
      return false;
    }
    rc = sqlite3_backup_step(copie, -1);
    if (rc != SQLITE_DONE) throw sql::Traduit(cible, rc, sql::Operation::Ecriture, tenue.Chemin());
    rc = sqlite3_backup_finish(copie);
    copie = nullptr;
    if (rc != SQLITE_OK) throw sql::Traduit(cible, rc, sql::Operation::Ecriture, tenue.Chemin());
  } catch (...) {
    ferme();
    throw;
  }
  ferme();
  return true;
}

bool TenueEcritures::Inchangee() const {
  std::optional<EtatFichier> maintenant = EtatDuFichier(chemin_, fd_);
  return maintenant && *maintenant == etat_;
}

TenueEcritures* TenueEcritures::De(const std::string& chemin) {
  struct stat s {};
  if (::stat(chemin.c_str(), &s) != 0) return nullptr;
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  for (TenueEcritures* t : TenuesEcritures())
    if (MemeFichier(t->fd_, s)) return t;
  return nullptr;
}

namespace {

// The run's byte, locked for writing where the file may be written, for reading otherwise: in
// both cases a test for a write lock meets it.
int TientPourRun(const std::string& chemin) {
  int fd = ::open(chemin.c_str(), O_RDWR | O_CLOEXEC);
  short type = F_WRLCK;
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC);
    type = F_RDLCK;
  }
  if (fd < 0) LeveOuverture(errno, chemin);
  if (Tenant(fd, OctetRun, 1) != 0 || !Verrouille(fd, type, OctetRun, 1)) {
    ::close(fd);
    throw EnUtilisation(chemin);
  }
  return fd;
}

}  // namespace

TenueRun::TenueRun(const std::string& chemin) : fd_(TientPourRun(chemin)) {
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  TenuesRun().push_back(this);
}

TenueRun::~TenueRun() {
  Retire(TenuesRun(), this);
  if (fd_ >= 0) ::close(fd_);
}

TenueDossier::TenueDossier(const std::string& dossier) {
  fd_ = ::open(dossier.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) LeveOuverture(errno, dossier);
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const bool tenu = errno == EWOULDBLOCK;
    ::close(fd_);
    fd_ = -1;
    // A file system without such locks cannot tell: the run goes on unheld.
    if (tenu) throw EnUtilisation(dossier);
  }
}

TenueDossier::~TenueDossier() {
  if (fd_ >= 0) ::close(fd_);
}

SuiteTenue::SuiteTenue(const std::string& cible, const std::string& nouveau) {
  struct stat s {};
  if (::stat(cible.c_str(), &s) != 0) return;
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  for (TenueRun* t : TenuesRun()) {
    if (!MemeFichier(t->fd_, s)) continue;
    int fd = -1;
    try {
      fd = TientPourRun(nouveau);
    } catch (const ErreurMoteur&) {
      continue;  // the new file cannot be held: the old one stays held until the rename
    }
    suites_.emplace_back(t, fd);
  }
}

SuiteTenue::~SuiteTenue() {
  for (auto& [tenue, fd] : suites_)
    if (fd >= 0) ::close(fd);
}

void SuiteTenue::Valide() {
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  for (auto& [tenue, fd] : suites_) {
    // The run may have ended meanwhile; its new descriptor is then simply closed.
    if (std::find(TenuesRun().begin(), TenuesRun().end(), tenue) == TenuesRun().end()) continue;
    ::close(tenue->fd_);
    tenue->fd_ = fd;
    fd = -1;
  }
}

bool FichierTenuAilleurs(const std::string& chemin) {
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool tenu = AutreQueNous(Tenant(fd, OctetPending, TailleShared + 2));
  ::close(fd);
  return tenu;
}

}  // namespace moteur

#include "common/Fichiers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "moteur/Erreurs.h"
#include "moteur/Injection.h"

namespace utireorg {
namespace {

Interruption& InterruptionCourante() {
  static Interruption interruption;
  return interruption;
}

void Interrompt(std::string_view etape, const std::string& chemin) {
  if (InterruptionCourante()) InterruptionCourante()(etape, chemin);
}

// The run-time numbers the stages know, from the system's cause.
[[noreturn]] void LeveSysteme(int cause, const std::string& chemin) {
  switch (cause) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: throw moteur::ErreurMoteur(moteur::err::DisquePlein);
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY: throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin});
    case ENOENT:
    case ENOTDIR: throw moteur::ErreurMoteur(53, "Fichier introuvable : '" + chemin + "'.");
    case EIO: throw moteur::ErreurMoteur(57, "Erreur d'entrée/sortie sur '" + chemin + "'.");
    default:
      throw moteur::ErreurMoteur(75, "Erreur d'accès au fichier '" + chemin + "' (" + std::strerror(cause) + ").");
  }
}

class Descripteur {
 public:
  explicit Descripteur(int fd = -1) : fd_(fd) {}
  ~Descripteur() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descripteur(const Descripteur&) = delete;
  Descripteur& operator=(const Descripteur&) = delete;
  int get() const { return fd_; }
  // A close that fails may mean data that never reached the disk: it is an error of the copy.
  int Ferme() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

int Ouvre(const std::string& chemin, int options, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(chemin.c_str(), options | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) LeveSysteme(errno, chemin);
  return fd;
}

void EcritTout(int fd, const char* donnees, std::size_t taille, const std::string& chemin) {
  while (taille > 0) {
    ssize_t ecrit = ::write(fd, donnees, taille);
    if (ecrit < 0) {
      if (errno == EINTR) continue;
      LeveSysteme(errno, chemin);
    }
    donnees += ecrit;
    taille -= static_cast<std::size_t>(ecrit);
  }
}

// Copies what is left of the source into the destination and flushes it.
void CopieContenu(int source, const std::string& cheminSource, int destination, const std::string& cheminDestination) {
  std::vector<char> tampon(1 << 20);
  for (;;) {
    ssize_t lu = ::read(source, tampon.data(), tampon.size());
    if (lu < 0) {
      if (errno == EINTR) continue;
      LeveSysteme(errno, cheminSource);
    }
    if (lu == 0) break;
    if (!moteur::injection::ConsommeOctets(static_cast<std::size_t>(lu))) LeveSysteme(ENOSPC, cheminDestination);
    EcritTout(destination, tampon.data(), static_cast<std::size_t>(lu), cheminDestination);
  }
  if (::fsync(destination) != 0) LeveSysteme(errno, cheminDestination);
}

void CopieOctets(const std::string& source, const std::string& destination) {
  Descripteur entree(Ouvre(source, O_RDONLY));
  Descripteur sortie(Ouvre(destination, O_WRONLY | O_CREAT | O_TRUNC, 0666));
  CopieContenu(entree.get(), source, sortie.get(), destination);
  if (sortie.Ferme() != 0) LeveSysteme(errno, destination);
}

std::string DossierDe(const std::string& chemin) {
  auto pos = chemin.find_last_of('/');
  if (pos == std::string::npos) return ".";
  return pos == 0 ? "/" : chemin.substr(0, pos);
}

void SynchroniseDossier(const std::string& dossier) {
  int fd = ::open(dossier.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems refuse it on folders; the rename is done all the same
  ::close(fd);
}

bool EnTeteDeBase(const std::string& chemin) {
  Descripteur fd(Ouvre(chemin, O_RDONLY));
  char entete[16] = {};
  ssize_t lu = ::pread(fd.get(), entete, sizeof entete, 0);
  return lu == static_cast<ssize_t>(sizeof entete) && std::memcmp(entete, "SQLite format 3", 16) == 0;
}

// A connection of the copy, closed whatever happens.
struct Connexion {
  sqlite3* db = nullptr;
  ~Connexion() {
    if (db) sqlite3_close_v2(db);
  }
};

enum class Issue { Faite, Illisible };

// A database file as a consistent copy saw it: which file it was, its size and date, and the
// engine's change counter, which every commit moves on.
struct EtatFichierBase {
  dev_t peripherique = 0;
  ino_t noeud = 0;
  off_t taille = 0;
  timespec date{};
  std::uint32_t compteur = 0;

  bool operator==(const EtatFichierBase& autre) const {
    return peripherique == autre.peripherique && noeud == autre.noeud && taille == autre.taille &&
           date.tv_sec == autre.date.tv_sec && date.tv_nsec == autre.date.tv_nsec && compteur == autre.compteur;
  }
};

// The sources of the consistent copies made by this process, by the path of the copy: putting a
// copy back over its source must not wipe out what another program wrote there in between.
struct CopieSuivie {
  std::string source;
  EtatFichierBase etat;
};
std::mutex verrouCopiesSuivies;
std::map<std::string, CopieSuivie>& CopiesSuivies() {
  static std::map<std::string, CopieSuivie> copies;
  return copies;
}

// Which file it is, its size and its date: for a file the engine cannot read (a Jet file, a damaged
// database), all there is to tell that another program wrote it; the engine's files add their
// change counter.
std::optional<EtatFichierBase> EtatParDate(const std::string& chemin) {
  struct stat etat {};
  if (::stat(chemin.c_str(), &etat) != 0) return std::nullopt;
  EtatFichierBase e;
  e.peripherique = etat.st_dev;
  e.noeud = etat.st_ino;
  e.taille = etat.st_size;
  e.date = etat.st_mtim;
  return e;
}

// The state of the file a connection holds locked: read through the connection's own file, since
// opening and closing another descriptor on it would drop the locks of the whole process.
std::optional<EtatFichierBase> EtatSousVerrou(sqlite3* db, const std::string& chemin) {
  sqlite3_file* fichier = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &fichier) != SQLITE_OK || !fichier ||
      !fichier->pMethods)
    return std::nullopt;
  unsigned char octets[4] = {};
  if (fichier->pMethods->xRead(fichier, octets, 4, 24) != SQLITE_OK) return std::nullopt;
  std::optional<EtatFichierBase> e = EtatParDate(chemin);
  if (!e) return std::nullopt;
  e->compteur = (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
                (std::uint32_t{octets[2]} << 8) | std::uint32_t{octets[3]};
  return e;
}

void SuitCopie(const std::string& source, const std::string& destination, const std::optional<EtatFichierBase>& etat) {
  std::lock_guard<std::mutex> verrou(verrouCopiesSuivies);
  if (etat) CopiesSuivies()[destination] = {source, *etat};
  else CopiesSuivies().erase(destination);
}

[[noreturn]] void LeveSqlite(sqlite3* db, int rc, const std::string& source, const std::string& destination) {
  int cause = db ? sqlite3_system_errno(db) : 0;
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {source});
    case SQLITE_FULL: throw moteur::ErreurMoteur(moteur::err::DisquePlein);
    case SQLITE_IOERR:
      if (cause == ENOSPC || cause == EDQUOT) throw moteur::ErreurMoteur(moteur::err::DisquePlein);
      throw moteur::ErreurMoteur(57, "Erreur d'entrée/sortie en copiant '" + source + "' vers '" + destination + "'.");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {destination});
    case SQLITE_CANTOPEN:
      if (cause != 0) LeveSysteme(cause, destination);
      break;
    default: break;
  }
  throw moteur::ErreurMoteur(75, "Copie de '" + source + "' impossible : " +
                                     (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) + ".");
}

Issue CopieParSauvegarde(const std::string& source, const std::string& destination) {
  moteur::injection::InstalleVfs();  // the copy's writes are charged like the engine's
  Connexion origine, copie;
  // Read-write, so that a journal left by an interrupted writer is rolled back first: what is
  // copied is then the last committed state. A write-protected file is opened for reading only.
  int rc = sqlite3_open_v2(source.c_str(), &origine.db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    if ((rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT) return Issue::Illisible;
    LeveSqlite(origine.db, rc, source, destination);
  }
  sqlite3_busy_timeout(origine.db, DelaiVerrouCopieMs);
  rc = sqlite3_open_v2(destination.c_str(), &copie.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) LeveSqlite(copie.db, rc, source, destination);
  sqlite3_busy_timeout(copie.db, DelaiVerrouCopieMs);

  // One read transaction around the copy: the state noted is the one the copy holds.
  rc = sqlite3_exec(origine.db, "BEGIN; SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    if ((rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT) return Issue::Illisible;
    LeveSqlite(origine.db, rc, source, destination);
  }
  std::optional<EtatFichierBase> etat = EtatSousVerrou(origine.db, source);
  sqlite3_backup* sauvegarde = sqlite3_backup_init(copie.db, "main", origine.db, "main");
  if (!sauvegarde) LeveSqlite(copie.db, sqlite3_errcode(copie.db), source, destination);
  rc = sqlite3_backup_step(sauvegarde, -1);
  sqlite3_backup_finish(sauvegarde);
  sqlite3_exec(origine.db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc == SQLITE_DONE) {
    int fermeture = sqlite3_close(copie.db);
    copie.db = nullptr;
    if (fermeture != SQLITE_OK) LeveSqlite(nullptr, fermeture, source, destination);
    SuitCopie(source, destination, etat);
    return Issue::Faite;
  }
  if ((rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT) return Issue::Illisible;
  // The step's number may belong to either side: the origin tells a lock, the copy a full disk.
  sqlite3* cote = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED ? origine.db : copie.db;
  LeveSqlite(cote, rc, source, destination);
}

// The database about to be replaced, held by this process so that no other may write it while
// it is swapped: a program that holds or writes it refuses the replacement (70), as the platform
// refuses to delete a file another program has open. A file that is not a readable database of
// the engine (foreign, damaged) is not held.
class VerrouRemplacement {
 public:
  explicit VerrouRemplacement(const std::string& chemin) : chemin_(chemin) {
    // Read before any connection is open: closing this descriptor would drop its locks.
    if (!EstFichier(chemin)) return;
    try {
      if (!EnTeteDeBase(chemin)) return;
    } catch (const moteur::ErreurMoteur&) {
      return;
    }
    if (sqlite3_open_v2(chemin.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      Ferme();
      return;
    }
    sqlite3_busy_timeout(db_, DelaiVerrouCopieMs);
    int rc = sqlite3_exec(db_, "BEGIN EXCLUSIVE; SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
      Ferme();
      throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin});
    }
    if (rc != SQLITE_OK) Ferme();
  }
  ~VerrouRemplacement() { Ferme(); }
  VerrouRemplacement(const VerrouRemplacement&) = delete;
  VerrouRemplacement& operator=(const VerrouRemplacement&) = delete;

  // A copy of this file made by CopieBaseCoherente goes back over it only if nobody wrote it
  // since: otherwise what was written would be lost (70).
  void VerifieInchangeDepuis(const std::string& copie) {
    std::optional<CopieSuivie> suivie;
    {
      std::lock_guard<std::mutex> verrou(verrouCopiesSuivies);
      auto it = CopiesSuivies().find(copie);
      if (it != CopiesSuivies().end()) suivie = it->second;
    }
    if (!suivie) return;
    std::optional<EtatFichierBase> maintenant = db_ ? EtatSousVerrou(db_, chemin_) : EtatParDate(chemin_);
    if (!maintenant || !(*maintenant == suivie->etat))
      throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin_});
  }

 private:
  void Ferme() {
    if (!db_) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  std::string chemin_;
  sqlite3* db_ = nullptr;
};

}  // namespace

bool EstErreurEspaceDisque(int numero) noexcept {
  switch (numero) {
    case 61:
    case 3026:
    case 3183:
    case 3469:
    case 3472:
    case 3559:
    case 3569:
    case 3575: return true;
    default: return false;
  }
}

std::string DossierTemporaire() {
  const char* variable = std::getenv("TMPDIR");
  std::string dossier;
  if (variable && *variable) {
    dossier = variable;
  } else {
    struct stat etat {};
    dossier = ::stat("/tmp", &etat) == 0 && S_ISDIR(etat.st_mode) ? "/tmp" : ".";
  }
  while (dossier.size() > 1 && dossier.back() == '/') dossier.pop_back();
  return dossier;
}

std::string CreeFichierUnique(const std::string& dossier, std::string_view prefixe) {
  std::string modele = (dossier.empty() ? std::string(".") : dossier);
  if (modele.back() != '/') modele += '/';
  for (char c : prefixe) modele += (c == '/' || c == '\0') ? '_' : c;
  modele += "XXXXXX";
  int fd = ::mkostemp(modele.data(), O_CLOEXEC);
  if (fd < 0) LeveSysteme(errno, modele);
  ::close(fd);
  return modele;
}

void CopieFichier(const std::string& source, const std::string& destination) {
  Interrompt("copie", destination);
  CopieOctets(source, destination);
}

void CopieBaseCoherente(const std::string& source, const std::string& destination) {
  // Noted before anything else: a write that lands during the byte copy below must show.
  std::optional<EtatFichierBase> avant = EtatParDate(source);
  Interrompt("copie", destination);
  if (EnTeteDeBase(source)) {
    if (CopieParSauvegarde(source, destination) == Issue::Faite) return;
    // The engine's attempt may have rolled back a journal left beside the file: its own write,
    // not another program's. The byte copy starts from what it left.
    avant = EtatParDate(source);
  }
  // Not a database the engine can read: the repair will want it exactly as it is. Without a
  // lock to take, a copy is consistent only if the file did not change while it was read.
  ::unlink((destination + "-journal").c_str());
  CopieOctets(source, destination);
  const std::optional<EtatFichierBase> apres = EtatParDate(source);
  if (!avant || !apres || !(*avant == *apres)) {
    SupprimeFichier(destination);
    throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {source});
  }
  SuitCopie(source, destination, avant);
}

std::string CreeTemporaireVoisin(const std::string& chemin) {
  std::string nom = chemin + std::string(MarqueTemporaire) + "XXXXXX";
  int fd = ::mkostemp(nom.data(), O_CLOEXEC);
  if (fd < 0) LeveSysteme(errno, chemin);
  ::close(fd);
  return nom;
}

VerrouTemporaire::VerrouTemporaire(const std::string& chemin) {
  fd_ = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

VerrouTemporaire::~VerrouTemporaire() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

// Six characters of mkstemp's alphabet after the mark, and nothing more.
bool EstNomTemporaire(std::string_view nom, std::string_view prefixe) {
  if (nom.size() != prefixe.size() + 6 || nom.substr(0, prefixe.size()) != prefixe) return false;
  for (char c : nom.substr(prefixe.size()))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// A minute untouched: a writer between the creation of its file and its lock, or one whose lock
// another system does not share, is never taken for a dead one.
constexpr time_t AgeRestesSecondes = 60;

bool SupprimeSiAbandonne(const std::string& chemin) {
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat etat {};
  bool supprime = false;
  if (::fstat(fd, &etat) == 0 && S_ISREG(etat.st_mode) && ::time(nullptr) - etat.st_mtime >= AgeRestesSecondes &&
      ::flock(fd, LOCK_EX | LOCK_NB) == 0)
    supprime = ::unlink(chemin.c_str()) == 0;
  ::close(fd);
  return supprime;
}

}  // namespace

int SupprimeRestesInterrompus(const std::string& chemin) noexcept {
  try {
    const std::string dossier = DossierDe(chemin);
    const std::string prefixe = chemin.substr(chemin.find_last_of('/') + 1) + std::string(MarqueTemporaire);
    std::vector<std::string> restes;
    if (DIR* d = ::opendir(dossier.c_str())) {
      while (const dirent* e = ::readdir(d))
        if (EstNomTemporaire(e->d_name, prefixe)) restes.push_back(dossier + "/" + e->d_name);
      ::closedir(d);
    }
    int supprimes = 0;
    for (const auto& reste : restes) supprimes += SupprimeSiAbandonne(reste) ? 1 : 0;
    return supprimes;
  } catch (...) {
    return 0;
  }
}

void RemplaceFichier(const std::string& source, const std::string& destination) {
  // Through a link, the file it points to is replaced and the link kept.
  std::string cible = destination;
  if (char* reel = ::realpath(destination.c_str(), nullptr)) {
    cible = reel;
    std::free(reel);
  }
  mode_t droits;
  struct stat etat {};
  if (::stat(cible.c_str(), &etat) == 0) {
    droits = etat.st_mode & 07777;
  } else {
    mode_t masque = ::umask(0);
    ::umask(masque);
    droits = 0666 & ~masque;
  }

  SupprimeRestesInterrompus(cible);
  std::string temporaire = cible + std::string(MarqueTemporaire) + "XXXXXX";
  Descripteur sortie(::mkostemp(temporaire.data(), O_CLOEXEC));
  if (sortie.get() < 0) LeveSysteme(errno, cible);
  VerrouTemporaire verrouTemporaire(temporaire);
  try {
    Interrompt("copie", temporaire);
    ::fchmod(sortie.get(), droits);  // mkostemp gives 0600; failing that, the owner keeps access
    {
      Descripteur entree(Ouvre(source, O_RDONLY));
      CopieContenu(entree.get(), source, sortie.get(), temporaire);
    }
    if (sortie.Ferme() != 0) LeveSysteme(errno, temporaire);
    Interrompt("remplacement", cible);
    VerrouRemplacement verrou(cible);
    verrou.VerifieInchangeDepuis(source);
    if (::rename(temporaire.c_str(), cible.c_str()) != 0) LeveSysteme(errno, cible);
  } catch (...) {
    ::unlink(temporaire.c_str());
    throw;
  }
  SynchroniseDossier(DossierDe(cible));
}

bool EstFichier(const std::string& chemin) noexcept {
  struct stat etat {};
  return !chemin.empty() && ::stat(chemin.c_str(), &etat) == 0 && S_ISREG(etat.st_mode);
}

bool SupprimeFichier(const std::string& chemin) noexcept {
  if (chemin.empty()) return true;
  return ::unlink(chemin.c_str()) == 0 || errno == ENOENT;
}

void DefinitInterruption(Interruption interruption) { InterruptionCourante() = std::move(interruption); }

bool EcritToutDescripteur(int fd, const char* donnees, std::size_t taille) noexcept {
  while (taille > 0) {
    ssize_t ecrit = ::write(fd, donnees, taille);
    if (ecrit < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    donnees += ecrit;
    taille -= static_cast<std::size_t>(ecrit);
  }
  return true;
}

bool LitToutDescripteur(int fd, char* donnees, std::size_t taille, off_t position) noexcept {
  while (taille > 0) {
    ssize_t lu = ::pread(fd, donnees, taille, position);
    if (lu < 0 && errno == EINTR) continue;
    if (lu <= 0) return false;
    donnees += lu;
    taille -= static_cast<std::size_t>(lu);
    position += lu;
  }
  return true;
}

}  // namespace utireorg

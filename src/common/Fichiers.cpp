#include "common/Fichiers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "moteur/Erreurs.h"
#include "moteur/Injection.h"
#include "moteur/Moteur.h"
#include "moteur/Tenue.h"
#include "texte/Texte.h"

namespace utireorg {
namespace {

Interruption& InterruptionCourante() {
  static Interruption interruption;
  return interruption;
}

void Interrompt(std::string_view etape, const std::string& chemin) {
  if (InterruptionCourante()) InterruptionCourante()(etape, chemin);
}

// False when the interruption makes the removal of the path fail, as a file system that refuses
// it would.
bool SuppressionPermise(const std::string& chemin) noexcept {
  try {
    Interrompt("suppression", chemin);
    return true;
  } catch (...) {
    return false;
  }
}

// The run-time numbers the stages know, from the system's cause.
[[noreturn]] void LeveSysteme(int cause, const std::string& chemin) {
  switch (cause) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: throw moteur::ErreurMoteur(moteur::err::DisquePlein);
    // Rights are not another process: the user must know which one to look at.
    case EACCES:
    case EPERM:
      throw moteur::ErreurMoteur(moteur::err::FichierUtilise,
                                 "Accès refusé au fichier '" + chemin + "' : les droits sur ce fichier ou sur son dossier ne le permettent pas.");
    case EROFS:
      throw moteur::ErreurMoteur(moteur::err::FichierUtilise, "Accès refusé au fichier '" + chemin + "' : le disque est protégé en écriture.");
    case ETXTBSY:
    case EBUSY: throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin});
    case ENOENT:
    case ENOTDIR: throw moteur::ErreurMoteur(53, "Fichier introuvable : '" + chemin + "'.");
    case EIO: throw moteur::ErreurMoteur(57, "Erreur d'entrée/sortie sur '" + chemin + "'.");
    default:
      throw moteur::ErreurMoteur(75, "Erreur d'accès au fichier '" + chemin + "' (" + TexteErreurSysteme(cause) + ").");
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

// Flushing a copy of a large database lasts longer than a window may stay frozen: the flush runs
// beside, and the window lives meanwhile. Answers as fsync does.
int SynchroniseEnVivant(int fd) {
  std::atomic<bool> fini{false};
  int resultat = 0, erreur = 0;
  std::thread fil;
  try {
    fil = std::thread([&] {
      resultat = ::fsync(fd);
      erreur = errno;
      fini = true;
    });
  } catch (const std::system_error&) {
    return ::fsync(fd);  // no second thread to be had
  }
  while (!fini) {
    moteur::Veille();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  fil.join();
  errno = erreur;
  return resultat;
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
    moteur::Veille();
    if (!moteur::injection::ConsommeOctets(static_cast<std::size_t>(lu))) LeveSysteme(ENOSPC, cheminDestination);
    EcritTout(destination, tampon.data(), static_cast<std::size_t>(lu), cheminDestination);
  }
  if (SynchroniseEnVivant(destination) != 0) LeveSysteme(errno, cheminDestination);
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

using EtatFichierBase = moteur::EtatFichier;

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

// Holds the database against writers for a copy: a writer in the middle of a transaction, or a
// program reading it (which would keep the copy from ever being put back), is waited for a
// moment, then the copy is refused with 70.
std::unique_ptr<moteur::TenueEcritures> TientPourCopie(const std::string& source) {
  const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(DelaiVerrouCopieMs);
  for (;;) {
    std::unique_ptr<moteur::TenueEcritures> tenue;
    try {
      tenue = std::make_unique<moteur::TenueEcritures>(source);
    } catch (const moteur::ErreurMoteur& e) {
      if (e.Number() != moteur::err::BaseEnUtilisation) throw;
    }
    if (tenue && !tenue->AutreProcessus()) return tenue;
    tenue.reset();
    if (std::chrono::steady_clock::now() >= limite) throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {source});
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
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
    base_ = true;
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
    // A database SQLite cannot read (damaged) is not held, but its copy noted its change counter
    // as well: it is read from the header, else every repaired copy would be refused.
    std::optional<EtatFichierBase> maintenant = db_     ? EtatSousVerrou(db_, chemin_)
                                                : base_ ? moteur::EtatDuFichier(chemin_)
                                                        : EtatParDate(chemin_);
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
  bool base_ = false;  // the file has the engine's header
  sqlite3* db_ = nullptr;
};

}  // namespace

bool EstAccesRefuse(int numero) noexcept {
  return numero == moteur::err::FichierUtilise || numero == moteur::err::AccesRefuse ||
         numero == moteur::err::LectureSeule || numero == moteur::err::LectureInterdite;
}

std::string ContexteAccesRefuse(int numero, const std::string& description) {
  return std::string(" (Accès refusé)") + (numero == moteur::err::FichierUtilise ? "@@" + description : std::string()) +
         "@@Vérifiez les droits sur le fichier nommé et sur son dossier,@puis tentez une nouvelle réorganisation.";
}

bool EstErreurEspaceDisque(int numero) noexcept {
  const auto& ensemble = moteur::err::EspaceDisqueInsuffisant;
  return std::find(std::begin(ensemble), std::end(ensemble), numero) != std::end(ensemble);
}

std::string TexteErreurSysteme(int code) {
  std::string texte;
  switch (code) {
    case ENOENT: texte = "fichier ou dossier introuvable"; break;
    case ENOTDIR: texte = "un élément du chemin n'est pas un dossier"; break;
    case EISDIR: texte = "c'est un dossier, pas un fichier"; break;
    case EACCES:
    case EPERM: texte = "accès refusé"; break;
    case ENOSPC: texte = "plus de place sur le disque"; break;
    case EDQUOT: texte = "quota de disque dépassé"; break;
    case EROFS: texte = "système de fichiers en lecture seule"; break;
    case EFBIG: texte = "fichier trop volumineux"; break;
    case EIO: texte = "erreur d'entrée/sortie"; break;
    case EBUSY:
    case ETXTBSY: texte = "fichier occupé par un autre programme"; break;
    case EEXIST: texte = "le fichier existe déjà"; break;
    case EMFILE:
    case ENFILE: texte = "trop de fichiers ouverts"; break;
    case ENAMETOOLONG: texte = "nom de fichier trop long"; break;
    case ELOOP: texte = "trop de liens symboliques"; break;
    case EXDEV: texte = "déplacement impossible d'un disque à un autre"; break;
    case EPIPE: texte = "la sortie a été fermée"; break;
    case ENOMEM: texte = "mémoire insuffisante"; break;
    default: texte = "erreur du système"; break;
  }
  return texte + " (erreur système " + std::to_string(code) + ")";
}

bool EstEnLectureSeule(const std::string& chemin) noexcept {
  struct stat etat {};
  if (::stat(chemin.c_str(), &etat) != 0) return false;
  if ((etat.st_mode & 0222) == 0) return true;
  return ::access(chemin.c_str(), W_OK) != 0 && (errno == EACCES || errno == EPERM || errno == EROFS);
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
  // Noted before anything else: a write that lands during a byte copy without a hold must show.
  const std::optional<EtatFichierBase> avant = EtatParDate(source);
  Interrompt("copie", destination);
  ::unlink((destination + "-journal").c_str());
  if (EnTeteDeBase(source)) {
    // The whole file, byte for byte, as its last commit left it: no writer can change it while
    // it is held, and what the hold noted tells later whether one wrote it since.
    std::unique_ptr<moteur::TenueEcritures> tenue = TientPourCopie(source);
    CopieOctets(source, destination);
    SuitCopie(source, destination, tenue->Etat());
    return;
  }
  // Not a database of the engine (a Jet file): its writers know nothing of the engine's locks, so
  // the copy is consistent only if the file did not change while it was read.
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

namespace {

// The lock files this process holds, by path: their descriptor keeps the flock.
std::mutex verrouTenus;
std::map<std::string, int>& Tenus() {
  static std::map<std::string, int> tenus;
  return tenus;
}

constexpr std::string_view ExtensionTenue = ".mdb";
constexpr std::size_t CaracteresAleatoires = 6;

// "utireorg-" + at most three characters with no "." nor "-" + six letters or digits.
bool EstNomVerrouTenu(std::string_view nom) {
  if (nom.size() < PrefixeTemporaireRun.size() + CaracteresAleatoires ||
      nom.substr(0, PrefixeTemporaireRun.size()) != PrefixeTemporaireRun)
    return false;
  std::string_view reste = nom.substr(PrefixeTemporaireRun.size());
  std::string_view etiquette = reste.substr(0, reste.size() - CaracteresAleatoires);
  if (etiquette.find_first_of(".-/") != std::string_view::npos || texte::NombreCaracteres(etiquette) > 3) return false;
  for (char c : reste.substr(reste.size() - CaracteresAleatoires))
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// The lock file a held path belongs to: itself, or the one its name begins with, before a "."
// or a "-"; empty when it belongs to none.
std::string VerrouDe(const std::string& chemin) {
  auto barre = chemin.find_last_of('/');
  std::string dossier = barre == std::string::npos ? std::string() : chemin.substr(0, barre + 1);
  std::string nom = barre == std::string::npos ? chemin : chemin.substr(barre + 1);
  for (std::size_t fin = nom.size(); fin > 0; --fin) {
    if (fin < nom.size() && nom[fin] != '.' && nom[fin] != '-') continue;
    if (EstNomVerrouTenu(std::string_view(nom).substr(0, fin))) return dossier + nom.substr(0, fin);
  }
  return {};
}

// The files of a folder named after a lock file ("<verrou>." or "<verrou>-" followed by anything).
std::vector<std::string> FichiersDuGroupe(const std::string& dossier, const std::string& nomVerrou) {
  std::vector<std::string> fichiers;
  if (DIR* d = ::opendir(dossier.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      std::string_view nom = e->d_name;
      if (nom.size() > nomVerrou.size() && nom.substr(0, nomVerrou.size()) == nomVerrou &&
          (nom[nomVerrou.size()] == '.' || nom[nomVerrou.size()] == '-'))
        fichiers.push_back(dossier + "/" + std::string(nom));
    }
    ::closedir(d);
  }
  return fichiers;
}

bool MemeNoeud(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The lock file is taken before anything is written in its group, and kept only if it is still
// the file of that name once held: a run that removed it as a leftover in between leaves the name
// to a new attempt.
std::string CreeVerrouTenu(const std::string& dossier, std::string_view etiquette) {
  for (int essai = 0;; ++essai) {
    std::string modele = (dossier.empty() ? std::string(".") : dossier);
    if (modele.back() != '/') modele += '/';
    modele += PrefixeTemporaireRun;
    for (char c : etiquette) modele += (c == '/' || c == '.' || c == '-' || c == '\0') ? '_' : c;
    modele += "XXXXXX";
    int fd = ::mkostemp(modele.data(), O_CLOEXEC);
    if (fd < 0) LeveSysteme(errno, modele);
    struct stat tenu {}, present {};
    if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &tenu) == 0 && ::stat(modele.c_str(), &present) == 0 &&
        MemeNoeud(tenu, present)) {
      std::lock_guard<std::mutex> verrou(verrouTenus);
      Tenus()[modele] = fd;
      return modele;
    }
    ::close(fd);
    if (essai >= 10) LeveSysteme(EBUSY, modele);
  }
}

void RelacheVerrou(const std::string& verrou) noexcept {
  int fd = -1;
  {
    std::lock_guard<std::mutex> garde(verrouTenus);
    auto it = Tenus().find(verrou);
    if (it == Tenus().end()) return;
    fd = it->second;
    Tenus().erase(it);
  }
  // Removed while still held: no other run can take the name for a leftover meanwhile.
  ::unlink(verrou.c_str());
  ::close(fd);
}

std::string NomDuChemin(const std::string& chemin) { return chemin.substr(chemin.find_last_of('/') + 1); }

// Short enough for any file system, long enough to tell whose copy it is.
constexpr std::size_t LongueurNomCoupe = 100;

// The first bytes of a name, at most `octets` of them, never cutting a character in two.
std::string DebutNom(const std::string& nom, std::size_t octets) {
  if (nom.size() <= octets) return nom;
  while (octets > 0 && texte::EstSuiteUtf8(nom[octets])) --octets;
  return nom.substr(0, octets);
}

}  // namespace

std::string CreeTemporaireTenu(const std::string& dossier, std::string_view etiquette) {
  std::string verrou = CreeVerrouTenu(dossier, etiquette);
  std::string chemin = verrou + std::string(ExtensionTenue);
  int fd = ::open(chemin.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    int cause = errno;
    RelacheVerrou(verrou);
    LeveSysteme(cause, chemin);
  }
  ::close(fd);
  return chemin;
}

bool LibereTemporaire(const std::string& chemin) noexcept {
  try {
    const std::string verrou = VerrouDe(chemin);
    bool tenu = false;
    if (!verrou.empty()) {
      std::lock_guard<std::mutex> garde(verrouTenus);
      tenu = Tenus().count(verrou) > 0;
    }
    if (!tenu) return SuppressionPermise(chemin) && SupprimeFichier(chemin);
    if (SuppressionPermise(chemin))
      for (const auto& fichier : FichiersDuGroupe(DossierDe(verrou), NomDuChemin(verrou))) ::unlink(fichier.c_str());
    RelacheVerrou(verrou);
    return !EstFichier(chemin);
  } catch (...) {
    return SuppressionPermise(chemin) && SupprimeFichier(chemin);
  }
}

std::string SortDesTemporaires(const std::string& chemin, const std::string& nom) noexcept {
  try {
    const std::string verrou = VerrouDe(chemin);
    if (verrou.empty()) return chemin;
    const std::string aleatoire = verrou.substr(verrou.size() - CaracteresAleatoires);
    // Never over another file: the name is new, or the copy stays where it is. A name too long for
    // the folder is cut rather than left in the group, where a later run would delete the copy.
    std::string nouveau;
    for (std::size_t octets : {nom.size(), LongueurNomCoupe}) {
      nouveau = DossierDe(chemin) + "/" + DebutNom(nom, octets) + "-" + aleatoire + std::string(ExtensionTenue);
      if (::renameat2(AT_FDCWD, chemin.c_str(), AT_FDCWD, nouveau.c_str(), RENAME_NOREPLACE) == 0) break;
      if (errno != ENAMETOOLONG || octets == LongueurNomCoupe) return chemin;
    }
    ::renameat2(AT_FDCWD, (chemin + "-journal").c_str(), AT_FDCWD, (nouveau + "-journal").c_str(), RENAME_NOREPLACE);
    LibereTemporaire(chemin);
    return nouveau;
  } catch (...) {
    return chemin;
  }
}

std::vector<std::string> SupprimeTemporairesAbandonnes(const std::string& dossier,
                                                       const std::vector<std::string>& epargnes) noexcept {
  std::vector<std::string> supprimes;
  // What is left now is left for a later run: removing it is never worth failing the caller.
  moteur::IgnoreEchec("a leftover kept now is removed by a later run", [&] {
    std::vector<struct stat> aEpargner;
    for (const auto& chemin : epargnes) {
      struct stat e {};
      if (!chemin.empty() && ::stat(chemin.c_str(), &e) == 0) aEpargner.push_back(e);
    }
    std::vector<std::string> verrous;
    if (DIR* d = ::opendir(dossier.c_str())) {
      while (const dirent* e = ::readdir(d))
        if (EstNomVerrouTenu(e->d_name)) verrous.emplace_back(e->d_name);
      ::closedir(d);
    }
    for (const auto& nomVerrou : verrous) {
      const std::string verrou = dossier + "/" + nomVerrou;
      {
        std::lock_guard<std::mutex> garde(verrouTenus);
        if (Tenus().count(verrou)) continue;  // this process's own
      }
      int fd = ::open(verrou.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (fd < 0) continue;
      struct stat tenu {
      }, present{};
      // Held by its run, or no longer the file of that name: not a leftover.
      if (::fstat(fd, &tenu) != 0 || !S_ISREG(tenu.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
          ::stat(verrou.c_str(), &present) != 0 || !MemeNoeud(tenu, present)) {
        ::close(fd);
        continue;
      }
      const std::vector<std::string> groupe = FichiersDuGroupe(dossier, nomVerrou);
      bool epargne = false;
      for (const auto& fichier : groupe) {
        struct stat e {};
        if (::stat(fichier.c_str(), &e) != 0) continue;
        for (const auto& a : aEpargner) epargne = epargne || MemeNoeud(a, e);
      }
      if (!epargne) {
        for (const auto& fichier : groupe)
          if (::unlink(fichier.c_str()) == 0) supprimes.push_back(fichier);
        ::unlink(verrou.c_str());
      }
      ::close(fd);
    }
  });
  return supprimes;
}

bool MemeFichier(const std::string& a, const std::string& b) noexcept {
  struct stat ea {}, eb {};
  return !a.empty() && !b.empty() && ::stat(a.c_str(), &ea) == 0 && ::stat(b.c_str(), &eb) == 0 && MemeNoeud(ea, eb);
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
  const bool existe = ::stat(cible.c_str(), &etat) == 0;
  if (existe) {
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
    // Another user's file stays his when this process may give it to him, or at least his group's.
    if (existe && ::fchown(sortie.get(), etat.st_uid, etat.st_gid) != 0)
      (void)!::fchown(sortie.get(), static_cast<uid_t>(-1), etat.st_gid);
    ::fchmod(sortie.get(), droits);  // mkostemp gives 0600; failing that, the owner keeps access
    {
      Descripteur entree(Ouvre(source, O_RDONLY));
      CopieContenu(entree.get(), source, sortie.get(), temporaire);
    }
    if (sortie.Ferme() != 0) LeveSysteme(errno, temporaire);
    Interrompt("remplacement", cible);
    std::optional<VerrouRemplacement> verrou;
    if (const moteur::TenueEcritures* tenue = moteur::TenueEcritures::De(cible)) {
      // The stage that read the file has held it since: no other program wrote it meanwhile nor
      // is writing it now. It must still be the very file that was read.
      if (!tenue->Inchangee()) throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {cible});
    } else {
      verrou.emplace(cible);
      verrou->VerifieInchangeDepuis(source);
    }
    moteur::SuiteTenue suite(cible, temporaire);
    if (::rename(temporaire.c_str(), cible.c_str()) != 0) LeveSysteme(errno, cible);
    suite.Valide();
  } catch (...) {
    ::unlink(temporaire.c_str());
    throw;
  }
  SynchroniseDossier(DossierDe(cible));
}

bool RemetBaseEnPlace(moteur::TenueEcritures& tenue, const std::string& source) {
  Interrompt("copie", tenue.Chemin());
  Interrompt("remplacement", tenue.Chemin());
  // One call that copies the whole file and syncs it: the window lives on meanwhile.
  bool remise = false;
  moteur::TravailDelegue(
      [&] { remise = moteur::RemetEnPlace(tenue, source, [&] { Interrompt("relache", tenue.Chemin()); }); });
  return remise;
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

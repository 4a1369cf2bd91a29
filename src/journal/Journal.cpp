#include "common/Fichiers.h"
#include "journal/Journal.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "common/Ansi.h"
#include "common/Horodatage.h"
#include "moteur/Erreurs.h"
#include "texte/Texte.h"

extern char** environ;

namespace utireorg {
namespace {

const char* const NomFichier = "Analyse.txt";
const char* const FinDeLigne = "\r\n";
constexpr std::size_t LargeurChamp = Journal::LargeurCadre - 6;  // between "** " and " **"

// The pad is taken from the whole frame width, not from the field, so the text sits a little
// right of centre and long texts lose their end: readers of older journals know this layout.
// Widths are counted in characters as the reader sees them, not in UTF-8 bytes.
std::string LigneCadree(const std::string& texte, const std::string& bord) {
  std::size_t longueur = texte::NombreCaracteres(texte);
  std::string champ;
  if (longueur > LargeurChamp) {
    champ = texte;
  } else {
    std::size_t reste = Journal::LargeurCadre - longueur;
    std::size_t marge = reste / 2;
    if (reste % 2 == 1 && marge % 2 == 1) ++marge;  // a half goes to the even neighbour
    std::string blancs(marge, ' ');
    champ = texte::PremiersCaracteres(blancs + texte + blancs, LargeurChamp);
  }
  return bord + " " + champ + " " + bord;
}

}  // namespace

Journal::Journal() = default;

Journal::Journal(InterfaceFenetre& fenetre) : fenetre_(&fenetre) {}

Journal::~Journal() { FermetureJournal(); }

InterfaceFenetre* Journal::Fenetre() const { return fenetre_ ? fenetre_ : FenetreCourante(); }

bool Journal::OuvertureJournal() {
  FermetureJournal();
  chemin_ = prefixe_ + NomFichier;
  // Appending mode keeps every write at the end even if another program grew the file, and the
  // descriptor must not leak into the viewer started later.
  int fichier;
  do {
    fichier = ::open(chemin_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  } while (fichier < 0 && errno == EINTR);
  if (fichier < 0) {
    erreurOuverture_ = std::error_code(errno, std::generic_category());
    return false;
  }
  erreurOuverture_.clear();
  erreurEcriture_ = 0;
  fichier_ = fichier;
  return true;
}

void Journal::OuvertureSansFichier() {
  FermetureJournal();
  sansFichier_ = true;
}

void Journal::FermetureJournal() {
  sansFichier_ = false;
  if (fichier_ < 0) return;
  ::close(fichier_);
  fichier_ = -1;
}

void Journal::EcritureJournal(const std::string& texte, bool horodate) noexcept {
  if (!EstOuvert()) return;
  std::string ligne;
  try {
    ligne = (horodate ? Horodatage() + " " : std::string()) + texte + FinDeLigne;
  } catch (...) {
    return;  // not even the line could be built
  }
  if (fichier_ >= 0) {
    bool ecrite = false;
    try {
      ecrite = EcritFichier(VersAnsi(ligne));
    } catch (...) {
      errno = ENOMEM;
    }
    if (!ecrite && !erreurEcriture_) erreurEcriture_ = errno != 0 ? errno : EIO;
  }
  moteur::IgnoreEchec("the line is in the file: the window only shows it", [&] {
    if (InterfaceFenetre* fenetre = Fenetre()) fenetre->AjouteAuJournal(ligne);
  });
}

bool Journal::EcritFichier(const std::string& ligneAnsi) {
  struct stat etat;
  if (::fstat(fichier_, &etat) == 0 && etat.st_size > TailleMaximale && Tronque(etat.st_size, ligneAnsi)) return true;
  errno = 0;
  return EcritToutDescripteur(fichier_, ligneAnsi.data(), ligneAnsi.size());
}

// Builds the shortened journal beside the old one and puts it in place in one step, so that a
// failure at any point (full disk, read-only folder) leaves the old journal whole rather than
// losing it: the line is then simply appended to the old file.
bool Journal::Tronque(long long longueur, const std::string& ligneAnsi) {
  std::string contenu(static_cast<std::size_t>(TailleConservee), '\0');
  if (!LitToutDescripteur(fichier_, contenu.data(), contenu.size(), static_cast<off_t>(longueur - TailleConservee))) return false;
  contenu += ligneAnsi;

  std::string modele = chemin_ + ".XXXXXX";
  int nouveau = ::mkostemp(modele.data(), O_CLOEXEC);
  if (nouveau < 0) return false;
  struct stat etat;
  if (::fstat(fichier_, &etat) == 0) ::fchmod(nouveau, etat.st_mode & 07777);  // mkostemp gives 0600
  bool reussi = EcritToutDescripteur(nouveau, contenu.data(), contenu.size()) && ::fsync(nouveau) == 0 &&
                ::rename(modele.c_str(), chemin_.c_str()) == 0;
  if (!reussi) {
    ::close(nouveau);
    ::unlink(modele.c_str());
    return false;
  }
  int options = ::fcntl(nouveau, F_GETFL);
  if (options != -1) ::fcntl(nouveau, F_SETFL, options | O_APPEND);
  ::close(fichier_);
  fichier_ = nouveau;
  return true;
}

void Journal::TitreJournal(const std::string& texte) {
  std::string etoiles(LargeurCadre, '*');
  EcritureJournal(etoiles);
  EcritureJournal(LigneCadree(texte, "**"));
  EcritureJournal(etoiles);
}

void Journal::SectionJournal(const std::string& texte) {
  std::string tirets(LargeurCadre, '-');
  EcritureJournal("");
  EcritureJournal(tirets);
  EcritureJournal(LigneCadree(texte, "--"));
  EcritureJournal(tirets);
  EcritureJournal("");
}

void Journal::AffichageAvancement(const std::string& etape, const std::string& detail) {
  InterfaceFenetre* fenetre = Fenetre();
  if (!fenetre) return;
  fenetre->Legendes(etape, detail);
  fenetre->LaisseVivre(true);
}

bool Journal::VisuRapport() const {
  if (chemin_.empty()) return false;
  const char* choisi = std::getenv("UTIREORG_EDITEUR");
  std::string programme = choisi && *choisi ? choisi : "xdg-open";
  std::string chemin = chemin_;
  char* arguments[] = {programme.data(), chemin.data(), nullptr};

  // The viewer must not inherit what this process blocks or ignores.
  posix_spawnattr_t attributs;
  if (posix_spawnattr_init(&attributs) != 0) return false;
  sigset_t vide, defaut;
  sigemptyset(&vide);
  sigemptyset(&defaut);
  sigaddset(&defaut, SIGPIPE);
  sigaddset(&defaut, SIGXFSZ);
  sigaddset(&defaut, SIGCHLD);
  posix_spawnattr_setsigmask(&attributs, &vide);
  posix_spawnattr_setsigdefault(&attributs, &defaut);
  posix_spawnattr_setflags(&attributs, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  int erreur = posix_spawnp(&pid, programme.c_str(), nullptr, &attributs, arguments, environ);
  posix_spawnattr_destroy(&attributs);
  if (erreur != 0) return false;

  // Nobody waits for the viewer; a detached waiter collects its exit so that it leaves no
  // zombie, whatever else the program does with its children.
  moteur::IgnoreEchec("without a thread the viewer still runs: only its exit stays uncollected", [pid] {
    std::thread([pid] {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  });
  return true;
}

}  // namespace utireorg

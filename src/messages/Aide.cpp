#include "messages/Aide.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "common/InterfaceFenetre.h"
#include "messages/AfficheMessage.h"
#include "moteur/Erreurs.h"

extern char** environ;

namespace utireorg {
namespace {

std::string& Dossier() {
  static std::string dossier;
  return dossier;
}

void Pointe(PointeurSouris pointeur) noexcept {
  moteur::IgnoreEchec("the pointer's shape only tells that help is coming", [&] {
    if (InterfaceFenetre* fenetre = FenetreCourante()) fenetre->Pointeur(pointeur);
  });
}

// Starts the program without a shell, so that no character of the folder is interpreted, and
// detaches it from the terminal's signals: help stays open when the program is stopped.
bool Lance(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawnattr_t attributs;
  if (posix_spawnattr_init(&attributs) != 0) return false;
  sigset_t vide, parDefaut;
  sigemptyset(&vide);
  sigemptyset(&parDefaut);
  for (int signal : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaddset(&parDefaut, signal);
  posix_spawnattr_setsigmask(&attributs, &vide);
  posix_spawnattr_setsigdefault(&attributs, &parDefaut);
  posix_spawnattr_setpgroup(&attributs, 0);
  posix_spawnattr_setflags(&attributs, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  int resultat = posix_spawn(&pid, argv[0], nullptr, &attributs, argv.data(), environ);
  posix_spawnattr_destroy(&attributs);
  if (resultat != 0) return false;

  // A help program that cannot show anything (no guide, no display) gives up at once, and only
  // on its error output, which nobody sees from the desktop: its failure is the window's to tell.
  // One still running after the wait is showing its page, or has handed it to the browser.
  constexpr auto DelaiEchec = std::chrono::milliseconds(800);
  const auto limite = std::chrono::steady_clock::now() + DelaiEchec;
  for (;;) {
    int etat = 0;
    pid_t fini = ::waitpid(pid, &etat, WNOHANG);
    if (fini == pid) return WIFEXITED(etat) && WEXITSTATUS(etat) == 0;
    if (fini < 0 && errno != EINTR) return true;
    if (std::chrono::steady_clock::now() >= limite) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Nobody waits for help to close; this reaps it when it does.
  moteur::IgnoreEchec("without a thread, help still runs: only its exit stays uncollected", [pid] {
    std::thread([pid] {
      int etat;
      while (::waitpid(pid, &etat, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  });
  return true;
}

}  // namespace

const std::string& DossierModele() { return Dossier(); }
void DefinitDossierModele(std::string dossier) { Dossier() = std::move(dossier); }

std::string ProgrammeAideDepuis(const std::string& dossierProgramme) {
  const std::filesystem::path dossier = dossierProgramme;
  // Beside the program in the build tree; installed, among the package's own helper programs.
  const std::filesystem::path installe = dossier / "../libexec/utireorg/hlp";
  if (::access(installe.c_str(), X_OK) == 0 && ::access((dossier / "hlp").c_str(), X_OK) != 0)
    return installe.lexically_normal().string();
  return (dossier / "hlp").string();
}

std::string ProgrammeAide() {
  if (const char* programme = std::getenv("UTIREORG_AIDE"); programme && *programme) return programme;
  std::error_code erreur;
  return ProgrammeAideDepuis(std::filesystem::read_symlink("/proc/self/exe", erreur).parent_path().string());
}

void AfficheAide(std::optional<long> contexteAideFormulaire, std::optional<long> contexte) noexcept {
  Pointe(PointeurSouris::Sablier);
  if (contexteAideFormulaire) {
    bool lance = false;
    moteur::IgnoreEchec("help not started is told just below", [&] {
      std::vector<std::string> arguments{ProgrammeAide(), "/D:\"" + DossierModele() + "\""};
      if (contexte)
        arguments.push_back("/P:" + std::to_string(*contexte));
      else if (*contexteAideFormulaire != 0)
        arguments.push_back("/P:" + std::to_string(*contexteAideFormulaire));
      lance = Lance(arguments);
    });
    if (!lance) AfficheMessage("i#Impossible d'ouvrir le fichier d'aide.", std::string("Aide"));
  }
  Pointe(PointeurSouris::Normal);
}

}  // namespace utireorg

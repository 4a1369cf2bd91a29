#include "hlp/Hlp.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "texte/Texte.h"

extern char** environ;

namespace hlp {
namespace fs = std::filesystem;

namespace {

// Help context of the main window, also given to the confirmation of a run.
constexpr long ContexteFenetrePrincipale = 6080;

bool CommencePar(const std::string& argument, const std::string& debut) {
  return argument.size() >= debut.size() &&
         texte::MemeNom(argument.substr(0, debut.size()), debut, texte::Pliage::Ascii);
}

std::string SansGuillemets(std::string texte) {
  if (texte.size() >= 2 && texte.front() == '"' && texte.back() == '"') return texte.substr(1, texte.size() - 2);
  if (!texte.empty() && texte.front() == '"') return texte.substr(1);
  return texte;
}

std::optional<long> Nombre(const std::string& texte) {
  if (texte.empty()) return std::nullopt;
  char* fin = nullptr;
  errno = 0;
  long valeur = std::strtol(texte.c_str(), &fin, 10);
  // Contexts are numbered from 1.
  if (errno != 0 || *fin != '\0' || valeur <= 0) return std::nullopt;
  return valeur;
}

bool EstGuide(const fs::path& dossier) {
  std::error_code erreur;
  return !dossier.empty() && fs::is_regular_file(dossier / "index.html", erreur);
}

}  // namespace

Arguments LitArguments(const std::vector<std::string>& arguments) {
  Arguments lus;
  for (const std::string& argument : arguments) {
    if (CommencePar(argument, "/D:")) {
      lus.dossierDonnees = SansGuillemets(argument.substr(3));
    } else if (CommencePar(argument, "/P:")) {
      lus.contexte = Nombre(argument.substr(3));
      if (!lus.contexte)
        lus.avertissements.push_back("contexte d'aide non valide : « " + argument.substr(3) + " » (sommaire affiché)");
    } else if (argument == "--fenetre") {
      lus.fenetre = true;
    } else if (argument == "--chemin") {
      lus.chemin = true;
    } else if (argument == "-h" || argument == "--help" || argument == "--aide") {
      lus.aide = true;
    } else {
      lus.avertissements.push_back("argument ignoré : « " + argument + " »");
    }
  }
  return lus;
}

std::string PageDuContexte(std::optional<long> contexte) {
  if (contexte == ContexteFenetrePrincipale) return "fenetre.html";
  return "index.html";
}

std::string LieuGuide(const std::string& dossierProgramme) {
  if (const char* guide = std::getenv("UTIREORG_GUIDE"); guide && *guide)
    return "« " + std::string(guide) + " » (nommé par UTIREORG_GUIDE)";
  return "« " + fs::weakly_canonical(fs::path(dossierProgramme) / "../../share/utireorg/aide").string() + " »";
}

std::string DossierGuide(const std::string& dossierProgramme) {
  if (const char* guide = std::getenv("UTIREORG_GUIDE"); guide && *guide) return EstGuide(guide) ? guide : "";
  const fs::path ici = dossierProgramme;
  for (const fs::path& candidat : {ici / "../../share/utireorg/aide", ici / "../share/utireorg/aide",
#ifdef UTIREORG_GUIDE_SOURCES
                                   ici / UTIREORG_GUIDE_SOURCES
#endif
       }) {
    if (EstGuide(candidat)) return fs::weakly_canonical(candidat).string();
  }
  return {};
}

Ouverture ChoisitOuverture(bool fenetreDemandee, bool affichage, bool xdgOpen, bool plateformeQt) {
  if (affichage && xdgOpen && !fenetreDemandee) return Ouverture::Navigateur;
  if (affichage || plateformeQt) return Ouverture::Fenetre;
  return Ouverture::Impossible;
}

bool AffichageDisponible() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"})
    if (const char* valeur = std::getenv(variable); valeur && *valeur) return true;
  return false;
}

bool PlateformeQtDefinie() {
  const char* valeur = std::getenv("QT_QPA_PLATFORM");
  return valeur && *valeur;
}

std::optional<std::string> TrouveDansPath(const std::string& programme) {
  const char* path = std::getenv("PATH");
  if (!path) return std::nullopt;
  std::string liste = path;
  std::size_t debut = 0;
  while (debut <= liste.size()) {
    std::size_t fin = liste.find(':', debut);
    std::string dossier = liste.substr(debut, fin == std::string::npos ? std::string::npos : fin - debut);
    if (!dossier.empty()) {
      fs::path candidat = fs::path(dossier) / programme;
      if (::access(candidat.c_str(), X_OK) == 0) return candidat.string();
    }
    if (fin == std::string::npos) break;
    debut = fin + 1;
  }
  return std::nullopt;
}

bool OuvreDansLeNavigateur(const std::string& xdgOpen, const std::string& adresse) {
  std::vector<char*> argv{const_cast<char*>(xdgOpen.c_str()), const_cast<char*>(adresse.c_str()), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, xdgOpen.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  int etat = 0;
  while (::waitpid(pid, &etat, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(etat) && WEXITSTATUS(etat) == 0;
}

}  // namespace hlp

#include "common/Chemins.h"

#include <glob.h>
#include <sys/stat.h>

namespace utireorg {
namespace {

bool EstBlanc(std::string_view texte) {
  return texte.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// glob(3) would also read "[", "]" and "\" as pattern syntax: a file named "base [copie].bd"
// must still be found by its own name.
std::string MotifGlob(std::string_view chemin) {
  std::string motif;
  motif.reserve(chemin.size());
  for (char c : chemin) {
    if (c == '[' || c == ']' || c == '\\') motif += '\\';
    motif += c;
  }
  return motif;
}

}  // namespace

std::string Dossier(std::string_view chemin) {
  if (EstBlanc(chemin)) return {};
  if (chemin.find('.') == std::string_view::npos) return std::string(chemin);
  auto separateur = chemin.rfind('/');
  if (separateur == std::string_view::npos) return {};
  return std::string(chemin.substr(0, separateur + 1));
}

std::string NomFichier(std::string_view chemin) {
  if (EstBlanc(chemin)) return {};
  auto separateur = chemin.rfind('/');
  if (separateur == std::string_view::npos) return std::string(chemin);
  return std::string(chemin.substr(separateur + 1));
}

std::string DossierParent(std::string_view chemin) {
  if (EstBlanc(chemin)) return {};
  auto dernier = chemin.rfind('/');
  if (dernier == std::string_view::npos || dernier == 0) return {};
  auto avantDernier = chemin.rfind('/', dernier - 1);
  if (avantDernier == std::string_view::npos) return {};
  return std::string(chemin.substr(0, avantDernier + 1));
}

bool FichierExiste(std::string_view chemin) {
  if (chemin.empty()) return false;
  std::string motif = MotifGlob(chemin);
  glob_t trouves{};
  // GLOB_PERIOD: a wildcard also matches names beginning with ".", as users expect of "*".
  int rc = ::glob(motif.c_str(), GLOB_NOSORT | GLOB_PERIOD, nullptr, &trouves);
  bool existe = false;
  if (rc == 0) {
    for (std::size_t i = 0; i < trouves.gl_pathc && !existe; ++i) {
      struct stat etat {};
      if (::stat(trouves.gl_pathv[i], &etat) == 0 && !S_ISDIR(etat.st_mode)) existe = true;
    }
  }
  ::globfree(&trouves);
  return existe;
}

}  // namespace utireorg

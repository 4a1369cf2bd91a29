#include "common/Registre.h"
#include "texte/Texte.h"

#include <charconv>
#include <cstdlib>
#include <fstream>

namespace utireorg {
namespace {

// What the 255-character buffer of the registry read holds, its terminating zero left out.
constexpr std::size_t LongueurValeurMax = 254;

std::string_view Elague(std::string_view texte) {
  auto debut = texte.find_first_not_of(" \t\r\n");
  if (debut == std::string_view::npos) return {};
  auto fin = texte.find_last_not_of(" \t\r\n");
  return texte.substr(debut, fin - debut + 1);
}

// The registry ignores the case of key and value names (ASCII is all its names use here).
bool MemeNom(std::string_view a, std::string_view b) { return texte::MemeNom(a, b, texte::Pliage::Ascii); }

// A root key becomes a file name: nothing in it may lead out of the store's folder.
bool RacineValide(std::string_view racine) {
  return !racine.empty() && racine != "." && racine != ".." && racine.find('/') == std::string_view::npos &&
         racine.find('\0') == std::string_view::npos;
}

}  // namespace

std::string DossierRegistre() {
  const char* dossier = std::getenv("UTIREORG_REGISTRE");
  if (dossier && *dossier) return dossier;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/utireorg/registre";
  const char* maison = std::getenv("HOME");
  return std::string(maison && *maison ? maison : ".") + "/.config/utireorg/registre";
}

std::string LitRegistre(std::string_view racine, std::string_view sousCle, std::string_view nomValeur,
                        std::string_view defaut) {
  std::string resultat(defaut);
  if (!RacineValide(racine)) return resultat;
  std::ifstream fichier(DossierRegistre() + "/" + std::string(racine) + ".ini", std::ios::binary);
  if (!fichier) return resultat;

  bool dansSection = false;
  std::string ligne;
  while (std::getline(fichier, ligne)) {
    std::string_view l = Elague(ligne);
    if (l.empty() || l.front() == ';' || l.front() == '#') continue;
    if (l.front() == '[') {
      auto fin = l.rfind(']');
      dansSection = fin != std::string_view::npos && MemeNom(Elague(l.substr(1, fin - 1)), sousCle);
      continue;
    }
    if (!dansSection) continue;
    auto egal = l.find('=');
    if (egal == std::string_view::npos || !MemeNom(Elague(l.substr(0, egal)), nomValeur)) continue;
    std::string_view valeur = Elague(l.substr(egal + 1));
    // Quotes keep the blanks at either end of a value.
    if (valeur.size() >= 2 && valeur.front() == '"' && valeur.back() == '"') valeur = valeur.substr(1, valeur.size() - 2);
    return texte::PremiersCaracteres(valeur, LongueurValeurMax);
  }
  return resultat;
}

int VersionIE() {
  std::string version = LitRegistre("HKEY_LOCAL_MACHINE", "SOFTWARE\\Microsoft\\Internet Explorer", "Version");
  std::string_view texte = Elague(version);
  if (texte.empty()) texte = "0.0.0.0";
  texte = Elague(texte.substr(0, texte.find('.')));
  int majeure = 0;
  auto [fin, ec] = std::from_chars(texte.data(), texte.data() + texte.size(), majeure);
  if (ec != std::errc() || fin != texte.data() + texte.size()) return 0;
  return majeure;
}

bool IEVersionCorrecte() { return VersionIE() >= 5; }

bool VerifieIE(const std::function<void(std::string_view texte)>& afficheMessage) {
  bool correcte = IEVersionCorrecte();
  if (!correcte && afficheMessage) afficheMessage(MessageVersionIE);
  return correcte;
}

}  // namespace utireorg

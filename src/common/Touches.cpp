#include "common/Touches.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "common/LigneDeCommande.h"
#include "texte/Texte.h"

namespace utireorg {
namespace {

struct NomTouche {
  int code;
  std::string_view nom;
};

constexpr NomTouche nomsFonction[] = {
    {CodeTouche::Echap, "ECHAP ESCAPE"},
    {113, "F2"},
    {114, "F3"},
    {115, "F4"},
    {116, "F5"},
    {117, "F6"},
    {118, "F7"},
    {119, "F8"},
    {120, "F9"},
    {CodeTouche::F10, "F10"},
    {122, "F11"},
    {123, "F12"},
    {CodeTouche::Entree, "ENTREE ENTRÉE"},
    {CodeTouche::PavePlus, "+"},
    {CodeTouche::PaveMoins, "-"},
};

// F1 to F16 are read by rule, in CodeToucheNommee.
constexpr NomTouche nomsEntreAccolades[] = {
    {CodeTouche::Retour, "BACKSPACE"},
    {CodeTouche::Retour, "BS"},
    {CodeTouche::Retour, "BKSP"},
    {CodeTouche::Pause, "BREAK"},
    {CodeTouche::VerrMaj, "CAPSLOCK"},
    {CodeTouche::Suppr, "DEL"},
    {CodeTouche::Suppr, "DELETE"},
    {CodeTouche::Bas, "DOWN"},
    {CodeTouche::Fin, "END"},
    {CodeTouche::Entree, "ENTER"},
    {CodeTouche::Echap, "ESC"},
    {CodeTouche::Echap, "ESCAPE"},
    {CodeTouche::Aide, "HELP"},
    {CodeTouche::Debut, "HOME"},
    {CodeTouche::Inser, "INSERT"},
    {CodeTouche::Gauche, "LEFT"},
    {CodeTouche::VerrNum, "NUMLOCK"},
    {CodeTouche::PageSuivante, "PGDN"},
    {CodeTouche::PagePrecedente, "PGUP"},
    {CodeTouche::ImprimeEcran, "PRTSC"},
    {CodeTouche::Droite, "RIGHT"},
    {CodeTouche::VerrDefil, "SCROLLLOCK"},
    {CodeTouche::Tabulation, "TAB"},
    {CodeTouche::Haut, "UP"},
};

std::string_view Rogne(std::string_view texte) {
  const auto blancs = " \t\r\n";
  auto debut = texte.find_first_not_of(blancs);
  if (debut == std::string_view::npos) return {};
  auto fin = texte.find_last_not_of(blancs);
  return texte.substr(debut, fin - debut + 1);
}

bool EstChiffre(char c) { return c >= '0' && c <= '9'; }

// Parses a number filling the whole text; no infinities or NaN, which no count can use.
std::optional<double> NombreComplet(std::string_view texte, bool prefixeSeulement) {
  if (!texte.empty() && texte.front() == '+') texte.remove_prefix(1);
  if (texte.empty() || texte.front() == '+') return std::nullopt;
  double valeur = 0;
  auto [fin, erreur] = std::from_chars(texte.data(), texte.data() + texte.size(), valeur);
  if (erreur != std::errc() || !std::isfinite(valeur)) return std::nullopt;
  if (!prefixeSeulement && fin != texte.data() + texte.size()) return std::nullopt;
  return valeur;
}

class Analyseur {
 public:
  explicit Analyseur(std::vector<EvenementTouche>& sortie) : sortie_(sortie) {}

  // Returns false when an unclosed "{" or "(" stopped the reading.
  bool Lit(std::string_view texte) {
    bool complet = true;
    std::size_t i = 0;
    while (i < texte.size()) {
      char c = texte[i];
      if (c == '%' || c == '+' || c == '^') {
        AppuieModificateur(c == '%' ? CodeTouche::Alt
                                    : c == '+' ? CodeTouche::Majuscule : CodeTouche::Controle);
        ++i;
        continue;
      }
      if (c == '{') {
        auto fin = texte.find('}', i + 1);
        if (fin == std::string_view::npos) {
          complet = false;
          break;
        }
        ToucheNommee(texte.substr(i + 1, fin - i - 1));
        RelacheModificateurs();
        i = fin + 1;
        continue;
      }
      if (c == '(') {
        auto fin = texte.find(')', i + 1);
        if (fin == std::string_view::npos) {
          complet = false;
          break;
        }
        // The group keeps the pending modifiers down; its own modifiers are its own business.
        Analyseur groupe(sortie_);
        bool groupeComplet = groupe.Lit(texte.substr(i + 1, fin - i - 1));
        RelacheModificateurs();
        if (!groupeComplet) {
          complet = false;
          break;
        }
        i = fin + 1;
        continue;
      }
      i += Caractere(texte.substr(i));
      RelacheModificateurs();
    }
    // Nothing may stay held down once the text is done, whatever its end looked like.
    RelacheModificateurs();
    return complet;
  }

 private:
  void AppuieModificateur(int code) {
    for (int m : enAttente_)
      if (m == code) return;
    enAttente_.push_back(code);
    sortie_.push_back({code, true});
  }

  void RelacheModificateurs() {
    for (int m : enAttente_) sortie_.push_back({m, false});
    enAttente_.clear();
  }

  void Presse(int code) {
    sortie_.push_back({code, true});
    sortie_.push_back({code, false});
  }

  void ToucheNommee(std::string_view contenu) {
    contenu = Rogne(contenu);
    std::string_view nom = contenu;
    long repetitions = 1;
    auto espace = contenu.find(' ');
    if (espace != std::string_view::npos) {
      nom = contenu.substr(0, espace);
      double valeur = ValeurNumerique(contenu.substr(espace + 1));
      // A count counts whole presses: "{TAB 2,5}" presses Tab twice.
      repetitions = valeur < 1 ? 0
                    : valeur > RepetitionMaximale ? RepetitionMaximale
                                                  : static_cast<long>(std::floor(valeur));
    }
    auto code = CodeToucheNommee(nom);
    if (!code) return;
    for (long k = 0; k < repetitions; ++k) Presse(*code);
  }

  // Presses the key of the character at the start of the text; returns its length in bytes.
  std::size_t Caractere(std::string_view texte) {
    auto octet = static_cast<unsigned char>(texte[0]);
    if (octet >= 0x80) {
      // Accented and other non-ASCII characters have no key code of their own.
      std::size_t longueur = 1;
      while (longueur < texte.size() && texte::EstSuiteUtf8(texte[longueur])) ++longueur;
      return longueur;
    }
    if (octet >= 'a' && octet <= 'z') {
      Presse(octet - 'a' + 'A');
    } else if ((octet >= 'A' && octet <= 'Z') || EstChiffre(static_cast<char>(octet)) ||
               octet == ' ') {
      Presse(octet);
    }
    return 1;
  }

  std::vector<EvenementTouche>& sortie_;
  std::vector<int> enAttente_;
};

}  // namespace

std::string MajusculesUtf8(std::string_view texte) { return texte::Majuscules(texte, texte::Pliage::Lettres); }

std::optional<std::string_view> NomToucheFonction(int code) {
  for (const auto& t : nomsFonction)
    if (t.code == code) return t.nom;
  return std::nullopt;
}

bool IndiceCorrespond(std::string_view indice, int code) {
  auto nom = NomToucheFonction(code);
  if (!nom) return false;
  std::string cherche = MajusculesUtf8(Rogne(indice));
  if (cherche.empty()) return false;
  // "F1" lies inside "F10", "F11" and "F12": a hint ending in a digit must not be read as the
  // start of a longer number, or F10 would press the button meant for F1.
  for (auto pos = nom->find(cherche); pos != std::string_view::npos;
       pos = nom->find(cherche, pos + 1)) {
    auto apres = pos + cherche.size();
    if (EstChiffre(cherche.back()) && apres < nom->size() && EstChiffre((*nom)[apres])) continue;
    return true;
  }
  return false;
}

std::string TexteDeLegende(std::string_view legende) {
  return std::string(legende.substr(0, legende.find(';')));
}

std::string IndiceDeLegende(std::string_view legende) {
  auto pos = legende.find(';');
  if (pos == std::string_view::npos) return {};
  return MajusculesUtf8(Rogne(legende.substr(pos + 1)));
}

std::optional<int> CodeToucheNommee(std::string_view nom) {
  std::string cherche = MajusculesUtf8(Rogne(nom));
  if (cherche.empty()) return std::nullopt;
  for (const auto& t : nomsEntreAccolades)
    if (t.nom == cherche) return t.code;
  if (cherche.size() >= 2 && cherche.size() <= 3 && cherche[0] == 'F') {
    int numero = 0;
    auto [fin, erreur] = std::from_chars(cherche.data() + 1, cherche.data() + cherche.size(), numero);
    if (erreur == std::errc() && fin == cherche.data() + cherche.size() && cherche[1] != '0' &&
        numero >= 1 && numero <= 16)
      return CodeTouche::F1 + numero - 1;
  }
  return std::nullopt;
}

std::vector<EvenementTouche> AnalyseTouches(std::string_view texte) {
  std::vector<EvenementTouche> sortie;
  Analyseur(sortie).Lit(texte);
  return sortie;
}

double ValeurNumerique(std::string_view texte) {
  auto rogne = Rogne(texte);
  if (auto valeur = NombreComplet(rogne, false)) return *valeur;
  std::string avecPoint(rogne);
  if (auto virgule = avecPoint.find(','); virgule != std::string::npos) avecPoint[virgule] = '.';
  if (auto valeur = NombreComplet(avecPoint, true)) return *valeur;
  return 0;
}

int DetecteurSequence::Touche(int code, bool majuscule, bool controle, bool alt) {
  if (!majuscule && !controle && !alt) {
    tampon_.clear();
    return 0;
  }
  if (!(majuscule && controle) || code <= 0 || code > 255) return 0;
  tampon_ += static_cast<char>(code);
  if (tampon_.size() > LongueurMaximale) tampon_.erase(0, tampon_.size() - LongueurMaximale);

  auto finitPar = [this](std::string_view fin) {
    return tampon_.size() >= fin.size() &&
           std::string_view(tampon_).substr(tampon_.size() - fin.size()) == fin;
  };
  int mode = 0;
  if (finitPar(MotMode1)) {
    mode = 1;
  } else if (finitPar(MotMode2)) {
    mode = 2;
  } else if (tampon_.back() == LettreMode3 && LigneDeCommandeContient("AUTOTEST")) {
    mode = 3;
  }
  // A report opened once must not open again on the next key of a longer word.
  if (mode != 0) tampon_.clear();
  return mode;
}

}  // namespace utireorg

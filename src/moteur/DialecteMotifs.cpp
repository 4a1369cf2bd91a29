// LIKE patterns of the dialect turned into SQLite's: * ? and plain characters become a LIKE
// pattern; a digit wildcard (#) or a character list ([a-z], [!0-9]) needs GLOB, which is
// case-sensitive, so every ASCII letter of a GLOB pattern is given in both cases.
//
// Design: a pattern is first cut into elements, then written out; a pattern that cannot be
// rendered (an unclosed list, a range written backwards) gives nothing and the caller refuses
// the statement. Patterns come from the lexer and are valid UTF-8.
#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>

#include "moteur/DialecteInterne.h"

namespace moteur::dialecte::interne {
namespace {

uint32_t PointDeCode(std::string_view car) {
  std::size_t i = 0;
  char32_t cp;
  texte::LitCaractere(car, i, cp);
  return cp;
}

struct ElementMotif {
  enum Genre { Caractere, Suite, Un, Chiffre, Liste } genre;
  std::string caractere;
  bool inverse = false;
  std::vector<std::pair<std::string, std::string>> plages;  // single characters have first == second
};

std::optional<std::vector<ElementMotif>> DecoupeMotif(std::string_view m) {
  std::vector<ElementMotif> elements;
  size_t i = 0;
  auto suivant = [&]() {
    const size_t n = std::min(texte::LongueurSequence(static_cast<unsigned char>(m[i])), m.size() - i);
    std::string car(m.substr(i, n));
    i += n;
    return car;
  };
  while (i < m.size()) {
    const std::string car = suivant();
    if (car == "*") {
      elements.push_back({ElementMotif::Suite, {}, false, {}});
    } else if (car == "?") {
      elements.push_back({ElementMotif::Un, {}, false, {}});
    } else if (car == "#") {
      elements.push_back({ElementMotif::Chiffre, {}, false, {}});
    } else if (car == "[") {
      std::vector<std::string> contenu;
      bool ferme = false;
      while (i < m.size()) {
        std::string x = suivant();
        if (x == "]") {
          ferme = true;
          break;
        }
        contenu.push_back(std::move(x));
      }
      if (!ferme) return std::nullopt;
      if (contenu.empty()) continue;  // [] matches the zero-length string
      ElementMotif liste{ElementMotif::Liste, {}, false, {}};
      size_t k = 0;
      if (contenu[0] == "!" && contenu.size() > 1) {
        liste.inverse = true;
        k = 1;
      }
      for (; k < contenu.size(); ++k) {
        if (k + 2 < contenu.size() && contenu[k + 1] == "-") {
          if (PointDeCode(contenu[k]) > PointDeCode(contenu[k + 2])) return std::nullopt;
          liste.plages.emplace_back(contenu[k], contenu[k + 2]);
          k += 2;
        } else {
          liste.plages.emplace_back(contenu[k], contenu[k]);
        }
      }
      if (!liste.inverse && liste.plages.size() == 1 && liste.plages[0].first == liste.plages[0].second) {
        elements.push_back({ElementMotif::Caractere, liste.plages[0].first, false, {}});
      } else {
        elements.push_back(std::move(liste));
      }
    } else {
      elements.push_back({ElementMotif::Caractere, car, false, {}});
    }
  }
  return elements;
}

// A GLOB character list, written so that ']', '-' and '^' keep their literal
// meaning, and with both ASCII cases so that it matches like LIKE does.
std::string ListeGlob(const ElementMotif& e) {
  std::vector<std::string> simples;
  std::vector<std::pair<std::string, std::string>> plages;
  auto ajouteSimple = [&](const std::string& c) {
    if (std::find(simples.begin(), simples.end(), c) == simples.end()) simples.push_back(c);
  };
  for (const auto& [bas, haut] : e.plages) {
    if (bas == haut) {
      ajouteSimple(bas);
      if (bas.size() == 1 && EstLettreAscii(bas[0])) {
        ajouteSimple(std::string(1, MajusculeAscii(bas[0])));
        ajouteSimple(std::string(1, MinusculeAscii(bas[0])));
      }
      continue;
    }
    const uint32_t b = PointDeCode(bas), h = PointDeCode(haut);
    static constexpr std::string_view kDelicats = "]-^";
    if (kDelicats.find(bas) != std::string_view::npos || kDelicats.find(haut) != std::string_view::npos) {
      // GLOB would misread such an end, so its ASCII part is listed character by character.
      for (uint32_t p = b; p <= h && p < 0x80; ++p) ajouteSimple(std::string(1, static_cast<char>(p)));
      if (h >= 0x80) plages.emplace_back("\xC2\x80", haut);
    } else {
      plages.emplace_back(bas, haut);
    }
    for (auto [debut, fin, decalage] : {std::tuple{'a', 'z', 'A' - 'a'}, std::tuple{'A', 'Z', 'a' - 'A'}}) {
      const uint32_t lo = std::max<uint32_t>(b, static_cast<uint32_t>(debut));
      const uint32_t hi = std::min<uint32_t>(h, static_cast<uint32_t>(fin));
      if (lo <= hi) {
        plages.emplace_back(std::string(1, static_cast<char>(lo + decalage)),
                            std::string(1, static_cast<char>(hi + decalage)));
      }
    }
  }
  std::string r = e.inverse ? "[^" : "[";
  for (const char* special : {"]", "-"}) {
    if (std::find(simples.begin(), simples.end(), special) != simples.end()) r += special;
  }
  for (const auto& c : simples) {
    if (c != "]" && c != "-" && c != "^") r += c;
  }
  for (const auto& [bas, haut] : plages) r += bas + "-" + haut;
  if (std::find(simples.begin(), simples.end(), "^") != simples.end()) r += "^";
  r += "]";
  return r;
}

}  // namespace

std::optional<Motif> TraduitMotif(std::string_view motif) {
  auto elements = DecoupeMotif(motif);
  if (!elements) return std::nullopt;
  Motif r;
  r.glob = std::any_of(elements->begin(), elements->end(), [](const ElementMotif& e) {
    return e.genre == ElementMotif::Chiffre || e.genre == ElementMotif::Liste;
  });
  for (const auto& e : *elements) {
    switch (e.genre) {
      case ElementMotif::Suite: r.texte += r.glob ? "*" : "%"; break;
      case ElementMotif::Un: r.texte += r.glob ? "?" : "_"; break;
      case ElementMotif::Chiffre: r.texte += "[0-9]"; break;
      case ElementMotif::Liste: r.texte += ListeGlob(e); break;
      case ElementMotif::Caractere:
        if (!r.glob) {
          if (e.caractere == "%" || e.caractere == "_" || e.caractere == "\\") {
            r.texte += '\\';
            r.echappe = true;
          }
          r.texte += e.caractere;
        } else if (e.caractere == "*" || e.caractere == "?" || e.caractere == "[") {
          r.texte += "[" + e.caractere + "]";
        } else if (e.caractere.size() == 1 && EstLettreAscii(e.caractere[0])) {
          r.texte += {'[', MinusculeAscii(e.caractere[0]), MajusculeAscii(e.caractere[0]), ']'};
        } else {
          r.texte += e.caractere;
        }
        break;
    }
  }
  return r;
}

}  // namespace moteur::dialecte::interne

#include "journal/TexteValeur.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/Ansi.h"
#include "texte/Texte.h"

namespace utireorg {
namespace {

std::string CodePoint(char32_t c) {
  char tampon[16];
  std::snprintf(tampon, sizeof tampon, "<U+%04X>", static_cast<unsigned>(c));
  return tampon;
}

// The shortest text that reads back to the same double, with the French decimal comma.
std::string ReelEntier(double d) {
  if (!std::isfinite(d)) return moteur::Valeur(d).EnTexte();
  char tampon[64];
  auto [fin, ec] = std::to_chars(tampon, tampon + sizeof tampon, d);
  std::string texte(tampon, ec == std::errc() ? fin : tampon);
  for (char& c : texte)
    if (c == '.') c = ',';
  return texte;
}

}  // namespace

std::string EchappeJournal(std::string_view utf8) {
  std::string texte;
  texte.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      if (c == '\r') texte += "<CR>";
      else if (c == '\n') texte += "<LF>";
      else if (c == '<') texte += "<<";
      else if (c < 0x20 && c != '\t') texte += CodePoint(c);
      else texte += static_cast<char>(c);
      ++i;
      continue;
    }
    // A byte that is no UTF-8 stands by its own value.
    const std::size_t debut = i;
    char32_t point;
    const bool valide = texte::LitCaractere(utf8, i, point);
    const std::string_view sequence = utf8.substr(debut, i - debut);
    // What the code page holds is written as it is; the rest by its code point.
    const bool lisible = valide && point >= 0xA0 && VersAnsi(sequence) != "?";
    texte += lisible ? std::string(sequence) : CodePoint(point);
  }
  return texte;
}

std::string TexteJournal(const moteur::Valeur& valeur) {
  return EchappeJournal(valeur.genre() == moteur::Valeur::Genre::Reel ? ReelEntier(valeur.reel()) : valeur.EnTexte());
}

std::string TexteValeurJournal(const moteur::Valeur& valeur) {
  return valeur.EstNulOuVide() ? "Null" : "'" + TexteJournal(valeur) + "'";
}

}  // namespace utireorg

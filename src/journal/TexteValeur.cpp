#include "journal/TexteValeur.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/Ansi.h"

namespace utireorg {
namespace {

// Length of the UTF-8 sequence starting with this byte; 1 for a byte that starts none.
std::size_t LongueurSequence(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

char32_t PointDeCode(std::string_view sequence) {
  const auto octet = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(sequence[i])); };
  switch (sequence.size()) {
    case 2: return ((octet(0) & 0x1F) << 6) | (octet(1) & 0x3F);
    case 3: return ((octet(0) & 0x0F) << 12) | ((octet(1) & 0x3F) << 6) | (octet(2) & 0x3F);
    case 4: return ((octet(0) & 0x07) << 18) | ((octet(1) & 0x3F) << 12) | ((octet(2) & 0x3F) << 6) | (octet(3) & 0x3F);
    default: return octet(0);
  }
}

bool SequenceValide(std::string_view sequence) {
  for (std::size_t i = 1; i < sequence.size(); ++i)
    if ((static_cast<unsigned char>(sequence[i]) & 0xC0) != 0x80) return false;
  return true;
}

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
    std::size_t longueur = LongueurSequence(c);
    if (i + longueur > utf8.size() || !SequenceValide(utf8.substr(i, longueur))) longueur = 1;
    const std::string_view sequence = utf8.substr(i, longueur);
    const char32_t point = longueur == 1 ? static_cast<char32_t>(c) : PointDeCode(sequence);
    // What the code page holds is written as it is; the rest by its code point.
    const bool lisible = longueur > 1 && point >= 0xA0 && VersAnsi(sequence) != "?";
    texte += lisible ? std::string(sequence) : CodePoint(point);
    i += longueur;
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

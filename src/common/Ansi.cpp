#include "common/Ansi.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace utireorg {
namespace {

std::string Convertit(std::string_view texte, const char* vers, const char* depuis, char remplacement) {
  iconv_t cd = iconv_open(vers, depuis);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(texte);
  std::string sortie;
  std::vector<char> tampon(texte.size() * 4 + 16);
  char* entree = const_cast<char*>(texte.data());
  std::size_t reste = texte.size();
  while (reste > 0) {
    char* ecrit = tampon.data();
    std::size_t place = tampon.size();
    std::size_t r = iconv(cd, &entree, &reste, &ecrit, &place);
    sortie.append(tampon.data(), ecrit);
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // A character the other side cannot hold: replace it and step over its bytes.
      sortie += remplacement;
      std::size_t saut = 1;
      if (std::string_view(depuis) == "UTF-8") {
        while (saut < reste && (static_cast<unsigned char>(entree[saut]) & 0xC0) == 0x80) ++saut;
      }
      entree += saut;
      reste -= saut;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return sortie;
}

}  // namespace

std::string VersAnsi(std::string_view utf8) { return Convertit(utf8, "CP1252", "UTF-8", '?'); }
std::string DepuisAnsi(std::string_view ansi) { return Convertit(ansi, "UTF-8", "CP1252", '?'); }

namespace {

std::string Echappement(const char* format, unsigned valeur) {
  char texte[16];
  std::snprintf(texte, sizeof texte, format, valeur);
  return texte;
}

// Length of the UTF-8 sequence at "i" and its code point; 0 when the bytes are no such sequence.
std::size_t SequenceUtf8(std::string_view texte, std::size_t i, unsigned& point) {
  const auto octet = [&](std::size_t k) { return static_cast<unsigned char>(texte[k]); };
  const unsigned premier = octet(i);
  std::size_t longueur = premier < 0x80           ? 1
                         : (premier >> 5) == 0x6  ? 2
                         : (premier >> 4) == 0xE  ? 3
                         : (premier >> 3) == 0x1E ? 4
                                                  : 0;
  if (longueur == 0 || i + longueur > texte.size()) return 0;
  point = longueur == 1 ? premier : premier & (0x7F >> longueur);
  for (std::size_t k = 1; k < longueur; ++k) {
    if ((octet(i + k) & 0xC0) != 0x80) return 0;
    point = (point << 6) | (octet(i + k) & 0x3F);
  }
  static const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < minimum[longueur] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return longueur;
}

}  // namespace

std::string NomPourJournal(std::string_view nom) {
  std::string sortie;
  for (std::size_t i = 0; i < nom.size();) {
    unsigned point = 0;
    const std::size_t longueur = SequenceUtf8(nom, i, point);
    if (longueur == 0 || point < 0x20 || point == 0x7F) {
      sortie += Echappement("\\x%02X", static_cast<unsigned char>(nom[i]));
      ++i;
      continue;
    }
    const std::string_view caractere = nom.substr(i, longueur);
    if (caractere == "\\")
      sortie += "\\\\";  // so that a name holding "\x0A" itself is not read as an escape
    else if (caractere == "?" || VersAnsi(caractere) != "?")
      sortie += caractere;
    else
      sortie += Echappement("\\u{%X}", point);
    i += longueur;
  }
  return sortie;
}

}  // namespace utireorg

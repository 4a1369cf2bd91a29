#include "common/Ansi.h"
#include "texte/Texte.h"

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
        while (saut < reste && texte::EstSuiteUtf8(entree[saut])) ++saut;
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

}  // namespace

std::string NomPourJournal(std::string_view nom) {
  std::string sortie;
  for (std::size_t i = 0; i < nom.size();) {
    const std::size_t debut = i;
    char32_t point = 0;
    if (!texte::LitCaractere(nom, i, point) || point < 0x20 || point == 0x7F) {
      sortie += Echappement("\\x%02X", static_cast<unsigned char>(nom[debut]));
      i = debut + 1;
      continue;
    }
    const std::string_view caractere = nom.substr(debut, i - debut);
    if (caractere == "\\")
      sortie += "\\\\";  // so that a name holding "\x0A" itself is not read as an escape
    else if (caractere == "?" || VersAnsi(caractere) != "?")
      sortie += caractere;
    else
      sortie += Echappement("\\u{%X}", static_cast<unsigned>(point));
  }
  return sortie;
}

}  // namespace utireorg

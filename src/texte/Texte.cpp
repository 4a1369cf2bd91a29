#include "texte/Texte.h"

#include <cstdint>

namespace texte {
namespace {

// Each character through the change, bytes that are no UTF-8 kept as they are.
template <typename Change>
std::string ParCaractere(std::string_view texte, Change change) {
  std::string sortie;
  sortie.reserve(texte.size());
  for (std::size_t i = 0; i < texte.size();) {
    const std::size_t debut = i;
    char32_t cp;
    if (LitCaractere(texte, i, cp))
      EcritCaractere(change(cp), sortie);
    else
      sortie += texte[debut];
  }
  return sortie;
}

}  // namespace

bool EstSuiteUtf8(char octet) { return (static_cast<unsigned char>(octet) & 0xC0) == 0x80; }

std::size_t LongueurSequence(unsigned char tete) {
  if (tete >= 0xC2 && tete <= 0xDF) return 2;
  if (tete >= 0xE0 && tete <= 0xEF) return 3;
  if (tete >= 0xF0 && tete <= 0xF4) return 4;
  return 1;
}

bool LitCaractere(std::string_view texte, std::size_t& i, char32_t& cp) {
  const auto octet = [&](std::size_t k) { return static_cast<unsigned char>(texte[k]); };
  const unsigned char tete = octet(i);
  cp = tete;
  const std::size_t longueur = LongueurSequence(tete);
  if (tete < 0x80) {
    ++i;
    return true;
  }
  if (longueur == 1 || i + longueur > texte.size()) {
    ++i;
    return false;
  }
  static constexpr std::uint32_t Minimum[] = {0, 0, 0x80, 0x800, 0x10000};
  std::uint32_t valeur = tete & (0x7Fu >> longueur);
  for (std::size_t k = 1; k < longueur; ++k) {
    if (!EstSuiteUtf8(texte[i + k])) {
      ++i;
      return false;
    }
    valeur = (valeur << 6) | (octet(i + k) & 0x3F);
  }
  if (valeur < Minimum[longueur] || valeur > 0x10FFFF || (valeur >= 0xD800 && valeur <= 0xDFFF)) {
    ++i;
    return false;
  }
  i += longueur;
  cp = valeur;
  return true;
}

void EcritCaractere(char32_t cp, std::string& sortie) {
  if (cp < 0x80) {
    sortie += static_cast<char>(cp);
  } else if (cp < 0x800) {
    sortie += static_cast<char>(0xC0 | (cp >> 6));
    sortie += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    sortie += static_cast<char>(0xE0 | (cp >> 12));
    sortie += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    sortie += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    sortie += static_cast<char>(0xF0 | (cp >> 18));
    sortie += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    sortie += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    sortie += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t PremierOctetInvalide(std::string_view texte) {
  for (std::size_t i = 0; i < texte.size();) {
    const std::size_t debut = i;
    char32_t cp;
    if (!LitCaractere(texte, i, cp)) return debut;
  }
  return std::string_view::npos;
}

bool Utf8Valide(std::string_view texte) { return PremierOctetInvalide(texte) == std::string_view::npos; }

std::size_t NombreCaracteres(std::string_view texte) {
  std::size_t n = 0;
  for (char c : texte)
    if (!EstSuiteUtf8(c)) ++n;
  return n;
}

std::string PremiersCaracteres(std::string_view texte, std::size_t n) {
  std::size_t vus = 0;
  for (std::size_t i = 0; i < texte.size(); ++i)
    if (!EstSuiteUtf8(texte[i]) && vus++ == n) return std::string(texte.substr(0, i));
  return std::string(texte);
}

char MinusculeAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char MajusculeAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

char32_t Minuscule(char32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 32;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;
  if (cp == 0x178) return 0xFF;
  if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) return cp | 1;
  if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp & 1) ? cp + 1 : cp;
  if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 32;
  if (cp >= 0x410 && cp <= 0x42F) return cp + 32;
  return cp;
}

char32_t Majuscule(char32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 32;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 32;
  if (cp == 0xFF) return 0x178;
  if (cp == 0x153) return 0x152;
  return cp;
}

std::string PlieNom(std::string_view nom, Pliage pliage) {
  if (pliage == Pliage::Lettres) return ParCaractere(nom, Minuscule);
  std::string plie(nom);
  for (char& c : plie) c = MinusculeAscii(c);
  return plie;
}

bool MemeNom(std::string_view a, std::string_view b, Pliage pliage) {
  if (a == b) return true;
  if (pliage == Pliage::Ascii) return a.size() == b.size() && PlieNom(a, Pliage::Ascii) == PlieNom(b, Pliage::Ascii);
  return PlieNom(a) == PlieNom(b);
}

std::string Majuscules(std::string_view texte, Pliage pliage) {
  if (pliage == Pliage::Lettres) return ParCaractere(texte, Majuscule);
  std::string majuscules(texte);
  for (char& c : majuscules) c = MajusculeAscii(c);
  return majuscules;
}

namespace {

// The letter under the accent; the case is bit 0x20 in Latin-1 as in ASCII.
char32_t LettreSansAccent(char32_t cp) {
  if (cp < 0xC0 || cp > 0xFF) return cp;
  const char32_t minuscule = cp | 0x20;
  char32_t lettre;
  if (minuscule <= 0xE5)
    lettre = U'a';
  else if (minuscule == 0xE7)
    lettre = U'c';
  else if (minuscule >= 0xE8 && minuscule <= 0xEB)
    lettre = U'e';
  else if (minuscule >= 0xEC && minuscule <= 0xEF)
    lettre = U'i';
  else if (minuscule >= 0xF2 && minuscule <= 0xF6)
    lettre = U'o';
  else if (minuscule >= 0xF9 && minuscule <= 0xFC)
    lettre = U'u';
  else
    return cp;
  return (cp & 0x20) ? lettre : lettre - 0x20;
}

std::string Cite(std::string_view texte, char guillemet) {
  std::string cite;
  cite.reserve(texte.size() + 2);
  cite += guillemet;
  for (char c : texte) {
    if (c == guillemet) cite += guillemet;
    cite += c;
  }
  cite += guillemet;
  return cite;
}

}  // namespace

std::string CiteIdent(std::string_view nom) { return Cite(nom, '"'); }
std::string CiteLitteral(std::string_view texte) { return Cite(texte, '\''); }

std::string SansAccents(std::string_view texte) { return ParCaractere(texte, LettreSansAccent); }

std::string CiteCrochets(std::string_view nom) {
  std::string cite;
  cite.reserve(nom.size() + 2);
  cite += '[';
  cite += nom;
  cite += ']';
  return cite;
}

}  // namespace texte

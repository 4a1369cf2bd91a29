#include "moteur/Noms.h"

#include "moteur/Erreurs.h"

namespace moteur {
namespace {


// Lower case for the Latin letters a French or European name may hold.
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

}  // namespace

bool LitCaractere(std::string_view s, std::size_t& i, char32_t& cp) {
  auto octet = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = octet(i);
  cp = c;
  if (c < 0x80) {
    ++i;
    return true;
  }
  int suite = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : 0;
  if (suite == 0 || i + suite >= s.size()) {
    ++i;
    return false;
  }
  char32_t valeur = c & (0x3F >> suite);
  for (int k = 1; k <= suite; ++k) {
    unsigned char o = octet(i + k);
    if ((o & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    valeur = (valeur << 6) | (o & 0x3F);
  }
  i += suite + 1;
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

std::string PlieNom(std::string_view nom) {
  std::string plie;
  plie.reserve(nom.size());
  for (std::size_t i = 0; i < nom.size();) {
    unsigned char c = static_cast<unsigned char>(nom[i]);
    if (c < 0x80) {
      plie += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      ++i;
      continue;
    }
    std::size_t debut = i;
    char32_t cp;
    if (LitCaractere(nom, i, cp))
      EcritCaractere(Minuscule(cp), plie);
    else
      plie += nom[debut];  // an invalid byte is kept as it is, so folding never loses it
  }
  return plie;
}

bool MemeNom(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return PlieNom(a) == PlieNom(b);
}

std::size_t LongueurCaracteres(std::string_view texte) {
  std::size_t n = 0;
  for (unsigned char c : texte)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string PremiersCaracteres(std::string_view texte, std::size_t n) {
  std::size_t compte = 0;
  for (std::size_t i = 0; i < texte.size(); ++i) {
    if ((static_cast<unsigned char>(texte[i]) & 0xC0) != 0x80) {
      if (compte == n) return std::string(texte.substr(0, i));
      ++compte;
    }
  }
  return std::string(texte);
}

bool NomValide(std::string_view nom) {
  if (nom.empty() || LongueurCaracteres(nom) > 64 || nom.front() == ' ') return false;
  for (unsigned char c : nom)
    if (c < 0x20 || c == 0x7F || c == '.' || c == '!' || c == '`' || c == '[' || c == ']') return false;
  return true;
}

void VerifieNom(std::string_view nom) {
  if (!NomValide(nom)) throw ErreurMoteur(err::NomInvalide, {nom});
}

std::string CiteIdent(std::string_view nom) {
  std::string cite = "\"";
  for (char c : nom) {
    if (c == '"') cite += '"';
    cite += c;
  }
  return cite + '"';
}

std::string CiteLitteral(std::string_view texte) {
  std::string cite = "'";
  for (char c : texte) {
    if (c == '\'') cite += '\'';
    cite += c;
  }
  return cite + '\'';
}

bool Utf8Valide(std::string_view s) {
  auto u = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    unsigned char c = u[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t suite;
    std::uint32_t min;
    if (c >= 0xC2 && c <= 0xDF) suite = 1, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) suite = 2, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) suite = 3, min = 0x10000;
    else return false;
    if (i + suite >= n) return false;
    std::uint32_t cp = c & (0x3Fu >> suite);
    for (std::size_t k = 1; k <= suite; ++k) {
      if ((u[i + k] & 0xC0) != 0x80) return false;
      cp = cp << 6 | (u[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += suite + 1;
  }
  return true;
}

std::string Affichable(std::string_view texte) {
  static constexpr char chiffres[] = "0123456789ABCDEF";
  std::string sortie;
  sortie.reserve(texte.size());
  auto echappe = [&](unsigned char octet) {
    sortie += "\\x";
    sortie += chiffres[octet >> 4];
    sortie += chiffres[octet & 0xF];
  };
  for (std::size_t i = 0; i < texte.size();) {
    const std::size_t debut = i;
    char32_t cp = 0;
    if (!LitCaractere(texte, i, cp)) {
      for (std::size_t k = debut; k < i; ++k) echappe(static_cast<unsigned char>(texte[k]));
      continue;
    }
    if (cp == '\\')
      sortie += "\\\\";
    else if (cp == '\n')
      sortie += "\\n";
    else if (cp == '\r')
      sortie += "\\r";
    else if (cp == '\t')
      sortie += "\\t";
    else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0x2028 || cp == 0x2029)
      for (std::size_t k = debut; k < i; ++k) echappe(static_cast<unsigned char>(texte[k]));
    else
      sortie.append(texte.substr(debut, i - debut));
  }
  return sortie;
}

}  // namespace moteur

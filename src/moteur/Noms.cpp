#include "moteur/Noms.h"

#include "moteur/Erreurs.h"

namespace moteur {

bool NomValide(std::string_view nom) {
  if (nom.empty() || NombreCaracteres(nom) > 64 || nom.front() == ' ') return false;
  for (unsigned char c : nom)
    if (c < 0x20 || c == 0x7F || c == '.' || c == '!' || c == '`' || c == '[' || c == ']') return false;
  return true;
}

void VerifieNom(std::string_view nom) {
  if (!NomValide(nom)) throw ErreurMoteur(err::NomInvalide, {nom});
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

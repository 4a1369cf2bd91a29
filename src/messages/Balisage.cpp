#include "messages/Balisage.h"

#include <algorithm>

namespace utireorg {
namespace {

// One UTF-8 code point at i (advanced past it); false for a byte that starts no valid sequence,
// which is then stepped over alone and given back in cp as it was.
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

// Upper case for the letters a French caption or key name may hold.
char32_t Majuscule(char32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 32;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 32;
  if (cp == 0xFF) return 0x178;
  if (cp == 0x153) return 0x152;
  return cp;
}

std::string Majuscules(std::string_view s) {
  std::string sortie;
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    if (LitCaractere(s, i, cp))
      EcritCaractere(Majuscule(cp), sortie);
    else
      sortie += static_cast<char>(cp);
  }
  return sortie;
}

bool EstBlanc(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; });
}

std::string_view SansBlancs(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads the row into buttons; empty entrees and markers that already took effect are
// dropped, since a button without a caption or a second cancel button cannot mean anything.
void AnalyseBoutons(std::string_view liste, std::vector<BoutonMessage>& boutons) {
  bool focusChoisi = false, annulationChoisie = false;
  std::size_t debut = 0;
  while (debut <= liste.size()) {
    std::size_t fin = liste.find(';', debut);
    if (fin == std::string_view::npos) fin = liste.size();
    std::string_view entree = liste.substr(debut, fin - debut);
    debut = fin + 1;

    bool plus = false, moins = false;
    while (!entree.empty() && (entree.front() == '+' || entree.front() == '-')) {
      (entree.front() == '+' ? plus : moins) = true;
      entree.remove_prefix(1);
    }
    // ",F2" alone would be a key hint on a button without a caption.
    if (EstBlanc(entree.substr(0, entree.find(',')))) continue;

    BoutonMessage bouton;
    bouton.legende.assign(entree);
    std::replace(bouton.legende.begin(), bouton.legende.end(), ',', ';');
    if (plus && !focusChoisi) bouton.focus = focusChoisi = true;
    if (moins && !annulationChoisie) bouton.annulation = annulationChoisie = true;
    boutons.push_back(std::move(bouton));
  }
}

}  // namespace

MessageAnalyse AnalyseMessage(std::string_view texte, std::optional<std::string> titre,
                              std::optional<std::string> boutons, long contexteAide) {
  MessageAnalyse message;

  if (!texte.empty()) {
    switch (texte.front()) {
      case '!': message.icone = 1; break;
      case 'i': message.icone = 2; break;
      case '?': message.icone = 3; break;
      default: break;
    }
    if (message.icone != 0) texte.remove_prefix(1);
  }
  while (!texte.empty() && texte.front() == '#') {
    ++message.bips;
    texte.remove_prefix(1);
  }

  message.texte.reserve(texte.size());
  for (std::size_t i = 0; i < texte.size(); ++i) {
    char c = texte[i];
    if (c == '@' || c == '\n') {
      message.texte += '\n';
    } else if (c == '\r') {
      message.texte += '\n';
      if (i + 1 < texte.size() && texte[i + 1] == '\n') ++i;
    } else {
      message.texte += c;
    }
  }

  message.titre = titre ? std::move(*titre) : TitreApplication();

  if (boutons && !boutons->empty()) AnalyseBoutons(*boutons, message.boutons);
  if (message.boutons.empty()) AnalyseBoutons(BoutonsParDefaut, message.boutons);

  message.contexteAide = contexteAide;
  if (contexteAide != 0) {
    BoutonMessage aide;
    aide.legende = LegendeAide;
    aide.aide = true;
    message.boutons.push_back(std::move(aide));
  }
  return message;
}

std::optional<char32_t> LettreAcces(std::string_view legende) {
  std::size_t position = legende.find('&');
  if (position == std::string_view::npos || position + 1 >= legende.size()) return std::nullopt;
  std::size_t i = position + 1;
  char32_t cp;
  LitCaractere(legende, i, cp);
  return Majuscule(cp);
}

std::string TexteBouton(std::string_view legende) {
  return std::string(legende.substr(0, legende.find(';')));
}

std::string IndiceTouche(std::string_view legende) {
  std::size_t position = legende.find(';');
  if (position == std::string_view::npos) return {};
  return Majuscules(SansBlancs(legende.substr(position + 1)));
}

}  // namespace utireorg

#include "messages/Balisage.h"

#include <algorithm>

#include "common/Touches.h"
#include "texte/Texte.h"

namespace utireorg {
namespace {

bool EstBlanc(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\t'; });
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
  texte::LitCaractere(legende, i, cp);
  return texte::Majuscule(cp);
}

// The buttons read their captions with these same functions: a hint must not mean one key here
// and another there.
std::string TexteBouton(std::string_view legende) { return TexteDeLegende(legende); }

std::string IndiceTouche(std::string_view legende) { return IndiceDeLegende(legende); }

}  // namespace utireorg

#include "common/FenetreSansEcran.h"

#include <iostream>
#include <sstream>

namespace utireorg {
namespace {

const char* NatureMessage(int icone) {
  switch (icone) {
    case 1: return "erreur";
    case 2: return "avertissement";
    case 3: return "question";
    default: return "normal";
  }
}

// "&Quitter;Ech" reads "Quitter [Ech]" on a terminal.
std::string LegendeLisible(const std::string& legende) {
  std::string texte = legende.substr(0, legende.find(';'));
  std::size_t esperluette = texte.find('&');
  if (esperluette != std::string::npos) texte.erase(esperluette, 1);
  std::size_t pointVirgule = legende.find(';');
  if (pointVirgule != std::string::npos && pointVirgule + 1 < legende.size())
    texte += " [" + legende.substr(pointVirgule + 1) + "]";
  return texte;
}

}  // namespace

std::string TexteMessageSansEcran(const MessageAnalyse& message) {
  std::ostringstream flux;
  flux << "--- " << message.titre << " (" << NatureMessage(message.icone) << ") ---\n";
  flux << message.texte << '\n';
  flux << "Boutons :";
  for (std::size_t i = 0; i < message.boutons.size(); ++i) {
    const auto& bouton = message.boutons[i];
    flux << (i == 0 ? " " : " | ") << i + 1 << ". " << LegendeLisible(bouton.legende);
    if (bouton.focus) flux << '*';
    if (bouton.annulation) flux << " (Échap)";
  }
  flux << '\n';
  return flux.str();
}

int BoutonParDefaut(const MessageAnalyse& message) {
  for (std::size_t i = 0; i < message.boutons.size(); ++i)
    if (message.boutons[i].focus) return static_cast<int>(i) + 1;
  return 1;
}

FenetreSansEcran::FenetreSansEcran() : sortie_(&std::cerr) {}
FenetreSansEcran::FenetreSansEcran(std::ostream& sortie) : sortie_(&sortie) {}

FenetreSansEcran::~FenetreSansEcran() {
  if (FenetreCourante() == this) DefinitFenetre(nullptr);
}

void FenetreSansEcran::Legendes(const std::string& etape, const std::string& detail) {
  if (afficheAvancement_ && (etape != etape_ || detail != detail_)) {
    *sortie_ << etape;
    if (!detail.empty()) *sortie_ << " : " << detail;
    *sortie_ << '\n' << std::flush;
  }
  etape_ = etape;
  detail_ = detail;
}

bool FenetreSansEcran::Coche(int index) const {
  auto it = coches_.find(index);
  return it != coches_.end() && it->second;
}

bool FenetreSansEcran::Case(const std::string& nom) const {
  auto it = cases_.find(nom);
  return it != cases_.end() && it->second;
}

std::string FenetreSansEcran::Saisie(int index) const {
  auto it = saisies_.find(index);
  return it == saisies_.end() ? std::string() : it->second;
}

std::optional<int> FenetreSansEcran::PresenteMessage(const MessageAnalyse& message) {
  messages_.push_back(message);
  for (int i = 0; i < message.bips; ++i) Bip();
  *sortie_ << TexteMessageSansEcran(message);

  std::optional<int> reponse = BoutonParDefaut(message);
  if (!reponses_.empty()) {
    int scriptee = reponses_.front();
    reponses_.pop_front();
    if (scriptee >= 1 && scriptee <= static_cast<int>(message.boutons.size()))
      reponse = scriptee;
    else
      reponse.reset();
  }
  if (reponse)
    *sortie_ << "Réponse : " << *reponse << '\n';
  else
    *sortie_ << "Réponse : aucune\n";
  *sortie_ << std::flush;
  return reponse;
}

}  // namespace utireorg

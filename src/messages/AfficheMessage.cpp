#include "messages/AfficheMessage.h"

#include <iostream>

#include "common/FenetreSansEcran.h"
#include "common/InterfaceFenetre.h"
#include "messages/Balisage.h"
#include "messages/GestionErreur.h"

namespace utireorg {
namespace {

bool messageEnCours = false;

// Holds the flag for the time of one message, whatever way the message ends.
class GardeMessage {
 public:
  GardeMessage() { messageEnCours = true; }
  ~GardeMessage() { messageEnCours = false; }
  GardeMessage(const GardeMessage&) = delete;
  GardeMessage& operator=(const GardeMessage&) = delete;
};

}  // namespace

bool MessageEnCours() noexcept { return messageEnCours; }

std::optional<int> AfficheMessage(std::string_view texte, std::optional<std::string> titre,
                                  std::optional<std::string> boutons, long contexteAide) noexcept {
  if (messageEnCours) return std::nullopt;
  try {
    GardeMessage garde;
    InterfaceFenetre* fenetre = FenetreCourante();
    if (fenetre) fenetre->Pointeur(PointeurSouris::Normal);
    MessageAnalyse message = AnalyseMessage(texte, std::move(titre), std::move(boutons), contexteAide);
    if (!fenetre) {
      std::cerr << TexteMessageSansEcran(message) << std::flush;
      return BoutonParDefaut(message);
    }
    return fenetre->PresenteMessage(message);
  } catch (...) {
    ErreurEnCours erreur = LitErreur(std::current_exception());
    moteur::IgnoreEchec("the beep only draws the eye", [] {
      if (InterfaceFenetre* fenetre = FenetreCourante()) fenetre->Bip();
    });
    moteur::IgnoreEchec("no other way is left to tell",
                        [&] { std::cerr << "Message : Erreur " << erreur.numero << std::endl; });
    return std::nullopt;
  }
}

}  // namespace utireorg

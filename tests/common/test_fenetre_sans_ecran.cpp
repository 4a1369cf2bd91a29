#include <gtest/gtest.h>

#include <sstream>

#include "common/FenetreSansEcran.h"

namespace utireorg {
namespace {

MessageAnalyse Message(std::vector<BoutonMessage> boutons, int bips = 0) {
  MessageAnalyse m;
  m.icone = 3;
  m.bips = bips;
  m.titre = "Copie";
  m.texte = "Continuer ?\nLa copie est longue.";
  m.boutons = std::move(boutons);
  return m;
}

const BoutonMessage Oui{"&Oui", false, false, false};
const BoutonMessage NonFocus{"&Non;Ech", true, true, false};

TEST(FenetreSansEcran, RepondLeBoutonAFocusSinonLePremier) {
  std::ostringstream sortie;
  FenetreSansEcran fenetre(sortie);
  EXPECT_EQ(fenetre.PresenteMessage(Message({Oui, NonFocus}, 2)), 2);
  EXPECT_EQ(fenetre.PresenteMessage(Message({Oui, {"&Plus tard", false, false, false}})), 1);
  EXPECT_EQ(fenetre.Bips(), 2);
  EXPECT_EQ(fenetre.Messages().size(), 2u);
}

TEST(FenetreSansEcran, ImprimeTitreTexteEtBoutons) {
  std::ostringstream sortie;
  FenetreSansEcran fenetre(sortie);
  fenetre.PresenteMessage(Message({Oui, NonFocus}));
  std::string texte = sortie.str();
  for (const char* attendu : {"Copie", "question", "Continuer ?\nLa copie est longue.", "1. Oui", "2. Non [Ech]*",
                              "(Échap)", "Réponse : 2"})
    EXPECT_NE(texte.find(attendu), std::string::npos) << attendu << " dans\n" << texte;
}

TEST(FenetreSansEcran, ReponsesScripteesPuisReponseParDefaut) {
  std::ostringstream sortie;
  FenetreSansEcran fenetre(sortie);
  fenetre.RepondAvec({1, 3, 2});
  EXPECT_EQ(fenetre.PresenteMessage(Message({Oui, NonFocus})), 1);
  EXPECT_EQ(fenetre.PresenteMessage(Message({Oui, NonFocus})), std::nullopt);  // no third button
  EXPECT_EQ(fenetre.PresenteMessage(Message({Oui, NonFocus})), 2);
  EXPECT_EQ(fenetre.PresenteMessage(Message({NonFocus, Oui})), 1);
}

TEST(FenetreSansEcran, JournalGardeEtLegendesImprimeesSurDemande) {
  std::ostringstream sortie;
  FenetreSansEcran fenetre(sortie);
  fenetre.AjouteAuJournal("Ligne 1\r\n");
  fenetre.AjouteAuJournal("Ligne 2\r\n");
  EXPECT_EQ(fenetre.TexteJournal(), "Ligne 1\r\nLigne 2\r\n");

  fenetre.Legendes("Silencieux", "");
  EXPECT_EQ(sortie.str(), "");
  fenetre.AfficheAvancement(true);
  fenetre.Legendes("Compactage", "base.mdb");
  fenetre.Legendes("Compactage", "base.mdb");
  EXPECT_EQ(sortie.str(), "Compactage : base.mdb\n");
}

TEST(FenetreSansEcran, SeRetireQuandElleDisparait) {
  {
    FenetreSansEcran fenetre;
    DefinitFenetre(&fenetre);
    EXPECT_EQ(FenetreCourante(), &fenetre);
  }
  EXPECT_EQ(FenetreCourante(), nullptr);
}

}  // namespace
}  // namespace utireorg

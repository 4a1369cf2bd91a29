#include <gtest/gtest.h>

#include "commun/FenetreFactice.h"
#include "messages/AfficheMessage.h"
#include "moteur/Erreurs.h"

namespace utireorg {
namespace {

using tests::FenetreFactice;

TEST(AfficheMessage, PresenteLeMessageAnalyseEtRendLeBoutonChoisi) {
  FenetreFactice fenetre;
  auto reponse = AfficheMessage("?#Confirmez-vous@la suite ?", std::string("Question"), std::string("&Oui;+-&Non"));
  EXPECT_EQ(reponse, 2);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  const MessageAnalyse& m = fenetre.messages[0];
  EXPECT_EQ(m.icone, 3);
  EXPECT_EQ(m.bips, 1);
  EXPECT_EQ(m.texte, "Confirmez-vous\nla suite ?");
  EXPECT_EQ(m.titre, "Question");
  ASSERT_EQ(m.boutons.size(), 2u);
  // The beeps belong to whoever shows the message.
  EXPECT_EQ(fenetre.bips, 0);

  fenetre.reponses = {1};
  EXPECT_EQ(AfficheMessage("?x", std::nullopt, std::string("&Oui;+-&Non")), 1);
}

TEST(AfficheMessage, RemetLePointeurNormalAvantDAfficher) {
  FenetreFactice fenetre;
  fenetre.Pointeur(PointeurSouris::Sablier);
  AfficheMessage("x");
  ASSERT_FALSE(fenetre.pointeurs.empty());
  EXPECT_EQ(fenetre.pointeurs.back(), PointeurSouris::Normal);
}

// A window whose modal wait lets another part of the program ask for a message.
class FenetreReentrante : public FenetreFactice {
 public:
  std::optional<int> PresenteMessage(const MessageAnalyse& message) override {
    // Only the outer call asks again, so that a missing guard fails instead of recursing forever.
    if (++appels == 1) interieure = AfficheMessage("!Seconde", std::nullopt, std::string("+&Ok"));
    return FenetreFactice::PresenteMessage(message);
  }
  int appels = 0;
  std::optional<int> interieure = 99;
};

TEST(AfficheMessage, UnSecondMessagePendantLePremierEstAbandonne) {
  FenetreReentrante fenetre;
  EXPECT_TRUE(MessageEnCours() == false);
  EXPECT_EQ(AfficheMessage("Premier"), 1);
  EXPECT_EQ(fenetre.appels, 1);
  EXPECT_EQ(fenetre.interieure, std::nullopt);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].texte, "Premier");
  EXPECT_FALSE(MessageEnCours());
}

class FenetreEnPanne : public FenetreFactice {
 public:
  std::optional<int> PresenteMessage(const MessageAnalyse&) override {
    if (panne) throw moteur::ErreurMoteur(3021, "Aucun enregistrement en cours.");
    return 1;
  }
  bool panne = true;
};

TEST(AfficheMessage, UnePanneBipeEcritLeNumeroEtNeRendRien) {
  FenetreEnPanne fenetre;
  testing::internal::CaptureStderr();
  auto reponse = AfficheMessage("!#Panne");
  std::string erreur = testing::internal::GetCapturedStderr();
  EXPECT_EQ(reponse, std::nullopt);
  EXPECT_EQ(fenetre.bips, 1);
  EXPECT_NE(erreur.find("Message : Erreur 3021"), std::string::npos) << erreur;

  // The failed message does not leave the next one blocked.
  fenetre.panne = false;
  EXPECT_EQ(AfficheMessage("Suivant"), 1);
}

TEST(AfficheMessage, SansFenetreEcritSurLaSortieDErreurEtRepondLeFocus) {
  DefinitFenetre(nullptr);
  testing::internal::CaptureStderr();
  auto oui = AfficheMessage("?#Continuer la copie ?", std::string("Copie"), std::string("+&Oui;-&Non"));
  auto non = AfficheMessage("?#Vraiment ?", std::nullopt, std::string("&Oui;+-&Non"));
  auto premier = AfficheMessage("Fin", std::nullopt, std::string("&Un;&Deux"));
  std::string sortie = testing::internal::GetCapturedStderr();
  EXPECT_EQ(oui, 1);
  EXPECT_EQ(non, 2);
  EXPECT_EQ(premier, 1);
  EXPECT_NE(sortie.find("Copie"), std::string::npos);
  EXPECT_NE(sortie.find("Continuer la copie ?"), std::string::npos);
  EXPECT_NE(sortie.find("Deux"), std::string::npos);
}

}  // namespace
}  // namespace utireorg

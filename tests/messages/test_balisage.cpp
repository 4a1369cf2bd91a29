#include <gtest/gtest.h>

#include "messages/Balisage.h"

namespace utireorg {
namespace {

TEST(BalisageTexte, ErreurAvecDeuxBipsNeGardeQueLeMot) {
  MessageAnalyse m = AnalyseMessage("!##Attention");
  EXPECT_EQ(m.icone, 1);
  EXPECT_EQ(m.bips, 2);
  EXPECT_EQ(m.texte, "Attention");
}

TEST(BalisageTexte, IconesParPremierCaractere) {
  MessageAnalyse avertissement = AnalyseMessage("i#Note");
  EXPECT_EQ(avertissement.icone, 2);
  EXPECT_EQ(avertissement.bips, 1);
  EXPECT_EQ(avertissement.texte, "Note");

  MessageAnalyse question = AnalyseMessage("?#Sûr ?");
  EXPECT_EQ(question.icone, 3);
  EXPECT_EQ(question.bips, 1);
  EXPECT_EQ(question.texte, "Sûr ?");

  MessageAnalyse sansIcone = AnalyseMessage("#Bip");
  EXPECT_EQ(sansIcone.icone, 0);
  EXPECT_EQ(sansIcone.bips, 1);
  EXPECT_EQ(sansIcone.texte, "Bip");
}

TEST(BalisageTexte, UnIMajusculeNEstPasUneIcone) {
  MessageAnalyse m = AnalyseMessage("Impossible");
  EXPECT_EQ(m.icone, 0);
  EXPECT_EQ(m.bips, 0);
  EXPECT_EQ(m.texte, "Impossible");
}

TEST(BalisageTexte, LesMarquesNeComptentQuEnTete) {
  MessageAnalyse m = AnalyseMessage("!x#y!i?");
  EXPECT_EQ(m.icone, 1);
  EXPECT_EQ(m.bips, 0);
  EXPECT_EQ(m.texte, "x#y!i?");

  MessageAnalyse apresRetour = AnalyseMessage("!@#");
  EXPECT_EQ(apresRetour.bips, 0);
  EXPECT_EQ(apresRetour.texte, "\n#");

  MessageAnalyse une = AnalyseMessage("?");
  EXPECT_EQ(une.icone, 3);
  EXPECT_EQ(une.texte, "");
}

TEST(BalisageTexte, ArobasesEnRetoursEtEsperluetteLitterale) {
  EXPECT_EQ(AnalyseMessage("Un@@Deux").texte, "Un\n\nDeux");
  EXPECT_EQ(AnalyseMessage("Un@Deux@").texte, "Un\nDeux\n");
  EXPECT_EQ(AnalyseMessage("Copie & collage").texte, "Copie & collage");
}

TEST(BalisageTexte, RetoursDuTexteAppelantDeviennentDesSautsDeLigne) {
  EXPECT_EQ(AnalyseMessage("Un\r\nDeux\rTrois\nQuatre").texte, "Un\nDeux\nTrois\nQuatre");
}

TEST(BalisageTitre, ParDefautLeTitreDeLApplication) {
  EXPECT_EQ(AnalyseMessage("x").titre, TitreApplication());
  EXPECT_EQ(AnalyseMessage("x", std::string("Erreur")).titre, "Erreur");
}

TEST(BalisageBoutons, ListeParDefautQuandAbsenteOuVide) {
  for (const auto& liste : {std::optional<std::string>(), std::optional<std::string>("")}) {
    MessageAnalyse m = AnalyseMessage("x", std::nullopt, liste);
    ASSERT_EQ(m.boutons.size(), 1u);
    EXPECT_EQ(m.boutons[0].legende, "&Ok");
    EXPECT_TRUE(m.boutons[0].focus);
    EXPECT_TRUE(m.boutons[0].annulation);
    EXPECT_FALSE(m.boutons[0].aide);
  }
}

TEST(BalisageBoutons, OuiNonAvecFocusEtAnnulationSurLeSecond) {
  MessageAnalyse m = AnalyseMessage("?x", std::nullopt, std::string("&Oui;+-&Non"));
  ASSERT_EQ(m.boutons.size(), 2u);
  EXPECT_EQ(m.boutons[0].legende, "&Oui");
  EXPECT_FALSE(m.boutons[0].focus);
  EXPECT_FALSE(m.boutons[0].annulation);
  EXPECT_EQ(m.boutons[1].legende, "&Non");
  EXPECT_TRUE(m.boutons[1].focus);
  EXPECT_TRUE(m.boutons[1].annulation);
}

TEST(BalisageBoutons, MarquesDansLUnOuLAutreOrdre) {
  MessageAnalyse m = AnalyseMessage("x", std::nullopt, std::string("+&Attendre;-&Interrompre"));
  ASSERT_EQ(m.boutons.size(), 2u);
  EXPECT_TRUE(m.boutons[0].focus);
  EXPECT_FALSE(m.boutons[0].annulation);
  EXPECT_FALSE(m.boutons[1].focus);
  EXPECT_TRUE(m.boutons[1].annulation);

  MessageAnalyse inverse = AnalyseMessage("x", std::nullopt, std::string("&Oui;-+&Non"));
  EXPECT_TRUE(inverse.boutons[1].focus);
  EXPECT_TRUE(inverse.boutons[1].annulation);
}

TEST(BalisageBoutons, SansMarqueNiEchapNiFocus) {
  MessageAnalyse m = AnalyseMessage("x", std::nullopt, std::string("Continuer"));
  ASSERT_EQ(m.boutons.size(), 1u);
  EXPECT_EQ(m.boutons[0].legende, "Continuer");
  EXPECT_FALSE(m.boutons[0].focus);
  EXPECT_FALSE(m.boutons[0].annulation);
}

TEST(BalisageBoutons, AideAjouteeEnDernierAvecUnContexte) {
  MessageAnalyse m = AnalyseMessage("x", std::nullopt, std::string("&Oui;+-&Non"), 12);
  EXPECT_EQ(m.contexteAide, 12);
  ASSERT_EQ(m.boutons.size(), 3u);
  EXPECT_EQ(m.boutons[2].legende, "Aide");
  EXPECT_TRUE(m.boutons[2].aide);
  EXPECT_FALSE(m.boutons[2].focus);
  EXPECT_FALSE(m.boutons[2].annulation);
  EXPECT_FALSE(m.boutons[1].aide);

  EXPECT_EQ(AnalyseMessage("x", std::nullopt, std::nullopt, 0).boutons.size(), 1u);
}

TEST(BalisageBoutons, VirguleDevientPointVirgule) {
  MessageAnalyse m = AnalyseMessage("x", std::nullopt, std::string("&Lancer,F2;-&Quitter,Ech"));
  ASSERT_EQ(m.boutons.size(), 2u);
  EXPECT_EQ(m.boutons[0].legende, "&Lancer;F2");
  EXPECT_EQ(m.boutons[1].legende, "&Quitter;Ech");
}

TEST(BalisageBoutons, SeulesLesPremieresMarquesComptent) {
  MessageAnalyse m = AnalyseMessage("x", std::nullopt, std::string("+&A;+&B;-&C;-+&D;++--&E"));
  ASSERT_EQ(m.boutons.size(), 5u);
  const char* legendes[] = {"&A", "&B", "&C", "&D", "&E"};
  int focus = 0, annulations = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(m.boutons[i].legende, legendes[i]);
    focus += m.boutons[i].focus;
    annulations += m.boutons[i].annulation;
  }
  EXPECT_EQ(focus, 1);
  EXPECT_EQ(annulations, 1);
  EXPECT_TRUE(m.boutons[0].focus);
  EXPECT_TRUE(m.boutons[2].annulation);
}

TEST(BalisageBoutons, EntreesVidesIgnorees) {
  // A button made of markers alone does not exist, so its markers do not take effect either.
  MessageAnalyse m = AnalyseMessage("x", std::nullopt, std::string(";&A;;+-; ;,F2;&B;"));
  ASSERT_EQ(m.boutons.size(), 2u);
  EXPECT_EQ(m.boutons[0].legende, "&A");
  EXPECT_EQ(m.boutons[1].legende, "&B");
  EXPECT_FALSE(m.boutons[0].focus || m.boutons[1].focus);
  EXPECT_FALSE(m.boutons[0].annulation || m.boutons[1].annulation);
}

TEST(BalisageBoutons, UneListeSansAucunBoutonRetombeSurOk) {
  for (const char* liste : {";", ";;", "+-", " ; "}) {
    MessageAnalyse m = AnalyseMessage("x", std::nullopt, std::string(liste), 7);
    ASSERT_EQ(m.boutons.size(), 2u) << liste;
    EXPECT_EQ(m.boutons[0].legende, "&Ok");
    EXPECT_TRUE(m.boutons[0].focus && m.boutons[0].annulation);
    EXPECT_TRUE(m.boutons[1].aide);
  }
}

TEST(BalisageLegendes, LettreDAccesEnMajuscule) {
  EXPECT_EQ(LettreAcces("&Oui"), U'O');
  EXPECT_EQ(LettreAcces("&non"), U'N');
  EXPECT_EQ(LettreAcces("Ann&uler"), U'U');
  EXPECT_EQ(LettreAcces("&écrire"), U'\u00C9');
  EXPECT_EQ(LettreAcces("&A&B"), U'A');
  EXPECT_EQ(LettreAcces("Ok"), std::nullopt);
  EXPECT_EQ(LettreAcces("Ok&"), std::nullopt);
  EXPECT_EQ(LettreAcces(""), std::nullopt);
}

TEST(BalisageLegendes, TexteEtIndiceDeTouche) {
  EXPECT_EQ(TexteBouton("&Quitter;Ech"), "&Quitter");
  EXPECT_EQ(IndiceTouche("&Quitter;Ech"), "ECH");
  EXPECT_EQ(IndiceTouche("&Lancer; f2 "), "F2");
  EXPECT_EQ(IndiceTouche("Entrée;é"), "É");
  EXPECT_EQ(TexteBouton("&Ok"), "&Ok");
  EXPECT_EQ(IndiceTouche("&Ok"), "");
  EXPECT_EQ(TexteBouton("A;b;c"), "A");
  EXPECT_EQ(IndiceTouche("A;b;c"), "B;C");
}

}  // namespace
}  // namespace utireorg

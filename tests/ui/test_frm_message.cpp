#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "common/Arret.h"
#include "ui/BoutonStd.h"
#include "ui/FenetreQtOutils.h"
#include "ui/FrmMessage.h"

namespace utireorg {
namespace {

QApplication& Application() {
  static int argc = 1;
  static char nom[] = "tests_ui";
  static char* argv[] = {nom, nullptr};
  if (auto* existante = qobject_cast<QApplication*>(QCoreApplication::instance())) return *existante;
  // Never destroyed: a QApplication torn down among the static destructors outlives the
  // platform plugin's globals and crashes the exit.
  static auto* application = new QApplication(argc, argv);
  return *application;
}

BoutonMessage Bouton(std::string legende, bool focus = false, bool annulation = false) {
  return {std::move(legende), focus, annulation, false};
}

MessageAnalyse Message(std::string texte, std::vector<BoutonMessage> boutons, int icone = 0) {
  MessageAnalyse message;
  message.texte = std::move(texte);
  message.titre = "Essai";
  message.icone = icone;
  message.boutons = std::move(boutons);
  return message;
}

MessageAnalyse OuiNon() {
  return Message("Voulez-vous continuer ?", {Bouton("&Oui"), Bouton("&Non", true, true)}, 3);
}

MessageAnalyse Ok() { return Message("Fait.", {Bouton("&Ok", true, true)}); }

FrmMessage* MessageVisible() {
  for (QWidget* fenetre : QApplication::topLevelWidgets())
    if (auto* message = qobject_cast<FrmMessage*>(fenetre); message && message->isVisible()) return message;
  return nullptr;
}

class FormulaireMessage : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    ReglagesMessage().antirebond = std::chrono::milliseconds(0);
    ReglagesMessage().aide = [this](long contexte) { aides.push_back(contexte); };
    ReglagesMessage().bip = [this] { ++bips; };
  }
  void TearDown() override { ReglagesMessage() = ReglagesMessageQt{}; }

  // Shows the message and, once it is on screen, runs the action on it. A form still open after
  // the action is given up on, so that a fault fails the test instead of hanging it.
  std::optional<int> Presente(const MessageAnalyse& message, std::function<void(FrmMessage*)> action) {
    QTimer attente;
    attente.setInterval(5);
    bool fait = false;
    QObject::connect(&attente, &QTimer::timeout, [&] {
      if (fait) {
        if (auto* reste = MessageVisible()) {
          ADD_FAILURE() << "le message est resté à l'écran";
          reste->reject();
        }
        return;
      }
      if (auto* formulaire = MessageVisible()) {
        fait = true;
        attente.setInterval(2000);
        action(formulaire);
      }
    });
    attente.start();
    return PresenteMessageQt(message, nullptr);
  }

  static void Touche(FrmMessage* formulaire, Qt::Key cle, Qt::KeyboardModifiers modificateurs = Qt::NoModifier) {
    // Through the focused button, as typed keys arrive: the form must see them first.
    QWidget* cible = formulaire->focusWidget() ? formulaire->focusWidget() : formulaire;
    QTest::keyClick(cible, cle, modificateurs);
  }

  static void Caractere(FrmMessage* formulaire, char c) {
    QWidget* cible = formulaire->focusWidget() ? formulaire->focusWidget() : formulaire;
    QTest::keyClick(cible, c);
  }

  std::vector<long> aides;
  int bips = 0;
};

TEST_F(FormulaireMessage, EchapDonneLAnnulation) {
  EXPECT_EQ(Presente(OuiNon(), [](FrmMessage* f) { Touche(f, Qt::Key_Escape); }), 2);
}

TEST_F(FormulaireMessage, EntreePresseLeBoutonQuiALeFocus) {
  EXPECT_EQ(Presente(OuiNon(), [](FrmMessage* f) { Touche(f, Qt::Key_Return); }), 2);
  auto attendre = Message("Attendre ?", {Bouton("&Attendre", true), Bouton("&Interrompre", false, true)});
  EXPECT_EQ(Presente(attendre, [](FrmMessage* f) { Touche(f, Qt::Key_Enter, Qt::KeypadModifier); }), 1);
}

TEST_F(FormulaireMessage, FocusInitialSurLeBoutonMarque) {
  Presente(OuiNon(), [](FrmMessage* f) {
    EXPECT_EQ(f->focusWidget(), f->Boutons()[1]);
    f->Boutons()[0]->click();
  });
}

TEST_F(FormulaireMessage, LettresDAcces) {
  EXPECT_EQ(Presente(OuiNon(), [](FrmMessage* f) { Caractere(f, 'o'); }), 1);
  EXPECT_EQ(Presente(OuiNon(), [](FrmMessage* f) { Caractere(f, 'N'); }), 2);
  EXPECT_EQ(Presente(OuiNon(), [](FrmMessage* f) { Touche(f, Qt::Key_O, Qt::ShiftModifier); }), 1);
  // A letter of no button does nothing; Ctrl with a letter is no access letter.
  EXPECT_EQ(Presente(OuiNon(),
                     [](FrmMessage* f) {
                       Caractere(f, 'x');
                       Touche(f, Qt::Key_O, Qt::ControlModifier);
                       QCoreApplication::processEvents();
                       EXPECT_TRUE(f->isVisible());
                       Caractere(f, 'o');
                     }),
            1);
}

TEST_F(FormulaireMessage, LettreDAccesAccentuee) {
  auto message = Message("Choix", {Bouton("&Élever"), Bouton("&Baisser", true, true)});
  EXPECT_EQ(Presente(message,
                     [](FrmMessage* f) {
                       QKeyEvent appui(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("é"));
                       QApplication::sendEvent(f->focusWidget(), &appui);
                     }),
            1);
}

TEST_F(FormulaireMessage, CaseDeFermetureCommeEchap) {
  EXPECT_EQ(Presente(OuiNon(),
                     [](FrmMessage* f) {
                       QCloseEvent fermeture;
                       QApplication::sendEvent(f, &fermeture);
                       EXPECT_FALSE(fermeture.isAccepted());
                     }),
            2);
}

TEST_F(FormulaireMessage, ContinuerSansAnnulation) {
  auto continuer = Message("Terminé.", {Bouton("Continuer")});
  EXPECT_EQ(Presente(continuer,
                     [](FrmMessage* f) {
                       Touche(f, Qt::Key_Escape);
                       QCloseEvent fermeture;
                       QApplication::sendEvent(f, &fermeture);
                       EXPECT_FALSE(fermeture.isAccepted());
                       QCoreApplication::processEvents();
                       QCoreApplication::processEvents();
                       EXPECT_TRUE(f->isVisible());
                       f->Boutons()[0]->click();
                     }),
            1);
}

TEST_F(FormulaireMessage, OkParDefaut) {
  EXPECT_EQ(Presente(Ok(), [](FrmMessage* f) { Touche(f, Qt::Key_Return); }), 1);
  EXPECT_EQ(Presente(Ok(), [](FrmMessage* f) { Touche(f, Qt::Key_Escape); }), 1);
  // A row that came empty still gets a button that answers and closes.
  EXPECT_EQ(Presente(Message("Rien", {}), [](FrmMessage* f) { Touche(f, Qt::Key_Escape); }), 1);
}

TEST_F(FormulaireMessage, AntirebondIgnoreLesTouchesMaisPasLesLettres) {
  ReglagesMessage().antirebond = std::chrono::hours(1);
  EXPECT_EQ(Presente(OuiNon(),
                     [](FrmMessage* f) {
                       Touche(f, Qt::Key_Escape);
                       Touche(f, Qt::Key_Return);
                       Touche(f, Qt::Key_F1);
                       Touche(f, Qt::Key_Space);  // would press the focused "Non"
                       QCloseEvent fermeture;
                       QApplication::sendEvent(f, &fermeture);
                       QCoreApplication::processEvents();
                       QCoreApplication::processEvents();
                       EXPECT_TRUE(f->isVisible());
                       Caractere(f, 'o');
                     }),
            1);
  EXPECT_TRUE(aides.empty());
}

TEST_F(FormulaireMessage, DelaiEcouleLesTouchesComptent) {
  ReglagesMessage().antirebond = std::chrono::milliseconds(50);
  EXPECT_EQ(Presente(OuiNon(),
                     [](FrmMessage* f) {
                       QTest::qWait(60);
                       Touche(f, Qt::Key_Escape);
                     }),
            2);
}

TEST_F(FormulaireMessage, AideResteOuverte) {
  auto message = OuiNon();
  message.contexteAide = 12;
  message.boutons.push_back({"Aide", false, false, true});
  EXPECT_EQ(Presente(message,
                     [](FrmMessage* f) {
                       f->Boutons()[2]->click();
                       Touche(f, Qt::Key_F1);
                       Touche(f, Qt::Key_F10);
                       QCoreApplication::processEvents();
                       EXPECT_TRUE(f->isVisible());
                       Touche(f, Qt::Key_Escape);
                     }),
            2);
  EXPECT_EQ(aides, (std::vector<long>{12, 12}));
}

TEST_F(FormulaireMessage, BipsAvantLAffichage) {
  auto message = Ok();
  message.bips = 2;
  Presente(message, [this](FrmMessage* f) {
    EXPECT_EQ(bips, 2);
    f->Boutons()[0]->click();
  });
  EXPECT_EQ(bips, 2);
}

TEST_F(FormulaireMessage, DeuxiemeMessagePendantLePremier) {
  std::optional<int> second = 99;
  EXPECT_EQ(Presente(OuiNon(),
                     [&second](FrmMessage* f) {
                       second = PresenteMessageQt(Ok(), nullptr);
                       f->Boutons()[0]->click();
                     }),
            1);
  EXPECT_EQ(second, std::nullopt);
  // Once the first is answered, messages show again.
  EXPECT_EQ(Presente(Ok(), [](FrmMessage* f) { f->Boutons()[0]->click(); }), 1);
}

TEST_F(FormulaireMessage, FermeSansReponseNiAnnulation) {
  auto message = Message("Supprimer ?", {Bouton("&Supprimer"), Bouton("&Garder")});
  EXPECT_EQ(Presente(message, [](FrmMessage* f) { f->reject(); }), std::nullopt);
  EXPECT_EQ(Presente(OuiNon(), [](FrmMessage* f) { f->reject(); }), 2);
}

// A run stopped (SIGTERM from the session, a signal on the terminal) while it asks a question:
// the question closes as if cancelled, so that the run reaches its safe point and puts the files
// back, instead of waiting for an answer nobody will give.
TEST_F(FormulaireMessage, UnArretDemandeFermeLaQuestionCommeUneAnnulation) {
  EXPECT_EQ(Presente(OuiNon(), [](FrmMessage*) { DemandeArret(RaisonArret::Signal, SIGTERM); }), 2);
  EffaceDemandeArret();
  auto message = Message("Supprimer ?", {Bouton("&Supprimer"), Bouton("&Garder")});
  EXPECT_EQ(Presente(message, [](FrmMessage*) { DemandeArret(RaisonArret::Signal, SIGTERM); }), std::nullopt);
  EffaceDemandeArret();
}

class DispositionMessage : public ::testing::Test {
 protected:
  void SetUp() override { Application(); }
  static int Twips(const QWidget* w, int twips) { return PixelsDeTwipsX(w, twips); }
};

TEST_F(DispositionMessage, TexteCourtSurUneLigne) {
  FrmMessage f(Ok());
  auto* lbl = f.Etiquette();
  EXPECT_FALSE(lbl->wordWrap());
  EXPECT_LT(lbl->width(), Twips(&f, FrmMessage::LargeurTexteMaxTwips));
  EXPECT_GE(f.width(), lbl->x() + lbl->width() + Twips(&f, FrmMessage::MargeDroiteTwips));
}

// The title bar shows the whole title: the form is at least as wide as it, beside the bar's
// icon and buttons.
TEST_F(DispositionMessage, AuMoinsAussiLargeQueSonTitre) {
  MessageAnalyse message = Ok();
  message.titre = "Réorganisation de bases de données : erreur pendant la copie des enregistrements";
  FrmMessage f(message);
  QFont gras = QApplication::font();
  gras.setBold(true);
  EXPECT_GE(f.width(), QFontMetrics(gras).horizontalAdvance(f.windowTitle()) + FrmMessage::MargeBarreTitre);
  // The button row stays centred in the wider form.
  const auto* ok = f.Boutons()[0];
  EXPECT_LE(std::abs(ok->x() + ok->width() / 2 - f.width() / 2), 1);
  if (const char* dossier = std::getenv("UTIREORG_CAPTURES")) {
    f.show();
    QCoreApplication::processEvents();
    f.grab().save(QString::fromUtf8(dossier) + QStringLiteral("/message_titre_long.png"));
  }
}

TEST_F(DispositionMessage, TexteLongGranditEnHauteur) {
  FrmMessage court(Ok());
  std::string texte;
  for (int i = 0; i < 120; ++i) texte += "mot" + std::to_string(i) + " ";
  FrmMessage f(Message(texte, {Bouton("&Ok", true, true)}));
  auto* lbl = f.Etiquette();
  const int largeurMax = Twips(&f, FrmMessage::LargeurTexteMaxTwips);
  EXPECT_EQ(lbl->width(), largeurMax);
  EXPECT_TRUE(lbl->wordWrap());
  EXPECT_GT(lbl->height(), 4 * lbl->fontMetrics().height());
  EXPECT_EQ(f.width(), lbl->x() + largeurMax + Twips(&f, FrmMessage::MargeDroiteTwips));
  EXPECT_GT(f.height(), court.height() + 3 * lbl->fontMetrics().height());
  // The buttons stay under the text.
  EXPECT_EQ(f.Boutons()[0]->y(), lbl->y() + lbl->height() + FrmMessage::EcartRangee);
}

TEST_F(DispositionMessage, LongMotSansEspace) {
  FrmMessage f(Message("C:\\" + std::string(300, 'x') + "\\base.mdb", {Bouton("&Ok", true, true)}));
  EXPECT_LE(f.Etiquette()->width(), Twips(&f, FrmMessage::LargeurTexteMaxTwips));
  // Cut into lines rather than at the form's edge.
  EXPECT_GE(f.Etiquette()->height(), 5 * f.Etiquette()->fontMetrics().height());
  EXPECT_EQ(f.width(), f.Etiquette()->x() + f.Etiquette()->width() + Twips(&f, FrmMessage::MargeDroiteTwips));
}

TEST_F(DispositionMessage, QuatreLonguesLegendesElargissentEtCentrent) {
  FrmMessage seul(Message("Choix", {Bouton("&Ok")}));
  FrmMessage f(Message("Choix", {Bouton("&Première possibilité assez longue"),
                                 Bouton("&Deuxième possibilité assez longue"),
                                 Bouton("&Troisième possibilité assez longue", true),
                                 Bouton("&Quatrième possibilité assez longue, avec plus", false, true)}));
  const auto& boutons = f.Boutons();
  ASSERT_EQ(boutons.size(), 4u);
  EXPECT_GT(f.width(), seul.width());
  EXPECT_GT(f.width(), f.Etiquette()->x() + f.Etiquette()->width() + Twips(&f, FrmMessage::MargeDroiteTwips));

  const QFontMetrics mesure(f.font());
  int plusLarge = 0;
  for (auto* b : boutons) plusLarge = std::max(plusLarge, mesure.size(Qt::TextShowMnemonic, b->text()).width());
  for (std::size_t i = 0; i < boutons.size(); ++i) {
    EXPECT_EQ(boutons[i]->width(), plusLarge + FrmMessage::MargeBouton);
    EXPECT_EQ(boutons[i]->y(), boutons[0]->y());
    if (i > 0) {
      EXPECT_EQ(boutons[i]->x(), boutons[i - 1]->x() + boutons[i - 1]->width() + FrmMessage::EcartBoutons);
    }
  }
  const int gauche = boutons.front()->x();
  const int droite = f.width() - (boutons.back()->x() + boutons.back()->width());
  EXPECT_LE(std::abs(gauche - droite), 1);
  EXPECT_GE(gauche, f.Etiquette()->x());
}

TEST_F(DispositionMessage, IconeEtRangeeSousLIcone) {
  for (int icone = 0; icone <= 3; ++icone) {
    FrmMessage f(Message("Court", {Bouton("&Ok")}, icone));
    EXPECT_EQ(f.IndexImageSel(), icone);
    EXPECT_EQ(f.Icone()->pixmap().isNull(), icone == 0) << icone;
    const int basIcone = f.Icone()->y() + f.Icone()->height();
    const int basTexte = f.Etiquette()->y() + f.Etiquette()->height();
    EXPECT_EQ(f.Boutons()[0]->y(), std::max(basIcone, basTexte) + FrmMessage::EcartRangee);
  }
  FrmMessage f(Ok());
  f.setIndexImageSel(9);
  EXPECT_EQ(f.IndexImageSel(), 0);
}

TEST_F(DispositionMessage, EtCommercialEtLignes) {
  FrmMessage f(Message("Pierre & Paul\n\nFin", {Bouton("&Ok")}));
  auto* lbl = f.Etiquette();
  EXPECT_EQ(lbl->textFormat(), Qt::PlainText);
  EXPECT_EQ(lbl->text(), QStringLiteral("Pierre & Paul\n\nFin"));
  // Three lines, the middle one empty.
  EXPECT_GE(lbl->height(), 3 * lbl->fontMetrics().lineSpacing() - 2);
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Essai"));
}

}  // namespace
}  // namespace utireorg

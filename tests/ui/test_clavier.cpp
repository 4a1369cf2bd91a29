#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QXmlStreamReader>
#include <memory>
#include <vector>

#include "common/LigneDeCommande.h"
#include "common/Touches.h"
#include "ui/BoutonStd.h"
#include "ui/Clavier.h"
#include "ui/FenetreQtOutils.h"

namespace utireorg {
namespace {

// One QApplication for the whole program, created on first use (the test main is GoogleTest's).
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

// Records the keys a widget receives.
class Enregistreur : public QWidget {
 public:
  struct Touche {
    QEvent::Type type;
    int cle;
    Qt::KeyboardModifiers modificateurs;
    QString texte;
  };
  std::vector<Touche> touches;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    touches.push_back({e->type(), e->key(), e->modifiers(), e->text()});
  }
  void keyReleaseEvent(QKeyEvent* e) override {
    touches.push_back({e->type(), e->key(), e->modifiers(), e->text()});
  }
};

class FormulaireAvecBoutons : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    formulaire = std::make_unique<QWidget>();
    new QVBoxLayout(formulaire.get());
    DefinitOuvertureAide([this](long contexte) { aides.push_back(contexte); });
  }
  void TearDown() override {
    DefinitOuvertureAide({});
    formulaire.reset();
  }

  BoutonStd* Ajoute(const QString& nom, const QString& legende) {
    auto* bouton = new BoutonStd(legende, formulaire.get());
    bouton->setObjectName(nom);
    formulaire->layout()->addWidget(bouton);
    QObject::connect(bouton, &QPushButton::clicked, [this, nom] { presses.push_back(nom); });
    return bouton;
  }

  void Montre() {
    formulaire->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(formulaire.get()));
  }

  bool Touche(int code, Qt::KeyboardModifiers modificateurs = Qt::NoModifier) {
    int copie = code;
    bool utilisee = ToucheFonction(formulaire.get(), copie, modificateurs);
    codeRendu = copie;
    QCoreApplication::processEvents();
    return utilisee;
  }

  std::unique_ptr<QWidget> formulaire;
  std::vector<QString> presses;
  std::vector<long> aides;
  int codeRendu = -1;
};

TEST_F(FormulaireAvecBoutons, PremierBoutonActifEtVisibleDeLIndice) {
  auto* inactif = Ajoute("Bouton0", "&Lancer;F5");
  Ajoute("Bouton1", "&Relancer;F5");
  Ajoute("Bouton2", "&Encore;F5");
  inactif->setEnabled(false);
  Montre();
  EXPECT_TRUE(Touche(116));
  EXPECT_EQ(presses, std::vector<QString>{"Bouton1"});
  EXPECT_EQ(codeRendu, 116);
}

TEST_F(FormulaireAvecBoutons, BoutonCachePasse) {
  auto* cache = Ajoute("Bouton0", "&Lancer;F5");
  Ajoute("Bouton1", "&Relancer;F5");
  cache->hide();
  Montre();
  EXPECT_TRUE(Touche(116));
  EXPECT_EQ(presses, std::vector<QString>{"Bouton1"});
}

TEST_F(FormulaireAvecBoutons, AucunBoutonQualifieRienNeSePasse) {
  Ajoute("Bouton0", "&Lancer;F5")->setEnabled(false);
  Ajoute("Bouton1", "&Détails;F3");
  Ajoute("Autre", "&Autre;F5");  // not one of the "Bouton" controls
  Montre();
  EXPECT_FALSE(Touche(116));
  EXPECT_FALSE(Touche(117));
  EXPECT_FALSE(Touche('A'));
  EXPECT_TRUE(presses.empty());
}

TEST_F(FormulaireAvecBoutons, EchapEtEntreeParLeurNom) {
  Ajoute("Bouton0", "&Quitter;Ech");
  Ajoute("Bouton1", "&Valider;Entrée");
  Montre();
  EXPECT_TRUE(Touche(27));
  EXPECT_TRUE(Touche(13));
  EXPECT_EQ(presses, (std::vector<QString>{"Bouton0", "Bouton1"}));
}

TEST_F(FormulaireAvecBoutons, EscapeEnAnglais) {
  Ajoute("Bouton0", "&Fermer;Escape");
  Montre();
  EXPECT_TRUE(Touche(27));
  EXPECT_EQ(presses, std::vector<QString>{"Bouton0"});
}

TEST_F(FormulaireAvecBoutons, ModificateurTenuRienNeSePasse) {
  Ajoute("Bouton0", "&Lancer;F5");
  Montre();
  EXPECT_FALSE(Touche(116, Qt::ShiftModifier));
  EXPECT_FALSE(Touche(116, Qt::ControlModifier));
  EXPECT_FALSE(Touche(112, Qt::AltModifier));
  EXPECT_TRUE(presses.empty());
  EXPECT_TRUE(aides.empty());
  // The keypad flag is not a held modifier.
  EXPECT_TRUE(Touche(116, Qt::KeypadModifier));
}

TEST_F(FormulaireAvecBoutons, F1OuvreLAideSansBouton) {
  Ajoute("Bouton0", "&Lancer;F2");
  DefinitContexteAideFenetre(formulaire.get(), 12);
  Montre();
  EXPECT_TRUE(Touche(112));
  EXPECT_EQ(codeRendu, 0);
  EXPECT_EQ(aides, std::vector<long>{12});
  EXPECT_TRUE(presses.empty());
}

TEST_F(FormulaireAvecBoutons, F10ConsommeEtPresseSonBouton) {
  Ajoute("Bouton0", "&Un;F1");
  Ajoute("Bouton1", "&Dix;F10");
  Montre();
  EXPECT_TRUE(Touche(121));
  EXPECT_EQ(codeRendu, 0);
  EXPECT_EQ(presses, std::vector<QString>{"Bouton1"});
  presses.clear();
  EXPECT_FALSE(Touche(122));  // F11: the button of F1 stays out of it
  EXPECT_TRUE(presses.empty());
}

TEST_F(FormulaireAvecBoutons, AppelPendantUnAppelIgnore) {
  Ajoute("Bouton0", "&Lancer;F5");
  Montre();
  // Runs inside the first call, while it lets pending events run.
  std::optional<bool> imbrique;
  QTimer::singleShot(0, formulaire.get(), [this, &imbrique] {
    int code = 116;
    imbrique = ToucheFonction(formulaire.get(), code, Qt::NoModifier);
  });
  EXPECT_TRUE(Touche(116));
  ASSERT_TRUE(imbrique.has_value());
  EXPECT_FALSE(*imbrique);
  EXPECT_EQ(presses.size(), 1u);
  // Once done, the next call goes through again.
  EXPECT_TRUE(Touche(116));
  EXPECT_EQ(presses.size(), 2u);
}

TEST_F(FormulaireAvecBoutons, FormulaireDetruitPendantLAttente) {
  Ajoute("Bouton0", "&Lancer;F5");
  Montre();
  QTimer::singleShot(0, formulaire.get(), [this] { formulaire.release()->deleteLater(); });
  QPointer<QWidget> garde(formulaire.get());
  int code = 116;
  EXPECT_TRUE(ToucheFonction(garde, code, Qt::NoModifier));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  EXPECT_TRUE(presses.empty());
}

TEST(CodesDeTouches, AllerRetourEntreQtEtCodes) {
  for (int code = 1; code < 256; ++code) {
    auto touche = ToucheQtDeCode(code);
    if (!touche) continue;
    EXPECT_EQ(CodeDeToucheQt(touche->cle, touche->pave ? Qt::KeypadModifier : Qt::NoModifier), code)
        << code;
  }
  EXPECT_EQ(CodeDeToucheQt(Qt::Key_Plus, Qt::KeypadModifier), 107);
  EXPECT_EQ(CodeDeToucheQt(Qt::Key_Plus, Qt::NoModifier), 0);
  EXPECT_EQ(CodeDeToucheQt(Qt::Key_Enter, Qt::KeypadModifier), 13);
  EXPECT_EQ(CodeDeToucheQt(Qt::Key_Return, Qt::NoModifier), 13);
  EXPECT_EQ(CodeDeToucheQt(Qt::Key_5, Qt::KeypadModifier), 101);
  EXPECT_EQ(CodeDeToucheQt(Qt::Key_F12, Qt::NoModifier), 123);
  EXPECT_EQ(CodeDeToucheQt(Qt::Key_Eacute, Qt::NoModifier), 0);
  EXPECT_TRUE(ToucheQtDeCode(CodeTouche::Echap).has_value());
  EXPECT_EQ(ToucheQtDeCode(CodeTouche::Echap)->cle, Qt::Key_Escape);
}

class EnvoiQt : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    fenetre = std::make_unique<QWidget>();
    auto* disposition = new QVBoxLayout(fenetre.get());
    enregistreur = new Enregistreur;
    enregistreur->setFocusPolicy(Qt::StrongFocus);
    disposition->addWidget(enregistreur);
    fenetre->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(fenetre.get()));
    enregistreur->setFocus();
  }

  std::unique_ptr<QWidget> fenetre;
  Enregistreur* enregistreur = nullptr;
};

TEST_F(EnvoiQt, AltFAvecSesModificateurs) {
  EnvoieTouches("%f", true, fenetre.get());
  const auto& t = enregistreur->touches;
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].type, QEvent::KeyPress);
  EXPECT_EQ(t[0].cle, Qt::Key_Alt);
  EXPECT_EQ(t[0].modificateurs, Qt::AltModifier);
  EXPECT_EQ(t[1].type, QEvent::KeyPress);
  EXPECT_EQ(t[1].cle, Qt::Key_F);
  EXPECT_EQ(t[1].modificateurs, Qt::AltModifier);
  EXPECT_EQ(t[2].type, QEvent::KeyRelease);
  EXPECT_EQ(t[2].cle, Qt::Key_F);
  EXPECT_EQ(t[3].type, QEvent::KeyRelease);
  EXPECT_EQ(t[3].cle, Qt::Key_Alt);
  EXPECT_EQ(t[3].modificateurs, Qt::NoModifier);
}

TEST(EnvoiDansDesChamps, TabulationTroisFois) {
  Application();
  QWidget fenetre;
  auto* disposition = new QVBoxLayout(&fenetre);
  std::vector<QLineEdit*> champs;
  for (int i = 0; i < 5; ++i) {
    champs.push_back(new QLineEdit);
    disposition->addWidget(champs.back());
  }
  fenetre.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&fenetre));
  champs[0]->setFocus();
  EnvoieTouches("{TAB 3}", true, &fenetre);
  EXPECT_EQ(fenetre.focusWidget(), champs[3]);
}

TEST_F(EnvoiQt, SansAttendreRienNArriveAvantLaBoucle) {
  EnvoieTouches("ab", false, fenetre.get());
  EXPECT_TRUE(enregistreur->touches.empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(enregistreur->touches.size(), 4u);
}

TEST(EnvoiDansDesChamps, LaFrappeSuitLeFocus) {
  Application();
  QWidget fenetre;
  auto* disposition = new QVBoxLayout(&fenetre);
  auto* premier = new QLineEdit;
  auto* second = new QLineEdit;
  disposition->addWidget(premier);
  disposition->addWidget(second);
  fenetre.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&fenetre));
  premier->setFocus();
  EnvoieTouches("ab+c{TAB}x1 2", true, &fenetre);
  EXPECT_EQ(premier->text(), "abC");
  EXPECT_EQ(second->text(), "x1 2");
  EnvoieTouches("{BS 2}", true, &fenetre);
  EXPECT_EQ(second->text(), "x1");
}

TEST(EnvoiDansDesChamps, FenetreDetruiteLesTouchesSePerdent) {
  Application();
  auto fenetre = std::make_unique<QLineEdit>();
  fenetre->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fenetre.get()));
  EnvoieTouches("abc", false, fenetre.get());
  fenetre.reset();
  QCoreApplication::processEvents();  // nothing may crash nor land elsewhere
  SUCCEED();
}

TEST(DonneFocus, ControleVisibleEtActif) {
  Application();
  QWidget fenetre;
  auto* disposition = new QVBoxLayout(&fenetre);
  auto* champ = new QLineEdit;
  auto* inactif = new QLineEdit;
  auto* cache = new QLineEdit;
  disposition->addWidget(champ);
  disposition->addWidget(inactif);
  disposition->addWidget(cache);
  inactif->setEnabled(false);
  cache->hide();
  fenetre.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&fenetre));
  DonneFocus(champ);
  EXPECT_EQ(fenetre.focusWidget(), champ);
  DonneFocus(inactif);
  DonneFocus(cache);
  DonneFocus(nullptr);
  EXPECT_EQ(fenetre.focusWidget(), champ);
}

TEST(DonneFocus, OngletVisibleEtActif) {
  Application();
  QTabWidget onglets;
  for (int i = 0; i < 4; ++i) onglets.addTab(new QWidget, QStringLiteral("Page %1").arg(i));
  onglets.setTabEnabled(2, false);
  onglets.setTabVisible(3, false);
  onglets.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&onglets));
  DonneFocus(&onglets, 1);
  EXPECT_EQ(onglets.currentIndex(), 1);
  DonneFocus(&onglets, 2);
  DonneFocus(&onglets, 3);
  DonneFocus(&onglets, 9);
  EXPECT_EQ(onglets.currentIndex(), 1);
  DonneFocus(&onglets, 0);
  EXPECT_EQ(onglets.currentIndex(), 0);
}

class RapportFormulaire : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    ASSERT_TRUE(dossier.isValid());
    ancien = QDir::currentPath();
    QDir::setCurrent(dossier.path());
  }
  void TearDown() override {
    QDir::setCurrent(ancien);
    MemoriseLigneDeCommande(std::string());
  }

  int Tape(QWidget* fenetre, const char* lettres) {
    int mode = 0;
    for (const char* c = lettres; *c; ++c)
      mode = SequenceTouches(fenetre, *c, Qt::ControlModifier | Qt::ShiftModifier);
    return mode;
  }

  QTemporaryDir dossier;
  QString ancien;
};

TEST_F(RapportFormulaire, SequenceEcritLeRapport) {
  QWidget fenetre;
  fenetre.setObjectName("frmEssai");
  fenetre.setWindowTitle(QStringLiteral("Essai é"));
  auto* bouton = new BoutonStd(QStringLiteral("&Lancer;F2"), &fenetre);
  bouton->setObjectName("Bouton1");
  bouton->setEnabled(false);
  SequenceTouches(&fenetre, 'X', Qt::NoModifier);
  EXPECT_EQ(Tape(&fenetre, "FOR"), 0);
  EXPECT_FALSE(QFile::exists(FichierRapportFormulaire));
  EXPECT_EQ(Tape(&fenetre, "M"), 1);

  QFile fichier(FichierRapportFormulaire);
  ASSERT_TRUE(fichier.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&fichier);
  bool boutonTrouve = false;
  QString legende;
  while (!xml.atEnd()) {
    if (xml.readNext() == QXmlStreamReader::StartElement) {
      if (xml.name() == QLatin1String("Formulaire")) legende = xml.attributes().value("legende").toString();
      if (xml.name() == QLatin1String("Controle") && xml.attributes().value("nom") == QLatin1String("Bouton1")) {
        boutonTrouve = true;
        EXPECT_EQ(xml.attributes().value("classe"), QLatin1String("utireorg::BoutonStd"));
        EXPECT_EQ(xml.attributes().value("texte"), QLatin1String("&Lancer  [F2]"));
        EXPECT_EQ(xml.attributes().value("actif"), QLatin1String("false"));
      }
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_TRUE(boutonTrouve);
  EXPECT_EQ(legende, QStringLiteral("Essai é"));
}

TEST_F(RapportFormulaire, ModeTroisAvecAutotest) {
  QWidget fenetre;
  SequenceTouches(&fenetre, 'X', Qt::NoModifier);
  EXPECT_EQ(Tape(&fenetre, "A"), 0);
  MemoriseLigneDeCommande("AUTOTEST");
  EXPECT_EQ(Tape(&fenetre, "A"), 3);
  EXPECT_TRUE(QFile::exists(FichierRapportFormulaire));
}

TEST(BoutonStd, LegendeEtIndice) {
  Application();
  BoutonStd bouton;
  bouton.setLegende(QStringLiteral("&Lancer; f2 "));
  EXPECT_EQ(bouton.Texte(), QStringLiteral("&Lancer"));
  EXPECT_EQ(bouton.Indice(), QStringLiteral("F2"));
  EXPECT_EQ(bouton.LettreAcces(), QChar('L'));
  EXPECT_TRUE(bouton.text().startsWith(QStringLiteral("&Lancer")));
  EXPECT_TRUE(bouton.text().contains(QStringLiteral("F2")));
  bouton.setLegende(std::string_view("&Détails"));
  EXPECT_EQ(bouton.Indice(), QString());
  EXPECT_EQ(bouton.text(), QStringLiteral("&Détails"));
  bouton.setLegende(QStringLiteral("Continuer"));
  EXPECT_TRUE(bouton.LettreAcces().isNull());
  bouton.setLegende(QStringLiteral("&é"));
  EXPECT_EQ(bouton.LettreAcces(), QChar(0xC9));
}

TEST(BoutonStd, LettreDAccesAvecLIndice) {
  Application();
  QWidget fenetre;
  auto* disposition = new QVBoxLayout(&fenetre);
  auto* bouton = new BoutonStd(QStringLiteral("&Lancer;F2"));
  auto* autre = new BoutonStd(QStringLiteral("&Quitter;&"));
  disposition->addWidget(bouton);
  disposition->addWidget(autre);
  int clics = 0;
  QObject::connect(bouton, &QPushButton::clicked, [&clics] { ++clics; });
  fenetre.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&fenetre));
  QTest::keyClick(&fenetre, Qt::Key_L, Qt::AltModifier);
  QTest::qWait(300);  // the access key animates the click
  EXPECT_EQ(clics, 1);
  // A "&" in the hint does not become a second access key.
  EXPECT_EQ(autre->text().count(QStringLiteral("&&")), 1);
}

}  // namespace
}  // namespace utireorg

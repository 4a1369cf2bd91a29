#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QAbstractProxyModel>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QPainter>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/FenetreSansEcran.h"
#include "commun/FichiersTest.h"
#include "common/LigneDeCommande.h"
#include "moteur/Moteur.h"
#include "ui/BoutonStd.h"
#include "ui/FenetreQtOutils.h"
#include "ui/Francais.h"
#include "ui/FrmMessage.h"
#include "ui/FrmUtiReorg.h"

namespace utireorg {
namespace {

namespace fs = std::filesystem;

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

void Traite(int fois = 5) {
  for (int i = 0; i < fois; ++i) QCoreApplication::processEvents();
}

FrmMessage* MessageVisible() {
  for (QWidget* fenetre : QApplication::topLevelWidgets())
    if (auto* message = qobject_cast<FrmMessage*>(fenetre); message && message->isVisible()) return message;
  return nullptr;
}

// Answers the messages as they appear: with the scripted buttons in turn, then with the cancel
// button (the first when there is none). Every message seen is kept.
class Repondeur {
 public:
  struct Vu {
    std::string texte;
    std::string titre;
    std::vector<std::string> boutons;
  };

  Repondeur() {
    minuterie_.setInterval(5);
    QObject::connect(&minuterie_, &QTimer::timeout, [this] { Regarde(); });
    minuterie_.start();
  }

  // Answers for the next messages: a 1-based button, and an action run before pressing it.
  void Repond(int bouton, std::function<void(FrmMessage*)> avant = {}) {
    script_.push_back({bouton, std::move(avant)});
  }
  const std::vector<Vu>& Vus() const { return vus_; }
  std::string Textes() const {
    std::string tous;
    for (const auto& vu : vus_) tous += "[" + vu.titre + "] " + vu.texte + "\n";
    return tous;
  }

 private:
  struct Reponse {
    int bouton;
    std::function<void(FrmMessage*)> avant;
  };

  void Regarde() {
    FrmMessage* message = MessageVisible();
    if (!message || message == dernier_) return;
    dernier_ = message;
    Vu vu{message->Etiquette()->text().toStdString(), message->windowTitle().toStdString(), {}};
    for (auto* bouton : message->Boutons()) vu.boutons.push_back(bouton->Legende().toStdString());
    vus_.push_back(vu);
    int index = 1;
    if (!script_.empty()) {
      Reponse reponse = std::move(script_.front());
      script_.pop_front();
      if (reponse.avant) reponse.avant(message);
      index = reponse.bouton;
    } else {
      for (size_t i = 0; i < vu.boutons.size(); ++i)
        if (vu.boutons[i].find("Annuler") != std::string::npos || vu.boutons[i].find("Ok") != std::string::npos)
          index = static_cast<int>(i) + 1;
    }
    message->Boutons().at(static_cast<size_t>(index - 1))->click();
  }

  QTimer minuterie_;
  QPointer<FrmMessage> dernier_;
  std::deque<Reponse> script_;
  std::vector<Vu> vus_;
};

// A small database of one table and one record.
void CreeBase(const std::string& chemin) {
  moteur::Database base = moteur::DBEngine::CreateDatabase(chemin, "4.0");
  moteur::TableDef table = base.CreateTableDef("Clients");
  table.Fields().Append(table.CreateField("IdClient", moteur::dbLong));
  table.Fields().Append(table.CreateField("Nom", moteur::dbText, 30));
  base.TableDefs().Append(table);
  base.Execute("INSERT INTO Clients (IdClient, Nom) VALUES (1, 'Dupont')");
  base.Close();
}

class FenetrePrincipale : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    ReglagesMessage().antirebond = std::chrono::milliseconds(0);
    ReglagesMessage().bip = [] {};
    DefinitOuvertureAide([this](long contexte) { aides.push_back(contexte); });
    MemoriseLigneDeCommande(std::string("tests_ui"));
    temporaire.emplace("frm_utireorg");
    dossier = temporaire->Racine();
    ancien = fs::current_path();
    fs::current_path(dossier);
    repondeur = std::make_unique<Repondeur>();
  }

  void TearDown() override {
    fenetre.reset();
    repondeur.reset();
    Traite();
    fs::current_path(ancien);
    temporaire.reset();
    DefinitOuvertureAide({});
    ReglagesMessage() = ReglagesMessageQt{};
    MemoriseLigneDeCommande(std::string());
  }

  FrmUtiReorg& Cree(bool demarre = true) {
    fenetre = std::make_unique<FrmUtiReorg>();
    if (demarre) fenetre->Reorganisation();
    Traite();
    return *fenetre;
  }

  // The target in a folder below its model, as the databases of one installation lie.
  std::string CreeCibleEtModele() {
    fs::create_directories(dossier + "/DOSSIER1");
    cible = dossier + "/DOSSIER1/Compta.mdb";
    modele = dossier + "/Compta.mdb";
    CreeBase(cible);
    CreeBase(modele);
    return cible;
  }

  // Keys go to the focused control, as typed keys do: the window must see them first.
  void Touche(Qt::Key cle, Qt::KeyboardModifiers modificateurs = Qt::NoModifier) {
    QWidget* destinataire = fenetre->focusWidget() ? fenetre->focusWidget() : fenetre.get();
    QTest::keyClick(destinataire, cle, modificateurs);
    Traite();
  }

  // The user ticks "Réorganisation avancée", as a host application lets them.
  void PasseEnModeAvance() {
    fenetre->CaseAvancee()->setChecked(false);
    fenetre->CaseAvancee()->setChecked(true);
  }

  std::string JournalVue() const { return fenetre->Fenetre().TexteJournal(); }

  std::optional<utireorg::tests::DossierTest> temporaire;
  std::string dossier;
  fs::path ancien;
  std::string cible;
  std::string modele;
  std::vector<long> aides;
  std::unique_ptr<Repondeur> repondeur;
  std::unique_ptr<FrmUtiReorg> fenetre;
};

// ---------------------------------------------------------------------------------------------
// Loading and start-up.

TEST_F(FenetrePrincipale, ChargementSurLaPageDesBases) {
  auto& f = Cree(false);
  EXPECT_TRUE(f.Charge());
  EXPECT_EQ(f.PageCourante(), 1);
  EXPECT_EQ(f.PageAffichee(), 1);
  EXPECT_EQ(f.windowTitle(), QStringLiteral("Utilitaire de réorganisation de bases de données"));
  EXPECT_EQ(ContexteAideFenetre(&f), 6080);
  for (int i = 0; i <= coche::ModeSecurise; ++i) EXPECT_TRUE(f.CocheOption(i)->isChecked()) << i;
  EXPECT_FALSE(f.CocheOption(coche::ControleEtendu)->isChecked());
  EXPECT_FALSE(f.CocheOption(coche::TraitementExhaustif)->isChecked());
  EXPECT_TRUE(f.CaseAvancee()->isChecked());
  EXPECT_TRUE(f.CaseAvancee()->isHidden());
  EXPECT_FALSE(f.CaseCopie()->isChecked());
  // Without the record copy the model input is not examined and cannot be typed into.
  EXPECT_FALSE(f.SaisieBase(saisie::Modele)->isEnabled());
  EXPECT_FALSE(f.CaseLigneALigne()->isEnabled());
  EXPECT_FALSE(f.LabelLigneALigne()->isEnabled());
  EXPECT_FALSE(f.TexteSaisie(saisie::Modele)->isEnabled());
  EXPECT_TRUE(f.SaisieBase(saisie::Cible)->isEnabled());
  EXPECT_FALSE(f.BoutonFenetre(bouton::Precedent)->isEnabled());
  EXPECT_TRUE(f.BoutonFenetre(bouton::Details)->isEnabled());
  EXPECT_TRUE(f.BoutonFenetre(bouton::Lancer)->isEnabled());
  EXPECT_TRUE(f.BoutonFenetre(bouton::Quitter)->isEnabled());
  EXPECT_TRUE(f.BoutonNew()->isHidden());
  EXPECT_TRUE(f.VisuRapport()->isHidden());
  EXPECT_FALSE(f.ReorgEnCours());
  EXPECT_FALSE(f.Traite());
  EXPECT_TRUE(f.vIsLoad());
  EXPECT_TRUE(f.SchemaCouleurs());
}

TEST_F(FenetrePrincipale, TextesDeLaFenetre) {
  auto& f = Cree(false);
  const char* legendes[] = {"&Quitter;Ech", "&Précédent", "&Détails;F3", "&Lancer;F2", "&Aperçu"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(f.BoutonFenetre(i)->Legende(), QString::fromUtf8(legendes[i]));
    EXPECT_EQ(f.BoutonFenetre(i)->objectName(), QStringLiteral("Bouton%1").arg(i));
  }
  const char* options[] = {"Vérifications primaires", "Réparation / Compactage", "Compactage",
                           "Mode sécurisé",           "Contrôle étendu",         "Traitement exhaustif"};
  for (int i = 0; i < coche::Nombre; ++i) EXPECT_EQ(f.CocheOption(i)->text(), QString::fromUtf8(options[i]));
  EXPECT_EQ(f.TexteSaisie(saisie::Cible)->text(), QStringLiteral("Base à analyser :"));
  EXPECT_EQ(f.TexteSaisie(saisie::Modele)->text(), QStringLiteral("Base modèle :"));
  EXPECT_EQ(f.CaseCopie()->text(), QStringLiteral("Copie des enregistrements"));
  EXPECT_EQ(f.CaseLigneALigne()->text(), QStringLiteral("Copie ligne à ligne"));
  EXPECT_EQ(f.CaseAvancee()->text(), QStringLiteral("Réorganisation avancée"));
  EXPECT_EQ(f.ExplicationCopie()->text(), QStringLiteral("La copie des enregistrements va recopier les données de la "
                                                         "\"base à analyser\" dans la \"base modèle\"."));
  EXPECT_EQ(f.ExplicationOption(0)->text(), QStringLiteral("Ouverture de la base et lecture des enregistrements"));
  EXPECT_EQ(f.ExplicationOption(6)->text(),
            QStringLiteral("Vérification intégrale de la conformité de chaque champ de la base. Selon la taille "
                           "de votre base de données, la durée de ce traitement peut être relativement longue."));
  EXPECT_EQ(f.TexteAccueil()->text(),
            QStringLiteral("L'utilitaire de réorganisation de bases de données vous permet de réparer, compacter, "
                           "mais aussi d'analyser vos bases de données. \n\nCliquez sur 'Lancer' pour effectuer une "
                           "réorganisation simple. \n\nSi vous souhaitez une réorganisation plus poussée, cochez "
                           "'Réorganisation avancée', vous aurez ainsi accès à toutes les options de la "
                           "réorganisation, grâce au bouton 'Détails'."));
  EXPECT_TRUE(f.ExplicationOption(3)->text().startsWith(
      QStringLiteral("Une copie de sécurité de la base sera effectuée avant de lancer le traitement. (nécessite ")));
  EXPECT_TRUE(f.ExplicationOption(3)->text().endsWith(QStringLiteral(" sur votre disque dur.)")));
  EXPECT_EQ(f.TypeAvancement()->text(), QStringLiteral("Préparation ..."));
  EXPECT_EQ(f.Avancement()->text(), QStringLiteral("Préparation ..."));
  EXPECT_EQ(f.BoutonNew()->text(), QStringLiteral("Lancer une nouvelle analyse"));
  EXPECT_EQ(f.VisuRapport()->toolTip(), QStringLiteral("Visualiser le journal de réorganisation comme fichier texte"));
  EXPECT_EQ(f.LabelLiasse()->text(), QStringLiteral("REORGANISATION"));
  // The journal's 75-column frames line up only in a fixed-pitch font.
  EXPECT_TRUE(QFontInfo(f.SaisieAnalyse()->font()).fixedPitch());
}

// A family that is missing, or present but proportional, is passed over: what counts is the
// font actually matched, whatever the machine has installed.
TEST_F(FenetrePrincipale, LaPoliceDuJournalEstUnePoliceAChasseFixeInstallee) {
  Application();
  QString fixe, proportionnelle;
  for (const QString& famille : QFontDatabase::families()) {
    if (QFontDatabase::isFixedPitch(famille) && fixe.isEmpty()) fixe = famille;
    if (!QFontDatabase::isFixedPitch(famille) && QFontInfo(QFont(famille)).family() == famille &&
        proportionnelle.isEmpty())
      proportionnelle = famille;
  }
  if (fixe.isEmpty() || proportionnelle.isEmpty())
    GTEST_SKIP() << "Il faut une police à chasse fixe et une police proportionnelle installées (fonts-dejavu-core).";
  QFont police = PoliceFixe({QStringLiteral("Famille Absente Du Systeme"), proportionnelle, fixe});
  EXPECT_TRUE(QFontInfo(police).fixedPitch());
  EXPECT_EQ(QFontInfo(police).family(), fixe);
}

TEST_F(FenetrePrincipale, ReorganisationFermeLaPageDesOptions) {
  auto& f = Cree();
  EXPECT_TRUE(f.isVisible());
  EXPECT_FALSE(f.BoutonFenetre(bouton::Details)->isEnabled());
  EXPECT_TRUE(f.PiloteReorg().Etat().flagVerifRelation);
  f.Reorganisation(false, false, false);
  EXPECT_FALSE(f.PiloteReorg().Etat().flagVerifRelation);
  // Enter and the right arrow lead nowhere: the options page cannot be reached.
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  Touche(Qt::Key_Right);
  Touche(Qt::Key_Return);
  Touche(Qt::Key_F3);
  EXPECT_EQ(f.PageAffichee(), 1);
}

TEST_F(FenetrePrincipale, MotAvanceGardeLAccesAuxOptions) {
  MemoriseLigneDeCommande(std::string("utireorg AVANCE"));
  auto& f = Cree();
  EXPECT_TRUE(f.BoutonFenetre(bouton::Details)->isEnabled());
  EXPECT_TRUE(f.CaseAvancee()->isChecked());
}

// ---------------------------------------------------------------------------------------------
// Pages and keys.

TEST_F(FenetrePrincipale, NavigationEntreLesPages) {
  auto& f = Cree();
  CreeCibleEtModele();
  PasseEnModeAvance();
  EXPECT_TRUE(f.BoutonFenetre(bouton::Details)->isEnabled());
  EXPECT_TRUE(f.CocheOption(coche::ControleEtendu)->isChecked());
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));

  // "Précédent" does nothing before the options page has been reached.
  f.BoutonFenetre(bouton::Precedent)->click();
  EXPECT_EQ(f.PageAffichee(), 1);

  f.BoutonFenetre(bouton::Details)->click();
  EXPECT_EQ(f.PageAffichee(), 2);
  EXPECT_EQ(f.PagePrecedente(), 1);
  EXPECT_TRUE(f.BoutonFenetre(bouton::Precedent)->isEnabled());
  EXPECT_EQ(f.focusWidget(), f.CocheOption(coche::VerificationsPrimaires));

  f.BoutonFenetre(bouton::Precedent)->click();
  EXPECT_EQ(f.PageAffichee(), 1);
  EXPECT_EQ(f.focusWidget(), f.SaisieBase(saisie::Cible));
  EXPECT_FALSE(f.BoutonFenetre(bouton::Precedent)->isEnabled());

  // From the options page "Détails" comes round to the databases page.
  f.BoutonFenetre(bouton::Details)->click();
  f.BoutonFenetre(bouton::Details)->click();
  EXPECT_EQ(f.PageAffichee(), 1);
  EXPECT_EQ(f.PageCourante(), 1);
  EXPECT_TRUE(repondeur->Vus().empty()) << repondeur->Textes();
}

TEST_F(FenetrePrincipale, LaPageDIntroductionEstSautee) {
  auto& f = Cree();
  int page = 0;
  f.AffichePage(page);
  EXPECT_EQ(page, 1);
  EXPECT_EQ(f.PageAffichee(), 1);
  page = 3;
  f.AffichePage(page);
  EXPECT_EQ(f.PageAffichee(), 3);
  EXPECT_TRUE(f.BoutonFenetre(bouton::Lancer)->isEnabled());
}

TEST_F(FenetrePrincipale, DetailsRefuseUneCibleVide) {
  auto& f = Cree();
  PasseEnModeAvance();
  f.BoutonFenetre(bouton::Details)->click();
  Traite();
  EXPECT_EQ(f.PageAffichee(), 1);
  ASSERT_EQ(repondeur->Vus().size(), 1u);
  EXPECT_EQ(repondeur->Vus()[0].texte, "Vous devez saisir une base valide !");
  EXPECT_EQ(f.focusWidget(), f.SaisieBase(saisie::Cible));
}

TEST_F(FenetrePrincipale, CopieExigeLaBaseModele) {
  auto& f = Cree();
  CreeCibleEtModele();
  PasseEnModeAvance();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  f.CaseCopie()->click();
  EXPECT_TRUE(f.SaisieBase(saisie::Modele)->isEnabled());
  EXPECT_TRUE(f.CaseLigneALigne()->isEnabled());
  EXPECT_TRUE(f.LabelLigneALigne()->isEnabled());
  f.BoutonFenetre(bouton::Details)->click();
  Traite();
  EXPECT_EQ(f.PageAffichee(), 1);
  ASSERT_EQ(repondeur->Vus().size(), 1u);
  EXPECT_EQ(repondeur->Vus()[0].texte, "Vous devez saisir une base valide !");
  EXPECT_EQ(f.focusWidget(), f.SaisieBase(saisie::Modele));

  f.SaisieBase(saisie::Modele)->setText(QString::fromStdString(modele));
  f.BoutonFenetre(bouton::Details)->click();
  EXPECT_EQ(f.PageAffichee(), 2);
}

TEST_F(FenetrePrincipale, CibleQuiNEstPasUneBase) {
  auto& f = Cree();
  PasseEnModeAvance();
  std::ofstream(dossier + "/texte.mdb") << "ceci n'est pas une base";
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(dossier + "/texte.mdb"));
  f.BoutonFenetre(bouton::Details)->click();
  Traite();
  EXPECT_EQ(f.PageAffichee(), 1);
  ASSERT_FALSE(repondeur->Vus().empty());
  EXPECT_EQ(repondeur->Vus().back().texte, "Base à analyser invalide !");
}

TEST_F(FenetrePrincipale, TouchesDeFonctionEtFleches) {
  auto& f = Cree();
  CreeCibleEtModele();
  PasseEnModeAvance();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));

  Touche(Qt::Key_F3);  // "Détails"
  EXPECT_EQ(f.PageAffichee(), 2);
  Touche(Qt::Key_Right);  // no further page from the options
  EXPECT_EQ(f.PageAffichee(), 2);
  Touche(Qt::Key_Left);
  EXPECT_EQ(f.PageAffichee(), 1);
  Touche(Qt::Key_PageUp);
  EXPECT_EQ(f.PageAffichee(), 2);
  Touche(Qt::Key_PageDown);
  EXPECT_EQ(f.PageAffichee(), 1);

  // F2 presses "Lancer": the confirmation comes, and declining it leaves things as they were.
  repondeur->Repond(2);
  Touche(Qt::Key_F2);
  Traite();
  ASSERT_EQ(repondeur->Vus().size(), 1u) << repondeur->Textes();
  EXPECT_EQ(repondeur->Vus()[0].texte, "Confirmez-vous la réorganisation du dossier ?");
  EXPECT_EQ(f.PageAffichee(), 1);

  Touche(Qt::Key_F1);
  ASSERT_EQ(aides.size(), 1u);
  EXPECT_EQ(aides[0], 6080);
}

TEST_F(FenetrePrincipale, EchapQuitte) {
  auto& f = Cree();
  QSignalSpy dechargee(&f, &FrmUtiReorg::Dechargee);
  Touche(Qt::Key_Escape);
  Traite();
  EXPECT_FALSE(f.Charge());
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(dechargee.count(), 1);
}

TEST_F(FenetrePrincipale, LesTouchesNeValentQueSurUnBoutonActif) {
  auto& f = Cree();
  QSignalSpy dechargee(&f, &FrmUtiReorg::Dechargee);
  f.BoutonFenetre(bouton::Quitter)->setEnabled(false);
  Touche(Qt::Key_Escape);
  Traite();
  EXPECT_TRUE(f.Charge());
  EXPECT_EQ(dechargee.count(), 0);
}

TEST_F(FenetrePrincipale, ChAvanceeCocheLeControleEtendu) {
  auto& f = Cree();
  f.CaseAvancee()->setChecked(false);
  EXPECT_FALSE(f.BoutonFenetre(bouton::Details)->isEnabled());
  EXPECT_FALSE(f.CocheOption(coche::ControleEtendu)->isChecked());
  f.CaseAvancee()->setChecked(true);
  EXPECT_TRUE(f.BoutonFenetre(bouton::Details)->isEnabled());
  EXPECT_TRUE(f.CocheOption(coche::ControleEtendu)->isChecked());
}

// ---------------------------------------------------------------------------------------------
// Colours.

TEST_F(FenetrePrincipale, DoubleClicSurImage1InverseLesCouleurs) {
  auto& f = Cree();
  const QColor blanc(255, 255, 255);
  EXPECT_EQ(f.Page(1)->palette().color(QPalette::Window), blanc);
  EXPECT_EQ(f.Page(0)->palette().color(QPalette::Window), QColor(99, 117, 214));
  EXPECT_EQ(f.TexteAccueil()->palette().color(QPalette::WindowText), blanc);
  EXPECT_FALSE(f.ImgDecors()->isHidden());

  // Anywhere else, a double-click changes nothing: the page, its captions, the title band.
  for (QWidget* ailleurs : std::initializer_list<QWidget*>{f.Page(1), f.TexteSaisie(saisie::Cible), f.LabelLiasse()}) {
    QTest::mouseDClick(ailleurs, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    EXPECT_TRUE(f.SchemaCouleurs()) << ailleurs->objectName().toStdString();
  }

  QTest::mouseDClick(f.ImageBandeau(), Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_FALSE(f.SchemaCouleurs());
  const QColor face = QApplication::palette().color(QPalette::Window);
  EXPECT_EQ(f.Page(1)->palette().color(QPalette::Window), face);
  EXPECT_EQ(f.Page(0)->palette().color(QPalette::Window), face);
  EXPECT_EQ(f.TexteAccueil()->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_TRUE(f.ImgDecors()->isHidden());

  QTest::mouseDClick(f.ImageBandeau(), Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
  EXPECT_TRUE(f.SchemaCouleurs());
  EXPECT_EQ(f.Page(1)->palette().color(QPalette::Window), blanc);
}

// A disabled caption is drawn in the style's disabled colours, in both schemes.
TEST_F(FenetrePrincipale, LesLegendesInactivesOntLaCouleurInactive) {
  auto& f = Cree();
  f.CaseCopie()->setChecked(false);
  const QColor inactive = QApplication::palette().color(QPalette::Disabled, QPalette::WindowText);
  for (int schema = 0; schema < 2; ++schema) {
    for (QWidget* legende :
         std::initializer_list<QWidget*>{f.TexteSaisie(saisie::Modele), f.CaseLigneALigne(), f.LabelLigneALigne()}) {
      ASSERT_FALSE(legende->isEnabled());
      EXPECT_EQ(legende->palette().color(QPalette::Disabled, QPalette::WindowText), inactive)
          << legende->objectName().toStdString();
      EXPECT_EQ(legende->palette().color(QPalette::Active, QPalette::WindowText), QColor(0, 0, 128));
    }
    f.InverseCouleurs();
  }
}

// ---------------------------------------------------------------------------------------------
// The window interface.

TEST_F(FenetrePrincipale, BarreDeProgressionBornee) {
  auto& f = Cree();
  InterfaceFenetre& fenetre = f.Fenetre();
  fenetre.ProgressMaximum(10);
  fenetre.ProgressValeur(25);
  EXPECT_EQ(fenetre.ProgressValeur(), 10);
  fenetre.ProgressValeur(-3);
  EXPECT_EQ(fenetre.ProgressValeur(), 0);
  fenetre.ProgressValeur(7);
  fenetre.ProgressMaximum(4);  // a smaller maximum keeps the value inside
  EXPECT_EQ(fenetre.ProgressMaximum(), 4);
  EXPECT_EQ(fenetre.ProgressValeur(), 4);
}

TEST_F(FenetrePrincipale, VueDuJournal) {
  auto& f = Cree();
  InterfaceFenetre& fenetre = f.Fenetre();
  fenetre.AjouteAuJournal("Première ligne\r\n");
  fenetre.AjouteAuJournal("deux\r\nlignes\r\n");
  EXPECT_EQ(fenetre.TexteJournal(), "Première ligne\r\ndeux\r\nlignes\r\n");
}

TEST_F(FenetrePrincipale, VueDuJournalBornee) {
  auto& f = Cree();
  InterfaceFenetre& fenetre = f.Fenetre();
  const std::string ligne = std::string(98, 'x') + "\r\n";
  std::string paquet;
  for (int i = 0; i < 1000; ++i) paquet += ligne;
  for (int i = 0; i < 25; ++i) fenetre.AjouteAuJournal(paquet);  // 2.5 million characters
  fenetre.AjouteAuJournal("dernière ligne\r\n");
  std::string texte = fenetre.TexteJournal();
  EXPECT_LE(f.SaisieAnalyse()->document()->characterCount(), FrmUtiReorg::TailleMaximaleVue);
  EXPECT_GT(texte.size(), 1'000'000u);
  // Whole lines are dropped from the start; the latest stay.
  EXPECT_EQ(texte.substr(0, ligne.size()), ligne);
  EXPECT_EQ(texte.substr(texte.size() - 17), "dernière ligne\r\n");
}

TEST_F(FenetrePrincipale, InterfaceDesControles) {
  auto& f = Cree();
  InterfaceFenetre& fenetre = f.Fenetre();
  EXPECT_TRUE(fenetre.Coche(coche::VerificationsPrimaires));
  EXPECT_FALSE(fenetre.Coche(coche::TraitementExhaustif));
  EXPECT_FALSE(fenetre.Coche(coche::Nombre));
  EXPECT_TRUE(fenetre.Case(cases::Avancee));
  EXPECT_FALSE(fenetre.Case(cases::Copie));
  f.SaisieBase(saisie::Cible)->setText(QStringLiteral("/là/base.mdb"));
  EXPECT_EQ(fenetre.Saisie(saisie::Cible), "/là/base.mdb");
  EXPECT_EQ(fenetre.Legende(), "Utilitaire de réorganisation de bases de données");
  // The run without a screen titles its messages and contexts as the window does.
  EXPECT_EQ(FenetreSansEcran().Legende(), fenetre.Legende());
  EXPECT_EQ(FenetreSansEcran().LegendesFenetres(), std::vector<std::string>{fenetre.Legende()});
  auto legendes = fenetre.LegendesFenetres();
  EXPECT_NE(std::find(legendes.begin(), legendes.end(), fenetre.Legende()), legendes.end());

  fenetre.Legendes("Compactage", "Clients");
  EXPECT_EQ(f.TypeAvancement()->text(), QStringLiteral("Compactage"));
  EXPECT_EQ(f.Avancement()->text(), QStringLiteral("Clients"));

  fenetre.ActiveBouton(bouton::Lancer, false);
  EXPECT_FALSE(f.BoutonFenetre(bouton::Lancer)->isEnabled());

  fenetre.Pointeur(PointeurSouris::Sablier);
  fenetre.Pointeur(PointeurSouris::Sablier);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  fenetre.Pointeur(PointeurSouris::Normal);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  fenetre.AvancementEnErreur();
  EXPECT_EQ(f.Avancement()->palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(f.Avancement()->palette().color(QPalette::WindowText), QColor(255, 255, 255));
  EXPECT_TRUE(f.Avancement()->autoFillBackground());
}

// ---------------------------------------------------------------------------------------------
// Choosing the databases.

TEST_F(FenetrePrincipale, ParcourirProposeLeModeleDuDossierParent) {
  auto& f = Cree();
  CreeCibleEtModele();
  // 7 Mo beside the target, which the safety copy does not copy.
  {
    std::ofstream remplissage(dossier + "/DOSSIER1/annexe.bin", std::ios::binary);
    remplissage << std::string(7 * 1024 * 1024, '\0');
  }
  std::vector<int> demandes;
  f.DefinitChoixFichier([&](int index, const QString&) {
    demandes.push_back(index);
    return QString::fromStdString(cible);
  });
  f.ActionParcourir(saisie::Cible)->trigger();
  EXPECT_EQ(demandes, std::vector<int>{0});
  EXPECT_EQ(f.SaisieBase(saisie::Cible)->text().toStdString(), cible);
  EXPECT_EQ(f.SaisieBase(saisie::Modele)->text().toStdString(), modele);
  // The safety copy's room is that of the target alone.
  EXPECT_TRUE(f.ExplicationOption(3)->text().endsWith(
      QStringLiteral("(nécessite %1 Ko sur votre disque dur.)").arg(fs::file_size(cible) / 1024)))
      << f.ExplicationOption(3)->text().toStdString();
}

TEST_F(FenetrePrincipale, ParcourirSansModeleProposeLaCopieInstallee) {
  auto& f = Cree();
  fs::create_directories(dossier + "/seul");
  std::string seule = dossier + "/seul/Paie.mdb";
  CreeBase(seule);
  f.DefinitChoixFichier([&](int, const QString&) { return QString::fromStdString(seule); });
  f.ParcourtFichier(0);
  EXPECT_EQ(f.SaisieBase(saisie::Modele)->text(),
            QCoreApplication::applicationDirPath() + QStringLiteral("/BASESORIGINE/Paie.mdb"));
}

// A database opened from the desktop (a .mdb file given on the command line) is taken as if
// chosen by the browse action, a relative name made absolute.
TEST_F(FenetrePrincipale, UnFichierOuvertDepuisLeBureauDevientLaBaseAAnalyser) {
  auto& f = Cree();
  fs::create_directories(dossier + "/Logiciel/Dossier1");
  CreeBase(dossier + "/Logiciel/Paie.mdb");
  CreeBase(dossier + "/Logiciel/Dossier1/Paie.mdb");
  const fs::path avant = fs::current_path();
  fs::current_path(dossier + "/Logiciel");
  f.OuvreFichier(QStringLiteral("Dossier1/Paie.mdb"));
  fs::current_path(avant);
  EXPECT_EQ(f.SaisieBase(saisie::Cible)->text().toStdString(), dossier + "/Logiciel/Dossier1/Paie.mdb");
  EXPECT_EQ(f.SaisieBase(saisie::Modele)->text().toStdString(), dossier + "/Logiciel/Paie.mdb");
}

TEST_F(FenetrePrincipale, ParcourirAnnuleNeChangeRien) {
  auto& f = Cree();
  f.SaisieBase(saisie::Cible)->setText(QStringLiteral("/ancienne/base.mdb"));
  f.DefinitChoixFichier([](int, const QString& depart) {
    EXPECT_EQ(depart, QStringLiteral("/ancienne"));
    return QString();
  });
  f.ParcourtFichier(0);
  EXPECT_EQ(f.SaisieBase(saisie::Cible)->text(), QStringLiteral("/ancienne/base.mdb"));
  EXPECT_TRUE(f.SaisieBase(saisie::Modele)->text().isEmpty());
  // The model input is left alone while the record copy is off.
  int appels = 0;
  f.DefinitChoixFichier([&](int, const QString&) {
    ++appels;
    return QStringLiteral("/x.mdb");
  });
  f.ParcourtFichier(1);
  EXPECT_EQ(appels, 0);
}

// ---------------------------------------------------------------------------------------------
// Runs.

TEST_F(FenetrePrincipale, ConfirmationDeclineeRevientALaPage) {
  auto& f = Cree();
  CreeCibleEtModele();
  PasseEnModeAvance();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  f.BoutonFenetre(bouton::Details)->click();
  ASSERT_EQ(f.PageAffichee(), 2);

  int pageDuMessage = -1;
  bool quitterPendantLaQuestion = true;
  repondeur->Repond(2, [&](FrmMessage*) {
    pageDuMessage = f.PageAffichee();
    quitterPendantLaQuestion = f.BoutonFenetre(bouton::Quitter)->isEnabled();
  });
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  ASSERT_EQ(repondeur->Vus().size(), 1u) << repondeur->Textes();
  const auto& question = repondeur->Vus()[0];
  EXPECT_EQ(question.texte, "Confirmez-vous la réorganisation du dossier ?");
  EXPECT_EQ(question.titre, "Réorganisation");
  ASSERT_GE(question.boutons.size(), 2u);
  EXPECT_EQ(question.boutons[0], "&Confirmer");
  EXPECT_EQ(question.boutons[1], "&Annuler");
  EXPECT_EQ(pageDuMessage, 3);
  EXPECT_FALSE(quitterPendantLaQuestion);

  EXPECT_EQ(f.PageAffichee(), 2);
  EXPECT_TRUE(f.BoutonFenetre(bouton::Quitter)->isEnabled());
  EXPECT_TRUE(f.BoutonFenetre(bouton::Lancer)->isEnabled());
  EXPECT_TRUE(f.BoutonFenetre(bouton::Details)->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(fs::exists(dossier + "/Analyse.txt"));
  EXPECT_TRUE(f.BoutonNew()->isHidden());
}

TEST_F(FenetrePrincipale, RunCompletDepuisLaFenetre) {
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));

  // The close box is tried in the middle of the run.
  bool essaye = false, fermetureAcceptee = true, chargeeApres = false, quitterActif = true;
  QTimer pendant;
  pendant.setInterval(0);
  QObject::connect(&pendant, &QTimer::timeout, [&] {
    if (essaye || !f.ReorgEnCours()) return;
    essaye = true;
    quitterActif = f.BoutonFenetre(bouton::Quitter)->isEnabled();
    QCloseEvent fermeture;
    QApplication::sendEvent(&f, &fermeture);
    fermetureAcceptee = fermeture.isAccepted();
    Traite(2);
    chargeeApres = f.Charge();
  });
  repondeur->Repond(1, [&](FrmMessage*) { pendant.start(); });
  f.BoutonFenetre(bouton::Lancer)->click();
  pendant.stop();
  Traite();

  ASSERT_FALSE(repondeur->Vus().empty());
  EXPECT_EQ(repondeur->Vus()[0].texte, "Confirmez-vous la réorganisation du dossier ?");
  EXPECT_EQ(repondeur->Vus().size(), 1u) << repondeur->Textes();
  ASSERT_TRUE(essaye);
  EXPECT_FALSE(fermetureAcceptee);
  EXPECT_TRUE(chargeeApres);
  EXPECT_FALSE(quitterActif);

  EXPECT_TRUE(f.Charge());
  EXPECT_TRUE(f.Traite());
  EXPECT_FALSE(f.ReorgEnCours());
  EXPECT_EQ(f.PageAffichee(), 3);
  EXPECT_TRUE(f.TypeAvancement()->isHidden());
  EXPECT_FALSE(f.VisuRapport()->isHidden());
  EXPECT_FALSE(f.BoutonNew()->isHidden());
  EXPECT_TRUE(f.Progress()->isHidden());
  EXPECT_EQ(f.Avancement()->text(), QStringLiteral("Procédure terminée."));
  EXPECT_FALSE(f.EstAvancementEnErreur());
  EXPECT_TRUE(f.BoutonFenetre(bouton::Quitter)->isEnabled());
  EXPECT_FALSE(f.BoutonFenetre(bouton::Lancer)->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  std::string vue = JournalVue();
  EXPECT_NE(vue.find("Analyse de bases de données"), std::string::npos);
  EXPECT_NE(vue.find("Logiciel : Compta"), std::string::npos);
  EXPECT_NE(vue.find("Réorganisation base de données principale"), std::string::npos);
  EXPECT_NE(vue.find("Fin de l'analyse de bases de données"), std::string::npos);
  EXPECT_TRUE(fs::exists(dossier + "/Analyse.txt"));

  // "Lancer une nouvelle analyse" brings back the databases page, ready for another run.
  f.BoutonNew()->click();
  EXPECT_EQ(f.PageAffichee(), 1);
  EXPECT_TRUE(f.BoutonNew()->isHidden());
  EXPECT_TRUE(f.VisuRapport()->isHidden());
  EXPECT_FALSE(f.TypeAvancement()->isHidden());
  EXPECT_FALSE(f.Progress()->isHidden());
  EXPECT_TRUE(f.BoutonFenetre(bouton::Lancer)->isEnabled());

  // Idle again, the close box closes the window.
  QSignalSpy dechargee(&f, &FrmUtiReorg::Dechargee);
  f.close();
  Traite();
  EXPECT_FALSE(f.Charge());
  EXPECT_EQ(dechargee.count(), 1);
}

TEST_F(FenetrePrincipale, RunInterrompuEnBlancSurRouge) {
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  // The target disappears between the input check and the run: its safety copy cannot be made.
  repondeur->Repond(1, [&](FrmMessage*) { fs::remove(cible); });
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();

  ASSERT_TRUE(f.Charge()) << repondeur->Textes();
  EXPECT_FALSE(f.Traite());
  EXPECT_TRUE(f.EstAvancementEnErreur());
  EXPECT_EQ(f.Avancement()->text(), QStringLiteral("Procédure interrompue !"));
  EXPECT_EQ(f.Avancement()->palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(f.Avancement()->palette().color(QPalette::WindowText), QColor(255, 255, 255));
  EXPECT_NE(JournalVue().find("La réorganisation ne s'est pas terminée correctement !"), std::string::npos);
  EXPECT_FALSE(f.BoutonNew()->isHidden());

  // A new analysis does not start in the colours of the failure.
  f.BoutonNew()->click();
  EXPECT_FALSE(f.EstAvancementEnErreur());
}

// "Arrêter" during the run asks first, then the run ends at its next safe point, as abandoned:
// the origin as it was, the reason in view and in the journal.
TEST_F(FenetrePrincipale, ArreterLeRunApresConfirmation) {
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  const std::string avant = tests::LitFichier(cible);
  EXPECT_TRUE(f.BoutonArreter()->isHidden());
  bool visiblePendant = false;
  QTimer pendant;
  pendant.setInterval(0);
  QObject::connect(&pendant, &QTimer::timeout, [&] {
    if (!f.ReorgEnCours() || QApplication::activeModalWidget()) return;
    pendant.stop();
    visiblePendant = f.BoutonArreter()->isVisible();
    f.BoutonArreter()->click();
  });
  repondeur->Repond(1, [&](FrmMessage*) { pendant.start(); });
  repondeur->Repond(1);  // "Oui" to the stop
  f.BoutonFenetre(bouton::Lancer)->click();
  pendant.stop();
  Traite();

  ASSERT_EQ(repondeur->Vus().size(), 2u) << repondeur->Textes();
  EXPECT_EQ(repondeur->Vus()[1].texte, "Voulez-vous arrêter la réorganisation ?");
  EXPECT_EQ(repondeur->Vus()[1].titre, "Réorganisation");
  EXPECT_EQ(repondeur->Vus()[1].boutons, (std::vector<std::string>{"&Oui", "&Non"}));
  EXPECT_TRUE(visiblePendant);
  EXPECT_TRUE(f.Charge());
  EXPECT_FALSE(f.Traite());
  EXPECT_TRUE(f.EstAvancementEnErreur());
  EXPECT_EQ(f.Avancement()->text(), QStringLiteral("Réorganisation arrêtée à la demande de l'utilisateur."));
  EXPECT_NE(JournalVue().find("#ERR# Procédure interrompue ! Réorganisation arrêtée à la demande de l'utilisateur."),
            std::string::npos)
      << JournalVue();
  EXPECT_TRUE(f.BoutonArreter()->isHidden());
  EXPECT_FALSE(f.BoutonNew()->isHidden());
  EXPECT_TRUE(tests::LitFichier(cible) == avant);
}

// Escape during the run asks the same question; "Non" lets the run go on to its end.
TEST_F(FenetrePrincipale, EchapPendantLeRunDemandeSIlFautArreter) {
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  QTimer pendant;
  pendant.setInterval(0);
  QObject::connect(&pendant, &QTimer::timeout, [&] {
    if (!f.ReorgEnCours() || QApplication::activeModalWidget()) return;
    pendant.stop();
    QTest::keyClick(f.focusWidget() ? f.focusWidget() : &f, Qt::Key_Escape);
  });
  repondeur->Repond(1, [&](FrmMessage*) { pendant.start(); });
  repondeur->Repond(2);  // "Non"
  f.BoutonFenetre(bouton::Lancer)->click();
  pendant.stop();
  Traite();
  ASSERT_EQ(repondeur->Vus().size(), 2u) << repondeur->Textes();
  EXPECT_EQ(repondeur->Vus()[1].texte, "Voulez-vous arrêter la réorganisation ?");
  EXPECT_TRUE(f.Charge());
  EXPECT_TRUE(f.Traite());
  EXPECT_EQ(f.Avancement()->text(), QStringLiteral("Procédure terminée."));
}

// While the next run is being confirmed, page 3 shows nothing of the previous one.
TEST_F(FenetrePrincipale, LaPageDuRapportEstRemiseAZeroPendantLaConfirmation) {
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  repondeur->Repond(1);
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  ASSERT_EQ(f.Avancement()->text(), QStringLiteral("Procédure terminée."));
  f.BoutonNew()->click();
  QString etape, detail;
  repondeur->Repond(2, [&](FrmMessage*) {
    etape = f.TypeAvancement()->text();
    detail = f.Avancement()->text();
  });
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  EXPECT_EQ(etape, QStringLiteral("Préparation ..."));
  EXPECT_EQ(detail, QStringLiteral("Préparation ..."));
}

TEST_F(FenetrePrincipale, NouvelleAnalyseRendLAccesAuxOptions) {
  auto& f = Cree();
  CreeCibleEtModele();
  PasseEnModeAvance();
  f.CocheOption(coche::ControleEtendu)->setChecked(false);  // a short run
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  repondeur->Repond(1);
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  ASSERT_FALSE(f.BoutonNew()->isHidden()) << repondeur->Textes();
  EXPECT_FALSE(f.BoutonFenetre(bouton::Details)->isEnabled());
  f.BoutonNew()->click();
  EXPECT_TRUE(f.BoutonFenetre(bouton::Details)->isEnabled());
}

TEST_F(FenetrePrincipale, FenetreDechargeePendantLeRun) {
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  QSignalSpy dechargee(&f, &FrmUtiReorg::Dechargee);
  // A run that cannot go on unloads the window from inside the run.
  bool fait = false;
  QTimer pendant;
  pendant.setInterval(0);
  QObject::connect(&pendant, &QTimer::timeout, [&] {
    if (fait || !f.ReorgEnCours()) return;
    fait = true;
    f.Fenetre().FermeFenetre();
  });
  repondeur->Repond(1, [&](FrmMessage*) { pendant.start(); });
  f.BoutonFenetre(bouton::Lancer)->click();
  pendant.stop();
  Traite();
  ASSERT_TRUE(fait);
  EXPECT_FALSE(f.Charge());
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(dechargee.count(), 1);
  // The window is gone: it does not take the after-run state.
  EXPECT_TRUE(f.BoutonNew()->isHidden());
}

TEST_F(FenetrePrincipale, LeMotTousReorganiseChaqueDossierDuModele) {
  MemoriseLigneDeCommande(std::string("utireorg TOUS"));
  auto& f = Cree(false);
  f.Demarre();
  EXPECT_TRUE(f.ModeTousDossiers());
  EXPECT_EQ(f.LabelLiasse()->text(), QStringLiteral("Réorganiser tous les dossiers"));
  EXPECT_EQ(f.TypeAvancementDossier()->text(), QStringLiteral("Réorganisation..."));
  // The model is the one input, copy or not.
  EXPECT_FALSE(f.CaseCopie()->isChecked());
  EXPECT_FALSE(f.SaisieBase(saisie::Cible)->isEnabled());
  EXPECT_TRUE(f.SaisieBase(saisie::Modele)->isEnabled());
  EXPECT_TRUE(f.TexteSaisie(saisie::Modele)->isEnabled());

  CreeCibleEtModele();
  fs::create_directories(dossier + "/DOSSIER2");
  CreeBase(dossier + "/DOSSIER2/Compta.mdb");
  f.SaisieBase(saisie::Modele)->setText(QString::fromStdString(modele));
  bool panneauVisible = false;
  repondeur->Repond(1, [&](FrmMessage*) { panneauVisible = f.PanneauDossiers()->isVisibleTo(&f); });
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  ASSERT_EQ(repondeur->Vus().size(), 1u) << repondeur->Textes();
  EXPECT_EQ(repondeur->Vus()[0].texte, "Confirmez-vous la réorganisation de l'ensemble des dossiers ?");
  EXPECT_TRUE(panneauVisible);
  EXPECT_EQ(f.FullProgress()->maximum(), 2);
  EXPECT_EQ(f.FullProgress()->value(), 2);
  EXPECT_EQ(f.TypeAvancementDossier()->text(), QStringLiteral("2 dossiers : 2 terminés, 0 interrompu, 0 ignoré"));
  const std::string vue = JournalVue();
  EXPECT_NE(vue.find("DOSSIER1 : terminée\r\nDOSSIER2 : terminée\r\n"), std::string::npos) << vue;
  EXPECT_FALSE(f.BoutonNew()->isHidden());
  EXPECT_TRUE(f.Traite());
}

TEST_F(FenetrePrincipale, EspaceNecessaireRemisAJourALaSaisie) {
  auto& f = Cree();
  CreeCibleEtModele();
  {
    std::ofstream remplissage(dossier + "/DOSSIER1/annexe.bin", std::ios::binary);
    remplissage << std::string(9 * 1024 * 1024, '\0');
  }
  // Before any target: nothing to copy, and no folder of the machine measured.
  EXPECT_TRUE(f.ExplicationOption(3)->text().endsWith(QStringLiteral("(nécessite 0 Ko sur votre disque dur.)")))
      << f.ExplicationOption(3)->text().toStdString();
  // Each change of the target refreshes it, typed or chosen, without leaving the field.
  fs::resize_file(dossier + "/DOSSIER1/annexe.bin", 12 * 1024 * 1024);
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(dossier + "/DOSSIER1/annexe.bin"));
  EXPECT_TRUE(f.ExplicationOption(3)->text().endsWith(QStringLiteral("(nécessite 12 Mo sur votre disque dur.)")))
      << f.ExplicationOption(3)->text().toStdString();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  EXPECT_TRUE(f.ExplicationOption(3)->text().endsWith(
      QStringLiteral("(nécessite %1 Ko sur votre disque dur.)").arg(fs::file_size(cible) / 1024)))
      << f.ExplicationOption(3)->text().toStdString();
}

// ---------------------------------------------------------------------------------------------
// The look of the pages: with UTIREORG_CAPTURES naming a folder, each page is saved there as
// ecran_page<N>.png for a person to look at.

TEST_F(FenetrePrincipale, Captures) {
  const char* captures = std::getenv("UTIREORG_CAPTURES");
  if (!captures || !fs::is_directory(captures)) GTEST_SKIP() << "UTIREORG_CAPTURES ne nomme pas un dossier";
  const QString dossierCaptures = QString::fromUtf8(captures);
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  f.CaseCopie()->setChecked(true);
  f.SaisieBase(saisie::Modele)->setText(QString::fromStdString(modele));
  f.TexteIntroduction();
  for (int page = 0; page < 3; ++page) {
    f.Pages()->setCurrentIndex(page);
    Traite();
    EXPECT_TRUE(f.grab().save(dossierCaptures + QStringLiteral("/ecran_page%1.png").arg(page)));
  }
  repondeur->Repond(1);
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  EXPECT_TRUE(f.grab().save(dossierCaptures + QStringLiteral("/ecran_page3.png")));
  // The same page after a failed run.
  f.BoutonNew()->click();
  f.CaseCopie()->setChecked(false);
  repondeur->Repond(1, [&](FrmMessage*) { fs::remove(cible); });
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  EXPECT_TRUE(f.grab().save(dossierCaptures + QStringLiteral("/ecran_page3_echec.png")));
}

// With UTIREORG_CAPTURES naming a folder: the run page with "Arrêter", its confirmation over
// the window, and the page after the stop.
TEST_F(FenetrePrincipale, CapturesDeLArret) {
  const char* captures = std::getenv("UTIREORG_CAPTURES");
  if (!captures || !fs::is_directory(captures)) GTEST_SKIP() << "UTIREORG_CAPTURES ne nomme pas un dossier";
  const QString dossierCaptures = QString::fromUtf8(captures);
  auto& f = Cree();
  CreeCibleEtModele();
  f.SaisieBase(saisie::Cible)->setText(QString::fromStdString(cible));
  QTimer pendant;
  pendant.setInterval(0);
  QObject::connect(&pendant, &QTimer::timeout, [&] {
    if (!f.ReorgEnCours() || QApplication::activeModalWidget()) return;
    pendant.stop();
    f.grab().save(dossierCaptures + QStringLiteral("/run_arreter.png"));
    f.BoutonArreter()->click();
  });
  repondeur->Repond(1, [&](FrmMessage*) { pendant.start(); });
  repondeur->Repond(1, [&](FrmMessage* message) {
    QPixmap ecran = f.grab();
    QPainter peintre(&ecran);
    peintre.drawPixmap((ecran.width() - message->width()) / 2, (ecran.height() - message->height()) / 2,
                       message->grab());
    peintre.end();
    ecran.save(dossierCaptures + QStringLiteral("/run_confirmation_arret.png"));
  });
  f.BoutonFenetre(bouton::Lancer)->click();
  pendant.stop();
  Traite();
  EXPECT_TRUE(f.grab().save(dossierCaptures + QStringLiteral("/run_arrete.png")));
}

// Qt's own windows speak French whatever the session's language: the file dialog's headers,
// sizes and folder type.
TEST_F(FenetrePrincipale, LesFenetresDeQtParlentFrancaisQuelleQueSoitLaLangue) {
  const QLocale avant;
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  const bool chargees = ChargeTraductionsQt();
  fs::create_directory(dossier + "/Sous-dossier");
  std::ofstream(dossier + "/treize.mdb") << "treize octets";
  QFileSystemModel fichiers;
  QSignalSpy charge(&fichiers, &QFileSystemModel::directoryLoaded);
  fichiers.setRootPath(QString::fromStdString(dossier));
  std::unique_ptr<QAbstractProxyModel> liste(ListeFichiersEnFrancais(nullptr));
  liste->setSourceModel(&fichiers);
  ASSERT_TRUE(charge.wait(5000));
  const QString nom = liste->headerData(0, Qt::Horizontal).toString();
  const QString taille =
      liste->mapFromSource(fichiers.index(QString::fromStdString(dossier + "/treize.mdb"), 1)).data().toString();
  const QString type =
      liste->mapFromSource(fichiers.index(QString::fromStdString(dossier + "/Sous-dossier"), 2)).data().toString();
  QLocale::setDefault(avant);
  // The translations come with the program's dependencies (scripts/dependances.sh, the package).
  ASSERT_TRUE(chargees) << "traductions de Qt introuvables : paquet qt6-translations-l10n";
  EXPECT_EQ(nom, QStringLiteral("Nom"));
  EXPECT_EQ(taille, QStringLiteral("13 octets"));
  EXPECT_EQ(type, QStringLiteral("Dossier"));
}

// With UTIREORG_CAPTURES naming a folder: the all-folders run before, during (a damaged folder's
// message) and after.
TEST_F(FenetrePrincipale, CapturesTousLesDossiers) {
  const char* captures = std::getenv("UTIREORG_CAPTURES");
  if (!captures || !fs::is_directory(captures)) GTEST_SKIP() << "UTIREORG_CAPTURES ne nomme pas un dossier";
  const QString dossierCaptures = QString::fromUtf8(captures);
  MemoriseLigneDeCommande(std::string("utireorg TOUS"));
  auto& f = Cree(false);
  f.Demarre();
  CreeCibleEtModele();
  fs::create_directories(dossier + "/DOSSIER2");
  CreeBase(dossier + "/DOSSIER2/Compta.mdb");
  fs::create_directories(dossier + "/DOSSIER3");
  std::ofstream(dossier + "/DOSSIER3/Compta.mdb") << std::string(4096, 'x');
  fs::create_directories(dossier + "/DOSSIER4");
  f.SaisieBase(saisie::Modele)->setText(QString::fromStdString(modele));
  Traite();
  EXPECT_TRUE(f.grab().save(dossierCaptures + QStringLiteral("/tous_page1.png")));
  repondeur->Repond(1, [&](FrmMessage* m) { EXPECT_TRUE(m->grab().save(dossierCaptures + QStringLiteral("/tous_confirmation.png"))); });
  repondeur->Repond(1, [&](FrmMessage*) { EXPECT_TRUE(f.grab().save(dossierCaptures + QStringLiteral("/tous_pendant.png"))); });
  f.BoutonFenetre(bouton::Lancer)->click();
  Traite();
  EXPECT_TRUE(f.grab().save(dossierCaptures + QStringLiteral("/tous_fin.png")));
}

}  // namespace
}  // namespace utireorg

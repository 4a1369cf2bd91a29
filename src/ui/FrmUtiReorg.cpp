#include "ui/FrmUtiReorg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <string>

#include "app/TousDossiers.h"
#include "common/Chemins.h"
#include "common/LigneDeCommande.h"
#include "common/Touches.h"
#include "messages/AfficheMessage.h"
#include "messages/GestionErreur.h"
#include "ui/BoutonStd.h"
#include "ui/Clavier.h"
#include "ui/Francais.h"
#include "ui/FenetreQtOutils.h"

namespace utireorg {
namespace {

const QColor Bleu(99, 117, 214);  // the introduction page of the first scheme
const QColor Marine(0, 0, 128);
const QColor Blanc(255, 255, 255);
const QColor Rouge(255, 0, 0);

constexpr const char* LegendesBoutons[FrmUtiReorg::NombreBoutons] = {"&Quitter;Ech", "&Précédent", "&Détails;F3",
                                                               "&Lancer;F2", "&Aperçu"};
constexpr const char* LegendesCoches[FrmUtiReorg::NombreCoches] = {
    "Vérifications primaires", "Réparation / Compactage", "Compactage",
    "Mode sécurisé",           "Contrôle étendu",         "Traitement exhaustif"};
// The explanation of each option box, by its index among the explanations.
constexpr int ExplicationDeCoche[FrmUtiReorg::NombreCoches] = {0, 1, 7, 3, 6, 4};

constexpr const char* DebutTexteSecurite =
    "Une copie de sécurité de la base sera effectuée avant de lancer le traitement.";

QString Explication(int index) {
  switch (index) {
    case 0: return QStringLiteral("Ouverture de la base et lecture des enregistrements");
    case 1:
      return QStringLiteral("Réparation : Restructuration des fichiers .mdb altérés, corrompus ou contenant "
                            "des données erronnées.");
    case 3: return QString::fromUtf8(DebutTexteSecurite);
    case 4:
      return QStringLiteral("En complément de la base de données principale, vérifie également les bases de "
                            "données système (codes postaux, paramétrages ...)");
    case 6:
      return QStringLiteral("Vérification intégrale de la conformité de chaque champ de la base. Selon la taille "
                            "de votre base de données, la durée de ce traitement peut être relativement longue.");
    case 7:
      return QStringLiteral("Compactage : Suppression des espaces vides correspondant aux éléments supprimés. "
                            "Cette option permet de réduire la taille de la base de données.");
    default: return {};
  }
}

QLabel* Etiquette(const QString& texte, const QString& nom, QWidget* parent, bool retour = true) {
  auto* etiquette = new QLabel(texte, parent);
  etiquette->setObjectName(nom);
  etiquette->setTextFormat(Qt::PlainText);
  etiquette->setWordWrap(retour);
  return etiquette;
}

void Colore(QWidget* controle, std::optional<QColor> fond, std::optional<QColor> texte) {
  QPalette palette = controle->palette();
  if (fond) {
    palette.setColor(QPalette::Window, *fond);
    palette.setColor(QPalette::Button, *fond);
    controle->setAutoFillBackground(true);
  }
  if (texte) {
    // A disabled control keeps the disabled colours of the style.
    for (auto groupe : {QPalette::Active, QPalette::Inactive}) {
      palette.setColor(groupe, QPalette::WindowText, *texte);
      palette.setColor(groupe, QPalette::ButtonText, *texte);
      palette.setColor(groupe, QPalette::Text, *texte);
    }
  }
  controle->setPalette(palette);
}

// A stack of database drums, drawn rather than shipped as an image file.
QPixmap DessinBases(int largeur, int hauteur, int nombre) {
  const qreal ratio = 2.0;
  QPixmap image(static_cast<int>(largeur * ratio), static_cast<int>(hauteur * ratio));
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::transparent);
  QPainter peintre(&image);
  peintre.setRenderHint(QPainter::Antialiasing);
  const qreal marge = largeur * 0.08;
  const qreal l = largeur - 2 * marge;
  const qreal ellipse = l * 0.28;
  const qreal tranche = (hauteur - 2 * marge - ellipse) / nombre;
  for (int i = nombre - 1; i >= 0; --i) {
    const qreal haut = marge + i * tranche;
    QRectF dessus(marge, haut, l, ellipse);
    QLinearGradient degrade(marge, 0, marge + l, 0);
    degrade.setColorAt(0, QColor(235, 238, 250));
    degrade.setColorAt(0.45, QColor(180, 192, 240));
    degrade.setColorAt(1, QColor(70, 86, 170));
    QPainterPath corps;
    corps.moveTo(marge, haut + ellipse / 2);
    corps.lineTo(marge, haut + tranche + ellipse / 2);
    corps.arcTo(QRectF(marge, haut + tranche, l, ellipse), 180, 180);
    corps.lineTo(marge + l, haut + ellipse / 2);
    corps.arcTo(dessus, 0, -180);
    peintre.setPen(QPen(QColor(40, 50, 120), 1.2));
    peintre.setBrush(degrade);
    peintre.drawPath(corps);
    peintre.setBrush(QColor(215, 222, 250));
    peintre.drawEllipse(dessus);
  }
  return image;
}

// Runs one step of an action under the error handler: an error is reported with the context
// and the answer says whether to stop (true) or go on with the next step.
template <typename Action>
bool EtapeSousGestion(const std::string& contexte, Action&& action) {
  try {
    action();
    return false;
  } catch (...) {
    return GestionErreur(contexte) != 0;
  }
}

}  // namespace

FrmUtiReorg::FrmUtiReorg(QWidget* parent) : QWidget(parent), fenetre_(*this), pilote_(fenetre_) {
  setObjectName(QStringLiteral("frmUtiReorg"));
  setWindowTitle(VersQString(TitreApplication()));
  DefinitContexteAideFenetre(this, ContexteAide);
  Construit();
  DefinitFenetre(&fenetre_);
  if (auto* application = QCoreApplication::instance()) application->installEventFilter(this);
  Chargement();
}

FrmUtiReorg::~FrmUtiReorg() {
  // Destroying a visible window closes it, which takes the focus from the target's field: its
  // "editing finished" would then reach this window half destroyed. Nothing the controls signal
  // may reach it any more.
  for (auto* controle : findChildren<QObject*>()) controle->disconnect(this);
  if (auto* application = QCoreApplication::instance()) application->removeEventFilter(this);
  if (FenetreCourante() == &fenetre_) DefinitFenetre(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Construction of the controls. Each keeps as object name the name the form report lists it by
// ("Picture1", "Text1"…), which readers of older reports know; the members say what it is.

void FrmUtiReorg::Construit() {
  auto* principal = new QVBoxLayout(this);
  principal->setContentsMargins(0, 0, 0, 0);
  principal->setSpacing(0);

  // Title band.
  bandeau_ = new QFrame(this);
  bandeau_->setObjectName(QStringLiteral("Picture1"));
  bandeau_->setFixedHeight(64);
  bandeau_->setAutoFillBackground(true);
  {
    QPalette palette = bandeau_->palette();
    QLinearGradient degrade(0, 0, 1, 0);
    degrade.setCoordinateMode(QGradient::ObjectMode);
    degrade.setColorAt(0, QColor(40, 52, 140));
    degrade.setColorAt(1, Bleu);
    palette.setBrush(QPalette::Window, degrade);
    palette.setColor(QPalette::WindowText, Blanc);
    bandeau_->setPalette(palette);
  }
  auto* ligneBandeau = new QHBoxLayout(bandeau_);
  ligneBandeau->setContentsMargins(14, 6, 14, 6);
  imageBandeau_ = new QLabel(bandeau_);
  imageBandeau_->setObjectName(QStringLiteral("Image1"));
  imageBandeau_->setPixmap(DessinBases(44, 50, 3));
  imageBandeau_->setFixedSize(44, 50);
  labelLiasse_ = Etiquette(QStringLiteral("REORGANISATION"), QStringLiteral("LabelLiasse"), bandeau_, false);
  QFont titre = labelLiasse_->font();
  titre.setPointSizeF(titre.pointSizeF() * 1.5);
  titre.setBold(true);
  labelLiasse_->setFont(titre);
  ligneBandeau->addWidget(imageBandeau_);
  ligneBandeau->addSpacing(10);
  ligneBandeau->addWidget(labelLiasse_, 1);
  principal->addWidget(bandeau_);

  // The pages, stacked in one area.
  pile_ = new QStackedWidget(this);
  pile_->setObjectName(QStringLiteral("Pages"));
  pages_[0] = ConstruitPageAccueil();
  pages_[1] = ConstruitPageBases();
  pages_[2] = ConstruitPageOptions();
  pages_[3] = ConstruitPageAvancement();
  for (int i = 0; i < NombrePages; ++i) {
    pages_[static_cast<size_t>(i)]->setObjectName(QStringLiteral("Page%1").arg(i));
    pile_->addWidget(pages_[static_cast<size_t>(i)]);
  }
  principal->addWidget(pile_, 1);

  auto* trait = new QFrame(this);
  trait->setFrameShape(QFrame::HLine);
  trait->setFrameShadow(QFrame::Sunken);
  principal->addWidget(trait);

  // The row of buttons: leave on the left, move and run on the right.
  auto* rangee = new QHBoxLayout;
  rangee->setContentsMargins(12, 10, 12, 12);
  rangee->setSpacing(8);
  for (int i = 0; i < NombreBoutons; ++i) {
    auto* bouton = new BoutonStd(VersQString(LegendesBoutons[i]), this);
    bouton->setObjectName(QStringLiteral("Bouton%1").arg(i));
    bouton->setAutoDefault(false);
    bouton->setMinimumWidth(112);
    boutons_[static_cast<size_t>(i)] = bouton;
    connect(bouton, &QPushButton::clicked, this, [this, i] { BoutonClic(i); });
  }
  // "Aperçu" has no action: it stays out of sight.
  boutons_[bouton::Apercu]->setVisible(false);
  rangee->addWidget(boutons_[bouton::Quitter]);
  rangee->addStretch(1);
  rangee->addWidget(boutons_[bouton::Apercu]);
  rangee->addWidget(boutons_[bouton::Precedent]);
  rangee->addWidget(boutons_[bouton::Details]);
  rangee->addWidget(boutons_[bouton::Lancer]);
  principal->addLayout(rangee);

  resize(720, 540);
  setMinimumSize(640, 480);
}

QWidget* FrmUtiReorg::ConstruitPageAccueil() {
  auto* page = new QWidget;
  auto* disposition = new QHBoxLayout(page);
  disposition->setContentsMargins(24, 20, 24, 16);
  disposition->setSpacing(24);
  imgDecors_ = new QLabel(page);
  imgDecors_->setObjectName(QStringLiteral("imgDecors"));
  imgDecors_->setPixmap(DessinBases(130, 170, 3));
  imgDecors_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  disposition->addWidget(imgDecors_, 0, Qt::AlignTop);

  auto* colonne = new QVBoxLayout;
  texteAccueil_ = Etiquette({}, QStringLiteral("Text1"), page);
  texteAccueil_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  QFont police = texteAccueil_->font();
  police.setPointSizeF(police.pointSizeF() * 1.1);
  texteAccueil_->setFont(police);
  colonne->addWidget(texteAccueil_, 1);
  chAvancee_ = new QCheckBox(QStringLiteral("Réorganisation avancée"), page);
  chAvancee_->setObjectName(QLatin1String(cases::Avancee));
  connect(chAvancee_, &QCheckBox::toggled, this, [this] { ChAvanceeClic(); });
  colonne->addWidget(chAvancee_);
  disposition->addLayout(colonne, 1);
  return page;
}

QWidget* FrmUtiReorg::ConstruitPageBases() {
  auto* page = new QWidget;
  auto* grille = new QGridLayout(page);
  grille->setContentsMargins(24, 20, 24, 16);
  grille->setHorizontalSpacing(12);
  grille->setVerticalSpacing(6);
  grille->setColumnStretch(1, 1);

  const QString nomsTextes[2] = {QStringLiteral("Base à analyser :"), QStringLiteral("Base modèle :")};
  for (int i = 0; i < 2; ++i) {
    textes_[static_cast<size_t>(i)] = Etiquette(nomsTextes[i], QStringLiteral("Texte%1").arg(i), page, false);
    auto* saisie = new QLineEdit(page);
    saisie->setObjectName(QStringLiteral("Saisie%1").arg(i));
    saisie->setMinimumWidth(320);
    textes_[static_cast<size_t>(i)]->setBuddy(saisie);
    auto* action = saisie->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
    action->setObjectName(QStringLiteral("Parcourir%1").arg(i));
    action->setToolTip(i == 0 ? QStringLiteral("Base à analyser") : QStringLiteral("Base modèle"));
    connect(action, &QAction::triggered, this, [this, i] { ParcourtFichier(i); });
    saisies_[static_cast<size_t>(i)] = saisie;
    parcourir_[static_cast<size_t>(i)] = action;
  }
  connect(saisies_[saisie::Cible], &QLineEdit::editingFinished, this, [this] { SaisieCibleModifiee(); });
  connect(saisies_[saisie::Cible], &QLineEdit::textChanged, this, [this] { SaisieCibleModifiee(); });

  chCopie_ = new QCheckBox(QStringLiteral("Copie des enregistrements"), page);
  chCopie_->setObjectName(QLatin1String(cases::Copie));
  connect(chCopie_, &QCheckBox::toggled, this, [this] { ChCopieClic(); });
  explicationCopie_ =
      Etiquette(QStringLiteral("La copie des enregistrements va recopier les données de la \"base à analyser\" "
                               "dans la \"base modèle\"."),
                QStringLiteral("Label1"), page);
  chLigneALigne_ = new QCheckBox(QStringLiteral("Copie ligne à ligne"), page);
  chLigneALigne_->setObjectName(QLatin1String(cases::LigneALigne));
  lblLigneALigne_ = Etiquette(
      QStringLiteral("La copie des enregistrements ligne à ligne permet de recopier les enregistrements un par un. "
                     "Cette option ralentit la copie, mais permet souvent de trouver l'origine des problèmes de "
                     "bases cassées."),
      QStringLiteral("lblLigneALigne"), page);

  int ligne = 0;
  grille->addWidget(textes_[saisie::Cible], ligne, 0);
  grille->addWidget(saisies_[saisie::Cible], ligne++, 1);
  grille->setRowMinimumHeight(ligne++, 14);
  grille->addWidget(chCopie_, ligne++, 0, 1, 2);
  grille->addWidget(explicationCopie_, ligne++, 1);
  grille->setRowMinimumHeight(ligne++, 6);
  grille->addWidget(textes_[saisie::Modele], ligne, 0);
  grille->addWidget(saisies_[saisie::Modele], ligne++, 1);
  grille->setRowMinimumHeight(ligne++, 14);
  grille->addWidget(chLigneALigne_, ligne++, 0, 1, 2);
  grille->addWidget(lblLigneALigne_, ligne++, 1);
  grille->setRowStretch(ligne, 1);
  return page;
}

QWidget* FrmUtiReorg::ConstruitPageOptions() {
  auto* page = new QWidget;
  auto* grille = new QGridLayout(page);
  grille->setContentsMargins(24, 16, 24, 12);
  grille->setHorizontalSpacing(16);
  grille->setVerticalSpacing(10);
  grille->setColumnStretch(1, 1);
  for (int i = 0; i < 8; ++i) {
    QString texte = Explication(i);
    if (texte.isEmpty()) continue;
    auto* etiquette = Etiquette(texte, QStringLiteral("Texte1_%1").arg(i), page);
    etiquette->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    explicationsOptions_[static_cast<size_t>(i)] = etiquette;
  }
  for (int i = 0; i < NombreCoches; ++i) {
    auto* coche = new QCheckBox(VersQString(LegendesCoches[i]), page);
    coche->setObjectName(QStringLiteral("Coche%1").arg(i));
    coches_[static_cast<size_t>(i)] = coche;
    grille->addWidget(coche, i, 0, Qt::AlignTop);
    grille->addWidget(explicationsOptions_[static_cast<size_t>(ExplicationDeCoche[i])], i, 1);
  }
  grille->setRowStretch(NombreCoches, 1);
  return page;
}

QWidget* FrmUtiReorg::ConstruitPageAvancement() {
  auto* page = new QWidget;
  auto* colonne = new QVBoxLayout(page);
  colonne->setContentsMargins(16, 12, 16, 10);
  colonne->setSpacing(6);

  typeAvancement_ = Etiquette(QStringLiteral("Préparation ..."), QStringLiteral("TypeAvancement"), page, false);
  QFont gras = typeAvancement_->font();
  gras.setBold(true);
  typeAvancement_->setFont(gras);
  avancement_ = Etiquette(QStringLiteral("Préparation ..."), QStringLiteral("Avancement"), page, false);
  avancement_->setContentsMargins(4, 1, 4, 1);
  // Long table or file names must not widen the window.
  typeAvancement_->setMinimumWidth(1);
  avancement_->setMinimumWidth(1);
  colonne->addWidget(typeAvancement_);
  colonne->addWidget(avancement_);

  progress_ = new QProgressBar(page);
  progress_->setObjectName(QStringLiteral("Progress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progress_->setFixedHeight(16);
  colonne->addWidget(progress_);

  panneauDossiers_ = new QWidget(page);
  panneauDossiers_->setObjectName(QStringLiteral("Picture3"));
  auto* dossiers = new QVBoxLayout(panneauDossiers_);
  dossiers->setContentsMargins(0, 4, 0, 4);
  typeAvancementDossier_ = Etiquette({}, QStringLiteral("TypeAvancementDossier"), panneauDossiers_, false);
  fullProgress_ = new QProgressBar(panneauDossiers_);
  fullProgress_->setObjectName(QStringLiteral("FullProgress"));
  fullProgress_->setTextVisible(false);
  fullProgress_->setFixedHeight(16);
  dossiers->addWidget(typeAvancementDossier_);
  dossiers->addWidget(fullProgress_);
  panneauDossiers_->setVisible(false);
  colonne->addWidget(panneauDossiers_);

  saisieAnalyse_ = new QPlainTextEdit(page);
  saisieAnalyse_->setObjectName(QStringLiteral("SaisieAnalyse"));
  saisieAnalyse_->setReadOnly(true);
  saisieAnalyse_->setLineWrapMode(QPlainTextEdit::NoWrap);
  saisieAnalyse_->setUndoRedoEnabled(false);
  // The journal's frames are 75 columns wide: they line up only in a fixed-pitch font.
  QFont fixe = PoliceFixe();
  fixe.setPointSize(9);
  saisieAnalyse_->setFont(fixe);
  colonne->addWidget(saisieAnalyse_, 1);

  auto* rangee = new QHBoxLayout;
  visuRapport_ = new QPushButton(page);
  visuRapport_->setObjectName(QStringLiteral("VisuRapport"));
  visuRapport_->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  visuRapport_->setIconSize(QSize(20, 20));
  visuRapport_->setToolTip(QStringLiteral("Visualiser le journal de réorganisation comme fichier texte"));
  visuRapport_->setAutoDefault(false);
  connect(visuRapport_, &QPushButton::clicked, this, [this] { VisuRapportClic(); });
  boutonNew_ = new QPushButton(QStringLiteral("Lancer une nouvelle analyse"), page);
  boutonNew_->setObjectName(QStringLiteral("BoutonNew"));
  boutonNew_->setAutoDefault(false);
  connect(boutonNew_, &QPushButton::clicked, this, [this] { BoutonNewClic(); });
  boutonArreter_ = new QPushButton(QStringLiteral("Arrêter"), page);
  boutonArreter_->setObjectName(QStringLiteral("Arreter"));
  boutonArreter_->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
  boutonArreter_->setAutoDefault(false);
  connect(boutonArreter_, &QPushButton::clicked, this, [this] { ArreterClic(); });
  visuRapport_->setVisible(false);
  boutonNew_->setVisible(false);
  boutonArreter_->setVisible(false);
  rangee->addWidget(visuRapport_);
  rangee->addStretch(1);
  rangee->addWidget(boutonNew_);
  rangee->addWidget(boutonArreter_);
  colonne->addLayout(rangee);
  return page;
}

QLabel* FrmUtiReorg::ExplicationOption(int index) const {
  if (index < 0 || index >= static_cast<int>(explicationsOptions_.size())) return nullptr;
  return explicationsOptions_[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------------------------
// Loading and unloading.

void FrmUtiReorg::Chargement() {
  const std::string contexte = DepuisQString(windowTitle()) + " (FL)";
  bool abandon = false;
  auto etape = [&](auto&& action) {
    if (!abandon) abandon = EtapeSousGestion(contexte, action);
  };

  etape([&] {
    setVisible(false);
    // The introduction page is never shown: asking for it shows the databases page.
    sautPage_ = {true, false, false, false};
  });
  etape([&] {
    boutons_[bouton::Precedent]->setEnabled(false);
    boutons_[bouton::Details]->setEnabled(false);
    boutons_[bouton::Lancer]->setEnabled(false);
    for (int i = 0; i <= coche::ModeSecurise; ++i) coches_[static_cast<size_t>(i)]->setChecked(true);
  });
  etape([&] { ChCopieClic(); });
  etape([&] { TexteIntroduction(); });
  etape([&] {
    pageCourante_ = 0;
    pagePrecedente_ = 0;
    AffichePage(pageCourante_);
  });
  etape([&] {
    // Ticked without its reaction: "Contrôle étendu" stays as loading left it.
    QSignalBlocker silence(chAvancee_);
    chAvancee_->setChecked(true);
    chAvancee_->setVisible(false);
    boutons_[bouton::Details]->setEnabled(true);
  });
  etape([&] {
    schemaCouleurs_ = true;
    AppliqueCouleurs();
    charge_ = true;
  });
  if (abandon) Decharge();
}

void FrmUtiReorg::Decharge() {
  dechargement_ = true;
  close();
  TermineDechargement();
}

void FrmUtiReorg::TermineDechargement() {
  hide();
  if (dechargee_) return;
  dechargee_ = true;
  charge_ = false;
  pilote_.JournalAnalyse().FermetureJournal();
  emit Dechargee();
}

void FrmUtiReorg::closeEvent(QCloseEvent* evenement) {
  if (!dechargement_) {
    // Asked to close from outside (the close box): refused while a run is in progress, that
    // is while "Quitter" is disabled; otherwise it does what "Quitter" does.
    if (!boutons_[bouton::Quitter]->isEnabled() || lancementEnCours_) {
      evenement->ignore();
      return;
    }
    dechargement_ = true;
  }
  evenement->accept();
  TermineDechargement();
}

void FrmUtiReorg::AfficheFenetre(bool attendre) {
  show();
  activateWindow();
  if (!attendre) return;
  QEventLoop boucle;
  QTimer surveillance;
  surveillance.setInterval(50);
  connect(&surveillance, &QTimer::timeout, &boucle, [&] {
    if (!charge_ || !isVisible()) boucle.quit();
  });
  connect(this, &FrmUtiReorg::Dechargee, &boucle, &QEventLoop::quit);
  surveillance.start();
  if (charge_ && isVisible()) boucle.exec();
}

// ---------------------------------------------------------------------------------------------
// Host interface.

void FrmUtiReorg::Reorganisation(bool forceTest, bool flagIcone, bool flagVerifRelation) {
  if (!charge_) return;
  pilote_.Reorganisation(forceTest, flagIcone, flagVerifRelation);
  AfficheFenetre(false);
}

void FrmUtiReorg::ReorganisationComplete() {
  if (!charge_) return;
  pilote_.ReorganisationComplete();
  labelLiasse_->setText(VersQString(TitreTousDossiers));
  typeAvancementDossier_->setText(VersQString(LegendeTousDossiers));
  SaisiesTousDossiers();
  AfficheFenetre(false);
}

void FrmUtiReorg::Demarre() {
  Reorganisation();
  if (LigneDeCommandeContient(MotTous)) ReorganisationComplete();
}

// Every folder beside the model is run: the model is the one database to give.
void FrmUtiReorg::SaisiesTousDossiers() {
  textes_[saisie::Cible]->setEnabled(false);
  saisies_[saisie::Cible]->setEnabled(false);
  textes_[saisie::Modele]->setEnabled(true);
  saisies_[saisie::Modele]->setEnabled(true);
  if (pageCourante_ == 1) saisies_[saisie::Modele]->setFocus(Qt::OtherFocusReason);
}

void FrmUtiReorg::AvancementDossiers(int numero, int nombre, const QString& legende) {
  fullProgress_->setRange(0, std::max(nombre, 1));
  // Folder k of n shows the k - 1 finished; the end shows them all; no count at all clears it.
  fullProgress_->setValue(numero > 0 ? numero - 1 : nombre > 0 ? fullProgress_->maximum() : 0);
  typeAvancementDossier_->setText(legende);
  panneauDossiers_->repaint();
}

// ---------------------------------------------------------------------------------------------
// Pages.

int FrmUtiReorg::PageAffichee() const { return pile_->currentIndex(); }

void FrmUtiReorg::AffichePage(int& page) {
  page = std::clamp(page, 0, NombrePages - 1);
  if (sautPage_[static_cast<size_t>(page)]) {
    if (page == 0)
      page = 1;
    else
      page = std::clamp(page + (pageCourante_ - pagePrecedente_ < 0 ? -1 : 1), 0, NombrePages - 1);
  }
  pageCourante_ = page;
  boutons_[bouton::Lancer]->setEnabled(true);
  // "Précédent" leads back from the options page only: before it there is nothing to go back
  // to, and from the report a new analysis starts with its own button.
  boutons_[bouton::Precedent]->setEnabled(page == 2);
  pile_->setCurrentIndex(page);
  pile_->currentWidget()->raise();
  if (page == 1)
    saisies_[saisies_[saisie::Cible]->isEnabled() ? saisie::Cible : saisie::Modele]->setFocus(Qt::OtherFocusReason);
  else if (page == 2)
    coches_[coche::VerificationsPrimaires]->setFocus(Qt::OtherFocusReason);
}

void FrmUtiReorg::TexteIntroduction() {
  EtapeSousGestion(DepuisQString(windowTitle()) + " (IF)", [&] {
    texteAccueil_->setText(QStringLiteral(
        "L'utilitaire de réorganisation de bases de données vous permet de réparer, compacter, mais aussi "
        "d'analyser vos bases de données. \n\n"
        "Cliquez sur 'Lancer' pour effectuer une réorganisation simple. \n\n"
        "Si vous souhaitez une réorganisation plus poussée, cochez 'Réorganisation avancée', vous aurez ainsi "
        "accès à toutes les options de la réorganisation, grâce au bouton 'Détails'."));
    // The space figure is that of the target's folder once the target is known.
    explicationsOptions_[3]->setText(VersQString(pilote_.TexteCopieSecurite()));
  });
}

void FrmUtiReorg::SaisieCibleModifiee() { TexteIntroduction(); }

// ---------------------------------------------------------------------------------------------
// Colours.

void FrmUtiReorg::AppliqueCouleurs() {
  const QColor face = QApplication::palette().color(QPalette::Window);
  const QColor fondPages = schemaCouleurs_ ? Blanc : face;
  Colore(pages_[0], schemaCouleurs_ ? Bleu : face, std::nullopt);
  for (int i = 1; i < NombrePages; ++i) {
    QWidget* page = pages_[static_cast<size_t>(i)];
    Colore(page, fondPages, std::nullopt);
    for (auto* etiquette : page->findChildren<QLabel*>()) {
      if (etiquette == avancement_) continue;
      Colore(etiquette, std::nullopt, Marine);
    }
    for (auto* coche : page->findChildren<QCheckBox*>()) Colore(coche, std::nullopt, Marine);
  }
  Colore(visuRapport_, fondPages, std::nullopt);
  Colore(boutonNew_, fondPages, std::nullopt);
  Colore(texteAccueil_, std::nullopt, schemaCouleurs_ ? Blanc : Marine);
  Colore(chAvancee_, schemaCouleurs_ ? Bleu : face, schemaCouleurs_ ? Blanc : Marine);
  imgDecors_->setVisible(schemaCouleurs_);
  AvancementEnErreur(avancementEnErreur_);
}

void FrmUtiReorg::InverseCouleurs() {
  schemaCouleurs_ = !schemaCouleurs_;
  AppliqueCouleurs();
}

void FrmUtiReorg::AvancementEnErreur(bool enErreur) {
  avancementEnErreur_ = enErreur;
  QPalette palette = avancement_->palette();
  if (enErreur) {
    palette.setColor(QPalette::Window, Rouge);
    palette.setColor(QPalette::WindowText, Blanc);
    avancement_->setAutoFillBackground(true);
  } else {
    palette.setColor(QPalette::Window, schemaCouleurs_ ? Blanc : QApplication::palette().color(QPalette::Window));
    palette.setColor(QPalette::WindowText, Marine);
    avancement_->setAutoFillBackground(false);
  }
  avancement_->setPalette(palette);
  avancement_->repaint();
}

void FrmUtiReorg::mouseDoubleClickEvent(QMouseEvent* evenement) {
  // Double-clicks on the band, the introduction or the page backgrounds come up to here: only
  // the image of the band swaps the colours.
  if (childAt(evenement->position().toPoint()) != imageBandeau_) {
    QWidget::mouseDoubleClickEvent(evenement);
    return;
  }
  InverseCouleurs();
  evenement->accept();
}

// ---------------------------------------------------------------------------------------------
// Buttons and option boxes.

void FrmUtiReorg::BoutonClic(int index) {
  if (index < 0 || index >= NombreBoutons || !charge_) return;
  BoutonStd* bouton = boutons_[static_cast<size_t>(index)];
  if (!bouton->isEnabled()) return;
  // A message on screen keeps the window waiting for its answer.
  if (QWidget* modale = QApplication::activeModalWidget(); modale && modale != this) return;
  const std::string contexte = DepuisQString(windowTitle()) + " (BC)";
  try {
    switch (index) {
      case bouton::Quitter: Decharge(); break;
      case bouton::Precedent:
        if (pageCourante_ > 0) {
          pagePrecedente_ = pageCourante_;
          --pageCourante_;
          AffichePage(pageCourante_);
        }
        break;
      case bouton::Details:
        if (pageCourante_ == 1) {
          const bool acceptees = pilote_.ControleSaisies();
          // Leaving the page is no run: the target is not kept from other runs meanwhile.
          pilote_.LibereCible();
          if (!acceptees) {
            FocusApresControle();
            break;
          }
        }
        if (pageCourante_ < 2) {
          pagePrecedente_ = pageCourante_;
          ++pageCourante_;
        } else {
          pageCourante_ = 0;
        }
        AffichePage(pageCourante_);
        break;
      case bouton::Lancer: ActionLancer(); break;
      default:
        break;  // "Aperçu" does nothing
    }
  } catch (...) {
    if (GestionErreur(contexte)) Decharge();
  }
}

void FrmUtiReorg::ActionLancer() {
  lancementEnCours_ = true;
  struct FinLancement {
    bool& drapeau;
    ~FinLancement() { drapeau = false; }
  } finLancement{lancementEnCours_};

  QPointer<FrmUtiReorg> garde(this);
  EtapesLancer etapes;
  etapes.AffichePageRapport = [this] {
    detailsAvantLancement_ = boutons_[bouton::Details]->isEnabled();
    pagePrecedente_ = pageCourante_;
    pageCourante_ = 3;
    // Nothing of the previous run stays in view while this one is being confirmed.
    typeAvancement_->setText(QStringLiteral("Préparation ..."));
    avancement_->setText(QStringLiteral("Préparation ..."));
    progress_->setValue(0);
    AvancementEnErreur(false);
    pile_->setCurrentIndex(3);
    panneauDossiers_->setVisible(pilote_.ModeTousDossiers());
    repaint();
  };
  etapes.RetourPage = [this] {
    pageCourante_ = pagePrecedente_;
    AffichePage(pageCourante_);
    boutons_[bouton::Details]->setEnabled(detailsAvantLancement_);
    repaint();
  };
  etapes.AvantRun = [this] {
    int page = 3;
    AffichePage(page);
    boutons_[bouton::Details]->setEnabled(false);
    AvancementEnErreur(false);
    boutonArreter_->setVisible(true);
    repaint();
  };
  etapes.ApresRun = [this, garde] {
    if (!garde || !charge_) return;
    boutonArreter_->setVisible(false);
    // The stage caption goes out of sight; the outcome it shows ("Procédure terminée.",
    // "Procédure interrompue !") stays in view in the detail caption, white on red after a failure.
    if (avancement_->text().isEmpty()) avancement_->setText(typeAvancement_->text());
    visuRapport_->setVisible(true);
    typeAvancement_->setVisible(false);
    boutonNew_->setVisible(true);
  };
  IssueLancer issue = pilote_.Lancer(etapes);
  if (!garde) return;
  if (issue == IssueLancer::SaisiesRefusees) FocusApresControle();
  // Asked by the system to end (SIGTERM, SIGINT, SIGHUP) during the run: once the run has put
  // everything back in order, the program ends as the signal asked.
  if (auto arret = pilote_.ArretPar(); arret && arret->raison == RaisonArret::Signal) Decharge();
}

void FrmUtiReorg::FocusApresControle() {
  if (auto saisie = pilote_.SaisieAFocaliser(); saisie && (*saisie == saisie::Cible || *saisie == saisie::Modele))
    saisies_[static_cast<size_t>(*saisie)]->setFocus(Qt::OtherFocusReason);
}

void FrmUtiReorg::BoutonNewClic() {
  boutonNew_->setVisible(false);
  visuRapport_->setVisible(false);
  typeAvancement_->setVisible(true);
  progress_->setVisible(true);
  AvancementEnErreur(false);
  // The run disabled "Détails"; a new analysis gets back the way to the options it had.
  boutons_[bouton::Details]->setEnabled(detailsAvantLancement_);
  pageCourante_ = 0;
  AffichePage(pageCourante_);
}

void FrmUtiReorg::VisuRapportClic() {
  if (!pilote_.JournalAnalyse().VisuRapport())
    AfficheMessage("!#Le journal de réorganisation ne peut pas être affiché.", std::string("Réorganisation"));
}

void FrmUtiReorg::ArreterClic() {
  if (!pilote_.ReorgEnCours() || ArretDemande() != RaisonArret::Aucune) return;
  std::optional<int> reponse =
      AfficheMessage("?#Voulez-vous arrêter la réorganisation ?", std::string(TitreReorganisation), "&Oui;+-&Non");
  if (reponse == 1 && pilote_.ReorgEnCours()) DemandeArret(RaisonArret::Utilisateur);
}

void FrmUtiReorg::ChCopieClic() {
  const bool copie = chCopie_->isChecked();
  textes_[saisie::Modele]->setEnabled(copie);
  saisies_[saisie::Modele]->setEnabled(copie);
  chLigneALigne_->setEnabled(copie);
  lblLigneALigne_->setEnabled(copie);
  if (pilote_.ModeTousDossiers()) SaisiesTousDossiers();
}

void FrmUtiReorg::ChAvanceeClic() {
  const bool avancee = chAvancee_->isChecked();
  boutons_[bouton::Details]->setEnabled(avancee);
  coches_[coche::ControleEtendu]->setChecked(avancee);
}

void FrmUtiReorg::ParcourtFichier(int index) {
  if (index < 0 || index >= saisie::Nombre) return;
  QLineEdit* saisie = saisies_[static_cast<size_t>(index)];
  if (!saisie->isEnabled()) return;
  QString depart;
  if (const QString actuel = saisie->text().trimmed(); !actuel.isEmpty()) depart = QFileInfo(actuel).absolutePath();

  QString choisi;
  if (choixFichier_) {
    choisi = choixFichier_(index, depart);
  } else {
    QFileDialog dialogue(this, textes_[static_cast<size_t>(index)]->text().remove(QStringLiteral(" :")), depart,
                         QStringLiteral("Fichiers Access (*.mdb)"));
    dialogue.setFileMode(QFileDialog::ExistingFile);
    dialogue.setAcceptMode(QFileDialog::AcceptOpen);
    dialogue.selectFile(QStringLiteral("*.mdb"));
    dialogue.setProxyModel(ListeFichiersEnFrancais(&dialogue));
    if (dialogue.exec() == QDialog::Accepted && !dialogue.selectedFiles().isEmpty())
      choisi = dialogue.selectedFiles().constFirst();
  }
  if (choisi.isEmpty()) return;
  PlaceFichier(index, choisi);
}

void FrmUtiReorg::OuvreFichier(const QString& chemin) {
  if (saisies_[saisie::Cible]->isEnabled()) PlaceFichier(saisie::Cible, QFileInfo(chemin).absoluteFilePath());
}

void FrmUtiReorg::PlaceFichier(int index, const QString& choisi) {
  saisies_[static_cast<size_t>(index)]->setText(choisi);
  if (index != 0) return;

  // The model is proposed by the rule the structure check uses: the file of the same name one
  // folder higher, else the copy installed with the program.
  const std::string cible = DepuisQString(choisi);
  const std::string parent = DossierParent(cible);
  std::string modele = parent.empty() ? std::string() : parent + NomFichier(cible);
  if (modele.empty() || !FichierExiste(modele))
    modele = DepuisQString(QCoreApplication::applicationDirPath()) + "/BASESORIGINE/" + NomFichier(cible);
  saisies_[saisie::Modele]->setText(VersQString(modele));
  SaisieCibleModifiee();
}

// ---------------------------------------------------------------------------------------------
// Keys: the window sees them before its controls.

bool FrmUtiReorg::eventFilter(QObject* objet, QEvent* evenement) {
  if (evenement->type() != QEvent::KeyPress || !charge_ || !objet->isWidgetType()) return false;
  auto* destinataire = static_cast<QWidget*>(objet);
  if (destinataire->window() != this) return false;
  // A key ignored by a control travels up to its parents: it is looked at once, on its way in.
  QWidget* focus = focusWidget();
  if (destinataire != (focus ? focus : this)) return false;
  return TraiteTouche(static_cast<QKeyEvent*>(evenement));
}

bool FrmUtiReorg::TraiteTouche(QKeyEvent* evenement) {
  if (QWidget* modale = QApplication::activeModalWidget(); modale && modale != this) return false;
  try {
    const auto modificateurs = evenement->modifiers();
    int code = CodeDeToucheQt(evenement->key(), modificateurs);
    SequenceTouches(this, code, modificateurs);
    const bool sansModificateur =
        !(modificateurs & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (sansModificateur) {
      switch (code) {
        case CodeTouche::Gauche:
        case CodeTouche::PageSuivante:
          CliqueBouton(boutons_[bouton::Precedent]);
          return false;  // the control still gets its key, as a user typing in it expects
        case CodeTouche::Droite:
        case CodeTouche::Entree:
        case CodeTouche::PagePrecedente:
          if (pageCourante_ != 2) CliqueBouton(boutons_[bouton::Details]);
          return false;
        default:
          break;
      }
    }
    if (evenement->key() == Qt::Key_Escape && sansModificateur && pilote_.ReorgEnCours()) {
      ArreterClic();
      return true;
    }
    if (code != 0 && ToucheFonction(this, code, modificateurs)) return true;
    // Escape reaches no control of this window.
    return evenement->key() == Qt::Key_Escape;
  } catch (...) {
    GestionErreur(DepuisQString(windowTitle()) + " (FKD)");
    Decharge();
    return true;
  }
}

}  // namespace utireorg

// The main window: a four-page wizard (introduction, databases, options, report) around the run
// driver. The window holds the widgets; the driver holds the run and reaches the widgets through
// the window interface (FenetreQt).
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "app/Pilote.h"
#include "ui/FenetreQt.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace utireorg {

class BoutonStd;

class FrmUtiReorg : public QWidget {
  Q_OBJECT

 public:
  static constexpr long ContexteAide = 6080;  // help of the window and of its confirmation
  static constexpr int NombrePages = 4;
  static constexpr int NombreBoutons = bouton::Nombre;
  static constexpr int NombreCoches = coche::Nombre;
  // The journal view keeps its latest lines within this many characters.
  static constexpr int TailleMaximaleVue = 2'000'000;

  explicit FrmUtiReorg(QWidget* parent = nullptr);
  ~FrmUtiReorg() override;

  // Host interface. Reorganisation shows the window and returns at once; the arguments
  // forceTest and flagIcone are accepted for the hosts that pass them and change nothing.
  void Reorganisation(bool forceTest = false, bool flagIcone = false, bool flagVerifRelation = true);
  // The all-folders mode: the model is the one input, and "Lancer" runs every folder beside it.
  void ReorganisationComplete();
  // The program's start: Reorganisation, then the all-folders mode when the command line holds
  // the word "TOUS", as a host application would ask for it.
  void Demarre();
  bool Traite() const { return pilote_.Traite(); }
  bool vIsLoad() const { return pilote_.vIsLoad(); }
  void FlagVerifRelation(bool valeur) { pilote_.FlagVerifRelation(valeur); }
  bool ReorgEnCours() const { return pilote_.ReorgEnCours(); }
  bool ModeTousDossiers() const { return pilote_.ModeTousDossiers(); }

  Pilote& PiloteReorg() { return pilote_; }
  InterfaceFenetre& Fenetre() { return fenetre_; }

  // True from the end of loading until the window is unloaded.
  bool Charge() const { return charge_; }
  // Unloads the window: the way the program ends. Refuses nothing.
  void Decharge();
  // Shows the window and gives it the focus; with attendre, returns once it is closed or hidden.
  void AfficheFenetre(bool attendre = false);

  // Pages.
  int PageCourante() const { return pageCourante_; }
  int PagePrecedente() const { return pagePrecedente_; }
  int PageAffichee() const;
  void AffichePage(int& page);

  // The introduction text and the space a safety copy needs, measured in the target
  // database's folder once one is known.
  void TexteIntroduction();

  // The two colour schemes; the flag is set at load, a double-click on the window swaps it.
  bool SchemaCouleurs() const { return schemaCouleurs_; }
  void AppliqueCouleurs();
  void InverseCouleurs();

  // The file dialog of the browse actions; tests replace it. It receives the input's index and
  // the folder to start in, and answers the chosen file, or an empty text when cancelled.
  using ChoixFichier = std::function<QString(int index, const QString& dossier)>;
  void DefinitChoixFichier(ChoixFichier choix) { choixFichier_ = std::move(choix); }
  // The browse action of Saisie(index), as a click on it runs it.
  void ParcourtFichier(int index);
  // A database named on the command line (a desktop opening a .mdb file with the program): the
  // database to analyse, with its model proposed as the browse action proposes it.
  void OuvreFichier(const QString& chemin);

  // Controls, for the window interface and the tests.
  BoutonStd* BoutonFenetre(int index) const { return boutons_.at(static_cast<size_t>(index)); }
  QCheckBox* CocheOption(int index) const { return coches_.at(static_cast<size_t>(index)); }
  QLineEdit* SaisieBase(int index) const { return saisies_.at(static_cast<size_t>(index)); }
  QAction* ActionParcourir(int index) const { return parcourir_.at(static_cast<size_t>(index)); }
  QLabel* TexteSaisie(int index) const { return textes_.at(static_cast<size_t>(index)); }
  QLabel* ExplicationOption(int index) const;  // the explanations of page 2, by their index (0 to 7)
  QWidget* Page(int index) const { return pages_.at(static_cast<size_t>(index)); }
  QStackedWidget* Pages() const { return pile_; }
  QCheckBox* CaseCopie() const { return chCopie_; }
  QCheckBox* CaseLigneALigne() const { return chLigneALigne_; }
  QCheckBox* CaseAvancee() const { return chAvancee_; }
  QLabel* TexteAccueil() const { return texteAccueil_; }
  QLabel* LabelLigneALigne() const { return lblLigneALigne_; }
  QLabel* ExplicationCopie() const { return explicationCopie_; }
  QLabel* LabelLiasse() const { return labelLiasse_; }
  QLabel* ImageBandeau() const { return imageBandeau_; }
  QLabel* ImgDecors() const { return imgDecors_; }
  QPlainTextEdit* SaisieAnalyse() const { return saisieAnalyse_; }
  QPushButton* VisuRapport() const { return visuRapport_; }
  QPushButton* BoutonNew() const { return boutonNew_; }
  QPushButton* BoutonArreter() const { return boutonArreter_; }
  QProgressBar* Progress() const { return progress_; }
  QLabel* TypeAvancement() const { return typeAvancement_; }
  QLabel* Avancement() const { return avancement_; }
  QWidget* PanneauDossiers() const { return panneauDossiers_; }
  QProgressBar* FullProgress() const { return fullProgress_; }
  QLabel* TypeAvancementDossier() const { return typeAvancementDossier_; }

  // The folder panel of the all-folders run: folder "numero" of "nombre" under way, or the run
  // over when numero is 0.
  void AvancementDossiers(int numero, int nombre, const QString& legende);

  // The detail caption in white on red after a failure; back to normal for the next run.
  void AvancementEnErreur(bool enErreur);
  bool EstAvancementEnErreur() const { return avancementEnErreur_; }

  // The button actions, as their clicks run them.
  void BoutonClic(int index);
  void BoutonNewClic();
  void VisuRapportClic();
  // "Arrêter" and Escape during a run: once the user confirms, the run stops at its next safe point.
  void ArreterClic();

 signals:
  // Emitted once, when the window is unloaded: the program ends then.
  void Dechargee();

 protected:
  bool eventFilter(QObject* objet, QEvent* evenement) override;
  void closeEvent(QCloseEvent* evenement) override;
  void mouseDoubleClickEvent(QMouseEvent* evenement) override;

 private:
  void Construit();
  QWidget* ConstruitPageAccueil();
  QWidget* ConstruitPageBases();
  QWidget* ConstruitPageOptions();
  QWidget* ConstruitPageAvancement();
  void Chargement();
  void TermineDechargement();
  bool TraiteTouche(QKeyEvent* evenement);
  void ActionLancer();
  void ChCopieClic();
  void ChAvanceeClic();
  void SaisieCibleModifiee();
  void FocusApresControle();
  void PlaceFichier(int index, const QString& choisi);
  void SaisiesTousDossiers();

  FenetreQt fenetre_;
  Pilote pilote_;

  std::array<BoutonStd*, NombreBoutons> boutons_{};
  std::array<QCheckBox*, NombreCoches> coches_{};
  std::array<QLineEdit*, saisie::Nombre> saisies_{};
  std::array<QAction*, saisie::Nombre> parcourir_{};
  std::array<QLabel*, saisie::Nombre> textes_{};
  std::array<QLabel*, 8> explicationsOptions_{};
  std::array<QWidget*, NombrePages> pages_{};
  QStackedWidget* pile_ = nullptr;
  QFrame* bandeau_ = nullptr;
  QLabel* imageBandeau_ = nullptr;
  QLabel* labelLiasse_ = nullptr;
  QLabel* imgDecors_ = nullptr;
  QLabel* texteAccueil_ = nullptr;
  QCheckBox* chAvancee_ = nullptr;
  QCheckBox* chCopie_ = nullptr;
  QCheckBox* chLigneALigne_ = nullptr;
  QLabel* lblLigneALigne_ = nullptr;
  QLabel* explicationCopie_ = nullptr;
  QPlainTextEdit* saisieAnalyse_ = nullptr;
  QPushButton* visuRapport_ = nullptr;
  QPushButton* boutonNew_ = nullptr;
  QPushButton* boutonArreter_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* typeAvancement_ = nullptr;
  QLabel* avancement_ = nullptr;
  QWidget* panneauDossiers_ = nullptr;
  QProgressBar* fullProgress_ = nullptr;
  QLabel* typeAvancementDossier_ = nullptr;

  int pageCourante_ = 0;
  int pagePrecedente_ = 0;
  std::array<bool, NombrePages> sautPage_{};
  bool schemaCouleurs_ = true;
  bool charge_ = false;
  bool dechargee_ = false;
  bool dechargement_ = false;     // the window's own unload: closing is not refused
  bool lancementEnCours_ = false; // from the confirmation to the end of the run
  bool avancementEnErreur_ = false;
  bool detailsAvantLancement_ = false;
  ChoixFichier choixFichier_;
};

}  // namespace utireorg

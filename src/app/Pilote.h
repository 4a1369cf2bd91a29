// The main window's logic without widgets: the host interface, the input check and the run
// driver. The Qt window, the headless run and the tests drive a Pilote through the same calls.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/TousDossiers.h"
#include "app/TousLesDossiers.h"
#include "common/Arret.h"
#include "common/EtatReorganisation.h"
#include "common/InterfaceFenetre.h"
#include "journal/Journal.h"

namespace moteur {
class TenueRun;
class TenueDossier;
}  // namespace moteur

namespace utireorg {

// Help context of the main window, also given to the confirmation of a run.
inline constexpr long ContexteAideUtiReorg = 6080;
// Title of the confirmation and of the message that ends a run which cannot go on.
inline constexpr const char* TitreReorganisation = "Réorganisation";
// Word of the command line that opens the options page, as a host application would.
inline constexpr const char* MotAvance = "AVANCE";
// Word of the command line that opens the window in all-folders mode, as a host application would.
inline constexpr const char* MotTous = "TOUS";

// How a run ended.
enum class IssueRun {
  AucunRun,     // no run yet
  NonLancee,    // the journal could not be opened and the user did not run without it
  Terminee,     // "Procédure terminée."
  Interrompue,  // "Procédure interrompue !"
  Abandonnee,   // the run could not go on: the user was told and the window unloaded
};

// How the "Lancer" action ended.
enum class IssueLancer {
  SaisiesRefusees,  // the input check refused the inputs; nothing was run
  Annulee,          // the user declined the confirmation
  Terminee,
  Interrompue,
  Abandonnee,       // the window was unloaded (the run could not go on, or a fatal error)
};

// What follows one step of a run, once the main handler has dealt with its error if any.
enum class SuiteEtape { Continue, Fin, Abandon };

// What the window does around the "Lancer" action; any of them may be left empty.
struct EtapesLancer {
  std::function<void()> AffichePageRapport;  // the input check passed: page 3 is shown
  std::function<void()> RetourPage;          // confirmation declined: back to the page shown before
  std::function<void()> AvantRun;            // confirmed: page 3 (and the folder panel) before the run
  std::function<void()> ApresRun;            // after the run: viewer and "Lancer une nouvelle analyse"
};

class Pilote {
 public:
  explicit Pilote(InterfaceFenetre& fenetre);
  ~Pilote();

  EtatReorganisation& Etat() { return etat_; }
  Journal& JournalAnalyse() { return journal_; }

  // Host interface.
  void Reorganisation(bool forceTest = false, bool flagIcone = false, bool flagVerifRelation = true);
  bool Traite() const { return etat_.traite; }
  bool vIsLoad() const { return true; }
  void FlagVerifRelation(bool valeur) { etat_.flagVerifRelation = valeur; }
  bool ReorgEnCours() const { return etat_.reorgEnCours; }

  // The input check run before "Lancer" and before leaving the databases page. When it refuses,
  // SaisieAFocaliser tells which input (saisie::…) the window gives the focus to, if any.
  // Once it passes, the target (and, for the record copy, the folder of "copie_reorg.mdb") is held
  // against other runs until the end of "Lancer", or until LibereCible: a second run on it is
  // refused, as is a target another program is reading or writing.
  bool ControleSaisies();
  std::optional<int> SaisieAFocaliser() const { return saisieAFocaliser_; }
  void LibereCible();

  // The "Lancer" action: input check, confirmation, run. The window's own steps (pages,
  // panel) come through the callbacks; the buttons and the pointer through the window.
  IssueLancer Lancer(const EtapesLancer& etapes = {});
  // "?#Confirmez-vous la réorganisation du dossier ?" (or "de l'ensemble des dossiers").
  std::string QuestionConfirmation() const;

  // The run itself, once the user has confirmed. When the journal cannot be opened the user is
  // asked first whether to run without it (the run is then NonLancee when declined). A stop
  // requested meanwhile (see common/Arret.h) ends the run at its next safe point as a failed run.
  void LanceReorganisation();
  IssueRun Issue() const { return issue_; }
  // The stop that ended the last run, if a signal, the user or a closed output stopped it.
  std::optional<ArretRun> ArretPar() const { return arretPar_; }
  // A run that is one of several (the all-folders run) keeps a stop asked before it begins:
  // the request was made for the whole run, and the folder about to start is the next safe point.
  void GardeDemandeArret(bool garder) { garderDemandeArret_ = garder; }

  // Runs one step of a run under the main handler: error 3163 verifies the records and runs
  // the step again (once: the same error after a successful verification ends the run), other
  // errors end the run (Fin) or, for the errors that leave no sound state, abandon it.
  SuiteEtape ExecuteEtape(const std::function<void()>& etape);

  // The step estimate of a database: the number of fields and indexes of its user tables,
  // or the error number that stopped the count.
  static std::optional<long> CompteEtapes(const std::string& chemin, int* erreur = nullptr);
  static std::string VersionBase(moteur::Database& base);

  // All-folders mode and the space estimate (host interface).
  void ReorganisationComplete();
  bool ModeTousDossiers() const { return modeTousDossiers_; }
  // Every folder beside the model (its input is the only one read), one after the other: the
  // run ends "terminée" when every folder that has a database did.
  void ReorganisationTousDossiers();
  const std::vector<ResultatDossier>& ResultatsDossiers() const { return resultatsDossiers_; }
  void FromVekListe(ListeHote* liste, const std::string& typeListe, int indexBouton);
  // The size of a folder in "Ko" or "Mo" (unit in "unite"); without a folder, the model folder.
  std::string GetTailleDossier(std::string& unite, const std::optional<std::string>& vDossier = std::nullopt) const;
  // The explanation of "Mode sécurisé" with the room its copy needs: the size of the target
  // database, which is what it copies; 0 Ko while no target is chosen.
  std::string TexteCopieSecurite() const;

 private:
  void Abandonne();
  void AbandonneCopies();
  bool AccepteRunSansJournal();
  void NoteArret(const ArretRun& arret);
  void RefuseFormatUlterieur(const std::string& quelle, const std::string& chemin);
  bool TientCible(const std::string& cible, bool copie);
  bool ControleModele();
  bool ControleDossiers(const std::string& cible, bool ecritLaCible);
  SuiteEtape Deroule();
  void FinRun();

  InterfaceFenetre& fenetre_;
  Journal journal_;
  EtatReorganisation etat_;
  EnsembleBases ensemble_;
  bool modeTousDossiers_ = false;
  IssueRun issue_ = IssueRun::AucunRun;
  std::optional<int> saisieAFocaliser_;
  bool ReparableParLeRun(const std::string& cible, int erreur) const;
  std::string ConseilReparation(const std::string& cible, int erreur) const;
  // A target that does not open for damage, accepted because the run repairs it first; and why.
  std::string cibleEndommagee_, raisonCibleEndommagee_;
  std::unique_ptr<moteur::TenueRun> tenueCible_;
  std::unique_ptr<moteur::TenueDossier> tenueCopie_;
  std::unique_ptr<moteur::TenueRun> tenueModele_;  // the all-folders run's, from its check to its end
  std::optional<ArretRun> arretPar_;
  SurveillanceArret* surveillance_ = nullptr;  // the run's, while one is in progress
  bool garderDemandeArret_ = false;
  std::vector<ResultatDossier> resultatsDossiers_;
};

}  // namespace utireorg

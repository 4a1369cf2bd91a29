// The one interface through which a run and its stages reach the main window: the Qt window,
// the headless run and the tests each implement it, so no stage depends on a widget toolkit.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/Arret.h"

namespace utireorg {

// Title of messages that name none, and of the main window.
const std::string& TitreApplication();

enum class PointeurSouris { Normal, Sablier };

// A button of a message, as its list describes it.
struct BoutonMessage {
  std::string legende;    // caption with its "&" access marker and its ";hint" if any
  bool focus = false;     // pressed by Enter, focused when shown
  bool annulation = false;  // pressed by Escape and by the close box
  bool aide = false;      // the added "Aide" button: opens help, does not close
};

// A message once its markup has been read: what a window needs to show it.
struct MessageAnalyse {
  int icone = 0;  // 0 none, 1 error, 2 warning, 3 question
  int bips = 0;
  std::string texte;  // lines separated by '\n'; "&" is a plain character here
  std::string titre;
  std::vector<BoutonMessage> boutons;
  long contexteAide = 0;
};

// The main window's controls that a run reads or drives, named once for the window, the headless
// run and the tests. Indexed controls keep their order on the window ("Coche0" is the first box);
// the headless run's --options numbers are these indexes.
namespace coche {
inline constexpr int VerificationsPrimaires = 0;  // open the target and read every record
inline constexpr int ReparationCompactage = 1;
inline constexpr int Compactage = 2;
inline constexpr int ModeSecurise = 3;         // a safety copy of the target first
inline constexpr int ControleEtendu = 4;       // the system databases too
inline constexpr int TraitementExhaustif = 5;  // the advanced version of the checks
inline constexpr int Nombre = 6;
}  // namespace coche

namespace saisie {
inline constexpr int Cible = 0;   // "Base à analyser"
inline constexpr int Modele = 1;  // "Base modèle"
inline constexpr int Nombre = 2;
}  // namespace saisie

namespace bouton {
inline constexpr int Quitter = 0;
inline constexpr int Precedent = 1;
inline constexpr int Details = 2;
inline constexpr int Lancer = 3;
inline constexpr int Apercu = 4;
inline constexpr int Nombre = 5;
}  // namespace bouton

// The check boxes read by their name.
namespace cases {
inline constexpr const char* Copie = "chCopie";              // copy the records into the model's copy
inline constexpr const char* LigneALigne = "chLigneALigne";  // that copy record by record
inline constexpr const char* Avancee = "chAvancee";          // "Réorganisation avancée"
}  // namespace cases

class InterfaceFenetre {
 public:
  virtual ~InterfaceFenetre() = default;

  // The two progress captions (stage and detail); the window repaints them at once.
  virtual void Legendes(const std::string& etape, const std::string& detail) = 0;

  // The progress bar.
  virtual void ProgressMaximum(long maximum) = 0;
  virtual long ProgressMaximum() const = 0;
  virtual void ProgressValeur(long valeur) = 0;
  virtual long ProgressValeur() const = 0;
  virtual void ProgressVisible(bool visible) = 0;

  // The on-screen journal: text is appended as written (it may hold CR LF) and the view
  // scrolls to its end.
  virtual void AjouteAuJournal(const std::string& texte) = 0;
  virtual std::string TexteJournal() const = 0;

  virtual void Pointeur(PointeurSouris pointeur) = 0;
  virtual void Bip() = 0;

  // Option boxes and inputs of the main window.
  virtual bool Coche(int index) const = 0;              // index: coche::…
  virtual bool Case(const std::string& nom) const = 0;  // nom: cases::…
  virtual std::string Saisie(int index) const = 0;      // index: saisie::…

  // Shows a message modally; the 1-based number of the button pressed, or nothing when no
  // message could be shown.
  virtual std::optional<int> PresenteMessage(const MessageAnalyse& message) = 0;

  // The main window's own controls that the run driver drives. A window without them (the
  // headless run, the tests) keeps these defaults.
  virtual void ActiveBouton(int /*index*/, bool /*actif*/) {}  // index: bouton::…
  virtual void AvancementEnErreur() {}  // detail caption in white on red after a failure
  virtual void FermeFenetre() {}        // unloads the main window, which ends the program
  virtual std::string Legende() const { return TitreApplication(); }  // the window's caption
  // The folder panel of the all-folders run: folder "numero" of "nombre" is being reorganised,
  // or, with numero 0, the run is over; "legende" is the caption to show.
  virtual void AvancementDossiers(int /*numero*/, int /*nombre*/, const std::string& /*legende*/) {}

  // Captions of the windows open now, for the error journal.
  virtual std::vector<std::string> LegendesFenetres() const = 0;

  // Lets the window process its pending events. Stages call this per table, per field and per
  // record: it reaches the window at most every 20 ms so that calling it costs nothing. It is
  // also the run's safe point: a stop requested meanwhile (a signal, the user's stop button
  // clicked in the events just processed) is thrown from here as ArretRun (see Arret.h).
  void LaisseVivre(bool forcer = false) {
    auto maintenant = std::chrono::steady_clock::now();
    if (forcer || maintenant - dernier_ >= std::chrono::milliseconds(20)) {
      dernier_ = maintenant;
      TraiteEvenements();
    }
    PointDArret();
  }

 protected:
  virtual void TraiteEvenements() = 0;

 private:
  std::chrono::steady_clock::time_point dernier_{};
};

// The main window of the program (one per process). Stages and helpers reach it through here.
void DefinitFenetre(InterfaceFenetre* fenetre);
InterfaceFenetre* FenetreCourante();

}  // namespace utireorg

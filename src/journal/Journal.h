// The analysis journal: the text log of every run, kept in the file "Analyse.txt" and shown
// line by line in the main window's journal view, with the two progress captions and the viewer.
#pragma once

#include <string>
#include <system_error>

#include "common/InterfaceFenetre.h"

namespace utireorg {

class Journal {
 public:
  // Beyond this size the next line first cuts the file down to its last bytes.
  static constexpr long long TailleMaximale = 1'000'000;
  static constexpr long long TailleConservee = 500'000;
  // Width of the title and section frames, in characters.
  static constexpr int LargeurCadre = 75;

  // Writes to the window set by DefinitFenetre, looked up at each call (the journal may be
  // built before the window).
  Journal();
  // Writes to this window, which must outlive the journal.
  explicit Journal(InterfaceFenetre& fenetre);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens the file for appending, creating it when missing and never emptying it; an open
  // journal is closed first. Returns false when the file cannot be opened: the journal then
  // stays closed (its writes are dropped) and ErreurOuverture() tells why. Never throws for a
  // file-system failure.
  bool OuvertureJournal();
  // A run that goes on without its file (the user agreed to it): the lines are still shown in
  // the window, and the journal stays "open" for the run's writes. Closed by FermetureJournal.
  void OuvertureSansFichier();
  void FermetureJournal();
  bool EstOuvert() const { return fichier_ >= 0 || sansFichier_; }
  const std::string& CheminJournal() const { return chemin_; }
  std::error_code ErreurOuverture() const { return erreurOuverture_; }

  // True while every line since the opening reached the file: what a run deletes is only ever
  // known from the journal, so a run must not delete anything when this is false. A journal
  // without its file is never sure.
  bool EcritureSure() const { return fichier_ >= 0 && !erreurEcriture_; }
  // The system's error (errno) of the first write that failed since the opening; 0 when none.
  int ErreurEcriture() const { return erreurEcriture_; }

  // Folder put before the file name; empty, so the journal lies in the current directory.
  const std::string& PrefixeDonnees() const { return prefixe_; }
  void PrefixeDonnees(std::string prefixe) { prefixe_ = std::move(prefixe); }

  // Appends one line (text in UTF-8, stored in code page 1252, ended by CR LF) to the file and
  // to the window's view, preceded by the "DDMMYY:HHNN" time stamp and a space when asked.
  // Does nothing while the journal is closed. Never throws: a step that cannot be done (full
  // disk, vanished window) is left out; a write the file refused is remembered (EcritureSure,
  // ErreurEcriture) for the run to stop on.
  void EcritureJournal(const std::string& texte, bool horodate = false) noexcept;

  // A title framed by lines of stars, and a section framed by dashes between two empty lines.
  void TitreJournal(const std::string& texte);
  void SectionJournal(const std::string& texte);

  // The two progress captions, then lets the window repaint and handle pending input.
  void AffichageAvancement(const std::string& etape, const std::string& detail = "");

  // Opens the journal file in the system's text viewer (the program named by the environment
  // variable UTIREORG_EDITEUR, else "xdg-open") without waiting for it. False when the journal
  // has never been opened or the viewer cannot be started.
  bool VisuRapport() const;

 private:
  InterfaceFenetre* Fenetre() const;
  bool EcritFichier(const std::string& ligneAnsi);
  bool Tronque(long long longueur, const std::string& ligneAnsi);

  InterfaceFenetre* fenetre_ = nullptr;  // nullptr: the current window
  int fichier_ = -1;
  std::string chemin_;
  std::string prefixe_;
  std::error_code erreurOuverture_;
  int erreurEcriture_ = 0;
  bool sansFichier_ = false;
};

}  // namespace utireorg

// What the main window owns for a run and shares with the run driver and its stages.
#pragma once

#include <array>
#include <string>

#include "common/CompteursRun.h"
#include "moteur/Moteur.h"

namespace utireorg {

class InterfaceFenetre;
class Journal;

// The database set of a run: five slots of a path and a display label; a run fills slot 2.
inline constexpr int SlotPrincipal = 2;
inline constexpr int DernierSlot = 4;
inline constexpr const char* LibellePrincipal = "base de données principale";

struct EnsembleBases {
  std::array<std::string, 5> chemins;
  std::array<std::string, 5> libelles;
};

struct EtatReorganisation {
  EtatReorganisation(InterfaceFenetre& f, Journal& j) : fenetre(f), journal(j) {}

  InterfaceFenetre& fenetre;
  Journal& journal;

  // Owned by the main window, kept from one run to the next.
  moteur::Database baseCourante;              // the current target database (may be closed)
  std::array<std::string, 5> cheminsOrigine;  // the set as chosen, before any safety copy
  bool sauvegardeFaite = false;               // working copies exist: put back or dropped at the end
  std::string nomLogiciel;                    // the target's name without extension, as the model's
  std::string versionCible;                   // the format compaction writes ("3.0" or "4.0")
  long estimationEtapes = 0;                  // steps of the structure check, for the progress bar
  bool versionAvancee = false;                // "Traitement exhaustif" ticked when the run was confirmed
  bool flagVerifRelation = true;              // the relations are checked (a host may turn it off)
  bool reorgEnCours = false;                  // a run is under way
  bool traite = false;                        // a run has ended "terminée"

  // State of the run in progress, read and written by the driver and the file stages.
  bool echec = false;         // failure flag
  bool disquePlein = false;   // disk-full flag
  int derniereErreur = 0;     // number written after "Erreur " when a run fails
  std::string cheminTravail;  // working path (slot 2, a working copy in safe mode)
  std::string cheminOrigine;  // the main database as chosen (its slot of cheminsOrigine)
  std::string libelle;        // label of slot 2
  std::string fichierTemporaire;  // compaction's temporary file
  CompteursRun compteurs;         // what the stages did, for the report of a run
};

}  // namespace utireorg

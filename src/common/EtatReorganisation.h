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

  // Members of the main window.
  moteur::Database baseCourante;               // the current target database (may be closed)
  std::array<std::string, 5> cheminsOrigine;   // CheminsOrigine
  bool sauvegardeFaite = false;                // SauvegardeFaite
  std::string nomLogiciel;                     // NomLogiciel
  std::string versionCible;                    // VersionCible
  long estimationEtapes = 0;                   // EstimationEtapes
  bool versionAvancee = false;                 // L_bFlagVersionAvancee
  bool flagVerifRelation = true;               // FlagVerifRelation
  bool reorgEnCours = false;                   // G_ReorgEnCours
  bool traite = false;                         // Traite

  // State of the run in progress, read and written by the driver and the file stages.
  bool echec = false;         // failure flag
  bool disquePlein = false;   // disk-full flag
  int derniereErreur = 0;     // number written after "Erreur " when a run fails
  std::string cheminTravail;  // working path (slot 2, a working copy in safe mode)
  std::string cheminOrigine;  // CheminsOrigine(2)
  std::string libelle;        // label of slot 2
  std::string fichierTemporaire;  // compaction's temporary file
  CompteursRun compteurs;         // what the stages did, for the report of a run
};

}  // namespace utireorg

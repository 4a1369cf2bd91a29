// The report of a run without a screen, for the scripts that start it: a JSON file written when
// the run ends, however it ends, with the options, each stage, the counts of the stages, each
// "#ERR#" and "#ALERT#" line and the exit code. Its format is described in the README.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/CompteursRun.h"

namespace rapport {

using Json = nlohmann::ordered_json;
using Instant = std::chrono::system_clock::time_point;

// Raised when the fields of the report change in a way a reader must know of.
inline constexpr int VersionFormat = 1;

// The error number a journal line names ("Erreur 3163 !", "Erreur :3315 …", "… endommagée
// (3049)"), or nothing.
std::optional<int> NumeroErreur(const std::string& texte);

// "2026-12-08T09:05:07+01:00": local time with its offset from UTC.
std::string DateIso(Instant instant);

// Follows the journal of one run as its lines are written: each section is a stage, timed from
// its title to the next one, and the marked lines are kept with their error number.
class SuiviJournal {
 public:
  struct Etape {
    std::string nom;
    double secondes = 0;
    int erreurs = 0;
    int alertes = 0;
    bool interrompue = false;
  };
  struct LigneMarquee {
    std::string marqueur;  // "#ERR#" or "#ALERT#"
    std::optional<int> numero;
    std::string texte;     // without time stamp; the lines of one write joined by '\n'
  };

  // One write to the journal, as the window receives it (CR LF line ends, maybe several lines).
  void Ecrit(const std::string& texte);
  // The run has ended; an interrupted run leaves its last stage interrupted.
  void Termine(bool interrompu);

  const std::vector<Etape>& Etapes() const { return etapes_; }
  const std::vector<LigneMarquee>& Lignes() const { return lignes_; }

 private:
  void FermeEtape();

  std::vector<Etape> etapes_;
  std::vector<LigneMarquee> lignes_;
  std::chrono::steady_clock::time_point debutEtape_;
  bool etapeOuverte_ = false;
  std::string precedente_;  // the previous line: a section title follows a rule of dashes
};

// A database the input check refused.
struct Refus {
  std::string base;    // "Base à analyser", "Base modèle"
  std::string chemin;
  std::string raison;
};

// The refusal the input check writes no journal line for, a name that leads to nothing: which
// database and why. Nothing when both names lead to a file.
std::optional<Refus> RefusSansJournal(const std::string& cible, const std::string& modele, bool copie);

// One folder's entry: its target, its times, how its run ended, its stages, counts and lines.
struct Dossier {
  std::string cible;
  std::string issue;  // "terminee", "interrompue", "abandonnee", "refusee"
  Instant debut{}, fin{};
  std::string journal;  // absolute path of "Analyse.txt", empty when none was written
  std::vector<std::string> messages;  // the messages shown to the user, in order
  std::optional<Refus> refus;
};
Json EntreeDossier(const Dossier& dossier, const SuiviJournal& suivi, const utireorg::CompteursRun& compteurs);

// The whole report. "dossiers" holds one entry per folder run (one for a single run, none when
// the command line itself was refused).
Json Rapport(const std::string& version, Instant debut, Instant fin, Json options, Json dossiers, int codeSortie,
             const std::string& erreur = {});

// A file of the run that a report must never take the place of, whether it exists yet or not.
struct FichierProtege {
  std::string chemin;
  std::string nom;  // "la base à analyser", "le journal d'analyse"…
};

// True when the file was written by this program as a report: only such a file may be replaced.
bool EstUnRapport(const std::string& chemin);

// Why no report may be written at that path, in French: a file of the run (compared by real
// path), a folder, a file that is not an earlier report, a folder missing or where no file can be
// created. Empty when the report can be written there.
std::string RaisonRefusRapport(const std::string& chemin, const std::vector<FichierProtege>& proteges = {});

// Writes the report through a temporary file renamed into place, so that a reader never sees
// half of it; false, with the reason in French, when it cannot be written or when what now lies
// at that path is not a report.
bool EcritRapport(const std::string& chemin, const Json& rapport, std::string& erreur);

}  // namespace rapport

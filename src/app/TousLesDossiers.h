// Every client folder of an installation in one run. The business software keeps one database per
// client folder, in the sub-folders of the folder of its model database; each of them is
// reorganised in turn as "Lancer" reorganises one, with the same options, and the journal ends
// with a frame that says how each folder ended.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace utireorg {

class InterfaceFenetre;
class Journal;
class Pilote;

// The exit codes of the headless run, which reads them as it ends and which the run of every
// folder reads back from each child it starts.
namespace sortie_lot {
inline constexpr int Terminee = 0;
inline constexpr int Interrompue = 1;
inline constexpr int SaisiesRefusees = 2;  // options, paths or databases refused before the run
inline constexpr int RapportNonEcrit = 3;
}  // namespace sortie_lot

// A sub-folder of the model's folder.
struct DossierClient {
  std::string nom;           // the folder's own name
  std::string base;          // its database, of the model's file name whatever its case; empty when none
  std::string raisonIgnore;  // why it is left out, when it has no database to run
  // Left out for a fault the user must look at (unreadable, several databases), not merely for
  // having no database: the run does not end as a success.
  bool aVerifier = false;
};

// The sub-folders of the model's folder (hidden ones aside), in name order; each holds its
// database or says why it is left out.
std::vector<DossierClient> DossiersClients(const std::string& modele);

enum class IssueDossier { Terminee, Interrompue, Ignoree };

struct ResultatDossier {
  DossierClient dossier;
  IssueDossier issue = IssueDossier::Ignoree;
  std::string raison;        // for an interrupted or left-out folder
  bool disquePlein = false;  // the run ended on a full disk: no other folder is started
  bool arrete = false;       // a stop was asked (signal, user): no other folder is started
};

// "terminée", "interrompue : <raison>", "ignorée : <raison>".
std::string TexteIssue(const ResultatDossier& resultat);

// Why a folder's run was interrupted, from the lines its journal received (time stamps allowed):
// its last "#ERR# " line, else the fallback.
std::string RaisonDepuisJournal(const std::vector<std::string>& lignes, const std::string& repli);

// "3 dossiers : 1 terminé, 1 interrompu, 1 ignoré".
std::string TotauxDossiers(const std::vector<ResultatDossier>& resultats);

// The exit code of a headless run: 0 when every folder that has a database ended "terminée" (and
// there was at least one) and none was left out for a fault, 1 otherwise.
int CodeSortieTousDossiers(const std::vector<ResultatDossier>& resultats);

// What the caller does around each folder: the window's panel comes through the window itself;
// the headless run builds its report here. "fin" receives the folder's own driver when it ran in
// this process, else (a child process, a folder left out) nullptr and, for a child, the private
// folder it ran in (its report, its journal), deleted once "fin" returns.
struct SuiviDossiers {
  std::function<void(int numero, int nombre, const DossierClient& dossier)> debut;
  std::function<void(const ResultatDossier& resultat, Pilote* pilote, const std::string& dossierEnfant)> fin;
};

// The run over every folder, one after the other in this process, with the options, the model
// and the answers of "fenetre" (its target input is not read). Opens the journal for its own
// frames only: each folder's run opens it as a single run does. "flagVerifRelation" as the host
// gave it. A full disk or a stop request ends the run once the current folder is safe; the
// folders not reached are listed as left out.
std::vector<ResultatDossier> ReorganiseDossiers(InterfaceFenetre& fenetre, Journal& journal, const std::string& modele,
                                                bool flagVerifRelation, const SuiviDossiers& suivi = {});

// The words of a child process's command line for one folder: the program first. The child runs
// in its own folder, where its journal "Analyse.txt" is written.
using CommandeDossier = std::function<std::vector<std::string>(const DossierClient& dossier, const std::string& dossierEnfant)>;

// The same run with up to "parallele" folders at a time, each in its own process. Each child's
// journal is appended whole to this journal, in folder order, as soon as the folders before it
// are appended. A stop request is passed on to the running children.
std::vector<ResultatDossier> ReorganiseDossiersEnParallele(InterfaceFenetre& fenetre, Journal& journal,
                                                           const std::string& modele, int parallele,
                                                           const CommandeDossier& commande,
                                                           const SuiviDossiers& suivi = {});

// In a child process of the run over several folders at once (the parent names itself in its
// environment): the child is asked to stop, as by SIGTERM, as soon as the parent is gone, and
// asked at once when it is already gone. Does nothing in any other process.
void SuitProcessusParent();

// At the end of such a child: when the parent is gone, nobody will append the child's journal
// ("Analyse.txt" in its current directory) to the run's journal, so the child does it itself,
// after a line that says so, and removes its private folder. "base" is the folder's database.
// Does nothing while the parent is there, or in any other process.
void RendJournalSiParentDisparu(const std::string& base);

}  // namespace utireorg

#include "app/TousLesDossiers.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

#include "app/Pilote.h"
#include "common/Ansi.h"
#include "common/Arret.h"
#include "common/Fichiers.h"
#include "common/Horodatage.h"
#include "journal/Journal.h"
#include "messages/GestionErreur.h"
#include "texte/Texte.h"

extern char** environ;

namespace utireorg {

namespace fs = std::filesystem;

namespace {

const char* const LigneDisquePleinFin = "#ERR# Procédure interrompue ! Libérer de la place sur votre disque dur.";
const char* const DebutInterrompue = "Procédure interrompue ! ";

std::string Minuscules(std::string_view nom) { return texte::PlieNom(nom, texte::Pliage::Ascii); }

// Name order as a person reads it: case aside first, then exactly, so that the order is stable.
bool AvantDansLOrdreDesNoms(const std::string& a, const std::string& b) {
  const std::string ma = Minuscules(a), mb = Minuscules(b);
  return ma != mb ? ma < mb : a < b;
}

// "DDMMYY:HHNN " before a time-stamped line.
std::string SansHorodatage(const std::string& ligne) {
  if (ligne.size() > 12 && ligne[6] == ':' && ligne[11] == ' ' &&
      std::all_of(ligne.begin(), ligne.begin() + 6, [](char c) { return c >= '0' && c <= '9'; }) &&
      std::all_of(ligne.begin() + 7, ligne.begin() + 11, [](char c) { return c >= '0' && c <= '9'; }))
    return ligne.substr(12);
  return ligne;
}

std::vector<std::string> Lignes(const std::string& texte) {
  std::vector<std::string> lignes;
  std::istringstream flux(texte);
  for (std::string ligne; std::getline(flux, ligne);) {
    if (!ligne.empty() && ligne.back() == '\r') ligne.pop_back();
    lignes.push_back(ligne);
  }
  return lignes;
}

// The structure verification's word when it finds no model beside a folder's database (the model
// went away meanwhile): the run goes on, but that folder's structure was not brought up to the
// model's, which is what the run over every folder is for.
constexpr std::string_view MessageModeleInexistant = "Base de données du logiciel inexistante";

// The database of the model's name in one folder, or why there is none to run.
void TrouveBase(DossierClient& dossier, const fs::path& chemin, const std::string& modele) {
  const std::string nomModele = fs::path(modele).filename().string();
  std::vector<std::string> trouvees;
  std::error_code erreur;
  for (fs::directory_iterator it(chemin, erreur), fin; !erreur && it != fin; it.increment(erreur)) {
    std::error_code e;
    if (Minuscules(it->path().filename().string()) == Minuscules(nomModele) && it->is_regular_file(e))
      trouvees.push_back(it->path().string());
  }
  dossier.aVerifier = true;
  if (erreur) {
    dossier.raisonIgnore = "dossier illisible : " + TexteErreurSysteme(erreur.value());
  } else if (trouvees.empty()) {
    dossier.raisonIgnore = "aucune base « " + nomModele + " »";
    dossier.aVerifier = false;
  } else if (trouvees.size() > 1) {
    // Which one the software uses cannot be told from here: neither is touched.
    dossier.raisonIgnore = "plusieurs bases « " + nomModele + " » dont le nom ne diffère que par la casse";
  } else if (MemeFichier(trouvees.front(), modele)) {
    dossier.raisonIgnore = "sa base est la base modèle elle-même";
  } else {
    dossier.aVerifier = false;
    dossier.base = trouvees.front();
  }
}

// The window of one folder's run: the host window, but with the folder's database as the target,
// and a run that cannot go on ends this folder, not the program. Its journal lines and messages
// are kept to say why the folder was interrupted.
class FenetreDossier : public InterfaceFenetre {
 public:
  FenetreDossier(InterfaceFenetre& hote, std::string base, std::string modele)
      : hote_(hote), base_(std::move(base)), modele_(std::move(modele)), precedente_(FenetreCourante()) {
    DefinitFenetre(this);
  }
  ~FenetreDossier() override { DefinitFenetre(precedente_); }

  void Legendes(const std::string& etape, const std::string& detail) override { hote_.Legendes(etape, detail); }
  void ProgressMaximum(long maximum) override { hote_.ProgressMaximum(maximum); }
  long ProgressMaximum() const override { return hote_.ProgressMaximum(); }
  void ProgressValeur(long valeur) override { hote_.ProgressValeur(valeur); }
  long ProgressValeur() const override { return hote_.ProgressValeur(); }
  // The bar serves the next folder: the whole run hides it at its end.
  void ProgressVisible(bool visible) override {
    if (visible) hote_.ProgressVisible(true);
  }
  void AjouteAuJournal(const std::string& texte) override {
    hote_.AjouteAuJournal(texte);
    for (const std::string& ligne : Lignes(texte)) lignes_.push_back(ligne);
  }
  std::string TexteJournal() const override { return hote_.TexteJournal(); }
  void Pointeur(PointeurSouris pointeur) override { hote_.Pointeur(pointeur); }
  void Bip() override {}  // once, at the end of the whole run
  bool Coche(int index) const override { return hote_.Coche(index); }
  bool Case(const std::string& nom) const override { return hote_.Case(nom); }
  std::string Saisie(int index) const override {
    return index == saisie::Cible ? base_ : index == saisie::Modele ? modele_ : hote_.Saisie(index);
  }
  std::optional<int> PresenteMessage(const MessageAnalyse& message) override {
    dernierMessage_ = message.texte.substr(0, message.texte.find('\n'));
    modeleInexistant_ = modeleInexistant_ || message.texte.find(MessageModeleInexistant) != std::string::npos;
    return hote_.PresenteMessage(message);
  }
  void ActiveBouton(int index, bool actif) override { hote_.ActiveBouton(index, actif); }
  void AvancementEnErreur() override {}  // said once, at the end of the whole run
  void FermeFenetre() override {}        // this folder ends; the others still run
  std::string Legende() const override { return hote_.Legende(); }
  std::vector<std::string> LegendesFenetres() const override { return hote_.LegendesFenetres(); }

  const std::vector<std::string>& LignesJournal() const { return lignes_; }
  const std::string& DernierMessage() const { return dernierMessage_; }
  bool ModeleInexistant() const { return modeleInexistant_; }

 protected:
  void TraiteEvenements() override { hote_.LaisseVivre(true); }

 private:
  InterfaceFenetre& hote_;
  std::string base_, modele_;
  InterfaceFenetre* precedente_;
  std::vector<std::string> lignes_;
  std::string dernierMessage_;
  bool modeleInexistant_ = false;
};

void ExigeLeModele(ResultatDossier& r, bool modeleInexistant) {
  if (r.issue != IssueDossier::Terminee || !modeleInexistant) return;
  r.issue = IssueDossier::Interrompue;
  r.raison = std::string(MessageModeleInexistant) + " : la structure n'a pas été vérifiée";
}

std::string Pluriel(std::size_t n, const char* singulier, const char* pluriel) {
  return std::to_string(n) + " " + (n > 1 ? pluriel : singulier);
}

std::size_t Compte(const std::vector<ResultatDossier>& resultats, IssueDossier issue) {
  return static_cast<std::size_t>(
      std::count_if(resultats.begin(), resultats.end(), [&](const ResultatDossier& r) { return r.issue == issue; }));
}

}  // namespace

std::string TotauxDossiers(const std::vector<ResultatDossier>& resultats) {
  return Pluriel(resultats.size(), "dossier", "dossiers") + " : " +
         Pluriel(Compte(resultats, IssueDossier::Terminee), "terminé", "terminés") + ", " +
         Pluriel(Compte(resultats, IssueDossier::Interrompue), "interrompu", "interrompus") + ", " +
         Pluriel(Compte(resultats, IssueDossier::Ignoree), "ignoré", "ignorés");
}

namespace {

std::size_t NombreAvecBase(const std::vector<DossierClient>& dossiers) {
  return static_cast<std::size_t>(
      std::count_if(dossiers.begin(), dossiers.end(), [](const DossierClient& d) { return !d.base.empty(); }));
}

// The journal is opened for the frames of the whole run only: a folder's run replaces the file
// when it cuts the journal down to size, which a descriptor kept open would not follow.
void EcritCadreOuverture(Journal& journal, const std::string& modele, const std::vector<DossierClient>& dossiers) {
  if (!journal.OuvertureJournal()) return;
  journal.TitreJournal("Réorganisation de tous les dossiers");
  journal.EcritureJournal("Date : " + DateLongue());
  journal.EcritureJournal("Base modèle : " + modele);
  journal.EcritureJournal("Dossiers : " + std::to_string(dossiers.size()) + ", dont " +
                          Pluriel(NombreAvecBase(dossiers), "à réorganiser", "à réorganiser"));
  journal.EcritureJournal("");
  journal.FermetureJournal();
}

void EcritCadreFermeture(Journal& journal, const std::vector<ResultatDossier>& resultats) {
  if (!journal.OuvertureJournal()) return;
  journal.EcritureJournal("");
  journal.TitreJournal("Bilan de la réorganisation de tous les dossiers");
  for (const ResultatDossier& r : resultats)
    journal.EcritureJournal(NomPourJournal(r.dossier.nom) + " : " + TexteIssue(r));
  // A stop may have come before any folder's run could say why.
  if (const RaisonArret arret = ArretDemande(); arret != RaisonArret::Aucune)
    journal.EcritureJournal("#ERR# " + TexteRaisonArret(arret, SignalArret()));
  journal.EcritureJournal("");
  journal.EcritureJournal("Total : " + TotauxDossiers(resultats));
  journal.EcritureJournal("");
}

// The end of the whole run on the window: captions, bar, beep, the folder panel.
void TermineSurLaFenetre(InterfaceFenetre& fenetre, Journal& journal, const std::vector<ResultatDossier>& resultats,
                         int nombre) {
  const bool reussi = CodeSortieTousDossiers(resultats) == 0;
  fenetre.AvancementDossiers(0, nombre, TotauxDossiers(resultats));
  // The totals stay in view in the folder panel; the outcome takes the captions as after one run.
  journal.AffichageAvancement(reussi ? "Procédure terminée." : "Procédure interrompue !");
  if (reussi) {
    fenetre.ProgressValeur(0);
    fenetre.ProgressVisible(false);
    fenetre.Bip();
  } else {
    fenetre.AvancementEnErreur();
  }
}

ResultatDossier Ignore(const DossierClient& dossier, const std::string& raison) {
  ResultatDossier r;
  r.dossier = dossier;
  r.issue = IssueDossier::Ignoree;
  r.raison = raison;
  return r;
}

// Why the folders not reached are left out.
std::string RaisonNonAtteint(bool disquePlein) {
  return disquePlein ? "espace disque insuffisant, la réorganisation s'est arrêtée avant ce dossier"
                     : "la réorganisation a été arrêtée avant ce dossier";
}

// One folder's run in this process, as "Lancer" runs one once the user has confirmed.
ResultatDossier RunDossier(InterfaceFenetre& fenetre, const std::string& modele, bool flagVerifRelation,
                           const DossierClient& dossier, const SuiviDossiers& suivi) {
  ResultatDossier r;
  r.dossier = dossier;
  FenetreDossier fenetreDossier(fenetre, dossier.base, modele);
  Pilote pilote(fenetreDossier);
  pilote.FlagVerifRelation(flagVerifRelation);
  // A stop asked while this folder's inputs are checked is for this folder's run.
  pilote.GardeDemandeArret(true);
  std::string repli = "Procédure interrompue !";
  try {
    if (pilote.ControleSaisies()) {
      pilote.Etat().versionAvancee = fenetre.Coche(coche::TraitementExhaustif);
      pilote.LanceReorganisation();
    } else {
      repli = "base refusée";
    }
  } catch (...) {
    const ErreurEnCours erreur = LitErreur(std::current_exception());
    GestionErreur(fenetre.Legende() + " (BC)", erreur.numero, erreur.description);
    repli = "Erreur " + std::to_string(erreur.numero) + " : " + erreur.description;
  }
  pilote.LibereCible();
  if (pilote.Issue() == IssueRun::Terminee) {
    r.issue = IssueDossier::Terminee;
  } else {
    r.issue = IssueDossier::Interrompue;
    if (!fenetreDossier.DernierMessage().empty() && repli == "base refusée") repli = fenetreDossier.DernierMessage();
    r.raison = RaisonDepuisJournal(fenetreDossier.LignesJournal(), repli);
    r.disquePlein = pilote.Etat().disquePlein;
    // Declined to run without a journal: the next folders would ask the same.
    r.arrete = pilote.ArretPar().has_value() || pilote.Issue() == IssueRun::NonLancee;
  }
  ExigeLeModele(r, fenetreDossier.ModeleInexistant());
  if (suivi.fin) suivi.fin(r, &pilote, {});
  return r;
}

}  // namespace

std::vector<DossierClient> DossiersClients(const std::string& modele) {
  std::error_code erreur;
  const fs::path racine = fs::absolute(modele, erreur).parent_path();
  std::vector<DossierClient> dossiers;
  for (fs::directory_iterator it(racine, erreur), fin; !erreur && it != fin; it.increment(erreur)) {
    std::error_code e;
    const std::string nom = it->path().filename().string();
    if (nom.empty() || nom.front() == '.') continue;
    const bool estDossier = it->is_directory(e);
    // A link whose end cannot be reached (a loop, a missing or unreadable target) may be a
    // client's folder: it is listed, as an unreadable folder.
    std::error_code l;
    const bool lienInaccessible = e && it->is_symlink(l);
    if (!estDossier && !lienInaccessible) continue;
    DossierClient dossier;
    dossier.nom = nom;
    if (lienInaccessible) {
      dossier.raisonIgnore = "dossier illisible : " + TexteErreurSysteme(e.value());
      dossier.aVerifier = true;
    } else {
      TrouveBase(dossier, it->path(), modele);
    }
    dossiers.push_back(std::move(dossier));
  }
  std::sort(dossiers.begin(), dossiers.end(),
            [](const DossierClient& a, const DossierClient& b) { return AvantDansLOrdreDesNoms(a.nom, b.nom); });
  return dossiers;
}

std::string TexteIssue(const ResultatDossier& resultat) {
  switch (resultat.issue) {
    case IssueDossier::Terminee: return "terminée";
    case IssueDossier::Interrompue: return "interrompue : " + resultat.raison;
    case IssueDossier::Ignoree: break;
  }
  return "ignorée : " + resultat.raison;
}

std::string RaisonDepuisJournal(const std::vector<std::string>& lignes, const std::string& repli) {
  for (auto it = lignes.rbegin(); it != lignes.rend(); ++it) {
    std::string ligne = SansHorodatage(*it);
    if (!ligne.starts_with("#ERR# ")) continue;
    ligne.erase(0, 6);
    // The run's last line says it was interrupted: what matters is what follows.
    if (ligne.starts_with(DebutInterrompue) && ligne.size() > std::string(DebutInterrompue).size())
      ligne.erase(0, std::string(DebutInterrompue).size());
    return ligne;
  }
  return repli;
}

int CodeSortieTousDossiers(const std::vector<ResultatDossier>& resultats) {
  bool unTermine = false;
  for (const ResultatDossier& r : resultats) {
    if (r.issue == IssueDossier::Interrompue || r.dossier.aVerifier) return sortie_lot::Interrompue;
    unTermine = unTermine || r.issue == IssueDossier::Terminee;
  }
  return unTermine ? sortie_lot::Terminee : sortie_lot::Interrompue;
}

std::vector<ResultatDossier> ReorganiseDossiers(InterfaceFenetre& fenetre, Journal& journal, const std::string& modele,
                                                bool flagVerifRelation, const SuiviDossiers& suivi) {
  // A signal between two folders is noted rather than ending the program; each folder's run acts on it.
  EffaceDemandeArret();
  SurveillanceArret veille;
  veille.Suspend();

  const std::vector<DossierClient> dossiers = DossiersClients(modele);
  const int nombre = static_cast<int>(NombreAvecBase(dossiers));
  EcritCadreOuverture(journal, modele, dossiers);
  std::vector<ResultatDossier> resultats;
  int numero = 0;
  std::optional<bool> arretDisquePlein;  // set once the run stops: on a full disk or not
  for (const DossierClient& dossier : dossiers) {
    if (dossier.base.empty()) {
      resultats.push_back(Ignore(dossier, dossier.raisonIgnore));
      if (suivi.fin) suivi.fin(resultats.back(), nullptr, {});
      continue;
    }
    if (!arretDisquePlein && ArretDemande() != RaisonArret::Aucune) arretDisquePlein = false;
    if (arretDisquePlein) {
      resultats.push_back(Ignore(dossier, RaisonNonAtteint(*arretDisquePlein)));
      if (suivi.fin) suivi.fin(resultats.back(), nullptr, {});
      continue;
    }
    ++numero;
    fenetre.AvancementDossiers(numero, nombre, "Dossier " + std::to_string(numero) + " sur " + std::to_string(nombre) + " : " + dossier.nom);
    if (suivi.debut) suivi.debut(numero, nombre, dossier);
    // The last folder's outcome is no longer this one's.
    fenetre.Legendes("Préparation ...", "");
    resultats.push_back(RunDossier(fenetre, modele, flagVerifRelation, dossier, suivi));
    if (resultats.back().disquePlein || resultats.back().arrete) arretDisquePlein = resultats.back().disquePlein;
  }
  EcritCadreFermeture(journal, resultats);
  TermineSurLaFenetre(fenetre, journal, resultats, nombre);
  return resultats;
}

// ---------------------------------------------------------------------------------------------
// Several folders at once, each in its own process.

namespace {

struct Enfant {
  std::size_t indice = 0;  // in the list of folders
  pid_t pid = -1;
  std::string dossier;     // its private folder, its current directory
  std::optional<int> statut;
};

std::string CreeDossierEnfant() {
  std::string modele = DossierTemporaire() + "/utireorg-lot-XXXXXX";
  if (!::mkdtemp(modele.data())) return {};
  return modele;
}

// The parent's pid and its journal's absolute path, in a child's environment.
constexpr const char* VariableProcessusParent = "UTIREORG_PROCESSUS_PARENT";
constexpr const char* VariableJournalParent = "UTIREORG_JOURNAL_PARENT";

// This process's environment, with the variables that name it as the parent of a child.
std::vector<std::string> EnvironnementEnfant(const std::string& journal) {
  std::vector<std::string> variables;
  for (char** e = environ; *e; ++e) {
    const std::string_view v = *e;
    if (!v.starts_with(std::string(VariableProcessusParent) + "=") &&
        !v.starts_with(std::string(VariableJournalParent) + "="))
      variables.emplace_back(v);
  }
  variables.push_back(std::string(VariableProcessusParent) + "=" + std::to_string(::getpid()));
  std::error_code erreur;
  const fs::path absolu = fs::absolute(journal.empty() ? std::string("Analyse.txt") : journal, erreur);
  variables.push_back(std::string(VariableJournalParent) + "=" + (erreur ? journal : absolu.string()));
  return variables;
}

pid_t LanceEnfant(const std::vector<std::string>& mots, const std::string& dossier, const std::string& journal) {
  std::vector<std::string> copie = mots;
  std::vector<char*> argv;
  for (auto& m : copie) argv.push_back(m.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = EnvironnementEnfant(journal);
  std::vector<char*> envp;
  for (auto& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string sortie = dossier + "/sortie.txt";
  posix_spawn_file_actions_addopen(&actions, 1, sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addchdir_np(&actions, dossier.c_str());
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string LitFichier(const std::string& chemin) {
  std::ifstream entree(chemin, std::ios::binary);
  std::ostringstream tout;
  tout << entree.rdbuf();
  return tout.str();
}

struct JournalEnfant {
  std::vector<std::string> lignes;
  bool ajoute = true;  // false: the journal refused them, they are only in the child's folder
};

// The child's journal, appended line by line: the lines keep their own time stamps, and the
// journal's size limit holds for them as for any line.
JournalEnfant AjouteJournalEnfant(Journal& journal, const std::string& dossier) {
  JournalEnfant enfant;
  enfant.lignes = Lignes(DepuisAnsi(LitFichier(dossier + "/Analyse.txt")));
  if (!enfant.lignes.empty()) {
    enfant.ajoute = journal.OuvertureJournal();
    for (std::size_t i = 0; enfant.ajoute && i < enfant.lignes.size(); ++i) {
      journal.EcritureJournal(enfant.lignes[i]);
      enfant.ajoute = journal.ErreurEcriture() == 0;
    }
    journal.FermetureJournal();
  }
  // The child's unexpected errors belong to the same error journal as this run's.
  const std::string erreurs = LitFichier(dossier + "/" + std::string(NomJournalErreur));
  if (!erreurs.empty()) {
    int fd = ::open(std::string(NomJournalErreur).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      EcritToutDescripteur(fd, erreurs.data(), erreurs.size());
      ::close(fd);
    }
  }
  return enfant;
}

// A child whose journal this run could not take: whatever its own outcome, what it corrected and
// deleted is written only in its folder, which is kept and named, and nothing more is started.
void JournalNonAjoute(ResultatDossier& r, const std::string& dossierEnfant) {
  r.issue = IssueDossier::Interrompue;
  r.raison = "le journal d'analyse ne peut plus être écrit ; les lignes de ce dossier sont gardées dans " +
             dossierEnfant + "/Analyse.txt";
  r.disquePlein = true;
}

ResultatDossier ResultatEnfant(const DossierClient& dossier, int statut, const std::vector<std::string>& lignes) {
  ResultatDossier r;
  r.dossier = dossier;
  if (WIFEXITED(statut) && WEXITSTATUS(statut) == sortie_lot::Terminee) {
    r.issue = IssueDossier::Terminee;
    return r;
  }
  r.issue = IssueDossier::Interrompue;
  const std::string repli =
      WIFSIGNALED(statut)
          ? "le processus de réorganisation s'est arrêté (signal " + std::to_string(WTERMSIG(statut)) + ")"
      : WIFEXITED(statut) && WEXITSTATUS(statut) == sortie_lot::SaisiesRefusees ? "base refusée"
                                                                                : "Procédure interrompue !";
  // Killed outright, its journal's last error may be one it had already got over.
  r.raison = WIFSIGNALED(statut) ? repli : RaisonDepuisJournal(lignes, repli);
  for (const std::string& ligne : lignes) r.disquePlein = r.disquePlein || SansHorodatage(ligne) == LigneDisquePleinFin;
  r.arrete = ArretDemande() != RaisonArret::Aucune;
  return r;
}

}  // namespace

std::vector<ResultatDossier> ReorganiseDossiersEnParallele(InterfaceFenetre& fenetre, Journal& journal,
                                                           const std::string& modele, int parallele,
                                                           const CommandeDossier& commande,
                                                           const SuiviDossiers& suivi) {
  EffaceDemandeArret();
  SurveillanceArret veille;
  veille.Suspend();

  const std::vector<DossierClient> dossiers = DossiersClients(modele);
  const int nombre = static_cast<int>(NombreAvecBase(dossiers));
  EcritCadreOuverture(journal, modele, dossiers);

  std::vector<std::optional<ResultatDossier>> resultats(dossiers.size());
  std::vector<Enfant> enCours, finis;
  std::size_t prochain = 0, aRendre = 0;
  int numero = 0;
  bool disquePlein = false, arretTransmis = false;

  // Folders are handed back (journal, report) in their order, each once those before it are.
  auto rends = [&] {
    for (; aRendre < dossiers.size(); ++aRendre) {
      std::string dossierEnfant;
      auto fini = std::find_if(finis.begin(), finis.end(), [&](const Enfant& e) { return e.indice == aRendre; });
      bool garde = false;
      if (fini != finis.end()) {
        const JournalEnfant enfant = AjouteJournalEnfant(journal, fini->dossier);
        resultats[aRendre] = ResultatEnfant(dossiers[aRendre], *fini->statut, enfant.lignes);
        // A silent child's messages are in its report only.
        ExigeLeModele(*resultats[aRendre],
                      LitFichier(fini->dossier + "/rapport.json").find(MessageModeleInexistant) != std::string::npos);
        if (!enfant.ajoute) {
          JournalNonAjoute(*resultats[aRendre], fini->dossier);
          disquePlein = garde = true;
        }
        dossierEnfant = fini->dossier;
        finis.erase(fini);
      } else if (dossiers[aRendre].base.empty()) {
        resultats[aRendre] = Ignore(dossiers[aRendre], dossiers[aRendre].raisonIgnore);
      } else if (!resultats[aRendre]) {
        return;  // still running, or not started yet
      }
      if (suivi.fin) suivi.fin(*resultats[aRendre], nullptr, dossierEnfant);
      if (!dossierEnfant.empty() && !garde) {
        std::error_code ignore;
        fs::remove_all(dossierEnfant, ignore);
      }
    }
  };

  for (;;) {
    // A child that ended is handed back before another starts: a journal that refused its lines
    // stops the run as a full disk does.
    rends();
    const bool arret = ArretDemande() != RaisonArret::Aucune;
    if (arret && !arretTransmis) {
      // The same signal as this run's, so that each folder says what the user did.
      const int signal = ArretDemande() == RaisonArret::Signal && SignalArret() > 0 ? SignalArret() : SIGTERM;
      for (const Enfant& e : enCours) ::kill(e.pid, signal);
      arretTransmis = true;
    }
    while (!arret && !disquePlein && static_cast<int>(enCours.size()) < parallele && prochain < dossiers.size()) {
      const std::size_t indice = prochain++;
      if (dossiers[indice].base.empty()) continue;
      Enfant enfant;
      enfant.indice = indice;
      enfant.dossier = CreeDossierEnfant();
      ++numero;
      fenetre.AvancementDossiers(numero, nombre, "Dossier " + std::to_string(numero) + " sur " + std::to_string(nombre) + " : " + dossiers[indice].nom);
      if (suivi.debut) suivi.debut(numero, nombre, dossiers[indice]);
      enfant.pid = enfant.dossier.empty() ? -1
                                          : LanceEnfant(commande(dossiers[indice], enfant.dossier), enfant.dossier,
                                                        journal.CheminJournal());
      if (enfant.pid < 0) {
        // Not started: said as an interruption of this folder, in its place.
        resultats[indice] = Ignore(dossiers[indice], "");
        resultats[indice]->issue = IssueDossier::Interrompue;
        resultats[indice]->raison = "le processus de réorganisation n'a pas pu être lancé";
        if (!enfant.dossier.empty()) {
          std::error_code ignore;
          fs::remove_all(enfant.dossier, ignore);
        }
        continue;
      }
      enCours.push_back(enfant);
    }
    if (enCours.empty()) break;
    bool unFini = false;
    for (auto it = enCours.begin(); it != enCours.end();) {
      int statut = 0;
      if (::waitpid(it->pid, &statut, WNOHANG) == it->pid) {
        it->statut = statut;
        disquePlein = disquePlein || LitFichier(it->dossier + "/Analyse.txt").find(VersAnsi(LigneDisquePleinFin)) != std::string::npos;
        finis.push_back(*it);
        it = enCours.erase(it);
        unFini = true;
      } else {
        ++it;
      }
    }
    if (!unFini) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Folders never started: after a stop or a full disk.
  for (std::size_t i = aRendre; i < dossiers.size(); ++i)
    if (!resultats[i] && !dossiers[i].base.empty()) resultats[i] = Ignore(dossiers[i], RaisonNonAtteint(disquePlein));
  rends();
  std::vector<ResultatDossier> liste;
  for (const auto& r : resultats) liste.push_back(*r);
  EcritCadreFermeture(journal, liste);
  TermineSurLaFenetre(fenetre, journal, liste, nombre);
  return liste;
}

// ---------------------------------------------------------------------------------------------
// A child whose parent is gone.

namespace {

// The parent's pid, when this process is a child of a run over several folders.
std::optional<pid_t> ProcessusParent() {
  const char* valeur = std::getenv(VariableProcessusParent);
  if (!valeur || !*valeur) return std::nullopt;
  char* fin = nullptr;
  const long pid = std::strtol(valeur, &fin, 10);
  if (*fin != '\0' || pid <= 1) return std::nullopt;
  return static_cast<pid_t>(pid);
}

bool ParentDisparu() {
  const std::optional<pid_t> parent = ProcessusParent();
  return parent && ::getppid() != *parent;
}

}  // namespace

void SuitProcessusParent() {
  if (!ProcessusParent()) return;
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  // Gone before the request above was made: it will never come.
  if (ParentDisparu()) ::raise(SIGTERM);
}

void RendJournalSiParentDisparu(const std::string& base) {
  const char* journal = std::getenv(VariableJournalParent);
  if (!ParentDisparu() || !journal || !*journal) return;
  const std::string lignes = LitFichier("Analyse.txt");
  if (lignes.empty()) return;
  const std::string dossier = fs::path(base).parent_path().filename().string();
  const std::string texte =
      VersAnsi("#ALERT# La réorganisation de tous les dossiers s'est arrêtée pendant le dossier « " + dossier +
               " » : son journal suit.\r\n") +
      lignes;
  // Other children may be doing the same: one write each, one at a time.
  const int fd = ::open(journal, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ::flock(fd, LOCK_EX);
  bool ecrit = EcritToutDescripteur(fd, texte.data(), texte.size());
  ::close(fd);
  // Its unexpected errors, beside the journal as the parent would have put them.
  const std::string erreurs = LitFichier(std::string(NomJournalErreur));
  if (!erreurs.empty()) {
    const std::string chemin = (fs::path(journal).parent_path() / std::string(NomJournalErreur)).string();
    const int fdErreurs = ::open(chemin.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ecrit = ecrit && fdErreurs >= 0 && ::flock(fdErreurs, LOCK_EX) == 0 &&
            EcritToutDescripteur(fdErreurs, erreurs.data(), erreurs.size());
    if (fdErreurs >= 0) ::close(fdErreurs);
  }
  std::error_code erreur;
  const fs::path ici = fs::current_path(erreur);
  if (ecrit && !erreur && ici.filename().string().starts_with("utireorg-lot-")) fs::remove_all(ici, erreur);
}

}  // namespace utireorg

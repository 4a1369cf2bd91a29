// utireorg-lot: a reorganisation without a display, for servers and scheduled jobs. The same
// driver as the window's, fed with the options of the command line.
//
// Exit codes: 0 "Procédure terminée.", 1 "Procédure interrompue !" (or a run that could not go
// on), 2 when the input check refuses the databases (its message is on the error output).
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "app/Pilote.h"
#include "common/Arret.h"
#include "common/FenetreSansEcran.h"
#include "common/Fichiers.h"
#include "common/LigneDeCommande.h"
#include "moteur/Injection.h"
#include "records/CopieEnregistrements.h"
#include "RapportLot.h"
#include "Syntaxe.h"
#include "texte/Texte.h"

namespace {

using namespace utireorg;

constexpr int SortieTerminee = sortie_lot::Terminee;
constexpr int SortieInterrompue = sortie_lot::Interrompue;
constexpr int SortieSaisies = sortie_lot::SaisiesRefusees;
constexpr int SortieRapportNonEcrit = sortie_lot::RapportNonEcrit;

// Variable of the environment that makes the disk "fill up" after that many bytes written by the
// run: the reliability tests use it to stop a run at a chosen moment.
constexpr const char* VariableLimiteEcriture = "UTIREORG_LIMITE_ECRITURE";

// Reads the simulated disk size, once, before the run writes anything. False when the variable
// holds anything but a whole number of bytes.
bool AppliqueLimiteEcriture() {
  const char* texte = std::getenv(VariableLimiteEcriture);
  if (texte == nullptr || *texte == '\0') return true;
  char* fin = nullptr;
  errno = 0;
  long long octets = std::strtoll(texte, &fin, 10);
  if (errno != 0 || *fin != '\0' || octets < 0) return false;
  moteur::injection::LimiteEcriture(octets);
  return true;
}

// What the run shows while it goes.
enum class Affichage {
  Barre,       // the output is a terminal: the journal lines, and one line of progress rewritten in place
  Lignes,      // the output is a file or a pipe: the journal lines only
  Silencieux,  // nothing but the final line
};

// "1:05", "1:02:03".
std::string Duree(std::chrono::steady_clock::duration duree) {
  long secondes = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(duree).count());
  char texte[32];
  if (secondes >= 3600)
    std::snprintf(texte, sizeof texte, "%ld:%02ld:%02ld", secondes / 3600, secondes / 60 % 60, secondes % 60);
  else
    std::snprintf(texte, sizeof texte, "%ld:%02ld", secondes / 60, secondes % 60);
  return texte;
}

std::ostream& SortieNulle() {
  static std::ostream nulle(nullptr);
  return nulle;
}

// The window of the run: the journal lines go to the standard output as they are written, the
// messages and, on a terminal, a progress line to the error output. Every journal line also
// reaches the report's follower.
class FenetreLot : public FenetreSansEcran {
 public:
  FenetreLot(Affichage affichage, bool premierBouton, rapport::SuiviJournal& suivi)
      : FenetreSansEcran(affichage == Affichage::Silencieux ? SortieNulle() : std::cerr),
        affichage_(affichage),
        oui_(premierBouton),
        suivi_(&suivi) {}

  // The follower of the journal lines from now on: each folder of an all-folders run has its own.
  void Suivi(rapport::SuiviJournal& suivi) { suivi_ = &suivi; }
  void AvancementDossiers(int numero, int nombre, const std::string&) override { Dossier(numero, nombre); }

  using FenetreSansEcran::ProgressMaximum;
  using FenetreSansEcran::ProgressValeur;

  void Reponses(std::vector<int> reponses) { reponses_.assign(reponses.begin(), reponses.end()); }

  // The all-folders run shows "dossier k/n" on the progress line; 0 folders hides it.
  void Dossier(int numero, int nombre) {
    dossier_ = numero;
    dossiers_ = nombre;
    DessineBarre();
  }

  void AjouteAuJournal(const std::string& texte) override {
    FenetreSansEcran::AjouteAuJournal(texte);
    suivi_->Ecrit(texte);
    if (affichage_ == Affichage::Silencieux) return;
    EffaceBarre();
    std::string ligne;
    for (char c : texte)
      if (c != '\r') ligne += c;
    std::cout << ligne << std::flush;
    VerifieSortie(std::cout);
    DessineBarre();
  }

  void Legendes(const std::string& etape, const std::string& detail) override {
    FenetreSansEcran::Legendes(etape, detail);
    // A new stage shows an empty bar until it counts: the bar of the stage before may stay full
    // while the new one prepares, which may be long.
    if (etape != etape_) etapeSansAvancement_ = true;
    etape_ = etape;
    detail_ = detail;
    // The outcome ("Procédure terminée.", "Procédure interrompue !") is no stage: the final line
    // says it once the bar is gone. The next folder's first caption brings the bar back.
    termine_ = etape.starts_with("Procédure ");
    if (termine_) EffaceBarre();
    DessineBarre();
  }
  void ProgressMaximum(long maximum) override {
    FenetreSansEcran::ProgressMaximum(maximum);
    etapeSansAvancement_ = false;
    DessineBarre();
  }
  void ProgressValeur(long valeur) override {
    FenetreSansEcran::ProgressValeur(valeur);
    etapeSansAvancement_ = false;
    DessineBarre();
  }

  std::optional<int> PresenteMessage(const MessageAnalyse& message) override {
    EffaceBarre();
    if (!reponses_.empty()) {
      RepondAvec({reponses_.front()});
      reponses_.pop_front();
    } else if (oui_) {
      RepondAvec({1});
    }
    auto reponse = FenetreSansEcran::PresenteMessage(message);
    VerifieSortie(std::cerr);
    DessineBarre();
    return reponse;
  }

  // A run that reached its end leaves its last caption ("Procédure terminée.", "Procédure
  // interrompue !"…) in view on screen; here it is written once the bar is gone. Silent, a run
  // that did not reach its end says why in the first line of its last message.
  void Termine(bool finDeRun) {
    EffaceBarre();
    if (finDeRun && !etape_.empty()) {
      std::cerr << etape_ << '\n';
    } else if (affichage_ == Affichage::Silencieux && !Messages().empty()) {
      const std::string& texte = Messages().back().texte;
      std::cerr << texte.substr(0, texte.find('\n')) << '\n';
    }
  }

 protected:
  // Between two captions the elapsed time still moves on.
  void TraiteEvenements() override {
    if (affichage_ != Affichage::Barre || !affichee_) return;
    if (std::chrono::steady_clock::now() - dessinee_ >= std::chrono::seconds(1)) DessineBarre();
  }

 private:
  // A run whose output nobody reads any more (a pipe whose reader has gone: "| head") stops at
  // its next safe point instead of going on unseen or being killed in the middle of a stage.
  static void VerifieSortie(std::ostream& flux) {
    if (flux) return;
    flux.clear();
    DemandeArret(RaisonArret::SortieFermee);
  }

  static std::size_t Largeur() {
    winsize taille{};
    // However narrow: a line longer than the terminal wraps, and only its last row is rewritten.
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &taille) == 0 && taille.ws_col > 1) return taille.ws_col;
    return 80;
  }

  void EffaceBarre() {
    if (affichage_ != Affichage::Barre || !affichee_) return;
    std::cerr << "\r\033[K" << std::flush;
    affichee_ = false;
  }

  // "[#####---------------]  25 %  0:42  dossier 2/5  Compactage base de données principale : Clients"
  void DessineBarre() {
    if (affichage_ != Affichage::Barre || etape_.empty() || termine_) return;
    long maximum = ProgressMaximum(), valeur = ProgressValeur();
    long pourcent = maximum > 0 && !etapeSansAvancement_ ? std::clamp(valeur * 100 / maximum, 0L, 100L) : 0;
    constexpr int Cases = 20;
    int pleines = static_cast<int>(pourcent * Cases / 100);
    char pourcentage[8];
    std::snprintf(pourcentage, sizeof pourcentage, "%3ld %%", pourcent);
    std::string ligne = "[" + std::string(pleines, '#') + std::string(Cases - pleines, '-') + "] " + pourcentage +
                        "  " + Duree(std::chrono::steady_clock::now() - debut_) + "  ";
    if (dossiers_ > 0) ligne += "dossier " + std::to_string(dossier_) + "/" + std::to_string(dossiers_) + "  ";
    ligne += etape_;
    if (!detail_.empty()) ligne += " : " + detail_;
    std::size_t largeur = Largeur() - 1;
    if (texte::NombreCaracteres(ligne) > largeur) ligne = texte::PremiersCaracteres(ligne, largeur);
    std::cerr << "\r\033[K" << ligne << std::flush;
    affichee_ = true;
    dessinee_ = std::chrono::steady_clock::now();
  }

  Affichage affichage_;
  bool oui_;
  rapport::SuiviJournal* suivi_;
  bool affichee_ = false;
  bool termine_ = false;
  bool etapeSansAvancement_ = false;
  std::string etape_, detail_;
  std::deque<int> reponses_;
  int dossier_ = 0, dossiers_ = 0;
  const std::chrono::steady_clock::time_point debut_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point dessinee_{};
};

// The report's path, looked for in the raw command line when the parser refused it: a script
// that asked for a report gets one even then. An option that follows "--rapport" is no path.
std::string RapportDemande(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--rapport" && i + 1 < argc && argv[i + 1][0] != '-') return argv[i + 1];
    if (argument.starts_with("--rapport=")) return argument.substr(10);
  }
  return {};
}

void DitRapportRefuse(const std::string& chemin, const std::string& raison) {
  std::cerr << "Le rapport « " << chemin << " » n'a pas pu être écrit : " << raison << ".\n";
}

// False when the report was asked for and could not be written: the user was told why.
bool EcritRapport(const std::string& chemin, const rapport::Json& contenu) {
  if (chemin.empty()) return true;
  std::string erreur;
  if (rapport::EcritRapport(chemin, contenu, erreur)) return true;
  DitRapportRefuse(chemin, erreur);
  return false;
}

// A refused command line may have misplaced any path: a file that is no report stays as it is.
void EcritRapportDeRefus(const std::string& chemin, const rapport::Json& contenu) {
  if (std::string raison = rapport::RaisonRefusRapport(chemin); !chemin.empty() && !raison.empty())
    DitRapportRefuse(chemin, raison);
  else
    EcritRapport(chemin, contenu);
}

// A path typed relative to the current folder, made absolute: the structure check looks for the
// model one folder above the target, which a name like "Dossier1/Compta.mdb" does not show.
std::string Absolu(const std::string& chemin) {
  if (chemin.find_first_not_of(" \t") == std::string::npos) return chemin;
  std::error_code erreur;
  std::filesystem::path absolu = std::filesystem::absolute(chemin, erreur);
  return erreur ? chemin : absolu.lexically_normal().string();
}

const char* IssueDossier(IssueLancer issue) {
  switch (issue) {
    case IssueLancer::SaisiesRefusees: return "refusee";
    case IssueLancer::Terminee: return "terminee";
    case IssueLancer::Interrompue: return "interrompue";
    case IssueLancer::Annulee: return "annulee";
    default: return "abandonnee";
  }
}

// One folder's run, from the input check to its last caption: its entry in the report, and the
// exit code it calls for.
rapport::Json RunDossier(FenetreLot& fenetre, rapport::SuiviJournal& suivi, const std::string& cible,
                         bool sansRelations, Affichage affichage, int& sortie) {
  rapport::Dossier dossier;
  dossier.cible = cible;
  dossier.debut = std::chrono::system_clock::now();
  Pilote pilote(fenetre);
  pilote.Reorganisation(false, false, !sansRelations);
  const IssueLancer issue = pilote.Lancer();
  switch (issue) {
    case IssueLancer::SaisiesRefusees: sortie = SortieSaisies; break;
    case IssueLancer::Terminee: sortie = SortieTerminee; break;
    default: sortie = SortieInterrompue; break;
  }
  dossier.fin = std::chrono::system_clock::now();
  dossier.issue = IssueDossier(issue);
  // The window's message names no file: here nobody sees which field it points at.
  if (issue == IssueLancer::SaisiesRefusees) {
    dossier.refus = rapport::RefusSansJournal(cible, fenetre.Saisie(saisie::Modele), fenetre.Case(cases::Copie));
    if (dossier.refus)
      std::cerr << dossier.refus->base << " refusée : "
                << (dossier.refus->chemin.empty() ? std::string() : "« " + dossier.refus->chemin + " » : ")
                << dossier.refus->raison << ".\n";
  }
  suivi.Termine(issue != IssueLancer::Terminee);
  fenetre.Termine(issue == IssueLancer::Terminee || issue == IssueLancer::Interrompue);
  // Said here too: when the output was closed, the journal lines never reached anyone.
  if (auto arret = pilote.ArretPar()) std::cerr << TexteRaisonArret(arret->raison, arret->signal) << '\n';
  if (!pilote.JournalAnalyse().CheminJournal().empty()) {
    std::error_code erreur;
    auto chemin = std::filesystem::absolute(pilote.JournalAnalyse().CheminJournal(), erreur);
    dossier.journal = erreur ? pilote.JournalAnalyse().CheminJournal() : chemin.string();
    const bool nonEcrit = static_cast<bool>(pilote.JournalAnalyse().ErreurOuverture());
    if (nonEcrit || affichage != Affichage::Silencieux)
      std::cerr << (nonEcrit ? "Journal d'analyse non écrit : " : "Journal d'analyse : ") << dossier.journal << '\n';
  }
  for (const MessageAnalyse& message : fenetre.Messages()) dossier.messages.push_back(message.texte);
  return rapport::EntreeDossier(dossier, suivi, pilote.Etat().compteurs);
}

// The options of the run, as a child process of an all-folders run receives them.
struct OptionsRun {
  std::set<int> coches;
  bool copie = false, ligneALigne = false, avance = false, sansRelations = false, oui = false;
  std::vector<int> reponses;
};

std::string CeProgramme() {
  std::error_code erreur;
  auto chemin = std::filesystem::read_symlink("/proc/self/exe", erreur);
  return erreur ? std::string("utireorg-lot") : chemin.string();
}

std::vector<std::string> CommandeEnfant(const OptionsRun& o, const std::string& modele, const DossierClient& dossier,
                                        const std::string& dossierEnfant) {
  std::vector<std::string> mots{CeProgramme(), "--cible", dossier.base, "--modele", modele};
  std::string coches;
  for (int i : o.coches) coches += (coches.empty() ? "" : ",") + std::to_string(i);
  mots.insert(mots.end(), {"--options", coches});
  const std::pair<bool, const char*> drapeaux[] = {{o.copie, "--copie"},   {o.ligneALigne, "--ligne-a-ligne"},
                                                   {o.avance, "--avance"}, {o.sansRelations, "--sans-relations"},
                                                   {o.oui, "--oui"}};
  for (const auto& [actif, mot] : drapeaux)
    if (actif) mots.push_back(mot);
  if (!o.reponses.empty()) {
    std::string reponses;
    for (int r : o.reponses) reponses += (reponses.empty() ? "" : ",") + std::to_string(r);
    mots.insert(mots.end(), {"--repondre", reponses});
  }
  mots.insert(mots.end(), {"--silencieux", "--rapport", dossierEnfant + "/rapport.json"});
  return mots;
}

const char* IssueDansLeRapport(utireorg::IssueDossier issue) {
  switch (issue) {
    case utireorg::IssueDossier::Terminee: return "terminee";
    case utireorg::IssueDossier::Interrompue: return "interrompue";
    case utireorg::IssueDossier::Ignoree: break;
  }
  return "ignoree";
}

// The report's entries of an all-folders run, one per folder, built as each folder ends.
class RapportDossiers {
 public:
  // "reponses": the answers each folder's questions get, as a run of that folder alone would.
  RapportDossiers(FenetreLot& fenetre, rapport::SuiviJournal& suiviGeneral, const Journal& journal,
                  std::vector<int> reponses)
      : fenetre_(fenetre), suiviGeneral_(suiviGeneral), journal_(journal), reponses_(std::move(reponses)) {}

  // Absolute path of "Analyse.txt", known once the run has opened it.
  std::string CheminJournal() const {
    if (journal_.CheminJournal().empty()) return {};
    std::error_code erreur;
    auto chemin = std::filesystem::absolute(journal_.CheminJournal(), erreur);
    return erreur ? journal_.CheminJournal() : chemin.string();
  }

  SuiviDossiers Suivi() {
    SuiviDossiers suivi;
    suivi.debut = [this](int, int, const DossierClient&) {
      suiviDossier_ = std::make_unique<rapport::SuiviJournal>();
      fenetre_.Suivi(*suiviDossier_);
      debut_ = std::chrono::system_clock::now();
      messages_ = fenetre_.Messages().size();
      fenetre_.Reponses(reponses_);
    };
    suivi.fin = [this](const ResultatDossier& r, Pilote* pilote, const std::string& dossierEnfant) {
      fenetre_.Suivi(suiviGeneral_);
      rapport::Json entree = dossierEnfant.empty() ? EntreeIci(r, pilote) : EntreeEnfant(r, dossierEnfant);
      entree["dossier"] = r.dossier.nom;
      if (!r.raison.empty()) entree["raison"] = r.raison;
      entrees_.push_back(std::move(entree));
    };
    return suivi;
  }

  rapport::Json Entrees() const { return entrees_; }

 private:
  rapport::Json EntreeIci(const ResultatDossier& r, Pilote* pilote) {
    rapport::Dossier dossier;
    dossier.cible = r.dossier.base.empty() ? r.dossier.nom : r.dossier.base;
    dossier.issue = IssueDansLeRapport(r.issue);
    dossier.debut = pilote ? debut_ : std::chrono::system_clock::now();
    dossier.fin = std::chrono::system_clock::now();
    if (pilote) {
      dossier.journal = CheminJournal();
      for (std::size_t i = messages_; i < fenetre_.Messages().size(); ++i)
        dossier.messages.push_back(fenetre_.Messages()[i].texte);
    }
    const rapport::SuiviJournal vide;
    const CompteursRun aucun;
    return rapport::EntreeDossier(dossier, pilote && suiviDossier_ ? *suiviDossier_ : vide,
                                  pilote ? pilote->Etat().compteurs : aucun);
  }

  // A child's own report holds its folder's entry; the journal is now this run's.
  rapport::Json EntreeEnfant(const ResultatDossier& r, const std::string& dossierEnfant) {
    rapport::Json entree;
    try {
      std::ifstream fichier(dossierEnfant + "/rapport.json");
      entree = rapport::Json::parse(fichier).at("dossiers").at(0);
    } catch (...) {
      entree = EntreeIci(r, nullptr);
    }
    entree["issue"] = IssueDansLeRapport(r.issue);
    entree["journal"] = CheminJournal().empty() ? rapport::Json(nullptr) : rapport::Json(CheminJournal());
    return entree;
  }

  FenetreLot& fenetre_;
  rapport::SuiviJournal& suiviGeneral_;
  const Journal& journal_;
  std::vector<int> reponses_;
  std::unique_ptr<rapport::SuiviJournal> suiviDossier_;
  rapport::Instant debut_{};
  std::size_t messages_ = 0;
  rapport::Json entrees_ = rapport::Json::array();
};

// Whether the journal's file can be opened for appending, without touching the journal's state.
bool JournalEcrivable(const Journal& journal) {
  const std::string chemin = journal.CheminJournal().empty() ? "Analyse.txt" : journal.CheminJournal();
  const int fd = ::open(chemin.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Whether a child could work in the temporary folder: a private folder made there and a file
// written in it. A child that cannot would not even keep its journal.
bool DossierTemporaireUtilisable() {
  std::string dossier = DossierTemporaire() + "/utireorg-lot-XXXXXX";
  if (!::mkdtemp(dossier.data())) return false;
  const std::string essai = dossier + "/essai";
  const int fd = ::open(essai.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  const std::string octets(64 * 1024, '\0');
  const bool ecrit = fd >= 0 && EcritToutDescripteur(fd, octets.data(), octets.size());
  if (fd >= 0) ::close(fd);
  std::error_code ignore;
  std::filesystem::remove_all(dossier, ignore);
  return ecrit;
}

// Every folder beside the model: the model is checked first (exit 2 when refused), then the
// folders run one after the other, or "parallele" at a time in child processes.
int RunTousLesDossiers(FenetreLot& fenetre, rapport::SuiviJournal& suivi, const OptionsRun& options,
                       const std::string& modele, int parallele, Affichage affichage, rapport::Json& dossiers) {
  Pilote pilote(fenetre);
  pilote.Reorganisation(false, false, !options.sansRelations);
  pilote.ReorganisationComplete();
  if (!pilote.ControleSaisies()) {
    // As for a single run: the window's message names no file.
    if (auto refus = rapport::RefusSansJournal(modele, {}, false))
      std::cerr << "Base modèle refusée : « " << modele << " » : " << refus->raison << ".\n";
    fenetre.Termine(false);
    return SortieSaisies;
  }
  Journal& journal = pilote.JournalAnalyse();
  RapportDossiers rapportDossiers(fenetre, suivi, journal, options.reponses);
  // Children write their journals where only this run reads them back: without a journal of its
  // own to put them in, they would correct and delete with no trace left. One after the other,
  // each folder's run sees the journal it cannot write and refuses to; so too for a temporary
  // folder the children could not keep their journals in.
  std::vector<ResultatDossier> resultats =
      parallele > 1 && JournalEcrivable(journal) && DossierTemporaireUtilisable()
          ? ReorganiseDossiersEnParallele(
                fenetre, journal, modele, parallele,
                [&](const DossierClient& d, const std::string& dossierEnfant) {
                  return CommandeEnfant(options, modele, d, dossierEnfant);
                },
                rapportDossiers.Suivi())
          : ReorganiseDossiers(fenetre, journal, modele, !options.sansRelations, rapportDossiers.Suivi());
  const std::string cheminJournal = rapportDossiers.CheminJournal();
  journal.FermetureJournal();
  dossiers = rapportDossiers.Entrees();
  fenetre.Termine(true);
  if (resultats.empty() || std::none_of(resultats.begin(), resultats.end(), [](const ResultatDossier& r) { return !r.dossier.base.empty(); }))
    std::cerr << "Aucun dossier à côté de la base modèle ne contient de base « " << std::filesystem::path(modele).filename().string() << " ».\n";
  std::cerr << TotauxDossiers(resultats) << '\n';
  if (affichage != Affichage::Silencieux && !cheminJournal.empty())
    std::cerr << "Journal d'analyse : " << cheminJournal << '\n';
  return CodeSortieTousDossiers(resultats);
}

}  // namespace

int main(int argc, char** argv) {
  const rapport::Instant debut = std::chrono::system_clock::now();
  CLI::App app{"Réorganise une base de données sans écran : réparation, compactage, copie des enregistrements,\n"
               "mise à niveau de la structure sur la base modèle. Le journal « Analyse.txt » est écrit dans le\n"
               "dossier courant et ses lignes sont recopiées sur la sortie standard.",
               "utireorg-lot"};
  app.set_help_flag("-h,--help", "Affiche cette aide et quitte");
  app.set_version_flag("--version", UTIREORG_VERSION, "Affiche la version et quitte");
  app.option_defaults()->group("Options")->disable_flag_override();  // "--oui=2" is no answer
  syntaxe::TraduitAide(app, 34);

  std::string cible, modele, cheminRapport;
  std::vector<int> options, reponses;
  bool verifications = false, reparation = false, compactage = false, securise = false, controle = false,
       exhaustif = false, copie = false, ligneALigne = false, avance = false, sansRelations = false, oui = false,
       silencieux = false, tousLesDossiers = false;
  int parallele = 1;

  auto* optionCible = app.add_option("--cible", cible, "Base à analyser (FICHIER.mdb)")->type_name("FICHIER");
  auto* optionTous = app.add_flag("--tous-les-dossiers", tousLesDossiers,
                                  "Réorganise chaque sous-dossier du dossier de la base modèle qui contient\n"
                                  "une base du même nom qu'elle (au lieu de --cible)");
  optionTous->excludes(optionCible);
  app.add_option("--parallele", parallele, "Avec --tous-les-dossiers : nombre de dossiers traités en même\n"
                                           "temps, chacun par son propre processus (1 par défaut)")
      ->check(CLI::Range(1, 64))
      ->needs(optionTous)
      ->type_name("N");
  app.add_option("--modele", modele, "Base modèle, obligatoire avec --copie")->type_name("FICHIER");
  app.add_option("--options", options,
                 "Cases à cocher, par leurs numéros séparés par des virgules : 0 Vérifications\n"
                 "primaires, 1 Réparation / Compactage, 2 Compactage, 3 Mode sécurisé,\n"
                 "4 Contrôle étendu, 5 Traitement exhaustif")
      ->delimiter(',')
      ->check(CLI::Range(0, coche::Nombre - 1))
      ->option_text("0,1,...");
  app.add_flag("--verifications-primaires", verifications, "Coche « Vérifications primaires » (0)");
  app.add_flag("--reparation", reparation, "Coche « Réparation / Compactage » (1)");
  app.add_flag("--compactage", compactage, "Coche « Compactage » (2)");
  app.add_flag("--securise", securise, "Coche « Mode sécurisé » (3)");
  app.add_flag("--controle-etendu", controle, "Coche « Contrôle étendu » (4)");
  app.add_flag("--exhaustif", exhaustif, "Coche « Traitement exhaustif » (5)");
  app.add_flag("--copie", copie, "Copie des enregistrements dans « copie_reorg.mdb »");
  app.add_flag("--ligne-a-ligne", ligneALigne, "Copie des enregistrements ligne à ligne");
  app.add_flag("--avance", avance, "Réorganisation avancée (coche « Contrôle étendu »)");
  app.add_flag("--sans-relations", sansRelations, "Ne reconstruit pas les relations");
  app.add_flag("--oui", oui, "Répond aux questions par leur premier bouton");
  app.add_option("--repondre", reponses, "Réponses aux questions, dans l'ordre (numéro du bouton)")
      ->delimiter(',')
      ->check(syntaxe::NumeroDeBouton)
      ->option_text("1,2,...");
  app.add_flag("--silencieux", silencieux, "N'écrit que la ligne finale (ni journal ni avancement)");
  app.add_option("--rapport", cheminRapport, "Écrit à la fin un rapport JSON (format : rapport-lot.schema.json,\n"
                                                  "dans /usr/share/doc/utireorg)")
      ->type_name("FICHIER.json");
  app.footer(
      "Sans case indiquée, les cases de la fenêtre au démarrage sont cochées (0, 1, 2 et 3).\n"
      "Lancer la commande vaut confirmation : la question « Confirmez-vous la réorganisation du\n"
      "dossier ? » reçoit toujours « Confirmer ». Les questions suivantes reçoivent les réponses de\n"
      "--repondre, puis le premier bouton avec --oui, sinon le bouton par défaut de la question.\n"
      "Sur un terminal, une ligne d'avancement (étape, pourcentage, temps écoulé) se réécrit sur\n"
      "la sortie d'erreur ; --silencieux ne garde que la ligne finale.\n"
      "Ctrl-C, SIGTERM ou la fermeture de la sortie arrêtent la réorganisation au point sûr suivant :\n"
      "la base d'origine reste intacte en mode sécurisé et les copies de travail sont supprimées (code 1).\n"
      "Codes de sortie : 0 procédure terminée, 1 procédure interrompue, 2 bases refusées ou ligne de\n"
      "commande non valide, 3 procédure terminée mais rapport non écrit.\n"
      "Avec --tous-les-dossiers, les dossiers sont traités dans l'ordre de leurs noms ; un bilan\n"
      "final les liste (terminée, interrompue, ignorée). Code 0 quand chaque dossier qui a une base\n"
      "s'est terminé, 1 quand l'un a été interrompu ou écarté pour une faute, 2 quand la base modèle\n"
      "est refusée ou qu'aucun dossier n'a de base. Un disque plein ou Ctrl-C arrête l'ensemble après\n"
      "le dossier en cours.\n"
      "Essais : la variable d'environnement UTIREORG_LIMITE_ECRITURE=<octets> simule un disque plein\n"
      "une fois ce nombre d'octets écrits par la réorganisation (bases, copies).");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const std::string message = syntaxe::MessageSyntaxe(e, app, argc, argv);
    std::cerr << "Erreur de syntaxe : " << message << ".\n"
              << "Lancez « utireorg-lot --help » pour l'aide.\n";
    EcritRapportDeRefus(RapportDemande(argc, argv), rapport::Rapport(UTIREORG_VERSION, debut, std::chrono::system_clock::now(),
                                                               rapport::Json::object(), rapport::Json::array(),
                                                               SortieSaisies, "Erreur de syntaxe : " + message + "."));
    return SortieSaisies;
  }
  if (cible.empty() != tousLesDossiers || (tousLesDossiers && modele.empty())) {
    // Without --tous-les-dossiers, the same words as when --cible was the one required option.
    const std::string message = tousLesDossiers ? "l'option --modele est obligatoire avec --tous-les-dossiers"
                                                : "l'option --cible est obligatoire";
    std::cerr << "Erreur de syntaxe : " << message << ".\n"
              << "Lancez « utireorg-lot --help » pour l'aide.\n";
    EcritRapportDeRefus(cheminRapport, rapport::Rapport(UTIREORG_VERSION, debut, std::chrono::system_clock::now(),
                                                        rapport::Json::object(), rapport::Json::array(), SortieSaisies,
                                                        "Erreur de syntaxe : " + message + "."));
    return SortieSaisies;
  }
  if (!cheminRapport.empty()) {
    // The journal is opened in the current folder under this name.
    const std::vector<rapport::FichierProtege> proteges = {
        {Absolu(cible), "la base à analyser"},
        {Absolu(modele), "la base modèle"},
        {"Analyse.txt", "le journal d'analyse"},
        {copie ? (std::filesystem::path(Absolu(cible)).parent_path() / NomFichierCopie).string() : std::string(),
         "la copie des enregistrements"}};
    if (std::string raison = rapport::RaisonRefusRapport(cheminRapport, proteges); !raison.empty()) {
      std::cerr << "Erreur de syntaxe : le rapport « " << cheminRapport << " » ne peut pas être écrit : " << raison
                << ".\n";
      return SortieSaisies;
    }
  }

  if (!AppliqueLimiteEcriture()) {
    const std::string message = std::string("Erreur de syntaxe : ") + VariableLimiteEcriture + " doit être un nombre d'octets.";
    std::cerr << message << '\n';
    EcritRapport(cheminRapport, rapport::Rapport(UTIREORG_VERSION, debut, std::chrono::system_clock::now(),
                                                 rapport::Json::object(), rapport::Json::array(), SortieSaisies, message));
    return SortieSaisies;
  }
  // SIGINT, SIGTERM, SIGHUP and a closed output stop the run at its next safe point: the user's
  // files are put back in order and the run ends "interrompue" (code 1). A file grown past the
  // size limit of the session fails like a full disk, which the run reports, rather than ending
  // the process in the middle of a write.
  InstalleArretParSignaux();
  SuitProcessusParent();

  MemoriseLigneDeCommande(argc, argv);

  std::set<int> coches(options.begin(), options.end());
  const bool drapeaux[coche::Nombre] = {verifications, reparation, compactage, securise, controle, exhaustif};
  for (int i = 0; i < coche::Nombre; ++i)
    if (drapeaux[i]) coches.insert(i);
  if (coches.empty())
    coches = {coche::VerificationsPrimaires, coche::ReparationCompactage, coche::Compactage, coche::ModeSecurise};
  if (avance) coches.insert(coche::ControleEtendu);

  const rapport::Json optionsRapport = {{"cible", cible},           {"modele", modele},
                                        {"coches", coches},         {"copie", copie},
                                        {"ligneALigne", ligneALigne}, {"avance", avance},
                                        {"sansRelations", sansRelations}, {"oui", oui},
                                        {"repondre", reponses},     {"silencieux", silencieux},
                                        {"tousLesDossiers", tousLesDossiers}, {"parallele", parallele}};

  rapport::SuiviJournal suivi;
  const Affichage affichage = silencieux                        ? Affichage::Silencieux
                              : ::isatty(STDERR_FILENO) == 1 ? Affichage::Barre
                                                             : Affichage::Lignes;
  FenetreLot fenetre(affichage, oui, suivi);
  DefinitFenetre(&fenetre);
  for (int i : coches) fenetre.DefinitCoche(i, true);
  fenetre.DefinitCase(cases::Copie, copie);
  fenetre.DefinitCase(cases::LigneALigne, ligneALigne);
  fenetre.DefinitCase(cases::Avancee, avance);
  fenetre.DefinitSaisie(saisie::Cible, Absolu(cible));
  fenetre.DefinitSaisie(saisie::Modele, Absolu(modele));

  std::vector<int> script{1};  // the confirmation of the run
  script.insert(script.end(), reponses.begin(), reponses.end());
  fenetre.Reponses(script);

  int sortie = SortieInterrompue;
  rapport::Json dossiers = rapport::Json::array();
  if (tousLesDossiers) {
    fenetre.Reponses(reponses);  // no confirmation is asked: the command is the confirmation
    const OptionsRun optionsRun{coches, copie, ligneALigne, avance, sansRelations, oui, reponses};
    sortie = RunTousLesDossiers(fenetre, suivi, optionsRun, Absolu(modele), parallele, affichage, dossiers);
  } else {
    dossiers.push_back(RunDossier(fenetre, suivi, Absolu(cible), sansRelations, affichage, sortie));
  }
  DefinitFenetre(nullptr);
  if (!tousLesDossiers) RendJournalSiParentDisparu(Absolu(cible));
  // A script that finds 0 reads the report: it must be there.
  if (!EcritRapport(cheminRapport, rapport::Rapport(UTIREORG_VERSION, debut, std::chrono::system_clock::now(),
                                                    optionsRapport, std::move(dossiers), sortie)) &&
      sortie == SortieTerminee)
    sortie = SortieRapportNonEcrit;
  return sortie;
}

// utireorg-lot: a reorganisation without a display, for servers and scheduled jobs. The same
// driver as the window's, fed with the options of the command line.
//
// Exit codes: 0 "Procédure terminée.", 1 "Procédure interrompue !" (or a run that could not go
// on), 2 when the input check refuses the databases (its message is on the error output).
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "app/Pilote.h"
#include "common/FenetreSansEcran.h"
#include "common/LigneDeCommande.h"
#include "moteur/Injection.h"
#include "Syntaxe.h"

namespace {

using namespace utireorg;

constexpr int SortieTerminee = 0;
constexpr int SortieInterrompue = 1;
constexpr int SortieSaisies = 2;

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

std::size_t NombreCaracteres(const std::string& texte) {
  std::size_t n = 0;
  for (char c : texte)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::string Debut(const std::string& texte, std::size_t caracteres) {
  std::size_t vus = 0;
  for (std::size_t i = 0; i < texte.size(); ++i)
    if ((static_cast<unsigned char>(texte[i]) & 0xC0) != 0x80 && vus++ == caracteres) return texte.substr(0, i);
  return texte;
}

// The window of the run: the journal lines go to the standard output as they are written, the
// messages and, on a terminal, a progress bar to the error output.
class FenetreLot : public FenetreSansEcran {
 public:
  FenetreLot(bool barre, bool premierBouton) : FenetreSansEcran(std::cerr), barre_(barre), oui_(premierBouton) {}

  using FenetreSansEcran::ProgressMaximum;
  using FenetreSansEcran::ProgressValeur;

  void Reponses(std::vector<int> reponses) { reponses_.assign(reponses.begin(), reponses.end()); }

  void AjouteAuJournal(const std::string& texte) override {
    FenetreSansEcran::AjouteAuJournal(texte);
    EffaceBarre();
    std::string ligne;
    for (char c : texte)
      if (c != '\r') ligne += c;
    std::cout << ligne << std::flush;
    DessineBarre();
  }

  void Legendes(const std::string& etape, const std::string& detail) override {
    FenetreSansEcran::Legendes(etape, detail);
    etape_ = etape;
    detail_ = detail;
    DessineBarre();
  }
  void ProgressMaximum(long maximum) override {
    FenetreSansEcran::ProgressMaximum(maximum);
    DessineBarre();
  }
  void ProgressValeur(long valeur) override {
    FenetreSansEcran::ProgressValeur(valeur);
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
    DessineBarre();
    return reponse;
  }

  // A run that reached its end leaves its last caption ("Procédure terminée.", "Procédure
  // interrompue !"…) in view on screen; here it is written once the bar is gone.
  void Termine(bool finDeRun) {
    EffaceBarre();
    if (finDeRun && !etape_.empty()) std::cerr << etape_ << '\n';
  }

 private:
  static std::size_t Largeur() {
    winsize taille{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &taille) == 0 && taille.ws_col >= 40) return taille.ws_col;
    return 80;
  }

  void EffaceBarre() {
    if (!barre_ || !affichee_) return;
    std::cerr << "\r\033[K" << std::flush;
    affichee_ = false;
  }

  void DessineBarre() {
    if (!barre_ || etape_.empty()) return;
    long maximum = ProgressMaximum(), valeur = ProgressValeur();
    long pourcent = maximum > 0 ? std::clamp(valeur * 100 / maximum, 0L, 100L) : 0;
    constexpr int Cases = 20;
    int pleines = static_cast<int>(pourcent * Cases / 100);
    std::string ligne = "[" + std::string(pleines, '#') + std::string(Cases - pleines, '-') + "] " +
                        std::to_string(pourcent) + " % " + etape_;
    if (!detail_.empty()) ligne += " : " + detail_;
    std::size_t largeur = Largeur() - 1;
    if (NombreCaracteres(ligne) > largeur) ligne = Debut(ligne, largeur);
    std::cerr << "\r\033[K" << ligne << std::flush;
    affichee_ = true;
  }

  bool barre_;
  bool oui_;
  bool affichee_ = false;
  std::string etape_, detail_;
  std::deque<int> reponses_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Réorganise une base de données sans écran : réparation, compactage, copie des enregistrements,\n"
               "mise à niveau de la structure sur la base modèle. Le journal « Analyse.txt » est écrit dans le\n"
               "dossier courant et ses lignes sont recopiées sur la sortie standard.",
               "utireorg-lot"};
  app.set_help_flag("-h,--help", "Affiche cette aide et quitte");
  app.option_defaults()->group("Options");
  syntaxe::TraduitAide(app, 34);

  std::string cible, modele;
  std::vector<int> options, reponses;
  bool verifications = false, reparation = false, compactage = false, securise = false, controle = false,
       exhaustif = false, copie = false, ligneALigne = false, avance = false, sansRelations = false, oui = false;

  app.add_option("--cible", cible, "Base à analyser (FICHIER.mdb)")->required()->type_name("FICHIER");
  app.add_option("--modele", modele, "Base modèle, obligatoire avec --copie")->type_name("FICHIER");
  app.add_option("--options", options, "Cases à cocher, par leurs numéros séparés par des virgules : 0 Vérifications\n"
                                       "primaires, 1 Réparation / Compactage, 2 Compactage, 3 Mode sécurisé,\n"
                                       "4 Contrôle étendu, 5 Traitement exhaustif")
      ->delimiter(',')
      ->check(CLI::Range(0, 5))
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
      ->option_text("1,2,...");
  app.footer(
      "Sans case indiquée, les cases de la fenêtre au démarrage sont cochées (0, 1, 2 et 3).\n"
      "Lancer la commande vaut confirmation : la question « Confirmez-vous la réorganisation du\n"
      "dossier ? » reçoit toujours « Confirmer ». Les questions suivantes reçoivent les réponses de\n"
      "--repondre, puis le premier bouton avec --oui, sinon le bouton par défaut de la question.\n"
      "Codes de sortie : 0 procédure terminée, 1 procédure interrompue, 2 bases refusées.\n"
      "Essais : la variable d'environnement UTIREORG_LIMITE_ECRITURE=<octets> simule un disque plein\n"
      "une fois ce nombre d'octets écrits par la réorganisation (bases, copies).");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "Erreur de syntaxe : " << syntaxe::MessageSyntaxe(e) << ".\n"
              << "Lancez « utireorg-lot --help » pour l'aide.\n";
    return SortieSaisies;
  }

  if (!AppliqueLimiteEcriture()) {
    std::cerr << "Erreur de syntaxe : " << VariableLimiteEcriture << " doit être un nombre d'octets.\n";
    return SortieSaisies;
  }
  // A file grown past the size limit of the session must fail like a full disk, which the run
  // reports, rather than end the process in the middle of a write.
  std::signal(SIGXFSZ, SIG_IGN);

  MemoriseLigneDeCommande(argc, argv);

  std::set<int> coches(options.begin(), options.end());
  const bool drapeaux[] = {verifications, reparation, compactage, securise, controle, exhaustif};
  for (int i = 0; i < 6; ++i)
    if (drapeaux[i]) coches.insert(i);
  if (coches.empty()) coches = {0, 1, 2, 3};
  if (avance) coches.insert(4);

  FenetreLot fenetre(::isatty(STDERR_FILENO) == 1, oui);
  DefinitFenetre(&fenetre);
  for (int i : coches) fenetre.DefinitCoche(i, true);
  fenetre.DefinitCase("chCopie", copie);
  fenetre.DefinitCase("chLigneALigne", ligneALigne);
  fenetre.DefinitCase("chAvancee", avance);
  fenetre.DefinitSaisie(0, cible);
  fenetre.DefinitSaisie(1, modele);

  std::vector<int> script{1};  // the confirmation of the run
  script.insert(script.end(), reponses.begin(), reponses.end());
  fenetre.Reponses(script);

  int sortie = SortieInterrompue;
  {
    Pilote pilote(fenetre);
    pilote.Reorganisation(false, false, !sansRelations);
    const IssueLancer issue = pilote.Lancer();
    switch (issue) {
      case IssueLancer::SaisiesRefusees: sortie = SortieSaisies; break;
      case IssueLancer::Terminee: sortie = SortieTerminee; break;
      default: sortie = SortieInterrompue; break;
    }
    fenetre.Termine(issue == IssueLancer::Terminee || issue == IssueLancer::Interrompue);
    if (!pilote.JournalAnalyse().CheminJournal().empty()) {
      std::error_code erreur;
      auto chemin = std::filesystem::absolute(pilote.JournalAnalyse().CheminJournal(), erreur);
      std::cerr << "Journal d'analyse : " << (erreur ? pilote.JournalAnalyse().CheminJournal() : chemin.string())
                << '\n';
    }
  }
  DefinitFenetre(nullptr);
  return sortie;
}

// The all-folders run stopped in the middle of its second folder: killed outright, the first folder
// is finished and the others are as they were; stopped by SIGTERM, the second folder is put back
// and the closing frame says which folder ended how.
#include "common/Ansi.h"
#include "fiabilite/OutilsFiabilite.h"

namespace fiabilite {
namespace {

class TousLesDossiers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    reference_ = std::make_unique<DossierTest>("tous_ref", true);
    // Enough records for a folder's run to last a while after its first journal line.
    OptionsCouple options;
    options.clients = 3000;
    options.factures = 4000;
    couple_ = CreeCoupleBases(reference_->Racine(), options);
    // What one folder's run makes of the target, the same run as the all-folders run's first.
    Lancement seul;
    seul.programme = OutilLot();
    seul.arguments = {"--cible", couple_.cible, "--modele", couple_.modele, "--oui"};
    seul.dossier = reference_->Racine();
    ASSERT_EQ(Execute(seul).code, 0);
    reorganisee_ = LitBase(couple_.cible);
  }
  static void TearDownTestSuite() { reference_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(reorganisee_.tables.size() > 0);
    fs::create_directories(Temporaire());
    fs::copy_file(couple_.modele, dossier_.Chemin("Logiciel/Compta.mdb"));
    for (int i = 1; i <= 3; ++i) {
      fs::create_directories(fs::path(Base(i)).parent_path());
      fs::copy_file(couple_.cible, Base(i));
    }
    avant_ = LitFichier(Base(2));
    modeleAvant_ = LitFichier(Modele());
  }

  std::string Modele() const { return dossier_.Racine() + "/Logiciel/Compta.mdb"; }
  std::string Base(int i) const { return dossier_.Racine() + "/Logiciel/Dossier" + std::to_string(i) + "/Compta.mdb"; }
  std::string Temporaire() const { return dossier_.Racine() + "/tmp"; }
  std::string Journal() const { return utireorg::DepuisAnsi(LitFichier(dossier_.Racine() + "/Analyse.txt")); }

  Lancement Lot() const {
    Lancement l;
    l.programme = OutilLot();
    l.arguments = {"--tous-les-dossiers", "--modele", Modele(), "--oui"};
    l.dossier = dossier_.Racine();
    l.environnement = {{"TMPDIR", Temporaire()}};
    l.sortie = dossier_.Racine() + "/sortie.txt";
    return l;
  }

  // Freezes the run once the second folder's working copy is begun, before it is put back;
  // false after a minute.
  bool ArreteDansLeDeuxiemeDossier(Processus& p) const {
    auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < limite && !p.Fini()) {
      if (LitFichier(dossier_.Racine() + "/Analyse.txt").find(utireorg::VersAnsi("Début Sauvegarde " + Base(2))) !=
          std::string::npos) {
        ::kill(p.Pid(), SIGSTOP);
        return Journal().find("Début Restauration " + Base(2)) == std::string::npos;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // The first folder went through its whole run, its records all there.
  void VerifiePremierTermine() {
    const std::string journal = Journal();
    const auto fin = journal.find("Fin de l'analyse de bases de données");
    ASSERT_NE(fin, std::string::npos) << journal;
    EXPECT_LT(fin, journal.find("Début Sauvegarde " + Base(2)));
    EXPECT_TRUE(LitBase(Base(1)) == reorganisee_) << Differences(LitBase(Base(1)), reorganisee_);
    EXPECT_TRUE(LitFichier(Base(2)) == avant_) << "la base du deuxième dossier a changé";
    EXPECT_TRUE(LitFichier(Base(3)) == avant_) << "la base du troisième dossier a changé";
    EXPECT_TRUE(LitFichier(Modele()) == modeleAvant_) << "la base modèle a changé";
  }

  static inline std::unique_ptr<DossierTest> reference_;
  static inline CoupleBases couple_;
  static inline BaseLue reorganisee_;
  DossierTest dossier_{"tous", true};
  std::string avant_, modeleAvant_;
};

TEST_F(TousLesDossiers, TueAuMilieuDuDeuxiemeLePremierEstFiniEtLesAutresIntacts) {
  Processus p(Lot());
  ASSERT_TRUE(ArreteDansLeDeuxiemeDossier(p)) << LitFichier(dossier_.Racine() + "/sortie.txt");
  p.Tue();
  p.Attend();
  VerifiePremierTermine();
  EXPECT_EQ(Journal().find("Bilan de la réorganisation de tous les dossiers"), std::string::npos);
}

TEST_F(TousLesDossiers, SigtermAuMilieuDuDeuxiemeArreteLEnsembleAuPointSur) {
  Processus p(Lot());
  ASSERT_TRUE(ArreteDansLeDeuxiemeDossier(p)) << LitFichier(dossier_.Racine() + "/sortie.txt");
  ::kill(p.Pid(), SIGTERM);
  ::kill(p.Pid(), SIGCONT);
  p.Attend();
  const std::string sortie = LitFichier(dossier_.Racine() + "/sortie.txt");
  ASSERT_FALSE(p.ArreteParSignal()) << sortie;
  EXPECT_EQ(p.Code(), 1) << sortie;
  VerifiePremierTermine();
  const std::string journal = Journal();
  EXPECT_NE(journal.find("Dossier1 : terminée\r\n"
                         "Dossier2 : interrompue : Réorganisation arrêtée à la demande du système (signal SIGTERM).\r\n"
                         "Dossier3 : ignorée : la réorganisation a été arrêtée avant ce dossier\r\n"),
            std::string::npos)
      << journal;
  EXPECT_EQ(FichiersDuDossier(Temporaire()), std::vector<std::string>{});
}

// The processes whose command line names "texte" (zombies have none): the children of a run.
std::vector<pid_t> ProcessusNommant(const std::string& texte) {
  std::vector<pid_t> pids;
  for (const auto& entree : fs::directory_iterator("/proc")) {
    const std::string nom = entree.path().filename().string();
    if (nom.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string ligne = LitFichier(entree.path().string() + "/cmdline");
    std::replace(ligne.begin(), ligne.end(), '\0', ' ');
    if (ligne.find(texte) != std::string::npos) pids.push_back(static_cast<pid_t>(std::stol(nom)));
  }
  return pids;
}

// Both children of a run with "--parallele 2" at work, their working copies begun; false after a
// minute or when the run has ended.
bool DeuxEnfantsAuTravail(Processus& p, const std::string& temporaire) {
  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < limite && !p.Fini()) {
    std::size_t commences = 0;
    for (const std::string& nom : FichiersDuDossier(temporaire))
      if (LitFichier(temporaire + "/" + nom + "/Analyse.txt").find(utireorg::VersAnsi("Début Sauvegarde")) !=
          std::string::npos)
        ++commences;
    if (commences == 2) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Stops whatever a test leaves running under its folder, whatever fails.
struct ArretDesRestants {
  std::string texte;
  ~ArretDesRestants() {
    for (pid_t pid : ProcessusNommant(texte)) ::kill(pid, SIGKILL);
  }
};

// Several folders at once and the parent killed outright: each child sees it go, stops at its next
// safe point as on SIGTERM, and hands its journal to "Analyse.txt" itself, so that nothing it
// corrected is left untold in a private folder; its database is whole, before or after.
TEST_F(TousLesDossiers, LeParentTueLesDossiersEnCoursSArretentEtRendentLeurJournal) {
  ArretDesRestants restants{Temporaire()};
  Lancement lancement = Lot();
  lancement.arguments.insert(lancement.arguments.end(), {"--parallele", "2"});
  Processus p(lancement);
  ASSERT_TRUE(DeuxEnfantsAuTravail(p, Temporaire())) << LitFichier(dossier_.Racine() + "/sortie.txt");
  p.Tue();
  p.Attend();

  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ProcessusNommant(Temporaire()).empty() && std::chrono::steady_clock::now() < limite)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(ProcessusNommant(Temporaire()).empty()) << "des dossiers tournent encore sans leur parent";

  const std::string journal = Journal();
  for (int i : {1, 2}) {
    SCOPED_TRACE(Base(i));
    EXPECT_NE(journal.find("#ALERT# La réorganisation de tous les dossiers s'est arrêtée pendant le dossier « Dossier" +
                           std::to_string(i) + " » : son journal suit."),
              std::string::npos)
        << journal;
    EXPECT_NE(journal.find("Début Sauvegarde " + Base(i)), std::string::npos) << journal;
    const BaseLue lue = LitBase(Base(i));
    EXPECT_TRUE(LitFichier(Base(i)) == avant_ || lue == reorganisee_) << Differences(lue, reorganisee_);
  }
  EXPECT_TRUE(LitFichier(Base(3)) == avant_) << "la base du troisième dossier a changé";
  EXPECT_TRUE(LitFichier(Modele()) == modeleAvant_) << "la base modèle a changé";
  EXPECT_EQ(FichiersDuDossier(Temporaire()), std::vector<std::string>{});
}

// Ctrl-C on the parent alone (a terminal sends it to the whole group, a parent may get it alone):
// the children are stopped by the same signal, and the frame says which.
TEST_F(TousLesDossiers, LeSignalDuParentEstCeluiQueLesDossiersEnCoursDisent) {
  ArretDesRestants restants{Temporaire()};
  Lancement lancement = Lot();
  lancement.arguments.insert(lancement.arguments.end(), {"--parallele", "2"});
  Processus p(lancement);
  ASSERT_TRUE(DeuxEnfantsAuTravail(p, Temporaire())) << LitFichier(dossier_.Racine() + "/sortie.txt");
  ::kill(p.Pid(), SIGINT);
  p.Attend();
  EXPECT_EQ(p.Code(), 1) << LitFichier(dossier_.Racine() + "/sortie.txt");
  const std::string journal = Journal();
  for (int i : {1, 2}) {
    const std::string ligne = "Dossier" + std::to_string(i) + " : interrompue : ";
    const auto debut = journal.find(ligne);
    ASSERT_NE(debut, std::string::npos) << journal;
    EXPECT_EQ(journal.substr(debut, journal.find('\r', debut) - debut),
              ligne + "Réorganisation arrêtée à la demande du système (signal SIGINT).");
  }
}

// A folder's process killed outright: the frame says so, not a line its journal held from before.
TEST_F(TousLesDossiers, UnDossierTueDitQuIlAEteArreteBrutalement) {
  ArretDesRestants restants{Temporaire()};
  Lancement lancement = Lot();
  lancement.arguments.insert(lancement.arguments.end(), {"--parallele", "2"});
  Processus p(lancement);
  ASSERT_TRUE(DeuxEnfantsAuTravail(p, Temporaire())) << LitFichier(dossier_.Racine() + "/sortie.txt");
  const std::vector<pid_t> premier = ProcessusNommant("--cible " + Base(1));
  ASSERT_EQ(premier.size(), 1u);
  ::kill(premier.front(), SIGKILL);
  p.Attend();
  EXPECT_EQ(p.Code(), 1);
  EXPECT_NE(Journal().find("Dossier1 : interrompue : le processus de réorganisation s'est arrêté (signal 9)\r\n"),
            std::string::npos)
      << Journal();
  EXPECT_TRUE(LitFichier(Base(1)) == avant_ || LitBase(Base(1)) == reorganisee_);
}

}  // namespace
}  // namespace fiabilite

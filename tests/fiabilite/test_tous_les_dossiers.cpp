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
    avant_ = Lit(Base(2));
    modeleAvant_ = Lit(Modele());
  }

  std::string Modele() const { return dossier_.Racine() + "/Logiciel/Compta.mdb"; }
  std::string Base(int i) const { return dossier_.Racine() + "/Logiciel/Dossier" + std::to_string(i) + "/Compta.mdb"; }
  std::string Temporaire() const { return dossier_.Racine() + "/tmp"; }
  std::string Journal() const { return utireorg::DepuisAnsi(Lit(dossier_.Racine() + "/Analyse.txt")); }

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
      if (Lit(dossier_.Racine() + "/Analyse.txt").find(utireorg::VersAnsi("Début Sauvegarde " + Base(2))) !=
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
    EXPECT_TRUE(Lit(Base(2)) == avant_) << "la base du deuxième dossier a changé";
    EXPECT_TRUE(Lit(Base(3)) == avant_) << "la base du troisième dossier a changé";
    EXPECT_TRUE(Lit(Modele()) == modeleAvant_) << "la base modèle a changé";
  }

  static inline std::unique_ptr<DossierTest> reference_;
  static inline CoupleBases couple_;
  static inline BaseLue reorganisee_;
  DossierTest dossier_{"tous", true};
  std::string avant_, modeleAvant_;
};

TEST_F(TousLesDossiers, TueAuMilieuDuDeuxiemeLePremierEstFiniEtLesAutresIntacts) {
  Processus p(Lot());
  ASSERT_TRUE(ArreteDansLeDeuxiemeDossier(p)) << Lit(dossier_.Racine() + "/sortie.txt");
  p.Tue();
  p.Attend();
  VerifiePremierTermine();
  EXPECT_EQ(Journal().find("Bilan de la réorganisation de tous les dossiers"), std::string::npos);
}

TEST_F(TousLesDossiers, SigtermAuMilieuDuDeuxiemeArreteLEnsembleAuPointSur) {
  Processus p(Lot());
  ASSERT_TRUE(ArreteDansLeDeuxiemeDossier(p)) << Lit(dossier_.Racine() + "/sortie.txt");
  ::kill(p.Pid(), SIGTERM);
  ::kill(p.Pid(), SIGCONT);
  p.Attend();
  const std::string sortie = Lit(dossier_.Racine() + "/sortie.txt");
  ASSERT_FALSE(p.ArreteParSignal()) << sortie;
  EXPECT_EQ(p.Code(), 1) << sortie;
  VerifiePremierTermine();
  const std::string journal = Journal();
  EXPECT_NE(journal.find("Dossier1 : terminée\r\n"
                         "Dossier2 : interrompue : Réorganisation arrêtée à la demande du système (signal SIGTERM).\r\n"
                         "Dossier3 : ignorée : la réorganisation a été arrêtée avant ce dossier\r\n"),
            std::string::npos)
      << journal;
  EXPECT_EQ(Fichiers(Temporaire()), std::vector<std::string>{});
}

}  // namespace
}  // namespace fiabilite

// A run killed outright: what it leaves in the temporary folder is removed by the next run, unless
// a live process holds it.
#include <sys/file.h>

#include "common/Ansi.h"
#include "fiabilite/OutilsFiabilite.h"

namespace fiabilite {
namespace {

using utireorg::IssueLancer;

std::vector<std::string> Toutes() {
  return {"--options", "0,1,2,3,4,5", "--copie", "--avance", "--oui"};
}

bool EstCopieDeTravail(const std::string& nom) {
  return nom.rfind("utireorg-", 0) == 0 || nom.rfind("DB", 0) == 0;
}

class Arret : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    reference_ = std::make_unique<DossierTest>("arret_ref", true);
    couple_ = CreeCoupleBases(reference_->Racine());
  }
  static void TearDownTestSuite() { reference_.reset(); }

  void SetUp() override {
    fs::create_directories(Temporaire());
    fs::create_directories(dossier_.Racine() + "/Logiciel/Dossier1");
    fs::copy_file(couple_.modele, Modele());
    fs::copy_file(couple_.cible, Cible());
    avant_ = Lit(Cible());
  }

  std::string Modele() const { return dossier_.Racine() + "/Logiciel/Compta.mdb"; }
  std::string Cible() const { return dossier_.Racine() + "/Logiciel/Dossier1/Compta.mdb"; }
  std::string Temporaire() const { return dossier_.Racine() + "/tmp"; }
  std::string Journal() const { return utireorg::DepuisAnsi(Lit(dossier_.Racine() + "/Analyse.txt")); }

  Lancement Lot(const std::vector<std::string>& options) const {
    Lancement l;
    l.programme = OutilLot();
    l.arguments = {"--cible", Cible(), "--modele", Modele()};
    l.arguments.insert(l.arguments.end(), options.begin(), options.end());
    l.dossier = dossier_.Racine();
    l.environnement = {{"TMPDIR", Temporaire()}};
    l.sortie = dossier_.Racine() + "/sortie.txt";
    return l;
  }

  // Waits until the run has made its working copy and begun writing it, then freezes it there
  // (SIGSTOP) so that what the test does next reaches it in the middle of its run; false after a
  // minute.
  bool ArreteAuMilieu(Processus& p) const {
    if (!AttendCopieDeTravail(p)) return false;
    ::kill(p.Pid(), SIGSTOP);
    return true;
  }

  bool AttendCopieDeTravail(Processus& p) const {
    auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < limite && !p.Fini()) {
      for (const auto& nom : Fichiers(Temporaire())) {
        std::error_code ec;
        if (EstCopieDeTravail(nom) && fs::file_size(Temporaire() + "/" + nom, ec) > 0 && !ec) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  static inline std::unique_ptr<DossierTest> reference_;
  static inline CoupleBases couple_;
  DossierTest dossier_{"arret", true};
  std::string avant_;
};

// A run killed outright leaves its working copy; the next run removes it, but never the files a
// live process holds (another run in progress, here the test itself).
TEST_F(Arret, LesCopiesDUnRunTueSontSupprimeesParLeSuivantSaufCellesTenues) {
  {
    Processus tue(Lot(Toutes()));
    ASSERT_TRUE(ArreteAuMilieu(tue));
    tue.Tue();
    tue.Attend();
  }
  const auto laisses = Fichiers(Temporaire());
  ASSERT_FALSE(laisses.empty());
  for (const auto& nom : laisses) EXPECT_EQ(nom.rfind("utireorg-", 0), 0u) << "nom qui n'est pas celui du programme : " << nom;

  // A group held by a live process: its lock file, locked, and the copy named after it.
  const std::string verrou = Temporaire() + "/utireorg-DBvivant";
  Ecrit(verrou, "");
  Ecrit(verrou + ".mdb", avant_);
  const int fd = ::open(verrou.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  Execution suivant = Execute(Lot({"--options", "0"}));
  ::close(fd);
  EXPECT_EQ(suivant.code, 0) << suivant.sortie;
  EXPECT_EQ(Fichiers(Temporaire()), (std::vector<std::string>{"utireorg-DBvivant", "utireorg-DBvivant.mdb"}));
  for (const auto& nom : laisses)
    if (nom.find(".mdb") != std::string::npos && nom.find("-journal") == std::string::npos)
      EXPECT_NE(Journal().find("réorganisation interrompue supprimé : " + Temporaire() + "/" + nom), std::string::npos)
          << nom << "\n" << Journal();
  EXPECT_TRUE(Lit(Cible()) == avant_);
}

}  // namespace
}  // namespace fiabilite

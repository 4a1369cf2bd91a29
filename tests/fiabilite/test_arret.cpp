// A run stopped from outside: SIGTERM, an output closed under it ("| head"), the user's stop
// request from the window, and a run killed outright. A stop ends the run at its next safe point
// as a failed run: in "Mode sécurisé" the origin is byte for byte as it was, the working copies
// are gone, and the journal says "Procédure interrompue !" with the reason. What a killed run
// leaves in the temporary folder is removed by the next run, unless a live process holds it.
#include <sys/file.h>

#include "common/Ansi.h"
#include "common/Arret.h"
#include "fiabilite/OutilsFiabilite.h"

namespace fiabilite {
namespace {

using utireorg::IssueLancer;

const std::string Interrompue = "Procédure interrompue !";

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
    avant_ = LitFichier(Cible());
  }

  std::string Modele() const { return dossier_.Racine() + "/Logiciel/Compta.mdb"; }
  std::string Cible() const { return dossier_.Racine() + "/Logiciel/Dossier1/Compta.mdb"; }
  std::string Temporaire() const { return dossier_.Racine() + "/tmp"; }
  std::string Journal() const { return utireorg::DepuisAnsi(LitFichier(dossier_.Racine() + "/Analyse.txt")); }

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
  // minute. Continue lets it go on.
  bool ArreteAuMilieu(Processus& p) const {
    if (!AttendCopieDeTravail(p)) return false;
    ::kill(p.Pid(), SIGSTOP);
    return true;
  }
  static void Continue(Processus& p) { ::kill(p.Pid(), SIGCONT); }

  bool AttendCopieDeTravail(Processus& p) const {
    auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < limite && !p.Fini()) {
      for (const auto& nom : FichiersDuDossier(Temporaire())) {
        std::error_code ec;
        if (EstCopieDeTravail(nom) && fs::file_size(Temporaire() + "/" + nom, ec) > 0 && !ec) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // The end of a run stopped at a safe point: said on the output and in the journal, nothing
  // left in the temporary folder, the origin as it was.
  void VerifieArret(const std::string& sortie, const std::string& raison) {
    for (const std::string& texte : {raison, Interrompue}) EXPECT_NE(sortie.find(texte), std::string::npos) << texte << "\n" << sortie;
    EXPECT_NE(Journal().find("#ERR# " + Interrompue + " " + raison), std::string::npos) << Journal();
    // The stop is why the run failed: no error number stands in for it.
    EXPECT_NE(Journal().find("La réorganisation ne s'est pas terminée correctement !\r\n" + raison), std::string::npos)
        << Journal();
    EXPECT_EQ(Journal().find("\r\nErreur 0\r\n"), std::string::npos) << Journal();
    EXPECT_EQ(Journal().find("Fin de l'analyse de bases de données"), std::string::npos);
    EXPECT_TRUE(LitFichier(Cible()) == avant_) << "la base d'origine a changé";
    EXPECT_EQ(FichiersDuDossier(Temporaire()), std::vector<std::string>{});
  }

  static inline std::unique_ptr<DossierTest> reference_;
  static inline CoupleBases couple_;
  DossierTest dossier_{"arret", true};
  std::string avant_;
};

TEST_F(Arret, SigtermArreteLeRunAuPointSurSuivantSansToucherALaBase) {
  Processus p(Lot(Toutes()));
  ASSERT_TRUE(ArreteAuMilieu(p)) << LitFichier(dossier_.Racine() + "/sortie.txt");
  ::kill(p.Pid(), SIGTERM);
  Continue(p);
  p.Attend();
  const std::string sortie = LitFichier(dossier_.Racine() + "/sortie.txt");
  ASSERT_FALSE(p.ArreteParSignal()) << "tué par le signal au lieu de s'arrêter\n" << sortie;
  EXPECT_EQ(p.Code(), 1) << sortie;
  VerifieArret(sortie, "Réorganisation arrêtée à la demande du système (signal SIGTERM).");
}

// "utireorg-lot … | head": once head has gone, the run's next line has nowhere to go.
TEST_F(Arret, UneSortieFermeeArreteLeRunAuLieuDeLeTuer) {
  int tube[2];
  ASSERT_EQ(::pipe2(tube, O_CLOEXEC), 0);
  Lancement l = Lot(Toutes());
  l.tubeSortie = tube[1];
  Processus p(l);
  ::close(tube[1]);
  const bool auMilieu = ArreteAuMilieu(p);
  ::close(tube[0]);  // the reader goes, as head does after its lines
  Continue(p);
  ASSERT_TRUE(auMilieu);
  p.Attend();
  const std::string sortie = LitFichier(l.sortie);
  ASSERT_FALSE(p.ArreteParSignal()) << "tué (SIGPIPE) au lieu de s'arrêter\n" << sortie;
  EXPECT_EQ(p.Code(), 1) << sortie;
  VerifieArret(sortie, "Réorganisation arrêtée : la sortie du programme a été fermée.");
}

// The window's stop button sets the request while the window processes its events: the run ends
// at the safe point that follows, whatever stage it is in.
class FenetreArretee : public FenetreRun {
 public:
  using FenetreRun::FenetreRun;
  std::string quand;  // the journal line after which the user clicks
  bool arme = false;
  void AjouteAuJournal(const std::string& texte) override {
    FenetreRun::AjouteAuJournal(texte);
    if (!quand.empty() && texte.find(quand) != std::string::npos) arme = true;
  }

 protected:
  void TraiteEvenements() override {
    FenetreRun::TraiteEvenements();
    if (arme) utireorg::DemandeArret(utireorg::RaisonArret::Utilisateur);
  }
};

TEST_F(Arret, LArretDemandeParLUtilisateurAbandonneLeRunAChaqueEtape) {
  CoupleBases petit = CreeCoupleBases(dossier_.Chemin("petit"));
  const std::string octets = LitFichier(petit.cible);
  for (const std::string quand :
       {"Début Sauvegarde", "Lecture des enregistrements", "Copie des enregistrements", "Début Compactage",
        "Tentative de réparation", "Vérification base de données principale", "Vérification des relations"}) {
    SCOPED_TRACE(quand);
    FenetreArretee fenetre(petit, true);
    fenetre.quand = quand;
    IssueLancer issue;
    {
      EnvironnementRun environnement(dossier_.Chemin("petit"), Temporaire());
      issue = LanceRun(fenetre);
    }
    EXPECT_TRUE(fenetre.arme) << "ligne jamais écrite";
    EXPECT_EQ(issue, IssueLancer::Interrompue) << fenetre.journal;
    EXPECT_TRUE(fenetre.ContientLigne("#ERR# Procédure interrompue ! Réorganisation arrêtée à la demande de "
                                      "l'utilisateur."))
        << fenetre.journal;
    EXPECT_FALSE(fenetre.ContientTexte("Fin de l'analyse de bases de données"));
    ASSERT_FALSE(fenetre.legendes.empty());
    EXPECT_EQ(fenetre.legendes.back().first, Interrompue);
    EXPECT_TRUE(LitFichier(petit.cible) == octets) << "la base d'origine a changé";
    EXPECT_EQ(FichiersDuDossier(Temporaire()), std::vector<std::string>{});
  }
}

// A click handled while the engine repairs or compacts stops the run inside that long
// operation, not after it: the stage has no end line, and the origin is as it was.
TEST_F(Arret, LArretPendantUneOperationLongueDuMoteurLAbandonneEnCours) {
  CoupleBases petit = CreeCoupleBases(dossier_.Chemin("petit"));
  const std::string octets = LitFichier(petit.cible);
  for (const std::string etape : {"Réparation", "Compactage"}) {
    SCOPED_TRACE(etape);
    FenetreRun fenetre(petit, true);
    // The user's click is handled there: the next safe point is inside the engine's operation.
    fenetre.surLigne = [&](const std::string& ligne) {
      if (ligne.find("  Début " + etape) != std::string::npos) utireorg::DemandeArret(utireorg::RaisonArret::Utilisateur);
    };
    IssueLancer issue;
    {
      EnvironnementRun environnement(dossier_.Chemin("petit"), Temporaire());
      issue = LanceRun(fenetre);
    }
    EXPECT_EQ(issue, IssueLancer::Interrompue) << fenetre.journal;
    // Nothing of the stage after its start: neither its end nor what its result would bring.
    const auto debut = fenetre.journal.find("  Début " + etape);
    ASSERT_NE(debut, std::string::npos) << fenetre.journal;
    const auto suite = fenetre.journal.find("\r\n", debut) + 2;
    EXPECT_EQ(fenetre.journal.compare(suite, 56, "La réorganisation ne s'est pas terminée correctement !"), 0)
        << fenetre.journal.substr(suite);
    EXPECT_TRUE(fenetre.ContientLigne("#ERR# Procédure interrompue ! Réorganisation arrêtée à la demande de "
                                      "l'utilisateur."))
        << fenetre.journal;
    EXPECT_TRUE(LitFichier(petit.cible) == octets) << "la base d'origine a changé";
    EXPECT_EQ(FichiersDuDossier(Temporaire()), std::vector<std::string>{});
  }
}

// A stop or a journal that fills up in the middle of the record verification, on the target
// itself: what was already corrected stays so, and the run says how many records it corrected
// before it stopped rather than leaving the user to count the journal's entries.
TEST_F(Arret, UneVerificationInterrompueDitCeQuElleAFait) {
  const std::string coupee = "t:SAINT-RÉMY-DE-LA-MONTAGNE-NOIR";  // a town cut to its field's size
  auto corriges = [&](const std::string& cible) {
    const BaseLue lue = LitBase(cible);
    long n = 0;
    for (const auto& [cle, e] : lue.tables.at("Clients").enregistrements) n += e.at("Ville") == coupee;
    return n;
  };
  for (const bool journalPlein : {false, true}) {
    SCOPED_TRACE(journalPlein ? "journal plein" : "SIGTERM");
    CoupleBases couple = CreeCoupleBases(dossier_.Chemin(journalPlein ? "plein" : "signal"));
    FenetreRun fenetre(couple, false, false);
    int entrees = 0;
    fenetre.surLigne = [&](const std::string& ligne) {
      if (ligne.find("Enregistrement défectueux : Table") == std::string::npos || ++entrees != 3) return;
      if (!journalPlein) {
        utireorg::DemandeArret(utireorg::RaisonArret::Signal, SIGTERM);
        return;
      }
      // The journal's file now answers every write as a full disk does.
      for (const auto& f : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(f.path(), ec).filename() != "Analyse.txt") continue;
        const int plein = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ::dup3(plein, std::stoi(f.path().filename().string()), O_CLOEXEC);
        ::close(plein);
      }
    };
    IssueLancer issue;
    {
      EnvironnementRun environnement(dossier_.Chemin(journalPlein ? "plein" : "signal"), Temporaire());
      issue = LanceRun(fenetre);
    }
    EXPECT_EQ(issue, IssueLancer::Interrompue) << fenetre.journal;
    const long n = corriges(couple.cible);
    ASSERT_GE(n, 2) << fenetre.journal;
    const std::string bilan = std::to_string(n) + " enregistrements défectueux ont été corrigés";
    EXPECT_FALSE(fenetre.MessageContient("effectuée avec succès")) << fenetre.journal;
    if (journalPlein) {
      EXPECT_TRUE(fenetre.MessageContient("n'a pas pu traiter tous les enregistrements défectueux")) << fenetre.journal;
      EXPECT_TRUE(fenetre.MessageContient("disque")) << fenetre.journal;
      EXPECT_TRUE(fenetre.MessageContient(bilan)) << bilan;
    } else {
      EXPECT_TRUE(fenetre.ContientTexte("Vérification des enregistrements interrompue : " + bilan)) << fenetre.journal;
      EXPECT_FALSE(fenetre.ContientLigne("Erreur 3163")) << fenetre.journal;
    }
  }
}

// A run killed outright leaves its working copy; the next run removes it, but never the files a
// live process holds (another run in progress, here the test itself).
TEST_F(Arret, LesCopiesDUnRunTueSontSupprimeesParLeSuivantSaufCellesTenues) {
  {
    Processus tue(Lot(Toutes()));
    ASSERT_TRUE(ArreteAuMilieu(tue));
    tue.Tue();
    tue.Attend();
  }
  const auto laisses = FichiersDuDossier(Temporaire());
  ASSERT_FALSE(laisses.empty());
  for (const auto& nom : laisses) EXPECT_EQ(nom.rfind("utireorg-", 0), 0u) << "nom qui n'est pas celui du programme : " << nom;

  // A group held by a live process: its lock file, locked, and the copy named after it.
  const std::string verrou = Temporaire() + "/utireorg-DBvivant";
  EcritFichier(verrou, "");
  EcritFichier(verrou + ".mdb", avant_);
  const int fd = ::open(verrou.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  Execution suivant = Execute(Lot({"--options", "0"}));
  ::close(fd);
  EXPECT_EQ(suivant.code, 0) << suivant.sortie;
  EXPECT_EQ(FichiersDuDossier(Temporaire()), (std::vector<std::string>{"utireorg-DBvivant", "utireorg-DBvivant.mdb"}));
  for (const auto& nom : laisses) {
    if (nom.find(".mdb") != std::string::npos && nom.find("-journal") == std::string::npos) {
      EXPECT_NE(Journal().find("réorganisation interrompue supprimé : " + Temporaire() + "/" + nom), std::string::npos)
          << nom << "\n" << Journal();
    }
  }
  EXPECT_TRUE(LitFichier(Cible()) == avant_);
}

}  // namespace
}  // namespace fiabilite

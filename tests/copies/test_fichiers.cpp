// The file services under the working copies: the temporary folder, byte copies on a full disk,
// and the replacement of a file reached through a link.
#include "common/Fichiers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <sstream>

#include "moteur/Injection.h"
#include "moteur/OutilsMoteur.h"

namespace {

namespace fs = std::filesystem;
using namespace utireorg;

class Fichiers : public ::testing::Test {
 protected:
  void TearDown() override {
    DefinitInterruption({});
    moteur::injection::SupprimeLimite();
  }
  std::string Chemin(const std::string& nom) const { return dossier_.Racine() + "/" + nom; }

 private:
  outils::DossierTest dossier_;
};

class VariableTmp {
 public:
  explicit VariableTmp(const char* valeur) {
    if (const char* a = std::getenv("TMPDIR")) ancienne_ = a;
    if (valeur) ::setenv("TMPDIR", valeur, 1);
    else ::unsetenv("TMPDIR");
  }
  ~VariableTmp() {
    if (ancienne_) ::setenv("TMPDIR", ancienne_->c_str(), 1);
    else ::unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> ancienne_;
};

TEST(DossierTemporaire, VariableSinonTmp) {
  {
    VariableTmp v(nullptr);
    EXPECT_EQ(DossierTemporaire(), "/tmp");
  }
  {
    VariableTmp v("");
    EXPECT_EQ(DossierTemporaire(), "/tmp");
  }
  {
    VariableTmp v("/var/tmp///");
    EXPECT_EQ(DossierTemporaire(), "/var/tmp");
  }
}

TEST_F(Fichiers, CopieSurDisquePleinEchoueEn61SansEntamerLeReste) {
  std::string source = Chemin("source");
  outils::EcritFichier(source, std::string(10000, 'a'));
  moteur::injection::LimiteTemporaire limite(5000);
  auto r = moteur::Essaie([&] { CopieFichier(source, Chemin("copie")); });
  EXPECT_EQ(r.Number, 61) << r.Description;
  EXPECT_EQ(moteur::injection::OctetsRestants(), 5000);  // a refused write charges nothing
  moteur::injection::LimiteEcriture(20000);
  ASSERT_EQ(moteur::Essaie([&] { CopieFichier(source, Chemin("copie")); }).Number, 0);
  EXPECT_EQ(outils::LitFichier(Chemin("copie")), std::string(10000, 'a'));
  EXPECT_EQ(moteur::injection::OctetsRestants(), 10000);
}

TEST_F(Fichiers, RemplacementAuTraversDUnLienGardeLeLien) {
  std::string source = Chemin("neuf"), cible = Chemin("vraie.mdb"), lien = Chemin("lien.mdb");
  outils::EcritFichier(source, "neuf");
  outils::EcritFichier(cible, "ancien");
  fs::create_symlink(cible, lien);
  RemplaceFichier(source, lien);
  EXPECT_TRUE(fs::is_symlink(lien));
  EXPECT_EQ(outils::LitFichier(cible), "neuf");
}

// What a killed run left beside a database goes at the next replacement there; nothing else
// does, however close its name, nor a leftover still held by a writer or written a moment ago.
TEST_F(Fichiers, RestesDUnRunInterrompuSupprimesAuRemplacementSuivant) {
  const std::string cible = Chemin("Compta.mdb"), source = Chemin("neuf");
  outils::EcritFichier(cible, "ancien");
  outils::EcritFichier(source, "neuf");
  auto vieux = [](const std::string& chemin) {
    fs::last_write_time(chemin, fs::file_time_type::clock::now() - std::chrono::hours(2));
  };
  const std::string abandonne = Chemin("Compta.mdb.utireorg-a1B2c3"), tenu = Chemin("Compta.mdb.utireorg-tenu00"),
                    recent = Chemin("Compta.mdb.utireorg-recent");
  for (const auto& nom : {abandonne, tenu, recent}) outils::EcritFichier(nom, "copie");
  vieux(abandonne);
  vieux(tenu);
  const std::vector<std::string> voisins = {"Compta.mdb.backup", "Compta.mdb.utireorg-abc", "Compta.mdb.utireorg-abcdef.bak",
                                            "Autre.mdb.utireorg-abcdef", "Compta.mdb.utireorg-ab_def"};
  for (const auto& nom : voisins) {
    outils::EcritFichier(Chemin(nom), "à l'utilisateur");
    vieux(Chemin(nom));
  }
  fs::create_directory(Chemin("Compta.mdb.utireorg-dossie"));
  fs::create_symlink(cible, Chemin("Compta.mdb.utireorg-lienXX"));

  int fd = ::open(tenu.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  RemplaceFichier(source, cible);
  ::close(fd);

  EXPECT_EQ(outils::LitFichier(cible), "neuf");
  EXPECT_FALSE(fs::exists(abandonne));
  EXPECT_TRUE(fs::exists(tenu));
  EXPECT_TRUE(fs::exists(recent));
  for (const auto& nom : voisins) EXPECT_TRUE(fs::exists(Chemin(nom))) << nom;
  EXPECT_TRUE(fs::is_directory(Chemin("Compta.mdb.utireorg-dossie")));
  EXPECT_TRUE(fs::is_symlink(Chemin("Compta.mdb.utireorg-lienXX")));
  // Released, the held one goes the next time.
  vieux(tenu);
  EXPECT_EQ(SupprimeRestesInterrompus(cible), 1);
  EXPECT_FALSE(fs::exists(tenu));
}

// While a replacement writes its copy, another run's clean-up must not take it for a leftover.
TEST_F(Fichiers, CopieEnCoursDeRemplacementTenueContreLeNettoyage) {
  const std::string cible = Chemin("Compta.mdb"), source = Chemin("neuf");
  outils::EcritFichier(cible, "ancien");
  outils::EcritFichier(source, "neuf");
  std::string enCours;
  int supprimes = -1;
  DefinitInterruption([&](std::string_view etape, const std::string&) {
    if (etape != "remplacement") return;
    for (const auto& e : fs::directory_iterator(fs::path(cible).parent_path()))
      if (e.path().filename().string().rfind("Compta.mdb.utireorg-", 0) == 0) {
        enCours = e.path().string();
        fs::last_write_time(enCours, fs::file_time_type::clock::now() - std::chrono::hours(2));
      }
    supprimes = SupprimeRestesInterrompus(cible);
  });
  RemplaceFichier(source, cible);
  EXPECT_FALSE(enCours.empty());
  EXPECT_EQ(supprimes, 0);
  EXPECT_EQ(outils::LitFichier(cible), "neuf");
  EXPECT_FALSE(fs::exists(enCours));
}

// A file the engine cannot read (here a Jet file's header) has no lock to take: its size and date
// tell whether another program wrote it while the run worked on the copy.
TEST_F(Fichiers, FichierEtrangerEcritDepuisSaCopieNEstPasRemplace) {
  const std::string origine = Chemin("Compta.mdb"), copie = Chemin("copie"), autre = Chemin("autre");
  const std::string jet = std::string("\0\1\0\0Standard Jet DB", 19) + std::string(2000, 'j');
  outils::EcritFichier(origine, jet);
  CopieBaseCoherente(origine, copie);
  EXPECT_EQ(outils::LitFichier(copie), jet);
  outils::EcritFichier(copie, "traitée");
  outils::EcritFichier(origine, jet + "écrit par un autre programme");
  EXPECT_ERREUR(moteur::err::FichierUtilise, RemplaceFichier(copie, origine));
  EXPECT_EQ(outils::LitFichier(origine), jet + "écrit par un autre programme");

  // Left alone since its copy, it is replaced.
  CopieBaseCoherente(origine, autre);
  outils::EcritFichier(autre, "traitée");
  ASSERT_SANS_ERREUR(RemplaceFichier(autre, origine));
  EXPECT_EQ(outils::LitFichier(origine), "traitée");
}

// A database whose schema no longer reads (its first page wiped past the header) cannot be held
// through SQLite: what its header, size and date say when it goes back shows nobody wrote it, and
// its repaired copy takes its place.
TEST_F(Fichiers, BaseIllisibleLaisseeTelleQuelleEstRemplaceeParSaCopie) {
  const std::string origine = Chemin("Compta.mdb"), copie = Chemin("copie");
  moteur::DBEngine::CreateDatabase(origine).Close();
  std::string octets = outils::LitFichier(origine);
  ASSERT_GE(octets.size(), 4096u);
  std::fill(octets.begin() + 100, octets.begin() + 4096, '\0');
  outils::EcritFichier(origine, octets);
  CopieBaseCoherente(origine, copie);
  outils::EcritFichier(copie, "réparée");
  ASSERT_SANS_ERREUR(RemplaceFichier(copie, origine));
  EXPECT_EQ(outils::LitFichier(origine), "réparée");
}

TEST_F(Fichiers, FichierEtrangerQuiChangePendantSaCopieNeDonneAucuneCopie) {
  const std::string origine = Chemin("Compta.mdb"), copie = Chemin("copie");
  outils::EcritFichier(origine, std::string(4096, 'x'));
  DefinitInterruption([&](std::string_view etape, const std::string&) {
    if (etape == "copie") outils::EcritFichier(origine, std::string(8192, 'y'));
  });
  EXPECT_ERREUR(moteur::err::FichierUtilise, CopieBaseCoherente(origine, copie));
  EXPECT_FALSE(fs::exists(copie));
  EXPECT_EQ(outils::LitFichier(origine), std::string(8192, 'y'));
}

// A processed copy left for the user leaves the run's group even when its name cannot hold the
// whole name of the database: a later run would otherwise take it for a leftover and delete it.
TEST_F(Fichiers, CopieLaisseeSortDuGroupeMemeSousUnNomTropLong) {
  const std::string copie = CreeTemporaireTenu(Chemin(""), "DB");
  const std::string laissee = SortDesTemporaires(copie, std::string(300, 'n') + "-traitee");
  EXPECT_NE(laissee, copie);
  EXPECT_TRUE(fs::exists(laissee)) << laissee;
  EXPECT_EQ(fs::path(laissee).filename().string().rfind("utireorg-", 0), std::string::npos) << laissee;
  EXPECT_TRUE(SupprimeTemporairesAbandonnes(Chemin(""), {}).empty());
  EXPECT_TRUE(fs::exists(laissee)) << laissee;
}

}  // namespace

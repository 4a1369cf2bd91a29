// The file services under the working copies: the temporary folder, byte copies on a full disk,
// and the replacement of a file reached through a link.
#include "common/Fichiers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "moteur/Injection.h"
#include "moteur/OutilsMoteur.h"

namespace {

namespace fs = std::filesystem;
using namespace utireorg;

std::string LitOctets(const std::string& chemin) {
  std::ifstream entree(chemin, std::ios::binary);
  std::ostringstream tout;
  tout << entree.rdbuf();
  return tout.str();
}

class Fichiers : public ::testing::Test {
 protected:
  void TearDown() override {
    DefinitInterruption({});
    moteur::injection::SupprimeLimite();
  }
  std::string Chemin(const std::string& nom) const { return dossier_.chemin() + "/" + nom; }

 private:
  outils::DossierTemporaire dossier_;
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
  EXPECT_EQ(LitOctets(Chemin("copie")), std::string(10000, 'a'));
  EXPECT_EQ(moteur::injection::OctetsRestants(), 10000);
}

TEST_F(Fichiers, RemplacementAuTraversDUnLienGardeLeLien) {
  std::string source = Chemin("neuf"), cible = Chemin("vraie.mdb"), lien = Chemin("lien.mdb");
  outils::EcritFichier(source, "neuf");
  outils::EcritFichier(cible, "ancien");
  fs::create_symlink(cible, lien);
  RemplaceFichier(source, lien);
  EXPECT_TRUE(fs::is_symlink(lien));
  EXPECT_EQ(LitOctets(cible), "neuf");
}

}  // namespace

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <optional>

#include "common/Chemins.h"
#include "commun/FichiersTest.h"

namespace fs = std::filesystem;
using namespace utireorg;

namespace {

TEST(Dossier, CheminDeBaseDonneLeDossierAvecSonSeparateurFinal) {
  EXPECT_EQ(Dossier("/donnees/base.mdb"), "/donnees/");
  EXPECT_EQ(Dossier("/srv/partage/société/compta.mdb"), "/srv/partage/société/");
}

TEST(Dossier, CheminSansPointEstPrisPourUnDossierEtRenduTelQuel) {
  EXPECT_EQ(Dossier("/donnees/societe1"), "/donnees/societe1");
  EXPECT_EQ(Dossier("/donnees/societe1/"), "/donnees/societe1/");
}

TEST(Dossier, DossierDontLeNomPorteUnPointPerdSonDernierElement) {
  EXPECT_EQ(Dossier("/donnees/version.2"), "/donnees/");
}

TEST(Dossier, NomSansSeparateurDonneUnTexteVide) { EXPECT_EQ(Dossier("base.mdb"), ""); }

TEST(Dossier, CheminBlancDonneUnTexteVide) {
  EXPECT_EQ(Dossier(""), "");
  EXPECT_EQ(Dossier("   "), "");
}

TEST(NomFichier, RendLeDernierElement) {
  EXPECT_EQ(NomFichier("/donnees/base.mdb"), "base.mdb");
  EXPECT_EQ(NomFichier("base.mdb"), "base.mdb");
  EXPECT_EQ(NomFichier("/donnees/"), "");
  EXPECT_EQ(NomFichier("  "), "");
}

TEST(DossierParent, DossierTermineParSeparateurDonneSonParent) {
  EXPECT_EQ(DossierParent("/donnees/societe1/"), "/donnees/");
}

TEST(DossierParent, FichierDonneLeParentDeSonDossier) {
  EXPECT_EQ(DossierParent("/donnees/societe1/base.mdb"), "/donnees/");
  EXPECT_EQ(DossierParent("donnees/societe1/base.mdb"), "donnees/");
}

TEST(DossierParent, UnSeulSeparateurDonneUnTexteVide) {
  EXPECT_EQ(DossierParent("/base.mdb"), "");
  EXPECT_EQ(DossierParent("donnees/"), "");
  EXPECT_EQ(DossierParent("/"), "");
  EXPECT_EQ(DossierParent("base.mdb"), "");
  EXPECT_EQ(DossierParent("  "), "");
}

class FichierExisteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temporaire_.emplace("chemins");
    dossier_ = temporaire_->Racine();
  }
  std::string Cree(const std::string& nom) {
    std::ofstream(dossier_ / nom) << "x";
    return (dossier_ / nom).string();
  }
  std::string Chemin(const std::string& nom) const { return (dossier_ / nom).string(); }

  fs::path dossier_;
  std::optional<utireorg::tests::DossierTest> temporaire_;
};

TEST_F(FichierExisteTest, FichierPresentOuAbsent) {
  Cree("base.mdb");
  EXPECT_TRUE(FichierExiste(Chemin("base.mdb")));
  EXPECT_FALSE(FichierExiste(Chemin("autre.mdb")));
  EXPECT_FALSE(FichierExiste(""));
}

TEST_F(FichierExisteTest, DossierExistantNeComptePasPourUnFichier) {
  fs::create_directory(dossier_ / "societe1");
  EXPECT_FALSE(FichierExiste(Chemin("societe1")));
  EXPECT_FALSE(FichierExiste(dossier_.string()));
  EXPECT_FALSE(FichierExiste(Chemin("soc*")));
}

TEST_F(FichierExisteTest, JokersEtoileEtPointDInterrogation) {
  Cree("base.mdb");
  EXPECT_TRUE(FichierExiste(Chemin("*.mdb")));
  EXPECT_TRUE(FichierExiste(Chemin("b?se.mdb")));
  EXPECT_FALSE(FichierExiste(Chemin("*.ldb")));
  EXPECT_FALSE(FichierExiste(Chemin("b?.mdb")));
}

TEST_F(FichierExisteTest, UnFichierParmiDesDossiersQuiCorrespondentSuffit) {
  fs::create_directory(dossier_ / "copie_a.mdb");
  Cree("copie_b.mdb");
  EXPECT_TRUE(FichierExiste(Chemin("copie_*.mdb")));
}

TEST_F(FichierExisteTest, CrochetsEtContreObliqueSontDesCaracteresOrdinaires) {
  Cree("base c.mdb");
  EXPECT_FALSE(FichierExiste(Chemin("base [copie].mdb")));  // not a class of characters
  Cree("base [copie].mdb");
  EXPECT_TRUE(FichierExiste(Chemin("base [copie].mdb")));
  EXPECT_TRUE(FichierExiste(Chemin("base [*].mdb")));
  Cree("a\\b.mdb");
  EXPECT_TRUE(FichierExiste(Chemin("a\\b.mdb")));
  EXPECT_FALSE(FichierExiste(Chemin("a\\c.mdb")));
}

TEST_F(FichierExisteTest, EtoileTrouveAussiLesNomsCommencantParUnPoint) {
  Cree(".cache.mdb");
  EXPECT_TRUE(FichierExiste(Chemin("*.mdb")));
}

}  // namespace

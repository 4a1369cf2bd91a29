// Replays, through the fuzzing targets' own entry functions, every input kept in the repository:
// the ones that once crashed a target or broke a promise (regressions/<target>/) and the first
// inputs of the fuzzer (graines/<target>/).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Cibles.h"
#include "commun/EchantillonsJet.h"
#include "commun/FichiersTest.h"
#include "moteur/Moteur.h"

namespace {

namespace fs = std::filesystem;
using utireorg::fuzz::Cible;
using Dossier = utireorg::tests::DossierTest;
using utireorg::tests::LitFichier;

// The inputs a folder keeps: its files, hidden ones left out, in the order of their names.
std::vector<fs::path> Fichiers(const fs::path& dossier) {
  std::vector<fs::path> fichiers;
  std::error_code ec;
  for (const auto& nom : utireorg::tests::FichiersDuDossier(dossier))
    if (nom.front() != '.' && fs::is_regular_file(dossier / nom, ec)) fichiers.push_back(dossier / nom);
  return fichiers;
}

// A failure names the file; a crash names it through the trace printed before each input.
void Rejoue(const Cible& cible, const std::vector<fs::path>& fichiers) {
  for (const auto& f : fichiers) {
    SCOPED_TRACE(f.string());
    std::string octets = LitFichier(f);
    try {
      EXPECT_EQ(cible.entree(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size()), 0);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "exception : " << e.what();
    }
  }
}

class Regressions : public ::testing::TestWithParam<Cible> {
 protected:
  void SetUp() override { utireorg::fuzz::FixeDossierTravail(travail_.Racine()); }
  Dossier travail_;
};

TEST_P(Regressions, EntreesConserveesRejoueesSansFaute) {
  const Cible& cible = GetParam();
  fs::path racine(DOSSIER_FUZZ);
  auto fichiers = Fichiers(racine / "regressions" / std::string(cible.nom));
  auto graines = Fichiers(racine / "graines" / std::string(cible.nom));
  fichiers.insert(fichiers.end(), graines.begin(), graines.end());
  Rejoue(cible, fichiers);
}

TEST_P(Regressions, GrainesFabriqueesRejoueesSansFaute) {
  const Cible& cible = GetParam();
  Dossier graines;
  utireorg::fuzz::EcritGraines(cible.nom, graines.Racine(), echantillons::DossierJet());
  Rejoue(cible, Fichiers(graines.Racine()));
}

INSTANTIATE_TEST_SUITE_P(Cibles, Regressions, ::testing::ValuesIn(utireorg::fuzz::Cibles),
                         [](const auto& info) { return std::string(info.param.nom); });

// The fuzzer starts from this database: if the engine could not read it whole, mutations of it
// would only ever reach the refusal of a damaged file.
TEST(GrainesBase, LaBaseFabriqueeEstSaineEtComplete) {
  Dossier dossier;
  utireorg::fuzz::EcritGraines("base", dossier.Racine(), "");
  std::string chemin = dossier.Racine() + "/moteur.mdb";
  auto base = moteur::DBEngine::OpenDatabase(chemin);
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  EXPECT_EQ(base.TableDefs()["Clients"].RecordCount(), 3);
  EXPECT_EQ(base.TableDefs()["Clients"].Indexes().Count(), 2);
  EXPECT_EQ(base.Relations().Count(), 1);
  EXPECT_EQ(base.TableDefs()["Clients"].Properties()["NomClair"].Value().EnTexte(), "Clients");
  base.Close();
  // Small pages keep the file small for the fuzzer.
  EXPECT_LT(fs::file_size(chemin), 32u * 1024);
}

// A changed header that the first checks refuse would leave the Jet reader itself unfuzzed.
TEST(GrainesJet, EnTeteModifieeMaisLisible) {
  const std::string dossierJet = echantillons::DossierJet();
  if (dossierJet.empty())
    GTEST_SKIP() << "pas d'échantillons Jet (ni dans $UTIREORG_ECHANTILLONS_JET, ni dans ../shared/jet-samples)";
  Dossier dossier;
  utireorg::fuzz::EcritGraines("jet", dossier.Racine(), dossierJet);
  int modifiees = 0;
  for (const auto& f : Fichiers(dossier.Racine())) {
    EXPECT_EQ(LitFichier(f).substr(4, 15), "Standard Jet DB") << f;
    if (f.filename().string().find("-entete-modifiee") == std::string::npos) continue;
    ++modifiees;
    auto base = moteur::DBEngine::OpenDatabase(f.string());
    EXPECT_GT(base.TableDefs().Count(), 0) << f;
    base.Close();
  }
  EXPECT_GE(modifiees, 1);
}

}  // namespace

// The record copy from a Jet file, which the engine only ever reads: the bulk statement still
// copies every table, through a converted image that does not outlive the copy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/Ansi.h"
#include "commun/EchantillonsJet.h"
#include "commun/FenetreFactice.h"
#include "journal/Journal.h"
#include "moteur/OutilsMoteur.h"
#include "records/CopieEnregistrements.h"

namespace {

namespace fs = std::filesystem;
using namespace utireorg;

class CopieJet : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(Chemin("tmp"));
    const char* ancien = std::getenv("TMPDIR");
    ancienTmp_ = ancien ? std::optional<std::string>(ancien) : std::nullopt;
    ::setenv("TMPDIR", Chemin("tmp").c_str(), 1);
    ancien_ = fs::current_path();
    fs::current_path(dossier_.Racine());
    ASSERT_TRUE(journal.OuvertureJournal());
  }
  void TearDown() override {
    journal.FermetureJournal();
    fs::current_path(ancien_);
    if (ancienTmp_) ::setenv("TMPDIR", ancienTmp_->c_str(), 1);
    else ::unsetenv("TMPDIR");
  }

  std::string Chemin(const std::string& nom) const { return dossier_.Racine() + "/" + nom; }

  std::vector<std::string> LignesJournal() const {
    std::vector<std::string> lignes;
    std::size_t debut = 0;
    for (std::size_t fin; (fin = fenetre.journal.find("\r\n", debut)) != std::string::npos; debut = fin + 2)
      lignes.push_back(fenetre.journal.substr(debut, fin - debut));
    return lignes;
  }

  outils::DossierTest dossier_;
  tests::FenetreFactice fenetre;
  Journal journal{fenetre};
  EtatReorganisation etat{fenetre, journal};

 private:
  std::optional<std::string> ancienTmp_;
  fs::path ancien_;
};

TEST_F(CopieJet, ChaqueTableDUnFichierJetEstCopieeParLInstructionGroupee) {
  ECHANTILLON_JET(echantillon, "testV1997.mdb");
  const std::string cible = Chemin("cible.mdb");
  fs::copy_file(echantillon, cible);
  const std::string avant = outils::LitFichier(cible);
  // The model's copy, writable: the same tables, emptied by the copy before it fills them.
  moteur::ConvertitJet(cible, Chemin("copie_reorg.mdb"), "3.0");

  auto orig = moteur::DBEngine::OpenDatabase(cible);
  auto dest = moteur::DBEngine::OpenDatabase(Chemin("copie_reorg.mdb"));
  EXPECT_TRUE(TraitementCopie(etat, orig, dest));

  std::vector<std::string> attendues;
  for (int i = 0; i < orig.TableDefs().Count(); ++i) {
    auto table = orig.TableDefs()[i];
    if (table.Attributes() & moteur::dbSystemObject) continue;
    std::string n = std::to_string(table.RecordCount());
    attendues.push_back("Table : " + table.Name() + " Copie de " + n + "/" + n + " enregistrements");
    EXPECT_EQ(dest.TableDefs()[table.Name()].RecordCount(), table.RecordCount()) << table.Name();
  }
  auto lignes = LignesJournal();
  ASSERT_GE(lignes.size(), 5u) << fenetre.journal;
  EXPECT_EQ(std::vector<std::string>(lignes.begin() + 5, lignes.end()), attendues) << fenetre.journal;
  dest.Close();
  orig.Close();

  // The image is gone with the copy, and the Jet file was only read.
  EXPECT_TRUE(fs::is_empty(Chemin("tmp")));
  EXPECT_EQ(outils::LitFichier(cible), avant);
}

}  // namespace

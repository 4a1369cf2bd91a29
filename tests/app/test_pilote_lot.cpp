// The run without a display, "utireorg-lot", as a scheduled job sees it: exit codes, journal
// lines on its output, "Analyse.txt" in the current directory.
#include "test_pilote_outils.h"

namespace pilote_tests {
namespace {

class TestLot : public TestPilote {
 protected:
  Execution Lot(const std::vector<std::string>& arguments) { return Lance(Outil("utireorg-lot"), arguments, Dossier()); }
};

TEST_F(TestLot, UneBaseAbsenteEstRefuseeAvecLeCodeDeux) {
  auto e = Lot({"--cible", Chemin("absente.mdb")});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_NE(e.sortie.find("Vous devez saisir une base valide !"), std::string::npos) << e.sortie;
  EXPECT_FALSE(fs::exists(Chemin("Analyse.txt")));
}

TEST_F(TestLot, LaCopieSansBaseModeleEstRefusee) {
  auto e = Lot({"--cible", CreePetiteBase("Compta.mdb"), "--copie"});
  EXPECT_EQ(e.code, 2) << e.sortie;
}

TEST_F(TestLot, UneLigneDeCommandeIncompleteEstRefusee) {
  auto e = Lot({"--securise"});
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.sortie.find("Erreur de syntaxe"), std::string::npos) << e.sortie;
}

TEST_F(TestLot, UnRunParDefautConfirmeTraiteEtSortAvecZero) {
  std::string cible = CreePetiteBase("Compta.mdb");
  auto e = Lot({"--cible", cible});
  EXPECT_EQ(e.code, 0) << e.sortie;
  // The journal lines on the output, the journal itself in the current directory.
  EXPECT_NE(e.sortie.find("Logiciel : Compta\n"), std::string::npos) << e.sortie;
  EXPECT_NE(e.sortie.find("Sauvegarde des bases de données"), std::string::npos);  // the window's defaults
  std::string journal = utireorg::DepuisAnsi(Contenu(Chemin("Analyse.txt")));
  EXPECT_NE(journal.find("Compactage base de données principale"), std::string::npos) << journal;
  EXPECT_NE(journal.find("Fin de l'analyse de bases de données"), std::string::npos);
}

TEST_F(TestLot, UnRunInterrompuSortAvecUn) {
  std::string cible = CreePetiteBase("Compta.mdb");
  {
    auto base = moteur::DBEngine::OpenDatabase(cible);
    moteur::EcritSansControle(base, "Clients", {{"Id", moteur::Valeur(10)}, {"Nom", moteur::Valeur(std::string(40, 'x'))}, {"Ville", moteur::Valeur("Albi")}});
    base.Close();
  }
  // Compaction meets the oversized record and the verification it proposes is declined.
  auto e = Lot({"--cible", cible, "--options", "1", "--repondre", "2"});
  EXPECT_EQ(e.code, 1) << e.sortie;
  EXPECT_NE(e.sortie.find("La réorganisation ne s'est pas terminée correctement !"), std::string::npos) << e.sortie;

  // Answered "Oui", the same run repairs the record and ends well.
  e = Lot({"--cible", cible, "--options", "1", "--oui"});
  EXPECT_EQ(e.code, 0) << e.sortie;
  EXPECT_NE(e.sortie.find("Tentative de réparation réussie !"), std::string::npos) << e.sortie;
}

}  // namespace
}  // namespace pilote_tests

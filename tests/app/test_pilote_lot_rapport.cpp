// The report of utireorg-lot against what users type by mistake: it never takes the place of a
// file of theirs, and when it cannot be written it says why in French.
#include <cerrno>
#include <nlohmann/json.hpp>
#include <regex>

#include "common/Fichiers.h"
#include "test_pilote_outils.h"

namespace pilote_tests {
namespace {

class LotRapport : public TestPilote {
 protected:
  Execution Lot(const std::vector<std::string>& arguments) { return Lance(Outil("utireorg-lot"), arguments, Dossier()); }

  static bool ParleAnglais(const std::string& sortie) {
    return std::regex_search(sortie, std::regex("No such file|Is a directory|Permission denied|Read-only"));
  }
};

// The target, the model, the journal or any file that is not a report stays as it was, whatever
// the spelling of its path and even when the command line is refused for another reason.
TEST_F(LotRapport, NeRemplaceJamaisUnFichierQuiNEstPasUnRapport) {
  const std::string cible = CreePetiteBase("Compta.mdb");
  const std::string modele = CreePetiteBase("Logiciel/Compta.mdb");
  fs::create_symlink(cible, Chemin("lien.json"));
  std::ofstream(Chemin("notes.txt")) << "mes notes\n";
  const std::string baseAvant = LitFichier(cible), modeleAvant = LitFichier(modele);

  const std::vector<std::vector<std::string>> refus = {
      {"--cible", cible, "--oui", "--rapport", cible},
      {"--cible", cible, "--rapport", "./Compta.mdb"},
      {"--cible", cible, "--rapport", "lien.json"},
      {"--cible", cible, "--modele", modele, "--rapport", "Logiciel/../Logiciel/Compta.mdb"},
      {"--cible", cible, "--rapport", "Analyse.txt"},
      {"--cible", cible, "--rapport", "notes.txt"},
      {"--cilbe", "x", "--rapport", cible},
      {"--cilbe", "x", "--rapport", "notes.txt"},
  };
  for (const auto& arguments : refus) {
    auto e = Lot(arguments);
    const std::string cas = ::testing::PrintToString(arguments);
    EXPECT_EQ(e.code, 2) << cas << e.sortie;
    EXPECT_NE(e.sortie.find("rapport"), std::string::npos) << cas << e.sortie;
    EXPECT_TRUE(LitFichier(cible) == baseAvant) << cas;
    EXPECT_TRUE(LitFichier(modele) == modeleAvant) << cas;
    EXPECT_EQ(LitFichier(Chemin("notes.txt")), "mes notes\n") << cas;
    EXPECT_FALSE(fs::exists(Chemin("Analyse.txt"))) << cas << e.sortie;
  }

  // A journal already there is no more replaced than one the run would open.
  std::ofstream(Chemin("Analyse.txt")) << "journal précédent\r\n";
  auto e = Lot({"--cible", cible, "--rapport", "Analyse.txt"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_EQ(LitFichier(Chemin("Analyse.txt")), "journal précédent\r\n");
}

// The report of an earlier run is replaced, after a refused command line as after a run.
TEST_F(LotRapport, RemplaceLeRapportDUnRunPrecedent) {
  auto e = Lot({"--cible", Chemin("absente.mdb"), "--rapport", "r.json"});
  ASSERT_EQ(e.code, 2) << e.sortie;
  e = Lot({"--cible", "x.mdb", "--options", "9", "--rapport", "r.json"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  auto rapport = nlohmann::json::parse(LitFichier(Chemin("r.json")));
  EXPECT_NE(rapport["erreur"].get<std::string>().find("--options"), std::string::npos);
  e = Lot({"--cible", Chemin("absente.mdb"), "--rapport", "r.json"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  rapport = nlohmann::json::parse(LitFichier(Chemin("r.json")));
  EXPECT_EQ(rapport["dossiers"][0]["issue"], "refusee");
}

// A report that cannot be written is said in French, before the run; an option taken for its
// path is no path.
TEST_F(LotRapport, UnRapportImpossibleEstDitEnFrancaisAvantLeRun) {
  fs::create_directory(Chemin("dossier"));
  for (const std::string& chemin : {std::string("absent/r.json"), std::string("dossier")}) {
    auto e = Lot({"--foo", "--rapport", chemin});
    EXPECT_EQ(e.code, 2) << e.sortie;
    EXPECT_FALSE(ParleAnglais(e.sortie)) << e.sortie;
    EXPECT_NE(e.sortie.find("« " + chemin + " »"), std::string::npos) << e.sortie;
  }
  // Even for root, no file can be made in /proc: the run does not start for a report it would lose.
  auto e = Lot({"--cible", CreePetiteBase("Compta.mdb"), "--rapport", "/proc/r.json"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_FALSE(ParleAnglais(e.sortie)) << e.sortie;
  EXPECT_FALSE(fs::exists(Chemin("Analyse.txt"))) << e.sortie;

  e = Lot({"--rapport", "--cible", "x.mdb"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_FALSE(fs::exists(Chemin("--cible")));
}

// A database refused for not being there: the message stays as the window shows it, the
// terminal and the report also say which file and why.
TEST_F(LotRapport, UneBaseRefuseeEstNommeeAvecSaRaison) {
  // A name no folder can hold is not said to be missing: the system's own cause is told.
  auto longue = Lot({"--cible", std::string(300, 'a') + ".mdb"});
  EXPECT_EQ(longue.code, 2) << longue.sortie;
  EXPECT_NE(longue.sortie.find(".mdb » : nom de fichier trop long"), std::string::npos) << longue.sortie;
  auto e = Lot({"--cible", "absente.mdb", "--rapport", "r.json"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_NE(e.sortie.find("Vous devez saisir une base valide !"), std::string::npos) << e.sortie;
  EXPECT_NE(e.sortie.find("Base à analyser refusée : « " + Chemin("absente.mdb") + " » : "), std::string::npos)
      << e.sortie;
  const auto rapport = nlohmann::json::parse(LitFichier(Chemin("r.json")));
  const auto& refus = rapport["dossiers"][0]["refus"];
  EXPECT_EQ(refus["base"], "Base à analyser");
  EXPECT_EQ(refus["chemin"], Chemin("absente.mdb"));
  EXPECT_NE(refus["raison"].get<std::string>().find("introuvable"), std::string::npos) << refus;

  e = Lot({"--cible", CreePetiteBase("Compta.mdb"), "--copie", "--rapport", "r.json"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_NE(e.sortie.find("Base modèle refusée : aucune base indiquée."), std::string::npos) << e.sortie;
}

}  // namespace
}  // namespace pilote_tests

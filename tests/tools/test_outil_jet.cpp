// The database tool on real Jet files: "decrire" gives the whole file, the same each time and
// the same as mdbtools sees it; "convertir" makes a database of the engine that describes exactly
// as its source, and refuses what it cannot convert without leaving anything behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include <optional>

#include "commun/EchantillonsJet.h"
#include "commun/FichiersTest.h"
#include "moteur/Moteur.h"

extern char** environ;

namespace {

using utireorg::tests::LitFichier;

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const std::vector<std::string> FichiersJet{"testV1997.mdb",      "indexTestV1997.mdb",           "test2V2000.mdb",
                                           "indexTestV2000.mdb", "testIndexPropertiesV2000.mdb", "fixedTextTestV2000.mdb"};

struct Execution {
  int code = -1;
  std::string sortie;
  std::string erreurs;
};

class OutilJet : public ::testing::Test {
 protected:
  void SetUp() override {
    temporaire_.emplace("outil_jet");
    dossier_ = temporaire_->Racine();
  }

  std::string Chemin(const std::string& nom) const { return (dossier_ / nom).string(); }

  // Runs a program (the tool, or one of mdbtools from the PATH) to its end.
  Execution Lance(const std::string& programme, const std::vector<std::string>& arguments) const {
    std::string sortie = Chemin("sortie.txt"), erreurs = Chemin("erreurs.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, erreurs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> mots{programme};
    mots.insert(mots.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& m : mots) argv.push_back(m.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Execution e;
    if (posix_spawnp(&pid, programme.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
      int statut = 0;
      ::waitpid(pid, &statut, 0);
      e.code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    e.sortie = LitFichier(sortie);
    e.erreurs = LitFichier(erreurs);
    return e;
  }
  Execution Outil(const std::vector<std::string>& arguments) const { return Lance(CHEMIN_OUTIL, arguments); }

  std::string Decrit(const std::string& base) {
    Execution e = Outil({"decrire", base});
    EXPECT_EQ(e.code, 0) << base << " : " << e.erreurs;
    return e.sortie;
  }

  // What mdbtools reads of a table: the number of records, one per line once the characters that
  // would break a line are escaped.
  std::size_t EnregistrementsMdb(const std::string& base, const std::string& table) {
    Execution e = Lance("mdb-export", {"-H", "-e", base, table});
    EXPECT_EQ(e.code, 0) << e.erreurs;
    std::size_t n = 0;
    for (char c : e.sortie)
      if (c == '\n') ++n;
    return n;
  }

  fs::path dossier_;
  std::optional<utireorg::tests::DossierTest> temporaire_;
};

TEST_F(OutilJet, DecrireDonneToutLeFichierEtToujoursLeMeme) {
  for (const auto& nom : FichiersJet) {
    SCOPED_TRACE(nom);
    ECHANTILLON_JET(source, nom);
    std::string texte = Decrit(source);
    EXPECT_EQ(Decrit(source), texte);
    Json d = Json::parse(texte);
    EXPECT_EQ(d["version"], nom.find("1997") != std::string::npos ? "3.0" : "4.0");

    Execution tables = Lance("mdb-tables", {"-1", source});
    ASSERT_EQ(tables.code, 0) << tables.erreurs;
    std::set<std::string> attendues, decrites;
    std::istringstream lignes(tables.sortie);
    for (std::string t; std::getline(lignes, t);)
      if (!t.empty()) attendues.insert(t);
    for (const auto& t : d["tables"]) {
      std::string table = t["nom"];
      decrites.insert(table);
      std::size_t enregistrements = t.contains("enregistrements") ? t["enregistrements"].size() : 0;
      EXPECT_EQ(enregistrements, EnregistrementsMdb(source, table)) << table;
      EXPECT_FALSE(t["champs"].empty()) << table;
    }
    EXPECT_EQ(decrites, attendues);
  }
}

TEST_F(OutilJet, LaBaseConvertieSeDecritExactementCommeSaSource) {
  for (const auto& nom : FichiersJet) {
    SCOPED_TRACE(nom);
    ECHANTILLON_JET(source, nom);
    std::string destination = Chemin(nom);
    Execution e = Outil({"convertir", source, destination});
    ASSERT_EQ(e.code, 0) << e.erreurs;
    EXPECT_EQ(e.sortie.rfind("Base convertie : " + destination + " (", 0), 0u) << e.sortie;
    EXPECT_EQ(moteur::FormatDuFichier(destination), moteur::FormatFichier::Moteur);
    EXPECT_EQ(Decrit(destination), Decrit(source));
    EXPECT_EQ(Outil({"verifier", destination}).code, 0);
  }
}

TEST_F(OutilJet, LaVersionDemandeeEstCelleDeLaBaseCreee) {
  ECHANTILLON_JET(source, "testV1997.mdb");
  Execution e = Outil({"convertir", source, Chemin("v4.mdb"), "--version", "4.0"});
  ASSERT_EQ(e.code, 0) << e.erreurs;
  EXPECT_NE(e.sortie.find("Jet 3.0 vers la version 4.0"), std::string::npos) << e.sortie;
  Json source3 = Json::parse(Decrit(source));
  Json convertie = Json::parse(Decrit(Chemin("v4.mdb")));
  EXPECT_EQ(convertie["version"], "4.0");
  source3["version"] = "4.0";
  EXPECT_EQ(convertie.dump(2), source3.dump(2));
}

TEST_F(OutilJet, CeQuiNePeutEtreConvertiEstRefuseSansRienLaisser) {
  ECHANTILLON_JET(source, "testV1997.mdb");
  ECHANTILLON_JET(ulterieur, "testV2007.accdb");
  const std::string destination = Chemin("convertie.mdb");
  struct Cas {
    std::vector<std::string> arguments;
    std::string erreur;
  };
  std::vector<Cas> cas{
      {{"convertir", ulterieur, destination}, "Erreur 3343 : "},
      {{"convertir", Chemin("absente.mdb"), destination}, "Erreur 3024 : "},
      {{"convertir", source, destination, "--version", "5.0"}, "Version '5.0' inconnue"},
      {{"convertir", source, Chemin("dossier/absent/convertie.mdb")}, "Erreur 3044 : "},
  };
  for (const auto& c : cas) {
    SCOPED_TRACE(c.arguments[1]);
    Execution e = Outil(c.arguments);
    EXPECT_EQ(e.code, 2);
    EXPECT_NE(e.erreurs.find(c.erreur), std::string::npos) << e.erreurs;
    EXPECT_FALSE(fs::exists(destination));
  }

  // A database of the engine is no Jet file; an existing destination is never overwritten.
  ASSERT_EQ(Outil({"convertir", source, destination}).code, 0);
  std::string avant = LitFichier(destination);
  Execution deja = Outil({"convertir", destination, Chemin("encore.mdb")});
  EXPECT_EQ(deja.code, 2);
  EXPECT_NE(deja.erreurs.find("est déjà une base du moteur"), std::string::npos) << deja.erreurs;
  EXPECT_FALSE(fs::exists(Chemin("encore.mdb")));
  Execution existe = Outil({"convertir", source, destination});
  EXPECT_EQ(existe.code, 2);
  EXPECT_NE(existe.erreurs.find("Erreur 3204 : "), std::string::npos) << existe.erreurs;
  EXPECT_EQ(LitFichier(destination), avant);
}

TEST_F(OutilJet, DecrireUnFormatUlterieurLeDitEnFrancais) {
  ECHANTILLON_JET(ulterieur, "testV2007.accdb");
  Execution e = Outil({"decrire", ulterieur});
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3343 : "), std::string::npos) << e.erreurs;
  EXPECT_TRUE(e.sortie.empty());
}

}  // namespace

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/Registre.h"
#include "commun/FenetreFactice.h"
#include "messages/AfficheMessage.h"
#include "commun/FichiersTest.h"

namespace fs = std::filesystem;
using namespace utireorg;

namespace {

// Keeps an environment variable as it was before the test.
class VariableEnvironnement {
 public:
  explicit VariableEnvironnement(const char* nom) : nom_(nom) {
    if (const char* v = std::getenv(nom)) ancienne_ = v;
  }
  ~VariableEnvironnement() {
    if (ancienne_) ::setenv(nom_, ancienne_->c_str(), 1);
    else ::unsetenv(nom_);
  }
  void Definit(const std::string& valeur) { ::setenv(nom_, valeur.c_str(), 1); }
  void Retire() { ::unsetenv(nom_); }

 private:
  const char* nom_;
  std::optional<std::string> ancienne_;
};

class RegistreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temporaire_.emplace("registre");
    dossier_ = temporaire_->Racine();
    registre_.Definit(dossier_.string());
  }
  void Ecrit(const std::string& racine, const std::string& contenu) {
    std::ofstream(dossier_ / (racine + ".ini"), std::ios::binary) << contenu;
  }
  void VersionInstallee(const std::string& ligne) {
    Ecrit("HKEY_LOCAL_MACHINE", "[SOFTWARE\\Microsoft\\Internet Explorer]\r\n" + ligne + "\r\n");
  }
  std::vector<std::string> Avertissements() {
    std::vector<std::string> textes;
    VerifieIE([&](std::string_view t) { textes.emplace_back(t); });
    return textes;
  }

  fs::path dossier_;
  std::optional<utireorg::tests::DossierTest> temporaire_;
  VariableEnvironnement registre_{"UTIREORG_REGISTRE"};
};

const char* const CleIE = "SOFTWARE\\Microsoft\\Internet Explorer";

TEST_F(RegistreTest, CleOuValeurAbsenteDonneLeDefaut) {
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Version", "défaut"), "défaut");  // no file
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Version"), "");
  Ecrit("HKEY_LOCAL_MACHINE", "[SOFTWARE\\Autre]\nVersion=9\n[SOFTWARE\\Microsoft\\Internet Explorer]\nBuild=1\n");
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Version", "x"), "x");
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", "SOFTWARE\\Absente", "Build", "x"), "x");
  EXPECT_EQ(LitRegistre("HKEY_CURRENT_USER", CleIE, "Build", "x"), "x");
}

TEST_F(RegistreTest, ValeurLueDansSaSectionSansEgardALaCasse) {
  Ecrit("HKEY_LOCAL_MACHINE",
        "; réglages\n[SOFTWARE\\Autre]\nVersion=9\n\n[software\\microsoft\\internet explorer]\n"
        "  version = 6.0.2800.1106  \r\nBuild=1\n");
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Version", "x"), "6.0.2800.1106");
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "BUILD"), "1");
}

TEST_F(RegistreTest, ValeurPresenteMaisVideDonneUnTexteVideEtNonLeDefaut) {
  VersionInstallee("Version=");
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Version", "défaut"), "");
}

TEST_F(RegistreTest, GuillemetsGardentLesBlancs) {
  VersionInstallee("Chemin=\"  C:\\Program Files \"");
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Chemin"), "  C:\\Program Files ");
}

TEST_F(RegistreTest, ValeurLongueCoupeeA254Caracteres) {
  VersionInstallee("Long=" + std::string(300, 'a'));
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Long"), std::string(254, 'a'));
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "é";
  VersionInstallee("Long=" + accents);
  std::string attendu;
  for (int i = 0; i < 254; ++i) attendu += "é";
  EXPECT_EQ(LitRegistre("HKEY_LOCAL_MACHINE", CleIE, "Long"), attendu);
}

TEST_F(RegistreTest, RacineNeSortPasDuDossierDuRegistre) {
  fs::create_directory(dossier_ / "sous");
  std::ofstream(dossier_ / "sous" / "RACINE.ini") << "[Cle]\nNom=secret\n";
  EXPECT_EQ(LitRegistre("../" + dossier_.filename().string() + "/sous/RACINE", "Cle", "Nom", "non"), "non");
  EXPECT_EQ(LitRegistre("sous/RACINE", "Cle", "Nom", "non"), "non");
}

TEST_F(RegistreTest, DossierParDefautSuitXdgPuisLeDossierPersonnel) {
  VariableEnvironnement xdg("XDG_CONFIG_HOME"), maison("HOME");
  registre_.Retire();
  xdg.Definit("/tmp/config-essai");
  EXPECT_EQ(DossierRegistre(), "/tmp/config-essai/utireorg/registre");
  xdg.Retire();
  maison.Definit("/home/essai");
  EXPECT_EQ(DossierRegistre(), "/home/essai/.config/utireorg/registre");
}

TEST_F(RegistreTest, Version6PasseLeControleSansAvertissement) {
  VersionInstallee("Version=6.0.2800.1106");
  EXPECT_EQ(VersionIE(), 6);
  EXPECT_TRUE(IEVersionCorrecte());
  EXPECT_TRUE(Avertissements().empty());
}

TEST_F(RegistreTest, Version472EchoueEtAvertit) {
  VersionInstallee("Version=4.72.3110.8");
  EXPECT_EQ(VersionIE(), 4);
  EXPECT_FALSE(IEVersionCorrecte());
  EXPECT_EQ(Avertissements(),
            std::vector<std::string>{"!La version d'Internet Explorer sur ce système n'est correcte.@"
                                     "Veuillez procéder à une actualisation en version 5.00 ou supérieure."});
}

TEST_F(RegistreTest, VersionAbsenteOuIllisibleVautZero) {
  EXPECT_EQ(VersionIE(), 0);
  EXPECT_EQ(Avertissements().size(), 1u);
  VersionInstallee("Version=   ");
  EXPECT_EQ(VersionIE(), 0);
  VersionInstallee("Version=six.0");
  EXPECT_EQ(VersionIE(), 0);
  VersionInstallee("Version=11");
  EXPECT_EQ(VersionIE(), 11);
}

TEST_F(RegistreTest, AvertissementMontreParLaFenetreDeMessageAvecLIconeDErreurSansBip) {
  tests::FenetreFactice fenetre;
  VersionInstallee("Version=4.72.3110.8");
  EXPECT_FALSE(VerifieIE([](std::string_view t) { AfficheMessage(t); }));
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].icone, 1);
  EXPECT_EQ(fenetre.messages[0].bips, 0);
  EXPECT_EQ(fenetre.messages[0].texte,
            "La version d'Internet Explorer sur ce système n'est correcte.\n"
            "Veuillez procéder à une actualisation en version 5.00 ou supérieure.");
  EXPECT_EQ(fenetre.bips, 0);
}

}  // namespace

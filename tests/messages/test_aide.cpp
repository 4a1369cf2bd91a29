#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "commun/FichiersTest.h"
#include "commun/FenetreFactice.h"
#include "messages/Aide.h"

namespace utireorg {
namespace {

using tests::DossierCourantTemporaire;
using tests::EcritFichier;
using tests::FenetreFactice;
using tests::LitFichier;

class AideTest : public testing::Test {
 protected:
  void SetUp() override {
    sortie = dossier.Racine() + "/arguments.txt";
    ::setenv("UTIREORG_AIDE", CHEMIN_aide_arguments, 1);
    ::setenv("UTIREORG_AIDE_SORTIE", sortie.c_str(), 1);
    DefinitDossierModele("/données/modèle");
  }
  void TearDown() override {
    ::unsetenv("UTIREORG_AIDE");
    ::unsetenv("UTIREORG_AIDE_SORTIE");
    DefinitDossierModele({});
  }

  // The arguments the help program received, once it has written them.
  std::vector<std::string> ArgumentsRecus() {
    auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!std::filesystem::exists(sortie) && std::chrono::steady_clock::now() < limite)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::string> arguments;
    std::string contenu = tests::LitFichier(sortie), ligne;
    for (char c : contenu) {
      if (c == '\n') {
        arguments.push_back(ligne);
        ligne.clear();
      } else {
        ligne += c;
      }
    }
    return arguments;
  }

  DossierCourantTemporaire dossier{"messages"};
  FenetreFactice fenetre;
  std::string sortie;
};

// Installed, the help program lies among the package's helper programs; in the build tree, beside
// the windowed program.
TEST_F(AideTest, LeProgrammeDAideEstCherchePresDuProgramme) {
  namespace fs = std::filesystem;
  const fs::path racine = dossier.Racine();
  fs::create_directories(racine / "usr/bin");
  fs::create_directories(racine / "usr/libexec/utireorg");
  EXPECT_EQ(ProgrammeAideDepuis((racine / "usr/bin").string()), (racine / "usr/bin/hlp").string());
  for (const fs::path& hlp : {racine / "usr/libexec/utireorg/hlp", racine / "usr/bin/hlp"}) {
    std::ofstream(hlp) << "#!/bin/sh\n";
    fs::permissions(hlp, fs::perms::owner_all);
    EXPECT_EQ(ProgrammeAideDepuis((racine / "usr/bin").string()), hlp.string());
  }
}

TEST_F(AideTest, SansContexteNiNumeroPasDeP) {
  AfficheAide(0);
  EXPECT_EQ(ArgumentsRecus(), (std::vector<std::string>{"/D:\"/données/modèle\""}));
  EXPECT_TRUE(fenetre.messages.empty());
  ASSERT_EQ(fenetre.pointeurs.size(), 2u);
  EXPECT_EQ(fenetre.pointeurs[0], PointeurSouris::Sablier);
  EXPECT_EQ(fenetre.pointeurs[1], PointeurSouris::Normal);
}

TEST_F(AideTest, NumeroDeLaFenetre) {
  AfficheAide(7);
  EXPECT_EQ(ArgumentsRecus(), (std::vector<std::string>{"/D:\"/données/modèle\"", "/P:7"}));
}

TEST_F(AideTest, LeContexteDonneLEmporteSurCeluiDeLaFenetre) {
  AfficheAide(5, 12);
  EXPECT_EQ(ArgumentsRecus(), (std::vector<std::string>{"/D:\"/données/modèle\"", "/P:12"}));
}

TEST_F(AideTest, DossierPasseTelQuelSansInterpreteur) {
  DefinitDossierModele("/tmp/a b/$(touch pirate); `x` & 'y'");
  AfficheAide(3);
  EXPECT_EQ(ArgumentsRecus(),
            (std::vector<std::string>{"/D:\"/tmp/a b/$(touch pirate); `x` & 'y'\"", "/P:3"}));
  EXPECT_FALSE(std::filesystem::exists("pirate"));
}

TEST_F(AideTest, ProgrammeAbsentUnSeulMessage) {
  ::setenv("UTIREORG_AIDE", (dossier.Racine() + "/absent").c_str(), 1);
  AfficheAide(4);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  const MessageAnalyse& m = fenetre.messages[0];
  EXPECT_EQ(m.icone, 2);
  EXPECT_EQ(m.bips, 1);
  EXPECT_EQ(m.texte, "Impossible d'ouvrir le fichier d'aide.");
  EXPECT_EQ(m.titre, "Aide");
  EXPECT_EQ(fenetre.pointeurs.back(), PointeurSouris::Normal);
}

TEST_F(AideTest, ProgrammeNonExecutable) {
  std::string programme = dossier.Racine() + "/hlp";
  tests::EcritFichier(programme, "#!/bin/sh\nexit 0\n");
  ::chmod(programme.c_str(), 0644);
  ::setenv("UTIREORG_AIDE", programme.c_str(), 1);
  AfficheAide(4);
  EXPECT_EQ(fenetre.messages.size(), 1u);
}

// A help program that gives up at once (its guide is missing, no display) shows nothing itself
// on screen: the window says it; one that stays open to show its page is left to the user.
TEST_F(AideTest, ProgrammeQuiEchoueAussitotUnMessage) {
  std::string programme = dossier.Racine() + "/hlp";
  tests::EcritFichier(programme, "#!/bin/sh\necho 'guide introuvable' >&2\nexit 2\n");
  ::chmod(programme.c_str(), 0755);
  ::setenv("UTIREORG_AIDE", programme.c_str(), 1);
  AfficheAide(4);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].texte, "Impossible d'ouvrir le fichier d'aide.");
  EXPECT_EQ(fenetre.pointeurs.back(), PointeurSouris::Normal);

  tests::EcritFichier(programme, "#!/bin/sh\nexec sleep 2\n");
  AfficheAide(4);
  EXPECT_EQ(fenetre.messages.size(), 1u);
}

TEST_F(AideTest, SansFenetreDemandeuseSeulLePointeurChange) {
  ::setenv("UTIREORG_AIDE", (dossier.Racine() + "/absent").c_str(), 1);
  AfficheAide(std::nullopt, 12);
  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_EQ(fenetre.pointeurs,
            (std::vector<PointeurSouris>{PointeurSouris::Sablier, PointeurSouris::Normal}));
}

TEST_F(AideTest, ProgrammeParDefautAcoteDeLExecutable) {
  ::unsetenv("UTIREORG_AIDE");
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(ProgrammeAide(), (executable.parent_path() / "hlp").string());
}

}  // namespace
}  // namespace utireorg

// The help program: its command line as the launcher writes it, the page of each context, the
// guide's own links, the choice between the desktop's browser and its own window, and that window.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QApplication>
#include <QPushButton>
#include <QTextBrowser>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "commun/FichiersTest.h"
#include "hlp/FenetreAide.h"
#include "hlp/Hlp.h"

namespace {

using utireorg::tests::LitFichier;

namespace fs = std::filesystem;

const fs::path Guide = fs::path(RACINE_PROJET) / "doc" / "aide";

QApplication& Application() {
  static int argc = 1;
  static char nom[] = "tests_hlp";
  static char* argv[] = {nom, nullptr};
  static auto* application = new QApplication(argc, argv);
  return *application;
}

TEST(ArgumentsHlp, LaLigneDuLanceurEstLue) {
  auto lus = hlp::LitArguments({"/D:\"/données/mon modèle\"", "/P:6080"});
  EXPECT_EQ(lus.dossierDonnees, "/données/mon modèle");
  EXPECT_EQ(lus.contexte, 6080);
  EXPECT_TRUE(lus.avertissements.empty());

  lus = hlp::LitArguments({"/d:\"\"", "/p:12"});  // before the first input check the folder is empty
  EXPECT_EQ(lus.dossierDonnees, "");
  EXPECT_EQ(lus.contexte, 12);

  lus = hlp::LitArguments({"/D:\"x\""});
  EXPECT_FALSE(lus.contexte.has_value());

  lus = hlp::LitArguments({"/P:douze", "--inconnue", "--fenetre", "--chemin"});
  EXPECT_FALSE(lus.contexte.has_value());
  EXPECT_TRUE(lus.fenetre);
  EXPECT_TRUE(lus.chemin);
  ASSERT_EQ(lus.avertissements.size(), 2u);
  EXPECT_NE(lus.avertissements[0].find("« douze »"), std::string::npos);
  EXPECT_NE(lus.avertissements[1].find("« --inconnue »"), std::string::npos);
}

TEST(ArgumentsHlp, ChaqueContexteASaPage) {
  EXPECT_EQ(hlp::PageDuContexte(6080), "fenetre.html");
  EXPECT_EQ(hlp::PageDuContexte(std::nullopt), "index.html");
  EXPECT_EQ(hlp::PageDuContexte(0), "index.html");
  EXPECT_EQ(hlp::PageDuContexte(4242), "index.html");
  for (auto contexte : {std::optional<long>(6080), std::optional<long>()})
    EXPECT_TRUE(fs::is_regular_file(Guide / hlp::PageDuContexte(contexte))) << hlp::PageDuContexte(contexte);
}

// Every link of the guide leads to a page of the guide, and to an anchor it has.
TEST(GuideHlp, ChaqueLienMeneAUnePageExistante) {
  std::set<std::string> pages;
  for (const auto& entree : fs::directory_iterator(Guide))
    if (entree.path().extension() == ".html") pages.insert(entree.path().filename().string());
  ASSERT_GE(pages.size(), 7u);
  const std::regex lien("href=\"([^\"#]*)(#([^\"]*))?\"");
  for (const std::string& page : pages) {
    const std::string texte = LitFichier(Guide / page);
    EXPECT_NE(texte.find("<title>"), std::string::npos) << page;
    for (std::sregex_iterator it(texte.begin(), texte.end(), lien), fin; it != fin; ++it) {
      std::string cible = (*it)[1].str().empty() ? page : (*it)[1].str();
      ASSERT_TRUE(pages.count(cible)) << page << " -> " << cible;
      if ((*it)[3].matched) {
        EXPECT_NE(LitFichier(Guide / cible).find("id=\"" + (*it)[3].str() + "\""), std::string::npos)
            << page << " -> " << cible << "#" << (*it)[3].str();
      }
    }
  }
}

TEST(GuideHlp, LeGuideEstCherchePuisRefuseSIlNyEstPas) {
  ::setenv("UTIREORG_GUIDE", Guide.c_str(), 1);
  EXPECT_EQ(hlp::DossierGuide("/nulle/part"), Guide.string());
  ::setenv("UTIREORG_GUIDE", (Guide / "absent").c_str(), 1);
  EXPECT_EQ(hlp::DossierGuide("/nulle/part"), "");
  ::unsetenv("UTIREORG_GUIDE");

  // Installed: the guide lies in share/utireorg/aide, two folders above the program.
  fs::path racine = fs::temp_directory_path() / ("hlp_" + std::to_string(::getpid()));
  fs::create_directories(racine / "usr/libexec/utireorg");
  fs::create_directories(racine / "usr/share/utireorg/aide");
  std::ofstream(racine / "usr/share/utireorg/aide/index.html") << "<title>x</title>";
  EXPECT_EQ(hlp::DossierGuide((racine / "usr/libexec/utireorg").string()),
            (racine / "usr/share/utireorg/aide").string());
  fs::remove_all(racine);
}

TEST(OuvertureHlp, NavigateurSurUnBureauSinonFenetre) {
  using hlp::Ouverture;
  EXPECT_EQ(hlp::ChoisitOuverture(false, true, true, false), Ouverture::Navigateur);
  EXPECT_EQ(hlp::ChoisitOuverture(true, true, true, false), Ouverture::Fenetre);   // --fenetre
  EXPECT_EQ(hlp::ChoisitOuverture(false, true, false, false), Ouverture::Fenetre);  // no xdg-open
  EXPECT_EQ(hlp::ChoisitOuverture(false, false, true, true), Ouverture::Fenetre);   // offscreen
  EXPECT_EQ(hlp::ChoisitOuverture(false, false, true, false), Ouverture::Impossible);
}

// The window shown when no browser can: the context's page, then the guide's own navigation.
TEST(FenetreHlp, LaPageDuContexteSAfficheEtSeParcourt) {
  Application();
  hlp::FenetreAide fenetre(QString::fromStdString(Guide.string()), QStringLiteral("fenetre.html"));
  fenetre.show();
  EXPECT_EQ(fenetre.Navigateur()->documentTitle(), QStringLiteral("La fenêtre principale"));
  EXPECT_EQ(fenetre.windowTitle(), QStringLiteral("Aide - La fenêtre principale"));
  EXPECT_TRUE(fenetre.Navigateur()->toPlainText().contains(QStringLiteral("Page des options")));
  EXPECT_FALSE(fenetre.BoutonPrecedent()->isEnabled());

  fenetre.Navigateur()->setSource(QUrl(QStringLiteral("journal.html")));
  EXPECT_EQ(fenetre.windowTitle(), QStringLiteral("Aide - Le journal d'analyse"));
  EXPECT_TRUE(fenetre.BoutonPrecedent()->isEnabled());
  fenetre.BoutonPrecedent()->click();
  EXPECT_EQ(fenetre.Navigateur()->documentTitle(), QStringLiteral("La fenêtre principale"));
  fenetre.BoutonSommaire()->click();
  EXPECT_TRUE(fenetre.Navigateur()->documentTitle().contains(QStringLiteral("Guide de l'utilisateur")));
}

// The program itself, as the launcher starts it: it finds the guide of the sources from the
// build tree; without any display it says where the page lies rather than fail silently.
TEST(ProgrammeHlp, TrouveLaPageEtSeRepliSansAffichage) {
  const std::string commande = std::string("env -u UTIREORG_GUIDE \"") + CHEMIN_HLP + "\" '/D:\"/x\"' /P:6080 --chemin";
  FILE* sortie = ::popen(commande.c_str(), "r");
  ASSERT_NE(sortie, nullptr);
  char ligne[4096] = {};
  ASSERT_NE(std::fgets(ligne, sizeof ligne, sortie), nullptr);
  EXPECT_EQ(::pclose(sortie), 0);
  EXPECT_EQ(fs::weakly_canonical(std::string(ligne, std::strlen(ligne) - 1)), fs::weakly_canonical(Guide / "fenetre.html"));

  const std::string sansAffichage = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"") + CHEMIN_HLP +
                                    "\" /P:6080 2>&1";
  sortie = ::popen(sansAffichage.c_str(), "r");
  ASSERT_NE(sortie, nullptr);
  std::string texte;
  while (std::fgets(ligne, sizeof ligne, sortie)) texte += ligne;
  int etat = ::pclose(sortie);
  EXPECT_EQ(WEXITSTATUS(etat), 1) << texte;
  EXPECT_NE(texte.find("aucun affichage disponible"), std::string::npos) << texte;
  EXPECT_NE(texte.find("fenetre.html"), std::string::npos) << texte;
}

struct Resultat {
  int code = -1;
  std::string texte;  // both outputs
};

Resultat Execute(const std::string& commande) {
  Resultat r;
  FILE* sortie = ::popen((commande + " 2>&1").c_str(), "r");
  if (!sortie) return r;
  char ligne[4096];
  while (std::fgets(ligne, sizeof ligne, sortie)) r.texte += ligne;
  int etat = ::pclose(sortie);
  r.code = WIFEXITED(etat) ? WEXITSTATUS(etat) : 128 + WTERMSIG(etat);
  return r;
}

// A display named but not there (a closed session, a wrong DISPLAY): no English text, no abort.
const std::string AffichageAbsent = "env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:87 ";

bool TexteDeQt(const std::string& texte) {
  return texte.find("qt.qpa") != std::string::npos || texte.find("This application") != std::string::npos;
}

TEST(ProgrammeHlp, UnAffichageInutilisableDonneLeCheminDeLaPage) {
  Resultat r = Execute(AffichageAbsent + "PATH=/nulle/part \"" + CHEMIN_HLP + "\" /P:6080");
  EXPECT_EQ(r.code, 1) << r.texte;
  EXPECT_NE(r.texte.find("fenetre.html"), std::string::npos) << r.texte;
  EXPECT_FALSE(TexteDeQt(r.texte)) << r.texte;
}

// A context number is positive: 0 or -1 is as wrong as a word, and said so.
TEST(ArgumentsHlp, UnContexteNulOuNegatifEstSignale) {
  for (const std::string contexte : {"/P:0", "/P:-1", "/P:abc"}) {
    auto lus = hlp::LitArguments({contexte});
    EXPECT_FALSE(lus.contexte.has_value()) << contexte;
    ASSERT_EQ(lus.avertissements.size(), 1u) << contexte;
    EXPECT_NE(lus.avertissements[0].find("« " + contexte.substr(3) + " »"), std::string::npos);
  }
}

// Without the guide, the program names the folder it looked in, and only that one.
TEST(ProgrammeHlp, SansGuideNommeLeDossierCherche) {
  Resultat r = Execute(std::string("UTIREORG_GUIDE=/nulle/part \"") + CHEMIN_HLP + "\" /P:6080");
  EXPECT_EQ(r.code, 2) << r.texte;
  EXPECT_NE(r.texte.find("« /nulle/part »"), std::string::npos) << r.texte;
  EXPECT_EQ(r.texte.find("/usr/share"), std::string::npos) << r.texte;
}

// The program with a window answers --help and --version without a display, and says in French
// that it has none to open its window on.
TEST(ProgrammeUtireorg, SansAffichageUnMessageEnFrancais) {
  const std::string sansAffichage = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"" CHEMIN_UTIREORG "\"";
  Resultat aide = Execute(sansAffichage + " --help");
  EXPECT_EQ(aide.code, 0) << aide.texte;
  EXPECT_NE(aide.texte.find("Utilisation :"), std::string::npos) << aide.texte;
  Resultat version = Execute(sansAffichage + " --version");
  EXPECT_EQ(version.code, 0) << version.texte;
  EXPECT_TRUE(std::regex_search(version.texte, std::regex("^utireorg [0-9]+\\.[0-9]+"))) << version.texte;

  for (const std::string& commande : {sansAffichage, AffichageAbsent + "\"" CHEMIN_UTIREORG "\""}) {
    Resultat r = Execute(commande);
    EXPECT_EQ(r.code, 1) << commande << r.texte;
    EXPECT_NE(r.texte.find("affichage"), std::string::npos) << r.texte;
    EXPECT_FALSE(TexteDeQt(r.texte)) << r.texte;
  }
}

}  // namespace

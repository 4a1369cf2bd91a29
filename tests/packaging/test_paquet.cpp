// The Debian package as a user gets it: built by cpack, extracted into a scratch root, its
// programs run from there; lintian finds no error in it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Resultat {
  int code = -1;
  std::string sortie;
};

// Runs a shell command line, its two outputs together.
Resultat Execute(const std::string& commande) {
  Resultat r;
  FILE* flux = ::popen((commande + " 2>&1").c_str(), "r");
  if (!flux) return r;
  char tampon[4096];
  for (std::size_t lus; (lus = std::fread(tampon, 1, sizeof tampon, flux)) > 0;) r.sortie.append(tampon, lus);
  int etat = ::pclose(flux);
  r.code = WIFEXITED(etat) ? WEXITSTATUS(etat) : -1;
  return r;
}

std::string Cite(const fs::path& chemin) { return "'" + chemin.string() + "'"; }

// The reverse-DNS name the desktop entry and the metadata share.
#define IdentifiantBureau "org.example.utireorg"

bool Present(const std::string& programme) { return Execute("command -v " + programme).code == 0; }

// One package for the whole program: building it is the slow part.
class Paquet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dossier_ = new fs::path(fs::temp_directory_path() / ("paquet_" + std::to_string(::getpid())));
    fs::remove_all(*dossier_);
    fs::create_directories(*dossier_);
    if (!Present("dpkg-deb")) return;
    Resultat r = Execute(std::string("'") + CHEMIN_CPACK + "' -G DEB -B " + Cite(*dossier_) + " --config '" +
                         CONFIGURATION_CPACK + "'");
    journalCpack_ = new std::string(r.sortie);
    const fs::path paquet = *dossier_ / ("utireorg_" VERSION_PROJET "_amd64.deb");
    if (r.code != 0 || !fs::exists(paquet)) return;
    if (Execute("dpkg-deb -x " + Cite(paquet) + " " + Cite(*dossier_ / "racine")).code != 0) return;
    paquet_ = new fs::path(paquet);
  }
  static void TearDownTestSuite() {
    std::error_code ignore;
    fs::remove_all(*dossier_, ignore);
  }

  void SetUp() override {
    if (!Present("dpkg-deb")) GTEST_SKIP() << "dpkg-deb absent (paquet Debian dpkg) : le paquet n'est pas essayé.";
    ASSERT_NE(paquet_, nullptr) << "cpack n'a pas construit utireorg_" VERSION_PROJET "_amd64.deb :\n"
                                << (journalCpack_ ? *journalCpack_ : std::string());
  }

  static fs::path Racine() { return *dossier_ / "racine"; }

  static fs::path* dossier_;
  static fs::path* paquet_;
  static std::string* journalCpack_;
};

fs::path* Paquet::dossier_ = nullptr;
fs::path* Paquet::paquet_ = nullptr;
std::string* Paquet::journalCpack_ = nullptr;

TEST_F(Paquet, InstalleLesProgrammesEtCeQuiLesAccompagne) {
  for (const char* fichier :
       {"usr/bin/utireorg", "usr/bin/utireorg-lot", "usr/bin/utireorg-base", "usr/libexec/utireorg/hlp",
        "usr/share/applications/" IdentifiantBureau ".desktop", "usr/share/metainfo/" IdentifiantBureau ".metainfo.xml",
        "usr/share/icons/hicolor/scalable/apps/utireorg.svg", "usr/share/icons/hicolor/48x48/apps/utireorg.png",
        "usr/share/man/man1/utireorg.1.gz", "usr/share/man/man1/utireorg-lot.1.gz",
        "usr/share/man/man1/utireorg-base.1.gz", "usr/share/bash-completion/completions/utireorg-lot",
        "usr/share/bash-completion/completions/utireorg-base", "usr/share/utireorg/aide/index.html",
        "usr/share/utireorg/aide/fenetre.html", "usr/share/doc/utireorg/copyright"})
    EXPECT_TRUE(fs::is_regular_file(Racine() / fichier)) << fichier;

  const std::string entree = Execute("cat " + Cite(Racine() / "usr/share/applications/" IdentifiantBureau ".desktop")).sortie;
  EXPECT_NE(entree.find("Name=Réorganisation de bases de données"), std::string::npos) << entree;
  EXPECT_NE(entree.find("Categories=Office;Database;"), std::string::npos) << entree;
  EXPECT_NE(entree.find("MimeType=application/vnd.ms-access;"), std::string::npos) << entree;

  // The libraries the programs need are declared, found by dpkg-shlibdeps.
  const std::string dependances = Execute("dpkg-deb -f " + Cite(*paquet_) + " Depends").sortie;
  for (const char* bibliotheque : {"libqt6widgets6", "libsqlite3-0", "libmdb3"})
    EXPECT_NE(dependances.find(bibliotheque), std::string::npos) << dependances;
}

TEST_F(Paquet, LesProgrammesExtraitsFonctionnent) {
  Resultat aide = Execute(Cite(Racine() / "usr/bin/utireorg-lot") + " --help");
  EXPECT_EQ(aide.code, 0) << aide.sortie;
  EXPECT_NE(aide.sortie.find("Utilisation"), std::string::npos) << aide.sortie;

  const fs::path base = *dossier_ / "Compta.mdb";
  Resultat creee = Execute(Cite(Racine() / "usr/bin/utireorg-base") + " creer " +
                           Cite(fs::path(RACINE_PROJET) / "demo/modele.json") + " " + Cite(base));
  ASSERT_EQ(creee.code, 0) << creee.sortie;
  Resultat verifiee = Execute(Cite(Racine() / "usr/bin/utireorg-base") + " verifier " + Cite(base));
  EXPECT_EQ(verifiee.code, 0) << verifiee.sortie;
  EXPECT_EQ(verifiee.sortie, "Base saine.\n");

  // The installed help program finds the installed guide, two folders above it.
  Resultat page = Execute("env -u UTIREORG_GUIDE " + Cite(Racine() / "usr/libexec/utireorg/hlp") + " /P:6080 --chemin");
  EXPECT_EQ(page.code, 0) << page.sortie;
  EXPECT_EQ(fs::weakly_canonical(page.sortie.substr(0, page.sortie.find('\n'))),
            fs::weakly_canonical(Racine() / "usr/share/utireorg/aide/fenetre.html"));
}

TEST_F(Paquet, LintianNeTrouveAucuneErreur) {
#ifdef UTIREORG_SANITIZERS_ACTIFS
  GTEST_SKIP() << "construction avec sanitizers : ce n'est pas le paquet distribué.";
#endif
  if (!Present("lintian")) GTEST_SKIP() << "lintian absent (paquet Debian lintian) : le paquet n'est pas contrôlé.";
  Resultat r = Execute("lintian " + Cite(*paquet_));
  for (std::size_t debut = 0; debut < r.sortie.size();) {
    std::size_t fin = r.sortie.find('\n', debut);
    std::string ligne = r.sortie.substr(debut, fin == std::string::npos ? std::string::npos : fin - debut);
    EXPECT_FALSE(ligne.starts_with("E: ")) << ligne;
    if (fin == std::string::npos) break;
    debut = fin + 1;
  }
}

// The desktop entry and the AppStream metadata pass their validators without a remark, pedantic
// ones included: software centres show the program from them.
TEST(Metadonnees, LesValidateursNeDisentRien) {
  const fs::path dossier = fs::path(RACINE_PROJET) / "packaging";
  if (!Present("appstreamcli")) GTEST_SKIP() << "appstreamcli absent (paquet Debian appstream).";
  Resultat appstream = Execute("appstreamcli validate --no-net --pedantic " + Cite(dossier / IdentifiantBureau ".metainfo.xml"));
  EXPECT_EQ(appstream.code, 0) << appstream.sortie;
  if (Present("desktop-file-validate")) {
    Resultat entree = Execute("desktop-file-validate " + Cite(dossier / IdentifiantBureau ".desktop"));
    EXPECT_EQ(entree.code, 0) << entree.sortie;
    EXPECT_EQ(entree.sortie, "");
  }
}

// The completions offer a path with spaces or accents as one word, as bash then writes it.
TEST(Completion, UnCheminAvecDesEspacesResteUnSeulMot) {
  const fs::path dossier = fs::temp_directory_path() / ("completion_" + std::to_string(::getpid()));
  fs::create_directories(dossier / "Logiciel é");
  const fs::path scripts = fs::path(RACINE_PROJET) / "packaging" / "completions";
  const std::string lot = "source " + Cite(scripts / "utireorg-lot") +
                          "; COMP_WORDS=(utireorg-lot --cible Log); COMP_CWORD=2; _utireorg_lot; "
                          "printf '<%s>\\n' \"${COMPREPLY[@]}\"";
  const std::string base = "source " + Cite(scripts / "utireorg-base") +
                           "; COMP_WORDS=(utireorg-base verifier Log); COMP_CWORD=2; _utireorg_base; "
                           "printf '<%s>\\n' \"${COMPREPLY[@]}\"";
  for (const std::string& script : {lot, base}) {
    std::ofstream(dossier / "essai.sh") << script << '\n';
    Resultat r = Execute("cd " + Cite(dossier) + " && bash essai.sh");
    EXPECT_EQ(r.sortie, "<Logiciel é>\n") << script;
  }
  fs::remove_all(dossier);
}

}  // namespace

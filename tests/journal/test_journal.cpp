// The analysis journal, checked byte by byte in the file and line by line in the window's view.
#include "journal/Journal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <optional>

#include "commun/FenetreFactice.h"
#include "commun/FichiersTest.h"
#include "common/Horodatage.h"

namespace fs = std::filesystem;
using utireorg::Journal;
using utireorg::tests::FenetreFactice;

namespace {

using utireorg::tests::EcritFichier;
using utireorg::tests::LitFichier;

const char* const Cr = "\r\n";

// Bytes that differ from one position to the next, so that a tail taken from the wrong place
// cannot pass for the right one.
std::string Motif(std::size_t taille) {
  std::string s(taille, '\0');
  for (std::size_t i = 0; i < taille; ++i) s[i] = static_cast<char>('!' + (i * 7 + i / 93) % 90);
  return s;
}

std::chrono::system_clock::time_point LocalLe(int jour, int mois, int annee, int heure, int minute) {
  std::tm t{};
  t.tm_mday = jour;
  t.tm_mon = mois - 1;
  t.tm_year = annee - 1900;
  t.tm_hour = heure;
  t.tm_min = minute;
  t.tm_sec = 42;
  t.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

// Caps the size a file of this process may reach, so that writes fail as on a full disk.
class LimiteTaille {
 public:
  explicit LimiteTaille(rlim_t octets) {
    ancienSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &ancienne_);
    rlimit nouvelle = ancienne_;
    nouvelle.rlim_cur = octets;
    ::setrlimit(RLIMIT_FSIZE, &nouvelle);
  }
  ~LimiteTaille() {
    ::setrlimit(RLIMIT_FSIZE, &ancienne_);
    ::signal(SIGXFSZ, ancienSignal_);
  }

 private:
  rlimit ancienne_{};
  void (*ancienSignal_)(int) = SIG_DFL;
};

class JournalAnalyse : public ::testing::Test {
 protected:
  void SetUp() override {
    ancien_ = fs::current_path();
    temporaire_.emplace("journal");
    dossier_ = temporaire_->Racine();
    fs::current_path(dossier_);
    utireorg::DefinitHorloge([] { return LocalLe(7, 12, 2026, 5, 24); });
  }
  void TearDown() override {
    utireorg::DefinitHorloge(nullptr);
    fs::current_path(ancien_);
  }

  std::string Fichier() const { return LitFichier(dossier_ / "Analyse.txt"); }
  std::vector<std::string> FichiersDuDossier() const { return utireorg::tests::FichiersDuDossier(dossier_.string()); }

  fs::path ancien_, dossier_;
  std::optional<utireorg::tests::DossierTest> temporaire_;
  FenetreFactice fenetre;
  Journal journal{fenetre};
};

// --- Line format ---

TEST_F(JournalAnalyse, LigneHorodateeEnCodePage1252AvecCrLf) {
  ASSERT_TRUE(journal.OuvertureJournal());
  EXPECT_EQ(journal.CheminJournal(), "Analyse.txt");
  journal.EcritureJournal("  Début Compactage base", true);
  journal.EcritureJournal("#ERR# Espace disque insuffisant pour sauvegarder les données.");
  EXPECT_EQ(Fichier(),
            "071226:0524   D\xE9" "but Compactage base\r\n"
            "#ERR# Espace disque insuffisant pour sauvegarder les donn\xE9" "es.\r\n");
  // The window works in UTF-8 and gets the same lines.
  EXPECT_EQ(fenetre.journal,
            "071226:0524   Début Compactage base\r\n"
            "#ERR# Espace disque insuffisant pour sauvegarder les données.\r\n");
}

TEST_F(JournalAnalyse, TexteVideHorodateDonneLHorodatageEtUnEspace) {
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("", true);
  journal.EcritureJournal("");
  EXPECT_EQ(Fichier(), "071226:0524 \r\n\r\n");
}

TEST_F(JournalAnalyse, TexteDeDeuxLignesHorodateSeulementDevantLaPremiere) {
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("première\r\nseconde", true);
  EXPECT_EQ(Fichier(), "071226:0524 premi\xE8re\r\nseconde\r\n");
  EXPECT_EQ(fenetre.journal, "071226:0524 première\r\nseconde\r\n");
}

// --- Open, closed, reopened ---

TEST_F(JournalAnalyse, EcrituresHorsOuvertureNeChangentRien) {
  EcritFichier("Analyse.txt", "ancien\r\n");
  journal.EcritureJournal("avant", true);
  journal.TitreJournal("avant");
  EXPECT_EQ(Fichier(), "ancien\r\n");
  EXPECT_EQ(fenetre.journal, "");
  EXPECT_FALSE(journal.EstOuvert());

  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("pendant");
  journal.FermetureJournal();
  EXPECT_FALSE(journal.EstOuvert());
  journal.EcritureJournal("après", true);
  journal.SectionJournal("après");
  EXPECT_EQ(Fichier(), "ancien\r\npendant\r\n");
  EXPECT_EQ(fenetre.journal, "pendant\r\n");
}

TEST_F(JournalAnalyse, DeuxOuverturesSuccessivesGardentToutEtAjoutentALaFin) {
  EcritFichier("Analyse.txt", "run 0\r\n");
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("run 1");
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("run 2");
  EXPECT_TRUE(journal.EstOuvert());
  EXPECT_EQ(Fichier(), "run 0\r\nrun 1\r\nrun 2\r\n");
  // The view is never cleared between runs either.
  EXPECT_EQ(fenetre.journal, "run 1\r\nrun 2\r\n");

  // A new journal object, as at the next use of the program, appends to the same file.
  Journal suivant(fenetre);
  ASSERT_TRUE(suivant.OuvertureJournal());
  suivant.EcritureJournal("run 3");
  EXPECT_EQ(Fichier(), "run 0\r\nrun 1\r\nrun 2\r\nrun 3\r\n");
}

TEST_F(JournalAnalyse, PrefixeDonneesPlaceLeFichierDansUnDossier) {
  fs::create_directory("donnees");
  journal.PrefixeDonnees("donnees/");
  ASSERT_TRUE(journal.OuvertureJournal());
  EXPECT_EQ(journal.CheminJournal(), "donnees/Analyse.txt");
  journal.EcritureJournal("ici");
  EXPECT_EQ(LitFichier("donnees/Analyse.txt"), "ici\r\n");
  EXPECT_FALSE(fs::exists("Analyse.txt"));
}

// --- Size limit ---

TEST_F(JournalAnalyse, FichierDeUnMillionDOctetsNEstPasTronque) {
  std::string ancien = Motif(1'000'000);
  EcritFichier("Analyse.txt", ancien);
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("nouvelle", true);
  EXPECT_EQ(Fichier(), ancien + "071226:0524 nouvelle\r\n");
}

TEST_F(JournalAnalyse, AuDelaDUnMillionGardeLesDerniers500000OctetsPuisLaLigne) {
  std::string ancien = Motif(1'000'001);
  EcritFichier("Analyse.txt", ancien);
  ::chmod("Analyse.txt", 0640);
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("après coupe", true);
  std::string attendu = ancien.substr(ancien.size() - 500'000) + "071226:0524 apr\xE8s coupe\r\n";
  std::string contenu = Fichier();
  ASSERT_EQ(contenu.size(), attendu.size());
  EXPECT_TRUE(contenu == attendu);
  EXPECT_EQ(fenetre.journal, "071226:0524 après coupe\r\n");

  // The journal goes on in the shortened file, which keeps its rights, with nothing left over.
  journal.EcritureJournal("suite");
  EXPECT_TRUE(Fichier() == attendu + "suite\r\n");
  EXPECT_EQ(fenetre.journal, "071226:0524 après coupe\r\nsuite\r\n");
  struct stat etat;
  ASSERT_EQ(::stat("Analyse.txt", &etat), 0);
  EXPECT_EQ(etat.st_mode & 0777, 0640u);
  EXPECT_EQ(FichiersDuDossier(), std::vector<std::string>{"Analyse.txt"});
}

TEST_F(JournalAnalyse, TailleComptePourLaLigneQuiDepasse) {
  // The check uses the length before each line: the line that crosses the limit is written,
  // the next one trims.
  std::string ancien = Motif(999'996);
  EcritFichier("Analyse.txt", ancien);
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("dépasse");  // 7 bytes + CR LF: 1,000,005
  EXPECT_EQ(Fichier().size(), 1'000'005u);
  journal.EcritureJournal("x");
  std::string apres = Fichier();
  ASSERT_EQ(apres.size(), 500'003u);
  EXPECT_EQ(apres.substr(apres.size() - 12), "d\xE9passe\r\nx\r\n");
}

// --- Failures never reach the caller ---

TEST_F(JournalAnalyse, EcritureImpossibleNeLevePasEtLaVueRecoitLaLigne) {
  EcritFichier("Analyse.txt", "ancien\r\n");
  ASSERT_TRUE(journal.OuvertureJournal());
  {
    LimiteTaille pleine(8);
    EXPECT_NO_THROW(journal.EcritureJournal("perdue", true));
    EXPECT_NO_THROW(journal.TitreJournal("perdu"));
  }
  EXPECT_EQ(Fichier(), "ancien\r\n");
  EXPECT_EQ(fenetre.journal.substr(0, 20), "071226:0524 perdue\r\n");
  // Once there is room again the journal carries on.
  journal.EcritureJournal("retrouvée");
  EXPECT_EQ(Fichier(), "ancien\r\nretrouv\xE9" "e\r\n");
}

TEST_F(JournalAnalyse, CoupeImpossibleLaisseLAncienJournalEntier) {
  std::string ancien = Motif(1'000'001);
  EcritFichier("Analyse.txt", ancien);
  ASSERT_TRUE(journal.OuvertureJournal());
  {
    LimiteTaille pleine(100'000);
    EXPECT_NO_THROW(journal.EcritureJournal("ligne", true));
  }
  EXPECT_TRUE(Fichier() == ancien);
  EXPECT_EQ(FichiersDuDossier(), std::vector<std::string>{"Analyse.txt"});
  EXPECT_EQ(fenetre.journal, "071226:0524 ligne\r\n");
  // The next line, with room again, trims as usual.
  journal.EcritureJournal("ensuite");
  EXPECT_TRUE(Fichier() == ancien.substr(ancien.size() - 500'000) + "ensuite\r\n");
}

TEST_F(JournalAnalyse, DossierALaPlaceDuJournalFaitEchouerLOuverture) {
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("premier run");
  fs::rename("Analyse.txt", "Ancien.txt");
  fs::create_directory("Analyse.txt");

  EXPECT_FALSE(journal.OuvertureJournal());
  EXPECT_EQ(journal.ErreurOuverture(), std::errc::is_a_directory);
  EXPECT_FALSE(journal.EstOuvert());
  EXPECT_NO_THROW(journal.EcritureJournal("second run", true));
  EXPECT_NO_THROW(journal.SectionJournal("second run"));
  EXPECT_EQ(fenetre.journal, "premier run\r\n");
  EXPECT_TRUE(fs::is_directory("Analyse.txt"));
  EXPECT_EQ(LitFichier("Ancien.txt"), "premier run\r\n");

  // Once the way is clear the next run has its journal again.
  fs::remove("Analyse.txt");
  EXPECT_TRUE(journal.OuvertureJournal());
  EXPECT_FALSE(journal.ErreurOuverture());
}

// --- Titles and sections ---

struct CasCadre {
  std::string texte;
  std::string champ;  // expected between "** " and " **"
};

std::string Blancs(int n) { return std::string(n, ' '); }
std::string Repete(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

TEST_F(JournalAnalyse, TitresCentresSurSoixanteQuinzeColonnes) {
  const std::string etoiles(75, '*');
  const std::string t27 = "Analyse de bases de données";
  const std::string t63 = Repete("a", 61) + "éè";
  const std::string t64 = Repete("a", 62) + "éè";
  const std::string t69 = "è" + Repete("b", 64) + "wxyz";
  const std::string t70 = Repete("c", 69) + "é";
  const std::vector<CasCadre> cas = {
      {"", Blancs(69)},
      {t27, Blancs(24) + t27 + Blancs(18)},
      {t63, Blancs(6) + t63},
      {t64, Blancs(6) + Repete("a", 62) + "é"},
      {t69, Blancs(3) + "è" + Repete("b", 64) + "w"},
      {t70, t70},
  };
  ASSERT_TRUE(journal.OuvertureJournal());
  std::string attendu;
  for (const auto& c : cas) {
    journal.TitreJournal(c.texte);
    attendu += etoiles + Cr + "** " + c.champ + " **" + Cr + etoiles + Cr;
  }
  EXPECT_EQ(fenetre.journal, attendu);

  // In the file each framed line is 75 bytes, one per character, except the unpadded one.
  std::istringstream lignes(Fichier());
  std::string ligne;
  std::vector<std::size_t> longueurs;
  while (std::getline(lignes, ligne)) longueurs.push_back(ligne.size());
  std::vector<std::size_t> attendues;
  for (std::size_t i = 0; i < cas.size(); ++i)
    attendues.insert(attendues.end(), {76, i + 1 == cas.size() ? 77u : 76u, 76});
  EXPECT_EQ(longueurs, attendues);
}

TEST_F(JournalAnalyse, DemiesColonnesArrondiesAuPair) {
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.TitreJournal("0123456789");  // (75 - 10) / 2 = 32.5 -> 32
  journal.TitreJournal("012345678");   // 33 -> 33
  journal.TitreJournal("01234567");    // 33.5 -> 34
  std::string attendu;
  const std::string etoiles(75, '*');
  attendu += etoiles + Cr + "** " + Blancs(32) + "0123456789" + Blancs(27) + " **" + Cr + etoiles + Cr;
  attendu += etoiles + Cr + "** " + Blancs(33) + "012345678" + Blancs(27) + " **" + Cr + etoiles + Cr;
  attendu += etoiles + Cr + "** " + Blancs(34) + "01234567" + Blancs(27) + " **" + Cr + etoiles + Cr;
  EXPECT_EQ(fenetre.journal, attendu);
}

TEST_F(JournalAnalyse, DeuxSectionsSepareesParDeuxLignesVides) {
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.SectionJournal("Réparation");
  journal.SectionJournal("Compactage");
  const std::string tirets(75, '-');
  std::string attendu = std::string(Cr) + tirets + Cr + "-- " + Blancs(32) + "Réparation" + Blancs(27) + " --" + Cr +
                        tirets + Cr + Cr;
  attendu += std::string(Cr) + tirets + Cr + "-- " + Blancs(32) + "Compactage" + Blancs(27) + " --" + Cr + tirets +
             Cr + Cr;
  EXPECT_EQ(fenetre.journal, attendu);
  EXPECT_NE(Fichier().find(std::string("\r\n\r\n\r\n") + tirets), std::string::npos);
  EXPECT_EQ(Fichier().substr(0, 2), "\r\n");
}

// --- Progress captions ---

TEST_F(JournalAnalyse, AvancementPoseLesDeuxLegendesEtLaisseVivreLaFenetre) {
  journal.AffichageAvancement("Compactage", "base de données principale");
  journal.AffichageAvancement("Vérification");
  using Paire = std::pair<std::string, std::string>;
  EXPECT_EQ(fenetre.legendes, (std::vector<Paire>{{"Compactage", "base de données principale"}, {"Vérification", ""}}));
  // Each call reaches the window, however close together.
  EXPECT_EQ(fenetre.evenements, 2);
  EXPECT_EQ(fenetre.journal, "");
}

TEST_F(JournalAnalyse, SansFenetreDonneeLaFenetreCouranteAuMomentDeLAppel) {
  Journal courant;  // built before the window it will write to
  FenetreFactice autre;  // becomes the current window
  ASSERT_TRUE(courant.OuvertureJournal());
  courant.EcritureJournal("vers la courante");
  courant.AffichageAvancement("étape", "détail");
  EXPECT_EQ(autre.journal, "vers la courante\r\n");
  EXPECT_EQ(autre.legendes.size(), 1u);
  EXPECT_EQ(fenetre.journal, "");
  // A journal given its window keeps to it.
  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("vers la sienne");
  EXPECT_EQ(fenetre.journal, "vers la sienne\r\n");
  EXPECT_EQ(autre.journal, "vers la courante\r\n");
}

TEST_F(JournalAnalyse, SansAucuneFenetreLeFichierEstQuandMemeEcrit) {
  utireorg::DefinitFenetre(nullptr);
  Journal seul;
  ASSERT_TRUE(seul.OuvertureJournal());
  EXPECT_NO_THROW(seul.EcritureJournal("seul"));
  EXPECT_NO_THROW(seul.AffichageAvancement("étape"));
  EXPECT_EQ(Fichier(), "seul\r\n");
}

// --- Viewer ---

class Visionneuse : public JournalAnalyse {
 protected:
  void SetUp() override {
    JournalAnalyse::SetUp();
    const char* ancien = std::getenv("UTIREORG_EDITEUR");
    avait_ = ancien != nullptr;
    if (avait_) ancienne_ = ancien;
  }
  void TearDown() override {
    if (avait_)
      ::setenv("UTIREORG_EDITEUR", ancienne_.c_str(), 1);
    else
      ::unsetenv("UTIREORG_EDITEUR");
    JournalAnalyse::TearDown();
  }
  bool avait_ = false;
  std::string ancienne_;
};

// Waits for a condition the started program brings about; gives up after a few seconds.
template <typename Condition>
bool Attend(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TEST_F(Visionneuse, DemarreLeProgrammeAvecLeCheminSansAttendreNiLaisserDeZombie) {
  // The stand-in viewer writes down its arguments, its process number and its open files.
  fs::path script = dossier_ / "visionneuse.sh";
  EcritFichier(script,
               "#!/bin/sh\n"
               "ls -l /proc/$$/fd > fd.tmp 2>&1\n"
               "{ echo $#; echo \"$1\"; echo $$; } > args.tmp\n"
               "mv fd.tmp fd.txt; mv args.tmp args.txt\n");
  ::chmod(script.c_str(), 0755);
  ::setenv("UTIREORG_EDITEUR", script.c_str(), 1);

  ASSERT_TRUE(journal.OuvertureJournal());
  journal.EcritureJournal("à voir");
  ASSERT_TRUE(journal.VisuRapport());
  ASSERT_TRUE(Attend([&] { return fs::exists(dossier_ / "args.txt"); }));

  std::istringstream args(LitFichier(dossier_ / "args.txt"));
  std::string nombre, chemin, pid;
  std::getline(args, nombre);
  std::getline(args, chemin);
  std::getline(args, pid);
  EXPECT_EQ(nombre, "1");
  EXPECT_EQ(chemin, "Analyse.txt");
  // The open journal is not handed down to the viewer.
  EXPECT_EQ(LitFichier(dossier_ / "fd.txt").find("Analyse.txt"), std::string::npos);
  // Once it has ended the viewer is collected: its process entry goes away.
  ASSERT_FALSE(pid.empty());
  EXPECT_TRUE(Attend([&] { return !fs::exists("/proc/" + pid); }));
  EXPECT_TRUE(journal.EstOuvert());
}

TEST_F(Visionneuse, ProgrammeIntrouvableRendFaux) {
  ::setenv("UTIREORG_EDITEUR", "/inexistant/visionneuse", 1);
  ASSERT_TRUE(journal.OuvertureJournal());
  EXPECT_FALSE(journal.VisuRapport());
  ::setenv("UTIREORG_EDITEUR", "visionneuse-inexistante-sur-ce-systeme", 1);
  EXPECT_FALSE(journal.VisuRapport());
}

TEST_F(Visionneuse, JournalJamaisOuvertRendFaux) {
  ::setenv("UTIREORG_EDITEUR", "true", 1);
  EXPECT_FALSE(journal.VisuRapport());
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <system_error>

#include "commun/FichiersTest.h"
#include "common/Ansi.h"
#include "common/Horodatage.h"
#include "common/LigneDeCommande.h"
#include "commun/FenetreFactice.h"
#include "messages/GestionErreur.h"
#include "moteur/Moteur.h"

namespace utireorg {
namespace {

using tests::DossierCourantTemporaire;
using tests::EcritFichier;
using tests::FenetreFactice;
using tests::LitFichier;

const std::string Fatal = "L'exécution du logiciel ne peut être poursuivie.\n\n";
const std::string NonFatal = "Erreur en cours d'exécution :\n\n";

std::vector<std::string> Lignes(const std::string& contenu) {
  std::vector<std::string> lignes;
  std::size_t debut = 0;
  for (std::size_t fin; (fin = contenu.find("\r\n", debut)) != std::string::npos; debut = fin + 2)
    lignes.push_back(contenu.substr(debut, fin - debut));
  if (debut < contenu.size()) lignes.push_back(contenu.substr(debut) + "<sans CR LF>");
  return lignes;
}

class GestionErreurTest : public testing::Test {
 protected:
  void SetUp() override {
    MemoriseLigneDeCommande(std::string());
    DefinitHorloge([] { return std::chrono::system_clock::time_point(std::chrono::seconds(1796621040)); });
    stamp = Horodatage();
  }
  void TearDown() override {
    DefinitHorloge({});
    MemoriseLigneDeCommande(std::string());
  }
  DossierCourantTemporaire dossier{"messages"};
  FenetreFactice fenetre;
  std::string stamp;
};

struct CasTable {
  std::vector<int> numeros;
  std::string debut;
  bool fatale;
};

TEST(TableErreurs, ChaqueNumeroTrouveSaLigneEtSaGravite) {
  const std::vector<CasTable> table = {
      {{5}, "Type incompatible.@@Si le problème persiste", true},
      {{7}, "Mémoire insuffisante.@@La machine n'a plus", true},
      {{9}, "Indice en dehors de la plage.@@", true},
      {{53, 623}, "Fichier non trouvé.", true},
      {{57, 3040}, "Problème de lecture ou d'écriture.", true},
      {{61, 3026, 3183}, "Votre disque ou votre répertoire est saturé.@Libérez", true},
      {{67, 75, 3025, 3037, 3042, 3048}, "Vérifiez le nombre de fichier définis", true},
      {{70}, "Accès non autorisé.@@Vous avez essayé", true},
      {{71}, "Disque non prêt.", true},
      {{321, 639, 640, 3041, 3265, 3015}, "La structure des fichiers est incompatible", true},
      {{367}, "Cette erreur est due à une mauvaise version", true},
      {{607, 3160}, "Fichier non ouvert.", true},
      {{627, 630, 632, 636, 3020, 3023, 3027, 3034}, "Opération non autorisée.", true},
      {{3036}, "Votre base a atteint sa taille maximale.@", true},
      {{626}, "Fin de fichier.", false},
      {{3021}, "Pas d'enregistrement courant.", false},
      {{3043}, "Impossible de lire ou d'écrire@@Erreur mettant", true},
      {{3046, 3186, 3187, 3188, 3189, 3211, 3212, 3218}, "L'enregistrement a déjà été réservé.", false},
      {{3050}, "Sortez de l'application, SHARE.EXE", true},
      {{3052}, "Le nombre de fichiers vérouillés définis par SHARE@", true},
      {{3056}, "La base ne peut être réparée.@Restaurez", true},
  };
  for (const auto& cas : table)
    for (int numero : cas.numeros) {
      ExplicationErreur e = ExpliqueErreur(numero, "description du moteur");
      EXPECT_EQ(e.texte.rfind(cas.debut, 0), 0u) << numero << " : " << e.texte;
      EXPECT_EQ(e.fatale, cas.fatale) << numero;
    }
  // Neighbours of the ranges are not part of them.
  for (int numero : {3185, 3190, 3210, 3213, 3022, 3044, 6, 8})
    EXPECT_EQ(ExpliqueErreur(numero, "Autre").texte, "Autre.") << numero;
}

TEST(TableErreurs, NumeroInconnuExpliqueParSaDescription) {
  ExplicationErreur e = ExpliqueErreur(3999, "Quelque chose a échoué");
  EXPECT_EQ(e.texte, "Quelque chose a échoué.");
  EXPECT_TRUE(e.fatale);
  EXPECT_EQ(ExpliqueErreur(3999, "").texte, "Problème de fichiers ou de matériel.");
  EXPECT_EQ(ExpliqueErreur(3024, "Fichier 'a.mdb' introuvable.").texte, "Fichier 'a.mdb' introuvable.");
}

TEST_F(GestionErreurTest, ErreurNonFataleMontreeEtPoursuivie) {
  EXPECT_EQ(GestionErreur("Réorganisation (BC)", 3021, "Aucun enregistrement en cours."), 0);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  const MessageAnalyse& m = fenetre.messages[0];
  EXPECT_EQ(m.icone, 1);
  EXPECT_EQ(m.bips, 2);
  EXPECT_EQ(m.titre, "Erreur");
  EXPECT_EQ(m.texte, NonFatal + "Pas d'enregistrement courant.\n\nRéférence : 3021 Réorganisation (BC)");
  ASSERT_EQ(m.boutons.size(), 1u);
  EXPECT_EQ(m.boutons[0].legende, "&Ok");
  EXPECT_EQ(m.contexteAide, 0);
}

TEST_F(GestionErreurTest, ErreurFataleArreteLAppelant) {
  EXPECT_EQ(GestionErreur("Réorganisation (FL)", 5, "Type incompatible"), 1);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].texte, Fatal + "Type incompatible.\n\nSi le problème persiste, contactez le service "
                                                "technique.\n\nRéférence : 5 Réorganisation (FL)");
}

TEST_F(GestionErreurTest, DebugEnMinusculesRendLaMainSansChangerLeTexte) {
  MemoriseLigneDeCommande("/autre /debug");
  EXPECT_EQ(GestionErreur("Réorganisation (FL)", 5, ""), 0);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].texte.rfind(Fatal, 0), 0u);
}

TEST_F(GestionErreurTest, EnregistrementVerrouilleNonFatal) {
  EXPECT_EQ(GestionErreur("x (T_UA)", 3187, "Verrouillé"), 0);
  EXPECT_EQ(fenetre.messages.at(0).texte.rfind(NonFatal + "L'enregistrement a déjà été réservé.", 0), 0u);
}

TEST_F(GestionErreurTest, NumeroInconnuSansDescription) {
  EXPECT_EQ(GestionErreur("x (IF)", 4242, ""), 1);
  EXPECT_EQ(fenetre.messages.at(0).texte,
            Fatal + "Problème de fichiers ou de matériel.\n\nRéférence : 4242 x (IF)");
}

TEST_F(GestionErreurTest, SansErreurRienNEstEcritNiMontre) {
  EXPECT_EQ(GestionErreur("x (BC)", 0, "rien"), 0);
  EXPECT_EQ(GestionErreur("x (BC)", moteur::Resultat{}), 0);
  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_FALSE(std::filesystem::exists("STE.JNL"));
}

TEST_F(GestionErreurTest, JournalDeCinqLignesEnCp1252) {
  fenetre.fenetres = {"Réorganisation", "Message"};
  GestionErreur("Réorganisation (BC)", moteur::ErreurMoteur(3021, "Aucun enregistrement en cours."));
  EXPECT_FALSE(JournalErreurOuvert());

  std::string contenu = LitFichier("STE.JNL");
  std::vector<std::string> lignes = Lignes(contenu);
  ASSERT_EQ(lignes.size(), 5u) << contenu;
  const std::string retrait = stamp + std::string(8, ' ');
  EXPECT_EQ(lignes[0], stamp + " ERREUR 3021(Aucun enregistrement en cours.)");
  EXPECT_EQ(lignes[1], retrait + "Txt:R\xE9organisation (BC)");
  EXPECT_TRUE(std::regex_match(lignes[2], std::regex(retrait + "MemPhys:\\d+ KO, MemDispo:\\d+ KO, MemUtil:-?\\d+ KO")))
      << lignes[2];
  EXPECT_EQ(lignes[3], retrait + "Rep:");
  EXPECT_EQ(lignes[4], retrait + "Forms:R\xE9organisation,Message");
}

TEST_F(GestionErreurTest, LeJournalSAllongeDUnAppelALAutre) {
  GestionErreur("a", 3021, "");
  GestionErreur("b", 3021, "");
  std::vector<std::string> lignes = Lignes(LitFichier("STE.JNL"));
  ASSERT_EQ(lignes.size(), 10u);
  EXPECT_EQ(lignes[1], stamp + "        Txt:a");
  EXPECT_EQ(lignes[6], stamp + "        Txt:b");
}

// A loop over thousands of records meeting the same failure tells it once per stage.
TEST_F(GestionErreurTest, UneErreurRepeteeDansUneEtapeNEstSignaleeQuUneFois) {
  {
    EtapeErreurs etape;
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(GestionErreur("Copie (T_UA)", 3043, "Erreur de disque"), 1);
    EXPECT_EQ(GestionErreur("Copie (T_UA)", 3021, ""), 0);
    EXPECT_EQ(GestionErreur("Autre (T_DA)", 3043, "Erreur de disque"), 1);
    ASSERT_EQ(fenetre.messages.size(), 3u);
    EXPECT_EQ(Lignes(LitFichier("STE.JNL")).size(), 15u);
  }
  {
    EtapeErreurs etape;
    GestionErreur("Copie (T_UA)", 3043, "Erreur de disque");
  }
  GestionErreur("Copie (T_UA)", 3043, "Erreur de disque");
  GestionErreur("Copie (T_UA)", 3043, "Erreur de disque");
  EXPECT_EQ(fenetre.messages.size(), 6u);
}

TEST_F(GestionErreurTest, JournalTropLongRameneAuxCinqMilleDerniersOctets) {
  std::string ancien;
  for (int i = 0; i < 10500; ++i) ancien += static_cast<char>('a' + i % 26 + (i / 26) % 2 * ('A' - 'a'));
  tests::EcritFichier("STE.JNL", ancien);
  ASSERT_TRUE(OuvreJournalErreur());
  EcritJournalErreur("Ligne après");
  FermeJournalErreur();
  EXPECT_EQ(LitFichier("STE.JNL"), ancien.substr(5500) + stamp + " Ligne apr\xE8s\r\n");
}

TEST_F(GestionErreurTest, JournalDeDixMilleOctetsPileNEstPasRaccourci) {
  std::string ancien(10000, 'z');
  tests::EcritFichier("STE.JNL", ancien);
  ASSERT_TRUE(OuvreJournalErreur());
  EcritJournalErreur("Suite");
  FermeJournalErreur();
  EXPECT_EQ(LitFichier("STE.JNL"), ancien + stamp + " Suite\r\n");
}

TEST_F(GestionErreurTest, JournalFermeNEcritRien) {
  FermeJournalErreur();
  EcritJournalErreur("perdu");
  EXPECT_FALSE(std::filesystem::exists("STE.JNL"));
}

TEST_F(GestionErreurTest, JournalImpossibleNEmpechePasLeMessage) {
  std::filesystem::create_directory("STE.JNL");
  EXPECT_EQ(GestionErreur("x (BC)", 3021, ""), 0);
  EXPECT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(GestionErreur("x (BC)", 53, ""), 1);
}

TEST_F(GestionErreurTest, SansFenetreLeGestionnaireRepondToujours) {
  DefinitFenetre(nullptr);
  testing::internal::CaptureStderr();
  int resultat = GestionErreur("x (BC)", 71, "");
  std::string sortie = testing::internal::GetCapturedStderr();
  EXPECT_EQ(resultat, 1);
  EXPECT_NE(sortie.find("Disque non prêt."), std::string::npos);
  EXPECT_EQ(Lignes(LitFichier("STE.JNL")).at(4), stamp + "        Forms:");
  DefinitFenetre(&fenetre);
}

TEST_F(GestionErreurTest, LesTransactionsEnCoursSontValidees) {
  std::string chemin = dossier.Racine() + "/base.mdb";
  {
    moteur::Database base = moteur::DBEngine::CreateDatabase(chemin);
    moteur::DBEngine::BeginTrans();
    moteur::DBEngine::BeginTrans();
    base.Properties().Append(base.CreateProperty("Marque", moteur::dbText, moteur::Valeur("oui")));
    ASSERT_EQ(moteur::DBEngine::NiveauTransaction(), 2);
    EXPECT_EQ(GestionErreur("x (T_UA)", 3021, ""), 0);
    EXPECT_EQ(moteur::DBEngine::NiveauTransaction(), 0);
    base.Close();
  }
  moteur::Database base = moteur::DBEngine::OpenDatabase(chemin);
  auto lu = moteur::Essaie([&] { EXPECT_EQ(base.Properties()["Marque"].Value(), moteur::Valeur("oui")); });
  EXPECT_EQ(lu.Number, 0) << lu.Description;
  base.Close();
}

TEST_F(GestionErreurTest, LitLExceptionEnCours) {
  int resultat = -1;
  try {
    throw moteur::ErreurMoteur(3046, "Verrouillé");
  } catch (...) {
    resultat = GestionErreur("x (BC)");
  }
  EXPECT_EQ(resultat, 0);
  EXPECT_NE(fenetre.messages.at(0).texte.find("Référence : 3046 x (BC)"), std::string::npos);
  EXPECT_EQ(GestionErreur("hors d'un catch"), 0);
  EXPECT_EQ(fenetre.messages.size(), 1u);
}

TEST(LitErreur, NumerosDesExceptions) {
  auto lit = [](auto exception) { return LitErreur(std::make_exception_ptr(exception)); };
  ErreurEnCours moteurErr = lit(moteur::ErreurMoteur(3022, "Doublon"));
  EXPECT_EQ(moteurErr.numero, 3022);
  EXPECT_EQ(moteurErr.description, "Doublon");
  EXPECT_EQ(lit(std::bad_alloc()).numero, 7);
  EXPECT_EQ(lit(std::out_of_range("indice")).numero, 9);
  EXPECT_EQ(lit(std::filesystem::filesystem_error("copie", std::make_error_code(std::errc::no_such_file_or_directory)))
                .numero,
            53);
  EXPECT_EQ(lit(std::system_error(std::make_error_code(std::errc::no_space_on_device))).numero, 61);
  EXPECT_EQ(lit(std::system_error(std::make_error_code(std::errc::permission_denied))).numero, 70);
  ErreurEnCours autre = lit(std::runtime_error("imprévu"));
  EXPECT_EQ(autre.numero, 51);
  EXPECT_EQ(autre.description, "imprévu");
  EXPECT_EQ(lit(42).numero, 51);
  EXPECT_EQ(LitErreur(nullptr).numero, 0);
}

// The user never reads the system's English: the common causes are told in French, with the
// system's number, and the path or action the exception names is kept.
TEST(LitErreur, LesErreursDuSystemeSontDitesEnFrancais) {
  auto lit = [](auto exception) { return LitErreur(std::make_exception_ptr(exception)); };
  const std::vector<std::pair<std::errc, std::string>> cas = {
      {std::errc::no_such_file_or_directory, "fichier ou dossier introuvable (erreur système 2)"},
      {std::errc::permission_denied, "accès refusé (erreur système 13)"},
      {std::errc::is_a_directory, "c'est un dossier, pas un fichier (erreur système 21)"},
      {std::errc::no_space_on_device, "plus de place sur le disque (erreur système 28)"},
      {std::errc::read_only_file_system, "système de fichiers en lecture seule (erreur système 30)"},
      {std::errc::file_too_large, "fichier trop volumineux (erreur système 27)"},
  };
  for (const auto& [code, texte] : cas) {
    ErreurEnCours e = lit(std::system_error(std::make_error_code(code), "Analyse.txt"));
    EXPECT_EQ(e.description, "Analyse.txt : " + texte + ".");
    EXPECT_EQ(e.description.find(std::make_error_code(code).message()), std::string::npos);
  }
  EXPECT_EQ(lit(std::system_error(std::make_error_code(std::errc::is_a_directory), "Analyse.txt")).numero, 51);
  EXPECT_EQ(lit(std::system_error(std::make_error_code(std::errc::file_too_large))).numero, 61);
  ErreurEnCours fs = lit(std::filesystem::filesystem_error("copie", "a.mdb", std::make_error_code(std::errc::permission_denied)));
  EXPECT_EQ(fs.numero, 70);
  EXPECT_NE(fs.description.find("accès refusé (erreur système 13)"), std::string::npos) << fs.description;
  EXPECT_EQ(fs.description.find("Permission denied"), std::string::npos) << fs.description;
  EXPECT_NE(fs.description.find("a.mdb"), std::string::npos) << fs.description;
}

TEST(InfosMemoire, FiguresCoherentes) {
  long total = -1, disponible = -1, utilise = -1;
  InfosMemoire(total, disponible, utilise);
  EXPECT_GT(total, 0);
  EXPECT_GT(disponible, 0);
  EXPECT_LE(disponible, total);
  EXPECT_EQ(utilise, total - disponible);
}

}  // namespace
}  // namespace utireorg

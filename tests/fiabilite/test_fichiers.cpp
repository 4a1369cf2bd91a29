// Bad files given as the database to reorganise or as the model, through the whole headless
// run: each run ends cleanly (no crash, no hang, exit 1 or 2), tells what is wrong in French on
// screen and in the journal, and leaves every file as it was. A file whose name holds blanks,
// quotes, brackets and accents is reorganised like any other.
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>

#include "common/Ansi.h"
#include "commun/EchantillonsJet.h"
#include "fiabilite/OutilsEntrees.h"

namespace {

namespace fs = std::filesystem;
using entrees::Issue;
using fiabilite::LitFichier;

// What the user reads when the run refuses the databases or cannot go on.
const char* const MessagesFrancais[] = {"Vous devez saisir une base valide !", "Base à analyser invalide !",
                                        "Base modèle invalide !", "Procédure interrompue !",
                                        "La réorganisation ne peut s'effectuer"};
// Files a run may add beside the databases, whatever its outcome.
const char* const NouveauxPermis[] = {"Analyse.txt", "STE.JNL", "sortie_programme.txt"};

std::string Aleatoire(std::size_t taille, unsigned graine, const std::string& debut = {}) {
  std::mt19937 generateur(graine);
  std::string octets = debut;
  while (octets.size() < taille) octets += static_cast<char>(generateur() & 0xFF);
  return octets;
}

// Changes a database behind the engine's back, as another program or a bad copy would.
void ExecuteSql(const std::string& chemin, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(chemin.c_str(), &db), SQLITE_OK);
  char* erreur = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &erreur);
  std::string message = erreur ? erreur : "";
  sqlite3_free(erreur);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message << "\n" << sql;
}

// A small pair (a record too long, a table to rebuild, nulls, a temporary table): every stage of
// a full run has work.
fiabilite::OptionsCouple PetitCouple(const std::string& nom = "Compta") {
  fiabilite::OptionsCouple options;
  options.clients = 45;
  options.factures = 30;
  options.lignesTemporaires = 5;
  options.nomLogiciel = nom;
  return options;
}

class TestFichiers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    reference_ = std::make_unique<fiabilite::DossierTest>("fichiers_ref", true);
    couple_ = fiabilite::CreeCoupleBases(reference_->Racine(), PetitCouple());
  }
  static void TearDownTestSuite() { reference_.reset(); }

  void SetUp() override {
    // Open to every user: one case runs the tool under another identity.
    for (const char* sous : {"", "/Logiciel", "/Logiciel/Dossier1", "/tmp"}) {
      fs::create_directories(Racine() + sous);
      ::chmod((Racine() + sous).c_str(), 0777);
    }
    fs::copy_file(couple_.modele, Modele());
    fs::copy_file(couple_.cible, Cible());
  }

  const std::string& Racine() const { return dossier_.Racine(); }
  std::string Modele() const { return Racine() + "/Logiciel/Compta.mdb"; }
  std::string Cible() const { return Racine() + "/Logiciel/Dossier1/Compta.mdb"; }

  Issue Lot(const std::vector<std::string>& arguments, entrees::Conditions conditions = {}) {
    conditions.environnement.emplace_back("TMPDIR", Racine() + "/tmp");
    return entrees::LanceSurveille(fiabilite::OutilLot(), arguments, Racine(), conditions);
  }

  // A run with every option, on a working copy, the records copied into the model.
  Issue RunComplet(const std::string& cible, const std::string& modele, entrees::Conditions conditions = {}) {
    return Lot({"--cible", cible, "--modele", modele, "--options", "0,1,2,3,4,5", "--copie", "--avance", "--oui"},
               conditions);
  }

  std::map<std::string, entrees::Empreinte> Etat() const {
    auto etat = entrees::ReleveDossier(Racine());
    for (const char* nom : NouveauxPermis) etat.erase(nom);
    return etat;
  }

  std::string Journal() const { return utireorg::DepuisAnsi(LitFichier(Racine() + "/Analyse.txt")); }

  // Nothing that was there has changed; nothing was left behind but the journals and the copy
  // of the records into the model (the run's own product).
  void VerifieRienChange(const std::map<std::string, entrees::Empreinte>& avant) {
    auto apres = Etat();
    for (const auto& [chemin, empreinte] : avant) {
      auto it = apres.find(chemin);
      EXPECT_TRUE(it != apres.end()) << "disparu : " << chemin;
      if (it != apres.end()) {
        EXPECT_TRUE(it->second == empreinte) << "modifié : " << chemin;
      }
    }
    for (const auto& [chemin, empreinte] : apres)
      EXPECT_TRUE(avant.count(chemin) || chemin == "Logiciel/Dossier1/copie_reorg.mdb") << "laissé : " << chemin;
  }

  // A bad input: a clean end with 1 or 2, a French message, a journal line, nothing changed.
  void VerifieEchecPropre(const Issue& e, const std::map<std::string, entrees::Empreinte>& avant) {
    Note(e);
    ASSERT_TRUE(e.Propre()) << "signal " << e.signal << (e.bloque ? ", bloqué" : "") << "\n" << e.sortie;
    EXPECT_TRUE(e.code == 1 || e.code == 2) << e.code << "\n" << e.sortie;
    EXPECT_TRUE(std::any_of(std::begin(MessagesFrancais), std::end(MessagesFrancais),
                            [&](const char* m) { return e.sortie.find(m) != std::string::npos; }))
        << e.sortie;
    std::string journal = Journal();
    EXPECT_NE(journal.find("#ERR# "), std::string::npos) << "aucune ligne d'erreur au journal :\n" << journal;
    VerifieRienChange(avant);
  }

  // How the run ended, in the test's output: what the suite found is read there too.
  static void Note(const Issue& e) {
    std::string fin = e.sortie.substr(0, e.sortie.rfind("\nJournal d'analyse"));
    fin = fin.substr(fin.rfind('\n') + 1);
    std::cout << "[ issue     ] code " << e.code << " : " << fin << "\n";
  }

  // The target replaced by something that is no database; the run must refuse it cleanly.
  void EssaieCible(const std::function<void(const std::string&)>& abime) {
    fs::remove(Cible());
    abime(Cible());
    auto avant = Etat();
    VerifieEchecPropre(RunComplet(Cible(), Modele()), avant);
  }

  void EssaieModele(const std::function<void(const std::string&)>& abime) {
    fs::remove(Modele());
    abime(Modele());
    auto avant = Etat();
    VerifieEchecPropre(RunComplet(Cible(), Modele()), avant);
  }

  // Records per table that a run may lose: those the record verification wrote to the journal
  // as defective (it deletes a record whose corrected copy the table refuses).
  std::map<std::string, long> Defectueux() const {
    std::map<std::string, long> nombres;
    const std::string marque = "Enregistrement défectueux : Table ";
    std::istringstream lignes(Journal());
    for (std::string l; std::getline(lignes, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      auto p = l.find(marque);
      if (p != std::string::npos) ++nombres[l.substr(p + marque.size())];
    }
    return nombres;
  }

  static void Vide(const std::string& chemin) { fiabilite::EcritFichier(chemin, ""); }
  static void Hasard(const std::string& chemin) { fiabilite::EcritFichier(chemin, Aleatoire(64 * 1024, 7)); }
  // Random pages behind the engine's own header: the first bytes do not give it away.
  static void HasardEnTete(const std::string& chemin) {
    fiabilite::EcritFichier(chemin, Aleatoire(64 * 1024, 11, std::string("SQLite format 3\0", 16)));
  }
  static void Tronque(const std::string& chemin, std::size_t taille) {
    fiabilite::EcritFichier(chemin, LitFichier(couple_.cible).substr(0, taille));
  }
  static void Repertoire(const std::string& chemin) { fs::create_directory(chemin); }
  static void Tube(const std::string& chemin) { ASSERT_EQ(::mkfifo(chemin.c_str(), 0666), 0); }
  static void LienMort(const std::string& chemin) { fs::create_symlink(chemin + ".disparu", chemin); }

  static inline std::unique_ptr<fiabilite::DossierTest> reference_;
  static inline fiabilite::CoupleBases couple_;
  fiabilite::DossierTest dossier_{"fichiers", true};
};

TEST_F(TestFichiers, UneCibleVideEstRefusee) { EssaieCible(Vide); }
TEST_F(TestFichiers, UneCibleDOctetsAuHasardEstRefusee) { EssaieCible(Hasard); }
TEST_F(TestFichiers, UneCibleAuHasardDerriereUnEnTeteValideEstRefusee) { EssaieCible(HasardEnTete); }
TEST_F(TestFichiers, UneCibleTronqueeEstRefusee) {
  for (std::size_t taille : {std::size_t{100}, std::size_t{4096 + 17}, fs::file_size(couple_.cible) / 2}) {
    SCOPED_TRACE(taille);
    EssaieCible([&](const std::string& c) { Tronque(c, taille); });
  }
}
TEST_F(TestFichiers, UnDossierCommeCibleEstRefuse) { EssaieCible(Repertoire); }
TEST_F(TestFichiers, UnTubeCommeCibleEstRefuseSansAttendre) { EssaieCible(Tube); }
TEST_F(TestFichiers, UnLienVersRienCommeCibleEstRefuse) { EssaieCible(LienMort); }

TEST_F(TestFichiers, UnModeleVideEstRefuse) { EssaieModele(Vide); }
TEST_F(TestFichiers, UnModeleAuHasardEstRefuse) { EssaieModele(HasardEnTete); }
TEST_F(TestFichiers, UnModeleTronqueEstRefuse) {
  EssaieModele([&](const std::string& m) { fiabilite::EcritFichier(m, LitFichier(couple_.modele).substr(0, 5000)); });
}
TEST_F(TestFichiers, UnDossierCommeModeleEstRefuse) { EssaieModele(Repertoire); }
TEST_F(TestFichiers, UnTubeCommeModeleEstRefuseSansAttendre) { EssaieModele(Tube); }
TEST_F(TestFichiers, UnLienVersRienCommeModeleEstRefuse) { EssaieModele(LienMort); }

// Without the record copy the model is not looked at before the run: the structure verification
// finds it one folder up and meets a file it cannot open.
TEST_F(TestFichiers, UnModeleIlisibleTrouveParLaVerificationArreteLeRun) {
  for (auto abime : {Hasard, Vide}) {
    fs::remove(Modele());
    abime(Modele());
    fs::remove(Racine() + "/Analyse.txt");
    auto avant = Etat();
    auto e = Lot({"--cible", Cible(), "--options", "0,1,2,3,4", "--avance", "--oui"});
    VerifieEchecPropre(e, avant);
    EXPECT_NE(Journal().find("#ERR# Base modèle " + Modele() + " illisible"), std::string::npos) << Journal();
  }
}

// A file with no rights for the user who runs the program. chmod 000 stops no one when the tests
// run as root: the run is then made by an ordinary user.
TEST_F(TestFichiers, DesBasesIllisiblesPourLUtilisateurSontRefusees) {
  entrees::Conditions utilisateur;
  if (::geteuid() == 0) {
    passwd* personne = ::getpwnam("nobody");
    if (!personne) GTEST_SKIP() << "pas d'utilisateur « nobody » pour lancer le programme sans les droits de root";
    utilisateur.utilisateur = static_cast<int>(personne->pw_uid);
    utilisateur.groupe = static_cast<int>(personne->pw_gid);
  }
  for (const auto& [chemin, ligne] : {std::pair{Cible(), "Base à analyser refusée"}, std::pair{Modele(), "Base modèle refusée"}}) {
    SCOPED_TRACE(ligne);
    ::chmod(chemin.c_str(), 0);
    fs::remove(Racine() + "/Analyse.txt");
    auto avant = Etat();
    VerifieEchecPropre(RunComplet(Cible(), Modele(), utilisateur), avant);
    EXPECT_NE(Journal().find(ligne), std::string::npos) << Journal();
    ::chmod(chemin.c_str(), 0644);
  }
}

// The record copy writes "copie_reorg.mdb" beside the target, replacing what lies there: a target
// or a model that is that file (by any name that leads to it, in any case) is refused before the
// run, with or without a working copy, and nothing is deleted.
TEST_F(TestFichiers, UneCibleOuUnModeleQueLaCopieRemplaceraitSontRefuses) {
  const std::string dossier = Racine() + "/Logiciel/Dossier1/";
  fs::copy_file(Cible(), dossier + "copie_reorg.mdb");
  fs::copy_file(Modele(), dossier + "Copie_Reorg.MDB");
  fs::create_symlink("copie_reorg.mdb", dossier + "Lien.mdb");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cas = {
      {{"--cible", dossier + "copie_reorg.mdb", "--modele", Modele()}, "Base à analyser refusée"},
      {{"--cible", dossier + "Lien.mdb", "--modele", Modele()}, "Base à analyser refusée"},
      {{"--cible", Cible(), "--modele", dossier + "copie_reorg.mdb"}, "Base modèle refusée"},
      {{"--cible", Cible(), "--modele", dossier + "Copie_Reorg.MDB"}, "Base modèle refusée"},
  };
  for (const char* options : {"0,1,2,3,4,5", "0,1,2,4,5"}) {
    for (const auto& [bases, ligne] : cas) {
      SCOPED_TRACE(bases[1] + " / " + bases[3] + " --options " + options);
      fs::remove(Racine() + "/Analyse.txt");
      auto avant = Etat();
      std::vector<std::string> arguments = bases;
      arguments.insert(arguments.end(), {"--options", options, "--copie", "--avance", "--oui"});
      auto e = Lot(arguments);
      VerifieEchecPropre(e, avant);
      EXPECT_EQ(e.code, 2) << e.sortie;
      EXPECT_NE(e.sortie.find("est celui que la copie des"), std::string::npos) << e.sortie;
      EXPECT_NE(Journal().find(ligne), std::string::npos) << Journal();
    }
  }
}

// A file its owner made read-only (0444) is not replaced nor written, with a working copy or
// without, and the message says it is read-only rather than damaged. Root writes anything: the
// run is made by an ordinary user when the tests run as root, and by root as well.
TEST_F(TestFichiers, UneBaseEnLectureSeuleNEstNiRemplaceeNiDiteEndommagee) {
  std::vector<entrees::Conditions> identites{{}};
  if (::geteuid() == 0) {
    if (passwd* personne = ::getpwnam("nobody")) {
      entrees::Conditions nobody;
      nobody.utilisateur = static_cast<int>(personne->pw_uid);
      nobody.groupe = static_cast<int>(personne->pw_gid);
      identites.push_back(nobody);
    } else {
      std::cout << "[ ignoré    ] pas d'utilisateur « nobody » : essai sous root seulement\n";
    }
  }
  ::chmod(Cible().c_str(), 0444);
  for (const auto& identite : identites) {
    for (const char* options : {"0,1,2,3,4,5", "0,1,2,4,5"}) {
      SCOPED_TRACE(std::string(identite.utilisateur < 0 ? "utilisateur courant" : "nobody") + ", --options " + options);
      fs::remove(Racine() + "/Analyse.txt");
      auto avant = Etat();
      auto e = Lot({"--cible", Cible(), "--modele", Modele(), "--options", options, "--copie", "--avance", "--oui"},
                   identite);
      ASSERT_TRUE(e.Propre()) << e.sortie;
      EXPECT_NE(e.code, 0) << e.sortie;
      EXPECT_NE(e.sortie.find("lecture seule"), std::string::npos) << e.sortie;
      EXPECT_EQ(e.sortie.find("endommagée"), std::string::npos) << e.sortie;
      EXPECT_NE(Journal().find("#ERR# Base à analyser refusée : « " + Cible() + " » : le fichier est en lecture seule."),
                std::string::npos)
          << Journal();
      VerifieRienChange(avant);
    }
  }
  ::chmod(Cible().c_str(), 0644);
}

// An ordinary user for the cases root's rights would hide: root itself when the tests do not run
// as root, nothing when they do and the system has no such user.
std::optional<entrees::Conditions> UtilisateurOrdinaire() {
  entrees::Conditions conditions;
  if (::geteuid() != 0) return conditions;
  passwd* personne = ::getpwnam("nobody");
  if (!personne) return std::nullopt;
  conditions.utilisateur = static_cast<int>(personne->pw_uid);
  conditions.groupe = static_cast<int>(personne->pw_gid);
  return conditions;
}

// A folder the run cannot create its files in (the engine's journal beside the target, the copy
// of the records, the file that replaces the target, the working copies) is refused before the
// run, saying which folder and why: never a lock nor damage, nothing changed, nothing left.
TEST_F(TestFichiers, UnDossierOuLeRunNePeutEcrireEstRefuseAuControle) {
  auto utilisateur = UtilisateurOrdinaire();
  if (!utilisateur) GTEST_SKIP() << "pas d'utilisateur « nobody » pour lancer le programme sans les droits de root";
  if (utilisateur->utilisateur >= 0) {
    ASSERT_EQ(::chown(Cible().c_str(), static_cast<uid_t>(utilisateur->utilisateur),
                      static_cast<gid_t>(utilisateur->groupe)), 0);
  }
  const std::string dossierCible = Racine() + "/Logiciel/Dossier1";
  const std::string dossierTemporaire = Racine() + "/tmp";
  const std::vector<std::pair<std::string, std::string>> dossiers = {
      {dossierCible, "#ERR# Base à analyser refusée : « " + Cible() + " » : son dossier « " + dossierCible + "/ » n'est pas accessible en écriture"},
      {dossierTemporaire, "#ERR# Dossier temporaire « " + dossierTemporaire + " » refusé : il n'est pas accessible en écriture"}};
  for (const auto& [dossier, ligne] : dossiers) {
    ::chmod(dossier.c_str(), 0555);
    for (const char* options : {"0,1,2", "0,1,2,3", "0,1,2,3,4,5"}) {
      SCOPED_TRACE(dossier + " --options " + options);
      fs::remove(Racine() + "/Analyse.txt");
      auto avant = Etat();
      auto e = Lot({"--cible", Cible(), "--modele", Modele(), "--options", options, "--copie", "--avance", "--oui"},
                   *utilisateur);
      Note(e);
      ASSERT_TRUE(e.Propre()) << e.sortie;
      EXPECT_EQ(e.code, 2) << e.sortie;
      EXPECT_NE(e.sortie.find("n'est pas accessible en écriture"), std::string::npos) << e.sortie;
      EXPECT_NE(e.sortie.find("accès refusé"), std::string::npos) << e.sortie;
      for (const char* absent : {"endommagée", "déjà ouvert", "autre application", "verrouillé"})
        EXPECT_EQ(e.sortie.find(absent), std::string::npos) << absent << "\n" << e.sortie;
      EXPECT_NE(Journal().find(ligne), std::string::npos) << Journal();
      VerifieRienChange(avant);
    }
    ::chmod(dossier.c_str(), 0777);
  }
}

// A name so long that the files the run makes beside the target (the engine's journal, the file
// that replaces it) or the processed copy it keeps could not be named is refused before the run
// as too long, never taken for damage. A name that leaves them room is reorganised.
TEST_F(TestFichiers, UnNomTropLongPourLesFichiersDuRunEstRefuseAuControle) {
  const std::string dossier = Racine() + "/Logiciel/Dossier1/";
  for (std::size_t longueur : {250u, 240u}) {
    const std::string cible = dossier + std::string(longueur, 'n') + ".mdb";
    fs::copy_file(Cible(), cible);
    for (const char* options : {"0,1,2", "0,1,2,3"}) {
      SCOPED_TRACE(std::to_string(longueur) + " caractères, --options " + options);
      fs::remove(Racine() + "/Analyse.txt");
      auto avant = Etat();
      auto e = Lot({"--cible", cible, "--options", options, "--oui"});
      Note(e);
      ASSERT_TRUE(e.Propre()) << e.sortie;
      EXPECT_EQ(e.code, 2) << e.sortie;
      EXPECT_NE(e.sortie.find("est trop long"), std::string::npos) << e.sortie;
      EXPECT_EQ(e.sortie.find("endommagée"), std::string::npos) << e.sortie;
      EXPECT_NE(Journal().find("#ERR# Base à analyser refusée : « " + cible + " » : nom de fichier trop long"),
                std::string::npos)
          << Journal();
      VerifieRienChange(avant);
    }
    fs::remove(cible);
  }
  const std::string cible = dossier + std::string(200, 'n') + ".mdb";
  fs::copy_file(Cible(), cible);
  auto e = Lot({"--cible", cible, "--options", "0,1,2,3", "--oui"});
  EXPECT_EQ(e.code, 0) << e.sortie;
}

// A folder where the journal should be: the run asks before it starts, says where it would have
// written and why in French, and the program does not end on it. Declined, nothing is run; run
// without a journal, nothing is corrected or deleted, since the journal is the only trace of the
// values a correction cuts.
TEST_F(TestFichiers, UnDossierALaPlaceDuJournalEstSignaleAvantLeRun) {
  fs::create_directory(Racine() + "/Analyse.txt");
  const std::string chemin = fs::canonical(Racine()).string() + "/Analyse.txt";
  for (const char* reponse : {"2", "1"}) {
    SCOPED_TRACE(std::string("réponse ") + reponse);
    auto avant = Etat();
    auto e = Lot({"--cible", Cible(), "--modele", Modele(), "--options", "0,1,2,3,4,5", "--copie", "--avance",
                  "--repondre", reponse, "--oui"});
    Note(e);
    ASSERT_TRUE(e.Propre()) << e.sortie;
    EXPECT_EQ(e.code, 1) << e.sortie;
    EXPECT_NE(e.sortie.find("Le journal d'analyse ne peut pas être ouvert :\n« " + chemin + " » :\nc'est un dossier"),
              std::string::npos)
        << e.sortie;
    for (const char* absent : {"Is a directory", "a été supprimé", "ont été supprimés", "a été corrigé", "ont été corrigés"})
      EXPECT_EQ(e.sortie.find(absent), std::string::npos) << absent << "\n" << e.sortie;
    // The journal stops nothing. The only errors shown are those of the record-by-record copy,
    // which reports each record the copy refuses as it goes.
    for (auto p = e.sortie.find("ne peut être poursuivie"); p != std::string::npos;
         p = e.sortie.find("ne peut être poursuivie", p + 1)) {
      const auto reference = e.sortie.find("Référence : ", p);
      ASSERT_NE(reference, std::string::npos) << e.sortie;
      EXPECT_EQ(e.sortie.substr(e.sortie.find('\n', reference) - 7, 7), " (T_UA)") << e.sortie.substr(p, 300);
    }
    if (std::string(reponse) == "2") {
      EXPECT_EQ(e.sortie.find("Sauvegarde"), std::string::npos) << "le run a eu lieu\n" << e.sortie;
    } else {
      EXPECT_NE(e.sortie.find("réorganisation lancée sans journal"), std::string::npos) << e.sortie;
      EXPECT_NE(e.sortie.find("les enregistrements défectueux ne sont ni corrigés ni supprimés"), std::string::npos)
          << e.sortie;
    }
    VerifieRienChange(avant);
    EXPECT_TRUE(fs::is_directory(Racine() + "/Analyse.txt"));
  }
}

// A folder that refuses writing, beside the target: the copy of the records (from an engine model
// or a Jet one) and the repair are refused at the input check, which names the folder and does not
// call the database damaged, and nothing changes. Run by an ordinary user, the folder's rights being nothing to root.
TEST_F(TestFichiers, UnDossierQuiRefuseLEcritureEstDitSansParlerDeDommage) {
  entrees::Conditions utilisateur;
  if (::geteuid() == 0) {
    passwd* personne = ::getpwnam("nobody");
    if (!personne) GTEST_SKIP() << "pas d'utilisateur « nobody » pour lancer le programme sans les droits de root";
    utilisateur.utilisateur = static_cast<int>(personne->pw_uid);
    utilisateur.groupe = static_cast<int>(personne->pw_gid);
  }
  const std::string copie = Racine() + "/Logiciel/Dossier1/copie_reorg.mdb";
  const std::string modeleJet = echantillons::CheminJet("indexTestV2000.mdb");
  struct Cas {
    const char* nom;
    std::vector<std::string> options;
    std::string modele, nomme;
  };
  // A Jet model is converted into the copy, an engine one copied: both ways are refused alike.
  for (const Cas& cas : {Cas{"copie, modèle du moteur", {"--options", "0,1", "--copie"}, Modele(), copie},
                         Cas{"copie, modèle Jet", {"--options", "0,1", "--copie"}, Racine() + "/Logiciel/Jet.mdb", copie},
                         Cas{"réparation", {"--options", "1"}, Modele(), Cible()}}) {
    SCOPED_TRACE(cas.nom);
    if (cas.modele != Modele()) {
      if (modeleJet.empty()) continue;
      fs::copy_file(modeleJet, cas.modele, fs::copy_options::overwrite_existing);
      ::chmod(cas.modele.c_str(), 0666);
    }
    ::chmod(Cible().c_str(), 0666);
    fs::remove(Racine() + "/Analyse.txt");
    auto avant = Etat();
    std::vector<std::string> arguments{"--cible", Cible(), "--modele", cas.modele, "--oui"};
    arguments.insert(arguments.end(), cas.options.begin(), cas.options.end());
    ::chmod((Racine() + "/Logiciel/Dossier1").c_str(), 0555);
    auto e = Lot(arguments, utilisateur);
    ::chmod((Racine() + "/Logiciel/Dossier1").c_str(), 0777);
    ASSERT_TRUE(e.Propre()) << e.sortie;
    EXPECT_EQ(e.code, 2) << e.sortie;
    const std::string journal = Journal();
    const std::string dossier = Racine() + "/Logiciel/Dossier1";
    EXPECT_EQ(journal.find("endommagée"), std::string::npos) << journal;
    EXPECT_NE(journal.find("n'est pas accessible en écriture"), std::string::npos) << journal;
    EXPECT_NE(journal.find(dossier), std::string::npos) << journal;
    EXPECT_NE(e.sortie.find(dossier), std::string::npos) << e.sortie;
    VerifieRienChange(avant);
    EXPECT_FALSE(fs::exists(copie));
  }
}

// Blanks, both quotes, brackets and accents in the folders and in the file names: the run finds
// the model one folder up by its name, copies the records beside the target and ends well.
TEST_F(TestFichiers, UnNomAvecBlancsGuillemetsCrochetsEtAccentsSeReorganise) {
  const std::string nom = "Compta d'été [v2] \"bis\"";
  const auto couple = fiabilite::CreeCoupleBases(Racine() + "/Société l'\"Étoile\" [2024]", PetitCouple(nom));
  const auto origine = fiabilite::LitBase(couple.cible);

  auto e = RunComplet(couple.cible, couple.modele);
  ASSERT_TRUE(e.Propre()) << e.sortie;
  ASSERT_EQ(e.code, 0) << e.sortie;
  const std::string journal = Journal();
  EXPECT_NE(journal.find("Logiciel : " + nom + "\r\n"), std::string::npos) << journal;
  EXPECT_NE(journal.find("Purge table TmpCalcul"), std::string::npos) << "la base de référence n'a pas été trouvée";
  EXPECT_NE(journal.find("Fin de l'analyse de bases de données"), std::string::npos);
  EXPECT_EQ(journal.find("#ERR# Base"), std::string::npos) << journal;
  const auto apres = fiabilite::LitBase(couple.cible);
  EXPECT_TRUE(apres.integrite.empty());
  EXPECT_TRUE(apres.tables.count("Reglements")) << "la base modèle n'a pas été trouvée un dossier plus haut";
  EXPECT_EQ(apres.tables.at("Factures").enregistrements.size(), origine.tables.at("Factures").enregistrements.size());
  const std::string copie = (fs::path(couple.cible).parent_path() / "copie_reorg.mdb").string();
  ASSERT_TRUE(fs::exists(copie));
  EXPECT_FALSE(fiabilite::LitBase(copie).tables.at("Clients").enregistrements.empty());
  EXPECT_TRUE(fiabilite::FichiersDuDossier(Racine() + "/tmp").empty());
}

// --- Jet files ---------------------------------------------------------------------------------

// Whatever the engine makes of a Jet file (refused, or read and converted), the run ends cleanly
// and loses nothing: refused, every file is as it was; reorganised, each table of the file comes
// out with the records mdbtools counts in the original.
class TestFichiersJet : public TestFichiers, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    TestFichiers::SetUp();
    ECHANTILLON_JET(echantillon, GetParam());
    echantillon_ = echantillon;
  }

  // Records per table as mdbtools counts them in the original file; empty when it cannot.
  std::map<std::string, long> CompteMdb(const std::string& chemin) {
    std::map<std::string, long> comptes;
    const std::string lieu = Racine() + "/tmp";
    auto tables = entrees::LanceSurveille("/usr/bin/mdb-tables", {"-1", chemin}, lieu);
    if (tables.code == 0) {
      std::istringstream lignes(tables.sortie);
      for (std::string table; std::getline(lignes, table);) {
        if (table.empty()) continue;
        auto compte = entrees::LanceSurveille("/usr/bin/mdb-count", {chemin, table}, lieu);
        if (compte.code == 0) comptes[table] = std::stol(compte.sortie);
      }
    }
    fs::remove(lieu + "/sortie_programme.txt");
    return comptes;
  }

  std::string echantillon_;
};

TEST_P(TestFichiersJet, UneBaseJetCommeCibleFinitProprementSansRienPerdre) {
  fs::remove(Cible());
  fs::copy_file(echantillon_, Cible());
  ::chmod(Cible().c_str(), 0644);
  const auto comptes = fs::exists("/usr/bin/mdb-count") ? CompteMdb(Cible()) : std::map<std::string, long>{};
  auto avant = Etat();
  auto e = Lot({"--cible", Cible(), "--options", "0,1,2,3", "--oui"});
  ASSERT_TRUE(e.Propre()) << "signal " << e.signal << (e.bloque ? ", bloqué" : "") << "\n" << e.sortie;
  if (e.code != 0) {
    VerifieEchecPropre(e, avant);
    return;
  }
  Note(e);
  EXPECT_NE(Journal().find("Fin de l'analyse de bases de données"), std::string::npos) << Journal();
  const auto apres = fiabilite::LitBase(Cible());
  EXPECT_TRUE(apres.integrite.empty());
  for (const auto& [table, nombre] : comptes) {
    auto it = apres.tables.find(table);
    ASSERT_NE(it, apres.tables.end()) << "table perdue : " << table;
    EXPECT_EQ(static_cast<long>(it->second.enregistrements.size()), nombre) << table;
  }
}

TEST_P(TestFichiersJet, UneBaseJetCommeModeleFinitProprement) {
  fs::remove(Modele());
  fs::copy_file(echantillon_, Modele());
  ::chmod(Modele().c_str(), 0644);
  auto avant = Etat();
  auto e = RunComplet(Cible(), Modele());
  ASSERT_TRUE(e.Propre()) << "signal " << e.signal << (e.bloque ? ", bloqué" : "") << "\n" << e.sortie;
  if (e.code != 0) {
    VerifieEchecPropre(e, avant);
  } else {
    Note(e);
    EXPECT_TRUE(fiabilite::LitBase(Cible()).integrite.empty());
  }
  EXPECT_TRUE(entrees::Releve(Modele()) == avant.at("Logiciel/Compta.mdb")) << "la base modèle a changé";
}

INSTANTIATE_TEST_SUITE_P(Echantillons, TestFichiersJet,
                         ::testing::Values("testV1997.mdb", "test2V2000.mdb", "testV2007.accdb"),
                         [](const auto& info) {
                           std::string nom = info.param;
                           return nom.substr(0, nom.find('.'));
                         });

// --- A catalog changed behind the engine's back -----------------------------------------------

struct Alteration {
  const char* nom;
  const char* sql;
};

void PrintTo(const Alteration& alteration, std::ostream* flux) { *flux << alteration.nom; }

// Each one a change a foreign tool or a bad copy could make to the catalog or to a table.
const Alteration Alterations[] = {
    {"ChampOteDuCatalogue",
     "DELETE FROM MSysColumns WHERE Name = 'Ville' AND TableId = (SELECT Id FROM MSysTables WHERE Name = 'Clients')"},
    {"ChampFantome",
     "INSERT INTO MSysColumns(TableId, Name, Type, Size, Attributes, DefaultValue, Required, AllowZeroLength, "
     "OrdinalPosition) SELECT Id, 'Fantome', 10, 20, 2, '', 0, 1, 99 FROM MSysTables WHERE Name = 'Clients'"},
    {"TableDisparueDuFichier", "DROP TABLE Factures"},
    {"TableInconnueDuCatalogue", "DELETE FROM MSysTables WHERE Name = 'Factures'"},
    {"TypeInconnu",
     "UPDATE MSysColumns SET Type = 999 WHERE Name = 'Nom' AND TableId = (SELECT Id FROM MSysTables WHERE Name = "
     "'Clients')"},
    {"TailleNegative",
     "UPDATE MSysColumns SET Size = -5 WHERE Name = 'Ville' AND TableId = (SELECT Id FROM MSysTables WHERE Name = "
     "'Clients')"},
    {"IndexSurChampAbsent",
     "UPDATE MSysIndexes SET Fields = '+Absent' WHERE TableId = (SELECT Id FROM MSysTables WHERE Name = 'Clients')"},
    {"VersionEffacee", "DELETE FROM MSysProperties WHERE OwnerKind = 0 AND Name = 'Version'"},
    {"CatalogueIncomplet", "DROP TABLE MSysRelationships"},
    {"ColonneOteeDuFichier", nullptr},  // see OteColonne
};

// SQLite keeps a column that a trigger names: the engine's rules go first, as a foreign tool
// dropping the column would do.
void OteColonne(const std::string& chemin) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(chemin.c_str(), &db), SQLITE_OK);
  std::vector<std::string> declencheurs;
  sqlite3_stmt* r = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'trigger'", -1, &r, nullptr);
  while (sqlite3_step(r) == SQLITE_ROW) declencheurs.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(r, 0)));
  sqlite3_finalize(r);
  sqlite3_close(db);
  std::string sql;
  for (const auto& d : declencheurs) sql += "DROP TRIGGER \"" + d + "\";";
  ExecuteSql(chemin, sql + "ALTER TABLE Clients DROP COLUMN Encours");
}

class TestCatalogue : public TestFichiers, public ::testing::WithParamInterface<Alteration> {
 protected:
  void Altere(const std::string& chemin) {
    if (GetParam().sql) ExecuteSql(chemin, GetParam().sql);
    else OteColonne(chemin);
  }

  // Records per table as the file holds them, whether the catalog describes the table or not.
  static std::map<std::string, std::size_t> Comptes(const std::string& chemin) {
    std::map<std::string, std::size_t> comptes;
    sqlite3* db = nullptr;
    if (sqlite3_open(chemin.c_str(), &db) != SQLITE_OK) {
      sqlite3_close(db);
      return comptes;
    }
    std::vector<std::string> tables;
    sqlite3_stmt* r = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'MSys%' AND name NOT "
                       "LIKE 'sqlite%'",
                       -1, &r, nullptr);
    while (sqlite3_step(r) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(r, 0)));
    sqlite3_finalize(r);
    for (const auto& table : tables) {
      sqlite3_prepare_v2(db, ("SELECT count(*) FROM \"" + table + "\"").c_str(), -1, &r, nullptr);
      if (sqlite3_step(r) == SQLITE_ROW) comptes[table] = static_cast<std::size_t>(sqlite3_column_int64(r, 0));
      sqlite3_finalize(r);
    }
    sqlite3_close(db);
    return comptes;
  }

  // A run that ended well left a sound target that keeps every record its file held, in tables
  // the catalog describes or not, but the defective ones the journal lists.
  void VerifieReorganisee(const std::map<std::string, std::size_t>& comptes) {
    EXPECT_NE(Journal().find("Fin de l'analyse de bases de données"), std::string::npos);
    EXPECT_TRUE(fiabilite::LitBase(Cible()).integrite.empty());
    const auto apres = Comptes(Cible());
    const auto defectueux = Defectueux();
    for (const auto& [table, nombre] : comptes) {
      if (table.rfind("Tmp", 0) == 0) continue;  // purged on purpose
      ASSERT_TRUE(apres.count(table)) << "table perdue : " << table;
      const long permis = defectueux.count(table) ? defectueux.at(table) : 0;
      EXPECT_GE(static_cast<long>(apres.at(table)) + permis, static_cast<long>(nombre)) << table;
    }
  }
};

TEST_P(TestCatalogue, UneCibleAltereeFinitProprementSansRienPerdre) {
  Altere(Cible());
  const auto avant = Etat();
  const auto comptes = Comptes(Cible());
  auto e = RunComplet(Cible(), Modele());
  ASSERT_TRUE(e.Propre()) << "signal " << e.signal << (e.bloque ? ", bloqué" : "") << "\n" << e.sortie;
  if (e.code != 0) {
    VerifieEchecPropre(e, avant);
  } else {
    Note(e);
    VerifieReorganisee(comptes);
  }
}

TEST_P(TestCatalogue, UnModeleAltereFinitProprementSansToucherALaCible) {
  Altere(Modele());
  const auto avant = Etat();
  const auto comptes = Comptes(Cible());
  auto e = RunComplet(Cible(), Modele());
  ASSERT_TRUE(e.Propre()) << "signal " << e.signal << (e.bloque ? ", bloqué" : "") << "\n" << e.sortie;
  EXPECT_TRUE(entrees::Releve(Modele()) == avant.at("Logiciel/Compta.mdb")) << "la base modèle a changé";
  if (e.code != 0) {
    VerifieEchecPropre(e, avant);
  } else {
    Note(e);
    VerifieReorganisee(comptes);
  }
}

INSTANTIATE_TEST_SUITE_P(Alterations, TestCatalogue, ::testing::ValuesIn(Alterations),
                         [](const auto& info) { return std::string(info.param.nom); });

}  // namespace

// Repair and compaction of the working file: journal lines, captions, progress values, the
// stage handler's cases and the copy-back, with real files, a real journal and a scripted window.
#include "app/EtapesFichier.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "bases/BaseDonnees.h"
#include "common/Fichiers.h"
#include "common/Horodatage.h"
#include "commun/FenetreFactice.h"
#include "commun/FichiersTest.h"
#include "commun/ProcessusAide.h"
#include "copies/Copies.h"
#include "journal/Journal.h"
#include "moteur/Injection.h"
#include "moteur/Moteur.h"
#include "commun/SqliteSansMoteur.h"

namespace {

namespace fs = std::filesystem;
using namespace utireorg;
using utireorg::tests::FenetreFactice;
using utireorg::tests::LitFichier;

const std::string H = "071226:0524 ";  // the time stamp of the fixed clock
const std::string Libelle = LibellePrincipal;
const std::string Origine = "/donnees/compta.mdb";  // shown in the captions only

std::vector<std::string> Decoupe(const std::string& texte) {
  std::vector<std::string> lignes;
  std::size_t debut = 0;
  for (std::size_t fin; (fin = texte.find("\r\n", debut)) != std::string::npos; debut = fin + 2)
    lignes.push_back(texte.substr(debut, fin - debut));
  return lignes;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class EtapesFichier : public ::testing::Test {
 protected:
  EtapesFichier() : journal(fenetre), etat(fenetre, journal) {}

  void SetUp() override {
    for (const char* d : {"bases", "tmp", "courant", "brouillon"}) fs::create_directory(Chemin(d));
    if (const char* ancien = std::getenv("TMPDIR")) ancienTmp_ = ancien;
    ::setenv("TMPDIR", Chemin("tmp").c_str(), 1);
    ancienDossier_ = fs::current_path();
    fs::current_path(Chemin("courant"));
    std::tm t{};
    t.tm_mday = 7, t.tm_mon = 11, t.tm_year = 126, t.tm_hour = 5, t.tm_min = 24, t.tm_isdst = -1;
    auto instant = std::chrono::system_clock::from_time_t(std::mktime(&t));
    DefinitHorloge([instant] { return instant; });
    ASSERT_TRUE(journal.OuvertureJournal());

    etat.cheminTravail = Chemin("bases/travail.mdb");
    etat.cheminOrigine = Origine;
    etat.libelle = Libelle;
    etat.nomLogiciel = "compta";
    etat.versionCible = "4.0";
    etat.fichierTemporaire = NomFichierTemporaire(etat.nomLogiciel);
    fenetre.coches[coche::ReparationCompactage] = true;
    // The stages wait for another application's lock: here the wait is over at its first pause.
    moteur::DefinitDelaiOccupation(std::chrono::milliseconds(0));
    DefinitHorlogeAttente([this] { return instantAttente_; });
    DefinitPauseAttente([this](std::chrono::milliseconds) { instantAttente_ += std::chrono::minutes(5); });
  }

  void TearDown() override {
    DefinitHorlogeAttente({});
    DefinitPauseAttente({});
    moteur::DefinitDelaiOccupation(moteur::DelaiOccupationParDefaut);
    DefinitOperationsFichier({});
    DefinitInterruption({});
    moteur::injection::SupprimeLimite();
    journal.FermetureJournal();
    DefinitHorloge({});
    fs::current_path(ancienDossier_);
    if (ancienTmp_) ::setenv("TMPDIR", ancienTmp_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

  std::string Chemin(const std::string& nom) const { return racine_.Racine() + "/" + nom; }

  // The working file: "Clients" with three records, plus what the test adds.
  moteur::Database BaseTravail(const std::string& version = "4.0") {
    auto base = moteur::DBEngine::CreateDatabase(etat.cheminTravail, version);
    auto td = base.CreateTableDef("Clients");
    td.Fields().Append(td.CreateField("Id", moteur::dbLong));
    td.Fields().Append(td.CreateField("Nom", moteur::dbText, 10));
    base.TableDefs().Append(td);
    auto rs = base.OpenRecordset("Clients");
    for (int i = 1; i <= 3; ++i) {
      rs.AddNew();
      rs["Id"].SetValue(i);
      rs["Nom"].SetValue("client " + std::to_string(i));
      rs.Update();
    }
    rs.Close();
    return base;
  }
  void CreeBaseTravail(const std::string& version = "4.0") { BaseTravail(version).Close(); }

  // A record whose name is longer than its field, as a damaged file may hold.
  void CreeBaseTravailDefectueuse() {
    auto base = BaseTravail();
    moteur::EcritSansControle(base, "Clients", {{"Id", moteur::Valeur(4)}, {"Nom", moteur::Valeur("nom bien trop long")}});
    base.Close();
  }

  // "Clients" with 2000 records and the fourth leaf of its table overwritten, found as SQLite
  // describes its pages; returns how many records that leaf held.
  long long AbimeUneFeuilleDeClients() {
    {
      auto base = BaseTravail();
      auto td = base.TableDefs()["Clients"];
      auto cle = td.CreateIndex("Cle");
      cle.SetFields("Id");
      cle.SetPrimary(true);
      td.Indexes().Append(cle);
      moteur::DBEngine::BeginTrans();
      for (int i = 4; i <= 2000; ++i)
        base.Execute("INSERT INTO Clients VALUES (" + std::to_string(i) + ", 'c" + std::to_string(i) + "')",
                     moteur::dbFailOnError);
      moteur::DBEngine::CommitTrans();
    }
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(etat.cheminTravail.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        db,
        "SELECT pageno, ncell FROM dbstat WHERE name = 'Clients' AND pagetype = 'leaf' ORDER BY path LIMIT 1 OFFSET 3",
        -1, &st, nullptr);
    EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
    const long long page = sqlite3_column_int64(st, 0), perdus = sqlite3_column_int64(st, 1);
    sqlite3_finalize(st);
    sqlite3_close(db);
    std::fstream f(etat.cheminTravail, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp((page - 1) * 4096);
    f << std::string(4096, '\x5A');
    return perdus;
  }

  std::vector<std::string> Noms() const {
    auto base = moteur::DBEngine::OpenDatabase(etat.cheminTravail);
    std::vector<std::string> noms;
    auto rs = base.OpenRecordset("SELECT Nom FROM Clients ORDER BY Id", moteur::dbOpenSnapshot);
    for (; !rs.Eof(); rs.MoveNext()) noms.push_back(rs["Nom"].Value().EnTexte());
    rs.Close();
    base.Close();
    return noms;
  }

  std::string VersionTravail() const {
    auto base = moteur::DBEngine::OpenDatabase(etat.cheminTravail);
    std::string version = base.Version();
    base.Close();
    return version;
  }

  std::vector<std::string> Lignes() const { return Decoupe(fenetre.journal); }
  bool Contient(const std::string& ligne) const {
    auto l = Lignes();
    return std::find(l.begin(), l.end(), ligne) != l.end();
  }
  bool ContientDebut(const std::string& debut) const {
    for (const auto& l : Lignes())
      if (l.rfind(debut, 0) == 0) return true;
    return false;
  }

  std::vector<std::string> Section(const std::string& texte) {
    FenetreFactice brouillon;
    {
      Journal autre(brouillon);
      autre.PrefixeDonnees(Chemin("brouillon/"));
      autre.OuvertureJournal();
      autre.SectionJournal(texte);
    }
    DefinitFenetre(&fenetre);
    return Decoupe(brouillon.journal);
  }

  std::vector<std::string> Reparation() {
    return Section("Réparation " + Libelle) +
           std::vector<std::string>{H + "  Début Réparation " + Libelle, H + "  Fin Réparation " + Libelle};
  }
  std::vector<std::string> Compactage() {
    return Section("Compactage " + Libelle) +
           std::vector<std::string>{H + "  Début Compactage " + Libelle, H + "  Fin Compactage " + Libelle};
  }
  std::vector<std::string> DebutCompactage() {
    return Section("Compactage " + Libelle) + std::vector<std::string>{H + "  Début Compactage " + Libelle};
  }

  // Engine operations that count their calls and note the options, then do the real work.
  void CompteOperations() {
    OperationsFichier operations;
    operations.repare = [this](const std::string& chemin) {
      ++reparations;
      moteur::DBEngine::RepairDatabase(chemin);
    };
    operations.compacte = [this](const std::string& source, const std::string& destination, const std::string& locale,
                                 int options) {
      ++compactages;
      optionsVues.push_back(options);
      localeVue = locale;
      moteur::DBEngine::CompactDatabase(source, destination, locale, options);
    };
    DefinitOperationsFichier(operations);
  }

  std::vector<std::string> FichiersBases() const {
    std::vector<std::string> noms;
    for (const auto& e : fs::directory_iterator(Chemin("bases"))) noms.push_back(e.path().filename().string());
    std::sort(noms.begin(), noms.end());
    return noms;
  }

  FenetreFactice fenetre;
  Journal journal;
  EtatReorganisation etat;
  int reparations = 0, compactages = 0;
  std::vector<int> optionsVues;
  std::string localeVue;

 private:
  tests::DossierTest racine_{"etapes"};
  std::chrono::steady_clock::time_point instantAttente_{};
  std::optional<std::string> ancienTmp_;
  fs::path ancienDossier_;
};

// ---------------------------------------------------------------------------------------------
// The ordinary path

TEST_F(EtapesFichier, ReparationPuisCompactage) {
  CreeBaseTravail();
  CompteOperations();
  EtapeReparation(etat);

  EXPECT_EQ(Lignes(), Reparation() + Compactage());
  EXPECT_EQ(fenetre.legendes, (std::vector<std::pair<std::string, std::string>>{{"Réparation " + Libelle, Origine},
                                                                                {"Compactage " + Libelle, Origine}}));
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{40, 70, 100}));
  EXPECT_FALSE(etat.echec);
  EXPECT_FALSE(etat.disquePlein);
  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_EQ(reparations, 1);
  EXPECT_EQ(compactages, 1);
  EXPECT_EQ(localeVue, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  EXPECT_EQ(Noms(), (std::vector<std::string>{"client 1", "client 2", "client 3"}));
  EXPECT_FALSE(fs::exists(etat.fichierTemporaire));
  EXPECT_EQ(FichiersBases(), std::vector<std::string>{"travail.mdb"});
}

TEST_F(EtapesFichier, ProgressionAvecControleEtendu) {
  CreeBaseTravail();
  fenetre.coches[coche::ControleEtendu] = true;
  fenetre.progressMax = 9;
  EtapeReparation(etat);
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{40, 100, 40, 100}));
  EXPECT_EQ(fenetre.progressMax, 100);
  EXPECT_EQ(Lignes(), Reparation() + Compactage());
}

TEST_F(EtapesFichier, LeCompactageSeulAvecEtSansControleEtendu) {
  CreeBaseTravail();
  EtapeCompactage(etat);
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{70, 100}));
  EXPECT_EQ(Lignes(), Compactage());
  fenetre.valeursProgress.clear();
  fenetre.coches[coche::ControleEtendu] = true;
  EtapeCompactage(etat);
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{40, 100}));
}

TEST_F(EtapesFichier, SansFichierRienNeSePasse) {
  CompteOperations();
  fenetre.coches[coche::ControleEtendu] = true;
  EtapeReparation(etat);
  EtapeCompactage(etat);
  EXPECT_TRUE(fenetre.journal.empty());
  EXPECT_TRUE(fenetre.legendes.empty());
  EXPECT_TRUE(fenetre.valeursProgress.empty());
  EXPECT_EQ(reparations + compactages, 0);
  EXPECT_FALSE(etat.echec);
}

TEST_F(EtapesFichier, OptionNonCocheeMetLaProgressionAuMaximum) {
  CreeBaseTravail();
  std::string avant = tests::LitFichier(etat.cheminTravail);
  CompteOperations();
  fenetre.coches[coche::ReparationCompactage] = false;
  fenetre.progressMax = 7;
  EtapeReparation(etat);
  EXPECT_EQ(fenetre.valeursProgress, std::vector<long>{7});
  fenetre.coches[coche::ControleEtendu] = true;
  EtapeReparation(etat);
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{7, 7, 7}));
  EXPECT_TRUE(fenetre.journal.empty());
  EXPECT_EQ(reparations + compactages, 0);
  EXPECT_EQ(tests::LitFichier(etat.cheminTravail), avant);
}

TEST_F(EtapesFichier, OptionsDeCompactageSelonLaVersionCible) {
  CreeBaseTravail("3.0");
  CompteOperations();
  for (const char* version : {"4.0", "3.0", "", "4"}) {
    etat.versionCible = version;
    EtapeCompactage(etat);
  }
  EXPECT_EQ(optionsVues, (std::vector<int>{68, 36, 36, 36}));
}

TEST_F(EtapesFichier, LeCompactageConvertitAuFormatDemande) {
  CreeBaseTravail("3.0");
  etat.versionCible = "4.0";
  EtapeCompactage(etat);
  EXPECT_EQ(VersionTravail(), "4.0");
  etat.versionCible = "";
  EtapeCompactage(etat);
  EXPECT_EQ(VersionTravail(), "3.0");
  EXPECT_EQ(Noms().size(), 3u);
}

// ---------------------------------------------------------------------------------------------
// The stage handler

TEST_F(EtapesFichier, Erreur3251DeLaReparationEstIgnoree) {
  CreeBaseTravail();
  OperationsFichier operations;
  operations.repare = [](const std::string&) { throw moteur::ErreurMoteur(moteur::err::OperationNonGeree); };
  DefinitOperationsFichier(operations);
  EtapeReparation(etat);
  EXPECT_EQ(Lignes(), Reparation() + Compactage());
  EXPECT_FALSE(etat.echec);
  EXPECT_TRUE(fenetre.messages.empty());
}

TEST_F(EtapesFichier, VersionIndetermineeSignaleeSansCopieEnRetour) {
  {
    auto base = BaseTravail();
    base.Properties()["Version"].SetValue(moteur::Valeur("2.5"));
    base.Close();
  }
  std::string avant = tests::LitFichier(etat.cheminTravail);
  EtapeCompactage(etat);
  EXPECT_EQ(Lignes(), (DebutCompactage() + std::vector<std::string>{
                                              "#ALERT# Version de base indéterminée. La base " + Libelle +
                                                  " ne peut pas être compactée.",
                                              H + "  Fin Compactage " + Libelle}));
  EXPECT_EQ(tests::LitFichier(etat.cheminTravail), avant);
  EXPECT_FALSE(etat.echec);
  EXPECT_EQ(fenetre.valeursProgress.back(), 100);
  EXPECT_FALSE(fs::exists(etat.fichierTemporaire));
}

TEST_F(EtapesFichier, DisquePleinPendantLeCompactage) {
  CreeBaseTravail();
  std::string avant = tests::LitFichier(etat.cheminTravail);
  {
    moteur::injection::LimiteTemporaire plein(4096);
    EtapeCompactage(etat);
  }
  EXPECT_EQ(Lignes(), (DebutCompactage() + std::vector<std::string>{
                                              "#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur "
                                              "votre disque dur !"}));
  EXPECT_TRUE(etat.echec);
  EXPECT_TRUE(etat.disquePlein);
  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_EQ(fenetre.valeursProgress, std::vector<long>{70});
  EXPECT_EQ(tests::LitFichier(etat.cheminTravail), avant);
}

TEST_F(EtapesFichier, ChaqueNumeroDEspaceDisqueArreteLEtape) {
  CreeBaseTravail();
  for (int n : {61, 3026, 3183, 3469, 3472, 3559, 3569, 3575}) {
    etat.echec = etat.disquePlein = false;
    OperationsFichier operations;
    operations.repare = [n](const std::string&) { throw moteur::ErreurMoteur(n, "plein"); };
    DefinitOperationsFichier(operations);
    fenetre.journal.clear();
    EtapeReparation(etat);
    EXPECT_TRUE(etat.disquePlein) << n;
    EXPECT_TRUE(etat.echec) << n;
    EXPECT_EQ(etat.derniereErreur, n);
    EXPECT_EQ(Lignes().back(), "#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur votre disque dur !")
        << n;
    EXPECT_FALSE(ContientDebut(H + "  Fin ")) << n;
  }
}

TEST_F(EtapesFichier, BaseOuverteExclusivementParUneAutreApplication) {
  CreeBaseTravail();
  {
    // Another application holds it exclusively: nobody else may even read it.
    tests::ProcessusAide autre(CHEMIN_aide_tenue, {etat.cheminTravail, "exclusif"});
    ASSERT_TRUE(autre.Pret());
    EtapeReparation(etat);
  }
  EXPECT_EQ(Lignes(), (Section("Réparation " + Libelle) +
                          std::vector<std::string>{
                              H + "  Début Réparation " + Libelle,
                              "#ERR# La base de données est en cours d'utilisation par une autre application !"}));
  EXPECT_TRUE(etat.echec);
  EXPECT_FALSE(etat.disquePlein);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].titre, "Erreur");
  EXPECT_NE(fenetre.messages[0].texte.find(" (La base de données est en cours d'utilisation par une autre application)\n"
                                           "\nVeuillez quitter les applications en cours puis tenter\n"
                                           "une nouvelle réorganisation."),
            std::string::npos)
      << fenetre.messages[0].texte;
  EXPECT_EQ(fenetre.valeursProgress, std::vector<long>{40});
}

TEST_F(EtapesFichier, FichierEndommage) {
  std::ofstream(etat.cheminTravail, std::ios::binary) << std::string(8192, '\x17');
  EtapeReparation(etat);
  EXPECT_EQ(Lignes(), (Section("Réparation " + Libelle) +
                          std::vector<std::string>{H + "  Début Réparation " + Libelle,
                                                   "#ERR# Base de données endommagée (3343)"}));
  EXPECT_TRUE(etat.echec);
  EXPECT_EQ(etat.derniereErreur, 3343);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_NE(fenetre.messages[0].texte.find(" (Base de données endommagée)\n\nVeuillez sortir du logiciel puis tenter\n"
                                           "une nouvelle réorganisation."),
            std::string::npos)
      << fenetre.messages[0].texte;
}

// Overwritten pages: the repair saves the rest and the journal says what was lost.
TEST_F(EtapesFichier, PagesEcraseesRepareesEtPertesJournalisees) {
  const long long perdus = AbimeUneFeuilleDeClients();
  const std::string endommagee = LitFichier(etat.cheminTravail);
  etat.cheminOrigine = etat.cheminTravail;  // no working copy: the damaged file is kept beside it
  EtapeReparation(etat);
  EXPECT_FALSE(etat.echec);
  auto lignes = Lignes();
  auto debut = std::find(lignes.begin(), lignes.end(), H + "  Début Réparation " + Libelle);
  ASSERT_NE(debut, lignes.end());
  EXPECT_EQ(*(debut + 1), "#ALERT# Table 'Clients' : " + std::to_string(2000 - perdus) + " enregistrements sauvés, " +
                              std::to_string(perdus) + " illisibles (1 page endommagée).");
  const std::string gardee = Chemin("bases/travail.endommagee.mdb");
  EXPECT_EQ(*(debut + 2), "#ALERT# La base endommagée est gardée telle quelle sous '" + gardee +
                              "' : d'autres outils pourront peut-être en tirer davantage.");
  EXPECT_EQ(*(debut + 3), H + "  Fin Réparation " + Libelle);
  EXPECT_EQ(Noms().size(), static_cast<std::size_t>(2000 - perdus));
  EXPECT_TRUE(LitFichier(gardee) == endommagee);
}

// With a working copy, whose folder is emptied after the run, the user's own file, still as it
// was when copied, is kept beside itself instead, and the journal names that one.
TEST_F(EtapesFichier, AvecUneCopieDeTravailLaBaseEndommageeEstGardeeACoteDeLOrigine) {
  AbimeUneFeuilleDeClients();
  const std::string endommagee = LitFichier(etat.cheminTravail);
  etat.cheminOrigine = Chemin("bases/compta.mdb");
  fs::copy_file(etat.cheminTravail, etat.cheminOrigine);
  EtapeReparation(etat);
  EXPECT_FALSE(etat.echec);
  const std::string gardee = Chemin("bases/compta.endommagee.mdb");
  EXPECT_TRUE(Contient("#ALERT# La base endommagée est gardée telle quelle sous '" + gardee +
                       "' : d'autres outils pourront peut-être en tirer davantage."))
      << fenetre.journal;
  EXPECT_TRUE(LitFichier(gardee) == endommagee);
  EXPECT_TRUE(LitFichier(etat.cheminOrigine) == endommagee);
  EXPECT_EQ(FichiersBases(), (std::vector<std::string>{"compta.endommagee.mdb", "compta.mdb", "travail.mdb"}));
}

// The repair's lines name the user's file, never the working copy the user knows nothing of.
TEST_F(EtapesFichier, AvecUneCopieDeTravailLesLignesDeLaReparationNommentLaBaseDeLUtilisateur) {
  AbimeUneFeuilleDeClients();
  fs::resize_file(etat.cheminTravail, fs::file_size(etat.cheminTravail) - 1);
  etat.cheminOrigine = Chemin("bases/compta.mdb");
  fs::copy_file(etat.cheminTravail, etat.cheminOrigine);
  EtapeReparation(etat);
  EXPECT_FALSE(etat.echec);
  EXPECT_TRUE(ContientDebut("#ALERT# Base de données '" + etat.cheminOrigine + "' : le fichier est tronqué"))
      << fenetre.journal;
  EXPECT_EQ(fenetre.journal.find(etat.cheminTravail), std::string::npos) << fenetre.journal;
}

// Repaired and compacted through a link, another user's private file stays his, private, linked.
TEST_F(EtapesFichier, LienDroitsEtProprietaireGardesParLaReparationEtLeCompactage) {
  const std::string vraie = Chemin("bases/vraie.mdb");
  etat.cheminTravail = vraie;
  CreeBaseTravail();
  {
    std::fstream f(vraie, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(2 * 4096);  // the first table's page: the repair must rebuild the file
    f << std::string(4096, '\x5A');
  }
  etat.cheminTravail = Chemin("bases/travail.mdb");
  fs::create_symlink("vraie.mdb", etat.cheminTravail);
  ASSERT_EQ(::chmod(vraie.c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(vraie.c_str(), 65534, 65534), 0);
  }
  EtapeReparation(etat);
  EXPECT_FALSE(etat.echec);
  EXPECT_TRUE(fs::is_symlink(etat.cheminTravail));
  struct stat s {};
  ASSERT_EQ(::stat(vraie.c_str(), &s), 0);
  EXPECT_EQ(s.st_mode & 07777, 0600u);
  if (root) {
    EXPECT_EQ(s.st_uid, 65534u);
    EXPECT_EQ(s.st_gid, 65534u);
  }
  EXPECT_EQ(FichiersBases(), (std::vector<std::string>{"travail.mdb", "vraie.mdb"}));
}

// ---------------------------------------------------------------------------------------------
// Error 3163: records verified, then the compaction again

TEST_F(EtapesFichier, Erreur3163VerifieeEtCompactageRepris) {
  CreeBaseTravailDefectueuse();
  CompteOperations();
  fenetre.reponses = {1, 1};  // "Oui" to the verification, then "Continuer"
  EtapeReparation(etat);

  auto lignes = Lignes();
  auto position = [&](const std::string& ligne) {
    return std::find(lignes.begin(), lignes.end(), ligne) - lignes.begin();
  };
  auto alerte = position("#ERR# Erreur 3163 ! Tentative de réparation ...");
  auto reussie = position("Tentative de réparation réussie !");
  auto fin = position(H + "  Fin Compactage " + Libelle);
  ASSERT_LT(fin, static_cast<long>(lignes.size()));
  EXPECT_LT(position(H + "  Début Compactage " + Libelle), alerte);
  EXPECT_LT(alerte, reussie);
  EXPECT_EQ(reussie + 1, fin);
  EXPECT_EQ(fin + 1, static_cast<long>(lignes.size()));
  EXPECT_TRUE(ContientDebut(H + "ERREUR 3163 : Réorganisation fichier " + etat.cheminTravail));
  EXPECT_FALSE(etat.echec);
  EXPECT_EQ(compactages, 2);
  EXPECT_NE(std::find(fenetre.pointeurs.begin(), fenetre.pointeurs.end(), PointeurSouris::Sablier),
            fenetre.pointeurs.end());
  EXPECT_EQ(Noms(), (std::vector<std::string>{"client 1", "client 2", "client 3", "nom bien t"}));
  EXPECT_FALSE(fs::exists(etat.fichierTemporaire));
}

// Bytes another program wrote into a text, that form no UTF-8, met by the compaction (the repair
// before it corrects them too): the compaction refuses them as an over-long text, the record check replaces the value,
// and the journal keeps its bytes, escaped. Nothing else of the file changes.
TEST_F(EtapesFichier, UnTexteQuiNEstPasDeLUtf8EstCorrigeParLaVerificationEtGardeAuJournal) {
  CreeBaseTravail();
  ASSERT_EQ(utireorg::tests::EcritSansLeMoteur(etat.cheminTravail,
                                               "UPDATE Clients SET Nom = CAST(x'6e6fff0afe37' AS TEXT) WHERE Id = 2"),
            SQLITE_OK);
  fenetre.reponses = {1, 1};  // "Oui" to the verification, then "Continuer"
  EtapeCompactage(etat);
  EXPECT_FALSE(etat.echec);
  EXPECT_TRUE(Contient("#ERR# Erreur 3163 ! Tentative de réparation ..."));
  EXPECT_TRUE(Contient("Tentative de réparation réussie !"));
  bool octetsGardes = false;
  for (const auto& l : Lignes())
    octetsGardes =
        octetsGardes || (l.find("Nom : ") != std::string::npos && l.find("no\\xFF\\n\\xFE7") != std::string::npos);
  EXPECT_TRUE(octetsGardes) << fenetre.journal;
  EXPECT_EQ(Noms(), (std::vector<std::string>{"client 1", "", "client 3"}));
}

TEST_F(EtapesFichier, Erreur3163VerificationRefusee) {
  CreeBaseTravailDefectueuse();
  std::string avant = tests::LitFichier(etat.cheminTravail);
  fenetre.reponses = {2};  // "Non"
  EtapeCompactage(etat);
  EXPECT_EQ(Lignes(), (DebutCompactage() + std::vector<std::string>{"#ERR# Erreur 3163 ! Tentative de réparation ..."}));
  EXPECT_TRUE(etat.echec);
  EXPECT_FALSE(etat.disquePlein);
  EXPECT_EQ(tests::LitFichier(etat.cheminTravail), avant);
}

TEST_F(EtapesFichier, Erreur3163RevenueApresVerificationArreteLeTraitement) {
  CreeBaseTravailDefectueuse();
  OperationsFichier operations;
  operations.compacte = [this](const std::string&, const std::string&, const std::string&, int) {
    ++compactages;
    throw moteur::ErreurMoteur(moteur::err::ValeurTropLongue, {"Clients"});
  };
  DefinitOperationsFichier(operations);
  fenetre.reponses = {1, 1};
  EtapeCompactage(etat);
  EXPECT_EQ(compactages, 2);
  EXPECT_TRUE(etat.echec);
  EXPECT_TRUE(Contient("Tentative de réparation réussie !"));
  EXPECT_EQ(Lignes().back(), "#ERR# Erreur 3163 ! La vérification des enregistrements n'a pas suffi.");
  long questions = std::count_if(fenetre.messages.begin(), fenetre.messages.end(),
                                 [](const MessageAnalyse& m) { return m.titre == "Compactage impossible"; });
  EXPECT_EQ(questions, 1);
  EXPECT_FALSE(ContientDebut(H + "  Fin Compactage"));
}

// ---------------------------------------------------------------------------------------------
// The copy-back

TEST_F(EtapesFichier, UneCopieEnRetourInterrompueLaisseLAncienneBaseIntacte) {
  CreeBaseTravail("3.0");
  std::string avant = tests::LitFichier(etat.cheminTravail);
  DefinitInterruption([](std::string_view etape, const std::string&) {
    if (etape == "remplacement") throw moteur::ErreurMoteur(57, "coupure");
  });
  EXPECT_THROW(EtapeCompactage(etat), moteur::ErreurMoteur);
  EXPECT_EQ(tests::LitFichier(etat.cheminTravail), avant);
  EXPECT_EQ(VersionTravail(), "3.0");
  EXPECT_EQ(Noms().size(), 3u);
  EXPECT_EQ(FichiersBases(), std::vector<std::string>{"travail.mdb"});
  EXPECT_FALSE(ContientDebut(H + "  Fin Compactage"));
}

// Another program commits in the instant between the release of the hold and the write lock of
// the put-back: its commit is in the file, not in the compacted copy. The compaction starts again
// from the file as it now is, and the commit is kept; a program that commits at every attempt
// makes the database in use once the wait is over, and nothing it committed is lost.
class ValidationGlissee {
 public:
  explicit ValidationGlissee(int fois) : fois_(fois) {}
  void operator()(std::string_view etape, const std::string& chemin) {
    if (etape != "relache" || faites_ >= fois_) return;
    ++faites_;
    const std::string id = std::to_string(100 + faites_);
    EXPECT_EQ(tests::EcritSansLeMoteur(chemin, "INSERT INTO Clients VALUES (" + id + ", 'glissé " + id + "')"),
              SQLITE_OK);
  }
  int Faites() const { return faites_; }

 private:
  int fois_;
  int faites_ = 0;
};

TEST_F(EtapesFichier, UneValidationGlisseeAvantLaRemiseEnPlaceEstGardeeParUnNouveauCompactage) {
  CreeBaseTravail();
  CompteOperations();
  auto glissee = std::make_shared<ValidationGlissee>(1);
  DefinitInterruption([glissee](std::string_view etape, const std::string& chemin) { (*glissee)(etape, chemin); });
  ASSERT_NO_THROW(EtapeCompactage(etat));
  EXPECT_EQ(glissee->Faites(), 1);
  EXPECT_EQ(compactages, 2);
  EXPECT_EQ(Lignes(), Compactage());
  EXPECT_FALSE(etat.echec);
  EXPECT_EQ(Noms(), (std::vector<std::string>{"client 1", "client 2", "client 3", "glissé 101"}));
  EXPECT_FALSE(fs::exists(etat.fichierTemporaire));
}

TEST_F(EtapesFichier, UnProgrammeQuiValideAChaqueRemiseEnPlaceRendLaBaseEnUtilisation) {
  CreeBaseTravail();
  auto glissee = std::make_shared<ValidationGlissee>(1000);
  DefinitInterruption([glissee](std::string_view etape, const std::string& chemin) { (*glissee)(etape, chemin); });
  fenetre.reponses = {1};
  ASSERT_NO_THROW(EtapeCompactage(etat));
  EXPECT_TRUE(etat.echec);
  EXPECT_EQ(etat.derniereErreur, moteur::err::BaseEnUtilisation);
  EXPECT_TRUE(Contient("#ERR# La base de données est en cours d'utilisation par une autre application !"));
  EXPECT_FALSE(ContientDebut(H + "  Fin Compactage"));
  // Every commit of the other program is in the file.
  std::vector<std::string> attendus{"client 1", "client 2", "client 3"};
  for (int i = 1; i <= glissee->Faites(); ++i) attendus.push_back("glissé " + std::to_string(100 + i));
  EXPECT_GE(glissee->Faites(), 2);
  EXPECT_EQ(Noms(), attendus);
  EXPECT_FALSE(fs::exists(etat.fichierTemporaire));
}

TEST_F(EtapesFichier, UnDisquePleinPendantLaCopieEnRetourVaAuPilote) {
  CreeBaseTravail("3.0");
  std::string avant = tests::LitFichier(etat.cheminTravail);
  // Room for the compacted file, not for putting it back into the working file.
  DefinitInterruption([](std::string_view etape, const std::string& chemin) {
    if (etape == "copie" && chemin.find("/bases/") != std::string::npos) moteur::injection::LimiteEcriture(0);
  });
  try {
    EtapeCompactage(etat);
    ADD_FAILURE() << "la copie en retour aurait dû échouer";
  } catch (const moteur::ErreurMoteur& e) {
    EXPECT_TRUE(EstErreurEspaceDisque(e.Number())) << e.Number();
  }
  EXPECT_FALSE(etat.disquePlein);  // the driver's main handler decides
  EXPECT_EQ(tests::LitFichier(etat.cheminTravail), avant);
  EXPECT_EQ(FichiersBases(), std::vector<std::string>{"travail.mdb"});
}

}  // namespace

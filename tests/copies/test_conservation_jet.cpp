// A Jet file at an origin path is kept beside it before a file of the engine takes its place:
// the kept names, the copy itself, and what the working copies do with a Jet database.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Fichiers.h"
#include "common/Horodatage.h"
#include "commun/FenetreFactice.h"
#include "copies/Copies.h"
#include "journal/Journal.h"
#include "messages/GestionErreur.h"
#include "moteur/Injection.h"
#include "moteur/OutilsMoteur.h"

namespace {

namespace fs = std::filesystem;
using namespace utireorg;
using utireorg::tests::FenetreFactice;
using utireorg::tests::FichiersDuDossierPresent;

// Only the header tells a Jet file: these tests keep and copy files, they never read one.
std::string OctetsJet(unsigned char version, char motif) {
  std::string octets(3 * 4096, motif);
  const char entete[] = "\x00\x01\x00\x00Standard Jet DB";
  std::copy(entete, entete + 19, octets.begin());
  octets[0x14] = static_cast<char>(version);
  return octets;
}

class ConservationJetTest : public ::testing::Test {
 protected:
  ConservationJetTest() : journal(fenetre), etat(fenetre, journal) {}

  void SetUp() override {
    racine_ = std::make_unique<outils::DossierTest>();
    for (const char* d : {"bases", "tmp", "courant"}) fs::create_directory(Chemin(d));
    const char* ancien = std::getenv("TMPDIR");
    ancienTmp_ = ancien ? std::optional<std::string>(ancien) : std::nullopt;
    ::setenv("TMPDIR", Chemin("tmp").c_str(), 1);
    ancienDossier_ = fs::current_path();
    fs::current_path(Chemin("courant"));
    ASSERT_TRUE(journal.OuvertureJournal());
  }

  void TearDown() override {
    DefinitInterruption({});
    moteur::injection::SupprimeLimite();
    journal.FermetureJournal();
    fs::current_path(ancienDossier_);
    if (ancienTmp_) ::setenv("TMPDIR", ancienTmp_->c_str(), 1);
    else ::unsetenv("TMPDIR");
    racine_.reset();
  }

  std::string Chemin(const std::string& nom) const { return racine_->Racine() + "/" + nom; }

  std::string Jet(const std::string& nom = "Compta.mdb", unsigned char version = 0) {
    std::string chemin = Chemin("bases/" + nom);
    outils::EcritFichier(chemin, OctetsJet(version, 'j'));
    return chemin;
  }

  // A processed database of the engine, as the run leaves it in the temporary folder.
  std::string Traitee() {
    std::string chemin = Chemin("tmp/traitee.mdb");
    auto base = moteur::DBEngine::CreateDatabase(chemin, "4.0");
    outils::CreeTable(base, "Clients", {{"Id", moteur::dbLong}});
    outils::Ajoute(base, "Clients", {{"Id", 1}});
    base.Close();
    return chemin;
  }

  bool JournalContient(const std::string& morceau) const { return fenetre.journal.find(morceau) != std::string::npos; }

  FenetreFactice fenetre;
  Journal journal;
  EtatReorganisation etat;

 private:
  std::unique_ptr<outils::DossierTest> racine_;
  std::optional<std::string> ancienTmp_;
  fs::path ancienDossier_;
};

TEST(NomConservationJet, GardeLeDossierEtLExtensionEtNumeroteLesRangsSuivants) {
  EXPECT_EQ(NomConservationJet("/d/Compta.mdb"), "/d/Compta.jet.mdb");
  EXPECT_EQ(NomConservationJet("/d/Compta.mdb", 2), "/d/Compta.jet.2.mdb");
  EXPECT_EQ(NomConservationJet("/d/Compta.MDB"), "/d/Compta.jet.MDB");
  EXPECT_EQ(NomConservationJet("/d/Compta.2024.mdb"), "/d/Compta.2024.jet.mdb");
  EXPECT_EQ(NomConservationJet("Compta.mdb", 3), "Compta.jet.3.mdb");
  // A point in a folder's name is no extension of the file.
  EXPECT_EQ(NomConservationJet("/dossier.v2/Compta"), "/dossier.v2/Compta.jet.mdb");
  EXPECT_EQ(NomConservationJet("/d/.mdb"), "/d/.mdb.jet.mdb");
}

TEST_F(ConservationJetTest, LaCopieConserveeEstIdentiqueAvecSesDroitsEtSaDate) {
  std::string origine = Jet();
  ::chmod(origine.c_str(), 0640);
  auto date = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  fs::last_write_time(origine, date);

  std::string conservee = ConserveFichierJet(origine);
  EXPECT_EQ(conservee, Chemin("bases/Compta.jet.mdb"));
  EXPECT_EQ(outils::LitFichier(conservee), outils::LitFichier(origine));
  EXPECT_EQ(fs::status(conservee).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(fs::last_write_time(conservee), date);
  // Nothing but the two files: the copy in progress had a name of its own and is gone.
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), (std::vector<std::string>{"Compta.jet.mdb", "Compta.mdb"}));
}

TEST_F(ConservationJetTest, UnOriginalDejaConserveNEstJamaisEcrase) {
  std::string origine = Jet();
  outils::EcritFichier(Chemin("bases/Compta.jet.mdb"), "premier");
  outils::EcritFichier(Chemin("bases/Compta.jet.2.mdb"), "deuxième");

  EXPECT_EQ(ConserveFichierJet(origine), Chemin("bases/Compta.jet.3.mdb"));
  EXPECT_EQ(outils::LitFichier(Chemin("bases/Compta.jet.mdb")), "premier");
  EXPECT_EQ(outils::LitFichier(Chemin("bases/Compta.jet.2.mdb")), "deuxième");
  EXPECT_EQ(outils::LitFichier(Chemin("bases/Compta.jet.3.mdb")), outils::LitFichier(origine));
  EXPECT_EQ(ConserveFichierJet(origine), Chemin("bases/Compta.jet.4.mdb"));
}

TEST_F(ConservationJetTest, DisquePleinNeLaisseRienDerriereLui) {
  std::string origine = Jet();
  moteur::injection::LimiteTemporaire plein(100);
  try {
    ConserveFichierJet(origine);
    FAIL() << "la copie aurait dû échouer";
  } catch (...) {
    EXPECT_EQ(LitErreur(std::current_exception()).numero, 61);
  }
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"Compta.mdb"});
}

TEST_F(ConservationJetTest, RemplacerUnFichierJetLeConserveDAbord) {
  std::string origine = Jet("Compta.mdb", 1);
  std::string avant = outils::LitFichier(origine);
  std::string traitee = Traitee();
  std::string nouvelle = outils::LitFichier(traitee);

  // What an interrupted run left while keeping the original, and while replacing it.
  std::vector<std::string> restes = {Chemin("bases/Compta.jet.mdb.utireorg-Ab12Cd"), Chemin("bases/Compta.mdb.utireorg-Ef34Gh")};
  for (const auto& reste : restes) {
    fs::copy_file(origine, reste);
    fs::last_write_time(reste, fs::file_time_type::clock::now() - std::chrono::hours(1));
  }

  ConservationJet compte;
  RemplaceOrigine(traitee, origine, compte);
  for (const auto& reste : restes) EXPECT_FALSE(fs::exists(reste)) << reste;
  EXPECT_FALSE(compte.echec);
  EXPECT_EQ(compte.format, "Jet 4.0");
  EXPECT_EQ(compte.conservee, Chemin("bases/Compta.jet.mdb"));
  EXPECT_EQ(outils::LitFichier(compte.conservee), avant);
  EXPECT_EQ(outils::LitFichier(origine), nouvelle);
  EXPECT_EQ(LigneConservationJet(compte),
            "Base d'origine au format Jet 4.0 conservée sous « " + Chemin("bases/Compta.jet.mdb") + " ».");
}

TEST_F(ConservationJetTest, RemplacerUneBaseDuMoteurNeConserveRien) {
  std::string traitee = Traitee();
  std::string origine = Chemin("bases/Compta.mdb");
  fs::copy_file(traitee, origine);
  ConservationJet compte;
  RemplaceOrigine(traitee, origine, compte);
  EXPECT_TRUE(compte.conservee.empty());
  EXPECT_TRUE(compte.format.empty());
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"Compta.mdb"});
}

TEST_F(ConservationJetTest, SiLOriginalNePeutEtreConserveRienNEstRemplace) {
  std::string origine = Jet();
  std::string avant = outils::LitFichier(origine);
  std::string traitee = Traitee();
  // The folder refuses the copy, as a folder without write rights would (the tests may run as root).
  DefinitInterruption([](std::string_view etape, const std::string& chemin) {
    if (etape == "copie" && chemin.find("Compta.jet.mdb.") != std::string::npos)
      throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin});
  });
  ConservationJet compte;
  EXPECT_THROW(RemplaceOrigine(traitee, origine, compte), moteur::ErreurMoteur);
  EXPECT_TRUE(compte.echec);
  EXPECT_EQ(outils::LitFichier(origine), avant);
  EXPECT_TRUE(fs::exists(traitee));
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"Compta.mdb"});
  EXPECT_EQ(LigneEchecConservationJet(compte, origine),
            "#ERR# La base d'origine au format Jet 3.0 « " + origine +
                " » n'a pas pu être conservée : elle n'a pas été remplacée.");
}

TEST_F(ConservationJetTest, SiLeRemplacementEchoueLaCopieConserveeDisparait) {
  std::string origine = Jet();
  std::string avant = outils::LitFichier(origine);
  std::string traitee = Traitee();
  DefinitInterruption([](std::string_view etape, const std::string& chemin) {
    if (etape == "remplacement") throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin});
  });
  ConservationJet compte;
  EXPECT_THROW(RemplaceOrigine(traitee, origine, compte), moteur::ErreurMoteur);
  EXPECT_FALSE(compte.echec);
  EXPECT_TRUE(compte.conservee.empty());
  EXPECT_EQ(outils::LitFichier(origine), avant);
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"Compta.mdb"});
}

TEST_F(ConservationJetTest, LaCopieDeTravailDUnFichierJetEnEstLaCopieOctetPourOctet) {
  std::string origine = Jet();
  EnsembleBases ensemble;
  ensemble.chemins[SlotPrincipal] = origine;
  ensemble.libelles[SlotPrincipal] = LibellePrincipal;
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  EXPECT_NE(ensemble.chemins[SlotPrincipal], origine);
  EXPECT_EQ(outils::LitFichier(ensemble.chemins[SlotPrincipal]), outils::LitFichier(origine));
  EXPECT_EQ(RestaurationBases(etat, ensemble, true), CopieReussie);
}

TEST_F(ConservationJetTest, LaValidationConserveLOriginalJetEtLeDitDansLeJournal) {
  std::string origine = Jet();
  std::string avant = outils::LitFichier(origine);
  EnsembleBases ensemble;
  ensemble.chemins[SlotPrincipal] = origine;
  ensemble.libelles[SlotPrincipal] = LibellePrincipal;
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  // The run converted its working copy.
  std::string traitee = Traitee();
  RemplaceFichier(traitee, ensemble.chemins[SlotPrincipal]);

  ASSERT_EQ(RestaurationBases(etat, ensemble), CopieReussie);
  const std::string conservee = Chemin("bases/Compta.jet.mdb");
  EXPECT_EQ(outils::LitFichier(conservee), avant);
  EXPECT_EQ(outils::LitFichier(origine), outils::LitFichier(traitee));
  auto debut = fenetre.journal.find("  Début Restauration " + origine);
  auto ligne = fenetre.journal.find("\r\nBase d'origine au format Jet 3.0 conservée sous « " + conservee + " ».\r\n");
  auto fin = fenetre.journal.find("  Fin Restauration " + origine);
  ASSERT_NE(ligne, std::string::npos) << fenetre.journal;
  EXPECT_LT(debut, ligne);
  EXPECT_LT(ligne, fin);
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("tmp")), std::vector<std::string>{"traitee.mdb"});
}

TEST_F(ConservationJetTest, UneValidationQuiNePeutConserverLOriginalLeLaisseEnPlace) {
  std::string origine = Jet();
  std::string avant = outils::LitFichier(origine);
  EnsembleBases ensemble;
  ensemble.chemins[SlotPrincipal] = origine;
  ensemble.libelles[SlotPrincipal] = LibellePrincipal;
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  std::string copie = ensemble.chemins[SlotPrincipal];
  RemplaceFichier(Traitee(), copie);
  {
    moteur::injection::LimiteTemporaire plein(100);
    EXPECT_EQ(RestaurationBases(etat, ensemble), CopieDisquePlein);
  }
  EXPECT_EQ(outils::LitFichier(origine), avant);
  const std::string gardee = ensemble.chemins[SlotPrincipal];
  EXPECT_NE(gardee, copie);
  EXPECT_TRUE(fs::exists(gardee));
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"Compta.mdb"});
  EXPECT_FALSE(etat.sauvegardeFaite);
  // The error line first, then why, then where the processed database waits.
  auto erreur = fenetre.journal.find("  Erreur 61 - Restauration " + origine);
  auto disque = fenetre.journal.find("#ERR# Espace disque insuffisant pour restaurer les données.");
  auto conservation = fenetre.journal.find("#ERR# La base d'origine au format Jet 3.0 « " + origine +
                                           " » n'a pas pu être conservée : elle n'a pas été remplacée.");
  auto attente = fenetre.journal.find("la base traitée est conservée dans " + gardee);
  ASSERT_NE(conservation, std::string::npos) << fenetre.journal;
  EXPECT_LT(erreur, disque);
  EXPECT_LT(disque, conservation);
  EXPECT_LT(conservation, attente);
  EXPECT_FALSE(JournalContient("conservée sous"));
}

}  // namespace

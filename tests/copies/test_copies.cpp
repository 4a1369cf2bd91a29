// Working copies of the database set: what SauvegardeBases and RestaurationBases write, show and
// return, and what they leave on disk, with real files, a real journal and a scripted window.
#include "copies/Copies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "common/Ansi.h"
#include "common/Fichiers.h"
#include "common/Horodatage.h"
#include "commun/FenetreFactice.h"
#include "journal/Journal.h"
#include "messages/Balisage.h"
#include "moteur/Injection.h"
#include "moteur/OutilsMoteur.h"

namespace {

// The processed copy left for the user is named, and said to be the user's to delete.
std::string LigneCopieLaissee(const std::string& copie) {
  return "La base traitée « " + copie + " » n'est plus utilisée par la réorganisation : supprimez-la quand elle ne vous sert plus.";
}

namespace fs = std::filesystem;
using namespace utireorg;
using utireorg::tests::FenetreFactice;
using utireorg::tests::FichiersDuDossierPresent;

const std::string H = "071226:0524 ";  // the time stamp of the fixed clock

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

class Copies : public ::testing::Test {
 protected:
  Copies() : journal(fenetre), etat(fenetre, journal) {}

  void SetUp() override {
    racine_ = std::make_unique<outils::DossierTest>();
    for (const char* d : {"bases", "tmp", "courant", "brouillon"}) fs::create_directory(Chemin(d));
    const char* ancien = std::getenv("TMPDIR");
    ancienTmp_ = ancien ? std::optional<std::string>(ancien) : std::nullopt;
    ::setenv("TMPDIR", Chemin("tmp").c_str(), 1);
    ancienDossier_ = fs::current_path();
    fs::current_path(Chemin("courant"));
    std::tm t{};
    t.tm_mday = 7, t.tm_mon = 11, t.tm_year = 126, t.tm_hour = 5, t.tm_min = 24, t.tm_isdst = -1;
    auto instant = std::chrono::system_clock::from_time_t(std::mktime(&t));
    DefinitHorloge([instant] { return instant; });
    ASSERT_TRUE(journal.OuvertureJournal());
  }

  void TearDown() override {
    DefinitInterruption({});
    moteur::injection::SupprimeLimite();
    journal.FermetureJournal();
    DefinitHorloge({});
    fs::current_path(ancienDossier_);
    if (ancienTmp_) ::setenv("TMPDIR", ancienTmp_->c_str(), 1);
    else ::unsetenv("TMPDIR");
    racine_.reset();
  }

  std::string Chemin(const std::string& nom) const { return racine_->Racine() + "/" + nom; }

  // A database "Clients" of n records in the origin folder.
  std::string Base(const std::string& nom = "compta.mdb", int n = 3) {
    std::string chemin = Chemin("bases/" + nom);
    auto base = moteur::DBEngine::CreateDatabase(chemin, "4.0");
    outils::CreeTable(base, "Clients", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 20}});
    for (int i = 1; i <= n; ++i) outils::Ajoute(base, "Clients", {{"Id", i}, {"Nom", "client " + std::to_string(i)}});
    base.Close();
    return chemin;
  }

  static std::vector<std::string> NomsClients(const std::string& chemin) {
    auto base = moteur::DBEngine::OpenDatabase(chemin);
    auto noms = outils::Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom");
    base.Close();
    return noms;
  }

  EnsembleBases Ensemble(const std::string& principal) {
    EnsembleBases ensemble;
    ensemble.chemins[SlotPrincipal] = principal;
    ensemble.libelles[SlotPrincipal] = LibellePrincipal;
    return ensemble;
  }

  std::vector<std::string> Lignes() const { return Decoupe(fenetre.journal); }

  // The five lines of a section block, as the journal frames them.
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

  // The message as the window received it, against the markup the user should see.
  void AttendMessage(std::size_t rang, std::string_view balisage) const {
    ASSERT_GT(fenetre.messages.size(), rang);
    MessageAnalyse attendu = AnalyseMessage(balisage, TitreApplication());
    EXPECT_EQ(fenetre.messages[rang].texte, attendu.texte);
    EXPECT_EQ(fenetre.messages[rang].icone, attendu.icone);
    EXPECT_EQ(fenetre.messages[rang].titre, TitreApplication());
  }

  FenetreFactice fenetre;
  Journal journal;
  EtatReorganisation etat;

 private:
  std::unique_ptr<outils::DossierTest> racine_;
  std::optional<std::string> ancienTmp_;
  fs::path ancienDossier_;
};

const char* const MessageDisque =
    "!#L'espace disque est insuffisant pour éxécuter@ la réorganisation des données!@@Traitement annulé.";
const char* const MessageOuvert =
    "!#Le fichier est déjà ouvert par une autre application."
    "@@Fermez tous les logiciels ouverts sur votre poste, puis relancez une réorganisation.@@Traitement annulé.";

// ---------------------------------------------------------------------------------------------
// NomFichierTemporaire

TEST_F(Copies, NomFichierTemporaireCreeUnFichierVideUniqueDansLeDossierTemporaire) {
  std::string a = NomFichierTemporaire("Compta");
  std::string b = NomFichierTemporaire("Compta");
  EXPECT_NE(a, b);
  for (const auto& nom : {a, b}) {
    EXPECT_EQ(fs::path(nom).parent_path(), fs::path(Chemin("tmp")));
    EXPECT_EQ(fs::path(nom).filename().string().substr(0, 12), "utireorg-Com");
    EXPECT_TRUE(fs::is_regular_file(nom));
    EXPECT_EQ(fs::file_size(nom), 0u);
  }
  // Three characters, not three bytes, and a short prefix is kept whole.
  EXPECT_EQ(fs::path(NomFichierTemporaire("Écriture")).filename().string().substr(0, 13), "utireorg-Écr");
  EXPECT_EQ(fs::path(NomFichierTemporaire("DB")).filename().string().substr(0, 11), "utireorg-DB");
  for (const auto& nom : {a, b}) EXPECT_TRUE(LibereTemporaire(nom));
}

// What runs killed on the way left is removed with everything named after it, once nobody holds
// it; what this process holds, what is not named as the program's own, and the databases of the
// run, whatever their name, are left.
TEST_F(Copies, LesTemporairesAbandonnesSontSupprimesSaufCeuxQuOnTientOuQuOnEpargne) {
  const std::string tmp = Chemin("tmp");
  const std::string tenu = NomFichierTemporaire("DB");
  for (const std::string nom :
       {"utireorg-DBabc123", "utireorg-DBabc123.mdb", "utireorg-DBabc123.mdb-journal", "utireorg-Comxyz789",
        "utireorg-Comxyz789.mdb", "utireorg-DBcible", "utireorg-DBcible.mdb", "DBancien",
        "utireorg-DBabc123-x.mdb.autre", "utireorg-trop-long1"})
    std::ofstream(tmp + "/" + nom) << "x";
  const std::string cible = tmp + "/utireorg-DBcible.mdb";

  const auto supprimes = SupprimeTemporairesAbandonnes(tmp, {cible});
  std::vector<std::string> restants;
  for (const auto& e : fs::directory_iterator(tmp)) restants.push_back(e.path().filename().string());
  std::sort(restants.begin(), restants.end());
  const std::string nomTenu = fs::path(tenu).filename().string();
  std::vector<std::string> attendus{"DBancien", "utireorg-DBcible", "utireorg-DBcible.mdb", "utireorg-trop-long1",
                                    nomTenu, nomTenu.substr(0, nomTenu.size() - 4)};
  std::sort(attendus.begin(), attendus.end());
  EXPECT_EQ(restants, attendus);
  EXPECT_EQ(supprimes.size(), 4u);
  EXPECT_TRUE(LibereTemporaire(tenu));
  EXPECT_FALSE(fs::exists(tenu));
  EXPECT_FALSE(fs::exists(tenu.substr(0, tenu.size() - 4)));
}

TEST_F(Copies, NomFichierTemporaireSansDossierUtilisableEchoue) {
  ::setenv("TMPDIR", Chemin("absent").c_str(), 1);
  auto r = moteur::Essaie([] { NomFichierTemporaire("DB"); });
  EXPECT_EQ(r.Number, 53) << r.Description;
  ::setenv("TMPDIR", (Chemin("tmp") + "//").c_str(), 1);
  EXPECT_EQ(fs::path(NomFichierTemporaire("DB")).parent_path(), fs::path(Chemin("tmp")));
}

// ---------------------------------------------------------------------------------------------
// SauvegardeBases

TEST_F(Copies, SauvegardeCopieLaBasePrincipaleEtRendLeCheminDeLaCopie) {
  std::string origine = Base();
  auto ensemble = Ensemble(origine);
  EXPECT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);

  EXPECT_EQ(Lignes(), (Section("Sauvegarde des bases de données") +
                          std::vector<std::string>{H + "  Début Sauvegarde " + origine, H + "  Fin Sauvegarde " + origine}));
  ASSERT_EQ(fenetre.legendes.size(), 1u);
  EXPECT_EQ(fenetre.legendes[0], std::make_pair(std::string("Sauvegarde base de données principale"), origine));
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{0, 2, 4}));
  EXPECT_EQ(fenetre.progressMax, 4);
  EXPECT_TRUE(fenetre.messages.empty());

  EXPECT_TRUE(etat.sauvegardeFaite);
  EXPECT_EQ(etat.cheminsOrigine[SlotPrincipal], origine);
  const std::string& copie = ensemble.chemins[SlotPrincipal];
  EXPECT_EQ(fs::path(copie).parent_path(), fs::path(Chemin("tmp")));
  EXPECT_EQ(fs::path(copie).filename().string().substr(0, 11), "utireorg-DB");
  EXPECT_EQ(NomsClients(copie), NomsClients(origine));
  for (int i : {0, 1, 3, 4}) {
    EXPECT_EQ(ensemble.chemins[i], "");
    EXPECT_EQ(etat.cheminsOrigine[i], "");
  }
}

TEST_F(Copies, LesSlotsVidesSontIgnores) {
  std::string premiere = Base("premiere.mdb", 1);
  std::string derniere = Base("derniere.mdb", 2);
  EnsembleBases ensemble;
  ensemble.chemins[0] = premiere;
  ensemble.libelles[0] = "première";
  ensemble.chemins[4] = derniere;
  ensemble.libelles[4] = "dernière";
  ensemble.libelles[2] = "sans chemin";
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  EXPECT_EQ(Lignes(), (Section("Sauvegarde des bases de données") +
                          std::vector<std::string>{H + "  Début Sauvegarde " + premiere, H + "  Fin Sauvegarde " + premiere,
                                                   H + "  Début Sauvegarde " + derniere, H + "  Fin Sauvegarde " + derniere}));
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{0, 0, 4, 4}));
  for (int i : {1, 2, 3}) EXPECT_EQ(ensemble.chemins[i], "");
  // Each copy and the lock file its run holds it by.
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("tmp")).size(), 4u);

  fenetre.journal.clear();
  fenetre.legendes.clear();
  ASSERT_EQ(RestaurationBases(etat, ensemble), CopieReussie);
  EXPECT_EQ(Lignes(), (Section("Restauration des bases de données") +
                          std::vector<std::string>{H + "  Début Restauration " + premiere, H + "  Fin Restauration " + premiere,
                                                   H + "  Début Restauration " + derniere, H + "  Fin Restauration " + derniere}));
  EXPECT_EQ(fenetre.legendes.size(), 3u);
  EXPECT_EQ(ensemble.chemins[0], premiere);
  EXPECT_EQ(ensemble.chemins[4], derniere);
  EXPECT_TRUE(FichiersDuDossierPresent(Chemin("tmp")).empty());
}

TEST_F(Copies, CinqSlotsVidesNEcriventQueLesSections) {
  EnsembleBases ensemble;
  EXPECT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  EXPECT_TRUE(etat.sauvegardeFaite);
  EXPECT_EQ(Lignes(), Section("Sauvegarde des bases de données"));
  EXPECT_TRUE(fenetre.legendes.empty());

  fenetre.journal.clear();
  EXPECT_EQ(RestaurationBases(etat, ensemble), CopieReussie);
  EXPECT_FALSE(etat.sauvegardeFaite);
  EXPECT_EQ(Lignes(), Section("Restauration des bases de données"));
  ASSERT_EQ(fenetre.legendes.size(), 1u);
  EXPECT_EQ(fenetre.legendes[0], std::make_pair(std::string("Restauration des bases de données"), std::string()));
  EXPECT_TRUE(FichiersDuDossierPresent(Chemin("tmp")).empty());
}

TEST_F(Copies, DisquePleinPendantLaCopieDuSlotDeux) {
  std::string autre = Base("autre.mdb", 1);
  std::string origine = Base();
  std::string avant = outils::LitFichier(origine);
  auto ensemble = Ensemble(origine);
  ensemble.chemins[0] = autre;
  ensemble.libelles[0] = "autre base";
  // The disk fills once slot 0 is safely copied, while slot 2 is being copied.
  int copies = 0;
  DefinitInterruption([&](std::string_view etape, const std::string&) {
    if (etape == "copie" && ++copies == 2) moteur::injection::LimiteEcriture(2000);
  });
  EXPECT_EQ(SauvegardeBases(etat, ensemble), CopieDisquePlein);

  EXPECT_EQ(Lignes(), (Section("Sauvegarde des bases de données") +
                          std::vector<std::string>{H + "  Début Sauvegarde " + autre, H + "  Fin Sauvegarde " + autre,
                                                   H + "  Début Sauvegarde " + origine,
                                                   H + "  Erreur 61 - Sauvegarde " + origine,
                                                   H + "#ERR# Espace disque insuffisant pour sauvegarder les données."}));
  ASSERT_EQ(fenetre.messages.size(), 1u);
  AttendMessage(0, MessageDisque);
  EXPECT_FALSE(etat.sauvegardeFaite);
  EXPECT_EQ(ensemble.chemins[0], autre);
  EXPECT_EQ(ensemble.chemins[SlotPrincipal], origine);
  for (int i : {1, 3, 4}) EXPECT_EQ(ensemble.chemins[i], "");
  EXPECT_EQ(etat.derniereErreur, 61);
  // Nothing refers to the copies any more: none may stay behind to fill the disk.
  EXPECT_TRUE(FichiersDuDossierPresent(Chemin("tmp")).empty());
  EXPECT_EQ(outils::LitFichier(origine), avant);
}

TEST_F(Copies, Erreur3183CommeUnDisquePlein) {
  std::string origine = Base();
  auto ensemble = Ensemble(origine);
  DefinitInterruption([](std::string_view etape, const std::string&) {
    if (etape == "copie") throw moteur::ErreurMoteur(3183);
  });
  EXPECT_EQ(SauvegardeBases(etat, ensemble), CopieDisquePlein);
  auto lignes = Lignes();
  ASSERT_GE(lignes.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(lignes.end() - 2, lignes.end()),
            (std::vector<std::string>{H + "  Erreur 3183 - Sauvegarde " + origine,
                                      H + "#ERR# Espace disque insuffisant pour sauvegarder les données."}));
  AttendMessage(0, MessageDisque);
  EXPECT_EQ(ensemble.chemins[SlotPrincipal], origine);
}

TEST_F(Copies, BaseTenueParUnAutreProcessus) {
  std::string origine = Base();
  auto ensemble = Ensemble(origine);
  {
    outils::ProcessusAide aide(CHEMIN_aide_tenue, {origine, "exclusif"});
    ASSERT_EQ(aide.PremiereLigne(), "pret");
    EXPECT_EQ(SauvegardeBases(etat, ensemble), CopieFichierUtilise);
  }
  auto lignes = Lignes();
  ASSERT_GE(lignes.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lignes.end() - 3, lignes.end()),
            (std::vector<std::string>{H + "  Début Sauvegarde " + origine, H + "  Erreur 70 - Sauvegarde " + origine,
                                      H + "#ERR# Le fichier est déjà ouvert par une autre application."}));
  ASSERT_EQ(fenetre.messages.size(), 1u);
  AttendMessage(0, MessageOuvert);
  EXPECT_FALSE(etat.sauvegardeFaite);
  EXPECT_EQ(ensemble.chemins[SlotPrincipal], origine);
  EXPECT_TRUE(FichiersDuDossierPresent(Chemin("tmp")).empty());
}

TEST_F(Copies, UneEcritureEnCoursNeDonneJamaisUneCopieDechiree) {
  std::string origine = Base();
  auto ensemble = Ensemble(origine);
  {
    // The other process has already written part of its transaction into the file itself.
    outils::ProcessusAide aide(CHEMIN_aide_tenue, {origine, "ecriture"});
    ASSERT_EQ(aide.PremiereLigne(), "pret");
    EXPECT_EQ(SauvegardeBases(etat, ensemble), CopieFichierUtilise);
    EXPECT_EQ(ensemble.chemins[SlotPrincipal], origine);
  }
  // Once it has given up, the copy is the database as it was committed.
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  auto copie = moteur::DBEngine::OpenDatabase(ensemble.chemins[SlotPrincipal]);
  EXPECT_TRUE(copie.VerifieIntegrite().empty());
  EXPECT_EQ(outils::Compte(copie, "Clients"), 3);
  copie.Close();
}

TEST_F(Copies, AutreErreurPasseParLeGestionnaire) {
  std::string absente = Chemin("bases/absente.mdb");
  auto ensemble = Ensemble(absente);
  EXPECT_EQ(SauvegardeBases(etat, ensemble), CopieErreur);
  EXPECT_EQ(Lignes().back(), H + "  Erreur 53 - Sauvegarde " + absente);
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].titre, "Erreur");
  EXPECT_TRUE(fs::exists("STE.JNL"));
  EXPECT_NE(outils::LitFichier("STE.JNL").find("Txt:" + VersAnsi(TitreApplication())), std::string::npos);
  EXPECT_EQ(ensemble.chemins[SlotPrincipal], absente);
  EXPECT_TRUE(FichiersDuDossierPresent(Chemin("tmp")).empty());
}

TEST_F(Copies, UnFichierEtrangerEstCopieOctetPourOctet) {
  std::string etranger = Chemin("bases/etranger.mdb");
  outils::EcritFichier(etranger, std::string("pas une base\0\1\2", 15) + std::string(5000, 'x'));
  std::string vide = Chemin("bases/vide.mdb");
  outils::EcritFichier(vide, "");
  for (const auto& origine : {etranger, vide}) {
    auto ensemble = Ensemble(origine);
    ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie) << origine;
    EXPECT_EQ(outils::LitFichier(ensemble.chemins[SlotPrincipal]), outils::LitFichier(origine)) << origine;
  }
}

TEST_F(Copies, UnePageEndommageeEstCopieeTelleQuelle) {
  std::string origine = Base();
  std::string octets = outils::LitFichier(origine);
  ASSERT_GE(octets.size(), 3 * 4096u);
  std::string derniere = std::string(4096, '\xA5');
  octets.replace(octets.size() - 4096, 4096, derniere);
  outils::EcritFichier(origine, octets);
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  std::string copie = outils::LitFichier(ensemble.chemins[SlotPrincipal]);
  ASSERT_EQ(copie.size(), octets.size());
  EXPECT_EQ(copie.substr(copie.size() - 4096), derniere);  // left for the repair to deal with
}

// ---------------------------------------------------------------------------------------------
// RestaurationBases

TEST_F(Copies, ValidationRemplaceLOrigineEtVideLeDossierTemporaire) {
  std::string origine = Base();
  ::chmod(origine.c_str(), 0640);
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  {
    auto copie = moteur::DBEngine::OpenDatabase(ensemble.chemins[SlotPrincipal]);
    outils::Ajoute(copie, "Clients", {{"Id", 4}, {"Nom", "traité"}});
    copie.Close();
  }
  fenetre.journal.clear();
  fenetre.legendes.clear();
  fenetre.valeursProgress.clear();

  EXPECT_EQ(RestaurationBases(etat, ensemble), CopieReussie);
  EXPECT_EQ(Lignes(), (Section("Restauration des bases de données") +
                          std::vector<std::string>{H + "  Début Restauration " + origine,
                                                   H + "  Fin Restauration " + origine}));
  EXPECT_EQ(fenetre.legendes,
            (std::vector<std::pair<std::string, std::string>>{{"Restauration des bases de données", ""},
                                                              {"Restauration base de données principale", origine}}));
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{0, 2, 4}));
  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_FALSE(etat.sauvegardeFaite);
  EXPECT_EQ(ensemble.chemins[SlotPrincipal], origine);
  EXPECT_EQ(NomsClients(origine), (std::vector<std::string>{"client 1", "client 2", "client 3", "traité"}));
  EXPECT_TRUE(FichiersDuDossierPresent(Chemin("tmp")).empty());
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"compta.mdb"});
  EXPECT_EQ(fs::status(origine).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(Copies, AbandonSupprimeLesCopiesSansToucherALOrigine) {
  std::string origine = Base();
  std::string avant = outils::LitFichier(origine);
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  {
    auto copie = moteur::DBEngine::OpenDatabase(ensemble.chemins[SlotPrincipal]);
    copie.Execute("DELETE FROM Clients", moteur::dbFailOnError);
    copie.Close();
  }
  fenetre.journal.clear();
  EXPECT_EQ(RestaurationBases(etat, ensemble, true), CopieReussie);
  EXPECT_EQ(Lignes(), (Section("Restauration des bases de données") +
                          std::vector<std::string>{H + "  Début Restauration " + origine,
                                                   H + "  Fin Restauration " + origine}));
  EXPECT_EQ(outils::LitFichier(origine), avant);
  EXPECT_TRUE(FichiersDuDossierPresent(Chemin("tmp")).empty());
  EXPECT_EQ(ensemble.chemins[SlotPrincipal], origine);
  EXPECT_FALSE(etat.sauvegardeFaite);
  EXPECT_TRUE(fenetre.messages.empty());
}

TEST_F(Copies, AbandonNeMontreRienMemeQuandLaCopieADisparu) {
  std::string origine = Base();
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  fs::remove(ensemble.chemins[SlotPrincipal]);
  EXPECT_EQ(RestaurationBases(etat, ensemble, true), CopieReussie);
  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_TRUE(fs::exists(origine));
}

TEST_F(Copies, AbandonNommeLaCopieQuiNAPasPuEtreSupprimee) {
  std::string origine = Base();
  std::string avant = outils::LitFichier(origine);
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  const std::string copie = ensemble.chemins[SlotPrincipal];
  // The temporary folder refuses the removal, as one turned read-only meanwhile would (the tests
  // may run as root, whom no folder's rights stop).
  DefinitInterruption([copie](std::string_view etape, const std::string& chemin) {
    if (etape == "suppression" && chemin == copie)
      throw std::system_error(std::make_error_code(std::errc::read_only_file_system), chemin);
  });
  fenetre.journal.clear();
  EXPECT_EQ(RestaurationBases(etat, ensemble, true), CopieErreur);
  EXPECT_EQ(Lignes(),
            (Section("Restauration des bases de données") +
             std::vector<std::string>{H + "  Début Restauration " + origine,
                                      H + "#ERR# La copie de travail « " + copie + " » de la base « " + origine +
                                          " » n'a pas pu être supprimée : supprimez-la, "
                                          "elle ne sert plus.",
                                      H + "  Fin Restauration " + origine}));
  EXPECT_TRUE(fs::exists(copie));
  EXPECT_EQ(outils::LitFichier(origine), avant);
  EXPECT_EQ(ensemble.chemins[SlotPrincipal], origine);
  EXPECT_FALSE(etat.sauvegardeFaite);
  EXPECT_TRUE(fenetre.messages.empty());
}

TEST_F(Copies, UnSlotSansCopieNeSupprimeJamaisSonOrigine) {
  std::string origine = Base();
  std::string avant = outils::LitFichier(origine);
  auto ensemble = Ensemble(origine);
  etat.cheminsOrigine[SlotPrincipal] = origine;  // the paths were never replaced by copies
  etat.sauvegardeFaite = true;
  EXPECT_EQ(RestaurationBases(etat, ensemble, true), CopieReussie);
  EXPECT_EQ(outils::LitFichier(origine), avant);
  EXPECT_EQ(RestaurationBases(etat, ensemble), CopieReussie);
  EXPECT_EQ(outils::LitFichier(origine), avant);
}

TEST_F(Copies, ValidationSurDisquePleinGardeLOrigineEtNommeLaCopie) {
  std::string origine = Base();
  std::string avant = outils::LitFichier(origine);
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  std::string copie = ensemble.chemins[SlotPrincipal];
  std::string traitee = outils::LitFichier(copie);
  fenetre.journal.clear();
  {
    moteur::injection::LimiteTemporaire plein(100);
    EXPECT_EQ(RestaurationBases(etat, ensemble), CopieDisquePlein);
  }
  // Kept under a name of its own, which no later run takes for the leftover of a killed one.
  const std::string gardee = ensemble.chemins[SlotPrincipal];
  EXPECT_EQ(fs::path(gardee).parent_path(), fs::path(copie).parent_path());
  EXPECT_EQ(fs::path(gardee).filename().string().substr(0, 15), "compta-traitee-");
  EXPECT_EQ(Lignes(), (Section("Restauration des bases de données") +
                       std::vector<std::string>{
                           H + "  Début Restauration " + origine, H + "  Erreur 61 - Restauration " + origine,
                           H + "#ERR# Espace disque insuffisant pour restaurer les données.",
                           H + "#ERR# La base d'origine " + origine +
                               " n'a pas été modifiée ; la base traitée est conservée dans " + gardee,
                           H + LigneCopieLaissee(gardee)}));
  ASSERT_EQ(fenetre.messages.size(), 1u);
  AttendMessage(0, "!#Espace disque Insuffisant!@@Réorganisation annulée.");
  EXPECT_FALSE(etat.sauvegardeFaite);
  EXPECT_EQ(outils::LitFichier(origine), avant);
  EXPECT_EQ(outils::LitFichier(gardee), traitee);
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("tmp")), std::vector<std::string>{fs::path(gardee).filename().string()});
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"compta.mdb"});
}

// A file its owner made read-only is not replaced, whoever runs the program (root writes anything,
// and a rename beside it would go through): the processed copy is kept, and the user is told the
// file is read-only.
TEST_F(Copies, ValidationSurUneOrigineEnLectureSeuleLaLaisseEtLeDit) {
  std::string origine = Base();
  std::string avant = outils::LitFichier(origine);
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  ASSERT_EQ(::chmod(origine.c_str(), 0444), 0);
  fenetre.journal.clear();
  EXPECT_EQ(RestaurationBases(etat, ensemble), CopieErreur);
  const std::string gardee = ensemble.chemins[SlotPrincipal];
  EXPECT_TRUE(fs::exists(gardee));
  EXPECT_NE(fenetre.journal.find("#ERR# La base d'origine " + origine +
                                 " est en lecture seule : elle n'a pas été modifiée ; la base traitée est conservée dans " +
                                 gardee),
            std::string::npos)
      << fenetre.journal;
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_NE(fenetre.messages[0].texte.find("est en lecture seule"), std::string::npos);
  EXPECT_EQ(fenetre.messages[0].texte.find("endommagée"), std::string::npos);
  EXPECT_EQ(outils::LitFichier(origine), avant);
  struct stat etatFichier {};
  ASSERT_EQ(::stat(origine.c_str(), &etatFichier), 0);
  EXPECT_EQ(etatFichier.st_mode & 07777, 0444u);
  ::chmod(origine.c_str(), 0644);
}

TEST_F(Copies, ValidationDontLeRenommageEchoueGardeLOrigineEtNommeLaCopie) {
  std::string origine = Base();
  std::string avant = outils::LitFichier(origine);
  auto ensemble = Ensemble(origine);
  ASSERT_EQ(SauvegardeBases(etat, ensemble), CopieReussie);
  std::string copie = ensemble.chemins[SlotPrincipal];
  fenetre.journal.clear();
  DefinitInterruption([](std::string_view etape, const std::string& chemin) {
    if (etape == "remplacement") throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin});
  });
  EXPECT_EQ(RestaurationBases(etat, ensemble), CopieErreur);
  auto lignes = Lignes();
  ASSERT_GE(lignes.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lignes.end() - 3, lignes.end()),
            (std::vector<std::string>{H + "  Erreur 70 - Restauration " + origine,
                                      H + "#ERR# La base d'origine " + origine +
                                          " n'a pas été modifiée ; la base traitée est conservée dans " +
                                          ensemble.chemins[SlotPrincipal],
                                      H + LigneCopieLaissee(ensemble.chemins[SlotPrincipal])}));
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].titre, "Erreur");  // the error handler's message
  EXPECT_EQ(outils::LitFichier(origine), avant);
  EXPECT_TRUE(fs::exists(ensemble.chemins[SlotPrincipal]));
  EXPECT_EQ(FichiersDuDossierPresent(Chemin("bases")), std::vector<std::string>{"compta.mdb"});

  // The driver then has nothing to discard: the copy stays where the journal says.
  EXPECT_FALSE(etat.sauvegardeFaite);
}

}  // namespace

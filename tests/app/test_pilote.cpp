// The run driver: the journal frame of a run, the end of a run, the main handler and its bounded
// retry after error 3163, the host interface and the step estimate.
#include "test_pilote_outils.h"

#include "copies/Copies.h"
#include "moteur/Erreurs.h"

namespace pilote_tests {
namespace {

using utireorg::IssueRun;
using utireorg::PointeurSouris;
using utireorg::SuiteEtape;

const std::string Etoiles(75, '*');
const std::string Tirets(75, '-');

// ---- The frame of a run ----

TEST_F(TestPilote, UnRunSansOptionEcritLeCadreDuJournalEtSeTermine) {
  std::string cible = CreePetiteBase("Compta.mdb");
  std::string avant = LitFichier(cible);
  Saisit(cible);

  pilote->LanceReorganisation();

  auto lignes = fenetre->Lignes();
  ASSERT_EQ(lignes.size(), 16u) << fenetre->journal;
  EXPECT_EQ(lignes[0], Etoiles);
  EXPECT_EQ(fenetre->PositionCadre("Analyse de bases de données"), 1);
  EXPECT_EQ(lignes[2], Etoiles);
  EXPECT_EQ(lignes[3], "Date : " + DateAttendue());
  EXPECT_EQ(lignes[4], "Logiciel : Compta");
  EXPECT_EQ(lignes[5], "");
  EXPECT_EQ(lignes[6], Tirets);
  EXPECT_EQ(fenetre->PositionCadre("Réorganisation base de données principale"), 7);
  EXPECT_EQ(lignes[8], Tirets);
  EXPECT_EQ(lignes[9], "");
  EXPECT_EQ(lignes[10], "");
  EXPECT_EQ(lignes[11], Etoiles);
  EXPECT_EQ(fenetre->PositionCadre("Fin de l'analyse de bases de données"), 12);
  EXPECT_EQ(lignes[13], Etoiles);
  EXPECT_EQ(lignes[14], "");
  EXPECT_EQ(lignes[15], "");

  // The file holds the same lines, in code page 1252.
  std::string fichier = utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt")));
  EXPECT_NE(fichier.find("Logiciel : Compta\r\n"), std::string::npos);
  EXPECT_NE(fichier.find("Date : " + DateAttendue() + "\r\n"), std::string::npos);

  EXPECT_EQ(pilote->Issue(), IssueRun::Terminee);
  ASSERT_FALSE(fenetre->legendes.empty());
  EXPECT_EQ(fenetre->legendes.back(), std::make_pair(std::string("Procédure terminée."), std::string()));
  EXPECT_FALSE(fenetre->progressVisible);
  EXPECT_EQ(fenetre->progress, 0);
  EXPECT_EQ(fenetre->bips, 1);
  EXPECT_EQ(fenetre->enErreur, 0);
  EXPECT_TRUE(pilote->Traite());
  EXPECT_FALSE(pilote->ReorgEnCours());

  // Quitter and Lancer were disabled; the hourglass came and went.
  EXPECT_EQ(fenetre->boutons, (std::vector<std::pair<int, bool>>{{bouton::Quitter, false}, {bouton::Lancer, false}}));
  ASSERT_GE(fenetre->pointeurs.size(), 2u);
  EXPECT_EQ(fenetre->pointeurs.front(), PointeurSouris::Sablier);
  EXPECT_EQ(fenetre->pointeurs.back(), PointeurSouris::Normal);

  // The database is open again and untouched; nothing is left in the temporary folder.
  ASSERT_TRUE(pilote->Etat().baseCourante.EstOuverte());
  EXPECT_EQ(pilote->Etat().baseCourante.Name(), cible);
  pilote->Etat().baseCourante.Close();
  EXPECT_EQ(LitFichier(cible), avant);
  EXPECT_TRUE(FichiersTemporaires().empty());
  EXPECT_FALSE(fs::exists(Chemin("copie_reorg.mdb")));
}

TEST_F(TestPilote, UnSecondRunEcritUnNouveauCadreALaSuiteDuPremier) {
  Saisit(CreePetiteBase("Compta.mdb"));
  pilote->LanceReorganisation();
  ASSERT_TRUE(pilote->ControleSaisies());
  pilote->LanceReorganisation();
  auto premier = fenetre->PositionCadre("Analyse de bases de données");
  auto second = fenetre->PositionCadre("Analyse de bases de données", premier + 1);
  EXPECT_EQ(second, 16 + 1);  // right after the first run's sixteen lines and the stars
  std::string fichier = utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt")));
  EXPECT_NE(fichier.find("Logiciel : Compta"), fichier.rfind("Logiciel : Compta"));
}

TEST_F(TestPilote, SansNomDeBaseLaBasePrincipaleEstLeNomDuLogicielDansLeDossierCourant) {
  std::string cible = CreePetiteBase("Compta.mdb");
  pilote->Etat().nomLogiciel = "Compta";
  fenetre->coches[coche::ReparationCompactage] = true;  // repaired and compacted where the name leads

  pilote->LanceReorganisation();

  EXPECT_EQ(pilote->Issue(), IssueRun::Terminee) << fenetre->journal;
  ASSERT_TRUE(pilote->Etat().baseCourante.EstOuverte());
  EXPECT_EQ(pilote->Etat().baseCourante.Name(), "Compta.mdb");
  EXPECT_EQ(pilote->Etat().cheminOrigine, "Compta.mdb");
  EXPECT_TRUE(fenetre->ContientTexte("Compactage base de données principale"));
  EXPECT_EQ(pilote->Etat().baseCourante.TableDefs()["Clients"].RecordCount(), 3);
  (void)cible;
}

// ---- The end of a failed run ----

// Every value of every record of the user's tables, in key order, as one text.
std::string ContenuDesTables(const std::string& chemin) {
  auto base = moteur::DBEngine::OpenDatabase(chemin);
  std::string texte;
  for (const char* table : {"Clients", "Derniere"}) {
    auto rs = base.OpenRecordset(std::string("SELECT * FROM ") + table + " ORDER BY 1", moteur::dbOpenSnapshot);
    for (; !rs.Eof(); rs.MoveNext()) {
      for (int i = 0; i < rs.Fields().Count(); ++i) texte += rs.Fields()[i].Value().EnTexte() + "|";
      texte += "\n";
    }
  }
  return texte;
}

// A target that no longer opens, cut short by a byte: refused at the input check unless the run
// is to repair it, which it then does, keeping every record on its whole pages, on the file
// itself or on a working copy that then goes back in its place. A file that is no database of the
// engine is still refused.
TEST_F(TestPilote, UneBaseQuiNeSOuvrePlusEstRepareeParLeRunQuandLaReparationEstCochee) {
  for (bool securise : {false, true}) {
    SCOPED_TRACE(securise ? "Mode sécurisé" : "sur la base même");
    const std::string cible = CibleAvecDerniereTable(securise);
    const std::string avant = ContenuDesTables(cible);
    ASSERT_NE(avant.find("Martin"), std::string::npos);
    fs::resize_file(cible, fs::file_size(cible) - 1);
    fenetre->coches[coche::ReparationCompactage] = false;
    fenetre->coches[coche::ModeSecurise] = securise;
    fenetre->coches[coche::VerificationsPrimaires] = true;
    fenetre->saisies[saisie::Cible] = cible;
    EXPECT_FALSE(pilote->ControleSaisies());
    EXPECT_TRUE(fenetre->ContientTexte("tronqué")) << fenetre->journal;
    EXPECT_TRUE(fenetre->ContientTexte("Cochez « Réparation / Compactage » pour qu'elle soit réparée."))
        << fenetre->journal;
    // The record copy reads the file before any repair: the user is told how to go about it.
    fenetre->coches[coche::ReparationCompactage] = true;
    fenetre->cases[cases::Copie] = true;
    fenetre->saisies[saisie::Modele] = CreePetiteBase(securise ? "Securise/Modele.mdb" : "Modele.mdb");
    EXPECT_FALSE(pilote->ControleSaisies());
    EXPECT_TRUE(fenetre->ContientTexte("lancez d'abord la réparation seule, sans « Copie des enregistrements »"))
        << fenetre->journal;
    fenetre->cases[cases::Copie] = false;
    Saisit(cible);
    fenetre->journal.clear();
    fenetre->reponses = {1, 1, 1};
    EXPECT_EQ(pilote->Lancer(), utireorg::IssueLancer::Terminee) << fenetre->journal;
    EXPECT_TRUE(fenetre->ContientTexte("#ALERT# La base à analyser ne s'ouvre pas : ")) << fenetre->journal;
    EXPECT_EQ(pilote->Issue(), IssueRun::Terminee) << fenetre->journal;
    // The reading pass cannot read it: the repair, which reads every page, says what it lost.
    EXPECT_FALSE(fenetre->ContientTexte("#ERR#")) << fenetre->journal;
    EXPECT_TRUE(fenetre->ContientTexte("lus par sa réparation")) << fenetre->journal;
    EXPECT_EQ(ContenuDesTables(cible), avant);
  }
  std::ofstream(Chemin("Autre.mdb")) << "pas une base";
  fenetre->saisies[saisie::Cible] = Chemin("Autre.mdb");
  EXPECT_FALSE(pilote->ControleSaisies());
}

// A target whose signature another program overwrote: damaged, not foreign. The user is told to
// tick the repair, which then reads its pages under a header made again and loses nothing.
TEST_F(TestPilote, UneBaseDontLEnTeteEstEcraseEstRepareeParLeRun) {
  for (bool securise : {false, true}) {
    SCOPED_TRACE(securise ? "Mode sécurisé" : "sur la base même");
    const std::string cible = CibleAvecDerniereTable(securise);
    const std::string avant = ContenuDesTables(cible);
    {
      std::fstream f(cible, std::ios::in | std::ios::out | std::ios::binary);
      f.write("XXXXXX", 6);
    }
    fenetre->coches[coche::ReparationCompactage] = false;
    fenetre->coches[coche::ModeSecurise] = securise;
    fenetre->coches[coche::VerificationsPrimaires] = true;
    fenetre->saisies[saisie::Cible] = cible;
    EXPECT_FALSE(pilote->ControleSaisies());
    EXPECT_TRUE(fenetre->ContientTexte("L'en-tête de la base de données")) << fenetre->journal;
    EXPECT_TRUE(fenetre->ContientTexte("Cochez « Réparation / Compactage » pour qu'elle soit réparée."))
        << fenetre->journal;
    fenetre->coches[coche::ReparationCompactage] = true;
    Saisit(cible);
    fenetre->journal.clear();
    fenetre->reponses = {1, 1, 1};
    EXPECT_EQ(pilote->Lancer(), utireorg::IssueLancer::Terminee) << fenetre->journal;
    EXPECT_EQ(pilote->Issue(), IssueRun::Terminee) << fenetre->journal;
    EXPECT_FALSE(fenetre->ContientTexte("#ERR#")) << fenetre->journal;
    EXPECT_TRUE(fenetre->ContientTexte("#ALERT# L'en-tête de la base de données '" + cible +
                                       "' était écrasé : il a été refait d'après ses pages"))
        << fenetre->journal;
    EXPECT_EQ(ContenuDesTables(cible), avant);
  }
}

TEST_F(TestPilote, UneEtapeQuiEchoueTermineLeRunParLesDeuxLignesDEchecEtLaLegendeEnRouge) {
  std::string cible = CreePetiteBase("Compta.mdb");
  std::string modele = CreePetiteBase("Logiciel/Modele.mdb");
  fenetre->cases[cases::Copie] = true;
  Saisit(cible, modele);
  fs::remove(modele);  // the copy of the model now fails with "file not found"

  pilote->LanceReorganisation();

  EXPECT_EQ(pilote->Issue(), IssueRun::Interrompue);
  long endommagee = fenetre->Position("#ERR# Base de données endommagée !");
  ASSERT_GE(endommagee, 0) << fenetre->journal;
  auto lignes = fenetre->Lignes();
  ASSERT_GE(lignes.size(), 2u);
  EXPECT_EQ(lignes[lignes.size() - 2], "La réorganisation ne s'est pas terminée correctement !");
  EXPECT_EQ(lignes.back(), "Erreur 53");
  EXPECT_EQ(fenetre->PositionCadre("Fin de l'analyse de bases de données"), -1);
  EXPECT_EQ(fenetre->NombreMessages("Erreur"), 1);  // the error handler told the user

  EXPECT_EQ(fenetre->legendes.back(), std::make_pair(std::string("Procédure interrompue !"), std::string()));
  EXPECT_EQ(fenetre->enErreur, 1);
  EXPECT_EQ(fenetre->bips, 0);  // no end-of-run beep
  EXPECT_FALSE(pilote->Traite());
  EXPECT_FALSE(pilote->ReorgEnCours());
  EXPECT_EQ(fenetre->pointeurs.back(), PointeurSouris::Normal);
  EXPECT_TRUE(FichiersTemporaires().empty());
}

TEST_F(TestPilote, UnEchecEnModeSecuriseJetteLaCopieDeTravailEtLaisseLOrigineIntacte) {
  std::string cible = CreePetiteBase("Compta.mdb");
  std::string modele = CreePetiteBase("Logiciel/Modele.mdb");
  fenetre->coches[coche::ReparationCompactage] = true;
  fenetre->coches[coche::ModeSecurise] = true;
  fenetre->cases[cases::Copie] = true;
  Saisit(cible, modele);
  pilote->Etat().baseCourante.Close();
  std::string avant = LitFichier(cible);
  fs::remove(modele);

  pilote->LanceReorganisation();

  EXPECT_EQ(pilote->Issue(), IssueRun::Interrompue);
  long echec = fenetre->Position("La réorganisation ne s'est pas terminée correctement !");
  ASSERT_GE(echec, 0);
  // The discarding restoration comes after the two failure lines.
  EXPECT_GT(fenetre->PositionCadre("Restauration des bases de données"), echec);
  EXPECT_FALSE(pilote->Etat().sauvegardeFaite);
  EXPECT_FALSE(pilote->Etat().baseCourante.EstOuverte());  // no handle left on a deleted copy
  EXPECT_EQ(LitFichier(cible), avant);
  EXPECT_TRUE(FichiersTemporaires().empty());
}

// ---- The main handler ----

TEST_F(TestPilote, UneErreurQuelconqueDUneEtapeLaTermineCommeBaseEndommagee) {
  int appels = 0;
  auto suite = pilote->ExecuteEtape([&] {
    ++appels;
    throw moteur::ErreurMoteur(moteur::err::BaseEndommagee);
  });
  EXPECT_EQ(suite, SuiteEtape::Fin);
  EXPECT_EQ(appels, 1);
  EXPECT_TRUE(pilote->Etat().echec);
  EXPECT_EQ(pilote->Etat().derniereErreur, moteur::err::BaseEndommagee);
  EXPECT_EQ(fenetre->Lignes(), std::vector<std::string>{});  // the journal is not open outside a run
  ASSERT_EQ(fenetre->NombreMessages("Erreur"), 1);
  EXPECT_EQ(fenetre->fermetures, 0);
}

TEST_F(TestPilote, LesErreursIndetermineesAbandonnentLeRunEtFermentLaFenetre) {
  for (int numero : {5, 13, moteur::err::BaseEnUtilisation}) {
    SCOPED_TRACE(numero);
    auto fen = std::make_unique<FenetreTest>();
    utireorg::Pilote p(*fen);
    ASSERT_TRUE(p.JournalAnalyse().OuvertureJournal());
    auto suite = p.ExecuteEtape([&] { throw moteur::ErreurMoteur(numero, "échec"); });
    EXPECT_EQ(suite, SuiteEtape::Abandon);
    EXPECT_TRUE(fen->Contient("#ERR# Erreur " + std::to_string(numero) + " : Erreur non déterminée !"));
    ASSERT_EQ(fen->messages.size(), 1u);
    EXPECT_EQ(fen->messages[0].titre, "Réorganisation");
    EXPECT_EQ(fen->messages[0].icone, 1);
    EXPECT_EQ(fen->messages[0].texte,
              "La réorganisation ne peut s'effectuer\ndans le contexte actuel.\n\n"
              "Veuillez sortir du logiciel, puis tenter\nune nouvelle réorganisation.");
    EXPECT_EQ(fen->fermetures, 1);
    EXPECT_EQ(p.Issue(), IssueRun::Abandonnee);
    EXPECT_FALSE(p.ReorgEnCours());
  }
}

// A database whose "Clients" holds one name longer than its field, as a damaged file can.
class TestReprise3163 : public TestPilote {
 protected:
  void SetUp() override {
    TestPilote::SetUp();
    std::string chemin = CreePetiteBase("Compta.mdb");
    auto base = moteur::DBEngine::OpenDatabase(chemin);
    moteur::EcritSansControle(base, "Clients",
                              {{"Id", moteur::Valeur(10)},
                               {"Nom", moteur::Valeur("Un nom bien plus long que vingt")},
                               {"Ville", moteur::Valeur("Albi")}});
    base.Close();
    pilote->Etat().cheminTravail = chemin;
    ASSERT_TRUE(pilote->JournalAnalyse().OuvertureJournal());
  }
};

TEST_F(TestReprise3163, ApresUneVerificationReussieLEtapeEstRejouee) {
  fenetre->reponses = {1, 1};  // "Oui" to the verification, "Continuer" after its summary
  int appels = 0;
  auto suite = pilote->ExecuteEtape([&] {
    if (++appels == 1) throw moteur::ErreurMoteur(moteur::err::ValeurTropLongue);
  });
  EXPECT_EQ(suite, SuiteEtape::Continue);
  EXPECT_EQ(appels, 2);
  EXPECT_FALSE(pilote->Etat().echec);
  long tentative = fenetre->Position("#ERR# Erreur 3163 : tentative de réparation ...");
  ASSERT_GE(tentative, 0);
  EXPECT_GT(fenetre->Position("Tentative de réparation réussie !"), tentative);
  EXPECT_EQ(fenetre->NombreMessages("Compactage impossible"), 1);
  EXPECT_EQ(fenetre->pointeurs.back(), PointeurSouris::Sablier);
}

TEST_F(TestReprise3163, LaMemeErreurApresUneVerificationReussieTermineLeRun) {
  fenetre->reponses = {1, 1, 1, 1};
  int appels = 0;
  auto suite = pilote->ExecuteEtape([&] {
    ++appels;
    throw moteur::ErreurMoteur(moteur::err::ValeurTropLongue);
  });
  EXPECT_EQ(suite, SuiteEtape::Fin);
  EXPECT_EQ(appels, 2);
  EXPECT_TRUE(pilote->Etat().echec);
  EXPECT_EQ(fenetre->NombreMessages("Compactage impossible"), 1);  // verified once, not again
  EXPECT_TRUE(fenetre->Contient("#ERR# Erreur 3163 : la réparation des enregistrements n'a pas suffi !"));
}

TEST_F(TestReprise3163, UneVerificationRefuseeTermineLeRunSansRejouerLEtape) {
  fenetre->reponses = {2};  // "Non"
  int appels = 0;
  auto suite = pilote->ExecuteEtape([&] {
    ++appels;
    throw moteur::ErreurMoteur(moteur::err::ValeurTropLongue);
  });
  EXPECT_EQ(suite, SuiteEtape::Fin);
  EXPECT_EQ(appels, 1);
  EXPECT_TRUE(pilote->Etat().echec);
  EXPECT_FALSE(fenetre->Contient("Tentative de réparation réussie !"));
}

// ---- Host interface ----

TEST_F(TestPilote, ReorganisationSansArgumentVerifieLesRelationsEtFermeLaPageDesOptions) {
  pilote->FlagVerifRelation(false);
  pilote->ReorganisationComplete();
  pilote->Reorganisation();
  EXPECT_TRUE(pilote->Etat().flagVerifRelation);
  EXPECT_FALSE(pilote->ModeTousDossiers());
  EXPECT_EQ(fenetre->boutons, (std::vector<std::pair<int, bool>>{{bouton::Details, false}}));
  EXPECT_TRUE(pilote->vIsLoad());
  EXPECT_FALSE(pilote->Traite());
  EXPECT_FALSE(pilote->ReorgEnCours());

  pilote->Reorganisation(true, true, false);
  EXPECT_FALSE(pilote->Etat().flagVerifRelation);
}

TEST_F(TestPilote, LeMotAvanceDeLaLigneDeCommandeLaisseLaPageDesOptionsAccessible) {
  utireorg::MemoriseLigneDeCommande("utireorg avance");
  pilote->Reorganisation();
  EXPECT_TRUE(fenetre->boutons.empty());
}

// ---- Step estimate and version ----

TEST_F(TestPilote, CompteEtapesAdditionneChampsEtIndexDesTablesUtilisateur) {
  std::string chemin = CreePetiteBase("Compta.mdb");
  EXPECT_EQ(utireorg::Pilote::CompteEtapes(chemin), std::optional<long>(3 + 2 + 1));
}

TEST_F(TestPilote, CompteEtapesDUneBaseSansTableUtilisateurVautZero) {
  std::string chemin = Chemin("Vide.mdb");
  moteur::DBEngine::CreateDatabase(chemin, "4.0").Close();
  {
    auto base = moteur::DBEngine::OpenDatabase(chemin);
    ASSERT_GT(base.TableDefs().Count(), 0);  // the catalog's own tables are there
    base.Close();
  }
  EXPECT_EQ(utireorg::Pilote::CompteEtapes(chemin), std::optional<long>(0));
}

TEST_F(TestPilote, CompteEtapesRendLErreurQuiLArrete) {
  int erreur = 0;
  EXPECT_EQ(utireorg::Pilote::CompteEtapes(Chemin("absente.mdb"), &erreur), std::nullopt);
  EXPECT_NE(erreur, 0);
}

TEST_F(TestPilote, VersionBaseLitLaVersionOuRendUnTexteVide) {
  auto ancienne = moteur::DBEngine::OpenDatabase(CreePetiteBase("Ancienne.mdb", "3.0"));
  auto recente = moteur::DBEngine::OpenDatabase(CreePetiteBase("Recente.mdb", "4.0"));
  EXPECT_EQ(utireorg::Pilote::VersionBase(ancienne), "3.0");
  EXPECT_EQ(utireorg::Pilote::VersionBase(recente), "4.0");
  recente.Close();
  EXPECT_EQ(utireorg::Pilote::VersionBase(recente), "");
  moteur::Database vide;
  EXPECT_EQ(utireorg::Pilote::VersionBase(vide), "");
  ancienne.Close();
}

// ---- A journal that cannot be opened ----

// The user is asked before the run, told where the journal would have been and why in French;
// the window never closes on it.
TEST_F(TestPilote, UnJournalImpossibleAOuvrirEstDemandeAvantLeRunSansFermerLaFenetre) {
  std::string cible = CreePetiteBase("Compta.mdb");
  const std::string avant = LitFichier(cible);
  Saisit(cible);
  fs::create_directory(Chemin("Analyse.txt"));  // a folder where the journal should be
  const std::string chemin = fs::canonical(Dossier()).string() + "/Analyse.txt";
  fenetre->reponses = {1, 2};                    // "Confirmer", then "Annuler" to the journal

  auto issue = pilote->Lancer();

  EXPECT_EQ(issue, utireorg::IssueLancer::Annulee);
  EXPECT_EQ(pilote->Issue(), IssueRun::NonLancee);
  EXPECT_FALSE(pilote->ReorgEnCours());
  EXPECT_EQ(fenetre->fermetures, 0);
  EXPECT_EQ(fenetre->NombreMessages("Erreur"), 0);
  ASSERT_EQ(fenetre->messages.size(), 2u);
  EXPECT_EQ(fenetre->messages[1].texte,
            "Le journal d'analyse ne peut pas être ouvert :\n« " + chemin +
                " » :\nc'est un dossier, pas un fichier (erreur système 21).\n\n"
                "Sans journal, aucun enregistrement défectueux ne pourra être corrigé ni supprimé,\n"
                "et le détail de la réorganisation ne sera pas conservé.\n\nLancer la réorganisation sans journal ?");
  EXPECT_TRUE(fenetre->journal.empty());
  EXPECT_EQ(LitFichier(cible), avant);

  // Accepted: the run goes on, its lines shown in the window only.
  fenetre->messages.clear();
  fenetre->reponses = {1, 1};
  EXPECT_EQ(pilote->Lancer(), utireorg::IssueLancer::Terminee) << fenetre->journal;
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# Journal d'analyse « " + chemin + " » impossible à ouvrir"));
  EXPECT_NE(fenetre->PositionCadre("Réorganisation base de données principale"), -1);
  EXPECT_TRUE(fs::is_directory(Chemin("Analyse.txt")));
}

}  // namespace
}  // namespace pilote_tests

// The run over every client folder beside the model: which folders, each folder's run, the closing
// frame of the journal, the model that is only read, the input check that needs the model alone.
#include "app/TousLesDossiers.h"
#include "common/Ansi.h"
#include "common/Arret.h"
#include "journal/Journal.h"
#include "bases/BaseDonnees.h"
#include "moteur/OutilsMoteur.h"
#include "test_pilote_outils.h"

namespace pilote_tests {
namespace {

using utireorg::IssueDossier;
using utireorg::IssueLancer;

// "Logiciel/Compta.mdb" (the model) and beside it: Alpha (a sound database), beta (a damaged
// one, its name in capitals), Gamma (no database), and a hidden folder that is no client's.
class TestTousLesDossiers : public TestPilote {
 protected:
  void SetUp() override {
    TestPilote::SetUp();
    modele = CreePetiteBase("Logiciel/Compta.mdb");
    alpha = CreePetiteBase("Logiciel/Alpha/Compta.mdb");
    fs::create_directories(Chemin("Logiciel/beta"));
    beta = Chemin("Logiciel/beta/COMPTA.MDB");
    std::ofstream(beta, std::ios::binary) << std::string(4096, 'x');
    fs::create_directories(Chemin("Logiciel/Gamma"));
    std::ofstream(Chemin("Logiciel/Gamma/Notes.txt")) << "pas de base ici";
    CreePetiteBase("Logiciel/.corbeille/Compta.mdb");
  }

  std::string Decrit(const std::string& base) {
    auto e = Lance(Outil("utireorg-base"), {"decrire", base}, Dossier());
    EXPECT_EQ(e.code, 0) << e.sortie;
    return e.sortie;
  }

  std::string modele, alpha, beta;
};

TEST_F(TestTousLesDossiers, LesDossiersDuModeleDansLOrdreDeLeursNomsAvecLeurBase) {
  auto dossiers = utireorg::DossiersClients(modele);
  ASSERT_EQ(dossiers.size(), 3u);
  EXPECT_EQ(dossiers[0].nom, "Alpha");
  EXPECT_EQ(dossiers[0].base, alpha);
  EXPECT_EQ(dossiers[1].nom, "beta");
  EXPECT_EQ(dossiers[1].base, beta);  // the name compared whatever its case
  EXPECT_EQ(dossiers[2].nom, "Gamma");
  EXPECT_EQ(dossiers[2].base, "");
  EXPECT_EQ(dossiers[2].raisonIgnore, "aucune base « Compta.mdb »");

  // Two databases whose names differ only by their case: which one is the software's cannot be
  // told, and neither is touched.
  CreePetiteBase("Logiciel/Gamma/compta.mdb");
  CreePetiteBase("Logiciel/Gamma/COMPTA.mdb");
  dossiers = utireorg::DossiersClients(modele);
  EXPECT_EQ(dossiers[2].base, "");
  EXPECT_NE(dossiers[2].raisonIgnore.find("plusieurs bases"), std::string::npos) << dossiers[2].raisonIgnore;

  // A link that leads nowhere or to itself is listed, not passed over in silence.
  fs::create_symlink("Boucle", Chemin("Logiciel/Boucle"));
  dossiers = utireorg::DossiersClients(modele);
  ASSERT_EQ(dossiers.size(), 4u);
  EXPECT_EQ(dossiers[2].nom, "Boucle");
  EXPECT_EQ(dossiers[2].base, "");
  EXPECT_EQ(dossiers[2].raisonIgnore.rfind("dossier illisible : ", 0), 0u) << dossiers[2].raisonIgnore;

  // A folder left out for a fault the user must look at is no success: the exit code says so,
  // while a folder with no database at all is the ordinary case.
  std::vector<utireorg::ResultatDossier> resultats(3);
  for (std::size_t i : {0u, 2u, 3u}) {
    resultats[i == 0 ? 0 : i - 1].dossier = dossiers[i];
    resultats[i == 0 ? 0 : i - 1].issue = i == 0 ? IssueDossier::Terminee : IssueDossier::Ignoree;
  }
  EXPECT_EQ(utireorg::CodeSortieTousDossiers(resultats), 1);  // Boucle and the doubled Gamma
  resultats.erase(resultats.begin() + 1);
  EXPECT_EQ(utireorg::CodeSortieTousDossiers(resultats), 1);  // the doubled Gamma
  resultats.back().dossier = utireorg::DossierClient{"Delta", "", "aucune base « Compta.mdb »"};
  EXPECT_EQ(utireorg::CodeSortieTousDossiers(resultats), 0);
}

TEST_F(TestTousLesDossiers, SeuleLaBaseModeleEstExigee) {
  pilote->ReorganisationComplete();
  EXPECT_FALSE(pilote->ControleSaisies());
  ASSERT_EQ(fenetre->messages.size(), 1u);
  EXPECT_EQ(fenetre->messages[0].texte, "Vous devez saisir une base valide !");
  EXPECT_EQ(pilote->SaisieAFocaliser(), std::optional<int>(saisie::Modele));

  fenetre->saisies[saisie::Modele] = beta;
  EXPECT_FALSE(pilote->ControleSaisies());
  EXPECT_EQ(fenetre->messages.back().texte, "Base modèle invalide !");

  fenetre->saisies[saisie::Modele] = modele;  // no target given, no copy asked
  EXPECT_TRUE(pilote->ControleSaisies());

  // A model another program holds for a moment is waited for, as a write waits for a lock;
  // one held past the wait is said to be in use, not invalid.
  {
    outils::ProcessusAide tenue(CHEMIN_aide_tenue, {modele, "exclusif"});
    ASSERT_EQ(tenue.PremiereLigne(), "pret");
    utireorg::DefinitPauseAttente([&](std::chrono::milliseconds) { tenue.Libere(); });
    const bool accepte = pilote->ControleSaisies();
    utireorg::DefinitPauseAttente({});
    EXPECT_TRUE(accepte) << fenetre->messages.back().texte;
  }
  {
    outils::ProcessusAide tenue(CHEMIN_aide_tenue, {modele, "exclusif"});
    ASSERT_EQ(tenue.PremiereLigne(), "pret");
    auto instant = std::chrono::steady_clock::now();
    utireorg::DefinitHorlogeAttente([&] { return instant; });
    utireorg::DefinitPauseAttente([&](std::chrono::milliseconds) { instant += std::chrono::minutes(1); });
    const bool accepte = pilote->ControleSaisies();
    utireorg::DefinitHorlogeAttente({});
    utireorg::DefinitPauseAttente({});
    EXPECT_FALSE(accepte);
    EXPECT_NE(fenetre->messages.back().texte.find("en cours d'utilisation"), std::string::npos)
        << fenetre->messages.back().texte;
  }

  // Nothing to run: said before the confirmation, not after a run that did nothing.
  fs::remove(alpha);
  fs::remove(beta);
  EXPECT_FALSE(pilote->ControleSaisies());
  EXPECT_EQ(fenetre->messages.back().texte,
            "Aucun dossier à côté de la base modèle ne contient de base « Compta.mdb » !");
  EXPECT_EQ(pilote->SaisieAFocaliser(), std::optional<int>(saisie::Modele));
}

// Each folder as "Lancer" runs one, the damaged one interrupted without stopping the others, the
// one without a database listed; the model and the folders that did not end are as they were.
TEST_F(TestTousLesDossiers, ChaqueDossierASonIssueDansLeBilanDuJournal) {
  const std::string modeleAvant = LitFichier(modele), betaAvant = LitFichier(beta), alphaDecrit = Decrit(alpha);
  fenetre->saisies[saisie::Modele] = modele;
  for (int i : {coche::VerificationsPrimaires, coche::ReparationCompactage, coche::Compactage, coche::ModeSecurise})
    fenetre->coches[i] = true;
  fenetre->reponses = {1};
  pilote->ReorganisationComplete();

  EXPECT_EQ(pilote->Lancer(), IssueLancer::Interrompue);
  EXPECT_EQ(fenetre->messages[0].texte, "Confirmez-vous la réorganisation de l'ensemble des dossiers ?");
  EXPECT_EQ(fenetre->fermetures, 0);

  const std::string journal = utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt")));
  EXPECT_EQ(journal, fenetre->journal);
  EXPECT_GE(fenetre->PositionCadre("Réorganisation de tous les dossiers"), 0);
  const long bilan = fenetre->PositionCadre("Bilan de la réorganisation de tous les dossiers");
  ASSERT_GE(bilan, 0) << journal;
  EXPECT_GT(bilan, fenetre->PositionCadre("Fin de l'analyse de bases de données"));  // Alpha's run went first
  const auto lignes = fenetre->Lignes();
  ASSERT_GT(lignes.size(), static_cast<std::size_t>(bilan + 6));
  EXPECT_EQ(lignes[bilan + 2], "Alpha : terminée");
  EXPECT_EQ(lignes[bilan + 3].rfind("beta : interrompue : Base à analyser refusée : « " + beta + " »", 0), 0u)
      << lignes[bilan + 3];
  EXPECT_EQ(lignes[bilan + 4], "Gamma : ignorée : aucune base « Compta.mdb »");
  EXPECT_EQ(lignes[bilan + 6], "Total : 3 dossiers : 1 terminé, 1 interrompu, 1 ignoré");

  // The panel is cleared before the confirmation: the last run's totals are not this one's.
  EXPECT_EQ(fenetre->dossiers,
            (std::vector<std::string>{"0/0 ", "1/2 Dossier 1 sur 2 : Alpha", "2/2 Dossier 2 sur 2 : beta",
                                      "0/2 3 dossiers : 1 terminé, 1 interrompu, 1 ignoré"}));
  EXPECT_EQ(fenetre->legendes.back(), std::make_pair(std::string("Procédure interrompue !"), std::string()));
  EXPECT_EQ(fenetre->enErreur, 1);

  EXPECT_TRUE(LitFichier(modele) == modeleAvant) << "la base modèle a été écrite";
  EXPECT_TRUE(LitFichier(beta) == betaAvant);
  EXPECT_EQ(Decrit(alpha), alphaDecrit);
  EXPECT_TRUE(FichiersTemporaires().empty());
  ASSERT_EQ(pilote->ResultatsDossiers().size(), 3u);
  EXPECT_EQ(pilote->ResultatsDossiers()[0].issue, IssueDossier::Terminee);
}

// Folder names are the user's own: one that holds a line break or letters the journal's code page
// has no place for still takes one line of the frame and can be told from the others.
TEST_F(TestTousLesDossiers, LeBilanNommeChaqueDossierSurUneLigneQuelQueSoitSonNom) {
  fs::remove_all(Chemin("Logiciel/beta"));
  fs::remove_all(Chemin("Logiciel/Gamma"));
  CreePetiteBase("Logiciel/Cli\nent/Compta.mdb");
  CreePetiteBase("Logiciel/客户/Compta.mdb");
  CreePetiteBase("Logiciel/Cli\\x0Aent/Compta.mdb");  // its own name, not the escape of the other
  for (int i : {coche::VerificationsPrimaires, coche::ReparationCompactage, coche::Compactage, coche::ModeSecurise})
    fenetre->coches[i] = true;
  const auto resultats = utireorg::ReorganiseDossiers(*fenetre, pilote->JournalAnalyse(), modele, true);
  ASSERT_EQ(resultats.size(), 4u);
  const std::string journal = utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt")));
  const auto bilan = journal.find("Bilan de la réorganisation de tous les dossiers");
  ASSERT_NE(bilan, std::string::npos) << journal;
  const std::string fin = journal.substr(bilan);
  EXPECT_NE(fin.find("\r\nAlpha : terminée\r\nCli\\x0Aent : terminée\r\nCli\\\\x0Aent : terminée\r\n"
                     "\\u{5BA2}\\u{6237} : terminée\r\n"),
            std::string::npos)
      << fin;
}

// The model gone while a folder is run: that folder's structure was not brought up to the model's,
// so it did not end as the others did, whatever its run said.
TEST_F(TestTousLesDossiers, UnDossierQuiNAPasTrouveLaBaseModeleEstInterrompu) {
  fs::remove_all(Chemin("Logiciel/beta"));
  class FenetreQuiCacheLeModele : public FenetreTest {
   public:
    std::string modele, alpha;
    void AjouteAuJournal(const std::string& texte) override {
      FenetreTest::AjouteAuJournal(texte);
      if (texte.find("Début Sauvegarde " + alpha) != std::string::npos) fs::rename(modele, modele + ".ailleurs");
      if (texte.find("Fin de l'analyse de bases de données") != std::string::npos && fs::exists(modele + ".ailleurs"))
        fs::rename(modele + ".ailleurs", modele);
    }
  } fenetreCache;
  fenetreCache.modele = modele;
  fenetreCache.alpha = alpha;
  for (int i :
       {utireorg::coche::VerificationsPrimaires, utireorg::coche::ModeSecurise, utireorg::coche::ControleEtendu})
    fenetreCache.coches[i] = true;
  utireorg::Journal journal(fenetreCache);
  const auto resultats = utireorg::ReorganiseDossiers(fenetreCache, journal, modele, true);
  ASSERT_EQ(resultats.size(), 2u);
  EXPECT_EQ(resultats[0].issue, IssueDossier::Interrompue);
  EXPECT_NE(resultats[0].raison.find("Base de données du logiciel inexistante"), std::string::npos)
      << resultats[0].raison;
  EXPECT_EQ(utireorg::CodeSortieTousDossiers(resultats), 1);
  EXPECT_TRUE(fs::exists(modele));
}

// A stop that comes before the first folder: no folder's run says why, so the closing frame does.
TEST_F(TestTousLesDossiers, UnArretAvantLePremierDossierDitSaCauseDansLeBilan) {
  class FenetreQuiArrete : public FenetreTest {
   public:
    void AjouteAuJournal(const std::string& texte) override {
      FenetreTest::AjouteAuJournal(texte);
      if (texte.find("Dossiers : ") != std::string::npos)
        utireorg::DemandeArret(utireorg::RaisonArret::Signal, SIGTERM);
    }
  } fenetreArret;
  utireorg::Journal journal(fenetreArret);
  const auto resultats = utireorg::ReorganiseDossiers(fenetreArret, journal, modele, true);
  utireorg::EffaceDemandeArret();
  ASSERT_EQ(resultats.size(), 3u);
  EXPECT_EQ(resultats[0].raison, "la réorganisation a été arrêtée avant ce dossier");
  const long bilan = fenetreArret.PositionCadre("Bilan de la réorganisation de tous les dossiers");
  ASSERT_GE(bilan, 0) << fenetreArret.journal;
  EXPECT_GT(fenetreArret.Position("#ERR# Réorganisation arrêtée à la demande du système (signal SIGTERM).", bilan),
            bilan)
      << fenetreArret.journal;
  EXPECT_EQ(utireorg::CodeSortieTousDossiers(resultats), 1);
}

}  // namespace
}  // namespace pilote_tests

// The input check before a run and the "Lancer" action: refusals and their messages, the
// target opened as the current database, the name of the software and the conversion version,
// the confirmation declined and accepted, the all-folders mode.
#include <sqlite3.h>

#include "test_pilote_outils.h"

namespace pilote_tests {
namespace {

using utireorg::IssueLancer;

class TestSaisies : public TestPilote {
 protected:
  bool Controle(const std::string& cible, const std::string& modele, bool copie) {
    fenetre->saisies[saisie::Cible] = cible;
    fenetre->saisies[saisie::Modele] = modele;
    fenetre->cases[cases::Copie] = copie;
    fenetre->messages.clear();
    return pilote->ControleSaisies();
  }
  std::string DernierMessage() const { return fenetre->messages.empty() ? "" : fenetre->messages.back().texte; }
};

TEST_F(TestSaisies, UneBaseAAnalyserAbsenteOuVideEstRefusee) {
  for (std::string cible : {std::string(), std::string("   "), Chemin("absente.mdb")}) {
    SCOPED_TRACE(cible);
    EXPECT_FALSE(Controle(cible, {}, false));
    ASSERT_EQ(fenetre->messages.size(), 1u);
    EXPECT_EQ(DernierMessage(), "Vous devez saisir une base valide !");
    EXPECT_EQ(fenetre->messages.back().icone, 1);
    EXPECT_EQ(pilote->SaisieAFocaliser(), std::optional<int>(saisie::Cible));
    EXPECT_FALSE(pilote->Etat().baseCourante.EstOuverte());
  }
}

TEST_F(TestSaisies, LaBaseModeleNEstExamineeQueSiLaCopieEstCochee) {
  std::string cible = CreePetiteBase("Compta.mdb");
  EXPECT_TRUE(Controle(cible, {}, false));
  EXPECT_TRUE(fenetre->messages.empty());
  EXPECT_TRUE(Controle(cible, Chemin("absente.mdb"), false));

  EXPECT_FALSE(Controle(cible, {}, true));
  EXPECT_EQ(DernierMessage(), "Vous devez saisir une base valide !");
  EXPECT_EQ(pilote->SaisieAFocaliser(), std::optional<int>(saisie::Modele));
  EXPECT_FALSE(Controle(cible, Chemin("absente.mdb"), true));
  EXPECT_EQ(pilote->SaisieAFocaliser(), std::optional<int>(saisie::Modele));
}

TEST_F(TestSaisies, UnFichierQuiNEstPasUneBaseEstRefuse) {
  std::string cible = CreePetiteBase("Compta.mdb");
  std::ofstream(Chemin("texte.mdb")) << "ceci n'est pas une base de données\n";
  EXPECT_FALSE(Controle(Chemin("texte.mdb"), {}, false));
  EXPECT_EQ(DernierMessage(), "Base à analyser invalide !");
  EXPECT_EQ(pilote->SaisieAFocaliser(), std::nullopt);

  EXPECT_FALSE(Controle(cible, Chemin("texte.mdb"), true));
  EXPECT_EQ(DernierMessage(), "Base modèle invalide !");
}

TEST_F(TestSaisies, LaCibleResteOuverteCommeBaseCouranteEtDonneLeNomDuLogiciel) {
  std::string cible = CreePetiteBase("Compta.2024.mdb");
  std::string modele = CreePetiteBase("Logiciel/Compta.mdb");
  ASSERT_TRUE(Controle(cible, modele, true));
  EXPECT_TRUE(fenetre->messages.empty());
  ASSERT_TRUE(pilote->Etat().baseCourante.EstOuverte());
  EXPECT_EQ(pilote->Etat().baseCourante.Name(), cible);
  EXPECT_EQ(pilote->Etat().nomLogiciel, "Compta");
  EXPECT_EQ(utireorg::DossierModele(), Chemin("Logiciel/"));

  // A second check closes the first database before opening the new target.
  auto premiere = pilote->Etat().baseCourante;
  std::string autre = CreePetiteBase("Paie.mdb");
  ASSERT_TRUE(Controle(autre, modele, true));
  EXPECT_FALSE(premiere.EstOuverte());
  EXPECT_EQ(pilote->Etat().nomLogiciel, "Paie");
}

TEST_F(TestSaisies, UneCibleAncienneEstConvertieQuandLaCopieSeFaitDansUnModeleRecent) {
  std::string ancienne = CreePetiteBase("Ancienne.mdb", "3.0");
  std::string recente = CreePetiteBase("Recente.mdb", "4.0");
  std::string modeleAncien = CreePetiteBase("Logiciel/Ancien.mdb", "3.0");
  std::string modeleRecent = CreePetiteBase("Logiciel/Recent.mdb", "4.0");

  ASSERT_TRUE(Controle(ancienne, modeleRecent, true));
  EXPECT_EQ(pilote->Etat().versionCible, "4.0");
  ASSERT_TRUE(Controle(ancienne, modeleRecent, false));
  EXPECT_EQ(pilote->Etat().versionCible, "3.0");
  ASSERT_TRUE(Controle(ancienne, modeleAncien, true));
  EXPECT_EQ(pilote->Etat().versionCible, "3.0");
  ASSERT_TRUE(Controle(recente, modeleAncien, true));
  EXPECT_EQ(pilote->Etat().versionCible, "4.0");

  // A refused check leaves no version of an earlier one behind.
  ASSERT_FALSE(Controle(Chemin("absente.mdb"), {}, false));
  EXPECT_EQ(pilote->Etat().versionCible, "");
}

// A file another program planted a trigger in is not run on: the message names the object.
TEST_F(TestSaisies, UneBaseOuUnModeleAvecUnDeclencheurPlanteEstRefuse) {
  std::string cible = CreePetiteBase("Compta.mdb");
  std::string modele = CreePetiteBase("Logiciel/Compta.mdb");
  for (const auto& fichier : {cible, modele}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(fichier.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TRIGGER piege AFTER UPDATE ON MSysProperties BEGIN DELETE FROM Clients; END;", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  const std::string raison = "objet inconnu du logiciel, qui pourrait modifier ses données : déclencheur « piege » (table MSysProperties).";
  EXPECT_FALSE(Controle(cible, {}, false));
  EXPECT_EQ(DernierMessage(), "Base à analyser invalide !\n\nElle contient un objet inconnu du logiciel :\ndéclencheur « piege » "
                              "(table MSysProperties).\n\nTraitement annulé.");
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# Base à analyser refusée : « " + cible + " » : " + raison)) << fenetre->journal;
  EXPECT_FALSE(pilote->Etat().baseCourante.EstOuverte());

  // The model is refused as well: the record copy writes into a copy of it.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(cible.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "DROP TRIGGER piege", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_TRUE(Controle(cible, modele, false));
  EXPECT_FALSE(Controle(cible, modele, true));
  EXPECT_EQ(DernierMessage().rfind("Base modèle invalide !\n", 0), 0u) << DernierMessage();
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# Base modèle refusée : « " + modele + " » : " + raison)) << fenetre->journal;
}

// ---- Lancer ----

struct Appels {
  int rapport = 0, retour = 0, avant = 0, apres = 0;
  utireorg::EtapesLancer Etapes() {
    return {[this] { ++rapport; }, [this] { ++retour; }, [this] { ++avant; }, [this] { ++apres; }};
  }
};

TEST_F(TestSaisies, LancerDemandeConfirmationEtNeFaitRienQuandElleEstDeclinee) {
  std::string cible = CreePetiteBase("Compta.mdb");
  std::string avant = LitFichier(cible);
  fenetre->saisies[saisie::Cible] = cible;
  fenetre->coches[coche::TraitementExhaustif] = true;
  // Without a scripted answer the focused button answers: "Annuler".
  Appels appels;
  auto issue = pilote->Lancer(appels.Etapes());

  EXPECT_EQ(issue, IssueLancer::Annulee);
  ASSERT_EQ(fenetre->messages.size(), 1u);
  const auto& question = fenetre->messages[0];
  EXPECT_EQ(question.titre, "Réorganisation");
  EXPECT_EQ(question.texte, "Confirmez-vous la réorganisation du dossier ?");
  EXPECT_EQ(question.icone, 3);
  EXPECT_EQ(question.contexteAide, utireorg::ContexteAideUtiReorg);
  ASSERT_GE(question.boutons.size(), 2u);
  EXPECT_EQ(question.boutons[0].legende, "&Confirmer");
  EXPECT_EQ(question.boutons[1].legende, "&Annuler");

  EXPECT_EQ(appels.rapport, 1);
  EXPECT_EQ(appels.retour, 1);
  EXPECT_EQ(appels.avant, 0);
  EXPECT_EQ(appels.apres, 0);
  EXPECT_TRUE(pilote->Etat().versionAvancee);
  EXPECT_FALSE(fs::exists(Chemin("Analyse.txt")));
  EXPECT_EQ(fenetre->boutons, (std::vector<std::pair<int, bool>>{
                                  {bouton::Quitter, false}, {bouton::Lancer, false}, {bouton::Quitter, true}}));
  EXPECT_EQ(fenetre->pointeurs.back(), utireorg::PointeurSouris::Normal);
  pilote->Etat().baseCourante.Close();
  EXPECT_EQ(LitFichier(cible), avant);
}

TEST_F(TestSaisies, LancerConfirmeLanceLeRun) {
  fenetre->saisies[saisie::Cible] = CreePetiteBase("Compta.mdb");
  fenetre->reponses = {1};
  Appels appels;
  auto issue = pilote->Lancer(appels.Etapes());

  EXPECT_EQ(issue, IssueLancer::Terminee);
  EXPECT_EQ(appels.avant, 1);
  EXPECT_EQ(appels.apres, 1);
  EXPECT_EQ(appels.retour, 0);
  EXPECT_FALSE(pilote->Etat().versionAvancee);
  EXPECT_TRUE(fenetre->Contient("Logiciel : Compta"));
  EXPECT_TRUE(pilote->Traite());
  // Détails is disabled for the run, Quitter enabled again after it.
  auto& b = fenetre->boutons;
  EXPECT_NE(std::find(b.begin(), b.end(), std::make_pair(bouton::Details, false)), b.end());
  EXPECT_EQ(b.back(), std::make_pair(bouton::Quitter, true));
}

TEST_F(TestSaisies, LancerAvecDesSaisiesRefuseesNeDemandeRien) {
  Appels appels;
  EXPECT_EQ(pilote->Lancer(appels.Etapes()), IssueLancer::SaisiesRefusees);
  EXPECT_EQ(appels.rapport, 0);
  ASSERT_EQ(fenetre->messages.size(), 1u);
  EXPECT_EQ(fenetre->messages[0].texte, "Vous devez saisir une base valide !");
  EXPECT_TRUE(fenetre->boutons.empty());
}

TEST_F(TestSaisies, EnModeTousDossiersLaConfirmationPorteSurLEnsembleDesDossiers) {
  pilote->ReorganisationComplete();
  EXPECT_TRUE(pilote->ModeTousDossiers());
  EXPECT_EQ(pilote->QuestionConfirmation(), "?#Confirmez-vous la réorganisation de l'ensemble des dossiers ?");
  // Declined, nothing is run and nothing is written.
  fenetre->saisies[saisie::Modele] = CreePetiteBase("Compta.mdb");
  CreePetiteBase("Dossier1/Compta.mdb");
  fenetre->reponses = {2};
  Appels appels;
  EXPECT_EQ(pilote->Lancer(appels.Etapes()), IssueLancer::Annulee);
  EXPECT_EQ(fenetre->messages[0].texte, "Confirmez-vous la réorganisation de l'ensemble des dossiers ?");
  EXPECT_EQ(appels.apres, 0);
  EXPECT_FALSE(fs::exists(Chemin("Analyse.txt")));
}

}  // namespace
}  // namespace pilote_tests

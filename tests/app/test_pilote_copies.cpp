// "Mode sécurisé" in a whole run: the results of the safety copy and of its restoration, and
// what the end of the run shows for each.
#include "test_pilote_outils.h"

#include <signal.h>

#include <system_error>

#include "common/Fichiers.h"
#include "commun/ProcessusAide.h"
#include "moteur/Injection.h"

namespace pilote_tests {
namespace {

using utireorg::IssueRun;

const std::string Interrompue = "Procédure interrompue !";
const std::string InterrompueDisque = "Procédure interrompue ! Libérer de la place sur votre disque dur.";

class TestModeSecurise : public TestPilote {
 protected:
  void SetUp() override {
    TestPilote::SetUp();
    cible = CreePetiteBase("Compta.mdb");
    fenetre->coches[coche::ModeSecurise] = true;
  }
  void TearDown() override {
    utireorg::DefinitInterruption({});
    moteur::injection::SupprimeLimite();
    TestPilote::TearDown();
  }

  std::vector<std::string> Fin(std::size_t n) const {
    auto lignes = fenetre->Lignes();
    if (lignes.size() < n) return lignes;
    return {lignes.end() - static_cast<long>(n), lignes.end()};
  }
  bool SectionPresente(const std::string& texte) const { return fenetre->PositionCadre(texte) >= 0; }

  std::string cible;
};

TEST_F(TestModeSecurise, UnRunReussiRemplaceLOrigineParLaCopieTraitee) {
  fenetre->coches[coche::ReparationCompactage] = true;
  Saisit(cible);
  pilote->LanceReorganisation();

  EXPECT_EQ(pilote->Issue(), IssueRun::Terminee) << fenetre->journal;
  long sauvegarde = fenetre->PositionCadre("Sauvegarde des bases de données");
  long traitement = fenetre->PositionCadre("Réorganisation base de données principale");
  long restauration = fenetre->PositionCadre("Restauration des bases de données");
  long fin = fenetre->PositionCadre("Fin de l'analyse de bases de données");
  EXPECT_GE(sauvegarde, 0);
  EXPECT_GT(traitement, sauvegarde);
  EXPECT_GT(restauration, traitement);
  EXPECT_GT(fin, restauration);
  EXPECT_FALSE(pilote->Etat().sauvegardeFaite);
  // The journal names the origin, not the working copy.
  EXPECT_EQ(pilote->Etat().cheminOrigine, cible);
  ASSERT_TRUE(pilote->Etat().baseCourante.EstOuverte());
  EXPECT_EQ(pilote->Etat().baseCourante.Name(), cible);
  EXPECT_EQ(pilote->Etat().baseCourante.TableDefs()["Clients"].RecordCount(), 3);
  EXPECT_TRUE(FichiersTemporaires().empty());
}

TEST_F(TestModeSecurise, UneBaseTenueParUneAutreApplicationArreteLeRunSansRienTraiter) {
  for (int i : {coche::VerificationsPrimaires, coche::ReparationCompactage, coche::ControleEtendu})
    fenetre->coches[i] = true;
  Saisit(cible);
  std::string avant = LitFichier(cible);
  // Another application holding the database.
  utireorg::tests::ProcessusAide tenue(CHEMIN_aide_tenue, {cible, "exclusif"});
  ASSERT_TRUE(tenue.Pret());

  pilote->LanceReorganisation();
  tenue.Libere();

  EXPECT_EQ(pilote->Issue(), IssueRun::Interrompue);
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# Le fichier est déjà ouvert par une autre application."));
  for (const char* section : {"Réorganisation base de données principale", "Lecture des enregistrements",
                              "Réparation base de données principale", "Compactage base de données principale",
                              "Restauration des bases de données", "Fin de l'analyse de bases de données"})
    EXPECT_FALSE(SectionPresente(section)) << section;
  EXPECT_EQ(Fin(2), (std::vector<std::string>{"La réorganisation ne s'est pas terminée correctement !", "Erreur 70"}));
  EXPECT_EQ(fenetre->legendes.back(), std::make_pair(Interrompue, std::string()));
  EXPECT_FALSE(fenetre->ContientTexte(InterrompueDisque));
  EXPECT_EQ(fenetre->enErreur, 1);
  EXPECT_FALSE(pilote->Etat().sauvegardeFaite);
  EXPECT_EQ(LitFichier(cible), avant);
  EXPECT_TRUE(FichiersTemporaires().empty());
}

TEST_F(TestModeSecurise, UnDisquePleinPendantLaSauvegardeFinitSurLaLegendeDEspaceDisque) {
  fenetre->coches[coche::ReparationCompactage] = true;
  Saisit(cible);
  std::string avant = LitFichier(cible);
  {
    moteur::injection::LimiteTemporaire limite(1024);
    pilote->LanceReorganisation();
  }

  EXPECT_EQ(pilote->Issue(), IssueRun::Interrompue);
  EXPECT_FALSE(SectionPresente("Réparation base de données principale"));
  EXPECT_EQ(Fin(3), (std::vector<std::string>{"La réorganisation ne s'est pas terminée correctement !", "Erreur 61",
                                               "#ERR# " + InterrompueDisque}));
  EXPECT_EQ(fenetre->legendes.back(), std::make_pair(InterrompueDisque, std::string()));
  EXPECT_EQ(fenetre->enErreur, 1);
  EXPECT_EQ(LitFichier(cible), avant);
}

TEST_F(TestModeSecurise, UnDisquePleinPendantLaRestaurationLaisseLOrigineEtLeDit) {
  Saisit(cible);
  pilote->Etat().baseCourante.Close();
  std::string avant = LitFichier(cible);
  // The disk fills up just as the processed copy is written back beside the origin.
  utireorg::DefinitInterruption([this](std::string_view etape, const std::string& chemin) {
    if (etape == "copie" && chemin.rfind(cible + ".", 0) == 0) moteur::injection::LimiteEcriture(0);
  });

  pilote->LanceReorganisation();

  EXPECT_EQ(pilote->Issue(), IssueRun::Interrompue);
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# Espace disque insuffisant pour restaurer les données."));
  EXPECT_EQ(Fin(3), (std::vector<std::string>{"La réorganisation ne s'est pas terminée correctement !", "Erreur 61",
                                               "#ERR# " + InterrompueDisque}));
  EXPECT_EQ(fenetre->legendes.back(), std::make_pair(InterrompueDisque, std::string()));
  EXPECT_EQ(fenetre->enErreur, 1);
  EXPECT_FALSE(SectionPresente("Fin de l'analyse de bases de données"));
  EXPECT_EQ(LitFichier(cible), avant);
}

TEST_F(TestModeSecurise, UnAutreEchecDeLaRestaurationFinitSansLaLigneDEspaceDisque) {
  Saisit(cible);
  utireorg::DefinitInterruption([](std::string_view etape, const std::string&) {
    if (etape == "remplacement") throw std::system_error(std::make_error_code(std::errc::io_error), "remplacement");
  });

  pilote->LanceReorganisation();

  EXPECT_EQ(pilote->Issue(), IssueRun::Interrompue);
  EXPECT_EQ(Fin(2), (std::vector<std::string>{"La réorganisation ne s'est pas terminée correctement !", "Erreur 57"}));
  EXPECT_EQ(fenetre->legendes.back(), std::make_pair(Interrompue, std::string()));
  EXPECT_FALSE(fenetre->ContientTexte(InterrompueDisque));
  EXPECT_EQ(fenetre->NombreMessages("Erreur"), 1);
  EXPECT_EQ(fenetre->enErreur, 1);
}

// A failed run whose working copy cannot be removed leaves the origin as it was and names the copy.
TEST_F(TestModeSecurise, UneCopieDeTravailQuiResteApresUnEchecEstNommeeDansLeJournal) {
  std::string modele = CreePetiteBase("Logiciel/Modele.mdb");
  fenetre->coches[coche::ReparationCompactage] = true;
  fenetre->cases[cases::Copie] = true;
  Saisit(cible, modele);
  pilote->Etat().baseCourante.Close();
  std::string avant = LitFichier(cible);
  fs::remove(modele);  // the record copy fails: the run ends in failure
  std::string copie;
  utireorg::DefinitInterruption([&copie](std::string_view etape, const std::string& chemin) {
    if (etape != "suppression" || chemin.find("/utireorg-DB") == std::string::npos) return;
    copie = chemin;
    throw std::system_error(std::make_error_code(std::errc::read_only_file_system), chemin);
  });

  pilote->LanceReorganisation();

  EXPECT_EQ(pilote->Issue(), IssueRun::Interrompue);
  ASSERT_FALSE(copie.empty());
  auto ligne = fenetre->journal.find("#ERR# La copie de travail « " + copie + " » de la base « " + cible +
                                     " » n'a pas pu être supprimée : supprimez-la, elle ne sert plus.");
  ASSERT_NE(ligne, std::string::npos) << fenetre->journal;
  EXPECT_GT(ligne, fenetre->journal.find("Restauration des bases de données"));
  EXPECT_TRUE(fs::exists(copie));
  EXPECT_EQ(LitFichier(cible), avant);
  EXPECT_FALSE(pilote->Etat().sauvegardeFaite);
}

}  // namespace
}  // namespace pilote_tests

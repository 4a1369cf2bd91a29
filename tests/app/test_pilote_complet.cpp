// Whole runs with every option on the demonstration databases: the target comes out sound and
// up to the model's structure; without the relation check its relations are left alone.
#include "test_pilote_outils.h"

#include <set>

namespace pilote_tests {
namespace {

using utireorg::IssueLancer;

class TestRunComplet : public TestPilote {
 protected:
  void SetUp() override {
    TestPilote::SetUp();
    CreeBasesDemo();
    for (int i = 0; i < coche::Nombre; ++i) fenetre->coches[i] = true;
    fenetre->cases[cases::Copie] = true;
    fenetre->cases[cases::LigneALigne] = true;
    fenetre->cases[cases::Avancee] = true;
    fenetre->saisies[saisie::Cible] = cibleDemo;
    fenetre->saisies[saisie::Modele] = modeleDemo;
    // "Confirmer", then "Oui" to the record verification and its summary, and any other.
    fenetre->reponses.assign(30, 1);
  }

  static std::set<std::string> Relations(const std::string& chemin) {
    auto base = moteur::DBEngine::OpenDatabase(chemin, false, true);
    std::set<std::string> noms;
    auto relations = base.Relations();
    for (int i = 0; i < relations.Count(); ++i)
      noms.insert(relations[i].Name() + ":" + relations[i].Table() + ">" + relations[i].ForeignTable());
    base.Close();
    return noms;
  }
};

TEST_F(TestRunComplet, ToutesLesOptionsRendentUneBaseSaineAuNiveauDuModele) {
  pilote->Reorganisation();
  auto issue = pilote->Lancer();
  ASSERT_EQ(issue, IssueLancer::Terminee) << fenetre->journal;
  EXPECT_EQ(fenetre->legendes.back().first, "Procédure terminée.");
  EXPECT_EQ(fenetre->enErreur, 0);

  // Every stage ran, in the driver's order.
  long precedent = -1;
  for (const char* section : {"Sauvegarde des bases de données", "Réorganisation base de données principale",
                              "Lecture des enregistrements", "Copie des enregistrements",
                              "Réparation base de données principale", "Compactage base de données principale",
                              "Purge des tables temporaires", "Vérification des relations",
                              "Restauration des bases de données", "Fin de l'analyse de bases de données"}) {
    long position = fenetre->PositionCadre(section, precedent + 1);
    EXPECT_GT(position, precedent) << section << "\n" << fenetre->journal;
    if (position > precedent) precedent = position;
  }
  EXPECT_TRUE(fenetre->ContientTexte("Réouverture base de données principale"));
  // The demonstration target holds a temporary table of the software: the purge has its work.
  long purge = fenetre->PositionCadre("Purge des tables temporaires");
  EXPECT_GT(fenetre->Position("Purge table TmpImport", purge), purge) << fenetre->journal;
  EXPECT_TRUE(fs::exists(Chemin("Logiciel/Dossier1/copie_reorg.mdb")));
  EXPECT_TRUE(FichiersTemporaires().empty());

  ASSERT_TRUE(pilote->Etat().baseCourante.EstOuverte());
  EXPECT_EQ(pilote->Etat().baseCourante.Name(), cibleDemo);
  pilote.reset();  // closes the database

  auto modele = moteur::DBEngine::OpenDatabase(modeleDemo, false, true);
  auto cible = moteur::DBEngine::OpenDatabase(cibleDemo, false, true);
  EXPECT_TRUE(cible.VerifieIntegrite().empty());
  auto tables = modele.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    auto tm = tables[i];
    if (tm.Attributes() & moteur::dbSystemObject) continue;
    SCOPED_TRACE(tm.Name());
    moteur::TableDef tc;
    ASSERT_TRUE(moteur::Essaie([&] { tc = cible.TableDefs()[tm.Name()]; }));
    for (int f = 0; f < tm.Fields().Count(); ++f) {
      auto fm = tm.Fields()[f];
      moteur::Field fc;
      ASSERT_TRUE(moteur::Essaie([&] { fc = tc.Fields()[fm.Name()]; })) << fm.Name();
      EXPECT_EQ(fc.Type(), fm.Type()) << fm.Name();
      EXPECT_EQ(fc.Size(), fm.Size()) << fm.Name();
    }
    for (int x = 0; x < tm.Indexes().Count(); ++x) {
      auto im = tm.Indexes()[x];
      EXPECT_TRUE(moteur::Essaie([&] { tc.Indexes()[im.Name()]; })) << im.Name();
    }
  }
  cible.Close();
  modele.Close();
  EXPECT_EQ(Relations(cibleDemo), Relations(modeleDemo));
}

TEST_F(TestRunComplet, SansVerificationDesRelationsAucuneRelationNEstRefaiteDApresLeModele) {
  auto avant = Relations(cibleDemo);
  pilote->Reorganisation(false, false, false);
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Terminee) << fenetre->journal;
  EXPECT_EQ(fenetre->PositionCadre("Vérification des relations"), -1);
  EXPECT_GE(fenetre->PositionCadre("Vérification des enregistrements nuls"), 0);  // the pass that asks for it ran
  pilote.reset();
  // A table rebuilt on the model's structure may lose its relations with it; none is added.
  for (const auto& relation : Relations(cibleDemo)) EXPECT_TRUE(avant.count(relation)) << relation;
}

}  // namespace
}  // namespace pilote_tests

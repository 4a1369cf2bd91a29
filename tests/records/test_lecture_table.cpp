// The reading pass: which tables it reports, and that it never stops the run nor writes.
#include <sqlite3.h>

#include "records/LectureEnregistrements.h"

#include "test_lecture_outils.h"
#include "commun/SqliteSansMoteur.h"

namespace lecture_tests {
namespace {

using utireorg::LectureEnregMove;
using utireorg::LectureTable;

bool CommencePar(const std::string& texte, const std::string& debut) { return texte.rfind(debut, 0) == 0; }

std::vector<std::string> LignesLecture(const std::vector<std::string>& lignes) {
  std::vector<std::string> trouvees;
  for (const auto& l : lignes)
    if (CommencePar(l, "Lecture de table ") || CommencePar(l, "#ERR# ") || CommencePar(l, "#ALERT# "))
      trouvees.push_back(l);
  return trouvees;
}

class PasseLecture : public TestLecture {
 protected:
  void SetUp() override {
    TestLecture::SetUp();
    fenetre.coches[coche::VerificationsPrimaires] = true;
  }

  // "Saine" with a few records, "Vide" with none.
  void BaseSaine(moteur::Database& base) {
    CreeTable(base, "Saine", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 20, false, {}, true}});
    CreeTable(base, "Vide", {{"Code", moteur::dbLong}});
    for (int i = 1; i <= 3; ++i) Ajoute(base, "Saine", {{"Code", i}, {"Nom", "nom " + std::to_string(i)}});
  }

  // "Grande", spread over many pages and written last, so that the last page of the file holds
  // its last records; then "Saine" is read after it.
  std::string BaseGrande() {
    auto base = Cree();
    CreeTable(base, "Grande", {{"Code", moteur::dbLong}, {"Texte", moteur::dbMemo, 0, false, {}, true}});
    BaseSaine(base);
    auto rs = base.OpenRecordset("Grande", moteur::dbOpenTable);
    moteur::DBEngine::BeginTrans();
    for (int i = 1; i <= 2000; ++i) {
      rs.AddNew();
      rs["Code"].SetValue(i);
      rs["Texte"].SetValue(std::string(200, static_cast<char>('a' + i % 26)));
      rs.Update();
    }
    moteur::DBEngine::CommitTrans();
    rs.Close();
    base.Close();
    return Chemin("base.mdb");
  }
};

TEST_F(PasseLecture, OptionNonCocheeNeLitNiNOuvreRien) {
  fenetre.coches[coche::VerificationsPrimaires] = false;
  auto base = Cree();
  BaseSaine(base);
  base.Close();
  moteur::Database db;
  EXPECT_TRUE(LectureTable(etat, db, Chemin("base.mdb")));
  EXPECT_FALSE(db.EstOuverte());
  EXPECT_TRUE(LignesJournal().empty());
}

TEST_F(PasseLecture, TablesLisiblesDonnentLaSeuleSectionEtLaBaseResteOuverte) {
  auto base = Cree();
  BaseSaine(base);
  base.Close();
  moteur::Database db;
  EXPECT_TRUE(LectureTable(etat, db, Chemin("base.mdb")));
  ASSERT_TRUE(db.EstOuverte());
  EXPECT_EQ(db.Name(), Chemin("base.mdb"));

  auto lignes = LignesJournal();
  ASSERT_EQ(lignes.size(), 5u);
  EXPECT_NE(lignes[2].find("Lecture des enregistrements"), std::string::npos);
  EXPECT_TRUE(LignesLecture(lignes).empty());
  db.Close();
}

TEST_F(PasseLecture, BaseDejaOuverteEstLueTelleQuelle) {
  auto base = Cree();
  BaseSaine(base);
  auto avant = base.etat();
  EXPECT_TRUE(LectureTable(etat, base, "/nulle/part.mdb"));
  EXPECT_EQ(base.etat(), avant);
  EXPECT_TRUE(base.EstOuverte());
}

TEST_F(PasseLecture, TableEndommageeEstSignaleeEtLesAutresSontLues) {
  std::string chemin = BaseGrande();
  long long pages = EntierSqlite(chemin, "PRAGMA page_count");
  ASSERT_GT(pages, 50);
  EndommagePage(chemin, pages);

  moteur::Database db;
  EXPECT_FALSE(LectureTable(etat, db, chemin));
  auto lignes = LignesLecture(LignesJournal());
  ASSERT_EQ(lignes.size(), 1u);
  EXPECT_EQ(lignes[0], "Lecture de table Grande 3049 " + moteur::DescriptionErreur(3049));

  // The move itself finds the damage; the other tables are sound.
  EXPECT_EQ(LectureEnregMove(db, "Grande"), 3049);
  EXPECT_EQ(LectureEnregMove(db, "Saine"), 0);
  EXPECT_EQ(LectureEnregMove(db, "Vide"), 0);
  db.Close();
}

// Bytes another program wrote into a text, that form no UTF-8, read as no text, and a text in a
// number field reads as no number: the pass names the table, the record and the field, keeps what
// was stored escaped, and says what corrects it.
TEST_F(PasseLecture, UnTexteQuiNEstPasDeLUtf8OuUneValeurHorsTypeEstSignaleAvecSesOctets) {
  {
    auto base = Cree();
    BaseSaine(base);
    AjouteDefectueux(base, "Saine", {{"Code", "quatre\n"}, {"Nom", "nom 4"}});
  }
  const std::string chemin = Chemin("base.mdb");
  ASSERT_EQ(
      utireorg::tests::EcritSansLeMoteur(chemin, "UPDATE Saine SET Nom = CAST(x'6e6fff0afe37' AS TEXT) WHERE Code = 2"),
      SQLITE_OK);
  moteur::Database base;
  EXPECT_FALSE(LectureTable(etat, base, chemin));
  auto lignes = LignesLecture(LignesJournal());
  ASSERT_EQ(lignes.size(), 2u);
  EXPECT_EQ(lignes[0],
            "#ALERT# Lecture de table Saine, enregistrement 2 : Le champ 'Nom' ne contient pas un texte valide "
            "(octets lus : \"no\\xFF\\n\\xFE7\"). « Réparation / Compactage » le corrige.");
  EXPECT_EQ(
      lignes[1],
      "#ALERT# Lecture de table Saine, enregistrement 4 : Le champ 'Code' contient une valeur qui ne convient pas "
      "à son type (valeur lue : \"quatre\\n\"). « Réparation / Compactage » le corrige.");
  base.Close();
}

TEST_F(PasseLecture, TableQuOnNePeutOuvrirEstSignaleeAussi) {
  auto base = Cree();
  BaseSaine(base);
  base.Close();
  std::string chemin = Chemin("base.mdb");
  EndommagePage(chemin, PageRacine(chemin, "Saine"));

  moteur::Database db;
  EXPECT_FALSE(LectureTable(etat, db, chemin));
  auto lignes = LignesLecture(LignesJournal());
  ASSERT_EQ(lignes.size(), 1u);
  EXPECT_TRUE(CommencePar(lignes[0], "Lecture de table Saine 3049 ")) << lignes[0];
  // As an operation of its own, a table that cannot be opened gives 0.
  EXPECT_EQ(LectureEnregMove(db, "Saine"), 0);
  EXPECT_EQ(LectureEnregMove(db, "Inconnue"), 0);
  db.Close();
}

TEST_F(PasseLecture, BaseQuOnNePeutOuvrirNEstPasUneLectureReussie) {
  moteur::Database db;
  EXPECT_FALSE(LectureTable(etat, db, Chemin("absente.mdb")));
  EXPECT_FALSE(db.EstOuverte());
  auto lignes = LignesLecture(LignesJournal());
  ASSERT_EQ(lignes.size(), 1u);
  EXPECT_TRUE(CommencePar(lignes[0], "#ERR# Lecture de la base " + Chemin("absente.mdb") + " 3024 ")) << lignes[0];
}

}  // namespace
}  // namespace lecture_tests

// The record verification over tables of thousands of records: defects found wherever they lie,
// in the first rows read and far beyond, and sound records left exactly as they were.
#include <algorithm>

#include "records/LectureEnregistrements.h"
#include "test_lecture_outils.h"

namespace lecture_tests {
namespace {

class GrandeTable : public TestLecture {
 protected:
  void SetUp() override {
    TestLecture::SetUp();
    fenetre.reponses = {1};
  }
  std::string Base() const { return Chemin("base.mdb"); }
};

// Defects at the start, in the middle and at the very end of a table of 3000 records, among them
// an accented text of exactly its size (sound, though longer in bytes than the size).
TEST_F(GrandeTable, DefautsTrouvesPartoutEtRienDAutreNeChange) {
  auto base = Cree();
  CreeTable(base, "T",
            {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 6, false, {}, true}, {"Quand", moteur::dbDate}});
  moteur::DBEngine::BeginTrans();
  auto rs = base.OpenRecordset("T", moteur::dbOpenTable);
  for (int i = 1; i <= 3000; ++i) {
    if (i == 30 || i == 1500 || i == 3000) {
      AjouteDefectueux(base, "T", {{"Code", i}, {"Nom", "sept ch"}, {"Quand", "2024-03-01 10:00:00"}});
      continue;
    }
    if (i == 2200) {
      AjouteDefectueux(base, "T", {{"Code", i}, {"Nom", "ok"}, {"Quand", "le 3 mars"}});
      continue;
    }
    rs.AddNew();
    rs["Code"].SetValue(i);
    rs["Nom"].SetValue(i == 2000 ? std::string("éèêëàâ") : "n" + std::to_string(i));
    rs["Quand"].SetValue(Valeur(moteur::DateHeure{2024, 1, 1 + i % 28, 0, 0, 0}));
    rs.Update();
  }
  rs.Close();
  moteur::DBEngine::CommitTrans();
  base.Close();

  EXPECT_TRUE(utireorg::VerificationEnregistrements(etat, Base()));
  auto contenu = Contenu(Base(), "T");
  ASSERT_EQ(contenu.size(), 3000u);
  // The corrected copies are stored at the end, in the order the defects were met.
  std::vector<std::string> fin;
  for (std::size_t i = 2996; i < 3000; ++i) fin.push_back(contenu[i][0] + " " + contenu[i][1]);
  EXPECT_EQ(fin, (std::vector<std::string>{"30 sept c", "1500 sept c", "2200 ok", "3000 sept c"}));
  EXPECT_EQ(contenu[2996][2], "01/03/2024 10:00:00");
  EXPECT_EQ(contenu[2998][2], "<nul>");  // the unreadable date, put back as the empty date
  for (std::size_t i = 0; i < 2996; ++i) {
    const int code = std::stoi(contenu[i][0]);
    ASSERT_EQ(contenu[i][1], code == 2000 ? std::string("éèêëàâ") : "n" + std::to_string(code)) << code;
  }
  auto lignes = LignesJournal();
  EXPECT_EQ(std::count(lignes.begin(), lignes.end(), Horodate("       Enregistrement défectueux : Table T")), 4);
  for (const char* code : {"30", "1500", "2200", "3000"})
    EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate(std::string("          Code : ") + code)), lignes.end())
        << code;
}

}  // namespace
}  // namespace lecture_tests

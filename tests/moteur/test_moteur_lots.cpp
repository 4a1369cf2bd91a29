// Batches of a recordset: values copied only for the columns asked for, records judged sound
// without their values, values read into the caller's storage, and the memory wide records take.
#include <fstream>
#include <set>

#include "OutilsMoteur.h"
#include "moteur/Noms.h"

using namespace moteur;
using namespace outils;

namespace {

class Lots : public TestMoteur {};

// Thousands of records passed without a look, then read: each value is its own record's, batch
// after batch, for the column asked for first and for one asked for later.
TEST_F(Lots, ValeursLuesApresUnParcoursSansLectureSontCellesDeLEnregistrement) {
  auto base = BaseClients(5000);
  auto rs = base.OpenRecordset("Clients");
  for (int i = 1; i < 2500; ++i) rs.MoveNext();
  for (int id = 2500; id <= 5000; ++id) {
    ASSERT_EQ(rs["Id"].Value().EnEntier(), id);
    if (id >= 4000) {
      ASSERT_EQ(rs["Nom"].Value().EnTexte(), "client " + std::to_string(id));
    }
    rs.MoveNext();
  }
  EXPECT_TRUE(rs.Eof());
  rs.MovePrevious();
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "client 5000");
}

// A record deleted after its batch was read is never read as the next one.
TEST_F(Lots, EnregistrementSupprimeDepuisLaLectureDeSonLot) {
  auto base = BaseClients(3000);
  auto rs = base.OpenRecordset("Clients");
  for (int i = 1; i < 2000; ++i) rs.MoveNext();
  base.Execute("DELETE FROM Clients WHERE Id = 2000", dbFailOnError);
  EXPECT_ERREUR(err::EnregistrementSupprime, rs["Nom"].Value());
  rs.MoveNext();
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 2001);
}

class Sante : public Lots {
 protected:
  // Every 97th record has a defect of one kind, or a stored form that is sound but unusual; the
  // first one lies in the first batch, the others beyond it.
  void SetUp() override {
    base_ = Cree();
    CreeTable(base_, "T",
              {{"N", dbLong}, {"Nom", dbText, 8}, {"Quand", dbDate}, {"Prix", dbCurrency}, {"Note", dbMemo}, {"Ok", dbBoolean}});
    DBEngine::BeginTrans();
    auto rs = base_.OpenRecordset("T");
    for (int i = 1; i <= 3000; ++i) {
      if (i % 97 == 10) {
        EcritSansControle(base_, "T", Particulier(i, (i / 97) % 6));
        continue;
      }
      rs.AddNew();
      rs["N"].SetValue(i);
      rs["Nom"].SetValue("n" + std::to_string(i));
      rs["Quand"].SetValue(Valeur(DateHeure{2024, 1 + i % 12, 1 + i % 28, i % 24, 0, 0}));
      rs["Prix"].SetValue(Valeur::Monetaire(i * 125));
      if (i % 3) rs["Note"].SetValue("note " + std::to_string(i));
      rs["Ok"].SetValue(i % 2 == 0);
      rs.Update();
    }
    rs.Close();
    DBEngine::CommitTrans();
  }

  static std::vector<std::pair<std::string, Valeur>> Particulier(int i, int genre) {
    std::vector<std::pair<std::string, Valeur>> v{{"N", Valeur(i)}, {"Nom", Valeur("p")}};
    switch (genre) {
      case 0: v[1].second = Valeur("neuf car."); break;         // one character too many
      case 1: v[0].second = Valeur("abc"); break;               // not a number
      case 2: v.push_back({"Quand", Valeur("hier")}); break;    // not a date
      case 3: v.push_back({"Prix", Valeur("douze")}); break;    // not an amount
      case 4: v[1].second = Valeur("éèêëàâäô"); break;          // 8 characters, 16 bytes: sound
      default: v.push_back({"Quand", Valeur("2024-1-5")}); break;  // a date in another readable form
    }
    return v;
  }

  // What the record check finds in the current record: an unreadable value or a Nom too long.
  static bool Defectueux(Recordset& rs) {
    for (int i = 0; i < rs.Fields().Count(); ++i) {
      Valeur v;
      auto lecture = Essaie([&] { v = rs[i].Value(); });
      if (lecture.Number == err::FormatNonReconnu) return true;
      EXPECT_EQ(lecture.Number, 0) << lecture.Description;
      if (rs[i].Name() == "Nom" && !v.EstNul() && NombreCaracteres(v.texte()) > 8) return true;
    }
    return false;
  }

  Database base_;
};

// A record called sound has nothing for the record check; every defect is called doubtful, in
// the first batch and beyond, when the question alone is asked and when values are read too.
TEST_F(Sante, EnregistrementSainNeCouvreAucunDefaut) {
  std::set<Signet> douteux;
  auto rs = base_.OpenRecordset("T");
  for (; !rs.Eof(); rs.MoveNext())
    if (!rs.EnregistrementSain()) douteux.insert(rs.Bookmark());

  std::set<Signet> defectueux;
  int sainsLus = 0;
  auto lecture = base_.OpenRecordset("T");
  for (; !lecture.Eof(); lecture.MoveNext()) {
    const bool sain = lecture.EnregistrementSain();
    const bool defaut = Defectueux(lecture);
    if (defaut) defectueux.insert(lecture.Bookmark());
    EXPECT_FALSE(sain && defaut) << lecture.Bookmark();
    sainsLus += sain;
  }
  // 31 particular records, six kinds in turn: the first four kinds are defects.
  EXPECT_EQ(defectueux.size(), 21u);
  for (Signet s : defectueux) EXPECT_TRUE(douteux.count(s)) << s;
  // Ordinary records, and the accented text of exactly its size, are all found sound.
  const std::size_t inhabituels = 5;  // the dates written otherwise
  EXPECT_LE(douteux.size(), defectueux.size() + inhabituels);
  EXPECT_EQ(sainsLus, 3000 - static_cast<int>(douteux.size()));
}

// The values of a doubtful record, read after the question, are its own; the next records
// still read right.
TEST_F(Sante, ValeursDUnEnregistrementDouteux) {
  auto rs = base_.OpenRecordset("T");
  for (; !rs.Eof(); rs.MoveNext()) {
    if (rs.EnregistrementSain()) continue;
    long long n = 0;
    if (!Essaie([&] { n = rs["N"].Value().EnEntier(); })) continue;  // the unreadable number
    EXPECT_EQ(n % 97, 10);
    EXPECT_EQ(rs["Nom"].Value().texte().empty(), false);
  }
  rs.MoveFirst();
  for (int i = 1; i <= 300; ++i, rs.MoveNext()) {
    if (i % 97 != 10) {
      ASSERT_EQ(rs["Nom"].Value().EnTexte(), "n" + std::to_string(i));
    }
  }
}

// LitValeur gives what Value gives, error included, into storage that held another value.
TEST_F(Sante, LitValeurDonneCeQueDonneValue) {
  auto rs = base_.OpenRecordset("T");
  for (int i = 1; i <= 600; ++i, rs.MoveNext()) {
    for (int c = 0; c < rs.Fields().Count(); ++c) {
      Valeur attendue, lue("une valeur précédente assez longue pour être dans le tas");
      auto a = Essaie([&] { attendue = rs[c].Value(); });
      auto b = Essaie([&] { rs[c].LitValeur(lue); });
      ASSERT_EQ(a.Number, b.Number) << i << " " << c;
      if (a.Number == 0) {
        ASSERT_EQ(lue.genre(), attendue.genre()) << i << " " << c;
        ASSERT_TRUE(lue == attendue) << i << " " << c;
      }
    }
  }
  rs.MoveFirst();
  rs.Edit();
  rs["Nom"].SetValue("modifié");
  Valeur lue("autre");
  rs["Nom"].LitValeur(lue);
  EXPECT_EQ(lue.texte(), "modifié");
  rs.CancelUpdate();
  EXPECT_ERREUR(err::OperationInvalide, base_.TableDefs()["T"].Fields()["Nom"].LitValeur(lue));
}

// Records of a hundred kilobytes each: a batch ends early, so reading them all takes a few
// megabytes, not a batch's worth of rows of that size.
TEST_F(Lots, GrandsEnregistrementsGardentLaMemoireBornee) {
  if (SousAsan) GTEST_SKIP() << "sous AddressSanitizer, le pic mesure la quarantaine des blocs libérés";
  auto base = Cree();
  CreeTable(base, "Larges", {{"Texte", dbMemo}});
  base.Execute("INSERT INTO Larges (Texte) VALUES ('" + std::string(100'000, 'x') + "')", dbFailOnError);
  while (Compte(base, "Larges") < 512) base.Execute("INSERT INTO Larges (Texte) SELECT Texte FROM Larges", dbFailOnError);
  base.Close();
  base = Ouvre();
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  const long long avant = PicMemoireKo();
  ASSERT_GT(avant, 0);
  auto rs = base.OpenRecordset("Larges", dbOpenSnapshot);
  long long lus = 0;
  for (; !rs.Eof(); rs.MoveNext()) lus += static_cast<long long>(rs["Texte"].Value().texte().size());
  EXPECT_EQ(lus, 512LL * 100'000);
  EXPECT_LT(PicMemoireKo() - avant, 16 * 1024);
}

}  // namespace

// Recordsets: moving, bookmarks, editing, what other connections do meanwhile, SQL sources, and
// the memory a long read takes.
#include <fstream>

#include "OutilsMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

class Recordsets : public TestMoteur {};

std::vector<std::string> LitNoms(Recordset& rs) {
  std::vector<std::string> noms;
  while (!rs.Eof()) {
    noms.push_back(rs["Nom"].Value().EnTexte());
    rs.MoveNext();
  }
  return noms;
}

TEST_F(Recordsets, ChaqueTypeLitToutDansLOrdre) {
  auto base = BaseClients(3);
  const std::vector<std::string> attendus{"client 1", "client 2", "client 3"};
  for (int type : {dbOpenTable, dbOpenDynaset, dbOpenSnapshot, dbOpenForwardOnly}) {
    SCOPED_TRACE(type);
    auto rs = base.OpenRecordset("Clients", type);
    EXPECT_EQ(rs.Type(), type);
    EXPECT_FALSE(rs.Bof());
    EXPECT_EQ(LitNoms(rs), attendus);
    EXPECT_TRUE(rs.Eof());
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.MoveNext());
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs["Nom"].Value());
    EXPECT_EQ(rs.Updatable(), type == dbOpenTable || type == dbOpenDynaset);
  }
  auto lecture = base.OpenRecordset("Clients", dbOpenSnapshot);
  EXPECT_ERREUR(err::LectureSeule, lecture.AddNew());
  EXPECT_ERREUR(err::LectureSeule, lecture.Delete());
  EXPECT_EQ(Compte(base, "Clients"), 3);
}

TEST_F(Recordsets, DeplacementsDansLesDeuxSensAuDelaDUnLot) {
  auto base = BaseClients(600);
  auto rs = base.OpenRecordset("Clients");
  EXPECT_EQ(rs.RecordCount(), 600);
  rs.MoveLast();
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 600);
  int n = 0;
  long long precedent = 601;
  bool ordonne = true;
  while (!rs.Bof()) {
    long long id = rs["Id"].Value().EnEntier();
    ordonne = ordonne && id == precedent - 1;
    precedent = id;
    ++n;
    rs.MovePrevious();
  }
  EXPECT_TRUE(ordonne);
  EXPECT_EQ(n, 600);
  EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.MovePrevious());
  EXPECT_ERREUR(err::PasDEnregistrementCourant, rs["Id"].Value());
  rs.MoveNext();
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 1);
  for (int i = 0; i < 299; ++i) rs.MoveNext();
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 300);
  rs.MovePrevious();
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 299);
  rs.MoveLast();
  rs.MoveNext();
  EXPECT_TRUE(rs.Eof());
  rs.MovePrevious();
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 600);
  rs.MoveFirst();
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 1);
}

TEST_F(Recordsets, TableVideNAAucunEnregistrementCourant) {
  auto base = BaseClients(0);
  for (int type : {dbOpenTable, dbOpenSnapshot}) {
    auto rs = base.OpenRecordset("Clients", type);
    EXPECT_TRUE(rs.Eof());
    EXPECT_TRUE(rs.Bof());
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.MoveFirst());
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.MoveLast());
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.MoveNext());
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs["Nom"].Value());
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.Bookmark());
    EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.LastModified());
    if (type == dbOpenTable) {
      EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.Edit());
      EXPECT_ERREUR(err::PasDEnregistrementCourant, rs.Delete());
    }
  }
}

TEST_F(Recordsets, SignetsEtDerniereModification) {
  auto base = BaseClients(5);
  auto rs = base.OpenRecordset("Clients", dbOpenDynaset);
  rs.MoveNext();
  rs.MoveNext();
  Signet troisieme = rs.Bookmark();
  rs.MoveLast();
  rs.SetBookmark(troisieme);
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "client 3");
  rs.MoveNext();
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "client 4");

  rs.AddNew();
  rs["Id"].SetValue(6);
  rs["Nom"].SetValue("nouveau");
  rs.Update();
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "client 4");  // adding does not move
  rs.SetBookmark(rs.LastModified());
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "nouveau");
  rs.SetBookmark(troisieme);
  rs.Edit();
  rs["Nom"].SetValue("modifié");
  rs.Update();
  EXPECT_EQ(rs.LastModified(), troisieme);
  rs.MoveFirst();
  rs.SetBookmark(rs.LastModified());
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "modifié");
  // A bookmark of a record since deleted no longer leads anywhere.
  base.Execute("DELETE FROM Clients WHERE Id = 3", dbFailOnError);
  EXPECT_NE(Essaie([&] { rs.SetBookmark(troisieme); }).Number, 0);
}

TEST_F(Recordsets, AjoutModificationAnnulationEtSuppression) {
  auto base = BaseClients(3);
  auto rs = base.OpenRecordset("Clients");
  EXPECT_ERREUR(err::MiseAJourSansEdition, rs.Update());
  EXPECT_ERREUR(err::MiseAJourSansEdition, rs.CancelUpdate());
  EXPECT_ERREUR(err::MiseAJourSansEdition, rs["Nom"].SetValue("x"));
  EXPECT_EQ(rs.EditMode(), 0);

  rs.Edit();
  EXPECT_EQ(rs.EditMode(), 1);
  rs["Nom"].SetValue("abandonné");
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "abandonné");
  rs.CancelUpdate();
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "client 1");
  rs.AddNew();
  EXPECT_EQ(rs.EditMode(), 2);
  rs["Nom"].SetValue("jamais");
  rs.CancelUpdate();
  EXPECT_EQ(rs.EditMode(), 0);
  EXPECT_EQ(rs.RecordCount(), 3);

  rs.Edit();
  rs["Nom"].SetValue("premier");
  rs.Update();
  EXPECT_ERREUR(err::MiseAJourSansEdition, rs.Update());
  rs.MoveNext();
  rs.Delete();
  EXPECT_ERREUR(err::EnregistrementSupprime, rs["Nom"].Value());
  EXPECT_ERREUR(err::EnregistrementSupprime, rs.Edit());
  EXPECT_ERREUR(err::EnregistrementSupprime, rs.Delete());
  rs.MoveNext();
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "client 3");
  rs.MovePrevious();
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "premier");
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom"), (std::vector<std::string>{"premier", "client 3"}));
}

TEST_F(Recordsets, EcrituresDUneAutreConnexionSontDetectees) {
  BaseClients(3).Close();
  auto a = Ouvre();
  auto b = Ouvre();
  auto rs = a.OpenRecordset("Clients");
  b.Execute("DELETE FROM Clients WHERE Id = 1", dbFailOnError);
  EXPECT_ERREUR(err::EnregistrementSupprime, rs.Edit());
  EXPECT_ERREUR(err::EnregistrementSupprime, rs.Delete());

  rs.MoveNext();
  rs.Edit();
  rs["Nom"].SetValue("par a");
  b.Execute("UPDATE Clients SET Nom = 'par b' WHERE Id = 2", dbFailOnError);
  EXPECT_ERREUR(err::ModifieParAutreUtilisateur, rs.Update());
  EXPECT_EQ(Colonne(a, "SELECT Nom FROM Clients WHERE Id = 2", "Nom"), (std::vector<std::string>{"par b"}));
  // Starting over from the record as it now is goes through.
  rs.Edit();
  EXPECT_EQ(rs["Nom"].Value().EnTexte(), "par b");
  rs["Nom"].SetValue("par a");
  ASSERT_SANS_ERREUR(rs.Update());
  EXPECT_EQ(Colonne(b, "SELECT Nom FROM Clients WHERE Id = 2", "Nom"), (std::vector<std::string>{"par a"}));

  rs.Edit();
  b.Execute("DELETE FROM Clients WHERE Id = 2", dbFailOnError);
  EXPECT_ERREUR(err::EnregistrementSupprime, rs.Update());
}

TEST_F(Recordsets, ValeurIllisibleNeToucheQueSonChamp) {
  auto base = Cree();
  CreeTable(base, "Abimee", {{"N", dbLong}, {"Court", dbText, 5}, {"Quand", dbDate}});
  EcritSansControle(base, "Abimee", {{"N", "abc"}, {"Court", "bien trop long pour cinq"}, {"Quand", "hier"}});
  EcritSansControle(base, "Abimee", {{"N", 2}, {"Court", "ok"}});
  EXPECT_EQ(Compte(base, "Abimee"), 2);
  auto rs = base.OpenRecordset("Abimee");
  auto n = Essaie([&] { rs["N"].Value(); });
  EXPECT_EQ(n.Number, err::FormatNonReconnu);
  EXPECT_NE(n.Description.find('N'), std::string::npos);
  EXPECT_ERREUR(err::FormatNonReconnu, rs["Quand"].Value());
  EXPECT_EQ(rs["Court"].Value().EnTexte(), "bien trop long pour cinq");
  rs.MoveNext();
  EXPECT_EQ(rs["N"].Value().EnEntier(), 2);
  // The rules still hold for ordinary writes afterwards.
  EXPECT_ERREUR(err::ValeurTropLongue, Ajoute(base, "Abimee", {{"Court", "encore trop long"}}));
  EXPECT_ERREUR(err::ConversionImpossible, base.Execute("INSERT INTO Abimee (N) VALUES ('abc')", dbFailOnError));
}

TEST_F(Recordsets, RequetesSQLRespectentFiltreOrdreEtLitteraux) {
  auto base = Cree();
  CreeTable(base, "Ventes", {{"N", dbLong}, {"Quand", dbDate}, {"Ville", dbText, 20}, {"Payee", dbBoolean}});
  base.Execute("INSERT INTO Ventes VALUES (1, #12/31/2024#, \"Nice\", True)", dbFailOnError);
  base.Execute("INSERT INTO Ventes VALUES (2, #01/15/2025#, 'Lyon', False)", dbFailOnError);
  base.Execute("INSERT INTO Ventes VALUES (3, #12/31/2024 08:30:00#, 'Brest', True)", dbFailOnError);
  base.Execute("INSERT INTO Ventes VALUES (4, Null, 'Albi', True)", dbFailOnError);

  auto compte = base.OpenRecordset("select count(*) from [Ventes]");
  EXPECT_EQ(compte[0].Value().EnEntier(), 4);
  EXPECT_EQ(Colonne(base, "SELECT Ville FROM Ventes WHERE Payee = True ORDER BY Ville DESC", "Ville"),
            (std::vector<std::string>{"Nice", "Brest", "Albi"}));
  EXPECT_EQ(Colonne(base, "SELECT N FROM Ventes WHERE Quand >= #12/31/2024# AND Quand < #01/01/2025# ORDER BY N", "N"),
            (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(Colonne(base, "SELECT N FROM Ventes WHERE Ville = \"Lyon\"", "N"), (std::vector<std::string>{"2"}));
  auto rs = base.OpenRecordset("SELECT Quand, Payee FROM Ventes WHERE N = 1");
  EXPECT_EQ(rs["Quand"].Value().EnDate(), (DateHeure{2024, 12, 31, 0, 0, 0}));
  EXPECT_EQ(rs["Payee"].Value(), Valeur(true));
  auto vide = base.OpenRecordset("SELECT * FROM Ventes WHERE N > 100");
  EXPECT_TRUE(vide.Eof() && vide.Bof());
  EXPECT_ERREUR(err::OperationInvalide, base.OpenRecordset("SELECT * FROM Ventes", dbOpenTable));
  EXPECT_NE(Essaie([&] { base.OpenRecordset("Inconnue"); }).Number, 0);
}

TEST_F(Recordsets, LectureDeDeuxCentMilleLignesGardeLaMemoireBornee) {
  if (SousAsan) GTEST_SKIP() << "sous AddressSanitizer, le pic mesure la quarantaine des blocs libérés";
  auto base = Cree();
  CreeTable(base, "Grande", {{"Texte", dbMemo}});
  base.Execute("INSERT INTO Grande (Texte) VALUES ('" + std::string(200, 'x') + "')", dbFailOnError);
  while (Compte(base, "Grande") < 200000) base.Execute("INSERT INTO Grande (Texte) SELECT Texte FROM Grande", dbFailOnError);
  base.Close();
  base = Ouvre();
  // Resets the peak so that what came before this read does not hide it.
  { std::ofstream("/proc/self/clear_refs") << "5"; }
  long long avant = PicMemoireKo();
  ASSERT_GT(avant, 0);
  auto rs = base.OpenRecordset("Grande", dbOpenSnapshot);
  long long lues = 0, octets = 0;
  while (!rs.Eof()) {
    octets += static_cast<long long>(rs["Texte"].Value().texte().size());
    ++lues;
    rs.MoveNext();
  }
  EXPECT_GE(lues, 200000);
  EXPECT_EQ(octets, lues * 200);
  EXPECT_LT(PicMemoireKo() - avant, 32 * 1024);
}

}  // namespace

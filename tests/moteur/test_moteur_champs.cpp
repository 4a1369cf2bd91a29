// Fields: types and sizes, values that go in and come back, and what may change once appended.
#include <sqlite3.h>

#include <ctime>
#include <set>

#include "OutilsMoteur.h"
#include "commun/SqliteSansMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

class Champs : public TestMoteur {};

std::string MaintenantIso() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char tampon[32];
  std::strftime(tampon, sizeof tampon, "%Y-%m-%d %H:%M:%S", &local);
  return tampon;
}

TEST_F(Champs, ChaqueTypeASaTailleEtRendCeQuOnYEcrit) {
  const std::string binaire("\x00\x01\xfe\xff", 4);
  const std::string grosBinaire(100000, '\x7f');
  const std::string memo = std::string(70000, 'm') + "été";
  {
    auto base = Cree();
    CreeTable(base, "Tous", {{"Bool", dbBoolean}, {"Octet", dbByte}, {"Entier", dbInteger}, {"Long", dbLong},
                             {"Monnaie", dbCurrency}, {"Simple", dbSingle}, {"Double", dbDouble}, {"Date", dbDate},
                             {"Bin", dbBinary}, {"Texte", dbText, 50}, {"GrosBin", dbLongBinary}, {"Memo", dbMemo}});
    Ajoute(base, "Tous", {{"Bool", true}, {"Octet", 255}, {"Entier", -32768}, {"Long", 2147483647},
                          {"Monnaie", Valeur::Monetaire(-123456789012345)}, {"Simple", 1.5}, {"Double", 1e300},
                          {"Date", DateHeure{2024, 2, 29, 23, 59, 58}}, {"Bin", Valeur::Binaire(binaire)},
                          {"Texte", "Noël à l'été"}, {"GrosBin", Valeur::Binaire(grosBinaire)}, {"Memo", memo}});
    Ajoute(base, "Tous", {{"Bool", false}, {"Octet", 0}, {"Entier", 32767}, {"Long", -2147483647 - 1}});
  }
  auto base = Ouvre();
  auto t = base.TableDefs()["Tous"];
  const int tailles[] = {1, 1, 2, 4, 8, 4, 8, 8, 255, 50, 0, 0};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(t.Fields()[i].Type(), i + 1);
    EXPECT_EQ(t.Fields()[i].Size(), tailles[i]) << t.Fields()[i].Name();
  }
  auto rs = base.OpenRecordset("Tous");
  EXPECT_EQ(rs["Bool"].Value(), Valeur(true));
  EXPECT_EQ(rs["Octet"].Value().EnEntier(), 255);
  EXPECT_EQ(rs["Entier"].Value().EnEntier(), -32768);
  EXPECT_EQ(rs["Long"].Value().EnEntier(), 2147483647);
  EXPECT_EQ(rs["Monnaie"].Value(), Valeur::Monetaire(-123456789012345));
  EXPECT_EQ(rs["Simple"].Value().EnReel(), 1.5);
  EXPECT_EQ(rs["Double"].Value().EnReel(), 1e300);
  EXPECT_EQ(rs["Date"].Value().EnDate(), (DateHeure{2024, 2, 29, 23, 59, 58}));
  EXPECT_EQ(rs["Bin"].Value().texte(), binaire);
  EXPECT_EQ(rs["Texte"].Value().EnTexte(), "Noël à l'été");
  EXPECT_EQ(rs["GrosBin"].Value().texte(), grosBinaire);
  EXPECT_EQ(rs["Memo"].Value().texte(), memo);
  rs.MoveNext();
  EXPECT_EQ(rs["Bool"].Value(), Valeur(false));
  EXPECT_EQ(rs["Entier"].Value().EnEntier(), 32767);
  EXPECT_EQ(rs["Long"].Value().EnEntier(), -2147483648LL);
  EXPECT_TRUE(rs["Memo"].Value().EstNul());
  EXPECT_TRUE(rs["Date"].Value().EstNul());
}

TEST_F(Champs, MonetaireEstExactEtBorne) {
  auto base = Cree();
  CreeTable(base, "Prix", {{"N", dbLong}, {"Montant", dbCurrency}});
  Ajoute(base, "Prix", {{"N", 1}, {"Montant", 0.1 + 0.2}});
  Ajoute(base, "Prix", {{"N", 2}, {"Montant", Valeur::Monetaire(1)}});
  Ajoute(base, "Prix", {{"N", 3}, {"Montant", "1234567,8901"}});
  Ajoute(base, "Prix", {{"N", 4}, {"Montant", Valeur::Monetaire(9223372036854775807LL)}});
  Ajoute(base, "Prix", {{"N", 5}, {"Montant", Valeur::Monetaire(-9223372036854775807LL - 1)}});
  base.Execute("INSERT INTO Prix (N, Montant) VALUES (6, 0.1 + 0.2)", dbFailOnError);
  auto rs = base.OpenRecordset("SELECT Montant FROM Prix ORDER BY N");
  const long long attendus[] = {3000, 1, 12345678901, 9223372036854775807LL, -9223372036854775807LL - 1, 3000};
  for (long long attendu : attendus) {
    ASSERT_FALSE(rs.Eof());
    Valeur v;
    ASSERT_SANS_ERREUR(v = rs["Montant"].Value());
    EXPECT_EQ(v.genre(), Valeur::Genre::Monetaire);
    EXPECT_EQ(v.entier(), attendu);
    rs.MoveNext();
  }
  EXPECT_EQ(Colonne(base, "SELECT Montant FROM Prix WHERE N = 1", "Montant"), (std::vector<std::string>{"0,3"}));
  EXPECT_ERREUR(err::DepassementNumerique, base.Execute("UPDATE Prix SET Montant = 1e16 WHERE N = 1", dbFailOnError));
}

TEST_F(Champs, DatesFontLAllerRetourEtRefusentLImpossible) {
  auto base = Cree();
  CreeTable(base, "Evenements", {{"N", dbLong}, {"Quand", dbDate}});
  const DateHeure dates[] = {{100, 1, 1, 0, 0, 0}, {1899, 12, 30, 12, 0, 0}, {2000, 2, 29, 0, 0, 1}, {9999, 12, 31, 23, 59, 59}};
  int n = 0;
  for (const auto& d : dates) Ajoute(base, "Evenements", {{"N", ++n}, {"Quand", d}});
  Ajoute(base, "Evenements", {{"N", ++n}, {"Quand", "14/07/1789 10:30"}});
  EXPECT_ERREUR(err::ConversionImpossible, Ajoute(base, "Evenements", {{"N", 9}, {"Quand", "30/02/2024"}}));
  EXPECT_ERREUR(err::ConversionImpossible, base.Execute("UPDATE Evenements SET Quand = 'demain'", dbFailOnError));
  auto rs = base.OpenRecordset("Evenements");
  for (const auto& d : dates) {
    EXPECT_EQ(rs["Quand"].Value().EnDate(), d);
    rs.MoveNext();
  }
  EXPECT_EQ(rs["Quand"].Value().EnDate(), (DateHeure{1789, 7, 14, 10, 30, 0}));
  EXPECT_EQ(rs["Quand"].Value().EnTexte(), "14/07/1789 10:30:00");
}

TEST_F(Champs, ValeursParDefautSAppliquentSurChaqueChemin) {
  auto base = Cree();
  auto td = base.CreateTableDef("Defauts");
  auto ajoute = [&](const std::string& nom, int type, const std::string& defaut) {
    auto f = td.CreateField(nom, type, type == dbText ? 20 : 0);
    f.SetDefaultValue(defaut);
    td.Fields().Append(f);
  };
  td.Fields().Append(td.CreateField("Id", dbLong));
  ajoute("Nombre", dbLong, "5");
  ajoute("Reel", dbDouble, "2.5");
  ajoute("Guillemets", dbText, "\"abc\"");
  ajoute("Apostrophes", dbText, "'l''été'");
  ajoute("Vrai", dbBoolean, "True");
  ajoute("Faux", dbBoolean, "False");
  ajoute("Oui", dbBoolean, "Oui");
  ajoute("Non", dbBoolean, "Non");
  ajoute("Jour", dbDate, "Date()");
  ajoute("Instant", dbDate, "=Now()");
  ajoute("Fixe", dbDate, "#01/02/2024#");  // month first, as in statements
  EXPECT_ERREUR(err::SyntaxeExpression, td.CreateField("Mauvais", dbLong).SetDefaultValue("5 +"));
  base.TableDefs().Append(td);
  EXPECT_EQ(td.Fields()["Guillemets"].DefaultValue(), "\"abc\"");

  std::string avant = MaintenantIso();
  auto rs = base.OpenRecordset("Defauts");
  rs.AddNew();
  EXPECT_EQ(rs["Nombre"].Value().EnEntier(), 5);  // seen while the record is being added
  rs["Id"].SetValue(1);
  rs.Update();
  base.Execute("INSERT INTO Defauts (Id) VALUES (2)", dbFailOnError);
  std::string apres = MaintenantIso();

  auto lu = base.OpenRecordset("Defauts");
  for (int id = 1; id <= 2; ++id) {
    SCOPED_TRACE(id);
    EXPECT_EQ(lu["Id"].Value().EnEntier(), id);
    EXPECT_EQ(lu["Nombre"].Value().EnEntier(), 5);
    EXPECT_EQ(lu["Reel"].Value().EnReel(), 2.5);
    EXPECT_EQ(lu["Guillemets"].Value().EnTexte(), "abc");
    EXPECT_EQ(lu["Apostrophes"].Value().EnTexte(), "l'été");
    EXPECT_TRUE(lu["Vrai"].Value().EnBooleen());
    EXPECT_FALSE(lu["Faux"].Value().EnBooleen());
    EXPECT_TRUE(lu["Oui"].Value().EnBooleen());
    EXPECT_FALSE(lu["Non"].Value().EnBooleen());
    DateHeure jour = lu["Jour"].Value().EnDate();
    EXPECT_EQ(jour.heure + jour.minute + jour.seconde, 0);
    EXPECT_GE(jour.Iso().substr(0, 10), avant.substr(0, 10));
    EXPECT_LE(jour.Iso().substr(0, 10), apres.substr(0, 10));
    std::string instant = lu["Instant"].Value().EnDate().Iso();
    EXPECT_GE(instant, avant);
    EXPECT_LE(instant, apres);
    EXPECT_EQ(lu["Fixe"].Value().EnDate(), (DateHeure{2024, 1, 2, 0, 0, 0}));
    lu.MoveNext();
  }
}

TEST_F(Champs, RequisEtChaineVideSontControles) {
  auto base = Cree();
  auto td = base.CreateTableDef("Fiches");
  auto requis = td.CreateField("Requis", dbText, 10);
  requis.SetRequired(true);
  requis.SetAllowZeroLength(true);
  auto texte = td.CreateField("Texte", dbText, 10);
  auto memo = td.CreateField("Memo", dbMemo);
  auto nombre = td.CreateField("Nombre", dbLong);
  for (auto& f : {requis, texte, memo, nombre}) td.Fields().Append(f);
  EXPECT_ERREUR(3378, nombre.SetAllowZeroLength(true));
  base.TableDefs().Append(td);
  EXPECT_TRUE(td.Fields()["Requis"].Required());
  EXPECT_FALSE(td.Fields()["Texte"].AllowZeroLength());

  EXPECT_ERREUR(err::ChampRequis, Ajoute(base, "Fiches", {{"Texte", "x"}}));
  EXPECT_ERREUR(err::ChampRequis, Ajoute(base, "Fiches", {{"Requis", Valeur::Nul()}}));
  ASSERT_SANS_ERREUR(Ajoute(base, "Fiches", {{"Requis", ""}}));
  EXPECT_ERREUR(err::ChaineVideInterdite, Ajoute(base, "Fiches", {{"Requis", "a"}, {"Texte", ""}}));
  EXPECT_ERREUR(err::ChaineVideInterdite, Ajoute(base, "Fiches", {{"Requis", "a"}, {"Memo", ""}}));
  td.Fields()["Memo"].SetAllowZeroLength(true);
  ASSERT_SANS_ERREUR(Ajoute(base, "Fiches", {{"Requis", "a"}, {"Memo", ""}}));
  EXPECT_EQ(Compte(base, "Fiches"), 2);
}

TEST_F(Champs, PositionOrdinaleDecideDeLOrdreDesChamps) {
  {
    auto base = Cree();
    auto td = base.CreateTableDef("Ordre");
    int position = 3;
    for (const char* nom : {"C", "B", "A"}) {
      auto f = td.CreateField(nom, dbLong);
      f.SetOrdinalPosition(position--);
      td.Fields().Append(f);
    }
    base.TableDefs().Append(td);
    EXPECT_EQ(td.Fields()[0].Name(), "A");
    td.Fields()["A"].SetOrdinalPosition(10);
    EXPECT_EQ(td.Fields()[0].Name(), "B");
    EXPECT_EQ(td.Fields()[2].Name(), "A");
  }
  auto base = Ouvre();
  auto rs = base.OpenRecordset("Ordre");
  EXPECT_EQ(rs.Fields()[0].Name(), "B");
  EXPECT_EQ(rs.Fields()[1].Name(), "C");
  EXPECT_EQ(rs.Fields()[2].Name(), "A");
  EXPECT_EQ(base.TableDefs()["Ordre"].Fields()["A"].OrdinalPosition(), 10);
}

TEST_F(Champs, ChampAjouteAUneTableGardeSesEnregistrements) {
  auto base = BaseClients(3);
  auto clients = base.TableDefs()["Clients"];
  AjouteIndex(clients, "ParId", "Id", true);
  CreeTable(base, "Commandes", {{"ClientId", dbLong}});
  auto rel = base.CreateRelation("ClientsCommandes", "Clients", "Commandes");
  auto rf = rel.CreateField("Id");
  rf.SetForeignName("ClientId");
  rel.Fields().Append(rf);
  base.Relations().Append(rel);
  Ajoute(base, "Commandes", {{"ClientId", 2}});

  auto ville = clients.CreateField("Ville", dbText, 30);
  ville.SetDefaultValue("\"Lyon\"");
  clients.Fields().Append(ville);
  auto numero = clients.CreateField("Numero", dbLong);
  numero.SetAttributes(dbAutoIncrField);
  ASSERT_SANS_ERREUR(clients.Fields().Append(numero));
  EXPECT_EQ(clients.Fields()["Numero"].Attributes() & dbAutoIncrField, dbAutoIncrField);
  EXPECT_EQ(clients.RecordCount(), 3);
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients ORDER BY Numero", "Nom"),
            (std::vector<std::string>{"client 1", "client 2", "client 3"}));
  EXPECT_EQ(Colonne(base, "SELECT Ville FROM Clients", "Ville"), (std::vector<std::string>{"<nul>", "<nul>", "<nul>"}));
  Ajoute(base, "Clients", {{"Id", 4}, {"Nom", "client 4"}});
  auto numeros = Colonne(base, "SELECT Numero FROM Clients ORDER BY Id", "Numero");
  ASSERT_EQ(numeros.size(), 4u);
  EXPECT_EQ(std::set<std::string>(numeros.begin(), numeros.end()).size(), 4u);
  EXPECT_GT(std::stoll(numeros[3]), std::stoll(numeros[2]));
  EXPECT_EQ(Colonne(base, "SELECT Ville FROM Clients WHERE Id = 4", "Ville"), (std::vector<std::string>{"Lyon"}));
  // The index and the relation have come through the rebuild.
  EXPECT_ERREUR(err::Doublon, Ajoute(base, "Clients", {{"Id", 1}, {"Nom", "x"}}));
  EXPECT_ERREUR(err::EnregistrementsLies, base.Execute("DELETE FROM Clients WHERE Id = 2", dbFailOnError));
  EXPECT_ERREUR(err::PasDEnregistrementLie, Ajoute(base, "Commandes", {{"ClientId", 9}}));
  // A second counter is refused.
  auto autre = clients.CreateField("Autre", dbLong);
  autre.SetAttributes(dbAutoIncrField);
  EXPECT_NE(Essaie([&] { clients.Fields().Append(autre); }).Number, 0);
  EXPECT_EQ(clients.Fields().Count(), 4);
}

TEST_F(Champs, SeulsDefautRequisChaineVideEtOrdrePeuventChangerApresAjout) {
  {
    auto base = BaseClients(1);
    auto nom = base.TableDefs()["Clients"].Fields()["Nom"];
    EXPECT_ERREUR(err::OperationInvalide, nom.SetType(dbMemo));
    EXPECT_ERREUR(err::OperationInvalide, nom.SetSize(40));
    EXPECT_ERREUR(err::OperationInvalide, nom.SetAttributes(dbAutoIncrField));
    EXPECT_NE(Essaie([&] { nom.Properties()["Type"].SetValue(dbMemo); }).Number, 0);
    EXPECT_EQ(nom.Type(), dbText);
    EXPECT_EQ(nom.Size(), 20);
    nom.SetDefaultValue("\"inconnu\"");
    nom.SetAllowZeroLength(true);
    nom.SetOrdinalPosition(-1);
    // Nulls already there do not prevent Required; the next writes are checked.
    Ajoute(base, "Clients", {{"Id", 2}});
    base.Execute("UPDATE Clients SET Nom = Null WHERE Id = 2", dbFailOnError);
    ASSERT_SANS_ERREUR(nom.SetRequired(true));
  }
  auto base = Ouvre();
  auto nom = base.TableDefs()["Clients"].Fields()["Nom"];
  EXPECT_EQ(nom.DefaultValue(), "\"inconnu\"");
  EXPECT_TRUE(nom.Required());
  EXPECT_TRUE(nom.AllowZeroLength());
  EXPECT_EQ(base.TableDefs()["Clients"].Fields()[0].Name(), "Nom");
  EXPECT_EQ(Compte(base, "Clients"), 2);
  EXPECT_ERREUR(err::ChampRequis, Ajoute(base, "Clients", {{"Id", 3}, {"Nom", Valeur::Nul()}}));
  EXPECT_ERREUR(err::ChampRequis, base.Execute("UPDATE Clients SET Nom = Null WHERE Id = 1", dbFailOnError));
  ASSERT_SANS_ERREUR(Ajoute(base, "Clients", {{"Id", 3}, {"Nom", ""}}));
  ASSERT_SANS_ERREUR(base.Execute("UPDATE Clients SET Nom = 'rempli' WHERE Id = 2", dbFailOnError));
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients ORDER BY Id", "Nom"), (std::vector<std::string>{"client 1", "rempli", ""}));
}

}  // namespace

// Bytes another program wrote into a text field that form no UTF-8 are never
// handed back as a text: reading them is the error of an unreadable value, which names the field
// and shows the bytes escaped, and the other fields of the record still read.
TEST_F(Champs, UnTexteQuiNEstPasDeLUtf8NEstJamaisRenduCommeTexte) {
  {
    auto base = Cree();
    CreeTable(base, "T", {{"Id", dbLong}, {"Nom", dbText, 20}, {"Note", dbMemo}});
    Ajoute(base, "T", {{"Id", 1}, {"Nom", "juste"}, {"Note", "été"}});
    Ajoute(base, "T", {{"Id", 2}, {"Nom", "faux"}, {"Note", "binaire"}});
  }
  ASSERT_EQ(utireorg::tests::EcritSansLeMoteur(
                Chemin("base.bd"),
                "UPDATE T SET Nom = CAST(x'6e6fff0afe37' AS TEXT), Note = CAST(x'c328' AS TEXT) WHERE Id = 2"),
            SQLITE_OK);
  auto base = Ouvre();
  for (const char* source :
       {"T", "SELECT Id, Nom, Note FROM T ORDER BY Id", "SELECT Id, Nom & '' AS Nom, Note FROM T ORDER BY Id"}) {
    SCOPED_TRACE(source);
    auto rs = base.OpenRecordset(source);
    EXPECT_EQ(rs["Nom"].Value().EnTexte(), "juste");
    rs.MoveNext();
    EXPECT_EQ(rs["Id"].Value().EnEntier(), 2);
    try {
      Valeur v = rs["Nom"].Value();
      ADD_FAILURE() << "rendu comme texte : " << v.EnTexte();
    } catch (const ErreurMoteur& e) {
      EXPECT_EQ(e.Number(), err::FormatNonReconnu);
      EXPECT_NE(e.Description().find("'Nom'"), std::string::npos) << e.Description();
      EXPECT_NE(e.Description().find("no\\xFF\\n\\xFE7"), std::string::npos) << e.Description();
    }
    Valeur dans;
    EXPECT_ERREUR(err::FormatNonReconnu, rs["Nom"].LitValeur(dans));
    EXPECT_ERREUR(err::FormatNonReconnu, rs["Note"].Value());
  }
}

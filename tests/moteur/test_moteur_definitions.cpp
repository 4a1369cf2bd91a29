// Table definitions, indexes, relations and properties, as the object model exposes them.
#include "OutilsMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

class Definitions : public TestMoteur {
 protected:
  // Clients(Id, Nom) primary on Id, Commandes(Num, ClientId) related to it, a few records.
  Database BaseCommandes(long long attributsRelation = 0) {
    auto base = Cree();
    auto clients = CreeTable(base, "Clients", {{"Id", dbLong}, {"Nom", dbText, 30}});
    AjouteIndex(clients, "CleClients", "Id", true, true);
    CreeTable(base, "Commandes", {{"Num", dbLong}, {"ClientId", dbLong}});
    Ajoute(base, "Clients", {{"Id", 1}, {"Nom", "Alice"}});
    Ajoute(base, "Clients", {{"Id", 2}, {"Nom", "Bruno"}});
    Ajoute(base, "Commandes", {{"Num", 10}, {"ClientId", 1}});
    Ajoute(base, "Commandes", {{"Num", 11}, {"ClientId", 2}});
    auto rel = base.CreateRelation("ClientsCommandes", "Clients", "Commandes", attributsRelation);
    auto f = rel.CreateField("Id");
    f.SetForeignName("ClientId");
    rel.Fields().Append(f);
    base.Relations().Append(rel);
    return base;
  }
};

TEST_F(Definitions, AjoutDeTableRefuseSansChampOuSousUnNomPris) {
  auto base = Cree();
  auto vide = base.CreateTableDef("Vide");
  EXPECT_ERREUR(err::TableSansChamp, base.TableDefs().Append(vide));
  CreeTable(base, "Clients", {{"Nom", dbText, 10}});
  CreeTable(base, "Élève", {{"Nom", dbText, 10}});
  int avant = base.TableDefs().Count();
  EXPECT_ERREUR(err::TableExiste, CreeTable(base, "Clients", {{"X", dbLong}}));
  EXPECT_ERREUR(err::TableExiste, CreeTable(base, "CLIENTS", {{"X", dbLong}}));
  EXPECT_ERREUR(err::TableExiste, CreeTable(base, "ÉLÈVE", {{"X", dbLong}}));
  EXPECT_ERREUR(err::TableExiste, CreeTable(base, "élève", {{"X", dbLong}}));
  EXPECT_ERREUR(err::NomInvalide, CreeTable(base, "a.b", {{"X", dbLong}}));
  EXPECT_EQ(base.TableDefs().Count(), avant);
  EXPECT_EQ(base.TableDefs()["Clients"].Fields()[0].Name(), "Nom");
}

TEST_F(Definitions, RenommageGardeEnregistrementsProprietesIndexEtRelations) {
  {
    auto base = BaseCommandes();
    auto clients = base.TableDefs()["Clients"];
    clients.Properties().Append(clients.CreateProperty("Priorite", dbInteger, 3));
    EXPECT_ERREUR(err::TableExiste, clients.SetName("Commandes"));
    EXPECT_ERREUR(err::TableExiste, clients.SetName("COMMANDES"));
    clients.SetName("Acheteurs");
    EXPECT_EQ(clients.Name(), "Acheteurs");
    EXPECT_ERREUR(err::ElementIntrouvable, base.TableDefs()["Clients"]);
    clients.SetName("ACHETEURS");  // a change of case alone is a rename too
    EXPECT_EQ(base.TableDefs()["acheteurs"].Name(), "ACHETEURS");
    EXPECT_EQ(base.Relations()["ClientsCommandes"].Table(), "ACHETEURS");
  }
  auto base = Ouvre();
  auto t = base.TableDefs()["Acheteurs"];
  EXPECT_EQ(t.Name(), "ACHETEURS");
  EXPECT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(t.Properties()["Priorite"].Value().EnEntier(), 3);
  EXPECT_EQ(t.Indexes()["CleClients"].Fields(), "+Id");
  EXPECT_EQ(base.Relations()["ClientsCommandes"].Table(), "ACHETEURS");
  // The index and the relation still act on the renamed table.
  EXPECT_ERREUR(err::Doublon, Ajoute(base, "Acheteurs", {{"Id", 1}, {"Nom", "double"}}));
  EXPECT_ERREUR(err::PasDEnregistrementLie, Ajoute(base, "Commandes", {{"Num", 12}, {"ClientId", 9}}));
  EXPECT_ERREUR(err::EnregistrementsLies, base.Execute("DELETE FROM ACHETEURS WHERE Id = 1", dbFailOnError));
  ASSERT_SANS_ERREUR(Ajoute(base, "Commandes", {{"Num", 13}, {"ClientId", 2}}));
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Acheteurs ORDER BY Id", "Nom"), (std::vector<std::string>{"Alice", "Bruno"}));
}

TEST_F(Definitions, SuppressionDeTableEmporteSesRelations) {
  auto base = BaseCommandes();
  EXPECT_ERREUR(err::ElementIntrouvable, base.TableDefs().Delete("Factures"));
  base.TableDefs().Delete("commandes");
  EXPECT_ERREUR(err::ElementIntrouvable, base.TableDefs()["Commandes"]);
  EXPECT_EQ(base.Relations().Count(), 0);
  // Nothing of the relation is left to refuse deleting a client.
  base.Execute("DELETE FROM Clients WHERE Id = 1", dbFailOnError);
  EXPECT_EQ(base.RecordsAffected(), 1);
  CreeTable(base, "Commandes", {{"Autre", dbText, 5}});
  EXPECT_EQ(base.TableDefs()["Commandes"].Fields()[0].Name(), "Autre");
  EXPECT_EQ(Compte(base, "Commandes"), 0);
}

TEST_F(Definitions, ElementManquantDonne3265DansChaqueCollection) {
  auto base = BaseCommandes();
  auto t = base.TableDefs()["Clients"];
  EXPECT_ERREUR(err::ElementIntrouvable, base.TableDefs()["Inconnue"]);
  EXPECT_ERREUR(err::ElementIntrouvable, base.TableDefs()[99]);
  EXPECT_ERREUR(err::ElementIntrouvable, t.Fields()["Inconnu"]);
  EXPECT_ERREUR(err::ElementIntrouvable, t.Fields()[-1]);
  EXPECT_ERREUR(err::ElementIntrouvable, t.Indexes()["Inconnu"]);
  EXPECT_ERREUR(err::ElementIntrouvable, base.Relations()["Inconnue"]);
  EXPECT_ERREUR(err::ElementIntrouvable, t.Properties()["Inconnue"]);
  EXPECT_ERREUR(err::ElementIntrouvable, t.Fields()["Nom"].Properties()["Inconnue"]);
  EXPECT_ERREUR(err::ElementIntrouvable, base.Properties()["Inconnue"]);
  EXPECT_ERREUR(err::ElementIntrouvable, base.Relations()["ClientsCommandes"].Fields()["Inconnu"]);
  auto rs = base.OpenRecordset("Clients");
  EXPECT_ERREUR(err::ElementIntrouvable, rs["Inconnu"]);
  EXPECT_ERREUR(err::ElementIntrouvable, t.Indexes().Delete("Inconnu"));
  EXPECT_ERREUR(err::ElementIntrouvable, base.Relations().Delete("Inconnue"));
  EXPECT_ERREUR(err::ElementIntrouvable, t.Fields().Delete("Inconnu"));
}

TEST_F(Definitions, NomsTrouvesSansEgardALaCasseAccentsCompris) {
  auto base = Cree();
  auto t = CreeTable(base, "PRIORITÉ", {{"Libellé", dbText, 20}, {"Échéance", dbDate}});
  AjouteIndex(t, "ParLibellé", "libellé", false);
  t.Fields()["Libellé"].Properties().Append(t.CreateProperty("NomClair", dbText, "Libellé long"));
  EXPECT_EQ(base.TableDefs()["Priorité"].Name(), "PRIORITÉ");
  EXPECT_EQ(base.TableDefs()["priorité"].Fields()["LIBELLÉ"].Name(), "Libellé");
  EXPECT_EQ(t.Fields()["échéance"].Type(), dbDate);
  EXPECT_EQ(t.Indexes()["PARLIBELLÉ"].Fields(), "+Libellé");
  EXPECT_EQ(t.Fields()["libellé"].Properties()["nomclair"].Value().EnTexte(), "Libellé long");
  base.Execute("INSERT INTO [priorité] ([LIBELLÉ]) VALUES ('urgent')", dbFailOnError);
  auto rs = base.OpenRecordset("Priorité");
  EXPECT_EQ(rs["libellé"].Value().EnTexte(), "urgent");
  EXPECT_EQ(Colonne(base, "SELECT [libellé] FROM [PRIORITÉ]", "Libellé"), (std::vector<std::string>{"urgent"}));
}

TEST_F(Definitions, ChampsDIndexSousLaFormePlusMoins) {
  auto base = Cree();
  auto t = CreeTable(base, "Personnes", {{"Nom", dbText, 20}, {"Prenom", dbText, 20}});
  AjouteIndex(t, "NomPrenom", "Nom;-Prenom", false);
  AjouteIndex(t, "Crochets", " [nom] ; -PRENOM", false);
  EXPECT_EQ(t.Indexes()["NomPrenom"].Fields(), "+Nom;-Prenom");
  EXPECT_EQ(t.Indexes()["Crochets"].Fields(), "+Nom;-Prenom");
  EXPECT_ERREUR(err::ElementIntrouvable, AjouteIndex(t, "Mauvais", "Nom;Age", false));
  EXPECT_EQ(t.Indexes().Count(), 2);
  // A field that belongs to an index cannot be deleted from under it.
  EXPECT_NE(Essaie([&] { t.Fields().Delete("Prenom"); }).Number, 0);
  t.Indexes().Delete("NOMPRENOM");
  t.Indexes().Delete("Crochets");
  ASSERT_SANS_ERREUR(t.Fields().Delete("Prenom"));
  EXPECT_EQ(t.Fields().Count(), 1);
}

TEST_F(Definitions, IndexUniqueEtClePrimaireSurDonneesExistantes) {
  auto base = Cree();
  auto t = CreeTable(base, "Articles", {{"Code", dbText, 10}, {"Ref", dbLong}});
  Ajoute(base, "Articles", {{"Code", "A"}, {"Ref", 1}});
  Ajoute(base, "Articles", {{"Code", "A"}, {"Ref", 2}});
  Ajoute(base, "Articles", {{"Code", "B"}});
  EXPECT_ERREUR(err::Doublon, AjouteIndex(t, "CodeUnique", "Code", true));
  EXPECT_ERREUR(err::CleNulle, AjouteIndex(t, "Cle", "Ref", true, true));
  EXPECT_EQ(t.Indexes().Count(), 0);
  // Once the data fit, the key takes: null keys and duplicates are refused from then on.
  base.Execute("DELETE FROM Articles WHERE Ref IS NULL", dbFailOnError);
  AjouteIndex(t, "Cle", "Ref", true, true);
  EXPECT_TRUE(t.Indexes()["Cle"].Primary());
  EXPECT_ERREUR(err::CleExistante, AjouteIndex(t, "Autre", "Code", false, true));
  EXPECT_ERREUR(err::CleNulle, Ajoute(base, "Articles", {{"Code", "C"}}));
  EXPECT_ERREUR(err::CleNulle, base.Execute("UPDATE Articles SET Ref = Null WHERE Ref = 1", dbFailOnError));
  EXPECT_ERREUR(err::Doublon, Ajoute(base, "Articles", {{"Code", "D"}, {"Ref", 2}}));
  AjouteIndex(t, "ParCode", "Code", false);
  t.Indexes().Delete("Cle");
  ASSERT_SANS_ERREUR(Ajoute(base, "Articles", {{"Code", "D"}, {"Ref", 2}}));
  EXPECT_EQ(Compte(base, "Articles"), 3);
  EXPECT_EQ(t.Indexes().Count(), 1);
}

TEST_F(Definitions, RelationAppliqueeVerifieLesDonneesAvantEtApres) {
  auto base = Cree();
  CreeTable(base, "Clients", {{"Id", dbLong}});
  CreeTable(base, "Commandes", {{"ClientId", dbLong}});
  Ajoute(base, "Clients", {{"Id", 1}});
  Ajoute(base, "Commandes", {{"ClientId", 1}});
  Ajoute(base, "Commandes", {{"ClientId", 7}});
  auto relation = [&](const std::string& nom, long long attributs) {
    auto rel = base.CreateRelation(nom, "Clients", "Commandes", attributs);
    auto f = rel.CreateField("Id");
    f.SetForeignName("ClientId");
    rel.Fields().Append(f);
    base.Relations().Append(rel);
  };
  EXPECT_ERREUR(err::PasDEnregistrementLie, relation("Appliquee", 0));
  EXPECT_EQ(base.Relations().Count(), 0);
  base.Execute("DELETE FROM Commandes WHERE ClientId = 7", dbFailOnError);
  relation("Appliquee", 0);
  EXPECT_ERREUR(err::PasDEnregistrementLie, Ajoute(base, "Commandes", {{"ClientId", 8}}));
  EXPECT_ERREUR(err::PasDEnregistrementLie, base.Execute("UPDATE Commandes SET ClientId = 9", dbFailOnError));
  EXPECT_ERREUR(err::EnregistrementsLies, base.Execute("DELETE FROM Clients", dbFailOnError));
  EXPECT_ERREUR(err::EnregistrementsLies, base.Execute("UPDATE Clients SET Id = 5", dbFailOnError));
  ASSERT_SANS_ERREUR(Ajoute(base, "Commandes", {{"ClientId", Valeur::Nul()}}));
  auto r = base.Relations()["APPLIQUEE"];
  EXPECT_EQ(r.Table(), "Clients");
  EXPECT_EQ(r.ForeignTable(), "Commandes");
  EXPECT_EQ(r.Fields()[0].ForeignName(), "ClientId");
  EXPECT_EQ(Colonne(base, "SELECT Id FROM Clients", "Id"), (std::vector<std::string>{"1"}));
}

TEST_F(Definitions, RelationNonAppliqueeNeVerifieRien) {
  auto base = BaseCommandes(dbRelationDontEnforce);
  ASSERT_SANS_ERREUR(Ajoute(base, "Commandes", {{"Num", 12}, {"ClientId", 99}}));
  ASSERT_SANS_ERREUR(base.Execute("DELETE FROM Clients WHERE Id = 1", dbFailOnError));
  EXPECT_EQ(Compte(base, "Commandes"), 3);
  EXPECT_EQ(base.Relations()["ClientsCommandes"].Attributes() & dbRelationDontEnforce, dbRelationDontEnforce);
}

TEST_F(Definitions, ProprietesUtilisateurEtIntegreesSurviventALaReouverture) {
  {
    auto base = Cree();
    auto t = CreeTable(base, "Clients", {{"Nom", dbText, 40}, {"Code", dbText, 8}});
    auto nom = t.Fields()["Nom"];
    auto props = nom.Properties();
    props.Append(nom.CreateProperty("NomClair", dbText, "Nom du client"));
    props.Append(nom.CreateProperty("VEKFormat", dbText, ">"));
    t.Fields()["Code"].Properties().Append(t.CreateProperty("FormatSaisie", dbText, "AAA-000"));
    t.Properties().Append(t.CreateProperty("Priorite", dbInteger, 2));
    t.Properties().Append(t.CreateProperty("Supplement", dbBoolean, true));
    base.Properties().Append(base.CreateProperty("Auteur", dbText, "Service"));
    EXPECT_ERREUR(err::ProprieteExiste, props.Append(nom.CreateProperty("NOMCLAIR", dbText, "autre")));
    EXPECT_ERREUR(err::ProprieteExiste, props.Append(nom.CreateProperty("Required", dbBoolean, true)));
    EXPECT_ERREUR(err::ProprieteExiste, t.Properties().Append(t.CreateProperty("priorite", dbText, "x")));
    // Built-in characteristics are properties too, readable and writable.
    EXPECT_EQ(props["Size"].Value().EnEntier(), 40);
    EXPECT_EQ(props["Type"].Value().EnEntier(), dbText);
    EXPECT_FALSE(props["Required"].Value().EnBooleen());
    props["Required"].SetValue(true);
    props["DefaultValue"].SetValue("\"anonyme\"");
    EXPECT_TRUE(nom.Required());
    EXPECT_NE(Essaie([&] { props["Size"].SetValue(10); }).Number, 0);
    props["VEKFormat"].SetValue("<");
  }
  auto base = Ouvre();
  auto t = base.TableDefs()["Clients"];
  auto props = t.Fields()["Nom"].Properties();
  EXPECT_EQ(props["NomClair"].Value().EnTexte(), "Nom du client");
  EXPECT_EQ(props["VEKFormat"].Value().EnTexte(), "<");
  EXPECT_TRUE(props["Required"].Value().EnBooleen());
  EXPECT_EQ(props["DefaultValue"].Value().EnTexte(), "\"anonyme\"");
  EXPECT_EQ(props["Size"].Value().EnEntier(), 40);
  EXPECT_EQ(t.Fields()["Code"].Properties()["FormatSaisie"].Value().EnTexte(), "AAA-000");
  EXPECT_EQ(t.Properties()["Priorite"].Value().EnEntier(), 2);
  EXPECT_EQ(t.Properties()["Priorite"].Type(), dbInteger);
  EXPECT_EQ(t.Properties()["Supplement"].Value().genre(), Valeur::Genre::Booleen);
  EXPECT_TRUE(t.Properties()["Supplement"].Value().EnBooleen());
  EXPECT_EQ(base.Properties()["Auteur"].Value().EnTexte(), "Service");
  // The written Required and default act on records.
  EXPECT_ERREUR(err::ChampRequis, base.Execute("INSERT INTO Clients (Nom, Code) VALUES (Null, 'x')", dbFailOnError));
  Ajoute(base, "Clients", {{"Code", "c"}});
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Clients", "Nom"), (std::vector<std::string>{"anonyme"}));
  t.Properties().Delete("Priorite");
  EXPECT_ERREUR(err::ElementIntrouvable, t.Properties()["Priorite"]);
}

}  // namespace

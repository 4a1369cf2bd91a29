// Files altered by another program: a trigger, a view or a table the engine did not make never
// runs and is reported; a catalog value out of its range is damage, never obeyed.
#include <sqlite3.h>

#include <algorithm>

#include "OutilsMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

class ObjetsInconnus : public TestMoteur {
 protected:
  // LignesFacture with 12 records, Autre with 3, and a database property.
  void CreeBase() {
    auto base = Cree();
    CreeTable(base, "LignesFacture", {{"Num", dbLong}, {"Libelle", dbText, 30}});
    CreeTable(base, "Autre", {{"N", dbLong}});
    for (int i = 1; i <= 12; ++i) base.Execute("INSERT INTO LignesFacture VALUES (" + std::to_string(i) + ", 'ligne')", dbFailOnError);
    for (int i = 1; i <= 3; ++i) base.Execute("INSERT INTO Autre VALUES (" + std::to_string(i) + ")", dbFailOnError);
    base.Properties().Append(base.CreateProperty("Marque", dbText, "avant"));
  }

  // What another program does to the file, straight through SQLite.
  void Sqlite(const std::string& instructions) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Chemin("base.bd").c_str(), &db), SQLITE_OK);
    char* message = nullptr;
    int rc = sqlite3_exec(db, instructions.c_str(), nullptr, nullptr, &message);
    std::string texte = message ? message : "";
    sqlite3_free(message);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << texte;
  }

  static bool Nomme(const std::vector<std::string>& lignes, const std::string& mot) {
    return std::any_of(lignes.begin(), lignes.end(), [&](const std::string& l) { return l.find(mot) != std::string::npos; });
  }
};

TEST_F(ObjetsInconnus, UnDeclencheurPlanteNeSExecuteJamaisEtEstSignale) {
  CreeBase();
  Sqlite("CREATE TRIGGER piege AFTER UPDATE ON MSysProperties BEGIN DELETE FROM LignesFacture; END;"
         "CREATE TRIGGER piege2 AFTER INSERT ON MSysRelationships BEGIN DELETE FROM Autre; END;");
  auto base = Ouvre();
  auto inconnus = base.ObjetsInconnus();
  ASSERT_EQ(inconnus.size(), 2u);
  EXPECT_EQ(inconnus[0], "déclencheur « piege » (table MSysProperties)");
  EXPECT_EQ(inconnus[1], "déclencheur « piege2 » (table MSysRelationships)");
  EXPECT_TRUE(Nomme(base.VerifieIntegrite(), "piege"));
  // What fires them is refused, and the records stay.
  auto r = Essaie([&] { base.Properties()["Marque"].SetValue(Valeur("après")); });
  EXPECT_EQ(r.Number, err::BaseEndommagee);
  EXPECT_NE(r.Description.find("piege"), std::string::npos) << r.Description;
  auto rel = base.CreateRelation("R", "Autre", "LignesFacture", dbRelationDontEnforce);
  auto f = rel.CreateField("N");
  f.SetForeignName("Num");
  rel.Fields().Append(f);
  EXPECT_ERREUR(err::BaseEndommagee, base.Relations().Append(rel));
  EXPECT_EQ(Compte(base, "LignesFacture"), 12);
  EXPECT_EQ(Compte(base, "Autre"), 3);
}

TEST_F(ObjetsInconnus, UnDeclencheurSousLeNomDUneRegleNeSExecutePasNonPlus) {
  CreeBase();
  {
    auto base = Ouvre();
    auto td = base.TableDefs()["LignesFacture"];
    td.Fields()["Libelle"].SetRequired(true);  // the table now has rules
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Chemin("base.bd").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'trigger' AND tbl_name = 'LignesFacture' AND name LIKE '%_ins'",
                     -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  std::string regle = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(db);
  Sqlite("DROP TRIGGER \"" + regle + "\"; CREATE TRIGGER \"" + regle +
         "\" BEFORE INSERT ON LignesFacture BEGIN DELETE FROM Autre; END;");
  auto base = Ouvre();
  EXPECT_EQ(base.ObjetsInconnus(), std::vector<std::string>{"déclencheur « " + regle + " » modifié (table LignesFacture)"});
  EXPECT_ERREUR(err::BaseEndommagee, base.Execute("INSERT INTO LignesFacture VALUES (13, 'x')", dbFailOnError));
  EXPECT_EQ(Compte(base, "Autre"), 3);
}

TEST_F(ObjetsInconnus, VuesEtTablesInconnuesSontSignalees) {
  CreeBase();
  Sqlite("CREATE VIEW Vue AS SELECT * FROM Autre; CREATE TABLE Etrangere (x); CREATE INDEX IdxEtranger ON Autre (N);");
  auto base = Ouvre();
  EXPECT_EQ(base.ObjetsInconnus(), (std::vector<std::string>{"table « Etrangere »", "index « IdxEtranger » (table Autre)",
                                                             "vue « Vue »"}));
}

TEST_F(ObjetsInconnus, LaReparationLesSupprimeEtLeDit) {
  CreeBase();
  Sqlite("CREATE TRIGGER piege AFTER UPDATE ON MSysProperties BEGIN DELETE FROM LignesFacture; END;"
         "CREATE VIEW Vue AS SELECT * FROM Autre;");
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  EXPECT_EQ(constats, (std::vector<std::string>{"#ALERT# Objet inconnu du logiciel supprimé : vue « Vue ».",
                                                "#ALERT# Objet inconnu du logiciel supprimé : déclencheur « piege » (table MSysProperties)."}));
  auto base = Ouvre();
  EXPECT_TRUE(base.ObjetsInconnus().empty());
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  base.Properties()["Marque"].SetValue(Valeur("après"));
  EXPECT_EQ(Compte(base, "LignesFacture"), 12);
}

TEST_F(ObjetsInconnus, UneValeurDuCatalogueHorsLimitesEstUnDommage) {
  CreeBase();
  Sqlite("UPDATE MSysColumns SET Size = 1099511627776 WHERE Name = 'Libelle'");
  auto r = Essaie([&] { Ouvre(); });
  EXPECT_EQ(r.Number, err::BaseEndommagee);
  EXPECT_NE(r.Description.find("LignesFacture.Libelle"), std::string::npos) << r.Description;
  EXPECT_NE(r.Description.find("1099511627776"), std::string::npos) << r.Description;
  // The repair puts a value in range back and says so; no record is lost.
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  ASSERT_EQ(constats.size(), 1u) << ::testing::PrintToString(constats);
  EXPECT_NE(constats[0].find("LignesFacture.Libelle"), std::string::npos) << constats[0];
  auto base = Ouvre();
  // The size the table's rules still check, the one the field had.
  EXPECT_EQ(base.TableDefs()["LignesFacture"].Fields()["Libelle"].Size(), 30);
  EXPECT_EQ(Colonne(base, "SELECT Libelle FROM LignesFacture WHERE Num = 12", "Libelle"), std::vector<std::string>{"ligne"});
  EXPECT_EQ(Compte(base, "LignesFacture"), 12);
}

// A text field whose size the catalog lost gets back the one its rules check, 255 only when
// they check none; the database keeps its version.
TEST_F(ObjetsInconnus, UneTailleHorsLimitesReprendCelleDesReglesEtLaVersionReste) {
  for (const char* version : {"3.0", "4.0"}) {
    SCOPED_TRACE(version);
    {
      auto base = Cree("base.bd", version);
      CreeTable(base, "T", {{"Court", dbText, 10}, {"Long", dbText, 120}, {"Libre", dbText, 255}});
      base.Execute("INSERT INTO T VALUES ('abc', 'def', 'ghi')", dbFailOnError);
    }
    Sqlite("UPDATE MSysColumns SET Size = -5");
    std::vector<std::string> constats;
    ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
    EXPECT_EQ(constats.size(), 3u) << ::testing::PrintToString(constats);
    auto base = Ouvre();
    auto champs = base.TableDefs()["T"].Fields();
    EXPECT_EQ(champs["Court"].Size(), 10);
    EXPECT_EQ(champs["Long"].Size(), 120);
    EXPECT_EQ(champs["Libre"].Size(), 255);
    EXPECT_EQ(base.Version(), version);
    EXPECT_EQ(Colonne(base, "SELECT Court FROM T", "Court"), std::vector<std::string>{"abc"});
    EXPECT_ERREUR(err::ValeurTropLongue, base.Execute("UPDATE T SET Court = '12345678901'", dbFailOnError));
    base.Close();
    fs::remove(Chemin("base.bd"));
  }
}

// Field attributes the catalog lost: a counter stays a counter, as the table's definition says,
// and no other field becomes one.
TEST_F(ObjetsInconnus, DesAttributsHorsLimitesNeFontNiNeDefontUnCompteur) {
  {
    auto base = Cree();
    CreeTable(base, "T", {{"Id", dbLong, 0, false, {}, false, dbAutoIncrField}, {"N", dbLong}, {"Texte", dbText, 20}});
    base.Execute("INSERT INTO T (N, Texte) VALUES (7, 'a')", dbFailOnError);
  }
  Sqlite("UPDATE MSysColumns SET Attributes = -1");
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  EXPECT_EQ(constats.size(), 3u) << ::testing::PrintToString(constats);
  for (const auto& ligne : constats) EXPECT_NE(ligne.find("les attributs du champ"), std::string::npos) << ligne;
  for (const auto& ligne : constats) EXPECT_NE(ligne.find("valaient -1"), std::string::npos) << ligne;
  auto base = Ouvre();
  auto champs = base.TableDefs()["T"].Fields();
  EXPECT_EQ(champs["Id"].Attributes(), dbAutoIncrField);
  EXPECT_EQ(champs["N"].Attributes(), 0);
  EXPECT_EQ(champs["Texte"].Attributes(), 0);
  base.Execute("INSERT INTO T (N, Texte) VALUES (8, 'b')", dbFailOnError);
  EXPECT_EQ(Colonne(base, "SELECT Id FROM T ORDER BY Id", "Id"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(ObjetsInconnus, ChaqueGenreDeValeurHorsLimitesEstRefuse) {
  for (const char* alteration :
       {"UPDATE MSysColumns SET Type = 99 WHERE Name = 'Num'", "UPDATE MSysColumns SET Size = -1 WHERE Name = 'Num'",
        "UPDATE MSysColumns SET Attributes = 4294967296 WHERE Name = 'Num'",
        "UPDATE MSysColumns SET Required = 7 WHERE Name = 'Num'",
        "UPDATE MSysColumns SET OrdinalPosition = 1 << 40 WHERE Name = 'Num'",
        "UPDATE MSysTables SET Attributes = -1 WHERE Name = 'Autre'",
        "UPDATE MSysRelationships SET Attributes = 1 << 40",
        "UPDATE MSysProperties SET OwnerKind = 9 WHERE Name = 'Marque'",
        // A property's value its type cannot hold.
        "UPDATE MSysProperties SET Type = 4, Value = 'pas un nombre' WHERE Name = 'Marque'",
        "UPDATE MSysProperties SET Value = x'fffe00' WHERE Name = 'Marque'",
        "UPDATE MSysProperties SET Value = CAST(x'61fffe' AS TEXT) WHERE Name = 'Marque'"}) {
    SCOPED_TRACE(alteration);
    CreeBase();
    {
      auto base = Ouvre();
      auto rel = base.CreateRelation("R", "Autre", "LignesFacture", dbRelationDontEnforce);
      auto f = rel.CreateField("N");
      f.SetForeignName("Num");
      rel.Fields().Append(f);
      base.Relations().Append(rel);
    }
    Sqlite(alteration);
    EXPECT_ERREUR(err::BaseEndommagee, Ouvre());
    fs::remove(Chemin("base.bd"));
  }
}

// A name read from the file is shown with its control characters escaped: a line break in it
// would otherwise forge a line of its own in the journal.
TEST_F(ObjetsInconnus, UnNomLuDansLeFichierNeFabriqueAucuneLigne) {
  CreeBase();
  Sqlite(
      "CREATE TRIGGER \"a'b\n#ERR# faux\" AFTER UPDATE ON MSysProperties BEGIN SELECT 1; END;"
      "CREATE TABLE \"T\n#ERR# table\" (x);");
  auto sansSaut = [](const std::string& texte) { return texte.find_first_of("\r\n") == std::string::npos; };
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  ASSERT_EQ(constats.size(), 1u) << ::testing::PrintToString(constats);
  EXPECT_TRUE(sansSaut(constats[0])) << constats[0];
  EXPECT_TRUE(Nomme(constats, "« a'b\\n#ERR# faux »"));
  EXPECT_EQ(Ouvre().ObjetsInconnus(), std::vector<std::string>{"table « T\\n#ERR# table »"});
  // A catalog value out of range, named through its table's name.
  Sqlite("UPDATE MSysTables SET Name = 'Autre' || char(10) || '#ERR# cat', Attributes = -1 WHERE Name = 'Autre'");
  auto r = Essaie([&] { Ouvre(); });
  EXPECT_EQ(r.Number, err::BaseEndommagee);
  EXPECT_TRUE(sansSaut(r.Description)) << r.Description;
  EXPECT_NE(r.Description.find("Autre\\n#ERR# cat"), std::string::npos) << r.Description;
}

}  // namespace

namespace {

class CatalogueAltere : public ObjetsInconnus {
 protected:
  // Every value of both tables, by key: what a repair must keep whole.
  std::vector<std::string> Contenu() {
    auto base = Ouvre();
    auto contenu = Colonne(base, "SELECT Num FROM LignesFacture ORDER BY Num", "Num");
    for (auto& l : Colonne(base, "SELECT Libelle FROM LignesFacture ORDER BY Num", "Libelle")) contenu.push_back(l);
    for (auto& n : Colonne(base, "SELECT N FROM Autre ORDER BY N", "N")) contenu.push_back("Autre " + n);
    return contenu;
  }
};

// The order of the fields is only the order they are shown in: another program may change it,
// the rules the file holds still check the same values and stay in force.
TEST_F(CatalogueAltere, UnePositionChangeeGardeLesReglesEnVigueur) {
  CreeBase();
  Sqlite("UPDATE MSysColumns SET OrdinalPosition = -7 WHERE Name = 'Libelle'");
  auto base = Ouvre();
  EXPECT_TRUE(base.ObjetsInconnus().empty()) << ::testing::PrintToString(base.ObjetsInconnus());
  EXPECT_EQ(base.TableDefs()["LignesFacture"].Fields()[0].Name(), "Libelle");
  EXPECT_ERREUR(err::ValeurTropLongue,
                base.Execute("INSERT INTO LignesFacture (Num, Libelle) VALUES (13, '" + std::string(31, 'x') + "')",
                             dbFailOnError));
  EXPECT_EQ(Compte(base, "LignesFacture"), 12);
}

// A field whose name in the catalog is no column of its table, or a field of a table the catalog
// does not have: the damage is named where it lies, not through the rules that no longer match.
TEST_F(CatalogueAltere, UnChampQuiNeCorrespondPlusASaColonneEstNomme) {
  struct Cas {
    const char* alteration;
    std::vector<std::string> mots;
  };
  for (const Cas& cas :
       {Cas{"UPDATE MSysColumns SET Name = 'Xyz' || char(10) || '#ERR#' WHERE Name = 'Libelle'",
            {"MSysColumns", "LignesFacture", "« Xyz\\n#ERR# »", "« Libelle »"}},
        Cas{"UPDATE MSysColumns SET TableId = 99 WHERE Name = 'Libelle'", {"MSysColumns", "Libelle", "99"}},
        Cas{"DELETE FROM MSysColumns WHERE Name = 'Libelle'", {"LignesFacture", "« Libelle »"}}}) {
    SCOPED_TRACE(cas.alteration);
    CreeBase();
    const auto avant = Contenu();
    Sqlite(cas.alteration);
    auto r = Essaie([&] { Ouvre(); });
    EXPECT_EQ(r.Number, err::BaseEndommagee);
    EXPECT_EQ(r.Description.find("déclencheur"), std::string::npos) << r.Description;
    EXPECT_EQ(r.Description.find('\n'), std::string::npos) << r.Description;
    for (const auto& mot : cas.mots)
      EXPECT_NE(r.Description.find(mot), std::string::npos) << mot << " : " << r.Description;
    // The repair gives the column back a field and says so; nothing is lost.
    std::vector<std::string> constats;
    ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
    EXPECT_TRUE(Nomme(constats, "#ALERT# Catalogue endommagé")) << ::testing::PrintToString(constats);
    EXPECT_FALSE(Nomme(constats, "déclencheur")) << ::testing::PrintToString(constats);
    EXPECT_EQ(Contenu(), avant);
    EXPECT_TRUE(Ouvre().ObjetsInconnus().empty());
    fs::remove(Chemin("base.bd"));
  }
}

// A field renamed by another program keeps, once repaired, what its catalog row said of it.
TEST_F(CatalogueAltere, LaReparationRendSonNomAuChampRenomme) {
  CreeBase();
  Sqlite("UPDATE MSysColumns SET Name = 'Xyz' WHERE Name = 'Libelle'");
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  auto base = Ouvre();
  auto libelle = base.TableDefs()["LignesFacture"].Fields()["Libelle"];
  EXPECT_EQ(libelle.Type(), dbText);
  EXPECT_EQ(libelle.Size(), 30);
}

// A table's definition rewritten by another program: a rule it adds is named, refused at the
// check, and the repair puts back the one the catalog gives. The engine's own changes never look
// altered.
TEST_F(CatalogueAltere, UneDefinitionDeTableModifieeEstNommeeEtRefaite) {
  CreeBase();
  {
    auto base = Ouvre();
    auto td = base.TableDefs()["LignesFacture"];
    td.Fields().Append(td.CreateField("Ajout", dbText));
    td.Fields().Delete("Ajout");
    td.Fields().Append(td.CreateField("Compteur", dbLong));
    EXPECT_TRUE(base.ObjetsInconnus().empty()) << ::testing::PrintToString(base.ObjetsInconnus());
  }
  const auto avant = Contenu();
  Sqlite(
      "PRAGMA writable_schema = ON;"
      "UPDATE sqlite_master SET sql = replace(sql, '\"N\" INTEGER', '\"N\" INTEGER CHECK(\"N\" < 0)') WHERE name = "
      "'Autre';"
      "UPDATE sqlite_master SET sql = replace(sql, '\"Libelle\" TEXT', '\"Libelle\" INTEGER') WHERE name = "
      "'LignesFacture';");
  {
    auto base = Ouvre();
    const auto inconnus = base.ObjetsInconnus();
    ASSERT_EQ(inconnus.size(), 2u) << ::testing::PrintToString(inconnus);
    EXPECT_EQ(
        inconnus[0],
        "définition de la table « LignesFacture » modifiée (« \"Libelle\" INTEGER » au lieu de « \"Libelle\" TEXT »)");
    EXPECT_EQ(
        inconnus[1],
        "définition de la table « Autre » modifiée (« \"N\" INTEGER CHECK(\"N\" < 0) » au lieu de « \"N\" INTEGER »)");
    EXPECT_EQ(base.ObjetsExecutables(), inconnus);
    // Named once each, not through every record the added rule now refuses.
    const auto problemes = base.VerifieIntegrite();
    EXPECT_EQ(problemes.size(), 2u) << ::testing::PrintToString(problemes);
    EXPECT_TRUE(Nomme(problemes, "définition de la table « Autre » modifiée"));
    auto r = Essaie([&] { base.Execute("INSERT INTO Autre VALUES (4)", dbFailOnError); });
    EXPECT_EQ(r.Number, err::RegleRefusee) << r.Description;
    EXPECT_NE(r.Description.find("une règle de la table"), std::string::npos) << r.Description;
  }
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  EXPECT_TRUE(
      Nomme(constats, "#ALERT# Définition refaite d'après le catalogue : définition de la table « Autre » modifiée"))
      << ::testing::PrintToString(constats);
  EXPECT_EQ(Contenu(), avant);
  auto base = Ouvre();
  EXPECT_TRUE(base.ObjetsInconnus().empty()) << ::testing::PrintToString(base.ObjetsInconnus());
  base.Execute("INSERT INTO Autre VALUES (4)", dbFailOnError);
}

}  // namespace

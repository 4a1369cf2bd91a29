// One set of write rules, whatever the path a record takes: recordsets, SQL statements and inserts
// into another database.
#include "OutilsMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

// A row breaking one rule, written as a value for recordsets and as a literal for statements.
struct Infraction {
  const char* champ;
  Valeur valeur;
  const char* litteral;
  int numero;
};

const Infraction kInfractions[] = {
    {"Nom", "trop long", "'trop long'", err::ValeurTropLongue},
    {"Requis", Valeur::Nul(), "Null", err::ChampRequis},
    {"Code", "", "''", err::ChaineVideInterdite},
    {"Octet", 256, "256", err::DepassementNumerique},
    {"Entier", 40000, "40000", err::DepassementNumerique},
    {"Entier", "abc", "'abc'", err::ConversionImpossible},
    {"Quand", "pas une date", "'pas une date'", err::ConversionImpossible},
    {"Id", 1, "1", err::Doublon},
};

const char* const kChamps[] = {"Id", "Nom", "Requis", "Code", "Octet", "Entier", "Quand"};

class Regles : public TestMoteur {
 protected:
  // Cible: every rule at once, and two sound records (Id 1 and 2).
  static void CreeCible(Database& base) {
    auto td = base.CreateTableDef("Cible");
    td.Fields().Append(td.CreateField("Id", dbLong));
    td.Fields().Append(td.CreateField("Nom", dbText, 5));
    auto requis = td.CreateField("Requis", dbText, 5);
    requis.SetRequired(true);
    td.Fields().Append(requis);
    td.Fields().Append(td.CreateField("Code", dbText, 5));
    td.Fields().Append(td.CreateField("Octet", dbByte));
    td.Fields().Append(td.CreateField("Entier", dbInteger));
    td.Fields().Append(td.CreateField("Quand", dbDate));
    auto cle = td.CreateIndex("Cle");
    cle.SetFields("Id");
    cle.SetPrimary(true);
    td.Indexes().Append(cle);
    base.TableDefs().Append(td);
    base.Execute("INSERT INTO Cible VALUES (1, 'un', 'r', 'c', 1, 1, #01/02/2024#)", dbFailOnError);
    base.Execute("INSERT INTO Cible VALUES (2, 'deux', 'r', 'c', 2, 2, Null)", dbFailOnError);
  }

  // Source: the same names with no rule at all, so that it can hold any of the bad rows.
  static void CreeSource(Database& base) {
    auto td = base.CreateTableDef("Source");
    for (const char* nom : kChamps) {
      auto f = td.CreateField(nom, dbMemo);
      f.SetAllowZeroLength(true);
      td.Fields().Append(f);
    }
    base.TableDefs().Append(td);
  }

  // The literals of a sound row, one of them replaced by the bad one.
  static std::string Valeurs(int id, const Infraction* remplace = nullptr) {
    std::string valeurs[] = {std::to_string(id), "'n'", "'r'", "'c'", "3", "3", "'2024-05-06 00:00:00'"};
    std::string texte;
    for (int i = 0; i < 7; ++i) {
      if (remplace && std::string(remplace->champ) == kChamps[i]) valeurs[i] = remplace->litteral;
      texte += (i ? ", " : "") + valeurs[i];
    }
    return texte;
  }

  Database BaseCible(const std::string& nom = "base.bd") {
    auto base = Cree(nom);
    CreeCible(base);
    CreeSource(base);
    return base;
  }
};

TEST_F(Regles, ChaqueRegleEstAppliqueeParLesJeuxDEnregistrements) {
  auto base = BaseCible();
  for (const auto& cas : kInfractions) {
    SCOPED_TRACE(std::string(cas.champ) + " " + cas.litteral);
    EXPECT_ERREUR(cas.numero, {
      auto rs = base.OpenRecordset("Cible");
      rs.AddNew();
      rs["Id"].SetValue(10);
      rs["Requis"].SetValue("r");
      rs[cas.champ].SetValue(cas.valeur);
      rs.Update();
    });
    if (cas.numero == err::Doublon) continue;
    EXPECT_ERREUR(cas.numero, {
      auto rs = base.OpenRecordset("Cible");
      rs.Edit();
      rs[cas.champ].SetValue(cas.valeur);
      rs.Update();
    });
  }
  EXPECT_EQ(Colonne(base, "SELECT Nom FROM Cible ORDER BY Id", "Nom"), (std::vector<std::string>{"un", "deux"}));
}

TEST_F(Regles, ChaqueRegleEstAppliqueeParLesInstructions) {
  auto base = BaseCible();
  for (const auto& cas : kInfractions) {
    SCOPED_TRACE(std::string(cas.champ) + " " + cas.litteral);
    EXPECT_ERREUR(cas.numero, base.Execute("INSERT INTO Cible VALUES (" + Valeurs(10, &cas) + ")", dbFailOnError));
    EXPECT_ERREUR(cas.numero,
                  base.Execute(std::string("UPDATE Cible SET [") + cas.champ + "] = " + cas.litteral + " WHERE Id = 2",
                               dbFailOnError));
  }
  EXPECT_EQ(Compte(base, "Cible"), 2);
  EXPECT_EQ(Colonne(base, "SELECT Octet FROM Cible ORDER BY Id", "Octet"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(Regles, ChaqueRegleEstAppliqueeEnInsertionVersUneAutreBase) {
  {
    auto externe = Cree("externe.bd");
    CreeCible(externe);
  }
  auto base = Cree("locale.bd");
  CreeSource(base);
  const std::string insertion = "INSERT INTO [Cible] IN '" + Chemin("externe.bd") + "' SELECT * FROM [Source]";
  for (const auto& cas : kInfractions) {
    SCOPED_TRACE(std::string(cas.champ) + " " + cas.litteral);
    base.Execute("DELETE FROM Source", dbFailOnError);
    base.Execute("INSERT INTO Source VALUES (" + Valeurs(10, &cas) + ")", dbFailOnError);
    EXPECT_ERREUR(cas.numero, base.Execute(insertion, dbFailOnError));
  }
  base.Execute("DELETE FROM Source", dbFailOnError);
  base.Execute("INSERT INTO Source VALUES (" + Valeurs(3) + ")", dbFailOnError);
  ASSERT_SANS_ERREUR(base.Execute(insertion, dbFailOnError));
  EXPECT_EQ(base.RecordsAffected(), 1);
  auto externe = Ouvre("externe.bd");
  EXPECT_EQ(Colonne(externe, "SELECT Id FROM Cible ORDER BY Id", "Id"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Colonne(externe, "SELECT Quand FROM Cible WHERE Id = 3", "Quand"), (std::vector<std::string>{"06/05/2024"}));
}

// Without dbFailOnError a statement leaves out the rows that a key or a rule of the data refuses
// (duplicates, a required field left Null) and writes the others. A value that does not fit its
// field (wrong type, out of range, too long) is no such row: the statement fails as a whole, so
// that its caller learns of it instead of losing the row without a word.
TEST_F(Regles, InstructionDeMasseEchoueEnEntierOuSauteLesLignesFautives) {
  auto base = BaseCible();
  const Infraction& tropLong = kInfractions[0];
  const Infraction& requis = kInfractions[1];
  const Infraction& doublon = kInfractions[7];
  base.Execute("INSERT INTO Source VALUES (" + Valeurs(10) + ")", dbFailOnError);
  base.Execute("INSERT INTO Source VALUES (" + Valeurs(11, &tropLong) + ")", dbFailOnError);
  base.Execute("INSERT INTO Source VALUES (" + Valeurs(12) + ")", dbFailOnError);
  base.Execute("INSERT INTO Source VALUES (" + Valeurs(13, &doublon) + ")", dbFailOnError);
  base.Execute("INSERT INTO Source VALUES (" + Valeurs(14, &requis) + ")", dbFailOnError);

  EXPECT_ERREUR(err::ValeurTropLongue, base.Execute("INSERT INTO Cible SELECT * FROM Source", dbFailOnError));
  EXPECT_ERREUR(err::ValeurTropLongue, base.Execute("INSERT INTO Cible SELECT * FROM Source"));
  // A row that also leaves a required field Null: the statement fails for its value, and says so.
  EXPECT_ERREUR(err::ValeurTropLongue, base.Execute("INSERT INTO Cible (Id, Code) VALUES (15, 'trop long')"));
  EXPECT_EQ(Compte(base, "Cible"), 2);
  base.Execute("DELETE FROM Source WHERE Id = '11'", dbFailOnError);
  EXPECT_ERREUR(err::Doublon, base.Execute("INSERT INTO Cible SELECT * FROM Source", dbFailOnError));
  base.Execute("INSERT INTO Cible SELECT * FROM Source");
  EXPECT_EQ(base.RecordsAffected(), 2);
  EXPECT_EQ(Colonne(base, "SELECT Id FROM Cible ORDER BY Id", "Id"), (std::vector<std::string>{"1", "2", "10", "12"}));

  // Octet 200 + 100 overflows for 10 and 12 only: whatever the option, nothing is written.
  base.Execute("UPDATE Cible SET Octet = 200 WHERE Id >= 10", dbFailOnError);
  EXPECT_ERREUR(err::DepassementNumerique, base.Execute("UPDATE Cible SET Octet = Octet + 100", dbFailOnError));
  EXPECT_ERREUR(err::DepassementNumerique, base.Execute("UPDATE Cible SET Octet = Octet + 100"));
  EXPECT_EQ(Colonne(base, "SELECT Octet FROM Cible ORDER BY Id", "Octet"), (std::vector<std::string>{"1", "2", "200", "200"}));
  base.Execute("UPDATE Cible SET Octet = Octet + 50");
  EXPECT_EQ(base.RecordsAffected(), 4);
  // A key update that would duplicate is skipped.
  base.Execute("UPDATE Cible SET Id = 12 WHERE Id = 10");
  EXPECT_EQ(base.RecordsAffected(), 0);
  EXPECT_EQ(Compte(base, "Cible"), 4);
}

TEST_F(Regles, InsertionDeMasseVersUneAutreBaseEchoueEnEntierOuSaute) {
  {
    auto externe = Cree("externe.bd");
    CreeCible(externe);
  }
  auto base = Cree("locale.bd");
  CreeSource(base);
  for (int id : {20, 21, 22}) base.Execute("INSERT INTO Source VALUES (" + Valeurs(id) + ")", dbFailOnError);
  base.Execute("UPDATE Source SET Octet = '999' WHERE Id = '21'", dbFailOnError);
  const std::string insertion = "INSERT INTO [Cible] IN '" + Chemin("externe.bd") + "' SELECT * FROM [Source]";
  EXPECT_ERREUR(err::DepassementNumerique, base.Execute(insertion, dbFailOnError));
  EXPECT_ERREUR(err::DepassementNumerique, base.Execute(insertion));
  {
    auto externe = Ouvre("externe.bd");
    EXPECT_EQ(Compte(externe, "Cible"), 2);
  }
  base.Execute("UPDATE Source SET Octet = '9', Requis = Null WHERE Id = '21'", dbFailOnError);
  EXPECT_ERREUR(err::ChampRequis, base.Execute(insertion, dbFailOnError));
  base.Execute(insertion);
  EXPECT_EQ(base.RecordsAffected(), 2);
  auto externe = Ouvre("externe.bd");
  EXPECT_EQ(Colonne(externe, "SELECT Id FROM Cible ORDER BY Id", "Id"), (std::vector<std::string>{"1", "2", "20", "22"}));
}

TEST_F(Regles, InsertionVersUneAutreBaseRefuseUnChampInconnu) {
  {
    auto externe = Cree("externe.bd");
    CreeTable(externe, "Cible", {{"Id", dbLong}});
  }
  auto base = Cree("locale.bd");
  CreeTable(base, "Source", {{"Id", dbLong}, {"EnTrop", dbText, 5}});
  base.Execute("INSERT INTO Source VALUES (1, 'x')", dbFailOnError);
  const std::string dans = " IN '" + Chemin("externe.bd") + "' ";
  EXPECT_NE(Essaie([&] { base.Execute("INSERT INTO [Cible]" + dans + "SELECT * FROM [Source]"); }).Number, 0);
  EXPECT_NE(Essaie([&] { base.Execute("INSERT INTO [Cible]" + dans + "(Id, Inconnu) SELECT Id, EnTrop FROM Source"); }).Number, 0);
  EXPECT_NE(Essaie([&] { base.Execute("INSERT INTO [Absente]" + dans + "SELECT Id FROM [Source]"); }).Number, 0);
  EXPECT_NE(Essaie([&] { base.Execute("INSERT INTO [Cible] IN '" + Chemin("absente.bd") + "' SELECT Id FROM Source"); }).Number, 0);
  EXPECT_FALSE(fs::exists(Chemin("absente.bd")));
  auto externe = Ouvre("externe.bd");
  EXPECT_EQ(Compte(externe, "Cible"), 0);
}

TEST_F(Regles, ReglesDeRelationSurChaqueChemin) {
  {
    auto externe = Cree("externe.bd");
    CreeTable(externe, "Parents", {{"Id", dbLong}});
    CreeTable(externe, "Enfants", {{"ParentId", dbLong}});
    auto rel = externe.CreateRelation("Filiation", "Parents", "Enfants");
    auto f = rel.CreateField("Id");
    f.SetForeignName("ParentId");
    rel.Fields().Append(f);
    externe.Relations().Append(rel);
    externe.Execute("INSERT INTO Parents VALUES (1)", dbFailOnError);
    externe.Execute("INSERT INTO Enfants VALUES (1)", dbFailOnError);
  }
  {
    auto base = Ouvre("externe.bd");
    EXPECT_ERREUR(err::PasDEnregistrementLie, Ajoute(base, "Enfants", {{"ParentId", 2}}));
    EXPECT_ERREUR(err::PasDEnregistrementLie, base.Execute("INSERT INTO Enfants VALUES (2)", dbFailOnError));
    EXPECT_ERREUR(err::EnregistrementsLies, base.Execute("DELETE FROM Parents", dbFailOnError));
    EXPECT_ERREUR(err::EnregistrementsLies, {
      auto rs = base.OpenRecordset("Parents");
      rs.Delete();
    });
    EXPECT_ERREUR(err::EnregistrementsLies, {
      auto rs = base.OpenRecordset("Parents");
      rs.Edit();
      rs["Id"].SetValue(5);
      rs.Update();
    });
    base.Execute("INSERT INTO Parents VALUES (2)", dbFailOnError);
    base.Execute("DELETE FROM Parents");  // skips the parent that has a child
    EXPECT_EQ(base.RecordsAffected(), 1);
    EXPECT_EQ(Colonne(base, "SELECT Id FROM Parents", "Id"), (std::vector<std::string>{"1"}));
  }
  auto base = Cree("locale.bd");
  CreeTable(base, "Orphelins", {{"ParentId", dbLong}});
  base.Execute("INSERT INTO Orphelins VALUES (1)", dbFailOnError);
  base.Execute("INSERT INTO Orphelins VALUES (3)", dbFailOnError);
  const std::string insertion = "INSERT INTO [Enfants] IN '" + Chemin("externe.bd") + "' SELECT * FROM [Orphelins]";
  EXPECT_ERREUR(err::PasDEnregistrementLie, base.Execute(insertion, dbFailOnError));
  base.Execute(insertion);
  EXPECT_EQ(base.RecordsAffected(), 1);
  auto externe = Ouvre("externe.bd");
  EXPECT_EQ(Colonne(externe, "SELECT ParentId FROM Enfants", "ParentId"), (std::vector<std::string>{"1", "1"}));
}

TEST_F(Regles, CascadesDeMiseAJourEtDeSuppression) {
  auto base = Cree();
  CreeTable(base, "Parents", {{"Id", dbLong}});
  CreeTable(base, "Enfants", {{"N", dbLong}, {"ParentId", dbLong}});
  auto rel = base.CreateRelation("Filiation", "Parents", "Enfants", dbRelationUpdateCascade | dbRelationDeleteCascade);
  auto f = rel.CreateField("Id");
  f.SetForeignName("ParentId");
  rel.Fields().Append(f);
  base.Relations().Append(rel);
  for (int i = 1; i <= 3; ++i) base.Execute("INSERT INTO Parents VALUES (" + std::to_string(i) + ")", dbFailOnError);
  int n = 0;
  for (int p : {1, 1, 2, 3}) Ajoute(base, "Enfants", {{"N", ++n}, {"ParentId", p}});

  base.Execute("UPDATE Parents SET Id = 10 WHERE Id = 1", dbFailOnError);
  auto rs = base.OpenRecordset("Parents");
  rs.MoveNext();
  rs.Edit();
  rs["Id"].SetValue(20);
  rs.Update();
  EXPECT_EQ(Colonne(base, "SELECT ParentId FROM Enfants ORDER BY N", "ParentId"),
            (std::vector<std::string>{"10", "10", "20", "3"}));
  base.Execute("DELETE FROM Parents WHERE Id = 10", dbFailOnError);
  rs.Delete();
  EXPECT_EQ(Colonne(base, "SELECT N FROM Enfants", "N"), (std::vector<std::string>{"4"}));
  EXPECT_ERREUR(err::PasDEnregistrementLie, Ajoute(base, "Enfants", {{"N", 5}, {"ParentId", 20}}));
}

TEST_F(Regles, NomsAvecApostropheEtPointVirguleSontCites) {
  fs::create_directory(Chemin("l'autre; dossier"));
  {
    auto externe = DBEngine::CreateDatabase(Chemin("l'autre; dossier/ex'terne.bd"));
    CreeTable(externe, "Client's;x", {{"Nom\"x", dbText, 50}});
  }
  auto base = Cree();
  CreeTable(base, "Client's;x", {{"Nom\"x", dbText, 50}});
  CreeTable(base, "Témoin", {{"N", dbLong}});
  base.Execute("INSERT INTO Témoin VALUES (1)", dbFailOnError);
  base.Execute("INSERT INTO [Client's;x] ([Nom\"x]) VALUES ('O''Brien; DROP TABLE Témoin')", dbFailOnError);
  base.Execute("INSERT INTO [Client's;x] VALUES ('b')", dbFailOnError);
  EXPECT_EQ(Colonne(base, "SELECT [Nom\"x] FROM [Client's;x] ORDER BY [Nom\"x]", "Nom\"x"),
            (std::vector<std::string>{"O'Brien; DROP TABLE Témoin", "b"}));
  base.Execute("UPDATE [Client's;x] SET [Nom\"x] = 'c' WHERE [Nom\"x] = 'b'", dbFailOnError);
  EXPECT_EQ(base.RecordsAffected(), 1);
  auto rs = base.OpenRecordset("Client's;x");
  EXPECT_EQ(rs["Nom\"x"].Value().EnTexte(), "O'Brien; DROP TABLE Témoin");
  rs.Close();
  base.Execute("INSERT INTO [Client's;x] IN '" + Chemin("l''autre; dossier/ex''terne.bd") + "' SELECT * FROM [Client's;x]",
               dbFailOnError);
  EXPECT_EQ(base.RecordsAffected(), 2);
  base.Execute("DELETE FROM [Client's;x] WHERE [Nom\"x] LIKE 'O*'", dbFailOnError);
  EXPECT_EQ(base.RecordsAffected(), 1);
  EXPECT_EQ(Compte(base, "Client's;x"), 1);
  EXPECT_EQ(Compte(base, "Témoin"), 1);
  auto externe = DBEngine::OpenDatabase(Chemin("l'autre; dossier/ex'terne.bd"));
  EXPECT_EQ(Compte(externe, "client's;X"), 2);
}

}  // namespace

namespace {

// A value the recordset converts, given to each write path, must be stored the same way.
struct Conversion {
  const char* champ;
  const char* litteral;  // as a statement writes it
  Valeur valeur;         // as a recordset is given it
  const char* stockee;   // read back as text
  const char* egal = nullptr;  // a literal a query must find it equal to
};

const Conversion kConversions[] = {
    {"Prix", "12.3456789", Valeur(12.3456789), "12,3457", "12.3457"},
    {"Prix", "'12,5'", Valeur("12,5"), "12,5"},
    // Read from its decimal text, rounded half to even at the fourth decimal, never through a
    // binary fraction: 0.00015 is 0.0002, and the largest amount is kept whole.
    {"Prix", "'0.00015'", Valeur("0.00015"), "0,0002", "0.0002"},
    {"Prix", "'0,00025'", Valeur("0,00025"), "0,0002"},
    {"Prix", "'-1.23455'", Valeur("-1.23455"), "-1,2346"},
    {"Prix", "'922337203685477.5807'", Valeur("922337203685477.5807"), "922337203685477,5807"},
    {"Prix", "'-922337203685477.5808'", Valeur("-922337203685477.5808"), "-922337203685477,5808"},
    {"Quand", "'2024-01-31'", Valeur("2024-01-31"), "31/01/2024", "#01/31/2024#"},
    {"Quand", "'31/01/2024'", Valeur("31/01/2024"), "31/01/2024"},
    {"Quand", "'31/01/2024 10:05'", Valeur("31/01/2024 10:05"), "31/01/2024 10:05:00"},
    {"Nombre", "'12,4'", Valeur("12,4"), "12"},
    {"Reel", "'2,5'", Valeur("2,5"), "2,5"},
    {"Actif", "'Vrai'", Valeur("Vrai"), "Vrai"},
};

class Conversions : public TestMoteur {
 protected:
  static void CreeTables(Database& base) {
    CreeTable(base, "Cible", {{"N", dbLong}, {"Prix", dbCurrency}, {"Quand", dbDate}, {"Nombre", dbLong},
                              {"Reel", dbDouble}, {"Actif", dbBoolean}});
    auto td = base.CreateTableDef("Source");
    for (const char* nom : {"N", "Prix", "Quand", "Nombre", "Reel", "Actif"}) td.Fields().Append(td.CreateField(nom, dbMemo));
    base.TableDefs().Append(td);
  }
  static std::string Lue(Database& base, const Conversion& cas, int n) {
    std::string condition = "N = " + std::to_string(n);
    if (cas.egal) condition += std::string(" AND [") + cas.champ + "] = " + cas.egal;
    auto valeurs = Colonne(base, "SELECT * FROM Cible WHERE " + condition, cas.champ);
    return valeurs.size() == 1 ? valeurs[0] : "<" + std::to_string(valeurs.size()) + " enregistrements>";
  }
};

TEST_F(Conversions, MemesConversionsSurChaqueCheminDEcriture) {
  { auto externe = Cree("externe.bd"); CreeTables(externe); }
  auto base = Cree();
  CreeTables(base);
  int n = 0;
  for (const auto& cas : kConversions) {
    SCOPED_TRACE(std::string(cas.champ) + " " + cas.litteral);
    const std::string champ = std::string("[") + cas.champ + "]";
    Ajoute(base, "Cible", {{"N", ++n}, {cas.champ, cas.valeur}});
    EXPECT_EQ(Lue(base, cas, n), cas.stockee) << "jeu d'enregistrements";
    ++n;
    EXPECT_ERREUR(0, base.Execute("INSERT INTO Cible (N, " + champ + ") VALUES (" + std::to_string(n) + ", " + cas.litteral + ")", dbFailOnError));
    EXPECT_EQ(Lue(base, cas, n), cas.stockee) << "INSERT … VALUES";
    EXPECT_ERREUR(0, base.Execute("UPDATE Cible SET " + champ + " = " + cas.litteral + " WHERE N = 1", dbFailOnError));
    EXPECT_EQ(Lue(base, cas, 1), cas.stockee) << "UPDATE";
    // Through a text field: the statement copies what a file of another software may hold.
    base.Execute("DELETE FROM Source", dbFailOnError);
    base.Execute("INSERT INTO Source (N, " + champ + ") VALUES ('" + std::to_string(++n) + "', " + cas.litteral + ")", dbFailOnError);
    EXPECT_ERREUR(0, base.Execute("INSERT INTO Cible (N, " + champ + ") SELECT N, " + champ + " FROM Source", dbFailOnError));
    EXPECT_EQ(Lue(base, cas, n), cas.stockee) << "INSERT … SELECT";
    EXPECT_ERREUR(0, base.Execute("INSERT INTO [Cible] IN '" + Chemin("externe.bd") + "' SELECT * FROM [Source]", dbFailOnError));
    auto externe = Ouvre("externe.bd");
    EXPECT_EQ(Lue(externe, cas, n), cas.stockee) << "INSERT … IN";
  }
}

// A value no conversion can read keeps its rule's number: the row is refused, never changed, and
// a statement that meets one fails, with or without dbFailOnError.
TEST_F(Conversions, ValeurInconvertibleToujoursRefusee) {
  auto base = Cree();
  CreeTables(base);
  base.Execute("INSERT INTO Source (N, Quand, Prix) VALUES ('1', 'pas une date', '3')", dbFailOnError);
  EXPECT_ERREUR(err::ConversionImpossible, base.Execute("INSERT INTO Cible SELECT * FROM Source", dbFailOnError));
  EXPECT_ERREUR(err::ConversionImpossible, base.Execute("INSERT INTO Cible (N, Prix) VALUES (2, 'abc')", dbFailOnError));
  EXPECT_ERREUR(err::ConversionImpossible, base.Execute("INSERT INTO Cible SELECT * FROM Source"));
  EXPECT_EQ(Compte(base, "Cible"), 0);

  // Past the smallest amount by one ten-thousandth: an overflow everywhere, never the smallest.
  const char* const horsLimite = "-922337203685477.5809";
  EXPECT_ERREUR(err::DepassementNumerique, Ajoute(base, "Cible", {{"N", 3}, {"Prix", Valeur(horsLimite)}}));
  EXPECT_ERREUR(err::DepassementNumerique,
                base.Execute(std::string("INSERT INTO Cible (N, Prix) VALUES (3, '") + horsLimite + "')", dbFailOnError));
  base.Execute("DELETE FROM Source", dbFailOnError);
  base.Execute(std::string("INSERT INTO Source (N, Prix) VALUES ('3', '") + horsLimite + "')", dbFailOnError);
  EXPECT_ERREUR(err::DepassementNumerique, base.Execute("INSERT INTO Cible SELECT * FROM Source"));
  EXPECT_EQ(Compte(base, "Cible"), 0);
}

// A typed value written into a text field reads as the recordset gives it to the user (a French
// date, a decimal comma, "Vrai"), whether a recordset or a statement writes it.
TEST_F(Conversions, ValeurTypeeVersTexteCommeLeJeuDEnregistrements) {
  const std::vector<std::pair<std::string, int>> types = {{"Quand", dbDate}, {"Reel", dbDouble}, {"Grand", dbDouble},
                                                          {"Actif", dbBoolean}, {"Prix", dbCurrency}, {"Entier", dbLong}};
  auto cree = [&](Database& base) {
    auto source = base.CreateTableDef("Typee");
    auto texte = base.CreateTableDef("Texte");
    source.Fields().Append(source.CreateField("N", dbLong));
    texte.Fields().Append(texte.CreateField("N", dbLong));
    for (const auto& [nom, type] : types) {
      source.Fields().Append(source.CreateField(nom, type));
      texte.Fields().Append(texte.CreateField(nom, dbText, 40));
    }
    base.TableDefs().Append(source);
    base.TableDefs().Append(texte);
  };
  { auto externe = Cree("externe.bd"); cree(externe); }
  auto base = Cree();
  cree(base);
  Ajoute(base, "Typee", {{"N", 1}, {"Quand", Valeur(DateHeure{2024, 1, 31, 10, 20, 30})}, {"Reel", 1.5}, {"Grand", 1e20},
                         {"Actif", true}, {"Prix", Valeur::Monetaire(-1)}, {"Entier", -7}});
  Ajoute(base, "Typee", {{"N", 2}, {"Quand", Valeur(DateHeure{2024, 2, 1})}, {"Actif", false}});
  const std::vector<std::string> attendues[] = {{"31/01/2024 10:20:30", "01/02/2024"}, {"1,5", "<nul>"}, {"1e+20", "<nul>"},
                                                {"Vrai", "Faux"}, {"-0,0001", "<nul>"}, {"-7", "<nul>"}};

  // The recordset's own conversion, the reference.
  auto rs = base.OpenRecordset("Typee");
  while (!rs.Eof()) {
    Ligne ligne = {{"N", rs["N"].Value()}};
    for (const auto& [nom, type] : types) ligne.emplace_back(nom, rs[nom].Value());
    Ajoute(base, "Texte", ligne);
    rs.MoveNext();
  }
  rs.Close();
  for (std::size_t i = 0; i < types.size(); ++i)
    EXPECT_EQ(Colonne(base, "SELECT * FROM Texte ORDER BY N", types[i].first), attendues[i]) << types[i].first;

  base.Execute("DELETE FROM Texte", dbFailOnError);
  ASSERT_SANS_ERREUR(base.Execute("INSERT INTO Texte SELECT * FROM Typee", dbFailOnError));
  ASSERT_SANS_ERREUR(base.Execute("INSERT INTO [Texte] IN '" + Chemin("externe.bd") + "' SELECT * FROM [Typee]"));
  auto externe = Ouvre("externe.bd");
  for (std::size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(Colonne(base, "SELECT * FROM Texte ORDER BY N", types[i].first), attendues[i]) << "INSERT … SELECT " << types[i].first;
    EXPECT_EQ(Colonne(externe, "SELECT * FROM Texte ORDER BY N", types[i].first), attendues[i]) << "INSERT … IN " << types[i].first;
  }
}

}  // namespace

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "moteur/Dialecte.h"
#include "moteur/Erreurs.h"

namespace {

using moteur::ErreurMoteur;
using moteur::dialecte::CiteNom;
using moteur::dialecte::CiteTexte;
using moteur::dialecte::Genre;
using moteur::dialecte::Traduit;
namespace err = moteur::err;

std::string Sql(const std::string& requete) { return Traduit(requete).sql; }

int Numero(const std::string& requete) {
  try {
    Traduit(requete);
  } catch (const ErreurMoteur& e) {
    return e.Number();
  }
  return 0;
}

// The translation is only right if SQLite reads it the way the source dialect
// meant it, so most checks run the output.
class Base {
 public:
  Base() {
    sqlite3_open(":memory:", &db_);
    Execute(
        "CREATE TABLE t(a, b, c);"
        "INSERT INTO t VALUES ('Abc', 1, NULL), ('a%b', 2, 'x'), ('a_b', 3, 'y'), ('A1', 4, 'z'),"
        "('b7z', 5, NULL), ('*', 6, NULL);");
  }
  ~Base() { sqlite3_close(db_); }
  Base(const Base&) = delete;
  Base& operator=(const Base&) = delete;

  void Execute(const std::string& sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    const std::string texte = message ? message : "";
    sqlite3_free(message);
    ASSERT_EQ(rc, SQLITE_OK) << sql << "\n" << texte;
  }

  // Every row of the first column, NULL shown as "<null>".
  std::vector<std::string> Colonne(const std::string& sql) {
    std::vector<std::string> r;
    sqlite3_stmt* st = nullptr;
    const char* reste = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, &reste) != SQLITE_OK) {
      ADD_FAILURE() << sql << "\n" << sqlite3_errmsg(db_);
      return r;
    }
    EXPECT_STREQ(reste, "") << sql;
    while (sqlite3_step(st) == SQLITE_ROW) {
      auto v = sqlite3_column_text(st, 0);
      r.push_back(v ? reinterpret_cast<const char*>(v) : "<null>");
    }
    sqlite3_finalize(st);
    return r;
  }

  std::string Valeur(const std::string& expression) {
    auto r = Colonne(Sql("SELECT " + expression));
    return r.size() == 1 ? r[0] : "<" + std::to_string(r.size()) + " lignes>";
  }

  // Values of column a for the rows the condition keeps.
  std::vector<std::string> Filtre(const std::string& condition) {
    return Colonne(Sql("SELECT a FROM t WHERE " + condition + " ORDER BY b"));
  }

  // Message when SQLite could not even parse the statement, "" otherwise:
  // unknown tables or columns are expected from random input, grammar faults are not.
  std::string FauteDeGrammaire(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    const char* reste = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, &reste);
    sqlite3_finalize(st);
    if (reste && *reste) return "second statement: " + std::string(reste);
    if (rc == SQLITE_OK) return "";
    const std::string m = sqlite3_errmsg(db_);
    for (const char* faute : {"syntax error", "unrecognized token", "incomplete input", "no such function"}) {
      if (m.find(faute) != std::string::npos) return m;
    }
    return "";
  }

 private:
  sqlite3* db_ = nullptr;
};

using V = std::vector<std::string>;

// '9' in the shape stands for any digit.
bool AlaForme(const std::string& valeur, const std::string& forme) {
  if (valeur.size() != forme.size()) return false;
  for (size_t k = 0; k < forme.size(); ++k) {
    if (forme[k] == '9' ? !isdigit(static_cast<unsigned char>(valeur[k])) : valeur[k] != forme[k])
      return false;
  }
  return true;
}

// ------------------------------------------------------------------ names

TEST(DialecteNoms, CrochetsGardentTousLeursCaracteres) {
  EXPECT_EQ(Sql("SELECT [a]]b], [x\"; DROP TABLE t; --], [Prix unitaire] FROM [t;u]"),
            "SELECT \"a]b\", \"x\"\"; DROP TABLE t; --\", \"Prix unitaire\" FROM \"t;u\"");
  EXPECT_EQ(Sql("SELECT Prénom FROM Élèves"), "SELECT \"Prénom\" FROM \"Élèves\"");
  EXPECT_EQ(Sql("SELECT [t].[f], t.g FROM t"), "SELECT \"t\".\"f\", \"t\".\"g\" FROM \"t\"");
}

TEST(DialecteNoms, UnNomHostileResteUnNom) {
  Base base;
  base.Execute("CREATE TABLE [x'); DROP TABLE t; --](v)");
  base.Colonne(Traduit("DELETE FROM [x'); DROP TABLE t; --]").sql);
  EXPECT_EQ(base.Colonne("SELECT count(*) FROM t"), V{"6"});
}

TEST(DialecteNoms, CanoniqueAppliqueAuxNomsPasAuxAlias) {
  const std::map<std::string, std::string> catalogue{{"CLIENTS", "Clients"}, {"NOM", "Nom"}};
  std::vector<std::string> vus;
  auto canon = [&](const std::string& n) {
    vus.push_back(n);
    std::string maj = n;
    for (char& c : maj) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    auto it = catalogue.find(maj);
    return it == catalogue.end() ? n : it->second;
  };
  EXPECT_EQ(Traduit("SELECT clients.nom AS nom FROM CLIENTS AS clients", canon).sql,
            "SELECT \"Clients\".\"Nom\" AS \"nom\" FROM \"Clients\" AS \"clients\"");
  EXPECT_EQ(Traduit("UPDATE clients SET nom = 'x'", canon).tableCible, "Clients");
}

TEST(DialecteNoms, Citations) {
  EXPECT_EQ(CiteNom("na\"me"), "\"na\"\"me\"");
  EXPECT_EQ(CiteTexte("it's"), "'it''s'");
  EXPECT_THROW(CiteNom(""), ErreurMoteur);
  EXPECT_THROW(CiteNom(std::string("a\0b", 3)), ErreurMoteur);
  EXPECT_THROW(CiteTexte(std::string("a\0b", 3)), ErreurMoteur);
}

// ------------------------------------------------------------------ literals

TEST(DialecteLitteraux, TexteEntreApostrophesOuGuillemets) {
  Base base;
  EXPECT_EQ(base.Valeur("'it''s'"), "it's");
  EXPECT_EQ(base.Valeur("\"dit \"\"oui\"\"\""), "dit \"oui\"");
  EXPECT_EQ(base.Valeur("\"l'été\""), "l'été");
}

TEST(DialecteLitteraux, DatesEnFormeComplete) {
  auto date = [](const std::string& d) { return Sql("SELECT " + d); };
  EXPECT_EQ(date("#12/31/2024#"), "SELECT '2024-12-31 00:00:00'");
  EXPECT_EQ(date("#1/2/2024 10:05:00#"), "SELECT '2024-01-02 10:05:00'");
  EXPECT_EQ(date("#2024-12-31#"), "SELECT '2024-12-31 00:00:00'");
  EXPECT_EQ(date("#2024-12-31 10:05#"), "SELECT '2024-12-31 10:05:00'");
  EXPECT_EQ(date("#2/29/2024#"), "SELECT '2024-02-29 00:00:00'");
  EXPECT_EQ(date("#1/2/24 3:04 PM#"), "SELECT '2024-01-02 15:04:00'");
  EXPECT_EQ(date("#12:30 AM#"), "SELECT '1899-12-30 00:30:00'");
}

TEST(DialecteLitteraux, DateImpossibleRefusee) {
  for (const char* d : {"#2/29/2023#", "#31/12/2024#", "#2024-02-30#", "#1/1/2024 24:00#", "#1/1/2024 10:60#",
                        "#hier#", "##", "#1/1/2024x#", "#0/1/2024#"}) {
    EXPECT_EQ(Numero(std::string("SELECT * FROM t WHERE d = ") + d), err::SyntaxeExpression) << d;
  }
  // Even inside an INSERT: an impossible date is an expression fault.
  EXPECT_EQ(Numero("INSERT INTO t VALUES (#2/30/2024#)"), err::SyntaxeExpression);
}

TEST(DialecteLitteraux, BooleensEtNullSeulementNus) {
  EXPECT_EQ(Sql("SELECT True, Yes, Oui, False, No, Non, Null"), "SELECT -1, -1, -1, 0, 0, 0, NULL");
  EXPECT_EQ(Sql("SELECT [True], [Non], t.No FROM t"), "SELECT \"True\", \"Non\", \"t\".\"No\" FROM \"t\"");
}

// ------------------------------------------------------------------ operators

TEST(DialecteOperateurs, ConcatenationTolereNull) {
  Base base;
  EXPECT_EQ(base.Valeur("'a' & Null & 'b'"), "ab");
  // '&' is looser than '+', unlike SQLite's '||'.
  EXPECT_EQ(base.Valeur("'n=' & 1 + 2"), "n=3");
  EXPECT_EQ(base.Colonne(Sql("SELECT a & '-' & c FROM t WHERE b < 3 ORDER BY b")), (V{"Abc-", "a%b-x"}));
}

TEST(DialecteOperateurs, ArithmetiqueDuDialecte) {
  Base base;
  EXPECT_EQ(base.Valeur("7 / 2"), "3.5");
  EXPECT_EQ(base.Valeur("7 \\ 2"), "3");
  EXPECT_EQ(base.Valeur("100 \\ 7 \\ 2"), "7");
  EXPECT_EQ(base.Valeur("7 Mod 3"), "1");
  EXPECT_EQ(base.Valeur("1 + 7 Mod 3 * 2"), "2");
  EXPECT_EQ(base.Valeur("7 Mod 5 \\ 2"), "1");
  EXPECT_EQ(base.Valeur("- -1"), "1");
  EXPECT_EQ(base.Valeur("2 * -3"), "-6");
  EXPECT_EQ(base.Valeur("1 - -True"), "0");
  EXPECT_EQ(base.Valeur("10 - 2 - 3"), "5");
}

TEST(DialecteOperateurs, LogiqueEtComparaisons) {
  Base base;
  EXPECT_EQ(base.Filtre("NOT b = 1 AND b < 4"), (V{"a%b", "a_b"}));
  EXPECT_EQ(base.Filtre("b = 1 OR b = 5 AND c IS NULL"), (V{"Abc", "b7z"}));
  EXPECT_EQ(base.Filtre("c IS NOT NULL AND b NOT BETWEEN 2 AND 3"), V{"A1"});
  EXPECT_EQ(base.Filtre("b IN (1, 6) OR c NOT IN ('x', 'y', 'z')"), (V{"Abc", "*"}));
  EXPECT_EQ(base.Filtre("b <> 1 AND b <= 2 OR b >= 6"), (V{"a%b", "*"}));
}

TEST(DialecteOperateurs, LikeAvecJokersDuDialecte) {
  Base base;
  EXPECT_EQ(base.Filtre("a Like 'a*'"), (V{"Abc", "a%b", "a_b", "A1"}));
  EXPECT_EQ(base.Filtre("a Like 'a?b'"), (V{"a%b", "a_b"}));
  // SQLite's own wildcards are plain characters in the source pattern.
  EXPECT_EQ(base.Filtre("a Like 'a%b'"), V{"a%b"});
  EXPECT_EQ(base.Filtre("a Like 'a_b'"), V{"a_b"});
  EXPECT_EQ(base.Filtre("a Like '[*]'"), V{"*"});
  EXPECT_EQ(base.Filtre("a Like '*#*'"), (V{"A1", "b7z"}));
  EXPECT_EQ(base.Filtre("a Like '[a-b]#*'"), (V{"A1", "b7z"}));
  EXPECT_EQ(base.Filtre("a Like '[!a]*'"), (V{"b7z", "*"}));
  EXPECT_EQ(base.Filtre("a Not Like '*b*'"), (V{"A1", "*"}));
  // A pattern computed per row: Null & '*' is '*', and '_' stays a plain character.
  EXPECT_EQ(base.Filtre("a Like c & '*'"), (V{"Abc", "b7z", "*"}));
  EXPECT_EQ(base.Filtre("a Like Left(a, 1) & '_*'"), V{"a_b"});
  EXPECT_EQ(Numero("SELECT * FROM t WHERE a Like '[a-'"), err::SyntaxeExpression);
}

// ------------------------------------------------------------------ functions

TEST(DialecteFonctions, EquivalentsSqlite) {
  Base base;
  EXPECT_EQ(base.Valeur("Right('abcdef', 2)"), "ef");
  EXPECT_EQ(base.Valeur("Right('abc', 0)"), "");
  EXPECT_EQ(base.Valeur("Right('abc', 5)"), "abc");
  EXPECT_EQ(base.Valeur("Right(Null, 1)"), "<null>");
  EXPECT_EQ(base.Valeur("Left('abc', 2) & Mid('abcdef', 3) & Mid('abcdef', 2, 2)"), "abcdefbc");
  EXPECT_EQ(base.Valeur("Nz(Null) & '|' & Nz(Null, 5) & '|' & Nz(3, 5)"), "|5|3");
  EXPECT_EQ(base.Valeur("IIf(IsNull(Null), 'v', 'f') & IIf(IsNull(1), 'v', 'f')"), "vf");
  EXPECT_EQ(base.Valeur("IIf(2 > 1, 'oui', 'non')"), "oui");
  EXPECT_EQ(base.Valeur("Len('été') & UCase('ab') & LCase('CD')"), "3ABcd");
  EXPECT_EQ(base.Valeur("'[' & Trim('  x ') & LTrim(' y') & RTrim('z ') & ']'"), "[xyz]");
  EXPECT_EQ(base.Valeur("CLng(2.6) + CInt('3')"), "6");
  EXPECT_EQ(base.Valeur("CStr(12) & CDbl('1.5')"), "121.5");
  EXPECT_TRUE(AlaForme(base.Valeur("Date()"), "9999-99-99 00:00:00"));
  EXPECT_TRUE(AlaForme(base.Valeur("Now()"), "9999-99-99 99:99:99"));
  EXPECT_EQ(base.Colonne(Sql("SELECT Count(*) & '/' & Sum(b) & '/' & Max(a) FROM t")), V{"6/21/b7z"});
}

TEST(DialecteFonctions, FonctionInconnueOuMalAppelee) {
  try {
    Traduit("SELECT Bidule(a) FROM t");
    FAIL();
  } catch (const ErreurMoteur& e) {
    EXPECT_EQ(e.Number(), err::SyntaxeExpression);
    EXPECT_NE(e.Description().find("Bidule"), std::string::npos);
  }
  EXPECT_EQ(Numero("UPDATE t SET a = Bidule(1)"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT Left('a') FROM t"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT Max(1, 2) FROM t"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT Sum(*) FROM t"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT [Len](a) FROM t"), err::SyntaxeExpression);
}

// ------------------------------------------------------------------ statements

TEST(DialecteInstructions, SelectTopDevientLimitEnFin) {
  EXPECT_EQ(Sql("select top 3 distinct a from t where b > 1 order by a desc, b;  "),
            "SELECT DISTINCT \"a\" FROM \"t\" WHERE \"b\" > 1 ORDER BY \"a\" DESC, \"b\" LIMIT 3");
  EXPECT_EQ(Numero("SELECT TOP 10 PERCENT a FROM t"), err::OperationNonGeree);
  EXPECT_EQ(Numero("SELECT a INTO u FROM t"), err::OperationNonGeree);
}

TEST(DialecteInstructions, SelectAvecJointuresEtSousRequetes) {
  Base base;
  base.Execute("CREATE TABLE u(b, d); INSERT INTO u VALUES (1, 'un'), (5, 'cinq');");
  EXPECT_EQ(base.Colonne(Sql("SELECT t.a & u.d FROM (t INNER JOIN u ON t.b = u.b) ORDER BY t.b")),
            (V{"Abcun", "b7zcinq"}));
  EXPECT_EQ(base.Colonne(Sql("SELECT Count(*) FROM t LEFT JOIN u ON t.b = u.b WHERE u.d IS NULL")), V{"4"});
  EXPECT_EQ(base.Colonne(Sql("SELECT x.a FROM (SELECT a, b FROM t) AS x WHERE EXISTS "
                             "(SELECT * FROM u WHERE u.b = x.b) AND x.b IN (SELECT b FROM u) ORDER BY x.b")),
            (V{"Abc", "b7z"}));
  EXPECT_EQ(Numero("SELECT * FROM t IN 'C:\\autre.bd'"), err::OperationNonGeree);
}

TEST(DialecteInstructions, DeleteSousSesTroisFormes) {
  EXPECT_EQ(Sql("DELETE * FROM t WHERE a = 1"), "DELETE FROM \"t\" WHERE \"a\" = 1");
  EXPECT_EQ(Sql("DELETE [t].* FROM [t]"), "DELETE FROM \"t\"");
  EXPECT_EQ(Sql("delete from t;"), "DELETE FROM \"t\"");
  EXPECT_EQ(Traduit("DELETE FROM t").genre, Genre::Delete);
  EXPECT_EQ(Numero("DELETE u.* FROM t"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("DELETE t.* FROM t INNER JOIN u ON t.a = u.a"), err::OperationNonGeree);
}

TEST(DialecteInstructions, UpdateRetireLeQualifiantDeLaCible) {
  Base base;
  const auto u = Traduit("UPDATE t SET [t].[c] = a & '!', b = b * 10 WHERE b = 1");
  EXPECT_EQ(u.genre, Genre::Update);
  base.Execute(u.sql);
  EXPECT_EQ(base.Colonne("SELECT c || b FROM t WHERE a = 'Abc'"), V{"Abc!10"});
  EXPECT_EQ(Numero("UPDATE t SET u.a = 1"), err::SyntaxeUpdate);
  EXPECT_EQ(Numero("UPDATE t INNER JOIN u ON t.a = u.a SET t.a = 1"), err::OperationNonGeree);
}

TEST(DialecteInstructions, InsertVersUneAutreBase) {
  const auto i =
      Traduit("INSERT INTO [Clients] IN 'C:\\chemin\\l''x.bd' SELECT * FROM [Source] WHERE Ville = 'Nice'");
  EXPECT_EQ(i.genre, Genre::Insert);
  EXPECT_EQ(i.tableCible, "Clients");
  EXPECT_EQ(i.baseExterne, "C:\\chemin\\l'x.bd");
  EXPECT_TRUE(i.colonnesCible.empty());
  EXPECT_TRUE(i.selectEtoile);
  EXPECT_EQ(i.tableSource, "Source");
  EXPECT_EQ(i.filtreSource, "\"Ville\" = 'Nice'");
  EXPECT_EQ(i.source, "SELECT * FROM \"Source\" WHERE \"Ville\" = 'Nice'");
  EXPECT_EQ(i.sql, "");

  EXPECT_EQ(Traduit("INSERT INTO t IN \"D:\\b.bd\" SELECT s.* FROM s").baseExterne, "D:\\b.bd");
  EXPECT_TRUE(Traduit("INSERT INTO t IN \"D:\\b.bd\" SELECT s.* FROM s").selectEtoile);
  EXPECT_EQ(Traduit("INSERT INTO t IN '' [;DATABASE=E:\\c.bd] SELECT * FROM s").baseExterne, "E:\\c.bd");
  EXPECT_EQ(Numero("INSERT INTO t IN '' [Texte;DATABASE=E:\\] SELECT * FROM s"), err::OperationNonGeree);
  EXPECT_EQ(Numero("INSERT INTO t IN '' SELECT * FROM s"), err::SyntaxeInsert);
}

TEST(DialecteInstructions, InsertSelectEtoileSeulementSiRienNeLeModifie) {
  for (const char* source :
       {"SELECT DISTINCT * FROM s", "SELECT TOP 2 * FROM s", "SELECT * FROM s ORDER BY a",
        "SELECT * FROM s AS x", "SELECT * FROM s, u", "SELECT a FROM s", "SELECT *, a FROM s",
        "SELECT u.* FROM s", "SELECT * FROM (s)", "SELECT * FROM s INNER JOIN u ON s.a = u.a"}) {
    EXPECT_FALSE(Traduit(std::string("INSERT INTO t ") + source).selectEtoile) << source;
  }
}

TEST(DialecteInstructions, InsertLocalAvecColonnesOuValeurs) {
  Base base;
  base.Execute("CREATE TABLE d(x, [y z])");
  const auto i = Traduit("INSERT INTO d (x, [y z]) VALUES (1 + 1, 'l''a' & Null)");
  EXPECT_EQ(i.colonnesCible, (V{"x", "y z"}));
  EXPECT_EQ(i.source, "VALUES (1 + 1, 'l''a' || ifnull(NULL, ''))");
  EXPECT_FALSE(i.baseExterne);
  base.Execute(i.sql);
  base.Execute(Traduit("INSERT INTO d SELECT b, a FROM t WHERE b = 3").sql);
  EXPECT_EQ(base.Colonne("SELECT x || [y z] FROM d"), (V{"2l'a", "3a_b"}));
  EXPECT_EQ(Numero("INSERT INTO d (x, y) VALUES (1)"), err::SyntaxeInsert);
}

// ------------------------------------------------------------------ errors

TEST(DialecteErreurs, NumerosSelonLeGenreDInstruction) {
  for (const char* autre :
       {"CREATE TABLE x (a int)", "DROP TABLE t", "ATTACH 'x' AS y", "PRAGMA foo", "", "   ;",
        "[SELECT] * FROM t", "(SELECT * FROM t)", "WITH x AS (SELECT 1) SELECT 1"}) {
    EXPECT_EQ(Numero(autre), err::InstructionInvalide) << autre;
  }
  EXPECT_EQ(Numero("SELECT * FROM t; DROP TABLE t"), err::CaracteresApresFin);
  EXPECT_EQ(Numero("DELETE FROM t;;"), err::CaracteresApresFin);
  EXPECT_EQ(Numero("SELECT * FROM [a;b] WHERE c = ';' ; \n\t "), 0);

  EXPECT_EQ(Numero("INSERT INTO t VALUES ('abc"), err::SyntaxeInsert);
  EXPECT_EQ(Numero("INSERT INTO [t VALUES (1)"), err::SyntaxeInsert);
  EXPECT_EQ(Numero("INSERT INTO t SELECT FROM s"), err::SyntaxeInsert);
  EXPECT_EQ(Numero("UPDATE t SET a = \"x"), err::SyntaxeUpdate);
  EXPECT_EQ(Numero("UPDATE t SET a = 1 WHERE"), err::SyntaxeUpdate);
  EXPECT_EQ(Numero("SELECT * FROM t WHERE a = 'x"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT a b FROM t"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("DELETE FROM [t"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT a FROM t WHERE a = 1 UNION SELECT a FROM u"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT a ^ 2 FROM t"), err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT \xff FROM t"), err::SyntaxeExpression);
}

// ------------------------------------------------------------------ robustness

TEST(DialecteRobustesse, ImbricationProfondeEtChainesLongues) {
  EXPECT_EQ(Numero("SELECT " + std::string(100000, '(') + "1" + std::string(100000, ')')),
            err::SyntaxeExpression);
  EXPECT_EQ(Numero("SELECT " + std::string(100000, '-') + "1"), err::SyntaxeExpression);
  std::string nots;
  for (int k = 0; k < 50000; ++k) nots += "NOT ";
  EXPECT_EQ(Numero("SELECT * FROM t WHERE " + nots + "a"), err::SyntaxeExpression);

  std::string somme = "SELECT 1";
  for (int k = 0; k < 20000; ++k) somme += k % 2 ? " + 1" : " & 1";
  EXPECT_EQ(Numero(somme), 0);

  std::string droite = "'x'";
  for (int k = 0; k < 60; ++k) droite = "Right(" + droite + ", Right('9', Right('1', 1)))";
  const auto r = Numero("SELECT " + droite);
  EXPECT_TRUE(r == 0 || r == err::SyntaxeExpression);
}

TEST(DialecteRobustesse, EntreesAleatoiresNeProduisentQueResultatOuErreur) {
  Base base;
  base.Execute("CREATE TABLE s(a, b, c); CREATE TABLE u(a, b, d);");
  const std::vector<std::string> modeles{
      "SELECT TOP 2 DISTINCT [t].[a], b & 'x' AS [n] FROM t INNER JOIN u ON t.a = u.a WHERE b Like 'a*#' "
      "ORDER BY a DESC;",
      "INSERT INTO t IN 'C:\\x.bd' (a, b) SELECT * FROM s WHERE s.a BETWEEN #1/2/2024# AND #2024-03-04 "
      "10:00#",
      "UPDATE t SET [a] = IIf(IsNull(b), Nz(c, 0) \\ 2, Right(a, 3) & Mid(a, 2, 1)) WHERE NOT a IN (1, 'x', "
      "Null)",
      "DELETE t.* FROM t WHERE a <> -b Mod 3 OR c IS NOT NULL AND a >= True",
      "SELECT Count(*), Sum(b) FROM (SELECT a, b FROM t) AS x GROUP BY a HAVING Max(b) > 1",
      "INSERT INTO u (a, b, d) VALUES ('l''é', \"x\"\"y\", #12/31/1999 11:59:59 PM#)",
      "SELECT a + b * 2 FROM t",
      "SELECT * FROM t WHERE a = 1 - b",
      "UPDATE t SET a = b & c",
      "SELECT a, b FROM t ORDER BY a"};
  const std::string alphabet = "[]'\"#();,.*&\\<>=-+ aAbtIN_0123456789é\t\n";
  // The grammar check itself must be able to fail.
  ASSERT_NE(base.FauteDeGrammaire("SELECT (1"), "");
  ASSERT_NE(base.FauteDeGrammaire("SELECT 1; DROP TABLE t"), "");

  std::mt19937 alea(20240611);
  int traduites = 0;
  auto essaie = [&](const std::string& entree) {
    try {
      const auto r = Traduit(entree);
      ++traduites;
      const std::string complete = r.genre == Genre::Insert && r.baseExterne ? r.source : r.sql;
      const std::string faute = base.FauteDeGrammaire(complete);
      EXPECT_EQ(faute, "") << "entrée : " << entree << "\nsortie : " << complete;
    } catch (const ErreurMoteur& e) {
      EXPECT_NE(e.Number(), 0);
    }
  };
  for (int k = 0; k < 3000; ++k) {
    std::string brut(alea() % 40, '\0');
    for (char& c : brut) c = static_cast<char>(alea() % 256);
    essaie(brut);
    static const std::array<std::string, 4> debuts{"SELECT ", "INSERT INTO t ", "UPDATE t SET ", "DELETE "};
    essaie(debuts[alea() % debuts.size()] + brut);
  }
  // Words of the models, to recombine: this reaches far more statements that
  // translate than byte edits alone.
  std::vector<std::string> mots;
  for (const auto& m : modeles) {
    for (size_t debut = 0, fin; debut < m.size(); debut = fin + 1) {
      fin = std::min(m.find(' ', debut), m.size());
      if (fin > debut) mots.push_back(m.substr(debut, fin - debut));
    }
  }
  for (int k = 0; k < 8000; ++k) {
    std::string m = modeles[alea() % modeles.size()];
    for (int n = 1 + static_cast<int>(alea() % 2); n > 0; --n) {
      const size_t pos = alea() % (m.size() + 1);
      switch (alea() % 5) {
        case 0:
          if (pos < m.size()) m.erase(pos, 1 + alea() % 4);
          break;
        case 1:
          m.insert(pos, 1, alphabet[alea() % alphabet.size()]);
          break;
        case 2:
          if (pos < m.size()) m[pos] = alphabet[alea() % alphabet.size()];
          break;
        default: {
          const size_t debut = m.rfind(' ', pos == 0 ? 0 : pos - 1);
          const size_t d = debut == std::string::npos ? 0 : debut + 1;
          const size_t f = std::min(m.find(' ', d), m.size());
          m.replace(d, f - d, mots[alea() % mots.size()]);
        }
      }
    }
    essaie(m);
  }
  // Otherwise only the error paths would have been exercised.
  EXPECT_GT(traduites, 400);
}

}  // namespace

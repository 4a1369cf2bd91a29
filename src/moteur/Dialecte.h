// Translation of the engine's query language into SQLite statements.
//
// Pure text processing: nothing here touches a database. Every failure is an
// ErreurMoteur whose number is the one callers test for that kind of fault.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace moteur::dialecte {

enum class Genre { Select, Insert, Update, Delete };

// Maps a table or field name to its catalog spelling (the caller matches names
// without regard to case or accents); returns the name unchanged when unknown.
// May be empty, which means identity.
using Canonique = std::function<std::string(const std::string&)>;

struct Instruction {
  Genre genre;
  // Complete SQLite statement. For an INSERT with an IN 'path' clause it is left
  // empty: the destination lives in another file and only the caller knows how
  // to reach it, so there is no local statement that would be right to run.
  std::string sql;

  // INSERT INTO t [IN 'path'] [(c1, c2)] SELECT … | VALUES (…)
  // tableCible is also filled for UPDATE and DELETE.
  std::string tableCible;                  // unquoted, canonical spelling
  std::optional<std::string> baseExterne;  // path of the IN clause, unescaped
  std::vector<std::string> colonnesCible;  // explicit column list, empty when none
  std::string source;                      // translated SELECT … or VALUES (…)
  bool selectEtoile = false;               // source is SELECT * FROM <one table> [WHERE …]
  std::string tableSource;                 // that table, unquoted, canonical
  std::string filtreSource;                // translated condition without WHERE ("" if none)

  // UPDATE t SET c1 = e1, … [WHERE …]: each field (unquoted, canonical) with its translated
  // expression, and the translated condition without WHERE ("" if none). `sql` holds the whole.
  std::vector<std::pair<std::string, std::string>> affectations;
  std::string condition;
};

// Throws ErreurMoteur: 3129 for a statement that is not SELECT/INSERT/UPDATE/
// DELETE, 3142 for text after the closing ';', 3134/3144/3075 for syntax errors
// in INSERT/UPDATE/other statements, 3075 for an unknown function or an
// impossible date, 3251 for constructs the translation refuses (IN 'path' on a
// read, TOP … PERCENT, SELECT … INTO, joined UPDATE/DELETE).
Instruction Traduit(std::string_view requete, const Canonique& canonique = {});

// "na""me". Throws ErreurMoteur(NomInvalide) for an empty name or one holding
// a NUL character, which SQLite cannot carry through its parser.
std::string CiteNom(std::string_view nom);

// 'it''s'. Throws ErreurMoteur(SyntaxeExpression) for a NUL character, for the
// same reason.
std::string CiteTexte(std::string_view t);

}  // namespace moteur::dialecte

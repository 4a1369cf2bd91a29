// Every write path — recordsets, SQL statements, cross-database inserts — goes through SQLite,
// so the rules live in triggers generated from the catalog: one place, enforced inside SQLite.
#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur::regles {
namespace {

struct Regle {
  std::string condition;
  int numero;
  std::string objet;
};

const char* const MotifGuid =
    "'{[0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F]-[0-9A-F][0-9A-F][0-9A-F][0-9A-F]-"
    "[0-9A-F][0-9A-F][0-9A-F][0-9A-F]-[0-9A-F][0-9A-F][0-9A-F][0-9A-F]-"
    "[0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F]}'";

const char* const MotifDate =
    "'[0-9][0-9][0-9][0-9]-[0-1][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'";

void ReglesType(const DefChamp& c, const std::string& v, std::vector<Regle>& regles) {
  auto type = [&](const char* admis) {
    regles.push_back({"typeof(" + v + ") NOT IN (" + admis + ",'null')", err::ConversionImpossible, c.nom});
  };
  auto plage = [&](const std::string& min, const std::string& max) {
    regles.push_back({v + " < " + min + " OR " + v + " > " + max, err::DepassementNumerique, c.nom});
  };
  switch (c.type) {
    case dbBoolean: type("'integer'"); break;
    case dbByte: type("'integer'"); plage("0", "255"); break;
    case dbInteger: type("'integer'"); plage("-32768", "32767"); break;
    case dbLong:
      if (!(c.attributs & dbAutoIncrField)) {
        type("'integer'");
        plage("-2147483648", "2147483647");
      }
      break;
    case dbCurrency: type("'integer','real'"); plage("-922337203685477.5808", "922337203685477.5807"); break;
    case dbSingle: type("'integer','real'"); plage("-3.402823466e38", "3.402823466e38"); break;
    case dbDouble: type("'integer','real'"); break;
    case dbDate:
      type("'text'");
      regles.push_back({v + " NOT GLOB " + MotifDate, err::ConversionImpossible, c.nom});
      break;
    case dbBinary:
      type("'blob'");
      regles.push_back({"length(" + v + ") > " + std::to_string(c.taille), err::ValeurTropLongue, c.nom});
      break;
    case dbLongBinary: type("'blob'"); break;
    case dbText:
      type("'text'");
      regles.push_back({"length(" + v + ") > " + std::to_string(c.taille), err::ValeurTropLongue, c.nom});
      break;
    case dbMemo: type("'text'"); break;
    case dbGUID:
      type("'text'");
      regles.push_back({v + " NOT GLOB " + MotifGuid, err::ConversionImpossible, c.nom});
      break;
    default: break;
  }
}

std::vector<Regle> ReglesTable(const DefTable& table) {
  std::vector<Regle> regles;
  std::vector<std::string> clePrimaire;
  for (const auto& index : table.index) {
    if (!index.primaire) continue;
    std::string_view reste = index.champs;
    while (!reste.empty()) {
      auto fin = reste.find(';');
      std::string_view nom = reste.substr(0, fin);
      if (!nom.empty() && (nom.front() == '+' || nom.front() == '-')) nom.remove_prefix(1);
      clePrimaire.emplace_back(nom);
      reste = fin == std::string_view::npos ? std::string_view() : reste.substr(fin + 1);
    }
  }
  for (const auto& c : table.champs) {
    std::string v = "NEW." + CiteIdent(c.nom);
    bool autoIncrement = c.attributs & dbAutoIncrField;
    // A Yes/No field takes No for Null (see DeclencheursOuiNon): Null never reaches it to be refused.
    const bool ouiNon = c.type == dbBoolean;
    if (c.requis && !autoIncrement && !ouiNon) regles.push_back({v + " IS NULL", err::ChampRequis, c.nom});
    for (const auto& cle : clePrimaire)
      if (MemeNom(cle, c.nom) && !autoIncrement && !ouiNon) regles.push_back({v + " IS NULL", err::CleNulle, c.nom});
    ReglesType(c, v, regles);
    if (EstTypeTexte(c.type) && !c.zeroLongueur) regles.push_back({v + " = ''", err::ChaineVideInterdite, c.nom});
  }
  return regles;
}

std::string Leve(int numero, const std::string& objet) {
  return "RAISE(ABORT, " + CiteLitteral("JET:" + std::to_string(numero) + ":" + objet) + ")";
}

// A value that does not fit its field: its type, its range, its size.
bool RegleDeValeur(const Regle& r) {
  return r.numero == err::ConversionImpossible || r.numero == err::DepassementNumerique || r.numero == err::ValeurTropLongue;
}

// Any of the rules broken, each one's NULL taken as not broken.
std::string UneEnfreinte(const std::vector<Regle>& regles, bool valeursSeules) {
  std::string une;
  // A rule on a null value yields NULL, not false: without coalesce, NOT (…) would be NULL too
  // and every row holding a null would be skipped as if it broke a rule.
  for (const auto& r : regles)
    if (!valeursSeules || RegleDeValeur(r)) une += (une.empty() ? "coalesce((" : " OR coalesce((") + r.condition + "), 0)";
  return une;
}

// One SELECT checks all the rules of a row. A statement run without "fail on error" skips a row
// that a rule of the data refuses (a required field, an empty text), as keys make it skip
// duplicates; a value that does not fit its field still fails the statement, which would
// otherwise drop the row without a word.
std::string Controle(const std::vector<Regle>& regles) {
  const std::string valeurs = UneEnfreinte(regles, true);
  std::string texte = "SELECT CASE WHEN NOT (" + UneEnfreinte(regles, false) + ") THEN NULL WHEN utireorg_ignore()" +
                      (valeurs.empty() ? std::string() : " AND NOT (" + valeurs + ")") + " THEN RAISE(IGNORE)";
  // A value that does not fit is told first: it is what makes a statement fail as a whole.
  for (bool valeur : {true, false})
    for (const auto& r : regles)
      if (RegleDeValeur(r) == valeur) texte += " WHEN " + r.condition + " THEN " + Leve(r.numero, r.objet);
  return texte + " END;";
}

std::string Egalites(const DefRelation& r, const std::string& gauche, const std::string& droite, bool versEtrangere) {
  std::string texte;
  for (const auto& [nom, etranger] : r.champs) {
    if (!texte.empty()) texte += " AND ";
    texte += gauche + CiteIdent(versEtrangere ? etranger : nom) + " = " + droite + CiteIdent(versEtrangere ? nom : etranger);
  }
  return texte;
}

std::string NomDeclencheur(const char* prefixe, long long id, const char* suffixe) {
  return CiteIdent(std::string(prefixe) + std::to_string(id) + suffixe);
}

}  // namespace

std::string TypeSqlite(const DefChamp& c) {
  switch (c.type) {
    case dbBoolean:
    case dbByte:
    case dbInteger:
    case dbLong: return "INTEGER";
    case dbCurrency:
    case dbSingle:
    case dbDouble: return "REAL";
    case dbBinary:
    case dbLongBinary: return "BLOB";
    default: return "TEXT";
  }
}

// A Yes/No field never holds Null: whatever writes one there, by any path, leaves No. SQLite
// cannot change a value before it is written, so the row is set right at once after.
void DeclencheursOuiNon(const DefTable& table, std::vector<std::string>& sql) {
  std::string nuls, colonnes, affectations;
  for (const auto& c : table.champs) {
    if (c.type != dbBoolean) continue;
    const std::string nom = CiteIdent(c.nom);
    nuls += (nuls.empty() ? "NEW." : " OR NEW.") + nom + " IS NULL";
    colonnes += (colonnes.empty() ? "" : ", ") + nom;
    affectations += (affectations.empty() ? "" : ", ") + nom + " = coalesce(" + nom + ", 0)";
  }
  if (nuls.empty()) return;
  const std::string cible = CiteIdent(table.nom);
  const std::string corps = " WHEN " + nuls + " BEGIN UPDATE " + cible + " SET " + affectations + " WHERE rowid = NEW.rowid; END";
  sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRegle_", table.id, "_oui") + " AFTER INSERT ON " + cible + corps);
  sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRegle_", table.id, "_ouim") + " AFTER UPDATE OF " + colonnes + " ON " +
                cible + corps);
}

std::vector<std::string> Declencheurs(const DefTable& table, const Catalogue&) {
  std::vector<std::string> sql;
  auto regles = ReglesTable(table);
  std::string cible = CiteIdent(table.nom);
  if (!regles.empty()) {
    std::string controle = Controle(regles);
    sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRegle_", table.id, "_ins") + " BEFORE INSERT ON " + cible +
                  " BEGIN " + controle + " END");
    sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRegle_", table.id, "_maj") + " BEFORE UPDATE ON " + cible +
                  " BEGIN " + controle + " END");
  }
  DeclencheursOuiNon(table, sql);
  return sql;
}

std::vector<std::string> ReglesDuChamp(const DefChamp& champ) {
  DefTable seul;
  seul.champs.push_back(champ);
  std::vector<std::string> textes;
  for (const auto& r : ReglesTable(seul)) textes.push_back(" WHEN " + r.condition + " THEN " + Leve(r.numero, r.objet));
  return textes;
}

std::vector<std::string> DeclencheursRelation(const DefRelation& r, const Catalogue&) {
  std::vector<std::string> sql;
  if (!r.Appliquee() || r.champs.empty()) return sql;
  std::string primaire = CiteIdent(r.table), etrangere = CiteIdent(r.tableEtrangere);
  std::string nonNuls, colonnesEtrangeres, colonnesPrimaires, change;
  for (const auto& [nom, etranger] : r.champs) {
    nonNuls += (nonNuls.empty() ? "" : " AND ") + ("NEW." + CiteIdent(etranger)) + " IS NOT NULL";
    colonnesEtrangeres += (colonnesEtrangeres.empty() ? "" : ", ") + CiteIdent(etranger);
    colonnesPrimaires += (colonnesPrimaires.empty() ? "" : ", ") + CiteIdent(nom);
    change += (change.empty() ? "" : " OR ") + ("OLD." + CiteIdent(nom) + " IS NOT NEW." + CiteIdent(nom));
  }
  std::string orphelin = nonNuls + " AND NOT EXISTS (SELECT 1 FROM " + primaire + " WHERE " +
                         Egalites(r, "", "NEW.", false) + ")";
  std::string verifEnfant = "SELECT CASE WHEN NOT (" + orphelin + ") THEN NULL WHEN utireorg_ignore() THEN RAISE(IGNORE) ELSE " +
                            Leve(err::PasDEnregistrementLie, r.table) + " END;";
  sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRel_", r.id, "_ei") + " BEFORE INSERT ON " + etrangere + " BEGIN " +
                verifEnfant + " END");
  sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRel_", r.id, "_em") + " BEFORE UPDATE OF " + colonnesEtrangeres +
                " ON " + etrangere + " BEGIN " + verifEnfant + " END");

  std::string enfants = "EXISTS (SELECT 1 FROM " + etrangere + " WHERE " + Egalites(r, "", "OLD.", true) + ")";
  std::string refus = "SELECT CASE WHEN NOT " + enfants + " THEN NULL WHEN utireorg_ignore() THEN RAISE(IGNORE) ELSE " +
                      Leve(err::EnregistrementsLies, r.tableEtrangere) + " END;";
  if (r.attributs & dbRelationDeleteCascade)
    sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRel_", r.id, "_ps") + " AFTER DELETE ON " + primaire +
                  " BEGIN DELETE FROM " + etrangere + " WHERE " + Egalites(r, "", "OLD.", true) + "; END");
  else
    sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRel_", r.id, "_ps") + " BEFORE DELETE ON " + primaire +
                  " BEGIN " + refus + " END");
  if (r.attributs & dbRelationUpdateCascade) {
    std::string affectation;
    for (const auto& [nom, etranger] : r.champs)
      affectation += (affectation.empty() ? "" : ", ") + CiteIdent(etranger) + " = NEW." + CiteIdent(nom);
    sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRel_", r.id, "_pm") + " AFTER UPDATE OF " + colonnesPrimaires +
                  " ON " + primaire + " WHEN " + change + " BEGIN UPDATE " + etrangere + " SET " + affectation +
                  " WHERE " + Egalites(r, "", "OLD.", true) + "; END");
  } else {
    sql.push_back("CREATE TRIGGER " + NomDeclencheur("MSysRel_", r.id, "_pm") + " BEFORE UPDATE OF " + colonnesPrimaires +
                  " ON " + primaire + " WHEN " + change + " BEGIN " + refus + " END");
  }
  return sql;
}

}  // namespace moteur::regles

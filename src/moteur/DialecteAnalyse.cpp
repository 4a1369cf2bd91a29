// The dialect's parser: tokens to one SQLite statement, by recursive descent.
//
// Design: one Analyseur per statement walks the tokens once and writes the SQLite text as it
// goes; each expression carries whether it can stand bare as an operand and whether it can be
// null. Names go through the caller's Canonique to their catalogue spelling and are always
// quoted; texts are always quoted, never spliced. Every fault throws ErreurMoteur with the
// number Dialecte.h gives for its kind, and nesting deeper than kProfondeurMax is refused before
// it can exhaust the stack.
#include "moteur/Dialecte.h"

#include <algorithm>
#include <array>
#include <utility>

#include "moteur/DialecteInterne.h"
#include "moteur/Erreurs.h"
#include "texte/Texte.h"

namespace moteur::dialecte {

using namespace interne;

// The NUL check is the dialect's own: the translated statement is handed to SQLite, which would
// stop reading it at the NUL and run what came before.
std::string CiteNom(std::string_view nom) {
  if (nom.empty() || nom.find('\0') != std::string_view::npos) {
    throw ErreurMoteur(err::NomInvalide, {nom});
  }
  return texte::CiteIdent(nom);
}

std::string CiteTexte(std::string_view t) {
  if (t.find('\0') != std::string_view::npos) {
    throw ErreurMoteur(err::SyntaxeExpression, {"\\0"});
  }
  return texte::CiteLitteral(t);
}

namespace {

// Beyond this the input is hostile rather than a real query, and the recursion
// below must not be allowed to exhaust the stack.
constexpr int kProfondeurMax = 64;

// ---------------------------------------------------------------- translation

struct Expr {
  explicit Expr(std::string t, bool a = false, bool n = false) : texte(std::move(t)), atome(a), jamaisNull(n) {}

  std::string texte;
  bool atome;  // can stand as an operand without parentheses
  bool jamaisNull;
  std::optional<std::string> chaine;  // value, when the expression is a bare text literal
};

std::string Op(const Expr& e) { return e.atome ? e.texte : "(" + e.texte + ")"; }

struct Depuis {
  int tables = 0;
  bool simple = true;  // one plain table: no alias, join, subquery or parentheses
  std::string table;
};

struct Select {
  std::string sql;
  bool etoileSimple = false;
  std::string table;
  std::string filtre;
};

class Analyseur {
 public:
  Analyseur(std::string_view source, std::vector<Jeton> jetons, const Canonique& canonique, int erreurSyntaxe)
      : source_(source), jetons_(std::move(jetons)), canonique_(canonique), erreurSyntaxe_(erreurSyntaxe) {}

  Instruction Lance(Genre genre) {
    switch (genre) {
      case Genre::Select: {
        Select s = LitSelect();
        AttendFin();
        Instruction r{};
        r.genre = genre;
        r.sql = std::move(s.sql);
        return r;
      }
      case Genre::Insert: return LitInsert();
      case Genre::Update: return LitUpdate();
      case Genre::Delete: return LitDelete();
    }
    Erreur();
  }

 private:
  class Garde {
   public:
    explicit Garde(Analyseur& a) : a_(a) {
      if (++a_.profondeur_ > kProfondeurMax) a_.Erreur();
    }
    ~Garde() { --a_.profondeur_; }
    Garde(const Garde&) = delete;
    Garde& operator=(const Garde&) = delete;

   private:
    Analyseur& a_;
  };

  const Jeton& Courant() const { return jetons_[pos_]; }
  const Jeton& Suivant(size_t k) const { return jetons_[std::min(pos_ + k, jetons_.size() - 1)]; }
  void Avance() {
    if (jetons_[pos_].sorte != Sorte::Fin) ++pos_;
  }

  static bool EstMot(const Jeton& j, std::string_view maj) { return j.sorte == Sorte::Mot && j.maj == maj; }
  static bool EstSymbole(const Jeton& j, std::string_view s) { return j.sorte == Sorte::Symbole && j.texte == s; }
  static bool EstNom(const Jeton& j) {
    return j.sorte == Sorte::Crochet || (j.sorte == Sorte::Mot && !EstReserve(j.maj));
  }

  bool Accepte(std::string_view maj) {
    if (!EstMot(Courant(), maj)) return false;
    Avance();
    return true;
  }
  void Attend(std::string_view maj) {
    if (!Accepte(maj)) Erreur();
  }
  bool AccepteSymbole(std::string_view s) {
    if (!EstSymbole(Courant(), s)) return false;
    Avance();
    return true;
  }
  void AttendSymbole(std::string_view s) {
    if (!AccepteSymbole(s)) Erreur();
  }
  void AttendFin() {
    if (Courant().sorte != Sorte::Fin) Erreur();
  }

  [[noreturn]] void Erreur() const { ErreurA(Courant().debut, Courant().sorte == Sorte::Fin); }
  [[noreturn]] void ErreurA(size_t debut, bool avant = false) const {
    if (erreurSyntaxe_ == err::SyntaxeExpression) {
      throw ErreurMoteur(err::SyntaxeExpression, {Extrait(source_, debut, avant)});
    }
    throw ErreurMoteur(erreurSyntaxe_);
  }

  std::string Canon(const std::string& nom) const { return canonique_ ? canonique_(nom) : nom; }
  std::string Nom(const std::string& nom) const { return CiteNom(Canon(nom)); }

  // Table name, unquoted and canonical.
  std::string LitTable() {
    if (!EstNom(Courant())) Erreur();
    std::string t = Canon(Courant().texte);
    Avance();
    return t;
  }

  // An alias is the caller's own word, not a catalog name: kept as written.
  std::string LitAlias() {
    if (!EstNom(Courant())) Erreur();
    std::string a = CiteNom(Courant().texte);
    Avance();
    return a;
  }

  bool EstQualifieEtoile() const {
    return EstNom(Courant()) && EstSymbole(Suivant(1), ".") && EstSymbole(Suivant(2), "*");
  }

  static bool EstJointure(const Jeton& j) {
    return EstMot(j, "INNER") || EstMot(j, "LEFT") || EstMot(j, "RIGHT") || EstMot(j, "JOIN") || EstSymbole(j, ",");
  }

  // ------------------------------------------------------------ statements

  Select LitSelect() {
    Garde garde(*this);
    Attend("SELECT");
    bool distinct = false, tous = false;
    std::optional<std::string> limite;
    for (;;) {
      if (!distinct && !tous && Accepte("DISTINCT")) {
        distinct = true;
      } else if (!distinct && !tous && Accepte("ALL")) {
        tous = true;
      } else if (!limite && Accepte("TOP")) {
        const Jeton& n = Courant();
        if (n.sorte != Sorte::Nombre || !std::all_of(n.texte.begin(), n.texte.end(), EstChiffre)) Erreur();
        limite = n.texte;
        Avance();
        if (EstMot(Courant(), "PERCENT")) throw ErreurMoteur(err::OperationNonGeree);
      } else {
        break;
      }
    }

    std::string liste;
    int elements = 0;
    bool etoile = false;
    std::optional<std::string> qualifieEtoile;
    do {
      if (elements++ > 0) liste += ", ";
      if (AccepteSymbole("*")) {
        liste += "*";
        etoile = true;
      } else if (EstQualifieEtoile()) {
        std::string t = Canon(Courant().texte);
        liste += CiteNom(t) + ".*";
        qualifieEtoile = std::move(t);
        Avance();
        Avance();
        Avance();
      } else {
        liste += Expression().texte;
        if (Accepte("AS")) liste += " AS " + LitAlias();
      }
    } while (AccepteSymbole(","));
    // SELECT … INTO creates a table; that belongs to the schema side of the engine.
    if (EstMot(Courant(), "INTO")) throw ErreurMoteur(err::OperationNonGeree);

    Select r;
    r.sql = distinct ? "SELECT DISTINCT " : "SELECT ";
    r.sql += liste;
    Depuis depuis;
    if (Accepte("FROM")) r.sql += " FROM " + LitDepuis(depuis);
    if (Accepte("WHERE")) {
      r.filtre = Expression().texte;
      r.sql += " WHERE " + r.filtre;
    }
    bool complement = false;
    if (Accepte("GROUP")) {
      Attend("BY");
      r.sql += " GROUP BY " + ListeExpressions(false);
      complement = true;
    }
    if (Accepte("HAVING")) {
      r.sql += " HAVING " + Expression().texte;
      complement = true;
    }
    if (Accepte("ORDER")) {
      Attend("BY");
      r.sql += " ORDER BY " + ListeExpressions(true);
      complement = true;
    }
    if (limite) r.sql += " LIMIT " + *limite;

    const bool seuleEtoile = elements == 1 && (etoile || (qualifieEtoile && MemeNom(*qualifieEtoile, depuis.table)));
    r.etoileSimple = seuleEtoile && !distinct && !limite && !complement && depuis.simple && depuis.tables == 1;
    if (r.etoileSimple) r.table = depuis.table;
    return r;
  }

  std::string ListeExpressions(bool tri) {
    std::string r;
    do {
      if (!r.empty()) r += ", ";
      r += Expression().texte;
      if (tri) {
        if (Accepte("ASC")) {
          r += " ASC";
        } else if (Accepte("DESC")) {
          r += " DESC";
        }
      }
    } while (AccepteSymbole(","));
    return r;
  }

  std::string LitDepuis(Depuis& d) {
    std::string r = LitJointure(d);
    while (AccepteSymbole(",")) {
      d.simple = false;
      r += ", " + LitJointure(d);
    }
    return r;
  }

  std::string LitJointure(Depuis& d) {
    std::string r = LitSource(d);
    for (;;) {
      std::string_view genre;
      if (Accepte("INNER")) {
        genre = " INNER JOIN ";
      } else if (Accepte("LEFT")) {
        Accepte("OUTER");
        genre = " LEFT JOIN ";
      } else if (Accepte("RIGHT")) {
        Accepte("OUTER");
        genre = " RIGHT JOIN ";
      } else {
        return r;
      }
      Attend("JOIN");
      d.simple = false;
      r += genre;
      r += LitSource(d);
      Attend("ON");
      r += " ON " + Expression().texte;
    }
  }

  std::string LitSource(Depuis& d) {
    if (AccepteSymbole("(")) {
      Garde garde(*this);
      d.simple = false;
      std::string r = "(";
      if (EstMot(Courant(), "SELECT")) {
        r += LitSelect().sql;
        AttendSymbole(")");
        r += ")";
        if (Accepte("AS")) {
          r += " AS " + LitAlias();
        } else if (EstNom(Courant())) {
          r += " AS " + LitAlias();
        }
        return r;
      }
      Depuis interieur;
      r += LitDepuis(interieur);
      d.tables += interieur.tables;
      AttendSymbole(")");
      return r + ")";
    }
    const std::string table = LitTable();
    // Reading another file from inside a query has no SQLite equivalent here.
    if (EstMot(Courant(), "IN")) throw ErreurMoteur(err::OperationNonGeree);
    std::string r = CiteNom(table);
    bool alias = false;
    if (Accepte("AS") || EstNom(Courant())) {
      r += " AS " + LitAlias();
      alias = true;
    }
    if (++d.tables == 1) d.table = table;
    if (alias) d.simple = false;
    return r;
  }

  Instruction LitInsert() {
    Instruction r{};
    r.genre = Genre::Insert;
    Attend("INSERT");
    Attend("INTO");
    r.tableCible = LitTable();
    if (Accepte("IN")) r.baseExterne = LitBaseExterne();
    if (AccepteSymbole("(")) {
      do {
        if (!EstNom(Courant())) Erreur();
        std::string colonne = Courant().texte;
        Avance();
        if (AccepteSymbole(".")) {
          if (!MemeNom(Canon(colonne), r.tableCible)) Erreur();
          if (Courant().sorte != Sorte::Mot && Courant().sorte != Sorte::Crochet) Erreur();
          colonne = Courant().texte;
          Avance();
        }
        r.colonnesCible.push_back(Canon(colonne));
      } while (AccepteSymbole(","));
      AttendSymbole(")");
    }
    if (EstMot(Courant(), "SELECT")) {
      Select s = LitSelect();
      r.source = std::move(s.sql);
      r.selectEtoile = s.etoileSimple;
      if (r.selectEtoile) {
        r.tableSource = std::move(s.table);
        r.filtreSource = std::move(s.filtre);
      }
    } else if (Accepte("VALUES")) {
      AttendSymbole("(");
      r.source = "VALUES (";
      size_t valeurs = 0;
      do {
        if (valeurs++ > 0) r.source += ", ";
        r.source += Expression().texte;
      } while (AccepteSymbole(","));
      AttendSymbole(")");
      r.source += ")";
      if (!r.colonnesCible.empty() && valeurs != r.colonnesCible.size()) Erreur();
    } else {
      Erreur();
    }
    AttendFin();
    if (!r.baseExterne) {
      r.sql = "INSERT INTO " + CiteNom(r.tableCible);
      if (!r.colonnesCible.empty()) {
        r.sql += " (";
        for (size_t k = 0; k < r.colonnesCible.size(); ++k) {
          if (k > 0) r.sql += ", ";
          r.sql += CiteNom(r.colonnesCible[k]);
        }
        r.sql += ")";
      }
      r.sql += " " + r.source;
    }
    return r;
  }

  // IN 'path', or the connect-string form IN '' [;DATABASE=path].
  std::string LitBaseExterne() {
    if (Courant().sorte != Sorte::Chaine) Erreur();
    std::string chemin = Courant().texte;
    Avance();
    if (Courant().sorte == Sorte::Crochet) {
      const std::string connexion = Courant().texte;
      Avance();
      // Only the native file type is reachable; a driver name before the first
      // ';' designates some other format.
      const size_t pointVirgule = connexion.find(';');
      if (pointVirgule != 0) throw ErreurMoteur(err::OperationNonGeree);
      std::string base;
      size_t k = pointVirgule;
      while (k != std::string::npos && k < connexion.size()) {
        const size_t suivant = connexion.find(';', k + 1);
        const std::string partie =
            connexion.substr(k + 1, suivant == std::string::npos ? std::string::npos : suivant - k - 1);
        if (Majuscules(partie.substr(0, 9)) == "DATABASE=") base = partie.substr(9);
        k = suivant;
      }
      if (chemin.empty()) chemin = base;
    }
    if (chemin.empty()) Erreur();
    return chemin;
  }

  Instruction LitUpdate() {
    Instruction r{};
    r.genre = Genre::Update;
    Attend("UPDATE");
    r.tableCible = LitTable();
    if (EstMot(Courant(), "IN") || EstJointure(Courant())) throw ErreurMoteur(err::OperationNonGeree);
    Attend("SET");
    std::string affectations;
    do {
      if (!EstNom(Courant())) Erreur();
      std::string champ = Courant().texte;
      Avance();
      // SQLite refuses a qualified column on the left of '=' in SET.
      if (AccepteSymbole(".")) {
        if (!MemeNom(Canon(champ), r.tableCible)) Erreur();
        if (Courant().sorte != Sorte::Mot && Courant().sorte != Sorte::Crochet) Erreur();
        champ = Courant().texte;
        Avance();
      }
      AttendSymbole("=");
      if (!affectations.empty()) affectations += ", ";
      std::string expression = Expression().texte;
      affectations += Nom(champ) + " = " + expression;
      r.affectations.emplace_back(Canon(champ), std::move(expression));
    } while (AccepteSymbole(","));
    r.sql = "UPDATE " + CiteNom(r.tableCible) + " SET " + affectations;
    if (Accepte("WHERE")) {
      r.condition = Expression().texte;
      r.sql += " WHERE " + r.condition;
    }
    AttendFin();
    return r;
  }

  Instruction LitDelete() {
    Instruction r{};
    r.genre = Genre::Delete;
    Attend("DELETE");
    std::optional<std::string> qualifie;
    if (!AccepteSymbole("*") && EstQualifieEtoile()) {
      qualifie = Canon(Courant().texte);
      Avance();
      Avance();
      Avance();
    }
    Attend("FROM");
    r.tableCible = LitTable();
    if (EstMot(Courant(), "IN") || EstJointure(Courant())) throw ErreurMoteur(err::OperationNonGeree);
    if (qualifie && !MemeNom(*qualifie, r.tableCible)) Erreur();
    r.sql = "DELETE FROM " + CiteNom(r.tableCible);
    if (Accepte("WHERE")) r.sql += " WHERE " + Expression().texte;
    AttendFin();
    return r;
  }

  // ------------------------------------------------------------ expressions
  //
  // Levels follow the source dialect's precedence, loosest first: Or, And, Not,
  // comparisons, &, + -, Mod, \, * /, unary minus. SQLite ranks several of these
  // differently (|| binds tightest there), so every compound operand is
  // parenthesised; chains are built left to right without re-copying the left
  // side so that long inputs stay linear.

  Expr Expression() {
    Garde garde(*this);
    return Ou();
  }

  Expr Ou() {
    Expr g = Et();
    if (!EstMot(Courant(), "OR")) return g;
    std::string t = Op(g);
    while (Accepte("OR")) t += " OR " + Op(Et());
    return Expr(std::move(t));
  }

  Expr Et() {
    Expr g = Non();
    if (!EstMot(Courant(), "AND")) return g;
    std::string t = Op(g);
    while (Accepte("AND")) t += " AND " + Op(Non());
    return Expr(std::move(t));
  }

  Expr Non() {
    if (Accepte("NOT")) {
      Garde garde(*this);
      return Expr("NOT " + Op(Non()));
    }
    return Comparaison();
  }

  Expr Comparaison() {
    Expr g = Concatenation();
    // The left side of a chain is wrapped by adding '(' in front once at the end.
    std::string corps;
    size_t ouvrantes = 0;
    bool premier = true;
    auto enveloppe = [&]() {
      if (premier) {
        corps = Op(g);
        premier = false;
      } else {
        ++ouvrantes;
        corps += ")";
      }
    };
    for (;;) {
      const Jeton& j = Courant();
      if (j.sorte == Sorte::Symbole && (j.texte == "=" || j.texte == "<>" || j.texte == "<" || j.texte == ">" ||
                                        j.texte == "<=" || j.texte == ">=")) {
        const std::string op = j.texte;
        Avance();
        enveloppe();
        corps += " " + op + " " + Op(Concatenation());
        continue;
      }
      if (EstMot(j, "IS")) {
        Avance();
        const bool non = Accepte("NOT");
        Attend("NULL");
        enveloppe();
        corps += non ? " IS NOT NULL" : " IS NULL";
        continue;
      }
      const bool non =
          EstMot(j, "NOT") && (EstMot(Suivant(1), "LIKE") || EstMot(Suivant(1), "BETWEEN") || EstMot(Suivant(1), "IN"));
      if (non) Avance();
      const std::string negation = non ? " NOT" : "";
      if (Accepte("BETWEEN")) {
        enveloppe();
        corps += negation + " BETWEEN " + Op(Concatenation());
        Attend("AND");
        corps += " AND " + Op(Concatenation());
      } else if (Accepte("IN")) {
        enveloppe();
        corps += negation + " IN (" + ListeIn() + ")";
      } else if (EstMot(Courant(), "LIKE")) {
        const size_t debut = Courant().debut;
        Avance();
        enveloppe();
        corps += negation + Like(debut);
      } else {
        break;
      }
    }
    if (premier) return g;
    return Expr(std::string(ouvrantes, '(') + corps);
  }

  std::string ListeIn() {
    AttendSymbole("(");
    std::string r;
    if (EstMot(Courant(), "SELECT")) {
      r = LitSelect().sql;
    } else {
      do {
        if (!r.empty()) r += ", ";
        r += Expression().texte;
      } while (AccepteSymbole(","));
    }
    AttendSymbole(")");
    return r;
  }

  // Text after the left operand: " LIKE …", " GLOB …".
  std::string Like(size_t debut) {
    const Expr motif = Concatenation();
    if (motif.chaine) {
      auto m = TraduitMotif(*motif.chaine);
      if (!m) ErreurA(debut);
      if (m->glob) return " GLOB " + CiteTexte(m->texte);
      return " LIKE " + CiteTexte(m->texte) + (m->echappe ? " ESCAPE '\\'" : "");
    }
    // Pattern known only when the row is read: translate * and ? on the fly,
    // after neutralising SQLite's own wildcards.
    return " LIKE replace(replace(replace(replace(replace(" + motif.texte +
           ", '\\', '\\\\'), '%', '\\%'), '_', '\\_'), '*', '%'), '?', '_') ESCAPE '\\'";
  }

  // Null counts as a zero-length string in '&', so only an all-Null chain would
  // be Null there; the translation yields '' in that single case.
  Expr Concatenation() {
    Expr g = Addition();
    if (!EstSymbole(Courant(), "&")) return g;
    auto sansNull = [](const Expr& e) { return e.jamaisNull ? Op(e) : "ifnull(" + e.texte + ", '')"; };
    std::string t = sansNull(g);
    while (AccepteSymbole("&")) t += " || " + sansNull(Addition());
    return Expr(std::move(t), false, true);
  }

  Expr Addition() {
    Expr g = Modulo();
    if (!EstSymbole(Courant(), "+") && !EstSymbole(Courant(), "-")) return g;
    std::string t = Op(g);
    for (;;) {
      if (AccepteSymbole("+")) {
        t += " + " + Op(Modulo());
      } else if (AccepteSymbole("-")) {
        t += " - " + Op(Modulo());
      } else {
        return Expr(std::move(t));
      }
    }
  }

  Expr Modulo() {
    Expr g = DivisionEntiere();
    if (!EstMot(Courant(), "MOD")) return g;
    std::string t = Op(g);
    while (Accepte("MOD")) t += " % " + Op(DivisionEntiere());
    return Expr(std::move(t));
  }

  Expr DivisionEntiere() {
    Expr g = Multiplication();
    if (!EstSymbole(Courant(), "\\")) return g;
    std::string suite;
    size_t n = 0;
    while (AccepteSymbole("\\")) {
      suite += ")/(" + Multiplication().texte + ") AS INTEGER)";
      ++n;
    }
    std::string t;
    for (size_t k = 0; k < n; ++k) t += "CAST((";
    t += g.texte + suite;
    return Expr(std::move(t), true);
  }

  // '/' always divides in floating point in the source dialect, whereas SQLite
  // truncates when both operands are integers.
  Expr Multiplication() {
    Expr g = Unaire();
    if (!EstSymbole(Courant(), "*") && !EstSymbole(Courant(), "/")) return g;
    std::string t = Op(g);
    for (;;) {
      if (AccepteSymbole("*")) {
        t += " * " + Op(Unaire());
      } else if (AccepteSymbole("/")) {
        t += " / CAST(" + Unaire().texte + " AS REAL)";
      } else {
        return Expr(std::move(t));
      }
    }
  }

  Expr Unaire() {
    if (AccepteSymbole("-")) {
      Garde garde(*this);
      // Op() guarantees a '(' or an operand that does not start with '-', so the
      // output never contains "--", which SQLite would read as a comment.
      return Expr("-" + Op(Unaire()));
    }
    if (AccepteSymbole("+")) {
      Garde garde(*this);
      return Unaire();
    }
    return Primaire();
  }

  Expr Primaire() {
    const Jeton& j = Courant();
    switch (j.sorte) {
      case Sorte::Chaine: {
        Expr e(CiteTexte(j.texte), true, true);
        e.chaine = j.texte;
        Avance();
        return e;
      }
      case Sorte::Nombre: {
        Expr e(j.texte, true, true);
        Avance();
        return e;
      }
      case Sorte::Date: {
        Expr e(CiteTexte(j.texte), true, true);
        Avance();
        return e;
      }
      case Sorte::Crochet: return Reference();
      case Sorte::Symbole: {
        if (!AccepteSymbole("(")) Erreur();
        if (EstMot(Courant(), "SELECT")) {
          Expr e("(" + LitSelect().sql + ")", true);
          AttendSymbole(")");
          return e;
        }
        Expr e = Expression();
        AttendSymbole(")");
        return e;
      }
      case Sorte::Mot: break;
      case Sorte::Fin: Erreur();
    }
    const std::string& m = j.maj;
    if (m == "NULL") {
      Avance();
      return Expr("NULL", true);
    }
    if (m == "TRUE" || m == "YES" || m == "OUI") {
      Avance();
      return Expr("-1", false, true);
    }
    if (m == "FALSE" || m == "NO" || m == "NON") {
      Avance();
      return Expr("0", true, true);
    }
    if (m == "EXISTS") {
      Avance();
      AttendSymbole("(");
      if (!EstMot(Courant(), "SELECT")) Erreur();
      Expr e("EXISTS (" + LitSelect().sql + ")", true, true);
      AttendSymbole(")");
      return e;
    }
    if (EstSymbole(Suivant(1), "(")) {
      if (EstReserve(m) && m != "LEFT" && m != "RIGHT") Erreur();
      return Fonction();
    }
    if (EstReserve(m)) Erreur();
    return Reference();
  }

  Expr Reference() {
    const std::string premier = Courant().texte;
    Avance();
    if (AccepteSymbole(".")) {
      const Jeton& champ = Courant();
      if (champ.sorte != Sorte::Mot && champ.sorte != Sorte::Crochet) Erreur();
      Expr e(Nom(premier) + "." + Nom(champ.texte), true);
      Avance();
      return e;
    }
    return Expr(Nom(premier), true);
  }

  Expr Fonction() {
    const std::string nom = Courant().texte;
    const std::string m = Courant().maj;
    const size_t debut = Courant().debut;
    static constexpr std::array<std::string_view, 24> kConnues{
        "ISNULL", "NZ",  "IIF",  "LEN",  "UCASE", "LCASE", "LEFT",  "RIGHT", "MID", "TRIM", "LTRIM", "RTRIM",
        "DATE",   "NOW", "CSTR", "CLNG", "CINT",  "CDBL",  "COUNT", "SUM",   "MIN", "MAX",  "AVG",   "ABS"};
    if (std::find(kConnues.begin(), kConnues.end(), m) == kConnues.end()) {
      throw ErreurMoteur(err::SyntaxeExpression, {nom});
    }
    Avance();
    AttendSymbole("(");
    if (m == "COUNT" && AccepteSymbole("*")) {
      AttendSymbole(")");
      return Expr("count(*)", true, true);
    }
    std::vector<std::string> a;
    if (!AccepteSymbole(")")) {
      do a.push_back(Expression().texte);
      while (AccepteSymbole(","));
      AttendSymbole(")");
    }
    auto arite = [&](size_t min, size_t max) {
      if (a.size() < min || a.size() > max) ErreurA(debut);
    };
    auto appel = [&](std::string_view sqlite) {
      std::string t(sqlite);
      t += "(";
      for (size_t k = 0; k < a.size(); ++k) t += (k > 0 ? ", " : "") + a[k];
      return Expr(t + ")", true);
    };

    if (m == "ISNULL") {
      arite(1, 1);
      return Expr("((" + a[0] + ") IS NULL)", true, true);
    }
    if (m == "NZ") {
      arite(1, 2);
      return Expr("ifnull(" + a[0] + ", " + (a.size() == 2 ? a[1] : "''") + ")", true);
    }
    if (m == "IIF") {
      arite(3, 3);
      return appel("iif");
    }
    if (m == "LEN") {
      arite(1, 1);
      return appel("length");
    }
    if (m == "UCASE" || m == "LCASE") {
      arite(1, 1);
      return appel(m == "UCASE" ? "upper" : "lower");
    }
    if (m == "LEFT") {
      arite(2, 2);
      return Expr("substr(" + a[0] + ", 1, " + a[1] + ")", true);
    }
    if (m == "RIGHT") {
      arite(2, 2);
      // substr(s, -0) would return the whole string; an explicit length gives ''.
      // The count appears twice, so a huge one could double the output at every
      // nesting level.
      if (a[1].size() > 1000) ErreurA(debut);
      return Expr("substr(" + a[0] + ", -(" + a[1] + "), " + a[1] + ")", true);
    }
    if (m == "MID") {
      arite(2, 3);
      return appel("substr");
    }
    if (m == "TRIM" || m == "LTRIM" || m == "RTRIM") {
      arite(1, 1);
      return appel(m == "TRIM" ? "trim" : m == "LTRIM" ? "ltrim" : "rtrim");
    }
    if (m == "DATE") {
      arite(0, 0);
      return Expr("(date('now','localtime')||' 00:00:00')", true, true);
    }
    if (m == "NOW") {
      arite(0, 0);
      return Expr("datetime('now','localtime')", true, true);
    }
    if (m == "CSTR" || m == "CDBL") {
      arite(1, 1);
      return Expr("CAST(" + a[0] + (m == "CSTR" ? " AS TEXT)" : " AS REAL)"), true);
    }
    if (m == "CLNG" || m == "CINT") {
      arite(1, 1);
      return Expr("CAST(round(" + a[0] + ") AS INTEGER)", true);
    }
    if (m == "ABS") {
      arite(1, 1);
      return appel("abs");
    }
    // Aggregates: a single argument keeps min/max from turning into SQLite's
    // scalar multi-argument forms.
    arite(1, 1);
    Expr r = appel(texte::PlieNom(m, Pliage::Ascii));
    r.jamaisNull = m == "COUNT";
    return r;
  }

  std::string_view source_;
  std::vector<Jeton> jetons_;
  const Canonique& canonique_;
  int erreurSyntaxe_;
  size_t pos_ = 0;
  int profondeur_ = 0;
};

}  // namespace

Instruction Traduit(std::string_view requete, const Canonique& canonique) {
  Lexique lexique = Decoupe(requete);
  const Jeton& premier = lexique.jetons.front();
  Genre genre;
  int erreurSyntaxe = err::SyntaxeExpression;
  if (premier.sorte != Sorte::Mot) {
    throw ErreurMoteur(err::InstructionInvalide);
  } else if (premier.maj == "SELECT") {
    genre = Genre::Select;
  } else if (premier.maj == "INSERT") {
    genre = Genre::Insert;
    erreurSyntaxe = err::SyntaxeInsert;
  } else if (premier.maj == "UPDATE") {
    genre = Genre::Update;
    erreurSyntaxe = err::SyntaxeUpdate;
  } else if (premier.maj == "DELETE") {
    genre = Genre::Delete;
  } else {
    throw ErreurMoteur(err::InstructionInvalide);
  }
  if (lexique.erreur) {
    const ErreurLexicale& e = *lexique.erreur;
    const int numero = e.numero != 0 ? e.numero : erreurSyntaxe;
    if (numero == err::SyntaxeExpression) {
      throw ErreurMoteur(numero, {e.argument.empty() ? Extrait(requete, e.debut, false) : e.argument});
    }
    throw ErreurMoteur(numero);
  }
  Analyseur analyseur(requete, std::move(lexique.jetons), canonique, erreurSyntaxe);
  return analyseur.Lance(genre);
}

}  // namespace moteur::dialecte

// The catalog: tables "MSys…" that describe tables, fields, indexes, relations and properties.
// Each change runs inside a savepoint and reaches memory only once the file holds it.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur {

std::string ObjetInconnu::Description() const {
  // Names come from the file: a line break in one would forge a journal line.
  if (genre == "définition")
    return "définition de la table « " + Affichable(nom) + " » modifiée (" + Affichable(ecart) + ")";
  std::string texte = genre + " « " + Affichable(nom) + " »";
  if (modifie) texte += " modifié";
  if (!table.empty()) texte += " (table " + Affichable(table) + ")";
  return texte;
}

namespace {

const char* const SchemaCatalogue = R"(
CREATE TABLE MSysTables(Id INTEGER PRIMARY KEY, Name TEXT NOT NULL, Attributes INTEGER NOT NULL DEFAULT 0);
CREATE TABLE MSysColumns(Id INTEGER PRIMARY KEY, TableId INTEGER NOT NULL, Name TEXT NOT NULL, Type INTEGER NOT NULL,
  Size INTEGER NOT NULL, Attributes INTEGER NOT NULL, DefaultValue TEXT NOT NULL DEFAULT '', Required INTEGER NOT NULL,
  AllowZeroLength INTEGER NOT NULL, OrdinalPosition INTEGER NOT NULL);
CREATE TABLE MSysIndexes(Id INTEGER PRIMARY KEY, TableId INTEGER NOT NULL, Name TEXT NOT NULL, Fields TEXT NOT NULL,
  IsUnique INTEGER NOT NULL, IsPrimary INTEGER NOT NULL, IgnoreNulls INTEGER NOT NULL DEFAULT 0);
CREATE TABLE MSysRelationships(Id INTEGER PRIMARY KEY, Name TEXT NOT NULL, TableName TEXT NOT NULL,
  ForeignTableName TEXT NOT NULL, Attributes INTEGER NOT NULL);
CREATE TABLE MSysRelationshipFields(RelationId INTEGER NOT NULL, Position INTEGER NOT NULL, Name TEXT NOT NULL,
  ForeignName TEXT NOT NULL);
CREATE TABLE MSysProperties(OwnerKind INTEGER NOT NULL, OwnerId INTEGER NOT NULL, Name TEXT NOT NULL,
  Type INTEGER NOT NULL, Value);
CREATE INDEX MSysColumnsTable ON MSysColumns(TableId);
CREATE INDEX MSysIndexesTable ON MSysIndexes(TableId);
CREATE INDEX MSysPropertiesOwner ON MSysProperties(OwnerKind, OwnerId);
)";

using sql::Operation;
using sql::Requete;

Valeur LitValeurPropriete(const Valeur& brute, int type) {
  try {
    return conversion::DepuisStockage(brute, type);
  } catch (const ErreurMoteur&) {
    return brute;
  }
}

int TypeSystemeDepuis(const std::string& declare) {
  std::string t = PlieNom(declare);
  if (t.find("int") != std::string::npos) return dbLong;
  if (t.empty()) return dbLongBinary;
  return dbMemo;
}

void ChargeTablesSysteme(BaseEtat& base) {
  Requete r(base.db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 'MSys%' ORDER BY name");
  long long id = 0;
  while (r.Pas()) {
    auto def = std::make_unique<DefTable>();
    def->id = --id;
    def->nom = r.Texte(0);
    def->attributs = dbSystemObject;
    Requete colonnes(base.db, "SELECT name, type FROM pragma_table_info(?)");
    colonnes.Lie(1, std::string_view(def->nom));
    int ordinal = 0;
    while (colonnes.Pas()) {
      DefChamp c;
      c.nom = colonnes.Texte(0);
      c.type = TypeSystemeDepuis(colonnes.Texte(1));
      c.taille = TailleFixe(c.type);
      c.ordinal = ordinal++;
      c.zeroLongueur = true;
      def->champs.push_back(std::move(c));
    }
    base.cat.tables.push_back(std::move(def));
  }
}

void VerifieChamp(const DefChamp& c) {
  VerifieNom(c.nom);
  if (!TypeChampValide(c.type)) throw ErreurMoteur(3259);
  if (c.type == dbText && (c.taille < 1 || c.taille > TailleTexteMax)) throw ErreurMoteur(3259);
  if ((c.attributs & dbAutoIncrField) && c.type != dbLong) throw ErreurMoteur(3259);
  if (!c.defaut.empty() && !conversion::DefautValide(c.defaut)) throw ErreurMoteur(err::SyntaxeExpression, {c.defaut});
}

void InsereChamp(sqlite3* db, long long tableId, DefChamp& c) {
  Requete r(db,
            "INSERT INTO MSysColumns(TableId, Name, Type, Size, Attributes, DefaultValue, Required, AllowZeroLength, "
            "OrdinalPosition) VALUES (?,?,?,?,?,?,?,?,?)",
            Operation::Structure);
  r.Lie(1, tableId).Lie(2, std::string_view(c.nom)).Lie(3, static_cast<long long>(c.type));
  r.Lie(4, static_cast<long long>(c.taille)).Lie(5, c.attributs).Lie(6, std::string_view(c.defaut));
  r.Lie(7, static_cast<long long>(c.requis)).Lie(8, static_cast<long long>(c.zeroLongueur));
  r.Lie(9, static_cast<long long>(c.ordinal));
  r.Termine();
  c.id = sqlite3_last_insert_rowid(db);
}

void InserePropriete(sqlite3* db, Proprietaire genre, long long id, const DefPropriete& p) {
  Requete r(db, "INSERT INTO MSysProperties(OwnerKind, OwnerId, Name, Type, Value) VALUES (?,?,?,?,?)",
            Operation::Structure);
  r.Lie(1, static_cast<long long>(genre)).Lie(2, id).Lie(3, std::string_view(p.nom));
  r.Lie(4, static_cast<long long>(p.type)).Lie(5, conversion::VersStockage(p.valeur, p.type));
  r.Termine();
}

void ExecuteLie(sqlite3* db, std::string_view texte, std::initializer_list<Valeur> valeurs) {
  Requete r(db, texte, Operation::Structure);
  int rang = 1;
  for (const auto& v : valeurs) r.Lie(rang++, v);
  r.Termine();
}

std::string ColonnesIndex(std::string_view champs) {
  std::string colonnes;
  std::string_view reste = champs;
  while (!reste.empty()) {
    auto fin = reste.find(';');
    std::string_view nom = reste.substr(0, fin);
    bool descendant = !nom.empty() && nom.front() == '-';
    if (!nom.empty() && (nom.front() == '+' || nom.front() == '-')) nom.remove_prefix(1);
    colonnes += (colonnes.empty() ? "" : ", ") + CiteIdent(nom) + (descendant ? " DESC" : " ASC");
    reste = fin == std::string_view::npos ? std::string_view() : reste.substr(fin + 1);
  }
  return colonnes;
}

std::string NomIndexSqlite(long long id) { return CiteIdent("MSysIdx_" + std::to_string(id)); }

void CreeIndexSqlite(sqlite3* db, const DefTable& table, const DefIndex& index) {
  std::string texte = std::string("CREATE ") + (index.unique || index.primaire ? "UNIQUE " : "") + "INDEX " +
                      NomIndexSqlite(index.id) + " ON " + CiteIdent(table.nom) + " (" + ColonnesIndex(index.champs) + ")";
  sql::Execute(db, texte, Operation::Structure);
}

void VerifieCleSansNull(sqlite3* db, const DefTable& table, const DefIndex& index) {
  std::string condition;
  std::string_view reste = index.champs;
  std::string premier;
  while (!reste.empty()) {
    auto fin = reste.find(';');
    std::string nom(reste.substr(1, fin == std::string_view::npos ? std::string_view::npos : fin - 1));
    if (premier.empty()) premier = nom;
    condition += (condition.empty() ? "" : " OR ") + CiteIdent(nom) + " IS NULL";
    reste = fin == std::string_view::npos ? std::string_view() : reste.substr(fin + 1);
  }
  Requete r(db, "SELECT 1 FROM " + CiteIdent(table.nom) + " WHERE " + condition + " LIMIT 1");
  if (r.Pas()) throw ErreurMoteur(err::CleNulle, {premier});
}

void InsereIndex(sqlite3* db, long long tableId, DefIndex& index) {
  ExecuteLie(db, "INSERT INTO MSysIndexes(TableId, Name, Fields, IsUnique, IsPrimary, IgnoreNulls) VALUES (?,?,?,?,?,?)",
             {Valeur(tableId), Valeur(index.nom), Valeur(index.champs), Valeur(static_cast<long long>(index.unique)),
              Valeur(static_cast<long long>(index.primaire)), Valeur(static_cast<long long>(index.ignoreNulls))});
  index.id = sqlite3_last_insert_rowid(db);
}

void SupprimeDeclencheursTable(sqlite3* db, long long id) {
  for (const char* suffixe : {"_ins", "_maj", "_oui", "_ouim"})
    sql::Execute(db, "DROP TRIGGER IF EXISTS " + CiteIdent("MSysRegle_" + std::to_string(id) + suffixe), Operation::Structure);
}

void SupprimeDeclencheursRelation(sqlite3* db, long long id) {
  for (const char* suffixe : {"_ei", "_em", "_ps", "_pm"})
    sql::Execute(db, "DROP TRIGGER IF EXISTS " + CiteIdent("MSysRel_" + std::to_string(id) + suffixe), Operation::Structure);
}

// The triggers the engine writes are the only ones it lets run.
void CreeDeclencheurs(BaseEtat& base, const std::vector<std::string>& textes) {
  for (const auto& t : textes) {
    sql::Execute(base.db, t, Operation::Structure);
    constexpr std::string_view debut = "CREATE TRIGGER \"";
    std::string_view nom(t);
    nom.remove_prefix(debut.size());
    base.declencheursSurs.insert(std::string(nom.substr(0, nom.find('"'))));
  }
}

void RegenereTable(BaseEtat& base, const DefTable& table) {
  SupprimeDeclencheursTable(base.db, table.id);
  CreeDeclencheurs(base, regles::Declencheurs(table, base.cat));
}

// Whether a record of the foreign table names a record the primary table does not have.
bool AOrphelins(sqlite3* db, const DefRelation& r) {
  std::string nonNuls, egal;
  for (const auto& [nom, etranger] : r.champs) {
    nonNuls += (nonNuls.empty() ? "" : " AND ") + ("e." + CiteIdent(etranger)) + " IS NOT NULL";
    egal += (egal.empty() ? "" : " AND ") + ("p." + CiteIdent(nom)) + " = e." + CiteIdent(etranger);
  }
  Requete orphelins(db, "SELECT 1 FROM " + CiteIdent(r.tableEtrangere) + " AS e WHERE " + nonNuls +
                            " AND NOT EXISTS (SELECT 1 FROM " + CiteIdent(r.table) + " AS p WHERE " + egal +
                            ") LIMIT 1");
  return orphelins.Pas();
}

bool Concerne(const DefRelation& r, std::string_view table) { return MemeNom(r.table, table) || MemeNom(r.tableEtrangere, table); }

void RegenereRelations(BaseEtat& base, std::string_view table) {
  for (const auto& r : base.cat.relations) {
    if (!Concerne(*r, table)) continue;
    SupprimeDeclencheursRelation(base.db, r->id);
    CreeDeclencheurs(base, regles::DeclencheursRelation(*r, base.cat));
  }
}

DefTable& TableExistante(BaseEtat& base, long long id) {
  DefTable* t = base.cat.TableParId(id);
  if (!t) throw ErreurMoteur(err::ElementIntrouvable);
  return *t;
}

void VerifieModifiable(const DefTable& t) {
  if (t.Systeme() && t.id < 0) throw ErreurMoteur(err::OperationInvalide);
}

// SQLite cannot turn an existing column into the table's counter: rebuild the table with it.
void ReconstruitAvecCompteur(BaseEtat& base, const DefTable& avant, const DefTable& apres) {
  std::string temporaire = "MSysReconstruction_" + std::to_string(apres.id);
  std::string colonnes, anciennes;
  for (const auto& c : apres.champs) {
    colonnes += (colonnes.empty() ? "" : ", ") + CiteIdent(c.nom) + " " + regles::TypeSqlite(c) +
                ((c.attributs & dbAutoIncrField) ? " PRIMARY KEY AUTOINCREMENT" : "");
  }
  std::string cibles, sources;
  for (const auto& c : apres.champs) {
    cibles += (cibles.empty() ? "" : ", ") + CiteIdent(c.nom);
    bool ancien = avant.Champ(c.nom) != nullptr;
    sources += std::string(sources.empty() ? "" : ", ") + (ancien ? CiteIdent(c.nom) : (c.attributs & dbAutoIncrField) ? "rowid" : "NULL");
  }
  SupprimeDeclencheursTable(base.db, apres.id);
  // SQLite checks every trigger when a table is renamed: those of the relations still name the
  // dropped table, so they go now and the caller builds them again.
  for (const auto& r : base.cat.relations)
    if (Concerne(*r, avant.nom)) SupprimeDeclencheursRelation(base.db, r->id);
  sql::Execute(base.db, "CREATE TABLE " + CiteIdent(temporaire) + " (" + colonnes + ")", Operation::Structure);
  {
    veille::Interruptible interruptible;
    sql::Execute(base.db, "INSERT INTO " + CiteIdent(temporaire) + " (" + cibles + ") SELECT " + sources + " FROM " +
                              CiteIdent(avant.nom) + " ORDER BY rowid",
                 Operation::Structure);
  }
  sql::Execute(base.db, "DROP TABLE " + CiteIdent(avant.nom), Operation::Structure);
  sql::Execute(base.db, "ALTER TABLE " + CiteIdent(temporaire) + " RENAME TO " + CiteIdent(apres.nom), Operation::Structure);
  for (const auto& index : apres.index) CreeIndexSqlite(base.db, apres, index);
}

long long SequenceDe(sqlite3* db, const std::string& table) {
  Requete existe(db, "SELECT 1 FROM sqlite_master WHERE name = 'sqlite_sequence'");
  if (!existe.Pas()) return 0;
  Requete r(db, "SELECT seq FROM sqlite_sequence WHERE name = ?");
  r.Lie(1, std::string_view(table));
  return r.Pas() ? r.Entier(0) : 0;
}

// A table made again as the catalog declares it; its counter goes on from where it was, not from
// its highest record.
void RefaitTable(BaseEtat& base, const DefTable& t) {
  const long long sequence = SequenceDe(base.db, t.nom);
  ReconstruitAvecCompteur(base, t, t);
  if (sequence <= SequenceDe(base.db, t.nom)) return;
  ExecuteLie(base.db, "DELETE FROM sqlite_sequence WHERE name = ?", {Valeur(t.nom)});
  ExecuteLie(base.db, "INSERT INTO sqlite_sequence(name, seq) VALUES (?, ?)", {Valeur(t.nom), Valeur(sequence)});
}

}  // namespace

const DefChamp* DefTable::Champ(std::string_view n) const {
  for (const auto& c : champs)
    if (MemeNom(c.nom, n)) return &c;
  return nullptr;
}

DefChamp* DefTable::Champ(std::string_view n) {
  for (auto& c : champs)
    if (MemeNom(c.nom, n)) return &c;
  return nullptr;
}

DefChamp* DefTable::ChampParId(long long i) {
  for (auto& c : champs)
    if (c.id == i) return &c;
  return nullptr;
}

bool DefTable::AutoIncrement() const {
  return std::any_of(champs.begin(), champs.end(), [](const DefChamp& c) { return c.attributs & dbAutoIncrField; });
}

DefTable* Catalogue::Table(std::string_view nom) const {
  std::string plie = PlieNom(nom);
  for (const auto& t : tables)
    if (t->nom == nom || PlieNom(t->nom) == plie) return t.get();
  return nullptr;
}

DefTable* Catalogue::TableParId(long long id) const {
  for (const auto& t : tables)
    if (t->id == id) return t.get();
  return nullptr;
}

DefRelation* Catalogue::Relation(std::string_view nom) const {
  for (const auto& r : relations)
    if (MemeNom(r->nom, nom)) return r.get();
  return nullptr;
}

DefRelation* Catalogue::RelationParId(long long id) const {
  for (const auto& r : relations)
    if (r->id == id) return r.get();
  return nullptr;
}

void Catalogue::Trie() {
  std::stable_sort(tables.begin(), tables.end(),
                   [](const auto& a, const auto& b) { return PlieNom(a->nom) < PlieNom(b->nom); });
}

std::string Catalogue::Canonique(const std::string& nom) const {
  if (const DefTable* t = Table(nom)) return t->nom;
  std::string plie = PlieNom(nom);
  for (const auto& t : tables)
    for (const auto& c : t->champs)
      if (PlieNom(c.nom) == plie) return c.nom;
  return nom;
}

namespace catalogue {

void Cree(sqlite3* db, const std::string& version) {
  sql::PointDeReprise pr(db);
  sql::Execute(db, "PRAGMA application_id = " + std::to_string(IdentifiantApplication), Operation::Structure);
  sql::Execute(db, SchemaCatalogue, Operation::Structure);
  InserePropriete(db, Proprietaire::Base, 0, {"Version", dbText, Valeur(version)});
  pr.Valide();
}

bool TablesDuCatalogue(sqlite3* db) {
  Requete tables(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('MSysTables', 'MSysColumns', "
                     "'MSysIndexes', 'MSysRelationships', 'MSysRelationshipFields', 'MSysProperties')",
                 Operation::Ouverture);
  return tables.Pas() && tables.Entier(0) == 6;
}

bool EstCatalogue(sqlite3* db) {
  Requete id(db, "PRAGMA application_id", Operation::Ouverture);
  if (!id.Pas() || id.Entier(0) != IdentifiantApplication) return false;
  return TablesDuCatalogue(db);
}

namespace {

// "à" before the article of what is named, contracted as French wants it.
std::string Destinataire(const std::string& quoi) {
  if (quoi.starts_with("le ")) return "au " + quoi.substr(3);
  if (quoi.starts_with("les ")) return "aux " + quoi.substr(4);
  return "à " + quoi;
}

// Catalog values checked as they are read: one out of its range is damage, never obeyed; or,
// when corrections are asked for, it is put back in range and told.
class Controle {
 public:
  Controle(const BaseEtat& base, std::vector<std::string>* corrections) : chemin_(base.chemin), corrections_(corrections) {}
  bool Corrige() const { return corrections_ != nullptr; }

  // An integer column of the current row, within [min, max].
  long long Entier(const Requete& r, int i, long long min, long long max, const std::string& quoi,
                   const std::function<long long()>& remplacement) {
    return Entier(
        r, i, [&](long long v) { return v >= min && v <= max; }, quoi, remplacement);
  }

  // An integer column of the current row that `admise` accepts.
  long long Entier(const Requete& r, int i, const std::function<bool(long long)>& admise, const std::string& quoi,
                   const std::function<long long()>& remplacement) {
    if (r.TypeColonne(i) == SQLITE_INTEGER && admise(r.Entier(i))) return r.Entier(i);
    std::string lue = r.TypeColonne(i) == SQLITE_NULL ? "Null" : r.Texte(i);
    return Refuse(quoi, lue, remplacement);
  }

  template <class T>
  T Refuse(const std::string& quoi, const std::string& lue, const std::function<T()>& remplacement,
           const std::string& pourquoi = "hors des limites") {
    Dommage("donne " + Destinataire(quoi) + " la valeur " + lue + ", " + pourquoi,
            quoi + (quoi.starts_with("les ") ? " valaient " : " valait ") + lue + ", " + pourquoi);
    return remplacement();
  }

  // A yes/no column of the current row: 0 or 1, any other number read as yes once corrected.
  bool Drapeau(const Requete& r, int i, const std::string& quoi) {
    return Entier(r, i, 0, 1, quoi, [&] { return static_cast<long long>(r.Entier(i) != 0); }) != 0;
  }

  // What the catalog says wrong: refused, or noted when corrections are asked for.
  void Dommage(const std::string& constat, const std::string& correction) {
    if (!corrections_)
      throw ErreurMoteur(err::BaseEndommagee, "La base de données '" + chemin_ + "' est endommagée : son catalogue " +
                                                  Affichable(constat) + ".");
    Note(correction);
  }

  void Note(const std::string& texte) {
    corrections_->push_back("#ALERT# Catalogue endommagé : " + Affichable(texte) + " ; corrigé.");
  }

 private:
  std::string chemin_;
  std::vector<std::string>* corrections_;
};

constexpr long long AttributsRelationConnus = dbRelationUnique | dbRelationDontEnforce | dbRelationUpdateCascade | dbRelationDeleteCascade;

// The field type that holds whatever SQLite was told a column holds.
int TypeDeclare(const std::string& declare) {
  std::string t = PlieNom(declare);
  if (t == "integer") return dbLong;
  if (t == "real") return dbDouble;
  if (t == "blob") return dbLongBinary;
  return dbMemo;
}

// The type SQLite was told for a column, when the catalog's cannot be believed.
int TypeDeLaColonne(sqlite3* db, const std::string& table, const std::string& colonne) {
  Requete r(db, "SELECT type FROM pragma_table_info(?) WHERE name = ?");
  r.Lie(1, std::string_view(table)).Lie(2, std::string_view(colonne));
  return TypeDeclare(r.Pas() ? r.Texte(0) : std::string());
}

void ChargeTables(BaseEtat& base, Catalogue& cat, Controle& controle) {
  Requete r(base.db, "SELECT Id, Name, Attributes FROM MSysTables ORDER BY Id");
  while (r.Pas()) {
    auto t = std::make_unique<DefTable>();
    t->id = r.Entier(0);
    t->nom = r.Texte(1);
    t->attributs = controle.Entier(r, 2, 0, 0xFFFFFFFFLL, "l'attribut de la table '" + t->nom + "'", [] { return 0LL; });
    cat.tables.push_back(std::move(t));
  }
}

// Whether SQLite numbers the column itself: the table's only key column, declared AUTOINCREMENT.
bool CompteurDuSchema(sqlite3* db, const std::string& table, const std::string& colonne) {
  Requete r(
      db,
      "SELECT pk, (SELECT count(*) FROM pragma_table_info(?1) WHERE pk > 0), (SELECT sql FROM sqlite_master WHERE "
      "type = 'table' AND name = ?1) FROM pragma_table_info(?1) WHERE name = ?2",
      Operation::Ouverture);
  r.Lie(1, std::string_view(table)).Lie(2, std::string_view(colonne));
  return r.Pas() && r.Entier(0) > 0 && r.Entier(1) == 1 &&
         PlieNom(r.Texte(2)).find("autoincrement") != std::string::npos;
}

// The size a sized field's write rule still checks, its size when the catalog lost it; 0 when the
// rule checks none.
int TailleDesRegles(sqlite3* db, long long tableId, const std::string& champ) {
  Requete r(db, "SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = ?", Operation::Ouverture);
  const std::string nom = "MSysRegle_" + std::to_string(tableId) + "_ins";
  r.Lie(1, std::string_view(nom));
  if (!r.Pas() || r.TypeColonne(0) != SQLITE_TEXT) return 0;
  const std::string regle = r.Texte(0), controle = "length(NEW." + CiteIdent(champ) + ") > ";
  const auto p = regle.find(controle);
  return p == std::string::npos ? 0 : std::atoi(regle.c_str() + p + controle.size());
}

void ChargeChamps(BaseEtat& base, Catalogue& cat, Controle& controle) {
  Requete r(base.db,
            "SELECT Id, TableId, Name, Type, Size, Attributes, DefaultValue, Required, AllowZeroLength, OrdinalPosition "
            "FROM MSysColumns ORDER BY TableId, OrdinalPosition, Id");
  while (r.Pas()) {
    DefTable* t = cat.TableParId(r.Entier(1));
    if (!t) {
      // Its column, if it has one, is given a field of its own once the tables are matched.
      controle.Refuse<long long>(
          "la table de la ligne " + r.Texte(0) + " de MSysColumns (champ « " + r.Texte(2) + " »)",
          r.TypeColonne(1) == SQLITE_NULL ? "Null" : r.Texte(1), [] { return 0LL; },
          "qui n'est l'identifiant d'aucune table de MSysTables");
      continue;
    }
    DefChamp c;
    c.id = r.Entier(0);
    c.nom = r.Texte(2);
    const std::string nom = "du champ '" + t->nom + "." + c.nom + "'";
    c.type = static_cast<int>(controle.Entier(
        r, 3,
        [](long long type) { return type >= dbBoolean && type <= dbGUID && TypeChampValide(static_cast<int>(type)); },
        "le type " + nom, [&] { return static_cast<long long>(TypeDeLaColonne(base.db, t->nom, c.nom)); }));
    const bool taillee = c.type == dbText || c.type == dbBinary;
    c.taille = static_cast<int>(controle.Entier(r, 4, taillee ? 1 : 0, TailleTexteMax, "la taille " + nom, [&] {
      if (!taillee) return static_cast<long long>(TailleFixe(c.type));
      const int reglee = TailleDesRegles(base.db, t->id, c.nom);
      return static_cast<long long>(reglee >= 1 && reglee <= TailleTexteMax ? reglee : TailleTexteMax);
    }));
    // Attributes lost say nothing the engine relies on but the counter, which the table's own
    // definition still tells.
    c.attributs = controle.Entier(r, 5, 0, 0xFFFF, "les attributs " + nom,
                                  [&] { return CompteurDuSchema(base.db, t->nom, c.nom) ? dbAutoIncrField : 0LL; });
    if ((c.attributs & dbAutoIncrField) && c.type != dbLong)
      c.attributs = controle.Refuse<long long>("les attributs " + nom, std::to_string(c.attributs) + " (compteur d'un champ qui n'est pas un Entier long)",
                                               [&] { return c.attributs & ~dbAutoIncrField; });
    c.defaut = r.Texte(6);
    if (!c.defaut.empty() && !conversion::DefautValide(c.defaut))
      c.defaut = controle.Refuse<std::string>("la valeur par défaut " + nom, "« " + c.defaut + " »", [] { return std::string(); });
    c.requis = controle.Drapeau(r, 7, "la propriété Required " + nom);
    c.zeroLongueur = controle.Drapeau(r, 8, "la propriété AllowZeroLength " + nom);
    c.ordinal = static_cast<int>(controle.Entier(r, 9, -32768, 32767, "la position " + nom,
                                                 [&] { return static_cast<long long>(t->champs.size()); }));
    t->champs.push_back(std::move(c));
  }
}

struct ColonneSql {
  std::string nom, type;
  bool prise = false;  // named by a field of the catalog
};

std::vector<ColonneSql> ColonnesSql(sqlite3* db, const std::string& table) {
  Requete r(db, "SELECT name, type FROM pragma_table_info(?) ORDER BY cid");
  r.Lie(1, std::string_view(table));
  std::vector<ColonneSql> colonnes;
  while (r.Pas()) colonnes.push_back({r.Texte(0), r.Texte(1)});
  return colonnes;
}

std::string LigneDuChamp(const DefTable& t, const DefChamp& c) {
  return "la ligne " + std::to_string(c.id) + " de MSysColumns (table '" + t.nom + "')";
}

// Fields left without a column and columns left without a field pair up when they are as many and
// of the same types: another program renamed the fields, whose definitions are still good.
bool Apparie(const DefTable& t, const std::vector<std::size_t>& champs, const std::vector<ColonneSql*>& colonnes) {
  if (champs.size() != colonnes.size()) return false;
  for (std::size_t i = 0; i < champs.size(); ++i)
    if (PlieNom(regles::TypeSqlite(t.champs[champs[i]])) != PlieNom(colonnes[i]->type)) return false;
  return true;
}

// Once corrected, each field has its column and each column a field: no data is left where the
// engine cannot reach it.
void CorrigeColonnes(DefTable& t, const std::vector<std::size_t>& sansColonne,
                     const std::vector<ColonneSql*>& sansChamp, Controle& controle) {
  if (Apparie(t, sansColonne, sansChamp)) {
    for (std::size_t i = 0; i < sansColonne.size(); ++i) {
      DefChamp& c = t.champs[sansColonne[i]];
      controle.Note("le nom de " + LigneDuChamp(t, c) + " valait « " + c.nom +
                    " », qui n'est le nom d'aucune de ses colonnes ; il redevient « " + sansChamp[i]->nom +
                    " », celui de la colonne sans champ");
      c.nom = sansChamp[i]->nom;
    }
    return;
  }
  for (auto i = sansColonne.rbegin(); i != sansColonne.rend(); ++i) {
    controle.Note("le champ « " + t.champs[*i].nom + " » de " + LigneDuChamp(t, t.champs[*i]) +
                  " n'a pas de colonne, il est écarté");
    t.champs.erase(t.champs.begin() + static_cast<std::ptrdiff_t>(*i));
  }
  int dernier = -1;
  for (const auto& c : t.champs) dernier = std::max(dernier, c.ordinal);
  for (const ColonneSql* colonne : sansChamp) {
    DefChamp c;
    c.nom = colonne->nom;
    c.type = TypeDeclare(colonne->type);
    c.taille = TailleFixe(c.type);
    c.zeroLongueur = true;
    c.ordinal = ++dernier;
    controle.Note("la colonne « " + c.nom + " » de la table '" + t.nom + "' n'avait pas de champ, elle en reçoit un");
    t.champs.push_back(std::move(c));
  }
}

// Each field of the catalog names a column of its table, and each column has its field: a name
// changed on one side only would have the engine read and check the wrong column, or none.
void AccordeColonnes(BaseEtat& base, DefTable& t, Controle& controle) {
  auto colonnes = ColonnesSql(base.db, t.nom);
  if (colonnes.empty()) {
    // No table to take its fields' data from: the repair keeps what SQLite itself holds.
    if (!controle.Corrige())
      controle.Dommage("donne au nom de la ligne " + std::to_string(t.id) + " de MSysTables la valeur '" + t.nom +
                           "', qui n'est le nom d'aucune table du fichier",
                       {});
    return;
  }
  std::vector<std::size_t> sansColonne;
  for (std::size_t i = 0; i < t.champs.size(); ++i) {
    auto it = std::find_if(colonnes.begin(), colonnes.end(),
                           [&](const ColonneSql& c) { return !c.prise && c.nom == t.champs[i].nom; });
    if (it == colonnes.end())
      sansColonne.push_back(i);
    else
      it->prise = true;
  }
  std::vector<ColonneSql*> sansChamp;
  for (auto& c : colonnes)
    if (!c.prise) sansChamp.push_back(&c);
  if (sansColonne.empty() && sansChamp.empty()) return;
  if (controle.Corrige()) return CorrigeColonnes(t, sansColonne, sansChamp, controle);
  if (sansColonne.empty())
    return controle.Dommage(
        "ne donne aucun champ à la colonne « " + sansChamp.front()->nom + " » de la table '" + t.nom + "'", {});
  const DefChamp& c = t.champs[sansColonne.front()];
  const bool dejaPris =
      std::any_of(colonnes.begin(), colonnes.end(), [&](const ColonneSql& x) { return x.nom == c.nom; });
  std::string pourquoi =
      dejaPris ? "qui est déjà celui d'un autre de ses champs" : "qui n'est le nom d'aucune de ses colonnes";
  if (!sansChamp.empty()) pourquoi += " ; sa colonne « " + sansChamp.front()->nom + " » n'a pas de champ";
  controle.Refuse<long long>(
      "le nom de " + LigneDuChamp(t, c), "« " + c.nom + " »", [] { return 0LL; }, pourquoi);
}

void ChargeIndex(BaseEtat& base, Catalogue& cat, Controle& controle) {
  Requete r(base.db, "SELECT Id, TableId, Name, Fields, IsUnique, IsPrimary, IgnoreNulls FROM MSysIndexes ORDER BY Id");
  while (r.Pas()) {
    DefTable* t = cat.TableParId(r.Entier(1));
    if (!t) continue;
    DefIndex x{r.Entier(0), r.Texte(2), r.Texte(3), false, false, false};
    const std::string nom = " de l'index '" + t->nom + "." + x.nom + "'";
    x.unique = controle.Drapeau(r, 4, "la propriété Unique" + nom);
    x.primaire = controle.Drapeau(r, 5, "la propriété Primary" + nom);
    x.ignoreNulls = controle.Drapeau(r, 6, "la propriété IgnoreNulls" + nom);
    try {
      if (NormaliseChampsIndex(*t, x.champs).empty()) throw ErreurMoteur(err::ElementIntrouvable);
    } catch (const ErreurMoteur&) {
      // The index names fields its table does not have: it is left out.
      if (!controle.Corrige()) controle.Refuse<long long>("la liste des champs" + nom, "« " + x.champs + " »", [] { return 0LL; });
      controle.Note("l'index '" + t->nom + "." + x.nom + "' nomme des champs que sa table n'a pas (« " + x.champs + " »), il est écarté");
      continue;
    }
    t->index.push_back(std::move(x));
  }
}

void ChargeRelations(BaseEtat& base, Catalogue& cat, Controle& controle) {
  Requete r(base.db, "SELECT Id, Name, TableName, ForeignTableName, Attributes FROM MSysRelationships ORDER BY Id");
  while (r.Pas()) {
    auto rel = std::make_unique<DefRelation>();
    rel->id = r.Entier(0);
    rel->nom = r.Texte(1);
    rel->table = r.Texte(2);
    rel->tableEtrangere = r.Texte(3);
    rel->attributs = controle.Entier(r, 4, 0, 0xFFFFFFFFLL, "les attributs de la relation '" + rel->nom + "'", [&] {
      return r.TypeColonne(4) == SQLITE_INTEGER ? r.Entier(4) & AttributsRelationConnus : 0LL;
    });
    cat.relations.push_back(std::move(rel));
  }
  Requete f(base.db, "SELECT RelationId, Name, ForeignName FROM MSysRelationshipFields ORDER BY RelationId, Position");
  while (f.Pas())
    if (DefRelation* rel = cat.RelationParId(f.Entier(0))) rel->champs.emplace_back(f.Texte(1), f.Texte(2));
}

void ChargeProprietes(BaseEtat& base, Controle& controle) {
  Requete r(base.db, "SELECT OwnerKind, OwnerId, Name, Type, Value FROM MSysProperties ORDER BY rowid");
  while (r.Pas()) {
    const std::string nom = " de la propriété '" + r.Texte(2) + "'";
    long long genre = controle.Entier(r, 0, 0, 2, "le genre de propriétaire" + nom, [] { return -1LL; });
    long long type = controle.Entier(r, 3, dbBoolean, dbMemo, "le type" + nom, [] { return -1LL; });
    if (genre < 0 || type < 0) continue;  // a property that cannot be placed or read is left out
    DefPropriete p{r.Texte(2), static_cast<int>(type), {}};
    // A value its type cannot hold is damage like any other, never kept as it is.
    try {
      p.valeur = conversion::DepuisStockage(r.Brute(4), p.type);
      if (p.valeur.genre() == Valeur::Genre::Texte && !Utf8Valide(p.valeur.texte()))
        throw ErreurMoteur(err::FormatNonReconnu);
    } catch (const ErreurMoteur&) {
      controle.Refuse<long long>("la propriété '" + p.nom + "', de type " + std::to_string(p.type),
                                 "« " + r.Texte(4) + " »", [] { return 0LL; });
      continue;  // left out
    }
    if (auto* liste = ProprietesDe(base, static_cast<Proprietaire>(genre), r.Entier(1), 0)) liste->push_back(std::move(p));
  }
}

std::string NomDeclencheurDe(std::string_view texte) {
  constexpr std::string_view debut = "CREATE TRIGGER \"";
  if (texte.substr(0, debut.size()) != debut) return {};
  texte.remove_prefix(debut.size());
  return std::string(texte.substr(0, texte.find('"')));
}

// Where a rule first names a field's new value, or npos; a name quoted within a longer one is not it.
std::size_t PremiereMention(const std::string& regle, const DefChamp& c) {
  const std::string mention = "NEW." + CiteIdent(c.nom);
  for (auto pos = regle.find(mention); pos != std::string::npos; pos = regle.find(mention, pos + 1))
    if (pos + mention.size() == regle.size() || regle[pos + mention.size()] != '"') return pos;
  return std::string::npos;
}

// The rules follow the order of the fields, which is only the order they are shown in and which
// another program may change in the catalog: written again in the order the stored rule names its
// fields, the rule must then be exactly the one generated, or it checks something else.
bool MemeRegleDansUnAutreOrdre(const DefTable& t, const Catalogue& cat, const std::string& nom,
                               const std::string& stockee) {
  DefTable ordonnee = t;
  std::stable_sort(ordonnee.champs.begin(), ordonnee.champs.end(), [&](const DefChamp& a, const DefChamp& b) {
    return PremiereMention(stockee, a) < PremiereMention(stockee, b);
  });
  for (const auto& texte : regles::Declencheurs(ordonnee, cat))
    if (NomDeclencheurDe(texte) == nom) return texte == stockee;
  return false;
}

// A rule of a table may list its fields in another order than the catalog's, a relation's never.
bool RegleIntacte(const std::string& attendue, const DefTable* table, const Catalogue& cat, const std::string& nom,
                  const std::string& stockee) {
  return attendue == stockee || (table && MemeRegleDansUnAutreOrdre(*table, cat, nom, stockee));
}

// SQLite keeps the text of a statement it ran: a stored text it could not have run was cut or
// overwritten on disk.
bool TexteExecutable(const std::string& texte) {
  return texte.find('\0') == std::string::npos && Utf8Valide(texte) && sqlite3_complete((texte + ";").c_str());
}

// A word of an SQL statement, with where it lies in its text.
struct Mot {
  std::string texte;  // unquoted when it was quoted
  std::size_t debut, fin;
  bool cite;
};

bool CaractereDeMot(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// Where the quote opened at `debut` ends, its doubled quotes taken as one; npos when it does not.
std::size_t FinCitation(const std::string& sql, std::size_t debut, std::string& contenu) {
  const char fermante = sql[debut] == '[' ? ']' : sql[debut];
  for (std::size_t i = debut + 1; i < sql.size(); ++i) {
    if (sql[i] != fermante) {
      contenu += sql[i];
    } else if (fermante != ']' && i + 1 < sql.size() && sql[i + 1] == fermante) {
      contenu += sql[++i];
    } else {
      return i + 1;
    }
  }
  return std::string::npos;
}

std::vector<Mot> Mots(const std::string& sql) {
  std::vector<Mot> mots;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (sql.compare(i, 2, "--") == 0) {
      i = std::min(sql.find('\n', i), sql.size());
    } else if (sql.compare(i, 2, "/*") == 0) {
      i = std::min(sql.find("*/", i), sql.size() - 2) + 2;
    } else if (c == '"' || c == '\'' || c == '`' || c == '[') {
      std::string contenu;
      const std::size_t fin = std::min(FinCitation(sql, i, contenu), sql.size());
      mots.push_back({std::move(contenu), i, fin, true});
      i = fin;
    } else if (CaractereDeMot(c)) {
      std::size_t fin = i;
      while (fin < sql.size() && CaractereDeMot(sql[fin])) ++fin;
      mots.push_back({sql.substr(i, fin - i), i, fin, false});
      i = fin;
    } else {
      mots.push_back({std::string(1, c), i, i + 1, false});
      ++i;
    }
  }
  return mots;
}

std::string Capitales(std::string texte) {
  for (char& c : texte) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return texte;
}

// How the engine declares a field's column.
std::string DeclarationColonne(const DefChamp& c) {
  return regles::TypeSqlite(c) + ((c.attributs & dbAutoIncrField) ? " PRIMARY KEY AUTOINCREMENT" : "");
}

// The words of a column's declaration after its name, spaced and in capitals as the engine writes them.
std::string DeclarationLue(const std::vector<Mot>& mots, std::size_t debut, std::size_t fin) {
  std::string texte;
  for (std::size_t i = debut; i < fin; ++i)
    texte += (i == debut ? "" : " ") + (mots[i].cite ? "\"" + mots[i].texte + "\"" : Capitales(mots[i].texte));
  return texte;
}

bool DebutDeContrainte(const Mot& m) {
  static const std::set<std::string> mots{"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"};
  return !m.cite && mots.count(Capitales(m.texte));
}

// What a table's stored definition holds beside the columns the catalog gives, each as the text
// found: a rule, a default, a collation or another type would change what the engine writes, or
// refuse it. The words are compared, not the text, which SQLite rewrites as the engine adds,
// renames or drops a field.
std::string EcartDefinition(const DefTable& t, const std::string& sql) {
  const auto mots = Mots(sql);
  std::vector<std::string> ecarts;
  auto extrait = [&](std::size_t debut, std::size_t fin) {
    return sql.substr(mots[debut].debut, mots[fin - 1].fin - mots[debut].debut);
  };
  auto ouvrante = std::find_if(mots.begin(), mots.end(), [](const Mot& m) { return !m.cite && m.texte == "("; });
  std::size_t i = static_cast<std::size_t>(ouvrante - mots.begin()) + 1, element = i;
  for (int profondeur = 1; i < mots.size() && profondeur > 0; ++i) {
    const bool cite = mots[i].cite;
    if (!cite && mots[i].texte == "(") ++profondeur;
    if (!cite && mots[i].texte == ")") --profondeur;
    if (!(profondeur == 0 || (profondeur == 1 && !cite && mots[i].texte == ","))) continue;
    const DefChamp* c = i > element && !DebutDeContrainte(mots[element]) ? t.Champ(mots[element].texte) : nullptr;
    if (i > element && !c && DebutDeContrainte(mots[element]))
      ecarts.push_back("« " + extrait(element, i) + " » en plus");
    else if (c && DeclarationLue(mots, element + 1, i) != DeclarationColonne(*c))
      ecarts.push_back("« " + extrait(element, i) + " » au lieu de « " + CiteIdent(c->nom) + " " +
                       DeclarationColonne(*c) + " »");
    element = i + 1;
  }
  if (i < mots.size()) ecarts.push_back("« " + extrait(i, mots.size()) + " » en plus");
  std::string texte;
  for (const auto& e : ecarts) texte += (texte.empty() ? "" : " ; ") + e;
  return texte;
}

// The table a trigger the engine writes watches: `CREATE TRIGGER "…" … ON "T" …`.
std::string TableDuDeclencheur(const std::string& texte) {
  const auto debut = texte.find(" ON \"");
  std::string nom;
  for (std::size_t i = debut == std::string::npos ? texte.size() : debut + 5; i < texte.size(); ++i) {
    if (texte[i] != '"') {
      nom += texte[i];
    } else if (i + 1 < texte.size() && texte[i + 1] == '"') {
      nom += '"';
      ++i;
    } else {
      return nom;
    }
  }
  return {};
}

// What the file holds beside what the catalog makes: the catalog's own tables and indexes, each
// table with its SQLite indexes, and the rules, whose text must be exactly the one generated; and
// the rules it no longer holds.
void Inventorie(BaseEtat& base) {
  std::map<std::string, std::string> regles;
  std::map<std::string, const DefTable*> tablesDesRegles;
  for (const auto& t : base.cat.tables) {
    if (t->id <= 0) continue;
    for (auto& texte : regles::Declencheurs(*t, base.cat)) {
      std::string nom = NomDeclencheurDe(texte);
      tablesDesRegles[nom] = t.get();
      regles[nom] = std::move(texte);
    }
  }
  for (const auto& r : base.cat.relations)
    for (auto& texte : regles::DeclencheursRelation(*r, base.cat)) regles[NomDeclencheurDe(texte)] = std::move(texte);
  std::set<std::string> tables{"msystables", "msyscolumns", "msysindexes", "msysrelationships", "msysrelationshipfields",
                               "msysproperties", "sqlite_sequence", "sqlite_stat1", "sqlite_stat4"};
  std::set<std::string> index{"MSysColumnsTable", "MSysIndexesTable", "MSysPropertiesOwner"};
  for (const auto& t : base.cat.tables) {
    if (t->id <= 0) continue;
    tables.insert(PlieNom(t->nom));
    for (const auto& x : t->index) index.insert("MSysIdx_" + std::to_string(x.id));
  }
  std::vector<ObjetInconnu> inconnus;
  std::set<std::string> surs, declencheurs;
  Requete r(base.db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid", Operation::Ouverture);
  while (r.Pas()) {
    std::string type = r.Texte(0), nom = r.Texte(1), table = r.Texte(2);
    if (type == "trigger") declencheurs.insert(nom);
    if (type == "table" && !tables.count(PlieNom(nom))) inconnus.push_back({"table", nom, {}});
    const DefTable* connue = type == "table" ? base.cat.Table(nom) : nullptr;
    if (connue && connue->id > 0)
      if (std::string ecart = EcartDefinition(*connue, r.Texte(3)); !ecart.empty())
        inconnus.push_back({"définition", nom, {}, false, false, std::move(ecart)});
    // An index of another program's table goes with it; one on a table of the engine may refuse its writes.
    if (type == "index" && nom.rfind("sqlite_autoindex_", 0) != 0 && !index.count(nom) && tables.count(PlieNom(table)))
      inconnus.push_back({"index", nom, table});
    if (type == "view") inconnus.push_back({"vue", nom, {}});
    if (type != "trigger") continue;
    auto attendue = regles.find(nom);
    auto proprietaire = tablesDesRegles.find(nom);
    if (attendue == regles.end())
      inconnus.push_back({"déclencheur", nom, table});
    else if (RegleIntacte(attendue->second, proprietaire == tablesDesRegles.end() ? nullptr : proprietaire->second,
                          base.cat, nom, r.Texte(3)))
      surs.insert(nom);
    else
      inconnus.push_back({"déclencheur", nom, table, true, !TexteExecutable(r.Texte(3))});
  }
  for (const auto& [nom, texte] : regles)
    if (!declencheurs.count(nom)) inconnus.push_back({"règle", nom, TableDuDeclencheur(texte)});
  const std::vector<std::string> ordre{"table", "définition", "index", "vue", "déclencheur", "règle"};
  std::stable_sort(inconnus.begin(), inconnus.end(), [&](const ObjetInconnu& a, const ObjetInconnu& b) {
    return std::find(ordre.begin(), ordre.end(), a.genre) < std::find(ordre.begin(), ordre.end(), b.genre);
  });
  base.objetsInconnus = std::move(inconnus);
  base.declencheursSurs = std::move(surs);
}

}  // namespace

void Charge(BaseEtat& base, std::vector<std::string>* corrections) {
  Catalogue cat;
  base.cat = Catalogue();
  Controle controle(base, corrections);
  ChargeTables(base, cat, controle);
  ChargeChamps(base, cat, controle);
  for (const auto& t : cat.tables)
    if (t->id > 0) AccordeColonnes(base, *t, controle);
  ChargeIndex(base, cat, controle);
  ChargeRelations(base, cat, controle);
  base.cat = std::move(cat);
  ChargeProprietes(base, controle);
  ChargeTablesSysteme(base);
  base.cat.Trie();
  Inventorie(base);
}

std::string LigneDefinitionRefaite(const ObjetInconnu& definition) {
  return "#ALERT# Définition refaite d'après le catalogue : " + definition.Description() + ".";
}

std::string LigneRegleRefaite(const ObjetInconnu& regle) {
  return "#ALERT# Règle du moteur refaite d'après le catalogue : " + regle.Description() + ".";
}

void SupprimeObjetsInconnus(BaseEtat& base, std::vector<std::string>& constats) {
  std::vector<ObjetInconnu> gardes;
  for (const auto& o : base.objetsInconnus) {
    if (o.EstTable()) {
      gardes.push_back(o);
      continue;
    }
    if (o.genre == "définition") continue;  // once nothing planted is left to run on its rebuilding
    if (o.genre == "règle") {
      // Written again by the caller, from the catalog, with every other rule.
      constats.push_back(LigneRegleRefaite(o));
      continue;
    }
    // A rule altered under its own name is written again by the caller, from the catalog.
    const char* genre = o.genre == "table" ? "TABLE" : o.genre == "index" ? "INDEX" : o.genre == "vue" ? "VIEW" : "TRIGGER";
    sql::Execute(base.db, std::string("DROP ") + genre + " IF EXISTS " + CiteIdent(o.nom), Operation::Structure);
    constats.push_back("#ALERT# Objet inconnu du logiciel supprimé : " + o.Description() + ".");
  }
  for (const auto& o : base.objetsInconnus) {
    if (o.genre != "définition") continue;
    if (const DefTable* t = base.cat.Table(o.nom)) RefaitTable(base, *t);
    constats.push_back(LigneDefinitionRefaite(o));
  }
  base.objetsInconnus = std::move(gardes);
}

std::vector<DefPropriete>* ProprietesDe(BaseEtat& base, Proprietaire genre, long long id, long long tableId) {
  switch (genre) {
    case Proprietaire::Base: return &base.cat.proprietes;
    case Proprietaire::Table: {
      DefTable* t = base.cat.TableParId(id);
      return t ? &t->proprietes : nullptr;
    }
    case Proprietaire::Champ:
      for (const auto& t : base.cat.tables) {
        if (tableId && t->id != tableId) continue;
        if (DefChamp* c = t->ChampParId(id)) return &c->proprietes;
      }
      return nullptr;
  }
  return nullptr;
}

std::string NormaliseChampsIndex(const DefTable& table, std::string_view champs) {
  std::string normal;
  std::string_view reste = champs;
  while (!reste.empty()) {
    auto fin = reste.find(';');
    std::string_view nom = reste.substr(0, fin);
    reste = fin == std::string_view::npos ? std::string_view() : reste.substr(fin + 1);
    while (!nom.empty() && nom.front() == ' ') nom.remove_prefix(1);
    while (!nom.empty() && nom.back() == ' ') nom.remove_suffix(1);
    if (nom.empty()) continue;
    char sens = '+';
    if (nom.front() == '+' || nom.front() == '-') {
      sens = nom.front();
      nom.remove_prefix(1);
    }
    if (nom.size() >= 2 && nom.front() == '[' && nom.back() == ']') nom = nom.substr(1, nom.size() - 2);
    const DefChamp* c = table.Champ(nom);
    if (!c) throw ErreurMoteur(err::ElementIntrouvable, {nom});
    normal += (normal.empty() ? "" : ";") + std::string(1, sens) + c->nom;
  }
  return normal;
}

DefTable& AjouteTable(BaseEtat& base, DefTable def) {
  base.VerifieEcriture();
  VerifieNom(def.nom);
  if (PlieNom(def.nom).rfind("msys", 0) == 0) throw ErreurMoteur(err::NomInvalide, {def.nom});
  if (base.cat.Table(def.nom)) throw ErreurMoteur(err::TableExiste, {def.nom});
  if (def.champs.empty()) throw ErreurMoteur(err::TableSansChamp, {def.nom});
  int compteurs = 0;
  for (std::size_t i = 0; i < def.champs.size(); ++i) {
    VerifieChamp(def.champs[i]);
    for (std::size_t j = 0; j < i; ++j)
      if (MemeNom(def.champs[i].nom, def.champs[j].nom)) throw ErreurMoteur(3191, {def.champs[i].nom});
    if (def.champs[i].attributs & dbAutoIncrField) ++compteurs;
  }
  if (compteurs > 1) throw ErreurMoteur(3259);
  std::stable_sort(def.champs.begin(), def.champs.end(), [](const DefChamp& a, const DefChamp& b) { return a.ordinal < b.ordinal; });
  int primaires = 0;
  for (auto& index : def.index) {
    VerifieNom(index.nom);
    index.champs = NormaliseChampsIndex(def, index.champs);
    if (index.champs.empty()) throw ErreurMoteur(err::TableSansChamp, {index.nom});
    if (index.primaire && ++primaires > 1) throw ErreurMoteur(err::CleExistante);
  }

  sql::PointDeReprise pr(base.db);
  std::string colonnes;
  for (const auto& c : def.champs)
    colonnes += (colonnes.empty() ? "" : ", ") + CiteIdent(c.nom) + " " + regles::TypeSqlite(c) +
                ((c.attributs & dbAutoIncrField) ? " PRIMARY KEY AUTOINCREMENT" : "");
  sql::Execute(base.db, "CREATE TABLE " + CiteIdent(def.nom) + " (" + colonnes + ")", Operation::Structure);
  ExecuteLie(base.db, "INSERT INTO MSysTables(Name, Attributes) VALUES (?, ?)", {Valeur(def.nom), Valeur(def.attributs)});
  def.id = sqlite3_last_insert_rowid(base.db);
  for (auto& c : def.champs) {
    InsereChamp(base.db, def.id, c);
    for (const auto& p : c.proprietes) InserePropriete(base.db, Proprietaire::Champ, c.id, p);
  }
  for (auto& index : def.index) {
    InsereIndex(base.db, def.id, index);
    CreeIndexSqlite(base.db, def, index);
  }
  for (const auto& p : def.proprietes) InserePropriete(base.db, Proprietaire::Table, def.id, p);
  CreeDeclencheurs(base, regles::Declencheurs(def, base.cat));
  pr.Valide();

  base.cat.tables.push_back(std::make_unique<DefTable>(std::move(def)));
  DefTable* ajoutee = base.cat.tables.back().get();
  base.cat.Trie();
  return *ajoutee;
}

void SupprimeTable(BaseEtat& base, std::string_view nom) {
  base.VerifieEcriture();
  DefTable* t = base.cat.Table(nom);
  if (!t) throw ErreurMoteur(err::ElementIntrouvable, {nom});
  VerifieModifiable(*t);
  if (t->Systeme()) throw ErreurMoteur(err::OperationInvalide);
  long long id = t->id;
  std::vector<long long> relations;
  for (const auto& r : base.cat.relations)
    if (Concerne(*r, t->nom)) relations.push_back(r->id);

  sql::PointDeReprise pr(base.db);
  // Relations go with their table; the structure check rebuilds them from the model.
  for (long long rel : relations) {
    SupprimeDeclencheursRelation(base.db, rel);
    ExecuteLie(base.db, "DELETE FROM MSysRelationshipFields WHERE RelationId = ?", {Valeur(rel)});
    ExecuteLie(base.db, "DELETE FROM MSysRelationships WHERE Id = ?", {Valeur(rel)});
  }
  sql::Execute(base.db, "DROP TABLE " + CiteIdent(t->nom), Operation::Structure);
  ExecuteLie(base.db, "DELETE FROM MSysProperties WHERE OwnerKind = 2 AND OwnerId IN (SELECT Id FROM MSysColumns WHERE TableId = ?)",
             {Valeur(id)});
  ExecuteLie(base.db, "DELETE FROM MSysProperties WHERE OwnerKind = 1 AND OwnerId = ?", {Valeur(id)});
  ExecuteLie(base.db, "DELETE FROM MSysColumns WHERE TableId = ?", {Valeur(id)});
  ExecuteLie(base.db, "DELETE FROM MSysIndexes WHERE TableId = ?", {Valeur(id)});
  ExecuteLie(base.db, "DELETE FROM MSysTables WHERE Id = ?", {Valeur(id)});
  pr.Valide();

  auto& rels = base.cat.relations;
  rels.erase(std::remove_if(rels.begin(), rels.end(),
                            [&](const auto& r) { return std::find(relations.begin(), relations.end(), r->id) != relations.end(); }),
             rels.end());
  auto& tables = base.cat.tables;
  tables.erase(std::remove_if(tables.begin(), tables.end(), [&](const auto& x) { return x->id == id; }), tables.end());
}

void RenommeTable(BaseEtat& base, long long id, std::string_view nouveau) {
  base.VerifieEcriture();
  DefTable& t = TableExistante(base, id);
  VerifieModifiable(t);
  VerifieNom(nouveau);
  if (t.nom == nouveau) return;
  if (PlieNom(nouveau).rfind("msys", 0) == 0) throw ErreurMoteur(err::NomInvalide, {nouveau});
  DefTable* autre = base.cat.Table(nouveau);
  if (autre && autre->id != id) throw ErreurMoteur(err::TableExiste, {nouveau});
  std::string ancien = t.nom;

  sql::PointDeReprise pr(base.db);
  std::string source = ancien;
  if (MemeNom(ancien, nouveau)) {  // SQLite sees names differing in case only as the same table
    source = "MSysRenommage_" + std::to_string(id);
    sql::Execute(base.db, "ALTER TABLE " + CiteIdent(ancien) + " RENAME TO " + CiteIdent(source), Operation::Structure);
  }
  sql::Execute(base.db, "ALTER TABLE " + CiteIdent(source) + " RENAME TO " + CiteIdent(nouveau), Operation::Structure);
  ExecuteLie(base.db, "UPDATE MSysTables SET Name = ? WHERE Id = ?", {Valeur(nouveau), Valeur(id)});
  for (const auto& r : base.cat.relations) {
    if (MemeNom(r->table, ancien))
      ExecuteLie(base.db, "UPDATE MSysRelationships SET TableName = ? WHERE Id = ?", {Valeur(nouveau), Valeur(r->id)});
    if (MemeNom(r->tableEtrangere, ancien))
      ExecuteLie(base.db, "UPDATE MSysRelationships SET ForeignTableName = ? WHERE Id = ?", {Valeur(nouveau), Valeur(r->id)});
  }
  // Work on a copy of the catalog so that a failure leaves memory as the file is.
  Catalogue& cat = base.cat;
  std::vector<std::pair<DefRelation*, DefRelation>> anciennes;
  for (const auto& r : cat.relations) {
    anciennes.emplace_back(r.get(), *r);
    if (MemeNom(r->table, ancien)) r->table = std::string(nouveau);
    if (MemeNom(r->tableEtrangere, ancien)) r->tableEtrangere = std::string(nouveau);
  }
  t.nom = std::string(nouveau);
  try {
    RegenereTable(base, t);
    RegenereRelations(base, nouveau);
    pr.Valide();
  } catch (...) {
    t.nom = ancien;
    for (auto& [r, copie] : anciennes) *r = copie;
    throw;
  }
  cat.Trie();
}

void ModifieAttributsTable(BaseEtat& base, long long id, long long attributs) {
  base.VerifieEcriture();
  DefTable& t = TableExistante(base, id);
  VerifieModifiable(t);
  ExecuteLie(base.db, "UPDATE MSysTables SET Attributes = ? WHERE Id = ?", {Valeur(attributs), Valeur(id)});
  t.attributs = attributs;
}

void AjouteChamp(BaseEtat& base, long long tableId, DefChamp c) {
  base.VerifieEcriture();
  DefTable& t = TableExistante(base, tableId);
  VerifieModifiable(t);
  VerifieChamp(c);
  if (t.Champ(c.nom)) throw ErreurMoteur(3191, {c.nom});
  bool compteur = c.attributs & dbAutoIncrField;
  if (compteur && t.AutoIncrement()) throw ErreurMoteur(3259);
  if (c.ordinal <= 0) {
    int dernier = -1;
    for (const auto& x : t.champs) dernier = std::max(dernier, x.ordinal);
    c.ordinal = dernier + 1;
  }

  DefTable apres = t;
  sql::PointDeReprise pr(base.db);
  InsereChamp(base.db, tableId, c);
  for (const auto& p : c.proprietes) InserePropriete(base.db, Proprietaire::Champ, c.id, p);
  apres.champs.push_back(c);
  std::stable_sort(apres.champs.begin(), apres.champs.end(), [](const DefChamp& a, const DefChamp& b) { return a.ordinal < b.ordinal; });
  if (compteur) {
    ReconstruitAvecCompteur(base, t, apres);
  } else {
    sql::Execute(base.db, "ALTER TABLE " + CiteIdent(t.nom) + " ADD COLUMN " + CiteIdent(c.nom) + " " + regles::TypeSqlite(c),
                 Operation::Structure);
  }
  RegenereTable(base, apres);
  if (compteur) RegenereRelations(base, apres.nom);
  pr.Valide();
  t = std::move(apres);
}

void SupprimeChamp(BaseEtat& base, long long tableId, std::string_view nom) {
  base.VerifieEcriture();
  DefTable& t = TableExistante(base, tableId);
  VerifieModifiable(t);
  const DefChamp* c = t.Champ(nom);
  if (!c) throw ErreurMoteur(err::ElementIntrouvable, {nom});
  for (const auto& index : t.index) {
    std::string liste = ";" + index.champs + ";";
    if (liste.find(";+" + c->nom + ";") != std::string::npos || liste.find(";-" + c->nom + ";") != std::string::npos)
      throw ErreurMoteur(3280, "Impossible de supprimer le champ '" + c->nom + "' : il fait partie d'un index.");
  }
  for (const auto& r : base.cat.relations)
    for (const auto& [a, b] : r->champs)
      if ((MemeNom(r->table, t.nom) && MemeNom(a, c->nom)) || (MemeNom(r->tableEtrangere, t.nom) && MemeNom(b, c->nom)))
        throw ErreurMoteur(3303, {c->nom});
  if (t.champs.size() == 1) throw ErreurMoteur(err::OperationInvalide);

  DefTable apres = t;
  apres.champs.erase(apres.champs.begin() + (c - t.champs.data()));
  sql::PointDeReprise pr(base.db);
  SupprimeDeclencheursTable(base.db, t.id);
  sql::Execute(base.db, "ALTER TABLE " + CiteIdent(t.nom) + " DROP COLUMN " + CiteIdent(c->nom), Operation::Structure);
  ExecuteLie(base.db, "DELETE FROM MSysProperties WHERE OwnerKind = 2 AND OwnerId = ?", {Valeur(c->id)});
  ExecuteLie(base.db, "DELETE FROM MSysColumns WHERE Id = ?", {Valeur(c->id)});
  CreeDeclencheurs(base, regles::Declencheurs(apres, base.cat));
  pr.Valide();
  t = std::move(apres);
}

void ModifieChamp(BaseEtat& base, long long tableId, long long champId, const std::function<void(DefChamp&)>& change) {
  base.VerifieEcriture();
  DefTable& t = TableExistante(base, tableId);
  VerifieModifiable(t);
  DefChamp* c = t.ChampParId(champId);
  if (!c) throw ErreurMoteur(err::ElementIntrouvable);
  DefTable apres = t;
  DefChamp& nouveau = *apres.ChampParId(champId);
  change(nouveau);
  VerifieChamp(nouveau);

  sql::PointDeReprise pr(base.db);
  ExecuteLie(base.db, "UPDATE MSysColumns SET DefaultValue = ?, Required = ?, AllowZeroLength = ?, OrdinalPosition = ? WHERE Id = ?",
             {Valeur(nouveau.defaut), Valeur(static_cast<long long>(nouveau.requis)),
              Valeur(static_cast<long long>(nouveau.zeroLongueur)), Valeur(static_cast<long long>(nouveau.ordinal)),
              Valeur(champId)});
  // Sorted only once written: the sort moves the fields, and `nouveau` would then name another one.
  std::stable_sort(apres.champs.begin(), apres.champs.end(), [](const DefChamp& a, const DefChamp& b) { return a.ordinal < b.ordinal; });
  RegenereTable(base, apres);
  pr.Valide();
  t = std::move(apres);
}

void AjouteIndex(BaseEtat& base, long long tableId, DefIndex index) {
  base.VerifieEcriture();
  DefTable& t = TableExistante(base, tableId);
  VerifieModifiable(t);
  VerifieNom(index.nom);
  for (const auto& x : t.index)
    if (MemeNom(x.nom, index.nom)) throw ErreurMoteur(3375, "La table '" + t.nom + "' a déjà un index nommé '" + index.nom + "'.");
  index.champs = NormaliseChampsIndex(t, index.champs);
  if (index.champs.empty()) throw ErreurMoteur(err::TableSansChamp, {index.nom});
  if (index.primaire)
    for (const auto& x : t.index)
      if (x.primaire) throw ErreurMoteur(err::CleExistante);

  DefTable apres = t;
  sql::PointDeReprise pr(base.db);
  if (index.primaire) VerifieCleSansNull(base.db, t, index);
  InsereIndex(base.db, tableId, index);
  CreeIndexSqlite(base.db, t, index);
  apres.index.push_back(index);
  RegenereTable(base, apres);
  pr.Valide();
  t = std::move(apres);
}

void SupprimeIndex(BaseEtat& base, long long tableId, std::string_view nom) {
  base.VerifieEcriture();
  DefTable& t = TableExistante(base, tableId);
  VerifieModifiable(t);
  auto it = std::find_if(t.index.begin(), t.index.end(), [&](const DefIndex& x) { return MemeNom(x.nom, nom); });
  if (it == t.index.end()) throw ErreurMoteur(err::ElementIntrouvable, {nom});
  DefTable apres = t;
  apres.index.erase(apres.index.begin() + (it - t.index.begin()));
  sql::PointDeReprise pr(base.db);
  sql::Execute(base.db, "DROP INDEX IF EXISTS " + NomIndexSqlite(it->id), Operation::Structure);
  ExecuteLie(base.db, "DELETE FROM MSysIndexes WHERE Id = ?", {Valeur(it->id)});
  RegenereTable(base, apres);
  pr.Valide();
  t = std::move(apres);
}

void AjouteRelation(BaseEtat& base, DefRelation r) {
  base.VerifieEcriture();
  VerifieNom(r.nom);
  if (base.cat.Relation(r.nom)) throw ErreurMoteur(3012, "L'objet '" + r.nom + "' existe déjà.");
  DefTable* primaire = base.cat.Table(r.table);
  DefTable* etrangere = base.cat.Table(r.tableEtrangere);
  if (!primaire) throw ErreurMoteur(err::TableInexistante, {r.table});
  if (!etrangere) throw ErreurMoteur(err::TableInexistante, {r.tableEtrangere});
  if (r.champs.empty()) throw ErreurMoteur(err::TableSansChamp, {r.nom});
  r.table = primaire->nom;
  r.tableEtrangere = etrangere->nom;
  for (auto& [nom, etranger] : r.champs) {
    const DefChamp* a = primaire->Champ(nom);
    const DefChamp* b = etrangere->Champ(etranger);
    if (!a) throw ErreurMoteur(err::ElementIntrouvable, {nom});
    if (!b) throw ErreurMoteur(err::ElementIntrouvable, {etranger});
    bool entiers = (a->type == dbLong && b->type == dbLong);
    if (a->type != b->type && !entiers) throw ErreurMoteur(3368);
    nom = a->nom;
    etranger = b->nom;
  }
  sql::PointDeReprise pr(base.db);
  if (r.Appliquee() && AOrphelins(base.db, r)) throw ErreurMoteur(err::PasDEnregistrementLie, {r.table});
  ExecuteLie(base.db, "INSERT INTO MSysRelationships(Name, TableName, ForeignTableName, Attributes) VALUES (?,?,?,?)",
             {Valeur(r.nom), Valeur(r.table), Valeur(r.tableEtrangere), Valeur(r.attributs)});
  r.id = sqlite3_last_insert_rowid(base.db);
  long long position = 0;
  for (const auto& [nom, etranger] : r.champs)
    ExecuteLie(base.db, "INSERT INTO MSysRelationshipFields(RelationId, Position, Name, ForeignName) VALUES (?,?,?,?)",
               {Valeur(r.id), Valeur(position++), Valeur(nom), Valeur(etranger)});
  CreeDeclencheurs(base, regles::DeclencheursRelation(r, base.cat));
  pr.Valide();
  base.cat.relations.push_back(std::make_unique<DefRelation>(std::move(r)));
}

void SupprimeRelation(BaseEtat& base, std::string_view nom) {
  base.VerifieEcriture();
  DefRelation* r = base.cat.Relation(nom);
  if (!r) throw ErreurMoteur(err::ElementIntrouvable, {nom});
  long long id = r->id;
  sql::PointDeReprise pr(base.db);
  SupprimeDeclencheursRelation(base.db, id);
  ExecuteLie(base.db, "DELETE FROM MSysRelationshipFields WHERE RelationId = ?", {Valeur(id)});
  ExecuteLie(base.db, "DELETE FROM MSysRelationships WHERE Id = ?", {Valeur(id)});
  pr.Valide();
  auto& rels = base.cat.relations;
  rels.erase(std::remove_if(rels.begin(), rels.end(), [&](const auto& x) { return x->id == id; }), rels.end());
}

void EcritPropriete(BaseEtat& base, Proprietaire genre, long long id, const DefPropriete& p, bool creation) {
  base.VerifieEcriture();
  auto* liste = ProprietesDe(base, genre, id, 0);
  if (!liste) throw ErreurMoteur(err::ElementIntrouvable);
  auto it = std::find_if(liste->begin(), liste->end(), [&](const DefPropriete& x) { return MemeNom(x.nom, p.nom); });
  if (creation && it != liste->end()) throw ErreurMoteur(err::ProprieteExiste, {p.nom});
  if (!creation && it == liste->end()) throw ErreurMoteur(3270, {p.nom});
  DefPropriete stockee = p;
  stockee.valeur = conversion::VersStockage(p.valeur, p.type);
  stockee.valeur = LitValeurPropriete(stockee.valeur, p.type);
  if (creation) {
    VerifieNom(p.nom);
    InserePropriete(base.db, genre, id, p);
    liste->push_back(std::move(stockee));
  } else {
    ExecuteLie(base.db, "UPDATE MSysProperties SET Value = ? WHERE OwnerKind = ? AND OwnerId = ? AND Name = ?",
               {conversion::VersStockage(p.valeur, it->type), Valeur(static_cast<long long>(genre)), Valeur(id), Valeur(it->nom)});
    it->valeur = LitValeurPropriete(conversion::VersStockage(p.valeur, it->type), it->type);
  }
}

void SupprimePropriete(BaseEtat& base, Proprietaire genre, long long id, std::string_view nom) {
  base.VerifieEcriture();
  auto* liste = ProprietesDe(base, genre, id, 0);
  if (!liste) throw ErreurMoteur(err::ElementIntrouvable);
  auto it = std::find_if(liste->begin(), liste->end(), [&](const DefPropriete& x) { return MemeNom(x.nom, nom); });
  if (it == liste->end()) throw ErreurMoteur(3270, {nom});
  ExecuteLie(base.db, "DELETE FROM MSysProperties WHERE OwnerKind = ? AND OwnerId = ? AND Name = ?",
             {Valeur(static_cast<long long>(genre)), Valeur(id), Valeur(it->nom)});
  liste->erase(it);
}

void RegenereRegles(BaseEtat& base, const DefTable& table) {
  RegenereTable(base, table);
  RegenereRelations(base, table.nom);
}

void DesappliqueRelationsViolees(BaseEtat& base, std::vector<std::string>& constats) {
  for (auto& r : base.cat.relations) {
    if (!r->Appliquee() || !AOrphelins(base.db, *r)) continue;
    r->attributs |= dbRelationDontEnforce;
    ExecuteLie(base.db, "UPDATE MSysRelationships SET Attributes = ? WHERE Id = ?",
               {Valeur(r->attributs), Valeur(r->id)});
    SupprimeDeclencheursRelation(base.db, r->id);
    CreeDeclencheurs(base, regles::DeclencheursRelation(*r, base.cat));
    constats.push_back("#ALERT# Relation '" + r->nom + "' entre '" + r->table + "' et '" + r->tableEtrangere +
                       "' : des enregistrements de '" + r->tableEtrangere + "' n'ont pas d'enregistrement lié dans '" +
                       r->table + "' ; elle n'est plus appliquée.");
  }
}

}  // namespace catalogue
}  // namespace moteur

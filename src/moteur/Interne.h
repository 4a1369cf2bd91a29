// Inner state of the engine's objects, shared by its translation units only.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "moteur/Moteur.h"

namespace moteur {

namespace veille {

// SQLite's progress handler on a connection: the hook of DefinitVeille, every few thousand steps.
void Installe(sqlite3* db);

// The span of an operation that a stop may abandon: there what the hook throws interrupts the
// statement running, and comes out of it in place of SQLite's SQLITE_INTERRUPT.
class Interruptible {
 public:
  Interruptible();
  ~Interruptible();
  Interruptible(const Interruptible&) = delete;
  Interruptible& operator=(const Interruptible&) = delete;
};

// Inside an Interruptible: calls the hook, letting what it throws through (a loop of the engine).
void Point();

// After a statement failed with SQLITE_INTERRUPT: throws what the hook threw, if it did.
void RelanceArret(int rc);

}  // namespace veille

namespace sql {

// What was being done when SQLite refused: decides which lock or format number to give.
enum class Operation { Lecture, Ecriture, Structure, Ouverture };

[[noreturn]] void Leve(sqlite3* db, int rc, Operation op, std::string_view objet = {});
// What the authorizer last refused to run, for the error the refusal then gives.
void NoteRefus(const std::string& chemin, const std::string& objet);
// Number an SQLite failure maps to (without throwing).
ErreurMoteur Traduit(sqlite3* db, int rc, Operation op, std::string_view objet = {});

// A prepared statement, always reset after use so that no lock outlives a call.
class Requete {
 public:
  Requete(sqlite3* db, std::string_view texte, Operation op = Operation::Lecture);
  ~Requete();
  Requete(const Requete&) = delete;
  Requete& operator=(const Requete&) = delete;
  Requete(Requete&& autre) noexcept : db_(autre.db_), stmt_(std::exchange(autre.stmt_, nullptr)), op_(autre.op_) {}

  Requete& Lie(int rang, const Valeur& valeur);  // rang from 1
  Requete& Lie(int rang, long long entier);
  Requete& Lie(int rang, std::string_view texte);
  bool Pas();         // true when a row is available
  void Termine();     // runs to the end
  void Reinitialise();
  int Colonnes() const;
  int TypeColonne(int i) const;
  long long Entier(int i) const;
  double Reel(int i) const;
  std::string Texte(int i) const;
  Valeur Brute(int i) const;  // the stored value as SQLite holds it
  sqlite3_stmt* stmt() const { return stmt_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  Operation op_;
};

void Execute(sqlite3* db, std::string_view texte, Operation op = Operation::Ecriture);

// Savepoint that rolls back unless validated: every change of the catalog is all or nothing.
// The outermost one is the SQLite transaction itself: validating it is a commit, which another
// process may refuse; undoing it then rolls the whole transaction back, so that the connection
// never stays inside a transaction nobody will end.
class PointDeReprise {
 public:
  explicit PointDeReprise(sqlite3* db);
  ~PointDeReprise();
  void Valide();

 private:
  sqlite3* db_;
  std::string nom_;
  bool exterieur_ = false;  // it began the SQLite transaction
  bool actif_ = true;
};

// How many savepoints of the engine's own are open on the connection (in this thread).
int PointsDeRepriseOuverts(sqlite3* db);

// Ends the SQLite transaction of the connection by rolling it all back; true when the connection
// is back in autocommit mode.
bool AnnuleTransaction(sqlite3* db);

// The number of the last failure after which the connection was found out of any transaction (0
// when none is known): why SQLite may have rolled back on its own a transaction the engine had
// opened. Forgotten when the engine opens a new one.
int CauseAnnulation(sqlite3* db);
void OublieCauseAnnulation(sqlite3* db);

}  // namespace sql

struct DefPropriete {
  std::string nom;
  int type = dbText;
  Valeur valeur;
};

struct DefChamp {
  long long id = 0;
  std::string nom;
  int type = 0;
  int taille = 0;
  long long attributs = 0;
  std::string defaut;
  bool requis = false;
  bool zeroLongueur = false;
  int ordinal = 0;
  std::vector<DefPropriete> proprietes;
};

struct DefIndex {
  long long id = 0;
  std::string nom;
  std::string champs;  // normalised "+A;-B"
  bool unique = false;
  bool primaire = false;
  bool ignoreNulls = false;
};

struct DefTable {
  long long id = 0;  // negative for the engine's own system tables
  std::string nom;
  long long attributs = 0;
  std::vector<DefChamp> champs;  // in ordinal order
  std::vector<DefIndex> index;
  std::vector<DefPropriete> proprietes;

  const DefChamp* Champ(std::string_view nom) const;
  DefChamp* Champ(std::string_view nom);
  DefChamp* ChampParId(long long id);
  bool Systeme() const { return (attributs & dbSystemObject) != 0; }
  bool AutoIncrement() const;
};

struct DefRelation {
  long long id = 0;
  std::string nom, table, tableEtrangere;
  long long attributs = 0;
  std::vector<std::pair<std::string, std::string>> champs;  // name, foreign name
  bool Appliquee() const { return (attributs & dbRelationDontEnforce) == 0; }
};

struct Catalogue {
  std::vector<std::unique_ptr<DefTable>> tables;  // in the order of TableDefs
  std::vector<std::unique_ptr<DefRelation>> relations;
  std::vector<DefPropriete> proprietes;  // of the database

  DefTable* Table(std::string_view nom) const;
  DefTable* TableParId(long long id) const;
  DefRelation* Relation(std::string_view nom) const;
  DefRelation* RelationParId(long long id) const;
  void Trie();
  // Catalog spelling of a table or field name, or the name as given.
  std::string Canonique(const std::string& nom) const;
};

// Something the file holds that the engine did not make.
struct ObjetInconnu {
  // "table", "définition" (of a table of the catalog), "index", "vue", "déclencheur", or "règle":
  // one of the engine's own triggers that the file no longer holds (another program dropped it).
  std::string genre;
  std::string nom, table;
  bool modifie = false;  // a trigger under the name of one of the engine's rules, with another text
  // That other text is no whole statement: a damaged page cut it, no program wrote it.
  bool texteAbime = false;
  std::string ecart = {};  // of a definition: what it holds beside what the catalog gives
  std::string Description() const;
  // A table of another program's runs nothing and may hold its data: it is left as it is.
  bool EstTable() const { return genre == "table"; }
};

// Kinds of owner of a stored property.
enum class Proprietaire { Base = 0, Table = 1, Champ = 2 };

struct BaseEtat : std::enable_shared_from_this<BaseEtat> {
  sqlite3* db = nullptr;
  std::string chemin;
  bool lectureSeule = false;
  bool exclusif = false;
  Catalogue cat;
  long long recordsAffected = 0;
  int niveauTransaction = 0;
  bool ignoreRegles = false;  // rows breaking a rule are skipped instead of failing the statement
  long long compteurTemp = 0;
  int verrou = -1;  // lock held on the Jet file this database was read from, while opened exclusively
  std::vector<ObjetInconnu> objetsInconnus;  // what the file holds that the engine did not make
  std::vector<std::string> pertes;  // what the reading of a damaged Jet file left out, as journal lines
  std::set<std::string> declencheursSurs;   // triggers as the engine wrote them: the only ones allowed to run
  std::set<std::string> declencheursAttaches;  // those of a checked file attached for the statement being run

  ~BaseEtat();
  void VerifieOuverte() const;
  // The engine counts a transaction that SQLite rolled back on its own after an error.
  bool TransactionPerdue() const;
  ErreurMoteur ErreurTransactionPerdue() const;
  void VerifieEcriture(std::string_view objet = {}) const;
  void Ferme();
};

// The catalog's persistence; every function keeps memory and file in step.
namespace catalogue {
inline constexpr std::uint32_t IdentifiantApplication = 0x55524731;  // marks a file of this engine
void Cree(sqlite3* db, const std::string& version);
bool EstCatalogue(sqlite3* db);
// The file holds the catalog's six tables, whatever its header's mark.
bool TablesDuCatalogue(sqlite3* db);
// Reads the catalog; a value out of its range is damage (3049). With `corrections`, such a value
// is put back in range instead, and each correction is written there as a journal line.
void Charge(BaseEtat& base, std::vector<std::string>* corrections = nullptr);
// Drops what the file holds that the engine did not make, one journal line each.
// A table whose definition another program altered is made again from the catalog, its records kept.
void SupprimeObjetsInconnus(BaseEtat& base, std::vector<std::string>& constats);
// An enforced relation whose records no longer fit it (another program wrote past its rules) is
// left unenforced, and told: the records stay as they are.
void DesappliqueRelationsViolees(BaseEtat& base, std::vector<std::string>& constats);
std::string LigneDefinitionRefaite(const ObjetInconnu& definition);
// A rule the file lacks, written again from the catalog.
std::string LigneRegleRefaite(const ObjetInconnu& regle);
DefTable& AjouteTable(BaseEtat& base, DefTable def);
void SupprimeTable(BaseEtat& base, std::string_view nom);
void RenommeTable(BaseEtat& base, long long id, std::string_view nouveau);
void ModifieAttributsTable(BaseEtat& base, long long id, long long attributs);
void AjouteChamp(BaseEtat& base, long long tableId, DefChamp champ);
void SupprimeChamp(BaseEtat& base, long long tableId, std::string_view nom);
// Changes the characteristics of an appended field that may change.
void ModifieChamp(BaseEtat& base, long long tableId, long long champId, const std::function<void(DefChamp&)>& change);
void AjouteIndex(BaseEtat& base, long long tableId, DefIndex index);
void SupprimeIndex(BaseEtat& base, long long tableId, std::string_view nom);
void AjouteRelation(BaseEtat& base, DefRelation relation);
void SupprimeRelation(BaseEtat& base, std::string_view nom);
void EcritPropriete(BaseEtat& base, Proprietaire genre, long long id, const DefPropriete& p, bool creation);
void SupprimePropriete(BaseEtat& base, Proprietaire genre, long long id, std::string_view nom);
std::vector<DefPropriete>* ProprietesDe(BaseEtat& base, Proprietaire genre, long long id, long long tableId);
void RegenereRegles(BaseEtat& base, const DefTable& table);
// Normalises "+A;-B" against a table's fields; throws 3265 for an unknown field.
std::string NormaliseChampsIndex(const DefTable& table, std::string_view champs);
}  // namespace catalogue

// Write rules: the triggers that check every write, whatever its path.
namespace regles {
std::vector<std::string> Declencheurs(const DefTable& table, const Catalogue& cat);
std::vector<std::string> DeclencheursRelation(const DefRelation& relation, const Catalogue& cat);
std::string TypeSqlite(const DefChamp& champ);
// The checks the rule triggers of a field's table hold for that field alone, each as it stands
// in their text: what tells a field's definition back from its table's triggers.
std::vector<std::string> ReglesDuChamp(const DefChamp& champ);
}  // namespace regles

// Value conversions between the object model and the stored form.
namespace conversion {
// The value as it is stored for a field of this type; throws 3421 or 3349.
Valeur VersStockage(const Valeur& valeur, int type);
// The stored value read back as the field's type; throws 3343 when it cannot be.
Valeur DepuisStockage(const Valeur& brute, int type);
// The default expression of a field evaluated now (Null when it has none).
Valeur EvalueDefaut(std::string_view expression, int type);
bool DefautValide(std::string_view expression);
// A new GUID in its text form; a GUID's 16 stored bytes in it (empty unless 16 bytes).
std::string NouveauGuid();
std::string GuidDepuisOctets(std::string_view octets);
// Whether a default expression is GenGUID(): a new value for every record, even in one statement.
bool EstGenerationGuid(std::string_view expression);

// Statements write through SQLite, whose column affinities know neither currency rounding nor
// the date forms a recordset accepts. Every value a statement writes into a field of a type that
// needs it goes through the function below, which converts it exactly as a recordset does; a
// value it cannot convert makes the statement fail with the number the recordset gives.
void InstalleFonctionConversion(sqlite3* db);
// Whether a value written into a field of type `type` needs the function; `typeSource` is the type
// of the field the value comes from, 0 when it is not a field (a literal, an expression).
bool DemandeConversion(int type, int typeSource = 0);
// `expression` wrapped in that function for the field `champ` of this type, or unchanged when the
// value needs no conversion.
std::string ExpressionConvertie(const std::string& expression, int type, int typeSource, const std::string& champ);
}  // namespace conversion

// utireorg_utf8(x): whether a text's bytes form UTF-8. The condition, on a text or memo field
// (quoted), holds for a stored value that is no text: bytes that form no UTF-8, or binary data.
void InstalleFonctionUtf8(sqlite3* db);
std::string ConditionTexteIllisible(const std::string& champ);

// SQLite's check of the file, then the catalog held against the file's tables and columns.
std::vector<std::string> IntegriteFichier(BaseEtat& base);

// Registry of open databases, for the workspace's transactions.
void EnregistreBase(const std::shared_ptr<BaseEtat>& base);
std::shared_ptr<BaseEtat> OuvreEtat(const std::string& chemin, bool exclusif, bool lectureSeule);

// A connection set up as every connection of the engine is.
sqlite3* OuvreConnexionMoteur(const std::string& chemin, int drapeaux);
void ConfigureConnexion(BaseEtat& base);
// Compaction's destination: 3204 when it exists, 3044 when its folder does not.
void VerifieDestination(const std::string& destination);
// Writes a compact copy of an open database at destination, with this version, then closes the
// database; on failure no part of the destination is left.
// `avantFinition` runs once the pages are copied, before the copy is stamped with its version:
// whatever it throws removes the copy.
void EcritCopie(BaseEtat& origine, const std::string& source, const std::string& destination, const std::string& version,
                const std::function<void()>& avantFinition = {});

// Sources of a Fields collection.
class ChampsSource {
 public:
  virtual ~ChampsSource() = default;
  virtual int Nombre() const = 0;
  virtual Field Element(int position) const = 0;
  virtual Field Cherche(std::string_view nom) const = 0;  // 3265 when missing
  virtual void Ajoute(const Field& champ) = 0;
  virtual void Supprime(std::string_view nom) = 0;
};

// Properties collections: where user-defined properties live and how built-in ones are read and set.
struct ProprietesEtat {
  std::function<std::vector<DefPropriete>*()> stockees;
  std::function<void(const DefPropriete&, bool creation)> ecrit;
  std::function<void(const std::string&)> supprime;
  std::function<std::vector<DefPropriete>()> integrees;
  std::function<void(const std::string&, const Valeur&)> ecritIntegree;
};

struct ProprieteEtat {
  std::shared_ptr<ProprietesEtat> collection;  // null while not appended
  DefPropriete def;                            // name always; type and value while not appended
  bool integree = false;
};

// Factories shared between the object model's translation units.
TableDef TableLiee(const std::shared_ptr<BaseEtat>& base, long long id);
Field ChampDeRecordset(const std::shared_ptr<RecordsetEtat>& rs, int colonne);
Property ProprieteLibre(std::string_view nom, int type, const Valeur& valeur);
std::shared_ptr<ProprietesEtat> ProprietesBase(const std::shared_ptr<BaseEtat>& base);

// Recordset fields, read and written through their recordset.
int NombreChampsRecordset(const RecordsetEtat& rs);
int ChercheChampRecordset(const RecordsetEtat& rs, std::string_view nom);  // -1 when missing
const DefChamp& DefChampRecordset(const RecordsetEtat& rs, int colonne);
// A value asked for may have the rows ahead read again: the recordset changes.
Valeur ValeurChampRecordset(RecordsetEtat& rs, int colonne);
Valeur ValeurStockeeRecordset(RecordsetEtat& rs, int colonne);
void LitValeurChampRecordset(RecordsetEtat& rs, int colonne, Valeur& dans);
void AffecteChampRecordset(RecordsetEtat& rs, int colonne, const Valeur& valeur);
// A value written as an SQLite literal.
std::string LitteralPourSql(const Valeur& v);

}  // namespace moteur

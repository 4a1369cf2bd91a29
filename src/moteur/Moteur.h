// The embedded database engine: databases, table and field definitions, indexes, relations,
// properties, recordsets and the SQL dialect, over SQLite files.
//
// Objects are handles: copying one gives another handle on the same object. A definition made
// with Create… lives on its own until it is appended to its collection; from then on it is a
// view of the database's catalog, and changing it changes the database.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "moteur/Erreurs.h"
#include "moteur/Types.h"
#include "moteur/Valeur.h"

namespace moteur {

struct BaseEtat;
struct TableDefEtat;
struct FieldEtat;
struct IndexEtat;
struct RelationEtat;
struct RecordsetEtat;
struct ProprietesEtat;
struct ProprieteEtat;
class ChampsSource;

class Property {
 public:
  Property() = default;
  explicit Property(std::shared_ptr<ProprieteEtat> e) : e_(std::move(e)) {}
  std::string Name() const;
  int Type() const;
  Valeur Value() const;
  void SetValue(const Valeur& valeur);
  bool Inherited() const { return false; }
  const std::shared_ptr<ProprieteEtat>& etat() const { return e_; }

 private:
  std::shared_ptr<ProprieteEtat> e_;
};

class Properties {
 public:
  explicit Properties(std::shared_ptr<ProprietesEtat> e) : e_(std::move(e)) {}
  int Count() const;
  Property operator[](int position) const;
  Property operator[](std::string_view nom) const;  // 3270 when missing
  void Append(const Property& propriete);           // 3367 when the name exists
  void Delete(std::string_view nom);
  void Refresh() {}

 private:
  std::shared_ptr<ProprietesEtat> e_;
};

class Field {
 public:
  Field() = default;
  explicit Field(std::shared_ptr<FieldEtat> e) : e_(std::move(e)) {}

  std::string Name() const;
  void SetName(std::string_view nom);
  int Type() const;
  void SetType(int type);
  int Size() const;
  void SetSize(int taille);
  long long Attributes() const;
  void SetAttributes(long long attributs);
  std::string DefaultValue() const;
  void SetDefaultValue(std::string_view expression);
  bool Required() const;
  void SetRequired(bool requis);
  bool AllowZeroLength() const;
  void SetAllowZeroLength(bool autorise);
  int OrdinalPosition() const;
  void SetOrdinalPosition(int position);
  std::string ForeignName() const;
  void SetForeignName(std::string_view nom);
  std::string SourceTable() const;

  // Value of the current record, for a field of a recordset.
  Valeur Value() const;
  // The same value written over `dans`, whose storage is reused: a loop over many records then
  // allocates nothing for their texts.
  void LitValeur(Valeur& dans) const;
  // The value of the current record as the file stores it, before its type reads it (a Yes/No
  // stored 7 reads Yes): what a check of the file holds against the type.
  Valeur ValeurStockee() const;
  void SetValue(const Valeur& valeur);

  moteur::Properties Properties() const;
  Property CreateProperty(std::string_view nom = {}, int type = dbText, const Valeur& valeur = Valeur()) const;

  bool EstLie() const;  // appended to a table of a database
  const std::shared_ptr<FieldEtat>& etat() const { return e_; }

 private:
  std::shared_ptr<FieldEtat> e_;
};

class Fields {
 public:
  explicit Fields(std::shared_ptr<ChampsSource> source) : source_(std::move(source)) {}
  int Count() const;
  Field operator[](int position) const;
  Field operator[](std::string_view nom) const;  // 3265 when missing
  void Append(const Field& champ);
  void Delete(std::string_view nom);
  void Refresh() const {}

 private:
  std::shared_ptr<ChampsSource> source_;
};

class Index {
 public:
  Index() = default;
  explicit Index(std::shared_ptr<IndexEtat> e) : e_(std::move(e)) {}
  std::string Name() const;
  void SetName(std::string_view nom);
  std::string Fields() const;  // "+Nom;-Prenom"
  void SetFields(std::string_view champs);
  bool Unique() const;
  void SetUnique(bool unique);
  bool Primary() const;
  void SetPrimary(bool primaire);
  bool IgnoreNulls() const;
  void SetIgnoreNulls(bool ignore);
  const std::shared_ptr<IndexEtat>& etat() const { return e_; }

 private:
  std::shared_ptr<IndexEtat> e_;
};

class Indexes {
 public:
  explicit Indexes(std::shared_ptr<TableDefEtat> table) : table_(std::move(table)) {}
  int Count() const;
  Index operator[](int position) const;
  Index operator[](std::string_view nom) const;  // 3265 when missing
  void Append(const Index& index);               // 3022 duplicates, 3283 second primary key
  void Delete(std::string_view nom);
  void Refresh() const {}

 private:
  std::shared_ptr<TableDefEtat> table_;
};

class TableDef {
 public:
  TableDef() = default;
  explicit TableDef(std::shared_ptr<TableDefEtat> e) : e_(std::move(e)) {}

  std::string Name() const;
  void SetName(std::string_view nom);  // renames an appended table; 3010 when the name exists
  long long Attributes() const;
  void SetAttributes(long long attributs);
  long long RecordCount() const;
  moteur::Fields Fields() const;
  moteur::Indexes Indexes() const;
  moteur::Properties Properties() const;

  Field CreateField(std::string_view nom = {}, int type = 0, int taille = 0) const;
  Index CreateIndex(std::string_view nom = {}) const;
  Property CreateProperty(std::string_view nom = {}, int type = dbText, const Valeur& valeur = Valeur()) const;

  bool EstLie() const;
  const std::shared_ptr<TableDefEtat>& etat() const { return e_; }

 private:
  std::shared_ptr<TableDefEtat> e_;
};

class TableDefs {
 public:
  explicit TableDefs(std::shared_ptr<BaseEtat> base) : base_(std::move(base)) {}
  int Count() const;
  TableDef operator[](int position) const;
  TableDef operator[](std::string_view nom) const;  // 3265 when missing
  void Append(const TableDef& table);               // 3264 without fields, 3010 when the name exists
  void Delete(std::string_view nom);
  void Refresh() const;

 private:
  std::shared_ptr<BaseEtat> base_;
};

class Relation {
 public:
  Relation() = default;
  explicit Relation(std::shared_ptr<RelationEtat> e) : e_(std::move(e)) {}
  std::string Name() const;
  void SetName(std::string_view nom);
  std::string Table() const;
  void SetTable(std::string_view nom);
  std::string ForeignTable() const;
  void SetForeignTable(std::string_view nom);
  long long Attributes() const;
  void SetAttributes(long long attributs);
  moteur::Fields Fields() const;
  Field CreateField(std::string_view nom = {}) const;
  const std::shared_ptr<RelationEtat>& etat() const { return e_; }

 private:
  std::shared_ptr<RelationEtat> e_;
};

class Relations {
 public:
  explicit Relations(std::shared_ptr<BaseEtat> base) : base_(std::move(base)) {}
  int Count() const;
  Relation operator[](int position) const;
  Relation operator[](std::string_view nom) const;
  void Append(const Relation& relation);  // checks existing data when enforced
  void Delete(std::string_view nom);
  void Refresh() const;

 private:
  std::shared_ptr<BaseEtat> base_;
};

using Signet = long long;

class Recordset {
 public:
  Recordset() = default;
  explicit Recordset(std::shared_ptr<RecordsetEtat> e) : e_(std::move(e)) {}

  int Type() const;
  bool Eof() const;  // EOF: the name of the C macro cannot be used
  bool Bof() const;
  void MoveFirst();
  void MoveNext();
  void MovePrevious();
  void MoveLast();
  Signet Bookmark() const;
  void SetBookmark(Signet signet);
  Signet LastModified() const;
  long long RecordCount() const;

  void AddNew();
  void Edit();
  void Update();
  void CancelUpdate();
  void Delete();
  int EditMode() const;  // 0 none, 1 edit in progress, 2 add in progress
  bool LockEdits() const;
  void SetLockEdits(bool pessimiste);

  moteur::Fields Fields() const;
  Field operator[](std::string_view nom) const;
  Field operator[](int position) const;
  void Close();
  bool EstOuvert() const;
  bool Updatable() const;

  // Whether every value of the current record certainly reads as its field's type, with no text
  // longer than its field: the record check then has nothing to cut or replace in it. False says
  // only that it may have; reading the values tells. Faster than reading them.
  bool EnregistrementSain();

 private:
  std::shared_ptr<RecordsetEtat> e_;
};

class Database {
 public:
  Database() = default;
  explicit Database(std::shared_ptr<BaseEtat> e) : e_(std::move(e)) {}

  std::string Name() const;
  moteur::TableDefs TableDefs() const;
  moteur::Relations Relations() const;
  moteur::Properties Properties() const;
  std::string Version() const;  // the "Version" property

  TableDef CreateTableDef(std::string_view nom = {}, long long attributs = 0) const;
  Relation CreateRelation(std::string_view nom = {}, std::string_view table = {}, std::string_view tableEtrangere = {},
                          long long attributs = 0) const;
  Property CreateProperty(std::string_view nom = {}, int type = dbText, const Valeur& valeur = Valeur()) const;

  void Execute(std::string_view instruction, int options = 0);
  long long RecordsAffected() const;
  Recordset OpenRecordset(std::string_view source, int type = 0, int options = 0);

  // Integrity of the file and of its catalog: empty when sound, else what is wrong. A lock of
  // another program met on the way is thrown: what could not be read is not judged.
  std::vector<std::string> VerifieIntegrite() const;
  // Triggers, views, tables and indexes the engine did not make, as found at opening, each named
  // for the user ("déclencheur « piege » (table MSysProperties)"). None of them is ever run. A
  // table of another program (and its indexes) is left as it is; the integrity check does not
  // count it as a fault.
  std::vector<std::string> ObjetsInconnus() const;
  // Those of them that would run code if the engine let them: triggers and views.
  std::vector<std::string> ObjetsExecutables() const;

  void Close();
  bool EstOuverte() const;
  const std::shared_ptr<BaseEtat>& etat() const { return e_; }

 private:
  std::shared_ptr<BaseEtat> e_;
};

// Writes one record as given, past every write rule and conversion: the way damaged or older
// files come to hold texts longer than their field, nulls in required fields or values that
// cannot be read as their type. For the database tool and the tests of the repair stages.
void EcritSansControle(Database& base, std::string_view table,
                       const std::vector<std::pair<std::string, Valeur>>& valeurs);

// The value a new record takes from a field of this type with this default expression ("0",
// "True", "Date()", "#01/02/2020#"…): Null when there is none or when it cannot be read as the type.
Valeur ValeurParDefaut(std::string_view expression, int type);
// The value a field of this type holds once given `valeur`, as a recordset reads it back; throws
// the recordset's error (3421, 3349) when the field cannot take it.
Valeur ValeurDuChamp(const Valeur& valeur, int type);

// A text of a table whose bytes form no UTF-8, or bytes in a text field: another program wrote it,
// and no reading gives it back. The record, by its bookmark, the field and the bytes stored.
struct TexteIllisible {
  Signet signet = 0;
  std::string champ;
  std::string octets;
};
// One SQL pass over the table finds them, so that a table without any costs no reading of its
// records by the caller.
std::vector<TexteIllisible> TextesIllisibles(Database& base, std::string_view table);

// What a file holds, judged from its first bytes; never throws. Jet 3.0 and 4.0 files are read
// (read-only) and converted by CompactDatabase; later formats of that family are refused.
enum class FormatFichier { Absent, Inconnu, Moteur, Jet3, Jet4, JetUlterieur };
FormatFichier FormatDuFichier(const std::string& chemin);
bool EstFichierJet(const std::string& chemin);  // Jet 3.0 or 4.0

// Converts a Jet file (or a database of this engine) to a new database of this engine at
// destination, in version "3.0" or "4.0", keeping every value as stored: texts longer than their
// field and nulls in required fields included, for the record check to repair on the new file.
// Errors as CompactDatabase's: 3204 when destination exists, 3044 for a missing folder, the
// disk-space numbers; no partial destination is ever left.
void ConvertitJet(const std::string& source, const std::string& destination, const std::string& version);
// The same; what a damaged Jet file's reading had to leave out (a row, a value, a table, an index
// definition, a relation) is written into `constats`, one journal line each ("#ALERT# …").
void ConvertitJet(const std::string& source, const std::string& destination, const std::string& version,
                  std::vector<std::string>& constats);

// How long a statement met by another process's lock waits for it to go before it is refused
// with a lock number: long enough for the commit of another workstation, whose write lasts a
// moment; a longer hold is for the callers' multi-station wait. Tests that hold a lock on
// purpose may shorten it.
inline constexpr std::chrono::milliseconds DelaiOccupationParDefaut{500};
void DefinitDelaiOccupation(std::chrono::milliseconds delai);

// The integrity check, VACUUM INTO, the salvage of a damaged file and a bulk INSERT … SELECT last
// as long as the file is big. They call back the hook set here as they go (through SQLite's
// progress handler, and from the engine's own loops), on the thread that set it only, so that a
// window keeps drawing itself and taking clicks through them. What the hook throws (a stop asked
// for meanwhile) abandons those operations as an error would, and comes out of the engine's call;
// anywhere else the engine drops it, and the caller's own next check meets the request again.
void DefinitVeille(std::function<void()> veille);
// Calls the hook from a loop that is no SQL statement (a file copy); what it throws is dropped.
void Veille() noexcept;

// Some steps of those operations are one call that SQLite cannot break (a commit and its sync,
// the check of a whole b-tree): "travail" then runs on a thread of its own while this thread
// calls the hook every few milliseconds, so that the window lives through them too. On that
// thread the statements call "arret" instead of the hook, which may throw a stop as the hook
// would; what "travail" throws comes out here. This thread must not use the engine meanwhile:
// the hook only lets the window draw itself and note clicks. Without a hook, "travail" simply
// runs here.
void DefinitArretDelegue(std::function<void()> arret);
void TravailDelegue(const std::function<void()>& travail);

// Keeps a damaged file as it is, beside itself, under a name of its own ("base.endommagee.mdb",
// then "base.endommagee-2.mdb"…), for another tool to get more out of it than a repair could.
// Returns that name; empty when it could not be kept, which is told in `constats`.
std::string GardeFichierEndommage(const std::string& chemin, std::vector<std::string>& constats);

// The engine and its default workspace.
class DBEngine {
 public:
  static Database OpenDatabase(const std::string& chemin, bool exclusif = false, bool lectureSeule = false,
                               const std::string& connect = {});
  // A new empty database; version "3.0" or "4.0".
  static Database CreateDatabase(const std::string& chemin, const std::string& version = "4.0");
  static void RepairDatabase(const std::string& chemin);
  // The same, with what the repair had to give up or change written into `constats`, one
  // journal line each ("#ALERT# " for what was lost or changed): records and values that could
  // not be read, relations left unenforced, objects the engine does not know.
  // With GardeEndommagee::Oui, a repair that could not keep every record or value as it was
  // keeps the damaged file beside the repaired one, under a name of its own, says where, and
  // returns that name (empty when nothing was kept).
  enum class GardeEndommagee : bool { Non, Oui };
  static std::string RepairDatabase(const std::string& chemin, std::vector<std::string>& constats,
                                    GardeEndommagee garde = GardeEndommagee::Non);
  static void CompactDatabase(const std::string& source, const std::string& destination,
                              const std::string& locale = dbLangGeneral, int options = 0,
                              const std::string& motDePasse = {});
  static void Idle(int options = 0);

  // Transactions of the default workspace, over every open database.
  static void BeginTrans();
  static void CommitTrans();
  static void Rollback();
  static int NiveauTransaction();
};

}  // namespace moteur

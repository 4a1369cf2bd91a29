// Recordsets stream: rows are fetched in small batches by rowid, and every statement is reset
// between batches, so memory stays bounded and no lock is held between calls.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "moteur/Dialecte.h"
#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur {

namespace {
// A batch holds at most this many rows, and stops early once their values hold about this many
// bytes: the fewer batches, the fewer times a read takes the file's lock again and finds its place
// in the table, while wide records still keep a recordset's memory small.
constexpr int TailleLot = 1024;
constexpr std::size_t OctetsLot = 1 << 20;
// The first batch of a table is smaller: it is read whole, and read again by every MoveFirst.
constexpr int TaillePremierLot = 64;
constexpr int TypeNaturel = -1;  // a computed column of a query: read as SQLite holds it

// A date stored exactly in the form the engine writes reads back as that same text: rebuilding
// it from its parts, a formatted print per value, was a fifth of the cost of reading a table.
// Checked in one pass over its 19 characters, as DateHeure::Valide would check its parts.
bool DateCanonique(std::string_view texte) {
  if (texte.size() != 19) return false;
  const auto* t = reinterpret_cast<const unsigned char*>(texte.data());
  if (t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':') return false;
  // Two digits as a number, or more than 99 when either is not a digit.
  auto deux = [t](int i) {
    const unsigned a = t[i] - unsigned{'0'}, b = t[i + 1] - unsigned{'0'};
    return a > 9 || b > 9 ? 100u : a * 10 + b;
  };
  const unsigned siecle = deux(0), an = deux(2);
  DateHeure d;
  d.mois = static_cast<int>(deux(5));
  d.jour = static_cast<int>(deux(8));
  d.heure = static_cast<int>(deux(11));
  d.minute = static_cast<int>(deux(14));
  d.seconde = static_cast<int>(deux(17));
  if (siecle > 99 || an > 99) return false;
  d.annee = static_cast<int>(siecle * 100 + an);
  // Valide bounds every part, so a non-digit, read as 100, is refused there.
  return d.Valide();
}

// Whether a stored value (its SQLite type, and its number or text) certainly reads as its
// field's type, and is no longer than a Text field's size, nor bytes that form no text: what the
// record check looks for.
// False says only that the full reading must tell, which it does for the rare forms left out
// here (a whole number held as a real, a date written otherwise, a number in a Text field).
bool ValeurSaine(int genre, long long entier, double reel, std::string_view texte, const DefChamp& champ) {
  if (genre == SQLITE_NULL) return !champ.requis || !NulRemplacable(champ.type, champ.attributs, champ.zeroLongueur);
  switch (champ.type) {
    case dbBoolean: return genre == SQLITE_INTEGER && (entier == 0 || entier == -1);
    case dbByte:
    case dbInteger:
    case dbLong: return genre == SQLITE_INTEGER && EntierDansSonType(champ.type, champ.attributs, entier);
    case dbCurrency:
      return genre == SQLITE_INTEGER ||
             (genre == SQLITE_FLOAT && std::isfinite(reel) && std::fabs(reel) <= 922337203685477.5808);
    case dbSingle:
    case dbDouble: return genre == SQLITE_INTEGER || (genre == SQLITE_FLOAT && ReelDansSonType(champ.type, reel));
    case dbDate: return genre == SQLITE_TEXT && DateCanonique(texte);
    case dbText: {
      const auto taille = static_cast<std::size_t>(champ.taille);
      return genre == SQLITE_TEXT && (texte.size() <= taille || NombreCaracteres(texte) <= taille) && Utf8Valide(texte);
    }
    case dbMemo: return genre == SQLITE_TEXT && Utf8Valide(texte);
    case dbGUID: return false;  // its text form is checked by the full reading
    default: return true;  // binaries, and the computed columns of queries, read whatever is stored
  }
}

int GenreSqlite(const Valeur& v) {
  switch (v.genre()) {
    case Valeur::Genre::Entier:
    case Valeur::Genre::Booleen: return SQLITE_INTEGER;
    case Valeur::Genre::Reel: return SQLITE_FLOAT;
    case Valeur::Genre::Texte: return SQLITE_TEXT;
    case Valeur::Genre::Binaire: return SQLITE_BLOB;
    case Valeur::Genre::Nul:
    case Valeur::Genre::Vide: return SQLITE_NULL;
    default: return -1;  // no stored value has another kind
  }
}
}  // namespace

struct RecordsetEtat : std::enable_shared_from_this<RecordsetEtat> {
  // Version of a row read with every value, and of a column never asked for.
  static constexpr int Toutes = std::numeric_limits<int>::max();

  enum Sante : signed char { Inconnue, Douteuse, Saine };

  struct Ligne {
    long long rowid = 0;
    std::vector<Valeur> valeurs;
    // The set of columns whose values were copied into the row (see voulues).
    int version = Toutes;
    Sante sante = Inconnue;  // see LigneSaine
  };
  enum class Position { Bof, Courant, Eof, Supprime };

  std::shared_ptr<BaseEtat> base;
  int type = dbOpenTable;
  bool modifiable = true;
  std::string source;     // quoted, qualified table the rows come from
  std::string nomTable;   // user table name, empty for a query
  bool temporaire = false;
  std::vector<DefChamp> champs;
  std::vector<std::string> plies;
  // The columns whose values the batches copy. A column joins the set the first time one of its
  // values is asked for, and takes the set's next version number; until then it has Toutes. A
  // row holds the values of the columns whose number is at most its own version. Going through a
  // table without looking at its values (the reading pass) or at two of its fields (the
  // null-record pass) then copies no value or two per record, not every one: SQLite still reads
  // each record whole, which is what finds a damaged one. A batch read from the start copies
  // every value, so that the columns a loop reads join the set on its first record.
  std::vector<int> voulues;
  int versionVoulues = 0;
  // Asked once whether a record is sound: the batches read from then on judge each row as they
  // read it, from SQLite's own values, so that a sound record needs none of its values copied.
  bool santeVoulue = false;
  std::unique_ptr<sql::Requete> premiers, suivants, precedent, dernier, parRowid;
  std::vector<Ligne> lot;
  // The batch before the current one: the next batch is read into its rows, so that going
  // through a table allocates for each value read but not for each record.
  std::vector<Ligne> lotPrecedent;
  std::size_t pos = 0;
  Position position = Position::Bof;
  bool vide = false;  // the last read from the start found nothing: both ends at once
  long long rowidRepere = 0;  // where a deleted current record stood
  int editMode = 0;
  std::vector<std::optional<Valeur>> edition;
  std::vector<Valeur> originaux;
  long long lastModified = 0;
  bool aModifie = false;
  bool lockEdits = true;
  bool ouvert = true;

  ~RecordsetEtat() { Ferme(); }

  void Ferme() {
    if (!ouvert) return;
    ouvert = false;
    premiers.reset();
    suivants.reset();
    precedent.reset();
    dernier.reset();
    parRowid.reset();
    lot.clear();
    lotPrecedent.clear();
    if (temporaire && base && base->db) sqlite3_exec(base->db, ("DROP TABLE IF EXISTS temp." + source.substr(5)).c_str(), nullptr, nullptr, nullptr);
  }

  void VerifieOuvert() const {
    if (!ouvert) throw ErreurMoteur(err::ObjetInvalide, "Objet non valide ou qui n'est plus défini.");
    base->VerifieOuverte();
  }

  void Prepare() {
    std::string colonnes = "rowid";
    for (const auto& c : champs) colonnes += ", " + CiteIdent(c.nom);
    std::string debut = "SELECT " + colonnes + " FROM " + source;
    premiers = std::make_unique<sql::Requete>(base->db, debut + " WHERE rowid > ? ORDER BY rowid LIMIT " + std::to_string(TaillePremierLot));
    suivants = std::make_unique<sql::Requete>(base->db, debut + " WHERE rowid > ? ORDER BY rowid LIMIT " + std::to_string(TailleLot));
    precedent = std::make_unique<sql::Requete>(base->db, debut + " WHERE rowid < ? ORDER BY rowid DESC LIMIT 1");
    dernier = std::make_unique<sql::Requete>(base->db, debut + " ORDER BY rowid DESC LIMIT 1");
    parRowid = std::make_unique<sql::Requete>(base->db, debut + " WHERE rowid = ?");
    voulues.assign(champs.size(), Toutes);
  }

  // The stored value as SQLite holds it, written over the one already in place: texts read into
  // the rows of an earlier batch reuse their storage, where a new value each time would cost an
  // allocation and a release for every text of every record.
  // Returns the bytes of text or binary data the value now holds.
  static std::size_t LitValeur(sqlite3_stmt* st, int i, Valeur& v) {
    switch (sqlite3_column_type(st, i)) {
      case SQLITE_INTEGER: v = Valeur(static_cast<long long>(sqlite3_column_int64(st, i))); return 0;
      case SQLITE_FLOAT: v = Valeur(sqlite3_column_double(st, i)); return 0;
      case SQLITE_TEXT: {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        const std::size_t n = t ? static_cast<std::size_t>(sqlite3_column_bytes(st, i)) : 0;
        v.RemplaceOctets(Valeur::Genre::Texte, t ? t : "", n);
        return n;
      }
      case SQLITE_BLOB: {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
        const std::size_t n = p ? static_cast<std::size_t>(sqlite3_column_bytes(st, i)) : 0;
        v.RemplaceOctets(Valeur::Genre::Binaire, p ? p : "", n);
        return n;
      }
      default: v = Valeur::Nul(); return 0;
    }
  }

  // Every value, or those of the columns asked for so far; returns about the bytes the row
  // takes in memory.
  std::size_t LitLigne(const sql::Requete& r, Ligne& l, bool complete) const {
    const std::size_t n = champs.size();
    l.rowid = r.Entier(0);
    l.valeurs.resize(n);
    l.version = complete ? Toutes : versionVoulues;
    l.sante = santeVoulue && !complete ? SanteDansRequete(r.stmt()) : Inconnue;
    std::size_t octets = sizeof(Ligne) + n * sizeof(Valeur);
    if (!complete && versionVoulues == 0) return octets;  // no column asked for yet
    for (std::size_t i = 0; i < n; ++i)
      if (complete || voulues[i] <= versionVoulues) octets += LitValeur(r.stmt(), static_cast<int>(i) + 1, l.valeurs[i]);
    return octets;
  }

  // Runs one of the prepared reads and always resets it.
  std::vector<Ligne> Lit(sql::Requete& requete, std::optional<long long> rowid) {
    // Only a whole batch is worth the rows of the previous one: a single-row read would
    // throw most of them away.
    std::vector<Ligne> lignes;
    if (&requete == suivants.get()) lignes.swap(lotPrecedent);
    const bool debut = &requete == suivants.get() && rowid == std::numeric_limits<long long>::min();
    const bool complete = &requete != suivants.get() || debut;
    sql::Requete& r = debut ? *premiers : requete;
    std::size_t n = 0, octets = 0;
    r.Reinitialise();
    if (rowid) r.Lie(1, *rowid);
    try {
      // The next batch goes on from the last row read: stopping early loses nothing.
      while (octets < OctetsLot && r.Pas()) {
        if (n == lignes.size()) lignes.emplace_back();
        octets += LitLigne(r, lignes[n++], complete);
      }
    } catch (...) {
      r.Reinitialise();
      throw;
    }
    r.Reinitialise();
    lignes.resize(n);
    return lignes;
  }

  bool Place(std::vector<Ligne> lignes) {
    lotPrecedent.swap(lot);
    lot = std::move(lignes);
    pos = 0;
    if (lot.empty()) return false;
    position = Position::Courant;
    vide = false;
    return true;
  }

  bool PlaceDebut() {
    if (Place(Lit(*suivants, std::numeric_limits<long long>::min()))) return true;
    position = Position::Eof;
    vide = true;
    return false;
  }

  long long RowidCourant() const {
    if (position == Position::Courant) return lot[pos].rowid;
    if (position == Position::Supprime) return rowidRepere;
    throw ErreurMoteur(err::PasDEnregistrementCourant);
  }

  const Ligne& LigneCourante() const {
    if (position == Position::Supprime) throw ErreurMoteur(err::EnregistrementSupprime);
    if (position != Position::Courant) throw ErreurMoteur(err::PasDEnregistrementCourant);
    return lot[pos];
  }

  Sante SanteDansRequete(sqlite3_stmt* st) const {
    for (std::size_t i = 0; i < champs.size(); ++i) {
      const int colonne = static_cast<int>(i) + 1;
      const int genre = sqlite3_column_type(st, colonne);
      double reel = 0;
      long long entier = 0;
      std::string_view texte;
      if (genre == SQLITE_INTEGER) {
        entier = sqlite3_column_int64(st, colonne);
      } else if (genre == SQLITE_FLOAT &&
                 (champs[i].type == dbCurrency || champs[i].type == dbSingle || champs[i].type == dbDouble)) {
        reel = sqlite3_column_double(st, colonne);
      } else if (genre == SQLITE_TEXT && (EstTypeTexte(champs[i].type) || champs[i].type == dbDate)) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, colonne));
        if (t) texte = std::string_view(t, static_cast<std::size_t>(sqlite3_column_bytes(st, colonne)));
      }
      if (!ValeurSaine(genre, entier, reel, texte, champs[i])) return Douteuse;
    }
    return Saine;
  }

  Sante SanteDesValeurs(const Ligne& l) const {
    for (std::size_t i = 0; i < champs.size(); ++i) {
      const Valeur& v = l.valeurs[i];
      const bool texte = v.genre() == Valeur::Genre::Texte;
      const long long entier = GenreSqlite(v) == SQLITE_INTEGER ? v.entier() : 0;
      if (!ValeurSaine(GenreSqlite(v), entier, v.reel(), texte ? std::string_view(v.texte()) : std::string_view(),
                       champs[i]))
        return Douteuse;
    }
    return Saine;
  }

  // Whether every value of the current record certainly reads as its field's type with no text
  // longer than its field; false when that is only possible.
  bool LigneSaine() {
    santeVoulue = true;
    LigneCourante();  // the same errors as a value read
    Ligne& ligne = lot[pos];
    // A row read without all its values and before the question was asked is left to the
    // full reading.
    if (ligne.sante == Inconnue) ligne.sante = ligne.version == Toutes ? SanteDesValeurs(ligne) : Douteuse;
    return ligne.sante == Saine;
  }

  // The stored value of a column in the current record. A record read without that column is
  // read again whole. The column joins those the batches copy, unless the record is one the
  // record check doubts: reading such a record says nothing of the next ones.
  const Valeur& ValeurStockee(int colonne) {
    const Ligne& ligne = LigneCourante();
    if (voulues[colonne] == Toutes && ligne.sante != Douteuse) voulues[colonne] = ++versionVoulues;
    if (voulues[colonne] <= ligne.version) return ligne.valeurs[colonne];
    std::vector<Ligne> relue = Lit(*parRowid, ligne.rowid);
    // The record went since its batch was read, as Edit finds out in the same case.
    if (relue.empty()) throw ErreurMoteur(err::EnregistrementSupprime);
    relue.front().sante = ligne.sante;
    lot[pos] = std::move(relue.front());
    return lot[pos].valeurs[colonne];
  }

  void VerifieModifiable() const {
    if (!modifiable) throw ErreurMoteur(err::LectureSeule, {nomTable});
    base->VerifieEcriture(nomTable);
  }

  // After a write the rows ahead may have changed: fetch them again when needed.
  void OublieSuite() {
    if (position == Position::Courant) lot.resize(pos + 1);
  }

  Valeur ValeurDe(int colonne, const Valeur& brute) const {
    int t = champs[colonne].type;
    if (t == TypeNaturel) return brute.EstNulOuVide() ? Valeur::Nul() : brute;
    if (t == dbDate && brute.genre() == Valeur::Genre::Texte && DateCanonique(brute.texte()))
      return Valeur::DateIso(brute.texte());
    return conversion::DepuisStockage(brute, t);
  }
};

namespace {

std::string LitteralSql(const Valeur& v) {
  switch (v.genre()) {
    case Valeur::Genre::Vide:
    case Valeur::Genre::Nul: return "NULL";
    case Valeur::Genre::Booleen:
    case Valeur::Genre::Entier: return std::to_string(v.entier());
    case Valeur::Genre::Reel: {
      char tampon[40];
      std::snprintf(tampon, sizeof tampon, "%.17g", v.reel());
      return tampon;
    }
    case Valeur::Genre::Binaire: {
      static const char* hex = "0123456789ABCDEF";
      std::string t = "X'";
      for (unsigned char c : v.texte()) {
        t += hex[c >> 4];
        t += hex[c & 15];
      }
      return t + "'";
    }
    default: return CiteLitteral(v.texte());
  }
}

bool EstRequete(std::string_view source) {
  while (!source.empty() && (source.front() == ' ' || source.front() == '\t' || source.front() == '\n' || source.front() == '\r'))
    source.remove_prefix(1);
  return source.size() >= 7 && PlieNom(source.substr(0, 6)) == "select" &&
         (source[6] == ' ' || source[6] == '\t' || source[6] == '\n' || source[6] == '\r' || source[6] == '*');
}

int TypeDepuisDeclare(const char* declare) {
  if (!declare) return TypeNaturel;
  std::string t = PlieNom(declare);
  if (t.find("int") != std::string::npos) return dbLong;
  if (t.find("real") != std::string::npos) return dbDouble;
  if (t.find("text") != std::string::npos) return dbMemo;
  return TypeNaturel;
}

void OuvreSurTable(RecordsetEtat& rs, const DefTable& t) {
  rs.nomTable = t.nom;
  rs.source = "main." + CiteIdent(t.nom);
  rs.champs = t.champs;
  if (t.Systeme() && t.id < 0) rs.modifiable = false;
}

void OuvreSurRequete(RecordsetEtat& rs, std::string_view texte) {
  BaseEtat& base = *rs.base;
  auto ins = dialecte::Traduit(texte, [&base](const std::string& n) { return base.cat.Canonique(n); });
  if (ins.genre != dialecte::Genre::Select) throw ErreurMoteur(3219);
  // Column origins give each result column the type of the field it comes from.
  {
    sql::Requete r(base.db, ins.sql);
    int n = r.Colonnes();
    for (int i = 0; i < n; ++i) {
      DefChamp c;
      const char* origine = sqlite3_column_origin_name(r.stmt(), i);
      const char* table = sqlite3_column_table_name(r.stmt(), i);
      const DefTable* t = table ? base.cat.Table(table) : nullptr;
      const DefChamp* d = (t && origine) ? t->Champ(origine) : nullptr;
      if (d) c = *d;
      else c.type = TypeDepuisDeclare(sqlite3_column_decltype(r.stmt(), i));
      c.id = 0;
      c.nom = sqlite3_column_name(r.stmt(), i);
      rs.champs.push_back(std::move(c));
    }
  }
  std::string nom = "MSysRs_" + std::to_string(++base.compteurTemp);
  sql::Execute(base.db, "CREATE TEMP TABLE " + CiteIdent(nom) + " AS " + ins.sql, sql::Operation::Lecture);
  // CREATE TABLE AS renames duplicate result columns: read them back by position.
  sql::Requete colonnes(base.db, "SELECT name FROM pragma_table_info(?) ORDER BY cid");
  colonnes.Lie(1, std::string_view(nom));
  std::vector<std::string> physiques;
  while (colonnes.Pas()) physiques.push_back(colonnes.Texte(0));
  rs.source = "temp." + CiteIdent(nom);
  rs.temporaire = true;
  rs.modifiable = false;
  for (std::size_t i = 0; i < rs.champs.size() && i < physiques.size(); ++i) rs.plies.push_back(PlieNom(rs.champs[i].nom));
  rs.champs.resize(std::min(rs.champs.size(), physiques.size()));
  // The prepared reads use the physical names of the temporary table.
  std::vector<std::string> affiches;
  for (std::size_t i = 0; i < rs.champs.size(); ++i) {
    affiches.push_back(rs.champs[i].nom);
    rs.champs[i].nom = physiques[i];
  }
  rs.Prepare();
  for (std::size_t i = 0; i < rs.champs.size(); ++i) rs.champs[i].nom = affiches[i];
}

}  // namespace

Recordset Database::OpenRecordset(std::string_view source, int type, int options) {
  e_->VerifieOuverte();
  auto rs = std::make_shared<RecordsetEtat>();
  rs->base = e_;
  const DefTable* t = e_->cat.Table(source);
  if (t && !EstRequete(source)) {
    rs->type = type ? type : dbOpenTable;
    OuvreSurTable(*rs, *t);
    for (const auto& c : rs->champs) rs->plies.push_back(PlieNom(c.nom));
    rs->Prepare();
  } else if (EstRequete(source)) {
    if (type == dbOpenTable) throw ErreurMoteur(err::OperationInvalide);
    rs->type = type ? type : dbOpenDynaset;
    OuvreSurRequete(*rs, source);
  } else {
    throw ErreurMoteur(3078, "Le moteur de base de données ne trouve pas la table ou la requête '" + std::string(source) + "'.");
  }
  if (rs->type == dbOpenSnapshot || rs->type == dbOpenForwardOnly || (options & dbReadOnly) || e_->lectureSeule)
    rs->modifiable = false;
  rs->PlaceDebut();
  return Recordset(rs);
}

int Recordset::Type() const { return e_->type; }

bool Recordset::Eof() const {
  e_->VerifieOuvert();
  return e_->position == RecordsetEtat::Position::Eof || e_->vide;
}

bool Recordset::Bof() const {
  e_->VerifieOuvert();
  return e_->position == RecordsetEtat::Position::Bof || e_->vide;
}

void Recordset::MoveFirst() {
  e_->VerifieOuvert();
  e_->editMode = 0;
  if (!e_->PlaceDebut()) throw ErreurMoteur(err::PasDEnregistrementCourant);
}

void Recordset::MoveNext() {
  e_->VerifieOuvert();
  using P = RecordsetEtat::Position;
  if (e_->position == P::Eof) throw ErreurMoteur(err::PasDEnregistrementCourant);
  e_->editMode = 0;
  if (e_->position == P::Courant && e_->pos + 1 < e_->lot.size()) {
    ++e_->pos;
    return;
  }
  long long depuis = e_->position == P::Bof ? std::numeric_limits<long long>::min() : e_->RowidCourant();
  if (!e_->Place(e_->Lit(*e_->suivants, depuis))) {
    e_->lot.clear();
    e_->rowidRepere = depuis;
    e_->position = P::Eof;
  }
}

void Recordset::MovePrevious() {
  e_->VerifieOuvert();
  using P = RecordsetEtat::Position;
  if (e_->position == P::Bof) throw ErreurMoteur(err::PasDEnregistrementCourant);
  e_->editMode = 0;
  if (e_->position == P::Courant && e_->pos > 0) {
    --e_->pos;
    return;
  }
  std::vector<RecordsetEtat::Ligne> lignes;
  if (e_->position == P::Eof) lignes = e_->Lit(*e_->dernier, std::nullopt);
  else lignes = e_->Lit(*e_->precedent, e_->RowidCourant());
  if (!e_->Place(std::move(lignes))) {
    e_->lot.clear();
    e_->position = P::Bof;
  }
}

void Recordset::MoveLast() {
  e_->VerifieOuvert();
  e_->editMode = 0;
  if (!e_->Place(e_->Lit(*e_->dernier, std::nullopt))) {
    e_->position = RecordsetEtat::Position::Eof;
    e_->vide = true;
    throw ErreurMoteur(err::PasDEnregistrementCourant);
  }
}

Signet Recordset::Bookmark() const {
  e_->VerifieOuvert();
  return e_->LigneCourante().rowid;
}

void Recordset::SetBookmark(Signet signet) {
  e_->VerifieOuvert();
  auto lignes = e_->Lit(*e_->parRowid, signet);
  if (lignes.empty()) throw ErreurMoteur(3159, "Signet non valide.");
  e_->editMode = 0;
  e_->Place(std::move(lignes));
}

Signet Recordset::LastModified() const {
  e_->VerifieOuvert();
  if (!e_->aModifie) throw ErreurMoteur(err::PasDEnregistrementCourant);
  return e_->lastModified;
}

long long Recordset::RecordCount() const {
  e_->VerifieOuvert();
  sql::Requete r(e_->base->db, "SELECT count(*) FROM " + e_->source);
  return r.Pas() ? r.Entier(0) : 0;
}

void Recordset::AddNew() {
  e_->VerifieOuvert();
  e_->VerifieModifiable();
  e_->editMode = 2;
  e_->edition.assign(e_->champs.size(), std::nullopt);
}

void Recordset::Edit() {
  e_->VerifieOuvert();
  e_->VerifieModifiable();
  long long rowid = e_->LigneCourante().rowid;
  // The record may have gone since it was read.
  auto lignes = e_->Lit(*e_->parRowid, rowid);
  if (lignes.empty()) throw ErreurMoteur(err::EnregistrementSupprime);
  e_->lot[e_->pos] = lignes.front();
  e_->originaux = lignes.front().valeurs;
  e_->edition.assign(e_->champs.size(), std::nullopt);
  e_->editMode = 1;
}

void Recordset::CancelUpdate() {
  e_->VerifieOuvert();
  if (e_->editMode == 0) throw ErreurMoteur(err::MiseAJourSansEdition);
  e_->editMode = 0;
  e_->edition.clear();
}

void Recordset::Update() {
  e_->VerifieOuvert();
  if (e_->editMode == 0) throw ErreurMoteur(err::MiseAJourSansEdition);
  e_->VerifieModifiable();
  BaseEtat& base = *e_->base;
  const auto& champs = e_->champs;
  if (e_->editMode == 2) {
    std::string colonnes, marques;
    std::vector<Valeur> valeurs;
    for (std::size_t i = 0; i < champs.size(); ++i) {
      Valeur v;
      if (e_->edition[i]) v = *e_->edition[i];
      else if (!champs[i].defaut.empty()) v = conversion::EvalueDefaut(champs[i].defaut, champs[i].type);
      else continue;
      colonnes += (colonnes.empty() ? "" : ", ") + CiteIdent(champs[i].nom);
      marques += marques.empty() ? "?" : ", ?";
      valeurs.push_back(std::move(v));
    }
    std::string texte = colonnes.empty() ? "INSERT INTO " + e_->source + " DEFAULT VALUES"
                                         : "INSERT INTO " + e_->source + " (" + colonnes + ") VALUES (" + marques + ")";
    sql::Requete r(base.db, texte, sql::Operation::Ecriture);
    for (std::size_t i = 0; i < valeurs.size(); ++i) r.Lie(static_cast<int>(i) + 1, valeurs[i]);
    r.Termine();
    e_->lastModified = sqlite3_last_insert_rowid(base.db);
  } else {
    long long rowid = e_->LigneCourante().rowid;
    sql::PointDeReprise pr(base.db);
    auto lignes = e_->Lit(*e_->parRowid, rowid);
    if (lignes.empty()) throw ErreurMoteur(err::EnregistrementSupprime);
    if (!(lignes.front().valeurs == e_->originaux)) throw ErreurMoteur(err::ModifieParAutreUtilisateur);
    std::string affectations;
    std::vector<Valeur> valeurs;
    for (std::size_t i = 0; i < champs.size(); ++i) {
      if (!e_->edition[i]) continue;
      affectations += (affectations.empty() ? "" : ", ") + CiteIdent(champs[i].nom) + " = ?";
      valeurs.push_back(*e_->edition[i]);
    }
    if (!affectations.empty()) {
      sql::Requete r(base.db, "UPDATE " + e_->source + " SET " + affectations + " WHERE rowid = ?", sql::Operation::Ecriture);
      int rang = 1;
      for (const auto& v : valeurs) r.Lie(rang++, v);
      r.Lie(rang, rowid);
      r.Termine();
    }
    pr.Valide();
    auto relues = e_->Lit(*e_->parRowid, rowid);
    if (!relues.empty()) e_->lot[e_->pos] = relues.front();
    e_->lastModified = rowid;
  }
  e_->aModifie = true;
  e_->editMode = 0;
  e_->edition.clear();
  e_->OublieSuite();
}

void Recordset::Delete() {
  e_->VerifieOuvert();
  e_->VerifieModifiable();
  long long rowid = e_->LigneCourante().rowid;
  sql::Requete r(e_->base->db, "DELETE FROM " + e_->source + " WHERE rowid = ?", sql::Operation::Ecriture);
  r.Lie(1, rowid);
  r.Termine();
  if (sqlite3_changes(e_->base->db) == 0) throw ErreurMoteur(err::EnregistrementSupprime);
  e_->editMode = 0;
  e_->rowidRepere = rowid;
  e_->lot.resize(e_->pos + 1);
  e_->position = RecordsetEtat::Position::Supprime;
}

int Recordset::EditMode() const { return e_->editMode; }
bool Recordset::LockEdits() const { return e_->lockEdits; }
void Recordset::SetLockEdits(bool pessimiste) { e_->lockEdits = pessimiste; }
bool Recordset::Updatable() const { return e_->modifiable && !e_->base->lectureSeule; }

bool Recordset::EnregistrementSain() {
  e_->VerifieOuvert();
  return e_->LigneSaine();
}

namespace {
class ChampsRecordset : public ChampsSource {
 public:
  explicit ChampsRecordset(std::shared_ptr<RecordsetEtat> rs) : rs_(std::move(rs)) {}
  int Nombre() const override { return static_cast<int>(rs_->champs.size()); }
  Field Element(int position) const override {
    if (position < 0 || position >= Nombre()) throw ErreurMoteur(err::ElementIntrouvable, {std::to_string(position)});
    return ChampDeRecordset(rs_, position);
  }
  Field Cherche(std::string_view nom) const override {
    int i = ChercheChampRecordset(*rs_, nom);
    if (i < 0) throw ErreurMoteur(err::ElementIntrouvable, {nom});
    return ChampDeRecordset(rs_, i);
  }
  void Ajoute(const Field&) override { throw ErreurMoteur(err::OperationInvalide); }
  void Supprime(std::string_view) override { throw ErreurMoteur(err::OperationInvalide); }

 private:
  std::shared_ptr<RecordsetEtat> rs_;
};
}  // namespace

moteur::Fields Recordset::Fields() const {
  e_->VerifieOuvert();
  return moteur::Fields(std::make_shared<ChampsRecordset>(e_));
}

Field Recordset::operator[](std::string_view nom) const { return Fields()[nom]; }
Field Recordset::operator[](int position) const { return Fields()[position]; }

void Recordset::Close() {
  if (e_) e_->Ferme();
}

bool Recordset::EstOuvert() const { return e_ && e_->ouvert; }

int NombreChampsRecordset(const RecordsetEtat& rs) { return static_cast<int>(rs.champs.size()); }

int ChercheChampRecordset(const RecordsetEtat& rs, std::string_view nom) {
  for (std::size_t i = 0; i < rs.champs.size(); ++i)
    if (rs.champs[i].nom == nom) return static_cast<int>(i);
  std::string plie = PlieNom(nom);
  for (std::size_t i = 0; i < rs.plies.size(); ++i)
    if (rs.plies[i] == plie) return static_cast<int>(i);
  return -1;
}

const DefChamp& DefChampRecordset(const RecordsetEtat& rs, int colonne) { return rs.champs.at(colonne); }

namespace {
// Bytes that form no UTF-8, written into a text by another program or altered on disk, or binary
// data in a text field, would be handed on as a text that no other program reads back the same:
// the value is unreadable, and its bytes are told escaped, for the journal to keep them.
void RefuseTexteIllisible(const RecordsetEtat& rs, int colonne, const Valeur& brute) {
  const bool texte = brute.genre() == Valeur::Genre::Texte;
  const int type = rs.champs[colonne].type;
  if (texte ? Utf8Valide(brute.texte()) : brute.genre() != Valeur::Genre::Binaire || !EstTypeTexte(type)) return;
  throw ErreurMoteur(err::FormatNonReconnu, "Le champ '" + Affichable(rs.champs[colonne].nom) +
                                                "' ne contient pas un texte valide (octets lus : \"" +
                                                Affichable(brute.texte()) + "\").");
}

// A stored value its field's type cannot read (a text in a number or Yes/No field, bytes in a
// currency) is told with what was stored, escaped, for the journal to keep it.
ErreurMoteur ValeurHorsType(const RecordsetEtat& rs, int colonne, const Valeur& brute) {
  const bool octets = brute.genre() == Valeur::Genre::Texte || brute.genre() == Valeur::Genre::Binaire;
  const std::string lue = octets ? "\"" + Affichable(brute.texte()) + "\"" : Affichable(brute.EnTexte());
  return ErreurMoteur(err::FormatNonReconnu,
                      "Le champ '" + Affichable(rs.champs[colonne].nom) +
                          "' contient une valeur qui ne convient pas à son type (valeur lue : " + lue + ").");
}

// An unreadable value is reported with the name of its field.
const Valeur& ValeurStockeeNommee(RecordsetEtat& rs, int colonne) {
  const Valeur* brute = nullptr;
  try {
    brute = &rs.ValeurStockee(colonne);
  } catch (const ErreurMoteur& e) {
    if (e.Number() != err::FormatNonReconnu) throw;
    throw ErreurMoteur(err::FormatNonReconnu, {rs.champs[colonne].nom});
  }
  RefuseTexteIllisible(rs, colonne, *brute);
  return *brute;
}
}  // namespace

Valeur ValeurStockeeRecordset(RecordsetEtat& rs, int colonne) {
  rs.VerifieOuvert();
  return rs.ValeurStockee(colonne);
}

Valeur ValeurChampRecordset(RecordsetEtat& rs, int colonne) {
  rs.VerifieOuvert();
  if (rs.editMode != 0 && rs.edition[colonne]) return rs.ValeurDe(colonne, *rs.edition[colonne]);
  if (rs.editMode == 2) {
    const DefChamp& c = rs.champs[colonne];
    return rs.ValeurDe(colonne, c.defaut.empty() ? Valeur::Nul() : conversion::EvalueDefaut(c.defaut, c.type));
  }
  const Valeur& brute = ValeurStockeeNommee(rs, colonne);
  try {
    return rs.ValeurDe(colonne, brute);
  } catch (const ErreurMoteur& e) {
    if (e.Number() != err::FormatNonReconnu) throw;
    throw ValeurHorsType(rs, colonne, brute);
  }
}

// A text or a date stored in the engine's own form is copied as it is, into the storage the
// caller's value already holds; everything else reads as ValeurChampRecordset gives it.
void LitValeurChampRecordset(RecordsetEtat& rs, int colonne, Valeur& dans) {
  rs.VerifieOuvert();
  if (rs.editMode == 0) {
    const Valeur& brute = ValeurStockeeNommee(rs, colonne);
    const int t = rs.champs[colonne].type;
    if (brute.genre() == Valeur::Genre::Texte) {
      const std::string& texte = brute.texte();
      if (t == dbText || t == dbMemo) {
        dans.RemplaceOctets(Valeur::Genre::Texte, texte.data(), texte.size());
        return;
      }
      if (t == dbDate && DateCanonique(texte)) {
        dans.RemplaceOctets(Valeur::Genre::Date, texte.data(), texte.size());
        return;
      }
    }
  }
  dans = ValeurChampRecordset(rs, colonne);
}

void AffecteChampRecordset(RecordsetEtat& rs, int colonne, const Valeur& valeur) {
  rs.VerifieOuvert();
  if (rs.editMode == 0) throw ErreurMoteur(err::MiseAJourSansEdition);
  int type = rs.champs[colonne].type;
  try {
    rs.edition[colonne] = type == TypeNaturel ? valeur : conversion::VersStockage(valeur, type);
  } catch (const ErreurMoteur& e) {
    throw ErreurMoteur(e.Number(), {rs.champs[colonne].nom});
  }
}

std::string LitteralPourSql(const Valeur& v) { return LitteralSql(v); }

}  // namespace moteur

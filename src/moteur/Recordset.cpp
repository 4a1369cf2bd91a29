// Recordsets stream: rows are fetched in small batches by rowid, and every statement is reset
// between batches, so memory stays bounded and no lock is held between calls.
#include <algorithm>
#include <limits>

#include "moteur/Dialecte.h"
#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur {

namespace {
constexpr int TailleLot = 256;
constexpr int TypeNaturel = -1;  // a computed column of a query: read as SQLite holds it

// A date stored exactly in the form the engine writes reads back as that same text: rebuilding
// it from its parts, a formatted print per value, was a fifth of the cost of reading a table.
bool DateCanonique(const std::string& texte) {
  if (texte.size() != 19) return false;
  for (std::size_t i = 0; i < texte.size(); ++i) {
    char c = texte[i];
    bool bon = i == 4 || i == 7 ? c == '-' : i == 10 ? c == ' ' : i == 13 || i == 16 ? c == ':' : c >= '0' && c <= '9';
    if (!bon) return false;
  }
  DateHeure d;
  return DateHeure::DepuisIso(texte, d);
}
}  // namespace

struct RecordsetEtat : std::enable_shared_from_this<RecordsetEtat> {
  struct Ligne {
    long long rowid = 0;
    std::vector<Valeur> valeurs;
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
  std::unique_ptr<sql::Requete> suivants, precedent, dernier, parRowid;
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
    suivants.reset();
    precedent.reset();
    dernier.reset();
    parRowid.reset();
    lot.clear();
    lotPrecedent.clear();
    if (temporaire && base && base->db) sqlite3_exec(base->db, ("DROP TABLE IF EXISTS temp." + source.substr(5)).c_str(), nullptr, nullptr, nullptr);
  }

  void VerifieOuvert() const {
    if (!ouvert) throw ErreurMoteur(3420, "Objet non valide ou qui n'est plus défini.");
    base->VerifieOuverte();
  }

  void Prepare() {
    std::string colonnes = "rowid";
    for (const auto& c : champs) colonnes += ", " + CiteIdent(c.nom);
    std::string debut = "SELECT " + colonnes + " FROM " + source;
    suivants = std::make_unique<sql::Requete>(base->db, debut + " WHERE rowid > ? ORDER BY rowid LIMIT " + std::to_string(TailleLot));
    precedent = std::make_unique<sql::Requete>(base->db, debut + " WHERE rowid < ? ORDER BY rowid DESC LIMIT 1");
    dernier = std::make_unique<sql::Requete>(base->db, debut + " ORDER BY rowid DESC LIMIT 1");
    parRowid = std::make_unique<sql::Requete>(base->db, debut + " WHERE rowid = ?");
  }

  static void LitLigne(const sql::Requete& r, std::size_t n, Ligne& l) {
    l.rowid = r.Entier(0);
    l.valeurs.resize(n);
    for (std::size_t i = 0; i < n; ++i) l.valeurs[i] = r.Brute(static_cast<int>(i) + 1);
  }

  // Runs one of the prepared reads and always resets it.
  std::vector<Ligne> Lit(sql::Requete& r, std::optional<long long> rowid) {
    // Only a whole batch is worth the rows of the previous one: a single-row read would
    // throw most of them away.
    std::vector<Ligne> lignes;
    if (&r == suivants.get()) lignes.swap(lotPrecedent);
    std::size_t n = 0;
    r.Reinitialise();
    if (rowid) r.Lie(1, *rowid);
    try {
      while (r.Pas()) {
        if (n == lignes.size()) lignes.emplace_back();
        LitLigne(r, champs.size(), lignes[n++]);
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

Valeur ValeurChampRecordset(const RecordsetEtat& rs, int colonne) {
  rs.VerifieOuvert();
  if (rs.editMode != 0 && rs.edition[colonne]) return rs.ValeurDe(colonne, *rs.edition[colonne]);
  if (rs.editMode == 2) {
    const DefChamp& c = rs.champs[colonne];
    return c.defaut.empty() ? Valeur::Nul() : rs.ValeurDe(colonne, conversion::EvalueDefaut(c.defaut, c.type));
  }
  try {
    return rs.ValeurDe(colonne, rs.LigneCourante().valeurs[colonne]);
  } catch (const ErreurMoteur& e) {
    if (e.Number() != err::FormatNonReconnu) throw;
    throw ErreurMoteur(err::FormatNonReconnu, {rs.champs[colonne].nom});
  }
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

#include <atomic>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur::sql {
namespace {

// Trigger messages carry the number and the object: "JET:3163:Nom".
bool LitMessageRegle(std::string_view message, int& numero, std::string& objet) {
  if (message.substr(0, 4) != "JET:") return false;
  message.remove_prefix(4);
  auto deuxPoints = message.find(':');
  if (deuxPoints == std::string_view::npos) return false;
  numero = 0;
  for (char c : message.substr(0, deuxPoints)) {
    if (c < '0' || c > '9') return false;
    numero = numero * 10 + (c - '0');
  }
  objet = std::string(message.substr(deuxPoints + 1));
  return true;
}

int NumeroVerrou(Operation op) {
  switch (op) {
    case Operation::Lecture: return 3187;
    case Operation::Structure: return 3211;
    case Operation::Ouverture: return err::BaseEnUtilisation;
    case Operation::Ecriture: break;
  }
  return err::Verrouille;
}

struct Refus {
  std::string chemin, objet;
};
thread_local Refus dernierRefus;

std::string Apres(std::string_view message, std::string_view prefixe) {
  auto pos = message.find(prefixe);
  return pos == std::string_view::npos ? std::string() : std::string(message.substr(pos + prefixe.size()));
}

std::string NomDuFichier(sqlite3* db) {
  const char* fichier = db ? sqlite3_db_filename(db, "main") : nullptr;
  return fichier ? std::string(fichier) : std::string();
}

}  // namespace

ErreurMoteur Traduit(sqlite3* db, int rc, Operation op, std::string_view objet) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int etendu = db ? sqlite3_extended_errcode(db) : rc;
  int numero = 0;
  std::string cible;
  switch (rc & 0xFF) {
    case SQLITE_CONSTRAINT:
      if (LitMessageRegle(message, numero, cible)) return ErreurMoteur(numero, {cible});
      if (etendu == SQLITE_CONSTRAINT_UNIQUE || etendu == SQLITE_CONSTRAINT_PRIMARYKEY)
        return ErreurMoteur(err::Doublon, {Apres(message, "failed: ")});
      if (etendu == SQLITE_CONSTRAINT_DATATYPE) return ErreurMoteur(err::ConversionImpossible, {objet});
      if (etendu == SQLITE_CONSTRAINT_CHECK) return ErreurMoteur(err::RegleRefusee, {Apres(message, "failed: ")});
      if (etendu == SQLITE_CONSTRAINT_NOTNULL) return ErreurMoteur(err::ChampRequis, {Apres(message, "failed: ")});
      return ErreurMoteur(3022, {message});
    case SQLITE_MISMATCH: return ErreurMoteur(err::ConversionImpossible, {objet});
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ErreurMoteur(NumeroVerrou(op), {objet});
    case SQLITE_FULL: return ErreurMoteur(err::EspaceDisque);
    // A damaged page met by any statement: the file is named when the caller named nothing else.
    case SQLITE_CORRUPT:
      return ErreurMoteur(err::BaseEndommagee, {objet.empty() ? NomDuFichier(db) : std::string(objet)});
    case SQLITE_NOTADB:
      return ErreurMoteur(err::FormatNonReconnu, {objet.empty() ? NomDuFichier(db) : std::string(objet)});
    case SQLITE_READONLY: {
      const char* fichier = db ? sqlite3_db_filename(db, "main") : nullptr;
      const std::string nom = objet.empty() && fichier ? std::string(fichier) : std::string(objet);
      // A folder that refuses the journal beside the file: the rights, not the file, say no.
      if (etendu == SQLITE_READONLY_DIRECTORY)
        return ErreurMoteur(err::AccesRefuse, "Le moteur de base de données ne peut pas écrire dans le dossier de '" + nom +
                                                  "' (son journal n'a pu y être créé) : accès refusé.");
      return ErreurMoteur(err::LectureSeule, {nom});
    }
    case SQLITE_AUTH:
      if (!dernierRefus.objet.empty()) {
        Refus refus = std::exchange(dernierRefus, {});
        return ErreurMoteur(err::BaseEndommagee,
                            "La base de données '" + refus.chemin + "' contient un objet inconnu du logiciel (« " +
                                Affichable(refus.objet) + " ») : l'opération qui l'aurait exécuté est refusée.");
      }
      return ErreurMoteur(err::AccesRefuse, {objet});
    case SQLITE_PERM:
    case SQLITE_CANTOPEN: {
      // A file SQLite could not open while writing is the database's journal, beside it.
      const char* fichier = db ? sqlite3_db_filename(db, "main") : nullptr;
      if (objet.empty() && fichier && *fichier && op != Operation::Ouverture && op != Operation::Lecture)
        return ErreurMoteur(err::AccesRefuse, "Le moteur de base de données ne peut pas écrire dans le dossier de '" + std::string(fichier) +
                                                  "' (son journal n'a pu y être créé) : accès refusé.");
      if (objet.empty() && fichier && *fichier) return ErreurMoteur(err::AccesRefuse, {fichier});
      return ErreurMoteur(err::AccesRefuse, {objet});
    }
    case SQLITE_NOMEM:
    case SQLITE_TOOBIG: return ErreurMoteur(3035, "Ressources système dépassées.");
    case SQLITE_IOERR:
      if (etendu == SQLITE_IOERR_NOMEM) return ErreurMoteur(3035, "Ressources système dépassées.");
      // A file grown to the size limit of the session fails like a full disk.
      if (LimiteTailleFichierAtteinte() || (db && (sqlite3_system_errno(db) == EFBIG ||
                                                  sqlite3_system_errno(db) == ENOSPC ||
                                                  sqlite3_system_errno(db) == EDQUOT)))
        return ErreurMoteur(err::EspaceDisque);
      return ErreurMoteur(3043, "Erreur de disque ou de réseau (" + message + ").");
    case SQLITE_ERROR:
      if (message.rfind("no such table: ", 0) == 0)
        return ErreurMoteur(3078, "Le moteur de base de données ne trouve pas la table ou la requête '" +
                                      Apres(message, "no such table: ") + "'.");
      if (message.rfind("no such column: ", 0) == 0)
        return ErreurMoteur(3061, "Paramètres insuffisants ou champ inconnu : '" + Apres(message, "no such column: ") +
                                      "'.");
      if (LitMessageRegle(message, numero, cible)) return ErreurMoteur(numero, {cible});
      break;
    default: break;
  }
  return ErreurMoteur(3000, "Erreur réservée du moteur (" + std::to_string(rc) + ") : " + message + ".");
}

namespace {

thread_local std::unordered_map<sqlite3*, int> causesAnnulation;

// After a full disk, an input/output error or a lack of memory SQLite may roll the transaction
// back on its own: what made it do so is kept for the commit that will find the transaction gone.
// Only the first: what fails after it (a table the transaction had created, gone with it) is its
// consequence, and would hide the full disk that the caller must be told of.
void RetientCause(sqlite3* db, const ErreurMoteur& e) {
  if (db && sqlite3_get_autocommit(db)) causesAnnulation.try_emplace(db, e.Number());
}

}  // namespace

int CauseAnnulation(sqlite3* db) {
  auto it = causesAnnulation.find(db);
  return it == causesAnnulation.end() ? 0 : it->second;
}

void OublieCauseAnnulation(sqlite3* db) { causesAnnulation.erase(db); }

void Leve(sqlite3* db, int rc, Operation op, std::string_view objet) {
  veille::RelanceArret(rc);
  ErreurMoteur e = Traduit(db, rc, op, objet);
  RetientCause(db, e);
  throw e;
}

void NoteRefus(const std::string& chemin, const std::string& objet) { dernierRefus = {chemin, objet}; }

Requete::Requete(sqlite3* db, std::string_view texte, Operation op) : db_(db), op_(op) {
  int rc = sqlite3_prepare_v2(db, texte.data(), static_cast<int>(texte.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    Leve(db, rc, op);
  }
}

Requete::~Requete() {
  if (stmt_) sqlite3_finalize(stmt_);
}

Requete& Requete::Lie(int rang, const Valeur& v) {
  int rc = SQLITE_OK;
  switch (v.genre()) {
    case Valeur::Genre::Vide:
    case Valeur::Genre::Nul: rc = sqlite3_bind_null(stmt_, rang); break;
    case Valeur::Genre::Booleen:
    case Valeur::Genre::Entier: rc = sqlite3_bind_int64(stmt_, rang, v.entier()); break;
    case Valeur::Genre::Monetaire: rc = sqlite3_bind_double(stmt_, rang, static_cast<double>(v.entier()) / 10000.0); break;
    case Valeur::Genre::Reel: rc = sqlite3_bind_double(stmt_, rang, v.reel()); break;
    case Valeur::Genre::Date:
    case Valeur::Genre::Texte:
      rc = sqlite3_bind_text64(stmt_, rang, v.texte().data(), v.texte().size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    case Valeur::Genre::Binaire:
      rc = sqlite3_bind_blob64(stmt_, rang, v.texte().data(), v.texte().size(), SQLITE_TRANSIENT);
      break;
  }
  if (rc != SQLITE_OK) Leve(db_, rc, op_);
  return *this;
}

Requete& Requete::Lie(int rang, long long entier) {
  sqlite3_bind_int64(stmt_, rang, entier);
  return *this;
}

Requete& Requete::Lie(int rang, std::string_view texte) {
  sqlite3_bind_text64(stmt_, rang, texte.data(), texte.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}

bool Requete::Pas() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  if ((rc & 0xFF) == SQLITE_INTERRUPT) {
    sqlite3_reset(stmt_);
    veille::RelanceArret(rc);
  }
  ErreurMoteur e = Traduit(db_, rc, op_);
  sqlite3_reset(stmt_);
  RetientCause(db_, e);
  throw e;
}

void Requete::Termine() {
  try {
    while (Pas()) {
    }
  } catch (...) {
    sqlite3_reset(stmt_);
    throw;
  }
  sqlite3_reset(stmt_);
}

void Requete::Reinitialise() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int Requete::Colonnes() const { return sqlite3_column_count(stmt_); }
int Requete::TypeColonne(int i) const { return sqlite3_column_type(stmt_, i); }
long long Requete::Entier(int i) const { return sqlite3_column_int64(stmt_, i); }
double Requete::Reel(int i) const { return sqlite3_column_double(stmt_, i); }

std::string Requete::Texte(int i) const {
  const unsigned char* t = sqlite3_column_text(stmt_, i);
  return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(stmt_, i)) : std::string();
}

Valeur Requete::Brute(int i) const {
  switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_INTEGER: return Valeur(static_cast<long long>(sqlite3_column_int64(stmt_, i)));
    case SQLITE_FLOAT: return Valeur(sqlite3_column_double(stmt_, i));
    case SQLITE_TEXT: return Valeur(Texte(i));
    case SQLITE_BLOB: {
      const void* p = sqlite3_column_blob(stmt_, i);
      int n = sqlite3_column_bytes(stmt_, i);
      return Valeur::Binaire(p ? std::string(static_cast<const char*>(p), n) : std::string());
    }
    default: return Valeur::Nul();
  }
}

void Execute(sqlite3* db, std::string_view texte, Operation op) {
  std::string copie(texte);
  char* message = nullptr;
  int rc = sqlite3_exec(db, copie.c_str(), nullptr, nullptr, &message);
  sqlite3_free(message);
  if (rc != SQLITE_OK) Leve(db, rc, op);
}

namespace {

std::unordered_map<sqlite3*, int>& PointsOuverts() {
  // A connection is only ever used by the thread that holds its database.
  thread_local std::unordered_map<sqlite3*, int> ouverts;
  return ouverts;
}

void Compte(sqlite3* db, int ecart) {
  auto& ouverts = PointsOuverts();
  if ((ouverts[db] += ecart) <= 0) ouverts.erase(db);
}

}  // namespace

int PointsDeRepriseOuverts(sqlite3* db) {
  auto it = PointsOuverts().find(db);
  return it == PointsOuverts().end() ? 0 : it->second;
}

bool AnnuleTransaction(sqlite3* db) {
  if (sqlite3_get_autocommit(db)) return true;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return sqlite3_get_autocommit(db) != 0;
}

PointDeReprise::PointDeReprise(sqlite3* db) : db_(db) {
  static std::atomic<long long> compteur{0};
  nom_ = "pr" + std::to_string(++compteur);
  exterieur_ = sqlite3_get_autocommit(db_) != 0;
  Execute(db_, "SAVEPOINT " + nom_, Operation::Ecriture);
  Compte(db_, 1);
}

PointDeReprise::~PointDeReprise() {
  if (!actif_) return;
  Compte(db_, -1);
  // Releasing the outermost savepoint would be a commit, which may be refused: the whole
  // transaction is rolled back instead.
  if (exterieur_ && AnnuleTransaction(db_)) return;
  std::string annule = "ROLLBACK TO " + nom_ + "; RELEASE " + nom_;
  sqlite3_exec(db_, annule.c_str(), nullptr, nullptr, nullptr);
}

void PointDeReprise::Valide() {
  Execute(db_, "RELEASE " + nom_, Operation::Ecriture);
  actif_ = false;
  Compte(db_, -1);
}

}  // namespace moteur::sql

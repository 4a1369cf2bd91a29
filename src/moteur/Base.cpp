// A database: its statements in the engine's dialect and its integrity check.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "moteur/Dialecte.h"
#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur {

BaseEtat::~BaseEtat() { Ferme(); }

void BaseEtat::VerifieOuverte() const {
  if (!db)
    throw ErreurMoteur(err::ObjetInvalide,
                       "Objet non valide ou qui n'est plus défini : la base de données est fermée.");
}

void BaseEtat::VerifieEcriture(std::string_view objet) const {
  VerifieOuverte();
  if (lectureSeule) throw ErreurMoteur(err::LectureSeule, {objet.empty() ? std::string_view(chemin) : objet});
  // Once SQLite has rolled the transaction back, a write would be committed on its own, and the
  // transaction's all or nothing would be lost: it is refused until the transaction ends.
  if (TransactionPerdue()) throw ErreurTransactionPerdue();
  // Inside a transaction the engine did not open, a write would be lost with it at close.
  if (niveauTransaction == 0 && sql::PointsDeRepriseOuverts(db) == 0 && !sqlite3_get_autocommit(db))
    throw ErreurMoteur(err::OperationInvalide, "Écriture refusée : la base de données '" + chemin +
                                                   "' est dans une transaction que le moteur n'a pas ouverte ; "
                                                   "ce qui y serait écrit ne serait jamais enregistré.");
}

bool BaseEtat::TransactionPerdue() const { return db && niveauTransaction > 0 && sqlite3_get_autocommit(db); }

ErreurMoteur BaseEtat::ErreurTransactionPerdue() const {
  const int cause = sql::CauseAnnulation(db);
  return ErreurMoteur(cause != 0 ? cause : 3034,
                      "La transaction en cours sur la base de données '" + chemin +
                          "' a été annulée par le moteur après une erreur" +
                          (cause != 0 ? " (" + DescriptionErreur(cause, {chemin}) + ")" : std::string()) +
                          " : ses modifications n'ont pas été enregistrées.");
}

void BaseEtat::Ferme() {
  if (!db) return;
  // A transaction still open at close is abandoned, as when the workspace is closed.
  if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sql::OublieCauseAnnulation(db);
  sqlite3_close_v2(db);
  db = nullptr;
  niveauTransaction = 0;
  if (verrou >= 0) ::close(verrou);
  verrou = -1;
}

std::string Database::Name() const { return e_->chemin; }

std::string Database::Version() const {
  e_->VerifieOuverte();
  for (const auto& p : e_->cat.proprietes)
    if (MemeNom(p.nom, "Version")) return p.valeur.EnTexte();
  throw ErreurMoteur(3270, {"Version"});
}

long long Database::RecordsAffected() const { return e_->recordsAffected; }
bool Database::EstOuverte() const { return e_ && e_->db; }

void Database::Close() {
  if (!e_) return;
  e_->VerifieOuverte();
  e_->Ferme();
}

namespace {

struct Attache {
  sqlite3* db;
  std::string nom{};
  ~Attache() {
    if (!nom.empty()) sqlite3_exec(db, ("DETACH DATABASE " + CiteIdent(nom)).c_str(), nullptr, nullptr, nullptr);
  }
};

// SQLite cannot detach, inside a transaction, a file the transaction wrote to: an earlier
// statement of the same workspace transaction may have left its file attached. It is used again
// when it is the same file; leftovers of transactions since ended are detached now.
// Returns the name to use and whether it is already attached.
std::pair<std::string, bool> NomAttache(sqlite3* db, const std::string& chemin) {
  char* reel = ::realpath(chemin.c_str(), nullptr);
  std::string voulu = reel ? reel : chemin;
  std::free(reel);
  std::vector<std::pair<std::string, std::string>> anciens;
  {
    sql::Requete r(db, "SELECT name, file FROM pragma_database_list");
    while (r.Pas())
      if (r.Texte(0).rfind("MSysExterne", 0) == 0) anciens.emplace_back(r.Texte(0), r.Texte(1));
  }
  std::vector<std::string> pris;
  for (const auto& [nom, fichier] : anciens) {
    if (fichier == voulu) return {nom, true};
    if (sqlite3_exec(db, ("DETACH DATABASE " + CiteIdent(nom)).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      pris.push_back(nom);
  }
  for (int i = 0;; ++i) {
    std::string nom = "MSysExterne" + (i ? std::to_string(i) : std::string());
    if (std::find(pris.begin(), pris.end(), nom) == pris.end()) return {nom, false};
  }
}

std::string DefautsManquants(const DefTable& cible, const std::vector<std::string>& colonnes, std::string& liste) {
  std::string valeurs;
  for (const auto& c : cible.champs) {
    if (c.defaut.empty() || c.attributs & dbAutoIncrField) continue;
    bool present = std::any_of(colonnes.begin(), colonnes.end(), [&](const std::string& n) { return MemeNom(n, c.nom); });
    if (present) continue;
    liste += ", " + CiteIdent(c.nom);
    // GenGUID() gives every record its own GUID, however many the statement inserts.
    valeurs += ", " + (conversion::EstGenerationGuid(c.defaut) ? std::string("utireorg_genguid()")
                                                              : LitteralPourSql(conversion::EvalueDefaut(c.defaut, c.type)));
  }
  return valeurs;
}

ErreurMoteur ChampInconnu(const std::string& nom) {
  return ErreurMoteur(3127, "L'instruction INSERT INTO contient un nom de champ inconnu : '" + nom + "'.");
}

ErreurMoteur TableInconnue(const std::string& nom) {
  return ErreurMoteur(3078, "Le moteur de base de données ne trouve pas la table ou la requête '" + nom + "'.");
}

// The source of an INSERT with each of its values converted to its field's stored form. A source
// whose width is not the number of fields is left as it is, for SQLite to refuse as before.
std::string SourceConvertie(BaseEtat& base, const DefTable& cible, const std::vector<std::string>& colonnes,
                            const std::string& source) {
  std::vector<int> types;
  bool utile = false;
  for (const auto& n : colonnes) {
    const DefChamp* c = cible.Champ(n);
    types.push_back(c ? c->type : 0);
    utile = utile || (c && conversion::DemandeConversion(c->type));
  }
  if (!utile) return source;
  int largeur = 0;
  try {
    sql::Requete r(base.db, source);
    largeur = r.Colonnes();
  } catch (const ErreurMoteur&) {
    return source;
  }
  if (largeur != static_cast<int>(colonnes.size())) return source;
  std::string noms, valeurs;
  for (std::size_t k = 0; k < types.size(); ++k) {
    const std::string nom = "v" + std::to_string(k);
    noms += (k ? ", " : "") + nom;
    valeurs += (k ? ", " : "") + conversion::ExpressionConvertie(nom, types[k], 0, colonnes[k]);
  }
  return "WITH MSysValeurs(" + noms + ") AS (" + source + ") SELECT " + valeurs + " FROM MSysValeurs";
}

// The UPDATE of a statement, each value converted to its field's stored form.
std::string ConstruitMiseAJour(const BaseEtat& base, const dialecte::Instruction& ins) {
  const DefTable* cible = base.cat.Table(ins.tableCible);
  if (!cible || ins.affectations.empty()) return ins.sql;
  std::string affectations;
  for (const auto& [nom, expression] : ins.affectations) {
    const DefChamp* c = cible->Champ(nom);
    affectations += (affectations.empty() ? "" : ", ") + CiteIdent(c ? c->nom : nom) + " = " +
                    (c ? conversion::ExpressionConvertie("(" + expression + ")", c->type, 0, c->nom) : expression);
  }
  std::string texte = "UPDATE " + CiteIdent(cible->nom) + " SET " + affectations;
  if (!ins.condition.empty()) texte += " WHERE " + ins.condition;
  return texte;
}

// Builds the INSERT of a statement, matching columns by name when the source is "SELECT *".
std::string ConstruitInsertion(BaseEtat& base, const dialecte::Instruction& ins, bool ignore, Attache& attache) {
  std::shared_ptr<BaseEtat> externe;
  std::string schema = "main.";
  const DefTable* cible = nullptr;
  if (ins.baseExterne) {
    // A Jet file is only ever read: writing into one is refused as for any read-only database.
    if (EstFichierJet(*ins.baseExterne)) throw ErreurMoteur(err::LectureSeule, {*ins.baseExterne});
    externe = OuvreEtat(*ins.baseExterne, false, false);  // checks the file is a database of this engine
    // Its triggers run as part of the statement: a file holding one the engine did not write is not written.
    for (const auto& o : externe->objetsInconnus)
      if (o.genre == "déclencheur")
        throw ErreurMoteur(err::BaseEndommagee, "La base de données '" + *ins.baseExterne + "' contient un objet inconnu du logiciel (" +
                                                    o.Description() + ") : elle n'est pas modifiée.");
    cible = externe->cat.Table(ins.tableCible);
    if (!cible) throw TableInconnue(ins.tableCible);
    base.declencheursAttaches = externe->declencheursSurs;
    auto [nom, deja] = NomAttache(base.db, *ins.baseExterne);
    if (!deja) {
      sql::Requete r(base.db, "ATTACH DATABASE ? AS " + CiteIdent(nom), sql::Operation::Ecriture);
      r.Lie(1, std::string_view(*ins.baseExterne));
      r.Termine();
    }
    attache.nom = nom;
    schema = CiteIdent(nom) + ".";
  } else {
    cible = base.cat.Table(ins.tableCible);
    if (!cible) throw TableInconnue(ins.tableCible);
  }
  if (cible->Systeme()) throw ErreurMoteur(err::LectureSeule, {cible->nom});

  std::vector<std::string> colonnes;
  std::string selection;
  std::string source = ins.source;
  bool aConvertir = true;  // false once every column is known to need no conversion
  if (!ins.colonnesCible.empty()) {
    for (const auto& n : ins.colonnesCible) {
      const DefChamp* c = cible->Champ(n);
      if (!c) throw ChampInconnu(n);
      colonnes.push_back(c->nom);
    }
  } else if (ins.selectEtoile) {
    const DefTable* origine = base.cat.Table(ins.tableSource);
    if (!origine) throw TableInconnue(ins.tableSource);
    // A field of the same type holds its values in the stored form already: only the others
    // are converted, and a copy between tables alike costs nothing more.
    for (const auto& c : origine->champs) {
      const DefChamp* d = cible->Champ(c.nom);
      if (!d) throw ChampInconnu(c.nom);
      colonnes.push_back(d->nom);
      std::string valeur = CiteIdent(c.nom);
      valeur = conversion::ExpressionConvertie(valeur, d->type, c.type, d->nom);
      selection += (selection.empty() ? "" : ", ") + valeur;
    }
    aConvertir = false;
    source = "SELECT " + selection + " FROM main." + CiteIdent(origine->nom);
    if (!ins.filtreSource.empty()) source += " WHERE " + ins.filtreSource;
  } else {
    sql::Requete r(base.db, ins.source);  // the width of the source decides how many fields it fills
    int n = r.Colonnes();
    if (n > static_cast<int>(cible->champs.size())) throw ErreurMoteur(err::SyntaxeInsert);
    for (int i = 0; i < n; ++i) colonnes.push_back(cible->champs[i].nom);
  }
  if (aConvertir) source = SourceConvertie(base, *cible, colonnes, source);
  std::string liste;
  for (const auto& n : colonnes) liste += (liste.empty() ? "" : ", ") + CiteIdent(n);
  std::string defauts = DefautsManquants(*cible, colonnes, liste);
  if (!defauts.empty()) source = "SELECT *" + defauts + " FROM (" + source + ")";
  return std::string("INSERT ") + (ignore ? "OR IGNORE " : "") + "INTO " + schema + CiteIdent(cible->nom) + " (" + liste +
         ") " + source;
}

std::string AvecOuIgnore(const std::string& texte) {
  // The translation always starts an UPDATE with the keyword itself.
  if (texte.size() >= 7 && PlieNom(texte.substr(0, 7)) == "update ") return "UPDATE OR IGNORE " + texte.substr(7);
  return texte;
}

// The rules of a file attached for one statement may run during that statement only.
struct PermisExterne {
  BaseEtat& base;
  ~PermisExterne() { base.declencheursAttaches.clear(); }
};

struct DrapeauIgnore {
  BaseEtat& base;
  DrapeauIgnore(BaseEtat& b, bool actif) : base(b) { base.ignoreRegles = actif; }
  ~DrapeauIgnore() { base.ignoreRegles = false; }
};

}  // namespace

void Database::Execute(std::string_view instruction, int options) {
  e_->VerifieOuverte();
  BaseEtat& base = *e_;
  auto ins = dialecte::Traduit(instruction, [&base](const std::string& n) { return base.cat.Canonique(n); });
  if (ins.genre == dialecte::Genre::Select)
    throw ErreurMoteur(3065, "Impossible d'exécuter une requête Sélection.");
  base.VerifieEcriture();
  bool ignore = !(options & dbFailOnError);
  if (ins.genre != dialecte::Genre::Insert) {
    const DefTable* t = base.cat.Table(ins.tableCible);
    if (t && t->Systeme()) throw ErreurMoteur(err::LectureSeule, {t->nom});
  }
  Attache attache{base.db};
  PermisExterne permis{base};
  std::string texte;
  switch (ins.genre) {
    case dialecte::Genre::Insert: texte = ConstruitInsertion(base, ins, ignore, attache); break;
    case dialecte::Genre::Update: {
      const std::string miseAJour = ConstruitMiseAJour(base, ins);
      texte = ignore ? AvecOuIgnore(miseAJour) : miseAJour;
      break;
    }
    default: texte = ins.sql; break;
  }
  DrapeauIgnore drapeau(base, ignore);
  // A bulk INSERT … SELECT copies a whole table in one statement; it is undone as a whole.
  std::optional<veille::Interruptible> interruptible;
  if (ins.genre == dialecte::Genre::Insert && ins.baseExterne && PlieNom(ins.source.substr(0, 7)) == "select ")
    interruptible.emplace();
  sql::Requete r(base.db, texte, sql::Operation::Ecriture);
  r.Termine();
  base.recordsAffected = sqlite3_changes64(base.db);
}

std::vector<std::string> Database::ObjetsInconnus() const {
  e_->VerifieOuverte();
  std::vector<std::string> descriptions;
  for (const auto& o : e_->objetsInconnus) descriptions.push_back(o.Description());
  return descriptions;
}

std::vector<std::string> Database::ObjetsExecutables() const {
  e_->VerifieOuverte();
  std::vector<std::string> descriptions;
  for (const auto& o : e_->objetsInconnus)
    if (o.genre == "déclencheur" || o.genre == "vue" || o.genre == "définition")
      descriptions.push_back(o.Description());
  return descriptions;
}

std::vector<std::string> Database::VerifieIntegrite() const {
  e_->VerifieOuverte();
  std::vector<std::string> problemes;
  for (const auto& o : e_->objetsInconnus)
    if (o.genre == "définition")
      problemes.push_back("Table modifiée par un autre programme, que la réparation refait d'après le catalogue : " +
                          o.Description() + ".");
    else if (o.genre == "règle")
      problemes.push_back(
          "Règle du moteur supprimée par un autre programme, que la réparation refait d'après le "
          "catalogue : " +
          o.Description() + ".");
    else if (!o.EstTable())
      problemes.push_back("Objet inconnu du logiciel, qui ne sera jamais exécuté : " + o.Description() + ".");
  auto fichier = IntegriteFichier(*e_);
  problemes.insert(problemes.end(), fichier.begin(), fichier.end());
  return problemes;
}

namespace {

// SQLite checks the records against the definitions the file holds: what a definition another
// program altered refuses is that alteration's doing, already named, and the rebuilt table accepts it.
bool SuiteDUneDefinitionModifiee(const BaseEtat& base, const std::string& ligne) {
  return std::any_of(base.objetsInconnus.begin(), base.objetsInconnus.end(), [&](const ObjetInconnu& o) {
    return o.genre == "définition" && (ligne == "CHECK constraint failed in " + o.nom ||
                                       ligne.find(" value in " + o.nom + ".") != std::string::npos);
  });
}

}  // namespace

std::vector<std::string> IntegriteFichier(BaseEtat& base) {
  const auto& e_ = &base;
  std::vector<std::string> problemes;
  try {
    veille::Interruptible interruptible;
    sql::Requete r(e_->db, "PRAGMA integrity_check");
    while (r.Pas()) {
      std::string ligne = r.Texte(0);
      if (ligne != "ok" && !SuiteDUneDefinitionModifiee(base, ligne)) problemes.push_back(ligne);
    }
  } catch (const ErreurMoteur& e) {
    // A file another program holds was not read: there is no verdict to give on it.
    if (EstErreurVerrou(e.Number())) throw;
    problemes.push_back(e.Description());
    return problemes;
  }
  for (const auto& t : e_->cat.tables) {
    if (t->id < 0) continue;
    try {
      sql::Requete r(e_->db, "SELECT name FROM pragma_table_info(?)");
      r.Lie(1, std::string_view(t->nom));
      std::vector<std::string> colonnes;
      while (r.Pas()) colonnes.push_back(r.Texte(0));
      if (colonnes.empty())
        problemes.push_back("Table '" + Affichable(t->nom) + "' décrite au catalogue mais absente du fichier.");
      for (const auto& c : t->champs)
        if (std::none_of(colonnes.begin(), colonnes.end(), [&](const std::string& n) { return n == c.nom; }))
          problemes.push_back("Champ '" + Affichable(t->nom + "." + c.nom) +
                              "' décrit au catalogue mais absent du fichier.");
    } catch (const ErreurMoteur& e) {
      if (EstErreurVerrou(e.Number())) throw;
      problemes.push_back(e.Description());
    }
  }
  return problemes;
}

void EcritSansControle(Database& base, std::string_view table, const std::vector<std::pair<std::string, Valeur>>& valeurs) {
  BaseEtat& e = *base.etat();
  e.VerifieEcriture();
  const DefTable* t = e.cat.Table(table);
  if (!t || t->id < 0) throw ErreurMoteur(err::ElementIntrouvable, {table});
  std::string colonnes, marques;
  for (const auto& [nom, v] : valeurs) {
    const DefChamp* c = t->Champ(nom);
    if (!c) throw ErreurMoteur(err::ElementIntrouvable, {nom});
    colonnes += (colonnes.empty() ? "" : ", ") + CiteIdent(c->nom);
    marques += marques.empty() ? "?" : ", ?";
  }
  sql::PointDeReprise pr(e.db);
  for (const char* suffixe : {"_ins", "_maj", "_oui", "_ouim"})
    sql::Execute(e.db, "DROP TRIGGER IF EXISTS " + CiteIdent("MSysRegle_" + std::to_string(t->id) + suffixe));
  std::string texte = colonnes.empty() ? "INSERT INTO " + CiteIdent(t->nom) + " DEFAULT VALUES"
                                       : "INSERT INTO " + CiteIdent(t->nom) + " (" + colonnes + ") VALUES (" + marques + ")";
  sql::Requete r(e.db, texte, sql::Operation::Ecriture);
  int rang = 1;
  for (const auto& [nom, v] : valeurs) r.Lie(rang++, v);
  r.Termine();
  catalogue::RegenereRegles(e, *t);
  pr.Valide();
}

}  // namespace moteur

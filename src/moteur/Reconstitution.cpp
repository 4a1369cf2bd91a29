// Definitions of a damaged file read from its pages (see Reconstitution.h).
#include "moteur/Reconstitution.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <map>
#include <set>

#include "moteur/Noms.h"
#include "moteur/Sauvetage.h"

namespace moteur::reconstitution {

namespace {

using sql::Operation;
using sql::Requete;

const char* const TablesCatalogue[] = {
    "MSysTables", "MSysColumns", "MSysIndexes", "MSysRelationships", "MSysRelationshipFields", "MSysProperties"};

// One row of the schema table as the pages give it.
struct LigneSchema {
  std::string type, nom, table, sql;
  long long racine = 0;
};

std::string TexteDe(const Valeur& v) { return v.genre() == Valeur::Genre::Texte ? v.texte() : std::string(); }

bool EstInterne(const std::string& nom) {
  const std::string plie = PlieNom(nom);
  return plie.starts_with("msys") || plie.starts_with("sqlite_");
}

// The number in an engine object's name, "MSysIdx_12" or "MSysRegle_12_ins": 0 when there is none.
long long NumeroDans(const std::string& nom, std::string_view prefixe) {
  if (!nom.starts_with(prefixe) || nom.size() == prefixe.size()) return 0;
  long long n = 0;
  std::size_t i = prefixe.size();
  for (; i < nom.size() && nom[i] >= '0' && nom[i] <= '9' && n < LLONG_MAX / 10 - 9; ++i) n = n * 10 + (nom[i] - '0');
  return i == nom.size() || nom[i] == '_' ? n : 0;
}

std::string Pages(long long n) { return std::to_string(n) + (n > 1 ? " pages endommagées" : " page endommagée"); }

}  // namespace

long long IdentifiantApplication(const std::string& chemin) {
  unsigned char octets[4] = {};
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    if (::pread(fd, octets, sizeof octets, 68) != static_cast<ssize_t>(sizeof octets))
      octets[0] = octets[1] = octets[2] = octets[3] = 0;
    ::close(fd);
  }
  return static_cast<long long>(static_cast<std::int32_t>(static_cast<std::uint32_t>(octets[0]) << 24 |
                                                          octets[1] << 16 | octets[2] << 8 | octets[3]));
}

std::vector<sauvetage::Classe> FormeDuSchema() {
  using sauvetage::Classe;
  return {Classe::Texte, Classe::Texte, Classe::Texte, Classe::Entier, Classe::Texte};
}

namespace {

// A row of the schema as SQLite writes one: a known kind of object, named, whose text creates it,
// with a root page for a table or an index. What a row of a user's table of the same shape, taken
// for one, would hardly be.
bool LigneVraisemblable(const LigneSchema& l) {
  static const std::map<std::string, std::string> debuts = {
      {"table", "create table"}, {"index", "create "}, {"trigger", "create trigger"}, {"view", "create view"}};
  const auto debut = debuts.find(l.type);
  if (debut == debuts.end() || l.nom.empty() || l.table.empty()) return false;
  const bool arbre = l.type == "table" || l.type == "index";
  if (arbre ? l.racine < 2 : l.racine != 0) return false;
  if (l.sql.empty()) return l.type == "index" && PlieNom(l.nom).starts_with("sqlite_autoindex");
  return PlieNom(l.sql).starts_with(debut->second);
}

std::vector<LigneSchema> LitSchema(const std::string& chemin, std::vector<std::string>& constats) {
  sauvetage::Arbre schema;
  schema.racine = 1;
  schema.table = true;
  schema.colonnes = FormeDuSchema();
  std::vector<LigneSchema> lignes;
  std::set<std::string> noms;
  // Each object once: a row its own tree gives comes before one a stray leaf gives.
  auto recoit = [&](sauvetage::Enregistrement& e, bool egaree) {
    if (e.ecarte || e.valeurs.size() < 5) return;
    LigneSchema l{TexteDe(e.valeurs[0]), TexteDe(e.valeurs[1]), TexteDe(e.valeurs[2]), TexteDe(e.valeurs[4])};
    if (e.valeurs[3].genre() == Valeur::Genre::Entier) l.racine = e.valeurs[3].entier();
    const bool admise = egaree ? LigneVraisemblable(l) : !l.nom.empty() && !l.type.empty();
    if (admise && noms.insert(PlieNom(l.nom)).second) lignes.push_back(std::move(l));
  };
  sauvetage::Fichier fichier(chemin, {schema});
  fichier.Parcourt(0, [&](sauvetage::Enregistrement& e) { recoit(e, false); });
  const auto bilan = fichier.BilanDe(0);
  if (bilan.pagesAbimees > 0) {
    // Leaves of the schema that a damaged inner page (its root among them) no longer reaches: their
    // rows, each as SQLite writes one, give back the definitions and root pages they hold.
    schema.racine = 0;
    schema.formeExacte = true;
    sauvetage::Fichier egarees(chemin, {schema});
    egarees.Parcourt(0, [](sauvetage::Enregistrement&) {});
    egarees.RecupereEgarees([&](std::size_t, sauvetage::Enregistrement& e) { recoit(e, true); });
  }
  // With the schema's root lost, the definitions are all taken from the catalog, whose own tables
  // are found by the shape of their rows; without a damaged page, the file is none of this engine's.
  if (lignes.empty() && bilan.pagesAbimees == 0) throw ErreurMoteur(err::BaseEndommagee, {chemin});
  if (bilan.pagesAbimees > 0 || bilan.cellulesIllisibles > 0)
    constats.push_back("#ALERT# Schéma du fichier endommagé (" + Pages(std::max(bilan.pagesAbimees, 1LL)) +
                       ") : il est relu page par page ; les définitions perdues sont reprises du catalogue.");
  return lignes;
}

// The file's tables and indexes, empty, in a database in memory. What another program planted
// comes last, once the catalog rows are in: a trigger of its own must not act on them.
void CreeDefinitions(sqlite3* db, const std::vector<LigneSchema>& schema, bool plantes,
                     std::vector<std::string>& constats) {
  for (const char* type : {"table", "index", "view", "trigger"}) {
    const bool objetDuLogiciel = std::string_view(type) == "table" || std::string_view(type) == "index";
    if (objetDuLogiciel == plantes) continue;
    for (const auto& l : schema) {
      if (l.type != type || l.sql.empty() || PlieNom(l.nom).starts_with("sqlite_")) continue;
      if (l.type == "trigger" && (l.nom.starts_with("MSysRegle_") || l.nom.starts_with("MSysRel_"))) continue;
      try {
        sql::Execute(db, l.sql, Operation::Structure);
      } catch (const ErreurMoteur&) {
        constats.push_back("#ALERT# Schéma du fichier endommagé : la définition de « " + Affichable(l.nom) +
                           " » ne se lit pas ; elle n'est pas reprise.");
      }
    }
  }
}

struct Colonnes {
  std::vector<std::string> noms;
  std::vector<sauvetage::Classe> classes;
};

Colonnes ColonnesDe(sqlite3* db, const std::string& table) {
  Requete r(db, "SELECT name, type, pk FROM pragma_table_info(?) ORDER BY cid");
  r.Lie(1, std::string_view(table));
  std::vector<std::pair<std::string, bool>> types;
  Colonnes c;
  int cles = 0;
  while (r.Pas()) {
    c.noms.push_back(r.Texte(0));
    types.emplace_back(r.Texte(1), r.Entier(2) > 0);
    cles += r.Entier(2) > 0;
  }
  for (const auto& [type, cle] : types) c.classes.push_back(sauvetage::ClasseDeclaree(type, cle && cles == 1));
  return c;
}

// The rows of the catalog tables, and of the keys' counters, that the pages still hold. The
// catalog tables in `refaites` lost their definitions, and with them their roots: their rows are
// those of the leaves no tree claims that have exactly their shape.
void CopieCatalogue(Image& image, const std::vector<LigneSchema>& schema, const std::vector<std::string>& refaites,
                    std::vector<std::string>& constats) {
  std::vector<sauvetage::Arbre> arbres;
  std::vector<std::pair<std::size_t, std::string>> voulues;
  std::vector<Colonnes> colonnes;
  for (const auto& l : schema) {
    if (l.racine < 2 || l.racine > UINT32_MAX || (l.type != "table" && l.type != "index")) continue;
    sauvetage::Arbre a;
    a.racine = static_cast<std::uint32_t>(l.racine);
    a.table = l.type == "table";
    if (a.table && (EstInterne(l.nom) && PlieNom(l.nom) != "sqlite_stat1")) {
      Colonnes c = ColonnesDe(image.base->db, l.nom);
      if (!c.noms.empty()) {
        a.colonnes = c.classes;
        voulues.emplace_back(arbres.size(), l.nom);
        colonnes.push_back(std::move(c));
      }
    }
    arbres.push_back(std::move(a));
  }
  for (const auto& nom : refaites) {
    Colonnes c = ColonnesDe(image.base->db, nom);
    sauvetage::Arbre a;
    a.table = true;
    a.colonnes = c.classes;
    a.formeExacte = true;
    voulues.emplace_back(arbres.size(), nom);
    colonnes.push_back(std::move(c));
    arbres.push_back(std::move(a));
  }
  sauvetage::Fichier fichier(image.base->chemin, arbres);
  std::vector<Requete> insertions;
  std::vector<long long> perdues(voulues.size(), 0);
  std::map<std::size_t, std::size_t> parArbre;
  for (std::size_t v = 0; v < voulues.size(); ++v) {
    std::string liste, marques;
    for (const auto& c : colonnes[v].noms) {
      liste += ", " + CiteIdent(c);
      marques += ", ?";
    }
    insertions.emplace_back(
        image.base->db,
        "INSERT INTO " + CiteIdent(voulues[v].second) + " (rowid" + liste + ") VALUES (?" + marques + ")",
        Operation::Structure);
    parArbre[voulues[v].first] = v;
  }
  auto insere = [&](std::size_t v, sauvetage::Enregistrement& e) {
    if (e.ecarte || !e.illisibles.empty()) {
      ++perdues[v];
      return;
    }
    Requete& insertion = insertions[v];
    insertion.Reinitialise();
    insertion.Lie(1, e.cle);
    for (std::size_t i = 0; i < e.valeurs.size(); ++i) insertion.Lie(static_cast<int>(i) + 2, e.valeurs[i]);
    try {
      insertion.Termine();
    } catch (const ErreurMoteur&) {
      ++perdues[v];
    }
  };
  for (std::size_t v = 0; v < voulues.size(); ++v)
    fichier.Parcourt(voulues[v].first, [&](sauvetage::Enregistrement& e) { insere(v, e); });
  fichier.RecupereEgarees([&](std::size_t arbre, sauvetage::Enregistrement& e) {
    if (auto it = parArbre.find(arbre); it != parArbre.end()) insere(it->second, e);
  });
  for (std::size_t v = 0; v < voulues.size(); ++v) {
    const auto& [arbre, nom] = voulues[v];
    if (std::find(refaites.begin(), refaites.end(), nom) != refaites.end()) continue;  // told as remade
    const auto bilan = fichier.BilanDe(arbre);
    if (bilan.pagesAbimees > 0 || bilan.cellulesIllisibles > 0 || perdues[v] > 0)
      constats.push_back("#ALERT# Catalogue endommagé : des lignes de la table « " + Affichable(nom) +
                         " » sont illisibles" +
                         (bilan.pagesAbimees > 0 ? " (" + Pages(bilan.pagesAbimees) + ")" : std::string()) +
                         " ; ce que le schéma du fichier en dit encore est reconstitué.");
  }
}

bool TableExiste(sqlite3* db, const std::string& nom) {
  Requete r(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
  r.Lie(1, std::string_view(nom));
  return r.Pas();
}

// The catalog tables whose definitions were lost with the schema's page, made again as the
// engine makes them, in a file the engine wrote: their rows are then looked for by their shape.
std::vector<std::string> RefaitCatalogue(sqlite3* db, std::vector<std::string>& constats) {
  BaseEtat modele;
  modele.db = OuvreConnexionMoteur(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  catalogue::Cree(modele.db, "4.0");
  Requete idModele(modele.db, "PRAGMA application_id"), id(db, "PRAGMA application_id");
  if (!idModele.Pas() || !id.Pas() || id.Entier(0) != idModele.Entier(0)) return {};
  std::vector<std::string> refaites;
  std::string noms;
  for (const char* table : TablesCatalogue) {
    if (TableExiste(db, table)) continue;
    // The table before its indexes.
    Requete definitions(modele.db,
                        "SELECT sql FROM sqlite_master WHERE tbl_name = ? AND sql IS NOT NULL ORDER BY type DESC");
    definitions.Lie(1, std::string_view(table));
    while (definitions.Pas()) sql::Execute(db, definitions.Texte(0), Operation::Structure);
    refaites.emplace_back(table);
    noms += (noms.empty() ? "« " : ", « ") + std::string(table) + " »";
  }
  if (!refaites.empty())
    constats.push_back("#ALERT# Schéma du fichier endommagé : la définition " +
                       std::string(refaites.size() > 1 ? "des tables du catalogue " : "de la table du catalogue ") +
                       noms + " y est perdue ; " + (refaites.size() > 1 ? "elles sont refaites" : "elle est refaite") +
                       ", et leurs lignes cherchées parmi les pages qu'aucune table ne réclame.");
  return refaites;
}

// The definition of a field whose catalog row was lost, told back from its table's SQL text and
// its rule triggers: the definition whose checks all stand in the triggers' text, the one with
// most of them.
DefChamp DeduitChamp(const std::string& nom, const std::string& declare, bool compteur, const std::string& regles,
                     bool ouiNon) {
  DefChamp c;
  c.nom = nom;
  if (compteur) {
    c.type = dbLong;
    c.attributs = dbAutoIncrField;
    c.taille = TailleFixe(dbLong);
    return c;
  }
  const std::string longueur = "length(NEW." + CiteIdent(nom) + ") > ";
  int taille = 0;
  if (auto p = regles.find(longueur); p != std::string::npos) taille = std::atoi(regles.c_str() + p + longueur.size());
  std::optional<DefChamp> meilleur;
  std::size_t controles = 0;
  for (int type : {dbBoolean, dbByte, dbInteger, dbLong, dbCurrency, dbSingle, dbDouble, dbDate, dbText, dbBinary,
                   dbLongBinary, dbMemo, dbGUID})
    for (bool requis : {false, true})
      for (bool zero : {false, true}) {
        DefChamp k = c;
        k.type = type;
        k.requis = requis;
        k.zeroLongueur = zero;
        const bool taillee = type == dbText || type == dbBinary;
        k.taille = taillee ? taille : TailleFixe(type);
        if ((taillee && taille <= 0) || (ouiNon && type != dbBoolean) ||
            PlieNom(regles::TypeSqlite(k)) != PlieNom(declare))
          continue;
        auto textes = regles::ReglesDuChamp(k);
        if (!std::all_of(textes.begin(), textes.end(),
                         [&](const std::string& t) { return regles.find(t) != std::string::npos; }))
          continue;
        if (!meilleur || textes.size() > controles) meilleur = k, controles = textes.size();
      }
  if (meilleur && (controles > 0 || regles.empty())) return *meilleur;
  const std::string t = PlieNom(declare);
  c.type = t == "integer" ? dbLong : t == "real" ? dbDouble : t == "blob" ? dbLongBinary : dbMemo;
  c.taille = TailleFixe(c.type);
  c.zeroLongueur = EstTypeTexte(c.type);
  return c;
}

std::string DecritChamp(const DefChamp& c) {
  std::string texte = "type " + std::to_string(c.type);
  if (c.type == dbText || c.type == dbBinary) texte += ", taille " + std::to_string(c.taille);
  if (c.attributs & dbAutoIncrField) texte += ", numéro automatique";
  if (c.requis) texte += ", requis";
  return texte;
}

// Catalog rows made again from what the file still says of them.
class Reconstruction {
 public:
  Reconstruction(sqlite3* db, const std::vector<LigneSchema>& schema, std::vector<std::string>& constats)
      : db_(db), schema_(schema), constats_(constats) {}

  void Tables() {
    for (const auto& l : schema_) {
      if (l.type != "table" || EstInterne(l.nom) || TableId(l.nom)) continue;
      const long long id = IdDeTable(l.nom);
      Requete r(db_, "INSERT INTO MSysTables(Id, Name, Attributes) VALUES (?, ?, 0)", Operation::Structure);
      r.Lie(1, id).Lie(2, std::string_view(l.nom));
      r.Termine();
      Note("la table '" + l.nom + "'");
    }
  }

  void Champs() {
    for (const auto& [id, nom] : Tables(db_)) {
      const LigneSchema* table = Ligne("table", nom);
      if (!table) continue;
      std::set<std::string> connus;
      Requete c(db_, "SELECT Name FROM MSysColumns WHERE TableId = ?");
      c.Lie(1, id);
      while (c.Pas()) connus.insert(PlieNom(c.Texte(0)));
      const std::string regles = Texte("MSysRegle_" + std::to_string(id) + "_ins");
      const std::string ouiNon = Texte("MSysRegle_" + std::to_string(id) + "_oui");
      Requete info(db_,
                   "SELECT cid, name, type, pk, (SELECT count(*) FROM pragma_table_info(?1) WHERE pk > 0) FROM "
                   "pragma_table_info(?1)");
      info.Lie(1, std::string_view(nom));
      while (info.Pas()) {
        const std::string colonne = info.Texte(1);
        if (connus.count(PlieNom(colonne))) continue;
        const bool compteur =
            info.Entier(3) > 0 && info.Entier(4) == 1 && PlieNom(table->sql).find("autoincrement") != std::string::npos;
        DefChamp champ = DeduitChamp(colonne, info.Texte(2), compteur, regles,
                                     ouiNon.find("NEW." + CiteIdent(colonne) + " IS NULL") != std::string::npos);
        champ.ordinal = static_cast<int>(info.Entier(0));
        Requete r(
            db_,
            "INSERT INTO MSysColumns(TableId, Name, Type, Size, Attributes, DefaultValue, Required, AllowZeroLength, "
            "OrdinalPosition) VALUES (?, ?, ?, ?, ?, '', ?, ?, ?)",
            Operation::Structure);
        r.Lie(1, id).Lie(2, std::string_view(colonne)).Lie(3, static_cast<long long>(champ.type));
        r.Lie(4, static_cast<long long>(champ.taille))
            .Lie(5, champ.attributs)
            .Lie(6, static_cast<long long>(champ.requis));
        r.Lie(7, static_cast<long long>(champ.zeroLongueur)).Lie(8, static_cast<long long>(champ.ordinal));
        r.Termine();
        Note("le champ '" + nom + "." + colonne + "' (" + DecritChamp(champ) + ")");
      }
    }
  }

  void Index() {
    for (const auto& l : schema_) {
      const long long n = l.type == "index" ? NumeroDans(l.nom, "MSysIdx_") : 0;
      const long long tableId = n ? TableId(l.table) : 0;
      if (!tableId || Existe("SELECT 1 FROM MSysIndexes WHERE Id = ?", n)) continue;
      std::string champs, premier;
      Requete x(db_, "SELECT name, desc FROM pragma_index_xinfo(?) WHERE key = 1 AND name IS NOT NULL ORDER BY seqno");
      x.Lie(1, std::string_view(l.nom));
      while (x.Pas()) {
        champs += (champs.empty() ? "" : ";") + std::string(x.Entier(1) ? "-" : "+") + x.Texte(0);
        if (premier.empty()) premier = x.Texte(0);
      }
      if (champs.empty()) continue;
      const bool unique = PlieNom(l.sql).starts_with("create unique");
      // The key its table's rows are stored by is the primary key the engine gives a counter.
      const bool primaire = unique && EstClePrimaire(l.table, tableId, champs) &&
                            !Existe("SELECT 1 FROM MSysIndexes WHERE TableId = ? AND IsPrimary = 1", tableId);
      std::string nom = primaire ? "PrimaryKey" : premier;
      if (NomIndexPris(tableId, nom)) nom = "Index_" + std::to_string(n);
      Requete r(db_,
                "INSERT INTO MSysIndexes(Id, TableId, Name, Fields, IsUnique, IsPrimary, IgnoreNulls) VALUES (?, ?, ?, "
                "?, ?, ?, 0)",
                Operation::Structure);
      r.Lie(1, n).Lie(2, tableId).Lie(3, std::string_view(nom)).Lie(4, std::string_view(champs));
      r.Lie(5, static_cast<long long>(unique)).Lie(6, static_cast<long long>(primaire));
      r.Termine();
      Note("l'index '" + l.table + "." + nom + "' (" + champs + (unique ? ", unique" : "") + ")",
           " ; son nom, perdu, est tiré de ses champs");
    }
  }

  // A relation the engine enforces left its triggers: they give its tables, its fields and its
  // attributes back.
  // A table the catalog knows whose definition the schema lost: it is made from the catalog, and
  // its pages, which no tree then leads to, are looked for among those no table claims.
  void TablesSansSchema() {
    for (const auto& [id, nom] : Tables(db_)) {
      if (Ligne("table", nom)) continue;
      std::string colonnes;
      Requete c(db_, "SELECT Name, Type, Attributes FROM MSysColumns WHERE TableId = ? ORDER BY OrdinalPosition, Id");
      c.Lie(1, id);
      while (c.Pas()) {
        DefChamp champ;
        champ.type = static_cast<int>(c.Entier(1));
        colonnes += (colonnes.empty() ? "" : ", ") + CiteIdent(c.Texte(0)) + " " + regles::TypeSqlite(champ) +
                    ((c.Entier(2) & dbAutoIncrField) ? " PRIMARY KEY AUTOINCREMENT" : "");
      }
      try {
        if (colonnes.empty()) throw ErreurMoteur(err::TableSansChamp, {nom});
        sql::Execute(db_, "CREATE TABLE " + CiteIdent(nom) + " (" + colonnes + ")", Operation::Structure);
        constats_.push_back("#ALERT# Schéma du fichier endommagé : la définition de la table '" + Affichable(nom) +
                            "' y est perdue ; elle est reprise du catalogue, et ses pages cherchées parmi celles "
                            "qu'aucune table ne réclame.");
      } catch (const ErreurMoteur&) {
        constats_.push_back("#ALERT# Schéma du fichier endommagé : la définition de la table '" + Affichable(nom) +
                            "' y est perdue, et le catalogue ne permet pas de la refaire.");
      }
    }
  }

  void Relations() {
    for (const auto& l : schema_) {
      if (l.type != "trigger" || !l.nom.ends_with("_ei")) continue;
      const long long n = NumeroDans(l.nom, "MSysRel_");
      const LigneSchema* suppression = Ligne("trigger", "MSysRel_" + std::to_string(n) + "_ps");
      if (!n || !suppression) continue;
      DefRelation r;
      r.id = n;
      const bool ligne = LitRelation(r);
      if (!ligne) {
        r.table = suppression->table;
        r.tableEtrangere = l.table;
      }
      const bool champs = !r.champs.empty();
      if (ligne && champs) continue;
      if (!Retrouve(r, champs, ligne)) {
        constats_.push_back("#ALERT# Catalogue endommagé : la relation n° " + std::to_string(n) + " entre '" +
                            Affichable(r.table) + "' et '" + Affichable(r.tableEtrangere) + "' est perdue.");
        continue;
      }
      if (!ligne) {
        r.nom = "Relation_" + std::to_string(n);
        Requete i(
            db_,
            "INSERT INTO MSysRelationships(Id, Name, TableName, ForeignTableName, Attributes) VALUES (?, ?, ?, ?, ?)",
            Operation::Structure);
        i.Lie(1, n).Lie(2, std::string_view(r.nom)).Lie(3, std::string_view(r.table));
        i.Lie(4, std::string_view(r.tableEtrangere)).Lie(5, r.attributs);
        i.Termine();
      }
      if (!champs) {
        long long position = 0;
        for (const auto& [nom, etranger] : r.champs) {
          Requete i(db_,
                    "INSERT INTO MSysRelationshipFields(RelationId, Position, Name, ForeignName) VALUES (?, ?, ?, ?)",
                    Operation::Structure);
          i.Lie(1, n).Lie(2, position++).Lie(3, std::string_view(nom)).Lie(4, std::string_view(etranger));
          i.Termine();
        }
      }
      Note(std::string(ligne ? "les champs de " : "") + "la relation '" + r.nom + "' entre '" + r.table + "' et '" +
               r.tableEtrangere + "'",
           ligne ? std::string() : " ; son nom, perdu, est tiré de son numéro");
    }
  }

 private:
  void Note(const std::string& quoi, const std::string& complement = {}) {
    const std::string de = quoi.starts_with("le ")    ? "du " + quoi.substr(3)
                           : quoi.starts_with("les ") ? "des " + quoi.substr(4)
                                                      : "de " + quoi;
    constats_.push_back("#ALERT# Catalogue endommagé : reconstitution, d'après le schéma du fichier, " +
                        Affichable(de) + ", qui y manquait" + complement + ".");
  }

  static std::vector<std::pair<long long, std::string>> Tables(sqlite3* db) {
    std::vector<std::pair<long long, std::string>> tables;
    Requete r(db, "SELECT Id, Name FROM MSysTables ORDER BY Id");
    while (r.Pas()) tables.emplace_back(r.Entier(0), r.Texte(1));
    return tables;
  }

  const LigneSchema* Ligne(std::string_view type, const std::string& nom) const {
    for (const auto& l : schema_)
      if (l.type == type && MemeNom(l.nom, nom)) return &l;
    return nullptr;
  }
  std::string Texte(const std::string& declencheur) const {
    const LigneSchema* l = Ligne("trigger", declencheur);
    return l ? l->sql : std::string();
  }

  bool Existe(std::string_view requete, long long valeur) const {
    Requete r(db_, requete);
    r.Lie(1, valeur);
    return r.Pas();
  }
  long long TableId(const std::string& nom) const {
    Requete r(db_, "SELECT Id FROM MSysTables WHERE Name = ? COLLATE NOCASE");
    r.Lie(1, std::string_view(nom));
    return r.Pas() ? r.Entier(0) : 0;
  }
  bool NomIndexPris(long long tableId, const std::string& nom) const {
    Requete r(db_, "SELECT 1 FROM MSysIndexes WHERE TableId = ? AND Name = ? COLLATE NOCASE");
    r.Lie(1, tableId).Lie(2, std::string_view(nom));
    return r.Pas();
  }
  // A primary key is the key the table's rows are stored by when the engine gives it a counter;
  // otherwise its rule triggers refuse a Null in each of its fields as a primary key's.
  bool EstClePrimaire(const std::string& table, long long tableId, const std::string& champs) const {
    if ("+" + CleDesLignes(table) == champs) return true;
    const std::string regles = Texte("MSysRegle_" + std::to_string(tableId) + "_ins");
    std::string_view reste = champs;
    while (!reste.empty()) {
      const auto fin = reste.find(';');
      const std::string nom(reste.substr(1, fin == std::string_view::npos ? std::string_view::npos : fin - 1));
      reste = fin == std::string_view::npos ? std::string_view() : reste.substr(fin + 1);
      const std::string nul = " WHEN NEW." + CiteIdent(nom) + " IS NULL THEN RAISE(ABORT, " +
                              CiteLitteral("JET:" + std::to_string(err::CleNulle) + ":" + nom) + ")";
      if (regles.find(nul) == std::string::npos) return false;
    }
    return true;
  }
  std::string CleDesLignes(const std::string& table) const {
    Requete r(db_, "SELECT name, type FROM pragma_table_info(?) WHERE pk > 0");
    r.Lie(1, std::string_view(table));
    if (!r.Pas() || PlieNom(r.Texte(1)) != "integer") return {};
    std::string nom = r.Texte(0);
    return r.Pas() ? std::string() : nom;
  }

  // The number the engine gave a table, which its triggers and its indexes still carry.
  long long IdDeTable(const std::string& nom) const {
    for (const auto& l : schema_) {
      if (l.type != "trigger" || !MemeNom(l.table, nom)) continue;
      if (long long n = NumeroDans(l.nom, "MSysRegle_"); n > 0 && !Existe("SELECT 1 FROM MSysTables WHERE Id = ?", n))
        return n;
    }
    for (const auto& l : schema_) {
      const long long n = l.type == "index" && MemeNom(l.table, nom) ? NumeroDans(l.nom, "MSysIdx_") : 0;
      if (!n) continue;
      Requete r(db_, "SELECT TableId FROM MSysIndexes WHERE Id = ?");
      r.Lie(1, n);
      if (r.Pas() && r.Entier(0) > 0 && !Existe("SELECT 1 FROM MSysTables WHERE Id = ?", r.Entier(0)))
        return r.Entier(0);
    }
    Requete m(db_,
              "SELECT max(coalesce((SELECT max(Id) FROM MSysTables), 0), coalesce((SELECT max(TableId) FROM "
              "MSysColumns), 0), "
              "coalesce((SELECT max(TableId) FROM MSysIndexes), 0))");
    return (m.Pas() ? m.Entier(0) : 0) + 1;
  }

  bool LitRelation(DefRelation& r) const {
    Requete f(db_, "SELECT Name, ForeignName FROM MSysRelationshipFields WHERE RelationId = ? ORDER BY Position");
    f.Lie(1, r.id);
    while (f.Pas()) r.champs.emplace_back(f.Texte(0), f.Texte(1));
    Requete l(db_, "SELECT Name, TableName, ForeignTableName, Attributes FROM MSysRelationships WHERE Id = ?");
    l.Lie(1, r.id);
    if (!l.Pas()) return false;
    r.nom = l.Texte(0);
    r.table = l.Texte(1);
    r.tableEtrangere = l.Texte(2);
    r.attributs = l.Entier(3);
    return true;
  }

  // The relation's triggers are those the engine would write for it, exactly.
  bool Concorde(const DefRelation& r) const {
    const auto textes = regles::DeclencheursRelation(r, Catalogue{});
    return !textes.empty() && std::all_of(textes.begin(), textes.end(), [&](const std::string& t) {
      return std::any_of(schema_.begin(), schema_.end(),
                         [&](const LigneSchema& l) { return l.type == "trigger" && l.sql == t; });
    });
  }
  bool Retrouve(DefRelation& r, bool champs, bool ligne) const {
    std::vector<std::vector<std::pair<std::string, std::string>>> possibles;
    if (champs) {
      possibles.push_back(r.champs);
    } else {
      // One field on each side, as nearly every relation has.
      Requete p(db_, "SELECT a.name, b.name FROM pragma_table_info(?) a, pragma_table_info(?) b");
      p.Lie(1, std::string_view(r.table)).Lie(2, std::string_view(r.tableEtrangere));
      while (p.Pas()) possibles.push_back({{p.Texte(0), p.Texte(1)}});
    }
    const std::vector<long long> attributs =
        ligne ? std::vector<long long>{r.attributs}
              : std::vector<long long>{0, dbRelationDeleteCascade, dbRelationUpdateCascade,
                                       dbRelationDeleteCascade | dbRelationUpdateCascade};
    for (const auto& c : possibles)
      for (long long a : attributs) {
        DefRelation essai = r;
        essai.champs = c;
        essai.attributs = a;
        if (!Concorde(essai)) continue;
        r = std::move(essai);
        return true;
      }
    return false;
  }

  sqlite3* db_;
  const std::vector<LigneSchema>& schema_;
  std::vector<std::string>& constats_;
};

}  // namespace

std::vector<sauvetage::Classe> FormeDuCatalogue(sqlite3* db, const std::string& table) {
  // SQLite's own table of the counters, whose rows a table of the user's would otherwise take.
  if (MemeNom(table, "sqlite_sequence")) return {sauvetage::Classe::Texte, sauvetage::Classe::Entier};
  for (const char* nom : TablesCatalogue)
    if (MemeNom(table, nom)) return ColonnesDe(db, nom).classes;
  return {};
}

bool DefinitionsLisibles(sqlite3* db) {
  try {
    if (!catalogue::EstCatalogue(db)) return true;  // not one of this engine's files: nothing to rebuild from
    for (const char* table : TablesCatalogue) {
      Requete r(db, "SELECT * FROM " + CiteIdent(table));
      while (r.Pas()) {
      }
    }
    return true;
  } catch (const ErreurMoteur& e) {
    if (EstErreurVerrou(e.Number())) throw;
    return false;
  }
}

Image Reconstitue(const std::string& chemin, std::vector<std::string>& constats) {
  const auto schema = LitSchema(chemin, constats);
  Image image;
  image.base = std::make_shared<BaseEtat>();
  image.base->chemin = chemin;
  image.base->db = OuvreConnexionMoteur(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  sql::Execute(image.base->db, "PRAGMA application_id = " + std::to_string(IdentifiantApplication(chemin)),
               Operation::Structure);
  CreeDefinitions(image.base->db, schema, false, constats);
  for (const auto& l : schema)
    if (l.racine > 0)
      image.racines[PlieNom(l.nom)] = static_cast<std::uint32_t>(std::min<long long>(l.racine, UINT32_MAX));
  const auto refaites = RefaitCatalogue(image.base->db, constats);
  if (!catalogue::EstCatalogue(image.base->db)) return image;
  CopieCatalogue(image, schema, refaites, constats);
  // Without a single definition, only the catalog's rows tell that the pages are this engine's
  // tables: none found, nothing would be made but an empty file.
  if (schema.empty()) {
    Requete tables(image.base->db, "SELECT count(*) FROM MSysTables");
    if (!tables.Pas() || tables.Entier(0) == 0) throw ErreurMoteur(err::BaseEndommagee, {chemin});
  }
  Reconstruction reconstruction(image.base->db, schema, constats);
  reconstruction.Tables();
  reconstruction.Champs();
  reconstruction.Index();
  reconstruction.Relations();
  reconstruction.TablesSansSchema();
  CreeDefinitions(image.base->db, schema, true, constats);
  return image;
}

}  // namespace moteur::reconstitution

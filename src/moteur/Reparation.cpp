// Repair: a sound file is left as it is; a damaged one is salvaged, row by row, into a new
// file that then takes its place in one rename, so that an interruption leaves one or the other.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "moteur/Injection.h"
#include "moteur/Interne.h"
#include "moteur/Noms.h"
#include "moteur/Reconstitution.h"
#include "moteur/Sauvetage.h"
#include "moteur/Tenue.h"

namespace moteur {

void FonctionUtf8(sqlite3_context* contexte, int, sqlite3_value** valeurs) {
  auto octets = reinterpret_cast<const char*>(sqlite3_value_text(valeurs[0]));
  const int taille = sqlite3_value_bytes(valeurs[0]);
  sqlite3_result_int(contexte,
                     octets == nullptr || Utf8Valide(std::string_view(octets, static_cast<std::size_t>(taille))));
}

void InstalleFonctionUtf8(sqlite3* db) {
  sqlite3_create_function_v2(db, "utireorg_utf8", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, FonctionUtf8, nullptr,
                             nullptr, nullptr);
}

std::string ConditionTexteIllisible(const std::string& champ) {
  return "typeof(" + champ + ") = 'blob' OR (typeof(" + champ + ") = 'text' AND NOT utireorg_utf8(" + champ + "))";
}

std::vector<TexteIllisible> TextesIllisibles(Database& base, std::string_view table) {
  BaseEtat& e = *base.etat();
  const DefTable* t = e.cat.Table(table);
  if (!t) throw ErreurMoteur(err::ElementIntrouvable, {table});
  std::vector<const DefChamp*> textes;
  std::string colonnes, conditions;
  for (const auto& c : t->champs) {
    if (!EstTypeTexte(c.type)) continue;
    textes.push_back(&c);
    colonnes += ", " + CiteIdent(c.nom);
    conditions += (conditions.empty() ? "" : " OR ") + ConditionTexteIllisible(CiteIdent(c.nom));
  }
  std::vector<TexteIllisible> trouves;
  if (textes.empty()) return trouves;
  InstalleFonctionUtf8(e.db);
  sql::Requete r(e.db, "SELECT rowid" + colonnes + " FROM " + CiteIdent(t->nom) + " WHERE " + conditions);
  while (r.Pas()) {
    for (std::size_t i = 0; i < textes.size(); ++i) {
      const int colonne = static_cast<int>(i) + 1;
      const int genre = r.TypeColonne(colonne);
      if (genre != SQLITE_BLOB && (genre != SQLITE_TEXT || Utf8Valide(r.Texte(colonne)))) continue;
      trouves.push_back({r.Entier(0), textes[i]->nom, r.Brute(colonne).texte()});
    }
  }
  return trouves;
}

namespace {

std::string Dossier(const std::string& chemin) {
  auto pos = chemin.find_last_of('/');
  if (pos == std::string::npos) return ".";
  return pos == 0 ? "/" : chemin.substr(0, pos);
}

// A text field holding bytes that are no UTF-8, or binary data, was written by another program or
// altered on disk: SQLite's own check does not see it, and every later stage would carry it.
bool TextesValides(BaseEtat& base) {
  InstalleFonctionUtf8(base.db);
  for (const auto& t : base.cat.tables) {
    if (t->id <= 0) continue;
    std::string conditions;
    for (const auto& c : t->champs) {
      if (!EstTypeTexte(c.type)) continue;
      conditions += (conditions.empty() ? "" : " OR ") + ConditionTexteIllisible(CiteIdent(c.nom));
    }
    if (conditions.empty()) continue;
    sql::Requete r(base.db, "SELECT 1 FROM " + CiteIdent(t->nom) + " WHERE " + conditions + " LIMIT 1");
    if (r.Pas()) return false;
  }
  return true;
}

bool FichierSain(BaseEtat& base) {
  // SQLite's own check runs once, inside VerifieIntegrite: it reads the whole file, and on a
  // sound file it is most of the repair's time.
  try {
    if (!catalogue::EstCatalogue(base.db)) return false;
    catalogue::Charge(base);
    return IntegriteFichier(base).empty() && TextesValides(base);
  } catch (const ErreurMoteur& e) {
    // A lock says nothing of the file's health.
    if (EstErreurVerrou(e.Number())) throw;
    return false;
  }
}

bool EstEnMemoire(sqlite3* db) {
  const char* fichier = sqlite3_db_filename(db, "main");
  return !fichier || !*fichier;
}

// Definitions that can still be read: the catalog when it survives, else what SQLite itself knows.
std::vector<DefTable> DefinitionsLisibles(BaseEtat& ancienne, std::vector<DefRelation>& relations,
                                          std::vector<DefPropriete>& proprietes, std::vector<std::string>& constats) {
  std::vector<DefTable> tables;
  try {
    if (catalogue::EstCatalogue(ancienne.db)) {
      std::vector<std::string> corrections;
      catalogue::Charge(ancienne, &corrections);
      constats.insert(constats.end(), corrections.begin(), corrections.end());
      // What the engine did not make is not carried into the new file. A rule held against a
      // catalog that had to be corrected differs from it without having been altered; one whose
      // text a damaged page cut is the engine's own, made again as it was.
      for (const auto& o : ancienne.objetsInconnus) {
        if (o.EstTable())
          constats.push_back("#ALERT# Table inconnue du logiciel, non reprise : « " + Affichable(o.nom) + " ».");
        else if (o.genre == "définition")
          constats.push_back(catalogue::LigneDefinitionRefaite(o));
        else if (o.genre == "règle") {
          // Definitions read back from the pages are taken without their rules: every rule is
          // written from the catalog into the new file, and only one the file itself lacks is news.
          if (!EstEnMemoire(ancienne.db)) constats.push_back(catalogue::LigneRegleRefaite(o));
        } else if (!o.modifie || (corrections.empty() && !o.texteAbime))
          constats.push_back("#ALERT# Objet inconnu du logiciel supprimé : " + o.Description() + ".");
      }
      for (const auto& t : ancienne.cat.tables)
        if (t->id > 0) tables.push_back(*t);
      for (const auto& r : ancienne.cat.relations) relations.push_back(*r);
      proprietes = ancienne.cat.proprietes;
      return tables;
    }
  } catch (const ErreurMoteur& e) {
    if (EstErreurVerrou(e.Number())) throw;
    tables.clear();
    relations.clear();
  }
  try {
    sql::Requete r(ancienne.db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'MSys%' AND name NOT LIKE 'sqlite%'");
    while (r.Pas()) {
      DefTable t;
      t.nom = r.Texte(0);
      sql::Requete c(ancienne.db, "SELECT name, type FROM pragma_table_info(?) ORDER BY cid");
      c.Lie(1, std::string_view(t.nom));
      int ordinal = 0;
      while (c.Pas()) {
        DefChamp champ;
        champ.nom = c.Texte(0);
        std::string type = PlieNom(c.Texte(1));
        champ.type = type.find("int") != std::string::npos ? dbLong : type.find("real") != std::string::npos ? dbDouble
                     : type.find("blob") != std::string::npos                                     ? dbLongBinary
                                                                                                  : dbMemo;
        champ.taille = TailleFixe(champ.type);
        champ.zeroLongueur = true;
        champ.ordinal = ordinal++;
        if (NomValide(champ.nom)) t.champs.push_back(std::move(champ));
      }
      if (NomValide(t.nom) && !t.champs.empty()) tables.push_back(std::move(t));
    }
  } catch (const ErreurMoteur& e) {
    if (EstErreurVerrou(e.Number())) throw;
    throw ErreurMoteur(err::BaseEndommagee, {ancienne.chemin});
  }
  return tables;
}

// A table being salvaged: its columns as the file stores them, each with the field it holds.
struct TableSauvee {
  const DefTable* def = nullptr;  // in the new file
  std::size_t arbre = 0;
  std::vector<std::string> colonnes;
  std::vector<sauvetage::Classe> classes;
  std::vector<const DefChamp*> champs;  // null for a column the catalog does not know
  std::optional<sql::Requete> insertion;
  long long inseres = 0, refuses = 0, valeursIllisibles = 0;
};

constexpr int ValeursDetaillees = 20;  // lines per table naming an unreadable value; the rest are counted

void LitColonnes(sqlite3* db, TableSauvee& t) {
  sql::Requete c(db, "SELECT name, type, pk FROM pragma_table_info(?) ORDER BY cid");
  c.Lie(1, std::string_view(t.def->nom));
  std::vector<std::pair<std::string, std::pair<std::string, bool>>> lues;
  int cles = 0;
  while (c.Pas()) {
    lues.push_back({c.Texte(0), {c.Texte(1), c.Entier(2) > 0}});
    cles += c.Entier(2) > 0;
  }
  for (const auto& [nom, type] : lues) {
    t.colonnes.push_back(nom);
    t.classes.push_back(sauvetage::ClasseDeclaree(type.first, type.second && cles == 1));
    t.champs.push_back(t.def->Champ(nom));
  }
}

void PrepareInsertion(BaseEtat& nouvelle, TableSauvee& t) {
  std::string colonnes, marques;
  for (const DefChamp* c : t.champs)
    if (c) {
      colonnes += ", " + CiteIdent(c->nom);
      marques += ", ?";
    }
  t.insertion.emplace(nouvelle.db, "INSERT INTO " + CiteIdent(t.def->nom) + " (rowid" + colonnes + ") VALUES (?" + marques + ")",
                      sql::Operation::Ecriture);
}

// The record as its user knows it: by its primary key when that could be read, else by its place.
std::string NommeEnregistrement(const TableSauvee& t, const sauvetage::Enregistrement& e) {
  for (const auto& index : t.def->index) {
    if (!index.primaire) continue;
    std::string texte;
    std::string_view reste = index.champs;
    while (!reste.empty()) {
      auto fin = reste.find(';');
      std::string_view nom = reste.substr(1, fin == std::string_view::npos ? std::string_view::npos : fin - 1);
      reste = fin == std::string_view::npos ? std::string_view() : reste.substr(fin + 1);
      auto it = std::find_if(t.champs.begin(), t.champs.end(), [&](const DefChamp* c) { return c && MemeNom(c->nom, nom); });
      auto i = static_cast<std::size_t>(it - t.champs.begin());
      if (it == t.champs.end() || std::count(e.illisibles.begin(), e.illisibles.end(), i) || e.valeurs[i].EstNul()) return "n° " + std::to_string(e.cle);
      texte += (texte.empty() ? "" : ", ") + (*it)->nom + " = " + e.valeurs[i].EnTexte();
    }
    return texte;
  }
  return "n° " + std::to_string(e.cle);
}

// Every value of a record that is not saved, so that the journal keeps what the file held.
std::string Valeurs(const TableSauvee& t, const sauvetage::Enregistrement& e) {
  std::string texte;
  for (std::size_t i = 0; i < t.champs.size(); ++i) {
    if (!t.champs[i]) continue;
    const Valeur& v = e.valeurs[i];
    const bool illisible = std::count(e.illisibles.begin(), e.illisibles.end(), i) > 0;
    std::string valeur = illisible    ? (v.EstNul() ? "(illisible)" : "(illisible) \"" + Affichable(v.texte()) + "\"")
                         : v.EstNul() ? "Null"
                         : v.genre() == Valeur::Genre::Texte ? "\"" + Affichable(v.texte()) + "\""
                                                             : Affichable(v.EnTexte());
    texte += (texte.empty() ? "" : ", ") + Affichable(t.champs[i]->nom) + " = " + valeur;
  }
  return texte;
}

// A record two cells claimed: the one kept is saved, the other is written out whole.
bool ConstateCleDouble(const TableSauvee& t, const sauvetage::Enregistrement& e, std::vector<std::string>& constats) {
  if (e.cleLue)
    constats.push_back("#ALERT# Table '" + t.def->nom + "' : la clé abîmée " + std::to_string(*e.cleLue) +
                       " d'un enregistrement, déjà portée par un autre, est rendue d'après les index : " +
                       std::to_string(e.cle) + ".");
  if (!e.ecarte) return false;
  constats.push_back("#ALERT# Table '" + t.def->nom + "' : deux enregistrements ont la clé " + std::to_string(e.cle) +
                     " ; celui que les index confirment, ou à défaut le premier lu, est gardé ; l'autre est écarté : " +
                     Valeurs(t, e) + ".");
  return true;
}

// One record read from the pages: what could not be read becomes Null, or the field's default
// when it refuses Null, and is told.
void Insere(TableSauvee& t, sauvetage::Enregistrement& e, std::vector<std::string>& constats) {
  if (ConstateCleDouble(t, e, constats)) return;
  for (std::size_t i : e.illisibles) {
    const DefChamp* c = t.champs[i];
    if (!c) continue;
    bool parDefaut = c->requis && !c->defaut.empty();
    // Bytes read whole that are no text are kept in the journal, escaped.
    const std::string lus = e.valeurs[i].EstNul() ? "" : " (octets lus : \"" + Affichable(e.valeurs[i].texte()) + "\")";
    e.valeurs[i] = parDefaut ? conversion::EvalueDefaut(c->defaut, c->type) : Valeur::Nul();
    if (t.valeursIllisibles++ < ValeursDetaillees)
      constats.push_back("#ALERT# Table '" + t.def->nom + "', enregistrement " + NommeEnregistrement(t, e) +
                         " : la valeur du champ '" + c->nom + "' est illisible, remplacée par " +
                         (parDefaut ? "sa valeur par défaut" : "Null") + lus + ".");
  }
  auto& r = *t.insertion;
  r.Reinitialise();
  r.Lie(1, e.cle);
  int rang = 2;
  for (std::size_t i = 0; i < t.champs.size(); ++i)
    if (t.champs[i]) r.Lie(rang++, e.valeurs[i]);
  try {
    r.Termine();
    ++t.inseres;
  } catch (const ErreurMoteur& erreur) {
    if (erreur.Number() != err::Doublon) {
      // A record the new table refuses is no reason to stop the salvage of all the others: it is
      // written out whole. Any other failure (a full disk, a lock) still ends it.
      static constexpr int refus[] = {err::ConversionImpossible, err::ChampRequis,  err::ChaineVideInterdite,
                                      err::ValeurTropLongue,     err::RegleRefusee, err::DepassementNumerique};
      if (std::find(std::begin(refus), std::end(refus), erreur.Number()) == std::end(refus)) throw;
      ++t.refuses;
      constats.push_back("#ALERT# Table '" + t.def->nom + "' : un enregistrement lu n'a pu être écrit (erreur " +
                         std::to_string(erreur.Number()) + " : " + Affichable(erreur.Description()) +
                         ") : " + Valeurs(t, e) + ".");
      return;
    }
    ++t.refuses;  // a stray leaf holding a key already saved: the first one read is kept
    constats.push_back("#ALERT# Table '" + t.def->nom + "' : deux enregistrements ont la clé " + std::to_string(e.cle) +
                       " ; le premier lu est gardé ; l'autre est écarté : " + Valeurs(t, e) + ".");
  }
  veille::Point();
}

std::string Nombre(long long n, const char* singulier, const char* pluriel) {
  return std::to_string(n) + " " + (n > 1 ? pluriel : singulier);
}

void ConstateBilan(const TableSauvee& t, const sauvetage::Bilan& b, std::vector<std::string>& constats) {
  if (t.valeursIllisibles > ValeursDetaillees)
    constats.push_back("#ALERT# Table '" + t.def->nom + "' : " + Nombre(t.valeursIllisibles - ValeursDetaillees,
                                                                        "autre valeur illisible remplacée.", "autres valeurs illisibles remplacées."));
  if (b.perdus && *b.perdus + t.refuses == 0) return;
  std::string ligne = "#ALERT# Table '" + t.def->nom + "' : " + Nombre(t.inseres, "enregistrement sauvé", "enregistrements sauvés");
  if (!b.perdus) {
    // Neither an index nor a counter tells how many there were: some may be lost, none is known to be.
    ligne += " ; le fichier ne dit plus combien elle en avait : d'autres, illisibles, ont pu être perdus";
  } else {
    const long long illisibles = *b.perdus + t.refuses;
    ligne += std::string(", ") + (b.exact ? "" : "au plus ") + Nombre(illisibles, "illisible", "illisibles");
  }
  if (b.pagesAbimees > 0) ligne += " (" + Nombre(b.pagesAbimees, "page endommagée", "pages endommagées") + ")";
  constats.push_back(ligne + ".");
}

// The table's columns an index holds, which tell what record its entries name; none when it holds
// an expression or the key's alias, whose entries tell nothing of the record's values.
std::vector<std::size_t> ColonnesIndexees(sqlite3* db, const std::string& index,
                                          const std::vector<sauvetage::Classe>& colonnes) {
  std::vector<std::size_t> indexees;
  try {
    sql::Requete r(db, "SELECT cid FROM pragma_index_info(?) ORDER BY seqno");
    r.Lie(1, std::string_view(index));
    while (r.Pas()) {
      long long cid = r.Entier(0);
      if (cid < 0 || static_cast<std::size_t>(cid) >= colonnes.size() ||
          colonnes[static_cast<std::size_t>(cid)] == sauvetage::Classe::Cle)
        return {};
      indexees.push_back(static_cast<std::size_t>(cid));
    }
  } catch (const ErreurMoteur& e) {
    if (EstErreurVerrou(e.Number())) throw;
    return {};
  }
  return indexees;
}

// Root pages read from the file's own pages when its definitions had to be rebuilt elsewhere.
using Racines = std::map<std::string, std::uint32_t>;

// The counters of the tables' automatic numbers as the file keeps them, by folded table name;
// not complete when their page could not be read to its end.
struct Compteurs {
  std::map<std::string, long long> valeurs;
  bool complets = true;
};

Compteurs LitCompteurs(sqlite3* db) {
  Compteurs compteurs;
  sql::Requete s(db, "SELECT count(*) FROM sqlite_master WHERE name = 'sqlite_sequence'");
  if (!s.Pas() || s.Entier(0) == 0) return compteurs;
  try {
    sql::Requete r(db, "SELECT name, seq FROM sqlite_sequence");
    while (r.Pas()) compteurs.valeurs[PlieNom(r.Texte(0))] = r.Entier(1);
  } catch (const ErreurMoteur& e) {
    if (EstErreurVerrou(e.Number())) throw;
    compteurs.complets = false;
  }
  return compteurs;
}

// A new file counts from its highest key: the counter goes back to the highest number the old
// one had given, lest numbers of deleted records be given twice. When the file no longer keeps
// it, the highest key its pages show is all there is, and the user is told.
void RetablitCompteur(BaseEtat& nouvelle, const TableSauvee& t, const Compteurs& compteurs, long long trouvee,
                      std::vector<std::string>& constats) {
  if (!t.def->AutoIncrement()) return;
  const auto lu = compteurs.valeurs.find(PlieNom(t.def->nom));
  const bool connu = lu != compteurs.valeurs.end();
  // A table that gave a number has its counter: only one that gave none may lack it.
  if (!connu && (!compteurs.complets || trouvee > 0))
    constats.push_back("#ALERT# Table '" + t.def->nom + "' : le compteur des numéros automatiques est perdu ; " +
                       (trouvee > 0 ? "il reprend après " + std::to_string(trouvee) +
                                          ", le plus grand numéro trouvé : des numéros au-delà"
                                    : std::string("aucun numéro n'est trouvé, il reprend à 1 : des numéros")) +
                       " ont pu être donnés à des enregistrements supprimés depuis, et seront donnés à nouveau.");
  const long long valeur = std::max(trouvee, connu ? lu->second : 0);
  sql::Requete maj(nouvelle.db, "UPDATE sqlite_sequence SET seq = max(seq, ?1) WHERE name = ?2",
                   sql::Operation::Ecriture);
  maj.Lie(1, valeur);
  maj.Lie(2, std::string_view(t.def->nom));
  maj.Termine();
  if (sqlite3_changes(nouvelle.db) > 0 || valeur == 0) return;
  sql::Requete ajout(nouvelle.db, "INSERT INTO sqlite_sequence(name, seq) VALUES (?1, ?2)", sql::Operation::Ecriture);
  ajout.Lie(1, std::string_view(t.def->nom));
  ajout.Lie(2, valeur);
  ajout.Termine();
}

// The trees the file's schema names, and the tables whose records are wanted among them.
std::vector<sauvetage::Arbre> ArbresDuFichier(BaseEtat& ancienne, std::vector<TableSauvee>& sauvees,
                                              const Racines* racines, const Compteurs& compteurs,
                                              std::optional<std::size_t>* sequence) {
  const auto& clesMax = compteurs.valeurs;
  std::vector<sauvetage::Arbre> arbres;
  std::vector<std::string> tablesIndexees;
  std::map<std::string, std::size_t> parNom;
  sql::Requete r(ancienne.db, "SELECT type, name, rootpage, tbl_name FROM sqlite_master WHERE rootpage > 0");
  while (r.Pas()) {
    sauvetage::Arbre a;
    a.racine = static_cast<std::uint32_t>(r.Entier(2));
    a.table = r.Texte(0) == "table";
    std::string nom = r.Texte(1);
    if (racines) {
      auto it = racines->find(PlieNom(nom));
      a.racine = it == racines->end() ? 0 : it->second;
      if (a.table && a.racine == 0) {
        a.colonnes = reconstitution::FormeDuCatalogue(ancienne.db, nom);
        a.formeExacte = !a.colonnes.empty();
      }
      // Definitions read back from the pages come without the counters: their rows are read too.
      if (a.table && MemeNom(nom, "sqlite_sequence")) {
        a.colonnes = reconstitution::FormeDuCatalogue(ancienne.db, nom);
        *sequence = arbres.size();
      }
    }
    tablesIndexees.push_back(a.table ? std::string() : PlieNom(r.Texte(3)));
    if (a.table) parNom[PlieNom(nom)] = arbres.size();
    for (auto& t : sauvees) {
      if (!a.table || !MemeNom(t.def->nom, nom) || !t.classes.empty()) continue;
      LitColonnes(ancienne.db, t);
      if (t.classes.empty()) break;
      a.colonnes = t.classes;
      t.arbre = arbres.size();
      if (auto it = clesMax.find(PlieNom(nom)); it != clesMax.end()) a.cleMax = it->second;
    }
    arbres.push_back(std::move(a));
  }
  if (racines) {
    // The file's own schema, read apart: its leaves that its lost root no longer reaches are its
    // own, no pages of records left over.
    sauvetage::Arbre schema;
    schema.table = true;
    schema.colonnes = reconstitution::FormeDuSchema();
    schema.formeExacte = true;
    tablesIndexees.emplace_back();
    arbres.push_back(std::move(schema));
  }
  std::vector<std::string> nomsIndex;
  {
    sql::Requete n(ancienne.db, "SELECT name FROM sqlite_master WHERE rootpage > 0");
    while (n.Pas()) nomsIndex.push_back(n.Texte(0));
  }
  for (std::size_t i = 0; i < arbres.size(); ++i) {
    auto it = parNom.find(tablesIndexees[i]);
    if (arbres[i].table || it == parNom.end()) continue;
    arbres[i].tableIndexee = it->second;
    if (i < nomsIndex.size())
      arbres[i].colonnesIndexees = ColonnesIndexees(ancienne.db, nomsIndex[i], arbres[it->second].colonnes);
  }
  return arbres;
}

// Every record the pages still hold, table by table, then those of leaves no tree reaches.
void SauveEnregistrements(BaseEtat& ancienne, BaseEtat& nouvelle, std::vector<TableSauvee>& sauvees,
                          std::vector<std::string>& constats, const Racines* racines) {
  Compteurs compteurs = LitCompteurs(ancienne.db);
  std::optional<std::size_t> sequence;
  auto arbres = ArbresDuFichier(ancienne, sauvees, racines, compteurs, &sequence);
  auto compte = [&](std::size_t a, const sauvetage::Enregistrement& e) {
    if (a != sequence || e.valeurs.size() < 2 || !e.illisibles.empty() || e.valeurs[0].genre() != Valeur::Genre::Texte)
      return;
    long long& valeur = compteurs.valeurs[PlieNom(e.valeurs[0].texte())];
    valeur = std::max(valeur, e.valeurs[1].EnEntier());
  };
  for (auto& t : sauvees) {
    if (!t.classes.empty()) continue;
    constats.push_back("#ALERT# Table '" + t.def->nom + "' : ses enregistrements sont introuvables dans le fichier ; elle est recréée vide.");
  }
  sauvetage::Fichier fichier(ancienne.chemin, arbres);
  std::map<std::size_t, TableSauvee*> parArbre;
  for (auto& t : sauvees) {
    if (t.classes.empty()) continue;
    parArbre[t.arbre] = &t;
    PrepareInsertion(nouvelle, t);
    fichier.Parcourt(t.arbre, [&](sauvetage::Enregistrement& e) { Insere(t, e, constats); });
  }
  // The catalog's own leaves go to its trees, and their rows nowhere: the catalog is written anew.
  // A tree whose root was lost must be walked for the whole of its key range to be looked for.
  for (std::size_t a = 0; a < arbres.size(); ++a)
    if (arbres[a].formeExacte || a == sequence)
      fichier.Parcourt(a, [&](sauvetage::Enregistrement& e) { compte(a, e); });
  fichier.RecupereEgarees([&](std::size_t a, sauvetage::Enregistrement& e) {
    if (auto it = parArbre.find(a); it != parArbre.end()) Insere(*it->second, e, constats);
    compte(a, e);
  });
  for (auto& t : sauvees) {
    if (t.classes.empty()) continue;
    t.insertion.reset();
    if (auto lu = compteurs.valeurs.find(PlieNom(t.def->nom)); lu != compteurs.valeurs.end() && t.def->AutoIncrement())
      fichier.DonneCleMax(t.arbre, lu->second);
    ConstateBilan(t, fichier.BilanDe(t.arbre), constats);
  }
  for (auto& t : sauvees)
    RetablitCompteur(nouvelle, t, compteurs, t.classes.empty() ? 0 : fichier.CleLaPlusHaute(t.arbre), constats);
  if (long long n = fichier.FeuillesNonAttribuees())
    constats.push_back("#ALERT# " + Nombre(n, "page de données n'a pu être rattachée", "pages de données n'ont pu être rattachées") +
                       " à aucune table : leurs enregistrements ne sont pas repris.");
}

void RecreeIndex(BaseEtat& nouvelle, const DefTable& creee, std::vector<DefIndex> index, std::vector<std::string>& constats) {
  for (auto& x : index) {
    try {
      catalogue::AjouteIndex(nouvelle, creee.id, x);
      continue;
    } catch (const ErreurMoteur& e) {
      if (EstErreurVerrou(e.Number()) || e.Number() == err::EspaceDisque) throw;
    }
    x.unique = x.primaire = false;  // the data no longer fit the key: keep the index for its order
    try {
      catalogue::AjouteIndex(nouvelle, creee.id, x);
      constats.push_back("#ALERT# Index '" + creee.nom + "." + x.nom +
                         "' : des enregistrements sauvés ont la même clé ou une clé vide ; il est gardé, sans être unique.");
    } catch (const ErreurMoteur& e) {
      constats.push_back("#ALERT# Index '" + creee.nom + "." + x.nom + "' : non recréé (" + e.Description() + ").");
    }
  }
}

// A relation keeps its attributes; one the saved records no longer fit stays, unenforced, and is told.
void RecreeRelation(BaseEtat& nouvelle, DefRelation r, std::vector<std::string>& constats) {
  try {
    catalogue::AjouteRelation(nouvelle, r);
    return;
  } catch (const ErreurMoteur& e) {
    if (e.Number() != err::PasDEnregistrementLie) {
      constats.push_back("#ALERT# Relation '" + r.nom + "' entre '" + r.table + "' et '" + r.tableEtrangere + "' : non recréée (" +
                         e.Description() + ").");
      return;
    }
  }
  r.attributs |= dbRelationDontEnforce;
  try {
    catalogue::AjouteRelation(nouvelle, r);
    constats.push_back("#ALERT# Relation '" + r.nom + "' entre '" + r.table + "' et '" + r.tableEtrangere +
                       "' : des enregistrements sauvés de '" + r.tableEtrangere + "' n'ont plus d'enregistrement lié dans '" +
                       r.table + "' ; elle n'est plus appliquée.");
  } catch (const ErreurMoteur& e) {
    constats.push_back("#ALERT# Relation '" + r.nom + "' entre '" + r.table + "' et '" + r.tableEtrangere + "' : non recréée (" +
                       e.Description() + ").");
  }
}

void Recree(BaseEtat& ancienne, BaseEtat& nouvelle, std::vector<std::string>& constats, const Racines* racines) {
  // One read transaction for the whole walk: no writer can change the file meanwhile.
  sql::Execute(ancienne.db, "BEGIN", sql::Operation::Lecture);
  std::vector<DefRelation> relations;
  std::vector<DefPropriete> proprietes;
  auto tables = DefinitionsLisibles(ancienne, relations, proprietes, constats);
  sql::PointDeReprise pr(nouvelle.db);
  for (const auto& p : proprietes) {
    bool existe = false;
    for (const auto& q : nouvelle.cat.proprietes) existe = existe || MemeNom(q.nom, p.nom);
    catalogue::EcritPropriete(nouvelle, Proprietaire::Base, 0, p, !existe);
  }
  // The definitions as the old file has them, indexes included: its primary key names the records.
  std::vector<DefTable> anciennes = tables;
  std::vector<TableSauvee> sauvees(tables.size());
  for (std::size_t i = 0; i < tables.size(); ++i) {
    DefTable t = tables[i];
    t.index.clear();
    DefTable& creee = catalogue::AjouteTable(nouvelle, t);
    // Rows keep whatever they held, even values a rule would now refuse: the record check corrects them later.
    sql::Execute(nouvelle.db, "DROP TRIGGER IF EXISTS " + CiteIdent("MSysRegle_" + std::to_string(creee.id) + "_ins"));
    anciennes[i].id = creee.id;
    sauvees[i].def = &anciennes[i];
  }
  SauveEnregistrements(ancienne, nouvelle, sauvees, constats, racines);
  for (const auto& t : anciennes) {
    DefTable* creee = nouvelle.cat.TableParId(t.id);
    catalogue::RegenereRegles(nouvelle, *creee);
    RecreeIndex(nouvelle, *creee, t.index, constats);
  }
  for (auto& r : relations) RecreeRelation(nouvelle, r, constats);
  pr.Valide();
}

constexpr std::string_view PrefixeTemporaire = ".reparation";

// A repair killed in its middle leaves its new file beside the one it repaired. SQLite writes that
// file without interruption while the repair lasts and locks it while it does: one nobody has
// written for ten minutes and nobody holds is such a leftover.
bool EstReparationAbandonnee(const std::string& chemin) {
  struct stat etat {};
  if (::lstat(chemin.c_str(), &etat) != 0 || !S_ISREG(etat.st_mode) || ::time(nullptr) - etat.st_mtime < 600)
    return false;
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock verrou {};
  verrou.l_type = F_WRLCK;
  verrou.l_whence = SEEK_SET;
  const bool libre = ::fcntl(fd, F_GETLK, &verrou) == 0 && verrou.l_type == F_UNLCK;
  ::close(fd);
  return libre;
}

// The repair holds a lock file for as long as it writes its new file "<lock>.bd" beside it; the
// lock file says whose it is once held, so that a file of that name met unheld, with those
// words in it, is proved to be a killed repair's.
constexpr std::string_view MarqueVerrou = "réparation en cours\n";
constexpr std::string_view ExtensionNouvelle = ".bd";
constexpr std::string_view ExtensionRedressee = ".entete.bd";

// The copy with its header made again lives as long as the repair that reads it.
struct CopieRedressee {
  std::string chemin;
  CopieRedressee() = default;
  CopieRedressee(const CopieRedressee&) = delete;
  CopieRedressee& operator=(const CopieRedressee&) = delete;
  ~CopieRedressee() {
    if (chemin.empty()) return;
    ::unlink(chemin.c_str());
    ::unlink((chemin + "-journal").c_str());
  }
};

bool MemeFichier(int fd, const std::string& chemin) {
  struct stat tenu {
  }, present{};
  return ::fstat(fd, &tenu) == 0 && ::lstat(chemin.c_str(), &present) == 0 && tenu.st_dev == present.st_dev &&
         tenu.st_ino == present.st_ino;
}

// A lock file no repair holds any more, with its new file and that file's journal: removed, and
// told. False when the file is no such lock; true, and nothing touched, while a repair holds it.
bool SupprimeReparationTuee(const std::string& verrou, std::vector<std::string>& constats) {
  int fd = ::open(verrou.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  std::string marque(MarqueVerrou.size() + 1, '\0');
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return true;
  }
  const bool notre = ::pread(fd, marque.data(), marque.size(), 0) == static_cast<ssize_t>(MarqueVerrou.size()) &&
                     marque.compare(0, MarqueVerrou.size(), MarqueVerrou) == 0 && MemeFichier(fd, verrou);
  if (notre) {
    const std::string nouvelle = verrou + std::string(ExtensionNouvelle);
    ::unlink(nouvelle.c_str());
    ::unlink((nouvelle + "-journal").c_str());
    ::unlink((verrou + std::string(ExtensionRedressee)).c_str());
    ::unlink((verrou + std::string(ExtensionRedressee) + "-journal").c_str());
    ::unlink(verrou.c_str());
    constats.push_back("Fichiers d'une réparation interrompue supprimés : « " + Affichable(nouvelle) +
                       " » et son journal.");
  }
  ::close(fd);
  return notre;
}

void SupprimeReparationsAbandonnees(const std::string& dossier, std::vector<std::string>& constats) {
  std::vector<std::string> restes;
  if (DIR* d = ::opendir(dossier.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      std::string_view nom = e->d_name;
      if (nom.size() == PrefixeTemporaire.size() + 6 && nom.substr(0, PrefixeTemporaire.size()) == PrefixeTemporaire)
        restes.push_back(dossier + "/" + std::string(nom));
    }
    ::closedir(d);
  }
  for (const auto& reste : restes) {
    if (SupprimeReparationTuee(reste, constats) || !EstReparationAbandonnee(reste)) continue;
    // A new file written under its own name, as repairs did before their lock file.
    ::unlink(reste.c_str());
    ::unlink((reste + "-journal").c_str());
    constats.push_back("Fichiers d'une réparation interrompue supprimés : « " + Affichable(reste) +
                       " » et son journal.");
  }
}

// The lock file of this repair, held until it is closed; its new file is named after it.
class VerrouReparation {
 public:
  VerrouReparation(const std::string& cible, std::vector<std::string>& constats) {
    SupprimeReparationsAbandonnees(Dossier(cible), constats);
    for (int essai = 0; fd_ < 0; ++essai) {
      std::string modele = Dossier(cible) + "/" + std::string(PrefixeTemporaire) + "XXXXXX";
      int fd = ::mkostemp(modele.data(), O_CLOEXEC);
      if (fd < 0) throw ErreurMoteur(errno == ENOSPC ? err::DisquePlein : err::AccesRefuse, {cible});
      // Another repair's cleaning may have taken the name before the lock was held: a new name.
      if (::flock(fd, LOCK_EX) == 0 && MemeFichier(fd, modele) &&
          ::pwrite(fd, MarqueVerrou.data(), MarqueVerrou.size(), 0) == static_cast<ssize_t>(MarqueVerrou.size())) {
        fd_ = fd;
        chemin_ = modele;
      } else {
        ::close(fd);
        if (essai >= 10) throw ErreurMoteur(err::AccesRefuse, {cible});
      }
    }
  }
  ~VerrouReparation() {
    ::unlink(chemin_.c_str());
    ::close(fd_);
  }
  VerrouReparation(const VerrouReparation&) = delete;
  VerrouReparation& operator=(const VerrouReparation&) = delete;

  std::string Nouvelle() const { return chemin_ + std::string(ExtensionNouvelle); }
  // The copy of a file whose header was made again, read in its place.
  std::string Redressee() const { return chemin_ + std::string(ExtensionRedressee); }

 private:
  int fd_ = -1;
  std::string chemin_;
};

std::string FichierReel(const std::string& chemin) {
  char* reel = ::realpath(chemin.c_str(), nullptr);
  std::string resultat = reel ? reel : chemin;
  std::free(reel);
  return resultat;
}

// The new file takes the rights of the one it replaces, and its owner and group when this
// process may give them: another user's file must not become ours, nor readable by all.
void GardeDroits(const std::string& ancien, const std::string& nouveau) {
  struct stat etat {};
  if (::stat(ancien.c_str(), &etat) != 0) return;
  if (::chown(nouveau.c_str(), etat.st_uid, etat.st_gid) != 0) (void)!::chown(nouveau.c_str(), static_cast<uid_t>(-1), etat.st_gid);
  ::chmod(nouveau.c_str(), etat.st_mode & 07777);
}

// "base.mdb" gives "base.endommagee.mdb", then "base.endommagee-2.mdb"…: the extension stays last,
// for the file to open as what it is.
std::string NomGarde(const std::string& chemin, int rang) {
  const auto barre = chemin.find_last_of('/');
  auto point = chemin.find_last_of('.');
  if (point == std::string::npos || (barre != std::string::npos && point < barre) || point == barre + 1)
    point = chemin.size();
  return chemin.substr(0, point) + ".endommagee" + (rang > 1 ? "-" + std::to_string(rang) : "") + chemin.substr(point);
}

void Synchronise(const std::string& chemin, bool dossier) {
  int fd = ::open(chemin.c_str(), (dossier ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

// A second name for the same file costs no space; where the file system has none to give, a copy
// is made.
std::string GardeFichierEndommage(const std::string& chemin, std::vector<std::string>& constats) {
  // A link is kept through: the damaged file is the one it leads to.
  const std::string cible = FichierReel(chemin);
  std::string raison;
  for (int rang = 1; rang < 1000; ++rang) {
    const std::string garde = NomGarde(cible, rang);
    if (::link(cible.c_str(), garde.c_str()) == 0) return garde;
    if (errno == EEXIST) continue;
    std::error_code ec;
    if (std::filesystem::copy_file(cible, garde, ec)) return garde;
    if (ec == std::errc::file_exists) continue;
    raison = ec.message();
    std::filesystem::remove(garde, ec);  // what a copy cut short wrote
    break;
  }
  constats.push_back("#ALERT# La base endommagée n'a pas pu être gardée à côté de la base réparée" +
                     (raison.empty() ? std::string() : " (" + raison + ")") + ".");
  return {};
}

void DBEngine::RepairDatabase(const std::string& chemin) {
  std::vector<std::string> constats;
  RepairDatabase(chemin, constats);
}

namespace {

std::string Repare(const std::string& chemin, std::vector<std::string>& constats, DBEngine::GardeEndommagee garde);

// The header no longer marks the file as the engine's, though the file holds the catalog's tables.
bool MarqueDuMoteurPerdue(const std::string& chemin) {
  if (reconstitution::IdentifiantApplication(chemin) == catalogue::IdentifiantApplication) return false;
  sqlite3* db = nullptr;
  try {
    db = OuvreConnexionMoteur(chemin, SQLITE_OPEN_READONLY);
    const bool tables = catalogue::TablesDuCatalogue(db);
    sqlite3_close_v2(db);
    return tables;
  } catch (const ErreurMoteur&) {
    sqlite3_close_v2(db);
    return false;
  }
}

// The copy read in place of a file whose header was made again is this process's own: an error
// met in it names the user's file.
ErreurMoteur NommeLeFichier(const ErreurMoteur& e, const std::string& chemin) {
  std::string texte = e.Description();
  const auto fin = texte.find(ExtensionRedressee);
  const auto debut = fin == std::string::npos ? std::string::npos : texte.rfind(PrefixeTemporaire, fin);
  if (debut == std::string::npos) return e;
  const auto dossier = texte.rfind('\'', debut);
  const auto depuis = dossier == std::string::npos ? debut : dossier + 1;
  texte.replace(depuis, fin + ExtensionRedressee.size() - depuis, chemin);
  return ErreurMoteur(e.Number(), texte);
}

}  // namespace

std::string DBEngine::RepairDatabase(const std::string& chemin, std::vector<std::string>& constats,
                                     GardeEndommagee garde) {
  try {
    return Repare(chemin, constats, garde);
  } catch (const ErreurMoteur& e) {
    throw NommeLeFichier(e, chemin);
  }
}

namespace {

std::string Repare(const std::string& chemin, std::vector<std::string>& constats, DBEngine::GardeEndommagee garde) {
  using GardeEndommagee = DBEngine::GardeEndommagee;
  if (EstFichierJet(chemin))
    throw ErreurMoteur(err::OperationNonGeree, "La réparation d'une base de données Jet n'est pas prise en charge : '" + chemin +
                                                   "' est lue en lecture seule par le moteur, et convertie à son format "
                                                   "lors du compactage.");
  // No other program may commit between what the repair reads and the file it puts in place: its
  // commit would be lost with the old file. Writers are kept out until then.
  std::optional<TenueEcritures> tenue(std::in_place, chemin);
  // A link is kept: the file it leads to is the one repaired.
  const std::string cible = FichierReel(chemin);
  // A header another program overwrote no longer says how to read the pages: they are read
  // through a copy of the file whose header is made again from them.
  std::optional<VerrouReparation> verrou;
  std::string lue = chemin;
  CopieRedressee redressee;
  std::uint32_t taillePages = 0;
  if (sauvetage::EnteteEcrase(chemin) || MarqueDuMoteurPerdue(chemin)) {
    verrou.emplace(cible, constats);
    redressee.chemin = lue = verrou->Redressee();
    taillePages = sauvetage::RefaitEntete(chemin, lue, catalogue::IdentifiantApplication);
    constats.push_back("#ALERT# L'en-tête de la base de données '" + Affichable(chemin) +
                       "' était écrasé : il a été refait d'après ses pages, de " + std::to_string(taillePages) +
                       " octets.");
  }
  std::shared_ptr<BaseEtat> ancienne;
  try {
    ancienne = OuvreEtat(lue, false, false);
  } catch (const ErreurMoteur& e) {
    if (e.Number() != err::BaseEndommagee) throw;
  }
  if (!verrou && ancienne && FichierSain(*ancienne)) {
    // The file stays in place: it is rewritten under SQLite's own locking, beside the other
    // programs, which the hold would keep this connection from.
    tenue.reset();
    // What another program added goes; rules are rebuilt from the catalog in case a trigger was
    // lost or altered.
    sql::PointDeReprise pr(ancienne->db);
    catalogue::SupprimeObjetsInconnus(*ancienne, constats);
    for (const auto& t : ancienne->cat.tables)
      if (t->id > 0) catalogue::RegenereRegles(*ancienne, *t);
    catalogue::DesappliqueRelationsViolees(*ancienne, constats);
    pr.Valide();
    return {};
  }
  if (!ancienne) {
    // The header looked cut short: let SQLite read what it can all the same.
    ancienne = std::make_shared<BaseEtat>();
    ancienne->chemin = lue;
    injection::InstalleVfs();
    if (sqlite3_open_v2(lue.c_str(), &ancienne->db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      ancienne->Ferme();
      throw ErreurMoteur(err::BaseEndommagee, {chemin});
    }
    sqlite3_extended_result_codes(ancienne->db, 1);
    veille::Installe(ancienne->db);
    // SQLite refuses outright a file shorter than its header says unless the schema is writable;
    // on this read-only connection that only lets it read up to the real end of the file.
    sqlite3_exec(ancienne->db, "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
  }
  if (const std::string troncature =
          taillePages ? sauvetage::TroncatureSousLEnTete(chemin, taillePages) : sauvetage::Troncature(chemin);
      !troncature.empty())
    constats.push_back("#ALERT# Base de données '" + Affichable(chemin) + "' : " + troncature +
                       " ; ses pages entières sont sauvées.");
  // Definitions SQLite can no longer read are read from the pages.
  std::optional<reconstitution::Image> image;
  if (!reconstitution::DefinitionsLisibles(ancienne->db)) image = reconstitution::Reconstitue(lue, constats);
  if (!verrou) verrou.emplace(cible, constats);
  std::string temporaire = verrou->Nouvelle();
  std::string gardee;
  try {
    std::string version = "4.0";
    const std::size_t constatsAvant = constats.size();
    {
      veille::Interruptible interruptible;
      Database nouvelle = DBEngine::CreateDatabase(temporaire, version);
      Recree(image ? *image->base : *ancienne, *nouvelle.etat(), constats, image ? &image->racines : nullptr);
      nouvelle.Close();
    }
    // The salvage tells every record or value it could not keep as it was: without a word from
    // it, the damage cost nothing, and that is said too.
    const bool pertes = constats.size() > constatsAvant;
    if (!pertes)
      constats.push_back(
          "#ALERT# La base était endommagée : elle a été reconstruite, sans perte d'enregistrement ni de valeur.");
    ancienne->Ferme();
    GardeDroits(cible, temporaire);
    Synchronise(temporaire, false);
    // A program still reading the old file would go on with it: the file is in use.
    if (tenue->AutreProcessus() || !tenue->Inchangee()) throw ErreurMoteur(err::BaseEnUtilisation, {chemin});
    SuiteTenue suite(cible, temporaire);
    // A header made again is a guess at what the pages are: the file as it was is kept too.
    if ((pertes || !redressee.chemin.empty()) && garde == GardeEndommagee::Oui)
      gardee = GardeFichierEndommage(cible, constats);
    if (::rename(temporaire.c_str(), cible.c_str()) != 0) throw ErreurMoteur(err::AccesRefuse, {chemin});
    suite.Valide();
    Synchronise(Dossier(cible), true);
  } catch (...) {
    ::unlink(temporaire.c_str());
    ::unlink((temporaire + "-journal").c_str());
    // The damaged file is still in its place: a second name for it has no use.
    if (!gardee.empty()) ::unlink(gardee.c_str());
    throw;
  }
  if (!gardee.empty())
    constats.push_back("#ALERT# La base endommagée est gardée telle quelle sous '" + gardee +
                       "' : d'autres outils pourront peut-être en tirer davantage.");
  return gardee;
}

}  // namespace

}  // namespace moteur

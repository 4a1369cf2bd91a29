// Descriptions of databases: a database printed as JSON, and a database built from one.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "Outil.h"
#include "moteur/Noms.h"
#include "texte/Texte.h"

namespace outil {

using moteur::Database;
using moteur::DBEngine;
using moteur::ErreurMoteur;
using moteur::Field;
using moteur::Properties;
using moteur::Recordset;
using moteur::TableDef;
using moteur::Valeur;

namespace {

// Properties every object has, which the description gives under keys of their own.
const std::vector<std::string> IntegreesBase{"Name", "Version"};
const std::vector<std::string> IntegreesTable{"Name", "Attributes"};
const std::vector<std::string> IntegreesChamp{
    "Name", "Type", "Size", "Attributes", "DefaultValue", "Required", "AllowZeroLength", "OrdinalPosition"};

std::string Cite(const std::string& nom) { return "'" + nom + "'"; }

// ---- Reading a database ----

Json DecritProprietes(const Properties& proprietes, const std::vector<std::string>& integrees) {
  Json liste = Json::array();
  for (int i = 0; i < proprietes.Count(); ++i) {
    moteur::Property p = proprietes[i];
    std::string nom = p.Name();
    if (std::find(integrees.begin(), integrees.end(), nom) != integrees.end()) continue;
    int type = p.Type();
    liste.push_back(Json{{"nom", nom}, {"type", type}, {"valeur", EcritValeur(p.Value(), type)}});
  }
  return liste;
}

std::vector<Field> ChampsDansLOrdre(const TableDef& table) {
  std::vector<Field> champs;
  auto collection = table.Fields();
  for (int i = 0; i < collection.Count(); ++i) champs.push_back(collection[i]);
  std::stable_sort(champs.begin(), champs.end(),
                   [](const Field& a, const Field& b) { return a.OrdinalPosition() < b.OrdinalPosition(); });
  return champs;
}

Json DecritChamp(const Field& champ) {
  Json c;
  c["nom"] = champ.Name();
  c["type"] = champ.Type();
  if (champ.Type() == moteur::dbText) c["taille"] = champ.Size();
  c["attributs"] = champ.Attributes();
  c["requis"] = champ.Required();
  c["chaineVide"] = champ.AllowZeroLength();
  if (!champ.DefaultValue().empty()) c["defaut"] = champ.DefaultValue();
  c["ordinal"] = champ.OrdinalPosition();
  Json proprietes = DecritProprietes(champ.Properties(), IntegreesChamp);
  if (!proprietes.empty()) c["proprietes"] = std::move(proprietes);
  return c;
}

// The text SQLite holds of a value its type cannot read; bytes that form no text, escaped (a
// description is text, and the engine hands back none that is no UTF-8).
std::string LectureBrute(Recordset& rs, int colonne, int colonneBrute) {
  try {
    return rs[colonneBrute].Value().EnTexte();
  } catch (const ErreurMoteur& erreur) {
    if (erreur.Number() != moteur::err::FormatNonReconnu) throw;
    return moteur::Affichable(rs[colonne].ValeurStockee().EnTexte());
  }
}

// Each field is read twice: as its type, and as the text SQLite holds, which is all that can be
// shown of a value the type cannot read. One statement keeps both readings on the same record.
Json DecritEnregistrements(Database& base, const std::string& table, const std::vector<Field>& champs) {
  std::string typees, brutes;
  std::vector<int> colonneBrute(champs.size(), -1);
  int suivante = static_cast<int>(champs.size());
  for (std::size_t i = 0; i < champs.size(); ++i) {
    std::string nom = texte::CiteCrochets(champs[i].Name());
    typees += (i ? ", " : "") + nom;
    // Binary fields read anything: no second reading, which would copy every blob once more.
    int type = champs[i].Type();
    if (type == moteur::dbBinary || type == moteur::dbLongBinary) continue;
    brutes += ", CStr(" + nom + ") AS [Brut" + std::to_string(i) + "]";
    colonneBrute[i] = suivante++;
  }
  Recordset rs =
      base.OpenRecordset("SELECT " + typees + brutes + " FROM " + texte::CiteCrochets(table), moteur::dbOpenSnapshot);
  Json enregistrements = Json::array();
  for (; !rs.Eof(); rs.MoveNext()) {
    Json e = Json::object();
    for (std::size_t i = 0; i < champs.size(); ++i) {
      const std::string nom = champs[i].Name();
      try {
        e[nom] = EcritValeur(rs[static_cast<int>(i)].Value(), champs[i].Type());
      } catch (const ErreurMoteur& erreur) {
        if (erreur.Number() != moteur::err::FormatNonReconnu || colonneBrute[i] < 0) throw;
        e[nom] = EcritIllisible(LectureBrute(rs, static_cast<int>(i), colonneBrute[i]));
      }
    }
    enregistrements.push_back(std::move(e));
  }
  rs.Close();
  return enregistrements;
}

Json DecritTable(Database& base, const TableDef& table, bool avecDonnees) {
  Json t;
  t["nom"] = table.Name();
  t["attributs"] = table.Attributes();
  Json proprietes = DecritProprietes(table.Properties(), IntegreesTable);
  if (!proprietes.empty()) t["proprietes"] = std::move(proprietes);
  std::vector<Field> champs = ChampsDansLOrdre(table);
  t["champs"] = Json::array();
  for (const auto& champ : champs)
    t["champs"].push_back(Dans("champ " + Cite(champ.Name()), [&] { return DecritChamp(champ); }));
  t["index"] = Json::array();
  auto index = table.Indexes();
  for (int i = 0; i < index.Count(); ++i) {
    moteur::Index x = index[i];
    t["index"].push_back(Json{{"nom", x.Name()},
                              {"champs", x.Fields()},
                              {"unique", x.Unique()},
                              {"primaire", x.Primary()},
                              {"ignoreNuls", x.IgnoreNulls()}});
  }
  if (avecDonnees) {
    Json enregistrements = DecritEnregistrements(base, table.Name(), champs);
    if (!enregistrements.empty()) t["enregistrements"] = std::move(enregistrements);
  }
  return t;
}

Json DecritRelation(const moteur::Relation& relation) {
  Json r;
  r["nom"] = relation.Name();
  r["table"] = relation.Table();
  r["tableEtrangere"] = relation.ForeignTable();
  r["attributs"] = relation.Attributes();
  r["champs"] = Json::array();
  auto champs = relation.Fields();
  for (int i = 0; i < champs.Count(); ++i)
    r["champs"].push_back(Json{{"nom", champs[i].Name()}, {"nomEtranger", champs[i].ForeignName()}});
  return r;
}

// ---- Reading a description ----

// Messages name the kind of object ("un champ"); Dans adds which one and where it stands.
void VerifieObjet(const Json& objet, const std::string& quoi, std::initializer_list<std::string_view> cles) {
  if (!objet.is_object()) ErreurFormat(quoi + " doit être un objet JSON, pas " + objet.dump());
  for (const auto& [cle, valeur] : objet.items())
    if (std::find(cles.begin(), cles.end(), cle) == cles.end())
      ErreurFormat("clé \"" + cle + "\" inconnue dans " + quoi);
}

const Json* Cle(const Json& objet, const char* cle) {
  auto it = objet.find(cle);
  return it == objet.end() ? nullptr : &*it;
}

std::string LitTexte(const Json& objet, const char* cle, const std::string& quoi) {
  const Json* v = Cle(objet, cle);
  if (!v) ErreurFormat("clé \"" + std::string(cle) + "\" manquante dans " + quoi);
  if (!v->is_string()) ErreurFormat("\"" + std::string(cle) + "\" doit être un texte dans " + quoi);
  return v->get<std::string>();
}

std::string LitTexteFacultatif(const Json& objet, const char* cle, const std::string& quoi, const std::string& defaut) {
  return Cle(objet, cle) ? LitTexte(objet, cle, quoi) : defaut;
}

long long LitEntier(const Json& objet, const char* cle, const std::string& quoi, long long defaut) {
  const Json* v = Cle(objet, cle);
  if (!v) return defaut;
  if (!v->is_number_integer()) ErreurFormat("\"" + std::string(cle) + "\" doit être un nombre entier dans " + quoi);
  return v->get<long long>();
}

bool LitBooleen(const Json& objet, const char* cle, const std::string& quoi, bool defaut) {
  const Json* v = Cle(objet, cle);
  if (!v) return defaut;
  if (!v->is_boolean()) ErreurFormat("\"" + std::string(cle) + "\" doit valoir true ou false dans " + quoi);
  return v->get<bool>();
}

const Json& LitTableau(const Json& objet, const char* cle, const std::string& quoi) {
  static const Json vide = Json::array();
  const Json* v = Cle(objet, cle);
  if (!v) return vide;
  if (!v->is_array()) ErreurFormat("\"" + std::string(cle) + "\" doit être un tableau dans " + quoi);
  return *v;
}

template <class Proprietaire>
void AjouteProprietes(const Proprietaire& objet, Properties proprietes, const Json& liste) {
  for (std::size_t i = 0; i < liste.size(); ++i) {
    const Json& p = liste[i];
    DansAuRang("propriété", i + 1, [&] {
      VerifieObjet(p, "une propriété", {"nom", "type", "valeur"});
      std::string nom = LitTexte(p, "nom", "une propriété");
      Dans("propriété " + Cite(nom), [&] {
        int type = Cle(p, "type") ? LitType(p["type"]) : moteur::dbText;
        if (!Cle(p, "valeur")) ErreurFormat("clé \"valeur\" manquante dans une propriété");
        proprietes.Append(objet.CreateProperty(nom, type, LitValeur(p["valeur"], type)));
      });
    });
  }
}

void AjouteChamp(const TableDef& table, const Json& c, int rang) {
  VerifieObjet(c, "un champ",
               {"nom", "type", "taille", "attributs", "requis", "chaineVide", "defaut", "ordinal", "proprietes"});
  std::string nom = LitTexte(c, "nom", "un champ");
  Dans("champ " + Cite(nom), [&] {
    if (!Cle(c, "type")) ErreurFormat("clé \"type\" manquante dans un champ");
    int type = LitType(c["type"]);
    long long taille = LitEntier(c, "taille", "un champ", 0);
    if (type != moteur::dbText && Cle(c, "taille") && taille != moteur::TailleFixe(type))
      throw ErreurOutil(3259, moteur::DescriptionErreur(3259) + " Un champ " + NomType(type) +
                                  " a une taille fixe de " + std::to_string(moteur::TailleFixe(type)) + ", pas " +
                                  std::to_string(taille) + ".");
    if (type == moteur::dbText && Cle(c, "taille") && (taille < 1 || taille > moteur::TailleTexteMax))
      throw ErreurOutil(3259, moteur::DescriptionErreur(3259) + " Un champ Texte a une taille de 1 à " +
                                  std::to_string(moteur::TailleTexteMax) + ", pas " + std::to_string(taille) + ".");
    Field champ = table.CreateField(nom, type, type == moteur::dbText ? static_cast<int>(taille) : 0);
    champ.SetAttributes(LitEntier(c, "attributs", "un champ", 0));
    champ.SetRequired(LitBooleen(c, "requis", "un champ", false));
    champ.SetAllowZeroLength(LitBooleen(c, "chaineVide", "un champ", false));
    std::string defaut = LitTexteFacultatif(c, "defaut", "un champ", {});
    if (!defaut.empty()) champ.SetDefaultValue(defaut);
    // Without an ordinal, a field takes its rank in the list, which is where the user put it.
    champ.SetOrdinalPosition(static_cast<int>(LitEntier(c, "ordinal", "un champ", rang)));
    AjouteProprietes(champ, champ.Properties(), LitTableau(c, "proprietes", "un champ"));
    table.Fields().Append(champ);
  });
}

void CreeIndex(const TableDef& table, const Json& x) {
  VerifieObjet(x, "un index", {"nom", "champs", "unique", "primaire", "ignoreNuls"});
  std::string nom = LitTexte(x, "nom", "un index");
  Dans("index " + Cite(nom), [&] {
    moteur::Index index = table.CreateIndex(nom);
    index.SetFields(LitTexte(x, "champs", "un index"));
    index.SetUnique(LitBooleen(x, "unique", "un index", false));
    index.SetPrimary(LitBooleen(x, "primaire", "un index", false));
    index.SetIgnoreNulls(LitBooleen(x, "ignoreNuls", "un index", false));
    table.Indexes().Append(index);
  });
}

TableDef CreeTable(Database& base, const Json& t) {
  VerifieObjet(t, "une table",
               {"nom", "attributs", "proprietes", "champs", "index", "enregistrements", "enregistrementsDefectueux"});
  std::string nom = LitTexte(t, "nom", "une table");
  return Dans("table " + Cite(nom), [&] {
    TableDef table = base.CreateTableDef(nom, LitEntier(t, "attributs", "une table", 0));
    const Json& champs = LitTableau(t, "champs", "une table");
    for (std::size_t i = 0; i < champs.size(); ++i)
      DansAuRang("champ", i + 1, [&] { AjouteChamp(table, champs[i], static_cast<int>(i)); });
    const Json& index = LitTableau(t, "index", "une table");
    for (std::size_t i = 0; i < index.size(); ++i) DansAuRang("index", i + 1, [&] { CreeIndex(table, index[i]); });
    AjouteProprietes(table, table.Properties(), LitTableau(t, "proprietes", "une table"));
    base.TableDefs().Append(table);
    return table;
  });
}

int TypeDuChamp(const TableDef& table, const std::string& nom) { return table.Fields()[nom].Type(); }

// Past every rule: the record is stored as the description gives it.
void EcritDefectueux(Database& base, const TableDef& table, const Json& enregistrement) {
  std::vector<std::pair<std::string, Valeur>> valeurs;
  for (const auto& [nom, valeur] : enregistrement.items())
    Dans("champ " + Cite(nom), [&] { valeurs.emplace_back(nom, LitValeurBrute(valeur, TypeDuChamp(table, nom))); });
  moteur::EcritSansControle(base, table.Name(), valeurs);
}

// The rules of a table that a description of an existing database may show broken: its records
// were written past them, and the same records must come back from the same description.
bool RegleDeTable(int numero) {
  using namespace moteur::err;
  return numero == ValeurTropLongue || numero == ChampRequis || numero == ChaineVideInterdite || numero == CleNulle ||
         numero == DepassementNumerique;
}

// A record goes through the engine's conversions and rules; when only a rule of the table
// refuses it, it is written as converted, past the rules, and the refusal is returned.
std::optional<moteur::Resultat> EcritEnregistrement(Database& base, const TableDef& table, Recordset& rs,
                                                    const Json& e) {
  std::vector<std::pair<std::string, Valeur>> telQuel;
  std::optional<moteur::Resultat> refus;
  rs.AddNew();
  try {
    for (const auto& [cle, valeur] : e.items()) {
      Dans("champ " + Cite(cle), [&] {
        Field champ = table.Fields()[cle];
        // The catalog's spelling: the record's key may differ from it in case or accents.
        std::string nom = champ.Name();
        auto affectation = moteur::Essaie([&] { rs[nom].SetValue(LitValeur(valeur, champ.Type())); });
        if (affectation) {
          telQuel.emplace_back(nom, rs[nom].Value());
        } else if (RegleDeTable(affectation.Number)) {
          if (!refus) refus = affectation;
          telQuel.emplace_back(nom, LitValeurBrute(valeur, champ.Type()));
        } else {
          throw ErreurMoteur(affectation.Number, affectation.Description);
        }
      });
    }
    if (!refus) {
      auto ecriture = moteur::Essaie([&] { rs.Update(); });
      if (ecriture) return std::nullopt;
      if (!RegleDeTable(ecriture.Number)) throw ErreurMoteur(ecriture.Number, ecriture.Description);
      refus = ecriture;
    }
    // Fields the record leaves out take their default, as they would have on a normal write.
    auto champs = table.Fields();
    for (int i = 0; i < champs.Count(); ++i) {
      Field f = champs[i];
      bool donne = std::any_of(telQuel.begin(), telQuel.end(), [&](const auto& v) { return v.first == f.Name(); });
      if (!donne && !f.DefaultValue().empty()) telQuel.emplace_back(f.Name(), rs[f.Name()].Value());
    }
    rs.CancelUpdate();
  } catch (...) {
    if (rs.EditMode() != 0) rs.CancelUpdate();
    throw;
  }
  moteur::EcritSansControle(base, table.Name(), telQuel);
  return refus;
}

void EcritEnregistrements(Database& base, const TableDef& table, const Json& t, std::ostream& avertissements) {
  const Json& enregistrements = LitTableau(t, "enregistrements", "une table");
  const Json& defectueux = LitTableau(t, "enregistrementsDefectueux", "une table");
  if (enregistrements.empty() && defectueux.empty()) return;
  Recordset rs = base.OpenRecordset(table.Name(), moteur::dbOpenTable);
  for (std::size_t i = 0; i < enregistrements.size(); ++i) {
    const Json& e = enregistrements[i];
    std::string ou = "enregistrement " + std::to_string(i + 1);
    Dans(ou, [&] {
      if (!e.is_object()) ErreurFormat("un enregistrement doit être un objet JSON, pas " + e.dump());
      // A value the type cannot read can only have been written past the rules: so it is again.
      if (std::any_of(e.begin(), e.end(), [](const Json& v) { return EstIllisible(v); })) {
        EcritDefectueux(base, table, e);
        return;
      }
      if (auto refus = EcritEnregistrement(base, table, rs, e))
        avertissements << "Attention : table " << Cite(table.Name()) << ", " << ou << " écrit tel quel malgré l'erreur "
                       << refus->Number << " : " << refus->Description << '\n';
    });
  }
  rs.Close();
  for (std::size_t i = 0; i < defectueux.size(); ++i)
    Dans("enregistrement défectueux " + std::to_string(i + 1), [&] {
      if (!defectueux[i].is_object())
        ErreurFormat("un enregistrement doit être un objet JSON, pas " + defectueux[i].dump());
      EcritDefectueux(base, table, defectueux[i]);
    });
}

void CreeRelation(Database& base, const Json& r) {
  VerifieObjet(r, "une relation", {"nom", "table", "tableEtrangere", "attributs", "champs"});
  std::string nom = LitTexte(r, "nom", "une relation");
  Dans("relation " + Cite(nom), [&] {
    moteur::Relation relation =
        base.CreateRelation(nom, LitTexte(r, "table", "une relation"), LitTexte(r, "tableEtrangere", "une relation"),
                            LitEntier(r, "attributs", "une relation", 0));
    for (const auto& c : LitTableau(r, "champs", "une relation")) {
      VerifieObjet(c, "un champ de relation", {"nom", "nomEtranger"});
      std::string champ = LitTexte(c, "nom", "un champ de relation");
      Field f = relation.CreateField(champ);
      f.SetForeignName(LitTexteFacultatif(c, "nomEtranger", "un champ de relation", champ));
      relation.Fields().Append(f);
    }
    base.Relations().Append(relation);
  });
}

void RemplitBase(Database& base, const Json& d, std::ostream& avertissements) {
  Dans("propriétés de la base",
       [&] { AjouteProprietes(base, base.Properties(), LitTableau(d, "proprietes", "la description")); });
  const Json& tables = LitTableau(d, "tables", "la description");
  std::vector<TableDef> creees;
  for (std::size_t i = 0; i < tables.size(); ++i)
    creees.push_back(DansAuRang("table", i + 1, [&] { return CreeTable(base, tables[i]); }));
  // Records once every table exists, relations once every record is in: a relation checks the
  // records already there, and records never wait for a table not yet made.
  for (std::size_t i = 0; i < tables.size(); ++i)
    Dans("table " + Cite(creees[i].Name()), [&] { EcritEnregistrements(base, creees[i], tables[i], avertissements); });
  const Json& relations = LitTableau(d, "relations", "la description");
  for (std::size_t i = 0; i < relations.size(); ++i)
    DansAuRang("relation", i + 1, [&] { CreeRelation(base, relations[i]); });
}

}  // namespace

Json LitFichierDescription(const std::string& chemin) {
  std::error_code ec;
  if (!std::filesystem::exists(chemin, ec))
    throw ErreurOutil(moteur::err::FichierIntrouvable,
                      moteur::DescriptionErreur(moteur::err::FichierIntrouvable, {chemin}));
  // A folder or a device is there, but holds no description.
  if (!std::filesystem::is_regular_file(chemin, ec))
    throw ErreurOutil(ErreurFormatDescription, "'" + chemin + "' n'est pas un fichier : une description JSON est attendue.");
  std::ifstream fichier(chemin, std::ios::binary);
  if (!fichier)
    throw ErreurOutil(moteur::err::AccesRefuse, moteur::DescriptionErreur(moteur::err::AccesRefuse, {chemin}));
  std::ostringstream contenu;
  contenu << fichier.rdbuf();
  std::string texte = contenu.str();
  try {
    return Json::parse(texte);
  } catch (const Json::parse_error& e) {
    // The parser counts bytes; people count lines and characters.
    std::size_t fin = std::min<std::size_t>(e.byte > 0 ? e.byte - 1 : 0, texte.size());
    std::size_t ligne = 1, colonne = 1;
    for (std::size_t i = 0; i < fin; ++i) {
      if (texte[i] == '\n') {
        ++ligne;
        colonne = 1;
      } else if (!texte::EstSuiteUtf8(texte[i])) {
        ++colonne;
      }
    }
    ErreurFormat(Cite(chemin) + " n'est pas un texte JSON valide (ligne " + std::to_string(ligne) + ", colonne " +
                 std::to_string(colonne) + ").");
  }
}

Json DecritBase(Database& base, bool avecDonnees) {
  Json d;
  auto version = moteur::Essaie([&] { d["version"] = base.Version(); });
  if (!version && version.Number != moteur::err::ProprieteIntrouvable)
    throw ErreurMoteur(version.Number, version.Description);
  Json proprietes = DecritProprietes(base.Properties(), IntegreesBase);
  if (!proprietes.empty()) d["proprietes"] = std::move(proprietes);
  d["tables"] = Json::array();
  auto tables = base.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    TableDef table = tables[i];
    if (table.Attributes() & moteur::dbSystemObject) continue;
    d["tables"].push_back(Dans("table " + Cite(table.Name()), [&] { return DecritTable(base, table, avecDonnees); }));
  }
  d["relations"] = Json::array();
  auto relations = base.Relations();
  for (int i = 0; i < relations.Count(); ++i) d["relations"].push_back(DecritRelation(relations[i]));
  return d;
}

void CreeBase(const Json& d, const std::string& chemin, std::ostream& avertissements) {
  VerifieObjet(d, "la description", {"version", "proprietes", "tables", "relations"});
  std::string version = LitTexteFacultatif(d, "version", "la description", "4.0");
  if (version != "3.0" && version != "4.0")
    throw ErreurOutil(moteur::err::OperationInvalide, moteur::DescriptionErreur(moteur::err::OperationInvalide) +
                                                          " Version '" + version +
                                                          "' inconnue : '3.0' ou '4.0' attendu.");
  Database base = DBEngine::CreateDatabase(chemin, version);
  try {
    // One transaction: faster than a commit per record, and nothing half-built is ever on disk.
    DBEngine::BeginTrans();
    RemplitBase(base, d, avertissements);
    DBEngine::CommitTrans();
    base.Close();
  } catch (...) {
    // The file is ours, made a moment ago: leave nothing behind that looks like a database.
    if (DBEngine::NiveauTransaction() > 0) moteur::Essaie([] { DBEngine::Rollback(); });
    moteur::Essaie([&] { base.Close(); });
    std::error_code ec;
    std::filesystem::remove(chemin, ec);
    std::filesystem::remove(chemin + "-journal", ec);
    throw;
  }
}

}  // namespace outil

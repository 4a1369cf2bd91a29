// Tables built for a test in a few lines:
//
//   CreeTable(base, "Clients", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 20, true}},
//             {{"PrimaryKey", "+Id", true, true}});
//
// What a column does not say keeps the engine's default for a new field.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "moteur/Moteur.h"

namespace utireorg::tests {

// A property of the software's data dictionary, on a table or a field.
struct Propriete {
  std::string nom;
  int type = moteur::dbText;
  moteur::Valeur valeur;
};

struct Colonne {
  std::string nom;
  int type = moteur::dbLong;
  int taille = 0;
  bool requis = false;
  std::string defaut{};
  bool chaineVide = false;  // text fields only: whether "" is accepted
  long long attributs = 0;
  std::vector<Propriete> proprietes{};
};

struct IndexTable {
  std::string nom, champs;
  bool unique = false, primaire = false;
};

// The table, appended to the database with its fields in the order given, then its indexes and
// the dictionary properties of its fields and of itself.
inline moteur::TableDef CreeTable(moteur::Database& base, const std::string& nom, const std::vector<Colonne>& colonnes,
                                  const std::vector<IndexTable>& index = {},
                                  const std::vector<Propriete>& proprietes = {}, long long attributs = 0) {
  moteur::TableDef td = base.CreateTableDef(nom, attributs);
  int ordinal = 0;
  for (const auto& c : colonnes) {
    moteur::Field f = td.CreateField(c.nom, c.type, c.taille);
    f.SetOrdinalPosition(ordinal++);
    if (c.attributs) f.SetAttributes(c.attributs);
    if (!c.defaut.empty()) f.SetDefaultValue(c.defaut);
    f.SetRequired(c.requis);
    if (moteur::EstTypeTexte(c.type)) f.SetAllowZeroLength(c.chaineVide);
    td.Fields().Append(f);
  }
  for (const auto& i : index) {
    moteur::Index x = td.CreateIndex(i.nom);
    x.SetFields(i.champs);
    x.SetUnique(i.unique);
    x.SetPrimary(i.primaire);
    td.Indexes().Append(x);
  }
  base.TableDefs().Append(td);
  for (const auto& c : colonnes)
    for (const auto& p : c.proprietes) {
      moteur::Field f = td.Fields()[c.nom];
      f.Properties().Append(f.CreateProperty(p.nom, p.type, p.valeur));
    }
  for (const auto& p : proprietes) td.Properties().Append(td.CreateProperty(p.nom, p.type, p.valeur));
  return td;
}

}  // namespace utireorg::tests

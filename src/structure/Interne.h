// What the files of the structure verification share and nobody else needs.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/InterfaceFenetre.h"
#include "moteur/Moteur.h"

namespace utireorg::structure {

// Dictionary properties of the software.
inline constexpr const char* NomClair = "NomClair";
inline constexpr const char* VekFormat = "VEKFormat";
inline constexpr const char* Priorite = "Priorite";
inline constexpr const char* Supplement = "Supplement";
inline constexpr const char* FormatSaisie = "FormatSaisie";

// Progress notice to a host application; this program has none to tell.
inline void SignaleAvancement(const std::string&) {}

inline void AvanceProgression(InterfaceFenetre& fenetre) { fenetre.ProgressValeur(fenetre.ProgressValeur() + 1); }

inline bool EstSysteme(long long attributs) { return (attributs & moteur::dbSystemObject) != 0; }

// The file of that name in the folder, its case aside: the exact name when it exists, else the
// first match in name order; empty when there is none.
std::string FichierSansCasse(const std::string& dossier, const std::string& nom);

// The text of the journal line of a primary or unique index the data's duplicates refuse.
std::string TexteDoublons(const std::string& table, const std::string& index);

// A relation as the database holds it, kept to be appended again once its table is rebuilt.
struct RelationGardee {
  std::string nom, table, tableEtrangere;
  long long attributs = 0;
  std::vector<std::pair<std::string, std::string>> champs;  // name, foreign name
};

// The relations of the database in which the table takes part, on either side.
std::vector<RelationGardee> RelationsDeLaTable(moteur::Database& base, const std::string& table);
// Appends the relation to the database again; the engine's refusal when it cannot be.
moteur::Resultat RetablitRelation(moteur::Database& base, const RelationGardee& relation);

// The fields that tell a record of the table from the others in the journal: those of its primary
// key, else of its first unique index; none when it has neither.
std::vector<std::string> ChampsCle(const moteur::TableDef& table);
// "Id=1" for a record of a table keyed on Id, "n° 3" for the third record (its position) of a
// table without a key.
std::string CleEnregistrement(moteur::Recordset& rs, const std::vector<std::string>& cle, long long position);

// A handle on no database at all must never reach the engine, which would not survive it.
inline bool Ouverte(const moteur::Database& base) { return base.etat() && base.EstOuverte(); }

}  // namespace utireorg::structure

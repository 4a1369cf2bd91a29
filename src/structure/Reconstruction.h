// A table whose fields differ from the model's in what the engine cannot change (type, size,
// attributes) is rebuilt: a "Temp_" copy with the model's fields takes its records and then
// its place.
#pragma once

#include <string>

#include "common/EtatReorganisation.h"
#include "moteur/Moteur.h"

namespace utireorg {

inline constexpr const char* PrefixeReconstruction = "Temp_";

// A new, unappended field of "table" with the characteristics of "source": name, type, size,
// attributes, default value, required, and AllowZeroLength for Text and Memo. With
// "toutOuRien" the first refusal throws; without it, each refused characteristic is left out.
moteur::Field CreeChampSemblable(const moteur::TableDef& table, const moteur::Field& source, bool toutOuRien);

// "#ERR# Table : T, le champ 'F' n'est pas correct."
void SignaleReconstructionEchouee(EtatReorganisation& etat, const std::string& table, const std::string& champ);

// Rebuilds "table" of the target from the model definition and the existing one. True when
// the table now has the model's fields and the former records; false when it failed, after
// its journal line (the target may then hold a "Temp_" table).
bool ReconstruitTable(EtatReorganisation& etat, moteur::Database& cible, const std::string& table,
                      const moteur::TableDef& modele, const moteur::TableDef& existante);

}  // namespace utireorg

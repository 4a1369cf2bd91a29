// Around the structure verification: the purge of leftover temporary tables, the tables to
// leave out and the copy switches, and the table properties that may be carried over.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/EtatReorganisation.h"
#include "moteur/Moteur.h"

namespace utireorg {

// The reference database of the purge: the software's own file, NomLogiciel + ".MDB", in the
// folder of the model database typed in the window. When no file has exactly that name, the
// one whose name differs only by case. Empty when there is none.
std::string CheminBaseReference(const EtatReorganisation& etat);

// The tables to leave out and the two switches that widen what is copied, as the software
// supplies them. This program supplies nothing: no table, both switches off.
void ParametresVerifDataBase(EtatReorganisation& etat, const std::string& cheminCible, moteur::Database& modele,
                             moteur::Database& cible, bool& proprietesChampsGeneriques, bool& proprietesTable,
                             std::vector<std::string>& tablesExclues);

// The exclusion list is "@A@B@" for tables A and B, empty when none is left out.
void InitFlagVerifDataBase(EtatReorganisation& etat, const std::string& cheminCible, moteur::Database& modele,
                           moteur::Database& cible, bool& proprietesChampsGeneriques, bool& proprietesTable,
                           std::string& exclusions);

// False for the properties the engine keeps for itself or that describe one file only.
bool IsPropTableATraiter(std::string_view nomProp);

}  // namespace utireorg

// Structure verification: brings the target database up to the model's tables, fields,
// indexes, dictionary properties and relations, and purges leftover temporary tables.
#pragma once

#include <string>

#include "common/EtatReorganisation.h"

namespace utireorg {

void VerificationStructure(EtatReorganisation& etat, const std::string& cheminCible, moteur::Database& cible,
                           const std::string& libelle = {});
void EffaceTablesTemporaires(EtatReorganisation& etat);
void VerificationRelations(EtatReorganisation& etat, moteur::Database& modele, moteur::Database& cible);

}  // namespace utireorg

// Copy of the target's records into a fresh copy of the model database.
#pragma once

#include <string>

#include "common/EtatReorganisation.h"

namespace utireorg {

// Name of the copy file, beside the main database.
inline constexpr const char* NomFichierCopie = "copie_reorg.mdb";

bool TraitementCopie(EtatReorganisation& etat, moteur::Database& dbOrig, moteur::Database& dbDest);
void CopieEnregistrement(EtatReorganisation& etat, moteur::Database& source, moteur::Database& destination,
                         const std::string& nomTable);

}  // namespace utireorg

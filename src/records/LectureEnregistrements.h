// The reading pass over every record, and the record verification after error 3163.
#pragma once

#include <string>

#include "common/EtatReorganisation.h"

namespace utireorg {

bool LectureTable(EtatReorganisation& etat, moteur::Database& db, const std::string& nomBase);
long LectureEnregMove(moteur::Database& db, const std::string& nomTable);
bool VerificationEnregistrements(EtatReorganisation& etat, const std::string& chemin);

}  // namespace utireorg

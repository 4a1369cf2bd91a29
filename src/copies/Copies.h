// Working copies of the database set: the run works on copies in the temporary folder, puts
// them in place after a successful run and discards them after a failed one.
#pragma once

#include <string>
#include <string_view>

#include "common/EtatReorganisation.h"

namespace utireorg {

// Result codes of both operations.
inline constexpr int CopieReussie = 0;
inline constexpr int CopieErreur = 1;
inline constexpr int CopieDisquePlein = 2;
inline constexpr int CopieFichierUtilise = 3;

int SauvegardeBases(EtatReorganisation& etat, EnsembleBases& ensemble);
int RestaurationBases(EtatReorganisation& etat, EnsembleBases& ensemble, bool abandon = false);
// A new, empty, uniquely named file in the temporary folder, named from the first three
// characters of the prefix.
std::string NomFichierTemporaire(std::string_view prefixe);

}  // namespace utireorg

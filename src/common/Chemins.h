// Path routines: plain text with "/" as separator. Only FichierExiste looks at the disk.
#pragma once

#include <string>
#include <string_view>

namespace utireorg {

// The folder part, ending with "/". A path without any "." is taken for a folder and returned
// as it is; a folder whose name holds a "." is therefore taken for a file.
std::string Dossier(std::string_view chemin);

// The last component: what follows the last "/", or the whole path when there is none.
std::string NomFichier(std::string_view chemin);

// The path up to and including its second-to-last "/": the parent of a folder written with its
// final "/", the parent of the folder of a file; empty when the path has a single "/".
std::string DossierParent(std::string_view chemin);

// True when an entry matching the path exists and is not a folder. "*" and "?" are wildcards,
// as the users of the program write them; every other character stands for itself.
bool FichierExiste(std::string_view chemin);

}  // namespace utireorg

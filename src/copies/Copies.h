// Working copies of the database set: the run works on copies in the temporary folder, puts
// them in place after a successful run and discards them after a failed one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/EtatReorganisation.h"

namespace utireorg {

// Result codes of both operations.
inline constexpr int CopieReussie = 0;
inline constexpr int CopieErreur = 1;
inline constexpr int CopieDisquePlein = 2;
inline constexpr int CopieFichierUtilise = 3;

int SauvegardeBases(EtatReorganisation& etat, EnsembleBases& ensemble);
// With "abandon", after a failed run: the origin files are left as they are, each working copy is
// removed and each path given back its origin. A copy that could not be removed is named in the
// journal and gives CopieErreur; nothing is shown, the run's own failure being what the user is
// told.
int RestaurationBases(EtatReorganisation& etat, EnsembleBases& ensemble, bool abandon = false);
// A new, empty, uniquely named file in the temporary folder, named from the first three
// characters of the prefix after this program's own prefix ("utireorg-DBx5LAPD.mdb"), held by
// this process until LibereTemporaire removes it (see CreeTemporaireTenu).
std::string NomFichierTemporaire(std::string_view prefixe);

// Removes the temporary files that runs killed on the way left in the temporary folder and that no
// process holds any more, each named in the journal; never one of "epargnes" (the target, the
// model). Returns the paths removed.
std::vector<std::string> SupprimeCopiesAbandonnees(EtatReorganisation& etat, const std::vector<std::string>& epargnes);

// A Jet file is only ever read by this program: when a database of the engine is about to take
// its place at an origin path, the Jet file is first kept beside it, so that the user's own file
// is never lost.

// What became of the file at an origin path when a processed file took its place.
struct ConservationJet {
  std::string format;     // "Jet 3.0" or "Jet 4.0"; empty when the origin was no Jet file
  std::string conservee;  // where the Jet file was kept; empty when it was not
  bool echec = false;     // it could not be kept, and so nothing was replaced
};

// Kept names: "Compta.mdb" gives "Compta.jet.mdb" at rank 1, then "Compta.jet.2.mdb",
// "Compta.jet.3.mdb"… A name without extension is given ".mdb".
std::string NomConservationJet(const std::string& origine, int rang = 1);

// Copies the file beside itself under the first kept name that is free, with its access rights
// and dates, and returns that name. The copy is whole before the name appears, and an existing
// file is never overwritten. A failure (61 disk full, 70 refused…) is thrown and leaves nothing.
std::string ConserveFichierJet(const std::string& origine);

// Puts the processed file in place of the origin file in one step (RemplaceFichier). When the
// origin is a Jet file and the processed one is not, the origin is kept first: if it cannot be,
// nothing is replaced; if the replacement then fails, the kept copy is removed again, since the
// origin is still there. Failures are thrown; "compte" tells what happened.
void RemplaceOrigine(const std::string& traitee, const std::string& origine, ConservationJet& compte);

// The journal's lines for a kept original and for one that could not be kept.
std::string LigneConservationJet(const ConservationJet& compte);
std::string LigneEchecConservationJet(const ConservationJet& compte, const std::string& origine);

// The journal's line for a working copy that could not be removed: it holds the user's data, and
// no later run would remove it.
std::string LigneCopieRestee(const std::string& copie, const std::string& origine);

}  // namespace utireorg

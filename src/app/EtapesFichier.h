// The stages that act on the database file itself: repair, then compaction (which converts
// the format when the run asks for it). Both read and write the run state; a failure they
// handle sets etat.echec (and etat.disquePlein) and returns, and the driver then goes to its
// end. A failure of the copy-back after compaction is thrown for the driver's main handler.
#pragma once

#include <functional>
#include <string>

#include "common/EtatReorganisation.h"

namespace utireorg {

void EtapeReparation(EtatReorganisation& etat);
void EtapeCompactage(EtatReorganisation& etat);

// The engine operations the two stages call. The tests replace them to make one fail on cue;
// an empty member stands for the engine's own operation.
struct OperationsFichier {
  std::function<void(const std::string& chemin)> repare;
  std::function<void(const std::string& source, const std::string& destination, const std::string& locale,
                     int options)>
      compacte;
};
void DefinitOperationsFichier(OperationsFichier operations);

}  // namespace utireorg

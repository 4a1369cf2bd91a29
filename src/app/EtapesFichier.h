// The stages that act on the database file itself: repair, then compaction (which converts
// the format when the run asks for it). Both read and write the run state; a failure they
// handle sets etat.echec (and etat.disquePlein) and returns, and the driver then goes to its
// end. A failure of the copy-back after compaction is thrown for the driver's main handler.
#pragma once

#include "common/EtatReorganisation.h"

namespace utireorg {

void EtapeReparation(EtatReorganisation& etat);
void EtapeCompactage(EtatReorganisation& etat);

}  // namespace utireorg

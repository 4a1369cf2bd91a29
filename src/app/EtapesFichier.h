// The stages that act on the database file itself: repair, then compaction (which converts
// the format when the run asks for it, and first turns a Jet file into a file of the engine,
// since every later stage writes into it and a Jet file is only ever read). Both read and
// write the run state; a failure they handle sets etat.echec (and etat.disquePlein) and
// returns, and the driver then goes to its end. A failure of the copy-back after compaction is
// thrown for the driver's main handler.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/EtatReorganisation.h"

namespace utireorg {

void EtapeReparation(EtatReorganisation& etat);
void EtapeCompactage(EtatReorganisation& etat);

// The engine operations the stages call. The tests replace them to make one fail on cue; an
// empty member stands for the engine's own operation.
struct OperationsFichier {
  std::function<void(const std::string& chemin)> repare;
  std::function<void(const std::string& source, const std::string& destination, const std::string& locale,
                     int options)>
      compacte;
  std::function<void(const std::string& source, const std::string& destination, const std::string& version)>
      convertit;
};
void DefinitOperationsFichier(OperationsFichier operations);

// A Jet file converted to a database of the engine, every value kept as the file holds it; the
// version is "3.0" or "4.0". The destination must not exist.
void ConvertitBaseJet(const std::string& source, const std::string& destination, const std::string& version);
// The same; what the reading of a damaged Jet file left out goes to `constats`, one journal line
// each.
void ConvertitBaseJet(const std::string& source, const std::string& destination, const std::string& version,
                      std::vector<std::string>& constats);
// The version a Jet file converts to when the run names none: its own.
std::string VersionJet(const std::string& chemin);

}  // namespace utireorg

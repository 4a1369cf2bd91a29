// What a run did, counted by the stages as they go: the report of a run without a screen gives
// these figures to the scripts that watch it, rather than leaving them to read the journal.
#pragma once

#include <map>
#include <string>

namespace utireorg {

// The records of one table.
struct ComptesTable {
  long lus = 0;        // read by the reading pass
  long corriges = 0;   // defective records rewritten by the verification after error 3163
  long supprimes = 0;  // defective records the verification had to delete
  long copies = 0;     // copied into the copy of the model
  long refuses = 0;    // left out of that copy by the model's keys or rules
};

struct CompteursRun {
  std::map<std::string, ComptesTable> tables;  // by table name
  long tablesCreees = 0;
  long tablesReconstruites = 0;
  long champsCrees = 0;
  long indexCrees = 0;         // created, or deleted and created again as the model has it
  long relationsCreees = 0;    // the model's relations, rebuilt in the target
  long valeursModifiees = 0;   // values a table rebuild had to change to fit their new field
  long tablesPurgees = 0;

  ComptesTable& Table(const std::string& nom) { return tables[nom]; }
};

}  // namespace utireorg

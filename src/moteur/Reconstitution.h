// The definitions of a file whose schema or catalog SQLite can no longer read.
//
// SQLite refuses a whole file once one page of its schema is unreadable, and a whole catalog table
// once one of its pages is; the records of every other page are still there. The schema's rows and
// the catalog's are then read from the pages, and gathered into a database in memory that holds
// the file's tables and indexes, empty, beside the catalog rows that could be read. A catalog row
// that was lost is made again from what the file still says of it: the table's SQL text, its rule
// triggers, the other catalog tables.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "moteur/Interne.h"
#include "moteur/Sauvetage.h"

namespace moteur::reconstitution {

struct Image {
  std::shared_ptr<BaseEtat> base;                // in memory; its path is the damaged file's
  std::map<std::string, std::uint32_t> racines;  // each tree's root page in the file, by folded name
};

// The classes of the columns of one of the catalog's own tables (or of SQLite's table of the
// counters), as its rows hold them; empty for any other table. A catalog table whose root was lost claims by this shape
// the leaves that are its own, which no table of the user's may then take for its records.
std::vector<sauvetage::Classe> FormeDuCatalogue(sqlite3* db, const std::string& table);

// The classes of the columns of SQLite's own schema table: type, name, table, root page, text.
std::vector<sauvetage::Classe> FormeDuSchema();

// The mark the file's header gives, as SQLite reads it (0 when the header cannot be read).
long long IdentifiantApplication(const std::string& chemin);

// Whether SQLite reads the file's schema and the whole of its catalog.
bool DefinitionsLisibles(sqlite3* db);

// Reads what the pages hold of the schema and of the catalog; one journal line in `constats` for
// each thing made again or lost. Throws 3049 when not even the first page can be read.
Image Reconstitue(const std::string& chemin, std::vector<std::string>& constats);

}  // namespace moteur::reconstitution

// Writing into a database as another program would: plain SQLite, without the engine's functions
// that its rules call (each call reads as "let it through" here), so that a test can plant what
// the engine itself refuses to write, such as bytes that form no UTF-8 in a text.
#pragma once

#include <sqlite3.h>

#include <string>

namespace utireorg::tests {

// SQLITE_OK when every statement ran.
inline int EcritSansLeMoteur(const std::string& chemin, const std::string& instructions) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(chemin.c_str(), &db);
  if (rc == SQLITE_OK) {
    sqlite3_create_function(
        db, "utireorg_ignore", -1, SQLITE_UTF8, nullptr,
        [](sqlite3_context* c, int, sqlite3_value**) { sqlite3_result_null(c); }, nullptr, nullptr);
    rc = sqlite3_exec(db, instructions.c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  return rc;
}

}  // namespace utireorg::tests

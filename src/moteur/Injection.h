// Simulated full disk. Every database file the process opens goes through a
// thin VFS layer that charges its writes against one shared byte budget; the
// program's own file copies charge the same budget through ConsommeOctets, so
// a test can make "the disk" fill up at any chosen byte and watch how the
// reorganisation recovers.
#pragma once

#include <cstddef>

namespace moteur::injection {

// Name under which the layer is registered with SQLite.
inline constexpr const char* NomVfs = "utireorg";

// Wraps the platform's default VFS and makes the wrapper the default, so that
// every later sqlite3_open* of the process is charged. Safe to call from any
// thread, any number of times; only the first call does anything.
// Throws std::runtime_error when SQLite refuses to initialise or register it.
void InstalleVfs();

// After `octets` more bytes have been written (through the VFS or through
// ConsommeOctets), any write that does not fit fails as on a full disk.
// A negative value removes the limit, which is the initial state.
void LimiteEcriture(long long octets);
void SupprimeLimite();

// Bytes still allowed, or -1 when there is no limit.
long long OctetsRestants();

// Reserves n bytes for a write the caller is about to make. Returns false, and
// reserves nothing, when the budget cannot hold all of them: a copy that fails
// must not eat the space a later, smaller write could still use.
bool ConsommeOctets(std::size_t n);

// Scoped limit for tests; always leaves the process with no limit, even when a
// failed assertion unwinds the test early.
class LimiteTemporaire {
 public:
  explicit LimiteTemporaire(long long octets) { LimiteEcriture(octets); }
  ~LimiteTemporaire() { SupprimeLimite(); }
  LimiteTemporaire(const LimiteTemporaire&) = delete;
  LimiteTemporaire& operator=(const LimiteTemporaire&) = delete;
};

}  // namespace moteur::injection

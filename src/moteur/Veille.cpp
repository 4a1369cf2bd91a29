// The hook that keeps a window alive through the engine's long operations, and the stop it may
// bring back from there.
#include <exception>
#include <thread>
#include <utility>

#include "moteur/Interne.h"

namespace moteur {
namespace {

// SQLite steps between two calls of the progress handler: a few microseconds of work, so that the
// hook, which lets the window live only every 20 ms, is asked often enough and costs nothing.
constexpr int PasEntreAppels = 1000;

std::function<void()> veilleDefinie;
std::thread::id filVeille;

// Per thread: only the thread that set the hook ever calls it, and the length check of a
// compaction reads on a thread of its own.
thread_local int profondeurInterruptible = 0;
thread_local std::exception_ptr arretEnAttente;

bool SurLeFilDeLaVeille() { return veilleDefinie && std::this_thread::get_id() == filVeille; }

// Nothing may be thrown through SQLite: what the hook throws is kept, and the statement is
// interrupted when a stop may abandon it; elsewhere it is dropped.
extern "C" int SurProgression(void*) {
  if (!SurLeFilDeLaVeille() || arretEnAttente) return arretEnAttente ? 1 : 0;
  try {
    veilleDefinie();
  } catch (...) {
    if (profondeurInterruptible > 0) {
      arretEnAttente = std::current_exception();
      return 1;
    }
  }
  return 0;
}

}  // namespace

void DefinitVeille(std::function<void()> veille) {
  veilleDefinie = std::move(veille);
  filVeille = std::this_thread::get_id();
}

void Veille() noexcept {
  if (!SurLeFilDeLaVeille()) return;
  try {
    veilleDefinie();
  } catch (...) {
  }
}

namespace veille {

void Installe(sqlite3* db) { sqlite3_progress_handler(db, PasEntreAppels, SurProgression, nullptr); }

Interruptible::Interruptible() { ++profondeurInterruptible; }

Interruptible::~Interruptible() {
  // A stop kept but never met by a failing statement stays asked for: the caller meets it next.
  if (--profondeurInterruptible == 0) arretEnAttente = nullptr;
}

void Point() {
  if (SurLeFilDeLaVeille() && profondeurInterruptible > 0) veilleDefinie();
}

void RelanceArret(int rc) {
  if ((rc & 0xFF) != SQLITE_INTERRUPT || !arretEnAttente) return;
  std::rethrow_exception(std::exchange(arretEnAttente, nullptr));
}

}  // namespace veille
}  // namespace moteur

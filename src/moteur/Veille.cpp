// The hook that keeps a window alive through the engine's long operations, and the stop it may
// bring back from there.
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
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

std::function<void()> arretDelegue;

// Per thread: only the thread that set the hook ever calls it, and the length check of a
// compaction reads on a thread of its own; a delegated work's thread asks the stop check only.
thread_local int profondeurInterruptible = 0;
thread_local std::exception_ptr arretEnAttente;
thread_local bool filDelegue = false;

bool SurLeFilDeLaVeille() { return veilleDefinie && std::this_thread::get_id() == filVeille; }

// Nothing may be thrown through SQLite: what the hook throws is kept, and the statement is
// interrupted when a stop may abandon it; elsewhere it is dropped.
extern "C" int SurProgression(void*) {
  if (arretEnAttente) return 1;
  const std::function<void()>* rappel = SurLeFilDeLaVeille()         ? &veilleDefinie
                                        : filDelegue && arretDelegue ? &arretDelegue
                                                                     : nullptr;
  if (!rappel) return 0;
  try {
    (*rappel)();
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
  IgnoreEchec("a window that cannot live this once lives at the next call", [] { veilleDefinie(); });
}

void DefinitArretDelegue(std::function<void()> arret) { arretDelegue = std::move(arret); }

void TravailDelegue(const std::function<void()>& travail) {
  if (!SurLeFilDeLaVeille()) {
    travail();
    return;
  }
  std::mutex verrou;
  std::condition_variable fin;
  bool fini = false;
  std::exception_ptr erreur;
  std::thread fil([&] {
    filDelegue = true;
    try {
      travail();
    } catch (...) {
      erreur = std::current_exception();
    }
    std::lock_guard<std::mutex> garde(verrou);
    fini = true;
    fin.notify_one();
  });
  std::unique_lock<std::mutex> attente(verrou);
  while (!fin.wait_for(attente, std::chrono::milliseconds(10), [&] { return fini; })) {
    attente.unlock();
    Veille();
    attente.lock();
  }
  attente.unlock();
  fil.join();
  if (erreur) std::rethrow_exception(erreur);
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

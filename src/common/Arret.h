// Stopping a run on request: a signal (SIGINT, SIGTERM, SIGHUP), the user (a button of the window),
// an output nobody reads any more, a journal that can no longer be written. The request is only
// noted where it arises; the run acts on it at its next safe point and ends there as a failed run
// would: in "Mode sécurisé" the origin files are left untouched and the working copies removed,
// and the journal and the window say "Procédure interrompue !" with the reason.
//
// Invariants:
// - DemandeArret is async-signal-safe (it only stores into lock-free atomics): a signal handler, a
//   window's button or any thread may call it at any time. The first reason stays until
//   EffaceDemandeArret; later requests change nothing.
// - A request only ever acts at a safe point: PointDArret, which the window's LaisseVivre calls
//   every time the stages let the window process its events (per table, per record, at each
//   progress caption), after the events are processed, so that a click handled there acts at once.
//   No record is ever half written there: a record deleted and stored again, a table being
//   verified, are each one transaction that the unwinding undoes.
// - PointDArret throws only while a SurveillanceArret is active and not suspended, that is inside
//   the steps of a run; the end of a run (its discarding of the working copies, its last lines)
//   runs suspended and is never cut short.
// - What it throws, ArretRun, derives neither from std::exception nor from the engine's errors, so
//   that the continue-on-error walks of the stages let it through. A catch (...) on its way must
//   undo what it holds and throw it again (see EstArretRun).
// - A run clears the request as it starts: a request acts on the run in progress only. Outside a
//   run a signal ends the program as it would without these handlers.
// - A window stops the run it drives by calling DemandeArret(RaisonArret::Utilisateur) from its
//   button; the run then ends "interrompue" and Pilote::ArretPar says why.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace utireorg {

enum class RaisonArret : int {
  Aucune = 0,
  Signal,        // SIGINT, SIGTERM, SIGHUP: SignalArret() says which
  Utilisateur,   // the window's stop button
  SortieFermee,  // the output of the headless run was closed (a pipe whose reader has gone)
  DisquePlein,   // the journal can no longer be written: a full disk
};

void DemandeArret(RaisonArret raison, int signal = 0) noexcept;
RaisonArret ArretDemande() noexcept;
int SignalArret() noexcept;  // the signal of a RaisonArret::Signal request, 0 otherwise
void EffaceDemandeArret() noexcept;

// Why a run was stopped, as the journal and the window say it after "Procédure interrompue !".
std::string TexteRaisonArret(RaisonArret raison, int signal);

struct ArretRun {
  RaisonArret raison;
  int signal = 0;
};

bool EstArretRun(const std::exception_ptr& erreur) noexcept;

// Active for the lifetime of a run. "verification" is asked at each safe point for a reason found
// elsewhere (the journal's health), when no request is pending.
class SurveillanceArret {
 public:
  explicit SurveillanceArret(std::function<RaisonArret()> verification = {});
  ~SurveillanceArret();
  SurveillanceArret(const SurveillanceArret&) = delete;
  SurveillanceArret& operator=(const SurveillanceArret&) = delete;

  // From here on the safe points let the run finish: the stop has been taken in hand.
  void Suspend() noexcept { suspendue_ = true; }

 private:
  friend void PointDArret();
  std::function<RaisonArret()> verification_;
  SurveillanceArret* precedente_;
  bool suspendue_ = false;
};

// Throws ArretRun when a stop is pending inside an active surveillance; nothing otherwise.
void PointDArret();

// SIGINT, SIGTERM and SIGHUP ask a run in progress to stop; outside a run they end the program as
// before. SIGPIPE is ignored: a closed output is reported by the write that fails. SIGXFSZ (a file
// past the session's size limit) is noted, and the write that raised it fails as on a full disk.
void InstalleArretParSignaux();

}  // namespace utireorg

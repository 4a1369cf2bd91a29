#include "common/Arret.h"

#include <signal.h>

#include <atomic>
#include <cstring>

#include "moteur/Erreurs.h"

namespace utireorg {
namespace {

std::atomic<int> raisonDemandee{0};
std::atomic<int> signalDemande{0};
std::atomic<int> runsSurveilles{0};
static_assert(std::atomic<int>::is_always_lock_free, "the stop request is set from a signal handler");

// Runs on the user-interface thread only: the surveillances nest like the calls that make them.
SurveillanceArret* surveillanceCourante = nullptr;

// The write goes on and fails with EFBIG, reported as a full disk, rather than the program ending
// in the middle of it.
extern "C" void SurLimiteTaille(int) { moteur::NoteLimiteTailleFichier(); }

extern "C" void SurSignalArret(int numero) {
  if (runsSurveilles.load() > 0) {
    DemandeArret(RaisonArret::Signal, numero);
    return;
  }
  // No run to stop: the signal does what it did before this handler was installed.
  ::signal(numero, SIG_DFL);
  ::raise(numero);
}

const char* NomSignal(int numero) {
  switch (numero) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return nullptr;
  }
}

}  // namespace

void DemandeArret(RaisonArret raison, int signal) noexcept {
  int attendue = 0;
  if (raisonDemandee.compare_exchange_strong(attendue, static_cast<int>(raison)))
    signalDemande.store(raison == RaisonArret::Signal ? signal : 0);
}

RaisonArret ArretDemande() noexcept { return static_cast<RaisonArret>(raisonDemandee.load()); }

int SignalArret() noexcept { return signalDemande.load(); }

void EffaceDemandeArret() noexcept {
  raisonDemandee.store(0);
  signalDemande.store(0);
}

std::string TexteRaisonArret(RaisonArret raison, int signal) {
  switch (raison) {
    case RaisonArret::Signal: {
      const char* nom = NomSignal(signal);
      return "Réorganisation arrêtée à la demande du système (signal " +
             (nom ? std::string(nom) : std::to_string(signal)) + ").";
    }
    case RaisonArret::Utilisateur: return "Réorganisation arrêtée à la demande de l'utilisateur.";
    case RaisonArret::SortieFermee: return "Réorganisation arrêtée : la sortie du programme a été fermée.";
    case RaisonArret::DisquePlein: return "Réorganisation arrêtée : le journal d'analyse ne peut plus être écrit";
    case RaisonArret::Aucune: break;
  }
  return {};
}

bool EstArretRun(const std::exception_ptr& erreur) noexcept {
  if (!erreur) return false;
  try {
    std::rethrow_exception(erreur);
  } catch (const ArretRun&) {
    return true;
  } catch (...) {
    return false;
  }
}

SurveillanceArret::SurveillanceArret(std::function<RaisonArret()> verification)
    : verification_(std::move(verification)), precedente_(surveillanceCourante) {
  surveillanceCourante = this;
  runsSurveilles.fetch_add(1);
}

SurveillanceArret::~SurveillanceArret() {
  runsSurveilles.fetch_sub(1);
  surveillanceCourante = precedente_;
}

void PointDArret() {
  SurveillanceArret* surveillance = surveillanceCourante;
  if (!surveillance || surveillance->suspendue_) return;
  RaisonArret raison = ArretDemande();
  if (raison == RaisonArret::Aucune && surveillance->verification_) raison = surveillance->verification_();
  if (raison == RaisonArret::Aucune) return;
  throw ArretRun{raison, raison == RaisonArret::Signal ? SignalArret() : 0};
}

void InstalleArretParSignaux() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SurSignalArret;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: the run notices the request at its next safe point.
  action.sa_flags = SA_RESTART;
  for (int numero : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(numero, &action, nullptr);
  action.sa_handler = SurLimiteTaille;
  ::sigaction(SIGXFSZ, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace utireorg

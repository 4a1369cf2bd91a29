#include "moteur/Injection.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <string>

namespace moteur::injection {
namespace {

// -1 means unlimited. Kept at -1 rather than any negative value so that the
// hot path only has to test the sign.
std::atomic<long long> g_restant{-1};

// Charges n bytes, or charges nothing and says no. The compare-exchange loop is
// what keeps concurrent writers from jointly overdrawing the budget: each one
// only subtracts from the exact value it checked against.
bool Reserve(unsigned long long n) {
  long long restant = g_restant.load(std::memory_order_relaxed);
  while (restant >= 0) {
    if (n > static_cast<unsigned long long>(restant)) return false;
    if (g_restant.compare_exchange_weak(restant, restant - static_cast<long long>(n),
                                        std::memory_order_relaxed)) {
      return true;
    }
  }
  return true;  // no limit, or it was lifted while we were trying
}

// ---------------------------------------------------------------------------
// Files. SQLite allocates szOsFile bytes for us; the real file lives right
// after our header in the same block, so no allocation of our own is needed.

struct Fichier {
  sqlite3_file base;
  sqlite3_file* reel;
};
static_assert(sizeof(Fichier) % alignof(std::max_align_t) == 0,
              "the real file placed after the header must stay aligned");

sqlite3_file* Reel(sqlite3_file* f) { return reinterpret_cast<Fichier*>(f)->reel; }
const sqlite3_io_methods* M(sqlite3_file* f) { return Reel(f)->pMethods; }

int Ferme(sqlite3_file* f) {
  sqlite3_file* r = Reel(f);
  int rc = r->pMethods ? r->pMethods->xClose(r) : SQLITE_OK;
  r->pMethods = nullptr;
  return rc;
}

int Lit(sqlite3_file* f, void* tampon, int n, sqlite3_int64 position) {
  return M(f)->xRead(Reel(f), tampon, n, position);
}

int Ecrit(sqlite3_file* f, const void* tampon, int n, sqlite3_int64 position) {
  // A rejected write must leave the file untouched: a partial page on disk
  // would test a failure mode a real full disk does not produce here.
  if (n > 0 && !Reserve(static_cast<unsigned long long>(n))) return SQLITE_FULL;
  return M(f)->xWrite(Reel(f), tampon, n, position);
}

int Tronque(sqlite3_file* f, sqlite3_int64 taille) { return M(f)->xTruncate(Reel(f), taille); }
int Synchronise(sqlite3_file* f, int drapeaux) { return M(f)->xSync(Reel(f), drapeaux); }
int Taille(sqlite3_file* f, sqlite3_int64* taille) { return M(f)->xFileSize(Reel(f), taille); }
int Verrouille(sqlite3_file* f, int niveau) { return M(f)->xLock(Reel(f), niveau); }
int Deverrouille(sqlite3_file* f, int niveau) { return M(f)->xUnlock(Reel(f), niveau); }
int VerrouReserve(sqlite3_file* f, int* resultat) {
  return M(f)->xCheckReservedLock(Reel(f), resultat);
}

int Controle(sqlite3_file* f, int operation, void* argument) {
  int rc = M(f)->xFileControl(Reel(f), operation, argument);
  // Lets a caller (and the tests) see from a connection that the layer is in
  // place, the same way stacked VFSes usually announce themselves.
  if (operation == SQLITE_FCNTL_VFSNAME && rc == SQLITE_OK) {
    auto* nom = static_cast<char**>(argument);
    *nom = sqlite3_mprintf("%s/%z", NomVfs, *nom);
  }
  return rc;
}

int TailleSecteur(sqlite3_file* f) { return M(f)->xSectorSize(Reel(f)); }
int Caracteristiques(sqlite3_file* f) { return M(f)->xDeviceCharacteristics(Reel(f)); }

// Shared memory is mapped, not written through xWrite, so it is not charged.
int ShmMap(sqlite3_file* f, int page, int taillePage, int etendre, void volatile** p) {
  return M(f)->xShmMap(Reel(f), page, taillePage, etendre, p);
}
int ShmLock(sqlite3_file* f, int position, int n, int drapeaux) {
  return M(f)->xShmLock(Reel(f), position, n, drapeaux);
}
void ShmBarrier(sqlite3_file* f) { M(f)->xShmBarrier(Reel(f)); }
int ShmUnmap(sqlite3_file* f, int supprime) { return M(f)->xShmUnmap(Reel(f), supprime); }

int Fetch(sqlite3_file* f, sqlite3_int64 position, int n, void** p) {
  return M(f)->xFetch(Reel(f), position, n, p);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 position, void* p) {
  return M(f)->xUnfetch(Reel(f), position, p);
}

// One table per version: SQLite decides whether WAL or memory mapping is
// possible from our iVersion, so we must never claim more than the real file
// can do.
constexpr sqlite3_io_methods Methodes(int version) {
  sqlite3_io_methods m{};
  m.iVersion = version;
  m.xClose = Ferme;
  m.xRead = Lit;
  m.xWrite = Ecrit;
  m.xTruncate = Tronque;
  m.xSync = Synchronise;
  m.xFileSize = Taille;
  m.xLock = Verrouille;
  m.xUnlock = Deverrouille;
  m.xCheckReservedLock = VerrouReserve;
  m.xFileControl = Controle;
  m.xSectorSize = TailleSecteur;
  m.xDeviceCharacteristics = Caracteristiques;
  if (version >= 2) {
    m.xShmMap = ShmMap;
    m.xShmLock = ShmLock;
    m.xShmBarrier = ShmBarrier;
    m.xShmUnmap = ShmUnmap;
  }
  if (version >= 3) {
    m.xFetch = Fetch;
    m.xUnfetch = Unfetch;
  }
  return m;
}

constexpr sqlite3_io_methods kMethodesV1 = Methodes(1);
constexpr sqlite3_io_methods kMethodesV2 = Methodes(2);
constexpr sqlite3_io_methods kMethodesV3 = Methodes(3);

// ---------------------------------------------------------------------------
// The VFS itself: everything but xOpen goes straight to the real one.

sqlite3_vfs g_vfs{};

sqlite3_vfs* Reel(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }

int Ouvre(sqlite3_vfs* vfs, sqlite3_filename nom, sqlite3_file* f, int drapeaux,
          int* drapeauxSortie) {
  auto* fichier = reinterpret_cast<Fichier*>(f);
  fichier->reel = reinterpret_cast<sqlite3_file*>(fichier + 1);
  fichier->reel->pMethods = nullptr;
  sqlite3_vfs* reel = Reel(vfs);
  int rc = reel->xOpen(reel, nom, fichier->reel, drapeaux, drapeauxSortie);
  // SQLite calls xClose whenever pMethods is set, even after a failed open,
  // so our pMethods must mirror exactly whether the real file needs closing.
  const sqlite3_io_methods* m = fichier->reel->pMethods;
  if (m == nullptr) {
    f->pMethods = nullptr;
  } else if (m->iVersion >= 3) {
    f->pMethods = &kMethodesV3;
  } else if (m->iVersion == 2) {
    f->pMethods = &kMethodesV2;
  } else {
    f->pMethods = &kMethodesV1;
  }
  return rc;
}

int Supprime(sqlite3_vfs* vfs, const char* nom, int syncRepertoire) {
  return Reel(vfs)->xDelete(Reel(vfs), nom, syncRepertoire);
}
int Acces(sqlite3_vfs* vfs, const char* nom, int drapeaux, int* resultat) {
  return Reel(vfs)->xAccess(Reel(vfs), nom, drapeaux, resultat);
}
int CheminComplet(sqlite3_vfs* vfs, const char* nom, int n, char* sortie) {
  return Reel(vfs)->xFullPathname(Reel(vfs), nom, n, sortie);
}
void* DlOpen(sqlite3_vfs* vfs, const char* nom) { return Reel(vfs)->xDlOpen(Reel(vfs), nom); }
void DlError(sqlite3_vfs* vfs, int n, char* message) { Reel(vfs)->xDlError(Reel(vfs), n, message); }
using Symbole = void (*)(void);
Symbole DlSym(sqlite3_vfs* vfs, void* bibliotheque, const char* nom) {
  return Reel(vfs)->xDlSym(Reel(vfs), bibliotheque, nom);
}
void DlClose(sqlite3_vfs* vfs, void* bibliotheque) { Reel(vfs)->xDlClose(Reel(vfs), bibliotheque); }
int Hasard(sqlite3_vfs* vfs, int n, char* sortie) { return Reel(vfs)->xRandomness(Reel(vfs), n, sortie); }
int Dort(sqlite3_vfs* vfs, int microsecondes) { return Reel(vfs)->xSleep(Reel(vfs), microsecondes); }
int Heure(sqlite3_vfs* vfs, double* jour) { return Reel(vfs)->xCurrentTime(Reel(vfs), jour); }
int DerniereErreur(sqlite3_vfs* vfs, int n, char* message) {
  return Reel(vfs)->xGetLastError(Reel(vfs), n, message);
}
int Heure64(sqlite3_vfs* vfs, sqlite3_int64* ms) { return Reel(vfs)->xCurrentTimeInt64(Reel(vfs), ms); }
int ChangeAppel(sqlite3_vfs* vfs, const char* nom, sqlite3_syscall_ptr appel) {
  return Reel(vfs)->xSetSystemCall(Reel(vfs), nom, appel);
}
sqlite3_syscall_ptr LitAppel(sqlite3_vfs* vfs, const char* nom) {
  return Reel(vfs)->xGetSystemCall(Reel(vfs), nom);
}
const char* AppelSuivant(sqlite3_vfs* vfs, const char* nom) {
  return Reel(vfs)->xNextSystemCall(Reel(vfs), nom);
}

// Only advertise what the real VFS has: a null entry there must stay null
// here, since SQLite tests those pointers before using them.
template <class T>
T SiPresent(T chezLeReel, T notre) {
  return chezLeReel ? notre : nullptr;
}

void PrepareVfs(sqlite3_vfs* reel) {
  g_vfs = sqlite3_vfs{};
  g_vfs.iVersion = std::min(reel->iVersion, 3);
  g_vfs.szOsFile = static_cast<int>(sizeof(Fichier)) + reel->szOsFile;
  g_vfs.mxPathname = reel->mxPathname;
  g_vfs.zName = NomVfs;
  g_vfs.pAppData = reel;
  g_vfs.xOpen = Ouvre;
  g_vfs.xDelete = SiPresent(reel->xDelete, Supprime);
  g_vfs.xAccess = SiPresent(reel->xAccess, Acces);
  g_vfs.xFullPathname = SiPresent(reel->xFullPathname, CheminComplet);
  g_vfs.xDlOpen = SiPresent(reel->xDlOpen, DlOpen);
  g_vfs.xDlError = SiPresent(reel->xDlError, DlError);
  g_vfs.xDlSym = SiPresent(reel->xDlSym, DlSym);
  g_vfs.xDlClose = SiPresent(reel->xDlClose, DlClose);
  g_vfs.xRandomness = SiPresent(reel->xRandomness, Hasard);
  g_vfs.xSleep = SiPresent(reel->xSleep, Dort);
  g_vfs.xCurrentTime = SiPresent(reel->xCurrentTime, Heure);
  g_vfs.xGetLastError = SiPresent(reel->xGetLastError, DerniereErreur);
  if (g_vfs.iVersion >= 2) {
    g_vfs.xCurrentTimeInt64 = SiPresent(reel->xCurrentTimeInt64, Heure64);
  }
  if (g_vfs.iVersion >= 3) {
    g_vfs.xSetSystemCall = SiPresent(reel->xSetSystemCall, ChangeAppel);
    g_vfs.xGetSystemCall = SiPresent(reel->xGetSystemCall, LitAppel);
    g_vfs.xNextSystemCall = SiPresent(reel->xNextSystemCall, AppelSuivant);
  }
}

}  // namespace

void InstalleVfs() {
  static std::once_flag unique;
  // If this throws, call_once leaves the flag unset and the next call retries.
  std::call_once(unique, [] {
    int rc = sqlite3_initialize();
    if (rc != SQLITE_OK) {
      throw std::runtime_error(std::string("sqlite3_initialize: ") + sqlite3_errstr(rc));
    }
    sqlite3_vfs* reel = sqlite3_vfs_find(nullptr);
    if (reel == nullptr) throw std::runtime_error("aucun VFS par défaut");
    PrepareVfs(reel);
    rc = sqlite3_vfs_register(&g_vfs, 1);
    if (rc != SQLITE_OK) {
      throw std::runtime_error(std::string("sqlite3_vfs_register: ") + sqlite3_errstr(rc));
    }
  });
}

void LimiteEcriture(long long octets) {
  g_restant.store(octets < 0 ? -1 : octets, std::memory_order_relaxed);
}

void SupprimeLimite() { g_restant.store(-1, std::memory_order_relaxed); }

long long OctetsRestants() { return g_restant.load(std::memory_order_relaxed); }

bool ConsommeOctets(std::size_t n) { return Reserve(n); }

}  // namespace moteur::injection

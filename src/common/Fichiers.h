// Platform file services: the temporary folder and its uniquely named files, copies that stop
// cleanly on a full disk, a consistent copy of a database that another process may be writing,
// and the replacement of a file in one step.
//
// Failures are thrown as moteur::ErreurMoteur with the run-time numbers the stages test:
// 53 file not found, 57 input/output error, 61 disk full, 70 refused (rights, or a database held
// by another process), 75 any other file-system failure.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace moteur {
class TenueEcritures;
}

namespace utireorg {

// The numbers that mean the disk is full: the run-time library's 61 and the engine's own.
bool EstErreurEspaceDisque(int numero) noexcept;

// What a system error number (errno) means, in French, ending with the number itself:
// "c'est un dossier, pas un fichier (erreur système 21)". The user never reads the system's
// English texts.
std::string TexteErreurSysteme(int code);

// True when the file may not be written: no write permission at all in its mode (whoever runs
// the program, root included: the user marked it read-only), or none for this user, or a
// read-only file system. False for a missing file.
bool EstEnLectureSeule(const std::string& chemin) noexcept;

// The numbers that mean the rights refused the access (70, the engine's 3027, 3051 and 3112), not
// that a file is damaged.
bool EstAccesRefuse(int numero) noexcept;
// The context the error handler shows for such a refusal: what to check, and the file, which the
// fixed explanation of 70 does not name.
std::string ContexteAccesRefuse(int numero, const std::string& description);

// How long a consistent copy waits for another process to finish writing before giving up (70).
inline constexpr int DelaiVerrouCopieMs = 300;

// $TMPDIR when set, else /tmp, else "." when /tmp is not a folder; never ends with "/".
std::string DossierTemporaire();

// A new empty file with a unique name in the folder, its name beginning with the prefix; its path.
std::string CreeFichierUnique(const std::string& dossier, std::string_view prefixe);

// The bytes of source into destination (created or emptied first), flushed to disk. Charged
// against the simulated disk of the engine's fault injection, like the engine's own writes.
void CopieFichier(const std::string& source, const std::string& destination);

// A copy of a database, the whole file byte for byte, as its last commit left it: the file is held
// against writers while it is copied (moteur::TenueEcritures). A writer in the middle of a
// transaction, or another program reading it, is waited for a moment (DelaiVerrouCopieMs), then
// the copy is refused with 70. A file that is not a database of the engine (a Jet file) is copied
// byte for byte too, and refused with 70 when it changes while it is read.
void CopieBaseCoherente(const std::string& source, const std::string& destination);

// Puts a copy of source in place of destination without ever leaving a half-written file there:
// the copy is written beside destination under a temporary name, flushed, renamed over it and the
// folder flushed. Works across volumes. On failure destination is untouched and the temporary
// file is gone. The new file keeps the access rights of the one it replaces.
// A database of the engine at destination is held exclusively while it is replaced: when another
// process holds or writes it, the replacement is refused with 70. So is the return of a copy made
// by CopieBaseCoherente over its source when the source was written since the copy was taken:
// what the other program wrote would be lost. A destination this process already holds against
// writers (moteur::TenueEcritures) is replaced under that hold, provided it is still the file the
// hold noted. A run's hold on the destination (moteur::TenueRun) passes to the new file.
void RemplaceFichier(const std::string& source, const std::string& destination);

// A database put back into the file held against writers itself (moteur::RemetEnPlace), where
// other programs may have it open; at the steps "copie" and "remplacement" of DefinitInterruption.
// False, the file untouched, when another program committed once the hold was let go.
[[nodiscard]] bool RemetBaseEnPlace(moteur::TenueEcritures& tenue, const std::string& source);

// A file written beside a database before it is named (a replacement, a kept original) is called
// `<name it is for>` + MarqueTemporaire + six random characters, and its writer keeps it locked
// (flock) until it is named: what a killed run leaves is known by its name and its free lock, and
// the next write at the same place removes it.
inline constexpr std::string_view MarqueTemporaire = ".utireorg-";

// Creates such a file for `chemin`; its path.
std::string CreeTemporaireVoisin(const std::string& chemin);

// Exclusive flock on a file for as long as this object lives; nothing when it cannot be opened.
class VerrouTemporaire {
 public:
  explicit VerrouTemporaire(const std::string& chemin);
  ~VerrouTemporaire();
  VerrouTemporaire(const VerrouTemporaire&) = delete;
  VerrouTemporaire& operator=(const VerrouTemporaire&) = delete;

 private:
  int fd_ = -1;
};

// Removes the temporary files of `chemin` that no writer holds and that nobody wrote for a
// minute: what interrupted runs left. Anything else, even of a close name, is left alone. Returns
// how many were removed.
int SupprimeRestesInterrompus(const std::string& chemin) noexcept;

// The temporary files of a run in the temporary folder (working copies, compaction files) carry
// this program's name: a lock file "utireorg-" + a tag of at most three characters + six random
// characters, which its run holds (flock) from its creation until it removes it, and the files
// named after it followed by "." or "-" (the file the run works in, the engine's "-journal"
// beside it...). A run killed on the way leaves them behind, and nothing else would remove them:
// the next run removes every such group whose lock file nobody holds any more.
inline constexpr std::string_view PrefixeTemporaireRun = "utireorg-";

// Creates and holds a lock file for the tag in the folder, then creates the empty file the run
// works in beside it ("<lock file>.mdb") and returns its path. Failures are thrown (53, 61, 70…).
std::string CreeTemporaireTenu(const std::string& dossier, std::string_view etiquette);

// Removes a file made by CreeTemporaireTenu with everything named after its lock file, then lets
// the lock go. Any other path is simply deleted. True when the path is gone.
bool LibereTemporaire(const std::string& chemin) noexcept;

// A held file the run must leave for the user (a processed copy that could not be put in place):
// it is renamed out of the group, "<nom>-<six characters>.mdb" in the same folder, with its
// "-journal" if any, so that no later run takes it for a leftover; the rest of the group is
// removed; a name too long for the folder is cut. Returns the new path, or the old one when it
// could not be renamed.
std::string SortDesTemporaires(const std::string& chemin, const std::string& nom) noexcept;

// Removes from the folder the groups of temporary files whose lock file no process holds, except
// a group holding one of the files "epargnes" (the run's own target or model, whatever their
// name). Returns the paths removed, lock files left out.
std::vector<std::string> SupprimeTemporairesAbandonnes(const std::string& dossier,
                                                       const std::vector<std::string>& epargnes = {}) noexcept;

// True when both paths name the same existing file (same device and inode, through links).
bool MemeFichier(const std::string& a, const std::string& b) noexcept;

// True when a regular file (or a link to one) exists at that exact path; no wildcards.
bool EstFichier(const std::string& chemin) noexcept;

// Deletes a file; true when it is gone (a missing file counts as deleted).
bool SupprimeFichier(const std::string& chemin) noexcept;

// For the tests: called at the named steps of the copies with the path being written, "copie"
// before the first byte of a copy and "remplacement" between the flush and the rename of
// RemplaceFichier (before the first page for RemetBaseEnPlace), "relache" when RemetBaseEnPlace
// has let go of its hold and SQLite has not yet locked the file, and "suppression" before
// LibereTemporaire removes a file. An exception thrown from it is the failure of that step. Empty: nothing.
using Interruption = std::function<void(std::string_view etape, const std::string& chemin)>;
void DefinitInterruption(Interruption interruption);

// Whole writes and reads on a descriptor, resumed after interruptions: false on failure (or,
// for a read, when the file ends first). The journals use them.
bool EcritToutDescripteur(int fd, const char* donnees, std::size_t taille) noexcept;
bool LitToutDescripteur(int fd, char* donnees, std::size_t taille, off_t position) noexcept;

}  // namespace utireorg

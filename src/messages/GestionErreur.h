// Where every unexpected error ends up: a block in the error journal "STE.JNL", a French
// explanation on screen, and the answer to the caller: go on (0) or stop (1).
//
//   try { ... } catch (...) {
//     if (GestionErreur(Legende() + " (BC)")) return;  // 1: abandon; 0: carry on
//   }
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "moteur/Erreurs.h"

namespace utireorg {

// An error as the handler reads it: its number and its description.
struct ErreurEnCours {
  int numero = 0;
  std::string description;
};

// The number and description of an exception: an engine error gives its own; out of memory is 7,
// an index out of range 9, a system error by its cause (53 file not found, 57 input/output,
// 61 disk full, 67 too many files open, 70 access denied, 71 device not ready), any other
// failure 51 with its message. No exception gives number 0.
ErreurEnCours LitErreur(std::exception_ptr erreur) noexcept;

// The explanation of an error number in message markup, and whether the error is fatal (before
// the "DEBUG" option). An unlisted number is explained by its description followed by "."
// ("Problème de fichiers ou de matériel." when the description is empty).
struct ExplicationErreur {
  std::string texte;
  bool fatale = true;
};
ExplicationErreur ExpliqueErreur(int numero, std::string_view description);

// Reports an error and tells the caller whether it may go on (0) or must stop (1); number 0
// means no error: 0 at once, nothing written or shown. The context names the place, as a rule a
// window caption followed by a code in parentheses (" (BC)"). The report: five lines in the
// error journal, the explanation with the error icon and two beeps, titled "Erreur", then the
// engine's pending transactions committed. "DEBUG" anywhere on the command line makes every
// error non-fatal. Every step ignores its own failure, so the handler never raises a second error.
int GestionErreur(std::string_view contexte, int numero, std::string_view description) noexcept;
int GestionErreur(std::string_view contexte, const moteur::ErreurMoteur& erreur) noexcept;
int GestionErreur(std::string_view contexte, const moteur::Resultat& resultat) noexcept;
// The exception being handled (inside a catch block); none pending gives 0.
int GestionErreur(std::string_view contexte) noexcept;

// While one lives, the same error (number and context) reported again is neither journaled nor
// shown again: a loop that meets the same failure at every record tells it once. The run driver
// opens one for each stage; the answer to the caller stays what it would have been.
class EtapeErreurs {
 public:
  EtapeErreurs() noexcept;
  ~EtapeErreurs();
  EtapeErreurs(const EtapeErreurs&) = delete;
  EtapeErreurs& operator=(const EtapeErreurs&) = delete;

 private:
  EtapeErreurs* englobante_;
};

// The error journal: "STE.JNL" in the current directory. Each line is the time stamp
// "DDMMYY:HHNN", a blank, the text and CR LF, in code page 1252. Before a line is added to a
// journal longer than 10000 bytes, the journal is cut down to its last 5000 bytes. Failures are
// silent: an error journal that cannot be written must not hide the error being reported.
inline constexpr std::string_view NomJournalErreur = "STE.JNL";
bool OuvreJournalErreur() noexcept;  // closes it first if open; creates it when missing
void EcritJournalErreur(std::string_view texte) noexcept;  // nothing when the journal is closed
void FermeJournalErreur() noexcept;
bool JournalErreurOuvert() noexcept;

// Physical memory in kilobytes: total, available, and used (total minus available); all 0 when
// the system does not tell.
void InfosMemoire(long& total, long& disponible, long& utilise) noexcept;

}  // namespace utireorg

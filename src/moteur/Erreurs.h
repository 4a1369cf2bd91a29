// Engine errors: every failure carries a Jet-compatible number and a French description.
//
// How a failure travels, from the layer that meets it to the user:
// - The engine (src/moteur) throws: ErreurMoteur, with its number (names below) and its French
//   description. It never shows or journals anything itself.
// - The platform layer (src/common: files, paths, processes) throws std::system_error carrying
//   errno, or an ErreurMoteur when it already knows the number the stages test (61 disk full,
//   70 refused…); LitErreur turns a system error into its number (57, 61, 70…).
// - Those that go on after a failure return instead of throwing:
//   - Essaie runs one step and returns its Resultat (number 0: done), for "try, read the number,
//     go on";
//   - the guarded writes of src/bases/BaseDonnees.h (AjouteTable, MiseAJour, SupprimeTable,
//     SupprimeEnreg, ValideTransaction) return true when done, false when not; the number that
//     made the last one fail stays readable (ErreurDerniereEcriture), and unless told to keep
//     silent (Signalement::Silencieux) they report the failure themselves;
//   - the working copies (src/copies) return a result code (CopieReussie, CopieErreur,
//     CopieDisquePlein, CopieFichierUtilise), having journaled and shown what happened;
//   - the run's handlers (ExecuteEtape, the file stages' GestionEtape) return what the driver does
//     next and leave the rest in the run state: echec, disquePlein, derniereErreur.
// - Whatever reaches a handler is read once by LitErreur (number + description) and told by
//   GestionErreur: a block in the error journal, the French explanation on screen, and 0 (go on)
//   or 1 (stop) for the caller. The run journal's own line ("#ERR# …", "  Erreur N - …") is
//   written by the stage that knows what the failure means for the user's files.
// - A failure that is deliberately of no consequence goes through IgnoreEchec, which says why;
//   a failure that costs the user something (a copy left behind, a file not put back) is always
//   journaled, never ignored.
// - ArretRun (src/common/Arret.h), a stop asked from outside, is no error: it derives from
//   nothing, so that the stages' walks that go on after an error let it through.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace moteur {

// Numbers the rest of the program tests explicitly.
namespace err {
inline constexpr int AppelInvalide = 5;            // platform: invalid call or argument
inline constexpr int TypeIncompatible = 13;        // platform: type mismatch
inline constexpr int DisquePlein = 61;             // platform: disk full
inline constexpr int FichierUtilise = 70;          // platform: permission denied / file in use
inline constexpr int VariableObjetNonDefinie = 91;  // platform: an object used before it was set
inline constexpr int MiseAJourSansEdition = 3020;
inline constexpr int PasDEnregistrementCourant = 3021;
inline constexpr int Doublon = 3022;
inline constexpr int FichierIntrouvable = 3024;
inline constexpr int EspaceDisque = 3026;
inline constexpr int LectureSeule = 3027;
inline constexpr int TableVerrouillee = 3009;
inline constexpr int TableExiste = 3010;
inline constexpr int TableInexistante = 3011;
inline constexpr int CheminInvalide = 3044;
inline constexpr int FichierDejaUtilise = 3045;
inline constexpr int BaseEndommagee = 3049;
inline constexpr int AccesRefuse = 3051;
inline constexpr int CleNulle = 3058;
inline constexpr int SyntaxeExpression = 3075;
inline constexpr int DefinitionsIllisibles = 3110;  // no permission to read a table's definition
inline constexpr int LectureInterdite = 3112;       // no permission to read the records
inline constexpr int NomInvalide = 3125;
inline constexpr int InstructionInvalide = 3129;
inline constexpr int SyntaxeInsert = 3134;
inline constexpr int CaracteresApresFin = 3142;
inline constexpr int SyntaxeUpdate = 3144;
inline constexpr int ValeurTropLongue = 3163;
inline constexpr int EnregistrementSupprime = 3167;
inline constexpr int EspaceTemporaire = 3183;
inline constexpr int LectureVerrouillee = 3187;  // read refused: locked by another user
inline constexpr int ModifieParAutreUtilisateur = 3197;
inline constexpr int EnregistrementsLies = 3200;
inline constexpr int PasDEnregistrementLie = 3201;
inline constexpr int DestinationExiste = 3204;
inline constexpr int Verrouille = 3218;
inline constexpr int OperationInvalide = 3219;
inline constexpr int OperationNonGeree = 3251;
inline constexpr int VerrouAutreUtilisateur = 3260;
inline constexpr int VerrouLecture = 3262;
inline constexpr int TableSansChamp = 3264;
inline constexpr int ElementIntrouvable = 3265;
inline constexpr int ProprieteIntrouvable = 3270;
inline constexpr int CleExistante = 3283;
inline constexpr int VersionIndeterminee = 3301;
inline constexpr int ChampRequis = 3314;
inline constexpr int ChaineVideInterdite = 3315;
inline constexpr int RegleRefusee = 3317;  // a rule the table holds refused the value
inline constexpr int FormatNonReconnu = 3343;
inline constexpr int DepassementNumerique = 3349;
inline constexpr int BaseEnUtilisation = 3356;
inline constexpr int ProprieteExiste = 3367;
inline constexpr int ObjetInvalide = 3420;  // the object is closed or no longer defined
inline constexpr int ConversionImpossible = 3421;

// Every number that says the disk, or the space for temporary data, is full: the platform's and
// the engine's alike.
inline constexpr int EspaceDisqueInsuffisant[] = {
    DisquePlein, EspaceDisque, EspaceTemporaire, 3469, 3472, 3559, 3569, 3575,
};
}  // namespace err

// Whether the number says that another user or program holds what was asked for, so that the
// same attempt may succeed later: the engine's lock numbers, a table or a record locked, the
// database held open exclusively.
bool EstErreurVerrou(int numero) noexcept;
// A write that met the file-size limit of the session (SIGXFSZ, then EFBIG): set by the signal's
// handler (async-signal-safe), read when a write fails. SQLite does not always keep the system's
// error of a failed write, and every later write of that file fails the same way: once the limit
// has been met, an input/output error is taken for a full disk.
void NoteLimiteTailleFichier() noexcept;
bool LimiteTailleFichierAtteinte() noexcept;

// Description of an error number, with |1, |2 … replaced by the arguments.
std::string DescriptionErreur(int numero, std::initializer_list<std::string_view> arguments = {});

class ErreurMoteur : public std::exception {
 public:
  ErreurMoteur(int numero, std::string description)
      : numero_(numero), description_(std::move(description)) {}
  explicit ErreurMoteur(int numero, std::initializer_list<std::string_view> arguments = {})
      : numero_(numero), description_(DescriptionErreur(numero, arguments)) {}

  int Number() const noexcept { return numero_; }
  const std::string& Description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int numero_;
  std::string description_;
};

// Outcome of one attempted step, for the "try, read the number, go on" style:
//   auto r = moteur::Essaie([&] { td.Fields().Append(f); });
//   if (r.Number == err::ElementIntrouvable) ...
struct Resultat {
  int Number = 0;
  std::string Description;
  explicit operator bool() const noexcept { return Number == 0; }
};

template <class Fonction>
Resultat Essaie(Fonction&& fonction) {
  try {
    std::forward<Fonction>(fonction)();
    return {};
  } catch (const ErreurMoteur& e) {
    return {e.Number(), e.Description()};
  }
}

// Runs the action and lets a failure of type Echec (any failure with the default) go, for the
// places where failing changes nothing that matters: a close that cannot fail the caller, a
// window that cannot beep. "pourquoi" says, at the call, why the failure is of no consequence.
// True when the action ran to its end.
struct ToutEchec {};

template <class Echec = ToutEchec, class Action>
bool IgnoreEchec([[maybe_unused]] std::string_view pourquoi,
                 Action&& action) noexcept(std::is_same_v<Echec, ToutEchec>) {
  if constexpr (std::is_same_v<Echec, ToutEchec>) {
    try {
      std::forward<Action>(action)();
      return true;
    } catch (...) {
      return false;
    }
  } else {
    try {
      std::forward<Action>(action)();
      return true;
    } catch (const Echec&) {
      return false;
    }
  }
}

}  // namespace moteur

// Engine errors: every failure carries a Jet-compatible number and a French description.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace moteur {

// Numbers the rest of the program tests explicitly.
namespace err {
inline constexpr int AppelInvalide = 5;            // platform: invalid call or argument
inline constexpr int TypeIncompatible = 13;        // platform: type mismatch
inline constexpr int DisquePlein = 61;             // platform: disk full
inline constexpr int FichierUtilise = 70;          // platform: permission denied / file in use
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
inline constexpr int FormatNonReconnu = 3343;
inline constexpr int DepassementNumerique = 3349;
inline constexpr int BaseEnUtilisation = 3356;
inline constexpr int ProprieteExiste = 3367;
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
//   if (r.Number == 3265) ...
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

}  // namespace moteur

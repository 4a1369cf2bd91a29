// The database tool: descriptions of databases in JSON, and the sub-commands built on them.
#pragma once

#include <exception>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>

#include "moteur/Moteur.h"

namespace outil {

// Key order is part of the format: a description read back must print exactly as it was written.
using Json = nlohmann::ordered_json;

// Exit codes: scripts tell a damaged database from a command that could not run.
inline constexpr int SortieProblemes = 1;
inline constexpr int SortieErreur = 2;

// A description the tool cannot use has no number of its own in the engine; the engine's
// "format not recognised" is the closest, and keeps every failure numbered.
inline constexpr int ErreurFormatDescription = moteur::err::FormatNonReconnu;

// A failure as the user sees it: the engine's number and description, and where it happened
// (which table, field or record of the description or of the database).
class ErreurOutil : public std::exception {
 public:
  ErreurOutil(int numero, std::string description, std::string contexte = {})
      : numero_(numero), description_(std::move(description)), contexte_(std::move(contexte)) {}
  int Numero() const noexcept { return numero_; }
  const std::string& Description() const noexcept { return description_; }
  const std::string& Contexte() const noexcept { return contexte_; }
  void FixeContexte(std::string contexte) { contexte_ = std::move(contexte); }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int numero_;
  std::string description_;
  std::string contexte_;
};

[[noreturn]] void ErreurFormat(const std::string& message);

// Runs a step and tags any failure with where it happened; nested steps give the full path,
// "table 'Clients', enregistrement 3, champ 'Nom'".
template <class Fonction>
decltype(auto) Dans(const std::string& contexte, Fonction&& fonction) {
  try {
    return std::forward<Fonction>(fonction)();
  } catch (const moteur::ErreurMoteur& e) {
    throw ErreurOutil(e.Number(), e.Description(), contexte);
  } catch (ErreurOutil& e) {
    e.FixeContexte(e.Contexte().empty() ? contexte : contexte + ", " + e.Contexte());
    throw;
  }
}

// Until an object's name is read, its rank in its list ("table 2") says where it is; a place
// found inside it names it, and says it better.
template <class Fonction>
decltype(auto) DansAuRang(const std::string& quoi, std::size_t rang, Fonction&& fonction) {
  try {
    return std::forward<Fonction>(fonction)();
  } catch (const moteur::ErreurMoteur& e) {
    throw ErreurOutil(e.Number(), e.Description(), quoi + " " + std::to_string(rang));
  } catch (ErreurOutil& e) {
    if (e.Contexte().empty()) e.FixeContexte(quoi + " " + std::to_string(rang));
    throw;
  }
}

// ---- Types and values ----

// A field or property type given as the engine's number or by its French name.
int LitType(const Json& type);
std::string NomType(int type);

// A value of a field or property as the description writes it.
Json EcritValeur(const moteur::Valeur& valeur, int type);
// A value of the description, for a write that goes through the engine's conversions.
moteur::Valeur LitValeur(const Json& valeur, int type);
// A value of the description as it is to be stored when no rule or conversion applies.
moteur::Valeur LitValeurBrute(const Json& valeur, int type);
// {"illisible": "…"}: a value the database holds but cannot read as its field's type.
bool EstIllisible(const Json& valeur);
Json EcritIllisible(const std::string& brut);

std::string Hexadecimal(std::string_view octets);
std::string TexteMonetaire(long long dixMilliemes);
bool LitMonetaire(std::string_view texte, long long& dixMilliemes);

// ---- Sub-commands ----

Json LitFichierDescription(const std::string& chemin);
Json DecritBase(moteur::Database& base, bool avecDonnees);
// Records the write rules refuse are written as given, each with a warning.
void CreeBase(const Json& description, const std::string& chemin, std::ostream& avertissements);
// Prints the problems found, or "Base saine."; returns the exit code.
int VerifieBase(const std::string& chemin, std::ostream& sortie);
// The journal a writer killed in the middle of a transaction left beside the file, rolled back as
// the next writer would, before a read-only open that cannot; says so on "messages".
void AnnuleEcritureInterrompue(const std::string& chemin, std::ostream& messages);
// Converts a Jet 3.0 or 4.0 file to a database of the engine in the version asked ("3.0",
// "4.0", or empty for the file's own), every value as the file holds it; prints what was made.
int ConvertitBase(const std::string& source, const std::string& destination, const std::string& version,
                  std::ostream& sortie);
int ExecuteInstruction(const std::string& chemin, const std::string& instruction, std::ostream& sortie,
                       std::ostream& avertissements);

}  // namespace outil

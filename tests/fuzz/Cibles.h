// Entry points of the fuzzing targets: each takes raw bytes, drives one reader of outside text or
// files with them, and throws PromesseRompue when the reader breaks one of its promises (an
// exception of an unexpected type, an event left pressed, a second SQL statement…). Sanitizer
// reports and crashes speak for themselves.
//
// The same functions serve twice: libFuzzer calls them through fuzz_cible.cpp in the clang build,
// and the ordinary test build replays through them every input that once broke something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace utireorg::fuzz {

class PromesseRompue : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

using Entree = int (*)(const std::uint8_t* octets, std::size_t taille);

struct Cible {
  std::string_view nom;  // name of the folders of its seeds and regressions
  Entree entree;
};

// The message markup: the whole input is a message text.
int Balisage(const std::uint8_t* octets, std::size_t taille);
// A button row of a message, with the captions, key hints and access letters read from it.
int ListeBoutons(const std::uint8_t* octets, std::size_t taille);
// A send-keys text, and the key names and counts it holds.
int Touches(const std::uint8_t* octets, std::size_t taille);
// A statement of the engine's query language, translated for SQLite.
int Dialecte(const std::uint8_t* octets, std::size_t taille);
// A database file: opened, walked (tables, fields, indexes, relations, properties, records),
// checked and closed.
int OuvertureBase(const std::uint8_t* octets, std::size_t taille);

inline constexpr Cible Cibles[] = {
    {"balisage", Balisage}, {"boutons", ListeBoutons}, {"touches", Touches},
    {"dialecte", Dialecte}, {"base", OuvertureBase},
    // The same entry as "base", fed Jet files: their inputs are a hundred times slower to open,
    // and would starve the fuzzing of the engine's own files if both shared a corpus.
    {"jet", OuvertureBase},
};

// The target of that name, or nullptr.
const Cible* CibleNommee(std::string_view nom);

// Folder where OuvertureBase writes the files it opens. By default a private folder made under
// $TMPDIR on first use and removed when the process ends; tests give their own.
void FixeDossierTravail(const std::string& dossier);

// Writes the first inputs of a target that are not kept in the repository: for "base", a small
// database made by the engine itself; for "jet", when the folder of Jet sample files exists, the
// smallest file of each version, whole, cut short and with a changed header. Other targets get
// nothing.
void EcritGraines(std::string_view cible, const std::string& dossier, const std::string& dossierJet);

}  // namespace utireorg::fuzz

// What the dialect's lexer, LIKE patterns and parser share. Internal to the translation: nothing
// outside src/moteur/Dialecte*.cpp includes it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "texte/Texte.h"

namespace moteur::dialecte::interne {

inline bool EstChiffre(char c) { return c >= '0' && c <= '9'; }
inline bool EstBlanc(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool EstLettreAscii(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes >= 0x80 belong to accented letters once the input is known to be valid UTF-8.
inline bool EstCaractereMot(char c) {
  return EstLettreAscii(c) || EstChiffre(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
// SQLite folds the case of ASCII letters only in identifiers and keywords; the dialect's own
// comparisons follow it, so that what it accepts SQLite reads the same way.
using texte::MajusculeAscii;
using texte::MinusculeAscii;
using texte::Pliage;
using texte::PremierOctetInvalide;

inline std::string Majuscules(std::string_view s) { return texte::Majuscules(s, Pliage::Ascii); }
inline bool MemeNom(std::string_view a, std::string_view b) { return texte::MemeNom(a, b, Pliage::Ascii); }

// ---------------------------------------------------------------- tokens

enum class Sorte { Mot, Crochet, Chaine, Nombre, Date, Symbole, Fin };

struct Jeton {
  Sorte sorte;
  std::string texte;  // name or value with quoting removed; upper case for Mot in `maj`
  std::string maj;
  size_t debut;
};

// Lexing errors are only reported once the statement kind is known, because
// their number depends on it (an unterminated quote in an INSERT is 3134).
struct ErreurLexicale {
  int numero;  // 0: the syntax error number of the statement kind
  std::string argument;
  size_t debut;
};

struct Lexique {
  std::vector<Jeton> jetons;
  std::optional<ErreurLexicale> erreur;
};

// The statement cut into tokens, ended by a Fin token; stops at the first lexing error, which
// is kept for the caller to report. A malformed UTF-8 byte is such an error.
Lexique Decoupe(std::string_view s);

// Words that are never taken for a bare table or field name. Left and Right
// are also functions: followed by '(' they are calls.
bool EstReserve(std::string_view maj);

// The piece of the statement quoted in a 3075 message: what starts at the
// fault, or what ends there when the fault is the end of the statement. Cut on a
// character boundary and before any malformed byte so that the message stays
// valid UTF-8.
std::string Extrait(std::string_view source, size_t position, bool avant);

// ---------------------------------------------------------------- LIKE patterns

struct Motif {
  std::string texte;  // pattern, still to be quoted
  bool glob = false;  // needs GLOB: digit wildcard or character list
  bool echappe = false;
};

// A LIKE pattern of the dialect (*, ?, #, [a-z], [!…]) in SQLite's LIKE or GLOB form; nothing
// for a pattern the translation cannot render.
std::optional<Motif> TraduitMotif(std::string_view motif);

}  // namespace moteur::dialecte::interne

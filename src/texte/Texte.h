// Text helpers every layer shares: reading and writing UTF-8, counting characters, folding case
// and quoting for SQLite.
//
// Design. The program holds all text in UTF-8, but files, folders and damaged databases bring
// bytes that may be anything, so every function here takes any bytes and loses none. This
// library sits below the engine and needs nothing but the C++ library: the engine, the journal,
// the windows and the tools all reach it, and a rule about text (what counts as a character,
// which letters fold together) is written once.
//
// Invariants:
//  - UTF-8 is read strictly: no overlong form, no surrogate (U+D800 to U+DFFF), nothing past
//    U+10FFFF, no stray continuation byte. A byte that starts no valid sequence is one unit of
//    its own, stepped over alone.
//  - Characters are counted as SQLite's length() counts them (every byte but continuation
//    bytes), so that a length checked here agrees with one checked in a statement.
//  - Folding never changes a byte that is no valid UTF-8, so that two different damaged names
//    never fold to the same text.
//  - Quoting keeps every byte, NUL included. SQLite reads a statement only up to its first NUL;
//    a caller whose text may hold one refuses it before quoting, with its own error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace texte {

// --- UTF-8 ---

// Whether the byte continues a sequence (10xxxxxx) rather than starting a character.
bool EstSuiteUtf8(char octet);
// Bytes of the sequence this byte starts, as the byte announces it: 2 to 4 for a valid lead byte,
// 1 for an ASCII byte and for a byte that starts no sequence.
std::size_t LongueurSequence(unsigned char tete);
// One character at i, which is moved past it; false for a byte that starts no valid sequence,
// which is then stepped over alone and given back in cp as it was.
bool LitCaractere(std::string_view texte, std::size_t& i, char32_t& cp);
void EcritCaractere(char32_t cp, std::string& sortie);
// Position of the first byte that starts no valid sequence; npos when the text is valid.
std::size_t PremierOctetInvalide(std::string_view texte);
bool Utf8Valide(std::string_view texte);

// --- Characters ---

std::size_t NombreCaracteres(std::string_view texte);
// The first n characters, never a piece of one.
std::string PremiersCaracteres(std::string_view texte, std::size_t n);

// --- Case ---

// Which letters fold together.
enum class Pliage {
  // A to Z only: what SQLite does with identifiers and keywords, and what the file and option
  // names compared this way have always been compared with.
  Ascii,
  // Every Latin letter of Latin-1 and Latin Extended-A, Greek and Cyrillic: "Priorité" and
  // "PRIORITÉ" are one name.
  Lettres,
};

// Case of one ASCII byte; every other byte is given back as it is.
char MinusculeAscii(char c);
char MajusculeAscii(char c);
// Lower case of one character under the Lettres rule.
char32_t Minuscule(char32_t cp);
// Upper case of one character: the letters a French caption may hold (ASCII, Latin-1, œ, ÿ).
char32_t Majuscule(char32_t cp);
// A name folded so that names differing only by case compare equal.
std::string PlieNom(std::string_view nom, Pliage pliage = Pliage::Lettres);
bool MemeNom(std::string_view a, std::string_view b, Pliage pliage = Pliage::Lettres);
// Upper case of a text: A to Z only, or every character Majuscule knows.
std::string Majuscules(std::string_view texte, Pliage pliage);
// The accented Latin-1 letters À to Ü and à to ü without their accent, in their own case ("Mémo"
// gives "Memo", "Ç" gives "C"); Æ, Ñ, Ø, Ý and every other character are kept as they are.
std::string SansAccents(std::string_view texte);

// --- SQLite quoting ---

// "na""me": an identifier between double quotes, each inner one doubled.
std::string CiteIdent(std::string_view nom);
// 'it''s': a text literal between apostrophes, each inner one doubled.
std::string CiteLitteral(std::string_view texte);

// --- The engine's own dialect ---

// [name]: a table or field name between brackets. The engine refuses brackets inside a name, so
// nothing inside needs escaping.
std::string CiteCrochets(std::string_view nom);

}  // namespace texte

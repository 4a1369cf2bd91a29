// Names of tables, fields and other objects: how they are compared and checked.
#pragma once

#include <string>
#include <string_view>

namespace moteur {

// Folds a UTF-8 name so that names differing only by case, accents included, compare equal:
// "Priorité" and "PRIORITÉ" fold to the same text.
std::string PlieNom(std::string_view nom);
bool MemeNom(std::string_view a, std::string_view b);

// Object names: 1 to 64 characters, no leading space, none of . ! ` [ ] and no control character.
bool NomValide(std::string_view nom);
void VerifieNom(std::string_view nom);  // throws 3125

// SQLite quoting: identifiers and text literals are never spliced unquoted.
std::string CiteIdent(std::string_view nom);
std::string CiteLitteral(std::string_view texte);

// One UTF-8 character at i, which is moved past it; false for a byte that starts no valid
// sequence, which is then stepped over alone and given back in cp as it was.
bool LitCaractere(std::string_view texte, std::size_t& i, char32_t& cp);
void EcritCaractere(char32_t cp, std::string& sortie);

// Whether bytes are well-formed UTF-8 (no overlong form, surrogate or code point past U+10FFFF).
bool Utf8Valide(std::string_view texte);

// A name or value read from a file, fit to be shown on one line of a message or journal: control
// characters and bytes that are no UTF-8 are written as escapes (\n, \x1B…), the backslash doubled.
std::string Affichable(std::string_view texte);

// Count of characters (code points) of UTF-8 text, as text lengths are measured.
std::size_t LongueurCaracteres(std::string_view texte);
// The first n characters of UTF-8 text.
std::string PremiersCaracteres(std::string_view texte, std::size_t n);

}  // namespace moteur

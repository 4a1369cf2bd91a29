// The journals hold one byte per character in code page 1252; the program works in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace utireorg {

// Characters without a place in the code page become "?".
std::string VersAnsi(std::string_view utf8);
std::string DepuisAnsi(std::string_view ansi);

// A name that comes from outside (a folder, a file) as a journal line may hold it: a control
// character, a byte that is no UTF-8 ("\x0A") and a character without a place in the code page
// ("\u{5BA2}") are written as escapes, and a backslash is doubled, so that no name breaks a line,
// loses its letters or looks like another.
std::string NomPourJournal(std::string_view nom);

}  // namespace utireorg

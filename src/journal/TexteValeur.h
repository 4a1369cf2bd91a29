// How a value of a record stands in a journal line, so that the line keeps all of it: the journal
// holds one line per entry, in code page 1252.
#pragma once

#include <string>
#include <string_view>

#include "moteur/Valeur.h"

namespace utireorg {

// A text as it can stand inside a journal line and be read back whole:
//   "<CR>", "<LF>"       a line break (it would otherwise split the line);
//   "<U+XXXX>"           a character the code page cannot hold, or another control character,
//                        by its code point in hexadecimal (at least four digits: "<U+1F600>");
//   "<<"                 the character "<" itself, so that none of the forms above is ambiguous.
// Every other character stands as it is. Read from left to right, the forms give the text back.
std::string EchappeJournal(std::string_view utf8);

// A value's text for a journal line, escaped as above: numbers in full (a double by the shortest
// text that reads back to the same double, with a decimal comma), dates and the rest as the
// recordset gives them to the user; empty for a null.
std::string TexteJournal(const moteur::Valeur& valeur);
// The same between apostrophes, or "Null" for a null.
std::string TexteValeurJournal(const moteur::Valeur& valeur);

}  // namespace utireorg

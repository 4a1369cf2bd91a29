// The message markup shared by every message of the program: one string for the text (icon,
// beeps, line breaks) and one for the button row.
//
// Text:  an optional first character "!" (icon 1, error), "i" (icon 2, warning; lower case only)
//        or "?" (icon 3, question); then any number of "#", one beep each; "@" anywhere starts a
//        new line ("@@" leaves a blank line); "&" is an ordinary character.
// Row:   button entries separated by ";". Each one may start with "+" (focused, pressed by
//        Enter) and "-" (cancel, pressed by Escape and the close box), in either order; only the
//        first "+" and the first "-" of the whole row count. Every "," of an entry becomes
//        ";" in the caption, which puts a key hint after the text ("&Quitter,Ech").
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/InterfaceFenetre.h"

namespace utireorg {

// The row used when none is given or the given one is empty.
inline constexpr std::string_view BoutonsParDefaut = "-+&Ok";
// Caption of the button added when a help context is given; it opens help and keeps the form.
inline constexpr std::string_view LegendeAide = "Aide";

// Reads a message in markup into what a window needs to show it:
//   icone        0 none, 1 error, 2 warning, 3 question;
//   bips         how many beeps the window sounds just before showing the message (the
//                presenter sounds them, not the parser);
//   texte        the text without its prefix, lines separated by '\n' (a CR LF or a lone CR of the
//                caller's text also becomes '\n'); "&" stands for itself, so a toolkit that reads
//                "&" as an access marker must escape it;
//   titre        the given title, else TitreApplication();
//   boutons      in row order, each with
//                  legende     the caption with its "&" access marker and, after the first ";",
//                              its key hint (see TexteBouton, IndiceTouche, LettreAcces),
//                  focus       at most one button of the row,
//                  annulation  at most one button; none means Escape and the close box do nothing,
//                  aide        only the added "Aide" button, always last;
//                the row is never empty: a row whose entries are all empty (or markers
//                alone) falls back to the default row;
//   contexteAide the given context; not 0 adds the "Aide" button.
// The answer to a message is the 1-based position of the pressed button in this row.
MessageAnalyse AnalyseMessage(std::string_view texte, std::optional<std::string> titre = std::nullopt,
                              std::optional<std::string> boutons = std::nullopt, long contexteAide = 0);

// The access letter of a caption: the character after its first "&", in upper case (Latin
// letters, accented ones included); none when the caption has no "&" or ends with it.
std::optional<char32_t> LettreAcces(std::string_view legende);

// "&Quitter;Ech" → "&Quitter" and "ECH": the text before the first ";", and the key hint after
// it, without surrounding blanks and in upper case (empty when there is none).
std::string TexteBouton(std::string_view legende);
std::string IndiceTouche(std::string_view legende);

}  // namespace utireorg

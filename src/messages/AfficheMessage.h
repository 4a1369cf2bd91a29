// The one way the program puts a question, warning or notice in front of the user.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace utireorg {

// Shows a message written in the markup of Balisage.h and waits for the answer: the 1-based
// position of the pressed button in the row. Nothing comes back (which equals no button) when
//  - another message is still on screen: the window's modal wait processes events, so a second
//    message requested meanwhile is dropped rather than stacked on the first;
//  - the message could not be shown: any failure inside sounds one beep and prints
//    "Message : Erreur " and the error's number on the error output.
// The pointer is put back to normal first. The current window shows the message and sounds its
// beeps; with no current window the message is printed on the error output and answered with
// its focused button, else its first, as the run without screen does.
std::optional<int> AfficheMessage(std::string_view texte, std::optional<std::string> titre = std::nullopt,
                                  std::optional<std::string> boutons = std::nullopt,
                                  long contexteAide = 0) noexcept;

// True while a message is on screen.
bool MessageEnCours() noexcept;

}  // namespace utireorg

// The keyboard plumbing of the Qt windows: function keys that press the button whose hint names
// them, a focus routine safe against re-entry, keys typed into the application the way a user
// would, and the hidden sequences that write the form report.
#pragma once

#include <QString>
#include <Qt>
#include <optional>
#include <string_view>

class QAbstractButton;
class QWidget;

namespace utireorg {

// Key codes of Touches.h from Qt keys and back. Keypad keys carry Qt::KeypadModifier.
// 0 when the key has no code.
int CodeDeToucheQt(int cleQt, Qt::KeyboardModifiers modificateurs);
struct ToucheQt {
  Qt::Key cle;
  bool pave;  // on the numeric keypad
};
std::optional<ToucheQt> ToucheQtDeCode(int code);

// Presses a button the way the user would, once the current event has been handled: the
// click comes from the event loop, so the caller's key handler ends first.
void CliqueBouton(QAbstractButton* bouton);

// To be called from a window's key-down handler with the key's code and modifiers. Without
// modifier: F1 opens help for the window (its "contexteAide" property) and F10 is swallowed —
// both clear the code; a key of the function-key table presses the first push button named
// "Bouton..." whose hint matches it, passing over disabled and hidden ones. True when the key was
// used (a button pressed, or F1/F10): the caller should then drop the event. Calls made while one
// is under way are ignored.
bool ToucheFonction(QWidget* formulaire, int& code, Qt::KeyboardModifiers modificateurs);

// Gives the focus to a visible and enabled control, or, for a tab widget given a tab number,
// selects that tab when it is visible and enabled. Calls made while one is under way are ignored.
void DonneFocus(QWidget* controle, int onglet = -1);

// Types keys written in the send-keys syntax (Touches.h). Each key goes, when its turn comes, to
// the focused widget of the application — or of the given window — else to the active window;
// keys with nowhere to go are dropped. With attendre, the keys are delivered before returning.
void EnvoieTouches(std::string_view texte, bool attendre = false, QWidget* cible = nullptr);

// To be called from a window's key-down handler: watches the hidden sequences and, when one is
// complete, writes the form report of the window (else of the active window). Returns the report
// mode written (1 to 3), or 0.
int SequenceTouches(QWidget* formulaire, int code, Qt::KeyboardModifiers modificateurs);

// Writes an XML account of a window and its controls (name, class, caption or text, enabled,
// visible). True when the file was written.
inline constexpr const char* FichierRapportFormulaire = "RapportFormulaire.xml";
bool EcritRapportFormulaire(QWidget* formulaire, int mode,
                            const QString& chemin = QString::fromLatin1(FichierRapportFormulaire));

}  // namespace utireorg

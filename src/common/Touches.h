// Keyboard plumbing shared by the windows, free of any widget toolkit: key names of the
// function keys that press buttons, the send-keys syntax and the hidden key sequences.
// Key codes are the virtual-key numbers the button hints and the send-keys texts were written
// for; the window side translates them to and from its own key codes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace utireorg {

namespace CodeTouche {
inline constexpr int Retour = 8;
inline constexpr int Tabulation = 9;
inline constexpr int Entree = 13;
inline constexpr int Majuscule = 16;  // Shift
inline constexpr int Controle = 17;
inline constexpr int Alt = 18;
inline constexpr int Pause = 19;
inline constexpr int VerrMaj = 20;
inline constexpr int Echap = 27;
inline constexpr int Espace = 32;
inline constexpr int PagePrecedente = 33;
inline constexpr int PageSuivante = 34;
inline constexpr int Fin = 35;
inline constexpr int Debut = 36;
inline constexpr int Gauche = 37;
inline constexpr int Haut = 38;
inline constexpr int Droite = 39;
inline constexpr int Bas = 40;
inline constexpr int ImprimeEcran = 42;
inline constexpr int Inser = 45;
inline constexpr int Suppr = 46;
inline constexpr int Aide = 47;
inline constexpr int PavePlus = 107;
inline constexpr int PaveMoins = 109;
inline constexpr int F1 = 112;
inline constexpr int F10 = 121;
inline constexpr int F16 = 127;
inline constexpr int VerrNum = 144;
inline constexpr int VerrDefil = 145;
}  // namespace CodeTouche

// Upper case of UTF-8 text, accented Latin letters included ("entrée" → "ENTRÉE"); other
// characters are kept as they are.
std::string MajusculesUtf8(std::string_view texte);

// The name a button hint is matched against for a key, or nothing for a key that presses no
// button. F1 has none: it opens help.
std::optional<std::string_view> NomToucheFonction(int code);

// A hint matches a key when it is not empty and occurs inside the key's name, so that "ECHAP"
// and "ESCAPE" both answer Escape. The hint is compared as IndiceDeLegende returns it.
bool IndiceCorrespond(std::string_view indice, int code);

// A button caption "&Lancer;F2": the text before the first ";" ("&Lancer") and the hint after
// it, trimmed and upper-cased ("F2"); no ";" means no hint.
std::string TexteDeLegende(std::string_view legende);
std::string IndiceDeLegende(std::string_view legende);

// One synthesized key transition.
struct EvenementTouche {
  int code = 0;
  bool appui = true;  // false: the key goes up
  bool operator==(const EvenementTouche&) const = default;
};

// Key code of a name between braces ("TAB", "esc", "F12"), or nothing for an unknown name.
std::optional<int> CodeToucheNommee(std::string_view nom);

// Presses beyond this count in one "{NAME count}" are dropped: a mistyped count must not flood
// the window with millions of events.
inline constexpr int RepetitionMaximale = 1000;

// Reads a send-keys text into key transitions. "%", "+" and "^" press Alt, Shift and Ctrl until
// the next key, "(...)" group or "{NAME}" / "{NAME count}" has been sent, then release them in
// the order they were pressed. Letters, digits and spaces press their own key; other characters
// have no key of their own and send nothing, nor does an unknown name. An unclosed "{" or "("
// ends the text: what follows it is not sent.
std::vector<EvenementTouche> AnalyseTouches(std::string_view texte);

// The numeric value of a text: a number as written ("3", " 2.5 "), else with its first ","
// read as the decimal point and trailing text ignored ("2,5 fois" → 2.5), else 0.
double ValeurNumerique(std::string_view texte);

// Watches key-downs for the hidden sequences that open the form report: typed with Ctrl and
// Shift held, "FORM" opens it in mode 1 and "TEST" in mode 2; "A" opens it in mode 3 when the
// command line holds "AUTOTEST". Any key-down without a modifier starts the watch over.
class DetecteurSequence {
 public:
  static constexpr std::string_view MotMode1 = "FORM";
  static constexpr std::string_view MotMode2 = "TEST";
  static constexpr char LettreMode3 = 'A';

  // The report mode the key completes (1 to 3), or 0.
  int Touche(int code, bool majuscule, bool controle, bool alt);
  const std::string& Tampon() const { return tampon_; }
  void Efface() { tampon_.clear(); }

 private:
  // Only the end of the buffer matters; keeping it short keeps a long session from growing it.
  static constexpr std::size_t LongueurMaximale = 32;
  std::string tampon_;
};

}  // namespace utireorg

// The settings store that stands for the system registry: one INI file per root key
// ("HKEY_LOCAL_MACHINE.ini"), the sub-key as section ("[SOFTWARE\Microsoft\Internet Explorer]",
// written with backslashes), the value name as key. The folder is named by the environment
// variable UTIREORG_REGISTRE, else $XDG_CONFIG_HOME/utireorg/registre, else
// ~/.config/utireorg/registre.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace utireorg {

// The folder of the store, as the environment names it now.
std::string DossierRegistre();

// The text of a value, cut to 254 characters; the default when the root, the sub-key or the
// value is missing. A value present but empty gives an empty text, not the default.
// Root, sub-key and value names are compared without regard to case.
std::string LitRegistre(std::string_view racine, std::string_view sousCle, std::string_view nomValeur,
                        std::string_view defaut = {});

// The major version of the installed web browser component, 0 when it cannot be read.
int VersionIE();
bool IEVersionCorrecte();  // version 5 or later

inline constexpr const char* MessageVersionIE =
    "!La version d'Internet Explorer sur ce système n'est correcte.@"
    "Veuillez procéder à une actualisation en version 5.00 ou supérieure.";

// IEVersionCorrecte, with the warning shown when it is false. The message is shown through the
// function given: this library sits below the message form, so the caller hands it
// AfficheMessage (for instance [](std::string_view t) { AfficheMessage(t); }).
bool VerifieIE(const std::function<void(std::string_view texte)>& afficheMessage);

}  // namespace utireorg

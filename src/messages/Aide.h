// Help: an outside program, "hlp", started with the model folder and a help context.
#pragma once

#include <optional>
#include <string>

namespace utireorg {

// The model folder, remembered by the main window's input check; empty until then. Help is
// opened on the data of that folder.
const std::string& DossierModele();
void DefinitDossierModele(std::string dossier);

// The help program: the environment variable UTIREORG_AIDE when it names one, else "hlp" in the
// folder of the running executable, else the installed "../libexec/utireorg/hlp" from there.
std::string ProgrammeAide();
// The same search from a given program folder.
std::string ProgrammeAideDepuis(const std::string& dossierProgramme);

// Opens help for a window whose help context number is given (nothing: no window asks, and only
// the pointer shows the attempt). The program gets the arguments /D:"<model folder>" (the quotes
// are part of the argument) and, when a context is passed or else the window's number is not 0,
// /P:<context>. It is not waited for beyond a moment; when it cannot be started, or fails within
// that moment, the message "i#Impossible d'ouvrir le fichier d'aide." titled "Aide" says so. The pointer shows the
// hourglass meanwhile and is normal on return.
void AfficheAide(std::optional<long> contexteAideFormulaire, std::optional<long> contexte = std::nullopt) noexcept;

}  // namespace utireorg

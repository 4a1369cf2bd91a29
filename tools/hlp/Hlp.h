// The help program: it opens the page of the user guide that answers a help context number, as
// the program's help launcher passes it (/D:"<model folder>" /P:<context>), in the desktop's
// browser, or in a small window of its own when there is no desktop to ask.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hlp {

// The command line, as the launcher writes it; the options of this program's own are for
// people and scripts.
struct Arguments {
  std::string dossierDonnees;     // /D:"<folder>", the quotes removed
  std::optional<long> contexte;   // /P:<number>; nothing when absent or not a number
  bool fenetre = false;           // --fenetre: its own window even on a desktop
  bool chemin = false;            // --chemin: prints the page's path and stops
  bool aide = false;              // -h, --help
  std::vector<std::string> avertissements;  // what was not understood, in French
};
Arguments LitArguments(const std::vector<std::string>& arguments);

// The page of the guide for a context number: the main window's and its confirmation's own
// page, else the contents page.
std::string PageDuContexte(std::optional<long> contexte);

// The folder of the guide: $UTIREORG_GUIDE, else the installed one beside the program
// ("../../share/utireorg/aide" from where it lies), else the source tree's copy when it runs from
// the build tree. Only a folder that holds "index.html" counts; empty when none does.
std::string DossierGuide(const std::string& dossierProgramme);

// Where the guide was looked for first, for the message that says it is missing: the folder
// $UTIREORG_GUIDE names, else the installed one.
std::string LieuGuide(const std::string& dossierProgramme);

// How the page is shown: the desktop's browser needs a display and xdg-open; without either, the
// program's own window, which needs a display (or an offscreen platform) too.
enum class Ouverture { Navigateur, Fenetre, Impossible };
Ouverture ChoisitOuverture(bool fenetreDemandee, bool affichage, bool xdgOpen, bool plateformeQt);

// The environment's answers to ChoisitOuverture.
bool AffichageDisponible();
bool PlateformeQtDefinie();
std::optional<std::string> TrouveDansPath(const std::string& programme);

// Starts xdg-open on the page's address and waits for it: false when it could not open it.
bool OuvreDansLeNavigateur(const std::string& xdgOpen, const std::string& adresse);

}  // namespace hlp

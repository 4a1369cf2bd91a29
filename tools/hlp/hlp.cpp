// hlp: opens the user guide at the page of a help context, as the program's help launcher asks
// ("hlp /D:\"<model folder>\" /P:6080"), in the desktop's browser or in a window of its own.
//
// Exit codes: 0 the page was opened (or its path printed), 1 it could not be shown, 2 the guide
// is not installed.
#include <QApplication>
#include <QDir>
#include <QUrl>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "hlp/FenetreAide.h"
#include "hlp/Hlp.h"
#include "ui/SansAffichage.h"

namespace {

const char* const Utilisation =
    "Utilisation : hlp [/D:\"DOSSIER\"] [/P:CONTEXTE] [--fenetre] [--chemin]\n"
    "Ouvre le guide de l'utilisateur de utireorg à la page du contexte d'aide donné (6080 : la\n"
    "fenêtre principale ; sans contexte : le sommaire), dans le navigateur du bureau, ou dans une\n"
    "fenêtre d'aide quand il n'y a pas de bureau.\n"
    "  /D:\"DOSSIER\"  dossier des données (le dossier de la base modèle), accepté pour mémoire\n"
    "  /P:CONTEXTE   numéro du contexte d'aide\n"
    "  --fenetre     ouvre la fenêtre d'aide même sur un bureau\n"
    "  --chemin      écrit le chemin de la page et s'arrête\n"
    "Le guide est cherché dans $UTIREORG_GUIDE quand elle est définie, sinon là où le paquet\n"
    "l'installe (/usr/share/utireorg/aide).\n";

// The page the window would have shown, for the message that says where to read it.
std::string& PageDemandee() {
  static std::string page;
  return page;
}

void SansAffichage() {
  std::cerr << "hlp : aucun affichage disponible ; le guide est lisible dans un navigateur : " << PageDemandee() << '\n';
}

std::string DossierDuProgramme() {
  std::error_code erreur;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", erreur);
  return erreur ? std::string() : executable.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  hlp::Arguments arguments = hlp::LitArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (arguments.aide) {
    std::cout << Utilisation;
    return 0;
  }
  for (const std::string& avertissement : arguments.avertissements) std::cerr << "hlp : " << avertissement << ".\n";

  const std::string guide = hlp::DossierGuide(DossierDuProgramme());
  if (guide.empty()) {
    std::cerr << "hlp : le guide de l'utilisateur est introuvable dans " << hlp::LieuGuide(DossierDuProgramme())
              << " : réinstallez le paquet utireorg.\n";
    return 2;
  }
  const std::string page = hlp::PageDuContexte(arguments.contexte);
  const std::string chemin = guide + "/" + page;
  PageDemandee() = chemin;
  if (arguments.chemin) {
    std::cout << chemin << '\n';
    return 0;
  }

  const std::optional<std::string> xdgOpen = hlp::TrouveDansPath("xdg-open");
  switch (hlp::ChoisitOuverture(arguments.fenetre, hlp::AffichageDisponible(), xdgOpen.has_value(),
                                hlp::PlateformeQtDefinie())) {
    case hlp::Ouverture::Navigateur:
      if (hlp::OuvreDansLeNavigateur(*xdgOpen, QUrl::fromLocalFile(QString::fromStdString(chemin)).toString().toStdString()))
        return 0;
      break;  // no browser answered: the window of this program shows the page
    case hlp::Ouverture::Fenetre:
      break;
    case hlp::Ouverture::Impossible:
      SansAffichage();
      return 1;
  }

  // A display named but unusable fails like no display at all.
  utireorg::GardeAffichage garde(&SansAffichage, 1);
  QApplication application(argc, argv);
  garde.Fin();
  hlp::FenetreAide fenetre(QString::fromStdString(guide), QString::fromStdString(page));
  fenetre.showMaximized();
  fenetre.raise();
  fenetre.activateWindow();
  return application.exec();
}

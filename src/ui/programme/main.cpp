// The program with its window: it lives as long as the main window is loaded.
#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <string>

#include "common/Arret.h"
#include "common/LigneDeCommande.h"
#include "ui/Francais.h"
#include "ui/FrmUtiReorg.h"
#include "ui/SansAffichage.h"

namespace {

const char* const Utilisation =
    "Utilisation : utireorg [BASE.mdb] [AVANCE] [DEBUG]\n"
    "Répare, compacte et analyse les bases de données d'un logiciel de gestion, dans une fenêtre.\n"
    "  BASE.mdb     une base existante, prise comme base à analyser\n"
    "  AVANCE       ouvre l'accès à la page des options (réorganisation avancée)\n"
    "  DEBUG        les erreurs inattendues n'arrêtent pas le programme\n"
    "  -h, --help   affiche cette aide et quitte\n"
    "  --version    affiche la version et quitte\n"
    "Sans écran, utireorg-lot fait la même réorganisation (utireorg-lot --help).\n";

void SansAffichage() {
  const std::string nomme = utireorg::GardeAffichage::AffichageNomme();
  std::fprintf(stderr, "utireorg : aucun affichage graphique utilisable (%s) : la fenêtre ne peut pas s'ouvrir.\n"
                       "Sans écran, lancez la réorganisation avec utireorg-lot.\n",
               nomme.empty() ? "ni DISPLAY ni WAYLAND_DISPLAY n'est défini" : nomme.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  // Answered without a display: they need no window.
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      std::fputs(Utilisation, stdout);
      return 0;
    }
    if (argument == "--version") {
      std::printf("utireorg %s\n", UTIREORG_VERSION);
      return 0;
    }
  }
  utireorg::GardeAffichage garde(&SansAffichage, 1);
  QApplication application(argc, argv);
  garde.Fin();
  utireorg::MemoriseLigneDeCommande(argc, argv);
  // A run in progress when the session ends puts the user's files back in order first, and a
  // file grown past the size limit of the session fails like a full disk, which the run reports,
  // rather than ending the program in the middle of a write.
  utireorg::InstalleArretParSignaux();

  // Qt's own dialogs (the file dialog) speak the program's language.
  utireorg::ChargeTraductionsQt();

  utireorg::FrmUtiReorg fenetre;
  // Unloading the main window ends the program, whatever other window is still open.
  QObject::connect(&fenetre, &utireorg::FrmUtiReorg::Dechargee, &application, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  fenetre.Demarre();
  if (!fenetre.Charge()) return 0;
  // A desktop opens a database with the program by naming it; the words of the command line
  // (DEBUG, AVANCE) name no file.
  for (const QString& argument : application.arguments().mid(1))
    if (QFileInfo(argument).isFile()) {
      fenetre.OuvreFichier(argument);
      break;
    }
  return application.exec();
}

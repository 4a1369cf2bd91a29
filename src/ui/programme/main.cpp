// The program with its window: it lives as long as the main window is loaded.
#include <QApplication>
#include <QFileInfo>

#include "common/Arret.h"
#include "common/LigneDeCommande.h"
#include "ui/Francais.h"
#include "ui/FrmUtiReorg.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
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

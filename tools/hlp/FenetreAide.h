// The help window of a machine without a desktop browser: the guide's pages in a text browser,
// with the contents, back and forward.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;
class QPushButton;

namespace hlp {

class FenetreAide : public QWidget {
 public:
  // dossierGuide holds the pages; page is the file name of the first one shown.
  FenetreAide(const QString& dossierGuide, const QString& page, QWidget* parent = nullptr);

  QTextBrowser* Navigateur() const { return navigateur_; }
  QPushButton* BoutonSommaire() const { return sommaire_; }
  QPushButton* BoutonPrecedent() const { return precedent_; }
  QPushButton* BoutonSuivant() const { return suivant_; }

 private:
  void MetAJourTitre();

  QTextBrowser* navigateur_;
  QPushButton* sommaire_;
  QPushButton* precedent_;
  QPushButton* suivant_;
};

// "Aide - <title of the page>".
QString TitreFenetreAide(const QString& titrePage);

}  // namespace hlp

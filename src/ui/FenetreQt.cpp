#include "ui/FenetreQt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <climits>

#include "ui/BoutonStd.h"
#include "ui/FenetreQtOutils.h"
#include "ui/FrmMessage.h"
#include "ui/FrmUtiReorg.h"

namespace utireorg {
namespace {

int VersInt(long valeur) {
  return static_cast<int>(std::clamp<long>(valeur, INT_MIN, INT_MAX));
}

// The journal writes CR LF; the view keeps plain line feeds.
QString LignesDeVue(const std::string& texte) {
  QString resultat = VersQString(texte);
  resultat.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  resultat.replace(u'\r', u'\n');
  return resultat;
}

void AfficheLegende(QLabel* legende, const std::string& texte) {
  if (!legende) return;
  legende->setText(VersQString(texte));
  legende->repaint();
}

}  // namespace

FenetreQt::~FenetreQt() {
  if (sablier_ && QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void FenetreQt::Legendes(const std::string& etape, const std::string& detail) {
  AfficheLegende(fenetre_.TypeAvancement(), etape);
  AfficheLegende(fenetre_.Avancement(), detail);
}

void FenetreQt::ProgressMaximum(long maximum) {
  auto* barre = fenetre_.Progress();
  if (!barre) return;
  const int ancienne = std::max(barre->value(), 0);
  barre->setMaximum(std::max(VersInt(maximum), 0));
  // Changing the range may reset the bar to "no value"; the value is kept within the range.
  barre->setValue(std::min(ancienne, barre->maximum()));
}

long FenetreQt::ProgressMaximum() const {
  auto* barre = fenetre_.Progress();
  return barre ? barre->maximum() : 0;
}

void FenetreQt::ProgressValeur(long valeur) {
  auto* barre = fenetre_.Progress();
  if (!barre) return;
  // An estimate of steps that turns out short must not stop a run: the bar stays full.
  barre->setValue(std::clamp(VersInt(valeur), barre->minimum(), barre->maximum()));
}

long FenetreQt::ProgressValeur() const {
  auto* barre = fenetre_.Progress();
  return barre ? std::max(barre->value(), barre->minimum()) : 0;
}

void FenetreQt::ProgressVisible(bool visible) {
  if (auto* barre = fenetre_.Progress()) barre->setVisible(visible);
}

void FenetreQt::AjouteAuJournal(const std::string& texte) {
  auto* vue = fenetre_.SaisieAnalyse();
  if (!vue) return;
  QTextCursor curseur(vue->document());
  curseur.movePosition(QTextCursor::End);
  curseur.insertText(LignesDeVue(texte));

  // The view keeps its latest lines: the oldest are dropped a whole line at a time, down to
  // three quarters of the cap so that this does not run at every line.
  auto* document = vue->document();
  if (document->characterCount() > FrmUtiReorg::TailleMaximaleVue) {
    const int coupure = document->characterCount() - FrmUtiReorg::TailleMaximaleVue * 3 / 4;
    QTextBlock bloc = document->findBlock(coupure);
    int fin = bloc.isValid() ? bloc.position() : coupure;
    if (fin > 0) {
      QTextCursor debut(document);
      debut.setPosition(0);
      debut.setPosition(fin, QTextCursor::KeepAnchor);
      debut.removeSelectedText();
    }
  }

  vue->moveCursor(QTextCursor::End);
  vue->ensureCursorVisible();
  if (auto* barre = vue->verticalScrollBar()) barre->setValue(barre->maximum());
}

std::string FenetreQt::TexteJournal() const {
  auto* vue = fenetre_.SaisieAnalyse();
  if (!vue) return {};
  QString texte = vue->toPlainText();
  texte.replace(u'\n', QStringLiteral("\r\n"));
  return DepuisQString(texte);
}

void FenetreQt::Pointeur(PointeurSouris pointeur) {
  if (!QCoreApplication::instance()) return;
  if (pointeur == PointeurSouris::Sablier) {
    if (!sablier_) QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    sablier_ = true;
  } else if (sablier_) {
    QApplication::restoreOverrideCursor();
    sablier_ = false;
  }
}

void FenetreQt::Bip() { QApplication::beep(); }

bool FenetreQt::Coche(int index) const {
  if (index < 0 || index >= FrmUtiReorg::NombreCoches) return false;
  auto* coche = fenetre_.CocheOption(index);
  return coche && coche->isChecked();
}

bool FenetreQt::Case(const std::string& nom) const {
  QCheckBox* boite = nullptr;
  if (nom == cases::Copie)
    boite = fenetre_.CaseCopie();
  else if (nom == cases::LigneALigne)
    boite = fenetre_.CaseLigneALigne();
  else if (nom == cases::Avancee)
    boite = fenetre_.CaseAvancee();
  return boite && boite->isChecked();
}

std::string FenetreQt::Saisie(int index) const {
  if (index < 0 || index >= saisie::Nombre) return {};
  auto* saisie = fenetre_.SaisieBase(index);
  return saisie ? DepuisQString(saisie->text()) : std::string();
}

std::optional<int> FenetreQt::PresenteMessage(const MessageAnalyse& message) {
  return PresenteMessageQt(message, &fenetre_);
}

void FenetreQt::ActiveBouton(int index, bool actif) {
  if (index < 0 || index >= FrmUtiReorg::NombreBoutons) return;
  if (auto* bouton = fenetre_.BoutonFenetre(index)) bouton->setEnabled(actif);
}

void FenetreQt::AvancementEnErreur() { fenetre_.AvancementEnErreur(true); }

void FenetreQt::FermeFenetre() { fenetre_.Decharge(); }

void FenetreQt::AvancementDossiers(int numero, int nombre, const std::string& legende) {
  fenetre_.AvancementDossiers(numero, nombre, VersQString(legende));
}

std::string FenetreQt::Legende() const { return DepuisQString(fenetre_.windowTitle()); }

std::vector<std::string> FenetreQt::LegendesFenetres() const {
  std::vector<std::string> legendes;
  if (!QCoreApplication::instance()) return legendes;
  for (QWidget* fenetre : QApplication::topLevelWidgets())
    if (fenetre->isVisible() && !fenetre->windowTitle().isEmpty())
      legendes.push_back(DepuisQString(fenetre->windowTitle()));
  return legendes;
}

void FenetreQt::TraiteEvenements() {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

}  // namespace utireorg

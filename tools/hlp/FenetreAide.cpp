#include "hlp/FenetreAide.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace hlp {

QString TitreFenetreAide(const QString& titrePage) {
  return titrePage.isEmpty() ? QStringLiteral("Aide") : QStringLiteral("Aide - ") + titrePage;
}

FenetreAide::FenetreAide(const QString& dossierGuide, const QString& page, QWidget* parent)
    : QWidget(parent),
      navigateur_(new QTextBrowser(this)),
      sommaire_(new QPushButton(QStringLiteral("&Sommaire"), this)),
      precedent_(new QPushButton(QStringLiteral("&Précédent"), this)),
      suivant_(new QPushButton(QStringLiteral("S&uivant"), this)) {
  setObjectName(QStringLiteral("FenetreAide"));
  navigateur_->setObjectName(QStringLiteral("Navigateur"));
  // The guide's own pages open here; an address outside it goes to whatever the system has.
  navigateur_->setOpenLinks(true);
  navigateur_->setOpenExternalLinks(true);
  navigateur_->setSearchPaths({dossierGuide});

  auto* boutons = new QHBoxLayout;
  boutons->addWidget(sommaire_);
  boutons->addWidget(precedent_);
  boutons->addWidget(suivant_);
  boutons->addStretch(1);
  auto* colonne = new QVBoxLayout(this);
  colonne->addLayout(boutons);
  colonne->addWidget(navigateur_, 1);

  const QUrl accueil = QUrl::fromLocalFile(dossierGuide + QStringLiteral("/index.html"));
  connect(sommaire_, &QPushButton::clicked, navigateur_, [this, accueil] { navigateur_->setSource(accueil); });
  connect(precedent_, &QPushButton::clicked, navigateur_, &QTextBrowser::backward);
  connect(suivant_, &QPushButton::clicked, navigateur_, &QTextBrowser::forward);
  connect(navigateur_, &QTextBrowser::backwardAvailable, precedent_, &QPushButton::setEnabled);
  connect(navigateur_, &QTextBrowser::forwardAvailable, suivant_, &QPushButton::setEnabled);
  connect(navigateur_, &QTextBrowser::sourceChanged, this, [this] { MetAJourTitre(); });
  auto* fermer = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(fermer, &QShortcut::activated, this, &QWidget::close);

  precedent_->setEnabled(false);
  suivant_->setEnabled(false);
  navigateur_->setSource(QUrl::fromLocalFile(dossierGuide + QStringLiteral("/") + page));
  MetAJourTitre();
  resize(820, 640);
}

void FenetreAide::MetAJourTitre() { setWindowTitle(TitreFenetreAide(navigateur_->documentTitle())); }

}  // namespace hlp

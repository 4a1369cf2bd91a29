#include "ui/FrmMessage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "common/Arret.h"
#include "common/Touches.h"
#include "ui/BoutonStd.h"
#include "ui/Clavier.h"

namespace utireorg {
namespace {

bool messageAffiche = false;

constexpr auto ModificateursTenus = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

class Drapeau {
 public:
  explicit Drapeau(bool& drapeau) : drapeau_(drapeau) { drapeau_ = true; }
  ~Drapeau() { drapeau_ = false; }
  Drapeau(const Drapeau&) = delete;
  Drapeau& operator=(const Drapeau&) = delete;

 private:
  bool& drapeau_;
};

// Every message starts with the arrow; whatever pointer the caller showed comes back after.
class PointeurFleche {
 public:
  PointeurFleche() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
  ~PointeurFleche() { QApplication::restoreOverrideCursor(); }
  PointeurFleche(const PointeurFleche&) = delete;
  PointeurFleche& operator=(const PointeurFleche&) = delete;
};

// A word wider than the text's width (a long path) cannot wrap and would be cut at the form's
// edge; a zero-width space between its characters lets it break anywhere without showing.
QString TexteCoupable(const QString& texte, const QFontMetrics& mesure, int largeurMax) {
  static const QRegularExpression mots(QStringLiteral("[^\\s]+"));
  QString resultat;
  qsizetype fin = 0;
  auto it = mots.globalMatch(texte);
  while (it.hasNext()) {
    auto mot = it.next();
    resultat += texte.mid(fin, mot.capturedStart() - fin);
    fin = mot.capturedEnd();
    const QString contenu = mot.captured();
    if (mesure.horizontalAdvance(contenu) <= largeurMax) {
      resultat += contenu;
      continue;
    }
    for (qsizetype i = 0; i < contenu.size(); ++i) {
      resultat += contenu.at(i);
      // Never between the halves of a surrogate pair.
      if (i + 1 < contenu.size() && !contenu.at(i).isHighSurrogate()) resultat += QChar(0x200B);
    }
  }
  resultat += texte.mid(fin);
  return resultat;
}

void Bip() {
  if (ReglagesMessage().bip)
    ReglagesMessage().bip();
  else
    QApplication::beep();
}

}  // namespace

ReglagesMessageQt& ReglagesMessage() {
  static ReglagesMessageQt reglages;
  return reglages;
}

FrmMessage::FrmMessage(const MessageAnalyse& message, QWidget* parent)
    : QDialog(parent),
      chargement_(std::chrono::steady_clock::now()),
      antirebond_(ReglagesMessage().antirebond),
      aide_(ReglagesMessage().aide) {
  setObjectName(QStringLiteral("frmMessage"));
  setWindowTitle(VersQString(message.titre));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setModal(true);
  bips_ = std::max(0, message.bips);
  contexteAide_ = message.contexteAide;
  DefinitContexteAideFenetre(this, contexteAide_);

  icone_ = new QLabel(this);
  icone_->setObjectName(QStringLiteral("Icone"));
  icone_->setGeometry(MargeIcone, MargeIcone, CoteIcone, CoteIcone);
  setIndexImageSel(message.icone);

  lbl_ = new QLabel(this);
  lbl_->setObjectName(QStringLiteral("lbl"));
  // Plain text: "&" is a character of the message, never an access key.
  lbl_->setTextFormat(Qt::PlainText);
  lbl_->setTextInteractionFlags(Qt::NoTextInteraction);
  lbl_->setText(VersQString(message.texte));

  std::vector<BoutonMessage> rangee = message.boutons;
  if (rangee.empty()) {
    // A form without buttons could never be answered nor closed.
    rangee.push_back({"&Ok", true, true, false});
  }
  for (std::size_t k = 0; k < rangee.size(); ++k) {
    const auto& decrit = rangee[k];
    auto* bouton = new BoutonStd(VersQString(decrit.legende), this);
    bouton->setObjectName(QStringLiteral("cmd%1").arg(k));
    // Enter belongs to the form (it presses the focused button), not to a default button.
    bouton->setAutoDefault(false);
    bouton->setDefault(false);
    bouton->installEventFilter(this);
    const int index = static_cast<int>(k);
    connect(bouton, &QPushButton::clicked, this, [this, index] { BoutonPresse(index); });
    boutons_.push_back(bouton);
    aideBouton_.push_back(decrit.aide || decrit.legende == "Aide");
    if (decrit.focus && indexFocus_ < 0) indexFocus_ = index;
    if (decrit.annulation && indexAnnulation_ < 0 && !aideBouton_.back())
      indexAnnulation_ = index;
  }
  Dispose();
  if (indexFocus_ >= 0) boutons_[indexFocus_]->setFocus(Qt::OtherFocusReason);
}

FrmMessage::~FrmMessage() = default;

void FrmMessage::setIndexImageSel(int index) {
  indexImageSel_ = (index >= 1 && index <= 3) ? index : 0;
  if (indexImageSel_ == 0) {
    icone_->clear();
    return;
  }
  static constexpr QStyle::StandardPixmap images[] = {
      QStyle::SP_MessageBoxCritical, QStyle::SP_MessageBoxWarning, QStyle::SP_MessageBoxQuestion};
  icone_->setPixmap(style()->standardIcon(images[indexImageSel_ - 1], nullptr, this)
                        .pixmap(CoteIcone, CoteIcone));
}

void FrmMessage::Dispose() {
  // The text on one line first; past the maximum width it wraps and grows downwards.
  lbl_->setWordWrap(false);
  lbl_->adjustSize();
  lbl_->move(GaucheTexte, MargeIcone);
  const int largeurMax = PixelsDeTwipsX(this, LargeurTexteMaxTwips);
  if (lbl_->width() > largeurMax) {
    lbl_->setWordWrap(true);
    lbl_->setText(TexteCoupable(lbl_->text(), lbl_->fontMetrics(), largeurMax));
    lbl_->resize(largeurMax, lbl_->heightForWidth(largeurMax));
  }
  int largeur = lbl_->x() + lbl_->width() + PixelsDeTwipsX(this, MargeDroiteTwips);

  const QFontMetrics mesure(font());
  int largeurTexte = 0;
  int hauteurBouton = 0;
  for (auto* bouton : boutons_) {
    largeurTexte = std::max(largeurTexte, mesure.size(Qt::TextShowMnemonic, bouton->text()).width());
    hauteurBouton = std::max(hauteurBouton, bouton->sizeHint().height());
  }
  const int n = static_cast<int>(boutons_.size());
  const int largeurBouton = largeurTexte + MargeBouton;
  const int largeurRangee = n * largeurBouton + (n - 1) * EcartBoutons;
  largeur = std::max(largeur, largeurRangee + 2 * lbl_->x());
  // The title bar shows the whole title: its text, in the bold the window managers draw it in,
  // beside the icon and the buttons of the bar.
  QFont gras = QApplication::font();
  gras.setBold(true);
  largeur = std::max(largeur, QFontMetrics(gras).horizontalAdvance(windowTitle()) + MargeBarreTitre);

  const int hautRangee =
      std::max(lbl_->y() + lbl_->height(), icone_->y() + icone_->height()) + EcartRangee;
  const int gauche = (largeur - largeurRangee) / 2;
  for (int i = 0; i < n; ++i)
    boutons_[i]->setGeometry(gauche + i * (largeurBouton + EcartBoutons), hautRangee, largeurBouton,
                             hauteurBouton);
  setFixedSize(largeur, hautRangee + hauteurBouton + PixelsDeTwipsY(this, MargeBasTwips));
}

std::optional<int> FrmMessage::Resultat() const {
  if (presse_) return *presse_ + 1;
  if (indexAnnulation_ >= 0) return indexAnnulation_ + 1;
  return std::nullopt;
}

std::optional<int> FrmMessage::ResultatSansReponse(const MessageAnalyse& message) {
  for (std::size_t k = 0; k < message.boutons.size(); ++k) {
    const auto& bouton = message.boutons[k];
    if (bouton.annulation && !bouton.aide && bouton.legende != "Aide") return static_cast<int>(k) + 1;
  }
  if (message.boutons.empty()) return 1;  // the "Ok" put in their place is the cancel button
  return std::nullopt;
}

void FrmMessage::PlaceFocusInitial() {
  focusPlace_ = true;
  if (indexFocus_ >= 0) boutons_[indexFocus_]->setFocus(Qt::ActiveWindowFocusReason);
}

bool FrmMessage::event(QEvent* evenement) {
  if (evenement->type() == QEvent::WindowActivate && !focusPlace_) PlaceFocusInitial();
  return QDialog::event(evenement);
}

void FrmMessage::showEvent(QShowEvent* evenement) {
  QDialog::showEvent(evenement);
  activateWindow();
  if (!focusPlace_) PlaceFocusInitial();
}

bool FrmMessage::eventFilter(QObject* objet, QEvent* evenement) {
  if (evenement->type() != QEvent::KeyPress || redistribution_) return QDialog::eventFilter(objet, evenement);
  // The form sees every key before its buttons.
  auto* touche = static_cast<QKeyEvent*>(evenement);
  if (TraiteTouche(touche)) return true;
  // The button gets the key now; if it lets it go, it climbs to the form, which has already
  // seen it and must not handle it twice.
  {
    Drapeau redistribution(redistribution_);
    QCoreApplication::sendEvent(objet, evenement);
  }
  evenement->accept();
  return true;
}

void FrmMessage::keyPressEvent(QKeyEvent* evenement) {
  if (redistribution_ || !TraiteTouche(evenement)) {
    // Not QDialog's handler: its Escape and Enter would close the form behind the buttons' back.
    QWidget::keyPressEvent(evenement);
    return;
  }
  evenement->accept();
}

bool FrmMessage::TraiteTouche(QKeyEvent* evenement) {
  const auto modificateurs = evenement->modifiers();
  const int code = CodeDeToucheQt(evenement->key(), modificateurs);
  SequenceTouches(this, code, modificateurs);

  const bool sansModificateur = !(modificateurs & ModificateursTenus);
  const bool rebond = std::chrono::steady_clock::now() - chargement_ < antirebond_;
  if (sansModificateur) {
    switch (code) {
      case CodeTouche::Echap:
        if (!rebond && indexAnnulation_ >= 0) CliqueBouton(boutons_[indexAnnulation_]);
        return true;
      case CodeTouche::F1:
        if (!rebond) OuvreAideFormulaire();
        return true;
      case CodeTouche::Entree:
        if (!rebond) {
          auto* actif = qobject_cast<QPushButton*>(focusWidget());
          if (actif && actif->parentWidget() == this) CliqueBouton(actif);
        }
        return true;
      case CodeTouche::F10:
        return true;
      default:
        break;
    }
  }

  // Access letters count at once, even while the other keys are held back.
  if (!(modificateurs & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    const QString texte = evenement->text().toUpper();
    if (texte.size() == 1 && texte.at(0).isPrint()) {
      for (std::size_t k = 0; k < boutons_.size(); ++k) {
        if (boutons_[k]->LettreAcces() == texte.at(0)) {
          BoutonPresse(static_cast<int>(k));
          return true;
        }
      }
    }
  }
  // While the delay lasts no key reaches the buttons (a Space would press the focused one).
  return sansModificateur && rebond;
}

void FrmMessage::BoutonPresse(int index) {
  if (index < 0 || index >= static_cast<int>(boutons_.size())) return;
  if (aideBouton_[index]) {
    OuvreAideFormulaire();
    return;
  }
  presse_ = index;
  fermetureAutorisee_ = true;
  done(QDialog::Accepted);
}

void FrmMessage::OuvreAideFormulaire() {
  if (aide_)
    aide_(contexteAide_);
  else
    OuvreAide(contexteAide_);
}

void FrmMessage::closeEvent(QCloseEvent* evenement) {
  focusPlace_ = false;
  if (fermetureAutorisee_) {
    QDialog::closeEvent(evenement);
    return;
  }
  // The close box answers as Escape does, delay included; with no cancel button it does nothing.
  evenement->ignore();
  EnvoieTouches("{ESC}", false, this);
}

std::optional<int> PresenteMessageQt(const MessageAnalyse& message, QWidget* parent) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return std::nullopt;
  if (messageAffiche) return std::nullopt;
  Drapeau affiche(messageAffiche);
  try {
    PointeurFleche fleche;
    // On the heap: a parent destroyed during the wait takes the form with it.
    QPointer<FrmMessage> formulaire = new FrmMessage(message, parent);
    for (int i = 0; i < formulaire->NombreBips(); ++i) Bip();
    // A stop asked meanwhile (a signal, the session ending) answers as a cancel would: the run
    // must reach its safe point, not wait for an answer nobody will give.
    QTimer arret;
    arret.setInterval(100);
    QObject::connect(&arret, &QTimer::timeout, formulaire, [formulaire] {
      if (ArretDemande() != RaisonArret::Aucune && formulaire) formulaire->reject();
    });
    arret.start();
    formulaire->exec();
    arret.stop();
    if (!formulaire) return FrmMessage::ResultatSansReponse(message);
    auto resultat = formulaire->Resultat();
    delete formulaire.data();
    return resultat;
  } catch (const std::exception& erreur) {
    QApplication::beep();
    QMessageBox boite(QMessageBox::NoIcon, VersQString(TitreApplication()),
                      QStringLiteral("Message : Erreur ") + QString::fromUtf8(erreur.what()),
                      QMessageBox::Ok, parent);
    boite.exec();
    return std::nullopt;
  }
}

bool MessageQtAffiche() { return messageAffiche; }

}  // namespace utireorg

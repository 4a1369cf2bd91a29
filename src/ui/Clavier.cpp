#include "ui/Clavier.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>
#include <QXmlStreamWriter>

#include "common/Touches.h"
#include "ui/BoutonStd.h"
#include "ui/FenetreQtOutils.h"

namespace utireorg {
namespace {

struct Correspondance {
  int code;
  int cleQt;
  bool pave;
};

// Letters, digits and function keys follow a rule (see below); the rest is listed here. The
// first line of a code is the key it is sent as.
constexpr Correspondance correspondances[] = {
    {CodeTouche::Retour, Qt::Key_Backspace, false},
    {CodeTouche::Tabulation, Qt::Key_Tab, false},
    {CodeTouche::Tabulation, Qt::Key_Backtab, false},
    {CodeTouche::Entree, Qt::Key_Return, false},
    {CodeTouche::Entree, Qt::Key_Enter, true},
    {CodeTouche::Majuscule, Qt::Key_Shift, false},
    {CodeTouche::Controle, Qt::Key_Control, false},
    {CodeTouche::Alt, Qt::Key_Alt, false},
    {CodeTouche::Pause, Qt::Key_Pause, false},
    {CodeTouche::VerrMaj, Qt::Key_CapsLock, false},
    {CodeTouche::Echap, Qt::Key_Escape, false},
    {CodeTouche::Espace, Qt::Key_Space, false},
    {CodeTouche::PagePrecedente, Qt::Key_PageUp, false},
    {CodeTouche::PageSuivante, Qt::Key_PageDown, false},
    {CodeTouche::Fin, Qt::Key_End, false},
    {CodeTouche::Debut, Qt::Key_Home, false},
    {CodeTouche::Gauche, Qt::Key_Left, false},
    {CodeTouche::Haut, Qt::Key_Up, false},
    {CodeTouche::Droite, Qt::Key_Right, false},
    {CodeTouche::Bas, Qt::Key_Down, false},
    {CodeTouche::ImprimeEcran, Qt::Key_Print, false},
    {CodeTouche::Inser, Qt::Key_Insert, false},
    {CodeTouche::Suppr, Qt::Key_Delete, false},
    {CodeTouche::Aide, Qt::Key_Help, false},
    {106, Qt::Key_Asterisk, true},
    {CodeTouche::PavePlus, Qt::Key_Plus, true},
    {CodeTouche::PaveMoins, Qt::Key_Minus, true},
    {110, Qt::Key_Period, true},
    {110, Qt::Key_Comma, true},
    {111, Qt::Key_Slash, true},
    {CodeTouche::VerrNum, Qt::Key_NumLock, false},
    {CodeTouche::VerrDefil, Qt::Key_ScrollLock, false},
};

constexpr int PaveZero = 96;  // keypad digits 96 to 105
constexpr int DernierCodeFonction = CodeTouche::F1 + 23;  // F24

Qt::KeyboardModifier ModificateurDeCode(int code) {
  switch (code) {
    case CodeTouche::Majuscule: return Qt::ShiftModifier;
    case CodeTouche::Controle: return Qt::ControlModifier;
    case CodeTouche::Alt: return Qt::AltModifier;
    default: return Qt::NoModifier;
  }
}

constexpr auto ModificateursTenus = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

// The text a key types, so that synthesized keys fill input fields as real ones would.
QString TexteDeTouche(int code, Qt::KeyboardModifiers modificateurs) {
  if (modificateurs & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return {};
  if (code >= 'A' && code <= 'Z') {
    QChar lettre(code);
    return (modificateurs & Qt::ShiftModifier) ? QString(lettre) : QString(lettre.toLower());
  }
  if ((code >= '0' && code <= '9') || code == CodeTouche::Espace) return QString(QChar(code));
  if (code >= PaveZero && code <= PaveZero + 9) return QString(QChar('0' + code - PaveZero));
  switch (code) {
    case CodeTouche::Entree: return QStringLiteral("\r");
    case CodeTouche::Tabulation: return QStringLiteral("\t");
    case CodeTouche::Retour: return QStringLiteral("\b");
    case CodeTouche::Echap: return QStringLiteral("\x1b");
    case CodeTouche::PavePlus: return QStringLiteral("+");
    case CodeTouche::PaveMoins: return QStringLiteral("-");
    default: return {};
  }
}

// A synthesized key waiting for its turn in the event queue.
class ToucheDifferee : public QEvent {
 public:
  static QEvent::Type TypeEvenement() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  ToucheDifferee(QWidget* cible, QEvent::Type type, int cle, Qt::KeyboardModifiers modificateurs,
                 QString texte)
      : QEvent(TypeEvenement()),
        cible_(cible),
        cibleDonnee_(cible != nullptr),
        type_(type),
        cle_(cle),
        modificateurs_(modificateurs),
        texte_(std::move(texte)) {}

  void Livre() const {
    QWidget* destinataire = nullptr;
    if (cibleDonnee_) {
      if (!cible_) return;  // the window is gone: its keys go nowhere else
      destinataire = cible_->focusWidget() ? cible_->focusWidget() : cible_.data();
    } else {
      destinataire = QApplication::focusWidget();
      if (!destinataire) destinataire = QApplication::activeWindow();
    }
    if (!destinataire) return;
    QKeyEvent evenement(type_, cle_, modificateurs_, texte_);
    QCoreApplication::sendEvent(destinataire, &evenement);
  }

 private:
  QPointer<QWidget> cible_;
  bool cibleDonnee_;
  QEvent::Type type_;
  int cle_;
  Qt::KeyboardModifiers modificateurs_;
  QString texte_;
};

// The focused widget is looked up when each key is delivered, not when it is queued: after a
// Tab the next keys go where the focus went, as typed keys would.
class RelaisTouches : public QObject {
 public:
  using QObject::QObject;
  bool event(QEvent* evenement) override {
    if (evenement->type() == ToucheDifferee::TypeEvenement()) {
      static_cast<ToucheDifferee*>(evenement)->Livre();
      return true;
    }
    return QObject::event(evenement);
  }
};

RelaisTouches* Relais() {
  static QPointer<RelaisTouches> relais;
  if (!relais) relais = new RelaisTouches(QCoreApplication::instance());
  return relais;
}

bool occupeToucheFonction = false;
bool occupeDonneFocus = false;

class Occupation {
 public:
  explicit Occupation(bool& drapeau) : drapeau_(drapeau) { drapeau_ = true; }
  ~Occupation() { drapeau_ = false; }
  Occupation(const Occupation&) = delete;
  Occupation& operator=(const Occupation&) = delete;

 private:
  bool& drapeau_;
};

QString IndiceDuBouton(const QPushButton* bouton) {
  if (auto* standard = qobject_cast<const BoutonStd*>(bouton)) return standard->Indice();
  return VersQString(IndiceDeLegende(bouton->text().toStdString()));
}

QString TexteDuControle(const QWidget* controle) {
  for (const char* propriete : {"text", "title", "currentText", "plainText"}) {
    auto valeur = controle->property(propriete);
    if (valeur.isValid() && valeur.canConvert<QString>()) {
      auto texte = valeur.toString();
      constexpr qsizetype LongueurMaximale = 1000;  // a journal view must not fill the report
      if (texte.size() > LongueurMaximale) texte.truncate(LongueurMaximale);
      return texte;
    }
  }
  return {};
}

QString Booleen(bool valeur) { return valeur ? QStringLiteral("true") : QStringLiteral("false"); }

}  // namespace

int CodeDeToucheQt(int cleQt, Qt::KeyboardModifiers modificateurs) {
  bool pave = modificateurs.testFlag(Qt::KeypadModifier);
  if (cleQt >= Qt::Key_A && cleQt <= Qt::Key_Z) return cleQt - Qt::Key_A + 'A';
  if (cleQt >= Qt::Key_0 && cleQt <= Qt::Key_9)
    return pave ? PaveZero + cleQt - Qt::Key_0 : cleQt - Qt::Key_0 + '0';
  if (cleQt >= Qt::Key_F1 && cleQt <= Qt::Key_F24) return CodeTouche::F1 + cleQt - Qt::Key_F1;
  // Keypad keys are told apart by the modifier; Enter is one key wherever it lies.
  for (const auto& c : correspondances)
    if (c.cleQt == cleQt && (c.pave == pave || c.code == CodeTouche::Entree)) return c.code;
  return 0;
}

std::optional<ToucheQt> ToucheQtDeCode(int code) {
  if (code >= 'A' && code <= 'Z') return ToucheQt{static_cast<Qt::Key>(Qt::Key_A + code - 'A'), false};
  if (code >= '0' && code <= '9') return ToucheQt{static_cast<Qt::Key>(Qt::Key_0 + code - '0'), false};
  if (code >= PaveZero && code <= PaveZero + 9)
    return ToucheQt{static_cast<Qt::Key>(Qt::Key_0 + code - PaveZero), true};
  if (code >= CodeTouche::F1 && code <= DernierCodeFonction)
    return ToucheQt{static_cast<Qt::Key>(Qt::Key_F1 + code - CodeTouche::F1), false};
  for (const auto& c : correspondances)
    if (c.code == code) return ToucheQt{static_cast<Qt::Key>(c.cleQt), c.pave};
  return std::nullopt;
}

void CliqueBouton(QAbstractButton* bouton) {
  if (bouton) QMetaObject::invokeMethod(bouton, &QAbstractButton::click, Qt::QueuedConnection);
}

bool ToucheFonction(QWidget* formulaire, int& code, Qt::KeyboardModifiers modificateurs) {
  if (!formulaire || occupeToucheFonction) return false;
  if (modificateurs & ModificateursTenus) return false;
  if (code == CodeTouche::F1) {
    code = 0;
    OuvreAide(ContexteAideFenetre(formulaire));
    return true;
  }
  const int touche = code;
  bool utilisee = false;
  if (code == CodeTouche::F10) {
    code = 0;  // F10 would otherwise open the window menu
    utilisee = true;
  }
  if (!NomToucheFonction(touche)) return utilisee;

  Occupation occupation(occupeToucheFonction);
  QPointer<QWidget> fenetre(formulaire);
  const auto boutons = formulaire->findChildren<QPushButton*>();
  for (QPushButton* candidat : boutons) {
    if (!candidat->objectName().startsWith(QStringLiteral("Bouton"))) continue;
    if (!IndiceCorrespond(IndiceDuBouton(candidat).toStdString(), touche)) continue;
    if (!candidat->isEnabled() || !candidat->isVisibleTo(formulaire)) continue;

    // Pending events run before the press (a field being left may still validate); the
    // window or the button may be gone afterwards.
    QPointer<QPushButton> bouton(candidat);
    QCoreApplication::processEvents();
    if (!fenetre || !bouton) return true;
    bouton->setFocus(Qt::ShortcutFocusReason);
    QCoreApplication::processEvents();
    if (fenetre && bouton && bouton->window()->focusWidget() == bouton) CliqueBouton(bouton);
    return true;
  }
  return utilisee;
}

void DonneFocus(QWidget* controle, int onglet) {
  if (occupeDonneFocus || !controle) return;
  if (!controle->isVisibleTo(controle->window()) || !controle->isEnabled()) return;
  auto* onglets = qobject_cast<QTabWidget*>(controle);
  if (onglet < 0 || !onglets) {
    controle->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (onglet >= onglets->count() || !onglets->isTabVisible(onglet) || !onglets->isTabEnabled(onglet))
    return;
  QPointer<QTabWidget> garde(onglets);
  {
    Occupation occupation(occupeDonneFocus);
    QCoreApplication::processEvents();
  }
  if (garde && onglet < garde->count()) garde->setCurrentIndex(onglet);
}

void EnvoieTouches(std::string_view texte, bool attendre, QWidget* cible) {
  if (!QCoreApplication::instance()) return;
  // Synthesized events never reach the keyboard's lock states, so Caps Lock, Num Lock and
  // Scroll Lock are as they were once the keys are sent, with nothing to put back.
  auto* relais = Relais();
  Qt::KeyboardModifiers modificateurs;
  for (const auto& evenement : AnalyseTouches(texte)) {
    auto touche = ToucheQtDeCode(evenement.code);
    if (!touche) continue;
    // A modifier key's own event carries the state before it: QKeyEvent::modifiers() flips
    // that key's flag to report the state after it, as the platforms deliver them.
    auto modificateursEvenement = modificateurs;
    if (auto bit = ModificateurDeCode(evenement.code); bit != Qt::NoModifier) {
      if (evenement.appui)
        modificateurs |= bit;
      else
        modificateurs &= ~Qt::KeyboardModifiers(bit);
    }
    if (touche->pave) modificateursEvenement |= Qt::KeypadModifier;
    QCoreApplication::postEvent(
        relais, new ToucheDifferee(cible, evenement.appui ? QEvent::KeyPress : QEvent::KeyRelease,
                                   touche->cle, modificateursEvenement,
                                   evenement.appui ? TexteDeTouche(evenement.code, modificateurs)
                                                   : QString()));
  }
  if (attendre) {
    QCoreApplication::sendPostedEvents(relais);
    QCoreApplication::processEvents();
  }
}

int SequenceTouches(QWidget* formulaire, int code, Qt::KeyboardModifiers modificateurs) {
  static DetecteurSequence detecteur;
  int mode = detecteur.Touche(code, modificateurs.testFlag(Qt::ShiftModifier),
                              modificateurs.testFlag(Qt::ControlModifier),
                              modificateurs.testFlag(Qt::AltModifier));
  if (mode == 0) return 0;
  QWidget* fenetre = formulaire ? formulaire->window() : QApplication::activeWindow();
  if (!fenetre) return 0;
  return EcritRapportFormulaire(fenetre, mode) ? mode : 0;
}

bool EcritRapportFormulaire(QWidget* formulaire, int mode, const QString& chemin) {
  if (!formulaire) return false;
  QFile fichier(chemin);
  if (!fichier.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  QXmlStreamWriter xml(&fichier);
  xml.setAutoFormatting(true);
  xml.writeStartDocument();
  xml.writeStartElement(QStringLiteral("RapportFormulaire"));
  xml.writeAttribute(QStringLiteral("mode"), QString::number(mode));
  xml.writeAttribute(QStringLiteral("date"), QDateTime::currentDateTime().toString(Qt::ISODate));
  xml.writeStartElement(QStringLiteral("Formulaire"));
  xml.writeAttribute(QStringLiteral("nom"), formulaire->objectName());
  xml.writeAttribute(QStringLiteral("classe"), QString::fromLatin1(formulaire->metaObject()->className()));
  xml.writeAttribute(QStringLiteral("legende"), formulaire->windowTitle());
  xml.writeAttribute(QStringLiteral("largeur"), QString::number(formulaire->width()));
  xml.writeAttribute(QStringLiteral("hauteur"), QString::number(formulaire->height()));
  xml.writeAttribute(QStringLiteral("contexteAide"), QString::number(ContexteAideFenetre(formulaire)));
  for (QWidget* controle : formulaire->findChildren<QWidget*>()) {
    // Qt's own inner pieces (viewports, scroll bars of views) are not controls of the design.
    if (controle->objectName().startsWith(QStringLiteral("qt_"))) continue;
    xml.writeStartElement(QStringLiteral("Controle"));
    xml.writeAttribute(QStringLiteral("nom"), controle->objectName());
    xml.writeAttribute(QStringLiteral("classe"), QString::fromLatin1(controle->metaObject()->className()));
    xml.writeAttribute(QStringLiteral("texte"), TexteDuControle(controle));
    xml.writeAttribute(QStringLiteral("actif"), Booleen(controle->isEnabled()));
    xml.writeAttribute(QStringLiteral("visible"), Booleen(controle->isVisibleTo(formulaire)));
    xml.writeEndElement();
  }
  xml.writeEndElement();
  xml.writeEndElement();
  xml.writeEndDocument();
  fichier.close();
  return !xml.hasError() && fichier.error() == QFileDevice::NoError;
}

}  // namespace utireorg

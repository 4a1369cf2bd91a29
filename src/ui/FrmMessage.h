// The message form: one modal dialog per message, sized to its text and buttons, that answers
// with the button the user pressed.
#pragma once

#include <QDialog>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "common/InterfaceFenetre.h"
#include "ui/FenetreQtOutils.h"

class QLabel;

namespace utireorg {

class BoutonStd;

// What every new message form starts with; tests change them to drive the form.
struct ReglagesMessageQt {
  // Escape, Enter, F1 and F10 pressed this soon after the form appears are dropped: they were
  // meant for the window underneath, which the user was typing into.
  std::chrono::milliseconds antirebond{400};
  OuvertureAide aide;          // empty: OuvreAide
  std::function<void()> bip;   // empty: QApplication::beep
};
ReglagesMessageQt& ReglagesMessage();

class FrmMessage : public QDialog {
  Q_OBJECT

 public:
  // Design of the form, in twips where the window designs keep them and in pixels otherwise.
  static constexpr int LargeurTexteMaxTwips = 6000;
  static constexpr int MargeDroiteTwips = 400;
  // The former 600-twip allowance under the buttons also covered the title bar and borders,
  // which the window manager now adds around the client area.
  static constexpr int MargeBasTwips = 240;
  static constexpr int MargeBouton = 33;   // added to the widest caption
  static constexpr int EcartBoutons = 10;
  // Beside the title in the title bar: the icon, the close box and the margins of the bar.
  static constexpr int MargeBarreTitre = 120;
  static constexpr int EcartRangee = 20;   // between the text (or icon) and the buttons
  static constexpr int CoteIcone = 32;
  static constexpr int MargeIcone = 12;    // left and top of the icon, and between it and the text
  static constexpr int GaucheTexte = MargeIcone + CoteIcone + MargeIcone;

  explicit FrmMessage(const MessageAnalyse& message, QWidget* parent = nullptr);
  ~FrmMessage() override;

  // 0 none, 1 error, 2 warning, 3 question; setting it repaints the icon.
  int IndexImageSel() const { return indexImageSel_; }
  void setIndexImageSel(int index);

  long ContexteAide() const { return contexteAide_; }
  int NombreBips() const { return bips_; }
  void DefinitOuvertureAide(OuvertureAide aide) { aide_ = std::move(aide); }
  void DefinitAntirebond(std::chrono::milliseconds delai) { antirebond_ = delai; }

  // The 1-based number of the pressed button; with none pressed, the cancel button's, or
  // nothing when the row has no cancel button.
  std::optional<int> Resultat() const;

  QLabel* Etiquette() const { return lbl_; }
  QLabel* Icone() const { return icone_; }
  const std::vector<BoutonStd*>& Boutons() const { return boutons_; }

  // The answer of a form that was closed without any button pressed.
  static std::optional<int> ResultatSansReponse(const MessageAnalyse& message);

 protected:
  bool event(QEvent* evenement) override;
  void showEvent(QShowEvent* evenement) override;
  void keyPressEvent(QKeyEvent* evenement) override;
  void closeEvent(QCloseEvent* evenement) override;
  bool eventFilter(QObject* objet, QEvent* evenement) override;

 private:
  void Dispose();
  void PlaceFocusInitial();
  bool TraiteTouche(QKeyEvent* evenement);
  void BoutonPresse(int index);
  void OuvreAideFormulaire();

  QLabel* lbl_ = nullptr;
  QLabel* icone_ = nullptr;
  std::vector<BoutonStd*> boutons_;
  std::vector<bool> aideBouton_;
  int indexImageSel_ = 0;
  int bips_ = 0;
  long contexteAide_ = 0;
  int indexFocus_ = -1;
  int indexAnnulation_ = -1;
  std::optional<int> presse_;  // 0-based
  bool focusPlace_ = false;
  bool fermetureAutorisee_ = false;
  bool redistribution_ = false;
  std::chrono::steady_clock::time_point chargement_;
  std::chrono::milliseconds antirebond_;
  OuvertureAide aide_;
};

// Shows a message modally and returns the 1-based number of the button pressed (see
// FrmMessage::Resultat). Nothing when the form could not be shown — no application, or another
// message is still on screen: the modal wait processes events, and a second message requested
// meanwhile is dropped rather than stacked on the first.
std::optional<int> PresenteMessageQt(const MessageAnalyse& message, QWidget* parent);
bool MessageQtAffiche();

}  // namespace utireorg

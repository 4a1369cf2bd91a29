// The push button of the windows. Its caption may carry a key hint after a ";": "&Lancer;F2"
// shows "&Lancer" (access letter L) with "F2" beside it, and the function key F2 presses it.
#pragma once

#include <QPushButton>
#include <QString>
#include <string_view>

namespace utireorg {

class BoutonStd : public QPushButton {
  Q_OBJECT

 public:
  explicit BoutonStd(QWidget* parent = nullptr);
  explicit BoutonStd(const QString& legende, QWidget* parent = nullptr);

  void setLegende(const QString& legende);
  void setLegende(std::string_view legende);
  // The caption as given, hint included ("&Lancer;F2").
  QString Legende() const { return legende_; }
  // The caption without its hint ("&Lancer").
  QString Texte() const { return texte_; }
  // The hint, trimmed and upper-cased ("F2"); empty when the caption has none.
  QString Indice() const { return indice_; }
  // The access letter in upper case (the character after the first "&"), or a null QChar.
  QChar LettreAcces() const;

  // What the button shows: the text, then the hint in brackets.
  static QString TexteAffiche(const QString& texte, const QString& indice);

 private:
  QString legende_;
  QString texte_;
  QString indice_;
};

}  // namespace utireorg

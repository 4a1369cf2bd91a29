#include "ui/BoutonStd.h"

#include "common/Touches.h"
#include "ui/FenetreQtOutils.h"

namespace utireorg {

BoutonStd::BoutonStd(QWidget* parent) : QPushButton(parent) {}

BoutonStd::BoutonStd(const QString& legende, QWidget* parent) : QPushButton(parent) {
  setLegende(legende);
}

void BoutonStd::setLegende(std::string_view legende) { setLegende(VersQString(legende)); }

void BoutonStd::setLegende(const QString& legende) {
  legende_ = legende;
  auto brut = legende.toStdString();
  texte_ = VersQString(TexteDeLegende(brut));
  indice_ = VersQString(IndiceDeLegende(brut));
  setText(TexteAffiche(texte_, indice_));
}

QChar BoutonStd::LettreAcces() const {
  auto pos = texte_.indexOf(u'&');
  if (pos < 0 || pos + 1 >= texte_.size()) return {};
  return texte_.at(pos + 1).toUpper();
}

QString BoutonStd::TexteAffiche(const QString& texte, const QString& indice) {
  if (indice.isEmpty()) return texte;
  // A "&" in the hint would steal the access letter of the text.
  QString echappe = indice;
  echappe.replace(u'&', QStringLiteral("&&"));
  return texte + QStringLiteral("  [") + echappe + u']';
}

}  // namespace utireorg

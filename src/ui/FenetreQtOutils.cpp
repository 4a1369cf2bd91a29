#include "ui/FenetreQtOutils.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QVariant>
#include <QWidget>
#include <cmath>

#include "messages/Aide.h"

namespace utireorg {
namespace {

constexpr double TwipsParPouce = 1440.0;
constexpr const char* ProprieteContexteAide = "contexteAide";

OuvertureAide& Ouverture() {
  static OuvertureAide ouverture;
  return ouverture;
}

int Pixels(int twips, int dpi) {
  if (dpi <= 0) dpi = 96;
  return static_cast<int>(std::lround(twips * dpi / TwipsParPouce));
}

}  // namespace

int PixelsDeTwipsX(const QWidget* fenetre, int twips) {
  return Pixels(twips, fenetre ? fenetre->logicalDpiX() : 96);
}

int PixelsDeTwipsY(const QWidget* fenetre, int twips) {
  return Pixels(twips, fenetre ? fenetre->logicalDpiY() : 96);
}

QStringList FamillesFixes() {
  return {QStringLiteral("Courier New"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
          QStringLiteral("Noto Sans Mono")};
}

QFont PoliceFixe(const QStringList& familles) {
  auto fixe = [](QFont police) {
    police.setStyleHint(QFont::Monospace);
    police.setFixedPitch(true);
    return police;
  };
  for (const QString& famille : familles)
    if (QFont police = fixe(QFont(famille)); QFontInfo(police).fixedPitch()) return police;
  QFont systeme = fixe(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  if (QFontInfo(systeme).fixedPitch()) return systeme;
  for (const QString& famille : QFontDatabase::families())
    if (QFontDatabase::isFixedPitch(famille)) return fixe(QFont(famille));
  return systeme;
}

long ContexteAideFenetre(const QWidget* fenetre) {
  if (!fenetre) return 0;
  bool ok = false;
  auto contexte = fenetre->property(ProprieteContexteAide).toLongLong(&ok);
  return ok ? static_cast<long>(contexte) : 0;
}

void DefinitContexteAideFenetre(QWidget* fenetre, long contexte) {
  if (fenetre) fenetre->setProperty(ProprieteContexteAide, QVariant::fromValue<qlonglong>(contexte));
}

void DefinitOuvertureAide(OuvertureAide ouverture) { Ouverture() = std::move(ouverture); }

void OuvreAide(long contexte) {
  if (Ouverture()) {
    Ouverture()(contexte);
    return;
  }
  AfficheAide(contexte);
}

}  // namespace utireorg

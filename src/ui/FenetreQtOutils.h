// Small helpers shared by the Qt windows: text conversions, design units and the help hook.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace utireorg {

inline QString VersQString(std::string_view texte) {
  return QString::fromUtf8(texte.data(), static_cast<qsizetype>(texte.size()));
}
inline std::string DepuisQString(const QString& texte) { return texte.toStdString(); }

// Lengths of the window designs are kept in twips (1/1440 inch); the screen's logical DPI
// turns them into pixels, so that 6000 twips are 400 pixels at 96 DPI.
int PixelsDeTwipsX(const QWidget* fenetre, int twips);
int PixelsDeTwipsY(const QWidget* fenetre, int twips);

// The fixed-pitch families tried for the journal view, the first one a French desktop has, then
// those Debian ships.
QStringList FamillesFixes();
// The first of the families whose matched font really is fixed-pitch (a missing family is
// replaced by whatever the system prefers, which may be proportional), else the system's fixed
// font, else any fixed-pitch family installed.
QFont PoliceFixe(const QStringList& familles = FamillesFixes());

// The help context number of a window: the property "contexteAide", 0 when it has none.
long ContexteAideFenetre(const QWidget* fenetre);
void DefinitContexteAideFenetre(QWidget* fenetre, long contexte);

// Opens help for a context number. The windows all go through here so that the launcher can
// be replaced (tests, or a program built without it); an empty function restores the default.
using OuvertureAide = std::function<void(long contexte)>;
void DefinitOuvertureAide(OuvertureAide ouverture);
void OuvreAide(long contexte);

}  // namespace utireorg

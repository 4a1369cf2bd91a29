// Qt's own windows (the file dialog) in French, whatever the language of the user's session.
#pragma once

class QAbstractProxyModel;
class QObject;

namespace utireorg {

// Qt's French translations, and French as the default locale for the numbers and dates Qt
// formats. Once per program; false when the translations are not installed.
bool ChargeTraductionsQt();

// For QFileDialog::setProxyModel: the sizes, dates and folder type of the listing in French,
// which the file model formats in the session's language and the translations leave in English.
QAbstractProxyModel* ListeFichiersEnFrancais(QObject* parent);

}  // namespace utireorg

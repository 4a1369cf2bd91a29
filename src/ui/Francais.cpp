#include "ui/Francais.h"

#include <QCoreApplication>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace utireorg {
namespace {

// The columns of the file model: name, size, type, date.
constexpr int ColonneTaille = 1;
constexpr int ColonneType = 2;
constexpr int ColonneDate = 3;

class ListeEnFrancais : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* fichiers = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !fichiers || !index.isValid())
      return QIdentityProxyModel::data(index, role);
    const QFileInfo info = fichiers->fileInfo(mapToSource(index));
    const QLocale francais;
    switch (index.column()) {
      case ColonneTaille:
        if (info.isFile()) return francais.formattedDataSize(info.size(), 1, QLocale::DataSizeTraditionalFormat);
        break;
      case ColonneType:
        if (info.isDir()) return QStringLiteral("Dossier");
        break;
      case ColonneDate:
        return francais.toString(info.lastModified(), QLocale::ShortFormat);
      default: break;
    }
    return QIdentityProxyModel::data(index, role);
  }
};

}  // namespace

bool ChargeTraductionsQt() {
  QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
  static QTranslator* traduction = nullptr;
  if (traduction) return true;
  auto* chargee = new QTranslator(QCoreApplication::instance());
  if (!chargee->load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete chargee;
    return false;
  }
  QCoreApplication::installTranslator(chargee);
  traduction = chargee;
  return true;
}

QAbstractProxyModel* ListeFichiersEnFrancais(QObject* parent) { return new ListeEnFrancais(parent); }

}  // namespace utireorg

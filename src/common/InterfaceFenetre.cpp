#include "common/InterfaceFenetre.h"

namespace utireorg {
namespace {
InterfaceFenetre* fenetreCourante = nullptr;
}

void DefinitFenetre(InterfaceFenetre* fenetre) { fenetreCourante = fenetre; }
InterfaceFenetre* FenetreCourante() { return fenetreCourante; }

const std::string& TitreApplication() {
  static const std::string titre = "Utilitaire de réorganisation de bases de données";
  return titre;
}

}  // namespace utireorg

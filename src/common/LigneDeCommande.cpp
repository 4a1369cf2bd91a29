#include "common/LigneDeCommande.h"

#include "texte/Texte.h"

namespace utireorg {
namespace {
std::string& Ligne() {
  static std::string ligne;
  return ligne;
}
}  // namespace

void MemoriseLigneDeCommande(int argc, const char* const* argv) {
  std::string ligne;
  for (int i = 1; i < argc; ++i) ligne += (i > 1 ? " " : "") + std::string(argv[i]);
  Ligne() = ligne;
}

void MemoriseLigneDeCommande(std::string ligne) { Ligne() = std::move(ligne); }
const std::string& LigneDeCommande() { return Ligne(); }

bool LigneDeCommandeContient(std::string_view mot) {
  return texte::PlieNom(Ligne()).find(texte::PlieNom(mot)) != std::string::npos;
}

}  // namespace utireorg

#include "common/LigneDeCommande.h"

#include "moteur/Noms.h"

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
  return moteur::PlieNom(Ligne()).find(moteur::PlieNom(mot)) != std::string::npos;
}

}  // namespace utireorg

// One libFuzzer program per target; NOM_CIBLE names it at compile time.
#include <filesystem>
#include <string>

#include "Cibles.h"
#include "commun/EchantillonsJet.h"

namespace {

const utireorg::fuzz::Cible& CibleDuProgramme() {
  static const auto* cible = utireorg::fuzz::CibleNommee(NOM_CIBLE);
  if (!cible) std::abort();
  return *cible;
}

}  // namespace

// The first folder of the command line receives what libFuzzer finds. Empty, it is a first run:
// the inputs the target makes itself go there first.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  namespace fs = std::filesystem;
  for (int i = 1; i < *argc; ++i) {
    std::string argument = (*argv)[i];
    if (argument.empty() || argument[0] == '-') continue;
    std::error_code ec;
    if (fs::is_directory(argument, ec) && fs::is_empty(argument, ec))
      utireorg::fuzz::EcritGraines(CibleDuProgramme().nom, argument, echantillons::DossierJet());
    break;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* octets, std::size_t taille) {
  return CibleDuProgramme().entree(octets, taille);
}

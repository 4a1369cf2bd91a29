// Opens a Jet file from another process, for the tests of what opening one leaves behind.
//   aide_jet FICHIER           opens it, prints "pret", holds it until stdin closes
//   aide_jet FICHIER boucle    opens and closes it again and again, printing "ouverte" each time
#include <cstdio>
#include <string>

#include "moteur/Moteur.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  try {
    if (argc > 2 && std::string(argv[2]) == "boucle") {
      for (;;) {
        auto base = moteur::DBEngine::OpenDatabase(argv[1]);
        base.Close();
        std::printf("ouverte\n");
        std::fflush(stdout);
      }
    }
    auto base = moteur::DBEngine::OpenDatabase(argv[1]);
    std::printf("pret\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    base.Close();
  } catch (const moteur::ErreurMoteur& e) {
    std::printf("erreur %d %s\n", e.Number(), e.Description().c_str());
    return 1;
  }
  return 0;
}

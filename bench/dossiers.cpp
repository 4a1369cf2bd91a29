// Réorganisation de tous les dossiers : N dossiers clients de T tables (R enregistrements en tout
// par dossier) à côté d'une base modèle, traités l'un après l'autre puis par --parallele P, avec
// les mêmes options. Affiche les deux durées et leur rapport (objectif : au plus 0,65 sur une
// machine à deux cœurs avec P = 2). Chaque mesure part des mêmes bases, recopiées avant.
//   bench_dossiers [--dossiers N] [--tables T] [--enregistrements R] [--parallele P]
//                  [--options 0,1,...] [--lot CHEMIN] [--garder]
// Code de sortie : 0 objectif atteint, 1 manqué, 2 mesure impossible.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Commun.h"
#include "Generateur.h"

namespace fs = std::filesystem;
using namespace banc;

namespace {

// Les dossiers « DossierK/Gestion.mdb » recopiés depuis la cible du jeu, et le modèle à côté.
void PrepareDossiers(const JeuDeBases& jeu, const std::string& execution, int dossiers) {
  fs::remove_all(execution);
  fs::create_directories(execution);
  CopieFichier(jeu.modele, execution + "/Gestion.mdb");
  for (int k = 1; k <= dossiers; ++k) {
    const std::string dossier = execution + "/Dossier" + std::to_string(k);
    fs::create_directories(dossier);
    CopieFichier(jeu.cible, dossier + "/Gestion.mdb");
  }
}

// Durée d'horloge d'un utireorg-lot --tous-les-dossiers lancé dans le dossier d'exécution.
double Run(const std::string& lot, const std::string& execution, const std::string& options, int parallele) {
  std::fflush(nullptr);
  Chrono chrono;
  pid_t pid = ::fork();
  if (pid < 0) Echoue("fork impossible");
  if (pid == 0) {
    if (::chdir(execution.c_str()) != 0 || !std::freopen("sortie.txt", "w", stdout) ||
        !std::freopen("erreurs.txt", "w", stderr))
      ::_exit(126);
    const std::string p = std::to_string(parallele);
    ::execl(lot.c_str(), "utireorg-lot", "--tous-les-dossiers", "--modele", "Gestion.mdb", "--options", options.c_str(),
            "--oui", "--silencieux", "--parallele", p.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int statut = 0;
  if (::waitpid(pid, &statut, 0) < 0) Echoue("waitpid impossible");
  const double secondes = chrono.Ecoule().secondes;
  const int code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
  if (code != 0) Echoue("utireorg-lot --parallele " + std::to_string(parallele) + " : code " + std::to_string(code));
  return secondes;
}

[[noreturn]] void Usage() {
  std::puts("bench_dossiers [--dossiers N] [--tables T] [--enregistrements R] [--parallele P] [--options 0,1,...]\n"
            "               [--lot CHEMIN] [--garder]");
  std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  int dossiers = 8, tables = 4, parallele = 2;
  long long enregistrements = 100000;
  std::string options = "0,1,2,3,4", lot = CHEMIN_UTIREORG_LOT;
  bool garder = false;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string_view a = argv[i];
      auto suivant = [&]() -> const char* {
        if (i + 1 >= argc) Echoue("valeur manquante après " + std::string(a));
        return argv[++i];
      };
      if (a == "--dossiers") dossiers = static_cast<int>(LitNombre(a, suivant()));
      else if (a == "--tables") tables = static_cast<int>(LitNombre(a, suivant()));
      else if (a == "--enregistrements") enregistrements = LitNombre(a, suivant());
      else if (a == "--parallele") parallele = static_cast<int>(LitNombre(a, suivant()));
      else if (a == "--options") options = suivant();
      else if (a == "--lot") lot = suivant();
      else if (a == "--garder") garder = true;
      else if (a == "--aide" || a == "-h" || a == "--help") Usage();
      else Echoue("option inconnue « " + std::string(a) + " »");
    }
    if (enregistrements < tables) Echoue("au moins un enregistrement par table");

    DossierTemporaire racine("bench_dossiers", garder);
    std::printf("Génération d'un dossier de %d tables de %s enregistrements...\n", tables,
                Groupe(enregistrements / tables).c_str());
    const JeuDeBases jeu = GenereJeu(racine / "jeu", tables, enregistrements / tables);
    const std::string execution = racine / "execution";

    PrepareDossiers(jeu, execution, dossiers);
    const double sequentiel = Run(lot, execution, options, 1);
    PrepareDossiers(jeu, execution, dossiers);
    const double enParallele = Run(lot, execution, options, parallele);
    const double rapport = enParallele / sequentiel;

    std::printf("Tous les dossiers : %d dossiers de %s enregistrements (options %s), %ld cœurs\n", dossiers,
                Groupe(enregistrements).c_str(), options.c_str(), ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("  l'un après l'autre : %s s\n", Decimal(sequentiel, 2).c_str());
    std::printf("  --parallele %d      : %s s\n", parallele, Decimal(enParallele, 2).c_str());
    std::printf("  rapport            : %s (objectif : au plus 0,65)\n", Decimal(rapport, 3).c_str());
    return rapport <= 0.65 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_dossiers : %s\n", e.what());
    return 2;
  }
}

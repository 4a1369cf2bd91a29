// Conversion d'un fichier Jet en base du moteur (moteur::ConvertitJet) à côté de la lecture de
// référence de mdbtools : « mdb-export » lancé sur chaque table du même fichier, sortie jetée.
// Chaque fichier d'exemple est mesuré quelques fois, le plus gros un grand nombre de fois ; on
// retient la médiane, moins sensible que la moyenne à une machine partagée.
//
//   bench_jet [--dossier DOSSIER] [--repetitions N]
//
// Sans --dossier : $UTIREORG_ECHANTILLONS_JET, sinon ../shared/jet-samples à côté du projet.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Commun.h"
#include "commun/EchantillonsJet.h"
#include "moteur/Moteur.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using banc::Cadre;
using banc::Decimal;
using Horloge = std::chrono::steady_clock;

// Mesures de chaque fichier, hors le plus gros.
constexpr int RepetitionsCourantes = 5;

struct Echec : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Echoue(const std::string& message) { throw Echec(message); }

struct Options {
  std::string dossier;
  int repetitions = 30;
};

// Where the tests look for them; named in the error when nowhere.
std::string DossierParDefaut() {
  const std::string trouve = echantillons::DossierJet();
  const auto candidats = echantillons::DossiersCandidats();
  return !trouve.empty() || candidats.empty() ? trouve : candidats.front();
}

Options LitOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if ((a == "--dossier" || a == "--repetitions") && i + 1 >= argc) Echoue(std::string(a) + " attend une valeur");
    if (a == "--dossier") {
      o.dossier = argv[++i];
    } else if (a == "--repetitions") {
      char* fin = nullptr;
      long v = std::strtol(argv[++i], &fin, 10);
      if (*fin != '\0' || v <= 0 || v > 100000) Echoue("--repetitions : nombre positif attendu, pas « " + std::string(argv[i]) + " »");
      o.repetitions = static_cast<int>(v);
    } else if (a == "--aide" || a == "-h" || a == "--help") {
      std::printf("usage : bench_jet [--dossier DOSSIER] [--repetitions N]\n");
      std::exit(0);
    } else {
      Echoue("option inconnue « " + std::string(a) + " »");
    }
  }
  if (o.dossier.empty()) o.dossier = DossierParDefaut();
  if (!fs::is_directory(o.dossier)) Echoue("dossier d'exemples introuvable : " + o.dossier);
  return o;
}


class DossierTemporaire {
 public:
  DossierTemporaire() {
    std::string modele = (fs::temp_directory_path() / "bench_jet.XXXXXX").string();
    if (!::mkdtemp(modele.data())) Echoue("dossier temporaire impossible");
    chemin_ = modele;
  }
  ~DossierTemporaire() {
    std::error_code ec;
    fs::remove_all(chemin_, ec);
  }
  std::string operator/(const std::string& nom) const { return chemin_ + "/" + nom; }

 private:
  std::string chemin_;
};

// Lance un programme du PATH et attend sa fin, sa sortie dans le fichier donné ; faux s'il échoue.
bool Lance(const std::vector<std::string>& mots, const std::string& sortie) {
  std::vector<std::string> copie = mots;
  std::vector<char*> argv;
  for (auto& m : copie) argv.push_back(m.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int statut = 0;
  while (::waitpid(pid, &statut, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(statut) && WEXITSTATUS(statut) == 0;
}

// Les tables de l'utilisateur, comme mdbtools les voit.
std::vector<std::string> Tables(const std::string& fichier, const DossierTemporaire& temporaire) {
  std::string liste = temporaire / "tables.txt";
  if (!Lance({"mdb-tables", "-1", fichier}, liste)) Echoue("mdb-tables a échoué sur " + fichier);
  std::ifstream entree(liste);
  std::vector<std::string> tables;
  for (std::string ligne; std::getline(entree, ligne);)
    if (!ligne.empty()) tables.push_back(ligne);
  return tables;
}

double Mediane(std::vector<double> valeurs) {
  std::sort(valeurs.begin(), valeurs.end());
  std::size_t n = valeurs.size();
  return n % 2 ? valeurs[n / 2] : (valeurs[n / 2 - 1] + valeurs[n / 2]) / 2;
}

template <class Action>
double Chronometre(Action&& action) {
  auto debut = Horloge::now();
  action();
  return std::chrono::duration<double>(Horloge::now() - debut).count();
}

struct Mesure {
  std::string nom;
  std::string format;
  long long octets = 0;
  std::size_t tables = 0;
  long long enregistrements = 0;
  int repetitions = 0;
  double conversion = 0;  // secondes, médiane
  double export_ = 0;     // secondes, médiane
};

long long EnregistrementsConvertis(const std::string& chemin) {
  moteur::Database base = moteur::DBEngine::OpenDatabase(chemin, false, true);
  long long total = 0;
  auto tables = base.TableDefs();
  for (int i = 0; i < tables.Count(); ++i)
    if (!(tables[i].Attributes() & moteur::dbSystemObject)) total += tables[i].RecordCount();
  base.Close();
  return total;
}

Mesure Mesure1(const std::string& fichier, int repetitions, const DossierTemporaire& temporaire) {
  Mesure m;
  m.nom = fs::path(fichier).filename().string();
  m.format = moteur::FormatDuFichier(fichier) == moteur::FormatFichier::Jet3 ? "Jet 3.0" : "Jet 4.0";
  m.octets = static_cast<long long>(fs::file_size(fichier));
  m.repetitions = repetitions;
  const std::string version = m.format == "Jet 3.0" ? "3.0" : "4.0";
  const std::string destination = temporaire / "conversion.mdb";
  const std::string sortie = temporaire / "export.csv";
  const std::vector<std::string> tables = Tables(fichier, temporaire);
  m.tables = tables.size();

  std::vector<double> conversions, exports;
  for (int r = 0; r < repetitions; ++r) {
    fs::remove(destination);
    conversions.push_back(Chronometre([&] { moteur::ConvertitJet(fichier, destination, version); }));
    exports.push_back(Chronometre([&] {
      for (const auto& table : tables)
        if (!Lance({"mdb-export", fichier, table}, sortie)) Echoue("mdb-export a échoué sur " + m.nom + ", table " + table);
    }));
  }
  m.enregistrements = EnregistrementsConvertis(destination);
  fs::remove(destination);
  m.conversion = Mediane(conversions);
  m.export_ = Mediane(exports);
  return m;
}

void Affiche(const std::vector<Mesure>& mesures) {
  std::printf("%s\n", (Cadre("fichier", 30, false) + Cadre("format", 9, false) + Cadre("Kio", 6, true) +
                       Cadre("tables", 8, true) + Cadre("enreg.", 8, true) + Cadre("fois", 6, true) +
                       Cadre("conversion ms", 15, true) + Cadre("mdb-export ms", 15, true) +
                       Cadre("rapport", 9, true))
                          .c_str());
  for (const auto& m : mesures) {
    double rapport = m.export_ > 0 ? m.conversion / m.export_ : 0;
    std::printf("%s\n", (Cadre(m.nom, 30, false) + Cadre(m.format, 9, false) + Cadre(std::to_string(m.octets / 1024), 6, true) +
                         Cadre(std::to_string(m.tables), 8, true) + Cadre(std::to_string(m.enregistrements), 8, true) +
                         Cadre(std::to_string(m.repetitions), 6, true) + Cadre(Decimal(m.conversion * 1000, 2), 15, true) +
                         Cadre(Decimal(m.export_ * 1000, 2), 15, true) + Cadre(Decimal(rapport, 2), 9, true))
                            .c_str());
  }
  std::printf("\nDurées médianes. Rapport = conversion ÷ mdb-export (un processus mdb-export par table,\n"
              "sortie jetée) : sous 1, la conversion complète va plus vite que la simple lecture de mdbtools.\n");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Options options = LitOptions(argc, argv);
    std::vector<std::string> fichiers;
    for (const auto& entree : fs::directory_iterator(options.dossier))
      if (entree.is_regular_file() && moteur::EstFichierJet(entree.path().string()))
        fichiers.push_back(entree.path().string());
    if (fichiers.empty()) Echoue("aucun fichier Jet 3.0 ou 4.0 dans " + options.dossier);
    std::sort(fichiers.begin(), fichiers.end());
    auto plusGros = std::max_element(fichiers.begin(), fichiers.end(), [](const auto& a, const auto& b) {
      return fs::file_size(a) < fs::file_size(b);
    });
    std::string nomPlusGros = *plusGros;

    DossierTemporaire temporaire;
    std::vector<Mesure> mesures;
    for (const auto& fichier : fichiers)
      mesures.push_back(Mesure1(fichier, fichier == nomPlusGros ? options.repetitions : RepetitionsCourantes, temporaire));
    std::printf("Conversion Jet → moteur et mdb-export de chaque table (%s)\n\n", options.dossier.c_str());
    Affiche(mesures);
    return 0;
  } catch (const moteur::ErreurMoteur& e) {
    std::fprintf(stderr, "Erreur %d : %s\n", e.Number(), e.Description().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Échec : %s\n", e.what());
  }
  return 1;
}

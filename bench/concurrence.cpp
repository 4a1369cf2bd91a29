// Réorganisations à côté d'un autre programme qui écrit : un processus enfant valide une ligne
// toutes les M millisecondes dans la base cible, comme un poste du logiciel qui garde la base
// ouverte, pendant N réorganisations sans « Mode sécurisé » faites par utireorg-lot. À la fin, les
// lignes dont l'écrivain a vu la validation réussir sont cherchées dans la base : aucune ne doit
// manquer, quelle que soit l'issue de chaque réorganisation.
//
//   bench_concurrence [--tables T] [--enregistrements R] [--runs N] [--intervalle M]
//                     [--options 0,1,...] [--garder]
//
// Code de sortie : 0 quand aucune ligne validée n'est perdue, 1 sinon, 2 quand la mesure échoue.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Commun.h"
#include "Generateur.h"

namespace fs = std::filesystem;
using namespace banc;

namespace {

// ---- L'écrivain : un autre programme, dans un processus à lui ----

// Une ligne numérotée par validation ; la ligne n n'est écrite qu'une fois les lignes 1 à n-1
// validées : ce qui a été validé est tout ce qui va de 1 au dernier numéro. Une écriture refusée
// (la base tenue un moment) est retentée au tour suivant ; une base remplacée sous la connexion
// (SQLite refuse d'écrire dans l'ancien fichier) est rouverte, comme le ferait son utilisateur.
// S'arrête quand `arret` se ferme ; écrit alors le nombre de lignes validées sur `resultat`.
[[noreturn]] void Ecrivain(const std::string& chemin, int intervalleMs, int arret, int resultat) {
  sqlite3* db = nullptr;
  auto ouvre = [&] {
    if (db) sqlite3_close(db);
    db = nullptr;
    // SQLite's own unix VFS, as a program of its own would open the file.
    if (sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READWRITE, "unix") != SQLITE_OK) ::_exit(3);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 1);
  };
  ouvre();
  if (sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS Ecrivain (Id INTEGER PRIMARY KEY, Texte)", nullptr, nullptr,
                   nullptr) != SQLITE_OK)
    ::_exit(3);
  long long validees = 0, refusees = 0, reouvertures = 0;
  for (;;) {
    pollfd p{arret, POLLIN, 0};
    if (::poll(&p, 1, intervalleMs) > 0) break;  // fermé : fin
    const std::string n = std::to_string(validees + 1);
    const std::string insertion = "INSERT INTO Ecrivain VALUES (" + n + ", 'ligne " + n + "')";
    int rc = sqlite3_exec(db, insertion.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      ++validees;
    } else {
      ++refusees;
      if (rc == SQLITE_READONLY_DBMOVED) {
        ++reouvertures;
        ouvre();
      }
    }
  }
  sqlite3_close(db);
  const std::string bilan = std::to_string(validees) + " " + std::to_string(refusees) + " " + std::to_string(reouvertures);
  if (::write(resultat, bilan.data(), bilan.size()) < 0) ::_exit(3);
  ::_exit(0);
}

struct BilanEcrivain {
  long long validees = -1, refusees = 0, reouvertures = 0;
};

class ProcessusEcrivain {
 public:
  ProcessusEcrivain(const std::string& chemin, int intervalleMs) {
    int arret[2], resultat[2];
    if (::pipe2(arret, O_CLOEXEC) != 0 || ::pipe2(resultat, O_CLOEXEC) != 0) Echoue("pipe impossible");
    pid_ = ::fork();
    if (pid_ < 0) Echoue("fork impossible");
    if (pid_ == 0) {
      ::close(arret[1]);
      ::close(resultat[0]);
      Ecrivain(chemin, intervalleMs, arret[0], resultat[1]);
    }
    ::close(arret[0]);
    ::close(resultat[1]);
    arret_ = arret[1];
    resultat_ = resultat[0];
  }
  ~ProcessusEcrivain() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (arret_ >= 0) ::close(arret_);
    ::close(resultat_);
  }
  ProcessusEcrivain(const ProcessusEcrivain&) = delete;
  ProcessusEcrivain& operator=(const ProcessusEcrivain&) = delete;

  BilanEcrivain Arrete() {
    ::close(arret_);
    arret_ = -1;
    char tampon[128] = {};
    ssize_t lus = ::read(resultat_, tampon, sizeof tampon - 1);
    int statut = 0;
    ::waitpid(pid_, &statut, 0);
    pid_ = -1;
    BilanEcrivain b;
    if (lus > 0 && WIFEXITED(statut) && WEXITSTATUS(statut) == 0)
      std::sscanf(tampon, "%lld %lld %lld", &b.validees, &b.refusees, &b.reouvertures);
    return b;
  }

 private:
  pid_t pid_ = -1;
  int arret_ = -1, resultat_ = -1;
};

// ---- Les réorganisations ----

// utireorg-lot dans son propre dossier courant (son journal) ; son code de sortie.
int Reorganise(const JeuDeBases& jeu, const std::string& dossier, const std::string& options) {
  fs::create_directories(dossier);
  pid_t pid = ::fork();
  if (pid < 0) Echoue("fork impossible");
  if (pid == 0) {
    if (::chdir(dossier.c_str()) != 0) ::_exit(127);
    int nul = ::open("/dev/null", O_WRONLY);
    int sortie = ::open("sortie.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (nul >= 0) ::dup2(nul, 0);
    if (sortie >= 0) {
      ::dup2(sortie, 1);
      ::dup2(sortie, 2);
    }
    ::execl(CHEMIN_UTIREORG_LOT, CHEMIN_UTIREORG_LOT, "--cible", jeu.cible.c_str(), "--modele", jeu.modele.c_str(),
            "--options", options.c_str(), "--oui", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int statut = 0;
  if (::waitpid(pid, &statut, 0) < 0) Echoue("waitpid impossible");
  return WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
}

// Les lignes 1 à n de l'écrivain que la base contient, chacune avec son texte.
long long LignesPresentes(const std::string& chemin, long long n) {
  Sqlite base(chemin, SQLITE_OPEN_READONLY);
  return base.Entier("SELECT count(*) FROM Ecrivain WHERE Id BETWEEN 1 AND " + std::to_string(n) +
                     " AND Texte = 'ligne ' || Id");
}

std::string Issue(int code) {
  switch (code) {
    case 0: return "terminée";
    case 1: return "interrompue";
    case 2: return "refusée";
    default: return "code " + std::to_string(code);
  }
}

int Mesure(int tables, long long enregistrements, int runs, int intervalleMs, const std::string& options, bool garder) {
  DossierTemporaire dossier("bench_concurrence", garder);
  std::printf("Jeu : %d tables de %s enregistrements ; écrivain : une ligne toutes les %d ms ; %d réorganisations "
              "(cases %s, sans « Mode sécurisé »)\n",
              tables, Groupe(enregistrements).c_str(), intervalleMs, runs, options.c_str());
  JeuDeBases jeu = GenereJeu(dossier / "jeu", tables, enregistrements);
  std::printf("Base cible : %s Mo\n", Decimal(static_cast<double>(fs::file_size(jeu.cible)) / 1e6, 1).c_str());

  ProcessusEcrivain ecrivain(jeu.cible, intervalleMs);
  std::this_thread::sleep_for(std::chrono::milliseconds(10 * intervalleMs));  // il a commencé à écrire
  std::map<std::string, int> issues;
  Chrono total;
  for (int i = 1; i <= runs; ++i) {
    Chrono chrono;
    int code = Reorganise(jeu, dossier / ("run" + std::to_string(i)), options);
    ++issues[Issue(code)];
    std::printf("  réorganisation %2d : %-11s %s s\n", i, Issue(code).c_str(), Decimal(chrono.Ecoule().secondes, 2).c_str());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10 * intervalleMs));
  BilanEcrivain bilan = ecrivain.Arrete();
  if (bilan.validees < 0) Echoue("l'écrivain n'a pas rendu son bilan");
  const long long presentes = LignesPresentes(jeu.cible, bilan.validees);
  const long long perdues = bilan.validees - presentes;

  std::printf("\nDurée totale : %s s\n", Decimal(total.Ecoule().secondes, 1).c_str());
  std::printf("Issues :");
  for (const auto& [issue, nombre] : issues) std::printf(" %d %s", nombre, issue.c_str());
  std::printf("\nLignes validées par l'écrivain : %s (écritures refusées puis retentées : %s, réouvertures : %s)\n",
              Groupe(bilan.validees).c_str(), Groupe(bilan.refusees).c_str(), Groupe(bilan.reouvertures).c_str());
  std::printf("Lignes validées perdues : %s\n", Groupe(perdues).c_str());
  return perdues == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int tables = 5, runs = 20, intervalleMs = 50;
  long long enregistrements = 20000;
  std::string options = "0,1,2,4";
  bool garder = false;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string_view a = argv[i];
      auto suivant = [&]() -> const char* {
        if (i + 1 >= argc) Echoue("valeur manquante après " + std::string(a));
        return argv[++i];
      };
      if (a == "--tables") tables = static_cast<int>(LitNombre(a, suivant()));
      else if (a == "--enregistrements") enregistrements = LitNombre(a, suivant());
      else if (a == "--runs") runs = static_cast<int>(LitNombre(a, suivant()));
      else if (a == "--intervalle") intervalleMs = static_cast<int>(LitNombre(a, suivant()));
      else if (a == "--options") options = suivant();
      else if (a == "--garder") garder = true;
      else Echoue("option inconnue « " + std::string(a) + " »");
    }
    if (options.find('3') != std::string::npos) Echoue("la mesure se fait sans « Mode sécurisé » (case 3)");
    return Mesure(tables, enregistrements, runs, intervalleMs, options, garder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_concurrence : %s\n", e.what());
    return 2;
  }
}

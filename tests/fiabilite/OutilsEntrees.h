// Tools of the full-disk and bad-file tests, beside the suite's shared ones: the headless run
// started under a file-size limit or another user's identity and killed if it hangs, and what a
// folder holds, precisely enough to tell that nothing in it was touched.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fiabilite/OutilsFiabilite.h"

extern char** environ;

namespace entrees {

namespace fs = std::filesystem;

// How a child program ended.
struct Issue {
  int code = -1;        // exit code, -1 when it did not exit
  int signal = 0;       // the signal that ended it, if any
  bool bloque = false;  // still running at the deadline: killed
  std::string sortie;   // standard output and error together
  bool Propre() const { return !bloque && signal == 0 && code >= 0; }
};

struct Conditions {
  std::vector<std::pair<std::string, std::string>> environnement;  // added or replaced
  long long tailleFichierMax = -1;    // RLIMIT_FSIZE of the child, none when negative
  int utilisateur = -1, groupe = -1;  // the child's identity, when the test may change it (root)
  int delaiSecondes = 60;             // beyond it the run counts as hung and is killed
  std::string dossierCourant;         // the child's current directory, when not the output's folder
};

// Runs a program in a folder to its end, its output in "<dossier>/sortie_programme.txt". Everything
// the child needs is prepared before the fork: it only redirects, changes folder, identity and
// limit, and execs.
inline Issue LanceSurveille(const std::string& programme, const std::vector<std::string>& arguments,
                            const std::string& dossier, const Conditions& conditions = {}) {
  std::vector<std::string> mots{programme};
  mots.insert(mots.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& m : mots) argv.push_back(m.data());
  argv.push_back(nullptr);

  std::vector<std::string> variables;
  for (char** v = environ; *v; ++v) {
    std::string variable = *v;
    bool remplacee = false;
    for (const auto& [nom, valeur] : conditions.environnement) remplacee = remplacee || variable.rfind(nom + "=", 0) == 0;
    if (!remplacee) variables.push_back(variable);
  }
  for (const auto& [nom, valeur] : conditions.environnement) variables.push_back(nom + "=" + valeur);
  std::vector<char*> envp;
  for (auto& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);

  const std::string fichier = dossier + "/sortie_programme.txt";
  Issue issue;
  pid_t pid = ::fork();
  if (pid == 0) {
    int sortie = ::open(fichier.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int vide = ::open("/dev/null", O_RDONLY);
    const std::string& courant = conditions.dossierCourant.empty() ? dossier : conditions.dossierCourant;
    if (sortie < 0 || vide < 0 || ::chdir(courant.c_str()) != 0) ::_exit(126);
    ::dup2(sortie, 1);
    ::dup2(sortie, 2);
    ::dup2(vide, 0);
    if (conditions.groupe >= 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(conditions.groupe)) != 0))
      ::_exit(126);
    if (conditions.utilisateur >= 0 && ::setuid(static_cast<uid_t>(conditions.utilisateur)) != 0) ::_exit(126);
    if (conditions.tailleFichierMax >= 0) {
      rlimit limite{static_cast<rlim_t>(conditions.tailleFichierMax), static_cast<rlim_t>(conditions.tailleFichierMax)};
      if (::setrlimit(RLIMIT_FSIZE, &limite) != 0) ::_exit(126);
    }
    ::execve(programme.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid < 0) return issue;
  int statut = 0;
  constexpr long Pas = 5'000'000;  // ns between two looks
  const long delai = static_cast<long>(conditions.delaiSecondes) * 1'000'000'000L;
  for (long attente = 0; ::waitpid(pid, &statut, WNOHANG) == 0; attente += Pas) {
    if (attente >= delai) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &statut, 0);
      issue.bloque = true;
      break;
    }
    timespec pause{0, Pas};
    ::nanosleep(&pause, nullptr);
  }
  if (!issue.bloque) {
    if (WIFEXITED(statut)) issue.code = WEXITSTATUS(statut);
    if (WIFSIGNALED(statut)) issue.signal = WTERMSIG(statut);
  }
  issue.sortie = fiabilite::LitFichier(fichier);
  return issue;
}

// What lies at a path, as precisely as a test can tell that nothing touched it.
struct Empreinte {
  bool present = false;
  mode_t genre = 0;
  std::string contenu;  // the bytes of a file, the target of a link
  timespec modification{};
  mode_t droits = 0;

  bool operator==(const Empreinte& autre) const {
    return present == autre.present && genre == autre.genre && contenu == autre.contenu &&
           modification.tv_sec == autre.modification.tv_sec && modification.tv_nsec == autre.modification.tv_nsec &&
           droits == autre.droits;
  }
};

inline Empreinte Releve(const std::string& chemin) {
  Empreinte e;
  struct stat s {};
  if (::lstat(chemin.c_str(), &s) != 0) return e;
  e.present = true;
  e.genre = s.st_mode & S_IFMT;
  e.droits = s.st_mode & 07777;
  e.modification = s.st_mtim;
  if (S_ISREG(s.st_mode)) e.contenu = fiabilite::LitFichier(chemin);
  if (S_ISLNK(s.st_mode)) e.contenu = fs::read_symlink(chemin).string();
  return e;
}

// Every entry under a folder, by its path relative to it. A folder counts by its kind only: its
// time changes whenever a file is made in it.
inline std::map<std::string, Empreinte> ReleveDossier(const std::string& dossier) {
  std::map<std::string, Empreinte> releve;
  std::error_code erreur;
  for (fs::recursive_directory_iterator it(dossier, erreur), fin; !erreur && it != fin; it.increment(erreur)) {
    Empreinte e = Releve(it->path().string());
    if (e.genre == S_IFDIR) e.modification = {};
    releve[fs::relative(it->path(), dossier).string()] = e;
  }
  return releve;
}

}  // namespace entrees

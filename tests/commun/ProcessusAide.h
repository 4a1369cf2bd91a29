// A second process beside a test: another workstation or program holding a database (the program
// aide_tenue, whose compile definition CHEMIN_aide_tenue every test program has) or writing it.
// The helper says on its standard output what it holds ("pret" once it holds it) and lets go when
// its standard input closes.
//
//   ProcessusAide tenue(CHEMIN_aide_tenue, {chemin, "exclusif"});
//   ASSERT_TRUE(tenue.Pret());
//   ...                          // the database is held
//   tenue.Libere();              // optional: the destructor lets go as well
//
// Whatever fails half-way, nothing is left behind: every descriptor is closed on every path, and
// the destructor stops the process and waits for it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace utireorg::tests {

// A file descriptor closed with its owner.
class Descripteur {
 public:
  Descripteur() = default;
  explicit Descripteur(int fd) : fd_(fd) {}
  ~Descripteur() { Ferme(); }
  Descripteur(Descripteur&& autre) noexcept : fd_(std::exchange(autre.fd_, -1)) {}
  Descripteur& operator=(Descripteur&& autre) noexcept {
    if (this != &autre) {
      Ferme();
      fd_ = std::exchange(autre.fd_, -1);
    }
    return *this;
  }
  Descripteur(const Descripteur&) = delete;
  Descripteur& operator=(const Descripteur&) = delete;

  int fd() const { return fd_; }
  bool Ouvert() const { return fd_ >= 0; }
  void Ferme() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Both ends of a pipe, neither inherited by other programs the test starts.
struct Tube {
  Descripteur lecture, ecriture;

  static Tube Ouvre() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 : impossible d'ouvrir un tube");
    Tube tube;
    tube.lecture = Descripteur(fds[0]);
    tube.ecriture = Descripteur(fds[1]);
    return tube;
  }
};

class ProcessusAide {
 public:
  // The helper inherits the test's environment, but for the "NAME=value" entries given, which
  // take the place of the inherited ones of the same name.
  ProcessusAide(const std::string& programme, std::vector<std::string> arguments,
                std::vector<std::string> environnement = {}) {
    Tube versAide = Tube::Ouvre();
    Tube depuisAide = Tube::Ouvre();
    Lance(programme, std::move(arguments), Environnement(std::move(environnement)), versAide.lecture.fd(),
          depuisAide.ecriture.fd());
    // The helper's ends stay with it alone: its end of file is then the closing of ours.
    entree_ = std::move(versAide.ecriture);
    sortie_ = std::move(depuisAide.lecture);
  }
  ~ProcessusAide() { Libere(); }
  ProcessusAide(const ProcessusAide&) = delete;
  ProcessusAide& operator=(const ProcessusAide&) = delete;

  // The first line it writes: "pret" once it holds what it was asked to hold, else what went
  // wrong; what it said so far after 30 seconds of silence.
  std::string PremiereLigne() {
    std::string ligne;
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sortie_.Ouvert() && std::chrono::steady_clock::now() < limite) {
      pollfd p{sortie_.fd(), POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c;
      if (::read(sortie_.fd(), &c, 1) != 1 || c == '\n') break;
      ligne += c;
    }
    return ligne;
  }
  bool Pret() { return PremiereLigne() == "pret"; }
  pid_t pid() const { return pid_; }

  // Tells it to let go (its standard input closes) and waits for its end; one that does not
  // leave within 30 seconds is killed, so that no test can hang on it.
  void Libere() {
    entree_.Ferme();
    if (pid_ <= 0) return;
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < limite) {
      if (FiniSansAttendre()) return;
      ::usleep(10000);
    }
    Tue();
  }

  // SIGKILL: it stops wherever it is, what it had not committed left as a crash leaves it.
  void Tue() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    Attend();
  }

 private:
  static std::vector<std::string> Environnement(std::vector<std::string> changees) {
    auto nom = [](const std::string& entree) { return entree.substr(0, entree.find('=')); };
    std::vector<std::string> gardees;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entree = *e;
      bool changee = false;
      for (const auto& c : changees) changee = changee || nom(c) == nom(entree);
      if (!changee) gardees.push_back(entree);
    }
    gardees.insert(gardees.end(), std::make_move_iterator(changees.begin()), std::make_move_iterator(changees.end()));
    return gardees;
  }

  void Lance(const std::string& programme, std::vector<std::string> arguments, std::vector<std::string> environnement,
             int entree, int sortie) {
    arguments.insert(arguments.begin(), programme);
    std::vector<char*> argv, envp;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : environnement) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) throw std::runtime_error("posix_spawn_file_actions_init");
    posix_spawn_file_actions_adddup2(&actions, entree, 0);
    posix_spawn_file_actions_adddup2(&actions, sortie, 1);
    // A program that cannot be started leaves no process: its silence then says so.
    if (::posix_spawn(&pid_, programme.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  bool FiniSansAttendre() {
    int statut = 0;
    if (::waitpid(pid_, &statut, WNOHANG) != pid_) return false;
    pid_ = -1;
    return true;
  }

  void Attend() {
    if (pid_ <= 0) return;
    int statut = 0;
    while (::waitpid(pid_, &statut, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  pid_t pid_ = -1;
  Descripteur entree_, sortie_;
};

}  // namespace utireorg::tests

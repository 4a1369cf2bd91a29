// Files and folders as the tests handle them: whole files read and written in bytes, folder
// listings, and a private temporary folder per test, removed with everything in it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace utireorg::tests {

// The whole file, byte for byte; empty when it cannot be read.
inline std::string LitFichier(const std::string& chemin) {
  std::ifstream entree(chemin, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(entree), {});
}

// Replaces the file's content (creates it when missing).
inline void EcritFichier(const std::string& chemin, const std::string& contenu) {
  std::ofstream sortie(chemin, std::ios::binary | std::ios::trunc);
  sortie << contenu;
}

// Its size in bytes, -1 when it is missing.
inline long long TailleFichier(const std::string& chemin) {
  std::error_code ec;
  auto taille = std::filesystem::file_size(chemin, ec);
  return ec ? -1 : static_cast<long long>(taille);
}

// The names of what a folder holds (not recursive), sorted; empty when it cannot be read.
inline std::vector<std::string> FichiersDuDossier(const std::string& dossier) {
  std::vector<std::string> noms;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dossier, ec), fin; !ec && it != fin; it.increment(ec))
    noms.push_back(it->path().filename().string());
  std::sort(noms.begin(), noms.end());
  return noms;
}

// The same for a folder that must be there: one that is gone or cannot be read throws, which
// fails the test, rather than reading as empty.
inline std::vector<std::string> FichiersDuDossierPresent(const std::string& dossier) {
  (void)std::filesystem::directory_iterator(dossier);
  return FichiersDuDossier(dossier);
}

// A folder of its own for one test, under $TMPDIR (else /tmp), removed with everything in it, even
// what a test made unreadable; kept for a look afterwards when UTIREORG_GARDE_DOSSIERS is set.
class DossierTest {
 public:
  // enMemoire: in /dev/shm when the machine has it, for tests that stop processes rather than
  // machines: the flushes to a real disk prove nothing there and cost a run thirty times its time.
  explicit DossierTest(const std::string& prefixe = "utireorg", bool enMemoire = false) {
    const char* racine = std::getenv("TMPDIR");
    std::string dossier = racine && *racine ? racine : "/tmp";
    if (enMemoire && ::access("/dev/shm", W_OK | X_OK) == 0) dossier = "/dev/shm";
    std::string modele = dossier + "/" + prefixe + "_XXXXXX";
    std::vector<char> tampon(modele.begin(), modele.end());
    tampon.push_back('\0');
    if (!::mkdtemp(tampon.data())) throw std::runtime_error("mkdtemp " + modele);
    chemin_ = tampon.data();
  }
  ~DossierTest() {
    const char* garde = std::getenv("UTIREORG_GARDE_DOSSIERS");
    if (garde && *garde)
      std::cout << "Dossier gardé : " << chemin_ << "\n";
    else
      Supprime(chemin_);
  }
  DossierTest(const DossierTest&) = delete;
  DossierTest& operator=(const DossierTest&) = delete;

  const std::string& Racine() const { return chemin_; }
  // A path inside the folder; its parent folders are created.
  std::string Chemin(const std::string& nom) const {
    std::filesystem::path p = std::filesystem::path(chemin_) / nom;
    std::filesystem::create_directories(p.parent_path());
    return p.string();
  }

  // Removes a tree, giving back first the rights a test may have taken away to provoke a refusal.
  static void Supprime(const std::string& chemin) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(chemin, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
      ::chmod(it->path().c_str(), 0700);
    ::chmod(chemin.c_str(), 0700);
    fs::remove_all(chemin, ec);
  }

 private:
  std::string chemin_;
};

// Makes a folder the current directory for the life of the object, so that the files the code
// writes beside itself land there; the former one comes back at the end.
class DossierCourant {
 public:
  explicit DossierCourant(const std::string& dossier) : ancien_(std::filesystem::current_path()) {
    std::filesystem::current_path(dossier);
  }
  ~DossierCourant() {
    std::error_code ec;
    std::filesystem::current_path(ancien_, ec);
  }
  DossierCourant(const DossierCourant&) = delete;
  DossierCourant& operator=(const DossierCourant&) = delete;

 private:
  std::filesystem::path ancien_;
};

// A private folder made the current directory for the life of the object.
class DossierCourantTemporaire {
 public:
  explicit DossierCourantTemporaire(const std::string& prefixe = "utireorg")
      : dossier_(prefixe), courant_(dossier_.Racine()) {}
  const std::string& Racine() const { return dossier_.Racine(); }

 private:
  DossierTest dossier_;  // removed after the former current directory is back
  DossierCourant courant_;
};

}  // namespace utireorg::tests

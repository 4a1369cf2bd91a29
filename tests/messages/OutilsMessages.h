// Fixtures shared by the tests of messages: a private current directory, and file reading.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace utireorg::tests {

// Makes a fresh folder the current directory for the life of the object, so that the files the
// code writes beside itself land there and vanish afterwards.
class DossierCourantTemporaire {
 public:
  DossierCourantTemporaire() : ancien_(std::filesystem::current_path()) {
    const char* racine = std::getenv("TMPDIR");
    std::string modele = std::string(racine && *racine ? racine : "/tmp") + "/messages_XXXXXX";
    std::vector<char> tampon(modele.begin(), modele.end());
    tampon.push_back('\0');
    if (!::mkdtemp(tampon.data())) throw std::runtime_error("mkdtemp");
    chemin_ = tampon.data();
    std::filesystem::current_path(chemin_);
  }
  ~DossierCourantTemporaire() {
    std::error_code ec;
    std::filesystem::current_path(ancien_, ec);
    std::filesystem::remove_all(chemin_, ec);
  }
  DossierCourantTemporaire(const DossierCourantTemporaire&) = delete;
  DossierCourantTemporaire& operator=(const DossierCourantTemporaire&) = delete;
  const std::string& chemin() const { return chemin_; }

 private:
  std::filesystem::path ancien_;
  std::string chemin_;
};

inline std::string LitFichier(const std::string& chemin) {
  std::ifstream f(chemin, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void EcritFichier(const std::string& chemin, const std::string& contenu) {
  std::ofstream f(chemin, std::ios::binary | std::ios::trunc);
  f << contenu;
}

}  // namespace utireorg::tests

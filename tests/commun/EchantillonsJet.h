// The public Jet 3.0 and 4.0 sample files the tests read in place (never copied into the project).
//
// They are looked for in $UTIREORG_ECHANTILLONS_JET, then beside the project as
// "../shared/jet-samples": every program that reads them (tests, fuzzing targets, benchmarks)
// finds them here, and passes the project's root as RACINE_PROJET (a compile definition).
//
//   TEST(..., ...) {
//     ECHANTILLON_JET(chemin, "testV1997.mdb");  // skips the test when the file is nowhere
//     ...
//   }
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifndef RACINE_PROJET
#define RACINE_PROJET ""
#endif

namespace echantillons {

// Folders where the samples may be, in the order they are tried.
inline std::vector<std::string> DossiersCandidats() {
  std::vector<std::string> dossiers;
  if (const char* env = std::getenv("UTIREORG_ECHANTILLONS_JET"); env && *env) dossiers.emplace_back(env);
  if (std::string(RACINE_PROJET).size() > 0) dossiers.push_back(std::string(RACINE_PROJET) + "/../shared/jet-samples");
  return dossiers;
}

// The first of those folders that exists, or empty.
inline std::string DossierJet() {
  std::error_code ec;
  for (const auto& d : DossiersCandidats())
    if (std::filesystem::is_directory(d, ec)) return d;
  return {};
}

// The first folder that holds the file, or empty.
inline std::string CheminJet(const std::string& nom) {
  std::error_code ec;
  for (const auto& d : DossiersCandidats())
    if (std::filesystem::is_regular_file(d + "/" + nom, ec)) return d + "/" + nom;
  return {};
}

}  // namespace echantillons

// In a test (GoogleTest): declares `variable`, the path of sample `nom`, or skips the test with
// the reason.
#define ECHANTILLON_JET(variable, nom)                                                                     \
  const std::string variable = ::echantillons::CheminJet(nom);                                            \
  if (variable.empty()) {                                                                                  \
    GTEST_SKIP() << "Échantillon Jet '" << (nom) << "' introuvable (ni dans $UTIREORG_ECHANTILLONS_JET, " \
                 << "ni dans ../shared/jet-samples) : test non exécuté.";                                \
  }                                                                                                        \
  static_assert(true, "")

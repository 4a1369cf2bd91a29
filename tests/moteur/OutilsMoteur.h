// Shared fixtures of the engine's tests: a private folder per test, small builders for tables and
// rows.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "commun/FichiersTest.h"
#include "commun/ProcessusAide.h"
#include "commun/TablesTest.h"
#include "moteur/Moteur.h"

// Checks the number of the error a statement raises; an engine error escaping as anything else
// than ErreurMoteur fails the test through GoogleTest's own handler.
#define EXPECT_ERREUR(numero, ...)                                 \
  do {                                                             \
    auto resultat_ = ::moteur::Essaie([&] { __VA_ARGS__; });        \
    EXPECT_EQ(resultat_.Number, (numero)) << resultat_.Description; \
  } while (0)

#define ASSERT_SANS_ERREUR(...)                                     \
  do {                                                              \
    auto resultat_ = ::moteur::Essaie([&] { __VA_ARGS__; });         \
    ASSERT_EQ(resultat_.Number, 0) << resultat_.Description;         \
  } while (0)

namespace outils {

namespace fs = std::filesystem;
using moteur::Valeur;
using utireorg::tests::CreeTable;
using utireorg::tests::DossierTest;
using utireorg::tests::EcritFichier;
using utireorg::tests::FichiersDuDossier;
using utireorg::tests::LitFichier;
using utireorg::tests::ProcessusAide;
using utireorg::tests::TailleFichier;

// AddressSanitizer keeps freed blocks in quarantine: a memory peak then measures its quarantine,
// not what the code under test holds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool SousAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool SousAsan = true;
#else
inline constexpr bool SousAsan = false;
#endif
#else
inline constexpr bool SousAsan = false;
#endif

// Peak resident memory of this process, in kilobytes (-1 when unknown).
inline long long PicMemoireKo() {
  std::ifstream f("/proc/self/status");
  std::string ligne;
  while (std::getline(f, ligne))
    if (ligne.rfind("VmHWM:", 0) == 0) return std::stoll(ligne.substr(6));
  return -1;
}

// Numbers that mean "someone else holds a lock on it".
inline bool EstNumeroVerrou(int n) {
  for (int v : {3046, 3158, 3186, 3187, 3188, 3189, 3197, 3202, 3211, 3212, 3218, 3260, 3261, 3262, 3263})
    if (n == v) return true;
  return false;
}

inline void AjouteIndex(moteur::TableDef& td, const std::string& nom, const std::string& champs, bool unique,
                        bool primaire = false) {
  auto ix = td.CreateIndex(nom);
  ix.SetFields(champs);
  ix.SetUnique(unique);
  ix.SetPrimary(primaire);
  td.Indexes().Append(ix);
}

using Ligne = std::vector<std::pair<std::string, Valeur>>;

// Adds one record through a recordset, the way an application would.
inline void Ajoute(moteur::Database& base, const std::string& table, const Ligne& valeurs) {
  auto rs = base.OpenRecordset(table, moteur::dbOpenDynaset);
  rs.AddNew();
  for (const auto& [nom, v] : valeurs) rs[nom].SetValue(v);
  rs.Update();
  rs.Close();
}

// The values of one column of a query, as text, in the order the query gives.
inline std::vector<std::string> Colonne(moteur::Database& base, const std::string& requete, const std::string& champ) {
  std::vector<std::string> valeurs;
  auto rs = base.OpenRecordset(requete, moteur::dbOpenSnapshot);
  while (!rs.Eof()) {
    Valeur v = rs[champ].Value();
    valeurs.push_back(v.EstNul() ? "<nul>" : v.EnTexte());
    rs.MoveNext();
  }
  return valeurs;
}

inline long long Compte(moteur::Database& base, const std::string& table) {
  return base.TableDefs()[table].RecordCount();
}

class TestMoteur : public ::testing::Test {
 protected:
  void TearDown() override {
    // A failed assertion inside a workspace transaction must not leak it into the next test.
    while (moteur::DBEngine::NiveauTransaction() > 0) moteur::DBEngine::Rollback();
  }

  std::string Chemin(const std::string& nom) const { return dossier_.Racine() + "/" + nom; }
  const std::string& Dossier() const { return dossier_.Racine(); }

  moteur::Database Cree(const std::string& nom = "base.bd", const std::string& version = "4.0") {
    return moteur::DBEngine::CreateDatabase(Chemin(nom), version);
  }
  moteur::Database Ouvre(const std::string& nom = "base.bd") { return moteur::DBEngine::OpenDatabase(Chemin(nom)); }

  // A base "Clients(Id Long, Nom Text 20)" with n records Id 1..n, Nom "client i".
  moteur::Database BaseClients(int n, const std::string& nom = "base.bd") {
    auto base = Cree(nom);
    auto td = CreeTable(base, "Clients", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 20}});
    auto rs = base.OpenRecordset("Clients");
    moteur::DBEngine::BeginTrans();  // one commit, not one per record
    for (int i = 1; i <= n; ++i) {
      rs.AddNew();
      rs["Id"].SetValue(i);
      rs["Nom"].SetValue("client " + std::to_string(i));
      rs.Update();
    }
    moteur::DBEngine::CommitTrans();
    rs.Close();
    return base;
  }

 private:
  DossierTest dossier_{"moteur"};
};

}  // namespace outils

// Shared fixture of the reading pass and verification tests: a private current directory with
// a real analysis journal, a scripted window, a fixed clock, and small database builders.
#pragma once

#include <sqlite3.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "commun/FenetreFactice.h"
#include "commun/FichiersTest.h"
#include "commun/TablesTest.h"
#include "common/Ansi.h"
#include "common/EtatReorganisation.h"
#include "common/Horodatage.h"
#include "journal/Journal.h"
#include "moteur/Moteur.h"

namespace lecture_tests {

namespace fs = std::filesystem;
using moteur::Valeur;
using utireorg::tests::CreeTable;

using Ligne = std::vector<std::pair<std::string, Valeur>>;

// A record written through a recordset, under every rule of the engine.
inline void Ajoute(moteur::Database& base, const std::string& table, const Ligne& valeurs) {
  auto rs = base.OpenRecordset(table, moteur::dbOpenTable);
  rs.AddNew();
  for (const auto& [nom, v] : valeurs) rs[nom].SetValue(v);
  rs.Update();
  rs.Close();
}

// A record as a damaged file holds it.
inline void AjouteDefectueux(moteur::Database& base, const std::string& table, const Ligne& valeurs) {
  moteur::EcritSansControle(base, table, valeurs);
}

// Every record of a table in storage order, each field as "<nul>", "<illisible>" or its text.
inline std::vector<std::vector<std::string>> Contenu(const std::string& chemin, const std::string& table) {
  auto base = moteur::DBEngine::OpenDatabase(chemin);
  std::vector<std::vector<std::string>> lignes;
  auto rs = base.OpenRecordset(table, moteur::dbOpenTable);
  while (!rs.Eof()) {
    std::vector<std::string> ligne;
    for (int i = 0; i < rs.Fields().Count(); ++i) {
      Valeur v;
      auto r = moteur::Essaie([&] { v = rs[i].Value(); });
      ligne.push_back(!r ? "<illisible>" : v.EstNulOuVide() ? "<nul>" : v.EnTexte());
    }
    lignes.push_back(std::move(ligne));
    rs.MoveNext();
  }
  rs.Close();
  base.Close();
  return lignes;
}

// Overwrites the header of one page of the file, so that reading the page fails as damaged.
inline void EndommagePage(const std::string& chemin, long long page, int taillePage = 4096) {
  std::fstream f(chemin, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp((page - 1) * taillePage);
  const std::string dechets(64, '\xEE');
  f.write(dechets.data(), static_cast<std::streamsize>(dechets.size()));
}

// What SQLite says of the file: the root page of a table, the number of pages.
inline long long EntierSqlite(const std::string& chemin, const std::string& requete, const std::string& parametre = {}) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("sqlite3_open_v2");
  }
  sqlite3_stmt* st = nullptr;
  long long valeur = -1;
  if (sqlite3_prepare_v2(db, requete.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    if (!parametre.empty()) sqlite3_bind_text(st, 1, parametre.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st) == SQLITE_ROW) valeur = sqlite3_column_int64(st, 0);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return valeur;
}

inline long long PageRacine(const std::string& chemin, const std::string& table) {
  return EntierSqlite(chemin, "SELECT rootpage FROM sqlite_master WHERE type = 'table' AND name = ?", table);
}

class TestLecture : public ::testing::Test {
 protected:
  void SetUp() override {
    dossier_ = racine_.Racine();
    ancien_ = fs::current_path();
    fs::current_path(dossier_);
    instant_ = std::chrono::system_clock::now();
    utireorg::DefinitHorloge([this] { return instant_; });
    ASSERT_TRUE(journal.OuvertureJournal());
  }

  void TearDown() override {
    journal.FermetureJournal();
    while (moteur::DBEngine::NiveauTransaction() > 0) moteur::DBEngine::Rollback();
    utireorg::DefinitHorloge({});
    fs::current_path(ancien_);
  }

  std::string Chemin(const std::string& nom) const { return dossier_ + "/" + nom; }

  moteur::Database Cree(const std::string& nom = "base.mdb") {
    return moteur::DBEngine::CreateDatabase(Chemin(nom), "4.0");
  }

  // The lines of "Analyse.txt" back in UTF-8, without their CR LF.
  std::vector<std::string> LignesJournal() const {
    std::string texte = utireorg::DepuisAnsi(utireorg::tests::LitFichier(dossier_ + "/Analyse.txt"));
    std::vector<std::string> lignes;
    std::size_t depuis = 0;
    for (auto pos = texte.find("\r\n"); pos != std::string::npos; pos = texte.find("\r\n", depuis)) {
      lignes.push_back(texte.substr(depuis, pos - depuis));
      depuis = pos + 2;
    }
    if (depuis < texte.size()) lignes.push_back(texte.substr(depuis));
    return lignes;
  }

  std::string Horodate(const std::string& texte) const { return utireorg::Horodatage(instant_) + " " + texte; }

  utireorg::tests::FenetreFactice fenetre;
  utireorg::Journal journal{fenetre};
  utireorg::EtatReorganisation etat{fenetre, journal};

 private:
  utireorg::tests::DossierTest racine_{"lecture"};
  std::string dossier_;
  fs::path ancien_;
  std::chrono::system_clock::time_point instant_;
};

}  // namespace lecture_tests

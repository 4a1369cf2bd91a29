// Model and target databases for the structure tests, built with the engine, in the layout the
// verification expects: <racine>/modele/Compta.mdb is the model of <racine>/modele/cible/Compta.mdb.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "bases/BaseDonnees.h"
#include "common/EtatReorganisation.h"
#include "common/Horodatage.h"
#include "commun/FenetreFactice.h"
#include "commun/TablesTest.h"
#include "journal/Journal.h"
#include "moteur/Moteur.h"
#include "structure/Structure.h"

namespace moteur {
// Readable values in the failure messages.
inline void PrintTo(const Valeur& v, std::ostream* sortie) {
  if (v.EstNul()) *sortie << "Null";
  else if (v.EstVide()) *sortie << "Empty";
  else *sortie << '"' << v.EnTexte() << '"';
}
}  // namespace moteur

namespace utireorg::tests {

namespace fs = std::filesystem;
using moteur::Valeur;

inline void Insere(moteur::Database& base, const std::string& table,
                   const std::vector<std::pair<std::string, Valeur>>& valeurs) {
  moteur::Recordset rs = base.OpenRecordset(table);
  rs.AddNew();
  for (const auto& [nom, valeur] : valeurs) rs[nom].SetValue(valeur);
  rs.Update();
  rs.Close();
}

// Every value of one field, in the table's order.
inline std::vector<Valeur> ValeursColonne(moteur::Database& base, const std::string& table, const std::string& champ) {
  std::vector<Valeur> valeurs;
  moteur::Recordset rs = base.OpenRecordset(table);
  while (!rs.Eof()) {
    valeurs.push_back(rs[champ].Value());
    rs.MoveNext();
  }
  rs.Close();
  return valeurs;
}

inline std::vector<std::string> NomsChamps(moteur::Database& base, const std::string& table) {
  std::vector<std::string> noms;
  moteur::TableDef td = base.TableDefs()[table];
  for (int i = 0; i < td.Fields().Count(); ++i) noms.push_back(td.Fields()[i].Name());
  return noms;
}

inline bool TableExiste(moteur::Database& base, const std::string& table) {
  return moteur::Essaie([&] { base.TableDefs()[table].Name(); }).Number == 0;
}

inline Valeur ProprieteChamp(moteur::Database& base, const std::string& table, const std::string& champ,
                             const std::string& nom) {
  Valeur v;
  moteur::Essaie([&] { v = base.TableDefs()[table].Fields()[champ].Properties()[nom].Value(); });
  return v;
}

// Changes the catalog of a closed database file behind the engine's back, as an older or
// damaged file may hold it.
inline void ModifieCatalogue(const fs::path& fichier, const std::string& instruction) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(fichier.c_str(), &db), SQLITE_OK);
  char* erreur = nullptr;
  int rc = sqlite3_exec(db, instruction.c_str(), nullptr, nullptr, &erreur);
  std::string message = erreur ? erreur : "";
  sqlite3_free(erreur);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

class StructureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> compteur{0};
    racine = fs::temp_directory_path() /
             ("utireorg_structure_" + std::to_string(::getpid()) + "_" + std::to_string(compteur++));
    fs::remove_all(racine);
    fs::create_directories(racine / "modele" / "cible");
    ancien = fs::current_path();
    fs::current_path(racine);
    DefinitHorloge([] { return std::chrono::system_clock::from_time_t(1'700'000'000); });
    ASSERT_TRUE(journal.OuvertureJournal());
    cheminModele = (racine / "modele" / "Compta.mdb").string();
    cheminCible = (racine / "modele" / "cible" / "Compta.mdb").string();
    etat.estimationEtapes = 500;
    fenetre.saisies[saisie::Modele] = cheminModele;
  }

  void TearDown() override {
    FermeBase(etat.baseCourante);
    FermeBase(resultat);
    DefinitObservateurReouverture({});
    journal.FermetureJournal();
    DefinitHorloge({});
    fs::current_path(ancien);
    std::error_code e;
    fs::remove_all(racine, e);
  }

  // Builds one database with the given function, then closes it.
  static void Base(const std::string& chemin, const std::function<void(moteur::Database&)>& remplit) {
    moteur::Database base = moteur::DBEngine::CreateDatabase(chemin);
    remplit(base);
    base.Close();
  }
  void Modele(const std::function<void(moteur::Database&)>& remplit) { Base(cheminModele, remplit); }
  void Cible(const std::function<void(moteur::Database&)>& remplit) { Base(cheminCible, remplit); }

  void Verifie(bool avancee = false) {
    etat.versionAvancee = avancee;
    etat.baseCourante = OuvreBase(cheminCible);
    VerificationStructure(etat, cheminCible, etat.baseCourante, "base de données principale");
  }

  // The target as the verification left it, open for reading.
  moteur::Database& Resultat() {
    FermeBase(resultat);
    resultat = moteur::DBEngine::OpenDatabase(cheminCible);
    return resultat;
  }

  static std::string H(const std::string& texte) { return Horodatage() + " " + texte; }

  std::vector<std::string> Lignes() const {
    std::vector<std::string> lignes;
    std::string texte = fenetre.journal;
    for (std::size_t debut = 0; debut < texte.size();) {
      std::size_t fin = texte.find("\r\n", debut);
      if (fin == std::string::npos) fin = texte.size();
      lignes.push_back(texte.substr(debut, fin - debut));
      debut = fin + 2;
    }
    return lignes;
  }

  // The lines that report something: alerts, errors, index creations, null fields, purges.
  std::vector<std::string> Constats() const {
    std::vector<std::string> constats;
    for (const auto& l : Lignes())
      if (l.find("#ALERT#") != std::string::npos || l.find("#ERR#") != std::string::npos ||
          l.find("L'index ") != std::string::npos || l.find("Champ nul") == 0 || l.find("Purge table") == 0)
        constats.push_back(l);
    return constats;
  }

  // Titles of the framed sections, in order.
  std::vector<std::string> Sections() const {
    std::vector<std::string> titres;
    for (const auto& l : Lignes()) {
      if (l.size() < 6 || l.compare(0, 3, "-- ") != 0 || l.compare(l.size() - 3, 3, " --") != 0) continue;
      std::string t = l.substr(3, l.size() - 6);
      while (!t.empty() && t.front() == ' ') t.erase(0, 1);
      while (!t.empty() && t.back() == ' ') t.pop_back();
      titres.push_back(t);
    }
    return titres;
  }

  int Compte(const std::string& ligne) const {
    int n = 0;
    for (const auto& l : Lignes()) n += l == ligne;
    return n;
  }

  fs::path racine, ancien;
  std::string cheminModele, cheminCible;
  FenetreFactice fenetre;
  Journal journal{fenetre};
  EtatReorganisation etat{fenetre, journal};
  moteur::Database resultat;
};

}  // namespace utireorg::tests

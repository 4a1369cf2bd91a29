// A model and a target that differ in every way the structure verification looks at (tables,
// fields, types, sizes, attributes, defaults, required, zero-length, dictionary, indexes, primary
// keys, relations, temporary and leftover tables, nulls), described in paire/: one advanced run
// brings the target up to the model, and keeps every record and value or journals its change.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>

#include "test_pilote_outils.h"

namespace pilote_tests {
namespace {

using Json = nlohmann::ordered_json;

std::string DossierPaire() { return (fs::path(RACINE_PROJET) / "tests" / "app" / "paire").string(); }

bool Purgee(const std::string& table) {
  std::string debut = table.substr(0, 3);
  std::transform(debut.begin(), debut.end(), debut.begin(), [](unsigned char c) { return std::toupper(c); });
  return debut == "TMP";
}

const Json* Element(const Json& liste, const std::string& nom) {
  for (const auto& e : liste)
    if (e.value("nom", "") == nom) return &e;
  return nullptr;
}

// Carried from the model only when a table is rebuilt, and then from the target's own field: the
// verification does not bring them to a field it creates or leaves in place, so the comparison
// with the model sets them aside.
bool HorsComparaison(const Json& propriete) {
  const std::string nom = propriete.value("nom", "");
  return nom == "Supplement" || nom == "FormatSaisie";
}

// The target's description without what only the target has (its own fields and indexes, which
// the verification keeps), properties and indexes in name order, field order kept.
Json Comparable(Json description, const Json& modele) {
  for (auto& table : description["tables"]) {
    const Json* reference = Element(modele["tables"], table["nom"]);
    for (const char* liste : {"champs", "index"}) {
      if (!table.contains(liste)) continue;
      Json gardes = Json::array();
      for (auto& e : table[liste]) {
        if (reference && reference->contains(liste) && !Element((*reference)[liste], e["nom"])) continue;
        e.erase("ordinal");
        if (e.contains("proprietes")) {
          Json& proprietes = e["proprietes"];
          proprietes.erase(std::remove_if(proprietes.begin(), proprietes.end(), HorsComparaison), proprietes.end());
          std::sort(proprietes.begin(), proprietes.end(), [](const Json& a, const Json& b) { return a["nom"] < b["nom"]; });
        }
        gardes.push_back(e);
      }
      std::sort(gardes.begin(), gardes.end(), [&](const Json& a, const Json& b) {
        return std::string(liste) == "index" && a["nom"] < b["nom"];
      });
      table[liste] = gardes;
    }
  }
  return description;
}

// 1250.5 read back as the Currency "1250.5" is the same value.
bool MemeValeur(const Json& a, const Json& b) {
  if (a == b) return true;
  auto nombre = [](const Json& v, double& d) {
    if (v.is_number()) return d = v.get<double>(), true;
    if (!v.is_string()) return false;
    try {
      std::size_t fin = 0;
      d = std::stod(v.get<std::string>(), &fin);
      return fin == v.get<std::string>().size();
    } catch (...) {
      return false;
    }
  };
  double x = 0, y = 0;
  return nombre(a, x) && nombre(b, y) && x == y;
}

class TestPaire : public TestPilote {
 protected:
  void SetUp() override {
    TestPilote::SetUp();
    modele_ = Chemin("Logiciel/Compta.mdb");
    cible_ = Chemin("Logiciel/Dossier1/Compta.mdb");
    fs::create_directories(Chemin("Logiciel/Dossier1"));
    ASSERT_EQ(Outil_({"creer", DossierPaire() + "/modele.json", modele_}).code, 0);
    ASSERT_EQ(Outil_({"creer", DossierPaire() + "/cible.json", cible_}).code, 0);
    avant_ = Decrit(cible_, false);
  }

  Execution Outil_(const std::vector<std::string>& arguments) { return Lance(Outil("utireorg-base"), arguments, Dossier()); }

  Json Decrit(const std::string& base, bool sansDonnees) {
    std::vector<std::string> arguments{"decrire", base};
    if (sansDonnees) arguments.push_back("--sans-donnees");
    auto e = Outil_(arguments);
    EXPECT_EQ(e.code, 0) << e.sortie;
    return Json::parse(e.sortie, nullptr, false);
  }

  void Reorganise(bool relations) {
    std::vector<std::string> arguments{"--cible", cible_, "--modele", modele_, "--options", "0,1,2,3,4,5",
                                       "--copie", "--avance", "--oui"};
    if (!relations) arguments.push_back("--sans-relations");
    auto e = Lance(Outil("utireorg-lot"), arguments, Dossier());
    ASSERT_EQ(e.code, 0) << e.sortie;
    journal_ = utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt")));
  }

  void StructureDuModele() {
    const Json decrit = Decrit(modele_, true);
    Json modele = Comparable(decrit, decrit), cible = Comparable(Decrit(cible_, true), decrit);
    ASSERT_EQ(cible["tables"].size(), modele["tables"].size()) << cible.dump(2);
    for (std::size_t i = 0; i < modele["tables"].size(); ++i)
      EXPECT_EQ(cible["tables"][i].dump(2), modele["tables"][i].dump(2));
    EXPECT_EQ(cible["proprietes"], modele["proprietes"]);
  }

  // Every value of the target, except in the temporary tables the purge removes with their
  // records, is still in its record, or the journal says how it changed.
  void ValeursGardeesOuJournalisees() {
    Json apres = Decrit(cible_, false);
    for (const auto& table : avant_["tables"]) {
      const std::string nom = table["nom"];
      if (Purgee(nom) || !table.contains("enregistrements") || table["enregistrements"].empty()) continue;
      const Json* nouvelle = Element(apres["tables"], nom);
      ASSERT_NE(nouvelle, nullptr) << nom;
      for (const auto& avant : table["enregistrements"]) {
        const Json* trouve = nullptr;
        for (const auto& r : (*nouvelle)["enregistrements"])
          if (r["Id"] == avant["Id"]) trouve = &r;
        ASSERT_NE(trouve, nullptr) << nom << " " << avant.dump();
        for (const auto& [champ, valeur] : avant.items()) {
          if (valeur.is_null() || MemeValeur(valeur, (*trouve)[champ])) continue;
          const std::string ligne = "#ALERT# Table : " + nom + ", enregistrement Id=" + avant["Id"].dump() + ", champ '" +
                                    champ + "' : ";
          EXPECT_NE(journal_.find(ligne), std::string::npos) << ligne << "\n" << journal_;
        }
      }
    }
  }

  static std::set<std::string> Relations(const Json& description) {
    std::set<std::string> relations;
    for (const auto& r : description["relations"]) relations.insert(r.dump());
    return relations;
  }

  std::string modele_, cible_, journal_;
  Json avant_;
};

TEST_F(TestPaire, UnRunAvanceMetLaCibleAuNiveauDuModeleSansRienPerdre) {
  Reorganise(true);
  StructureDuModele();
  ValeursGardeesOuJournalisees();
  EXPECT_EQ(Relations(Decrit(cible_, true)), Relations(Decrit(modele_, true)));
  EXPECT_EQ(journal_.find("#ERR# Table :"), std::string::npos) << journal_;
}

TEST_F(TestPaire, SansLesRelationsLaCibleGardeLesSiennes) {
  Reorganise(false);
  StructureDuModele();
  ValeursGardeesOuJournalisees();
  // Its own relations, rebuilt tables or not; only one to a purged table goes, named.
  std::set<std::string> attendues;
  for (const auto& r : avant_["relations"]) {
    if (Purgee(r["table"]) || Purgee(r["tableEtrangere"])) {
      const std::string ligne = "#ALERT# Relation '" + r["nom"].get<std::string>() + "' supprimée avec la table ";
      EXPECT_NE(journal_.find(ligne), std::string::npos) << ligne;
    } else {
      attendues.insert(r.dump());
    }
  }
  EXPECT_FALSE(attendues.empty());
  EXPECT_EQ(Relations(Decrit(cible_, true)), attendues);
}

}  // namespace
}  // namespace pilote_tests

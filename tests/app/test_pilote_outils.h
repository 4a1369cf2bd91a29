// Shared fixture of the run driver tests: a private current directory and temporary folder, a
// scripted window that also records the main window's own controls, a fixed clock, a real
// journal, and builders of small and demonstration databases.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/Pilote.h"
#include "commun/FenetreFactice.h"
#include "commun/FichiersTest.h"
#include "common/Ansi.h"
#include "common/Horodatage.h"
#include "common/LigneDeCommande.h"
#include "messages/Aide.h"
#include "moteur/Moteur.h"

extern char** environ;

namespace pilote_tests {

namespace fs = std::filesystem;
using utireorg::tests::LitFichier;

// The fake window, plus what the driver asks of the main window's own controls.
class FenetreTest : public utireorg::tests::FenetreFactice {
 public:
  void ActiveBouton(int index, bool actif) override { boutons.emplace_back(index, actif); }
  void AvancementEnErreur() override { ++enErreur; }
  void FermeFenetre() override { ++fermetures; }
  void AvancementDossiers(int numero, int nombre, const std::string& legende) override {
    dossiers.push_back(std::to_string(numero) + "/" + std::to_string(nombre) + " " + legende);
  }

  std::vector<std::pair<int, bool>> boutons;
  int enErreur = 0;
  int fermetures = 0;
  std::vector<std::string> dossiers;  // the folder panel of the all-folders run, as it changed

  // The journal as the window shows it, one entry per line.
  std::vector<std::string> Lignes() const {
    std::vector<std::string> lignes;
    std::size_t depuis = 0;
    for (auto pos = journal.find("\r\n"); pos != std::string::npos; pos = journal.find("\r\n", depuis)) {
      lignes.push_back(journal.substr(depuis, pos - depuis));
      depuis = pos + 2;
    }
    return lignes;
  }
  bool Contient(const std::string& ligne) const {
    for (const auto& l : Lignes())
      if (l == ligne) return true;
    return false;
  }
  bool ContientTexte(const std::string& morceau) const { return journal.find(morceau) != std::string::npos; }
  // Position of the first line equal to the text at or after "depuis", or -1.
  long Position(const std::string& ligne, long depuis = 0) const {
    auto lignes = Lignes();
    for (long i = depuis; i < static_cast<long>(lignes.size()); ++i)
      if (lignes[i] == ligne) return i;
    return -1;
  }
  // The title or section line of a frame: its text between the borders.
  long PositionCadre(const std::string& texte, long depuis = 0) const {
    auto lignes = Lignes();
    for (long i = depuis; i < static_cast<long>(lignes.size()); ++i) {
      const auto& l = lignes[i];
      if ((l.rfind("**", 0) == 0 || l.rfind("--", 0) == 0) && l.find(" " + texte + " ") != std::string::npos)
        return i;
    }
    return -1;
  }
  int NombreMessages(const std::string& titre) const {
    int n = 0;
    for (const auto& m : messages)
      if (m.titre == titre) ++n;
    return n;
  }
};

// The build tree's tools, beside the tests' folder, and the demonstration descriptions.
inline std::string Outil(const std::string& nom) {
  return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / nom).string();
}
// From the project's root as the build knows it: a compiler cache may write __FILE__ relative.
inline fs::path RacineProjet() { return RACINE_PROJET; }
inline std::string DossierDemo() { return (RacineProjet() / "demo").string(); }

struct Execution {
  int code = -1;
  std::string sortie;  // standard output and error together
};

// Runs a program to its end, its output captured in a file of the folder given.
inline Execution Lance(const std::string& programme, const std::vector<std::string>& arguments,
                       const std::string& dossier) {
  std::vector<std::string> mots{programme};
  mots.insert(mots.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& m : mots) argv.push_back(m.data());
  argv.push_back(nullptr);
  std::string fichier = dossier + "/sortie_programme.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, fichier.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  Execution e;
  pid_t pid = 0;
  if (posix_spawn(&pid, programme.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int statut = 0;
    ::waitpid(pid, &statut, 0);
    e.code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  e.sortie = LitFichier(fichier);
  return e;
}

class TestPilote : public ::testing::Test {
 protected:
  void SetUp() override {
    dossier_ = racine_.Racine();
    temporaire_ = dossier_ + "/tmp";
    fs::create_directory(temporaire_);
    const char* ancienTmp = std::getenv("TMPDIR");
    if (ancienTmp) ancienTmpdir_ = ancienTmp;
    ::setenv("TMPDIR", temporaire_.c_str(), 1);
    ancien_ = fs::current_path();
    fs::current_path(dossier_);
    instant_ = std::chrono::system_clock::now();
    utireorg::DefinitHorloge([this] { return instant_; });
    utireorg::MemoriseLigneDeCommande("tests_app");
    utireorg::DefinitDossierModele({});
    fenetre = std::make_unique<FenetreTest>();
    pilote = std::make_unique<utireorg::Pilote>(*fenetre);
  }

  void TearDown() override {
    pilote.reset();
    fenetre.reset();
    while (moteur::DBEngine::NiveauTransaction() > 0) moteur::DBEngine::Rollback();
    utireorg::DefinitHorloge({});
    utireorg::MemoriseLigneDeCommande("");
    utireorg::DefinitDossierModele({});
    fs::current_path(ancien_);
    if (ancienTmpdir_)
      ::setenv("TMPDIR", ancienTmpdir_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

  std::string Chemin(const std::string& nom) const { return dossier_ + "/" + nom; }
  const std::string& Dossier() const { return dossier_; }
  const std::string& Temporaire() const { return temporaire_; }
  std::string DateAttendue() const { return utireorg::DateLongue(instant_); }

  // The small database as the target, in its own folder for the safe mode, with a last table whose
  // empty page ends the file: a cut of its last byte takes no record.
  std::string CibleAvecDerniereTable(bool securise) {
    std::string cible = CreePetiteBase(securise ? "Securise/Compta.mdb" : "Compta.mdb");
    auto base = moteur::DBEngine::OpenDatabase(cible);
    auto td = base.CreateTableDef("Derniere");
    td.Fields().Append(td.CreateField("Texte", moteur::dbText, 10));
    base.TableDefs().Append(td);
    return cible;
  }

  // A small database: "Clients" (Id counter, Nom text 20, Ville text 30, two indexes) with three
  // records, and "Vide" (one field, no index).
  std::string CreePetiteBase(const std::string& nom, const std::string& version = "4.0") {
    std::string chemin = Chemin(nom);
    fs::create_directories(fs::path(chemin).parent_path());
    auto base = moteur::DBEngine::CreateDatabase(chemin, version);
    auto td = base.CreateTableDef("Clients");
    auto id = td.CreateField("Id", moteur::dbLong);
    id.SetAttributes(moteur::dbAutoIncrField);
    td.Fields().Append(id);
    td.Fields().Append(td.CreateField("Nom", moteur::dbText, 20));
    td.Fields().Append(td.CreateField("Ville", moteur::dbText, 30));
    auto cle = td.CreateIndex("PrimaryKey");
    cle.SetFields("+Id");
    cle.SetPrimary(true);
    cle.SetUnique(true);
    td.Indexes().Append(cle);
    auto parNom = td.CreateIndex("Nom");
    parNom.SetFields("+Nom");
    td.Indexes().Append(parNom);
    base.TableDefs().Append(td);
    auto vide = base.CreateTableDef("Vide");
    vide.Fields().Append(vide.CreateField("Texte", moteur::dbText, 10));
    base.TableDefs().Append(vide);
    auto rs = base.OpenRecordset("Clients", moteur::dbOpenTable);
    for (const char* n : {"Durand", "Martin", "Petit"}) {
      rs.AddNew();
      rs["Nom"].SetValue(moteur::Valeur(std::string(n)));
      rs["Ville"].SetValue(moteur::Valeur(std::string("Toulouse")));
      rs.Update();
    }
    rs.Close();
    base.Close();
    return chemin;
  }

  // Model "<dossier>/Logiciel/Compta.mdb" and target "<dossier>/Logiciel/Dossier1/Compta.mdb" made
  // from the demonstration descriptions by the database tool.
  void CreeBasesDemo() {
    modeleDemo = Chemin("Logiciel/Compta.mdb");
    cibleDemo = Chemin("Logiciel/Dossier1/Compta.mdb");
    fs::create_directories(Chemin("Logiciel/Dossier1"));
    auto m = Lance(Outil("utireorg-base"), {"creer", DossierDemo() + "/modele.json", modeleDemo}, dossier_);
    ASSERT_EQ(m.code, 0) << m.sortie;
    auto c = Lance(Outil("utireorg-base"), {"creer", DossierDemo() + "/cible.json", cibleDemo}, dossier_);
    ASSERT_EQ(c.code, 0) << c.sortie;
  }

  // The window's inputs as a user fills them, then the input check.
  void Saisit(const std::string& cible, const std::string& modele = {}) {
    fenetre->saisies[saisie::Cible] = cible;
    fenetre->saisies[saisie::Modele] = modele;
    ASSERT_TRUE(pilote->ControleSaisies());
    fenetre->messages.clear();
  }

  std::vector<std::string> FichiersTemporaires() const {
    std::vector<std::string> noms;
    for (const auto& e : fs::directory_iterator(temporaire_)) noms.push_back(e.path().filename().string());
    return noms;
  }

  std::unique_ptr<FenetreTest> fenetre;
  std::unique_ptr<utireorg::Pilote> pilote;
  std::string modeleDemo, cibleDemo;

 private:
  utireorg::tests::DossierTest racine_{"pilote"};
  std::string dossier_, temporaire_;
  std::optional<std::string> ancienTmpdir_;
  fs::path ancien_;
  std::chrono::system_clock::time_point instant_;
};

}  // namespace pilote_tests

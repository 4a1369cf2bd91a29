// Shared tools of the reliability suite: a private folder per test, the command-line tools run as
// separate processes (to their end, or stopped from outside), a small target and model pair built
// with the engine, and every record of a database read into a form two databases can be compared
// in.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/Pilote.h"
#include "commun/FenetreFactice.h"
#include "commun/FichiersTest.h"
#include "commun/ProcessusAide.h"
#include "moteur/Moteur.h"

extern char** environ;

namespace fiabilite {

namespace fs = std::filesystem;
using moteur::Valeur;
using utireorg::tests::DossierTest;
using utireorg::tests::EcritFichier;
using utireorg::tests::FichiersDuDossier;
using utireorg::tests::LitFichier;
using utireorg::tests::ProcessusAide;

// ---------------------------------------------------------------- files and folders

inline std::string OutilLot() { return std::string(CHEMIN_OUTILS) + "/utireorg-lot"; }
inline std::string OutilBase() { return std::string(CHEMIN_OUTILS) + "/utireorg-base"; }

// ---------------------------------------------------------------- other processes

// How a program is started: its arguments, current directory and the environment variables
// given to it on top of the test's own.
struct Lancement {
  std::string programme;
  std::vector<std::string> arguments;
  std::string dossier;  // current directory; empty: the test's own
  std::vector<std::pair<std::string, std::string>> environnement{};
  std::string sortie{};  // file receiving stdout and stderr; empty: /dev/null
  int tubeSortie = -1;  // when given, stdout goes to this descriptor (a pipe) and only stderr to "sortie"
};

// A program running beside the test. The destructor always stops it (SIGKILL) and waits for it,
// so that no test leaves a process behind, whatever fails.
class Processus {
 public:
  explicit Processus(const Lancement& lancement) {
    std::vector<std::string> mots{lancement.programme};
    mots.insert(mots.end(), lancement.arguments.begin(), lancement.arguments.end());
    std::vector<char*> argv;
    for (auto& m : mots) argv.push_back(m.data());
    argv.push_back(nullptr);

    std::vector<std::string> variables;
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      bool remplacee = false;
      for (const auto& [nom, valeur] : lancement.environnement) remplacee = remplacee || v.rfind(nom + "=", 0) == 0;
      if (!remplacee) variables.push_back(v);
    }
    for (const auto& [nom, valeur] : lancement.environnement) variables.push_back(nom + "=" + valeur);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::string sortie = lancement.sortie.empty() ? "/dev/null" : lancement.sortie;
    posix_spawn_file_actions_addopen(&actions, 1, sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (lancement.tubeSortie >= 0) posix_spawn_file_actions_adddup2(&actions, lancement.tubeSortie, 1);
    if (!lancement.dossier.empty()) posix_spawn_file_actions_addchdir_np(&actions, lancement.dossier.c_str());
    int rc = posix_spawn(&pid_, lancement.programme.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("impossible de lancer " + lancement.programme);
    }
  }
  ~Processus() {
    Tue();
    Attend();
  }
  Processus(const Processus&) = delete;
  Processus& operator=(const Processus&) = delete;

  pid_t Pid() const { return pid_; }

  // SIGKILL, as a crash or the task manager would stop it; nothing when it has ended.
  void Tue() {
    if (pid_ > 0 && !statut_) ::kill(pid_, SIGKILL);
  }

  // Waits for its end; the raw wait status.
  int Attend() {
    if (pid_ > 0 && !statut_) {
      int statut = 0;
      while (::waitpid(pid_, &statut, 0) < 0 && errno == EINTR) {
      }
      statut_ = statut;
    }
    return statut_.value_or(0);
  }

  // True once it has ended on its own (without waiting for it).
  bool Fini() {
    if (pid_ <= 0 || statut_) return true;
    int statut = 0;
    if (::waitpid(pid_, &statut, WNOHANG) == pid_) {
      statut_ = statut;
      return true;
    }
    return false;
  }

  bool ArreteParSignal() const { return statut_ && WIFSIGNALED(*statut_); }
  // The exit code, or -1 when it did not exit by itself.
  int Code() const { return statut_ && WIFEXITED(*statut_) ? WEXITSTATUS(*statut_) : -1; }

 private:
  pid_t pid_ = -1;
  std::optional<int> statut_;
};

struct Execution {
  int code = -1;        // exit code, -1 when it was killed
  std::string sortie;   // stdout and stderr together
  std::chrono::steady_clock::duration duree{};
};

// Runs a program to its end.
inline Execution Execute(Lancement lancement) {
  std::optional<DossierTest> temporaire;
  if (lancement.sortie.empty()) {
    temporaire.emplace("sortie");
    lancement.sortie = temporaire->Chemin("sortie.txt");
  }
  Execution e;
  auto debut = std::chrono::steady_clock::now();
  {
    Processus p(lancement);
    p.Attend();
    e.code = p.Code();
  }
  e.duree = std::chrono::steady_clock::now() - debut;
  e.sortie = LitFichier(lancement.sortie);
  return e;
}

// ---------------------------------------------------------------- a target and its model

// What the pair holds; the defaults make a few hundred records that a full run has to repair.
struct OptionsCouple {
  int clients = 240;
  int factures = 320;
  int lignesTemporaires = 40;
  std::string nomLogiciel = "Compta";
};

// The model "<racine>/Logiciel/<nom>.mdb" (the installed software's reference, in Jet 4.0) and the
// target "<racine>/Logiciel/Dossier1/<nom>.mdb" one folder level below it, as the structure
// verification looks for its model (in Jet 3.0, so that compaction converts it). Against the
// model, the target:
//   - Clients: lacks the field Telephone and the index Ville; some required names are null; some
//     towns are longer than their field (compaction stops on 3163 and the records are verified);
//   - Factures: its Libelle is 30 characters long where the model's is 60 (the table is rebuilt
//     through a "Temp_" copy), some required amounts are null;
//   - TmpCalcul: a temporary table of the software, purged by "Traitement exhaustif";
//   - Reglements: missing (created), and the relation Clients–Factures is missing (created).
struct CoupleBases {
  std::string modele;
  std::string cible;
};

namespace detail {

inline moteur::Field Champ(moteur::TableDef& table, const std::string& nom, int type, int taille = 0,
                           bool requis = false, const std::string& nomClair = {}, const std::string& defaut = {}) {
  moteur::Field champ = table.CreateField(nom, type, taille);
  if (requis) champ.SetRequired(true);
  if (!defaut.empty()) champ.SetDefaultValue(defaut);
  table.Fields().Append(champ);
  if (!nomClair.empty()) champ.Properties().Append(champ.CreateProperty("NomClair", moteur::dbText, Valeur(nomClair)));
  return champ;
}

inline void Compteur(moteur::TableDef& table, const std::string& nom) {
  moteur::Field champ = table.CreateField(nom, moteur::dbLong);
  champ.SetAttributes(moteur::dbAutoIncrField);
  table.Fields().Append(champ);
}

inline void Index(moteur::TableDef& table, const std::string& nom, const std::string& champs, bool unique,
                  bool primaire = false) {
  moteur::Index index = table.CreateIndex(nom);
  index.SetFields(champs);
  index.SetUnique(unique);
  index.SetPrimary(primaire);
  table.Indexes().Append(index);
}

inline void NomClairTable(moteur::TableDef& table, const std::string& nom) {
  table.Properties().Append(table.CreateProperty("NomClair", moteur::dbText, Valeur(nom)));
}

inline void CreeClients(moteur::Database& base, bool modele) {
  moteur::TableDef t = base.CreateTableDef("Clients");
  Compteur(t, "IdClient");
  Champ(t, "Code", moteur::dbText, 10, true, "Code client");
  Champ(t, "Nom", moteur::dbText, 40, modele, "Nom du client", modele ? "\"?\"" : "");
  Champ(t, "Ville", moteur::dbText, 30, false, "Ville");
  if (modele) Champ(t, "Telephone", moteur::dbText, 20, false, "Téléphone");
  Champ(t, "Encours", moteur::dbCurrency, 0, false, "Encours");
  Index(t, "PrimaryKey", "+IdClient", true, true);
  Index(t, "CodeClient", "+Code", true);
  if (modele) Index(t, "Ville", "+Ville", false);
  base.TableDefs().Append(t);
  NomClairTable(t, "Clients");
}

inline void CreeFactures(moteur::Database& base, bool modele) {
  moteur::TableDef t = base.CreateTableDef("Factures");
  Compteur(t, "IdFacture");
  Champ(t, "IdClient", moteur::dbLong, 0, true, "Client");
  Champ(t, "Libelle", moteur::dbText, modele ? 60 : 30, false, "Libellé");
  Champ(t, "Montant", moteur::dbCurrency, 0, modele, "Montant", modele ? "0" : "");
  Champ(t, "DateFacture", moteur::dbDate, 0, false, "Date");
  Index(t, "PrimaryKey", "+IdFacture", true, true);
  Index(t, "IdClient", "+IdClient", false);
  base.TableDefs().Append(t);
  NomClairTable(t, "Factures");
}

inline void CreeTmpCalcul(moteur::Database& base) {
  moteur::TableDef t = base.CreateTableDef("TmpCalcul");
  Champ(t, "Cle", moteur::dbLong);
  Champ(t, "Total", moteur::dbDouble);
  Index(t, "PrimaryKey", "+Cle", true, true);
  base.TableDefs().Append(t);
}

inline void CreeReglements(moteur::Database& base) {
  moteur::TableDef t = base.CreateTableDef("Reglements");
  Compteur(t, "IdReglement");
  Champ(t, "IdFacture", moteur::dbLong, 0, true, "Facture");
  Champ(t, "Somme", moteur::dbCurrency, 0, false, "Somme");
  Index(t, "PrimaryKey", "+IdReglement", true, true);
  base.TableDefs().Append(t);
  NomClairTable(t, "Règlements");
}

inline void CreeRelation(moteur::Database& base) {
  moteur::Relation r = base.CreateRelation("ClientsFactures", "Clients", "Factures");
  moteur::Field f = r.CreateField("IdClient");
  f.SetForeignName("IdClient");
  r.Fields().Append(f);
  base.Relations().Append(r);
}

inline std::string Ville(int i) {
  static const char* const villes[] = {"TOULOUSE", "ALBI", "MONTAUBAN", "CAHORS", "FOIX", "CARCASSONNE"};
  return villes[i % 6];
}

inline void RemplitCible(moteur::Database& base, const OptionsCouple& options) {
  using Ligne = std::vector<std::pair<std::string, Valeur>>;
  moteur::DBEngine::BeginTrans();
  for (int i = 1; i <= options.clients; ++i) {
    Ligne l{{"IdClient", Valeur(i)},
            {"Code", Valeur("C" + std::to_string(1000 + i))},
            {"Nom", i % 37 == 0 ? Valeur::Nul() : Valeur("Client numéro " + std::to_string(i))},
            {"Ville", Valeur(i % 41 == 0 ? "SAINT-RÉMY-DE-LA-MONTAGNE-NOIRE-" + std::to_string(i) : Ville(i))},
            {"Encours", Valeur::Monetaire(i * 1234567LL % 100000000LL)}};
    moteur::EcritSansControle(base, "Clients", l);
  }
  for (int i = 1; i <= options.factures; ++i) {
    moteur::DateHeure date;
    moteur::DateHeure::DepuisIso("2023-" + std::string(i % 12 < 9 ? "0" : "") + std::to_string(i % 12 + 1) + "-" +
                                     std::to_string(10 + i % 18) + " 00:00:00",
                                 date);
    Ligne l{{"IdFacture", Valeur(i)},
            {"IdClient", Valeur(1 + i % options.clients)},
            {"Libelle", Valeur("Facture " + std::to_string(i) + (i % 5 == 0 ? " avec un libellé" : ""))},
            {"Montant", i % 29 == 0 ? Valeur::Nul() : Valeur::Monetaire(i * 98765LL)},
            {"DateFacture", Valeur(date)}};
    moteur::EcritSansControle(base, "Factures", l);
  }
  for (int i = 1; i <= options.lignesTemporaires; ++i)
    moteur::EcritSansControle(base, "TmpCalcul", {{"Cle", Valeur(i)}, {"Total", Valeur(i * 1.5)}});
  moteur::DBEngine::CommitTrans();
}

}  // namespace detail

inline CoupleBases CreeCoupleBases(const std::string& racine, const OptionsCouple& options = {}) {
  CoupleBases couple;
  fs::create_directories(fs::path(racine) / "Logiciel" / "Dossier1");
  couple.modele = (fs::path(racine) / "Logiciel" / (options.nomLogiciel + ".mdb")).string();
  couple.cible = (fs::path(racine) / "Logiciel" / "Dossier1" / (options.nomLogiciel + ".mdb")).string();

  moteur::Database modele = moteur::DBEngine::CreateDatabase(couple.modele, "4.0");
  detail::CreeClients(modele, true);
  detail::CreeFactures(modele, true);
  detail::CreeTmpCalcul(modele);
  detail::CreeReglements(modele);
  detail::CreeRelation(modele);
  modele.Close();

  moteur::Database cible = moteur::DBEngine::CreateDatabase(couple.cible, "3.0");
  detail::CreeClients(cible, false);
  detail::CreeFactures(cible, false);
  detail::CreeTmpCalcul(cible);
  detail::RemplitCible(cible, options);
  cible.Close();
  return couple;
}

// ---------------------------------------------------------------- a whole run in the test's process

// The window of a whole run driven in the test's own process with every option ("Mode sécurisé"
// as asked), as "utireorg-lot --copie --avance --oui" drives it: every question gets its first
// button. "surLigne" sees each journal line as it is written, so that a test can act at a precise
// step of the run.
class FenetreRun : public utireorg::tests::FenetreFactice {
 public:
  FenetreRun(const CoupleBases& couple, bool securise, bool copie = true) {
    for (int i : {coche::VerificationsPrimaires, coche::ReparationCompactage, coche::Compactage, coche::ControleEtendu,
                  coche::TraitementExhaustif})
      coches[i] = true;
    coches[coche::ModeSecurise] = securise;
    cases[cases::Copie] = copie;
    cases[cases::Avancee] = true;
    saisies[saisie::Cible] = couple.cible;
    saisies[saisie::Modele] = couple.modele;
  }

  std::function<void(const std::string&)> surLigne;

  void AjouteAuJournal(const std::string& texte) override {
    FenetreFactice::AjouteAuJournal(texte);
    if (!surLigne) return;
    std::size_t depuis = 0;
    for (auto fin = texte.find("\r\n"); fin != std::string::npos; fin = texte.find("\r\n", depuis)) {
      surLigne(texte.substr(depuis, fin - depuis));
      depuis = fin + 2;
    }
    if (depuis < texte.size()) surLigne(texte.substr(depuis));
  }
  std::optional<int> PresenteMessage(const utireorg::MessageAnalyse& message) override {
    FenetreFactice::PresenteMessage(message);
    return 1;
  }

  bool ContientLigne(const std::string& ligne) const { return journal.find(ligne + "\r\n") != std::string::npos; }
  bool ContientTexte(const std::string& morceau) const { return journal.find(morceau) != std::string::npos; }
  bool MessageContient(const std::string& morceau) const {
    for (const auto& m : messages)
      if (m.texte.find(morceau) != std::string::npos) return true;
    return false;
  }
};

// What a run in the test's process needs around it: its own temporary folder (working copies,
// compaction files) and current directory (the journal), both given back at the end.
class EnvironnementRun {
 public:
  EnvironnementRun(const std::string& dossier, const std::string& temporaire) : ancien_(fs::current_path()) {
    if (const char* t = std::getenv("TMPDIR")) ancienTmpdir_ = t;
    fs::create_directories(temporaire);
    ::setenv("TMPDIR", temporaire.c_str(), 1);
    fs::current_path(dossier);
  }
  ~EnvironnementRun() {
    std::error_code ec;
    fs::current_path(ancien_, ec);
    if (ancienTmpdir_) ::setenv("TMPDIR", ancienTmpdir_->c_str(), 1);
    else ::unsetenv("TMPDIR");
  }
  EnvironnementRun(const EnvironnementRun&) = delete;
  EnvironnementRun& operator=(const EnvironnementRun&) = delete;

 private:
  fs::path ancien_;
  std::optional<std::string> ancienTmpdir_;
};

// The "Lancer" action of a window: input check, confirmation, run.
inline utireorg::IssueLancer LanceRun(FenetreRun& fenetre) {
  utireorg::Pilote pilote(fenetre);
  pilote.Reorganisation(false, false, true);
  return pilote.Lancer();
}

// ---------------------------------------------------------------- a database in comparable form

// One value as text with its kind, so that 1, "1" and True never compare equal.
inline std::string FormeValeur(const Valeur& v) {
  switch (v.genre()) {
    case Valeur::Genre::Vide: return "vide";
    case Valeur::Genre::Nul: return "nul";
    case Valeur::Genre::Booleen: return std::string("b:") + (v.entier() ? "vrai" : "faux");
    case Valeur::Genre::Entier: return "e:" + std::to_string(v.entier());
    case Valeur::Genre::Monetaire: return "m:" + std::to_string(v.entier());
    case Valeur::Genre::Reel: {
      std::ostringstream s;
      s.precision(17);
      s << v.reel();
      return "r:" + s.str();
    }
    case Valeur::Genre::Date: return "d:" + v.texte();
    case Valeur::Genre::Texte: return "t:" + v.texte();
    case Valeur::Genre::Binaire: return "o:" + std::to_string(v.texte().size()) + ":" + v.texte();
  }
  return "?";
}

// A record: its values by field name.
using Enregistrement = std::map<std::string, std::string>;

struct TableLue {
  std::vector<std::string> champs;   // "name type size required", in ordinal order
  std::vector<std::string> index;    // "name fields unique primary", sorted
  std::vector<std::string> cle;      // fields of the primary key; empty without one
  // Records by the values of their primary key (the whole record without one), in key order.
  std::multimap<std::string, Enregistrement> enregistrements;

  std::string Cle(const Enregistrement& e) const {
    std::string cle;
    if (this->cle.empty()) {
      for (const auto& [nom, valeur] : e) cle += nom + "=" + valeur + "|";
    } else {
      for (const auto& nom : this->cle) {
        auto it = e.find(nom);
        cle += (it == e.end() ? std::string("?") : it->second) + "|";
      }
    }
    return cle;
  }
  bool MemeStructure(const TableLue& autre) const { return champs == autre.champs && index == autre.index; }
  bool operator==(const TableLue& autre) const {
    return MemeStructure(autre) && enregistrements == autre.enregistrements;
  }
};

struct BaseLue {
  std::map<std::string, TableLue> tables;  // user tables by name
  std::vector<std::string> relations;      // "name table>foreign attributes fields", sorted
  std::vector<std::string> integrite;      // what VerifieIntegrite found wrong
  bool operator==(const BaseLue& autre) const { return tables == autre.tables && relations == autre.relations; }

  long long NombreEnregistrements() const {
    long long n = 0;
    for (const auto& [nom, t] : tables) n += static_cast<long long>(t.enregistrements.size());
    return n;
  }
};

namespace detail {

inline TableLue LitTable(moteur::Database& base, moteur::TableDef& definition) {
  TableLue t;
  moteur::Fields champs = definition.Fields();
  std::vector<std::pair<int, std::string>> ordonnes;
  std::vector<std::string> noms;
  for (int i = 0; i < champs.Count(); ++i) {
    moteur::Field f = champs[i];
    noms.push_back(f.Name());
    ordonnes.emplace_back(f.OrdinalPosition(), f.Name() + " " + std::to_string(f.Type()) + " " +
                                                   std::to_string(f.Size()) + (f.Required() ? " requis" : ""));
  }
  std::stable_sort(ordonnes.begin(), ordonnes.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [ordre, texte] : ordonnes) t.champs.push_back(texte);

  moteur::Indexes index = definition.Indexes();
  for (int i = 0; i < index.Count(); ++i) {
    moteur::Index x = index[i];
    t.index.push_back(x.Name() + " " + x.Fields() + (x.Unique() ? " unique" : "") + (x.Primary() ? " primaire" : ""));
    if (x.Primary()) {
      std::string liste = x.Fields();
      std::stringstream flux(liste);
      std::string morceau;
      while (std::getline(flux, morceau, ';'))
        if (!morceau.empty()) t.cle.push_back(morceau[0] == '+' || morceau[0] == '-' ? morceau.substr(1) : morceau);
    }
  }
  std::sort(t.index.begin(), t.index.end());

  moteur::Recordset rs = base.OpenRecordset(definition.Name(), moteur::dbOpenSnapshot);
  while (!rs.Eof()) {
    Enregistrement e;
    for (std::size_t i = 0; i < noms.size(); ++i) e[noms[i]] = FormeValeur(rs[static_cast<int>(i)].Value());
    t.enregistrements.emplace(t.Cle(e), std::move(e));
    rs.MoveNext();
  }
  rs.Close();
  return t;
}

}  // namespace detail

// Opens the database with the engine (which rolls back what an interrupted writer left), checks
// its integrity and reads every user table. Engine errors reach the caller.
inline BaseLue LitBase(const std::string& chemin) {
  BaseLue lue;
  moteur::Database base = moteur::DBEngine::OpenDatabase(chemin);
  try {
    lue.integrite = base.VerifieIntegrite();
    moteur::TableDefs tables = base.TableDefs();
    for (int i = 0; i < tables.Count(); ++i) {
      moteur::TableDef t = tables[i];
      if (t.Attributes() & moteur::dbSystemObject) continue;
      lue.tables.emplace(t.Name(), detail::LitTable(base, t));
    }
    moteur::Relations relations = base.Relations();
    for (int i = 0; i < relations.Count(); ++i) {
      moteur::Relation r = relations[i];
      std::string texte = r.Name() + " " + r.Table() + ">" + r.ForeignTable() + " " + std::to_string(r.Attributes());
      moteur::Fields champs = r.Fields();
      for (int k = 0; k < champs.Count(); ++k) texte += " " + champs[k].Name() + "=" + champs[k].ForeignName();
      lue.relations.push_back(texte);
    }
    std::sort(lue.relations.begin(), lue.relations.end());
  } catch (...) {
    base.Close();
    throw;
  }
  base.Close();
  return lue;
}

// What differs between two databases read by LitBase, told briefly for a failure message.
inline std::string Differences(const BaseLue& a, const BaseLue& b, std::size_t limite = 8) {
  std::ostringstream s;
  std::size_t n = 0;
  auto note = [&](const std::string& texte) {
    if (n++ < limite) s << "  " << texte << "\n";
  };
  for (const auto& [nom, t] : a.tables) {
    auto it = b.tables.find(nom);
    if (it == b.tables.end()) {
      note("table " + nom + " seulement dans la première");
      continue;
    }
    if (t.champs != it->second.champs) note("champs de " + nom + " différents");
    if (t.index != it->second.index) note("index de " + nom + " différents");
    if (t.enregistrements != it->second.enregistrements)
      note("enregistrements de " + nom + " différents (" + std::to_string(t.enregistrements.size()) + " / " +
           std::to_string(it->second.enregistrements.size()) + ")");
  }
  for (const auto& [nom, t] : b.tables)
    if (!a.tables.count(nom)) note("table " + nom + " seulement dans la seconde");
  if (a.relations != b.relations) note("relations différentes");
  if (n > limite) s << "  (" << n - limite << " de plus)\n";
  return s.str();
}

}  // namespace fiabilite

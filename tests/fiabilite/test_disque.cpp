// A disk that fills up at any moment of a whole run: the run ends "interrompue" with the disk's
// own journal lines and caption, and the user's database is as it was (byte for byte when the
// run works on a copy). The moments are chosen from a first run that notes how many bytes it had
// written at each stage, so that every stage meets the full disk; a real small file system that
// fills up and a journal that can no longer grow complete the simulated disk.
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <set>

#include "common/Ansi.h"
#include "common/Fichiers.h"
#include "fiabilite/OutilsEntrees.h"
#include "moteur/Injection.h"
#include "records/CopieEnregistrements.h"

namespace {

namespace fs = std::filesystem;
using fiabilite::BaseLue;
using fiabilite::LitFichier;
using utireorg::IssueLancer;
using namespace moteur::injection;

const std::string InterrompueDisque = "Procédure interrompue ! Libérer de la place sur votre disque dur.";
const std::string LigneInterrompueDisque = "#ERR# " + InterrompueDisque;
const std::string LigneEchec = "La réorganisation ne s'est pas terminée correctement !";
// The lines by which a stage says the disk is full (some carry a time stamp before them).
const std::vector<std::string> LignesDisque = {
    "#ERR# Espace disque insuffisant pour sauvegarder les données.",
    "#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur votre disque dur !",
    "#ERR# Espace disque insuffisant pour restaurer les données."};
constexpr long long Illimite = 1LL << 50;

// Small, and still every stage has work: a record too long (3163), a table to rebuild, required
// fields left null, a temporary table to purge, a table and a relation to create.
fiabilite::OptionsCouple PetitCouple() {
  fiabilite::OptionsCouple options;
  options.clients = 45;
  options.factures = 30;
  options.lignesTemporaires = 5;
  return options;
}

bool FinitPar(const std::string& texte, const std::string& fin) {
  return texte.size() >= fin.size() && texte.compare(texte.size() - fin.size(), fin.size(), fin) == 0;
}

std::vector<std::string> Lignes(const std::string& texte) {
  std::vector<std::string> lignes;
  std::size_t depuis = 0;
  for (auto fin = texte.find("\r\n"); fin != std::string::npos; fin = texte.find("\r\n", depuis)) {
    lignes.push_back(texte.substr(depuis, fin - depuis));
    depuis = fin + 2;
  }
  return lignes;
}

long long Ecrits() { return Illimite - OctetsRestants(); }

// What the run had written when it wrote a journal line or began a file copy.
struct Evenement {
  long long octets;
  std::string texte;
};

// The window of a trial: every question gets its first button ("Oui" to the record verification).
class FenetreEssai : public fiabilite::FenetreRun {
 public:
  using FenetreRun::FenetreRun;
  void AvancementEnErreur() override { ++enErreur; }
  int enErreur = 0;
};

struct Essai {
  long long limite = 0;
  long long ecrits = 0;  // bytes the run wrote
  IssueLancer issue = IssueLancer::Annulee;
  std::vector<std::string> lignes;
  std::string legende;
  int enErreur = 0;
  std::vector<std::string> messages;
  std::string Journal() const {
    std::string texte;
    for (const auto& l : lignes) texte += l + "\n";
    return texte;
  }
};

// One stretch of the bytes a full run writes, and the stage that writes it.
struct Troncon {
  long long debut = 0, fin = 0;
  std::string etape;
};

// The stage a journal line or a copy begins, or empty when it begins none. "section" is the last
// section of the journal: a copy, and the step taken again after the record verification, belong
// to it.
std::string EtapeDe(const Evenement& e, std::string& section) {
  const std::string& t = e.texte;
  if (t.rfind("@copie ", 0) == 0) {
    if (FinitPar(t, utireorg::NomFichierCopie)) return "Copie de la base modèle";
    return section + " : copie";
  }
  if (t.rfind("-- ", 0) == 0) {
    section = t.substr(3, t.find(" --", 3) - 3);
    section.erase(0, section.find_first_not_of(' '));
    section.erase(section.find_last_not_of(' ') + 1);
    return section;
  }
  if (t.find("Erreur 3163 ! Tentative de réparation") != std::string::npos) return "Vérification après l'erreur 3163";
  if (t.find("Tentative de réparation réussie !") != std::string::npos) return section + " : reprise";
  return {};
}

std::vector<Troncon> Troncons(const std::vector<Evenement>& evenements, long long total) {
  std::vector<Troncon> troncons{{0, 0, "Début"}};
  std::string section;
  for (const auto& e : evenements) {
    std::string etape = EtapeDe(e, section);
    if (etape.empty() || etape == troncons.back().etape) continue;
    troncons.back().fin = e.octets;
    troncons.push_back({e.octets, e.octets, etape});
  }
  troncons.back().fin = total;
  std::vector<Troncon> ecrits;
  for (const auto& t : troncons)
    if (t.fin > t.debut) ecrits.push_back(t);
  return ecrits;
}

// Records a run that stopped on the way may have changed, table by table: a text cut to its
// field's size by the record verification stays a prefix of what it was, a null in a required
// field takes its default, and the records the verification wrote to the journal as defective
// may be gone (it deletes a record whose corrected copy the table refuses).
void VerifieValeursConservees(const BaseLue& avant, const BaseLue& apres, const std::vector<std::string>& journal) {
  for (const auto& [table, lue] : avant.tables) {
    if (table.rfind("Tmp", 0) == 0) continue;  // the purge deletes those on purpose
    auto it = apres.tables.find(table);
    ASSERT_NE(it, apres.tables.end()) << "table perdue : " << table;
    const auto defectueux = std::count_if(journal.begin(), journal.end(), [&](const std::string& l) {
      return FinitPar(l, "Enregistrement défectueux : Table " + table);
    });
    const auto& lignes = lue.enregistrements;
    const auto& restantes = it->second.enregistrements;
    const auto perdus = static_cast<long>(lignes.size()) - static_cast<long>(restantes.size());
    ASSERT_GE(perdus, 0) << table;
    ASSERT_LE(perdus, defectueux) << "enregistrements perdus dans " << table;
    if (lignes.empty() || restantes.empty()) continue;
    for (const auto& [colonne, valeur] : lignes.begin()->second) {
      (void)valeur;
      if (!restantes.begin()->second.count(colonne)) continue;
      std::multiset<std::string> restants;
      for (const auto& [cle, e] : restantes) restants.insert(e.at(colonne));
      std::vector<std::string> orphelins;
      for (const auto& [cle, e] : lignes) {
        auto trouve = restants.find(e.at(colonne));
        if (trouve != restants.end()) restants.erase(trouve);
        else orphelins.push_back(e.at(colonne));
      }
      long inexpliques = 0;
      for (const auto& o : orphelins) {
        auto explique = std::find_if(restants.begin(), restants.end(), [&](const std::string& r) {
          return o == "nul" || (r.size() > 2 && r.rfind("t:", 0) == 0 && o.rfind(r, 0) == 0);
        });
        if (explique != restants.end()) restants.erase(explique);
        else ++inexpliques;
      }
      EXPECT_LE(inexpliques, perdus) << table << "." << colonne << " a perdu des valeurs";
    }
  }
}

class TestDisque : public ::testing::Test {
 protected:
  void SetUp() override {
    couple_ = fiabilite::CreeCoupleBases(dossier_.Racine(), PetitCouple());
    AjouteRemarques(couple_.modele, false);
    AjouteRemarques(couple_.cible, true);
    run_ = dossier_.Racine() + "/run";
    temporaire_ = run_ + "/tmp";
    fs::create_directories(temporaire_);
    cible_ = LitFichier(couple_.cible);
    modele_ = LitFichier(couple_.modele);
    origine_ = fiabilite::LitBase(couple_.cible);
  }

  void TearDown() override {
    SupprimeLimite();
    utireorg::DefinitInterruption({});
    while (moteur::DBEngine::NiveauTransaction() > 0) moteur::DBEngine::Rollback();
  }

  // A table both databases define alike, with a required field left null in the target by an
  // older version: only the null-field pass has work there.
  static void AjouteRemarques(const std::string& chemin, bool avecNul) {
    moteur::Database base = moteur::DBEngine::OpenDatabase(chemin);
    moteur::TableDef table = base.CreateTableDef("Remarques");
    table.Fields().Append(table.CreateField("IdRemarque", moteur::dbLong));
    moteur::Field texte = table.CreateField("Texte", moteur::dbText, 20);
    texte.SetRequired(true);
    texte.SetDefaultValue("\"-\"");
    table.Fields().Append(texte);
    base.TableDefs().Append(table);
    if (avecNul) moteur::EcritSansControle(base, "Remarques", {{"IdRemarque", moteur::Valeur(1)}, {"Texte", moteur::Valeur::Nul()}});
    base.Close();
  }

  std::string DossierCible() const { return fs::path(couple_.cible).parent_path().string(); }

  // The databases as they were before any trial; nothing else beside them.
  void RemetEnPlace() {
    std::error_code e;
    for (const auto& dossier : {DossierCible(), temporaire_})
      for (const auto& entree : fs::directory_iterator(dossier)) fs::remove_all(entree.path(), e);
    fs::remove(run_ + "/Analyse.txt", e);
    fiabilite::EcritFichier(couple_.cible, cible_);
    fiabilite::EcritFichier(couple_.modele, modele_);
  }

  // A run with every option, the disk full after "limite" bytes.
  Essai Reorganise(long long limite, bool securise, std::vector<Evenement>* evenements = nullptr) {
    RemetEnPlace();
    FenetreEssai fenetre(couple_, securise);
    if (evenements) {
      fenetre.surLigne = [evenements](const std::string& ligne) { evenements->push_back({Ecrits(), ligne}); };
      utireorg::DefinitInterruption([evenements](std::string_view etape, const std::string& chemin) {
        if (etape == "copie") evenements->push_back({Ecrits(), "@copie " + chemin});
      });
    }
    Essai essai;
    essai.limite = limite;
    {
      fiabilite::EnvironnementRun environnement(run_, temporaire_);
      utireorg::Pilote pilote(fenetre);
      pilote.Reorganisation(false, false, true);
      LimiteTemporaire disque(limite);
      essai.issue = pilote.Lancer();
      essai.ecrits = limite - OctetsRestants();
    }
    utireorg::DefinitInterruption({});
    essai.lignes = Lignes(fenetre.journal);
    essai.legende = fenetre.legendes.empty() ? std::string() : fenetre.legendes.back().first;
    essai.enErreur = fenetre.enErreur;
    for (const auto& m : fenetre.messages) essai.messages.push_back(m.texte);
    return essai;
  }

  static bool Contient(const Essai& e, const std::string& fin) {
    return std::any_of(e.lignes.begin(), e.lignes.end(), [&](const std::string& l) { return FinitPar(l, fin); });
  }

  // A run that met the full disk says so in the journal and the caption, and leaves nothing behind
  // it but a processed copy it could not put in place, which the journal names.
  void VerifieInterruption(const Essai& e, bool securise, const BaseLue& attendu) {
    EXPECT_EQ(e.issue, IssueLancer::Interrompue);
    EXPECT_EQ(e.legende, InterrompueDisque);
    EXPECT_EQ(e.enErreur, 1);
    ASSERT_FALSE(e.lignes.empty());
    EXPECT_EQ(e.lignes.back(), LigneInterrompueDisque);
    EXPECT_TRUE(std::any_of(LignesDisque.begin(), LignesDisque.end(), [&](const auto& l) { return Contient(e, l); }));
    auto echec = std::find(e.lignes.begin(), e.lignes.end(), LigneEchec);
    ASSERT_NE(echec, e.lignes.end());
    ASSERT_NE(echec + 1, e.lignes.end());
    ASSERT_EQ(echec[1].rfind("Erreur ", 0), 0u) << echec[1];
    EXPECT_TRUE(utireorg::EstErreurEspaceDisque(std::stoi(echec[1].substr(7)))) << echec[1];
    EXPECT_FALSE(std::any_of(e.lignes.begin(), e.lignes.end(),
                             [](const std::string& l) { return l.find("endommagée") != std::string::npos; }));
    VerifieCopies(e, "Sauvegarde ", LignesDisque[0], "Traitement annulé.");
    VerifieCopies(e, "Restauration ", LignesDisque[2], "Réorganisation annulée.");
    EXPECT_EQ(LitFichier(couple_.modele), modele_);
    if (securise) {
      EXPECT_TRUE(LitFichier(couple_.cible) == cible_) << "la base d'origine a changé";
    }

    const std::string conservee = "la base traitée est conservée dans ";
    std::vector<std::string> attendues;
    for (const auto& l : e.lignes) {
      auto p = l.find(conservee);
      if (p == std::string::npos) continue;
      const std::string garde = l.substr(p + conservee.size());
      attendues.push_back(fs::path(garde).filename().string());
      BaseLue lue = fiabilite::LitBase(garde);
      EXPECT_TRUE(lue.integrite.empty()) << garde;
      EXPECT_TRUE(lue == attendu) << garde << "\n" << fiabilite::Differences(lue, attendu);
    }
    EXPECT_EQ(fiabilite::FichiersDuDossier(temporaire_), attendues);
    // The simulated disk refuses even the rewrite of pages that undoing a write needs, which a
    // real disk grants: the journal then stays beside its file, for the next opening to finish
    // the undo (the target's is played back by reading it).
    const std::string copie = utireorg::NomFichierCopie;
    for (const auto& nom : fiabilite::FichiersDuDossier(DossierCible()))
      EXPECT_TRUE(nom == "Compta.mdb" || nom == "Compta.mdb-journal" || nom == copie || nom == copie + "-journal")
          << "fichier laissé : " << nom;
    if (securise) {
      EXPECT_FALSE(fs::exists(couple_.cible + "-journal"));
    }
  }

  // The working copies' own account of a full disk (their result 2): the line with the error
  // number and the origin path, the disk line, then the message.
  void VerifieCopies(const Essai& e, const std::string& etape, const std::string& ligneDisque,
                     const std::string& message) {
    auto disque = std::find_if(e.lignes.begin(), e.lignes.end(), [&](const auto& l) { return FinitPar(l, ligneDisque); });
    if (disque == e.lignes.end()) return;
    ASSERT_NE(disque, e.lignes.begin());
    const std::string& erreur = disque[-1];
    EXPECT_NE(erreur.find("  Erreur "), std::string::npos) << erreur;
    EXPECT_TRUE(FinitPar(erreur, " - " + etape + couple_.cible)) << erreur;
    EXPECT_TRUE(std::any_of(e.messages.begin(), e.messages.end(),
                            [&](const std::string& m) { return m.find(message) != std::string::npos; }))
        << message;
  }

  void VerifieEssai(const Essai& e, bool securise, const BaseLue& attendu, long long total) {
    SCOPED_TRACE("disque plein après " + std::to_string(e.limite) + " octets sur " + std::to_string(total) +
                 (securise ? ", mode sécurisé" : "") + "\n" + e.Journal());
    ASSERT_TRUE(e.issue == IssueLancer::Terminee || e.issue == IssueLancer::Interrompue) << static_cast<int>(e.issue);
    BaseLue cible = fiabilite::LitBase(couple_.cible);
    EXPECT_TRUE(cible.integrite.empty());
    if (e.issue == IssueLancer::Terminee) {
      EXPECT_TRUE(cible == attendu) << fiabilite::Differences(cible, attendu);
      return;
    }
    EXPECT_LT(e.limite, total);
    VerifieInterruption(e, securise, attendu);
    if (!securise) VerifieValeursConservees(origine_, cible, e.lignes);
  }

  // Measures a whole run, then fills the disk at the start, the quarters and the last byte of
  // every stage that writes, and at evenly spread moments; every trial is checked.
  void Balaye(bool securise, const std::set<std::string>& etapesAttendues) {
    std::vector<Evenement> evenements;
    Essai mesure = Reorganise(Illimite, securise, &evenements);
    ASSERT_EQ(mesure.issue, IssueLancer::Terminee) << mesure.Journal();
    const long long total = mesure.ecrits;
    const BaseLue attendu = fiabilite::LitBase(couple_.cible);
    const auto troncons = Troncons(evenements, total);

    std::set<long long> limites;
    std::set<std::string> etapes;
    for (const auto& t : troncons) {
      etapes.insert(t.etape);
      for (int quart = 0; quart < 4; ++quart) limites.insert(t.debut + (t.fin - t.debut) * quart / 4);
      limites.insert(t.fin - 1);
    }
    constexpr int Repartis = 12;
    for (int k = 0; k <= Repartis; ++k) limites.insert(total * k / Repartis);
    for (const auto& etape : etapesAttendues) EXPECT_TRUE(etapes.count(etape)) << "étape sans écriture mesurée : " << etape;

    std::map<std::string, std::pair<int, int>> bilan;  // per stage: trials, and runs that ended well
    for (long long limite : limites) {
      Essai e = Reorganise(limite, securise);
      EXPECT_NO_THROW(VerifieEssai(e, securise, attendu, total));
      if (HasFatalFailure()) return;
      auto t = std::find_if(troncons.begin(), troncons.end(), [&](const Troncon& x) { return limite < x.fin; });
      auto& compte = bilan[t == troncons.end() ? "(au-delà)" : t->etape];
      ++compte.first;
      if (e.issue == IssueLancer::Terminee) ++compte.second;
    }
    std::cout << "[ disque    ] " << (securise ? "mode sécurisé" : "sur la base même") << " : " << total
              << " octets écrits, " << limites.size() << " essais\n";
    for (const auto& t : troncons) {
      const auto& compte = bilan[t.etape];
      std::cout << "[ disque    ]   " << t.debut << " - " << t.fin << " " << t.etape << " (" << compte.first
                << " essais)\n";
    }
  }

  fiabilite::DossierTest dossier_{"disque", true};
  fiabilite::CoupleBases couple_;
  std::string run_, temporaire_, cible_, modele_;
  BaseLue origine_;
};

const std::set<std::string> EtapesSurLaBase = {
    "Copie de la base modèle", "Copie des enregistrements", "Réparation base de données principale",
    "Vérification après l'erreur 3163", "Compactage base de données principale : reprise",
    "Compactage base de données principale : copie", "Purge des tables temporaires",
    "Vérification base de données principale", "Vérification des enregistrements nuls",
    "Vérification des relations", "Compactage base de données principale"};

TEST_F(TestDisque, EnModeSecuriseChaqueEtapeArreteeParUnDisquePleinLaisseLaBaseIntacte) {
  auto etapes = EtapesSurLaBase;
  etapes.insert({"Sauvegarde des bases de données : copie", "Restauration des bases de données : copie"});
  Balaye(true, etapes);
}

TEST_F(TestDisque, SurLaBaseMemeUnDisquePleinNePerdAucunEnregistrement) { Balaye(false, EtapesSurLaBase); }

// What a writer stopped in the middle of a commit leaves (a full disk that refused the undo, a
// crash): the file with pages of the transaction already in it, and the journal that undoes them.
void ImageDEcritureInterrompue(const std::string& source, const std::string& destination) {
  const std::string travail = destination + ".travail";
  fs::copy_file(source, travail);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(travail.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA cache_size = 2; BEGIN; CREATE TABLE remplissage(v);"
                         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100)"
                         " INSERT INTO remplissage SELECT randomblob(3000) FROM n;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  fs::copy_file(travail, destination);
  fs::copy_file(travail + "-journal", destination + "-journal");
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  fs::remove(travail);
}

TEST_F(TestDisque, LeJournalDUneCopieInterrompueNeSeRejouePasDansLaCopieSuivante) {
  const std::string copie = DossierCible() + "/" + utireorg::NomFichierCopie;
  ImageDEcritureInterrompue(couple_.cible, copie);
  ASSERT_GT(fs::file_size(copie + "-journal"), 0u);

  FenetreEssai fenetre(couple_, false);
  {
    fiabilite::EnvironnementRun environnement(run_, temporaire_);
    ASSERT_EQ(fiabilite::LanceRun(fenetre), IssueLancer::Terminee) << fenetre.journal;
  }
  BaseLue lue = fiabilite::LitBase(copie);
  EXPECT_TRUE(lue.integrite.empty());
  EXPECT_FALSE(lue.tables.count("remplissage"));
  EXPECT_TRUE(lue.tables.count("Reglements"));  // a copy of the model indeed
}

// --- The headless run, as a child process ----------------------------------------------------

// A small file system in memory that the test mounts for itself (root only) and always unmounts.
class Tmpfs {
 public:
  Tmpfs(const std::string& dossier, long long octets) : dossier_(dossier) {
    fs::create_directories(dossier);
    std::string options = "size=" + std::to_string(octets);
    monte_ = ::mount("tmpfs", dossier.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!monte_) erreur_ = std::strerror(errno);
  }
  ~Tmpfs() {
    if (monte_) ::umount2(dossier_.c_str(), MNT_DETACH);
  }
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;
  bool Monte() const { return monte_; }
  const std::string& Erreur() const { return erreur_; }
  long long Libre() const {
    struct statvfs etat {};
    ::statvfs(dossier_.c_str(), &etat);
    return static_cast<long long>(etat.f_bavail) * static_cast<long long>(etat.f_frsize);
  }
  // Fills the file system until only "reste" bytes are free.
  void Remplit(long long reste) const {
    long long libre = Libre();
    if (libre > reste) fiabilite::EcritFichier(dossier_ + "/remplissage", std::string(libre - reste, 'x'));
  }

 private:
  std::string dossier_;
  bool monte_ = false;
  std::string erreur_;
};

class TestDisqueLot : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(Racine() + "/tmp"); }
  void TearDown() override { montage_.reset(); }

  const std::string& Racine() const { return dossier_.Racine(); }

  void CreeBases(const std::string& racine) {
    couple_ = fiabilite::CreeCoupleBases(racine, PetitCouple());
    avant_ = LitFichier(couple_.cible);
  }

  entrees::Issue Lot(const std::vector<std::string>& arguments, entrees::Conditions conditions = {},
                     const std::string& temporaire = {}) {
    conditions.environnement.emplace_back("TMPDIR", temporaire.empty() ? Racine() + "/tmp" : temporaire);
    return entrees::LanceSurveille(fiabilite::OutilLot(), arguments, Racine(), conditions);
  }

  std::string Journal() const { return utireorg::DepuisAnsi(LitFichier(Racine() + "/Analyse.txt")); }

  // An "Analyse.txt" of earlier runs, close to the size past which it is cut down: a file-size
  // limit just above it leaves the journal no room. Returns its bytes.
  std::string JournalPresquePlein() const {
    std::string ancien;
    while (ancien.size() < 900'000) ancien += "Ligne d'une analyse précédente\r\n";
    ancien = utireorg::VersAnsi(ancien);
    fiabilite::EcritFichier(Racine() + "/Analyse.txt", ancien);
    return ancien;
  }

  // The end of a run stopped by a full disk, on its output and in its journal.
  void VerifieArretDisquePlein(const entrees::Issue& e, const std::string& ligneEtape) {
    ASSERT_TRUE(e.Propre()) << e.sortie;
    EXPECT_EQ(e.code, 1) << e.sortie;
    for (const std::string& ligne : {ligneEtape, LigneInterrompueDisque}) {
      EXPECT_NE(e.sortie.find(ligne), std::string::npos) << ligne << "\n" << e.sortie;
      EXPECT_NE(Journal().find(ligne), std::string::npos) << ligne;
    }
    EXPECT_NE(e.sortie.find("\n" + InterrompueDisque + "\n"), std::string::npos) << "légende\n" << e.sortie;
    EXPECT_EQ(Journal().find("endommagée"), std::string::npos) << Journal();
  }

  fiabilite::DossierTest dossier_{"disque_lot", true};
  fiabilite::CoupleBases couple_;
  std::string avant_;
  std::unique_ptr<Tmpfs> montage_;
};

TEST_F(TestDisqueLot, LaLimiteDEcritureDuLotArreteLeRunSurLesLignesDuDisquePlein) {
  CreeBases(Racine());
  entrees::Conditions plein;
  plein.environnement = {{"UTIREORG_LIMITE_ECRITURE", "0"}};
  auto e = Lot({"--cible", couple_.cible, "--options", "1,3"}, plein);
  VerifieArretDisquePlein(e, LignesDisque[0]);
  EXPECT_NE(e.sortie.find("Traitement annulé."), std::string::npos);
  EXPECT_EQ(LitFichier(couple_.cible), avant_);

  // Room for the copy of the model, not for the records copied into it nor for the compaction.
  plein.environnement = {{"UTIREORG_LIMITE_ECRITURE", std::to_string(fs::file_size(couple_.modele) + 4096)}};
  e = Lot({"--cible", couple_.cible, "--modele", couple_.modele, "--options", "1,3", "--copie", "--oui"}, plein);
  VerifieArretDisquePlein(e, LignesDisque[1]);
  EXPECT_EQ(LitFichier(couple_.cible), avant_);

  plein.environnement = {{"UTIREORG_LIMITE_ECRITURE", "beaucoup"}};
  e = Lot({"--cible", couple_.cible}, plein);
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.sortie.find("UTIREORG_LIMITE_ECRITURE doit être un nombre d'octets"), std::string::npos) << e.sortie;
  EXPECT_EQ(LitFichier(couple_.cible), avant_);
}

// The journal is the one file that grows past the session's file-size limit: it is the only trace
// of what the run deletes, so a journal that can no longer be written is a full disk, and the run
// stops at its next safe point with the disk's messages, the origin untouched.
TEST_F(TestDisqueLot, UnJournalQuiNePeutPlusGrandirArreteLeRunCommeUnDisquePlein) {
  CreeBases(Racine());
  const std::string ancien = JournalPresquePlein();
  entrees::Conditions conditions;
  conditions.tailleFichierMax = static_cast<long long>(ancien.size()) + 1500;

  auto e = Lot({"--cible", couple_.cible, "--modele", couple_.modele, "--options", "0,1,2,3,4,5", "--copie",
                "--avance", "--oui"},
               conditions);
  ASSERT_TRUE(e.Propre()) << "signal " << e.signal << "\n" << e.sortie;
  EXPECT_EQ(e.code, 1) << e.sortie;
  for (const std::string& ligne : {std::string("Réorganisation arrêtée : le journal d'analyse ne peut plus être écrit"),
                                   LigneInterrompueDisque, "\n" + InterrompueDisque + "\n"})
    EXPECT_NE(e.sortie.find(ligne), std::string::npos) << ligne << "\n" << e.sortie;
  EXPECT_EQ(e.sortie.find("Fin de l'analyse de bases de données"), std::string::npos);
  const std::string journal = LitFichier(Racine() + "/Analyse.txt");
  EXPECT_LE(journal.size(), static_cast<std::size_t>(conditions.tailleFichierMax));
  EXPECT_EQ(journal.substr(0, ancien.size()), ancien);
  EXPECT_EQ(LitFichier(couple_.cible), avant_);
  EXPECT_TRUE(fiabilite::FichiersDuDossier(Racine() + "/tmp").empty());
}

// Several folders at once: each child writes its journal where it runs, and the parent appends it
// to "Analyse.txt" when the folder ends. A journal that cannot take a child's lines any more keeps
// them in the child's folder, named, and no other folder is started: what a run corrects and
// deletes is only ever known from its journal.
TEST_F(TestDisqueLot, UnJournalPleinEnParalleleGardeLeJournalDuDossierEtNEnLanceAucunAutre) {
  CreeBases(Racine());
  const fs::path logiciel = fs::path(couple_.cible).parent_path().parent_path();
  for (const char* dossier : {"Dossier2", "Dossier3"}) {
    fs::create_directories(logiciel / dossier);
    fs::copy_file(couple_.cible, logiciel / dossier / "Compta.mdb");
  }
  const std::string ancien = JournalPresquePlein();
  entrees::Conditions conditions;
  // Room for the opening frame, not for a folder's journal.
  conditions.tailleFichierMax = static_cast<long long>(ancien.size()) + 1500;

  auto e = Lot({"--tous-les-dossiers", "--modele", couple_.modele, "--parallele", "2", "--oui"}, conditions);
  ASSERT_TRUE(e.Propre()) << "signal " << e.signal << "\n" << e.sortie;
  EXPECT_EQ(e.code, 1) << e.sortie;
  // The third folder starts when the second ends before the first is handed back: its journal
  // is then kept too.
  for (const char* dossier : {"Dossier1", "Dossier2", "Dossier3"}) {
    SCOPED_TRACE(dossier);
    const std::string garde = std::string(dossier) +
                              " : interrompue : le journal d'analyse ne peut plus être écrit ; "
                              "les lignes de ce dossier sont gardées dans ";
    const auto p = e.sortie.find(garde);
    if (p == std::string::npos && std::string(dossier) == "Dossier3") {
      EXPECT_NE(e.sortie.find(
                    "Dossier3 : ignorée : espace disque insuffisant, la réorganisation s'est arrêtée avant ce dossier"),
                std::string::npos)
          << e.sortie;
      EXPECT_TRUE(LitFichier(logiciel / dossier / "Compta.mdb") == avant_);
      continue;
    }
    ASSERT_NE(p, std::string::npos) << e.sortie;
    std::string chemin = e.sortie.substr(p + garde.size());
    chemin = chemin.substr(0, chemin.find('\n'));
    EXPECT_NE(utireorg::DepuisAnsi(LitFichier(chemin))
                  .find("Début Sauvegarde " + (logiciel / dossier / "Compta.mdb").string()),
              std::string::npos)
        << chemin;
  }
  EXPECT_EQ(LitFichier(Racine() + "/Analyse.txt").substr(0, ancien.size()), ancien);
}

// A file-size limit on the session (ulimit -f) is a full disk wherever it is met: the working
// copy, the compaction, a table the structure verification writes. Limits from below the size of
// the target to past the end of the run: each run either ends well with every table written, or
// stops on the disk's lines with the origin untouched, never "terminée" with a table left behind.
TEST_F(TestDisqueLot, UneLimiteDeTailleDeFichierEstUnDisquePleinAChaqueEtape) {
  // Clients, which the structure verification rebuilds, is most of the file: while it is rebuilt
  // the file is larger than at any other moment of the run.
  fiabilite::OptionsCouple options = PetitCouple();
  options.clients = 1500;
  couple_ = fiabilite::CreeCoupleBases(Racine(), options);
  avant_ = LitFichier(couple_.cible);
  const std::string dossierRun = Racine() + "/run";
  fs::create_directories(dossierRun);
  const long long taille = static_cast<long long>(avant_.size());
  int interrompus = 0, terminees = 0, tablesNonEcrites = 0;
  for (long long limite = taille / 2; limite <= taille * 5 / 2; limite += taille / 32) {
    SCOPED_TRACE("limite " + std::to_string(limite) + " octets, base de " + std::to_string(taille));
    fiabilite::EcritFichier(couple_.cible, avant_);
    fs::remove(dossierRun + "/Analyse.txt");
    entrees::Conditions conditions;
    conditions.tailleFichierMax = limite;
    conditions.dossierCourant = dossierRun;
    // Without the record copy, whose file would meet the limit first.
    auto e = Lot({"--cible", couple_.cible, "--options", "0,1,2,3,4,5", "--avance", "--oui"}, conditions);
    ASSERT_TRUE(e.Propre()) << "signal " << e.signal << "\n" << e.sortie;
    ASSERT_TRUE(e.code == 0 || e.code == 1) << e.sortie;
    EXPECT_EQ(e.sortie.find("Référence : 57"), std::string::npos) << e.sortie;
    EXPECT_EQ(e.sortie.find("endommagée"), std::string::npos) << e.sortie;
    if (e.code == 0) {
      ++terminees;
      EXPECT_EQ(e.sortie.find("les modifications n'ont pas pu être enregistrées"), std::string::npos) << e.sortie;
      EXPECT_TRUE(fiabilite::LitBase(couple_.cible).tables.count("Reglements"));
    } else {
      ++interrompus;
      EXPECT_NE(e.sortie.find(LigneInterrompueDisque), std::string::npos) << e.sortie;
      EXPECT_EQ(LitFichier(couple_.cible), avant_);
    }
    if (e.sortie.find("#ERR# Table : Clients, les modifications n'ont pas pu être enregistrées.") != std::string::npos)
      ++tablesNonEcrites;
    EXPECT_TRUE(fiabilite::FichiersDuDossier(Racine() + "/tmp").empty());
  }
  EXPECT_GT(interrompus, 0);
  EXPECT_GT(terminees, 0);
  EXPECT_GT(tablesNonEcrites, 0) << "aucune limite n'a arrêté la vérification de structure";
}

// A real file system that fills up, where mounting one is allowed: the databases on it, with
// less room left than one copy of the target.
class TestDisqueReel : public TestDisqueLot {
 protected:
  void SetUp() override {
    TestDisqueLot::SetUp();
    petit_ = Racine() + "/petit";
    montage_ = std::make_unique<Tmpfs>(petit_, 2 * 1024 * 1024);
    if (!montage_->Monte()) GTEST_SKIP() << "montage d'un tmpfs impossible ici : " << montage_->Erreur();
    CreeBases(petit_);
    montage_->Remplit(static_cast<long long>(avant_.size() / 2));
  }
  std::string petit_;
};

TEST_F(TestDisqueReel, LaRemiseEnPlaceSurUnDisquePleinGardeLOrigineEtLaCopieTraitee) {
  auto e = Lot({"--cible", couple_.cible, "--options", "0,1,3", "--oui"});
  VerifieArretDisquePlein(e, LignesDisque[2]);
  EXPECT_NE(Journal().find("Erreur 61 - Restauration " + couple_.cible), std::string::npos) << Journal();
  EXPECT_EQ(LitFichier(couple_.cible), avant_);
  // The processed copy is kept where the journal says.
  const std::string garde = "la base traitée est conservée dans ";
  auto p = Journal().find(garde);
  ASSERT_NE(p, std::string::npos) << Journal();
  std::string chemin = Journal().substr(p + garde.size());
  chemin = chemin.substr(0, chemin.find('\r'));
  EXPECT_TRUE(fiabilite::LitBase(chemin).integrite.empty()) << chemin;
  EXPECT_EQ(fiabilite::FichiersDuDossier(fs::path(couple_.cible).parent_path()),
            std::vector<std::string>{"Compta.mdb"});
}

TEST_F(TestDisqueReel, UneCopieDeTravailSurUnDisquePleinEstRefuseeSansRienLaisser) {
  auto e = Lot({"--cible", couple_.cible, "--options", "0,1,3"}, {}, petit_);
  VerifieArretDisquePlein(e, LignesDisque[0]);
  EXPECT_NE(Journal().find("Erreur 61 - Sauvegarde " + couple_.cible), std::string::npos) << Journal();
  EXPECT_EQ(LitFichier(couple_.cible), avant_);
  EXPECT_EQ(fiabilite::FichiersDuDossier(petit_), (std::vector<std::string>{"Logiciel", "remplissage"}));
}

// The working folder, where the journal is written, on a full disk while the databases have room:
// the run stops before it changes anything, with or without a working copy, and says why on its
// output since the journal cannot take it.
TEST_F(TestDisqueLot, UnDossierDeTravailSurUnDisquePleinArreteLeRunAvantToutChangement) {
  montage_ = std::make_unique<Tmpfs>(Racine() + "/travail", 256 * 1024);
  if (!montage_->Monte()) GTEST_SKIP() << "montage d'un tmpfs impossible ici : " << montage_->Erreur();
  CreeBases(Racine());
  montage_->Remplit(0);
  const BaseLue origine = fiabilite::LitBase(couple_.cible);
  for (const char* options : {"0,1,2,3,4,5", "0,1,2,4,5"}) {
    SCOPED_TRACE(options);
    entrees::Conditions conditions;
    conditions.dossierCourant = Racine() + "/travail";
    auto e = Lot({"--cible", couple_.cible, "--modele", couple_.modele, "--options", options, "--copie", "--avance",
                  "--oui"},
                 conditions);
    ASSERT_TRUE(e.Propre()) << e.sortie;
    EXPECT_EQ(e.code, 1) << e.sortie;
    for (const std::string& ligne :
         {std::string("Réorganisation arrêtée : le journal d'analyse ne peut plus être écrit (plus de place sur le "
                      "disque (erreur système 28))"),
          LigneInterrompueDisque, "\n" + InterrompueDisque + "\n"})
      EXPECT_NE(e.sortie.find(ligne), std::string::npos) << ligne << "\n" << e.sortie;
    for (const char* absent : {"supprimé", "corrigé", "Fin de l'analyse de bases de données"})
      EXPECT_EQ(e.sortie.find(absent), std::string::npos) << absent << "\n" << e.sortie;
    EXPECT_EQ(LitFichier(couple_.cible), avant_);
    BaseLue apres = fiabilite::LitBase(couple_.cible);
    EXPECT_TRUE(apres == origine) << fiabilite::Differences(apres, origine);
    EXPECT_TRUE(fiabilite::FichiersDuDossier(Racine() + "/tmp").empty());
  }
}

TEST_F(TestDisqueReel, LaCopieDuModeleSurUnDisquePleinEstUnManqueDePlace) {
  auto e = Lot({"--cible", couple_.cible, "--modele", couple_.modele, "--options", "0,1", "--copie"});
  VerifieArretDisquePlein(e, LignesDisque[1]);
  EXPECT_EQ(LitFichier(couple_.cible), avant_);
}

}  // namespace

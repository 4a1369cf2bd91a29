// Mesures de la réorganisation sur un jeu de bases généré : chaque étape faite par le programme à
// côté de ce que SQLite seul fait du même travail, puis la réorganisation complète par
// utireorg-lot en processus enfant, sa durée et sa mémoire résidente maximale.
//
//   bench_reorg generer DOSSIER [--tables T] [--enregistrements R]
//   bench_reorg etapes  DOSSIER [--essais N] [--etapes CLE,...] [--garder]
//   bench_reorg complet DOSSIER [--lot PROGRAMME] [--garder]
//   bench_reorg bilan   DOSSIER_PETIT DOSSIER_GRAND
//   bench_reorg une     DOSSIER CLE [projet|brut]
//
// Chaque mesure écrit ses chiffres dans DOSSIER/resultats.txt ; « bilan » rassemble ceux de deux
// jeux de tailles différentes et les compare aux objectifs.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Commun.h"
#include "Generateur.h"
#include "app/EtapesFichier.h"
#include "bases/BaseDonnees.h"
#include "common/EtatReorganisation.h"
#include "common/FenetreSansEcran.h"
#include "common/Fichiers.h"
#include "journal/Journal.h"
#include "moteur/Moteur.h"
#include "records/CopieEnregistrements.h"
#include "records/LectureEnregistrements.h"
#include "structure/ChampsNuls.h"
#include "structure/Structure.h"

namespace {

namespace fs = std::filesystem;
using namespace banc;
namespace cases = utireorg::cases;
namespace coche = utireorg::coche;
namespace saisie = utireorg::saisie;

constexpr double ObjectifEtape = 1.3;
constexpr double ObjectifComplet = 2.0;
constexpr double LimiteMemoireMo = 64.0;
// « Plate » : le pic d'un million d'enregistrements ne dépasse celui de cent mille que de ce
// que le hasard des allocations y met, pas d'une part proportionnelle aux données.
constexpr double CroissanceMemoireAdmise = 1.2;
constexpr const char* LocaleCompactage = ";LANGID=0x0409;CP=1252;COUNTRY=0";

// ---- Résultats laissés dans le dossier du jeu ----

class Resultats {
 public:
  explicit Resultats(const std::string& dossier) : chemin_(dossier + "/resultats.txt") {
    std::ifstream f(chemin_);
    std::string ligne;
    while (std::getline(f, ligne)) {
      auto egal = ligne.find('=');
      if (egal != std::string::npos) valeurs_[ligne.substr(0, egal)] = std::strtod(ligne.c_str() + egal + 1, nullptr);
    }
  }
  void Fixe(const std::string& cle, double valeur) { valeurs_[cle] = valeur; }
  std::optional<double> Lit(const std::string& cle) const {
    auto it = valeurs_.find(cle);
    return it == valeurs_.end() ? std::nullopt : std::optional<double>(it->second);
  }
  void Enregistre() const {
    std::ofstream f(chemin_);
    f.precision(9);
    for (const auto& [cle, valeur] : valeurs_) f << cle << '=' << valeur << '\n';
    if (!f) Echoue("écriture de " + chemin_ + " impossible");
  }

 private:
  std::string chemin_;
  std::map<std::string, double> valeurs_;
};

// ---- Une étape mesurée des deux façons ----

struct Comparaison {
  const char* cle;
  const char* etape;
  const char* reference;
  bool objectif;  // soumise au rapport de 1,3
  Temps projet, brut;
  bool mesuree = false;
};

void Retient(Temps& meilleur, const Temps& t, bool premier) {
  if (premier || t.secondes < meilleur.secondes) meilleur.secondes = t.secondes;
  if (premier || t.processeur < meilleur.processeur) meilleur.processeur = t.processeur;
}

// La fenêtre sans écran, le journal et l'état d'une réorganisation, pour appeler les étapes
// une à une comme le pilote les appelle. Le journal « Analyse.txt » s'écrit dans le dossier de
// travail, qui devient le dossier courant.
class Scene {
 public:
  explicit Scene(const std::string& dossier) : fenetre_(messages_), journal_(fenetre_), etat_(fenetre_, journal_) {
    avant_ = fs::current_path();
    fs::current_path(dossier);
    utireorg::DefinitFenetre(&fenetre_);
    for (int n = 0; n < coche::Nombre; ++n) fenetre_.DefinitCoche(n, true);
    fenetre_.DefinitCase(cases::Copie, true);
    fenetre_.DefinitCase(cases::LigneALigne, false);
    if (!journal_.OuvertureJournal()) Echoue("le journal d'analyse ne s'ouvre pas dans " + dossier);
    etat_.libelle = utireorg::LibellePrincipal;
    etat_.versionCible = "4.0";
  }
  ~Scene() {
    journal_.FermetureJournal();
    utireorg::DefinitFenetre(nullptr);
    std::error_code ec;
    fs::current_path(avant_, ec);
  }
  utireorg::EtatReorganisation& etat() { return etat_; }
  utireorg::FenetreSansEcran& fenetre() { return fenetre_; }

 private:
  std::ostringstream messages_;
  utireorg::FenetreSansEcran fenetre_;
  utireorg::Journal journal_;
  utireorg::EtatReorganisation etat_;
  fs::path avant_;
};

// Ce que chaque mesure d'étape partage : le jeu, le dossier de travail et ses copies.
struct Travail {
  JeuDeBases jeu;
  std::string dossier;
  std::string saine;  // la cible, son seul texte trop long coupé : la compaction l'accepte
  std::vector<std::string> tables;
  long long lignesAttendues = 0;
  std::string Fichier(const std::string& nom) const { return dossier + "/" + nom; }
};

void Supprime(const std::string& chemin) {
  ::unlink(chemin.c_str());
  ::unlink((chemin + "-journal").c_str());
}

// Le parcours de référence de toutes les tables de l'utilisateur.
Temps ParcoursBrut(const Travail& t, const std::string& chemin) {
  Chrono chrono;
  Controle total;
  {
    Sqlite base(chemin, SQLITE_OPEN_READONLY);
    for (const auto& table : t.tables) total += ParcoursDirect(base, table);
  }
  Temps temps = chrono.Ecoule();
  if (total.lignes != t.lignesAttendues)
    Echoue("le parcours direct lit " + std::to_string(total.lignes) + " lignes, pas " + std::to_string(t.lignesAttendues));
  return temps;
}

// La copie sûre d'un fichier que fait SQLite seul : écrite à côté, synchronisée, renommée.
void RemplaceBrut(const std::string& source, const std::string& destination) {
  std::string temporaire = destination + ".remplacement";
  CopieFichier(source, temporaire);
  int fd = ::open(temporaire.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) Echoue("synchronisation de " + temporaire + " impossible");
  ::close(fd);
  if (::rename(temporaire.c_str(), destination.c_str()) != 0) Echoue("renommage de " + temporaire + " impossible");
  int dossier = ::open(fs::path(destination).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dossier >= 0) {
    ::fsync(dossier);
    ::close(dossier);
  }
}

void VacuumInto(const std::string& source, const std::string& destination) {
  Sqlite base(source);
  Instruction vacuum(base, "VACUUM INTO ?");
  sqlite3_bind_text(vacuum.get(), 1, destination.c_str(), -1, SQLITE_TRANSIENT);
  VerifieSqlite(base.db(), sqlite3_step(vacuum.get()), "VACUUM INTO");
}

long long NulsRequis(const Travail& t, const std::string& chemin) {
  Sqlite base(chemin, SQLITE_OPEN_READONLY);
  long long n = 0;
  for (const auto& table : t.jeu.nomsTables) n += base.Entier("SELECT count(*) FROM \"" + table + "\" WHERE Code IS NULL");
  return n;
}

long long Enregistrements(const std::vector<std::string>& tables, const std::string& chemin) {
  Sqlite base(chemin, SQLITE_OPEN_READONLY);
  long long n = 0;
  for (const auto& table : tables) n += base.Entier("SELECT count(*) FROM \"" + table + "\"");
  return n;
}

// ---- Les étapes ----

class Etapes {
 public:
  Etapes(Travail& t, Scene& scene) : t_(t), scene_(scene), etat_(scene.etat()) {}

  Temps LectureProjet() {
    moteur::Database base;
    Chrono chrono;
    bool complete = utireorg::LectureTable(etat_, base, t_.saine);
    utireorg::FermeBase(base);
    Temps temps = chrono.Ecoule();
    if (!complete) Echoue("la passe de lecture signale des tables illisibles");
    return temps;
  }

  // Sur une copie dont une première passe, non mesurée, a corrigé les Null : chaque correction
  // est une transaction synchronisée sur le disque, dont le coût fixe, quelques centaines de
  // millisecondes ici, ne dit rien de celui de la passe elle-même. La réorganisation complète,
  // elle, les compte.
  Temps ChampsNulsProjet() {
    const std::string chemin = t_.Fichier("nuls.mdb");
    if (!fs::exists(chemin)) {
      CopieFichier(t_.saine, chemin);
      PasseChampsNuls(chemin);
      if (NulsRequis(t_, chemin) != 0) Echoue("la passe des enregistrements nuls laisse des champs requis à Null");
    }
    Chrono chrono;
    PasseChampsNuls(chemin);
    return chrono.Ecoule();
  }

  void PasseChampsNuls(const std::string& chemin) {
    moteur::Database base = utireorg::OuvreBase(chemin);
    utireorg::VerificationChampsNuls(etat_, base);
    utireorg::FermeBase(base);
  }

  // La vérification sur la cible telle que générée : elle corrige le texte trop long, dans une
  // transaction synchronisée sur le disque.
  Temps Verification3163AvecCorrection() {
    const std::string chemin = t_.Fichier("verification.mdb");
    CopieFichier(t_.jeu.cible, chemin);
    Chrono chrono;
    const bool corrige = Verifie(chemin);
    Temps temps = chrono.Ecoule();
    if (!corrige) Echoue("la vérification des enregistrements ne corrige pas le texte trop long");
    return temps;
  }

  // Le parcours seul, sur une copie déjà corrigée par une vérification non mesurée : comme pour
  // les Null, le coût fixe d'une correction ne dit rien de celui du parcours.
  Temps Verification3163Parcours() {
    const std::string chemin = t_.Fichier("verification_corrigee.mdb");
    if (!fs::exists(chemin)) {
      CopieFichier(t_.jeu.cible, chemin);
      if (!Verifie(chemin)) Echoue("la vérification des enregistrements ne corrige pas le texte trop long");
    }
    Chrono chrono;
    const bool corrige = Verifie(chemin);
    Temps temps = chrono.Ecoule();
    if (corrige) Echoue("une seconde vérification trouve encore des enregistrements défectueux");
    return temps;
  }

  bool Verifie(const std::string& chemin) {
    // « Oui » à la question, puis « Continuer » au bilan.
    scene_.fenetre().RepondAvec({1, 1});
    return utireorg::VerificationEnregistrements(etat_, chemin);
  }

  Temps CopieProjet() {
    const std::string copie = t_.Fichier(utireorg::NomFichierCopie);
    CopieFichier(t_.jeu.modele, copie);
    Chrono chrono;
    moteur::Database origine = utireorg::OuvreBase(t_.saine);
    moteur::Database destination = utireorg::OuvreBase(copie);
    bool complete = utireorg::TraitementCopie(etat_, origine, destination);
    utireorg::FermeBase(origine);
    utireorg::FermeBase(destination);
    Temps temps = chrono.Ecoule();
    if (!complete) Echoue("TraitementCopie n'a pas tout copié par l'instruction groupée");
    copiesProjet_ = Enregistrements(t_.tables, copie);
    return temps;
  }

  Temps CopieBrute() {
    const std::string copie = t_.Fichier("copie_brute.mdb");
    CopieFichier(t_.jeu.modele, copie);
    std::vector<std::string> instructions;
    {
      Sqlite lecture(t_.saine, SQLITE_OPEN_READONLY);
      for (const auto& table : t_.tables) {
        std::string colonnes;
        Instruction info(lecture, "SELECT name FROM pragma_table_info('" + table + "')");
        while (sqlite3_step(info.get()) == SQLITE_ROW)
          colonnes += (colonnes.empty() ? "\"" : ", \"") + std::string(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0))) + "\"";
        instructions.push_back("DELETE FROM dest.\"" + table + "\"; INSERT OR IGNORE INTO dest.\"" + table + "\" (" + colonnes +
                               ") SELECT " + colonnes + " FROM main.\"" + table + "\"");
      }
    }
    Chrono chrono;
    {
      // Comme le moteur sans dbFailOnError : une ligne que les règles du modèle refusent est écartée.
      Sqlite base(t_.saine, SQLITE_OPEN_READWRITE, Regles::Ecartees);
      Instruction attache(base, "ATTACH DATABASE ? AS dest");
      sqlite3_bind_text(attache.get(), 1, copie.c_str(), -1, SQLITE_TRANSIENT);
      VerifieSqlite(base.db(), sqlite3_step(attache.get()), "ATTACH");
      for (const auto& instruction : instructions) base.Execute(instruction, "INSERT INTO … SELECT");
      base.Execute("DETACH DATABASE dest", "DETACH");
    }
    Temps temps = chrono.Ecoule();
    long long copies = Enregistrements(t_.tables, copie);
    if (copiesProjet_ >= 0 && copies != copiesProjet_)
      Echoue("la copie directe donne " + std::to_string(copies) + " enregistrements, TraitementCopie " +
             std::to_string(copiesProjet_));
    return temps;
  }

  Temps CompactageProjet() {
    const std::string destination = t_.Fichier("compacte.mdb");
    Supprime(destination);
    Chrono chrono;
    moteur::DBEngine::CompactDatabase(t_.saine, destination, LocaleCompactage, moteur::dbVersion40 + moteur::dbDecrypt);
    return chrono.Ecoule();
  }

  Temps CompactageBrut() {
    const std::string destination = t_.Fichier("compacte_brut.mdb");
    Supprime(destination);
    Chrono chrono;
    VacuumInto(t_.saine, destination);
    return chrono.Ecoule();
  }

  // L'étape du pilote : compaction dans le fichier temporaire, puis remise en place.
  Temps EtapeCompactageProjet() {
    etat_.cheminTravail = etat_.cheminOrigine = t_.Fichier("etape.mdb");
    etat_.fichierTemporaire = t_.Fichier("etape.tmp");
    if (!fs::exists(etat_.cheminTravail)) CopieFichier(t_.saine, etat_.cheminTravail);
    etat_.echec = false;
    Chrono chrono;
    utireorg::EtapeCompactage(etat_);
    Temps temps = chrono.Ecoule();
    if (etat_.echec) Echoue("l'étape de compactage a échoué");
    return temps;
  }

  Temps EtapeCompactageBrute() {
    const std::string chemin = t_.Fichier("etape_brute.mdb"), temporaire = t_.Fichier("etape_brute.tmp");
    if (!fs::exists(chemin)) CopieFichier(t_.saine, chemin);
    Supprime(temporaire);
    Chrono chrono;
    VacuumInto(chemin, temporaire);
    RemplaceBrut(temporaire, chemin);
    Supprime(temporaire);
    return chrono.Ecoule();
  }

  Temps ReparationProjet() {
    const std::string chemin = t_.Fichier("reparation.mdb");
    if (!fs::exists(chemin)) CopieFichier(t_.saine, chemin);
    Chrono chrono;
    moteur::DBEngine::RepairDatabase(chemin);
    return chrono.Ecoule();
  }

  Temps ReparationBrute() {
    Chrono chrono;
    {
      Sqlite base(t_.saine, SQLITE_OPEN_READONLY);
      Instruction controle(base, "PRAGMA integrity_check");
      VerifieSqlite(base.db(), sqlite3_step(controle.get()), "integrity_check");
      if (std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(controle.get(), 0))) != "ok")
        Echoue("la base saine ne passe pas le contrôle d'intégrité");
    }
    return chrono.Ecoule();
  }

  Temps CopieTravailProjet() {
    const std::string destination = t_.Fichier("copie_travail.mdb");
    Supprime(destination);
    Chrono chrono;
    utireorg::CopieBaseCoherente(t_.saine, destination);
    return chrono.Ecoule();
  }

  Temps CopieTravailBrute() {
    const std::string destination = t_.Fichier("copie_travail_brute.mdb");
    Supprime(destination);
    Chrono chrono;
    {
      Sqlite origine(t_.saine, SQLITE_OPEN_READONLY);
      Sqlite copie(destination, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      sqlite3_backup* sauvegarde = sqlite3_backup_init(copie.db(), "main", origine.db(), "main");
      if (!sauvegarde) Echoue("sqlite3_backup_init impossible");
      int rc = sqlite3_backup_step(sauvegarde, -1);
      sqlite3_backup_finish(sauvegarde);
      VerifieSqlite(copie.db(), rc, "sqlite3_backup_step");
    }
    return chrono.Ecoule();
  }

  Temps RemplacementBrut() {
    const std::string destination = t_.Fichier("remplacement.mdb");
    Chrono chrono;
    RemplaceBrut(t_.saine, destination);
    return chrono.Ecoule();
  }

 private:
  Travail& t_;
  Scene& scene_;
  utireorg::EtatReorganisation& etat_;
  long long copiesProjet_ = -1;
};

// La vérification de structure d'une cible déjà conforme au modèle : une première passe la met à
// niveau (champ et index manquants), les suivantes ne trouvent plus rien à faire.
struct MesureStructure {
  Temps miseANiveau, conforme;
  int tables = 0;
};

MesureStructure MesureVerificationStructure(Travail& t, Scene& scene, int essais) {
  const std::string modele = t.Fichier("Gestion.mdb");
  const std::string cible = t.Fichier("Dossier1/Gestion.mdb");
  fs::create_directories(fs::path(cible).parent_path());
  CopieFichier(t.jeu.modele, modele);
  CopieFichier(t.saine, cible);
  utireorg::EtatReorganisation& etat = scene.etat();
  etat.versionAvancee = false;
  etat.estimationEtapes = 1000;

  auto passe = [&] {
    moteur::Database base = utireorg::OuvreBase(cible);
    const std::size_t debut = scene.fenetre().TexteJournal().size();
    Chrono chrono;
    utireorg::VerificationStructure(etat, cible, base, etat.libelle);
    Temps temps = chrono.Ecoule();
    utireorg::FermeBase(base);
    return std::make_pair(temps, scene.fenetre().TexteJournal().substr(debut));
  };
  MesureStructure m;
  auto [miseANiveau, lignes] = passe();
  m.miseANiveau = miseANiveau;
  if (lignes.find("#ALERT# - Champ 'Remarque' non trouvé") == std::string::npos)
    Echoue("la vérification de structure ne crée pas le champ manquant :\n" + lignes);
  for (int i = 0; i < essais; ++i) {
    auto [temps, suite] = passe();
    if (suite.find("#ALERT#") != std::string::npos || suite.find("#ERR#") != std::string::npos)
      Echoue("la cible mise à niveau n'est pas conforme au modèle :\n" + suite);
    Retient(m.conforme, temps, i == 0);
  }
  m.tables = t.jeu.tables + 1;
  return m;
}

void AfficheComparaisons(const std::vector<Comparaison>& lignes) {
  auto ligne = [](const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                  const std::string& e, const std::string& f) {
    std::printf("%s%s%s%s%s%s\n", Cadre(a, 48, false).c_str(), Cadre(b, 11, true).c_str(), Cadre(c, 12, true).c_str(),
                Cadre(d, 9, true).c_str(), Cadre(e, 12, true).c_str(), Cadre(f, 11, true).c_str());
  };
  ligne("Étape (programme / SQLite seul)", "Prog. (s)", "SQLite (s)", "Rapport", "Rap. proc.", "Objectif");
  for (const auto& c : lignes) {
    if (!c.mesuree) continue;
    double rapport = c.projet.secondes / c.brut.secondes;
    std::string objectif = c.objectif ? (rapport <= ObjectifEtape ? "atteint" : "MANQUÉ") : "—";
    ligne(c.etape, Decimal(c.projet.secondes, 3), Decimal(c.brut.secondes, 3), Decimal(rapport, 2),
          Decimal(c.projet.processeur / c.brut.processeur, 2), objectif);
    std::printf("    référence : %s\n", c.reference);
  }
}

// ---- Sous-commandes ----

int Generer(const std::string& dossier, int tables, long long enregistrements) {
  Chrono chrono;
  JeuDeBases jeu = GenereJeu(dossier, tables, enregistrements);
  double secondes = chrono.Ecoule().secondes;
  std::printf("Jeu de %d tables de %s enregistrements généré en %s s\n", tables, Groupe(enregistrements).c_str(),
              Decimal(secondes, 1).c_str());
  std::printf("  modèle : %s (%s Mo)\n  cible  : %s (%s Mo)\n", jeu.modele.c_str(),
              Decimal(static_cast<double>(fs::file_size(jeu.modele)) / 1048576.0, 1).c_str(), jeu.cible.c_str(),
              Decimal(static_cast<double>(fs::file_size(jeu.cible)) / 1048576.0, 1).c_str());
  return 0;
}

// Le dossier de travail d'un jeu, neuf, et la copie saine de sa cible.
Travail PrepareTravail(const std::string& dossier) {
  Travail t;
  t.jeu = LitJeu(dossier);
  t.dossier = t.jeu.dossier + "/travail";
  fs::remove_all(t.dossier);
  fs::create_directories(t.dossier);
  t.tables = t.jeu.nomsTables;
  t.tables.push_back(NomTableTemporaire);
  t.lignesAttendues = Enregistrements(t.tables, t.jeu.cible);
  t.saine = t.Fichier("saine.mdb");
  CopieFichier(t.jeu.cible, t.saine);
  Sqlite base(t.saine);
  base.Execute("UPDATE \"" + t.jeu.nomsTables[TableTexteTropLong] + "\" SET Nom = substr(Nom, 1, 50) WHERE length(Nom) > 50",
               "texte trop long coupé");
  return t;
}

using MesureEtape = std::function<Temps()>;

// Chaque étape, par sa clé : sa mesure par le programme et celle de sa référence.
std::map<std::string, std::pair<MesureEtape, MesureEtape>> MesuresDesEtapes(Travail& t, Etapes& e) {
  return {
      {"lecture", {[&] { return e.LectureProjet(); }, [&] { return ParcoursBrut(t, t.saine); }}},
      {"champs_nuls", {[&] { return e.ChampsNulsProjet(); }, [&] { return ParcoursBrut(t, t.saine); }}},
      {"verification_3163", {[&] { return e.Verification3163Parcours(); }, [&] { return ParcoursBrut(t, t.jeu.cible); }}},
      {"verification_3163_correction",
       {[&] { return e.Verification3163AvecCorrection(); }, [&] { return ParcoursBrut(t, t.jeu.cible); }}},
      {"copie", {[&] { return e.CopieProjet(); }, [&] { return e.CopieBrute(); }}},
      {"compactage", {[&] { return e.CompactageProjet(); }, [&] { return e.CompactageBrut(); }}},
      {"etape_compactage", {[&] { return e.EtapeCompactageProjet(); }, [&] { return e.EtapeCompactageBrute(); }}},
      {"reparation", {[&] { return e.ReparationProjet(); }, [&] { return e.ReparationBrute(); }}},
      {"copie_travail", {[&] { return e.CopieTravailProjet(); }, [&] { return e.CopieTravailBrute(); }}},
  };
}

// Une seule étape, une fois, d'une seule façon : ce qu'on passe à un profileur.
int UneEtape(const std::string& dossier, const std::string& cle, const std::string& facon) {
  Travail t = PrepareTravail(dossier);
  Temps temps;
  {
    Scene scene(t.dossier);
    Etapes e(t, scene);
    auto mesures = MesuresDesEtapes(t, e);
    auto it = mesures.find(cle);
    if (it == mesures.end()) Echoue("étape inconnue « " + cle + " »");
    temps = facon == "brut" ? it->second.second() : it->second.first();
  }
  std::printf("%s (%s) : %s s, processeur %s s\n", cle.c_str(), facon.c_str(), Decimal(temps.secondes, 3).c_str(),
              Decimal(temps.processeur, 3).c_str());
  fs::remove_all(t.dossier);
  return 0;
}

// `choisies` : les clés des étapes à mesurer, séparées par des virgules ; vide, toutes.
int MesureEtapes(const std::string& dossier, int essais, bool garder, const std::string& choisies) {
  Travail t = PrepareTravail(dossier);

  std::printf("Étapes sur %d tables de %s enregistrements (%s Mo), meilleur de %d essai%s\n\n", t.jeu.tables,
              Groupe(t.jeu.enregistrements).c_str(),
              Decimal(static_cast<double>(fs::file_size(t.jeu.cible)) / 1048576.0, 0).c_str(), essais,
              essais > 1 ? "s" : "");
  std::fflush(stdout);

  std::vector<Comparaison> lignes = {
      {"lecture", "Passe de lecture (LectureTable)", "sqlite3_step sur chaque table", true, {}, {}},
      {"champs_nuls", "Passe des enregistrements nuls (Null déjà corrigés)", "sqlite3_step sur chaque table", true, {}, {}},
      {"verification_3163", "Vérification après 3163 (déjà corrigée)", "sqlite3_step sur chaque table", true, {}, {}},
      {"verification_3163_correction", "Vérification après 3163, une correction", "sqlite3_step sur chaque table", false, {}, {}},
      {"copie", "Copie groupée (TraitementCopie)", "ATTACH puis INSERT INTO … SELECT par table", true, {}, {}},
      {"compactage", "Compactage (CompactDatabase)", "VACUUM INTO", true, {}, {}},
      // Les étapes suivantes n'ont pas d'objectif à elles : elles entrent dans la somme à
      // laquelle se compare la réorganisation complète.
      {"etape_compactage", "Étape de compactage, remise en place comprise", "VACUUM INTO puis copie synchronisée et renommage", false, {}, {}},
      {"reparation", "Réparation d'une base saine (RepairDatabase)", "PRAGMA integrity_check", false, {}, {}},
      {"copie_travail", "Copie de travail (mode sécurisé)", "sqlite3_backup", false, {}, {}},
  };
  Temps remplacement;
  MesureStructure structure;
  {
    Scene scene(t.dossier);
    Etapes e(t, scene);
    const auto mesures = MesuresDesEtapes(t, e);
    // Les essais alternent les deux façons, étape par étape : une charge passagère de la machine
    // pèse sur les deux plutôt que sur une seule.
    for (int essai = 0; essai < essais; ++essai) {
      for (auto& c : lignes) {
        if (!choisies.empty() && ("," + choisies + ",").find("," + std::string(c.cle) + ",") == std::string::npos) continue;
        const auto& [projet, brut] = mesures.at(c.cle);
        Retient(c.projet, projet(), essai == 0);
        Retient(c.brut, brut(), essai == 0);
        c.mesuree = true;
      }
      Retient(remplacement, e.RemplacementBrut(), essai == 0);
      std::fprintf(stderr, "bench_reorg : essai %d sur %d fait\n", essai + 1, essais);
    }
    if (choisies.empty() || choisies.find("structure") != std::string::npos)
      structure = MesureVerificationStructure(t, scene, essais);
  }

  AfficheComparaisons(lignes);
  if (structure.tables > 0) {
    std::printf("\nVérification de structure (mode simple), %d tables du modèle :\n", structure.tables);
    std::printf("  mise à niveau (champ et index créés) : %s s, %s ms par table\n",
                Decimal(structure.miseANiveau.secondes, 3).c_str(),
                Decimal(structure.miseANiveau.secondes * 1000 / structure.tables, 1).c_str());
    std::printf("  cible déjà conforme                  : %s s, %s ms par table\n",
                Decimal(structure.conforme.secondes, 3).c_str(),
                Decimal(structure.conforme.secondes * 1000 / structure.tables, 1).c_str());
  }
  std::printf("Copie synchronisée d'un fichier de la taille de la base (remise en place) : %s s\n",
              Decimal(remplacement.secondes, 3).c_str());
  std::fflush(stdout);

  Resultats resultats(t.jeu.dossier);
  for (const auto& c : lignes) {
    if (!c.mesuree) continue;
    resultats.Fixe("etape." + std::string(c.cle) + ".projet", c.projet.secondes);
    resultats.Fixe("etape." + std::string(c.cle) + ".brut", c.brut.secondes);
    resultats.Fixe("etape." + std::string(c.cle) + ".projet_processeur", c.projet.processeur);
    resultats.Fixe("etape." + std::string(c.cle) + ".brut_processeur", c.brut.processeur);
  }
  resultats.Fixe("brut.remplacement", remplacement.secondes);
  resultats.Fixe("brut.remplacement_processeur", remplacement.processeur);
  if (structure.tables > 0) {
    resultats.Fixe("structure.ms_par_table", structure.conforme.secondes * 1000 / structure.tables);
    resultats.Fixe("structure.mise_a_niveau_ms_par_table", structure.miseANiveau.secondes * 1000 / structure.tables);
  }
  resultats.Enregistre();
  if (!garder) fs::remove_all(t.dossier);
  return 0;
}

// Ce que SQLite seul ferait des étapes d'une réorganisation complète : la copie de travail, la
// passe de lecture, la copie groupée, la réparation, deux compactages remis en place, la
// vérification après 3163, la passe des enregistrements nuls et la remise en place finale.
std::optional<Temps> SommeBrute(const Resultats& r) {
  const std::vector<std::pair<const char*, int>> parties = {
      {"etape.copie_travail.brut", 1}, {"etape.lecture.brut", 1},          {"etape.copie.brut", 1},
      {"etape.reparation.brut", 1},    {"etape.etape_compactage.brut", 2}, {"etape.verification_3163.brut", 1},
      {"etape.champs_nuls.brut", 1},   {"brut.remplacement", 1}};
  Temps somme;
  for (const auto& [cle, fois] : parties) {
    auto secondes = r.Lit(cle);
    auto processeur = r.Lit(std::string(cle) + "_processeur");
    if (!secondes || !processeur) return std::nullopt;
    somme.secondes += fois * *secondes;
    somme.processeur += fois * *processeur;
  }
  return somme;
}

double EnSecondes(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

std::string Fin(const std::string& chemin, std::size_t octets) {
  std::ifstream f(chemin, std::ios::binary);
  std::string texte((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  return texte.size() > octets ? texte.substr(texte.size() - octets) : texte;
}

int Complet(const std::string& dossier, const std::string& lot, bool garder) {
  JeuDeBases jeu = LitJeu(dossier);
  const std::string execution = jeu.dossier + "/execution";
  fs::remove_all(execution);
  fs::create_directories(execution + "/Dossier1");
  const std::string modele = execution + "/Gestion.mdb", cible = execution + "/Dossier1/Gestion.mdb";
  CopieFichier(jeu.modele, modele);
  CopieFichier(jeu.cible, cible);

  // Le pic d'un enfant compte les pages du parent qu'il a reçues au fork : le parent doit rester
  // bien plus petit que ce qui est mesuré (il n'a encore ouvert aucune base).
  const long long picParentKio = PicResidentKio();
  std::fflush(nullptr);
  Chrono chrono;
  pid_t pid = ::fork();
  if (pid < 0) Echoue("fork impossible");
  if (pid == 0) {
    if (::chdir(execution.c_str()) != 0) ::_exit(126);
    int sortie = ::open("sortie.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int erreurs = ::open("erreurs.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (sortie < 0 || erreurs < 0 || ::dup2(sortie, 1) < 0 || ::dup2(erreurs, 2) < 0) ::_exit(126);
    ::execl(lot.c_str(), "utireorg-lot", "--cible", cible.c_str(), "--modele", modele.c_str(), "--options",
            "0,1,2,3,4,5", "--copie", "--avance", "--oui", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int statut = 0;
  rusage usage{};
  if (::wait4(pid, &statut, 0, &usage) < 0) Echoue("wait4 impossible");
  const double secondes = chrono.Ecoule().secondes;
  rusage enfants{};
  ::getrusage(RUSAGE_CHILDREN, &enfants);
  const double processeur = EnSecondes(usage.ru_utime) + EnSecondes(usage.ru_stime);
  const long long picKio = std::max<long long>(usage.ru_maxrss, enfants.ru_maxrss);
  const int code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
  if (code != 0)
    Echoue("utireorg-lot s'est terminé avec le code " + std::to_string(code) + " :\n" + Fin(execution + "/sortie.txt", 3000) +
           Fin(execution + "/erreurs.txt", 2000));

  const long long attendus = jeu.tables * jeu.enregistrements;
  const long long trouves = Enregistrements(jeu.nomsTables, cible);
  if (trouves != attendus)
    Echoue("la cible réorganisée a " + std::to_string(trouves) + " enregistrements, pas " + std::to_string(attendus));
  if (!fs::exists(execution + "/Dossier1/" + utireorg::NomFichierCopie)) Echoue("la copie des enregistrements manque");

  const double picMo = static_cast<double>(picKio) / 1024.0;
  std::printf("Réorganisation complète (utireorg-lot, toutes les options) de %d tables de %s enregistrements\n",
              jeu.tables, Groupe(jeu.enregistrements).c_str());
  std::printf("  durée %s s, processeur %s s, mémoire résidente maximale %s Mo (processus mesureur : %s Mo)\n",
              Decimal(secondes, 2).c_str(), Decimal(processeur, 2).c_str(), Decimal(picMo, 1).c_str(),
              Decimal(static_cast<double>(picParentKio) / 1024.0, 1).c_str());

  Resultats resultats(jeu.dossier);
  resultats.Fixe("complet.secondes", secondes);
  resultats.Fixe("complet.processeur", processeur);
  resultats.Fixe("complet.pic_kio", static_cast<double>(picKio));
  resultats.Fixe("complet.enregistrements", static_cast<double>(attendus));
  if (auto somme = SommeBrute(resultats)) {
    std::printf("  somme des références SQLite des étapes : %s s (processeur %s s) : rapport %s (processeur %s)\n",
                Decimal(somme->secondes, 2).c_str(), Decimal(somme->processeur, 2).c_str(),
                Decimal(secondes / somme->secondes, 2).c_str(), Decimal(processeur / somme->processeur, 2).c_str());
    resultats.Fixe("complet.somme_brute", somme->secondes);
    resultats.Fixe("complet.somme_brute_processeur", somme->processeur);
  }
  resultats.Enregistre();
  if (!garder) fs::remove_all(execution);
  return 0;
}

std::string Verdict(bool atteint) { return atteint ? "atteint" : "MANQUÉ"; }

int Bilan(const std::string& petit, const std::string& grand) {
  JeuDeBases jeuPetit = LitJeu(petit), jeuGrand = LitJeu(grand);
  Resultats rPetit(jeuPetit.dossier), rGrand(jeuGrand.dossier);
  auto exige = [](const Resultats& r, const std::string& cle) {
    auto v = r.Lit(cle);
    if (!v) Echoue("résultat « " + cle + " » manquant : lancer d'abord les mesures de ce jeu");
    return *v;
  };
  bool tout = true;
  auto ligne = [](const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
    std::printf("%s%s%s%s\n", Cadre(a, 52, false).c_str(), Cadre(b, 14, true).c_str(), Cadre(c, 14, true).c_str(),
                Cadre(d, 10, true).c_str());
  };
  std::printf("Bilan : %d × %s enregistrements, mémoire aussi à %d × %s\n\n", jeuGrand.tables,
              Groupe(jeuGrand.enregistrements).c_str(), jeuPetit.tables, Groupe(jeuPetit.enregistrements).c_str());
  ligne("Mesure (durée, et temps processeur entre parenthèses)", "Valeur", "Objectif", "");
  struct EtapeBilan {
    const char* cle;
    const char* libelle;
    bool objectif;
  };
  const std::vector<EtapeBilan> etapes = {
      {"lecture", "Passe de lecture / parcours SQLite", true},
      {"champs_nuls", "Passe des enregistrements nuls / parcours SQLite", true},
      {"verification_3163", "Vérification 3163 / parcours SQLite", true},
      {"copie", "Copie groupée / INSERT … SELECT", true},
      {"compactage", "Compactage / VACUUM INTO", true},
      {"verification_3163_correction", "Vérification 3163 avec correction / parcours", false},
      {"etape_compactage", "Étape de compactage / VACUUM INTO + copie", false},
      {"reparation", "Réparation / integrity_check", false},
      {"copie_travail", "Copie de travail / sqlite3_backup", false}};
  for (const auto& e : etapes) {
    const std::string cle = "etape." + std::string(e.cle);
    double rapport = exige(rGrand, cle + ".projet") / exige(rGrand, cle + ".brut");
    double processeur = exige(rGrand, cle + ".projet_processeur") / exige(rGrand, cle + ".brut_processeur");
    const std::string valeur = Decimal(rapport, 2) + " (" + Decimal(processeur, 2) + ")";
    if (!e.objectif) {
      ligne(e.libelle, valeur, "—", "");
      continue;
    }
    tout = tout && rapport <= ObjectifEtape;
    ligne(e.libelle, valeur, "≤ " + Decimal(ObjectifEtape, 1), Verdict(rapport <= ObjectifEtape));
  }
  ligne("Vérification de structure, cible conforme", Decimal(exige(rGrand, "structure.ms_par_table"), 1) + " ms/table", "", "");
  double complet = exige(rGrand, "complet.secondes") / exige(rGrand, "complet.somme_brute");
  double completProcesseur = exige(rGrand, "complet.processeur") / exige(rGrand, "complet.somme_brute_processeur");
  tout = tout && complet <= ObjectifComplet;
  ligne("Réorganisation complète / somme des références",
        Decimal(complet, 2) + " (" + Decimal(completProcesseur, 2) + ")", "≤ " + Decimal(ObjectifComplet, 0),
        Verdict(complet <= ObjectifComplet));
  double moPetit = exige(rPetit, "complet.pic_kio") / 1024.0, moGrand = exige(rGrand, "complet.pic_kio") / 1024.0;
  for (const auto& [jeu, mo] : {std::make_pair(&jeuPetit, moPetit), std::make_pair(&jeuGrand, moGrand)}) {
    bool sous = mo < LimiteMemoireMo;
    tout = tout && sous;
    ligne("Mémoire maximale, " + Groupe(jeu->tables * jeu->enregistrements) + " enregistrements", Decimal(mo, 1) + " Mo",
          "< " + Decimal(LimiteMemoireMo, 0) + " Mo", Verdict(sous));
  }
  double croissance = moGrand / moPetit;
  bool plate = croissance <= CroissanceMemoireAdmise;
  tout = tout && plate;
  ligne("Croissance de la mémoire entre les deux jeux", "× " + Decimal(croissance, 2), "≤ × " + Decimal(CroissanceMemoireAdmise, 1),
        Verdict(plate));
  return tout ? 0 : 1;
}

[[noreturn]] void Usage() {
  std::printf(
      "usage : bench_reorg generer DOSSIER [--tables T] [--enregistrements R]\n"
      "        bench_reorg etapes  DOSSIER [--essais N] [--etapes CLE,...] [--garder]\n"
      "        bench_reorg complet DOSSIER [--lot PROGRAMME] [--garder]\n"
      "        bench_reorg bilan   DOSSIER_PETIT DOSSIER_GRAND\n"
      "        bench_reorg une     DOSSIER ETAPE [projet|brut]   (une étape une fois, pour un profileur)\n");
  std::exit(0);
}

int Principal(int argc, char** argv) {
  if (argc < 3) Usage();
  const std::string commande = argv[1];
  std::vector<std::string> positions;
  int tables = 20, essais = 3;
  long long enregistrements = 50'000;
  bool garder = false;
  std::string lot = CHEMIN_UTIREORG_LOT, choisies;
  for (int i = 2; i < argc; ++i) {
    std::string_view a = argv[i];
    const char* valeur = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--tables") tables = static_cast<int>(LitNombre(a, valeur)), ++i;
    else if (a == "--enregistrements") enregistrements = LitNombre(a, valeur), ++i;
    else if (a == "--essais") essais = static_cast<int>(LitNombre(a, valeur)), ++i;
    else if (a == "--garder") garder = true;
    else if (a == "--lot" && valeur) lot = valeur, ++i;
    else if (a == "--etapes" && valeur) choisies = valeur, ++i;
    else if (a == "--aide" || a == "-h" || a == "--help") Usage();
    else if (!a.empty() && a[0] == '-') Echoue("option inconnue « " + std::string(a) + " »");
    else positions.emplace_back(a);
  }
  if (commande == "generer" && positions.size() == 1) return Generer(positions[0], tables, enregistrements);
  if (commande == "etapes" && positions.size() == 1) return MesureEtapes(positions[0], essais, garder, choisies);
  if (commande == "complet" && positions.size() == 1) return Complet(positions[0], lot, garder);
  if (commande == "bilan" && positions.size() == 2) return Bilan(positions[0], positions[1]);
  if (commande == "une" && (positions.size() == 2 || positions.size() == 3))
    return UneEtape(positions[0], positions[1], positions.size() == 3 ? positions[2] : "projet");
  Usage();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Principal(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "bench_reorg : %s\n", e.what());
    return 2;
  }
}

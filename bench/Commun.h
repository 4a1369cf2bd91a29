// Ce que les programmes de mesure partagent : échecs, arguments, présentation à la française,
// dossier temporaire, chronomètres et accès direct à SQLite.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace banc {

using Horloge = std::chrono::steady_clock;

// Une exception plutôt qu'un exit : les dossiers temporaires, qui pèsent des centaines de Mo,
// doivent disparaître même quand une mesure échoue.
struct Echec : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Echoue(const std::string& message);

// Nombre strictement positif donné après l'option `nom` ; « 1_000_000 » est admis.
long long LitNombre(std::string_view nom, const char* texte);

// ---- Présentation ----

std::string Groupe(long long n);                 // 1 000 000
std::string Decimal(double v, int decimales);    // virgule décimale
// Alignement en caractères affichés, pas en octets : les libellés ont des accents.
std::string Cadre(const std::string& texte, std::size_t largeur, bool aDroite);

// ---- Temps et mémoire ----

double Secondes(Horloge::time_point debut);
// Sur une machine partagée, l'attente du processeur gonfle la durée, pas ce temps-ci.
double TempsProcesseur();
// Pic de mémoire résidente du processus lui-même, en kio (VmHWM).
long long PicResidentKio();

// Durée d'horloge et temps processeur d'une mesure.
struct Temps {
  double secondes = 0;
  double processeur = 0;
};

// Chronomètre démarré à sa création.
class Chrono {
 public:
  Chrono() : debut_(Horloge::now()), processeur_(TempsProcesseur()) {}
  Temps Ecoule() const { return {Secondes(debut_), TempsProcesseur() - processeur_}; }

 private:
  Horloge::time_point debut_;
  double processeur_;
};

// ---- Fichiers ----

class DossierTemporaire {
 public:
  // Sous $TMPDIR ou /tmp ; `garder` le laisse en place à la fin pour examen.
  DossierTemporaire(const std::string& prefixe, bool garder);
  ~DossierTemporaire();
  DossierTemporaire(const DossierTemporaire&) = delete;
  DossierTemporaire& operator=(const DossierTemporaire&) = delete;
  std::string operator/(const std::string& nom) const { return chemin_ + "/" + nom; }
  const std::string& chemin() const { return chemin_; }

 private:
  std::string chemin_;
  bool garder_;
};

// Copie octet par octet, remplaçant la destination ; sans synchronisation : c'est une
// préparation, pas une mesure.
void CopieFichier(const std::string& source, const std::string& destination);

// ---- SQLite directement ----

void VerifieSqlite(sqlite3* db, int rc, const char* quoi);

// Les règles d'écriture des tables sont des déclencheurs qui demandent à la fonction
// utireorg_ignore de la connexion s'il faut écarter une ligne fautive (1) ou échouer (0).
enum class Regles { Strictes, Ecartees };

// Connexion fermée à la destruction, avec la fonction des règles d'écriture installée. Toujours
// par le VFS « unix » de SQLite : la couche que le moteur installe par défaut est à lui, pas à la
// référence.
class Sqlite {
 public:
  explicit Sqlite(const std::string& chemin, int drapeaux = SQLITE_OPEN_READWRITE, Regles regles = Regles::Strictes);
  ~Sqlite();
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;
  sqlite3* db() const { return db_; }
  void Execute(const std::string& texte, const char* quoi) const;
  long long Entier(const std::string& requete) const;  // première colonne de la première ligne

 private:
  sqlite3* db_ = nullptr;
};

// Ce qu'une lecture a trouvé : deux lectures qui ne trouvent pas la même chose ne se comparent
// pas, l'une pourrait aller plus vite simplement parce qu'elle lit moins.
struct Controle {
  long long lignes = 0;
  long long octetsTexte = 0;
  long long nuls = 0;
  friend bool operator==(const Controle&, const Controle&) = default;
  Controle& operator+=(const Controle& autre);
};

// La lecture de référence : sqlite3_step sur « SELECT * » de la table, chaque valeur de chaque
// ligne prise par l'interface C de SQLite.
Controle ParcoursDirect(const Sqlite& base, const std::string& table);

// Instruction préparée, finalisée à la destruction.
class Instruction {
 public:
  Instruction(const Sqlite& base, const std::string& texte);
  ~Instruction();
  Instruction(const Instruction&) = delete;
  Instruction& operator=(const Instruction&) = delete;
  sqlite3_stmt* get() const { return st_; }

 private:
  sqlite3_stmt* st_ = nullptr;
};

}  // namespace banc

// Lecture séquentielle d'une table entière : ce que coûte le moteur par rapport à SQLite lu
// directement, sur le même fichier, et la mémoire que la lecture par le moteur occupe.
//
//   bench_lecture [--enregistrements N] [--essais N] [--garder]
#include <malloc.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "moteur/Moteur.h"

namespace {

using Horloge = std::chrono::steady_clock;

constexpr const char* NomTable = "Mesures";
constexpr double LimiteMo = 64.0;

struct Options {
  long long enregistrements = 1'000'000;
  int essais = 3;
  bool garder = false;
};

// Ce que les deux lectures doivent trouver à l'identique : sans cela, l'une des deux pourrait
// aller plus vite simplement parce qu'elle lit moins.
struct Controle {
  long long lignes = 0;
  long long octetsTexte = 0;
  long long nuls = 0;
  friend bool operator==(const Controle&, const Controle&) = default;
};

// Empêche le compilateur d'écarter des valeurs lues puis jamais utilisées.
volatile long long puits = 0;

// Une exception plutôt qu'un exit : le dossier temporaire, qui pèse des centaines de Mo, doit
// disparaître même quand la mesure échoue.
struct Echec : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Echoue(const std::string& message) { throw Echec(message); }

Options LitOptions(int argc, char** argv) {
  Options o;
  auto entier = [&](int& i, const char* nom) {
    if (i + 1 >= argc) Echoue(std::string(nom) + " attend une valeur");
    std::string texte = argv[++i];
    std::erase(texte, '_');
    char* fin = nullptr;
    long long v = std::strtoll(texte.c_str(), &fin, 10);
    if (texte.empty() || *fin != '\0' || v <= 0) Echoue(std::string(nom) + " : nombre positif attendu, pas « " + argv[i] + " »");
    return v;
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--enregistrements") o.enregistrements = entier(i, "--enregistrements");
    else if (a == "--essais") o.essais = static_cast<int>(entier(i, "--essais"));
    else if (a == "--garder") o.garder = true;
    else if (a == "--aide" || a == "-h" || a == "--help") {
      std::printf("usage : bench_lecture [--enregistrements N] [--essais N] [--garder]\n");
      std::exit(0);
    } else {
      Echoue("option inconnue « " + std::string(a) + " »");
    }
  }
  return o;
}

// ---- Présentation à la française ----

std::string Groupe(long long n) {
  std::string chiffres = std::to_string(n < 0 ? -n : n);
  std::string r;
  for (std::size_t i = 0; i < chiffres.size(); ++i) {
    if (i > 0 && (chiffres.size() - i) % 3 == 0) r += ' ';
    r += chiffres[i];
  }
  return n < 0 ? "-" + r : r;
}

std::string Decimal(double v, int decimales) {
  char tampon[64];
  std::snprintf(tampon, sizeof tampon, "%.*f", decimales, v);
  std::string r = tampon;
  std::replace(r.begin(), r.end(), '.', ',');
  return r;
}

// Alignement en caractères affichés, pas en octets : les libellés ont des accents.
std::string Cadre(const std::string& texte, std::size_t largeur, bool aDroite) {
  std::size_t affiches = 0;
  for (unsigned char c : texte)
    if ((c & 0xC0) != 0x80) ++affiches;
  std::string blancs(largeur > affiches ? largeur - affiches : 0, ' ');
  return aDroite ? blancs + texte : texte + blancs;
}

// ---- Création et remplissage ----

void CreeBase(const std::string& chemin) {
  using namespace moteur;
  Database base = DBEngine::CreateDatabase(chemin);
  TableDef table = base.CreateTableDef(NomTable);
  Field numero = table.CreateField("Numero", dbLong);
  numero.SetAttributes(dbFixedField | dbAutoIncrField);
  Fields champs = table.Fields();
  champs.Append(numero);
  champs.Append(table.CreateField("Nom", dbText, 50));
  champs.Append(table.CreateField("Libelle", dbText, 255));
  champs.Append(table.CreateField("Montant", dbCurrency));
  champs.Append(table.CreateField("Mesure", dbDouble));
  champs.Append(table.CreateField("Horodatage", dbDate));
  champs.Append(table.CreateField("Actif", dbBoolean));
  champs.Append(table.CreateField("Notes", dbMemo));
  base.TableDefs().Append(table);
  base.Close();
}

// Textes faits de mots, accents compris : des valeurs de longueurs variées, comme dans une
// vraie table, plutôt qu'une même chaîne répétée que tout cache rendrait gratuite.
class Textes {
 public:
  explicit Textes(std::mt19937_64& alea) : alea_(alea) {}

  // Au plus `max` caractères, jamais vide : les champs refusent la chaîne vide.
  std::string Phrase(std::size_t min, std::size_t max) {
    std::size_t cible = std::uniform_int_distribution<std::size_t>(min, max)(alea_);
    std::string r;
    std::size_t caracteres = 0;
    while (caracteres < cible) {
      std::string_view mot = Mots[std::uniform_int_distribution<std::size_t>(0, Mots.size() - 1)(alea_)];
      std::size_t n = Caracteres(mot) + (r.empty() ? 0 : 1);
      if (caracteres + n > max) break;
      if (!r.empty()) r += ' ';
      r += mot;
      caracteres += n;
    }
    return r.empty() ? std::string("x") : r;
  }

 private:
  static std::size_t Caracteres(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s)
      if ((c & 0xC0) != 0x80) ++n;
    return n;
  }

  static constexpr std::array<std::string_view, 24> Mots = {
      "facture", "échéance", "règlement", "client", "fournisseur", "société", "remise", "acompte",
      "livraison", "commande", "avoir", "relance", "trésorerie", "exercice", "clôture", "écriture",
      "journal", "compte", "débit", "crédit", "solde", "report", "TVA", "agence"};
  std::mt19937_64& alea_;
};

void VerifieSqlite(sqlite3* db, int rc, const char* quoi) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    Echoue(std::string(quoi) + " : " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

// Les règles d'écriture de la table demandent à cette fonction de la connexion s'il faut écarter
// une ligne fautive plutôt qu'échouer : ici jamais, une ligne refusée est une erreur du banc.
void RegleStricte(sqlite3_context* contexte, int, sqlite3_value**) { sqlite3_result_int(contexte, 0); }

// Directement par SQLite sur le fichier fermé : le remplissage n'est pas ce qui est mesuré, et
// les valeurs écrites ont les formes que le moteur stocke lui-même (les règles d'écriture de la
// table, qui sont des déclencheurs SQLite, le vérifient au passage).
void RemplitTable(const std::string& chemin, long long n) {
  // Chaque instruction d'écriture fait allouer puis libérer à SQLite un bloc d'environ 85 kio ;
  // avec le seuil de rendu au système par défaut de la glibc, cela fait deux brk et autant de
  // fautes de page par ligne, et cinq fois plus de temps de remplissage.
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  sqlite3* db = nullptr;
  VerifieSqlite(db, sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READWRITE, "unix"), "ouverture pour remplissage");
  VerifieSqlite(db, sqlite3_create_function_v2(db, "utireorg_ignore", 0, SQLITE_UTF8, nullptr, RegleStricte, nullptr, nullptr, nullptr),
                "fonction des règles");
  VerifieSqlite(db, sqlite3_exec(db, "PRAGMA cache_size = -65536; PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr),
                "début de transaction");
  sqlite3_stmt* ins = nullptr;
  std::string texte = std::string("INSERT INTO \"") + NomTable +
                      "\" (Nom, Libelle, Montant, Mesure, Horodatage, Actif, Notes) VALUES (?, ?, ?, ?, ?, ?, ?)";
  VerifieSqlite(db, sqlite3_prepare_v2(db, texte.c_str(), -1, &ins, nullptr), "préparation de l'insertion");

  std::mt19937_64 alea(20240607);
  Textes textes(alea);
  std::uniform_int_distribution<long long> centimes(-100'000, 50'000'000);
  std::uniform_real_distribution<double> mesure(-1e6, 1e6);
  std::uniform_int_distribution<int> annee(1990, 2030), mois(1, 12), jour(1, 28), heure(0, 23), minute(0, 59), pourcent(0, 99);
  for (long long i = 0; i < n; ++i) {
    std::string nom = "Client " + std::to_string(i + 1) + " " + textes.Phrase(1, 30);
    std::string libelle = textes.Phrase(10, 200);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", annee(alea), mois(alea), jour(alea), heure(alea),
                  minute(alea), minute(alea));
    sqlite3_bind_text(ins, 1, nom.data(), static_cast<int>(nom.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(ins, 2, libelle.data(), static_cast<int>(libelle.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(ins, 3, static_cast<double>(centimes(alea)) / 100.0);
    sqlite3_bind_double(ins, 4, mesure(alea));
    sqlite3_bind_text(ins, 5, date, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(ins, 6, pourcent(alea) < 50 ? -1 : 0);
    if (pourcent(alea) < 25) {
      sqlite3_bind_null(ins, 7);
    } else {
      std::string notes = textes.Phrase(1, 600);
      sqlite3_bind_text(ins, 7, notes.data(), static_cast<int>(notes.size()), SQLITE_TRANSIENT);
    }
    VerifieSqlite(db, sqlite3_step(ins), "insertion");
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  VerifieSqlite(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "validation");
  sqlite3_close_v2(db);
}

// Dans un processus à part, qui emporte en sortant le tas et les réglages de la glibc du
// remplissage : la lecture directe, mesurée ensuite dans le parent, trouve un processus neuf.
void PrepareBase(const std::string& chemin, long long n) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) Echoue("fork impossible");
  if (pid == 0) {
    int code = 0;
    try {
      CreeBase(chemin);
      RemplitTable(chemin, n);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "bench_lecture : préparation de la base : %s\n", e.what());
      code = 1;
    } catch (...) {
      code = 1;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  int statut = 0;
  if (::waitpid(pid, &statut, 0) < 0 || !WIFEXITED(statut) || WEXITSTATUS(statut) != 0)
    Echoue("la base à lire n'a pas pu être préparée");
}

// ---- Les deux lectures ----

struct Mesure {
  double secondes = 0;
  // Sur une machine partagée, l'attente du processeur gonfle la durée, pas ce temps-ci.
  double processeur = 0;
  Controle controle;
};

double TempsProcesseur() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// La référence : ce que SQLite seul coûte pour rendre chaque valeur de chaque ligne.
Mesure MesureLectureBrute(const std::string& chemin) {
  double debutProcesseur = TempsProcesseur();
  auto debut = Horloge::now();
  Controle c;
  long long somme = 0;
  double sommeReels = 0;
  sqlite3* db = nullptr;
  // Le VFS par défaut de la plateforme : la couche du moteur est à lui, pas à la référence.
  VerifieSqlite(db, sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READONLY, "unix"), "ouverture directe");
  sqlite3_stmt* st = nullptr;
  std::string texte = std::string("SELECT * FROM \"") + NomTable + "\"";
  VerifieSqlite(db, sqlite3_prepare_v2(db, texte.c_str(), -1, &st, nullptr), "préparation de la lecture directe");
  int colonnes = sqlite3_column_count(st);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    ++c.lignes;
    for (int i = 0; i < colonnes; ++i) {
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_INTEGER: somme += sqlite3_column_int64(st, i); break;
        case SQLITE_FLOAT: sommeReels += sqlite3_column_double(st, i); break;
        case SQLITE_TEXT: {
          const unsigned char* t = sqlite3_column_text(st, i);
          c.octetsTexte += sqlite3_column_bytes(st, i);
          somme += t[0];
          break;
        }
        case SQLITE_BLOB:
          sqlite3_column_blob(st, i);
          c.octetsTexte += sqlite3_column_bytes(st, i);
          break;
        default: ++c.nuls; break;
      }
    }
  }
  VerifieSqlite(db, rc, "lecture directe");
  sqlite3_finalize(st);
  sqlite3_close_v2(db);
  puits = somme + static_cast<long long>(sommeReels);
  return {std::chrono::duration<double>(Horloge::now() - debut).count(), TempsProcesseur() - debutProcesseur, c};
}

// Le moteur, écrit comme un appelant l'écrirait : champs pris une fois, puis Value() de chacun
// sur chaque enregistrement.
Mesure MesureLectureMoteur(const std::string& chemin) {
  using namespace moteur;
  double debutProcesseur = TempsProcesseur();
  auto debut = Horloge::now();
  Controle c;
  long long somme = 0;
  double sommeReels = 0;
  Database base = DBEngine::OpenDatabase(chemin);
  Recordset rs = base.OpenRecordset(NomTable);
  Fields champs = rs.Fields();
  std::vector<Field> liste;
  for (int i = 0; i < champs.Count(); ++i) liste.push_back(champs[i]);
  rs.MoveFirst();
  while (!rs.Eof()) {
    ++c.lignes;
    for (const Field& champ : liste) {
      Valeur v = champ.Value();
      switch (v.genre()) {
        case Valeur::Genre::Nul:
        case Valeur::Genre::Vide: ++c.nuls; break;
        case Valeur::Genre::Reel: sommeReels += v.reel(); break;
        case Valeur::Genre::Texte:
        case Valeur::Genre::Date:
          c.octetsTexte += static_cast<long long>(v.texte().size());
          somme += static_cast<unsigned char>(v.texte()[0]);
          break;
        case Valeur::Genre::Binaire: c.octetsTexte += static_cast<long long>(v.texte().size()); break;
        default: somme += v.entier(); break;
      }
    }
    rs.MoveNext();
  }
  rs.Close();
  base.Close();
  puits = somme + static_cast<long long>(sommeReels);
  return {std::chrono::duration<double>(Horloge::now() - debut).count(), TempsProcesseur() - debutProcesseur, c};
}

// Garde le meilleur de chaque temps ; tous les essais doivent avoir lu la même chose.
void Retient(Mesure& meilleure, const Mesure& m, bool premier) {
  if (!premier && !(m.controle == meilleure.controle)) Echoue("deux essais de la même lecture ne lisent pas la même chose");
  if (premier || m.secondes < meilleure.secondes) meilleure.secondes = m.secondes;
  if (premier || m.processeur < meilleure.processeur) meilleure.processeur = m.processeur;
  meilleure.controle = m.controle;
}

// ---- Processus de lecture par le moteur ----

// Pic de mémoire résidente du processus, en kio.
long long PicResidentKio() {
  std::ifstream statut("/proc/self/status");
  std::string ligne;
  while (std::getline(statut, ligne))
    if (ligne.rfind("VmHWM:", 0) == 0) return std::strtoll(ligne.c_str() + 6, nullptr, 10);
  return -1;
}

// Ce que l'enfant renvoie après chaque lecture, puis une dernière fois avec son pic.
struct Reponse {
  Mesure mesure;
  long long picKio = 0;
  bool reussi = false;
  char message[512] = {};
};

bool EcritTout(int fd, const void* donnees, std::size_t n) {
  auto* p = static_cast<const char*>(donnees);
  while (n > 0) {
    ssize_t k = ::write(fd, p, n);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

bool LitTout(int fd, void* donnees, std::size_t n) {
  auto* p = static_cast<char*>(donnees);
  while (n > 0) {
    ssize_t k = ::read(fd, p, n);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<std::size_t>(k);
  }
  return true;
}

// Le processus qui lit par le moteur naît avant le remplissage et la lecture directe : un
// enfant créé plus tard hériterait de leurs pages résidentes, qui compteraient dans son pic
// (et un exec n'y changerait rien, le noyau reportant le pic d'avant l'exec dans ru_maxrss).
// Il lit sur ordre, un essai à la fois, pour que ses essais alternent avec ceux de la lecture
// directe : sur une machine partagée, une charge passagère pèse alors sur les deux.
class Lecteur {
 public:
  Lecteur() {
    int ordres[2], reponses[2];
    if (::pipe(ordres) != 0 || ::pipe(reponses) != 0) Echoue("pipe impossible");
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) Echoue("fork impossible");
    if (pid_ == 0) {
      ::close(ordres[1]);
      ::close(reponses[0]);
      Travaille(ordres[0], reponses[1]);
    }
    ::close(ordres[0]);
    ::close(reponses[1]);
    ordres_ = ordres[1];
    reponses_ = reponses[0];
  }

  ~Lecteur() {
    if (pid_ > 0) {
      ::close(ordres_);
      ::close(reponses_);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  Mesure Lit(const std::string& chemin) {
    std::uint32_t taille = static_cast<std::uint32_t>(chemin.size());
    if (!EcritTout(ordres_, "L", 1) || !EcritTout(ordres_, &taille, sizeof taille) ||
        !EcritTout(ordres_, chemin.data(), chemin.size()))
      Echoue("le processus de lecture ne répond pas");
    return Recoit().mesure;
  }

  // Le pic de l'enfant tout entier : VmHWM vu par lui-même et ru_maxrss vu par le noyau.
  long long Termine() {
    if (!EcritTout(ordres_, "F", 1)) Echoue("le processus de lecture ne répond pas");
    Reponse r = Recoit();
    int statut = 0;
    struct rusage usage{};
    ::close(ordres_);
    ::close(reponses_);
    if (::wait4(pid_, &statut, 0, &usage) < 0) Echoue("wait4 impossible");
    pid_ = -1;
    if (!WIFEXITED(statut) || WEXITSTATUS(statut) != 0) Echoue("le processus de lecture s'est arrêté anormalement");
    return std::max(r.picKio, static_cast<long long>(usage.ru_maxrss));
  }

 private:
  Reponse Recoit() {
    Reponse r;
    if (!LitTout(reponses_, &r, sizeof r)) Echoue("le processus de lecture s'est arrêté anormalement");
    if (!r.reussi) Echoue(std::string("lecture par le moteur : ") + r.message);
    return r;
  }

  [[noreturn]] static void Travaille(int ordres, int reponses) {
    char ordre = 0;
    while (LitTout(ordres, &ordre, 1) && ordre == 'L') {
      std::uint32_t taille = 0;
      if (!LitTout(ordres, &taille, sizeof taille)) break;
      std::string chemin(taille, '\0');
      if (!LitTout(ordres, chemin.data(), taille)) break;
      Reponse r;
      try {
        r.mesure = MesureLectureMoteur(chemin);
        r.reussi = true;
      } catch (const std::exception& e) {
        std::snprintf(r.message, sizeof r.message, "%s", e.what());
      } catch (...) {
        // L'enfant ne doit jamais remonter dans le main du parent, dont il a la pile.
        std::snprintf(r.message, sizeof r.message, "exception inconnue");
      }
      if (!EcritTout(reponses, &r, sizeof r) || !r.reussi) ::_exit(1);
    }
    Reponse fin;
    fin.picKio = PicResidentKio();
    fin.reussi = true;
    EcritTout(reponses, &fin, sizeof fin);
    ::_exit(0);
  }

  pid_t pid_ = -1;
  int ordres_ = -1, reponses_ = -1;
};

class DossierTemporaire {
 public:
  explicit DossierTemporaire(bool garder) : garder_(garder) {
    std::string modele = (std::filesystem::temp_directory_path() / "bench_lecture.XXXXXX").string();
    if (!::mkdtemp(modele.data())) Echoue("dossier temporaire impossible");
    chemin_ = modele;
  }
  ~DossierTemporaire() {
    std::error_code ec;
    if (!garder_) std::filesystem::remove_all(chemin_, ec);
  }
  const std::string& chemin() const { return chemin_; }

 private:
  std::string chemin_;
  bool garder_;
};

int CompareLectures(const Options& o) {
  Lecteur lecteur;
  DossierTemporaire dossier(o.garder);
  std::string chemin = dossier.chemin() + "/lecture.bdd";

  auto debutRemplissage = Horloge::now();
  PrepareBase(chemin, o.enregistrements);
  double remplissage = std::chrono::duration<double>(Horloge::now() - debutRemplissage).count();
  double tailleMo = static_cast<double>(std::filesystem::file_size(chemin)) / (1024.0 * 1024.0);

  Mesure brute, moteur;
  for (int i = 0; i < o.essais; ++i) {
    Retient(brute, MesureLectureBrute(chemin), i == 0);
    Retient(moteur, lecteur.Lit(chemin), i == 0);
  }
  double picMo = static_cast<double>(lecteur.Termine()) / 1024.0;

  if (brute.controle.lignes != o.enregistrements) Echoue("la lecture directe ne trouve pas tous les enregistrements");
  bool memesDonnees = brute.controle == moteur.controle;
  bool memoireOk = picMo <= LimiteMo;
  double rapport = moteur.secondes / brute.secondes;
  auto parSeconde = [&](double s) { return Groupe(static_cast<long long>(static_cast<double>(o.enregistrements) / s)); };

  std::printf("Lecture séquentielle de %s enregistrements (8 champs), meilleur de %d essai%s\n",
              Groupe(o.enregistrements).c_str(), o.essais, o.essais > 1 ? "s" : "");
  std::printf("Base de %s Mo, créée et remplie en %s s\n\n", Decimal(tailleMo, 0).c_str(), Decimal(remplissage, 1).c_str());
  auto ligne = [](const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
    std::printf("%s%s%s%s\n", Cadre(a, 22, false).c_str(), Cadre(b, 11, true).c_str(), Cadre(c, 17, true).c_str(),
                Cadre(d, 14, true).c_str());
  };
  ligne("Lecture", "Durée (s)", "Processeur (s)", "Enreg./s");
  ligne("SQLite direct", Decimal(brute.secondes, 3), Decimal(brute.processeur, 3), parSeconde(brute.secondes));
  ligne("Moteur", Decimal(moteur.secondes, 3), Decimal(moteur.processeur, 3), parSeconde(moteur.secondes));
  ligne("Rapport moteur/direct", Decimal(rapport, 2), Decimal(moteur.processeur / brute.processeur, 2), "");
  std::printf("\n");
  std::printf("Mémoire résidente maximale de la lecture par le moteur : %s Mo (limite %s Mo) : %s\n",
              Decimal(picMo, 1).c_str(), Decimal(LimiteMo, 0).c_str(), memoireOk ? "OK" : "DÉPASSEMENT");
  std::printf("Contrôle (lignes, octets de texte, nuls) : %s\n", memesDonnees ? "identique" : "DIFFÉRENT");
  if (!memesDonnees)
    std::printf("  direct : %lld, %lld, %lld — moteur : %lld, %lld, %lld\n", brute.controle.lignes, brute.controle.octetsTexte,
                brute.controle.nuls, moteur.controle.lignes, moteur.controle.octetsTexte, moteur.controle.nuls);
  if (o.garder) std::printf("Base conservée : %s\n", chemin.c_str());
  return memoireOk && memesDonnees ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return CompareLectures(LitOptions(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_lecture : %s\n", e.what());
    return 2;
  }
}

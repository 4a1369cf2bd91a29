// Copie groupée d'une table dans la copie du modèle : ce que coûte TraitementCopie (une
// instruction INSERT INTO … IN '…' SELECT * par le moteur) à côté de SQLite seul faisant la
// même copie par ATTACH puis INSERT INTO dest.t SELECT * FROM main.t, sur les mêmes données.
//
//   bench_copie [--enregistrements N] [--garder]
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/EtatReorganisation.h"
#include "common/FenetreSansEcran.h"
#include "journal/Journal.h"
#include "moteur/Moteur.h"
#include "records/CopieEnregistrements.h"

namespace {

namespace fs = std::filesystem;
using Horloge = std::chrono::steady_clock;

constexpr const char* NomTable = "Mesures";

struct Options {
  long long enregistrements = 1'000'000;
  bool garder = false;
};

// Une exception plutôt qu'un exit : le dossier temporaire doit disparaître même en cas d'échec.
struct Echec : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Echoue(const std::string& message) { throw Echec(message); }

Options LitOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--enregistrements") {
      if (i + 1 >= argc) Echoue("--enregistrements attend une valeur");
      std::string texte = argv[++i];
      std::erase(texte, '_');
      char* fin = nullptr;
      long long v = std::strtoll(texte.c_str(), &fin, 10);
      if (texte.empty() || *fin != '\0' || v <= 0) Echoue("--enregistrements : nombre positif attendu, pas « " + std::string(argv[i]) + " »");
      o.enregistrements = v;
    } else if (a == "--garder") {
      o.garder = true;
    } else if (a == "--aide" || a == "-h" || a == "--help") {
      std::printf("usage : bench_copie [--enregistrements N] [--garder]\n");
      std::exit(0);
    } else {
      Echoue("option inconnue « " + std::string(a) + " »");
    }
  }
  return o;
}

std::string Groupe(long long n) {
  std::string chiffres = std::to_string(n);
  std::string r;
  for (std::size_t i = 0; i < chiffres.size(); ++i) {
    if (i > 0 && (chiffres.size() - i) % 3 == 0) r += ' ';
    r += chiffres[i];
  }
  return r;
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

double Secondes(Horloge::time_point debut) { return std::chrono::duration<double>(Horloge::now() - debut).count(); }

class DossierTemporaire {
 public:
  explicit DossierTemporaire(bool garder) : garder_(garder) {
    std::string modele = (fs::temp_directory_path() / "bench_copie.XXXXXX").string();
    if (!::mkdtemp(modele.data())) Echoue("dossier temporaire impossible");
    chemin_ = modele;
  }
  ~DossierTemporaire() {
    std::error_code ec;
    if (!garder_) fs::remove_all(chemin_, ec);
  }
  std::string operator/(const std::string& nom) const { return chemin_ + "/" + nom; }
  const std::string& chemin() const { return chemin_; }

 private:
  std::string chemin_;
  bool garder_;
};

// ---- Structure par le moteur, remplissage par SQLite ----

// La même table dans la cible et dans le modèle, clé primaire comprise : la copie entretient
// l'index de la destination, comme dans une vraie base.
void CreeBase(const std::string& chemin) {
  using namespace moteur;
  Database base = DBEngine::CreateDatabase(chemin);
  TableDef table = base.CreateTableDef(NomTable);
  Fields champs = table.Fields();
  champs.Append(table.CreateField("Numero", dbLong));
  champs.Append(table.CreateField("Nom", dbText, 50));
  champs.Append(table.CreateField("Libelle", dbText, 255));
  champs.Append(table.CreateField("Montant", dbCurrency));
  champs.Append(table.CreateField("Mesure", dbDouble));
  champs.Append(table.CreateField("Horodatage", dbDate));
  champs.Append(table.CreateField("Actif", dbBoolean));
  champs.Append(table.CreateField("Notes", dbMemo));
  Index cle = table.CreateIndex("PrimaryKey");
  cle.SetFields("+Numero");
  cle.SetPrimary(true);
  cle.SetUnique(true);
  table.Indexes().Append(cle);
  base.TableDefs().Append(table);
  base.Close();
}

void VerifieSqlite(sqlite3* db, int rc, const char* quoi) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    Echoue(std::string(quoi) + " : " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

// Les règles d'écriture des tables sont des déclencheurs qui demandent à cette fonction de la
// connexion s'il faut écarter une ligne fautive : jamais ici, une ligne refusée serait une erreur.
void RegleStricte(sqlite3_context* contexte, int, sqlite3_value**) { sqlite3_result_int(contexte, 0); }

sqlite3* OuvreSqlite(const std::string& chemin) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    Echoue("ouverture de " + chemin + " : " + message);
  }
  VerifieSqlite(db, sqlite3_create_function_v2(db, "utireorg_ignore", 0, SQLITE_UTF8, nullptr, RegleStricte, nullptr, nullptr, nullptr),
                "fonction des règles");
  return db;
}

void RemplitTable(const std::string& chemin, long long n) {
  sqlite3* db = OuvreSqlite(chemin);
  VerifieSqlite(db, sqlite3_exec(db, "PRAGMA cache_size = -65536; PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr),
                "début de transaction");
  sqlite3_stmt* ins = nullptr;
  std::string texte = std::string("INSERT INTO \"") + NomTable +
                      "\" (Numero, Nom, Libelle, Montant, Mesure, Horodatage, Actif, Notes) VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
  VerifieSqlite(db, sqlite3_prepare_v2(db, texte.c_str(), -1, &ins, nullptr), "préparation de l'insertion");

  static constexpr std::array<std::string_view, 16> Mots = {"facture", "échéance", "règlement", "client",
                                                            "société", "remise", "acompte", "livraison",
                                                            "commande", "avoir", "relance", "trésorerie",
                                                            "clôture", "écriture", "débit", "crédit"};
  std::mt19937_64 alea(20240607);
  auto phrase = [&](std::size_t mots) {
    std::string r;
    for (std::size_t i = 0; i < mots; ++i) {
      if (i) r += ' ';
      r += Mots[alea() % Mots.size()];
    }
    return r;
  };
  for (long long i = 0; i < n; ++i) {
    std::string nom = "Client " + std::to_string(i + 1);
    std::string libelle = phrase(2 + alea() % 12);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(1990 + alea() % 40),
                  static_cast<int>(1 + alea() % 12), static_cast<int>(1 + alea() % 28), static_cast<int>(alea() % 24),
                  static_cast<int>(alea() % 60), static_cast<int>(alea() % 60));
    sqlite3_bind_int64(ins, 1, i + 1);
    sqlite3_bind_text(ins, 2, nom.data(), static_cast<int>(nom.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(ins, 3, libelle.data(), static_cast<int>(libelle.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(ins, 4, static_cast<double>(static_cast<long long>(alea() % 5'000'000)) / 100.0);
    sqlite3_bind_double(ins, 5, static_cast<double>(alea() % 2'000'000) / 7.0 - 1e5);
    sqlite3_bind_text(ins, 6, date, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(ins, 7, alea() % 2 ? -1 : 0);
    if (alea() % 4 == 0) {
      sqlite3_bind_null(ins, 8);
    } else {
      std::string notes = phrase(1 + alea() % 40);
      sqlite3_bind_text(ins, 8, notes.data(), static_cast<int>(notes.size()), SQLITE_TRANSIENT);
    }
    VerifieSqlite(db, sqlite3_step(ins), "insertion");
    sqlite3_reset(ins);
  }
  sqlite3_finalize(ins);
  VerifieSqlite(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "validation");
  sqlite3_close_v2(db);
}

long long CompteSqlite(const std::string& chemin) {
  sqlite3* db = OuvreSqlite(chemin);
  sqlite3_stmt* st = nullptr;
  std::string texte = std::string("SELECT count(*) FROM \"") + NomTable + "\"";
  VerifieSqlite(db, sqlite3_prepare_v2(db, texte.c_str(), -1, &st, nullptr), "comptage");
  VerifieSqlite(db, sqlite3_step(st), "comptage");
  long long n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close_v2(db);
  return n;
}

void CopieFichier(const std::string& source, const std::string& destination) {
  fs::copy_file(source, destination, fs::copy_options::overwrite_existing);
}

// ---- Les deux copies ----

double MesureTraitementCopie(const DossierTemporaire& dossier, const std::string& origine, const std::string& copie,
                             long long attendus) {
  using namespace utireorg;
  // Le journal "Analyse.txt" s'écrit dans le dossier courant : celui de la mesure.
  fs::path avant = fs::current_path();
  fs::current_path(dossier.chemin());
  FenetreSansEcran fenetre;
  DefinitFenetre(&fenetre);
  Journal journal(fenetre);
  journal.OuvertureJournal();
  EtatReorganisation etat(fenetre, journal);
  moteur::Database dbOrig = moteur::DBEngine::OpenDatabase(origine);
  moteur::Database dbDest = moteur::DBEngine::OpenDatabase(copie);

  auto debut = Horloge::now();
  bool reussi = TraitementCopie(etat, dbOrig, dbDest);
  double secondes = Secondes(debut);

  dbOrig.Close();
  dbDest.Close();
  journal.FermetureJournal();
  DefinitFenetre(nullptr);
  fs::current_path(avant);
  std::string attendue = std::string("Table : ") + NomTable + " Copie de " + std::to_string(attendus) + "/" +
                         std::to_string(attendus) + " enregistrements";
  if (!reussi || fenetre.TexteJournal().find(attendue) == std::string::npos)
    Echoue("la copie par TraitementCopie n'a pas tout copié :\n" + fenetre.TexteJournal());
  return secondes;
}

double MesureSqlite(const std::string& origine, const std::string& copie) {
  auto debut = Horloge::now();
  sqlite3* db = OuvreSqlite(origine);
  sqlite3_stmt* attache = nullptr;
  VerifieSqlite(db, sqlite3_prepare_v2(db, "ATTACH DATABASE ? AS dest", -1, &attache, nullptr), "attache");
  sqlite3_bind_text(attache, 1, copie.c_str(), -1, SQLITE_TRANSIENT);
  VerifieSqlite(db, sqlite3_step(attache), "attache");
  sqlite3_finalize(attache);
  std::string texte = std::string("INSERT INTO dest.\"") + NomTable + "\" SELECT * FROM main.\"" + NomTable + "\"";
  VerifieSqlite(db, sqlite3_exec(db, texte.c_str(), nullptr, nullptr, nullptr), "copie par SQLite");
  VerifieSqlite(db, sqlite3_exec(db, "DETACH DATABASE dest", nullptr, nullptr, nullptr), "détache");
  sqlite3_close_v2(db);
  return Secondes(debut);
}

int Compare(const Options& o) {
  DossierTemporaire dossier(o.garder);
  const std::string source = dossier / "source.mdb", modele = dossier / "modele.mdb";

  auto debut = Horloge::now();
  CreeBase(source);
  CreeBase(modele);
  RemplitTable(source, o.enregistrements);
  double preparation = Secondes(debut);
  double tailleMo = static_cast<double>(fs::file_size(source)) / (1024.0 * 1024.0);

  // Chaque copie part de ses propres fichiers : ni l'une ni l'autre ne profite des pages que
  // l'autre a déjà écrites dans la destination.
  const std::string origineMoteur = dossier / "cible_moteur.mdb", copieMoteur = dossier / "copie_moteur.mdb";
  const std::string origineSqlite = dossier / "cible_sqlite.mdb", copieSqlite = dossier / "copie_sqlite.mdb";
  CopieFichier(source, origineMoteur);
  CopieFichier(modele, copieMoteur);
  CopieFichier(source, origineSqlite);
  CopieFichier(modele, copieSqlite);

  double sqlite = MesureSqlite(origineSqlite, copieSqlite);
  double moteur = MesureTraitementCopie(dossier, origineMoteur, copieMoteur, o.enregistrements);
  long long copiesSqlite = CompteSqlite(copieSqlite);
  long long copiesMoteur = CompteSqlite(copieMoteur);
  if (copiesSqlite != o.enregistrements || copiesMoteur != o.enregistrements)
    Echoue("les copies n'ont pas le nombre d'enregistrements attendu");

  auto parSeconde = [&](double s) { return Groupe(static_cast<long long>(static_cast<double>(o.enregistrements) / s)); };
  std::printf("Copie groupée de %s enregistrements (8 champs, clé primaire), base de %s Mo préparée en %s s\n\n",
              Groupe(o.enregistrements).c_str(), Decimal(tailleMo, 0).c_str(), Decimal(preparation, 1).c_str());
  auto ligne = [](const std::string& a, const std::string& b, const std::string& c) {
    std::printf("%s%s%s\n", Cadre(a, 44, false).c_str(), Cadre(b, 11, true).c_str(), Cadre(c, 14, true).c_str());
  };
  ligne("Copie", "Durée (s)", "Enreg./s");
  ligne("SQLite : ATTACH + INSERT … SELECT *", Decimal(sqlite, 3), parSeconde(sqlite));
  ligne("TraitementCopie (INSERT … IN '…' SELECT *)", Decimal(moteur, 3), parSeconde(moteur));
  ligne("Rapport TraitementCopie / SQLite", Decimal(moteur / sqlite, 2), "");
  if (o.garder) std::printf("\nFichiers conservés dans %s\n", dossier.chemin().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Compare(LitOptions(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_copie : %s\n", e.what());
    return 2;
  }
}

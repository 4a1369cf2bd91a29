// Copie groupée d'une table dans la copie du modèle : ce que coûte TraitementCopie (une
// instruction INSERT INTO … IN '…' SELECT * par le moteur) à côté de SQLite seul faisant la
// même copie par ATTACH puis INSERT INTO dest.t SELECT * FROM main.t, sur les mêmes données.
//
//   bench_copie [--enregistrements N] [--garder]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "Commun.h"
#include "Generateur.h"
#include "common/EtatReorganisation.h"
#include "common/FenetreSansEcran.h"
#include "journal/Journal.h"
#include "moteur/Moteur.h"
#include "records/CopieEnregistrements.h"

namespace {

namespace fs = std::filesystem;
using namespace banc;

constexpr const char* NomTable = "Mesures";

struct Options {
  long long enregistrements = 1'000'000;
  bool garder = false;
};

Options LitOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--enregistrements") {
      o.enregistrements = LitNombre(a, i + 1 < argc ? argv[i + 1] : nullptr);
      ++i;
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

// La même table dans la cible et dans le modèle, clé primaire comprise : la copie entretient
// l'index de la destination, comme dans une vraie base.
void CreeBase(const std::string& chemin) {
  moteur::Database base = moteur::DBEngine::CreateDatabase(chemin);
  DefinitTable(base, NomTable, OptionsTable{.dictionnaire = false});
  base.Close();
}

long long CompteSqlite(const std::string& chemin) {
  Sqlite base(chemin);
  return base.Entier(std::string("SELECT count(*) FROM \"") + NomTable + "\"");
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
  {
    Sqlite base(origine);
    {
      Instruction attache(base, "ATTACH DATABASE ? AS dest");
      sqlite3_bind_text(attache.get(), 1, copie.c_str(), -1, SQLITE_TRANSIENT);
      VerifieSqlite(base.db(), sqlite3_step(attache.get()), "attache");
    }
    base.Execute(std::string("INSERT INTO dest.\"") + NomTable + "\" SELECT * FROM main.\"" + NomTable + "\"",
                 "copie par SQLite");
    base.Execute("DETACH DATABASE dest", "détache");
  }
  return Secondes(debut);
}

int Compare(const Options& o) {
  DossierTemporaire dossier("bench_copie", o.garder);
  const std::string source = dossier / "source.mdb", modele = dossier / "modele.mdb";

  auto debut = Horloge::now();
  CreeBase(source);
  CreeBase(modele);
  RemplitTable(source, NomTable, 1, o.enregistrements, 20240607);
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
  std::printf("Copie groupée de %s enregistrements (10 champs, clé primaire), base de %s Mo préparée en %s s\n\n",
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

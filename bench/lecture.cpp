// Lecture séquentielle d'une table entière : ce que coûte le moteur par rapport à SQLite lu
// directement, sur le même fichier, et la mémoire que la lecture par le moteur occupe.
//
//   bench_lecture [--enregistrements N] [--essais N] [--garder]
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Commun.h"
#include "Generateur.h"
#include "moteur/Moteur.h"

namespace {

using namespace banc;

constexpr const char* NomTable = "Mesures";
constexpr double LimiteMo = 64.0;

// Empêche le compilateur d'écarter des valeurs lues puis jamais utilisées.
volatile long long puits = 0;

struct Options {
  long long enregistrements = 1'000'000;
  int essais = 3;
  bool garder = false;
};

Options LitOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    const char* valeur = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--enregistrements") o.enregistrements = LitNombre(a, valeur), ++i;
    else if (a == "--essais") o.essais = static_cast<int>(LitNombre(a, valeur)), ++i;
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

// Dans un processus à part, qui emporte en sortant le tas et les réglages de la glibc du
// remplissage : la lecture directe, mesurée ensuite dans le parent, trouve un processus neuf.
void PrepareBase(const std::string& chemin, long long n) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) Echoue("fork impossible");
  if (pid == 0) {
    int code = 0;
    try {
      moteur::Database base = moteur::DBEngine::CreateDatabase(chemin);
      DefinitTable(base, NomTable, OptionsTable{.dictionnaire = false});
      base.Close();
      RemplitTable(chemin, NomTable, 1, n, 20240607);
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
  Temps temps;
  Controle controle;
};

// La référence : ce que SQLite seul coûte pour rendre chaque valeur de chaque ligne.
Mesure MesureLectureBrute(const std::string& chemin) {
  Chrono chrono;
  Controle c;
  {
    Sqlite base(chemin, SQLITE_OPEN_READONLY);
    c = ParcoursDirect(base, NomTable);
  }
  return {chrono.Ecoule(), c};
}

// Le moteur, écrit comme un appelant l'écrirait : champs pris une fois, puis Value() de chacun
// sur chaque enregistrement ; ou, `enPlace`, LitValeur dans une valeur gardée par champ, que
// chaque enregistrement réécrit sans nouvelle allocation.
Mesure MesureLectureMoteur(const std::string& chemin, bool enPlace) {
  using namespace moteur;
  Chrono chrono;
  Controle c;
  long long somme = 0;
  double sommeReels = 0;
  Database base = DBEngine::OpenDatabase(chemin);
  Recordset rs = base.OpenRecordset(NomTable);
  Fields champs = rs.Fields();
  std::vector<Field> liste;
  for (int i = 0; i < champs.Count(); ++i) liste.push_back(champs[i]);
  std::vector<Valeur> valeurs(liste.size());
  rs.MoveFirst();
  while (!rs.Eof()) {
    ++c.lignes;
    for (std::size_t i = 0; i < liste.size(); ++i) {
      if (enPlace) liste[i].LitValeur(valeurs[i]);
      else valeurs[i] = liste[i].Value();
      const Valeur& v = valeurs[i];
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
  return {chrono.Ecoule(), c};
}

// Garde le meilleur de chaque temps ; tous les essais doivent avoir lu la même chose.
void Retient(Mesure& meilleure, const Mesure& m, bool premier) {
  if (!premier && !(m.controle == meilleure.controle)) Echoue("deux essais de la même lecture ne lisent pas la même chose");
  if (premier || m.temps.secondes < meilleure.temps.secondes) meilleure.temps.secondes = m.temps.secondes;
  if (premier || m.temps.processeur < meilleure.temps.processeur) meilleure.temps.processeur = m.temps.processeur;
  meilleure.controle = m.controle;
}

// ---- Processus de lecture par le moteur ----

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

  Mesure Lit(const std::string& chemin, bool enPlace) {
    std::uint32_t taille = static_cast<std::uint32_t>(chemin.size());
    if (!EcritTout(ordres_, enPlace ? "P" : "L", 1) || !EcritTout(ordres_, &taille, sizeof taille) ||
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
    while (LitTout(ordres, &ordre, 1) && (ordre == 'L' || ordre == 'P')) {
      std::uint32_t taille = 0;
      if (!LitTout(ordres, &taille, sizeof taille)) break;
      std::string chemin(taille, '\0');
      if (!LitTout(ordres, chemin.data(), taille)) break;
      Reponse r;
      try {
        r.mesure = MesureLectureMoteur(chemin, ordre == 'P');
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

int CompareLectures(const Options& o) {
  Lecteur lecteur;
  DossierTemporaire dossier("bench_lecture", o.garder);
  std::string chemin = dossier.chemin() + "/lecture.bdd";

  auto debutRemplissage = Horloge::now();
  PrepareBase(chemin, o.enregistrements);
  double remplissage = std::chrono::duration<double>(Horloge::now() - debutRemplissage).count();
  double tailleMo = static_cast<double>(std::filesystem::file_size(chemin)) / (1024.0 * 1024.0);

  Mesure brute, moteur, enPlace;
  for (int i = 0; i < o.essais; ++i) {
    Retient(brute, MesureLectureBrute(chemin), i == 0);
    Retient(moteur, lecteur.Lit(chemin, false), i == 0);
    Retient(enPlace, lecteur.Lit(chemin, true), i == 0);
  }
  double picMo = static_cast<double>(lecteur.Termine()) / 1024.0;

  if (brute.controle.lignes != o.enregistrements) Echoue("la lecture directe ne trouve pas tous les enregistrements");
  bool memesDonnees = brute.controle == moteur.controle && brute.controle == enPlace.controle;
  bool memoireOk = picMo <= LimiteMo;
  double rapport = moteur.temps.secondes / brute.temps.secondes;
  auto parSeconde = [&](double s) { return Groupe(static_cast<long long>(static_cast<double>(o.enregistrements) / s)); };

  std::printf("Lecture séquentielle de %s enregistrements (10 champs), meilleur de %d essai%s\n",
              Groupe(o.enregistrements).c_str(), o.essais, o.essais > 1 ? "s" : "");
  std::printf("Base de %s Mo, créée et remplie en %s s\n\n", Decimal(tailleMo, 0).c_str(), Decimal(remplissage, 1).c_str());
  auto ligne = [](const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
    std::printf("%s%s%s%s\n", Cadre(a, 26, false).c_str(), Cadre(b, 11, true).c_str(), Cadre(c, 17, true).c_str(),
                Cadre(d, 14, true).c_str());
  };
  ligne("Lecture", "Durée (s)", "Processeur (s)", "Enreg./s");
  ligne("SQLite direct", Decimal(brute.temps.secondes, 3), Decimal(brute.temps.processeur, 3), parSeconde(brute.temps.secondes));
  ligne("Moteur, Value()", Decimal(moteur.temps.secondes, 3), Decimal(moteur.temps.processeur, 3), parSeconde(moteur.temps.secondes));
  ligne("Moteur, LitValeur()", Decimal(enPlace.temps.secondes, 3), Decimal(enPlace.temps.processeur, 3),
        parSeconde(enPlace.temps.secondes));
  ligne("Rapport Value/direct", Decimal(rapport, 2), Decimal(moteur.temps.processeur / brute.temps.processeur, 2), "");
  ligne("Rapport LitValeur/direct", Decimal(enPlace.temps.secondes / brute.temps.secondes, 2),
        Decimal(enPlace.temps.processeur / brute.temps.processeur, 2), "");
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

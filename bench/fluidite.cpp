// Fluidité de la fenêtre pendant une réorganisation complète : une fenêtre sans écran note
// l'instant de chaque traitement de ses événements, et la mesure rapporte le plus long
// intervalle sans traitement, c'est-à-dire le plus long gel qu'aurait la vraie fenêtre, avec
// l'étape en cours à ce moment. Objectif : 100 ms au plus.
//
//   bench_fluidite [--tables T] [--enregistrements R] [--garder]
//
// Par défaut 10 tables de 100 000 enregistrements, soit un million, toutes options cochées
// (Mode sécurisé, copie des enregistrements, contrôle étendu, traitement exhaustif).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Commun.h"
#include "Generateur.h"
#include "app/Pilote.h"
#include "common/FenetreSansEcran.h"

namespace {

namespace fs = std::filesystem;
using namespace banc;
namespace cases = utireorg::cases;
namespace coche = utireorg::coche;
namespace saisie = utireorg::saisie;

constexpr double ObjectifMs = 100.0;

struct Intervalle {
  double ms = 0;
  std::string avant, apres;  // l'étape affichée au début et à la fin de l'intervalle
};

// La fenêtre double : chaque traitement d'événements ferme un intervalle.
class FenetreChronometree : public utireorg::FenetreSansEcran {
 public:
  explicit FenetreChronometree(std::ostream& sortie) : FenetreSansEcran(sortie) {}

  void Demarre() {
    dernier_ = Horloge::now();
    etapeAuDernier_ = etape_;
  }
  void Legendes(const std::string& etape, const std::string& detail) override {
    FenetreSansEcran::Legendes(etape, detail);
    etape_ = etape + (detail.empty() ? "" : " — " + detail);
  }
  // Toutes les questions reçoivent leur premier bouton, comme « utireorg-lot --oui ».
  std::optional<int> PresenteMessage(const utireorg::MessageAnalyse& message) override {
    FenetreSansEcran::PresenteMessage(message);
    return 1;
  }
  void Termine() { Note(); }

  long appels = 0;
  std::vector<Intervalle> intervalles;

 protected:
  void TraiteEvenements() override {
    ++appels;
    Note();
  }

 private:
  void Note() {
    const auto maintenant = Horloge::now();
    intervalles.push_back({std::chrono::duration<double, std::milli>(maintenant - dernier_).count(), etapeAuDernier_, etape_});
    dernier_ = maintenant;
    etapeAuDernier_ = etape_;
  }
  Horloge::time_point dernier_ = Horloge::now();
  std::string etape_, etapeAuDernier_;
};

int Principal(int argc, char** argv) {
  int tables = 10;
  long long enregistrements = 100'000;
  bool garder = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    const char* valeur = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--tables") tables = static_cast<int>(LitNombre(a, valeur)), ++i;
    else if (a == "--enregistrements") enregistrements = LitNombre(a, valeur), ++i;
    else if (a == "--garder") garder = true;
    else Echoue("usage : bench_fluidite [--tables T] [--enregistrements R] [--garder]");
  }
  DossierTemporaire dossier("fluidite", garder);
  std::printf("Génération de %d tables de %s enregistrements…\n", tables, Groupe(enregistrements).c_str());
  std::fflush(stdout);
  const JeuDeBases jeu = GenereJeu(dossier.chemin(), tables, enregistrements);

  const fs::path avant = fs::current_path();
  fs::current_path(dossier.chemin());
  fs::create_directories(dossier / "tmp");
  ::setenv("TMPDIR", (dossier / "tmp").c_str(), 1);

  std::ostringstream messages;
  FenetreChronometree fenetre(messages);
  utireorg::DefinitFenetre(&fenetre);
  for (int n = 0; n < coche::Nombre; ++n) fenetre.DefinitCoche(n, true);
  fenetre.DefinitCase(cases::Copie, true);
  fenetre.DefinitCase(cases::Avancee, true);
  fenetre.DefinitSaisie(saisie::Cible, jeu.cible);
  fenetre.DefinitSaisie(saisie::Modele, jeu.modele);
  utireorg::IssueLancer issue;
  Chrono chrono;
  {
    utireorg::Pilote pilote(fenetre);
    pilote.Reorganisation(false, false, true);
    fenetre.Demarre();
    issue = pilote.Lancer();
    fenetre.Termine();
  }
  const Temps duree = chrono.Ecoule();
  utireorg::DefinitFenetre(nullptr);
  fs::current_path(avant);

  auto intervalles = fenetre.intervalles;
  std::sort(intervalles.begin(), intervalles.end(), [](const auto& a, const auto& b) { return a.ms > b.ms; });
  std::printf("Réorganisation : %s, %s s, %ld traitements d'événements\n",
              issue == utireorg::IssueLancer::Terminee ? "terminée" : "NON TERMINÉE", Decimal(duree.secondes, 1).c_str(),
              fenetre.appels);
  std::printf("Plus longs intervalles sans traitement des événements :\n");
  for (std::size_t i = 0; i < std::min<std::size_t>(5, intervalles.size()); ++i)
    std::printf("  %8s ms  de « %s » à « %s »\n", Decimal(intervalles[i].ms, 1).c_str(), intervalles[i].avant.c_str(),
                intervalles[i].apres.c_str());
  const double pire = intervalles.empty() ? duree.secondes * 1000 : intervalles.front().ms;
  std::printf("Plus long gel : %s ms (objectif : %s ms au plus) : %s\n", Decimal(pire, 1).c_str(),
              Decimal(ObjectifMs, 0).c_str(), pire <= ObjectifMs ? "atteint" : "MANQUÉ");
  if (issue != utireorg::IssueLancer::Terminee) {
    std::fprintf(stderr, "%s", messages.str().c_str());
    return 2;
  }
  return pire <= ObjectifMs ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Principal(argc, argv);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "bench_fluidite : %s\n", e.what());
    return 2;
  }
}

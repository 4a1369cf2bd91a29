#include "app/TousDossiers.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "app/Pilote.h"
#include "common/Arret.h"
#include "common/Chemins.h"
#include "messages/Aide.h"
#include "messages/GestionErreur.h"
#include "moteur/Tenue.h"

namespace utireorg {

namespace fs = std::filesystem;

const std::string& NomDossierDefaut() {
  static const std::string dossier;
  return dossier;
}

std::int32_t TailleDossier(const std::string& dossier) {
  std::string chemin = (!dossier.empty() && dossier.front() == '/') ? dossier : DossierModele() + dossier;
  chemin += '/';
  std::int64_t total = 0;
  std::error_code erreur;
  fs::directory_iterator liste(chemin, erreur);
  if (erreur) return 0;
  for (fs::directory_iterator fin; liste != fin; liste.increment(erreur)) {
    if (erreur) break;
    const fs::directory_entry& entree = *liste;
    std::string nom = entree.path().filename().string();
    if (nom.empty() || nom.front() == '.') continue;  // hidden entries are left out
    std::error_code e;
    if (!entree.is_regular_file(e) || e) continue;
    auto taille = entree.file_size(e);
    if (e) continue;
    // A total past 32 bits ends the count where the previous one stood.
    if (total + static_cast<std::int64_t>(taille) > std::numeric_limits<std::int32_t>::max()) break;
    total += static_cast<std::int64_t>(taille);
  }
  return static_cast<std::int32_t>(total);
}

std::string TailleEnUnites(std::int64_t octets, std::string& unite) {
  unite = "Ko";
  std::int64_t kilo = octets / 1024;
  if (kilo <= 5120) return std::to_string(kilo);
  unite = "Mo";
  std::int64_t mega = kilo / 1024, reste = kilo % 1024;
  if (reste * 2 > 1024 || (reste * 2 == 1024 && mega % 2 == 1)) ++mega;
  return std::to_string(mega);
}

std::string GetTailleDossier(std::string& unite, const std::optional<std::string>& vDossier) {
  std::string dossier = vDossier ? *vDossier : NomDossierDefaut();
  unite = "Ko";
  return TailleEnUnites(TailleDossier(dossier), unite);
}

// ---- The host interface of the main window ----

void Pilote::ReorganisationComplete() { modeTousDossiers_ = true; }

void Pilote::ReorganisationTousDossiers() {
  etat_.reorgEnCours = true;
  arretPar_.reset();
  resultatsDossiers_ = ReorganiseDossiers(fenetre_, journal_, fenetre_.Saisie(saisie::Modele), etat_.flagVerifRelation);
  issue_ = CodeSortieTousDossiers(resultatsDossiers_) == 0 ? IssueRun::Terminee : IssueRun::Interrompue;
  // The stop that ended a folder ended the whole run: the window acts on it as after one run.
  if (const RaisonArret raison = ArretDemande(); raison != RaisonArret::Aucune && raison != RaisonArret::DisquePlein)
    arretPar_ = ArretRun{raison, SignalArret()};
  etat_.traite = etat_.traite || issue_ == IssueRun::Terminee;
  etat_.reorgEnCours = false;
  tenueModele_.reset();
}

void Pilote::FromVekListe(ListeHote* liste, const std::string& typeListe, int indexBouton) {
  (void)typeListe;
  (void)indexBouton;
  if (!liste) {
    if (GestionErreur(fenetre_.Legende() + " (FVL)", moteur::err::VariableObjetNonDefinie,
                      "Variable objet ou variable de bloc With non définie") == 1)
      fenetre_.FermeFenetre();
    return;
  }
  try {
    if (!liste->GetID()) return;
  } catch (...) {
    if (GestionErreur(fenetre_.Legende() + " (FVL)") == 1) fenetre_.FermeFenetre();
  }
}

std::string Pilote::GetTailleDossier(std::string& unite, const std::optional<std::string>& vDossier) const {
  return utireorg::GetTailleDossier(unite, vDossier);
}

std::string Pilote::TexteCopieSecurite() const {
  // What "Mode sécurisé" copies: the database set of a run, that is the target database alone
  // (the model is only read). Nothing to copy while no target is chosen.
  std::int64_t octets = 0;
  const std::string cible = fenetre_.Saisie(saisie::Cible);
  std::error_code erreur;
  if (cible.find_first_not_of(" \t") != std::string::npos) {
    const fs::path absolu = fs::absolute(cible, erreur);
    if (!erreur && fs::is_regular_file(absolu, erreur)) {
      const auto taille = fs::file_size(absolu, erreur);
      if (!erreur) octets = static_cast<std::int64_t>(taille);
    }
  }
  std::string unite;
  const std::string taille = TailleEnUnites(octets, unite);
  return "Une copie de sécurité de la base sera effectuée avant de lancer le traitement. "
         "(nécessite " + taille + " " + unite + " sur votre disque dur.)";
}

}  // namespace utireorg

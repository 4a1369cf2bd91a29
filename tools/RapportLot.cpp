#include "RapportLot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <system_error>

#include "common/Fichiers.h"

namespace rapport {
namespace {

const std::string Regle(75, '-');

// "DDMMYY:HHNN " before a time-stamped line.
std::string SansHorodatage(const std::string& ligne) {
  static const std::regex horodatage("^\\d{6}:\\d{4} ");
  return std::regex_replace(ligne, horodatage, "", std::regex_constants::format_first_only);
}

std::vector<std::string> DecoupeLignes(const std::string& texte) {
  std::vector<std::string> lignes;
  std::size_t depuis = 0;
  for (;;) {
    std::size_t fin = texte.find('\n', depuis);
    std::string ligne = texte.substr(depuis, fin == std::string::npos ? std::string::npos : fin - depuis);
    if (!ligne.empty() && ligne.back() == '\r') ligne.pop_back();
    if (fin == std::string::npos) {
      if (!ligne.empty()) lignes.push_back(ligne);
      return lignes;
    }
    lignes.push_back(ligne);
    depuis = fin + 1;
  }
}

// The title of a section block: "-- " + text + " --" right after a rule of 75 dashes.
std::optional<std::string> TitreSection(const std::string& precedente, const std::string& ligne) {
  if (precedente != Regle || !ligne.starts_with("-- ") || !ligne.ends_with(" --") || ligne.size() < 6)
    return std::nullopt;
  std::string titre = ligne.substr(3, ligne.size() - 6);
  auto debut = titre.find_first_not_of(' ');
  if (debut == std::string::npos) return std::string();
  return titre.substr(debut, titre.find_last_not_of(' ') - debut + 1);
}

Json Nombre(std::optional<int> numero) { return numero ? Json(*numero) : Json(nullptr); }

}  // namespace

std::optional<int> NumeroErreur(const std::string& texte) {
  static const std::regex erreur("[Ee][Rr][Rr][Ee][Uu][Rr]\\s*:?\\s*(\\d{1,5})\\b");
  static const std::regex parentheses("\\((\\d{1,5})\\)");
  std::smatch m;
  if (std::regex_search(texte, m, erreur) || std::regex_search(texte, m, parentheses)) return std::stoi(m[1]);
  return std::nullopt;
}

std::string DateIso(Instant instant) {
  std::time_t t = std::chrono::system_clock::to_time_t(instant);
  std::tm local{};
  ::localtime_r(&t, &local);
  char texte[40];
  std::strftime(texte, sizeof texte, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string resultat = texte;
  // "+0100" becomes "+01:00", the form ISO 8601 readers all accept.
  if (resultat.size() >= 5) resultat.insert(resultat.size() - 2, ":");
  return resultat;
}

void SuiviJournal::Ecrit(const std::string& texte) {
  std::vector<std::string> lignes = DecoupeLignes(texte);
  for (std::size_t i = 0; i < lignes.size(); ++i) {
    const std::string ligne = SansHorodatage(lignes[i]);
    if (auto titre = TitreSection(precedente_, ligne)) {
      FermeEtape();
      etapes_.push_back({*titre});
      debutEtape_ = std::chrono::steady_clock::now();
      etapeOuverte_ = true;
    }
    precedente_ = ligne;
    if (i > 0) continue;  // a marker stands only at the head of a write
    for (const char* marqueur : {"#ERR#", "#ALERT#"}) {
      if (!ligne.starts_with(marqueur)) continue;
      std::string complet = ligne;
      for (std::size_t j = 1; j < lignes.size(); ++j) complet += "\n" + SansHorodatage(lignes[j]);
      lignes_.push_back({marqueur, NumeroErreur(complet), complet});
      if (etapeOuverte_) ++(std::string(marqueur) == "#ERR#" ? etapes_.back().erreurs : etapes_.back().alertes);
    }
  }
}

void SuiviJournal::FermeEtape() {
  if (!etapeOuverte_) return;
  etapes_.back().secondes =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - debutEtape_).count();
  etapeOuverte_ = false;
}

void SuiviJournal::Termine(bool interrompu) {
  if (etapeOuverte_ && interrompu) etapes_.back().interrompue = true;
  FermeEtape();
}

std::optional<Refus> RefusSansJournal(const std::string& cible, const std::string& modele, bool copie) {
  auto raison = [](const std::string& chemin) -> std::string {
    if (chemin.find_first_not_of(" \t") == std::string::npos) return "aucune base indiquée";
    // Only what is truly absent is said missing: a folder that cannot be entered, or a name too
    // long, has its own cause.
    struct stat etat {};
    if (::lstat(chemin.c_str(), &etat) == 0) return {};
    if (errno == ENOENT || errno == ENOTDIR) return "fichier introuvable";
    return utireorg::TexteErreurSysteme(errno);
  };
  if (std::string r = raison(cible); !r.empty()) return Refus{"Base à analyser", cible, r};
  if (copie)
    if (std::string r = raison(modele); !r.empty()) return Refus{"Base modèle", modele, r};
  return std::nullopt;
}

Json EntreeDossier(const Dossier& dossier, const SuiviJournal& suivi, const utireorg::CompteursRun& compteurs) {
  Json etapes = Json::array();
  for (const auto& e : suivi.Etapes())
    etapes.push_back({{"nom", e.nom},
                      {"issue", e.interrompue ? "interrompue" : e.erreurs > 0 ? "erreurs" : "reussie"},
                      {"duree", e.secondes},
                      {"erreurs", e.erreurs},
                      {"alertes", e.alertes}});
  Json tables = Json::array();
  for (const auto& [nom, c] : compteurs.tables)
    tables.push_back({{"nom", nom},
                      {"lus", c.lus},
                      {"corriges", c.corriges},
                      {"supprimes", c.supprimes},
                      {"copies", c.copies},
                      {"refuses", c.refuses}});
  Json lignes = Json::array();
  for (const auto& l : suivi.Lignes())
    lignes.push_back({{"marqueur", l.marqueur}, {"numero", Nombre(l.numero)}, {"texte", l.texte}});
  Json entree = {{"cible", dossier.cible},
          {"issue", dossier.issue},
          {"debut", DateIso(dossier.debut)},
          {"fin", DateIso(dossier.fin)},
          {"duree", std::chrono::duration<double>(dossier.fin - dossier.debut).count()},
          {"journal", dossier.journal.empty() ? Json(nullptr) : Json(dossier.journal)},
          {"etapes", etapes},
          {"tables", tables},
          {"structure",
           {{"tablesCreees", compteurs.tablesCreees},
            {"tablesReconstruites", compteurs.tablesReconstruites},
            {"champsCrees", compteurs.champsCrees},
            {"indexCrees", compteurs.indexCrees},
            {"relationsCreees", compteurs.relationsCreees},
            {"valeursModifiees", compteurs.valeursModifiees},
            {"tablesPurgees", compteurs.tablesPurgees}}},
          {"lignes", lignes},
          {"messages", dossier.messages}};
  if (dossier.refus)
    entree["refus"] = {{"base", dossier.refus->base}, {"chemin", dossier.refus->chemin}, {"raison", dossier.refus->raison}};
  return entree;
}

Json Rapport(const std::string& version, Instant debut, Instant fin, Json options, Json dossiers, int codeSortie,
             const std::string& erreur) {
  Json rapport = {{"format", VersionFormat},
                  {"programme", "utireorg-lot"},
                  {"version", version},
                  {"debut", DateIso(debut)},
                  {"fin", DateIso(fin)},
                  {"options", std::move(options)},
                  {"dossiers", std::move(dossiers)},
                  {"codeSortie", codeSortie}};
  if (!erreur.empty()) rapport["erreur"] = erreur;
  return rapport;
}

namespace {

namespace fs = std::filesystem;

std::string Systeme(int code) { return utireorg::TexteErreurSysteme(code); }

// The folder the report goes into, as the user typed it ("." for a bare name).
fs::path DossierDe(const std::string& chemin) {
  fs::path dossier = fs::path(chemin).parent_path();
  return dossier.empty() ? fs::path(".") : dossier;
}

// Both paths lead to the same file, or would once created: same real path, or the same inode
// through a hard link.
bool MemeDestination(const std::string& a, const std::string& b) {
  if (utireorg::MemeFichier(a, b)) return true;
  std::error_code e1, e2;
  fs::path reelA = fs::weakly_canonical(fs::absolute(a), e1), reelB = fs::weakly_canonical(fs::absolute(b), e2);
  return !e1 && !e2 && reelA == reelB;
}

// A file can be created in the folder: tried for real, since neither the rights nor a check of
// access() tell about a file system that accepts no new file (/proc, a full disk of inodes).
std::string CreationImpossible(const std::string& chemin) {
  const std::string essai = chemin + ".tmp-" + std::to_string(::getpid());
  int fd = ::open(essai.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return Systeme(errno);
  ::close(fd);
  ::unlink(essai.c_str());
  return {};
}

}  // namespace

bool EstUnRapport(const std::string& chemin) {
  std::error_code e;
  if (!fs::is_regular_file(chemin, e)) return false;
  std::ifstream entree(chemin, std::ios::binary);
  std::string debut(512, '\0');
  entree.read(debut.data(), static_cast<std::streamsize>(debut.size()));
  debut.resize(static_cast<std::size_t>(entree.gcount()));
  static const std::regex signature(R"(^\{\s*"format"\s*:\s*\d+\s*,\s*"programme"\s*:\s*"utireorg-lot")");
  return std::regex_search(debut, signature);
}

std::string RaisonRefusRapport(const std::string& chemin, const std::vector<FichierProtege>& proteges) {
  if (chemin.empty() || chemin.starts_with("-")) return "ce n'est pas un nom de fichier";
  for (const auto& protege : proteges)
    if (!protege.chemin.empty() && MemeDestination(chemin, protege.chemin)) return "c'est " + protege.nom;
  std::error_code e;
  const fs::path dossier = DossierDe(chemin);
  if (!fs::is_directory(dossier, e)) return "le dossier « " + dossier.string() + " » n'existe pas";
  if (fs::is_directory(chemin, e)) return "c'est un dossier";
  if (fs::exists(fs::symlink_status(chemin, e)) && !EstUnRapport(chemin))
    return "ce fichier existe et n'est pas un rapport de utireorg-lot, il est laissé tel quel";
  if (std::string raison = CreationImpossible(chemin); !raison.empty())
    return "aucun fichier ne peut être créé dans le dossier « " + dossier.string() + " » (" + raison + ")";
  return {};
}

bool EcritRapport(const std::string& chemin, const Json& rapport, std::string& erreur) {
  // Checked again at the end: the run may have put something of its own there meanwhile.
  std::error_code e;
  if (fs::is_directory(chemin, e)) {
    erreur = "c'est un dossier";
    return false;
  }
  if (fs::exists(fs::symlink_status(chemin, e)) && !EstUnRapport(chemin)) {
    erreur = "ce fichier existe et n'est pas un rapport de utireorg-lot, il est laissé tel quel";
    return false;
  }
  const std::string temporaire = chemin + ".tmp-" + std::to_string(::getpid());
  // Text from a damaged file may not be valid UTF-8: the report is written all the same.
  const std::string texte = rapport.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
  int fd = ::open(temporaire.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    erreur = Systeme(errno);
    return false;
  }
  bool ecrit = utireorg::EcritToutDescripteur(fd, texte.data(), texte.size());
  int cause = errno;
  if (::close(fd) != 0 && ecrit) {
    ecrit = false;
    cause = errno;
  }
  if (ecrit && ::rename(temporaire.c_str(), chemin.c_str()) == 0) return true;
  if (ecrit) cause = errno;
  erreur = Systeme(cause);
  ::unlink(temporaire.c_str());
  return false;
}

}  // namespace rapport

#include "common/Fichiers.h"
#include "messages/GestionErreur.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <new>
#include <set>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "common/Ansi.h"
#include "common/Horodatage.h"
#include "common/InterfaceFenetre.h"
#include "common/LigneDeCommande.h"
#include "messages/AfficheMessage.h"
#include "moteur/Moteur.h"

namespace utireorg {
namespace {

constexpr long TailleMaximaleJournal = 10000;
constexpr long TailleConserveeJournal = 5000;
constexpr int EssaisValidation = 5;

// The data-folder prefix put before the journal's name. A host application could set one; this
// program never does, so the journal lies in the current directory.
std::string PrefixeDonnees() { return {}; }
std::string CheminJournal() { return PrefixeDonnees() + std::string(NomJournalErreur); }

int journal = -1;  // descriptor of the open error journal; -1 when closed

int OuvreFichierJournal() {
  return ::open(CheminJournal().c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
}

// Cuts the journal down to its last bytes followed by the line. The shortened journal is written
// beside the old one and then takes its name, so that a failure half-way (disk full) leaves the
// old journal as it was instead of an empty one.
bool RaccourcitJournal(const std::string& ligne, off_t taille, mode_t mode) {
  std::string contenu(TailleConserveeJournal, '\0');
  if (!LitToutDescripteur(journal, contenu.data(), contenu.size(), taille - TailleConserveeJournal)) return false;
  contenu += ligne;

  std::string modele = CheminJournal() + ".XXXXXX";
  int temporaire = ::mkstemp(modele.data());
  if (temporaire < 0) return false;
  (void)::fchmod(temporaire, mode & 07777);  // failing that, the copy keeps the owner-only mode
  bool ok = EcritToutDescripteur(temporaire, contenu.data(), contenu.size());
  ok = ::close(temporaire) == 0 && ok;
  if (!ok || ::rename(modele.c_str(), CheminJournal().c_str()) != 0) {
    ::unlink(modele.c_str());
    return false;
  }
  ::close(journal);
  journal = OuvreFichierJournal();
  return true;
}

struct LigneTable {
  std::vector<std::pair<int, int>> plages;
  const char* texte;
  bool fatale;
};

const std::vector<LigneTable>& TableErreurs() {
  static const std::vector<LigneTable> table = {
      {{{5, 5}},
       "Type incompatible.@@"
       "Si le problème persiste, contactez le service technique.",
       true},
      {{{7, 7}},
       "Mémoire insuffisante.@@"
       "La machine n'a plus assez de ressources pour faire fonctionner le produit.@"
       "Fermez les applications.@"
       "Supprimez les fichiers temporaires de Windows (*.tmp)@"
       "et redémarrez votre ordinateur.@@"
       "Note: Certaines versions de Windows gèrent mieux les@"
       "ressources que d'autres systèmes d'exploitations.@",
       true},
      {{{9, 9}},
       "Indice en dehors de la plage.@@"
       "Cette erreur peut provenir d'un problème sur les colonnages@"
       "des tableaux de saisie.@"
       "Contactez le Service Technique afin qu'il vous fasse parvenir@"
       "un fichier de retour à l'origine de ces tableaux.@"
       "(état d'origine à la création du dossier).@@"
       "Cette erreur est due à des problèmes d'environnement.",
       true},
      {{{53, 53}, {623, 623}}, "Fichier non trouvé.", true},
      {{{57, 57}, {3040, 3040}}, "Problème de lecture ou d'écriture.", true},
      {{{61, 61}, {3026, 3026}, {3183, 3183}},
       "Votre disque ou votre répertoire est saturé.@"
       "Libérez de la place sur votre disque.",
       true},
      {{{67, 67}, {75, 75}, {3025, 3025}, {3037, 3037}, {3042, 3042}, {3048, 3048}},
       "Vérifiez le nombre de fichier définis dans votre config.sys (Files = xx),"
       "@ ou bien limitez le nombre d'applications en cours.",
       true},
      {{{70, 70}},
       "Accès non autorisé.@@"
       "Vous avez essayé d'écrire sur un disque protégé@"
       "en écriture ou d'accéder à un fichier verrouillé@"
       "par un autre processus. Attendez que l'autre processus@"
       "ait libéré le fichier avant de l'ouvrir.",
       true},
      {{{71, 71}}, "Disque non prêt.", true},
      {{{321, 321}, {639, 639}, {640, 640}, {3041, 3041}, {3265, 3265}, {3015, 3015}},
       "La structure des fichiers est incompatible avec cette version."
       "@Veuillez lancer la procédure de réorganisation des fichiers.",
       true},
      {{{367, 367}},
       "Cette erreur est due à une mauvaise version d'un fichier système@"
       "utilisé par notre logiciel.@"
       "Si vous avez installé un autre logiciel récemment, il se peut@"
       "que les 2 logiciels soient en conflit.@"
       "Essayez de réinstaller notre logiciel, ou contactez@"
       "votre revendeur afin de résoudre ce conflit.",
       true},
      {{{607, 607}, {3160, 3160}}, "Fichier non ouvert.", true},
      {{{627, 627}, {630, 630}, {632, 632}, {636, 636}, {3020, 3020}, {3023, 3023}, {3027, 3027}, {3034, 3034}},
       "Opération non autorisée.",
       true},
      {{{3036, 3036}},
       "Votre base a atteint sa taille maximale.@"
       "Veuillez réaliser une purge de vos données.",
       true},
      {{{626, 626}}, "Fin de fichier.", false},
      {{{3021, 3021}}, "Pas d'enregistrement courant.", false},
      {{{3043, 3043}},
       "Impossible de lire ou d'écrire@@"
       "Erreur mettant en évidence un problème sur votre réseau.@"
       "Vérifiez les connexions, les cartes réseaux...@"
       "De nombreux cas ont révélé qu'une homogénéité du@"
       "matériel réduisait la présence possible de ces erreurs.@",
       true},
      {{{3046, 3046}, {3186, 3189}, {3211, 3212}, {3218, 3218}},
       "L'enregistrement a déjà été réservé. Opération rejetée.@"
       "Attendez que l'enregistrement soit libre.@",
       false},
      {{{3050, 3050}},
       "Sortez de l'application, "
       "SHARE.EXE n'a pas été chargé.",
       true},
      {{{3052, 3052}},
       "Le nombre de fichiers vérouillés définis par SHARE@"
       "est incorrect. Vérifier le paramètre /L",
       true},
      {{{3056, 3056}},
       "La base ne peut être réparée.@"
       "Restaurez votre dernière sauvegarde.",
       true},
  };
  return table;
}

int NumeroSysteme(const std::error_code& code) {
  if (code.category() != std::generic_category() && code.category() != std::system_category()) return 51;
  switch (code.value()) {
    case ENOENT:
    case ENOTDIR: return 53;
    case EIO: return 57;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return 61;
    case EMFILE:
    case ENFILE: return 67;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY: return 70;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return 71;
    default: return 51;
  }
}

// The stage whose errors are told once, and what it has told.
EtapeErreurs* etapeCourante = nullptr;
std::set<std::pair<int, std::string>>& DejaSignalees() {
  static std::set<std::pair<int, std::string>> signalees;
  return signalees;
}

// "what: English text" becomes "what : French text (erreur système n)"; the English text is
// replaced wherever the exception put it.
std::string DescriptionSysteme(const std::system_error& e) {
  const std::error_code& code = e.code();
  std::string texte = e.what();
  if (code.category() != std::generic_category() && code.category() != std::system_category()) return texte;
  const std::string anglais = code.message();
  const std::string francais = TexteErreurSysteme(code.value());
  auto position = anglais.empty() ? std::string::npos : texte.find(anglais);
  if (position == std::string::npos) return texte + " : " + francais + ".";
  std::size_t debut = position;
  if (debut >= 2 && texte.compare(debut - 2, 2, ": ") == 0) debut -= 2;
  texte.replace(debut, position + anglais.size() - debut, (debut == 0 ? "" : " : ") + francais);
  if (texte.back() != '.' && texte.back() != ']') texte += '.';
  return texte;
}

}  // namespace

ErreurEnCours LitErreur(std::exception_ptr erreur) noexcept {
  if (!erreur) return {};
  try {
    try {
      std::rethrow_exception(erreur);
    } catch (const moteur::ErreurMoteur& e) {
      return {e.Number(), e.Description()};
    } catch (const std::bad_alloc&) {
      return {7, "Mémoire insuffisante"};
    } catch (const std::out_of_range& e) {
      return {9, e.what()};
    } catch (const std::system_error& e) {
      return {NumeroSysteme(e.code()), DescriptionSysteme(e)};
    } catch (const std::exception& e) {
      return {51, e.what()};
    } catch (...) {
      return {51, "Erreur interne"};
    }
  } catch (...) {
    return {51, {}};  // the description itself could not be copied
  }
}

ExplicationErreur ExpliqueErreur(int numero, std::string_view description) {
  for (const auto& ligne : TableErreurs())
    for (const auto& [premier, dernier] : ligne.plages)
      if (numero >= premier && numero <= dernier) return {ligne.texte, ligne.fatale};
  std::string texte(description.empty() ? std::string_view("Problème de fichiers ou de matériel") : description);
  // Engine descriptions are whole sentences already; a second full stop would only look wrong.
  if (texte.empty() || texte.back() != '.') texte += '.';
  return {std::move(texte), true};
}

EtapeErreurs::EtapeErreurs() noexcept : englobante_(etapeCourante) {
  if (!englobante_)
    moteur::IgnoreEchec("a memory of reported errors lost repeats one at most", [] { DejaSignalees().clear(); });
  etapeCourante = this;
}

EtapeErreurs::~EtapeErreurs() {
  etapeCourante = englobante_;
  if (!englobante_) DejaSignalees().clear();
}

int GestionErreur(std::string_view contexte, int numero, std::string_view description) noexcept {
  if (numero == 0) return 0;

  bool repetee = false;
  if (etapeCourante)
    moteur::IgnoreEchec("not remembered, the error is only reported again",
                        [&] { repetee = !DejaSignalees().emplace(numero, std::string(contexte)).second; });

  // The handler never raises a second error: each part of the report goes without the others.
  if (!repetee)
    moteur::IgnoreEchec("the error journal must not hide the error it reports", [&] {
      OuvreJournalErreur();
      const std::string retrait(7, ' ');
      EcritJournalErreur("ERREUR " + std::to_string(numero) + "(" + std::string(description) + ")");
      EcritJournalErreur(retrait + "Txt:" + std::string(contexte));
      long total = 0, disponible = 0, utilise = 0;
      InfosMemoire(total, disponible, utilise);
      EcritJournalErreur(retrait + "MemPhys:" + std::to_string(total) + " KO, MemDispo:" + std::to_string(disponible) +
                         " KO, MemUtil:" + std::to_string(utilise) + " KO");
      EcritJournalErreur(retrait + "Rep:" + PrefixeDonnees());
      std::string fenetres;
      moteur::IgnoreEchec("the list of windows is a detail of the report", [&] {
        if (InterfaceFenetre* fenetre = FenetreCourante())
          for (const auto& legende : fenetre->LegendesFenetres()) fenetres += (fenetres.empty() ? "" : ",") + legende;
      });
      EcritJournalErreur(retrait + "Forms:" + fenetres);
    });
  FermeJournalErreur();

  int drapeau = 1;
  moteur::IgnoreEchec("a message that cannot be shown leaves the caller stopping", [&] {
    ExplicationErreur explication = ExpliqueErreur(numero, description);
    std::string texte;
    if (explication.fatale) {
      drapeau = LigneDeCommandeContient("DEBUG") ? 0 : 1;
      texte = "L'exécution du logiciel ne peut être poursuivie.@@" + explication.texte;
    } else {
      drapeau = 0;
      texte = "Erreur en cours d'exécution :@@" + explication.texte;
    }
    texte += "@@Référence : " + std::to_string(numero) + " " + std::string(contexte);
    if (!repetee) AfficheMessage("!##" + texte, std::string("Erreur"));
  });

  // Writes pending in the engine's transactions reach the disk before the caller goes on or stops.
  moteur::IgnoreEchec("a commit refused here is the caller's own failure to handle", [] {
    for (int essai = 0; essai < EssaisValidation && moteur::DBEngine::NiveauTransaction() > 0; ++essai) {
      try {
        moteur::DBEngine::CommitTrans();
      } catch (...) {
        break;
      }
    }
  });
  return drapeau;
}

int GestionErreur(std::string_view contexte, const moteur::ErreurMoteur& erreur) noexcept {
  return GestionErreur(contexte, erreur.Number(), erreur.Description());
}

int GestionErreur(std::string_view contexte, const moteur::Resultat& resultat) noexcept {
  return GestionErreur(contexte, resultat.Number, resultat.Description);
}

int GestionErreur(std::string_view contexte) noexcept {
  ErreurEnCours erreur = LitErreur(std::current_exception());
  return GestionErreur(contexte, erreur.numero, erreur.description);
}

bool OuvreJournalErreur() noexcept {
  FermeJournalErreur();
  try {
    journal = OuvreFichierJournal();
  } catch (...) {
    journal = -1;
  }
  return journal >= 0;
}

void EcritJournalErreur(std::string_view texte) noexcept {
  if (journal < 0) return;
  moteur::IgnoreEchec("an error journal that cannot be written must not hide the error", [&] {
    std::string ligne = VersAnsi(Horodatage() + " " + std::string(texte)) + "\r\n";
    struct stat etat {};
    if (::fstat(journal, &etat) != 0) return;
    if (etat.st_size > TailleMaximaleJournal && RaccourcitJournal(ligne, etat.st_size, etat.st_mode)) return;
    EcritToutDescripteur(journal, ligne.data(), ligne.size());
  });
}

void FermeJournalErreur() noexcept {
  if (journal >= 0) ::close(journal);
  journal = -1;
}

bool JournalErreurOuvert() noexcept { return journal >= 0; }

void InfosMemoire(long& total, long& disponible, long& utilise) noexcept {
  total = disponible = utilise = 0;
  try {
    long memTotal = -1, memDisponible = -1, libre = -1, tampons = -1, cache = -1;
    std::ifstream meminfo("/proc/meminfo");
    std::string nom;
    long valeur;
    std::string unite;
    while (meminfo >> nom >> valeur) {
      std::getline(meminfo, unite);
      if (nom == "MemTotal:") memTotal = valeur;
      else if (nom == "MemAvailable:") memDisponible = valeur;
      else if (nom == "MemFree:") libre = valeur;
      else if (nom == "Buffers:") tampons = valeur;
      else if (nom == "Cached:") cache = valeur;
    }
    if (memDisponible < 0 && libre >= 0) memDisponible = libre + std::max(tampons, 0L) + std::max(cache, 0L);
    if (memTotal < 0 || memDisponible < 0) {
      struct sysinfo infos {};
      if (::sysinfo(&infos) != 0) return;
      auto enKo = [&](unsigned long quantite) {
        return static_cast<long>((static_cast<unsigned long long>(quantite) * infos.mem_unit + 512) / 1024);
      };
      memTotal = enKo(infos.totalram);
      memDisponible = enKo(infos.freeram + infos.bufferram);
    }
    total = memTotal;
    disponible = memDisponible;
    utilise = total - disponible;
  } catch (...) {
    total = disponible = utilise = 0;
  }
}

}  // namespace utireorg

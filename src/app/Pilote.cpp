// The run driver. LanceReorganisation opens the journal, removes what killed runs left in the
// temporary folder, has Deroule go through the stages, and FinRun writes the run's end.
//
// The stages, in order, with the window's options that call them and the run state
// (EtatReorganisation) each one reads and sets:
//   1. Set-up: the target is closed; with coche::ModeSecurise, SauvegardeBases copies the set to
//      working copies (sets sauvegardeFaite, cheminsOrigine, the set's paths; derniereErreur,
//      echec and disquePlein when it fails). Without it, the run works on the user's own files.
//      The next step names cheminTravail (the file the stages change) and cheminOrigine.
//   2. Read pass, LectureTable (coche::VerificationsPrimaires): reads every record; sets
//      compteurs. A target that did not open for damage is left to the repair, which reads it.
//   3. Record copy (cases::Copie): the model copied to "copie_reorg.mdb" beside the target, then
//      TraitementCopie fills it with the target's records (sets compteurs); echec when that
//      file is one of the run's databases.
//   4. Repair, EtapeReparation (coche::ReparationCompactage), a file stage that ends with
//      EtapeCompactage: a Jet file is converted first whatever the options, then compacted
//      (reads versionCible; sets fichierTemporaire, echec, disquePlein, derniereErreur). The
//      target is reopened.
//   5. With coche::ControleEtendu: the step estimate (estimationEtapes), the temporary tables
//      dropped (when versionAvancee), VerificationStructure (reads flagVerifRelation and
//      versionAvancee; sets echec), EtapeCompactage once more, and the target reopened.
//   6. With sauvegardeFaite and no echec: RestaurationBases puts the working copies in place.
//   7. The journal's closing title.
// After each file stage and after the structure check, echec sends the run to FinRun.
//
// Three handlers deal with failures:
//   - the set-up handler (the first block of Deroule): a failure there leaves no sound state to
//     go on from, so the run is abandoned (Abandonne: message, working copies dropped, the main
//     database reopened, the window unloaded);
//   - the main handler, ExecuteEtape, around every later step: 3163 (a value too long for its
//     field) verifies the records (VerificationEnregistrements) and runs the step once more,
//     and ends the run when the same error comes back; 5, 13 and 3356 abandon; a full disk, a
//     lock, a refused access or damage journal their line, set echec and end the run;
//   - the file stages' own handler (GestionEtape in EtapesFichier.cpp), for repair and
//     compaction: the same 3163 retry; otherwise it only sets echec (and disquePlein) and
//     returns, and the driver reads the flag once the stage is over.
//
// A full disk, wherever it is met (these handlers, the record verification, the working copies,
// a journal that can no longer grow, which SurveillanceArret stops at the next safe point)
// writes "#ERR# Espace disque insuffisant …" and sets disquePlein with echec; FinRun then drops
// the working copies if there are any (the originals stay as they were) and ends on "Procédure
// interrompue ! Libérer de la place sur votre disque dur.".
#include "app/Pilote.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "app/EtapesFichier.h"
#include "app/TousLesDossiers.h"
#include "common/Arret.h"
#include "bases/BaseDonnees.h"
#include "common/Chemins.h"
#include "common/Fichiers.h"
#include "common/Horodatage.h"
#include "common/LigneDeCommande.h"
#include "copies/Copies.h"
#include "messages/AfficheMessage.h"
#include "messages/Aide.h"
#include "messages/GestionErreur.h"
#include "moteur/Tenue.h"
#include "records/CopieEnregistrements.h"
#include "records/LectureEnregistrements.h"
#include "structure/Structure.h"
#include "texte/Texte.h"

namespace utireorg {

namespace {

const char* const EnCours = "Réorganisation en cours ...";
const char* const MessageContexte =
    "!#La réorganisation ne peut s'effectuer@dans le contexte actuel."
    "@@Veuillez sortir du logiciel, puis tenter@une nouvelle réorganisation.";
const char* const ContexteEndommagee =
    " (Base de données endommagée)@@Veuillez sortir du logiciel puis tenter@une nouvelle réorganisation.";
const char* const Interrompue = "Procédure interrompue !";
const char* const InterrompueDisque = "Procédure interrompue ! Libérer de la place sur votre disque dur.";
const char* const LigneDisquePlein = "#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur votre disque dur !";
const char* const LigneEnUtilisation = "#ERR# La base de données est en cours d'utilisation par une autre application !";
const char* const ContexteEnUtilisation =
    " (La base de données est en cours d'utilisation par une autre application)"
    "@@Veuillez quitter les applications en cours puis tenter@une nouvelle réorganisation.";
const char* const MessageEnUtilisation =
    "!#La base de données est en cours d'utilisation@par une autre application !"
    "@@Veuillez quitter les applications en cours puis tenter@une nouvelle réorganisation.";

// Another program reading or writing the database at the moment of the input check: one that
// only commits from time to time lets go within a moment, which is waited for.
bool TenueParUnAutreProgramme(const std::string& chemin) {
  const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(DelaiVerrouCopieMs);
  while (moteur::FichierTenuAilleurs(chemin)) {
    if (std::chrono::steady_clock::now() >= limite) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// A progress notice for a host application; this program has none to tell.
void SignaleAvancement(const std::string&) {}

bool EstBlanc(const std::string& texte) { return texte.find_first_not_of(" \t\r\n") == std::string::npos; }

// The format after Jet 4.0 is refused before the engine is asked to open it: the user is told
// what the file is, rather than that it is no database.
const char* const ExplicationFormatUlterieur =
    "@@Le fichier est au format Access 2007 ou ultérieur (.accdb),@qui n'est pas pris en charge :"
    " seuls les formats Jet 3.0 et Jet 4.0 (.mdb) le sont.";

bool EstFormatUlterieur(const std::string& chemin) {
  return moteur::FormatDuFichier(chemin) == moteur::FormatFichier::JetUlterieur;
}

// The record copy writes into the copy of the model: a Jet model, which is only ever read, is
// converted instead of copied.
void FaitCopieModele(Journal& journal, const std::string& modele, const std::string& copie) {
  if (!moteur::EstFichierJet(modele)) {
    CopieFichier(modele, copie);
    return;
  }
  const std::string version = VersionJet(modele);
  std::vector<std::string> constats;
  ConvertitBaseJet(modele, copie, version, constats);
  for (const auto& ligne : constats) journal.EcritureJournal(ligne);
  journal.EcritureJournal("Base modèle au format Jet " + version +
                          " convertie au format du moteur pour la copie des enregistrements.");
}

// Why a name the user typed is no database file, when something lies there; empty when nothing
// does (a mistyped name needs no journal line).
std::string RaisonPasUnFichier(const std::string& chemin) {
  struct stat lien {}, cible {};
  if (EstBlanc(chemin)) return {};
  // A folder that cannot be entered, or a name too long, is no missing file.
  if (::lstat(chemin.c_str(), &lien) != 0)
    return errno == ENOENT || errno == ENOTDIR ? std::string() : TexteErreurSysteme(errno) + ".";
  if (::stat(chemin.c_str(), &cible) != 0) return "c'est un lien vers un fichier qui n'existe pas.";
  if (S_ISDIR(cible.st_mode)) return "c'est un dossier, pas un fichier de base de données.";
  if (!S_ISREG(cible.st_mode)) return "ce n'est pas un fichier ordinaire.";
  return {};
}

// A refusal of the input check in the journal, which is opened for it when no run has opened it yet.
void NoteRefusControle(Journal& journal, const std::string& ligne) {
  const bool ouvert = journal.EstOuvert();
  if (!ouvert && !journal.OuvertureJournal()) return;
  journal.EcritureJournal(ligne, true);
  if (!ouvert) journal.FermetureJournal();
}

// The input check refuses a database: its message says only that, the journal also says why.
void NoteSaisieRefusee(Journal& journal, const std::string& quelle, const std::string& chemin,
                       const std::string& raison) {
  if (raison.empty()) return;
  NoteRefusControle(journal, "#ERR# " + quelle + " refusée : « " + chemin + " » : " + raison);
}

// The folder part of a file's path, "./" for a bare name.
std::string DossierDuFichier(const std::string& chemin) {
  const auto barre = chemin.rfind('/');
  return barre == std::string::npos ? std::string("./") : chemin.substr(0, barre + 1);
}

// The system error that keeps the program from making files in a folder, 0 when it can.
int ErreurEcritureDossier(const std::string& dossier) {
  return ::access(dossier.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

// The longest name among the files a run makes beside the target: the file that replaces it and,
// for a Jet file, the one that keeps the original, both first written under a temporary name.
std::size_t LongueurNomsVoisins(const std::string& cible) {
  const std::string base = moteur::EstFichierJet(cible) ? NomConservationJet(cible) : cible;
  return NomFichier(base).size() + MarqueTemporaire.size() + 6;
}

std::size_t LongueurNomMax(const std::string& dossier) {
  const long limite = ::pathconf(dossier.c_str(), _PC_NAME_MAX);
  return limite > 0 ? static_cast<std::size_t>(limite) : 255;
}

// The record copy writes "copie_reorg.mdb" beside the target, replacing what lies there.
std::string FichierCopieDe(const std::string& cible) { return Dossier(cible) + NomFichierCopie; }

std::string CheminReel(const std::string& chemin) {
  char* reel = ::realpath(chemin.empty() ? "." : chemin.c_str(), nullptr);
  if (!reel) return {};
  std::string texte = reel;
  std::free(reel);
  return texte;
}

// True when the record copy would replace this file: the very file, or one of the same name but
// for case in the same folder, which a file system that ignores case takes for the same.
bool EstFichierDeLaCopie(const std::string& chemin, const std::string& fichierCopie) {
  if (MemeFichier(chemin, fichierCopie)) return true;
  const std::string dossierCopie = CheminReel(Dossier(fichierCopie));
  if (dossierCopie.empty()) return false;
  const auto estNomCopie = [](const std::string& nom) {
    return texte::MemeNom(nom, NomFichierCopie, texte::Pliage::Ascii);
  };
  const std::string reel = CheminReel(chemin);
  if (!reel.empty() && estNomCopie(NomFichier(reel)) && CheminReel(Dossier(reel)) == dossierCopie) return true;
  return estNomCopie(NomFichier(chemin)) && CheminReel(Dossier(chemin)) == dossierCopie;
}

// Whether the run about to start writes into the target itself or puts a file in its place.
bool RunEcritLaCible(InterfaceFenetre& fenetre, const std::string& cible) {
  return fenetre.Coche(coche::ReparationCompactage) || fenetre.Coche(coche::ModeSecurise) ||
         fenetre.Coche(coche::ControleEtendu) || moteur::EstFichierJet(cible);
}

// A database holding a trigger or a view another program planted is not run on: what it would do
// is never run, but the run would fail half-way on it. "" when it holds none.
std::string PremierObjetInconnu(const moteur::Database& base) {
  try {
    auto inconnus = base.ObjetsExecutables();
    return inconnus.empty() ? std::string() : inconnus.front();
  } catch (...) {
    return {};
  }
}

void RefuseObjetInconnu(Journal& journal, const std::string& quelle, const std::string& chemin, const std::string& objet) {
  AfficheMessage("!#" + quelle + " invalide !@@Elle contient un objet inconnu du logiciel :@" + objet + ".@@Traitement annulé.");
  NoteSaisieRefusee(journal, quelle, chemin, "objet inconnu du logiciel, qui pourrait modifier ses données : " + objet + ".");
}

std::string NomDe(const moteur::Database& base) {
  try {
    return base.etat() ? base.Name() : std::string();
  } catch (...) {
    return {};
  }
}

}  // namespace

Pilote::Pilote(InterfaceFenetre& fenetre) : fenetre_(fenetre), journal_(fenetre), etat_(fenetre, journal_) {}

Pilote::~Pilote() {
  FermeBase(etat_.baseCourante);
  LibereCible();
}

void Pilote::LibereCible() {
  tenueCible_.reset();
  tenueCopie_.reset();
}

// A second run on the same target, or one that would write the same "copie_reorg.mdb", would
// delete and replace the files this one works on; a program reading or writing the target would
// be left with a file replaced under it.
bool Pilote::TientCible(const std::string& cible, bool copie) {
  std::string raison;
  try {
    tenueCible_ = std::make_unique<moteur::TenueRun>(cible);
    if (copie) {
      std::string dossier = Dossier(cible);
      raison = std::string("une autre réorganisation utilise « ") + NomFichierCopie + " » dans son dossier.";
      tenueCopie_ = std::make_unique<moteur::TenueDossier>(dossier.empty() ? std::string(".") : dossier);
    }
    raison = "un autre programme la lit ou l'écrit en ce moment.";
    if (!TenueParUnAutreProgramme(cible)) return true;
  } catch (const moteur::ErreurMoteur& e) {
    if (e.Number() != moteur::err::BaseEnUtilisation) return true;  // the open that follows will say what is wrong
    if (!tenueCible_) raison = "une autre réorganisation la traite en ce moment.";
  }
  LibereCible();
  AfficheMessage(MessageEnUtilisation);
  NoteSaisieRefusee(journal_, "Base à analyser", cible, "elle est en cours d'utilisation par une autre application : " + raison);
  return false;
}

void Pilote::Reorganisation(bool forceTest, bool flagIcone, bool flagVerifRelation) {
  (void)forceTest;
  (void)flagIcone;
  modeTousDossiers_ = false;
  etat_.flagVerifRelation = flagVerifRelation;
  if (!LigneDeCommandeContient(MotAvance)) fenetre_.ActiveBouton(bouton::Details, false);
}

std::string Pilote::VersionBase(moteur::Database& base) {
  try {
    if (!base.etat() || !base.EstOuverte()) return {};
    return base.Version();
  } catch (...) {
    return {};
  }
}

std::optional<long> Pilote::CompteEtapes(const std::string& chemin, int* erreur) {
  moteur::Database base;
  try {
    base = moteur::DBEngine::OpenDatabase(chemin);
    long total = 0;
    moteur::TableDefs tables = base.TableDefs();
    int nombre = tables.Count();
    for (int i = 0; i < nombre; ++i) {
      try {
        moteur::TableDef table = tables[i];
        if ((table.Attributes() & moteur::dbSystemObject) == 0)
          total += table.Fields().Count() + table.Indexes().Count();
      } catch (const moteur::ErreurMoteur& e) {
        if (e.Number() != moteur::err::DefinitionsIllisibles)
          throw;  // a table we may not read is left out of the count
      }
    }
    base.Close();
    return total;
  } catch (...) {
    ErreurEnCours lue = LitErreur(std::current_exception());
    if (erreur) *erreur = lue.numero;
    moteur::IgnoreEchec("the count has failed already: the database is only let go", [&] {
      if (base.EstOuverte()) base.Close();
    });
    return std::nullopt;
  }
}

// A file of the engine that does not open for damage is what the repair is for: with
// "Réparation / Compactage" ticked the run repairs it before anything else writes it. The copy of
// the records, which comes first and reads it whole, could not.
bool Pilote::ReparableParLeRun(const std::string& cible, int erreur) const {
  return erreur == moteur::err::BaseEndommagee && fenetre_.Coche(coche::ReparationCompactage) &&
         !fenetre_.Case(cases::Copie) && moteur::FormatDuFichier(cible) == moteur::FormatFichier::Moteur;
}

// What the user can tick or untick for the run to repair a damaged file it refuses.
std::string Pilote::ConseilReparation(const std::string& cible, int erreur) const {
  if (erreur != moteur::err::BaseEndommagee || moteur::FormatDuFichier(cible) != moteur::FormatFichier::Moteur)
    return {};
  if (!fenetre_.Coche(coche::ReparationCompactage))
    return " Cochez « Réparation / Compactage » pour qu'elle soit réparée.";
  if (fenetre_.Case(cases::Copie))
    return " La copie des enregistrements la lit avant sa réparation : lancez d'abord la réparation seule, sans "
           "« Copie des enregistrements ».";
  return {};
}

bool Pilote::ControleSaisies() {
  cibleEndommagee_.clear();
  raisonCibleEndommagee_.clear();
  if (modeTousDossiers_) return ControleModele();
  saisieAFocaliser_.reset();
  etat_.versionCible.clear();
  std::string versionCible, versionModele;
  bool copie = fenetre_.Case(cases::Copie);

  std::string cible = fenetre_.Saisie(saisie::Cible);
  if (EstBlanc(cible) || !FichierExiste(cible)) {
    AfficheMessage("!#Vous devez saisir une base valide !");
    NoteSaisieRefusee(journal_, "Base à analyser", cible, RaisonPasUnFichier(cible));
    saisieAFocaliser_ = saisie::Cible;
    return false;
  }
  std::string modele = fenetre_.Saisie(saisie::Modele);
  if (copie && (EstBlanc(modele) || !FichierExiste(modele))) {
    AfficheMessage("!#Vous devez saisir une base valide !");
    NoteSaisieRefusee(journal_, "Base modèle", modele, RaisonPasUnFichier(modele));
    saisieAFocaliser_ = saisie::Modele;
    return false;
  }

  FermeBase(etat_.baseCourante);
  LibereCible();
  if (EstFormatUlterieur(cible)) {
    RefuseFormatUlterieur("Base à analyser", cible);
    return false;
  }
  if (!TientCible(cible, copie)) return false;
  std::string raison;
  int erreurOuverture = 0;
  try {
    etat_.baseCourante = OuvreBase(cible);
  } catch (...) {
    ErreurEnCours erreur = LitErreur(std::current_exception());
    raison = erreur.description;
    erreurOuverture = erreur.numero;
    etat_.baseCourante = moteur::Database();
  }
  const bool aReparer = !etat_.baseCourante.EstOuverte() && ReparableParLeRun(cible, erreurOuverture);
  if (!etat_.baseCourante.EstOuverte() && !aReparer) {
    AfficheMessage("!#Base à analyser invalide !");
    NoteSaisieRefusee(journal_, "Base à analyser", cible,
                      (raison.empty() ? "elle ne s'ouvre pas." : raison) + ConseilReparation(cible, erreurOuverture));
    return false;
  }
  if (aReparer) {
    // What another program may have planted is removed by the repair, with its journal line.
    cibleEndommagee_ = cible;
    raisonCibleEndommagee_ = raison;
    versionCible = "4.0";  // the version of the file the repair writes
  } else {
    if (std::string objet = PremierObjetInconnu(etat_.baseCourante); !objet.empty()) {
      FermeBase(etat_.baseCourante);
      LibereCible();
      RefuseObjetInconnu(journal_, "Base à analyser", cible, objet);
      return false;
    }
    versionCible = VersionBase(etat_.baseCourante);
  }
  const std::string cheminCible = aReparer ? cible : NomDe(etat_.baseCourante);

  if (copie) {
    const std::string fichierCopie = FichierCopieDe(cheminCible);
    const bool cibleEstLaCopie = EstFichierDeLaCopie(cible, fichierCopie);
    if (cibleEstLaCopie || EstFichierDeLaCopie(modele, fichierCopie)) {
      FermeBase(etat_.baseCourante);
      LibereCible();
      const std::string quelle = cibleEstLaCopie ? "Base à analyser" : "Base modèle";
      const std::string& chemin = cibleEstLaCopie ? cible : modele;
      AfficheMessage("!#" + quelle + " invalide !@@Le fichier « " + chemin + " » est celui que la copie des" +
                     "@enregistrements remplace (« " + NomFichierCopie + " » à côté de la base à analyser)." +
                     (cibleEstLaCopie ? "@@Renommez la base, ou décochez « Copie des enregistrements »."
                                      : "@@Choisissez la base modèle du logiciel installé."));
      NoteSaisieRefusee(journal_, quelle, chemin,
                        std::string("c'est le fichier « ") + NomFichierCopie +
                            " » que la copie des enregistrements remplace.");
      saisieAFocaliser_ = cibleEstLaCopie ? saisie::Cible : saisie::Modele;
      return false;
    }
    if (EstFormatUlterieur(modele)) {
      RefuseFormatUlterieur("Base modèle", modele);
      return false;
    }
    moteur::Database source;
    try {
      source = OuvreBase(modele);
    } catch (...) {
      raison = LitErreur(std::current_exception()).description;
      source = moteur::Database();
    }
    if (!source.EstOuverte()) {
      AfficheMessage("!#Base modèle invalide !");
      NoteSaisieRefusee(journal_, "Base modèle", modele, raison.empty() ? "elle ne s'ouvre pas." : raison);
      return false;
    }
    if (std::string objet = PremierObjetInconnu(source); !objet.empty()) {
      FermeBase(source);
      RefuseObjetInconnu(journal_, "Base modèle", modele, objet);
      return false;
    }
    versionModele = VersionBase(source);
    FermeBase(source);
  }

  if (RunEcritLaCible(fenetre_, cible) && EstEnLectureSeule(cible)) {
    FermeBase(etat_.baseCourante);
    LibereCible();
    AfficheMessage("!#Base à analyser en lecture seule !@@Le fichier « " + cible +
                   " » est en lecture seule :@la réorganisation ne peut pas le modifier."
                   "@@Ôtez-lui la lecture seule, puis relancez la réorganisation.");
    NoteSaisieRefusee(journal_, "Base à analyser", cible, "le fichier est en lecture seule.");
    saisieAFocaliser_ = saisie::Cible;
    return false;
  }

  if (!ControleDossiers(cible, copie || RunEcritLaCible(fenetre_, cible))) {
    FermeBase(etat_.baseCourante);
    LibereCible();
    return false;
  }

  DefinitDossierModele(Dossier(modele));

  std::string nom = NomFichier(cheminCible);
  etat_.nomLogiciel = nom.substr(0, nom.find('.'));

  etat_.versionCible = versionCible;
  if (copie && !versionCible.empty() && !versionModele.empty() && versionCible != versionModele &&
      versionModele == "4.0" && versionCible == "3.0")
    etat_.versionCible = "4.0";
  return true;
}

// The run makes files beside the target (the engine's journal, the file that replaces it, the
// copy of the records) and in the temporary folder (its working files): a folder it cannot write
// in, or a name too long to leave room for them, is refused now rather than met half-way, where
// it would be taken for a lock or for damage.
bool Pilote::ControleDossiers(const std::string& cible, bool ecritLaCible) {
  const std::string dossier = DossierDuFichier(cible);
  if (ecritLaCible) {
    if (const int erreur = ErreurEcritureDossier(dossier)) {
      AfficheMessage("!#Dossier de la base à analyser en lecture seule !@@Le dossier « " + dossier +
                     " »@n'est pas accessible en écriture : " + TexteErreurSysteme(erreur) +
                     ".@La réorganisation ne peut pas y créer ses fichiers."
                     "@@Donnez-vous le droit d'écrire dans ce dossier, puis relancez la réorganisation.");
      NoteSaisieRefusee(journal_, "Base à analyser", cible,
                        "son dossier « " + dossier + " » n'est pas accessible en écriture : " +
                            TexteErreurSysteme(erreur) + ".");
      saisieAFocaliser_ = saisie::Cible;
      return false;
    }
    const std::size_t maximum = LongueurNomMax(dossier);
    if (LongueurNomsVoisins(cible) > maximum) {
      const std::size_t permis = maximum - (LongueurNomsVoisins(cible) - NomFichier(cible).size());
      AfficheMessage("!#Base à analyser invalide !@@Le nom du fichier « " + NomFichier(cible) +
                     " » est trop long :@la réorganisation ne pourrait pas nommer les fichiers qu'elle crée"
                     " à côté de lui.@Il peut compter au plus " + std::to_string(permis) +
                     " caractères (un caractère accentué en compte deux)."
                     "@@Renommez la base, puis relancez la réorganisation.");
      NoteSaisieRefusee(journal_, "Base à analyser", cible,
                        "nom de fichier trop long pour les fichiers que la réorganisation crée à côté de lui (" +
                            std::to_string(NomFichier(cible).size()) + " octets, au plus " + std::to_string(permis) +
                            ").");
      saisieAFocaliser_ = saisie::Cible;
      return false;
    }
  }
  const std::string temporaire = DossierTemporaire();
  if (const int erreur = ErreurEcritureDossier(temporaire)) {
    AfficheMessage("!#Dossier temporaire inaccessible !@@Le dossier temporaire « " + temporaire +
                   " »@n'est pas accessible en écriture : " + TexteErreurSysteme(erreur) +
                   ".@La réorganisation y écrit ses copies de travail."
                   "@@Donnez-vous le droit d'écrire dans ce dossier (ou désignez-en un autre@par la variable"
                   " TMPDIR), puis relancez la réorganisation.");
    NoteRefusControle(journal_, "#ERR# Dossier temporaire « " + temporaire +
                                    " » refusé : il n'est pas accessible en écriture : " +
                                    TexteErreurSysteme(erreur) + ".");
    return false;
  }
  return true;
}

// "Base à analyser" or "Base modèle": the input check's own message, with why.
void Pilote::RefuseFormatUlterieur(const std::string& quelle, const std::string& chemin) {
  AfficheMessage("!#" + quelle + " invalide !" + ExplicationFormatUlterieur);
  NoteSaisieRefusee(journal_, quelle, chemin, "format Access 2007 ou ultérieur (.accdb), non pris en charge.");
}

// The all-folders run reads only the model: its folder is where the client folders lie.
bool Pilote::ControleModele() {
  saisieAFocaliser_.reset();
  const std::string modele = fenetre_.Saisie(saisie::Modele);
  if (EstBlanc(modele) || !FichierExiste(modele)) {
    AfficheMessage("!#Vous devez saisir une base valide !");
    NoteSaisieRefusee(journal_, "Base modèle", modele, RaisonPasUnFichier(modele));
    saisieAFocaliser_ = saisie::Modele;
    return false;
  }
  if (EstFormatUlterieur(modele)) {
    RefuseFormatUlterieur("Base modèle", modele);
    saisieAFocaliser_ = saisie::Modele;
    return false;
  }
  std::string raison;
  bool enUtilisation = false;
  moteur::Database source;
  // Another program may hold the model for a moment (a write, a backup): it is waited for as a
  // write waits for a lock.
  for (const auto debut = MaintenantAttente();;) {
    try {
      source = OuvreBase(modele);
      break;
    } catch (...) {
      const ErreurEnCours erreur = LitErreur(std::current_exception());
      source = moteur::Database();
      enUtilisation = moteur::EstErreurVerrou(erreur.numero);
      if (enUtilisation && AttenteTransaction(debut)) {
        fenetre_.LaisseVivre();
        continue;
      }
      raison = erreur.description;
      break;
    }
  }
  if (!source.EstOuverte() && enUtilisation) {
    AfficheMessage(MessageEnUtilisation);
    NoteSaisieRefusee(journal_, "Base modèle", modele,
                      "elle est en cours d'utilisation par une autre application : " + raison);
    saisieAFocaliser_ = saisie::Modele;
    return false;
  }
  if (!source.EstOuverte()) {
    AfficheMessage("!#Base modèle invalide !");
    NoteSaisieRefusee(journal_, "Base modèle", modele, raison.empty() ? "elle ne s'ouvre pas." : raison);
    saisieAFocaliser_ = saisie::Modele;
    return false;
  }
  FermeBase(source);
  // Two runs over the same folders would each find the other's databases in use and mix their
  // journals: the model is held from this check to the end of the run.
  tenueModele_.reset();
  try {
    tenueModele_ = std::make_unique<moteur::TenueRun>(modele);
  } catch (const moteur::ErreurMoteur& e) {
    // A file that cannot be held for another reason is run unheld, as a target is.
    if (e.Number() == moteur::err::BaseEnUtilisation) {
      AfficheMessage("!#Une réorganisation de tous les dossiers est déjà en cours sur cette base modèle !");
      NoteSaisieRefusee(journal_, "Base modèle", modele, "une autre réorganisation de tous les dossiers la tient.");
      saisieAFocaliser_ = saisie::Modele;
      return false;
    }
  }
  const std::vector<DossierClient> dossiers = DossiersClients(modele);
  if (std::none_of(dossiers.begin(), dossiers.end(), [](const DossierClient& d) { return !d.base.empty(); })) {
    const std::string nom = std::filesystem::path(modele).filename().string();
    AfficheMessage("!#Aucun dossier à côté de la base modèle ne contient de base « " + nom + " » !");
    NoteSaisieRefusee(journal_, "Base modèle", modele,
                      "aucun dossier à côté d'elle ne contient de base « " + nom + " ».");
    tenueModele_.reset();
    saisieAFocaliser_ = saisie::Modele;
    return false;
  }
  DefinitDossierModele(Dossier(modele));
  return true;
}

std::string Pilote::QuestionConfirmation() const {
  return std::string("?#Confirmez-vous la réorganisation ") +
         (modeTousDossiers_ ? "de l'ensemble des dossiers" : "du dossier") + " ?";
}

IssueLancer Pilote::Lancer(const EtapesLancer& etapes) {
  struct Liberation {
    Pilote& pilote;
    ~Liberation() { pilote.LibereCible(); }
  } liberation{*this};
  if (!ControleSaisies()) return IssueLancer::SaisiesRefusees;
  if (etapes.AffichePageRapport) etapes.AffichePageRapport();

  fenetre_.Pointeur(PointeurSouris::Sablier);
  fenetre_.ActiveBouton(bouton::Quitter, false);
  fenetre_.ActiveBouton(bouton::Lancer, false);
  etat_.versionAvancee = fenetre_.Coche(coche::TraitementExhaustif);
  // The folder panel still shows the last run's totals.
  if (modeTousDossiers_) fenetre_.AvancementDossiers(0, 0, "");

  IssueLancer issue = IssueLancer::Annulee;
  std::optional<int> reponse =
      AfficheMessage(QuestionConfirmation(), std::string(TitreReorganisation), "&Confirmer;+-&Annuler", ContexteAideUtiReorg);
  if (reponse != 1) {
    if (etapes.RetourPage) etapes.RetourPage();
  } else {
    fenetre_.ActiveBouton(bouton::Details, false);
    if (etapes.AvantRun) etapes.AvantRun();
    try {
      if (modeTousDossiers_) {
        ReorganisationTousDossiers();
        issue = issue_ == IssueRun::Terminee ? IssueLancer::Terminee : IssueLancer::Interrompue;
      } else {
        LanceReorganisation();
        switch (issue_) {
          case IssueRun::Terminee: issue = IssueLancer::Terminee; break;
          case IssueRun::Abandonnee: return IssueLancer::Abandonnee;
          case IssueRun::NonLancee: issue = IssueLancer::Annulee; break;
          default: issue = IssueLancer::Interrompue; break;
        }
      }
    } catch (...) {
      // What fails before the run begins (the journal cannot be opened) ends here.
      etat_.reorgEnCours = false;
      if (GestionErreur(fenetre_.Legende() + " (BC)") == 1) {
        fenetre_.FermeFenetre();
        return IssueLancer::Abandonnee;
      }
      issue = IssueLancer::Interrompue;
    }
    if (etapes.ApresRun) etapes.ApresRun();
  }
  fenetre_.ActiveBouton(bouton::Quitter, true);
  fenetre_.Pointeur(PointeurSouris::Normal);
  return issue;
}

void Pilote::LanceReorganisation() {
  EtatReorganisation& e = etat_;
  issue_ = IssueRun::Interrompue;
  arretPar_.reset();

  e.reorgEnCours = true;
  fenetre_.ActiveBouton(bouton::Quitter, false);
  fenetre_.ActiveBouton(bouton::Lancer, false);
  fenetre_.Pointeur(PointeurSouris::Sablier);
  SignaleAvancement(EnCours);

  if (!journal_.OuvertureJournal() && !AccepteRunSansJournal()) {
    e.reorgEnCours = false;
    issue_ = IssueRun::NonLancee;
    fenetre_.Pointeur(PointeurSouris::Normal);
    return;
  }
  // From here a signal, the user or a journal that can no longer be written stop the run at its
  // next safe point; what came before is no request for this run.
  if (!garderDemandeArret_) EffaceDemandeArret();
  SurveillanceArret surveillance([this] {
    return journal_.EstOuvert() && journal_.ErreurEcriture() != 0 ? RaisonArret::DisquePlein : RaisonArret::Aucune;
  });
  surveillance_ = &surveillance;
  struct FinSurveillance {
    SurveillanceArret*& surveillance;
    ~FinSurveillance() { surveillance = nullptr; }
  } finSurveillance{surveillance_};
  // The engine's long operations (integrity check, compaction, salvage, bulk copy) let the window
  // live, and meet a stop there, as the stages' own loops do: during the run only, whose window
  // takes no other action meanwhile.
  moteur::DefinitVeille([this] { fenetre_.LaisseVivre(); });
  // A step the engine runs on a thread of its own: the stop is asked there, the window here.
  moteur::DefinitArretDelegue([] { PointDArret(); });
  struct FinVeille {
    ~FinVeille() {
      moteur::DefinitVeille({});
      moteur::DefinitArretDelegue({});
    }
  } finVeille;
  journal_.TitreJournal("Analyse de bases de données");
  journal_.EcritureJournal("Date : " + DateLongue());

  e.echec = false;
  e.disquePlein = false;
  e.derniereErreur = 0;
  e.fichierTemporaire.clear();
  e.compteurs = CompteursRun();

  ensemble_ = EnsembleBases();
  ensemble_.chemins[SlotPrincipal] = cibleEndommagee_.empty() ? NomDe(e.baseCourante) : cibleEndommagee_;
  if (EstBlanc(ensemble_.chemins[SlotPrincipal])) ensemble_.chemins[SlotPrincipal] = e.nomLogiciel + ".mdb";
  ensemble_.libelles[SlotPrincipal] = LibellePrincipal;
  e.cheminTravail = ensemble_.chemins[SlotPrincipal];
  journal_.EcritureJournal("Logiciel : " + e.nomLogiciel);
  if (!cibleEndommagee_.empty())
    journal_.EcritureJournal("#ALERT# La base à analyser ne s'ouvre pas : " + raisonCibleEndommagee_ +
                             " Elle est réparée avant toute autre étape.");

  try {
    // What killed runs left in the temporary folder goes first; never the databases of this run.
    SupprimeCopiesAbandonnees(e, {ensemble_.chemins[SlotPrincipal], fenetre_.Saisie(saisie::Modele)});
    if (Deroule() == SuiteEtape::Abandon) return;
  } catch (const ArretRun& arret) {
    surveillance.Suspend();
    NoteArret(arret);
  }
  surveillance.Suspend();
  FinRun();
}

// Asked when the journal cannot be opened: the run may go on without it, its lines only shown.
bool Pilote::AccepteRunSansJournal() {
  const std::string chemin = CheminReel(Dossier(journal_.CheminJournal())) + "/" + NomFichier(journal_.CheminJournal());
  const std::error_code erreur = journal_.ErreurOuverture();
  std::optional<int> reponse =
      AfficheMessage("?#Le journal d'analyse ne peut pas être ouvert :@« " + chemin + " » :@" +
                         TexteErreurSysteme(erreur.value()) + "." +
                         "@@Sans journal, aucun enregistrement défectueux ne pourra être corrigé ni supprimé," +
                         "@et le détail de la réorganisation ne sera pas conservé." +
                         "@@Lancer la réorganisation sans journal ?",
                     std::string(TitreReorganisation), "&Lancer sans journal;+-&Annuler");
  if (reponse != 1) return false;
  journal_.OuvertureSansFichier();
  journal_.EcritureJournal("#ERR# Journal d'analyse « " + chemin + " » impossible à ouvrir : " +
                           TexteErreurSysteme(erreur.value()) + " ; réorganisation lancée sans journal.");
  return true;
}

// A stop taken at a safe point: the run goes to its end as a failed one, saying why.
void Pilote::NoteArret(const ArretRun& arret) {
  EtatReorganisation& e = etat_;
  e.echec = true;
  if (arret.raison == RaisonArret::DisquePlein) {
    // Written for the window: the file itself is what could not be written.
    journal_.EcritureJournal("#ERR# " + TexteRaisonArret(arret.raison, arret.signal) + " (" +
                             TexteErreurSysteme(journal_.ErreurEcriture()) + ")");
    journal_.EcritureJournal(LigneDisquePlein);
    e.disquePlein = true;
    e.derniereErreur = moteur::err::DisquePlein;
    return;
  }
  arretPar_ = arret;
}

// The stages of a run (see the note at the top); Fin sends the run to its end, Abandon has
// already ended it.
SuiteEtape Pilote::Deroule() {
  EtatReorganisation& e = etat_;
  auto& chemins = ensemble_.chemins;

  // Set-up: any failure here leaves the run without a sound state to go on from.
  try {
    EtapeErreurs etapeErreurs;
    FermeBase(e.baseCourante);
    if (fenetre_.Coche(coche::ModeSecurise)) {
      int resultat = SauvegardeBases(e, ensemble_);
      if (resultat == CopieDisquePlein) e.disquePlein = true;
      if (resultat != CopieReussie) {
        e.echec = true;
        return SuiteEtape::Fin;
      }
    } else {
      e.cheminsOrigine = chemins;
    }
  } catch (...) {
    if (EstArretRun(std::current_exception())) throw;
    e.derniereErreur = LitErreur(std::current_exception()).numero;
    Abandonne();
    return SuiteEtape::Abandon;
  }

  SuiteEtape suite = SuiteEtape::Continue;
  auto etape = [&](const std::function<void()>& action) {
    if (suite == SuiteEtape::Continue) suite = ExecuteEtape(action);
    return suite == SuiteEtape::Continue;
  };
  // The file stages handle their own failures and only leave the failure flag behind.
  auto sansEchec = [&] {
    if (suite == SuiteEtape::Continue && e.echec) suite = SuiteEtape::Fin;
    return suite == SuiteEtape::Continue;
  };

  etape([&] {
    e.fichierTemporaire = NomFichierTemporaire(e.nomLogiciel);
    e.libelle = ensemble_.libelles[SlotPrincipal];
    journal_.SectionJournal("Réorganisation " + e.libelle);
    e.cheminTravail = chemins[SlotPrincipal];
    e.cheminOrigine = e.cheminsOrigine[SlotPrincipal];
  });

  etape([&] {
    if (cibleEndommagee_.empty() || !fenetre_.Coche(coche::VerificationsPrimaires)) {
      LectureTable(e, e.baseCourante, chemins[SlotPrincipal]);
      return;
    }
    // Not a record of it can be read before the repair, which reads every page and says what it
    // could not take back: an error line here would only contradict the run's result.
    journal_.SectionJournal("Lecture des enregistrements");
    journal_.EcritureJournal("#ALERT# La base ne s'ouvre pas : ses enregistrements sont lus par sa réparation.");
  });

  if (fenetre_.Case(cases::Copie)) {
    std::string fichierCopie = Dossier(e.cheminOrigine) + NomFichierCopie;
    etape([&] {
      if (!e.baseCourante.EstOuverte()) e.baseCourante = OuvreBase(e.cheminOrigine);
    });
    // Whatever path leads there, the copy never replaces the databases of the run.
    for (const std::string& base : {e.cheminOrigine, e.cheminTravail, fenetre_.Saisie(saisie::Modele)}) {
      if (suite != SuiteEtape::Continue || !EstFichierDeLaCopie(base, fichierCopie)) continue;
      journal_.EcritureJournal("#ERR# « " + fichierCopie + " » est une base de la réorganisation (" + base +
                               ") : la copie des enregistrements ne la remplace pas.");
      e.echec = true;
      suite = SuiteEtape::Fin;
    }
    etape([&] {
      // The journal of an earlier copy that was interrupted goes with it: left beside the new
      // copy, it would be played back into it at its first opening.
      for (const std::string& fichier : {fichierCopie, fichierCopie + "-journal"})
        if (EstFichier(fichier) && !SupprimeFichier(fichier))
          throw moteur::ErreurMoteur(moteur::err::FichierUtilise,
                                     "Accès refusé : le fichier '" + fichier + "' ne peut pas être supprimé.");
    });
    etape([&] { FaitCopieModele(journal_, fenetre_.Saisie(saisie::Modele), fichierCopie); });
    etape([&] {
      moteur::Database copie;
      try {
        copie = OuvreBase(fichierCopie);
        TraitementCopie(e, e.baseCourante, copie);
      } catch (...) {
        FermeBase(copie);
        throw;
      }
      FermeBase(copie);
    });
  }

  etape([&] { FermeBase(e.baseCourante); });
  etape([&] { EtapeReparation(e); });
  if (!sansEchec()) return suite;
  etape([&] {
    FermeBase(e.baseCourante);
    e.baseCourante = OuvreBase(e.cheminTravail);
  });
  if (!sansEchec()) return suite;

  if (fenetre_.Coche(coche::ControleEtendu)) {
    etape([&] {
      int erreur = 0;
      std::optional<long> estimation = CompteEtapes(e.cheminTravail, &erreur);
      if (!estimation) throw moteur::ErreurMoteur(erreur, moteur::DescriptionErreur(erreur));
      e.estimationEtapes = *estimation;
    });
    if (e.versionAvancee) etape([&] { EffaceTablesTemporaires(e); });
    etape([&] { VerificationStructure(e, e.cheminOrigine, e.baseCourante, e.libelle); });
    // A verification that could not write its changes ends the run: compacting would only wait
    // on the same program again.
    if (!sansEchec()) return suite;
    etape([&] { EtapeCompactage(e); });
    if (!sansEchec()) return suite;
    etape([&] { journal_.EcritureJournal("Réouverture " + e.libelle, true); });
    etape([&] {
      FermeBase(e.baseCourante);
      e.baseCourante = OuvreBase(e.cheminTravail);
    });
  }

  if (e.sauvegardeFaite && !e.echec) {
    etape([&] {
      FermeBase(e.baseCourante);
      int resultat = RestaurationBases(e, ensemble_);
      e.cheminTravail = chemins[SlotPrincipal];
      if (resultat == CopieDisquePlein) e.disquePlein = true;
      if (resultat != CopieReussie) {
        e.echec = true;
        return;
      }
      if (!chemins[SlotPrincipal].empty()) e.baseCourante = OuvreBase(chemins[SlotPrincipal]);
    });
    if (!sansEchec()) return suite;
  }

  etape([&] {
    journal_.EcritureJournal("");
    journal_.TitreJournal("Fin de l'analyse de bases de données");
    journal_.EcritureJournal("");
    journal_.EcritureJournal("");
  });
  return suite;
}

SuiteEtape Pilote::ExecuteEtape(const std::function<void()>& etape) {
  EtatReorganisation& e = etat_;
  EtapeErreurs etapeErreurs;
  bool verifiee = false;
  for (;;) {
    try {
      etape();
      return SuiteEtape::Continue;
    } catch (...) {
      if (EstArretRun(std::current_exception())) throw;
      ErreurEnCours erreur = LitErreur(std::current_exception());
      int n = erreur.numero;
      e.derniereErreur = n;
      if (n == moteur::err::AppelInvalide || n == moteur::err::TypeIncompatible ||
          n == moteur::err::BaseEnUtilisation) {
        journal_.EcritureJournal("#ERR# Erreur " + std::to_string(n) + " : Erreur non déterminée !");
        Abandonne();
        return SuiteEtape::Abandon;
      }
      if (n == moteur::err::ValeurTropLongue) {
        if (verifiee) {
          // The records were corrected and the step still fails: verifying again would only
          // go round in circles.
          journal_.EcritureJournal("#ERR# Erreur " + std::to_string(n) +
                                   " : la réparation des enregistrements n'a pas suffi !");
          e.echec = true;
          return SuiteEtape::Fin;
        }
        journal_.EcritureJournal("#ERR# Erreur " + std::to_string(n) + " : tentative de réparation ...");
        bool corrigee = false;
        // A stop asked from outside is no failure of the check and goes through. Another line
        // in the journal would take the place of the 3163 just written as the reason the run
        // of a client folder gives.
        moteur::IgnoreEchec<std::exception>("a record check that fails leaves the step on the 3163 already journaled",
                                            [&] { corrigee = VerificationEnregistrements(e, e.cheminTravail); });
        if (!corrigee) {
          e.echec = true;
          return SuiteEtape::Fin;
        }
        journal_.EcritureJournal("Tentative de réparation réussie !");
        fenetre_.Pointeur(PointeurSouris::Sablier);
        SignaleAvancement(EnCours);
        verifiee = true;
        continue;
      }
      if (EstErreurEspaceDisque(n)) {
        // A full disk (the copy of the model, the copy-back of a compaction, a table written
        // back) damages nothing: the user must hear that space is missing, as the file stages say.
        journal_.EcritureJournal(LigneDisquePlein);
        e.disquePlein = true;
        e.echec = true;
        return SuiteEtape::Fin;
      }
      if (moteur::EstErreurVerrou(n)) {
        // Another program holds the database longer than any wait: it is in use, not damaged.
        journal_.EcritureJournal(LigneEnUtilisation);
        GestionErreur(ContexteEnUtilisation, n, erreur.description);
        e.echec = true;
        return SuiteEtape::Fin;
      }
      if (EstAccesRefuse(n)) {
        // Rights refused are no damage: the user is told which file, and where to look.
        journal_.EcritureJournal("#ERR# Accès refusé : " + erreur.description);
        GestionErreur(ContexteAccesRefuse(n, erreur.description), n, erreur.description);
        e.echec = true;
        return SuiteEtape::Fin;
      }
      journal_.EcritureJournal("#ERR# Base de données endommagée !");
      GestionErreur(ContexteEndommagee, n, erreur.description);
      e.echec = true;
      return SuiteEtape::Fin;
    }
  }
}

// The run cannot go on: the user is told, the working copies are dropped so that the origin
// files stay as they were, the main database is reopened and the window unloaded.
void Pilote::Abandonne() {
  EtatReorganisation& e = etat_;
  // Nothing stops the discarding of the copies half-way.
  if (surveillance_) surveillance_->Suspend();
  AfficheMessage(MessageContexte, std::string(TitreReorganisation));
  FermeBase(e.baseCourante);
  if (!e.fichierTemporaire.empty()) LibereTemporaire(e.fichierTemporaire);
  if (e.sauvegardeFaite) AbandonneCopies();
  const std::string& principal = ensemble_.chemins[SlotPrincipal];
  if (!principal.empty()) {
    try {
      e.baseCourante = OuvreBase(principal);
    } catch (...) {
      e.baseCourante = moteur::Database();
    }
  }
  fenetre_.Pointeur(PointeurSouris::Normal);
  e.reorgEnCours = false;
  issue_ = IssueRun::Abandonnee;
  fenetre_.FermeFenetre();
}

// The working copies of a failed run are dropped and the set's paths given back their origins, which
// the run never touched. RestaurationBases names each copy it could not remove; whatever stops it
// on the way is journaled here, with the copies it left, and the paths are given back all the same:
// the program must never go on with a copy it may have deleted.
void Pilote::AbandonneCopies() {
  EtatReorganisation& e = etat_;
  try {
    RestaurationBases(e, ensemble_, true);
  } catch (...) {
    const ErreurEnCours erreur = LitErreur(std::current_exception());
    journal_.EcritureJournal("  Erreur " + std::to_string(erreur.numero) + " - Restauration des bases de données",
                             true);
    for (int slot = 0; slot <= DernierSlot; ++slot) {
      std::string& chemin = ensemble_.chemins[slot];
      if (chemin.empty() || chemin == e.cheminsOrigine[slot]) continue;
      journal_.EcritureJournal(LigneCopieRestee(chemin, e.cheminsOrigine[slot]), true);
      chemin = e.cheminsOrigine[slot];
    }
    e.sauvegardeFaite = false;
  }
}

void Pilote::FinRun() {
  EtatReorganisation& e = etat_;
  fenetre_.Pointeur(PointeurSouris::Normal);
  SignaleAvancement("");
  // Compaction deletes its temporary file after each attempt; one that never ran must not
  // leave it behind either.
  if (!e.fichierTemporaire.empty()) LibereTemporaire(e.fichierTemporaire);

  if (e.echec) {
    journal_.EcritureJournal("La réorganisation ne s'est pas terminée correctement !");
    // A stop from outside is the reason itself: the error met before it is not.
    if (arretPar_) journal_.EcritureJournal(TexteRaisonArret(arretPar_->raison, arretPar_->signal));
    else if (e.derniereErreur != 0) journal_.EcritureJournal("Erreur " + std::to_string(e.derniereErreur));
    if (e.sauvegardeFaite) {
      // The copies are about to be deleted: no handle may stay on one.
      FermeBase(e.baseCourante);
      AbandonneCopies();
      e.cheminTravail = ensemble_.chemins[SlotPrincipal];
    }
    if (e.disquePlein) {
      journal_.AffichageAvancement(InterrompueDisque);
      journal_.EcritureJournal(std::string("#ERR# ") + InterrompueDisque);
    } else if (arretPar_) {
      // Stopped from outside: the reason stays in view under the caption.
      const std::string raison = TexteRaisonArret(arretPar_->raison, arretPar_->signal);
      journal_.AffichageAvancement(Interrompue, raison);
      journal_.EcritureJournal(std::string("#ERR# ") + Interrompue + " " + raison);
    } else {
      journal_.AffichageAvancement(Interrompue);
    }
    fenetre_.AvancementEnErreur();
    issue_ = IssueRun::Interrompue;
  } else {
    journal_.AffichageAvancement("Procédure terminée.");
    fenetre_.ProgressValeur(0);
    fenetre_.ProgressVisible(false);
    fenetre_.Bip();
    SignaleAvancement("");
    e.traite = true;
    issue_ = IssueRun::Terminee;
  }
  e.reorgEnCours = false;
}

}  // namespace utireorg

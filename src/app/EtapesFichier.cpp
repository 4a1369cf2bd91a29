#include "app/EtapesFichier.h"

#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "bases/BaseDonnees.h"
#include "common/Arret.h"
#include "common/Fichiers.h"
#include "common/InterfaceFenetre.h"
#include "copies/Copies.h"
#include "journal/Journal.h"
#include "messages/GestionErreur.h"
#include "moteur/Moteur.h"
#include "moteur/Tenue.h"
#include "records/LectureEnregistrements.h"

namespace utireorg {
namespace {

// The engine's general sort order, in which compacted files are written.
constexpr const char* LocaleCompactage = ";LANGID=0x0409;CP=1252;COUNTRY=0";

OperationsFichier& Operations() {
  static OperationsFichier operations;
  return operations;
}

// A working copy's damaged file went with the copy's folder: the user's own file, still as it was
// when copied, is kept beside itself instead, and the journal line names that one.
void GardeOrigineEndommagee(const EtatReorganisation& etat, const std::string& gardee,
                            std::vector<std::string>& constats) {
  SupprimeFichier(gardee);
  std::vector<std::string> echec;
  const std::string origine = moteur::GardeFichierEndommage(etat.cheminOrigine, echec);
  for (auto& ligne : constats) {
    const auto position = ligne.find(gardee);
    if (position == std::string::npos) continue;
    if (origine.empty())
      ligne = echec.empty() ? std::string() : echec.front();
    else
      ligne.replace(position, gardee.size(), origine);
  }
}

// The user knows his file, not the working copy the run repaired in its place.
void NommeLOrigine(const EtatReorganisation& etat, std::vector<std::string>& constats) {
  const std::string travail = "'" + etat.cheminTravail + "'";
  for (auto& ligne : constats)
    for (auto position = ligne.find(travail); position != std::string::npos;
         position = ligne.find(travail, position + etat.cheminOrigine.size() + 2))
      ligne.replace(position, travail.size(), "'" + etat.cheminOrigine + "'");
}

// What the repair had to give up or change goes to the journal as it says it. When records or
// values were lost, the damaged file is kept for another tool to try further.
void Repare(const EtatReorganisation& etat, Journal& journal) {
  const std::string& chemin = etat.cheminTravail;
  if (Operations().repare) {
    Operations().repare(chemin);
    return;
  }
  std::vector<std::string> constats;
  std::string gardee;
  moteur::TravailDelegue(
      [&] { gardee = moteur::DBEngine::RepairDatabase(chemin, constats, moteur::DBEngine::GardeEndommagee::Oui); });
  if (etat.cheminTravail != etat.cheminOrigine && !etat.cheminOrigine.empty()) {
    if (!gardee.empty()) GardeOrigineEndommagee(etat, gardee, constats);
    NommeLOrigine(etat, constats);
  }
  for (const auto& ligne : constats)
    if (!ligne.empty()) journal.EcritureJournal(ligne);
}

void Compacte(const std::string& source, const std::string& destination, int options) {
  if (Operations().compacte) Operations().compacte(source, destination, LocaleCompactage, options);
  else
    moteur::TravailDelegue([&] { moteur::DBEngine::CompactDatabase(source, destination, LocaleCompactage, options); });
}

std::string FormatJet(const std::string& chemin) { return "Jet " + VersionJet(chemin); }

enum class Suite { Reprendre, Terminer };

// The stage handler shared by repair and compaction. verificationFaite is true once the records
// have been verified for this step: if the same step fails with 3163 again, verifying once more
// would find nothing new and the run would go round for ever.
Suite GestionEtape(EtatReorganisation& etat, const ErreurEnCours& erreur, bool& verificationFaite) {
  Journal& journal = etat.journal;
  const int n = erreur.numero;
  etat.echec = true;
  etat.derniereErreur = n;
  if (n == moteur::err::ValeurTropLongue) {
    if (verificationFaite) {
      journal.EcritureJournal("#ERR# Erreur 3163 ! La vérification des enregistrements n'a pas suffi.");
      return Suite::Terminer;
    }
    journal.EcritureJournal("#ERR# Erreur 3163 ! Tentative de réparation ...");
    if (!VerificationEnregistrements(etat, etat.cheminTravail)) return Suite::Terminer;
    verificationFaite = true;
    journal.EcritureJournal("Tentative de réparation réussie !");
    etat.echec = false;
    etat.fenetre.Pointeur(PointeurSouris::Sablier);
    return Suite::Reprendre;
  }
  if (EstErreurEspaceDisque(n)) {
    journal.EcritureJournal("#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur votre disque dur !");
    etat.disquePlein = true;
    return Suite::Terminer;
  }
  if (n == moteur::err::BaseEnUtilisation) {
    journal.EcritureJournal("#ERR# La base de données est en cours d'utilisation par une autre application !");
    GestionErreur(" (La base de données est en cours d'utilisation par une autre application)"
                  "@@Veuillez quitter les applications en cours puis tenter"
                  "@une nouvelle réorganisation.",
                  n, erreur.description);
    return Suite::Terminer;
  }
  if (EstAccesRefuse(n)) {
    // Rights refused are no damage: the file is named.
    journal.EcritureJournal("#ERR# Accès refusé (" + std::to_string(n) + ") : " + erreur.description);
    GestionErreur(ContexteAccesRefuse(n, erreur.description), n, erreur.description);
    return Suite::Terminer;
  }
  journal.EcritureJournal("#ERR# Base de données endommagée (" + std::to_string(n) + ")");
  GestionErreur(" (Base de données endommagée)"
                "@@Veuillez sortir du logiciel puis tenter"
                "@une nouvelle réorganisation.",
                n, erreur.description);
  return Suite::Terminer;
}

// Another program's lock outlasted the wait.
ErreurEnCours EnUtilisation(const std::string& chemin) {
  return {moteur::err::BaseEnUtilisation, moteur::DescriptionErreur(moteur::err::BaseEnUtilisation, {chemin})};
}

// Runs one engine operation under the stage handler, again after a successful record
// verification. 0 when it is done; the number when `absorbe` takes the error; -1 when the run
// must go to its end. A lock of another program is waited for as the guarded writes wait for
// one; once the wait is over, the database is in use by another application.
template <class Operation, class Absorbe>
int SousGestionEtape(EtatReorganisation& etat, Operation&& operation, Absorbe&& absorbe) {
  bool verificationFaite = false;
  std::optional<std::chrono::steady_clock::time_point> debutAttente;
  for (;;) {
    ErreurEnCours erreur;
    try {
      operation();
      return 0;
    } catch (...) {
      if (EstArretRun(std::current_exception())) throw;
      erreur = LitErreur(std::current_exception());
    }
    if (absorbe(erreur.numero)) return erreur.numero;
    if (moteur::EstErreurVerrou(erreur.numero)) {
      if (!debutAttente) debutAttente = MaintenantAttente();
      etat.fenetre.LaisseVivre();
      if (AttenteTransaction(*debutAttente)) continue;
      erreur = EnUtilisation(etat.cheminTravail);
    }
    if (GestionEtape(etat, erreur, verificationFaite) == Suite::Terminer) return -1;
  }
}

// The file is replaced only when no other program reads it: one that did would go on with the old
// file and its next write would be refused.
void VerifieSeul(const moteur::TenueEcritures& tenue) {
  if (tenue.AutreProcessus()) throw moteur::ErreurMoteur(moteur::err::BaseEnUtilisation, {tenue.Chemin()});
}

// The original could not be kept: nothing was replaced, and the run goes to its end as after
// any failure of the stage.
void EchecConservation(EtatReorganisation& etat, const ConservationJet& conservation) {
  ErreurEnCours erreur = LitErreur(std::current_exception());
  etat.echec = true;
  etat.derniereErreur = erreur.numero;
  etat.journal.EcritureJournal(LigneEchecConservationJet(conservation, etat.cheminOrigine), true);
  if (EstErreurEspaceDisque(erreur.numero)) {
    etat.journal.EcritureJournal("#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur votre disque dur !");
    etat.disquePlein = true;
    return;
  }
  GestionErreur(" (La base d'origine n'a pas pu être conservée)"
                "@@Vérifiez les droits sur le dossier de la base puis tentez"
                "@une nouvelle réorganisation.",
                erreur.numero, erreur.description);
}

// A Jet file is only ever read, and every stage from compaction on writes: the working file is
// converted to a file of the engine, which takes its place. Over-long texts and missing
// required values are kept as they are, for the compaction that follows to find them (3163) and
// the record verification to correct them. When the working file is the user's own (no working
// copy), the Jet file is kept beside it first. False when the run must go to its end.
bool ConversionJet(EtatReorganisation& etat) {
  InterfaceFenetre& fenetre = etat.fenetre;
  Journal& journal = etat.journal;
  const std::string format = FormatJet(etat.cheminTravail);
  const bool versionDemandee = etat.versionCible == "3.0" || etat.versionCible == "4.0";
  const std::string version = versionDemandee ? etat.versionCible : VersionJet(etat.cheminTravail);
  const std::string etape = "Conversion " + etat.libelle;
  journal.AffichageAvancement(etape, etat.cheminOrigine);
  journal.SectionJournal(etape);
  if (!fenetre.Coche(coche::ReparationCompactage))
    journal.EcritureJournal("La base est au format " + format +
                            ", que le moteur lit sans pouvoir y écrire : elle est convertie bien que "
                            "« Réparation / Compactage » ne soit pas coché.");
  journal.EcritureJournal("  Début " + etape, true);
  if (etat.fichierTemporaire.empty()) etat.fichierTemporaire = NomFichierTemporaire(etat.nomLogiciel);
  const std::string& temporaire = etat.fichierTemporaire;
  std::vector<std::string> constats;
  int issue = SousGestionEtape(
      etat,
      [&] {
        SupprimeFichier(temporaire);  // the conversion writes a new file
        constats.clear();
        ConvertitBaseJet(etat.cheminTravail, temporaire, version, constats);
      },
      [](int) { return false; });
  if (issue < 0) {
    SupprimeFichier(temporaire);
    return false;
  }
  if (etat.cheminTravail == etat.cheminOrigine) {
    ConservationJet conservation;
    try {
      RemplaceOrigine(temporaire, etat.cheminTravail, conservation);
    } catch (...) {
      // A failed replacement is the driver's, as the copy-back of compaction is.
      if (!conservation.echec) throw;
      SupprimeFichier(temporaire);
      EchecConservation(etat, conservation);
      return false;
    }
    if (!conservation.conservee.empty()) journal.EcritureJournal(LigneConservationJet(conservation));
  } else {
    RemplaceFichier(temporaire, etat.cheminTravail);
  }
  SupprimeFichier(temporaire);
  // What the file's damage left out is told as a repair tells it; the original is kept beside.
  for (const auto& ligne : constats) journal.EcritureJournal(ligne);
  journal.EcritureJournal("Base convertie du format " + format + " au format du moteur, version " + version + ".");
  journal.EcritureJournal("  Fin " + etape, true);
  return true;
}

}  // namespace

void DefinitOperationsFichier(OperationsFichier operations) { Operations() = std::move(operations); }

void ConvertitBaseJet(const std::string& source, const std::string& destination, const std::string& version) {
  std::vector<std::string> constats;
  ConvertitBaseJet(source, destination, version, constats);
}

void ConvertitBaseJet(const std::string& source, const std::string& destination, const std::string& version,
                      std::vector<std::string>& constats) {
  if (Operations().convertit) Operations().convertit(source, destination, version);
  else moteur::ConvertitJet(source, destination, version, constats);
}

std::string VersionJet(const std::string& chemin) {
  switch (moteur::FormatDuFichier(chemin)) {
    case moteur::FormatFichier::Jet3: return "3.0";
    case moteur::FormatFichier::Jet4: return "4.0";
    default: return {};
  }
}

void EtapeReparation(EtatReorganisation& etat) {
  if (!EstFichier(etat.cheminTravail)) return;
  InterfaceFenetre& fenetre = etat.fenetre;
  Journal& journal = etat.journal;
  if (fenetre.Coche(coche::ReparationCompactage)) {
    const std::string etape = "Réparation " + etat.libelle;
    journal.AffichageAvancement(etape, etat.cheminOrigine);
    journal.SectionJournal(etape);
    journal.EcritureJournal("  Début " + etape, true);
    fenetre.ProgressMaximum(100);
    fenetre.ProgressValeur(40);
    int issue = SousGestionEtape(
        etat, [&] { Repare(etat, journal); }, [](int n) { return n == moteur::err::OperationNonGeree; });
    if (issue < 0) return;
    journal.EcritureJournal("  Fin " + etape, true);
  }
  if (fenetre.Coche(coche::ControleEtendu)) fenetre.ProgressValeur(fenetre.ProgressMaximum());
  EtapeCompactage(etat);
}

void EtapeCompactage(EtatReorganisation& etat) {
  if (!EstFichier(etat.cheminTravail)) return;
  if (moteur::EstFichierJet(etat.cheminTravail) && !ConversionJet(etat)) return;
  InterfaceFenetre& fenetre = etat.fenetre;
  Journal& journal = etat.journal;
  if (fenetre.Coche(coche::ReparationCompactage)) {
    const std::string etape = "Compactage " + etat.libelle;
    journal.AffichageAvancement(etape, etat.cheminOrigine);
    journal.SectionJournal(etape);
    if (fenetre.Coche(coche::ControleEtendu)) {
      fenetre.ProgressMaximum(100);
      fenetre.ProgressValeur(40);
    } else {
      fenetre.ProgressValeur(70);
    }
    // The driver names the file at the start of the run; a caller that did not still gets one.
    if (etat.fichierTemporaire.empty()) etat.fichierTemporaire = NomFichierTemporaire(etat.nomLogiciel);
    const std::string& temporaire = etat.fichierTemporaire;
    SupprimeFichier(temporaire);
    journal.EcritureJournal("  Début " + etape, true);
    const int options =
        (etat.versionCible == "4.0" ? moteur::dbVersion40 : moteur::dbVersion30) + moteur::dbDecrypt;
    // From the read to the replacement no other program may commit: what it committed would be
    // lost with the old file. The hold keeps its writers waiting until the put-back takes SQLite's
    // write lock; a commit that slips into that instant is kept by compacting again, for as long as
    // the guarded writes wait for another workstation.
    std::optional<moteur::TenueEcritures> tenue;
    std::optional<std::chrono::steady_clock::time_point> debutAttente;
    for (;;) {
      int issue = SousGestionEtape(
          etat,
          [&] {
            tenue.reset();
            SupprimeFichier(temporaire);  // a new attempt writes a new file
            tenue.emplace(etat.cheminTravail);
            try {
              VerifieSeul(*tenue);
              Compacte(etat.cheminTravail, temporaire, options);
              VerifieSeul(*tenue);
            } catch (...) {
              // The stage handler may have to write into the file (the record verification).
              tenue.reset();
              throw;
            }
          },
          [](int n) { return n == moteur::err::VersionIndeterminee; });
      if (issue < 0) return;
      if (issue == moteur::err::VersionIndeterminee) {
        journal.EcritureJournal("#ALERT# Version de base indéterminée. La base " + etat.libelle +
                                " ne peut pas être compactée.");
        break;
      }
      // Put back into the file itself, under its journal: an interruption leaves the old database
      // or the new one, and a program that has the file open goes on with it. A failure here is
      // the driver's to handle.
      if (RemetBaseEnPlace(*tenue, temporaire)) break;
      tenue.reset();
      if (!debutAttente) debutAttente = MaintenantAttente();
      fenetre.LaisseVivre();
      if (!AttenteTransaction(*debutAttente)) {
        SupprimeFichier(temporaire);
        bool verificationFaite = false;
        GestionEtape(etat, EnUtilisation(etat.cheminTravail), verificationFaite);
        return;
      }
    }
    tenue.reset();
    SupprimeFichier(temporaire);
    journal.EcritureJournal("  Fin " + etape, true);
  }
  fenetre.ProgressValeur(fenetre.ProgressMaximum());
}

}  // namespace utireorg

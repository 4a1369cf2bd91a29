#include "copies/Copies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <system_error>
#include <vector>

#include "common/Arret.h"
#include "common/Chemins.h"
#include "common/Fichiers.h"
#include "common/InterfaceFenetre.h"
#include "journal/Journal.h"
#include "messages/AfficheMessage.h"
#include "messages/GestionErreur.h"
#include "moteur/Erreurs.h"
#include "moteur/Moteur.h"
#include "texte/Texte.h"

namespace utireorg {
namespace {

[[noreturn]] void LeveErrno(const std::string& chemin) {
  throw std::system_error(errno, std::generic_category(), chemin);
}

// The folder of a path, "." for a bare file name.
std::string DossierDuChemin(const std::string& chemin) {
  auto pos = chemin.find_last_of('/');
  if (pos == std::string::npos) return ".";
  return pos == 0 ? "/" : chemin.substr(0, pos);
}

// Gives the complete copy its final name unless that name is taken; false when it is. A hard
// link cannot overwrite; where the file system has none, a rename that refuses to overwrite;
// where it has neither, a rename once the name is seen free.
bool NommeSansEcraser(const std::string& copie, const std::string& nom) {
  if (::link(copie.c_str(), nom.c_str()) == 0) {
    ::unlink(copie.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EMLINK) LeveErrno(nom);
  if (::renameat2(AT_FDCWD, copie.c_str(), AT_FDCWD, nom.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) LeveErrno(nom);
  struct stat etat {};
  if (::lstat(nom.c_str(), &etat) == 0) return false;
  if (::rename(copie.c_str(), nom.c_str()) != 0) LeveErrno(nom);
  return true;
}

std::string FormatJet(const std::string& chemin) {
  switch (moteur::FormatDuFichier(chemin)) {
    case moteur::FormatFichier::Jet3: return "Jet 3.0";
    case moteur::FormatFichier::Jet4: return "Jet 4.0";
    default: return {};
  }
}

// "Compta" for "/dossier/Compta.mdb".
std::string NomSansExtension(const std::string& chemin) {
  std::string nom = chemin.substr(chemin.find_last_of('/') + 1);
  auto point = nom.find_last_of('.');
  return point == std::string::npos || point == 0 ? nom : nom.substr(0, point);
}

// A run never needs that many kept originals of one database; past it something is wrong.
constexpr int RangConservationMax = 999;

}  // namespace

std::string NomConservationJet(const std::string& origine, int rang) {
  auto barre = origine.find_last_of('/');
  auto point = origine.find_last_of('.');
  bool avecExtension = point != std::string::npos && (barre == std::string::npos || point > barre + 1);
  std::string racine = avecExtension ? origine.substr(0, point) : origine;
  std::string extension = avecExtension ? origine.substr(point) : ".mdb";
  return racine + ".jet" + (rang > 1 ? "." + std::to_string(rang) : std::string()) + extension;
}

std::string ConserveFichierJet(const std::string& origine) {
  struct stat etat {};
  if (::stat(origine.c_str(), &etat) != 0) LeveErrno(origine);
  // Written under a name no reader takes for a kept original, then named in one step.
  SupprimeRestesInterrompus(NomConservationJet(origine));
  std::string copie = CreeTemporaireVoisin(NomConservationJet(origine));
  VerrouTemporaire verrou(copie);
  try {
    CopieFichier(origine, copie);
    ::chmod(copie.c_str(), etat.st_mode & 07777);
    const struct timespec dates[2] = {etat.st_atim, etat.st_mtim};
    ::utimensat(AT_FDCWD, copie.c_str(), dates, 0);  // the original's date says when it was last used
    for (int rang = 1; rang <= RangConservationMax; ++rang) {
      std::string nom = NomConservationJet(origine, rang);
      if (NommeSansEcraser(copie, nom)) {
        int dossier = ::open(DossierDuChemin(nom).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dossier >= 0) {
          ::fsync(dossier);
          ::close(dossier);
        }
        return nom;
      }
    }
    errno = EEXIST;
    LeveErrno(NomConservationJet(origine, RangConservationMax));
  } catch (...) {
    ::unlink(copie.c_str());
    throw;
  }
}

void RemplaceOrigine(const std::string& traitee, const std::string& origine, ConservationJet& compte) {
  compte = ConservationJet();
  if (moteur::EstFichierJet(origine) && !moteur::EstFichierJet(traitee)) {
    compte.format = FormatJet(origine);
    try {
      compte.conservee = ConserveFichierJet(origine);
    } catch (...) {
      compte.echec = true;
      throw;
    }
  }
  try {
    RemplaceFichier(traitee, origine);
  } catch (...) {
    // The origin is still in place: a second copy of it would only mislead the user.
    if (!compte.conservee.empty()) SupprimeFichier(compte.conservee);
    compte.conservee.clear();
    throw;
  }
}

std::string LigneConservationJet(const ConservationJet& compte) {
  return "Base d'origine au format " + compte.format + " conservée sous « " + compte.conservee + " ».";
}

std::string LigneEchecConservationJet(const ConservationJet& compte, const std::string& origine) {
  return "#ERR# La base d'origine au format " + compte.format + " « " + origine +
         " » n'a pas pu être conservée : elle n'a pas été remplacée.";
}

std::string LigneCopieRestee(const std::string& copie, const std::string& origine) {
  return "#ERR# La copie de travail « " + copie + " » de la base « " + origine +
         " » n'a pas pu être supprimée : supprimez-la, elle ne sert plus.";
}

std::string NomFichierTemporaire(std::string_view prefixe) {
  return CreeTemporaireTenu(DossierTemporaire(), texte::PremiersCaracteres(prefixe, 3));
}

std::vector<std::string> SupprimeCopiesAbandonnees(EtatReorganisation& etat, const std::vector<std::string>& epargnes) {
  std::vector<std::string> supprimes = SupprimeTemporairesAbandonnes(DossierTemporaire(), epargnes);
  for (const auto& fichier : supprimes)
    etat.journal.EcritureJournal("Fichier temporaire laissé par une réorganisation interrompue supprimé : " + fichier, true);
  return supprimes;
}

int SauvegardeBases(EtatReorganisation& etat, EnsembleBases& ensemble) {
  Journal& journal = etat.journal;
  InterfaceFenetre& fenetre = etat.fenetre;
  auto& chemins = ensemble.chemins;
  int slot = 0;
  // Copies made by this call: nothing refers to them once the origin paths are back, so a failed
  // call must not leave them filling the temporary folder (least of all when the disk is full).
  std::vector<std::string> copiesFaites;
  try {
    journal.SectionJournal("Sauvegarde des bases de données");
    fenetre.ProgressValeur(0);
    fenetre.ProgressMaximum(DernierSlot);
    for (int i = 0; i <= DernierSlot; ++i) etat.cheminsOrigine[i] = chemins[i];

    for (slot = 0; slot <= DernierSlot; ++slot) {
      if (chemins[slot].empty()) continue;
      journal.AffichageAvancement("Sauvegarde " + ensemble.libelles[slot], chemins[slot]);
      journal.EcritureJournal("  Début Sauvegarde " + chemins[slot], true);
      std::string copie = NomFichierTemporaire("DB");
      copiesFaites.push_back(copie);
      // A Jet file is copied as it is, and followed like the engine's own files: another program
      // that writes it during the run keeps it from being replaced at the restoration.
      CopieBaseCoherente(chemins[slot], copie);
      journal.EcritureJournal("  Fin Sauvegarde " + chemins[slot], true);
      chemins[slot] = copie;
      fenetre.ProgressValeur(slot);
    }
    fenetre.ProgressValeur(fenetre.ProgressMaximum());
    etat.sauvegardeFaite = true;
    return CopieReussie;
  } catch (const ArretRun&) {
    // Stopped between two copies: none of them is of use any more.
    for (const auto& copie : copiesFaites) LibereTemporaire(copie);
    etat.sauvegardeFaite = false;
    for (int i = 0; i <= DernierSlot; ++i) chemins[i] = etat.cheminsOrigine[i];
    throw;
  } catch (...) {
    ErreurEnCours erreur = LitErreur(std::current_exception());
    if (slot > DernierSlot) slot = DernierSlot;
    etat.derniereErreur = erreur.numero;
    journal.EcritureJournal(
        "  Erreur " + std::to_string(erreur.numero) + " - Sauvegarde " + etat.cheminsOrigine[slot], true);
    int resultat;
    if (EstErreurEspaceDisque(erreur.numero)) {
      journal.EcritureJournal("#ERR# Espace disque insuffisant pour sauvegarder les données.", true);
      AfficheMessage("!#L'espace disque est insuffisant pour éxécuter@ la réorganisation des données!"
                     "@@Traitement annulé.",
                     fenetre.Legende());
      resultat = CopieDisquePlein;
    } else if (erreur.numero == moteur::err::FichierUtilise) {
      journal.EcritureJournal("#ERR# Le fichier est déjà ouvert par une autre application.", true);
      AfficheMessage("!#Le fichier est déjà ouvert par une autre application."
                     "@@Fermez tous les logiciels ouverts sur votre poste, puis relancez une réorganisation."
                     "@@Traitement annulé.",
                     fenetre.Legende());
      resultat = CopieFichierUtilise;
    } else {
      GestionErreur(fenetre.Legende(), erreur.numero, erreur.description);
      resultat = CopieErreur;
    }
    for (const auto& copie : copiesFaites) LibereTemporaire(copie);
    etat.sauvegardeFaite = false;
    for (int i = 0; i <= DernierSlot; ++i) chemins[i] = etat.cheminsOrigine[i];
    return resultat;
  }
}

int RestaurationBases(EtatReorganisation& etat, EnsembleBases& ensemble, bool abandon) {
  Journal& journal = etat.journal;
  InterfaceFenetre& fenetre = etat.fenetre;
  auto& chemins = ensemble.chemins;
  const auto& origines = etat.cheminsOrigine;
  int slot = 0;
  ConservationJet conservation;
  bool copieRestee = false;
  // A copy left behind is named; the run's result stays what the origin files say.
  auto libere = [&](const std::string& copie, const std::string& origine) {
    if (LibereTemporaire(copie)) return;
    journal.EcritureJournal(LigneCopieRestee(copie, origine), true);
    copieRestee = true;
  };
  try {
    journal.SectionJournal("Restauration des bases de données");
    journal.AffichageAvancement("Restauration des bases de données", "");
    fenetre.ProgressValeur(0);
    fenetre.ProgressMaximum(DernierSlot);

    for (slot = 0; slot <= DernierSlot; ++slot) {
      if (chemins[slot].empty()) continue;
      journal.AffichageAvancement("Restauration " + ensemble.libelles[slot], origines[slot]);
      journal.EcritureJournal("  Début Restauration " + origines[slot], true);
      // A slot that already points at its origin has no copy: deleting "the copy" would delete the
      // user's database.
      bool copieDistincte = chemins[slot] != origines[slot] && !MemeFichier(chemins[slot], origines[slot]);
      if (copieDistincte) {
        // A file its owner made read-only is not replaced, whoever runs the program.
        if (!abandon && EstEnLectureSeule(origines[slot]))
          throw moteur::ErreurMoteur(moteur::err::LectureSeule, "La base « " + origines[slot] + " » est en lecture seule.");
        // The origin is replaced in one step and only then is the copy let go: at no moment is
        // the processed database the only remaining version, nor the origin half written.
        if (!abandon) RemplaceOrigine(chemins[slot], origines[slot], conservation);
        libere(chemins[slot], origines[slot]);
        if (!conservation.conservee.empty()) journal.EcritureJournal(LigneConservationJet(conservation));
        conservation = ConservationJet();
      }
      journal.EcritureJournal("  Fin Restauration " + origines[slot], true);
      chemins[slot] = origines[slot];
      fenetre.ProgressValeur(slot);
    }
    fenetre.ProgressValeur(fenetre.ProgressMaximum());
    etat.sauvegardeFaite = false;
    return abandon && copieRestee ? CopieErreur : CopieReussie;
  } catch (const ArretRun&) {
    // Stopped before the origin was replaced: the copies stay for the discarding that follows.
    throw;
  } catch (...) {
    ErreurEnCours erreur = LitErreur(std::current_exception());
    etat.sauvegardeFaite = false;
    if (slot > DernierSlot) slot = DernierSlot;
    if (abandon) {
      // The origins were never touched: the discarding goes on, and says what stopped it.
      journal.EcritureJournal("  Erreur " + std::to_string(erreur.numero) + " - Restauration " + origines[slot], true);
      for (int reste = slot; reste <= DernierSlot; ++reste) {
        if (chemins[reste].empty()) continue;
        if (chemins[reste] != origines[reste] && !MemeFichier(chemins[reste], origines[reste]))
          libere(chemins[reste], origines[reste]);
        chemins[reste] = origines[reste];
      }
      return CopieErreur;
    }
    etat.derniereErreur = erreur.numero;
    journal.EcritureJournal(
        "  Erreur " + std::to_string(erreur.numero) + " - Restauration " + origines[slot], true);
    bool disque = EstErreurEspaceDisque(erreur.numero);
    if (disque) journal.EcritureJournal("#ERR# Espace disque insuffisant pour restaurer les données.", true);
    if (conservation.echec) journal.EcritureJournal(LigneEchecConservationJet(conservation, origines[slot]), true);
    const bool lectureSeule = erreur.numero == moteur::err::LectureSeule && EstEnLectureSeule(origines[slot]);
    if (chemins[slot] != origines[slot]) {
      // Left for the user: out of the run's temporary files, which a later run would remove.
      chemins[slot] = SortDesTemporaires(chemins[slot], NomSansExtension(origines[slot]) + "-traitee");
      journal.EcritureJournal("#ERR# La base d'origine " + origines[slot] +
                                  (lectureSeule ? " est en lecture seule : elle" : "") +
                                  " n'a pas été modifiée ; la base traitée est conservée dans " + chemins[slot],
                              true);
      journal.EcritureJournal("La base traitée « " + chemins[slot] +
                                  " » n'est plus utilisée par la réorganisation : supprimez-la quand elle ne vous "
                                  "sert plus.",
                              true);
    }
    if (lectureSeule) {
      AfficheMessage("!#La base « " + origines[slot] + " » est en lecture seule :@elle n'a pas été modifiée." +
                         "@@La base traitée est conservée dans@« " + chemins[slot] + " »." +
                         "@@Ôtez la lecture seule du fichier, puis relancez une réorganisation.",
                     fenetre.Legende());
      return CopieErreur;
    }
    if (disque) {
      AfficheMessage("!#Espace disque Insuffisant!@@Réorganisation annulée.", fenetre.Legende());
      return CopieDisquePlein;
    }
    GestionErreur(fenetre.Legende(), erreur.numero, erreur.description);
    return CopieErreur;
  }
}

}  // namespace utireorg

#include "copies/Copies.h"

#include <exception>
#include <vector>

#include "common/Fichiers.h"
#include "common/InterfaceFenetre.h"
#include "journal/Journal.h"
#include "messages/AfficheMessage.h"
#include "messages/GestionErreur.h"
#include "moteur/Erreurs.h"

namespace utireorg {
namespace {

// The first characters of a text, counted as the reader sees them rather than in UTF-8 bytes.
std::string DebutCaracteres(std::string_view texte, std::size_t caracteres) {
  std::size_t vus = 0;
  for (std::size_t i = 0; i < texte.size(); ++i) {
    bool suite = (static_cast<unsigned char>(texte[i]) & 0xC0) == 0x80;
    if (!suite && vus++ == caracteres) return std::string(texte.substr(0, i));
  }
  return std::string(texte);
}

}  // namespace

std::string NomFichierTemporaire(std::string_view prefixe) {
  return CreeFichierUnique(DossierTemporaire(), DebutCaracteres(prefixe, 3));
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
      CopieBaseCoherente(chemins[slot], copie);
      journal.EcritureJournal("  Fin Sauvegarde " + chemins[slot], true);
      chemins[slot] = copie;
      fenetre.ProgressValeur(slot);
    }
    fenetre.ProgressValeur(fenetre.ProgressMaximum());
    etat.sauvegardeFaite = true;
    return CopieReussie;
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
    for (const auto& copie : copiesFaites) {
      SupprimeFichier(copie);
      SupprimeFichier(copie + "-journal");
    }
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
      bool copieDistincte = chemins[slot] != origines[slot];
      if (copieDistincte) {
        // The origin is replaced in one step and only then is the copy let go: at no moment is
        // the processed database the only remaining version, nor the origin half written.
        if (!abandon) RemplaceFichier(chemins[slot], origines[slot]);
        SupprimeFichier(chemins[slot]);
        SupprimeFichier(chemins[slot] + "-journal");
      }
      journal.EcritureJournal("  Fin Restauration " + origines[slot], true);
      chemins[slot] = origines[slot];
      fenetre.ProgressValeur(slot);
    }
    fenetre.ProgressValeur(fenetre.ProgressMaximum());
    etat.sauvegardeFaite = false;
    return CopieReussie;
  } catch (...) {
    ErreurEnCours erreur = LitErreur(std::current_exception());
    etat.sauvegardeFaite = false;
    if (abandon) return CopieReussie;
    if (slot > DernierSlot) slot = DernierSlot;
    etat.derniereErreur = erreur.numero;
    journal.EcritureJournal(
        "  Erreur " + std::to_string(erreur.numero) + " - Restauration " + origines[slot], true);
    bool disque = EstErreurEspaceDisque(erreur.numero);
    if (disque) journal.EcritureJournal("#ERR# Espace disque insuffisant pour restaurer les données.", true);
    if (chemins[slot] != origines[slot])
      journal.EcritureJournal("#ERR# La base d'origine " + origines[slot] +
                                  " n'a pas été modifiée ; la base traitée est conservée dans " + chemins[slot],
                              true);
    if (disque) {
      AfficheMessage("!#Espace disque Insuffisant!@@Réorganisation annulée.", fenetre.Legende());
      return CopieDisquePlein;
    }
    GestionErreur(fenetre.Legende(), erreur.numero, erreur.description);
    return CopieErreur;
  }
}

}  // namespace utireorg

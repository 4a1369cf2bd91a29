#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "bases/BaseDonnees.h"
#include "common/Chemins.h"
#include "common/Fichiers.h"
#include "journal/Journal.h"
#include "messages/AfficheMessage.h"
#include "messages/GestionErreur.h"
#include "moteur/Noms.h"
#include "structure/ChampsNuls.h"
#include "structure/Interne.h"
#include "structure/Purge.h"
#include "structure/Reconstruction.h"
#include "structure/Structure.h"

namespace utireorg {

using moteur::Essaie;
using moteur::Valeur;
using namespace structure;

namespace {

ObservateurReouverture& Observateur() {
  static ObservateurReouverture observateur;
  return observateur;
}

// Context of the failures this stage reports itself: the opening and reopening of the databases.
std::string Contexte(EtatReorganisation& etat) { return etat.fenetre.Legende() + " (VS)"; }

bool FichierPresent(const std::string& chemin) {
  std::error_code e;
  return std::filesystem::is_regular_file(chemin, e);
}

// The verification of one table is written in one transaction. A crash in the middle of it leaves
// the table as it was, never half rebuilt (its records in the "Temp_" copy only, the table itself
// gone) nor with part of its new fields in place, and the next run verifies it again. What a
// failed step leaves is kept as before: only an escaping error undoes the table's work. The error
// handler commits the open transactions when it reports an error: what was done until then is
// written, and the rest of the table goes on without its transaction.
// A commit that could not be made, even after the multi-station wait, fails the run: what the
// journal told of the table was not written, and the walk stops there.
class UniteTable {
 public:
  UniteTable(EtatReorganisation& etat, std::string table)
      : etat_(etat), table_(std::move(table)), exceptions_(std::uncaught_exceptions()) {
    ouverte_ = static_cast<bool>(Essaie([] { moteur::DBEngine::BeginTrans(); }));
    niveau_ = moteur::DBEngine::NiveauTransaction();
  }
  ~UniteTable() {
    if (!ouverte_ || moteur::DBEngine::NiveauTransaction() < niveau_) return;
    const bool echec = std::uncaught_exceptions() > exceptions_;
    if (!echec && ValideTransaction()) return;
    const int numero = ErreurDerniereEcriture();
    Essaie([] { moteur::DBEngine::Rollback(); });
    if (!echec) SignaleNonEnregistree(numero);
  }
  UniteTable(const UniteTable&) = delete;
  UniteTable& operator=(const UniteTable&) = delete;

 private:
  void SignaleNonEnregistree(int numero) {
    etat_.journal.EcritureJournal("#ERR# Table : " + table_ + ", les modifications n'ont pas pu être enregistrées.");
    etat_.echec = true;
    etat_.derniereErreur = numero;
    if (EstErreurEspaceDisque(numero)) {
      // As for any stage, the end of the run tells the user that space is missing.
      etat_.journal.EcritureJournal("#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur votre disque dur !");
      etat_.disquePlein = true;
      return;
    }
    // A lock that outlasted the wait: another application holds the database.
    const bool enUtilisation = moteur::EstErreurVerrou(numero);
    if (enUtilisation) etat_.derniereErreur = moteur::err::BaseEnUtilisation;
    const std::string pourquoi = enUtilisation ? "la base de données est en cours d'utilisation par une autre application."
                                               : moteur::DescriptionErreur(numero);
    GestionErreur(Contexte(etat_), etat_.derniereErreur,
                  "Les modifications de la table " + table_ + " n'ont pas pu être enregistrées : " + pourquoi);
  }

  EtatReorganisation& etat_;
  std::string table_;
  int exceptions_;
  bool ouverte_ = false;
  int niveau_ = 0;
};

// What became of a model's index in the target: made as the model has it, made as a plain index
// for the duplicates of the data, or not made.
enum class IndexCree { Tel, Simple, Non };

// An index of the target as it was, to give it back.
struct IndexGarde {
  std::string champs;
  bool unique = false;
  bool primaire = false;
  bool ignoreNuls = false;
};

class Verificateur {
 public:
  Verificateur(EtatReorganisation& etat, moteur::Database& modele, moteur::Database& cible, std::string cheminModele,
               std::string cheminCible)
      : etat_(etat),
        fenetre_(etat.fenetre),
        journal_(etat.journal),
        modele_(modele),
        cible_(cible),
        cheminModele_(std::move(cheminModele)),
        cheminCible_(std::move(cheminCible)),
        avancee_(etat.versionAvancee) {}

  void Parcours(const std::string& exclusions) {
    int nombre = 0;
    Essaie([&] { nombre = modele_.TableDefs().Count(); });
    for (int position = 0; position < nombre; ++position) {
      if (!Ouverte(modele_) || !Ouverte(cible_) || etat_.echec) break;
      VerifieTable(position, exclusions);
      if (position > 0 && position % TablesParOuverture == 0 && !Reouvre(position)) break;
    }
  }

  void Fin() {
    if (avancee_ && Ouverte(cible_) && !etat_.echec) {
      VerificationChampsNuls(etat_, cible_);
      relationsARefaire_ = true;
    }
    if (relationsARefaire_ && !etat_.echec) {
      SignaleAvancement("Vérification des relations entre les tables ...");
      VerificationRelations(etat_, modele_, cible_);
    }
    SignaleAvancement("Contrôle des fichiers réorganisés en cours (le traitement peut durer plusieurs minutes) ...");
    journal_.AffichageAvancement("Fermeture des bases", "Fermeture de la base modèle en cours...");
    FermeBase(modele_);
    FermeBase(cible_);
    fenetre_.ProgressValeur(100);
    journal_.AffichageAvancement("Fermeture des bases", "Base fermée avec succès !");
    SignaleAvancement("Réorganisation en cours ...");
  }

 private:
  // What the walk knows of the model table in hand.
  struct Table {
    moteur::TableDef modele;
    std::string nom;
    moteur::TableDef cible;
    bool creee = false;
    bool enAttente = false;  // created, not yet appended to the target
    ListeRemplissage remplissage;
  };

  enum class Issue { Suite, Reconstruire };

  void VerifieTable(int position, const std::string& exclusions) {
    fenetre_.LaisseVivre();
    Table t;
    long long attributs = 0;
    if (!Essaie([&] {
          t.modele = modele_.TableDefs()[position];
          t.nom = t.modele.Name();
          attributs = t.modele.Attributes();
        }))
      return;
    if (EstSysteme(attributs)) return;
    if (!exclusions.empty() && exclusions.find("@" + t.nom + "@") != std::string::npos) return;

    UniteTable unite(etat_, t.nom);
    bool dejaReconstruite = false;
    for (;;) {
      t.creee = t.enAttente = false;
      t.cible = moteur::TableDef();
      auto r = Essaie([&] { t.cible = cible_.TableDefs()[t.nom]; });
      if (r.Number == moteur::err::ElementIntrouvable) {
        journal_.EcritureJournal("#ALERT# - Table non trouvée : création", true);
        if (!Essaie([&] { t.cible = cible_.CreateTableDef(t.nom); })) return;
        t.creee = t.enAttente = true;
        ++etat_.compteurs.tablesCreees;
      } else if (!r) {
        return;  // nothing of this table can be reached
      }
      t.remplissage.Vide();

      std::string champDifferent;
      if (VerifieChamps(t, champDifferent) == Issue::Reconstruire) {
        relationsARefaire_ = true;
        if (dejaReconstruite) {
          // The engine refuses some characteristic of the model: rebuilding again would
          // give the same table, and so on without end.
          SignaleReconstructionEchouee(etat_, t.nom, champDifferent);
        } else {
          dejaReconstruite = true;
          if (ReconstruitTable(etat_, cible_, t.nom, t.modele, t.cible)) {
            ++etat_.compteurs.tablesReconstruites;
            continue;
          }
        }
        // The target table may have gone with a failed rebuild: find it again.
        t.cible = moteur::TableDef();
        if (!Essaie([&] { t.cible = cible_.TableDefs()[t.nom]; })) return;
      }
      break;
    }

    if (!(t.creee && t.enAttente)) RemplitChampsNuls(t.remplissage, t.nom, cible_);
    VerifieIndex(t);
    VerifieDictionnaireTable(t);
    if (t.creee && t.enAttente) AjouteTable(cible_, t.cible);
  }

  // D: every field of the model table; stops early when the table must be rebuilt.
  Issue VerifieChamps(Table& t, std::string& champDifferent) {
    int nombre = 0;
    Essaie([&] { nombre = t.modele.Fields().Count(); });
    for (int k = 0; k < nombre; ++k) {
      moteur::Field modele;
      std::string nom;
      if (Essaie([&] {
            modele = t.modele.Fields()[k];
            nom = modele.Name();
          })) {
        moteur::Field cible;
        auto r = Essaie([&] { cible = t.cible.Fields()[nom]; });
        if (r.Number == moteur::err::ElementIntrouvable) {
          CreeChamp(t, modele, nom);
        } else if (r && avancee_ && CorrigeChamp(t, modele, cible) == Issue::Reconstruire) {
          champDifferent = nom;
          return Issue::Reconstruire;
        }
      }
      AvanceProgression(fenetre_);
    }
    return Issue::Suite;
  }

  // D1: a field the target table lacks.
  void CreeChamp(Table& t, const moteur::Field& modele, const std::string& nom) {
    journal_.EcritureJournal("#ALERT# - Champ '" + nom + "' non trouvé : création", true);
    moteur::Field nouveau;
    if (!Essaie([&] {
          nouveau = CreeChampSemblable(t.cible, modele, false);
          t.cible.Fields().Append(nouveau);
        }))
      return;
    ++etat_.compteurs.champsCrees;
    if (!t.creee) {
      bool requis = false;
      Essaie([&] { requis = nouveau.Required(); });
      if (requis) {
        InscritChampNul(t.remplissage, nouveau);
        RemplitNouveauChamp(nouveau, t.nom, cible_);
      }
      PlaceChamp(t, modele, nouveau);
    }
    if (t.creee && t.enAttente && AjouteTable(cible_, t.cible) && t.cible.EstLie()) t.enAttente = false;
    DictionnaireNouveauChamp(t, modele, nom);
  }

  // D1.3.2: the new field takes its place; those from there on move back one.
  void PlaceChamp(Table& t, const moteur::Field& modele, moteur::Field& nouveau) {
    // Handles taken first: the collection follows the ordinal order, which changes on the way.
    std::vector<moteur::Field> champs;
    Essaie([&] {
      int nombre = t.cible.Fields().Count();
      for (int k = 0; k < nombre; ++k) champs.push_back(t.cible.Fields()[k]);
    });
    NumeroteSiConfondues(champs);
    int p = 0, actuelle = 0;
    if (!Essaie([&] {
          p = PositionVoulue(t, modele);
          actuelle = nouveau.OrdinalPosition();
        }) ||
        actuelle == p)
      return;
    for (auto it = champs.rbegin(); it != champs.rend(); ++it) {
      int position = 0;
      if (!Essaie([&] { position = it->OrdinalPosition(); }) || position < p) continue;
      Essaie([&] { it->SetOrdinalPosition(position + 1); });
      if (position + 1 == p + 1) break;
    }
    Essaie([&] { nouveau.SetOrdinalPosition(p); });
  }

  // Right after the target's field that holds the model field before it: the model's ordinal
  // position would put it before a field only the target has, and the model's fields out of
  // their order. Without such a field, the model's position.
  int PositionVoulue(Table& t, const moteur::Field& modele) {
    const int p = modele.OrdinalPosition();
    int rang = -1;
    Essaie([&] {
      const std::string nom = modele.Name();
      const int nombre = t.modele.Fields().Count();
      for (int k = 0; k < nombre; ++k)
        if (moteur::MemeNom(t.modele.Fields()[k].Name(), nom)) rang = k;
    });
    if (rang <= 0) return p;
    int apres = p;
    Essaie([&] {
      const std::string precedent = t.modele.Fields()[rang - 1].Name();
      apres = t.cible.Fields()[precedent].OrdinalPosition() + 1;
    });
    return apres;
  }

  // Fields sharing a position, as tables rebuilt by earlier versions hold them, give the walk
  // above no place to insert at: they are numbered first in the order the table shows them.
  static void NumeroteSiConfondues(std::vector<moteur::Field>& champs) {
    bool confondues = false;
    int precedente = -1;
    for (auto& champ : champs) {
      int position = 0;
      Essaie([&] { position = champ.OrdinalPosition(); });
      confondues = confondues || position <= precedente;
      precedente = position;
    }
    if (!confondues) return;
    for (std::size_t k = 0; k < champs.size(); ++k) Essaie([&] { champs[k].SetOrdinalPosition(static_cast<int>(k)); });
  }

  // D2: a field both have, in advanced mode.
  Issue CorrigeChamp(Table& t, const moteur::Field& modele, moteur::Field& cible) {
    bool differe = false;
    if (Essaie([&] {
          differe = cible.Type() != modele.Type() || cible.Size() != modele.Size() ||
                    cible.Attributes() != modele.Attributes();
        }) &&
        differe)
      return Issue::Reconstruire;

    Essaie([&] {
      if (cible.DefaultValue() != modele.DefaultValue()) cible.SetDefaultValue(modele.DefaultValue());
    });
    Essaie([&] {
      if (cible.Required() != modele.Required()) {
        cible.SetRequired(modele.Required());
        if (cible.Required()) InscritChampNul(t.remplissage, cible);
      }
    });
    Essaie([&] {
      if (moteur::EstTypeTexte(cible.Type()) && cible.AllowZeroLength() != modele.AllowZeroLength())
        cible.SetAllowZeroLength(modele.AllowZeroLength());
    });

    std::string nom;
    Essaie([&] { nom = cible.Name(); });
    bool complet = Essaie([&] {
      cible.Properties()[NomClair].Value();
      cible.Properties()[VekFormat].Value();
      cible.Properties()[Priorite].Value();
    }).Number == 0;
    if (!complet) {
      DictionnaireNouveauChamp(t, modele, nom);
      return Issue::Suite;
    }
    for (const char* propriete : {NomClair, VekFormat, Priorite}) {
      Essaie([&] {
        Valeur valeur = modele.Properties()[propriete].Value();
        if (!(cible.Properties()[propriete].Value() == valeur)) cible.Properties()[propriete].SetValue(valeur);
      });
    }
    return Issue::Suite;
  }

  // D3: the dictionary of a field that has just been created, or that lacks part of it.
  void DictionnaireNouveauChamp(Table& t, const moteur::Field& modele, const std::string& nom) {
    moteur::Field cible;
    if (!Essaie([&] { cible = t.cible.Fields()[nom]; })) return;
    for (const char* propriete : {NomClair, VekFormat}) {
      Valeur valeur;
      if (!Essaie([&] { valeur = modele.Properties()[propriete].Value(); })) continue;
      auto r = Essaie([&] { cible.Properties().Append(cible.CreateProperty(propriete, moteur::dbText, valeur)); });
      if (!r) Essaie([&] {
          if (!(cible.Properties()[propriete].Value() == valeur)) cible.Properties()[propriete].SetValue(valeur);
        });
    }
    if (!Essaie([&] { modele.Properties()[Priorite].Value(); })) return;
    std::string nomModele, nomCible;
    Essaie([&] {
      nomModele = modele.Name();
      nomCible = cible.Name();
    });
    std::vector<int> slots;
    for (int i = 0; i < 3; ++i) slots.push_back(LitPriorite(modele_, t.nom, nomModele, i) ? i : -1);
    AffectePriorites(cible_, t.nom, nomCible, slots);
    // Read down to its three slots, a value outside them (8, -1) would differ from the model's,
    // which the next run copies whole to a field whose dictionary is now complete: the field takes
    // the model's value at once, as it will keep it.
    Essaie([&] {
      const Valeur modeleValeur = modele.Properties()[Priorite].Value();
      if (!(cible.Properties()[Priorite].Value() == modeleValeur)) cible.Properties()[Priorite].SetValue(modeleValeur);
    });
  }

  // G: every index of the model table.
  void VerifieIndex(Table& t) {
    int nombre = 0;
    Essaie([&] { nombre = t.modele.Indexes().Count(); });
    for (int k = 0; k < nombre; ++k) {
      moteur::Index modele;
      std::string nom;
      if (Essaie([&] {
            modele = t.modele.Indexes()[k];
            nom = modele.Name();
          })) {
        moteur::Index cible;
        auto r = Essaie([&] { cible = t.cible.Indexes()[nom]; });
        if (r.Number == moteur::err::ElementIntrouvable) {
          journal_.EcritureJournal("#ALERT# - index '" + t.nom + "." + nom + "' non trouvé : Tentative de création", true);
          CreeIndex(t, modele, nom);
        } else if (r && avancee_) {
          bool differe = false;
          Essaie([&] {
            differe = cible.Fields() != modele.Fields() || cible.Unique() != modele.Unique() ||
                      cible.Primary() != modele.Primary();
          });
          if (differe) RemplaceIndex(t, cible, modele, nom);
        }
      }
      AvanceProgression(fenetre_);
    }
  }

  // G2: the target's index makes room for the model's. A primary key, or any index the model's
  // cannot replace at all, is given back as it was: the table keeps its key until the model's is
  // in its place.
  void RemplaceIndex(Table& t, const moteur::Index& ancien, const moteur::Index& modele, const std::string& nom) {
    IndexGarde garde;
    Essaie([&] { garde = {ancien.Fields(), ancien.Unique(), ancien.Primary(), ancien.IgnoreNulls()}; });
    if (!Essaie([&] { t.cible.Indexes().Delete(nom); })) return;
    const IndexCree issue = CreeIndex(t, modele, nom);
    if (issue == IndexCree::Tel || (issue == IndexCree::Simple && !garde.primaire)) return;
    if (issue == IndexCree::Simple && Essaie([&] { t.cible.Indexes().Delete(nom); })) --etat_.compteurs.indexCrees;
    Essaie([&] {
      moteur::Index remis = t.cible.CreateIndex(nom);
      remis.SetFields(garde.champs);
      remis.SetUnique(garde.unique);
      remis.SetPrimary(garde.primaire);
      remis.SetIgnoreNulls(garde.ignoreNuls);
      t.cible.Indexes().Append(remis);
    });
  }

  IndexCree CreeIndex(Table& t, const moteur::Index& modele, const std::string& nom) {
    moteur::Index nouveau;
    if (!Essaie([&] { nouveau = t.cible.CreateIndex(); })) return IndexCree::Non;
    Essaie([&] { nouveau.SetName(modele.Name()); });
    Essaie([&] { nouveau.SetFields(modele.Fields()); });
    Essaie([&] { nouveau.SetUnique(modele.Unique()); });
    Essaie([&] { nouveau.SetPrimary(modele.Primary()); });
    auto r = Essaie([&] { t.cible.Indexes().Append(nouveau); });
    IndexCree issue = IndexCree::Tel;
    if (r) {
      journal_.EcritureJournal("          L'index " + t.nom + "." + nom + "' a bien été créé.", true);
    } else {
      if (r.Number == moteur::err::CleExistante) {
        const std::string ancienne = DeclassePrimaire(t);
        r = Essaie([&] { t.cible.Indexes().Append(nouveau); });
        // The table keeps the key it had until the model's is in its place.
        if (!r && !ancienne.empty()) ChangePrimaire(t, ancienne, true);
      }
      if (r.Number == moteur::err::Doublon) {
        r = IndexSansUnicite(t, nouveau, nom);
        issue = IndexCree::Simple;
      } else if (!r) {
        std::string cause = r.Description;
        while (!cause.empty() && (cause.back() == '.' || cause.back() == ' ')) cause.pop_back();
        journal_.EcritureJournal("#ERR# Table : " + t.nom + ", index '" + nom + "' non créé (" + cause + ").");
      }
    }
    if (r) ++etat_.compteurs.indexCrees;
    return r ? issue : IndexCree::Non;
  }

  // G4, 3022: the data hold duplicates; the index is kept as a plain one.
  moteur::Resultat IndexSansUnicite(Table& t, moteur::Index& nouveau, const std::string& nom) {
    journal_.EcritureJournal("#ERR# " + TexteDoublons(t.nom, nom));
    fenetre_.LaisseVivre();
    fenetre_.Pointeur(PointeurSouris::Sablier);
    SignaleAvancement("Réorganisation en cours ...");
    return Essaie([&] {
      nouveau.SetUnique(false);
      nouveau.SetPrimary(false);
      t.cible.Indexes().Append(nouveau);
    });
  }

  // G4, 3283: the table's present primary key becomes an ordinary index; its name, to give it its
  // flag back if need be, or empty when it has none.
  std::string DeclassePrimaire(Table& t) {
    int nombre = 0;
    Essaie([&] { nombre = t.cible.Indexes().Count(); });
    for (int k = 0; k < nombre; ++k) {
      std::string nom;
      bool primaire = false;
      if (!Essaie([&] {
            moteur::Index ancien = t.cible.Indexes()[k];
            nom = ancien.Name();
            primaire = ancien.Primary();
          }) ||
          !primaire)
        continue;
      return ChangePrimaire(t, nom, false) ? nom : std::string();
    }
    return {};
  }

  // The index made again with the same name, fields and unique flag, primary or not.
  bool ChangePrimaire(Table& t, const std::string& nom, bool primaire) {
    return static_cast<bool>(Essaie([&] {
      moteur::Index ancien = t.cible.Indexes()[nom];
      moteur::Index copie = t.cible.CreateIndex(ancien.Name());
      copie.SetFields(ancien.Fields());
      copie.SetUnique(ancien.Unique());
      copie.SetPrimary(primaire);
      t.cible.Indexes().Delete(nom);
      t.cible.Indexes().Append(copie);
    }));
  }

  // H: the table's own "NomClair".
  void VerifieDictionnaireTable(Table& t) {
    Valeur valeur;
    if (!Essaie([&] { valeur = t.cible.Properties()[NomClair].Value(); })) {
      Essaie([&] {
        Valeur modele = t.modele.Properties()[NomClair].Value();
        t.cible.Properties().Append(t.cible.CreateProperty(NomClair, moteur::dbText, modele));
      });
    } else if (avancee_) {
      Essaie([&] {
        Valeur modele = t.modele.Properties()[NomClair].Value();
        if (!(modele == valeur)) t.cible.Properties()[NomClair].SetValue(modele);
      });
    }
  }

  // C.8: both databases closed and opened again; the caller gets the new target.
  bool Reouvre(int position) {
    FermeBase(modele_);
    auto r = Essaie([&] { modele_ = OuvreBase(cheminModele_); });
    FermeBase(cible_);
    if (r) r = Essaie([&] { cible_ = OuvreBase(cheminCible_); });
    if (!r) {
      // The rest of the walk would find nothing to work on.
      GestionErreur(Contexte(etat_), r);
      return false;
    }
    if (Observateur()) Observateur()(position);
    return true;
  }

  EtatReorganisation& etat_;
  InterfaceFenetre& fenetre_;
  Journal& journal_;
  moteur::Database& modele_;
  moteur::Database& cible_;
  const std::string cheminModele_;
  const std::string cheminCible_;
  const bool avancee_;
  bool relationsARefaire_ = false;
};

}  // namespace

std::string structure::TexteDoublons(const std::string& table, const std::string& index) {
  std::string texte = "i#Caractéristiques incorrectes :@@Table   : '" + table + "'@Index : '" + index +
                      "'@@Cet index déclaré primaire ou unique ne peut être créé"
                      "@correctement car des doublons sont présents dans la table.";
  RemplaceTexte(texte, "@", ". ");
  return texte;
}

std::string CheminBaseModele(const std::string& cheminCible) {
  std::string parent = DossierParent(cheminCible);
  if (parent.empty()) return {};
  return parent + NomFichier(cheminCible);
}

void DefinitObservateurReouverture(ObservateurReouverture observateur) { Observateur() = std::move(observateur); }

void VerificationStructure(EtatReorganisation& etat, const std::string& cheminCible, moteur::Database& cible,
                           const std::string& libelle) {
  std::string cheminModele = CheminBaseModele(cheminCible);
  // Found as the purge finds its reference: "Compta.mdb" is the model of "COMPTA.MDB".
  if (!cheminModele.empty() && !FichierPresent(cheminModele))
    cheminModele = FichierSansCasse(std::filesystem::path(cheminModele).parent_path().string(), NomFichier(cheminModele));
  etat.fenetre.ProgressValeur(0);
  etat.fenetre.ProgressMaximum(etat.estimationEtapes);
  if (cheminModele.empty() || !FichierPresent(cheminModele)) {
    AfficheMessage("!#Base de données du logiciel inexistante !", std::string("Erreur"));
    return;
  }

  moteur::Database modele;
  try {
    modele = OuvreBase(cheminModele);
  } catch (const moteur::ErreurMoteur& e) {
    // Without its model there is nothing to verify: the journal says why, and the run must not
    // end as if the structure had been brought up to the model's.
    etat.journal.EcritureJournal("#ERR# Base modèle " + cheminModele + " illisible : " + e.Description() +
                                 " La structure n'a pas été vérifiée.");
    etat.echec = true;
    etat.derniereErreur = e.Number();
    GestionErreur(Contexte(etat), e);
    return;
  }
  std::string cheminPropre;
  if (cible.etat()) cheminPropre = cible.Name();
  if (!Ouverte(cible)) {
    auto r = cheminPropre.empty()
                 ? moteur::Resultat{moteur::err::ObjetInvalide, "Objet non valide ou qui n'est plus défini."}
                 : Essaie([&] { cible = OuvreBase(cheminPropre); });
    if (!r) {
      GestionErreur(Contexte(etat), r);
      FermeBase(modele);
      return;
    }
  }

  etat.journal.AffichageAvancement("Vérification " + libelle, cheminCible);
  etat.journal.SectionJournal("Vérification " + libelle);
  bool proprietesChampsGeneriques = false, proprietesTable = false;
  std::string exclusions;
  InitFlagVerifDataBase(etat, cheminCible, modele, cible, proprietesChampsGeneriques, proprietesTable, exclusions);

  Verificateur verificateur(etat, modele, cible, cheminModele, cheminPropre);
  verificateur.Parcours(exclusions);
  verificateur.Fin();
}

}  // namespace utireorg

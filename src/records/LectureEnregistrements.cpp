// The reading pass over every record, and the record verification after error 3163.
#include "records/LectureEnregistrements.h"

#include <algorithm>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "common/Arret.h"
#include "bases/BaseDonnees.h"
#include "common/Fichiers.h"
#include "common/InterfaceFenetre.h"
#include "journal/Journal.h"
#include "messages/AfficheMessage.h"
#include "messages/GestionErreur.h"
#include "moteur/Noms.h"

namespace utireorg {
namespace {

using moteur::Essaie;
using moteur::Valeur;

// The verification holds one record at a time in this many slots; a wider record ends it.
constexpr int SlotsEnregistrement = 101;

bool EstTableUtilisateur(const moteur::TableDef& table) {
  return (table.Attributes() & moteur::dbSystemObject) == 0;
}

// How the reading of one table ended: the error that refused to open it, or the one that
// stopped the move through its records.
struct IssueLecture {
  int ouverture = 0;
  long lecture = 0;
  long lus = 0;
  // Values that read as no value of their field (bytes that form no text): the first ones, told
  // by record number and as the engine describes them, and how many there were.
  std::vector<std::string> illisibles;
  long nombreIllisibles = 0;
};

constexpr std::size_t IllisiblesDetailles = 10;

// A record the engine doubts (a value it cannot certainly read as its field's type) has each of
// its values read: one that cannot be is told, the others are left to the later stages.
void NoteValeursIllisibles(moteur::Recordset& table, IssueLecture& issue) {
  if (table.EnregistrementSain()) return;
  moteur::Fields champs = table.Fields();
  for (int i = 0; i < champs.Count(); ++i) {
    auto lecture = Essaie([&] { champs[i].Value(); });
    if (lecture.Number != moteur::err::FormatNonReconnu) continue;
    if (issue.illisibles.size() < IllisiblesDetailles)
      issue.illisibles.push_back("enregistrement " + std::to_string(issue.lus) + " : " + lecture.Description);
    ++issue.nombreIllisibles;
  }
}

IssueLecture LitTable(moteur::Database& db, const std::string& nomTable) {
  IssueLecture issue;
  moteur::Recordset table;
  auto ouverture = Essaie([&] { table = OuvreTable(db, nomTable, moteur::dbOpenTable); });
  if (!ouverture) {
    issue.ouverture = ouverture.Number;
    return issue;
  }
  Essaie([&] { table.MoveFirst(); });  // an empty table has no first record
  // Moving is the test: a damaged page stops the move where it lies.
  auto lecture = Essaie([&] {
    while (!table.Eof() && !table.Bof()) {
      ++issue.lus;
      NoteValeursIllisibles(table, issue);
      table.MoveNext();
    }
  });
  issue.lecture = lecture.Number;
  FermeTable(table);
  return issue;
}

// Value put back into a field whose value was null or unreadable. An empty date or GUID is stored
// as null: the engine has no "uninitialised" one, and a made-up day or identifier would pass for
// real data (an empty text is no GUID either, and would be refused).
Valeur DefautDuType(int type) {
  if (type >= moteur::dbBoolean && type <= moteur::dbDouble) return Valeur(0);
  if (type == moteur::dbDate || type == moteur::dbGUID) return Valeur::Nul();
  return Valeur(std::string());
}

// What a null or unreadable slot is stored back as. A Null the field accepts stays Null where the
// type's default would be refused (an empty text the field forbids): the record held it rightly,
// and a copy the table refuses would cost the whole record.
Valeur ValeurDeRemplacement(moteur::Field& champ) {
  Valeur defaut = DefautDuType(champ.Type());
  bool videRefuse = false;
  bool requis = true;
  moteur::Essaie([&] {
    requis = champ.Required();
    videRefuse = moteur::EstTypeTexte(champ.Type()) && !champ.AllowZeroLength();
  });
  if (!requis && videRefuse) return Valeur::Nul();
  return defaut;
}

// One defective record is deleted and stored again inside one transaction, so that whatever
// stops the pair half-way (a refused copy, a full disk, an error) puts the record back as it was.
class UniteEnregistrement {
 public:
  UniteEnregistrement() {
    moteur::DBEngine::BeginTrans();
    ouverte_ = true;
  }
  ~UniteEnregistrement() { Annule(); }
  UniteEnregistrement(const UniteEnregistrement&) = delete;
  UniteEnregistrement& operator=(const UniteEnregistrement&) = delete;

  // False when the changes could not be written: they are undone then, and Erreur() says why.
  bool Valide() noexcept {
    if (!ouverte_) return false;
    // Another workstation may hold the file for a moment: the commit waits for it like any
    // guarded write.
    if (!ValideTransaction()) {
      erreur_ = ErreurDerniereEcriture();
      Annule();
      return false;
    }
    ouverte_ = false;
    return true;
  }

  int Erreur() const noexcept { return erreur_; }

  void Annule() noexcept {
    if (!ouverte_) return;
    ouverte_ = false;
    moteur::IgnoreEchec("the caller reports the failure that made it undo", [] { moteur::DBEngine::Rollback(); });
  }

 private:
  bool ouverte_ = false;
  int erreur_ = 0;
};

class Verification {
 public:
  Verification(EtatReorganisation& etat, const std::string& chemin)
      : etat_(etat),
        chemin_(chemin),
        slots_(SlotsEnregistrement),
        origines_(SlotsEnregistrement),
        illisibles_(SlotsEnregistrement),
        remplaces_(SlotsEnregistrement) {}

  // Runs until every user table is read, or until an error ends it; either way the database
  // is closed on return and the counters say what was done.
  void Execute() {
    try {
      moteur::IgnoreEchec<std::exception>("any error but an unreadable value ends the scan: what was done is summed up",
                                          [&] {
                                            base_ = OuvreBase(chemin_);
                                            etat_.fenetre.Pointeur(PointeurSouris::Sablier);
                                            for (int i = 0; i < base_.TableDefs().Count(); ++i) {
                                              moteur::TableDef definition = base_.TableDefs()[i];
                                              if (!EstTableUtilisateur(definition)) continue;
                                              if (!VerifieTable(definition.Name())) break;
                                            }
                                          });
    } catch (const ArretRun&) {
      Termine();
      throw;
    }
    Termine();
  }

  long Corriges() const { return corriges_; }
  long Supprimes() const { return supprimes_; }
  // Defective records left as they were: neither corrected nor deleted.
  long Laisses() const { return laisses_; }
  // The disk-space error that stopped the scan, 0 when none did.
  int EspaceManquant() const { return espaceManquant_; }

 private:
  void Termine() {
    FermeTable(table_);
    FermeBase(base_);
    slots_.assign(slots_.size(), Valeur());
    origines_.assign(origines_.size(), std::string());
    illisibles_.assign(illisibles_.size(), std::string());
    remplaces_.assign(remplaces_.size(), Remplacement());
    etat_.fenetre.Pointeur(PointeurSouris::Normal);
  }

  // False when a record too wide for the buffer ends the scan.
  bool VerifieTable(const std::string& nomTable) {
    table_ = OuvreTable(base_, nomTable, moteur::dbOpenTable);
    cascade_ = TablesEnCascade(nomTable);
    referencee_ = TableReferencee(nomTable);
    if (!TableVide(table_)) {
      // Records stored again by this call, never handled twice whatever they read like.
      std::set<moteur::Signet> ecrits;
      moteur::Fields champs = table_.Fields();
      const int nombre = champs.Count();
      const std::vector<ChampVerifie> verifies = ChampsVerifies(champs, std::min(nombre, SlotsEnregistrement));
      table_.MoveFirst();
      while (!table_.Eof()) {
        etat_.fenetre.LaisseVivre();
        if (nombre > SlotsEnregistrement) return false;
        // A record the engine vouches for holds nothing to cut or replace: reading it into the
        // slots would find no defect.
        if (!table_.EnregistrementSain() && LitEnregistrement(verifies) && !ecrits.count(table_.Bookmark()))
          RemplaceEnregistrement(nomTable, champs, nombre, ecrits);
        // The scan goes on after the record just handled: every record before it was read
        // sound already, and its corrected copy, stored at the end, is read sound in its turn.
        table_.MoveNext();
      }
    }
    FermeTable(table_);
    return true;
  }

  // Tables whose records the engine deletes with a record of this one.
  std::vector<std::string> TablesEnCascade(const std::string& nomTable) {
    std::vector<std::string> tables;
    moteur::Relations relations = base_.Relations();
    for (int i = 0; i < relations.Count(); ++i) {
      moteur::Relation relation = relations[i];
      const long long attributs = relation.Attributes();
      if ((attributs & moteur::dbRelationDontEnforce) || !(attributs & moteur::dbRelationDeleteCascade)) continue;
      if (moteur::MemeNom(relation.Table(), nomTable)) tables.push_back(relation.ForeignTable());
    }
    return tables;
  }

  // Whether the table's records are referred to by an enforced relation: deleting one would take
  // its linked records with it or be refused, so its records are corrected where they lie.
  bool TableReferencee(const std::string& nomTable) {
    moteur::Relations relations = base_.Relations();
    for (int i = 0; i < relations.Count(); ++i) {
      moteur::Relation relation = relations[i];
      if (!(relation.Attributes() & moteur::dbRelationDontEnforce) && moteur::MemeNom(relation.Table(), nomTable))
        return true;
    }
    return false;
  }

  std::vector<long long> Comptes() {
    std::vector<long long> comptes;
    for (const auto& nom : cascade_) comptes.push_back(base_.TableDefs()[nom].RecordCount());
    return comptes;
  }

  // A field of the table being scanned and what the check needs of it, taken once for all its
  // records: a handle and two look-ups per field and per record cost more than the record's read.
  struct ChampVerifie {
    moteur::Field champ;
    bool texte = false;
    std::size_t taille = 0;
    int type = 0;
    long long attributs = 0;
    bool nulRefuse = false;  // a Null here is a defect, with a value of its type to take instead
  };

  static std::vector<ChampVerifie> ChampsVerifies(moteur::Fields& champs, int nombre) {
    std::vector<ChampVerifie> liste;
    for (int i = 0; i < nombre; ++i) {
      moteur::Field champ = champs[i];
      const int type = champ.Type();
      const long long attributs = champ.Attributes();
      const bool videAdmis = moteur::EstTypeTexte(type) && champ.AllowZeroLength();
      liste.push_back({champ, type == moteur::dbText, static_cast<std::size_t>(champ.Size()), type, attributs,
                       champ.Required() && moteur::NulRemplacable(type, attributs, videAdmis)});
    }
    return liste;
  }

  // Why a slot's stored value gives way to its replacement, and what was stored, for the line that
  // names it; an empty reason for a slot kept (or only cut).
  struct Remplacement {
    std::string raison;
    std::string lue;
    bool garde = false;  // the slot keeps the value as read, which is stored instead
  };

  // What the engine told of an unreadable value, past the field's name: the value as stored,
  // escaped; empty when it told nothing more.
  static std::string ValeurLue(const std::string& description) {
    for (const char* debut : {" (valeur lue : ", " (octets lus : "}) {
      const std::size_t position = description.find(debut);
      if (position == std::string::npos) continue;
      std::string lue = description.substr(position + 1);
      if (!lue.empty() && lue.back() == '.') lue.pop_back();
      return lue;
    }
    return {};
  }

  // A number past its field's range: an integer, a Single past what four bytes hold, an infinity.
  static bool HorsDeSonType(const ChampVerifie& c, const Valeur& v) {
    if (v.genre() == Valeur::Genre::Entier) return !moteur::EntierDansSonType(c.type, c.attributs, v.entier());
    return v.genre() == Valeur::Genre::Reel && !moteur::ReelDansSonType(c.type, v.reel());
  }

  // A value read whole that a write through the engine would have refused.
  bool ValeurHorsRegles(const ChampVerifie& c, Valeur& slot, std::size_t i) {
    if (slot.EstNulOuVide()) {
      if (!c.nulRefuse) return false;
      remplaces_[i] = {"est Null dans un champ requis", {}};
      return true;
    }
    if (c.type == moteur::dbBoolean) {
      // Read as Yes, stored as a number the engine never writes: Yes is stored as it writes it.
      const Valeur stockee = c.champ.ValeurStockee();
      if (stockee.genre() != Valeur::Genre::Entier || stockee.entier() == 0 || stockee.entier() == -1) return false;
      remplaces_[i] = {
          "vaut " + std::to_string(stockee.entier()) + " dans un champ Oui/Non, qui ne tient que -1 ou 0", {}, true};
      return true;
    }
    if (!HorsDeSonType(c, slot)) return false;
    remplaces_[i] = {"est hors des limites de son type", "(valeur lue : " + slot.EnTexte() + ")"};
    slot = Valeur::Nul();
    return true;
  }

  // Fills the slots with the current record; true when a value had to be cut or was unreadable.
  bool LitEnregistrement(const std::vector<ChampVerifie>& champs) {
    bool defectueux = false;
    for (std::size_t i = 0; i < champs.size(); ++i) {
      const ChampVerifie& c = champs[i];
      Valeur& slot = slots_[i];
      origines_[i].clear();
      illisibles_[i].clear();
      remplaces_[i] = Remplacement();
      auto lecture = Essaie([&] { c.champ.LitValeur(slot); });
      if (lecture.Number == moteur::err::FormatNonReconnu) {
        // When the engine told more than the field's name (the bytes of a text that is no UTF-8,
        // or a value that does not fit the field's type, escaped), that is all that remains of
        // the value: the journal keeps it.
        if (lecture.Description != moteur::DescriptionErreur(lecture.Number, {c.champ.Name()}))
          illisibles_[i] = lecture.Description;
        remplaces_[i] = {"est illisible", ValeurLue(lecture.Description)};
        slot = Valeur::Nul();
        defectueux = true;
        continue;
      }
      if (!lecture) throw moteur::ErreurMoteur(lecture.Number, lecture.Description);
      if (ValeurHorsRegles(c, slot, i)) {
        defectueux = true;
        continue;
      }
      if (c.texte && !slot.EstNulOuVide()) {
        // The size counts characters, as the engine measures texts; a text of no more bytes than
        // that has no more characters either, and needs no counting.
        std::string converti;
        const std::string& texte = slot.genre() == Valeur::Genre::Texte ? slot.texte() : (converti = slot.EnTexte());
        if (texte.size() > c.taille && texte::NombreCaracteres(texte) > c.taille) {
          origines_[i] = texte;
          slot = Valeur(texte::PremiersCaracteres(origines_[i], c.taille));
          defectueux = true;
        }
      }
    }
    return defectueux;
  }

  void RemplaceEnregistrement(const std::string& nomTable, moteur::Fields& champs, int nombre,
                              std::set<moteur::Signet>& ecrits) {
    if (!enTeteEcrit_) {
      etat_.journal.EcritureJournal("ERREUR 3163 : Réorganisation fichier " + chemin_, true);
      enTeteEcrit_ = true;
    }
    etat_.journal.EcritureJournal("       Enregistrement défectueux : Table " + nomTable, true);
    for (int k = 0; k < nombre; ++k) {
      const Valeur& valeur = slots_[k];
      std::string ligne = "          " + champs[k].Name() + " : " + (valeur.EstNulOuVide() ? std::string() : valeur.EnTexte());
      if (!origines_[k].empty()) ligne += " (coupé, valeur d'origine : " + origines_[k] + ")";
      if (!illisibles_[k].empty()) ligne += " (illisible : " + illisibles_[k] + ")";
      else if (!remplaces_[k].lue.empty())
        ligne += " " + remplaces_[k].lue;
      etat_.journal.EcritureJournal(ligne, true);
    }
    // The journal lines above are the only trace of what is about to be cut or deleted: a journal
    // that could not take them is a full disk, and nothing is touched.
    if (!etat_.journal.EcritureSure()) ArreteSiDisquePlein(moteur::err::DisquePlein);

    // From here the record is counted once, as what really became of it: corrected when its
    // copy is stored, deleted when the deletion is written without the copy, left as it was
    // when the deletion is undone or refused.
    enum class Sort { Laisse, Corrige, Supprime } sort = Sort::Laisse;
    std::string raison;
    int refus = 0;
    try {
      UniteEnregistrement unite;
      const std::vector<long long> avant = Comptes();
      if (referencee_) {
        if (CorrigeSurPlace(champs, nombre)) {
          if (unite.Valide()) {
            sort = Sort::Corrige;
          } else {
            ArreteSiDisquePlein(unite.Erreur());
            raison = "la correction n'a pas pu être enregistrée (erreur " + std::to_string(unite.Erreur()) + ")";
          }
        } else {
          ArreteSiDisquePlein(ErreurDerniereEcriture());
          raison = "sa correction a été refusée (erreur " + std::to_string(ErreurDerniereEcriture()) + ")";
          Essaie([&] { table_.CancelUpdate(); });
        }
      } else if (!SupprimeEnreg(table_, Signalement::Silencieux)) {
        ArreteSiDisquePlein(ErreurDerniereEcriture());
        raison = "sa suppression a été refusée (erreur " + std::to_string(ErreurDerniereEcriture()) + ")";
      } else if (std::string liees = LieesSupprimees(nomTable, avant); !liees.empty()) {
        raison = "le supprimer supprimerait avec lui les enregistrements liés de la table " + liees;
      } else {
        table_.AddNew();
        for (int l = 0; l < nombre; ++l) {
          moteur::Field champ = champs[l];
          champ.SetValue(slots_[l].EstNulOuVide() ? ValeurDeRemplacement(champ) : slots_[l]);
        }
        if (MiseAJour(table_, Signalement::Silencieux)) {
          moteur::Signet copie = -1;
          Essaie([&] { copie = table_.LastModified(); });
          if (unite.Valide()) {
            sort = Sort::Corrige;
            ecrits.insert(copie);
          } else {
            ArreteSiDisquePlein(unite.Erreur());
            raison = "la correction n'a pas pu être enregistrée (erreur " + std::to_string(unite.Erreur()) + ")";
          }
        } else {
          // A copy that could not be written for lack of space is no refusal: the deletion is
          // undone with it and the scan stops there.
          ArreteSiDisquePlein(ErreurDerniereEcriture());
          refus = ErreurDerniereEcriture();
          // The corrected copy is refused by the table's rules: the record is deleted, as the
          // summary says, and its values stay in the journal lines written above. Only a failure
          // to write the deletion itself puts it back.
          Essaie([&] { table_.CancelUpdate(); });
          if (unite.Valide()) {
            sort = Sort::Supprime;
          } else {
            ArreteSiDisquePlein(unite.Erreur());
            raison = "sa suppression n'a pas pu être enregistrée (erreur " + std::to_string(unite.Erreur()) + ")";
          }
        }
      }
    } catch (...) {
      Essaie([&] { if (table_.EstOuvert() && table_.EditMode() != 0) table_.CancelUpdate(); });
      // The unit undid the record: it is back as it was. A full disk says so on its own lines.
      if (espaceManquant_ == 0) {
        ErreurEnCours erreur = LitErreur(std::current_exception());
        SignaleLaisse(nomTable, champs, nombre, "erreur " + std::to_string(erreur.numero) + " : " + erreur.description);
      }
      throw;
    }
    switch (sort) {
      case Sort::Corrige:
        JournaliseRemplacements(nomTable, champs, nombre);
        ++corriges_;
        ++etat_.compteurs.Table(nomTable).corriges;
        break;
      case Sort::Supprime:
        etat_.journal.EcritureJournal("#ALERT# Table '" + nomTable + "', enregistrement " +
                                          Identifiant(nomTable, champs, nombre) +
                                          " : supprimé, sa copie corrigée étant refusée par les règles de la table "
                                          "(erreur " +
                                          std::to_string(refus) + ") ; ses valeurs sont écrites ci-dessus.",
                                      true);
        ++supprimes_;
        ++etat_.compteurs.Table(nomTable).supprimes;
        break;
      case Sort::Laisse: SignaleLaisse(nomTable, champs, nombre, raison); break;
    }
  }

  // The record is kept where it lies, with only its defective values replaced: the records
  // linked to it stay linked.
  bool CorrigeSurPlace(moteur::Fields& champs, int nombre) {
    table_.Edit();
    for (int l = 0; l < nombre; ++l) {
      if (remplaces_[l].raison.empty() && origines_[l].empty()) continue;
      moteur::Field champ = champs[l];
      champ.SetValue(slots_[l].EstNulOuVide() ? ValeurDeRemplacement(champ) : slots_[l]);
    }
    return MiseAJour(table_, Signalement::Silencieux);
  }

  // One line per value replaced, naming the table, the record by its key and the field.
  void JournaliseRemplacements(const std::string& nomTable, moteur::Fields& champs, int nombre) {
    for (int l = 0; l < nombre; ++l) {
      const Remplacement& r = remplaces_[l];
      if (r.raison.empty()) continue;
      moteur::Field champ = champs[l];
      const Valeur mise = moteur::ValeurDuChamp(r.garde ? slots_[l] : ValeurDeRemplacement(champ), champ.Type());
      const std::string texte = mise.EstNulOuVide() ? std::string() : mise.EnTexte();
      const std::string par = mise.EstNulOuVide()                 ? "Null"
                              : champ.Type() == moteur::dbBoolean ? (mise.EnEntier() != 0 ? "Vrai" : "Faux")
                              : texte.empty()                     ? "un texte vide"
                                                                  : moteur::Affichable(texte);
      etat_.journal.EcritureJournal("#ALERT# Table '" + nomTable + "', enregistrement " +
                                        Identifiant(nomTable, champs, nombre) + " : la valeur du champ '" +
                                        champ.Name() + "' " + r.raison + ", remplacée par " + par +
                                        (r.lue.empty() ? "" : " " + r.lue) + ".",
                                    true);
    }
  }

  // A defective record that is still there as it was, named by its key in an error line.
  void SignaleLaisse(const std::string& nomTable, moteur::Fields& champs, int nombre, const std::string& raison) {
    ++laisses_;
    etat_.journal.EcritureJournal("#ERR# Enregistrement défectueux de la table " + nomTable + " (" +
                                      Identifiant(nomTable, champs, nombre) + ") ni corrigé ni supprimé : " + raison +
                                      ".",
                                  true);
  }

  // "Id = 1" by the primary key, else by the first field.
  std::string Identifiant(const std::string& nomTable, moteur::Fields& champs, int nombre) {
    std::vector<std::string> cle = ChampsDeLaCle(base_, nomTable);
    if (cle.empty() && nombre > 0) Essaie([&] { cle.push_back(champs[0].Name()); });
    std::string texte;
    for (const auto& nom : cle) {
      for (int k = 0; k < nombre; ++k) {
        std::string nomChamp;
        if (!Essaie([&] { nomChamp = champs[k].Name(); }) || !moteur::MemeNom(nomChamp, nom)) continue;
        const Valeur& valeur = slots_[k];
        // A key replaced for its value is still named by what was read.
        const std::string montree = !valeur.EstNulOuVide() ? valeur.EnTexte() : remplaces_[k].lue;
        texte += (texte.empty() ? "" : ", ") + nomChamp + " = " + montree;
        break;
      }
    }
    return texte;
  }

  // A write refused for lack of space ends the scan: every later record would meet the same disk.
  void ArreteSiDisquePlein(int numero) {
    if (!EstErreurEspaceDisque(numero)) return;
    espaceManquant_ = numero;
    throw moteur::ErreurMoteur(numero);
  }

  // A deletion that took linked records with it (a cascading relation) would lose them for
  // good once the copy is stored: such a record is left as it is. The tables it would have taken
  // records from; empty when the deletion took the record alone.
  std::string LieesSupprimees(const std::string& nomTable, const std::vector<long long>& avant) {
    const std::vector<long long> apres = Comptes();
    std::string tables;
    for (std::size_t i = 0; i < cascade_.size(); ++i)
      if (apres[i] != avant[i] - (moteur::MemeNom(cascade_[i], nomTable) ? 1 : 0))
        tables += (tables.empty() ? "" : ", ") + cascade_[i];
    return tables;
  }

  EtatReorganisation& etat_;
  const std::string& chemin_;
  moteur::Database base_;
  moteur::Recordset table_;
  std::vector<Valeur> slots_;
  // The whole text of each slot that was cut, empty for the others: the journal keeps it, since
  // it is the only trace of what the cut takes away.
  std::vector<std::string> origines_;
  std::vector<std::string> illisibles_;  // why a value could not be read, as the engine said it
  std::vector<Remplacement> remplaces_;
  std::vector<std::string> cascade_;
  bool referencee_ = false;
  bool enTeteEcrit_ = false;
  long corriges_ = 0;
  long supprimes_ = 0;
  long laisses_ = 0;
  int espaceManquant_ = 0;
};

const char* const QuestionVerification =
    "!#Une erreur (Réf 3163) a été détectée dans le fichier"
    "@en cours de vérification."
    "@@Cette erreur est dûe à la présence d'un ou plusieurs"
    "@enregistrements non valides car ils occupent une place"
    "@plus importante que celle prévue par la table à laquelle"
    "@ils appartiennent."
    "@@Une vérification de tout le fichier est nécessaire"
    "@afin de corriger les enregistrements défectueux."
    "@@Souhaitez-vous lancer la vérification ?";

std::string Nombre(long n, const char* un, const char* plusieurs) {
  return n == 1 ? std::string("@1 ") + un : "@" + std::to_string(n) + " " + plusieurs;
}

// disquePlein: the scan stopped before its end for lack of space, and records may remain defective.
std::string Bilan(long corriges, long supprimes, long laisses = 0, bool disquePlein = false) {
  std::string texte = laisses == 0 && !disquePlein
                          ? "i#La vérification a été effectuée avec succès :"
                          : "!#La vérification n'a pas pu traiter tous les enregistrements défectueux :";
  if (corriges > 0)
    texte += Nombre(corriges, "enregistrement défectueux a été corrigé.", "enregistrements défectueux ont été corrigés.");
  if (supprimes > 0)
    texte += Nombre(supprimes, "enregistrement défectueux a été supprimé.", "enregistrements défectueux ont été supprimés.");
  if (laisses > 0)
    texte += Nombre(laisses, "enregistrement défectueux n'a pu être ni corrigé ni supprimé.",
                    "enregistrements défectueux n'ont pu être ni corrigés ni supprimés.") +
             "@@Tant qu'il contient des enregistrements défectueux,@le fichier ne peut pas être compacté.";
  if (disquePlein)
    texte += "@@Le disque est plein : la vérification s'est arrêtée@avant d'avoir lu tous les enregistrements.";
  return texte + "@@Consultez le journal d'analyse pour connaître" + "@le détail des enregistrements concernés.";
}

// The summary's counts on one journal line, for a verification stopped before its end.
std::string BilanLigne(long corriges, long supprimes, long laisses) {
  std::string texte;
  auto ajoute = [&](long n, const char* un, const char* plusieurs) {
    if (n == 0) return;
    texte += (texte.empty() ? "" : ", ") + (n == 1 ? std::string("1 ") + un : std::to_string(n) + " " + plusieurs);
  };
  ajoute(corriges, "enregistrement défectueux a été corrigé", "enregistrements défectueux ont été corrigés");
  ajoute(supprimes, "enregistrement défectueux a été supprimé", "enregistrements défectueux ont été supprimés");
  ajoute(laisses, "enregistrement défectueux n'a pu être ni corrigé ni supprimé",
         "enregistrements défectueux n'ont pu être ni corrigés ni supprimés");
  return texte.empty() ? "aucun enregistrement défectueux n'a été corrigé ni supprimé." : texte + ".";
}

// Nothing is corrected by the pass: the journal says where the values are and what corrects them.
void JournaliseIllisibles(Journal& journal, const std::string& table, const IssueLecture& issue) {
  for (const auto& illisible : issue.illisibles)
    journal.EcritureJournal("#ALERT# Lecture de table " + table + ", " + illisible +
                            " « Réparation / Compactage » le corrige.");
  const long tus = issue.nombreIllisibles - static_cast<long>(issue.illisibles.size());
  if (tus > 0)
    journal.EcritureJournal("#ALERT# Lecture de table " + table + " : " + std::to_string(tus) +
                            " autres valeurs illisibles.");
}

}  // namespace

bool LectureTable(EtatReorganisation& etat, moteur::Database& db, const std::string& nomBase) {
  if (!etat.fenetre.Coche(coche::VerificationsPrimaires)) return true;
  bool resultat = true;
  moteur::Resultat ouverture;
  if (!db.EstOuverte()) ouverture = Essaie([&] { db = OuvreBase(nomBase); });
  etat.journal.SectionJournal("Lecture des enregistrements");
  if (!ouverture) {
    // Not a table was read: the pass must not pass for a clean one.
    etat.journal.EcritureJournal("#ERR# Lecture de la base " + nomBase + " " + std::to_string(ouverture.Number) + " " +
                                 moteur::DescriptionErreur(ouverture.Number));
    return false;
  }
  int nombre = 0;
  if (!Essaie([&] { nombre = db.TableDefs().Count(); })) return false;
  for (int i = 0; i < nombre; ++i) {
    etat.fenetre.LaisseVivre();
    std::string nom;
    bool utilisateur = false;
    if (!Essaie([&] {
          moteur::TableDef definition = db.TableDefs()[i];
          utilisateur = EstTableUtilisateur(definition);
          nom = definition.Name();
        }))
      continue;
    if (!utilisateur) continue;
    // A table that cannot even be opened cannot be read to its end either.
    IssueLecture issue = LitTable(db, nom);
    etat.compteurs.Table(nom).lus += issue.lus;
    JournaliseIllisibles(etat.journal, nom, issue);
    if (issue.nombreIllisibles > 0) resultat = false;
    long numero = issue.lecture != 0 ? issue.lecture : issue.ouverture;
    if (numero == 0) continue;
    etat.journal.EcritureJournal("Lecture de table " + nom + " " + std::to_string(numero) + " " +
                                 moteur::DescriptionErreur(static_cast<int>(numero)));
    resultat = false;
  }
  return resultat;
}

long LectureEnregMove(moteur::Database& db, const std::string& nomTable) { return LitTable(db, nomTable).lecture; }

bool VerificationEnregistrements(EtatReorganisation& etat, const std::string& chemin) {
  // The journal keeps the only trace of what the verification cuts or deletes: without it,
  // nothing is touched.
  if (!etat.journal.EcritureSure()) {
    etat.journal.EcritureJournal("#ERR# Erreur 3163 : le journal d'analyse ne peut pas être écrit, "
                                 "les enregistrements défectueux ne sont ni corrigés ni supprimés.");
    AfficheMessage("!#Une erreur (Réf 3163) a été détectée dans le fichier@en cours de vérification."
                   "@@Les enregistrements défectueux ne peuvent pas être corrigés :@le journal d'analyse,"
                   " qui seul garderait leurs valeurs,@ne peut pas être écrit.",
                   std::string("Compactage impossible"));
    return false;
  }
  // Only an explicit "Oui" lets the records be rewritten: a question that could not be shown
  // is no consent.
  if (AfficheMessage(QuestionVerification, std::string("Compactage impossible"), std::string("&Oui;+-&Non")) != 1)
    return false;
  etat.fenetre.LaisseVivre();

  Verification verification(etat, chemin);
  try {
    verification.Execute();
  } catch (const ArretRun& arret) {
    // Stopped between two records: what was done stays done, and the user must hear how much;
    // from the summary when the journal is what can no longer be written.
    const long corriges = verification.Corriges(), supprimes = verification.Supprimes(), laisses = verification.Laisses();
    etat.journal.EcritureJournal("#ERR# Vérification des enregistrements interrompue : " +
                                 BilanLigne(corriges, supprimes, laisses));
    if (arret.raison == RaisonArret::DisquePlein && corriges + supprimes + laisses > 0)
      AfficheMessage(Bilan(corriges, supprimes, laisses, true), std::string("Vérification terminée"),
                     std::string("Continuer"));
    throw;
  }

  if (verification.EspaceManquant() != 0) {
    // What was corrected before the disk filled up stays corrected; the user is told of it,
    // and the run ends on the disk's own lines rather than on a repair it could not finish.
    if (verification.Corriges() > 0 || verification.Supprimes() > 0 || verification.Laisses() > 0)
      AfficheMessage(Bilan(verification.Corriges(), verification.Supprimes(), verification.Laisses(), true),
                     std::string("Vérification terminée"), std::string("Continuer"));
    etat.journal.EcritureJournal(
        "#ERR# Espace disque insuffisant ! Veuillez libérer de la place sur votre disque dur !");
    etat.disquePlein = true;
    etat.derniereErreur = verification.EspaceManquant();
    return false;
  }
  if (verification.Laisses() > 0) {
    // The records still too long would fail the step again: the run stops here and says why.
    const long n = verification.Laisses();
    etat.journal.EcritureJournal("#ERR# " + std::to_string(n) +
                                 (n == 1 ? " enregistrement défectueux n'a pu être ni corrigé ni supprimé"
                                         : " enregistrements défectueux n'ont pu être ni corrigés ni supprimés") +
                                 " : la base ne peut pas être compactée.");
    AfficheMessage(Bilan(verification.Corriges(), verification.Supprimes(), n), std::string("Vérification terminée"),
                   std::string("Continuer"));
    return false;
  }
  if (verification.Corriges() > 0 || verification.Supprimes() > 0) {
    AfficheMessage(Bilan(verification.Corriges(), verification.Supprimes()), std::string("Vérification terminée"),
                   std::string("Continuer"));
    etat.fenetre.LaisseVivre();
    return true;
  }
  AfficheMessage(
      "!#La vérification n'a détecté aucun"
      "@enregistrement défectueux."
      "@@Le fichier vérifié est endommagé et ne"
      "@peut pas être compacté par ce module.",
      std::string("Vérification terminée"));
  return false;
}

}  // namespace utireorg

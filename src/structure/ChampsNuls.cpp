#include "structure/ChampsNuls.h"

#include <optional>

#include "common/BaseDonnees.h"
#include "journal/Journal.h"
#include "structure/Interne.h"

namespace utireorg {

using moteur::Essaie;
using namespace structure;

namespace {

std::string_view SansBlancs(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The expression without the "=" a user may have typed in front of it.
std::string_view Expression(std::string_view defaut) {
  std::string_view s = SansBlancs(defaut);
  if (!s.empty() && s.front() == '=') s = SansBlancs(s.substr(1));
  return s;
}

}  // namespace

void ListeRemplissage::Vide() {
  entrees_.clear();
  nombre_ = 0;
}

void ListeRemplissage::Inscrit(std::string champ, std::string valeur) {
  ++nombre_;
  if (nombre_ > CapaciteRemplissage) return;
  entrees_.push_back({std::move(champ), std::move(valeur)});
}

std::string TexteDuDefaut(std::string_view defaut) {
  std::string_view s = Expression(defaut);
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    const char guillemet = s.front();
    std::string texte;
    for (std::size_t i = 1; i + 1 < s.size(); ++i) {
      texte += s[i];
      if (s[i] == guillemet && i + 2 < s.size() && s[i + 1] == guillemet) ++i;
    }
    return texte;
  }
  return std::string(s);
}

std::string ValeurRemplissage(int type, std::string_view defaut) {
  if (!moteur::EstTypeTexte(type)) return std::string(Expression(defaut));
  // An apostrophe inside the text is doubled: left single, it would end the literal early and
  // the rest of the default would be read as SQL.
  std::string litteral = "'";
  for (char c : TexteDuDefaut(defaut)) {
    litteral += c;
    if (c == '\'') litteral += '\'';
  }
  return litteral + "'";
}

void InscritChampNul(ListeRemplissage& liste, const moteur::Field& champ) {
  std::string nom, defaut;
  int type = 0;
  if (!Essaie([&] {
        nom = champ.Name();
        type = champ.Type();
        defaut = champ.DefaultValue();
      }))
    return;
  liste.Inscrit(nom, ValeurRemplissage(type, defaut));
}

std::string InstructionRemplissage(std::string_view table, const EntreeRemplissage& entree) {
  // The table name is bracketed like the field's: a name with a blank would otherwise make the
  // statement fail and leave the nulls in place.
  return "UPDATE [" + std::string(table) + "] SET [" + entree.champ + "] = " + entree.valeur + " WHERE ISNULL([" +
         entree.champ + "])";
}

void RemplitNouveauChamp(const moteur::Field& champ, std::string_view table, moteur::Database& cible) {
  if (!Ouverte(cible)) return;
  ListeRemplissage une;
  InscritChampNul(une, champ);
  for (const auto& entree : une.Entrees())
    Essaie([&] { cible.Execute(InstructionRemplissage(table, entree), moteur::dbFailOnError); });
}

void RemplitChampsNuls(const ListeRemplissage& liste, std::string_view table, moteur::Database& cible) {
  if (!Ouverte(cible)) return;
  std::vector<const EntreeRemplissage*> refusees;
  for (const auto& entree : liste.Entrees()) {
    auto r = Essaie([&] { cible.Execute(InstructionRemplissage(table, entree), moteur::dbFailOnError); });
    if (r.Number == moteur::err::ChampRequis) refusees.push_back(&entree);
  }
  // Two fields made required in the same table hold each other's records back: each statement
  // is refused for the nulls the other one leaves. One statement fills them together.
  if (refusees.size() < 2) return;
  std::string affectations, conditions;
  for (const auto* e : refusees) {
    affectations += (affectations.empty() ? "" : ", ") + ("[" + e->champ + "] = NZ([" + e->champ + "], " + e->valeur + ")");
    conditions += (conditions.empty() ? "" : " OR ") + ("ISNULL([" + e->champ + "])");
  }
  Essaie([&] {
    cible.Execute("UPDATE [" + std::string(table) + "] SET " + affectations + " WHERE " + conditions, moteur::dbFailOnError);
  });
}

namespace {

struct ChampRequis {
  std::string nom;
  moteur::Valeur valeur;  // the default, as a new record would get it; Null when there is none
  std::optional<moteur::Field> champ;  // on the recordset, once found
};

// The required fields of a table, read once for all its records. A text takes its default's text;
// any other type takes its default as the engine evaluates it for a new record, so that "Date()"
// or "#01/02/2020#" give a date and a field without default gives nothing.
std::vector<ChampRequis> ChampsRequis(const moteur::TableDef& table) {
  std::vector<ChampRequis> champs;
  int nombre = 0;
  if (!Essaie([&] { nombre = table.Fields().Count(); })) return champs;
  for (int k = 0; k < nombre; ++k) {
    Essaie([&] {
      moteur::Field champ = table.Fields()[k];
      if (!champ.Required()) return;
      const std::string defaut = champ.DefaultValue();
      const int type = champ.Type();
      champs.push_back({champ.Name(),
                        moteur::EstTypeTexte(type) ? moteur::Valeur(TexteDuDefaut(defaut)) : moteur::ValeurParDefaut(defaut, type),
                        std::nullopt});
    });
  }
  return champs;
}

// Each required field's handle on the recordset, looked up by name once for the whole table: a
// look-up per field and per record cost more than reading the record. A field the recordset
// lacks gets no handle and is passed over, as each of its look-ups would fail.
void TrouveChamps(moteur::Recordset& rs, std::vector<ChampRequis>& champs) {
  for (auto& champ : champs) Essaie([&] { champ.champ = rs[champ.nom]; });
}

// What became of one record's null required fields.
struct Correction {
  bool edite = false;                  // the record is in edit mode with values to store
  std::vector<const ChampRequis*> mis;  // the fields given a value
  int refus = 0;                       // the error of the first field left null, 0 when none
  std::string champRefuse;
};

// One record: every required field that holds a null gets its default. A field without a default
// the record can take keeps its null, and the record cannot be stored.
Correction CorrigeEnregistrement(EtatReorganisation& etat, moteur::Recordset& rs, std::vector<ChampRequis>& champs,
                                 const std::string& nomTable) {
  Correction c;
  for (auto& champ : champs) {
    bool nul = false;
    if (champ.champ && Essaie([&] { nul = champ.champ->Value().EstNul(); }) && nul) {
      etat.journal.EcritureJournal("Champ nul rencontré :'" + nomTable + "." + champ.nom + "'... champ mis à jour !");
      auto r = champ.valeur.EstNul() ? moteur::Resultat{moteur::err::ChampRequis, {}} : Essaie([&] {
        if (rs.EditMode() == 0) rs.Edit();
        c.edite = true;
        champ.champ->SetValue(champ.valeur);
      });
      if (r) {
        c.mis.push_back(&champ);
      } else if (c.refus == 0) {
        c.refus = r.Number;
        c.champRefuse = champ.nom;
      }
    }
    etat.fenetre.LaisseVivre();
  }
  return c;
}

// The line above said the field was updated: a refusal must follow it, or a record still holding
// its null would read as corrected.
void SignaleNonMisAJour(EtatReorganisation& etat, int numero, const std::string& champ, const std::string& nomTable) {
  etat.journal.EcritureJournal("#ERR# Erreur :" + std::to_string(numero) + " " +
                               moteur::DescriptionErreur(numero, {champ}) + " : enregistrement de " + nomTable +
                               " non mis à jour.");
}

// After the store, each value given is read back: a value the engine did not keep is not a correction.
const ChampRequis* ValeurNonGardee(const Correction& c) {
  for (const auto* champ : c.mis) {
    bool nul = true;
    if (!Essaie([&] { nul = champ->champ->Value().EstNul(); }) || nul) return champ;
  }
  return nullptr;
}

void CorrigeTable(EtatReorganisation& etat, moteur::Database& cible, const moteur::TableDef& table,
                  const std::string& nomTable) {
  moteur::Recordset rs;
  if (!Essaie([&] {
        rs = OuvreTable(cible, nomTable);
        rs.SetLockEdits(false);
      })) {
    FermeTable(rs);
    return;
  }
  std::vector<ChampRequis> champs = ChampsRequis(table);
  TrouveChamps(rs, champs);
  if (!champs.empty() && !TableVide(rs)) {
    Essaie([&] { rs.MoveFirst(); });
    for (;;) {
      bool fin = true;
      if (!Essaie([&] { fin = rs.Eof(); }) || fin) break;
      Correction c = CorrigeEnregistrement(etat, rs, champs, nomTable);
      if (c.refus != 0) {
        SignaleNonMisAJour(etat, c.refus, c.champRefuse, nomTable);
        Essaie([&] {
          if (rs.EditMode() != 0) rs.CancelUpdate();
        });
      } else if (c.edite) {
        if (MiseAJour(rs, true) == 0) {
          Essaie([&] { rs.SetBookmark(rs.LastModified()); });
          if (const ChampRequis* perdu = ValeurNonGardee(c)) SignaleNonMisAJour(etat, moteur::err::ChampRequis, perdu->nom, nomTable);
        } else {
          SignaleNonMisAJour(etat, ErreurDerniereEcriture(), {}, nomTable);
          // Back to the record as stored; going back to the last record stored would visit
          // this one again, and again.
          Essaie([&] { rs.CancelUpdate(); });
        }
      }
      if (!Essaie([&] { rs.MoveNext(); })) break;
    }
  }
  FermeTable(rs);
}

}  // namespace

void VerificationChampsNuls(EtatReorganisation& etat, moteur::Database& cible) {
  SignaleAvancement("Vérification des enregistrements nuls (le traitement peut durer plusieurs minutes) ...");
  etat.journal.AffichageAvancement("Vérification des enregistrements nuls", "");
  etat.journal.SectionJournal("Vérification des enregistrements nuls");
  int nombre = 0;
  if (Ouverte(cible)) Essaie([&] { nombre = cible.TableDefs().Count(); });
  etat.fenetre.ProgressValeur(0);
  etat.fenetre.ProgressMaximum(nombre);
  for (int position = 0; position < nombre && Ouverte(cible); ++position) {
    moteur::TableDef table;
    std::string nom;
    long long attributs = 0;
    if (Essaie([&] {
          table = cible.TableDefs()[position];
          nom = table.Name();
          attributs = table.Attributes();
        }) &&
        !EstSysteme(attributs))
      CorrigeTable(etat, cible, table, nom);
    AvanceProgression(etat.fenetre);
  }
}

}  // namespace utireorg

#include "structure/ChampsNuls.h"

#include <optional>

#include "bases/BaseDonnees.h"
#include "journal/Journal.h"
#include "journal/TexteValeur.h"
#include "moteur/Noms.h"
#include "structure/Interne.h"
#include "texte/Texte.h"

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
  return texte::CiteLitteral(TexteDuDefaut(defaut));
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
  const std::string champ = texte::CiteCrochets(entree.champ);
  return "UPDATE " + texte::CiteCrochets(table) + " SET " + champ + " = " + entree.valeur + " WHERE ISNULL(" + champ +
         ")";
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
    const std::string champ = texte::CiteCrochets(e->champ);
    affectations += (affectations.empty() ? "" : ", ") + (champ + " = NZ(" + champ + ", " + e->valeur + ")");
    conditions += (conditions.empty() ? "" : " OR ") + ("ISNULL(" + champ + ")");
  }
  Essaie([&] {
    cible.Execute("UPDATE " + texte::CiteCrochets(table) + " SET " + affectations + " WHERE " + conditions,
                  moteur::dbFailOnError);
  });
}

namespace {

struct ChampRequis {
  std::string nom;
  moteur::Valeur valeur;  // the default, as a new record would get it; Null when there is none
  std::string defaut;     // the default as the definition writes it, for the journal
  int refus = 0;          // the error the field gives that value (or its Null), 0 when it takes it
  std::optional<moteur::Field> champ;  // on the recordset, once found
};

// The error a required field gives its fill value, found once for the table: no value at all, an
// empty text the field does not allow, a text longer than the field.
int RefusDuChamp(const moteur::Field& champ, const moteur::Valeur& valeur) {
  if (valeur.EstNul()) return moteur::err::ChampRequis;
  if (!moteur::EstTypeTexte(champ.Type())) return 0;
  const std::string& texte = valeur.texte();
  if (texte.empty() && !champ.AllowZeroLength()) return moteur::err::ChaineVideInterdite;
  if (champ.Type() == moteur::dbText && texte::NombreCaracteres(texte) > static_cast<std::size_t>(champ.Size()))
    return moteur::err::ValeurTropLongue;
  return 0;
}

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
      moteur::Valeur valeur =
          moteur::EstTypeTexte(type) ? moteur::Valeur(TexteDuDefaut(defaut)) : moteur::ValeurParDefaut(defaut, type);
      const int refus = RefusDuChamp(champ, valeur);
      champs.push_back({champ.Name(), std::move(valeur), defaut, refus, std::nullopt});
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

// What one record of the table is: its name in the journal and its required fields left Null.
struct Enregistrement {
  const std::string& table;
  std::string cle;
  std::vector<ChampRequis*> nuls;
};

std::string Debut(const Enregistrement& e) { return "#ERR# Table : " + e.table + ", enregistrement " + e.cle; }

// The record is not stored: every field named stays Null.
void SignaleRestesNuls(EtatReorganisation& etat, const Enregistrement& e) {
  std::string noms;
  for (const auto* champ : e.nuls) noms += (noms.empty() ? "'" : ", '") + champ->nom + "'";
  etat.journal.EcritureJournal(Debut(e) + " non mis à jour, champs restés nuls : " + noms + ".");
}

// A field whose Null nothing can replace keeps the whole record from being stored, as every
// required field must hold a value for it to be: said field by field, with why.
bool SignaleBloquants(EtatReorganisation& etat, const Enregistrement& e) {
  bool bloque = false;
  for (const auto* champ : e.nuls) {
    if (champ->refus == 0) continue;
    bloque = true;
    const std::string valeur = champ->valeur.EstNul() ? std::string("sans valeur par défaut")
                                                      : "valeur par défaut " + TexteValeurJournal(champ->valeur);
    etat.journal.EcritureJournal(Debut(e) + ", champ '" + champ->nom + "', " + valeur + " : Erreur :" +
                                 std::to_string(champ->refus) + " " + moteur::DescriptionErreur(champ->refus, {champ->nom}));
  }
  if (bloque) SignaleRestesNuls(etat, e);
  return bloque;
}

// Every Null of the record given its field's default and stored; a line per value really kept.
void RemplitEnregistrement(EtatReorganisation& etat, moteur::Recordset& rs, const Enregistrement& e) {
  auto r = Essaie([&] {
    rs.Edit();
    for (auto* champ : e.nuls) champ->champ->SetValue(champ->valeur);
  });
  if (r && !MiseAJour(rs, Signalement::Silencieux)) {
    // Stored once more only to learn what the engine refuses: the guarded write keeps its number.
    r = Essaie([&] { rs.Update(); });
  }
  if (!r) {
    etat.journal.EcritureJournal(Debut(e) + " : Erreur :" + std::to_string(r.Number) + " " + EchappeJournal(r.Description));
    SignaleRestesNuls(etat, e);
    // Back to the record as stored; going back to the last record stored would visit it again.
    Essaie([&] {
      if (rs.EditMode() != 0) rs.CancelUpdate();
    });
    return;
  }
  Essaie([&] { rs.SetBookmark(rs.LastModified()); });
  for (const auto* champ : e.nuls) {
    bool nul = true;
    if (Essaie([&] { nul = champ->champ->Value().EstNul(); }) && !nul)
      etat.journal.EcritureJournal("Champ nul rencontré :'" + e.table + "." + champ->nom + "'... champ mis à jour !");
    else
      etat.journal.EcritureJournal(Debut(e) + ", champ '" + champ->nom + "' : la valeur " +
                                   TexteValeurJournal(champ->valeur) + " n'a pas été gardée, le champ reste nul.");
  }
}

// One record: every required field that holds a null gets its default, when all of them can.
void CorrigeEnregistrement(EtatReorganisation& etat, moteur::Recordset& rs, std::vector<ChampRequis>& champs,
                           Enregistrement& e) {
  for (auto& champ : champs) {
    bool nul = false;
    if (champ.champ && Essaie([&] { nul = champ.champ->Value().EstNul(); }) && nul) e.nuls.push_back(&champ);
    etat.fenetre.LaisseVivre();
  }
  if (e.nuls.empty() || SignaleBloquants(etat, e)) return;
  RemplitEnregistrement(etat, rs, e);
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
  const std::vector<std::string> cle = ChampsCle(table);
  if (!champs.empty() && !TableVide(rs)) {
    Essaie([&] { rs.MoveFirst(); });
    for (long long position = 1;; ++position) {
      bool fin = true;
      if (!Essaie([&] { fin = rs.Eof(); }) || fin) break;
      Enregistrement e{nomTable, CleEnregistrement(rs, cle, position), {}};
      CorrigeEnregistrement(etat, rs, champs, e);
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

// Required fields left null: the fill statements run for the fields the verification has just
// made required, and the pass that gives every null required value its field's default.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/EtatReorganisation.h"
#include "moteur/Moteur.h"

namespace utireorg {

// Fields registered for one table; beyond this many, registrations are counted and dropped.
inline constexpr int CapaciteRemplissage = 100;

struct EntreeRemplissage {
  std::string champ;
  std::string valeur;  // SQL text of the fill value
};

class ListeRemplissage {
 public:
  void Vide();
  void Inscrit(std::string champ, std::string valeur);
  int Nombre() const { return nombre_; }  // registrations, stored or not
  const std::vector<EntreeRemplissage>& Entrees() const { return entrees_; }

 private:
  std::vector<EntreeRemplissage> entrees_;
  int nombre_ = 0;
};

// The text of a Text or Memo field's default expression: '"N"' and "N" give N, '"a""b"' gives
// a"b; an optional leading "=" and surrounding blanks are left out.
std::string TexteDuDefaut(std::string_view defaut);

// The SQL fill value of a field of this type with this default expression: a text literal
// between apostrophes for Text and Memo, the expression itself for the other types.
std::string ValeurRemplissage(int type, std::string_view defaut);

// Registers a target field for null filling, with the fill value of its type and default.
void InscritChampNul(ListeRemplissage& liste, const moteur::Field& champ);

// "UPDATE [table] SET [champ] = valeur WHERE ISNULL([champ])"
std::string InstructionRemplissage(std::string_view table, const EntreeRemplissage& entree);

// Runs at once the fill statement of a field just added to a table that holds records: each new
// required field filled as it comes, no statement is refused for the nulls of the next ones, and
// a rebuild of the table that follows finds values to copy.
void RemplitNouveauChamp(const moteur::Field& champ, std::string_view table, moteur::Database& cible);

// Runs the statement of every stored entry; one the engine rejects is passed over.
void RemplitChampsNuls(const ListeRemplissage& liste, std::string_view table, moteur::Database& cible);

// Reads every record of every user table and gives each null required value the field's
// default, with one journal line per value.
void VerificationChampsNuls(EtatReorganisation& etat, moteur::Database& cible);

}  // namespace utireorg

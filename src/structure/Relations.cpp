#include <string>
#include <vector>

#include "journal/Journal.h"
#include "moteur/Noms.h"
#include "structure/Interne.h"
#include "structure/Structure.h"

namespace utireorg {

using moteur::Essaie;
using namespace structure;

namespace {

std::string ListeNoms(const std::vector<std::string>& noms) {
  if (noms.empty()) return "aucune";
  std::string liste;
  for (const auto& nom : noms) liste += (liste.empty() ? "'" : ", '") + nom + "'";
  return liste;
}

// Dropping every relation before rebuilding them means that a failure leaves the target with
// fewer relations than it had: the user must learn which ones.
void SignaleRelations(EtatReorganisation& etat, const std::string& action, const std::string& nom,
                      const std::string& description, const std::vector<std::string>& absentes) {
  std::string cause = description;
  while (!cause.empty() && (cause.back() == '.' || cause.back() == ' ')) cause.pop_back();
  etat.journal.EcritureJournal("#ERR# Relation '" + nom + "' " + action + " (" + cause +
                               "). Relations absentes de la base : " + ListeNoms(absentes) + ".");
}

}  // namespace

std::vector<RelationGardee> structure::RelationsDeLaTable(moteur::Database& base, const std::string& table) {
  std::vector<RelationGardee> gardees;
  int nombre = 0;
  Essaie([&] { nombre = base.Relations().Count(); });
  for (int k = 0; k < nombre; ++k) {
    Essaie([&] {
      moteur::Relation r = base.Relations()[k];
      RelationGardee g{r.Name(), r.Table(), r.ForeignTable(), r.Attributes(), {}};
      if (!moteur::MemeNom(g.table, table) && !moteur::MemeNom(g.tableEtrangere, table)) return;
      const int champs = r.Fields().Count();
      for (int c = 0; c < champs; ++c) g.champs.emplace_back(r.Fields()[c].Name(), r.Fields()[c].ForeignName());
      gardees.push_back(std::move(g));
    });
  }
  return gardees;
}

moteur::Resultat structure::RetablitRelation(moteur::Database& base, const RelationGardee& g) {
  return Essaie([&] {
    moteur::Relation relation = base.CreateRelation(g.nom, g.table, g.tableEtrangere, g.attributs);
    for (const auto& [nom, etranger] : g.champs) {
      moteur::Field champ = relation.CreateField(nom);
      champ.SetForeignName(etranger);
      relation.Fields().Append(champ);
    }
    base.Relations().Append(relation);
  });
}

void VerificationRelations(EtatReorganisation& etat, moteur::Database& modele, moteur::Database& cible) {
  if (!etat.flagVerifRelation) return;
  etat.journal.AffichageAvancement("Vérification des relations", "");
  etat.journal.SectionJournal("Vérification des relations");
  if (!Ouverte(modele) || !Ouverte(cible)) return;

  // The target's own relations go first; the model's are then rebuilt one by one.
  std::vector<std::string> supprimees;
  int nombre = 0;
  Essaie([&] { nombre = cible.Relations().Count(); });
  for (int k = 0; k < nombre; ++k) {
    std::string nom;
    auto r = Essaie([&] {
      nom = cible.Relations()[0].Name();
      cible.Relations().Delete(nom);
    });
    if (!r) {
      SignaleRelations(etat, "non supprimée", nom, r.Description, supprimees);
      return;
    }
    supprimees.push_back(nom);
  }

  std::vector<std::string> aRetablir;
  int nombreModele = 0;
  Essaie([&] { nombreModele = modele.Relations().Count(); });
  for (int k = 0; k < nombreModele; ++k) {
    std::string nom;
    Essaie([&] { nom = modele.Relations()[k].Name(); });
    aRetablir.push_back(nom);
  }
  for (int k = 0; k < nombreModele; ++k) {
    auto r = Essaie([&] {
      moteur::Relation source = modele.Relations()[k];
      moteur::Relation relation = cible.CreateRelation(source.Name());
      relation.SetTable(source.Table());
      relation.SetForeignTable(source.ForeignTable());
      relation.SetAttributes(source.Attributes());
      int champs = source.Fields().Count();
      for (int c = 0; c < champs; ++c) {
        moteur::Field champSource = source.Fields()[c];
        moteur::Field champ = relation.CreateField(champSource.Name());
        champ.SetForeignName(champSource.ForeignName());
        relation.Fields().Append(champ);
        etat.fenetre.LaisseVivre();
      }
      cible.Relations().Append(relation);
      etat.fenetre.LaisseVivre();
    });
    if (r) ++etat.compteurs.relationsCreees;
    if (!r) {
      SignaleRelations(etat, "non recréée", aRetablir[k],
                       r.Description, std::vector<std::string>(aRetablir.begin() + k, aRetablir.end()));
      return;
    }
  }
}

}  // namespace utireorg

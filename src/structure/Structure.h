// Structure verification: brings the target database up to the model's tables, fields,
// indexes, dictionary properties and relations, and purges leftover temporary tables.
#pragma once

#include <functional>
#include <string>

#include "common/EtatReorganisation.h"

namespace utireorg {

void VerificationStructure(EtatReorganisation& etat, const std::string& cheminCible, moteur::Database& cible,
                           const std::string& libelle = {});
void EffaceTablesTemporaires(EtatReorganisation& etat);
void VerificationRelations(EtatReorganisation& etat, moteur::Database& modele, moteur::Database& cible);

// The model database of a target: the file of the same name one folder level higher
// ("/a/b/c/x.mdb" gives "/a/b/x.mdb"); empty when the path holds fewer than two "/".
std::string CheminBaseModele(const std::string& cheminCible);

// Both databases are closed and opened again after every this many model tables, so that the
// engine never holds the whole walk's work in one session.
inline constexpr int TablesParOuverture = 20;

// Told, after each periodic reopening, the position of the model table just verified: lets the
// tests watch the reopenings. An empty function removes the observer.
using ObservateurReouverture = std::function<void(int position)>;
void DefinitObservateurReouverture(ObservateurReouverture observateur);

}  // namespace utireorg

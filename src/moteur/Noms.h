// Names of tables, fields and other objects: how they are compared and checked.
#pragma once

#include <string>
#include <string_view>

#include "texte/Texte.h"

namespace moteur {

// How the engine compares names ("Priorité" and "PRIORITÉ" are one name), quotes them for
// SQLite and reads their UTF-8: the shared text rules, which the engine's code reads unqualified.
using texte::CiteIdent;
using texte::CiteLitteral;
using texte::EcritCaractere;
using texte::LitCaractere;
using texte::MemeNom;
using texte::NombreCaracteres;
using texte::PlieNom;
using texte::PremiersCaracteres;
using texte::Utf8Valide;

// Object names: 1 to 64 characters, no leading space, none of . ! ` [ ] and no control character.
bool NomValide(std::string_view nom);
void VerifieNom(std::string_view nom);  // throws 3125

// A name or value read from a file, fit to be shown on one line of a message or journal: control
// characters and bytes that are no UTF-8 are written as escapes (\n, \x1B…), the backslash doubled.
std::string Affichable(std::string_view texte);

}  // namespace moteur

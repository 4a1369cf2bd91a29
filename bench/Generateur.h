// Jeux de bases des mesures : une base modèle et une base cible de T tables de R enregistrements,
// faites comme celles d'un dossier du logiciel (propriétés du dictionnaire, clé primaire, textes
// accentués de longueurs variées), avec les quelques défauts qu'une réorganisation doit traiter.
//
// La structure, les propriétés et les enregistrements défectueux passent par le moteur ; les
// enregistrements ordinaires sont écrits par SQLite directement, en une transaction par table,
// les règles d'écriture du moteur (des déclencheurs du fichier) les contrôlant au passage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "moteur/Moteur.h"

namespace banc {

// Ce qui distingue une table de mesure de sa voisine ; par défaut, une table ordinaire.
struct OptionsTable {
  bool dictionnaire = true;          // "NomClair" de la table, dictionnaire de chaque champ
  bool champRemarque = false;        // champ "Remarque" (Texte 100), que seul le modèle a
  bool indexNom = false;             // index "Nom", que seul le modèle a
  const char* nomClairLibelle = "Libellé";
};

// Champs de toute table de mesure, dans l'ordre : Numero (clé primaire), Code (requis), Nom,
// Libelle, Montant, Quantite (requis), Taux, Creation, Actif, Notes (Mémo, souvent Null).
void DefinitTable(moteur::Database& base, const std::string& nom, const OptionsTable& options = {});

// Écrit les enregistrements numérotés de `premier` à `premier + n - 1` dans une table créée par
// DefinitTable, toujours les mêmes pour la même graine.
void RemplitTable(const std::string& chemin, const std::string& table, long long premier, long long n,
                  std::uint64_t graine);

// Un jeu généré : dossier/Gestion.mdb (le modèle, tables vides) et dossier/Dossier1/Gestion.mdb
// (la cible), placés comme la vérification de structure les cherche.
struct JeuDeBases {
  std::string dossier, modele, cible;
  int tables = 0;                  // tables de données, sans la table temporaire
  long long enregistrements = 0;   // par table de données
  std::vector<std::string> nomsTables;
};

inline constexpr const char* NomTableTemporaire = "TmpImport";
inline constexpr int TableTexteTropLong = 0;   // un Nom de 60 caractères pour 50 permis (3163)
inline constexpr int NulsRequisParTable = 5;   // Code Null dans les tables 1 et 2
inline constexpr int TableSansRemarque = 3;    // le modèle a le champ "Remarque", pas la cible
inline constexpr int TableSansIndexNom = 4;    // le modèle a l'index "Nom", pas la cible
inline constexpr int TableNomClairAncien = 5;  // "NomClair" du Libelle différent du modèle

JeuDeBases GenereJeu(const std::string& dossier, int tables, long long enregistrements);
// Le jeu que GenereJeu a laissé dans ce dossier (lu dans son fichier « jeu.txt »).
JeuDeBases LitJeu(const std::string& dossier);

}  // namespace banc

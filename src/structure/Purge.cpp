#include "structure/Purge.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "common/Ansi.h"
#include "bases/BaseDonnees.h"
#include "common/Chemins.h"
#include "journal/Journal.h"
#include "messages/GestionErreur.h"
#include "structure/Interne.h"
#include "structure/Structure.h"
#include "texte/Texte.h"

namespace utireorg {

using moteur::Essaie;
using namespace structure;
namespace fs = std::filesystem;

namespace {

// A file name folded as the software saw it, in code page 1252, the character set its file names
// were written in: letters fold together, and characters the code page lacks are all one "?".
std::string Minuscules(std::string_view utf8) { return VersAnsi(texte::PlieNom(utf8)); }

bool EstFichier(const fs::path& chemin) {
  std::error_code e;
  return fs::is_regular_file(chemin, e);
}

constexpr std::array<std::string_view, 13> ProprietesNonCopiees = {
    "Name",         "Updatable",  "DateCreated",     "LastUpdated",    "Connect",       "Attributes", "SourceTableName",
    "RecordCount",  "ValidationRule", "ValidationText", "ConflictTable", "ReplicaFilter", "OrderByOn"};

std::string Majuscules3(const std::string& nom) { return texte::Majuscules(nom.substr(0, 3), texte::Pliage::Ascii); }

}  // namespace

std::string structure::FichierSansCasse(const std::string& dossier, const std::string& nom) {
  fs::path exact = fs::path(dossier.empty() ? std::string(".") : dossier) / nom;
  if (EstFichier(exact)) return exact.string();
  // The software's files come from a system where case did not count: "Compta.mdb" is the file
  // asked for as "Compta.MDB".
  const std::string cherche = Minuscules(nom);
  std::vector<fs::path> candidats;
  std::error_code e;
  for (fs::directory_iterator it(exact.parent_path(), e), fin; !e && it != fin; it.increment(e)) {
    if (Minuscules(it->path().filename().string()) == cherche && EstFichier(it->path())) candidats.push_back(it->path());
  }
  if (candidats.empty()) return {};
  std::sort(candidats.begin(), candidats.end());
  return candidats.front().string();
}

std::string CheminBaseReference(const EtatReorganisation& etat) {
  return FichierSansCasse(Dossier(etat.fenetre.Saisie(saisie::Modele)), etat.nomLogiciel + ".MDB");
}

void EffaceTablesTemporaires(EtatReorganisation& etat) {
  const std::string contexte = etat.fenetre.Legende() + " (ETT)";
  etat.journal.SectionJournal("Purge des tables temporaires");

  // Without its reference a temporary table cannot be told from one the software keeps: the
  // purge deletes nothing then.
  std::string cheminReference = CheminBaseReference(etat);
  if (cheminReference.empty()) {
    std::string attendu = Dossier(etat.fenetre.Saisie(saisie::Modele)) + etat.nomLogiciel + ".MDB";
    GestionErreur(contexte, moteur::err::FichierIntrouvable, moteur::DescriptionErreur(moteur::err::FichierIntrouvable, {attendu}));
    return;
  }
  moteur::Database reference;
  try {
    reference = OuvreBase(cheminReference);
  } catch (const moteur::ErreurMoteur& e) {
    GestionErreur(contexte, e);
    return;
  }

  moteur::Database& cible = etat.baseCourante;
  int i = 0;
  for (;;) {
    int nombre = 0;
    if (!Ouverte(cible)) {
      GestionErreur(contexte, moteur::err::ObjetInvalide, "Objet non valide ou qui n'est plus défini.");
      break;
    }
    auto r = Essaie([&] { nombre = cible.TableDefs().Count(); });
    if (!r) {
      GestionErreur(contexte, r);
      break;
    }
    if (i >= nombre) break;
    std::string nom;
    r = Essaie([&] { nom = cible.TableDefs()[i].Name(); });
    if (!r) {
      GestionErreur(contexte, r);
      ++i;
      continue;
    }
    if (Majuscules3(nom) != "TMP") {
      ++i;
      continue;
    }
    etat.journal.EcritureJournal("Purge table " + nom);
    // Only a table the reference is known to define goes: a lookup that fails for any other
    // reason than its absence proves nothing.
    bool connue = Essaie([&] { reference.TableDefs()[nom].Name(); }).Number == 0;
    if (!connue) {
      ++i;
      continue;
    }
    // The engine takes the table's relations with it: the journal names each one.
    const std::vector<RelationGardee> relations = RelationsDeLaTable(cible, nom);
    if (!SupprimeTable(cible, nom, Signalement::Silencieux)) {
      ++i;
      continue;
    }
    ++etat.compteurs.tablesPurgees;
    for (const auto& relation : relations)
      etat.journal.EcritureJournal("#ALERT# Relation '" + relation.nom + "' supprimée avec la table " + nom + ".");
  }
  FermeBase(reference);
}

void ParametresVerifDataBase(EtatReorganisation&, const std::string&, moteur::Database&, moteur::Database&,
                             bool& proprietesChampsGeneriques, bool& proprietesTable, std::vector<std::string>&) {
  proprietesChampsGeneriques = false;
  proprietesTable = false;
}

void InitFlagVerifDataBase(EtatReorganisation& etat, const std::string& cheminCible, moteur::Database& modele,
                           moteur::Database& cible, bool& proprietesChampsGeneriques, bool& proprietesTable,
                           std::string& exclusions) {
  proprietesChampsGeneriques = false;
  proprietesTable = false;
  exclusions.clear();
  std::vector<std::string> tables;
  try {
    ParametresVerifDataBase(etat, cheminCible, modele, cible, proprietesChampsGeneriques, proprietesTable, tables);
  } catch (...) {
    tables.clear();
  }
  // No list at all means the software said nothing: nothing is widened either.
  if (tables.empty()) {
    proprietesChampsGeneriques = false;
    proprietesTable = false;
    return;
  }
  for (const auto& nom : tables) {
    if (nom.empty()) continue;
    if (exclusions.empty()) exclusions = "@";
    exclusions += nom + "@";
  }
}

bool IsPropTableATraiter(std::string_view nomProp) {
  return std::find(ProprietesNonCopiees.begin(), ProprietesNonCopiees.end(), nomProp) == ProprietesNonCopiees.end();
}

}  // namespace utireorg

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

namespace utireorg {

using moteur::Essaie;
using namespace structure;
namespace fs = std::filesystem;

namespace {

// Lower case in code page 1252, the character set the software's file names were written in.
std::string Minuscules(std::string_view utf8) {
  std::string ansi = VersAnsi(utf8);
  for (char& c : ansi) {
    auto o = static_cast<unsigned char>(c);
    if ((o >= 'A' && o <= 'Z') || (o >= 0xC0 && o <= 0xDE && o != 0xD7)) o += 0x20;
    else if (o == 0x8A || o == 0x8C || o == 0x8E) o += 0x10;
    else if (o == 0x9F) o = 0xFF;
    c = static_cast<char>(o);
  }
  return ansi;
}

bool EstFichier(const fs::path& chemin) {
  std::error_code e;
  return fs::is_regular_file(chemin, e);
}

constexpr std::array<std::string_view, 13> ProprietesNonCopiees = {
    "Name",         "Updatable",  "DateCreated",     "LastUpdated",    "Connect",       "Attributes", "SourceTableName",
    "RecordCount",  "ValidationRule", "ValidationText", "ConflictTable", "ReplicaFilter", "OrderByOn"};

std::string Majuscules3(const std::string& nom) {
  std::string debut = nom.substr(0, 3);
  for (char& c : debut)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return debut;
}

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
      GestionErreur(contexte, 3420, "Objet non valide ou qui n'est plus défini.");
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

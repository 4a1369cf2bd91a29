// The check of a database: the engine's integrity check, then every record read as its fields'
// types and held against the rules a normal write would have enforced.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <ostream>
#include <regex>
#include <sstream>
#include <vector>

#include "Outil.h"
#include "moteur/Noms.h"
#include "texte/Texte.h"

namespace outil {

using moteur::ErreurMoteur;
using moteur::Valeur;

namespace {

struct Regles {
  std::string nom;
  int type = 0;
  int taille = 0;
  bool requis = false;
  bool chaineVide = true;
  bool compteur = false;
};

std::string Ou(const std::string& table, long long position, const std::string& champ) {
  return "Table '" + table + "', enregistrement " + std::to_string(position) + ", champ '" + champ + "' : ";
}

std::string NumeroErreur(int numero) { return " (erreur " + std::to_string(numero) + ")."; }

// A Yes/No holds -1 or 0: the engine never writes Null or another number there, and reads them
// as No and Yes. Another program did: the check says what is stored and how it reads.
void ControleOuiNon(const Valeur& stockee, const std::string& ou, std::vector<std::string>& problemes) {
  if (stockee.EstNulOuVide()) {
    problemes.push_back(ou + "valeur Null dans un champ Oui/Non, qui n'en tient jamais ; lue Faux.");
    return;
  }
  if (stockee.genre() == Valeur::Genre::Entier && stockee.entier() != 0 && stockee.entier() != -1)
    problemes.push_back(ou + "valeur " + std::to_string(stockee.entier()) +
                        " dans un champ Oui/Non, qui ne tient que -1 (Vrai) ou 0 (Faux) ; lue Vrai.");
}

// What a normal write would have refused, for a value that could be read.
void ControleValeur(const Regles& r, const Valeur& v, const std::string& ou, std::vector<std::string>& problemes) {
  if (v.EstNulOuVide()) {
    if (r.requis && !r.compteur)
      problemes.push_back(ou + "valeur Null dans un champ requis" + NumeroErreur(moteur::err::ChampRequis));
    return;
  }
  if (moteur::EstTypeTexte(r.type) && v.genre() == Valeur::Genre::Texte) {
    // Bytes that are no UTF-8 are no text, whatever their length.
    if (!texte::Utf8Valide(v.texte())) {
      problemes.push_back(ou + "texte qui n'est pas de l'UTF-8 valide" + NumeroErreur(moteur::err::FormatNonReconnu));
      return;
    }
    // Characters, the unit of a Text field's size.
    std::size_t longueur = texte::NombreCaracteres(v.texte());
    if (r.type == moteur::dbText && longueur > static_cast<std::size_t>(r.taille))
      problemes.push_back(ou + "texte de " + std::to_string(longueur) + " caractères pour une taille de " +
                          std::to_string(r.taille) + NumeroErreur(moteur::err::ValeurTropLongue));
    if (longueur == 0 && !r.chaineVide)
      problemes.push_back(ou + "chaîne vide dans un champ qui les refuse" +
                          NumeroErreur(moteur::err::ChaineVideInterdite));
    return;
  }
  if (v.genre() == Valeur::Genre::Reel && !moteur::ReelDansSonType(r.type, v.reel())) {
    std::ostringstream lue;
    lue << v.reel();
    problemes.push_back(ou + (std::isfinite(v.reel()) ? "valeur " + lue.str() : std::string("valeur infinie")) +
                        " hors des limites d'un champ " + NomType(r.type) +
                        NumeroErreur(moteur::err::DepassementNumerique));
    return;
  }
  long long min = 0, max = 0;
  switch (r.type) {
    case moteur::dbByte:
      min = 0, max = 255;
      break;
    case moteur::dbInteger:
      min = -32768, max = 32767;
      break;
    case moteur::dbLong:
      min = -2147483648LL, max = 2147483647LL;
      break;
    default:
      return;
  }
  if (v.genre() == Valeur::Genre::Entier && (v.entier() < min || v.entier() > max))
    problemes.push_back(ou + "valeur " + std::to_string(v.entier()) + " hors des limites d'un champ " +
                        NomType(r.type) + NumeroErreur(moteur::err::DepassementNumerique));
}

void VerifieEnregistrements(moteur::Database& base, const std::string& table, std::vector<std::string>& problemes) {
  moteur::Recordset rs = base.OpenRecordset(table, moteur::dbOpenTable, moteur::dbReadOnly);
  std::vector<Regles> champs;
  auto collection = rs.Fields();
  for (int i = 0; i < collection.Count(); ++i) {
    moteur::Field f = collection[i];
    champs.push_back({f.Name(), f.Type(), f.Size(), f.Required(), f.AllowZeroLength(),
                      (f.Attributes() & moteur::dbAutoIncrField) != 0});
  }
  for (long long position = 1; !rs.Eof(); rs.MoveNext(), ++position) {
    for (std::size_t i = 0; i < champs.size(); ++i) {
      const Regles& r = champs[i];
      Valeur v;
      try {
        v = rs[static_cast<int>(i)].Value();
      } catch (const ErreurMoteur& e) {
        if (e.Number() != moteur::err::FormatNonReconnu) throw;
        // The engine hands back no text whose bytes form no UTF-8.
        problemes.push_back(Ou(table, position, r.nom) +
                            (moteur::EstTypeTexte(r.type) ? std::string("texte qui n'est pas de l'UTF-8 valide")
                                                          : "valeur illisible comme " + NomType(r.type)) +
                            NumeroErreur(e.Number()));
        continue;
      }
      if (r.type == moteur::dbBoolean)
        ControleOuiNon(rs[static_cast<int>(i)].ValeurStockee(), Ou(table, position, r.nom), problemes);
      else
        ControleValeur(r, v, Ou(table, position, r.nom), problemes);
    }
  }
}

// The storage layer's integrity messages, in English, said in French: what is damaged first,
// its own words after it for whoever repairs the file.
std::string EnFrancais(const std::string& brut) {
  static const std::vector<std::pair<std::regex, std::string>> motifs = {
      {std::regex("^Page (\\d+) is never used"), "Page $1 du fichier inutilisée (place perdue)"},
      {std::regex("^Page (\\d+)"), "Page $1 du fichier endommagée"},
      {std::regex("page (\\d+)"), "Page $1 du fichier endommagée"},
      {std::regex("(?:missing from|wrong # of entries in|non-unique entry in) index (\\S+)"),
       "Index interne $1 en désaccord avec sa table"},
      {std::regex("^NULL value in (\\S+)"), "Valeur Null interdite dans $1"},
      {std::regex("^Freelist"), "Liste des pages libres du fichier endommagée"},
  };
  std::smatch m;
  for (const auto& [motif, texte] : motifs)
    if (std::regex_search(brut, m, motif)) return m.format(texte) + " (détail du moteur : " + brut + ").";
  return "Structure du fichier endommagée (détail du moteur : " + brut + ").";
}

// The engine's own findings are French already; those of the storage layer are in English, one
// or more a line, the first headed by the name of the database.
void AjouteIntegrite(const std::vector<std::string>& trouves, std::vector<std::string>& problemes) {
  static const std::regex anglais("^(\\*\\*\\* in database|Page |On tree page|On page|Tree |row |wrong # |non-unique |"
                                  "Freelist|NULL value|Fragmentation|Multiple uses|2nd reference|Child page|"
                                  "Extends off|Rowid|Bad ptr|Failed to read|CHECK constraint|invalid page)");
  for (const std::string& trouve : trouves) {
    if (!std::regex_search(trouve, anglais)) {
      problemes.push_back(trouve);
      continue;
    }
    std::istringstream lignes(trouve);
    for (std::string ligne; std::getline(lignes, ligne);)
      if (!ligne.empty() && !ligne.starts_with("*** in database")) problemes.push_back(EnFrancais(ligne));
  }
}

}  // namespace

void AnnuleEcritureInterrompue(const std::string& chemin, std::ostream& messages) {
  const std::string journal = chemin + "-journal";
  struct stat etat {};
  if (::stat(journal.c_str(), &etat) != 0) return;
  // The first read of a writer rolls back a journal nobody holds any more; a journal a live writer
  // holds is left to it, the read waiting for nothing.
  sqlite3* base = nullptr;
  if (sqlite3_open_v2(chemin.c_str(), &base, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
    sqlite3_exec(base, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  sqlite3_close(base);
  if (::stat(journal.c_str(), &etat) == 0) return;
  messages << "Écriture interrompue annulée : le journal « " << journal
           << " » laissé par un programme arrêté en pleine écriture a été rejoué ; la base est revenue"
              " à son dernier état enregistré.\n";
}

int VerifieBase(const std::string& chemin, std::ostream& sortie) {
  // Read-only: checking a customer's file must never be what changes it.
  moteur::Database base;
  try {
    base = moteur::DBEngine::OpenDatabase(chemin, false, true);
  } catch (const ErreurMoteur& e) {
    // A damaged catalog or a planted object is what the check is there to find, not a failure of it.
    if (e.Number() != moteur::err::BaseEndommagee) throw;
    sortie << e.Description() << "\n1 problème trouvé.\n";
    return SortieProblemes;
  }
  std::vector<std::string> problemes;
  AjouteIntegrite(base.VerifieIntegrite(), problemes);
  // Another program's table is no fault; it is named all the same.
  for (const auto& objet : base.ObjetsInconnus())
    if (objet.rfind("table ", 0) == 0) sortie << "Table inconnue du logiciel, laissée telle quelle : " << objet.substr(6) << ".\n";
  auto tables = base.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    moteur::TableDef table = tables[i];
    if (table.Attributes() & moteur::dbSystemObject) continue;
    std::string nom = table.Name();
    // A table that cannot be read to the end is one problem; the other tables are still checked.
    auto lecture = moteur::Essaie([&] { VerifieEnregistrements(base, nom, problemes); });
    if (!lecture)
      problemes.push_back("Table '" + nom + "' : lecture interrompue, erreur " + std::to_string(lecture.Number) +
                          " : " + lecture.Description);
  }
  base.Close();
  if (problemes.empty()) {
    sortie << "Base saine.\n";
    return 0;
  }
  for (const auto& p : problemes) sortie << p << '\n';
  sortie << problemes.size() << (problemes.size() > 1 ? " problèmes trouvés.\n" : " problème trouvé.\n");
  return SortieProblemes;
}

}  // namespace outil

#include "Cibles.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "common/Touches.h"
#include "commun/FichiersTest.h"
#include "messages/Balisage.h"
#include "moteur/Dialecte.h"
#include "moteur/Moteur.h"

namespace utireorg::fuzz {
namespace {

namespace fs = std::filesystem;
using moteur::ErreurMoteur;
using moteur::Valeur;
using tests::LitFichier;

void Exige(bool condition, const std::string& promesse) {
  if (!condition) throw PromesseRompue(promesse);
}

std::string_view Texte(const std::uint8_t* octets, std::size_t taille) {
  return taille == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(octets), taille);
}

// ---------------------------------------------------------------- messages and keys

void VerifieRangee(const MessageAnalyse& message) {
  Exige(!message.boutons.empty(), "une rangée de boutons n'est jamais vide");
  int focus = 0, annulation = 0;
  for (std::size_t k = 0; k < message.boutons.size(); ++k) {
    const auto& b = message.boutons[k];
    focus += b.focus;
    annulation += b.annulation;
    Exige(!b.legende.empty(), "pas de bouton sans légende");
    Exige(b.legende.find(',') == std::string::npos, "chaque \",\" d'une entrée devient \";\"");
    Exige(!b.aide || k + 1 == message.boutons.size(), "le bouton « Aide » est le dernier");
  }
  Exige(focus <= 1, "au plus un bouton a le focus");
  Exige(annulation <= 1, "au plus un bouton d'annulation");
}

// The hint and the text of a caption, as the message form and the buttons read them.
void VerifieLegende(const std::string& legende) {
  Exige(TexteBouton(legende) == TexteDeLegende(legende), "un seul texte de bouton pour une légende");
  Exige(IndiceTouche(legende) == IndiceDeLegende(legende), "un seul indice de touche pour une légende");
  auto indice = IndiceDeLegende(legende);
  for (int code : {int{CodeTouche::Echap}, int{CodeTouche::Entree}, 113, int{CodeTouche::F10}, 123,
                   int{CodeTouche::PavePlus}, int{CodeTouche::PaveMoins}})
    (void)IndiceCorrespond(indice, code);
  (void)LettreAcces(legende);
}

// ---------------------------------------------------------------- SQL dialect

// An in-memory database holding the tables the canonical names below point to, so that most
// translations can be compiled by SQLite.
sqlite3* BaseSql() {
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    sqlite3_open(":memory:", &d);
    sqlite3_exec(d,
                 "CREATE TABLE T(A, B, C); CREATE TABLE U(A, D); "
                 "CREATE TABLE Clients(Id INTEGER, Nom TEXT, Solde REAL, Naissance TEXT);",
                 nullptr, nullptr, nullptr);
    return d;
  }();
  return db;
}

std::string CanoniqueSql(const std::string& nom) {
  for (const char* connu : {"T", "U", "Clients", "Id", "Nom", "Solde", "Naissance", "A", "B", "C", "D"}) {
    std::string_view c(connu);
    if (c.size() == nom.size() &&
        std::equal(c.begin(), c.end(), nom.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); }))
      return connu;
  }
  return nom;
}

// A translation runs with sqlite3_exec, which would run a second statement smuggled after the
// first: whatever SQLite compiles, nothing may follow it.
void VerifieUneInstruction(const std::string& sql) {
  if (sql.empty()) return;
  sqlite3_stmt* stmt = nullptr;
  const char* reste = nullptr;
  int rc = sqlite3_prepare_v2(BaseSql(), sql.c_str(), static_cast<int>(sql.size()) + 1, &stmt, &reste);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_OK || reste == nullptr) return;
  sqlite3_stmt* suivante = nullptr;
  sqlite3_prepare_v2(BaseSql(), reste, -1, &suivante, nullptr);
  bool seconde = suivante != nullptr;
  sqlite3_finalize(suivante);
  Exige(!seconde, "une traduction ne contient qu'une instruction : " + sql);
}

// SQLite reads a quoted text back as the very bytes that were quoted.
void VerifieCitations(std::string_view texte) {
  std::string cite;
  try {
    cite = moteur::dialecte::CiteTexte(texte);
  } catch (const ErreurMoteur&) {
    Exige(texte.find('\0') != std::string_view::npos, "CiteTexte ne refuse que le caractère nul");
    return;
  }
  std::string sql = "SELECT " + cite;
  sqlite3_stmt* stmt = nullptr;
  const char* reste = nullptr;
  int rc = sqlite3_prepare_v2(BaseSql(), sql.c_str(), -1, &stmt, &reste);
  bool relu = rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW &&
              std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                               sqlite3_column_bytes(stmt, 0)) == texte &&
              *reste == '\0';
  sqlite3_finalize(stmt);
  Exige(relu, "un texte cité se relit tel quel : " + cite);

  try {
    cite = moteur::dialecte::CiteNom(texte);
  } catch (const ErreurMoteur&) {
    return;
  }
  sql = "SELECT 1 AS " + cite;
  stmt = nullptr;
  rc = sqlite3_prepare_v2(BaseSql(), sql.c_str(), -1, &stmt, &reste);
  relu = rc == SQLITE_OK && std::string_view(sqlite3_column_name(stmt, 0)) == texte && *reste == '\0';
  sqlite3_finalize(stmt);
  Exige(relu, "un nom cité se relit tel quel : " + cite);
}

// ---------------------------------------------------------------- database files

std::mutex verrouDossier;
std::string dossierTravail;

void SupprimeDossierTravail() {
  std::error_code ec;
  fs::remove_all(dossierTravail, ec);
}

const std::string& DossierTravail() {
  std::lock_guard<std::mutex> verrou(verrouDossier);
  if (dossierTravail.empty()) {
    const char* racine = std::getenv("TMPDIR");
    std::string modele = std::string(racine && *racine ? racine : "/tmp") + "/utireorg-fuzz-XXXXXX";
    if (!::mkdtemp(modele.data())) throw std::runtime_error("mkdtemp : " + modele);
    dossierTravail = modele;
    std::atexit(SupprimeDossierTravail);
  }
  return dossierTravail;
}

void Efface(const std::string& chemin) {
  ::unlink(chemin.c_str());
  ::unlink((chemin + "-journal").c_str());
}

void EcritOctets(const std::string& chemin, std::string_view octets) {
  std::ofstream f(chemin, std::ios::binary | std::ios::trunc);
  f.write(octets.data(), static_cast<std::streamsize>(octets.size()));
  if (!f) throw std::runtime_error("écriture impossible : " + chemin);
}

// Runs one step of the walk; an engine error ends that step only, as it does in the stages,
// which go on with the next table or field.
template <class Fonction>
void Etape(Fonction&& fonction) {
  try {
    fonction();
  } catch (const ErreurMoteur&) {
  }
}

void LitProprietes(const moteur::Properties& proprietes) {
  int n = proprietes.Count();
  for (int i = 0; i < n; ++i)
    Etape([&] {
      auto p = proprietes[i];
      (void)p.Name();
      (void)p.Type();
      (void)p.Value().EnTexte();
    });
}

void LitDefinitions(moteur::TableDef& table) {
  (void)table.Name();
  (void)table.Attributes();
  Etape([&] { (void)table.RecordCount(); });
  Etape([&] { LitProprietes(table.Properties()); });
  Etape([&] {
    auto champs = table.Fields();
    for (int i = 0; i < champs.Count(); ++i) {
      auto c = champs[i];
      (void)c.Name(), (void)c.Type(), (void)c.Size(), (void)c.Attributes(), (void)c.DefaultValue();
      (void)c.Required(), (void)c.AllowZeroLength(), (void)c.OrdinalPosition();
      Etape([&] { LitProprietes(c.Properties()); });
    }
  });
  Etape([&] {
    auto index = table.Indexes();
    for (int i = 0; i < index.Count(); ++i) {
      auto x = index[i];
      (void)x.Name(), (void)x.Fields(), (void)x.Unique(), (void)x.Primary(), (void)x.IgnoreNulls();
    }
  });
}

// Reads every value of the first records, as the reading pass does.
void LitEnregistrements(moteur::Database& base, const std::string& table) {
  constexpr int EnregistrementsLus = 200;
  auto rs = base.OpenRecordset(table, moteur::dbOpenSnapshot);
  for (int n = 0; n < EnregistrementsLus && !rs.Eof(); ++n) {
    auto champs = rs.Fields();
    for (int i = 0; i < champs.Count(); ++i)
      Etape([&] {
        Valeur v = champs[i].Value();
        if (!v.EstNulOuVide()) (void)v.EnTexte();
      });
    rs.MoveNext();
  }
  rs.Close();
}

void Parcourt(moteur::Database& base) {
  Etape([&] { (void)base.Version(); });
  Etape([&] { LitProprietes(base.Properties()); });
  std::vector<std::string> tables;
  Etape([&] {
    auto defs = base.TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      auto t = defs[i];
      LitDefinitions(t);
      if ((t.Attributes() & moteur::dbSystemObject) == 0) tables.push_back(t.Name());
    }
  });
  Etape([&] {
    auto relations = base.Relations();
    for (int i = 0; i < relations.Count(); ++i) {
      auto r = relations[i];
      (void)r.Name(), (void)r.Table(), (void)r.ForeignTable(), (void)r.Attributes();
      auto champs = r.Fields();
      for (int k = 0; k < champs.Count(); ++k) (void)champs[k].Name(), (void)champs[k].ForeignName();
    }
  });
  for (const auto& t : tables) Etape([&] { LitEnregistrements(base, t); });
  (void)base.VerifieIntegrite();
}

// A database with a bit of everything the walk reads: types, a counter, required fields,
// indexes, a relation, dictionary properties, nulls. Stored in small pages, so that the fuzzer's
// mutations are not lost in empty space.
void CreeGraineMoteur(const std::string& chemin) {
  using namespace moteur;
  std::string brouillon = chemin + ".brouillon";
  Efface(brouillon);
  {
    auto base = DBEngine::CreateDatabase(brouillon, "4.0");
    base.Properties().Append(base.CreateProperty("NomLogiciel", dbText, Valeur("Compta")));
    auto clients = base.CreateTableDef("Clients");
    auto id = clients.CreateField("Id", dbLong);
    id.SetAttributes(dbAutoIncrField);
    clients.Fields().Append(id);
    auto nom = clients.CreateField("Nom", dbText, 20);
    nom.SetRequired(true);
    nom.SetDefaultValue("\"?\"");
    clients.Fields().Append(nom);
    for (auto [n, type] : {std::pair{"Solde", dbCurrency}, {"Naissance", dbDate}, {"Note", dbMemo},
                           {"Actif", dbBoolean}, {"Photo", dbLongBinary}, {"Taux", dbDouble}})
      clients.Fields().Append(clients.CreateField(n, type));
    base.TableDefs().Append(clients);
    clients.Properties().Append(clients.CreateProperty("NomClair", dbText, Valeur("Clients")));
    auto champNom = clients.Fields()["Nom"];
    champNom.Properties().Append(champNom.CreateProperty("VEKFormat", dbText, Valeur("X20")));
    auto cle = clients.CreateIndex("CleClients");
    cle.SetFields("Id");
    cle.SetPrimary(true);
    cle.SetUnique(true);
    clients.Indexes().Append(cle);
    auto parNom = clients.CreateIndex("ParNom");
    parNom.SetFields("-Nom");
    clients.Indexes().Append(parNom);

    auto commandes = base.CreateTableDef("Commandes");
    for (auto [n, type] : {std::pair{"Num", dbLong}, {"IdClient", dbLong}, {"Montant", dbDouble}})
      commandes.Fields().Append(commandes.CreateField(n, type));
    base.TableDefs().Append(commandes);

    base.Execute("INSERT INTO Clients (Nom, Solde, Naissance, Actif, Taux) VALUES ('Élise', 12.5, #12/31/1999#, True, 0.5)");
    base.Execute("INSERT INTO Clients (Nom, Note) VALUES ('Bruno', 'une note')");
    base.Execute("INSERT INTO Clients (Nom) VALUES ('Zoé')");
    base.Execute("INSERT INTO Commandes (Num, IdClient, Montant) VALUES (10, 1, 99.9)");
    base.Execute("INSERT INTO Commandes (Num, IdClient) VALUES (11, 2)");
    auto relation = base.CreateRelation("ClientsCommandes", "Clients", "Commandes");
    auto lien = relation.CreateField("Id");
    lien.SetForeignName("IdClient");
    relation.Fields().Append(lien);
    base.Relations().Append(relation);
    base.Close();
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open(brouillon.c_str(), &db);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA page_size = 512; VACUUM", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error("réduction des pages impossible : " + brouillon);
  fs::rename(brouillon, chemin);
}

bool EstJet(const std::string& octets) { return octets.size() >= 0x80 && octets.compare(4, 15, "Standard Jet DB") == 0; }

std::size_t TaillePageJet(const std::string& octets) { return octets[0x14] == 0 ? 2048 : 4096; }

// For each Jet version, the smallest sample file: whole, cut after its first pages, and with its
// header changed. The header is scrambled from 0x18 by a stream cipher, so flipping bits of the
// stored bytes flips the same bits of the header read; the block flipped stops before the key
// and the password, which would only get the file refused as protected.
void EcritGrainesJet(const std::string& dossier, const std::string& dossierJet) {
  std::error_code ec;
  if (dossierJet.empty() || !fs::is_directory(dossierJet, ec)) return;
  std::map<char, fs::path> pluspetits;  // by version byte
  for (const auto& f : fs::directory_iterator(dossierJet, ec)) {
    if (!f.is_regular_file()) continue;
    std::string debut = LitFichier(f.path()).substr(0, 0x80);
    if (!EstJet(debut)) continue;
    auto& retenu = pluspetits[debut[0x14]];
    if (retenu.empty() || fs::file_size(f.path()) < fs::file_size(retenu)) retenu = f.path();
  }
  for (const auto& [version, chemin] : pluspetits) {
    std::string octets = LitFichier(chemin);
    std::string nom = dossier + "/jet-" + chemin.stem().string();
    EcritOctets(nom, octets);
    EcritOctets(nom + "-debut", octets.substr(0, std::min(octets.size(), 8 * TaillePageJet(octets))));
    std::string modifie = octets;
    for (std::size_t i = 0x18; i < 0x3E; i += 3) modifie[i] = static_cast<char>(modifie[i] ^ 0x5A);
    EcritOctets(nom + "-entete-modifiee", modifie);
  }
}

}  // namespace

int Balisage(const std::uint8_t* octets, std::size_t taille) {
  auto texte = Texte(octets, taille);
  auto message = AnalyseMessage(texte);
  Exige(message.icone >= 0 && message.icone <= 3, "icône 0 à 3");
  Exige(message.texte.size() <= texte.size(), "le texte ne grandit pas");
  Exige(message.texte.find_first_of("@\r") == std::string::npos, "lignes séparées par \\n seulement");
  Exige(message.boutons.size() == 1 && message.boutons[0].focus && message.boutons[0].annulation,
        "sans rangée, un bouton Ok, focus et annulation");
  auto avecAide = AnalyseMessage(texte, std::string("Titre"), std::nullopt, 12);
  Exige(avecAide.texte == message.texte && avecAide.titre == "Titre", "le titre ne change pas le texte");
  Exige(avecAide.boutons.size() == 2 && avecAide.boutons.back().aide, "« Aide » ajouté en dernier");
  VerifieRangee(avecAide);
  return 0;
}

int ListeBoutons(const std::uint8_t* octets, std::size_t taille) {
  std::string liste(Texte(octets, taille));
  auto message = AnalyseMessage("?#Confirmez-vous ?", std::nullopt, liste, 0);
  VerifieRangee(message);
  for (const auto& b : message.boutons) VerifieLegende(b.legende);
  VerifieLegende(liste);
  return 0;
}

int Touches(const std::uint8_t* octets, std::size_t taille) {
  auto texte = Texte(octets, taille);
  auto evenements = AnalyseTouches(texte);
  // Every key that goes down comes up again, after it went down, and the text bounds the count.
  std::map<int, int> enfoncees;
  for (const auto& e : evenements) {
    Exige(e.code > 0 && e.code < 256, "code de touche 1 à 255");
    if (e.appui) {
      ++enfoncees[e.code];
    } else {
      Exige(enfoncees[e.code] > 0, "une touche ne remonte qu'après être descendue");
      --enfoncees[e.code];
    }
  }
  for (const auto& [code, n] : enfoncees) Exige(n == 0, "aucune touche ne reste enfoncée");
  Exige(evenements.size() <= 2 * (taille * static_cast<std::size_t>(RepetitionMaximale) + taille),
        "nombre d'événements borné par le texte");

  double valeur = ValeurNumerique(texte);
  Exige(valeur == valeur && valeur - valeur == 0, "valeur numérique finie");
  (void)CodeToucheNommee(texte);
  Exige(MajusculesUtf8(texte).size() == texte.size(), "les majuscules gardent la longueur");
  DetecteurSequence detecteur;
  for (char c : texte) {
    auto octet = static_cast<unsigned char>(c);
    int mode = detecteur.Touche(octet, octet & 1, octet & 2, octet & 4);
    Exige(mode >= 0 && mode <= 3, "mode de rapport 0 à 3");
  }
  return 0;
}

int Dialecte(const std::uint8_t* octets, std::size_t taille) {
  auto requete = Texte(octets, taille);
  try {
    auto instruction = moteur::dialecte::Traduit(requete, CanoniqueSql);
    VerifieUneInstruction(instruction.sql);
    if (!instruction.source.empty()) VerifieUneInstruction(instruction.source);
  } catch (const ErreurMoteur&) {
  }
  VerifieCitations(requete);
  return 0;
}

int OuvertureBase(const std::uint8_t* octets, std::size_t taille) {
  const std::string chemin = DossierTravail() + "/base.mdb";
  Efface(chemin);
  EcritOctets(chemin, Texte(octets, taille));
  Etape([&] {
    auto base = moteur::DBEngine::OpenDatabase(chemin);
    Parcourt(base);
    base.Close();
  });
  return 0;
}

const Cible* CibleNommee(std::string_view nom) {
  for (const auto& c : Cibles)
    if (c.nom == nom) return &c;
  return nullptr;
}

void FixeDossierTravail(const std::string& dossier) {
  std::lock_guard<std::mutex> verrou(verrouDossier);
  dossierTravail = dossier;
}

void EcritGraines(std::string_view cible, const std::string& dossier, const std::string& dossierJet) {
  if (cible == "base") {
    fs::create_directories(dossier);
    CreeGraineMoteur(dossier + "/moteur.mdb");
  } else if (cible == "jet") {
    fs::create_directories(dossier);
    EcritGrainesJet(dossier, dossierJet);
  }
}

}  // namespace utireorg::fuzz

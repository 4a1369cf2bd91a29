// Ce que la réparation sauve d'une base dont des pages ont été écrasées, motif de dommage par
// motif : combien des enregistrements posés sur des pages saines reviennent, à l'identique, et
// qu'aucun n'est inventé.
//
//   bench_sauvetage [--grandes N] [--petites N] [--garder]
//
// Une base est générée par le moteur : « Grande » (compteur, nom, case à cocher, mémo, dont un sur
// vingt-cinq s'étend sur plusieurs pages de débordement) et « Petite » (code, libellé, montant,
// date), chacune avec sa clé primaire. Avant tout dommage, la statistique des pages de SQLite
// (dbstat) dit sur quelles pages repose chaque enregistrement : ses feuilles, prises dans l'ordre
// des clés, tiennent les clés tour à tour, et chaque page de débordement nomme sa cellule. Pour
// chaque motif, une copie de la base reçoit des octets aléatoires sur les pages choisies, la
// réparation (DBEngine::RepairDatabase) la refait, puis chaque table est relue par SQLite et
// comparée valeur par valeur à l'originale, par clé interne :
//   - « sur pages saines » : les enregistrements dont aucune page (feuille, débordement) n'est
//     abîmée ; « gardés » : ceux d'entre eux revenus identiques ;
//   - « autres gardés » : les enregistrements touchés revenus quand même, chaque valeur identique
//     ou Null ;
//   - « inventés » : un enregistrement que l'original n'a pas, ou une valeur qui diffère de la
//     sienne sans être Null ;
//   - « pertes dites » : les pertes que le journal de la réparation annonce, face aux vraies.
// Code de sortie 0 quand chaque motif garde 100 % et n'invente rien, 1 sinon.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Commun.h"
#include "moteur/Moteur.h"

namespace {

using banc::Cadre;
using banc::Groupe;

constexpr int TaillePage = 4096;

struct Options {
  long long grandes = 3000;
  long long petites = 20000;
  bool garder = false;
  bool constats = false;  // les lignes de chaque réparation sous la ligne de son motif
};

Options LitOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--grandes") o.grandes = banc::LitNombre(a, i + 1 < argc ? argv[++i] : nullptr);
    else if (a == "--petites") o.petites = banc::LitNombre(a, i + 1 < argc ? argv[++i] : nullptr);
    else if (a == "--garder") o.garder = true;
    else if (a == "--constats")
      o.constats = true;
    else banc::Echoue("option inconnue « " + a + " »");
  }
  return o;
}

std::string Memo(long long id) {
  std::string texte = "MEMO-" + std::to_string(id) + "-";
  std::mt19937 alea(static_cast<unsigned>(id));
  const std::size_t longueur = id % 25 == 0 ? 6000 + alea() % 6000 : 150 + alea() % 650;
  static const char* const lettres[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n",
                                       "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", " ", "é", "è", "à"};
  while (texte.size() < longueur) texte += lettres[alea() % 30];
  return texte;
}

void Genere(const std::string& chemin, const Options& o) {
  using namespace moteur;
  auto base = DBEngine::CreateDatabase(chemin);
  auto grande = base.CreateTableDef("Grande");
  auto id = grande.CreateField("Id", dbLong);
  id.SetAttributes(dbAutoIncrField);
  grande.Fields().Append(id);
  grande.Fields().Append(grande.CreateField("Nom", dbText, 40));
  grande.Fields().Append(grande.CreateField("Actif", dbBoolean));
  grande.Fields().Append(grande.CreateField("Texte", dbMemo));
  base.TableDefs().Append(grande);
  auto cle = grande.CreateIndex("Cle");
  cle.SetFields("Id");
  cle.SetPrimary(true);
  grande.Indexes().Append(cle);
  auto petite = base.CreateTableDef("Petite");
  petite.Fields().Append(petite.CreateField("Code", dbLong));
  petite.Fields().Append(petite.CreateField("Libelle", dbText, 200));
  petite.Fields().Append(petite.CreateField("Montant", dbDouble));
  petite.Fields().Append(petite.CreateField("Le", dbDate));
  base.TableDefs().Append(petite);
  auto code = petite.CreateIndex("CleCode");
  code.SetFields("Code");
  code.SetPrimary(true);
  petite.Indexes().Append(code);
  DBEngine::BeginTrans();
  auto rs = base.OpenRecordset("Grande");
  for (long long i = 1; i <= o.grandes; ++i) {
    rs.AddNew();
    rs["Nom"].SetValue("nom " + std::to_string(i));
    rs["Actif"].SetValue(i % 3 == 0);
    rs["Texte"].SetValue(Memo(i));
    rs.Update();
  }
  rs.Close();
  rs = base.OpenRecordset("Petite");
  std::mt19937 alea(7);
  for (long long i = 1; i <= o.petites; ++i) {
    rs.AddNew();
    rs["Code"].SetValue(i);
    rs["Libelle"].SetValue("libellé " + std::to_string(i) + " " + std::string(100 + alea() % 80, 'x'));
    rs["Montant"].SetValue(static_cast<double>(alea() % 100000) / 100.0);
    DateHeure d;
    d.annee = 2000 + static_cast<int>(i % 25), d.mois = 1 + static_cast<int>(i % 12), d.jour = 1 + static_cast<int>(i % 28);
    rs["Le"].SetValue(d);
    rs.Update();
  }
  rs.Close();
  DBEngine::CommitTrans();
  base.Close();
}

// ---- Les pages, avant tout dommage ----

struct PagesTable {
  std::map<long long, std::set<long long>> parEnregistrement;  // clé interne → ses pages
  std::vector<long long> feuilles, debordements, interieures;   // dans l'ordre des chemins
  long long racine = 0;
};

PagesTable LitPages(const banc::Sqlite& base, const std::string& table) {
  PagesTable p;
  std::vector<long long> cles;
  {
    banc::Instruction st(base, "SELECT rowid FROM \"" + table + "\" ORDER BY rowid");
    while (sqlite3_step(st.get()) == SQLITE_ROW) cles.push_back(sqlite3_column_int64(st.get(), 0));
  }
  std::map<std::string, std::pair<long long, long long>> feuilles;  // chemin → page, rang de sa première clé
  std::vector<std::pair<std::string, long long>> debordements;
  banc::Instruction st(base, "SELECT path, pageno, pagetype, ncell FROM dbstat WHERE name = '" + table + "' ORDER BY path");
  long long rang = 0;
  while (sqlite3_step(st.get()) == SQLITE_ROW) {
    std::string chemin = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
    std::string genre = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 2));
    long long page = sqlite3_column_int64(st.get(), 1);
    if (chemin == "/") p.racine = page;
    if (genre == "leaf") {
      feuilles[chemin] = {page, rang};
      p.feuilles.push_back(page);
      rang += sqlite3_column_int64(st.get(), 3);
    } else if (genre == "overflow") {
      debordements.emplace_back(chemin, page);
      p.debordements.push_back(page);
    } else {
      p.interieures.push_back(page);
    }
  }
  if (rang != static_cast<long long>(cles.size())) banc::Echoue("les feuilles de " + table + " ne comptent pas ses enregistrements");
  std::vector<std::pair<long long, long long>> parRang;
  for (const auto& [chemin, f] : feuilles) parRang.push_back(f);
  std::sort(parRang.begin(), parRang.end(), [](auto a, auto b) { return a.second < b.second; });
  for (std::size_t i = 0; i < parRang.size(); ++i) {
    long long fin = i + 1 < parRang.size() ? parRang[i + 1].second : rang;
    for (long long k = parRang[i].second; k < fin; ++k) p.parEnregistrement[cles[static_cast<std::size_t>(k)]].insert(parRang[i].first);
  }
  for (const auto& [chemin, page] : debordements) {
    auto plus = chemin.find('+');
    auto barre = chemin.rfind('/', plus);
    const auto& f = feuilles.at(chemin.substr(0, barre + 1));
    long long cellule = std::stoll(chemin.substr(barre + 1, plus - barre - 1), nullptr, 16);
    p.parEnregistrement[cles[static_cast<std::size_t>(f.second + cellule)]].insert(page);
  }
  return p;
}

// ---- Le contenu, valeur par valeur ----

using Contenu = std::map<long long, std::vector<std::string>>;  // clé interne → valeurs codées

std::string Code(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL: return {};
    case SQLITE_INTEGER: return "i" + std::to_string(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT: {
      double d = sqlite3_column_double(st, i);
      char bits[24];
      std::memcpy(bits, &d, sizeof d);
      return "r" + std::string(bits, sizeof d);
    }
    default: {
      const void* p = sqlite3_column_blob(st, i);
      int n = sqlite3_column_bytes(st, i);
      return (sqlite3_column_type(st, i) == SQLITE_TEXT ? "t" : "b") + std::string(static_cast<const char*>(p), static_cast<std::size_t>(n));
    }
  }
}

Contenu LitContenu(const std::string& chemin, const std::string& table) {
  banc::Sqlite base(chemin, SQLITE_OPEN_READONLY);
  Contenu c;
  banc::Instruction st(base, "SELECT rowid, * FROM \"" + table + "\"");
  while (sqlite3_step(st.get()) == SQLITE_ROW) {
    std::vector<std::string> valeurs;
    for (int i = 1; i < sqlite3_column_count(st.get()); ++i) valeurs.push_back(Code(st.get(), i));
    c[sqlite3_column_int64(st.get(), 0)] = std::move(valeurs);
  }
  return c;
}

struct Compte {
  long long sains = 0, gardes = 0, autres = 0, inventes = 0, perdus = 0;
  Compte& operator+=(const Compte& a) {
    sains += a.sains, gardes += a.gardes, autres += a.autres, inventes += a.inventes, perdus += a.perdus;
    return *this;
  }
};

Compte Compare(const Contenu& avant, const Contenu& apres, const PagesTable& pages, const std::set<long long>& abimees) {
  Compte c;
  for (const auto& [cle, valeurs] : avant) {
    bool sain = true;
    for (long long p : pages.parEnregistrement.at(cle)) sain = sain && !abimees.count(p);
    auto it = apres.find(cle);
    if (it == apres.end()) {
      ++c.perdus;
      c.sains += sain;
      continue;
    }
    if (sain) {
      ++c.sains;
      if (it->second == valeurs) ++c.gardes;
      else ++c.inventes;
      continue;
    }
    bool fidele = it->second.size() == valeurs.size();
    for (std::size_t i = 0; fidele && i < valeurs.size(); ++i) fidele = it->second[i].empty() || it->second[i] == valeurs[i];
    if (fidele) ++c.autres;
    else ++c.inventes;
  }
  for (const auto& [cle, valeurs] : apres) c.inventes += !avant.count(cle);
  return c;
}

// Les pertes que le journal annonce : « N enregistrements sauvés, M illisibles ».
long long PertesDites(const std::vector<std::string>& constats, bool& inconnues) {
  long long total = 0;
  for (const auto& ligne : constats) {
    if (ligne.rfind("#ALERT# Table '", 0) != 0) continue;
    if (ligne.find("ont pu être perdus") != std::string::npos) inconnues = true;
    auto sauves = ligne.find(" sauvé");
    auto virgule = ligne.find(", ", sauves == std::string::npos ? 0 : sauves);
    if (sauves == std::string::npos || virgule == std::string::npos) continue;
    std::string reste = ligne.substr(virgule + 2);
    if (reste.rfind("au plus ", 0) == 0) reste = reste.substr(8);
    total += std::strtoll(reste.c_str(), nullptr, 10);
  }
  return total;
}

void Abime(const std::string& chemin, const std::set<long long>& pages, unsigned graine) {
  int fd = ::open(chemin.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) banc::Echoue("ouverture de " + chemin);
  std::mt19937 alea(graine);
  std::string dechets(TaillePage, '\0');
  for (long long p : pages) {
    for (auto& c : dechets) c = static_cast<char>(alea());
    if (::pwrite(fd, dechets.data(), dechets.size(), (p - 1) * TaillePage) != TaillePage) banc::Echoue("écriture de " + chemin);
  }
  ::close(fd);
}

void EcraseEnTete(const std::string& chemin, unsigned graine) {
  std::mt19937 alea(graine);
  std::string dechets(100, '\0');
  for (char& c : dechets) c = static_cast<char>(alea());
  int fd = ::open(chemin.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 || ::pwrite(fd, dechets.data(), dechets.size(), 0) != 100) banc::Echoue("écriture de " + chemin);
  ::close(fd);
}

struct Motif {
  std::string nom;
  std::set<long long> pages;
  bool coupe = false;  // le fichier perd plutôt son dernier octet : sa dernière page est l'abîmée
  bool entete = false;  // seuls les 100 octets de l'en-tête du fichier sont écrasés
};

// Pages des définitions plutôt que des données : la dernière feuille du schéma, que les règles des
// relations, écrites après les enregistrements, mettent en fin de fichier ; sa première feuille,
// qui tient les définitions des tables du catalogue lui-même ; la racine d'une table du catalogue.
struct PagesDefinitions {
  long long schema = 0, premiereSchema = 0, catalogue = 0;
};

std::vector<Motif> Motifs(const PagesTable& g, const PagesTable& p, const std::vector<long long>& toutes,
                          long long derniere, const PagesDefinitions& definitions) {
  std::vector<Motif> motifs;
  motifs.push_back({"Une feuille", {g.feuilles[g.feuilles.size() / 2]}});
  // Deux feuilles de Petite qui se suivent dans le fichier.
  std::set<long long> voisines;
  std::set<long long> feuillesP(p.feuilles.begin(), p.feuilles.end());
  for (long long f : p.feuilles)
    if (f > p.feuilles[p.feuilles.size() / 3] && feuillesP.count(f + 1)) {
      voisines = {f, f + 1};
      break;
    }
  motifs.push_back({"Deux feuilles voisines", voisines});
  std::mt19937 alea(2024);
  for (int n : {5, 17}) {
    std::set<long long> choisies;
    while (choisies.size() < static_cast<std::size_t>(n)) choisies.insert(toutes[alea() % toutes.size()]);
    motifs.push_back({std::to_string(n) + " pages au hasard", choisies});
  }
  std::set<long long> debordements;
  for (std::size_t i = 1; i < g.debordements.size() && debordements.size() < 4; i += g.debordements.size() / 4 + 1)
    debordements.insert(g.debordements[i]);
  motifs.push_back({"Pages de débordement", debordements});
  motifs.push_back({"Dernière page", {derniere}});
  std::set<long long> interieure;
  for (long long x : p.interieures)
    if (x != p.racine) {
      interieure = {x};
      break;
    }
  motifs.push_back({"Page intérieure", interieure});
  motifs.push_back({"Racines des deux tables", {g.racine, p.racine}});
  motifs.push_back(
      {"Page du schéma", definitions.schema ? std::set<long long>{definitions.schema} : std::set<long long>{}});
  motifs.push_back(
      {"Schéma du catalogue", definitions.premiereSchema && definitions.premiereSchema != definitions.schema
                                  ? std::set<long long>{definitions.premiereSchema}
                                  : std::set<long long>{}});
  motifs.push_back({"Page du catalogue", {definitions.catalogue}});
  motifs.push_back({"Coupée d'un octet", {derniere}, true});
  motifs.push_back({"En-tête écrasé", {1}, false, true});
  motifs.push_back({"Première page entière", {1}});
  return motifs;
}

int Lance(const Options& o) {
  banc::DossierTemporaire dossier("sauvetage", o.garder);
  const std::string originale = dossier / "originale.mdb";
  std::cout << "Génération : Grande " << Groupe(o.grandes) << " enregistrements, Petite " << Groupe(o.petites) << "\n";
  Genere(originale, o);
  PagesTable g, p;
  std::vector<long long> toutes;
  long long derniere = 0;
  PagesDefinitions definitions;
  {
    banc::Sqlite base(originale, SQLITE_OPEN_READONLY);
    g = LitPages(base, "Grande");
    p = LitPages(base, "Petite");
    derniere = base.Entier("PRAGMA page_count");
    definitions.schema = base.Entier(
        "SELECT coalesce(max(pageno), 0) FROM dbstat WHERE name = 'sqlite_schema' AND pagetype = 'leaf' AND pageno > "
        "1");
    definitions.premiereSchema = base.Entier(
        "SELECT coalesce(min(pageno), 0) FROM dbstat WHERE name = 'sqlite_schema' AND pagetype = 'leaf' AND pageno > "
        "1");
    definitions.catalogue = base.Entier("SELECT rootpage FROM sqlite_schema WHERE name = 'MSysColumns'");
    // Les pages des deux tables et de leurs index : celles dont un dommage touche les données.
    banc::Instruction st(base, "SELECT pageno FROM dbstat WHERE name IN ('Grande', 'Petite') OR name LIKE 'MSysIdx_%'");
    while (sqlite3_step(st.get()) == SQLITE_ROW) toutes.push_back(sqlite3_column_int64(st.get(), 0));
  }
  const Contenu avantG = LitContenu(originale, "Grande"), avantP = LitContenu(originale, "Petite");
  std::cout << "Pages : " << Groupe(derniere) << " ; Grande " << g.feuilles.size() << " feuilles, " << g.debordements.size()
            << " débordements ; Petite " << p.feuilles.size() << " feuilles, " << p.interieures.size() << " pages intérieures\n\n";

  const std::vector<std::pair<std::string, std::size_t>> colonnes = {
      {"Motif", 26}, {"Pages", 6}, {"Sur pages saines", 17}, {"Gardés", 8}, {"Part", 8},
      {"Autres gardés", 14}, {"Inventés", 9}, {"Perdus", 7}, {"Pertes dites", 13}, {"Durée", 8}};
  for (std::size_t i = 0; i < colonnes.size(); ++i) std::cout << Cadre(colonnes[i].first, colonnes[i].second, i > 0) << " ";
  std::cout << "\n";
  bool atteint = true;
  unsigned graine = 1;
  for (const auto& motif : Motifs(g, p, toutes, derniere, definitions)) {
    if (motif.pages.empty()) {
      std::cout << Cadre(motif.nom, 26, false) << " (pas de telle page dans cette base)\n";
      continue;
    }
    const std::string copie = dossier / "abimee.mdb";
    std::remove(copie.c_str());
    banc::CopieFichier(originale, copie);
    if (motif.coupe) {
      if (::truncate(copie.c_str(), derniere * TaillePage - 1) != 0) banc::Echoue("troncature de " + copie);
    } else if (motif.entete) {
      EcraseEnTete(copie, graine++);
    } else {
      Abime(copie, motif.pages, graine++);
    }
    std::vector<std::string> constats;
    banc::Chrono chrono;
    moteur::DBEngine::RepairDatabase(copie, constats);
    double duree = chrono.Ecoule().secondes;
    Compte c = Compare(avantG, LitContenu(copie, "Grande"), g, motif.pages);
    c += Compare(avantP, LitContenu(copie, "Petite"), p, motif.pages);
    bool inconnues = false;
    long long dites = PertesDites(constats, inconnues);
    double part = c.sains ? 100.0 * static_cast<double>(c.gardes) / static_cast<double>(c.sains) : 100.0;
    atteint = atteint && c.gardes == c.sains && c.inventes == 0;
    std::vector<std::string> cases = {motif.nom, std::to_string(motif.pages.size()), Groupe(c.sains), Groupe(c.gardes),
                                      banc::Decimal(part, 2) + " %", Groupe(c.autres), Groupe(c.inventes), Groupe(c.perdus),
                                      inconnues ? "inconnues" : Groupe(dites), banc::Decimal(duree, 2) + " s"};
    for (std::size_t i = 0; i < cases.size(); ++i) std::cout << Cadre(cases[i], colonnes[i].second, i > 0) << " ";
    std::cout << "\n";
    if (o.constats)
      for (const auto& ligne : constats) std::cout << "    " << ligne << "\n";
  }
  std::cout << "\n" << (atteint ? "Objectif atteint : 100 % des enregistrements sur pages saines gardés, aucun inventé.\n"
                                : "Objectif manqué.\n");
  return atteint ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Lance(LitOptions(argc, argv));
  } catch (const std::exception& e) {
    std::cerr << "bench_sauvetage : " << e.what() << "\n";
    return 2;
  }
}

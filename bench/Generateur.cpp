#include "Generateur.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string_view>

#include "Commun.h"

namespace banc {
namespace {

using moteur::Valeur;

constexpr const char* NomFichierBase = "Gestion.mdb";
constexpr const char* SousDossierCible = "Dossier1";
constexpr const char* NomFichierJeu = "jeu.txt";

struct ChampMesure {
  const char* nom;
  int type;
  int taille;
  bool requis;
  const char* defaut;
  const char* nomClair;
  const char* format;
  int priorite;
  const char* formatSaisie;  // avec "Supplement" quand il y en a un
};

const std::array<ChampMesure, 10> Champs = {{
    {"Numero", moteur::dbLong, 0, true, "", "Numéro", "0", 1, nullptr},
    {"Code", moteur::dbText, 12, true, "\"?\"", "Code", "@", 3, nullptr},
    {"Nom", moteur::dbText, 50, false, "", "Nom", "@", 7, nullptr},
    {"Libelle", moteur::dbText, 255, false, "", "Libellé", "@", 2, nullptr},
    {"Montant", moteur::dbCurrency, 0, false, "0", "Montant", "# ##0,00", 4, "# ##0,00 €"},
    {"Quantite", moteur::dbLong, 0, true, "0", "Quantité", "0", 0, nullptr},
    {"Taux", moteur::dbDouble, 0, false, "", "Taux", "0,0000", 0, nullptr},
    {"Creation", moteur::dbDate, 0, false, "", "Date de création", "jj/mm/aaaa", 5, "jj/mm/aaaa hh:nn"},
    {"Actif", moteur::dbBoolean, 0, false, "True", "Actif", "Oui/Non", 0, nullptr},
    {"Notes", moteur::dbMemo, 0, false, "", "Notes", "@", 0, nullptr},
}};

const std::array<const char*, 20> NomsTables = {
    "Clients",  "Fournisseurs", "Articles", "Factures", "Commandes", "Reglements", "Ecritures",
    "Comptes",  "Journaux",     "Agences",  "Livraisons", "Avoirs",  "Relances",   "Remises",
    "Stocks",   "Tarifs",       "Contacts", "Devis",    "Echeances", "Banques"};

std::string NomTable(int rang) {
  if (rang < static_cast<int>(NomsTables.size())) return NomsTables[rang];
  char nom[32];
  std::snprintf(nom, sizeof nom, "Table%03d", rang + 1);
  return nom;
}

void AjoutePropriete(moteur::Field& champ, const char* nom, int type, const Valeur& valeur) {
  champ.Properties().Append(champ.CreateProperty(nom, type, valeur));
}

void AjouteDictionnaire(moteur::Field& champ, const ChampMesure& c, const OptionsTable& o) {
  std::string nomClair = std::string_view(c.nom) == "Libelle" ? o.nomClairLibelle : c.nomClair;
  AjoutePropriete(champ, "NomClair", moteur::dbText, Valeur(nomClair));
  AjoutePropriete(champ, "VEKFormat", moteur::dbText, Valeur(c.format));
  AjoutePropriete(champ, "Priorite", moteur::dbInteger, Valeur(c.priorite));
  if (c.formatSaisie) {
    AjoutePropriete(champ, "Supplement", moteur::dbBoolean, Valeur(true));
    AjoutePropriete(champ, "FormatSaisie", moteur::dbText, Valeur(c.formatSaisie));
  }
}

void AjouteIndex(moteur::TableDef& table, const char* nom, const char* champs, bool primaire) {
  moteur::Index index = table.CreateIndex(nom);
  index.SetFields(champs);
  index.SetPrimary(primaire);
  index.SetUnique(primaire);
  table.Indexes().Append(index);
}

// Textes faits de mots, accents compris : des valeurs de longueurs variées, comme dans une
// vraie table, plutôt qu'une même chaîne répétée que tout cache rendrait gratuite.
class Textes {
 public:
  explicit Textes(std::mt19937_64& alea) : alea_(alea) {}

  // Au plus `max` caractères, jamais vide : les champs refusent la chaîne vide.
  std::string Phrase(std::size_t min, std::size_t max) {
    std::size_t cible = std::uniform_int_distribution<std::size_t>(min, max)(alea_);
    std::string r;
    std::size_t caracteres = 0;
    while (caracteres < cible) {
      std::string_view mot = Mots[std::uniform_int_distribution<std::size_t>(0, Mots.size() - 1)(alea_)];
      std::size_t n = Caracteres(mot) + (r.empty() ? 0 : 1);
      if (caracteres + n > max) break;
      if (!r.empty()) r += ' ';
      r += mot;
      caracteres += n;
    }
    return r.empty() ? std::string("x") : r;
  }

 private:
  static std::size_t Caracteres(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s)
      if ((c & 0xC0) != 0x80) ++n;
    return n;
  }

  static constexpr std::array<std::string_view, 24> Mots = {
      "facture", "échéance", "règlement", "client", "fournisseur", "société", "remise", "acompte",
      "livraison", "commande", "avoir", "relance", "trésorerie", "exercice", "clôture", "écriture",
      "journal", "compte", "débit", "crédit", "solde", "report", "TVA", "agence"};
  std::mt19937_64& alea_;
};

// Un enregistrement ordinaire de table de mesure, tel que le moteur le stocke.
class Enregistrements {
 public:
  explicit Enregistrements(std::uint64_t graine) : alea_(graine), textes_(alea_) {}

  void Lie(sqlite3_stmt* st, long long numero) {
    char code[16], date[32];
    std::snprintf(code, sizeof code, "C%07lld", numero % 10'000'000);
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", Entre(1990, 2030), Entre(1, 12), Entre(1, 28),
                  Entre(0, 23), Entre(0, 59), Entre(0, 59));
    nom_ = "Client " + std::to_string(numero) + " " + textes_.Phrase(1, 12);
    libelle_ = textes_.Phrase(5, 30);
    sqlite3_bind_int64(st, 1, numero);
    sqlite3_bind_text(st, 2, code, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, nom_.data(), static_cast<int>(nom_.size()), SQLITE_STATIC);
    sqlite3_bind_text(st, 4, libelle_.data(), static_cast<int>(libelle_.size()), SQLITE_STATIC);
    sqlite3_bind_double(st, 5, static_cast<double>(Entre(-100'000, 50'000'000)) / 100.0);
    sqlite3_bind_int64(st, 6, Entre(0, 9'999));
    sqlite3_bind_double(st, 7, std::uniform_real_distribution<double>(0, 100)(alea_));
    sqlite3_bind_text(st, 8, date, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 9, Entre(0, 1) ? -1 : 0);
    if (Entre(0, 2)) {
      sqlite3_bind_null(st, 10);
    } else {
      notes_ = textes_.Phrase(10, 60);
      sqlite3_bind_text(st, 10, notes_.data(), static_cast<int>(notes_.size()), SQLITE_STATIC);
    }
  }

  // Les mêmes valeurs, pour une écriture par le moteur.
  std::vector<std::pair<std::string, Valeur>> Valeurs(long long numero) {
    char code[16];
    std::snprintf(code, sizeof code, "C%07lld", numero % 10'000'000);
    return {{"Numero", Valeur(numero)},
            {"Code", Valeur(code)},
            {"Nom", Valeur("Client " + std::to_string(numero) + " " + textes_.Phrase(1, 12))},
            {"Libelle", Valeur(textes_.Phrase(5, 30))},
            {"Montant", Valeur(static_cast<double>(Entre(0, 100'000)) / 100.0)},
            {"Quantite", Valeur(static_cast<long long>(Entre(0, 9'999)))},
            {"Taux", Valeur(1.5)},
            {"Creation", Valeur::DateIso("2024-01-31 10:00:00")},
            {"Actif", Valeur(-1LL)},
            {"Notes", Valeur(textes_.Phrase(10, 80))}};
  }

 private:
  int Entre(int min, int max) { return std::uniform_int_distribution<int>(min, max)(alea_); }

  std::mt19937_64 alea_;
  Textes textes_;
  std::string nom_, libelle_, notes_;
};

// Le jeu se décrit dans un petit fichier de clés, pour les mesures lancées ensuite.
void EcritDescription(const JeuDeBases& jeu) {
  std::ofstream f(jeu.dossier + "/" + NomFichierJeu);
  f << "tables=" << jeu.tables << "\nenregistrements=" << jeu.enregistrements << "\n";
  if (!f) Echoue("écriture de la description du jeu impossible");
}

std::string Absolu(const std::string& chemin) { return std::filesystem::absolute(chemin).lexically_normal().string(); }

JeuDeBases Chemins(const std::string& dossier) {
  JeuDeBases jeu;
  jeu.dossier = Absolu(dossier);
  jeu.modele = jeu.dossier + "/" + NomFichierBase;
  jeu.cible = jeu.dossier + "/" + SousDossierCible + "/" + NomFichierBase;
  return jeu;
}

OptionsTable OptionsDuModele(int rang) {
  OptionsTable o;
  o.champRemarque = rang == TableSansRemarque;
  o.indexNom = rang == TableSansIndexNom;
  return o;
}

OptionsTable OptionsDeLaCible(int rang) {
  OptionsTable o;
  if (rang == TableNomClairAncien) o.nomClairLibelle = "Ancien libellé";
  return o;
}

void CreeStructure(const std::string& chemin, int tables, OptionsTable (*options)(int)) {
  moteur::Database base = moteur::DBEngine::CreateDatabase(chemin, "4.0");
  for (int rang = 0; rang < tables; ++rang) DefinitTable(base, NomTable(rang), options(rang));
  DefinitTable(base, NomTableTemporaire, OptionsTable{.dictionnaire = false});
  base.Close();
}

// Les défauts, écrits hors des règles comme une base abîmée ou ancienne les tient. Chaque champ
// de l'enregistrement au texte trop long a une valeur : la vérification après 3163 remplace un
// Null par une chaîne vide que le Mémo refuse, et l'enregistrement corrigé serait perdu.
long long EcritDefauts(const JeuDeBases& jeu, long long defautsParTable[]) {
  moteur::Database base = moteur::DBEngine::OpenDatabase(jeu.cible);
  Enregistrements valeurs(7);
  long long ecrits = 0;
  for (int rang = 0; rang < jeu.tables; ++rang) {
    long long numero = jeu.enregistrements - defautsParTable[rang] + 1;
    for (long long k = 0; k < defautsParTable[rang]; ++k, ++numero) {
      auto enregistrement = valeurs.Valeurs(numero);
      if (rang == TableTexteTropLong)
        enregistrement[2].second = Valeur("Client " + std::to_string(numero) + " " + std::string(60, 'x'));
      else
        enregistrement[1].second = Valeur::Nul();
      moteur::EcritSansControle(base, NomTable(rang), enregistrement);
      ++ecrits;
    }
  }
  base.Close();
  return ecrits;
}

}  // namespace

void DefinitTable(moteur::Database& base, const std::string& nom, const OptionsTable& options) {
  moteur::TableDef table = base.CreateTableDef(nom);
  for (std::size_t i = 0; i < Champs.size(); ++i) {
    const ChampMesure& c = Champs[i];
    moteur::Field champ = table.CreateField(c.nom, c.type, c.taille);
    champ.SetRequired(c.requis);
    if (*c.defaut) champ.SetDefaultValue(c.defaut);
    if (options.dictionnaire) AjouteDictionnaire(champ, c, options);
    table.Fields().Append(champ);
    if (options.champRemarque && std::string_view(c.nom) == "Libelle") {
      moteur::Field remarque = table.CreateField("Remarque", moteur::dbText, 100);
      if (options.dictionnaire)
        AjoutePropriete(remarque, "NomClair", moteur::dbText, Valeur("Remarque"));
      table.Fields().Append(remarque);
    }
  }
  AjouteIndex(table, "PrimaryKey", "+Numero", true);
  if (options.indexNom) AjouteIndex(table, "Nom", "+Nom", false);
  if (options.dictionnaire) table.Properties().Append(table.CreateProperty("NomClair", moteur::dbText, Valeur(nom)));
  base.TableDefs().Append(table);
}

void RemplitTable(const std::string& chemin, const std::string& table, long long premier, long long n,
                  std::uint64_t graine) {
  Sqlite base(chemin);
  base.Execute("PRAGMA cache_size = -65536; PRAGMA synchronous = OFF; BEGIN", "début de transaction");
  std::string texte = "INSERT INTO \"" + table +
                      "\" (Numero, Code, Nom, Libelle, Montant, Quantite, Taux, Creation, Actif, Notes) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
  Instruction ins(base, texte);
  Enregistrements valeurs(graine);
  for (long long numero = premier; numero < premier + n; ++numero) {
    valeurs.Lie(ins.get(), numero);
    VerifieSqlite(base.db(), sqlite3_step(ins.get()), "insertion");
    sqlite3_reset(ins.get());
  }
  base.Execute("COMMIT", "validation");
}

JeuDeBases GenereJeu(const std::string& dossier, int tables, long long enregistrements) {
  JeuDeBases jeu = Chemins(dossier);
  jeu.tables = tables;
  jeu.enregistrements = enregistrements;
  for (int rang = 0; rang < tables; ++rang) jeu.nomsTables.push_back(NomTable(rang));
  std::filesystem::create_directories(jeu.dossier + "/" + SousDossierCible);
  for (const auto& f : {jeu.modele, jeu.cible})
    if (std::filesystem::exists(f)) Echoue(f + " existe déjà : le jeu se génère dans un dossier neuf");

  CreeStructure(jeu.modele, tables, OptionsDuModele);
  CreeStructure(jeu.cible, tables, OptionsDeLaCible);

  std::vector<long long> defauts(static_cast<std::size_t>(tables), 0);
  if (tables > TableTexteTropLong) defauts[TableTexteTropLong] = 1;
  for (int rang : {1, 2})
    if (rang < tables) defauts[rang] = std::min<long long>(NulsRequisParTable, enregistrements);
  for (int rang = 0; rang < tables; ++rang) {
    defauts[rang] = std::min(defauts[rang], enregistrements);
    RemplitTable(jeu.cible, NomTable(rang), 1, enregistrements - defauts[rang], 1000 + rang);
  }
  RemplitTable(jeu.cible, NomTableTemporaire, 1, std::min<long long>(enregistrements, 1000), 999);
  EcritDefauts(jeu, defauts.data());
  EcritDescription(jeu);
  return jeu;
}

JeuDeBases LitJeu(const std::string& dossier) {
  JeuDeBases jeu = Chemins(dossier);
  std::ifstream f(jeu.dossier + "/" + NomFichierJeu);
  if (!f) Echoue(jeu.dossier + " ne contient pas de jeu généré (" + NomFichierJeu + " manquant)");
  std::map<std::string, long long> cles;
  std::string ligne;
  while (std::getline(f, ligne)) {
    auto egal = ligne.find('=');
    if (egal != std::string::npos) cles[ligne.substr(0, egal)] = std::strtoll(ligne.c_str() + egal + 1, nullptr, 10);
  }
  jeu.tables = static_cast<int>(cles["tables"]);
  jeu.enregistrements = cles["enregistrements"];
  if (jeu.tables <= 0 || jeu.enregistrements <= 0) Echoue("description du jeu illisible dans " + jeu.dossier);
  for (int rang = 0; rang < jeu.tables; ++rang) jeu.nomsTables.push_back(NomTable(rang));
  if (!std::filesystem::exists(jeu.modele) || !std::filesystem::exists(jeu.cible))
    Echoue("le jeu de " + jeu.dossier + " est incomplet");
  return jeu;
}

}  // namespace banc

// The database tool run as users run it: a separate process, its output, its exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "commun/FichiersTest.h"
#include "commun/SqliteSansMoteur.h"
#include "moteur/Moteur.h"

extern char** environ;

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

using utireorg::tests::LitFichier;

struct Execution {
  int code = -1;
  std::string sortie;
  std::string erreurs;
};

// Every field type, every kind of index, a relation, the five dictionary properties, written
// exactly as the tool prints a description: creating it and describing the result must give it back.
const char* const DescriptionComplete = R"json({
  "version": "4.0",
  "proprietes": [
    {"nom": "NomLogiciel", "type": 10, "valeur": "Essai"},
    {"nom": "Taux", "type": 5, "valeur": "19.6"}
  ],
  "tables": [
    {
      "nom": "Liens",
      "attributs": 0,
      "champs": [
        {"nom": "IdLien", "type": 4, "attributs": 16, "requis": false, "chaineVide": false, "ordinal": 0},
        {"nom": "IdType", "type": 4, "attributs": 0, "requis": true, "chaineVide": false, "ordinal": 1}
      ],
      "index": [
        {"nom": "PrimaryKey", "champs": "+IdLien", "unique": true, "primaire": true, "ignoreNuls": false}
      ],
      "enregistrements": [
        {"IdLien": 1, "IdType": 1},
        {"IdLien": 2, "IdType": 2}
      ]
    },
    {
      "nom": "Types",
      "attributs": 0,
      "proprietes": [
        {"nom": "NomClair", "type": 10, "valeur": "Tous les types"},
        {"nom": "Creation", "type": 8, "valeur": "2024-01-31 10:00:00"}
      ],
      "champs": [
        {"nom": "Id", "type": 4, "attributs": 16, "requis": false, "chaineVide": false, "ordinal": 0},
        {"nom": "Oui", "type": 1, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 1},
        {"nom": "Octet", "type": 2, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 2},
        {"nom": "Entier", "type": 3, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 3},
        {"nom": "EntierLong", "type": 4, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 4},
        {"nom": "Montant", "type": 5, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 5},
        {"nom": "Simple", "type": 6, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 6},
        {"nom": "Double", "type": 7, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 7},
        {"nom": "Quand", "type": 8, "attributs": 0, "requis": false, "chaineVide": false, "defaut": "Now()", "ordinal": 8},
        {"nom": "Octets", "type": 9, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 9},
        {"nom": "Libelle", "type": 10, "taille": 40, "attributs": 2, "requis": true, "chaineVide": false,
         "defaut": "\"?\"", "ordinal": 10,
         "proprietes": [
           {"nom": "NomClair", "type": 10, "valeur": "Libellé"},
           {"nom": "VEKFormat", "type": 10, "valeur": ">"},
           {"nom": "Priorite", "type": 3, "valeur": 5},
           {"nom": "Supplement", "type": 1, "valeur": true},
           {"nom": "FormatSaisie", "type": 10, "valeur": "@@@"}
         ]},
        {"nom": "Image", "type": 11, "attributs": 0, "requis": false, "chaineVide": false, "ordinal": 11},
        {"nom": "Notes", "type": 12, "attributs": 0, "requis": false, "chaineVide": true, "ordinal": 12,
         "proprietes": [{"nom": "Coefficient", "type": 7, "valeur": 2.5}]}
      ],
      "index": [
        {"nom": "PrimaryKey", "champs": "+Id", "unique": true, "primaire": true, "ignoreNuls": false},
        {"nom": "LibelleUnique", "champs": "+Libelle", "unique": true, "primaire": false, "ignoreNuls": false},
        {"nom": "Quand", "champs": "+Quand", "unique": false, "primaire": false, "ignoreNuls": true},
        {"nom": "LibelleQuand", "champs": "+Libelle;-Quand", "unique": false, "primaire": false, "ignoreNuls": false}
      ],
      "enregistrements": [
        {"Id": 1, "Oui": true, "Octet": 255, "Entier": -32768, "EntierLong": 2147483647,
         "Montant": "123456789.1234", "Simple": 1.1, "Double": -2.5e-10, "Quand": "2024-02-29 23:59:58",
         "Octets": {"hex": "00FF10"}, "Libelle": "Élève « été »", "Image": {"hex": "89504E470D0A"},
         "Notes": "ligne 1\nligne 2\tfin"},
        {"Id": 2, "Oui": false, "Octet": 0, "Entier": 0, "EntierLong": -2147483648,
         "Montant": "-0.0001", "Simple": -3.5, "Double": 0.1, "Quand": null,
         "Octets": null, "Libelle": "B", "Image": null, "Notes": ""},
        {"Id": 5, "Oui": false, "Octet": null, "Entier": null, "EntierLong": null,
         "Montant": null, "Simple": null, "Double": null, "Quand": "1899-12-30 08:30:00",
         "Octets": null, "Libelle": "C", "Image": null, "Notes": null}
      ]
    }
  ],
  "relations": [
    {"nom": "TypesLiens", "table": "Types", "tableEtrangere": "Liens", "attributs": 4096,
     "champs": [{"nom": "Id", "nomEtranger": "IdType"}]}
  ]
})json";

class Outil : public ::testing::Test {
 protected:
  void SetUp() override {
    static int numero = 0;
    dossier_ = fs::temp_directory_path() / ("outil_" + std::to_string(::getpid()) + "_" + std::to_string(++numero));
    fs::remove_all(dossier_);
    fs::create_directories(dossier_);
  }
  void TearDown() override { fs::remove_all(dossier_); }

  std::string Chemin(const std::string& nom) const { return (dossier_ / nom).string(); }

  std::string Ecrit(const std::string& nom, const std::string& contenu) const {
    utireorg::tests::EcritFichier(Chemin(nom), contenu);
    return Chemin(nom);
  }

  Execution Lance(const std::vector<std::string>& arguments) const { return LanceProgramme(CHEMIN_OUTIL, arguments); }

  Execution LanceProgramme(const std::string& programme, const std::vector<std::string>& arguments) const {
    std::string sortie = Chemin("sortie.txt"), erreurs = Chemin("erreurs.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, erreurs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> mots{programme};
    mots.insert(mots.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& m : mots) argv.push_back(m.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Execution e;
    if (posix_spawn(&pid, programme.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
      int statut = 0;
      waitpid(pid, &statut, 0);
      e.code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    e.sortie = LitFichier(sortie);
    e.erreurs = LitFichier(erreurs);
    return e;
  }

  Json Decrit(const std::string& base, bool avecDonnees = true) {
    std::vector<std::string> arguments{"decrire", base};
    if (!avecDonnees) arguments.push_back("--sans-donnees");
    Execution e = Lance(arguments);
    EXPECT_EQ(e.code, 0) << e.erreurs;
    return e.code == 0 ? Json::parse(e.sortie) : Json();
  }

  Execution Creer(const std::string& description, const std::string& nom) {
    return Lance({"creer", Ecrit(nom + ".json", description), Chemin(nom + ".mdb")});
  }

  // Creates a database from a description and fails the test with the tool's message if it cannot.
  std::string Cree(const std::string& description, const std::string& nom) {
    Execution e = Creer(description, nom);
    EXPECT_EQ(e.code, 0) << e.erreurs;
    return Chemin(nom + ".mdb");
  }

  fs::path dossier_;
};

class AllerRetour : public Outil {};

TEST_F(AllerRetour, DescriptionCompleteRedonneeALIdentique) {
  Json attendue = Json::parse(DescriptionComplete);
  Json lue = Decrit(Cree(DescriptionComplete, "complete"));
  EXPECT_EQ(lue.dump(2), attendue.dump(2));
  // A second generation from the printed text: the printed form is itself a stable description.
  Json relue = Decrit(Cree(lue.dump(2), "seconde"));
  EXPECT_EQ(relue.dump(2), lue.dump(2));
}

TEST_F(AllerRetour, LaBaseCreeeEstCelleQueLaDescriptionDemande) {
  // Read through the engine, not through "decrire": a fault shared by both directions of the
  // tool would otherwise go unseen.
  std::string chemin = Cree(DescriptionComplete, "complete");
  moteur::Database base = moteur::DBEngine::OpenDatabase(chemin, false, true);
  EXPECT_EQ(base.Version(), "4.0");
  EXPECT_EQ(base.Properties()["NomLogiciel"].Value().texte(), "Essai");
  moteur::TableDef types = base.TableDefs()["Types"];
  auto champs = types.Fields();
  ASSERT_EQ(champs.Count(), 13);
  for (int type = 1; type <= 12; ++type) EXPECT_EQ(champs[type].Type(), type) << champs[type].Name();
  EXPECT_EQ(champs["Libelle"].Size(), 40);
  EXPECT_TRUE(champs["Libelle"].Required());
  EXPECT_EQ(champs["Libelle"].DefaultValue(), "\"?\"");
  EXPECT_EQ(champs["Id"].Attributes() & moteur::dbAutoIncrField, moteur::dbAutoIncrField);
  auto proprietes = champs["Libelle"].Properties();
  EXPECT_EQ(proprietes["Priorite"].Type(), moteur::dbInteger);
  EXPECT_EQ(proprietes["Priorite"].Value().EnEntier(), 5);
  EXPECT_TRUE(proprietes["Supplement"].Value().EnBooleen());
  EXPECT_EQ(proprietes["VEKFormat"].Value().texte(), ">");
  EXPECT_EQ(types.Indexes()["LibelleQuand"].Fields(), "+Libelle;-Quand");
  EXPECT_TRUE(types.Indexes()["PrimaryKey"].Primary());
  EXPECT_TRUE(types.Indexes()["Quand"].IgnoreNulls());
  moteur::Relation relation = base.Relations()["TypesLiens"];
  EXPECT_EQ(relation.Attributes(), moteur::dbRelationDeleteCascade);
  EXPECT_EQ(relation.Fields()[0].ForeignName(), "IdType");
  moteur::Recordset rs =
      base.OpenRecordset("SELECT Montant, Quand, Octets FROM Types WHERE Id = 1", moteur::dbOpenSnapshot);
  EXPECT_EQ(rs["Montant"].Value(), moteur::Valeur::Monetaire(1234567891234LL));
  EXPECT_EQ(rs["Quand"].Value().EnDate().Iso(), "2024-02-29 23:59:58");
  EXPECT_EQ(rs["Octets"].Value(), moteur::Valeur::Binaire(std::string("\x00\xFF\x10", 3)));
  rs.Close();
  base.Close();
}

TEST_F(AllerRetour, NomsDeTypesAcceptesNumerosEcrits) {
  Json d = Decrit(Cree(R"({"tables": [{"nom": "T", "champs": [
      {"nom": "A", "type": "Texte", "taille": 12}, {"nom": "B", "type": "entier LONG"},
      {"nom": "C", "type": "Mémo"}, {"nom": "D", "type": "Date/Heure"}, {"nom": "E", "type": "Monetaire"},
      {"nom": "F", "type": "booleen"}]}]})",
                       "noms"));
  std::vector<int> types;
  for (const auto& c : d["tables"][0]["champs"]) types.push_back(c["type"].get<int>());
  EXPECT_EQ(types, (std::vector<int>{10, 4, 12, 8, 5, 1}));
  EXPECT_EQ(d["tables"][0]["champs"][0]["taille"], 12);
  EXPECT_EQ(d["version"], "4.0");
}

TEST_F(AllerRetour, ChampsDansLOrdreDeLeurPositionOrdinale) {
  Json d = Decrit(Cree(R"({"version": "3.0", "tables": [{"nom": "T", "champs": [
      {"nom": "Trois", "type": 4, "ordinal": 3}, {"nom": "Un", "type": 4, "ordinal": 1},
      {"nom": "Deux", "type": 4, "ordinal": 2}]}]})",
                       "ordre"));
  std::vector<std::string> noms;
  for (const auto& c : d["tables"][0]["champs"]) noms.push_back(c["nom"]);
  EXPECT_EQ(noms, (std::vector<std::string>{"Un", "Deux", "Trois"}));
  EXPECT_EQ(d["version"], "3.0");
}

TEST_F(AllerRetour, SansDonneesNEcritQueLaStructure) {
  std::string base = Cree(DescriptionComplete, "complete");
  Json d = Decrit(base, false);
  ASSERT_EQ(d["tables"].size(), 2u);
  for (const auto& t : d["tables"]) EXPECT_FALSE(t.contains("enregistrements")) << t["nom"];
  EXPECT_EQ(d["tables"][1]["index"].size(), 4u);
  EXPECT_EQ(d["relations"].size(), 1u);
}

TEST_F(AllerRetour, TablesSystemeJamaisDecrites) {
  Execution e = Lance({"decrire", Cree(DescriptionComplete, "complete")});
  ASSERT_EQ(e.code, 0) << e.erreurs;
  EXPECT_EQ(e.sortie.find("MSys"), std::string::npos);
}

TEST_F(AllerRetour, ValeurIllisibleDecriteEtReecriteTelleQuelle) {
  std::string base = Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "N", "type": 4}, {"nom": "D", "type": 8}],
      "enregistrements": [{"N": 1, "D": "2020-01-01 00:00:00"}],
      "enregistrementsDefectueux": [{"N": "abc", "D": "pas une date"}]}]})",
                          "illisible");
  Json d = Decrit(base);
  const Json& enregistrements = d["tables"][0]["enregistrements"];
  ASSERT_EQ(enregistrements.size(), 2u);
  EXPECT_EQ(enregistrements[1]["N"], Json::parse(R"({"illisible": "abc"})"));
  EXPECT_EQ(enregistrements[1]["D"], Json::parse(R"({"illisible": "pas une date"})"));
  std::string copie = Cree(d.dump(), "copie");
  EXPECT_EQ(Decrit(copie).dump(), d.dump());
  Execution v = Lance({"verifier", copie});
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.sortie.find("enregistrement 2, champ 'N' : valeur illisible comme Entier long (erreur 3343)"),
            std::string::npos)
      << v.sortie;
}

// Bytes that form no text, in a text field: the description still goes to its end, the bytes
// escaped where the value is, as "illisible".
TEST_F(AllerRetour, TexteQuiNEstPasDeLUtf8DecritSansArreter) {
  std::string base = Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "N", "type": 4}, {"nom": "Texte", "type": 10,
      "taille": 20}], "enregistrements": [{"N": 1, "Texte": "bon"}, {"N": 2, "Texte": "aussi"}]}]})",
                          "octets");
  ASSERT_EQ(utireorg::tests::EcritSansLeMoteur(base, "UPDATE T SET Texte = CAST(X'4162FF43' AS TEXT) WHERE N = 2;"),
            SQLITE_OK);
  Execution e = Lance({"decrire", base});
  ASSERT_EQ(e.code, 0) << e.erreurs;
  const Json description = Json::parse(e.sortie);
  const Json& enregistrements = description["tables"][0]["enregistrements"];
  ASSERT_EQ(enregistrements.size(), 2u);
  EXPECT_EQ(enregistrements[0]["Texte"], "bon");
  EXPECT_EQ(enregistrements[1]["Texte"], Json::parse(R"({"illisible": "Ab\\xFFC"})"));
}

TEST_F(AllerRetour, EnregistrementHorsReglesReecritAvecAvertissement) {
  std::string base = Cree(R"({"tables": [{"nom": "T", "champs": [
      {"nom": "Nom", "type": 10, "taille": 5, "requis": true}, {"nom": "Rang", "type": 4, "defaut": "7"}],
      "enregistrementsDefectueux": [{"Nom": "beaucoup trop long", "Rang": 1}, {"Rang": 2}]}]})",
                          "regles");
  Json d = Decrit(base);
  Execution e = Creer(d.dump(), "copie");
  ASSERT_EQ(e.code, 0) << e.erreurs;
  EXPECT_NE(e.erreurs.find("enregistrement 1 écrit tel quel malgré l'erreur 3163"), std::string::npos) << e.erreurs;
  EXPECT_NE(e.erreurs.find("enregistrement 2 écrit tel quel malgré l'erreur 3314"), std::string::npos) << e.erreurs;
  EXPECT_EQ(Decrit(Chemin("copie.mdb")).dump(), d.dump());
}

TEST_F(AllerRetour, DefautAppliqueAuxChampsOmis) {
  // An omitted field is not a null: the field's default applies, on the normal path and on the
  // path past the rules alike.
  Json d = Decrit(Cree(R"({"tables": [{"nom": "T", "champs": [
      {"nom": "Nom", "type": 10, "taille": 3}, {"nom": "Rang", "type": 4, "defaut": "7"}],
      "enregistrements": [{"Nom": "abc"}, {"Nom": "abcdef"}, {"Nom": "xyz", "Rang": null}]}]})",
                       "defauts"));
  const Json& e = d["tables"][0]["enregistrements"];
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0]["Rang"], 7);
  EXPECT_EQ(e[1]["Rang"], 7);
  EXPECT_EQ(e[1]["Nom"], "abcdef");
  EXPECT_TRUE(e[2]["Rang"].is_null());
}

class Verification : public Outil {};

TEST_F(Verification, BaseSaine) {
  Execution e = Lance({"verifier", Cree(DescriptionComplete, "complete")});
  EXPECT_EQ(e.code, 0) << e.sortie << e.erreurs;
  EXPECT_EQ(e.sortie, "Base saine.\n");
}

TEST_F(Verification, EnregistrementsDefectueuxNommesParTableChampEtPosition) {
  std::string base = Cree(R"({"tables": [
      {"nom": "Bonne", "champs": [{"nom": "X", "type": 4}], "enregistrements": [{"X": 1}]},
      {"nom": "Clients", "champs": [
        {"nom": "Nom", "type": 10, "taille": 10, "requis": true},
        {"nom": "Code", "type": 10, "taille": 4, "chaineVide": false},
        {"nom": "Age", "type": 2}, {"nom": "Solde", "type": 5}],
      "enregistrements": [{"Nom": "Dupont", "Code": "A1", "Age": 30}, {"Nom": "Durand", "Code": "B2"}],
      "enregistrementsDefectueux": [
        {"Nom": "Nom beaucoup trop long", "Code": "C3"},
        {"Nom": null, "Code": "D4"},
        {"Nom": "Martin", "Code": "", "Age": 300, "Solde": "douze"}]}]})",
                          "defauts");
  Execution e = Lance({"verifier", base});
  EXPECT_EQ(e.code, 1) << e.erreurs;
  EXPECT_EQ(
      e.sortie,
      "Table 'Clients', enregistrement 3, champ 'Nom' : texte de 22 caractères pour une taille de 10 (erreur 3163).\n"
      "Table 'Clients', enregistrement 4, champ 'Nom' : valeur Null dans un champ requis (erreur 3314).\n"
      "Table 'Clients', enregistrement 5, champ 'Code' : chaîne vide dans un champ qui les refuse (erreur 3315).\n"
      "Table 'Clients', enregistrement 5, champ 'Age' : valeur 300 hors des limites d'un champ Octet (erreur 3349).\n"
      "Table 'Clients', enregistrement 5, champ 'Solde' : valeur illisible comme Monétaire (erreur 3343).\n"
      "5 problèmes trouvés.\n");
}

// Numbers another program wrote past the rules: a Single beyond what four bytes hold, a Yes/No
// that is neither Yes (-1) nor No (0), a Yes/No left Null (which the engine reads No).
TEST_F(Verification, NombresHorsDeLeurTypeSontDesProblemesTrouves) {
  std::string base = Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "S", "type": 6}, {"nom": "O", "type": 1},
      {"nom": "D", "type": 7}],
      "enregistrements": [{"S": 3.5, "O": true}, {"S": -3.4e38, "O": false}],
      "enregistrementsDefectueux": [{"S": 1e300, "O": true}, {"S": -1e39, "O": false}]}]})",
                          "nombres");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(base.c_str(), &db), SQLITE_OK);
  // The engine's triggers would put a Null Yes/No back to No: another program writes past them,
  // then puts them back as they were.
  std::vector<std::pair<std::string, std::string>> declencheurs;
  {
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT name, sql FROM sqlite_master WHERE type = 'trigger'", -1, &st, nullptr),
              SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW)
      declencheurs.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
    sqlite3_finalize(st);
  }
  for (const auto& [nom, sql] : declencheurs)
    ASSERT_EQ(sqlite3_exec(db, ("DROP TRIGGER \"" + nom + "\"").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE T SET O = 7, D = 9e999 WHERE rowid = 3; UPDATE T SET O = NULL WHERE rowid = 4;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  for (const auto& [nom, sql] : declencheurs)
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << nom;
  sqlite3_close(db);
  Execution e = Lance({"verifier", base});
  EXPECT_EQ(e.code, 1) << e.erreurs;
  EXPECT_EQ(
      e.sortie,
      "Table 'T', enregistrement 3, champ 'S' : valeur 1e+300 hors des limites d'un champ Réel simple (erreur 3349).\n"
      "Table 'T', enregistrement 3, champ 'O' : valeur 7 dans un champ Oui/Non, qui ne tient que -1 (Vrai) ou 0 (Faux) "
      "; lue Vrai.\n"
      "Table 'T', enregistrement 3, champ 'D' : valeur infinie hors des limites d'un champ Réel double (erreur 3349).\n"
      "Table 'T', enregistrement 4, champ 'S' : valeur -1e+39 hors des limites d'un champ Réel simple (erreur 3349).\n"
      "Table 'T', enregistrement 4, champ 'O' : valeur Null dans un champ Oui/Non, qui n'en tient jamais ; lue Faux.\n"
      "5 problèmes trouvés.\n");
}

TEST_F(Verification, LongueurCompteeEnCaracteresPasEnOctets) {
  Execution e = Lance({"verifier", Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "A", "type": 10, "taille": 5}],
      "enregistrementsDefectueux": [{"A": "ééééé"}, {"A": "éééééé"}]}]})",
                                        "accents")});
  EXPECT_EQ(e.code, 1);
  EXPECT_EQ(e.sortie,
            "Table 'T', enregistrement 2, champ 'A' : texte de 6 caractères pour une taille de 5 (erreur 3163).\n"
            "1 problème trouvé.\n");
}

// What another program left in the file: a trigger that will never run, bytes that are no text.
TEST_F(Verification, ObjetInconnuEtTexteQuiNEstPasDeLUtf8) {
  std::string base = Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "A", "type": 12}],
      "enregistrements": [{"A": "bon"}, {"A": "aussi"}]}]})",
                          "plantee");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(base.c_str(), &db), SQLITE_OK);
  // The engine's rules ask the connection whether to skip a faulty row.
  sqlite3_create_function(db, "utireorg_ignore", 0, SQLITE_UTF8, nullptr, [](sqlite3_context* c, int, sqlite3_value**) {
    sqlite3_result_int(c, 0);
  }, nullptr, nullptr);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TRIGGER piege AFTER DELETE ON T BEGIN DELETE FROM MSysTables; END;"
                         "UPDATE T SET A = CAST(X'616263C328' AS TEXT) WHERE A = 'aussi';",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Execution e = Lance({"verifier", base});
  EXPECT_EQ(e.code, 1) << e.erreurs;
  EXPECT_EQ(e.sortie,
            "Objet inconnu du logiciel, qui ne sera jamais exécuté : déclencheur « piege » (table T).\n"
            "Table 'T', enregistrement 2, champ 'A' : texte qui n'est pas de l'UTF-8 valide (erreur 3343).\n"
            "2 problèmes trouvés.\n");
}

// A catalog value out of its range is a problem found in the file, named in good French.
TEST_F(Verification, CatalogueEndommageEstUnProblemeTrouve) {
  std::string base = Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "A", "type": 4}]}]})", "catalogue");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(base.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE MSysColumns SET Type = 99 WHERE Name = 'A'", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Execution e = Lance({"verifier", base});
  EXPECT_EQ(e.code, 1) << e.erreurs;
  EXPECT_NE(e.sortie.find("son catalogue donne au type du champ 'T.A' la valeur 99, hors des limites."),
            std::string::npos)
      << e.sortie << e.erreurs;
  EXPECT_NE(e.sortie.find("1 problème trouvé."), std::string::npos) << e.sortie;
}

// A field renamed in the catalog alone: the check names the catalog row, not the rules that no
// longer match it.
TEST_F(Verification, ChampRenommeDansLeCatalogueEstUnProblemeTrouve) {
  std::string base =
      Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "A", "type": 4}, {"nom": "B", "type": 10, "taille": 5}]}]})",
           "renomme");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(base.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE MSysColumns SET Name = 'C' WHERE Name = 'B'", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Execution e = Lance({"verifier", base});
  EXPECT_EQ(e.code, 1) << e.erreurs;
  EXPECT_NE(
      e.sortie.find("son catalogue donne au nom de la ligne 2 de MSysColumns (table 'T') la valeur « C », qui n'est le "
                    "nom d'aucune de ses colonnes ; sa colonne « B » n'a pas de champ.\n1 problème trouvé."),
      std::string::npos)
      << e.sortie << e.erreurs;
}

TEST_F(Verification, FichierQuiNEstPasUneBase) {
  Execution e =
      Lance({"verifier", Ecrit("faux.mdb", "ceci n'est pas une base de données, mais un simple texte assez long")});
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur "), std::string::npos) << e.erreurs;
}

// A writer killed in the middle of a large transaction leaves its journal beside the file, which
// a read-only open cannot roll back. The tool rolls it back as the next writer would, says so, and
// reads the file as it was before that transaction.
TEST_F(Verification, EcritureInterrompueAnnuleeAvantLecture) {
  const std::string base = Cree(DescriptionComplete, "complete");
  const Json avant = Decrit(base);
  for (const char* commande : {"decrire", "verifier"}) {
    SCOPED_TRACE(commande);
    const pid_t pid = ::fork();
    if (pid == 0) {
      // A cache of one page spills to the file before the end: the journal is then a hot one.
      sqlite3* db = nullptr;
      if (sqlite3_open(base.c_str(), &db) != SQLITE_OK) ::_exit(1);
      const int rc = sqlite3_exec(db,
                                  "PRAGMA cache_size=1; BEGIN; CREATE TABLE Remplissage(x);"
                                  " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
                                  " INSERT INTO Remplissage SELECT randomblob(500) FROM n;",
                                  nullptr, nullptr, nullptr);
      ::_exit(rc == SQLITE_OK ? 0 : 1);  // killed before its commit
    }
    int statut = 0;
    ASSERT_EQ(::waitpid(pid, &statut, 0), pid);
    ASSERT_TRUE(WIFEXITED(statut) && WEXITSTATUS(statut) == 0);
    ASSERT_TRUE(fs::exists(base + "-journal"));
    Execution e = Lance({commande, base});
    EXPECT_EQ(e.code, 0) << e.erreurs;
    EXPECT_NE(e.erreurs.find("Écriture interrompue annulée"), std::string::npos) << e.erreurs;
    EXPECT_FALSE(fs::exists(base + "-journal"));
    if (std::string(commande) == "verifier") EXPECT_EQ(e.sortie, "Base saine.\n");
    else EXPECT_EQ(Json::parse(e.sortie), avant);
  }
}

// A damaged page is told in French, one line a problem, the engine's own words kept after it.
TEST_F(Verification, PageEndommageeDiteEnFrancais) {
  ASSERT_EQ(Lance({"creer", CHEMIN_DEMO "/modele.json", Chemin("modele.mdb")}).code, 0);
  std::string contenu = LitFichier(Chemin("modele.mdb"));
  const std::size_t page = 4096 * 10;  // page 11, a table's
  ASSERT_GT(contenu.size(), page);
  contenu[page] = 7;  // no kind of page
  Execution e = Lance({"verifier", Ecrit("abimee.mdb", contenu)});
  EXPECT_EQ(e.code, 1) << e.erreurs;
  std::istringstream lignes(e.sortie);
  for (std::string ligne; std::getline(lignes, ligne);) {
    EXPECT_FALSE(ligne.starts_with("***")) << e.sortie;
    EXPECT_FALSE(std::regex_search(ligne, std::regex("^Page [0-9]+:"))) << e.sortie;
  }
  EXPECT_NE(e.sortie.find("Page 11 du fichier endommagée (détail du moteur : "), std::string::npos) << e.sortie;
}

class Sql : public Outil {};

TEST_F(Sql, SelectEcritEnTetePuisLignesSepareesParTabulations) {
  Execution e = Lance({"sql", Cree(DescriptionComplete, "complete"),
                       "SELECT Id, [Oui], Montant, Simple, Quand, Libelle, Notes FROM Types ORDER BY Id"});
  EXPECT_EQ(e.code, 0) << e.erreurs;
  EXPECT_EQ(e.sortie,
            "Id\tOui\tMontant\tSimple\tQuand\tLibelle\tNotes\n"
            "1\tVrai\t123456789,1234\t1,10000002384186\t29/02/2024 23:59:58\tÉlève « été »\tligne 1\\nligne 2\\tfin\n"
            "2\tFaux\t-0,0001\t-3,5\t\tB\t\n"
            "5\tFaux\t\t\t08:30:00\tC\t\n");
}

TEST_F(Sql, ModificationsAnnoncentLeNombreDEnregistrementsAffectes) {
  std::string base = Cree(DescriptionComplete, "complete");
  Execution insertion = Lance({"sql", base, "INSERT INTO Types (Libelle, Entier) VALUES ('D', 7)"});
  EXPECT_EQ(insertion.code, 0) << insertion.erreurs;
  EXPECT_EQ(insertion.sortie, "Enregistrements affectés : 1\n");
  Execution maj = Lance({"sql", base, "UPDATE Types SET Entier = 8 WHERE Entier IS NOT NULL"});
  EXPECT_EQ(maj.sortie, "Enregistrements affectés : 3\n");
  // The relation cascades: deleting type 1 deletes its link too.
  Execution suppression = Lance({"sql", base, "DELETE FROM Types WHERE Id = 1"});
  EXPECT_EQ(suppression.sortie, "Enregistrements affectés : 1\n");
  Execution reste = Lance({"sql", base, "SELECT IdLien FROM Liens"});
  EXPECT_EQ(reste.sortie, "IdLien\n2\n");
  Execution entiers = Lance({"sql", base, "SELECT Libelle, Entier FROM Types ORDER BY Libelle"});
  EXPECT_EQ(entiers.sortie, "Libelle\tEntier\nB\t8\nC\t\nD\t8\n");
}

TEST_F(Sql, InstructionRefuseeNeChangeRien) {
  std::string base = Cree(DescriptionComplete, "complete");
  Execution e = Lance({"sql", base, "UPDATE Types SET Libelle = Null"});
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3314 : "), std::string::npos) << e.erreurs;
  EXPECT_EQ(Lance({"sql", base, "SELECT Libelle FROM Types ORDER BY Id"}).sortie, "Libelle\nÉlève « été »\nB\nC\n");
  Execution syntaxe = Lance({"sql", base, "SUPPRIME Types"});
  EXPECT_EQ(syntaxe.code, 2);
  EXPECT_NE(syntaxe.erreurs.find("Erreur 3129 : "), std::string::npos) << syntaxe.erreurs;
}

TEST_F(Sql, ValeurIllisibleSignaleeSansInterrompreLaLecture) {
  std::string base = Cree(R"({"tables": [{"nom": "T", "champs": [{"nom": "N", "type": 4}, {"nom": "L", "type": 10}],
      "enregistrements": [{"N": 1, "L": "a"}], "enregistrementsDefectueux": [{"N": "x", "L": "b"}]}]})",
                          "illisible");
  Execution e = Lance({"sql", base, "SELECT N, L FROM T"});
  EXPECT_EQ(e.code, 0);
  EXPECT_EQ(e.sortie, "N\tL\n1\ta\n#Illisible\tb\n");
  EXPECT_NE(e.erreurs.find("3343"), std::string::npos);
}

class Erreurs : public Outil {};

TEST_F(Erreurs, BaseIntrouvable) {
  std::string absente = Chemin("absente.mdb");
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"decrire", absente}, {"verifier", absente}, {"sql", absente, "SELECT * FROM T"}}) {
    Execution e = Lance(arguments);
    EXPECT_EQ(e.code, 2) << arguments[0];
    EXPECT_EQ(e.erreurs, "Erreur 3024 : Fichier '" + absente + "' introuvable.\n") << arguments[0];
    EXPECT_TRUE(e.sortie.empty());
  }
}

TEST_F(Erreurs, DescriptionIntrouvable) {
  Execution e = Lance({"creer", Chemin("absente.json"), Chemin("base.mdb")});
  EXPECT_EQ(e.code, 2);
  EXPECT_EQ(e.erreurs, "Erreur 3024 : Fichier '" + Chemin("absente.json") + "' introuvable.\n");
  EXPECT_FALSE(fs::exists(Chemin("base.mdb")));
}

TEST_F(Erreurs, JsonMalFormeSitueParLigneEtColonne) {
  Execution e = Creer("{\"tables\": [\n  {\"nom\": \"T\",, \"champs\": []}\n]}", "mal");
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3343 : Format de description non reconnu"), std::string::npos) << e.erreurs;
  EXPECT_NE(e.erreurs.find("(ligne 2, colonne 15)"), std::string::npos) << e.erreurs;
  EXPECT_FALSE(fs::exists(Chemin("mal.mdb")));
}

TEST_F(Erreurs, TypeInconnuNommeSonChamp) {
  for (const char* type : {"\"Chaîne\"", "13", "0"}) {
    Execution e =
        Creer(std::string(R"({"tables": [{"nom": "T", "champs": [{"nom": "A", "type": 4}, {"nom": "X", "type": )") +
                  type + "}]}]}",
              "type");
    EXPECT_EQ(e.code, 2) << type;
    EXPECT_NE(e.erreurs.find("Erreur 3259 : Type de données de champ ou de propriété non valide."), std::string::npos)
        << e.erreurs;
    EXPECT_NE(e.erreurs.find("Dans : table 'T', champ 'X'"), std::string::npos) << e.erreurs;
    EXPECT_FALSE(fs::exists(Chemin("type.mdb")));
  }
}

TEST_F(Erreurs, CleInconnueRefusee) {
  Execution e = Creer(R"({"tables": [{"nom": "T", "champs": [{"nom": "A", "type": 10, "taile": 5}]}]})", "cle");
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3343 : "), std::string::npos) << e.erreurs;
  EXPECT_NE(e.erreurs.find("\"taile\""), std::string::npos) << e.erreurs;
}

TEST_F(Erreurs, FichierExistantLaisseIntact) {
  std::string base = Ecrit("existe.mdb", "contenu d'origine");
  Execution e = Lance({"creer", Ecrit("d.json", DescriptionComplete), base});
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3204 : "), std::string::npos) << e.erreurs;
  EXPECT_EQ(LitFichier(base), "contenu d'origine");
}

TEST_F(Erreurs, EchecEnCoursDeCreationNeLaisseAucunFichier) {
  Execution e = Creer(R"({"tables": [{"nom": "T", "champs": [{"nom": "A", "type": 10}],
      "index": [{"nom": "U", "champs": "A", "unique": true}],
      "enregistrements": [{"A": "x"}, {"A": "y"}, {"A": "x"}]}]})",
                      "doublon");
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3022 : "), std::string::npos) << e.erreurs;
  EXPECT_NE(e.erreurs.find("Dans : table 'T', enregistrement 3"), std::string::npos) << e.erreurs;
  EXPECT_FALSE(fs::exists(Chemin("doublon.mdb")));
}

TEST_F(Erreurs, ValeurInconvertibleNommeEnregistrementEtChamp) {
  Execution e = Creer(R"({"tables": [{"nom": "T", "champs": [{"nom": "N", "type": 4}],
      "enregistrements": [{"N": 1}, {"N": "deux"}]}]})",
                      "conversion");
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3421 : "), std::string::npos) << e.erreurs;
  EXPECT_NE(e.erreurs.find("Dans : table 'T', enregistrement 2, champ 'N'"), std::string::npos) << e.erreurs;
}

TEST_F(Erreurs, RelationSansEnregistrementLie) {
  Execution e = Creer(R"({"tables": [
      {"nom": "P", "champs": [{"nom": "Id", "type": 4}], "enregistrements": [{"Id": 1}]},
      {"nom": "E", "champs": [{"nom": "IdP", "type": 4}], "enregistrements": [{"IdP": 2}]}],
      "relations": [{"nom": "PE", "table": "P", "tableEtrangere": "E", "champs": [{"nom": "Id", "nomEtranger": "IdP"}]}]})",
                      "relation");
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.erreurs.find("Erreur 3201 : "), std::string::npos) << e.erreurs;
  EXPECT_NE(e.erreurs.find("Dans : relation 'PE'"), std::string::npos) << e.erreurs;
}

// A description that is no regular file is named for what it is.
TEST_F(Erreurs, DescriptionQuiNEstPasUnFichier) {
  fs::create_directory(Chemin("dossier.json"));
  for (const std::string& description : {std::string("/dev/null"), Chemin("dossier.json")}) {
    Execution e = Lance({"creer", description, Chemin("base.mdb")});
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(e.erreurs.find("introuvable"), std::string::npos) << e.erreurs;
    EXPECT_NE(e.erreurs.find("n'est pas un fichier"), std::string::npos) << e.erreurs;
    EXPECT_FALSE(fs::exists(Chemin("base.mdb")));
  }
}

TEST_F(Erreurs, LigneDeCommandeIncorrecte) {
  Execution sans = Lance({});
  EXPECT_EQ(sans.code, 2);
  EXPECT_NE(sans.erreurs.find("sous-commande attendue"), std::string::npos) << sans.erreurs;
  Execution manque = Lance({"creer", Chemin("d.json")});
  EXPECT_EQ(manque.code, 2);
  EXPECT_NE(manque.erreurs.find("l'argument FICHIER est obligatoire"), std::string::npos) << manque.erreurs;
}

// The parser's own English never reaches the user: each kind of mistake is told in French,
// naming the option or the value at fault.
TEST_F(Erreurs, LigneDeCommandeExpliqueeEnFrancais) {
  const std::string lot = CHEMIN_LOT;
  struct Cas {
    std::string programme;
    std::vector<std::string> arguments;
    std::string attendu;
  };
  const std::vector<Cas> cas{
      {lot, {}, "Erreur de syntaxe : l'option --cible est obligatoire."},
      {lot, {"--cible"}, "Erreur de syntaxe : l'option --cible attend une valeur (FICHIER)."},
      {lot, {"--cible", "a", "--foo"}, "Erreur de syntaxe : argument inattendu : --foo."},
      {lot, {"--cible", "a", "b", "c"}, "Erreur de syntaxe : arguments inattendus : b c."},
      {lot, {"--cible", "a", "--repondre", "abc"}, "Erreur de syntaxe : valeur non valide pour --repondre : « abc »."},
      {lot, {"--cible", "a", "--options", "7"},
       "Erreur de syntaxe : valeur non valide pour --options : « 7 » (de 0 à 5)."},
      {CHEMIN_OUTIL, {"convertir", "a", "b", "--version"},
       "Erreur de syntaxe : l'option --version attend une valeur (TEXTE)."},
      {CHEMIN_OUTIL, {"verifier"}, "Erreur de syntaxe : l'argument FICHIER est obligatoire."},
  };
  for (const auto& c : cas) {
    Execution e = LanceProgramme(c.programme, c.arguments);
    EXPECT_EQ(e.code, 2) << c.attendu;
    EXPECT_EQ(e.erreurs.substr(0, e.erreurs.find('\n')), c.attendu) << e.erreurs;
    for (const char* anglais : {"required", "expected", "Could not", "not in range", "missing"})
      EXPECT_EQ(e.erreurs.find(anglais), std::string::npos) << e.erreurs;
  }
}

// The mistake named is the one made: an unknown option rather than the missing one it stood
// for, an option given twice, an option left without its value, a value out of its range.
TEST_F(Erreurs, LigneDeCommandeNommeLaVraieFaute) {
  const std::string lot = CHEMIN_LOT;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cas{
      {{"-x"}, "argument inattendu : -x"},
      {{"--Cible", "a.mdb"}, "argument inattendu : --Cible (voulez-vous dire --cible ?)"},
      {{"--cible", "a", "--cible", "b"}, "l'option --cible est donnée plusieurs fois"},
      {{"--rapport", "--cible", "x.mdb"}, "l'option --rapport attend une valeur (FICHIER.json)"},
      {{"--cible", "a", "--oui=2"}, "l'option --oui ne prend pas de valeur"},
      {{"--cible", "a", "--repondre", "-5"},
       "valeur non valide pour --repondre : « -5 » (un numéro de bouton, à partir de 1)"},
      // Options that cannot go together are named, whatever their order.
      {{"--tous-les-dossiers", "--cible", "a", "--modele", "m"},
       "options incompatibles : --cible et --tous-les-dossiers"},
      {{"--cible", "a", "--tous-les-dossiers", "--modele", "m"},
       "options incompatibles : --cible et --tous-les-dossiers"},
      {{"--cible", "a", "--parallele", "2"}, "l'option --parallele ne s'emploie qu'avec --tous-les-dossiers"},
  };
  for (const auto& [arguments, attendu] : cas) {
    Execution e = LanceProgramme(lot, arguments);
    EXPECT_EQ(e.code, 2) << attendu;
    EXPECT_EQ(e.erreurs.substr(0, e.erreurs.find('\n')), "Erreur de syntaxe : " + attendu + ".") << e.erreurs;
  }

  Execution inconnue = Lance({"inconnue", "a"});
  EXPECT_EQ(inconnue.code, 2);
  EXPECT_EQ(inconnue.erreurs.substr(0, inconnue.erreurs.find('\n')),
            "Erreur de syntaxe : sous-commande inconnue : inconnue (convertir, creer, decrire, sql ou verifier).")
      << inconnue.erreurs;
  Execution version = Lance({"--version"});
  EXPECT_EQ(version.code, 0) << version.erreurs;
  EXPECT_TRUE(version.sortie.starts_with("utireorg-base ")) << version.sortie;
}

// The help follows French typography (a space before a colon) and points to what the package
// installs, not to the sources' README.
TEST_F(Erreurs, AideEnFrancaisEtSansRenvoiAuxSources) {
  for (const std::string& programme : {std::string(CHEMIN_LOT), std::string(CHEMIN_OUTIL)}) {
    Execution aide = LanceProgramme(programme, {"--help"});
    EXPECT_EQ(aide.code, 0) << aide.erreurs;
    std::smatch colle;
    EXPECT_FALSE(std::regex_search(aide.sortie, colle, std::regex("[[:alnum:]]:( |\n)"))) << colle.str() << aide.sortie;
    EXPECT_EQ(aide.sortie.find("README"), std::string::npos) << aide.sortie;
    EXPECT_NE(aide.sortie.find("Utilisation : "), std::string::npos) << aide.sortie;
  }
}

class Demo : public Outil {};

TEST_F(Demo, ModeleCreeSainEtComplet) {
  Execution e = Lance({"creer", CHEMIN_DEMO "/modele.json", Chemin("modele.mdb")});
  ASSERT_EQ(e.code, 0) << e.erreurs;
  EXPECT_TRUE(e.erreurs.empty()) << e.erreurs;
  EXPECT_EQ(Lance({"verifier", Chemin("modele.mdb")}).sortie, "Base saine.\n");
  Json d = Decrit(Chemin("modele.mdb"), false);
  EXPECT_EQ(d["version"], "4.0");
  std::vector<std::string> tables;
  for (const auto& t : d["tables"]) tables.push_back(t["nom"]);
  for (const char* nom : {"Clients", "Factures", "LignesFacture", "Parametres"})
    EXPECT_NE(std::find(tables.begin(), tables.end(), nom), tables.end()) << nom;
  bool cascade = false;
  for (const auto& r : d["relations"])
    cascade |= (r["attributs"].get<long long>() & moteur::dbRelationDeleteCascade) != 0;
  EXPECT_TRUE(cascade);
}

TEST_F(Demo, CibleCreeeAvecSesDefauts) {
  Execution e = Lance({"creer", CHEMIN_DEMO "/cible.json", Chemin("cible.mdb")});
  ASSERT_EQ(e.code, 0) << e.erreurs;
  Execution v = Lance({"verifier", Chemin("cible.mdb")});
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.sortie.find("(erreur 3163)"), std::string::npos) << v.sortie;
  EXPECT_NE(v.sortie.find("(erreur 3314)"), std::string::npos) << v.sortie;
  Json d = Decrit(Chemin("cible.mdb"));
  EXPECT_EQ(d["version"], "3.0");
  std::size_t enregistrements = 0;
  for (const auto& t : d["tables"]) enregistrements += t.value("enregistrements", Json::array()).size();
  EXPECT_GE(enregistrements, 25u);
}

TEST_F(Demo, CibleEnRetardSurLeModele) {
  ASSERT_EQ(Lance({"creer", CHEMIN_DEMO "/modele.json", Chemin("modele.mdb")}).code, 0);
  ASSERT_EQ(Lance({"creer", CHEMIN_DEMO "/cible.json", Chemin("cible.mdb")}).code, 0);
  Json modele = Decrit(Chemin("modele.mdb"), false), cible = Decrit(Chemin("cible.mdb"), false);
  auto table = [](const Json& d, const std::string& nom) -> const Json* {
    for (const auto& t : d["tables"])
      if (t["nom"] == nom) return &t;
    return nullptr;
  };
  auto champ = [](const Json& t, const std::string& nom) -> const Json* {
    for (const auto& c : t["champs"])
      if (c["nom"] == nom) return &c;
    return nullptr;
  };
  int tablesManquantes = 0, champsManquants = 0, textesPlusCourts = 0, indexManquants = 0, proprietesManquantes = 0;
  for (const auto& t : modele["tables"]) {
    const Json* autre = table(cible, t["nom"]);
    if (!autre) {
      ++tablesManquantes;
      continue;
    }
    if (t["index"].size() > (*autre)["index"].size()) ++indexManquants;
    for (const auto& c : t["champs"]) {
      const Json* c2 = champ(*autre, c["nom"]);
      if (!c2) {
        ++champsManquants;
        continue;
      }
      if (c["type"] == 10 && (*c2)["type"] == 10 && (*c2)["taille"] < c["taille"]) ++textesPlusCourts;
      if (c.value("proprietes", Json::array()).size() > c2->value("proprietes", Json::array()).size())
        ++proprietesManquantes;
    }
  }
  EXPECT_GE(tablesManquantes, 1);
  EXPECT_GE(champsManquants, 1);
  EXPECT_GE(textesPlusCourts, 1);
  EXPECT_GE(indexManquants, 1);
  EXPECT_GE(proprietesManquantes, 1);
}

}  // namespace

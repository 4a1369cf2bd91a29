#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/Ansi.h"
#include "commun/FenetreFactice.h"
#include "journal/Journal.h"
#include "moteur/OutilsMoteur.h"
#include "records/CopieEnregistrements.h"

using namespace utireorg;
using moteur::Valeur;
using outils::AjouteIndex;
using outils::Colonne;
using outils::CreeTable;
using outils::Ligne;

namespace {

namespace fs = std::filesystem;

const std::string Sequentielle(const std::string& table) {
  return "       Table : " + table + " : tentative de copie séquentielle.";
}
const std::string Reussie = "       Tentative réussie.";
const std::string Echouee = "       Tentative échouée.";

// The scripted window, counting how often each option box is read.
class FenetreCopie : public tests::FenetreFactice {
 public:
  bool Case(const std::string& nom) const override {
    ++lectures[nom];
    return FenetreFactice::Case(nom);
  }
  mutable std::map<std::string, int> lectures;
};

class CopieEnregistrements : public ::testing::Test {
 protected:
  void SetUp() override {
    ancien_ = fs::current_path();
    fs::current_path(dossier_.Racine());
    ASSERT_TRUE(journal.OuvertureJournal());
  }
  void TearDown() override {
    journal.FermetureJournal();
    while (moteur::DBEngine::NiveauTransaction() > 0) moteur::DBEngine::Rollback();
    fs::current_path(ancien_);
  }

  std::string Chemin(const std::string& nom) const { return dossier_.Racine() + "/" + nom; }
  moteur::Database Cree(const std::string& nom) { return moteur::DBEngine::CreateDatabase(Chemin(nom)); }

  // The lines of "Analyse.txt" written after the section block, which is checked on the way.
  std::vector<std::string> Lignes() {
    std::string texte = DepuisAnsi(outils::LitFichier("Analyse.txt"));
    std::vector<std::string> lignes;
    std::size_t debut = 0;
    for (std::size_t fin; (fin = texte.find("\r\n", debut)) != std::string::npos; debut = fin + 2)
      lignes.push_back(texte.substr(debut, fin - debut));
    EXPECT_EQ(debut, texte.size()) << "dernière ligne sans fin de ligne";
    if (lignes.size() < 5) {
      ADD_FAILURE() << "pas de section dans le journal";
      return {};
    }
    EXPECT_EQ(lignes[0], "");
    EXPECT_EQ(lignes[1], std::string(75, '-'));
    EXPECT_NE(lignes[2].find(" Copie des enregistrements "), std::string::npos) << lignes[2];
    EXPECT_EQ(lignes[3], std::string(75, '-'));
    EXPECT_EQ(lignes[4], "");
    return {lignes.begin() + 5, lignes.end()};
  }

  // The captions are shown once and stay.
  void VerifieLegendes() {
    ASSERT_EQ(fenetre.legendes.size(), 1u);
    EXPECT_EQ(fenetre.legendes[0].first, "Copie des enregistrements");
    EXPECT_EQ(fenetre.legendes[0].second, "Veuillez patienter...");
  }

  static std::string Propriete(moteur::Database& base, const std::string& table, const std::string& champ,
                               const std::string& nom) {
    Valeur v;
    auto r = moteur::Essaie([&] { v = base.TableDefs()[table].Fields()[champ].Properties()[nom].Value(); });
    return r ? v.EnTexte() : "<absente>";
  }
  static void AjoutePropriete(moteur::Database& base, const std::string& table, const std::string& champ,
                              const std::string& nom, int type, const Valeur& valeur) {
    auto f = base.TableDefs()[table].Fields()[champ];
    f.Properties().Append(f.CreateProperty(nom, type, valeur));
  }

  outils::DossierTest dossier_;
  fs::path ancien_;

 protected:
  FenetreCopie fenetre;
  Journal journal{fenetre};
  EtatReorganisation etat{fenetre, journal};
};

// ---- Bulk copy ----

TEST_F(CopieEnregistrements, TableSourceVideDonneZeroSurZeroSansPrefixe) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}});

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), std::vector<std::string>{"Table : T Copie de 0/0 enregistrements"});
  VerifieLegendes();
}

TEST_F(CopieEnregistrements, CopieGroupeeDansLOrdreDesTablesAvecLesValeurs) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "Zeta", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 30}});
  CreeTable(orig, "Alpha", {{"Code", moteur::dbText, 10}, {"Actif", moteur::dbBoolean}});
  // The model spells the names its own way and has its fields in another order.
  CreeTable(dest, "ALPHA", {{"Actif", moteur::dbBoolean}, {"Code", moteur::dbText, 10}});
  CreeTable(dest, "zeta", {{"Nom", moteur::dbText, 30}, {"Id", moteur::dbLong}, {"Ajout", moteur::dbText, 5}});
  for (int i = 1; i <= 3; ++i) outils::Ajoute(orig, "Zeta", {{"Id", i}, {"Nom", "nom " + std::to_string(i)}});
  outils::Ajoute(orig, "Alpha", {{"Code", "A1"}, {"Actif", true}});
  outils::Ajoute(orig, "Alpha", {{"Code", "A2"}, {"Actif", false}});

  // The lines follow the target's own table order, whatever the order of creation.
  std::vector<std::string> attendues;
  for (int i = 0; i < orig.TableDefs().Count(); ++i) {
    std::string nom = orig.TableDefs()[i].Name();
    if (nom == "Zeta") attendues.push_back("Table : Zeta Copie de 3/3 enregistrements");
    if (nom == "Alpha") attendues.push_back("Table : Alpha Copie de 2/2 enregistrements");
  }
  fenetre.valeursProgress.clear();
  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), attendues);
  // The bar moves table by table: none copied, one of two, both.
  EXPECT_EQ(fenetre.progressMax, 2);
  EXPECT_EQ(fenetre.valeursProgress, (std::vector<long>{0, 1, 2}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM zeta ORDER BY Id", "Nom"),
            (std::vector<std::string>{"nom 1", "nom 2", "nom 3"}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM zeta ORDER BY Id", "Ajout"),
            (std::vector<std::string>{"<nul>", "<nul>", "<nul>"}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM ALPHA ORDER BY Code", "Actif"), (std::vector<std::string>{"Vrai", "Faux"}));
  EXPECT_EQ(fenetre.lectures[cases::LigneALigne], 2);
}

// Bytes another program wrote into a text, that form no UTF-8, are not handed on into the copy:
// they become Null there, with a line naming the copy, the table, the record and the field.
TEST_F(CopieEnregistrements, TexteQuiNEstPasDeLUtf8DevientNulDansLaCopie) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 10}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 10}});
  outils::Ajoute(orig, "T", {{"Id", 1}, {"Nom", "un"}});
  moteur::EcritSansControle(orig, "T", {{"Id", 2}, {"Nom", Valeur(std::string("no\xFF"))}});

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(),
            (std::vector<std::string>{"Table : T Copie de 2/2 enregistrements",
                                      "#ALERT# Table 'T' de copie_reorg.mdb, enregistrement Id = 2 : la valeur "
                                      "du champ 'Nom' est illisible, remplacée par Null (octets lus : "
                                      "\"no\\xFF\")."}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Nom"), (std::vector<std::string>{"un", "<nul>"}));
}

TEST_F(CopieEnregistrements, VideLaCopieAvantEtGardeLesTablesSansPendant) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}});
  CreeTable(dest, "Parametres", {{"Cle", moteur::dbText, 20}});
  outils::Ajoute(orig, "T", {{"Id", 1}});
  outils::Ajoute(orig, "T", {{"Id", 2}});
  outils::Ajoute(dest, "T", {{"Id", 99}});
  outils::Ajoute(dest, "Parametres", {{"Cle", "modele"}});

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), std::vector<std::string>{"Table : T Copie de 2/2 enregistrements"});
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Id"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM Parametres", "Cle"), std::vector<std::string>{"modele"});
}

// The model's own records may let a child's records in; emptying the parent afterwards would then
// delete them in cascade, behind a journal line that counted them as copied.
TEST_F(CopieEnregistrements, SuppressionEnCascadeNeDefaitPasUneTableDejaCopiee) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  for (auto* base : {&orig, &dest}) {
    CreeTable(*base, "Achats", {{"Num", moteur::dbLong}, {"FournisseurId", moteur::dbLong}});
    auto parent = CreeTable(*base, "Fournisseurs", {{"Id", moteur::dbLong}});
    AjouteIndex(parent, "Cle", "Id", true, true);
  }
  auto rel = dest.CreateRelation("FournisseursAchats", "Fournisseurs", "Achats", moteur::dbRelationDeleteCascade);
  auto f = rel.CreateField("Id");
  f.SetForeignName("FournisseurId");
  rel.Fields().Append(f);
  dest.Relations().Append(rel);
  outils::Ajoute(dest, "Fournisseurs", {{"Id", 1}});
  outils::Ajoute(orig, "Fournisseurs", {{"Id", 1}});
  outils::Ajoute(orig, "Achats", {{"Num", 10}, {"FournisseurId", 1}});
  outils::Ajoute(orig, "Achats", {{"Num", 11}, {"FournisseurId", 1}});
  ASSERT_EQ(orig.TableDefs()[0].Name(), "Achats");

  // The parent is copied first, whatever the target's order: the child's records then all find theirs.
  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{"Table : Fournisseurs Copie de 1/1 enregistrements",
                                                "Table : Achats Copie de 2/2 enregistrements"}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM Achats ORDER BY Num", "Num"), (std::vector<std::string>{"10", "11"}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM Fournisseurs", "Id"), std::vector<std::string>{"1"});
}

// The model's own records, held by an enforced relation without cascading deletes: the children
// are emptied first, or the parent's records could not be deleted and would clash with the copy.
TEST_F(CopieEnregistrements, EnfantsVidesAvantLeursParentsDansLaCopie) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  for (auto* base : {&orig, &dest}) {
    auto parent = CreeTable(*base, "Fournisseurs", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 20}});
    AjouteIndex(parent, "Cle", "Id", true, true);
    CreeTable(*base, "Achats", {{"Num", moteur::dbLong}, {"FournisseurId", moteur::dbLong}});
  }
  auto rel = dest.CreateRelation("FournisseursAchats", "Fournisseurs", "Achats");
  auto f = rel.CreateField("Id");
  f.SetForeignName("FournisseurId");
  rel.Fields().Append(f);
  dest.Relations().Append(rel);
  outils::Ajoute(dest, "Fournisseurs", {{"Id", 1}, {"Nom", "du modèle"}});
  outils::Ajoute(dest, "Achats", {{"Num", 99}, {"FournisseurId", 1}});
  for (int id : {1, 2}) {
    outils::Ajoute(orig, "Fournisseurs", {{"Id", id}, {"Nom", "cible " + std::to_string(id)}});
    outils::Ajoute(orig, "Achats", {{"Num", 9 + id}, {"FournisseurId", id}});
  }

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{"Table : Fournisseurs Copie de 2/2 enregistrements",
                                                "Table : Achats Copie de 2/2 enregistrements"}));
  // The target's records, not the model's left in place behind the same count.
  EXPECT_EQ(Colonne(dest, "SELECT * FROM Fournisseurs ORDER BY Id", "Nom"),
            (std::vector<std::string>{"cible 1", "cible 2"}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM Achats ORDER BY Num", "Num"), (std::vector<std::string>{"10", "11"}));
}

// A record of the model that a table of the model alone still refers to cannot be deleted: it is
// not a copy, and the count must not take it for one.
TEST_F(CopieEnregistrements, EnregistrementDuModeleResteNEstPasCompteCommeCopie) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  for (auto* base : {&orig, &dest}) {
    auto parent = CreeTable(*base, "Fournisseurs", {{"Id", moteur::dbLong}});
    AjouteIndex(parent, "Cle", "Id", true, true);
  }
  CreeTable(dest, "Reglements", {{"FournisseurId", moteur::dbLong}});
  auto rel = dest.CreateRelation("FournisseursReglements", "Fournisseurs", "Reglements");
  auto f = rel.CreateField("Id");
  f.SetForeignName("FournisseurId");
  rel.Fields().Append(f);
  dest.Relations().Append(rel);
  outils::Ajoute(dest, "Fournisseurs", {{"Id", 1}});
  outils::Ajoute(dest, "Reglements", {{"FournisseurId", 1}});
  for (int id : {1, 2}) outils::Ajoute(orig, "Fournisseurs", {{"Id", id}});

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), std::vector<std::string>{"**** Table : Fournisseurs Copie de 1/2 enregistrements"});
}

// Relations that go round in a circle cannot all be satisfied: the target's order then decides,
// and the journal still counts what each table holds.
TEST_F(CopieEnregistrements, RelationsEnCercleGardentLOrdreDeLaCible) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  for (auto* base : {&orig, &dest}) {
    for (const char* nom : {"A", "B"}) {
      auto td = CreeTable(*base, nom, {{"Id", moteur::dbLong}, {"Autre", moteur::dbLong}});
      AjouteIndex(td, "Cle", "Id", true, true);
    }
  }
  for (auto [parent, enfant] : {std::pair{"A", "B"}, std::pair{"B", "A"}}) {
    auto rel = dest.CreateRelation(std::string(parent) + enfant, parent, enfant);
    auto f = rel.CreateField("Id");
    f.SetForeignName("Autre");
    rel.Fields().Append(f);
    dest.Relations().Append(rel);
  }
  outils::Ajoute(orig, "A", {{"Id", 1}});
  outils::Ajoute(orig, "B", {{"Id", 1}});

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{"Table : A Copie de 1/1 enregistrements",
                                                "Table : B Copie de 1/1 enregistrements"}));
}

TEST_F(CopieEnregistrements, TablesSystemeJamaisVisitees) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  // One table for each of the two bits of the system mask.
  for (long long attributs : {0x2LL, 0x80000000LL}) {
    std::string nom = attributs == 2 ? "USysA" : "USysB";
    auto td = orig.CreateTableDef(nom, attributs);
    td.Fields().Append(td.CreateField("Id", moteur::dbLong));
    orig.TableDefs().Append(td);
    CreeTable(dest, nom, {{"Id", moteur::dbLong}});
    outils::Ajoute(dest, nom, {{"Id", 7}});
  }
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}});
  bool systeme = false;
  for (int i = 0; i < orig.TableDefs().Count(); ++i)
    if (orig.TableDefs()[i].Name().rfind("MSys", 0) == 0) systeme = true;
  ASSERT_TRUE(systeme) << "la base n'a pas de table système à écarter";

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), std::vector<std::string>{"Table : T Copie de 0/0 enregistrements"});
  EXPECT_EQ(Colonne(dest, "SELECT * FROM USysA", "Id"), std::vector<std::string>{"7"});
  EXPECT_EQ(Colonne(dest, "SELECT * FROM USysB", "Id"), std::vector<std::string>{"7"});
  EXPECT_EQ(fenetre.lectures[cases::LigneALigne], 1);
}

TEST_F(CopieEnregistrements, TableAbsenteDeLaCopieSignaleeEtResultatFaux) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "Manquante", {{"Id", moteur::dbLong}});
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}});
  outils::Ajoute(orig, "Manquante", {{"Id", 1}});
  outils::Ajoute(orig, "T", {{"Id", 1}});

  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(),
            (std::vector<std::string>{"#ERR# Erreur :3265 " + moteur::DescriptionErreur(3265, {"Manquante"}) + " Manquante",
                                      "Table : T Copie de 1/1 enregistrements"}));
  EXPECT_NE(moteur::Essaie([&] { dest.TableDefs()["Manquante"]; }).Number, 0);
  EXPECT_EQ(fenetre.lectures[cases::LigneALigne], 1);
}

TEST_F(CopieEnregistrements, LignesRefuseesParUneCleMarqueesDEtoiles) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Code", moteur::dbText, 10}});
  auto td = CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Code", moteur::dbText, 10}});
  AjouteIndex(td, "CodeUnique", "+Code", true);
  outils::Ajoute(orig, "T", {{"Id", 1}, {"Code", "X"}});
  outils::Ajoute(orig, "T", {{"Id", 2}, {"Code", "X"}});
  outils::Ajoute(orig, "T", {{"Id", 3}, {"Code", "Y"}});

  // The bulk statement itself succeeded: only the counts tell that a record stayed behind.
  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), std::vector<std::string>{"**** Table : T Copie de 2/3 enregistrements"});
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Code", "Code"), (std::vector<std::string>{"X", "Y"}));
  EXPECT_TRUE(fenetre.messages.empty());
}

// The bulk statement converts as the record-by-record copy does: a Currency rounded to four
// decimals, a date written as text, a number written as text.
TEST_F(CopieEnregistrements, CopieGroupeeConvertitCommeLaCopieLigneALigne) {
  for (bool ligneALigne : {false, true}) {
    SCOPED_TRACE(ligneALigne ? "ligne à ligne" : "groupée");
    fenetre.cases[cases::LigneALigne] = ligneALigne;
    const std::string suffixe = ligneALigne ? "2" : "1";
    auto orig = Cree("cible" + suffixe + ".mdb");
    auto dest = Cree("copie_reorg" + suffixe + ".mdb");
    CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Prix", moteur::dbDouble}, {"Quand", moteur::dbText, 20},
                          {"Nombre", moteur::dbText, 10}});
    CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Prix", moteur::dbCurrency}, {"Quand", moteur::dbDate},
                          {"Nombre", moteur::dbLong}});
    outils::Ajoute(orig, "T", {{"Id", 1}, {"Prix", 12.3456789}, {"Quand", "2024-01-31"}, {"Nombre", "12"}});
    outils::Ajoute(orig, "T", {{"Id", 2}, {"Prix", 1.5}, {"Quand", "31/01/2024"}, {"Nombre", " 7 "}});

    TraitementCopie(etat, orig, dest);
    EXPECT_EQ(Colonne(dest, "SELECT * FROM T WHERE Prix = 12.3457", "Id"), std::vector<std::string>{"1"});
    EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Quand"), (std::vector<std::string>{"31/01/2024", "31/01/2024"}));
    EXPECT_EQ(Colonne(dest, "SELECT * FROM T WHERE Nombre = 12 OR Nombre = 7 ORDER BY Id", "Id"),
              (std::vector<std::string>{"1", "2"}));
  }
  const auto lignes = Lignes();
  ASSERT_FALSE(lignes.empty());
  EXPECT_EQ(lignes.front(), "Table : T Copie de 2/2 enregistrements");
  EXPECT_EQ(lignes.back(), Reussie);
}

// Both copies write a typed value into a text field, or a decimal text into a Currency field, as
// the recordset does: the copy does not depend on the option that chose the path.
TEST_F(CopieEnregistrements, CopieGroupeeEtLigneALigneEcriventLesMemesValeurs) {
  for (bool ligneALigne : {false, true}) {
    SCOPED_TRACE(ligneALigne ? "ligne à ligne" : "groupée");
    fenetre.cases[cases::LigneALigne] = ligneALigne;
    const std::string suffixe = ligneALigne ? "2" : "1";
    auto orig = Cree("cible" + suffixe + ".mdb");
    auto dest = Cree("copie_reorg" + suffixe + ".mdb");
    CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Quand", moteur::dbDate}, {"Reel", moteur::dbDouble},
                          {"Actif", moteur::dbBoolean}, {"Montant", moteur::dbText, 30}});
    CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Quand", moteur::dbText, 30}, {"Reel", moteur::dbText, 30},
                          {"Actif", moteur::dbText, 10}, {"Montant", moteur::dbCurrency}});
    outils::Ajoute(orig, "T", {{"Id", 1}, {"Quand", Valeur(moteur::DateHeure{2024, 1, 31, 10, 20, 30})}, {"Reel", 1.5},
                               {"Actif", true}, {"Montant", "922337203685477.5807"}});
    outils::Ajoute(orig, "T", {{"Id", 2}, {"Reel", 1e20}, {"Actif", false}, {"Montant", "0.00015"}});

    TraitementCopie(etat, orig, dest);
    const std::string requete = "SELECT * FROM T ORDER BY Id";
    EXPECT_EQ(Colonne(dest, requete, "Quand"), (std::vector<std::string>{"31/01/2024 10:20:30", "<nul>"}));
    EXPECT_EQ(Colonne(dest, requete, "Reel"), (std::vector<std::string>{"1,5", "1e+20"}));
    EXPECT_EQ(Colonne(dest, requete, "Actif"), (std::vector<std::string>{"Vrai", "Faux"}));
    EXPECT_EQ(Colonne(dest, requete, "Montant"), (std::vector<std::string>{"922337203685477,5807", "0,0002"}));
  }
  const auto lignes = Lignes();
  ASSERT_FALSE(lignes.empty());
  EXPECT_EQ(lignes.front(), "Table : T Copie de 2/2 enregistrements");
  EXPECT_EQ(lignes.back(), Reussie);
}

// A Null, or an empty text, is a value the copy keeps as it is: the default of the model's field
// is for new records, not for a record whose field is empty. A required field left Null makes the
// record refused by both copies alike, and the record-by-record one names it.
TEST_F(CopieEnregistrements, NullEtTexteVideCopiesTelsQuelsParLesDeuxCopies) {
  std::vector<std::vector<std::string>> colonnes[2];
  for (bool ligneALigne : {false, true}) {
    SCOPED_TRACE(ligneALigne ? "ligne à ligne" : "groupée");
    fenetre.cases[cases::LigneALigne] = ligneALigne;
    const std::string suffixe = ligneALigne ? "2" : "1";
    auto orig = Cree("cible" + suffixe + ".mdb");
    auto dest = Cree("copie_reorg" + suffixe + ".mdb");
    CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"N", moteur::dbLong}, {"S", moteur::dbText, 10}, {"D", moteur::dbDate}});
    orig.TableDefs()["T"].Fields()["S"].SetAllowZeroLength(true);
    auto table = CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"N", moteur::dbLong}, {"S", moteur::dbText, 10},
                                       {"D", moteur::dbDate}});
    table.Fields()["N"].SetDefaultValue("7");
    table.Fields()["S"].SetDefaultValue("\"x\"");
    table.Fields()["S"].SetAllowZeroLength(true);
    table.Fields()["D"].SetDefaultValue("#01/01/2000#");
    table.Fields()["D"].SetRequired(true);
    outils::Ajoute(orig, "T", {{"Id", 1}, {"S", ""}, {"D", Valeur(moteur::DateHeure{2024, 1, 31})}});
    outils::Ajoute(orig, "T", {{"Id", 2}, {"N", 5}, {"S", "a"}});

    EXPECT_FALSE(TraitementCopie(etat, orig, dest) && ligneALigne);
    for (const char* champ : {"Id", "N", "S", "D"})
      colonnes[ligneALigne].push_back(Colonne(dest, "SELECT * FROM T ORDER BY Id", champ));
  }
  EXPECT_EQ(colonnes[0], colonnes[1]);
  EXPECT_EQ(colonnes[1], (std::vector<std::vector<std::string>>{{"1"}, {"<nul>"}, {""}, {"31/01/2024"}}));
  const auto lignes = Lignes();
  ASSERT_GE(lignes.size(), 5u);
  EXPECT_EQ(lignes.front(), "**** Table : T Copie de 1/2 enregistrements");
  EXPECT_EQ(std::vector<std::string>(lignes.end() - 4, lignes.end()),
            (std::vector<std::string>{Sequentielle("T"), "   Table : T, Enregistrement non mis à jour.",
                                      "   --->Id:2;N:5;S:a;D:;", Echouee}));
}

// A value the bulk statement cannot convert makes it fail: the records then go one by one, and
// each value that could not be kept is named, instead of records left behind without a word.
TEST_F(CopieEnregistrements, CopieGroupeeQuiNePeutConvertirPasseParLaCopieSequentielle) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"L", moteur::dbText, 10}, {"D", moteur::dbText, 12},
                        {"B", moteur::dbText, 10}, {"O", moteur::dbText, 10}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"L", moteur::dbLong}, {"D", moteur::dbDate}, {"B", moteur::dbBoolean},
                        {"O", moteur::dbByte}});
  auto chaineVide = orig.TableDefs()["T"].Fields()["L"];
  chaineVide.SetAllowZeroLength(true);
  outils::Ajoute(orig, "T", {{"Id", 1}, {"L", "1"}, {"D", "31/01/2024"}, {"B", "oui"}, {"O", "7"}});
  outils::Ajoute(orig, "T", {{"Id", 2}, {"L", "abc"}});
  outils::Ajoute(orig, "T", {{"Id", 3}, {"L", ""}, {"D", "pas une date"}, {"B", "peut-être"}, {"O", "300"}});

  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  const std::string perte = "   Table : T, Enregistrement copié, valeurs inconvertibles remplacées par Null.";
  EXPECT_EQ(Lignes(), (std::vector<std::string>{
                          "#ERR# Erreur :3421 " + moteur::DescriptionErreur(3421, {"L"}),
                          "       Table : T impossible de faire une copie groupée des enregistrements.",
                          Sequentielle("T"), perte, "   --->Id:2;L:abc -> Null;D:;B:;O:;", perte,
                          "   --->Id:3;L: -> Null;D:pas une date -> Null;B:peut-être -> Null;O:300 -> Null;", Reussie}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Id"), (std::vector<std::string>{"1", "2", "3"}));
  // A Yes/No field never holds Null: the values replaced by Null read No.
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "B"), (std::vector<std::string>{"Vrai", "Faux", "Faux"}));
}

TEST_F(CopieEnregistrements, DictionnaireCopieApresLaCopieGroupee) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Nom", moteur::dbText, 30}, {"Ville", moteur::dbText, 30}, {"Note", moteur::dbText, 30}});
  CreeTable(dest, "T", {{"Nom", moteur::dbText, 30}, {"Ville", moteur::dbText, 30}, {"Note", moteur::dbText, 30}});
  AjoutePropriete(orig, "T", "Nom", "NomClair", moteur::dbText, "Nom du client");
  AjoutePropriete(orig, "T", "Nom", "VEKFormat", moteur::dbText, ">");
  AjoutePropriete(orig, "T", "Nom", "Supplement", moteur::dbBoolean, true);
  AjoutePropriete(orig, "T", "Nom", "FormatSaisie", moteur::dbText, "AAA");
  // A "NomClair" without its "VEKFormat", and one the model already has.
  AjoutePropriete(orig, "T", "Ville", "NomClair", moteur::dbText, "Ville");
  AjoutePropriete(orig, "T", "Note", "NomClair", moteur::dbText, "Note de la cible");
  AjoutePropriete(orig, "T", "Note", "VEKFormat", moteur::dbText, "<");
  AjoutePropriete(dest, "T", "Note", "NomClair", moteur::dbText, "Note du modèle");
  // "FormatSaisie" alone is never copied: it goes with "Supplement".
  AjoutePropriete(orig, "T", "Ville", "FormatSaisie", moteur::dbText, "999");

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), std::vector<std::string>{"Table : T Copie de 0/0 enregistrements"});
  EXPECT_EQ(Propriete(dest, "T", "Nom", "NomClair"), "Nom du client");
  EXPECT_EQ(Propriete(dest, "T", "Nom", "VEKFormat"), ">");
  EXPECT_EQ(Propriete(dest, "T", "Nom", "Supplement"), "Vrai");
  EXPECT_EQ(Propriete(dest, "T", "Nom", "FormatSaisie"), "AAA");
  EXPECT_EQ(Propriete(dest, "T", "Ville", "NomClair"), "Ville");
  EXPECT_EQ(Propriete(dest, "T", "Ville", "VEKFormat"), "<absente>");
  EXPECT_EQ(Propriete(dest, "T", "Ville", "FormatSaisie"), "<absente>");
  EXPECT_EQ(Propriete(dest, "T", "Note", "NomClair"), "Note du modèle");
  EXPECT_EQ(Propriete(dest, "T", "Note", "VEKFormat"), "<");
  moteur::Field f = dest.TableDefs()["T"].Fields()["Nom"];
  EXPECT_EQ(f.Properties()["Supplement"].Type(), moteur::dbBoolean);
}

TEST_F(CopieEnregistrements, CheminDeLaCopieAvecApostropheEtPointVirgule) {
  fs::create_directories(Chemin("l'été; x"));
  auto orig = Cree("cible.mdb");
  auto dest = Cree("l'été; x/copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}});
  outils::Ajoute(orig, "T", {{"Id", 5}});
  outils::Ajoute(orig, "T", {{"Id", 6}});

  EXPECT_TRUE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), std::vector<std::string>{"Table : T Copie de 2/2 enregistrements"});
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Id"), (std::vector<std::string>{"5", "6"}));
  // Nothing may have been written beside the intended file.
  for (const auto& entree : fs::directory_iterator(dossier_.Racine()))
    EXPECT_TRUE(entree.path().filename() == "cible.mdb" || entree.path().filename() == "l'été; x" ||
                entree.path().filename() == "Analyse.txt")
        << entree.path();
}

TEST_F(CopieEnregistrements, BaseCibleFermeeNePassePasPourUnSucces) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  orig.Close();

  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  auto lignes = Lignes();
  ASSERT_EQ(lignes.size(), 1u);
  EXPECT_EQ(lignes[0].rfind("#ERR# Erreur :3420 ", 0), 0u) << lignes[0];
}

// ---- Record-by-record copy ----

TEST_F(CopieEnregistrements, LigneALigneNeFaitAucuneCopieGroupee) {
  fenetre.cases[cases::LigneALigne] = true;
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Code", moteur::dbText, 10}});
  CreeTable(orig, "Vide", {{"Id", moteur::dbLong}});
  auto td = CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Code", moteur::dbText, 10}});
  AjouteIndex(td, "CodeUnique", "+Code", true);
  CreeTable(dest, "Vide", {{"Id", moteur::dbLong}});
  AjoutePropriete(orig, "T", "Code", "NomClair", moteur::dbText, "Code");
  outils::Ajoute(orig, "T", {{"Id", 1}, {"Code", "X"}});
  outils::Ajoute(orig, "T", {{"Id", 2}, {"Code", "X"}});

  // A bulk statement would have left the duplicate out silently, under a "**** " line; the
  // sequential copy names it.
  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{Sequentielle("T"), "   Table : T, Enregistrement non mis à jour.",
                                                "   --->Id:2;Code:X;", Echouee, Sequentielle("Vide"), Reussie}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T", "Id"), std::vector<std::string>{"1"});
  EXPECT_EQ(Propriete(dest, "T", "Code", "NomClair"), "<absente>");
  EXPECT_EQ(fenetre.lectures[cases::LigneALigne], 2);
}

TEST_F(CopieEnregistrements, CopieGroupeeRefuseePuisSequentielleReussie) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 20}, {"Ancien", moteur::dbText, 20}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 20}});
  AjoutePropriete(orig, "T", "Nom", "NomClair", moteur::dbText, "Nom");
  for (int i = 1; i <= 3; ++i)
    outils::Ajoute(orig, "T", {{"Id", i}, {"Nom", "nom " + std::to_string(i)}, {"Ancien", "a"}});

  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{
                          "#ERR# Erreur :3127 " + moteur::DescriptionErreur(3127, {"Ancien"}),
                          "       Table : T impossible de faire une copie groupée des enregistrements.",
                          Sequentielle("T"), Reussie}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Nom"),
            (std::vector<std::string>{"nom 1", "nom 2", "nom 3"}));
  EXPECT_EQ(Propriete(dest, "T", "Nom", "NomClair"), "<absente>");
  EXPECT_TRUE(fenetre.messages.empty());
}

TEST_F(CopieEnregistrements, EnregistrementRefuseTraceAvecLeChampAbsent) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Nom", moteur::dbText, 20}, {"Actif", moteur::dbBoolean},
                        {"Ancien", moteur::dbText, 20}});
  auto td = dest.CreateTableDef("T");
  td.Fields().Append(td.CreateField("Id", moteur::dbLong));
  auto nom = td.CreateField("Nom", moteur::dbText, 20);
  nom.SetRequired(true);
  td.Fields().Append(nom);
  td.Fields().Append(td.CreateField("Actif", moteur::dbBoolean));
  dest.TableDefs().Append(td);
  outils::Ajoute(orig, "T", {{"Id", 1}, {"Nom", "un"}, {"Actif", true}, {"Ancien", "a1"}});
  outils::Ajoute(orig, "T", {{"Id", 2}, {"Actif", true}, {"Ancien", "a2"}});
  outils::Ajoute(orig, "T", {{"Id", 3}, {"Nom", "trois"}, {"Actif", false}});

  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{
                          "#ERR# Erreur :3127 " + moteur::DescriptionErreur(3127, {"Ancien"}),
                          "       Table : T impossible de faire une copie groupée des enregistrements.",
                          Sequentielle("T"), "   Table : T, Enregistrement non mis à jour.",
                          "   --->Id:2;Nom:;Actif:Vrai;Ancien:a2;", Echouee}));
  // The refused record is not carried into the next one.
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Id"), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Actif"), (std::vector<std::string>{"Vrai", "Faux"}));
  // The save reports its own failure: it is not called in its silent form.
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_NE(fenetre.messages[0].texte.find("3314"), std::string::npos) << fenetre.messages[0].texte;
}

// A value the destination field cannot take leaves a Null in the copy: the journal names it, with
// the record's trace, rather than count the record as copied whole.
TEST_F(CopieEnregistrements, ValeurInconvertibleDevenueNullSignaleeDansLaTrace) {
  fenetre.cases[cases::LigneALigne] = true;
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Montant", moteur::dbText, 10}, {"Quand", moteur::dbText, 12}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Montant", moteur::dbLong}, {"Quand", moteur::dbDate}});
  outils::Ajoute(orig, "T", {{"Id", 1}, {"Montant", "12"}, {"Quand", "31/01/2024"}});
  outils::Ajoute(orig, "T", {{"Id", 2}, {"Montant", "abc"}, {"Quand", "hier"}});

  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{
                          Sequentielle("T"),
                          "   Table : T, Enregistrement copié, valeurs inconvertibles remplacées par Null.",
                          "   --->Id:2;Montant:abc -> Null;Quand:hier -> Null;", Reussie}));
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T ORDER BY Id", "Montant"), (std::vector<std::string>{"12", "<nul>"}));
}

// The trace keeps each value whole, on its one line: a double by every digit it needs, a line break
// or a character the journal cannot hold written so that it reads back.
TEST_F(CopieEnregistrements, TraceGardeChaqueValeurEntiere) {
  fenetre.cases[cases::LigneALigne] = true;
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}, {"Note", moteur::dbMemo}, {"Reel", moteur::dbDouble}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}, {"Note", moteur::dbText, 5}, {"Reel", moteur::dbDouble}});
  outils::Ajoute(orig, "T", {{"Id", 1}, {"Note", "ligne 1\r\nligne 2 \xF0\x9F\x98\x80"}, {"Reel", 0.1 + 0.2}});

  EXPECT_FALSE(TraitementCopie(etat, orig, dest));
  EXPECT_EQ(Lignes(), (std::vector<std::string>{Sequentielle("T"), "   Table : T, Enregistrement non mis à jour.",
                                                "   --->Id:1;Note:ligne 1<CR><LF>ligne 2 <U+1F600>;Reel:0,30000000000000004;",
                                                Echouee}));
}

TEST_F(CopieEnregistrements, CopieEnregistrementSansTableDestinationNeSignaleRien) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  outils::Ajoute(orig, "T", {{"Id", 1}});

  CopieEnregistrement(etat, orig, dest, "T");
  CopieEnregistrement(etat, orig, dest, "Inconnue");
  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_TRUE(fenetre.journal.empty());
}

TEST_F(CopieEnregistrements, CopieEnregistrementLaisseVivreLaFenetre) {
  auto orig = Cree("cible.mdb");
  auto dest = Cree("copie_reorg.mdb");
  CreeTable(orig, "T", {{"Id", moteur::dbLong}});
  CreeTable(dest, "T", {{"Id", moteur::dbLong}});
  outils::Ajoute(orig, "T", {{"Id", 1}});
  // The throttle lets the first call through.
  fenetre.evenements = 0;
  CopieEnregistrement(etat, orig, dest, "T");
  EXPECT_GE(fenetre.evenements, 1);
  EXPECT_EQ(Colonne(dest, "SELECT * FROM T", "Id"), std::vector<std::string>{"1"});
}

}  // namespace

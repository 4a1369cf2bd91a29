// Tables whose fields differ in what cannot be changed are rebuilt through a "Temp_" copy.
#include "OutilsStructure.h"

namespace utireorg::tests {
namespace {

using moteur::dbLong;
using moteur::dbMemo;
using moteur::dbText;

class Reconstruction : public StructureTest {
 protected:
  static std::string Texte(int longueur) {
    std::string t;
    for (int i = 0; i < longueur; ++i) t += static_cast<char>('a' + i % 26);
    return t;
  }
};

TEST_F(Reconstruction, TailleDeTexteDifferenteReconstruitLaTableEtCoupeLesValeurs) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "Clients", {{"Id", dbLong}, {"Nom", dbText, 30}}, {{"PrimaryKey", "+Id", true, true}},
              {{"NomClair", dbText, Valeur("Clients")}});
    CreeTable(b, "Factures", {{"IdF", dbLong}, {"Id", dbLong}});
    moteur::Relation r = b.CreateRelation("ClientsFactures", "Clients", "Factures");
    moteur::Field f = r.CreateField("Id");
    f.SetForeignName("Id");
    r.Fields().Append(f);
    b.Relations().Append(r);
  });
  Cible([&](moteur::Database& b) {
    CreeTable(b, "Clients",
              {{"Id", dbLong},
               {"Nom", dbText, 50},
               {"Remarque", dbText, 40, false, "", true, 0,
                {{"NomClair", dbText, Valeur("Remarque")}, {"VEKFormat", dbText, Valeur("@")},
                 {"Priorite", moteur::dbInteger, Valeur(3)}, {"Supplement", moteur::dbBoolean, Valeur(true)},
                 {"FormatSaisie", dbText, Valeur(">")}}}},
              {{"PrimaryKey", "+Id", true, true}}, {{"NomClair", dbText, Valeur("Les clients")}});
    CreeTable(b, "Factures", {{"IdF", dbLong}, {"Id", dbLong}});
    Insere(b, "Clients", {{"Id", Valeur(1)}, {"Nom", Valeur(Texte(40))}, {"Remarque", Valeur("vue")}});
    Insere(b, "Clients", {{"Id", Valeur(2)}, {"Nom", Valeur("court")}});
    Insere(b, "Factures", {{"IdF", Valeur(10)}, {"Id", Valeur(1)}});
  });
  Verifie(true);

  for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
  auto& r = Resultat();
  EXPECT_FALSE(TableExiste(r, "Temp_Clients"));
  EXPECT_EQ(NomsChamps(r, "Clients"), (std::vector<std::string>{"Id", "Nom", "Remarque"}));
  EXPECT_EQ(r.TableDefs()["Clients"].Fields()["Nom"].Size(), 30);
  EXPECT_EQ(ValeursColonne(r, "Clients", "Id"), (std::vector<Valeur>{Valeur(1), Valeur(2)}));
  EXPECT_EQ(ValeursColonne(r, "Clients", "Nom"), (std::vector<Valeur>{Valeur(Texte(30)), Valeur("court")}));
  // The field only the target had, with its characteristics, its dictionary and its nulls.
  moteur::Field remarque = r.TableDefs()["Clients"].Fields()["Remarque"];
  EXPECT_EQ(remarque.Size(), 40);
  EXPECT_TRUE(remarque.AllowZeroLength());
  EXPECT_EQ(ValeursColonne(r, "Clients", "Remarque")[0], Valeur("vue"));
  EXPECT_TRUE(ValeursColonne(r, "Clients", "Remarque")[1].EstNul());
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Remarque", "NomClair"), Valeur("Remarque"));
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Remarque", "VEKFormat"), Valeur("@"));
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Remarque", "Priorite").EnEntier(), 3);
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Remarque", "Supplement").EnBooleen(), true);
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Remarque", "FormatSaisie"), Valeur(">"));
  // Verified again once rebuilt: the model's index and the table's dictionary.
  EXPECT_TRUE(r.TableDefs()["Clients"].Indexes()["PrimaryKey"].Primary());
  EXPECT_EQ(r.TableDefs()["Clients"].Properties()["NomClair"].Value(), Valeur("Clients"));
  // The relation lost with the former table is rebuilt from the model.
  ASSERT_EQ(r.Relations().Count(), 1);
  EXPECT_EQ(r.Relations()[0].Name(), "ClientsFactures");
  EXPECT_EQ(Sections().back(), "Vérification des relations");
}

TEST_F(Reconstruction, SansModeAvanceLaTailleResteCelleDeLaCible) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Nom", dbText, 30}}); });
  Cible([&](moteur::Database& b) {
    CreeTable(b, "T", {{"Nom", dbText, 50}});
    Insere(b, "T", {{"Nom", Valeur(Texte(40))}});
  });
  Verifie(false);

  EXPECT_EQ(Resultat().TableDefs()["T"].Fields()["Nom"].Size(), 50);
  EXPECT_EQ(ValeursColonne(Resultat(), "T", "Nom"), std::vector<Valeur>{Valeur(Texte(40))});
}

// An empty leftover of an earlier rebuild goes, with a line; one that holds records may be the only
// copy of a table whose earlier rebuild failed after deleting it, or simply a table of the user's
// own: it stays as it is, and the rebuild takes another name.
TEST_F(Reconstruction, TableTemporaireLaisseeSupprimeeAvantLaCopie) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 30}}); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 50}});
    CreeTable(b, "Temp_T", {{"Vieux", dbLong}});
    Insere(b, "Temp_T", {{"Vieux", Valeur(99)}});
    Insere(b, "T", {{"Id", Valeur(7)}, {"Nom", Valeur("x")}});
  });
  Verifie(true);

  EXPECT_EQ(Constats(), std::vector<std::string>{"#ALERT# Table Temp_T gardée : elle contient des enregistrements. "
                                                 "La table T est reconstruite sous le nom Temp_T_1."});
  auto& r = Resultat();
  EXPECT_EQ(ValeursColonne(r, "Temp_T", "Vieux"), std::vector<Valeur>{Valeur(99)});
  EXPECT_FALSE(TableExiste(r, "Temp_T_1"));
  EXPECT_EQ(NomsChamps(r, "T"), (std::vector<std::string>{"Id", "Nom"}));
  EXPECT_EQ(r.TableDefs()["T"].Fields()["Nom"].Size(), 30);
  EXPECT_EQ(ValeursColonne(r, "T", "Id"), std::vector<Valeur>{Valeur(7)});
}

TEST_F(Reconstruction, TableTemporaireVideLaisseeSupprimeeAvecUneLigne) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 30}}); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 50}});
    CreeTable(b, "Temp_T", {{"Vieux", dbLong}});
    Insere(b, "T", {{"Id", Valeur(7)}, {"Nom", Valeur("x")}});
  });
  Verifie(true);

  EXPECT_EQ(Constats(), std::vector<std::string>{"#ALERT# Table Temp_T laissée vide par une reconstruction précédente : "
                                                 "supprimée."});
  auto& r = Resultat();
  EXPECT_FALSE(TableExiste(r, "Temp_T"));
  EXPECT_EQ(r.TableDefs()["T"].Fields()["Nom"].Size(), 30);
  EXPECT_EQ(ValeursColonne(r, "T", "Id"), std::vector<Valeur>{Valeur(7)});
}

TEST_F(Reconstruction, TableVideReconstruite) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 30}}); });
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 50}}); });
  Verifie(true);

  EXPECT_EQ(Resultat().TableDefs()["T"].Fields()["Nom"].Size(), 30);
  EXPECT_FALSE(TableExiste(Resultat(), "Temp_T"));
  EXPECT_TRUE(ValeursColonne(Resultat(), "T", "Id").empty());
}

TEST_F(Reconstruction, ChampDuModeleRefuseArreteAvantToutCopie) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"F", dbLong}, {"G", dbLong}}); });
  // A size no Long field can have: the engine refuses to make a field like it.
  ModifieCatalogue(cheminModele, "UPDATE MSysColumns SET Size = 7 WHERE Name = 'F'");
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"F", dbLong}, {"G", dbLong}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"F", Valeur(2)}, {"G", Valeur(3)}});
  });
  Verifie(true);

  EXPECT_EQ(Constats(), std::vector<std::string>{"#ERR# Table : T, le champ 'F' n'est pas correct."});
  auto& r = Resultat();
  EXPECT_FALSE(TableExiste(r, "Temp_T"));
  EXPECT_EQ(NomsChamps(r, "T"), (std::vector<std::string>{"Id", "F", "G"}));
  EXPECT_EQ(ValeursColonne(r, "T", "F"), std::vector<Valeur>{Valeur(2)});
}

TEST_F(Reconstruction, SecondeReconstructionDansLeMemeAppelComptePourUnEchec) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"Notes", dbMemo}}); });
  // A Memo size the engine silently drops: the rebuilt table still differs from the model.
  ModifieCatalogue(cheminModele, "UPDATE MSysColumns SET Size = 5 WHERE Name = 'Notes'");
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Notes", dbMemo}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Notes", Valeur("texte")}});
  });
  Verifie(true);

  EXPECT_EQ(Constats(), std::vector<std::string>{"#ERR# Table : T, le champ 'Notes' n'est pas correct."});
  auto& r = Resultat();
  EXPECT_FALSE(TableExiste(r, "Temp_T"));
  EXPECT_EQ(ValeursColonne(r, "T", "Notes"), std::vector<Valeur>{Valeur("texte")});
}

TEST_F(Reconstruction, EchecALAjoutDeLaCopieNommeLeDernierChampDuModele) {
  // "Temp_" and a name of 60 characters make a name longer than the engine allows.
  const std::string nom(60, 'N');
  Modele([&](moteur::Database& b) { CreeTable(b, nom, {{"Id", dbLong}, {"Nom", dbText, 30}, {"Fin", dbLong}}); });
  Cible([&](moteur::Database& b) {
    CreeTable(b, nom, {{"Id", dbLong}, {"Nom", dbText, 50}, {"Fin", dbLong}});
    Insere(b, nom, {{"Id", Valeur(1)}, {"Nom", Valeur("x")}});
  });
  Verifie(true);

  EXPECT_EQ(Constats(), std::vector<std::string>{"#ERR# Table : " + nom + ", le champ 'Fin' n'est pas correct."});
  EXPECT_EQ(Resultat().TableDefs()[nom].Fields()["Nom"].Size(), 50);
  EXPECT_EQ(ValeursColonne(Resultat(), nom, "Nom"), std::vector<Valeur>{Valeur("x")});
}

}  // namespace
}  // namespace utireorg::tests

namespace utireorg::tests {
namespace {

using moteur::dbLong;
using moteur::dbText;

void Relie(moteur::Database& b, const std::string& nom, const std::string& table, const std::string& etrangere,
           const std::string& champ, long long attributs = 0) {
  moteur::Relation r = b.CreateRelation(nom, table, etrangere, attributs);
  moteur::Field f = r.CreateField(champ);
  f.SetForeignName(champ);
  r.Fields().Append(f);
  b.Relations().Append(r);
}

class ReconstructionFidele : public StructureTest {};

// Without the relation check nothing rebuilds the relations a rebuilt table had: the rebuild
// itself must give them back, as they were.
TEST_F(ReconstructionFidele, SansVerificationDesRelationsLesTablesReconstruitesGardentLeurs) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "Clients", {{"Id", dbLong}, {"Nom", dbText, 30}}, {{"PrimaryKey", "+Id", true, true}});
    CreeTable(b, "Factures", {{"IdF", dbLong}, {"Id", dbLong}, {"Montant", moteur::dbCurrency}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "Clients", {{"Id", dbLong}, {"Nom", dbText, 50}}, {{"PrimaryKey", "+Id", true, true}});
    CreeTable(b, "Factures", {{"IdF", dbLong}, {"Id", dbLong}, {"Montant", moteur::dbDouble}});
    CreeTable(b, "Notes", {{"Id", dbLong}});
    Insere(b, "Clients", {{"Id", Valeur(1)}, {"Nom", Valeur("un")}});
    Insere(b, "Factures", {{"IdF", Valeur(10)}, {"Id", Valeur(1)}, {"Montant", Valeur(2.5)}});
    Relie(b, "ClientsFactures", "Clients", "Factures", "Id", moteur::dbRelationDeleteCascade);
    Relie(b, "ClientsNotes", "Clients", "Notes", "Id", moteur::dbRelationDontEnforce);
  });
  etat.flagVerifRelation = false;
  Verifie(true);

  for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
  auto& r = Resultat();
  EXPECT_EQ(r.TableDefs()["Factures"].Fields()["Montant"].Type(), moteur::dbCurrency);
  ASSERT_EQ(r.Relations().Count(), 2);
  moteur::Relation factures = r.Relations()["ClientsFactures"];
  EXPECT_EQ(factures.Table(), "Clients");
  EXPECT_EQ(factures.ForeignTable(), "Factures");
  EXPECT_EQ(factures.Attributes(), moteur::dbRelationDeleteCascade);
  EXPECT_EQ(factures.Fields()[0].Name(), "Id");
  EXPECT_EQ(factures.Fields()[0].ForeignName(), "Id");
  EXPECT_EQ(r.Relations()["ClientsNotes"].Attributes(), moteur::dbRelationDontEnforce);
  // Enforced again: an invoice without its customer is refused.
  EXPECT_EQ(moteur::Essaie([&] { Insere(r, "Factures", {{"IdF", Valeur(11)}, {"Id", Valeur(99)}}); }).Number,
            moteur::err::PasDEnregistrementLie);
}

// A table of the user's named "Temp_" + a rebuilt table's name, with records and a relation, and
// the model that defines it too: without the relation check, nothing of it may go.
TEST_F(ReconstructionFidele, TableTempDeLUtilisateurGardeeAvecSesEnregistrementsEtSesRelations) {
  for (bool dansLeModele : {true, false}) {
    SCOPED_TRACE(dansLeModele ? "table du modèle" : "table de la cible seule");
    fs::remove(cheminModele);
    fs::remove(cheminCible);
    fenetre.journal.clear();
    Modele([&](moteur::Database& b) {
      CreeTable(b, "Clients", {{"Id", dbLong}, {"Nom", dbText, 30}}, {{"PrimaryKey", "+Id", true, true}});
      if (dansLeModele) CreeTable(b, "Temp_Clients", {{"IdClient", dbLong}, {"Note", dbText, 50}});
    });
    Cible([](moteur::Database& b) {
      CreeTable(b, "Clients", {{"Id", dbLong}, {"Nom", dbText, 50}}, {{"PrimaryKey", "+Id", true, true}});
      CreeTable(b, "Temp_Clients", {{"IdClient", dbLong}, {"Note", dbText, 50}});
      Insere(b, "Clients", {{"Id", Valeur(1)}, {"Nom", Valeur("Dupont")}});
      Insere(b, "Clients", {{"Id", Valeur(2)}, {"Nom", Valeur("Martin")}});
      Insere(b, "Temp_Clients", {{"IdClient", Valeur(1)}, {"Note", Valeur("note importante 1")}});
      Insere(b, "Temp_Clients", {{"IdClient", Valeur(2)}, {"Note", Valeur("note importante 2")}});
      moteur::Relation notes = b.CreateRelation("ClientsNotes", "Clients", "Temp_Clients");
      moteur::Field lien = notes.CreateField("Id");
      lien.SetForeignName("IdClient");
      notes.Fields().Append(lien);
      b.Relations().Append(notes);
    });
    etat.flagVerifRelation = false;
    Verifie(true);

    for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
    auto& r = Resultat();
    EXPECT_EQ(r.TableDefs()["Clients"].Fields()["Nom"].Size(), 30);
    EXPECT_EQ(ValeursColonne(r, "Clients", "Nom"), (std::vector<Valeur>{Valeur("Dupont"), Valeur("Martin")}));
    EXPECT_EQ(ValeursColonne(r, "Temp_Clients", "Note"),
              (std::vector<Valeur>{Valeur("note importante 1"), Valeur("note importante 2")}));
    EXPECT_FALSE(TableExiste(r, "Temp_Clients_1"));
    ASSERT_EQ(r.Relations().Count(), 1);
    EXPECT_EQ(r.Relations()[0].Name(), "ClientsNotes");
    EXPECT_EQ(r.Relations()[0].ForeignTable(), "Temp_Clients");
    FermeBase(resultat);
  }
}

// Every value a rebuild cuts or changes is written down with its record's key and the whole of
// the former value; values left as they were are not.
TEST_F(ReconstructionFidele, ValeurCoupeeOuChangeeJournaliseeAvecSaCle) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 5}, {"Prix", moteur::dbCurrency}},
              {{"PrimaryKey", "+Id", true, true}});
    CreeTable(b, "SansCle", {{"Code", dbText, 3}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 10}, {"Prix", moteur::dbDouble}},
              {{"PrimaryKey", "+Id", true, true}});
    CreeTable(b, "SansCle", {{"Code", dbText, 10}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Nom", Valeur("0123456789")}, {"Prix", Valeur(12.3456789)}});
    Insere(b, "T", {{"Id", Valeur(2)}, {"Nom", Valeur("abc")}, {"Prix", Valeur(1.5)}});
    Insere(b, "SansCle", {{"Code", Valeur("AB")}});
    Insere(b, "SansCle", {{"Code", Valeur("ABCDEF")}});
  });
  Verifie(true);

  std::vector<std::string> changements;
  for (const auto& l : Constats())
    if (l.rfind("#ALERT# Table : ", 0) == 0) changements.push_back(l);
  EXPECT_EQ(changements, (std::vector<std::string>{
                             "#ALERT# Table : SansCle, enregistrement n° 2, champ 'Code' : 'ABCDEF' devient 'ABC'.",
                             "#ALERT# Table : T, enregistrement Id=1, champ 'Nom' : '0123456789' devient '01234'.",
                             "#ALERT# Table : T, enregistrement Id=1, champ 'Prix' : '12,3456789' devient '12,3457'."}));
  for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
  // The run's counts, for its report: two tables rebuilt, three values changed.
  EXPECT_EQ(etat.compteurs.tablesReconstruites, 2);
  EXPECT_EQ(etat.compteurs.valeursModifiees, 3);
  auto& r = Resultat();
  EXPECT_EQ(ValeursColonne(r, "T", "Nom"), (std::vector<Valeur>{Valeur("01234"), Valeur("abc")}));
}

// A value the rebuild gives a record in place of its Null, or reads otherwise, is written down in
// full: a double by every digit it needs, a text with its line breaks and characters the journal
// cannot hold. A value that only changes its form (1.5 becoming the text "1,5") is not a change.
TEST_F(ReconstructionFidele, ChaqueValeurChangeeJournaliseeEnEntier) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T",
              {{"Id", dbLong}, {"D", moteur::dbDate, 0, true, "#01/31/2000#"}, {"N", dbLong, 0, true, "0"},
               {"Montant", moteur::dbCurrency}, {"Texte", dbText, 5}, {"Reel", dbText, 30}, {"Cree", moteur::dbDate, 0, true, "Date()"}},
              {{"PrimaryKey", "+Id", true, true}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T",
              {{"Id", dbLong}, {"D", moteur::dbDate}, {"N", moteur::dbDouble}, {"Montant", moteur::dbDouble},
               {"Texte", dbText, 50}, {"Reel", moteur::dbDouble}, {"Cree", moteur::dbDate}},
              {{"PrimaryKey", "+Id", true, true}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Montant", Valeur(922337203685.4776)}, {"Texte", Valeur("court")},
                    {"Reel", Valeur(1.5)}, {"Cree", Valeur("2024-05-06 00:00:00")}});
    Insere(b, "T", {{"Id", Valeur(2)}, {"D", Valeur("2024-05-05 00:00:00")}, {"N", Valeur(2.5)}, {"Montant", Valeur(2.0)},
                    {"Texte", Valeur("ligne 1\nligne 2 \xF0\x9F\x98\x80")}, {"Reel", Valeur(0.1 + 0.2)},
                    {"Cree", Valeur("2024-05-06 00:00:00")}});
    Insere(b, "T", {{"Id", Valeur(3)}, {"D", Valeur("2024-05-05 00:00:00")}, {"N", Valeur(2.0)}});
  });
  Verifie(true);

  for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
  std::vector<std::string> changements;
  for (const auto& l : Constats())
    if (l.rfind("#ALERT# Table : ", 0) == 0) changements.push_back(l);
  auto& r = Resultat();
  const std::string aujourdhui = ValeursColonne(r, "T", "Cree")[2].EnTexte();
  EXPECT_EQ(changements, (std::vector<std::string>{
                             "#ALERT# Table : T, enregistrement Id=1, champ 'D' : Null devient '31/01/2000'.",
                             "#ALERT# Table : T, enregistrement Id=1, champ 'N' : Null devient '0'.",
                             "#ALERT# Table : T, enregistrement Id=2, champ 'N' : '2,5' devient '2'.",
                             "#ALERT# Table : T, enregistrement Id=2, champ 'Texte' : 'ligne 1<LF>ligne 2 <U+1F600>' devient "
                             "'ligne'.",
                             "#ALERT# Table : T, enregistrement Id=2, champ 'Reel' : '0,30000000000000004' devient '0,3'.",
                             "#ALERT# Table : T, enregistrement Id=3, champ 'Cree' : Null devient '" + aujourdhui + "'."}));
  EXPECT_EQ(ValeursColonne(r, "T", "Reel"), (std::vector<Valeur>{Valeur("1,5"), Valeur("0,3"), Valeur::Nul()}));
  EXPECT_EQ(ValeursColonne(r, "T", "N"), (std::vector<Valeur>{Valeur(0), Valeur(2), Valeur(2)}));
}

// A text read as a number, a date or a Yes/No without losing anything of what it says is the same
// value in another form ("1.50" and 1,5, "2024-01-31" and 31/01/2024); one rounded, cut to a
// double's digits or read as Yes/No from another number is a change, journaled.
TEST_F(ReconstructionFidele, TexteLuSansPerteNEstPasUnChangement) {
  const std::vector<std::string> noms = {"Prix", "Qte", "Jour", "Actif", "Grand"};
  const std::vector<int> types = {moteur::dbCurrency, moteur::dbInteger, moteur::dbDate, moteur::dbBoolean, moteur::dbDouble};
  Modele([&](moteur::Database& b) {
    std::vector<Colonne> champs = {{"Id", dbLong}};
    for (std::size_t k = 0; k < noms.size(); ++k) champs.push_back({noms[k], types[k]});
    CreeTable(b, "U", champs, {{"PrimaryKey", "+Id", true, true}});
  });
  Cible([&](moteur::Database& b) {
    std::vector<Colonne> champs = {{"Id", dbLong}};
    for (const auto& nom : noms) champs.push_back({nom, dbText, 40});
    CreeTable(b, "U", champs, {{"PrimaryKey", "+Id", true, true}});
    Insere(b, "U", {{"Id", Valeur(1)}, {"Prix", Valeur("922337203685477.5807")}, {"Qte", Valeur(" 7 ")},
                    {"Jour", Valeur("2024-01-31")}, {"Actif", Valeur("oui")}, {"Grand", Valeur("1.50")}});
    Insere(b, "U", {{"Id", Valeur(2)}, {"Prix", Valeur("0.00015")}, {"Qte", Valeur("1.5")}, {"Jour", Valeur("31/01/2024 10:05")},
                    {"Actif", Valeur("2")}, {"Grand", Valeur("0.12345678901234567890")}});
  });
  Verifie(true);

  for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
  std::vector<std::string> changements;
  for (const auto& l : Constats())
    if (l.rfind("#ALERT# Table : ", 0) == 0) changements.push_back(l);
  EXPECT_EQ(changements, (std::vector<std::string>{
                             "#ALERT# Table : U, enregistrement Id=2, champ 'Prix' : '0.00015' devient '0,0002'.",
                             "#ALERT# Table : U, enregistrement Id=2, champ 'Qte' : '1.5' devient '2'.",
                             "#ALERT# Table : U, enregistrement Id=2, champ 'Actif' : '2' devient 'Vrai'.",
                             "#ALERT# Table : U, enregistrement Id=2, champ 'Grand' : '0.12345678901234567890' devient "
                             "'0,12345678901234568'."}));
  EXPECT_EQ(ValeursColonne(Resultat(), "U", "Prix")[0], Valeur::Monetaire(9223372036854775807LL));
}

// The record a rebuild cannot write is named, with the field at fault and the engine's error; the
// table keeps its records, and no copy of it is left behind.
TEST_F(ReconstructionFidele, EnregistrementRefuseNommeSaCleSonChampEtLErreur) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "Conv", {{"Id", dbLong}, {"L", dbLong}, {"Fin", dbLong}}, {{"PrimaryKey", "+Id", true, true}});
    CreeTable(b, "Requis", {{"Id", dbLong}, {"Nom", dbText, 30}, {"Code", dbText, 5, true}, {"Fin", dbLong}},
              {{"PrimaryKey", "+Id", true, true}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "Conv", {{"Id", dbLong}, {"L", dbText, 10}, {"Fin", dbLong}}, {{"PrimaryKey", "+Id", true, true}});
    CreeTable(b, "Requis", {{"Id", dbLong}, {"Nom", dbText, 50}, {"Code", dbText, 5}, {"Fin", dbLong}},
              {{"PrimaryKey", "+Id", true, true}});
    Insere(b, "Conv", {{"Id", Valeur(1)}, {"L", Valeur("1")}, {"Fin", Valeur(5)}});
    Insere(b, "Conv", {{"Id", Valeur(2)}, {"L", Valeur("abc")}, {"Fin", Valeur(6)}});
    Insere(b, "Requis", {{"Id", Valeur(1)}, {"Nom", Valeur("a")}, {"Code", Valeur("c")}});
    Insere(b, "Requis", {{"Id", Valeur(2)}, {"Nom", Valeur("b")}});
  });
  Verifie(true);

  const auto sans = [](int numero, const std::string& champ) { return moteur::DescriptionErreur(numero, {champ}); };
  std::vector<std::string> erreurs;
  for (const auto& l : Constats())
    if (l.rfind("#ERR#", 0) == 0) erreurs.push_back(l);
  EXPECT_EQ(erreurs, (std::vector<std::string>{
                         "#ERR# Table : Conv, enregistrement Id=2, champ 'L', valeur 'abc' : Erreur :3421 " + sans(3421, "L"),
                         "#ERR# Table : Conv, le champ 'Fin' n'est pas correct.",
                         "#ERR# Table : Requis, enregistrement Id=2, champ 'Code', valeur Null : Erreur :3315 " +
                             sans(3315, "Code"),
                         "#ERR# Table : Requis, le champ 'Fin' n'est pas correct."}));
  auto& r = Resultat();
  EXPECT_FALSE(TableExiste(r, "Temp_Conv"));
  EXPECT_FALSE(TableExiste(r, "Temp_Requis"));
  EXPECT_EQ(ValeursColonne(r, "Conv", "L"), (std::vector<Valeur>{Valeur("1"), Valeur("abc")}));
  EXPECT_EQ(ValeursColonne(r, "Requis", "Nom"), (std::vector<Valeur>{Valeur("a"), Valeur("b")}));
}

// Indexes the target alone has stay with it, as its own fields do.
TEST_F(ReconstructionFidele, IndexPropresALaCibleGardes) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 30}}, {{"PrimaryKey", "+Id", true, true}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 50}, {"Ville", dbText, 20}},
              {{"PrimaryKey", "+Id", true, true}, {"NomVille", "+Nom;-Ville", true}, {"ParVille", "+Ville"}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Nom", Valeur("un")}, {"Ville", Valeur("Albi")}});
  });
  Verifie(true);

  for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
  auto& r = Resultat();
  EXPECT_EQ(r.TableDefs()["T"].Fields()["Nom"].Size(), 30);
  moteur::Index nomVille, parVille;
  ASSERT_TRUE(moteur::Essaie([&] { nomVille = r.TableDefs()["T"].Indexes()["NomVille"]; }));
  EXPECT_EQ(nomVille.Fields(), "+Nom;-Ville");
  EXPECT_TRUE(nomVille.Unique());
  ASSERT_TRUE(moteur::Essaie([&] { parVille = r.TableDefs()["T"].Indexes()["ParVille"]; }));
  EXPECT_FALSE(parVille.Unique());
}

// A rebuilt table keeps its fields in order: a field the model adds later takes its place there.
TEST_F(ReconstructionFidele, ChampAjouteApresUneReconstructionPrendSaPosition) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 30}, {"Fin", dbLong}}); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 50}, {"Fin", dbLong}, {"Propre", dbLong}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Nom", Valeur("un")}, {"Fin", Valeur(9)}});
  });
  Verifie(true);
  {
    auto& r = Resultat();
    moteur::TableDef t = r.TableDefs()["T"];
    for (int k = 0; k < t.Fields().Count(); ++k) EXPECT_EQ(t.Fields()[k].OrdinalPosition(), k) << t.Fields()[k].Name();
    FermeBase(resultat);
  }

  fs::remove(cheminModele);
  Modele([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nouveau", dbLong}, {"Nom", dbText, 30}, {"Fin", dbLong}});
  });
  Verifie(true);

  EXPECT_EQ(NomsChamps(Resultat(), "T"), (std::vector<std::string>{"Id", "Nouveau", "Nom", "Fin", "Propre"}));
  EXPECT_EQ(ValeursColonne(Resultat(), "T", "Fin"), std::vector<Valeur>{Valeur(9)});
}

// A field the model makes required and a field that makes the table be rebuilt, in the same table,
// whichever comes first: one run brings the table up to the model, with every record.
TEST_F(ReconstructionFidele, NouveauChampRequisEtChampDifferentConvergentEnUnPassage) {
  for (bool requisDAbord : {true, false}) {
    SCOPED_TRACE(requisDAbord ? "champ requis d'abord" : "champ différent d'abord");
    fs::remove(cheminModele);
    fs::remove(cheminCible);
    fenetre.journal.clear();
    Modele([&](moteur::Database& b) {
      std::vector<Colonne> champs = {{"Id", dbLong}};
      Colonne requis{"Code", dbText, 5, true, "\"X\""}, date{"Jour", moteur::dbDate, 0, true, "#01/02/2020#"},
          nom{"Nom", dbText, 30};
      if (requisDAbord)
        champs.insert(champs.end(), {requis, date, nom});
      else
        champs.insert(champs.end(), {nom, requis, date});
      // A field of the target the model makes required, after the one that differs.
      champs.push_back({"Etat", dbText, 5, true, "\"E\""});
      CreeTable(b, "T", champs, {{"PrimaryKey", "+Id", true, true}});
    });
    Cible([](moteur::Database& b) {
      CreeTable(b, "T", {{"Id", dbLong}, {"Nom", dbText, 50}, {"Etat", dbText, 5}}, {{"PrimaryKey", "+Id", true, true}});
      Insere(b, "T", {{"Id", Valeur(1)}, {"Nom", Valeur("un")}, {"Etat", Valeur("A")}});
      Insere(b, "T", {{"Id", Valeur(2)}, {"Nom", Valeur("deux")}});
    });
    Verifie(true);

    for (const auto& l : Constats()) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
    auto& r = Resultat();
    EXPECT_FALSE(TableExiste(r, "Temp_T"));
    EXPECT_EQ(r.TableDefs()["T"].Fields()["Nom"].Size(), 30);
    EXPECT_EQ(ValeursColonne(r, "T", "Nom"), (std::vector<Valeur>{Valeur("un"), Valeur("deux")}));
    EXPECT_EQ(ValeursColonne(r, "T", "Code"), (std::vector<Valeur>{Valeur("X"), Valeur("X")}));
    EXPECT_EQ(ValeursColonne(r, "T", "Jour"), (std::vector<Valeur>(2, Valeur(moteur::DateHeure{2020, 1, 2}))));
    EXPECT_EQ(ValeursColonne(r, "T", "Etat"), (std::vector<Valeur>{Valeur("A"), Valeur("E")}));
    FermeBase(resultat);
  }
}

}  // namespace
}  // namespace utireorg::tests

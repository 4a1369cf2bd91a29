// The walk over the model's tables and fields: what is created, corrected or left alone.
#include <fstream>
#include <set>

#include "OutilsStructure.h"

namespace utireorg::tests {
namespace {

using moteur::dbLong;
using moteur::dbMemo;
using moteur::dbText;

class Verification : public StructureTest {};

TEST_F(Verification, TableManquanteCreeeAvecSesChampsSonIndexEtSonDictionnaire) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "Clients",
              {{"IdClient", dbLong},
               {"Nom", dbText, 50, true, "\"?\"", false, 0,
                {{"NomClair", dbText, Valeur("Nom du client")}, {"VEKFormat", dbText, Valeur("@")},
                 {"Priorite", moteur::dbInteger, Valeur(5)}}}},
              {{"PrimaryKey", "+IdClient", true, true}}, {{"NomClair", dbText, Valeur("Fichier clients")}});
  });
  Cible([](moteur::Database& b) { CreeTable(b, "Divers", {{"A", dbLong}}); });
  Verifie();

  EXPECT_EQ(Constats(), (std::vector<std::string>{
                            H("#ALERT# - Table non trouvée : création"),
                            H("#ALERT# - Champ 'IdClient' non trouvé : création"),
                            H("#ALERT# - Champ 'Nom' non trouvé : création"),
                            H("#ALERT# - index 'Clients.PrimaryKey' non trouvé : Tentative de création"),
                            H("          L'index Clients.PrimaryKey' a bien été créé."),
                        }));
  auto& r = Resultat();
  EXPECT_EQ(NomsChamps(r, "Clients"), (std::vector<std::string>{"IdClient", "Nom"}));
  moteur::Field nom = r.TableDefs()["Clients"].Fields()["Nom"];
  EXPECT_EQ(nom.Size(), 50);
  EXPECT_TRUE(nom.Required());
  EXPECT_EQ(nom.DefaultValue(), "\"?\"");
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Nom", "NomClair"), Valeur("Nom du client"));
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Nom", "VEKFormat"), Valeur("@"));
  // Slots 0 and 2 of the model, assigned again in the target.
  EXPECT_EQ(ProprieteChamp(r, "Clients", "Nom", "Priorite").EnEntier(), 5);
  EXPECT_EQ(r.TableDefs()["Clients"].Properties()["NomClair"].Value(), Valeur("Fichier clients"));
  EXPECT_TRUE(r.TableDefs()["Clients"].Indexes()["PrimaryKey"].Primary());
}

TEST_F(Verification, OuvreAfficheEtFermeDansLOrdre) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  etat.estimationEtapes = 7;
  Verifie();

  ASSERT_GE(fenetre.legendes.size(), 3u);
  EXPECT_EQ(fenetre.legendes.front(), std::make_pair(std::string("Vérification base de données principale"), cheminCible));
  EXPECT_EQ(fenetre.legendes[fenetre.legendes.size() - 2],
            std::make_pair(std::string("Fermeture des bases"), std::string("Fermeture de la base modèle en cours...")));
  EXPECT_EQ(fenetre.legendes.back(), std::make_pair(std::string("Fermeture des bases"), std::string("Base fermée avec succès !")));
  EXPECT_EQ(fenetre.progressMax, 7);
  EXPECT_EQ(fenetre.valeursProgress.front(), 0);
  EXPECT_EQ(fenetre.progress, 100);
  EXPECT_EQ(Sections(), std::vector<std::string>{"Vérification base de données principale"});
  EXPECT_TRUE(Constats().empty());
  EXPECT_FALSE(etat.baseCourante.EstOuverte());
  EXPECT_TRUE(fenetre.messages.empty());
}

TEST_F(Verification, ChampManquantPlaceAuRangDuModeleEtNulsRemplis) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T",
              {{"A", dbLong}, {"X", dbLong, 0, true, "0"}, {"B", dbText, 20}, {"Y", dbText, 20, true, "\"N\""}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"A", dbLong}, {"B", dbText, 20}});
    Insere(b, "T", {{"A", Valeur(1)}, {"B", Valeur("un")}});
    Insere(b, "T", {{"A", Valeur(2)}, {"B", Valeur("deux")}});
  });
  Verifie();

  EXPECT_EQ(Constats(), (std::vector<std::string>{H("#ALERT# - Champ 'X' non trouvé : création"),
                                                  H("#ALERT# - Champ 'Y' non trouvé : création")}));
  auto& r = Resultat();
  EXPECT_EQ(NomsChamps(r, "T"), (std::vector<std::string>{"A", "X", "B", "Y"}));
  moteur::TableDef t = r.TableDefs()["T"];
  EXPECT_EQ(t.Fields()["X"].OrdinalPosition(), 1);
  EXPECT_EQ(t.Fields()["B"].OrdinalPosition(), 2);
  EXPECT_EQ(ValeursColonne(r, "T", "X"), (std::vector<Valeur>{Valeur(0), Valeur(0)}));
  EXPECT_EQ(ValeursColonne(r, "T", "Y"), (std::vector<Valeur>{Valeur("N"), Valeur("N")}));
  EXPECT_EQ(ValeursColonne(r, "T", "B"), (std::vector<Valeur>{Valeur("un"), Valeur("deux")}));
}

// Tables rebuilt by earlier versions hold every field at position 0: the new field still takes the
// model's place among them, their order kept.
TEST_F(Verification, ChampManquantPlaceMemeQuandLesPositionsSontConfondues) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}, {"X", dbLong}, {"B", dbLong}, {"C", dbLong}}); });
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}, {"B", dbLong}, {"C", dbLong}}); });
  ModifieCatalogue(cheminCible, "UPDATE MSysColumns SET OrdinalPosition = 0");
  Verifie();

  EXPECT_EQ(NomsChamps(Resultat(), "T"), (std::vector<std::string>{"A", "X", "B", "C"}));
}

// A field only the target has, between fields of the model: each new field goes right after the
// model field that comes before it, so that the model's fields end in the model's order.
TEST_F(Verification, ChampsManquantsDansLOrdreDuModeleAutourDUnChampPropre) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Nouveau", dbLong}, {"Nom", dbText, 30}, {"Nouveau2", dbText, 5}, {"Fin", dbLong},
                       {"Dernier", dbLong}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"Extra", dbLong}, {"Nom", dbText, 30}, {"Fin", dbLong}});
    Insere(b, "T", {{"Id", Valeur(1)}, {"Extra", Valeur(2)}, {"Nom", Valeur("n")}, {"Fin", Valeur(4)}});
  });
  Verifie();

  auto& r = Resultat();
  EXPECT_EQ(NomsChamps(r, "T"), (std::vector<std::string>{"Id", "Nouveau", "Extra", "Nom", "Nouveau2", "Fin", "Dernier"}));
  EXPECT_EQ(ValeursColonne(r, "T", "Extra"), std::vector<Valeur>{Valeur(2)});
  EXPECT_EQ(ValeursColonne(r, "T", "Fin"), std::vector<Valeur>{Valeur(4)});
}

class VerificationModes : public Verification, public ::testing::WithParamInterface<bool> {};

TEST_P(VerificationModes, DefautEtNomClairCorrigesEnModeAvanceSeulement) {
  const bool avancee = GetParam();
  Modele([](moteur::Database& b) {
    CreeTable(b, "T",
              {{"A", dbLong, 0, false, "5",
                false, 0,
                {{"NomClair", dbText, Valeur("Montant")}, {"VEKFormat", dbText, Valeur("#")},
                 {"Priorite", moteur::dbInteger, Valeur(1)}}}},
              {}, {{"NomClair", dbText, Valeur("Table du modèle")}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T",
              {{"A", dbLong, 0, false, "3",
                false, 0,
                {{"NomClair", dbText, Valeur("Ancien nom")}, {"VEKFormat", dbText, Valeur("#")},
                 {"Priorite", moteur::dbInteger, Valeur(1)}}}},
              {}, {{"NomClair", dbText, Valeur("Table de la cible")}});
    Insere(b, "T", {{"A", Valeur(9)}});
  });
  Verifie(avancee);

  auto& r = Resultat();
  EXPECT_EQ(r.TableDefs()["T"].Fields()["A"].DefaultValue(), avancee ? "5" : "3");
  EXPECT_EQ(ProprieteChamp(r, "T", "A", "NomClair"), Valeur(avancee ? "Montant" : "Ancien nom"));
  EXPECT_EQ(r.TableDefs()["T"].Properties()["NomClair"].Value(),
            Valeur(avancee ? "Table du modèle" : "Table de la cible"));
  EXPECT_EQ(ValeursColonne(r, "T", "A"), std::vector<Valeur>{Valeur(9)});
  EXPECT_TRUE(Constats().empty());
}

INSTANTIATE_TEST_SUITE_P(, VerificationModes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Avance" : "Simple"; });

TEST_F(Verification, DictionnaireIncompletCompleteEnModeAvance) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T",
              {{"A", dbLong, 0, false, "", false, 0,
                {{"NomClair", dbText, Valeur("Code")}, {"VEKFormat", dbText, Valeur(">")},
                 {"Priorite", moteur::dbInteger, Valeur(6)}}}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"A", dbLong, 0, false, "", false, 0, {{"NomClair", dbText, Valeur("Autre")}}}});
  });
  Verifie(true);

  auto& r = Resultat();
  EXPECT_EQ(ProprieteChamp(r, "T", "A", "NomClair"), Valeur("Code"));
  EXPECT_EQ(ProprieteChamp(r, "T", "A", "VEKFormat"), Valeur(">"));
  EXPECT_EQ(ProprieteChamp(r, "T", "A", "Priorite").EnEntier(), 6);
}

// Whatever way a field's dictionary is carried (a new field, one whose dictionary is incomplete,
// one whose dictionary is complete), one run gives it the model's "Priorite": a value outside the
// three slots is not read down to them in one place and copied whole in another, which a second
// run would change again.
TEST_F(Verification, PrioriteDuModeleAtteinteEnUnSeulPassage) {
  const std::vector<int> valeurs = {8, 9, 15, 16, 32767, -1, -32768, 0, 5};
  Modele([&](moteur::Database& b) {
    std::vector<Colonne> champs = {{"Id", dbLong}};
    for (const char* prefixe : {"N", "E", "P"})
      for (std::size_t k = 0; k < valeurs.size(); ++k)
        champs.push_back({prefixe + std::to_string(k), dbLong, 0, false, "", false, 0,
                          {{"NomClair", dbText, Valeur("nc")}, {"VEKFormat", dbText, Valeur("@")},
                           {"Priorite", moteur::dbInteger, Valeur(valeurs[k])}}});
    CreeTable(b, "T", champs);
  });
  Cible([&](moteur::Database& b) {
    std::vector<Colonne> champs = {{"Id", dbLong}};
    for (std::size_t k = 0; k < valeurs.size(); ++k)
      champs.push_back({"E" + std::to_string(k), dbLong, 0, false, "", false, 0, {{"NomClair", dbText, Valeur("x")}}});
    for (std::size_t k = 0; k < valeurs.size(); ++k)
      champs.push_back({"P" + std::to_string(k), dbLong, 0, false, "", false, 0,
                        {{"NomClair", dbText, Valeur("x")}, {"VEKFormat", dbText, Valeur("x")},
                         {"Priorite", moteur::dbInteger, Valeur(1)}}});
    CreeTable(b, "T", champs);
  });
  Verifie(true);

  auto& r = Resultat();
  for (const char* prefixe : {"N", "E", "P"})
    for (std::size_t k = 0; k < valeurs.size(); ++k) {
      const std::string champ = prefixe + std::to_string(k);
      EXPECT_EQ(ProprieteChamp(r, "T", champ, "Priorite").EnEntier(), valeurs[k]) << champ;
      EXPECT_EQ(ProprieteChamp(r, "T", champ, "Priorite").genre(), Valeur::Genre::Entier) << champ;
    }
}

TEST_F(Verification, TableSystemeDuModeleJamaisRegardee) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "Cachee", {{"A", dbLong}}, {}, {}, moteur::dbSystemObject);
    CreeTable(b, "T", {{"A", dbLong}});
  });
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  Verifie(true);

  EXPECT_TRUE(Constats().empty());
  EXPECT_FALSE(TableExiste(Resultat(), "Cachee"));
}

TEST_F(Verification, QuaranteCinqTablesRouvrentLesBasesApresLa21eEtLa41e) {
  int systeme = 0;
  Modele([&](moteur::Database& b) {
    systeme = b.TableDefs().Count();
    for (int i = 0; systeme + i < 45; ++i) CreeTable(b, "T" + std::to_string(100 + i), {{"A", dbLong}});
    ASSERT_EQ(b.TableDefs().Count(), 45);
  });
  // The target lacks the model's last table: only a target opened again can receive it.
  const std::string derniere = "T" + std::to_string(100 + 45 - systeme - 1);
  Cible([&](moteur::Database& b) {
    for (int i = 0; 100 + i < 100 + 45 - systeme - 1; ++i) CreeTable(b, "T" + std::to_string(100 + i), {{"A", dbLong}});
  });
  std::vector<int> positions;
  std::set<const void*> objets;
  DefinitObservateurReouverture([&](int position) {
    positions.push_back(position);
    objets.insert(etat.baseCourante.etat().get());
    EXPECT_TRUE(etat.baseCourante.EstOuverte());
  });
  Verifie();

  EXPECT_EQ(positions, (std::vector<int>{20, 40}));
  EXPECT_EQ(objets.size(), 2u);  // a new target object each time
  EXPECT_EQ(Constats(), (std::vector<std::string>{H("#ALERT# - Table non trouvée : création"),
                                                  H("#ALERT# - Champ 'A' non trouvé : création")}));
  EXPECT_TRUE(TableExiste(Resultat(), derniere));
}

TEST_F(Verification, ModeleAbsentSeulementUnMessage) {
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  Verifie();

  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].texte, "Base de données du logiciel inexistante !");
  EXPECT_EQ(fenetre.messages[0].titre, "Erreur");
  EXPECT_EQ(fenetre.messages[0].icone, 1);
  EXPECT_EQ(fenetre.journal, "");
  EXPECT_TRUE(etat.baseCourante.EstOuverte());  // left for the caller to close
}

// The software's files come from a system where case did not count: "Compta.mdb" is the model
// of "COMPTA.MDB", as the purge finds its reference.
TEST_F(Verification, ModeleTrouveSansTenirCompteDeLaCasse) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}, {"B", dbLong}}); });
  cheminCible = (racine / "modele" / "cible" / "COMPTA.MDB").string();
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  Verifie();

  EXPECT_TRUE(fenetre.messages.empty());
  EXPECT_EQ(Constats(), std::vector<std::string>{H("#ALERT# - Champ 'B' non trouvé : création")});
  EXPECT_EQ(NomsChamps(Resultat(), "T"), (std::vector<std::string>{"A", "B"}));
}

TEST_F(Verification, ModeleIllisibleSignaleSansRienVerifier) {
  Cible([](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  {
    std::ofstream sortie(cheminModele, std::ios::binary);
    sortie << std::string(4096, 'x');
  }
  Verifie();

  ASSERT_EQ(fenetre.messages.size(), 1u);  // the error handler's report
  EXPECT_EQ(fenetre.messages[0].titre, "Erreur");
  EXPECT_TRUE(Sections().empty());
  EXPECT_TRUE(etat.baseCourante.EstOuverte());
}

TEST_F(Verification, CheminSansDeuxSeparateursSansModele) {
  EXPECT_EQ(CheminBaseModele("/a/b/c/x.mdb"), "/a/b/x.mdb");
  EXPECT_EQ(CheminBaseModele("/b/x.mdb"), "/x.mdb");
  EXPECT_EQ(CheminBaseModele("/x.mdb"), "");
  EXPECT_EQ(CheminBaseModele("x.mdb"), "");

  // From the current directory, a target named without any folder has no model.
  Base("Compta.mdb", [](moteur::Database& b) { CreeTable(b, "T", {{"A", dbLong}}); });
  etat.baseCourante = OuvreBase("Compta.mdb");
  VerificationStructure(etat, "Compta.mdb", etat.baseCourante, "x");
  ASSERT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(fenetre.messages[0].texte, "Base de données du logiciel inexistante !");
  EXPECT_EQ(fenetre.journal, "");
}

TEST_F(Verification, ChampNulsDesEnregistrementsRemplisEnModeAvance) {
  Modele([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"C", dbText, 10, true, "\"N\""}, {"D", dbLong, 0, true, "7"}});
  });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"C", dbText, 10, true, "\"N\""}, {"D", dbLong, 0, true, "7"}});
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(1)}, {"C", Valeur::Nul()}, {"D", Valeur::Nul()}});
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(2)}, {"C", Valeur("ok")}, {"D", Valeur(3)}});
  });
  Verifie(true);

  EXPECT_EQ(Constats(), (std::vector<std::string>{"Champ nul rencontré :'T.C'... champ mis à jour !",
                                                  "Champ nul rencontré :'T.D'... champ mis à jour !"}));
  EXPECT_EQ(Sections(), (std::vector<std::string>{"Vérification base de données principale",
                                                  "Vérification des enregistrements nuls", "Vérification des relations"}));
  auto& r = Resultat();
  EXPECT_EQ(ValeursColonne(r, "T", "C"), (std::vector<Valeur>{Valeur("N"), Valeur("ok")}));
  EXPECT_EQ(ValeursColonne(r, "T", "D"), (std::vector<Valeur>{Valeur(7), Valeur(3)}));
}

// A required text field whose default is empty: the empty text is refused too, and the journal
// must not leave the null looking corrected.
TEST_F(Verification, ChampNulDontLeDefautEstRefuseSignaleLeRefus) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"C", dbText, 10, true}}); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"C", dbText, 10, true}});
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(1)}, {"C", Valeur::Nul()}});
  });
  Verifie(true);

  EXPECT_EQ(Constats(), (std::vector<std::string>{
                            "#ERR# Table : T, enregistrement n° 1, champ 'C', valeur par défaut '' : Erreur :3315 " +
                                moteur::DescriptionErreur(3315, {"C"}),
                            "#ERR# Table : T, enregistrement n° 1 non mis à jour, champs restés nuls : 'C'."}));
  EXPECT_TRUE(ValeursColonne(Resultat(), "T", "C")[0].EstNul());
}

// Defaults taken as the engine gives them to a new record; where there is none, the null stays
// and the journal says that the record was not corrected.
TEST_F(Verification, ChampNulNumeriqueOuDateRecoitLeDefautCalculeOuUneErreur) {
  const std::vector<Colonne> champs = {{"Id", dbLong},
                                       {"Jour", moteur::dbDate, 0, true, "Date()"},
                                       {"Debut", moteur::dbDate, 0, true, "#01/02/2020#"},
                                       {"Actif", moteur::dbBoolean, 0, true, "True"},
                                       {"Nombre", dbLong, 0, true},
                                       {"Quand", moteur::dbDate, 0, true},
                                       {"Coche", moteur::dbBoolean, 0, true}};
  Modele([&](moteur::Database& b) { CreeTable(b, "T", champs); });
  Cible([&](moteur::Database& b) {
    CreeTable(b, "T", champs);
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(1)}, {"Nombre", Valeur(1)}, {"Quand", Valeur("2021-03-04 00:00:00")},
                                       {"Coche", Valeur(0LL)}});
    for (const char* champ : {"Nombre", "Quand", "Coche"}) {
      std::vector<std::pair<std::string, Valeur>> valeurs = {{"Id", Valeur(2)}, {"Jour", Valeur("2021-01-01 00:00:00")},
                                                             {"Debut", Valeur("2021-01-01 00:00:00")}, {"Actif", Valeur(-1LL)},
                                                             {"Nombre", Valeur(1)}, {"Quand", Valeur("2021-03-04 00:00:00")},
                                                             {"Coche", Valeur(0LL)}};
      for (auto& [nom, valeur] : valeurs) if (nom == champ) valeur = Valeur::Nul();
      moteur::EcritSansControle(b, "T", valeurs);
    }
  });
  Verifie(true);

  // A Yes/No field never holds Null: one a damaged file left there reads No, and is no null field.
  std::vector<std::string> attendus = {"Champ nul rencontré :'T.Jour'... champ mis à jour !",
                                       "Champ nul rencontré :'T.Debut'... champ mis à jour !"};
  int position = 1;
  for (const char* champ : {"Nombre", "Quand"}) {
    const std::string enregistrement = "enregistrement n° " + std::to_string(++position);
    attendus.push_back("#ERR# Table : T, " + enregistrement + ", champ '" + champ +
                       "', sans valeur par défaut : Erreur :3314 " + moteur::DescriptionErreur(3314, {champ}));
    attendus.push_back("#ERR# Table : T, " + enregistrement + " non mis à jour, champs restés nuls : '" + champ + "'.");
  }
  EXPECT_EQ(Constats(), attendus);
  auto& r = Resultat();
  const auto jour = ValeursColonne(r, "T", "Jour");
  ASSERT_EQ(jour.size(), 4u);
  EXPECT_EQ(jour[0].genre(), Valeur::Genre::Date);
  EXPECT_EQ(ValeursColonne(r, "T", "Debut")[0], Valeur(moteur::DateHeure{2020, 1, 2}));
  EXPECT_EQ(ValeursColonne(r, "T", "Actif")[0], Valeur(false));
  EXPECT_TRUE(ValeursColonne(r, "T", "Nombre")[1].EstNul());
  EXPECT_TRUE(ValeursColonne(r, "T", "Quand")[2].EstNul());
  EXPECT_EQ(ValeursColonne(r, "T", "Coche")[3], Valeur(false));
}

// A field that cannot be filled (no default, a default its field refuses) keeps the record from
// being stored: the journal names the record, that field and why, and says which fields stay Null;
// "champ mis à jour !" is written only for values really stored.
TEST_F(Verification, ChampNulQuiNePeutEtreRempliNommeAvecSonEnregistrement) {
  const std::vector<Colonne> champs = {{"Id", dbLong},
                                       {"N", dbLong, 0, true, "5"},
                                       {"S", dbText, 10, true, "\"x\""},
                                       {"S2", dbText, 10, true},
                                       {"NewS", dbText, 5, true, "\"abcdefgh\""},
                                       {"B", moteur::dbBoolean, 0, true, "True"}};
  Modele([&](moteur::Database& b) { CreeTable(b, "T", champs, {{"PrimaryKey", "+Id", true, true}}); });
  Cible([&](moteur::Database& b) {
    CreeTable(b, "T", champs, {{"PrimaryKey", "+Id", true, true}});
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(1)}});
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(2)}, {"N", Valeur(1)}, {"S", Valeur("s")}, {"S2", Valeur("t")},
                                       {"B", Valeur(0LL)}});
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(3)}, {"S2", Valeur("t")}, {"NewS", Valeur("ok")}});
  });
  Verifie(true);

  const std::string troisMilleQuinze = "Erreur :3315 " + moteur::DescriptionErreur(3315, {"S2"});
  const std::string troisMilleCentSoixanteTrois = "Erreur :3163 " + moteur::DescriptionErreur(3163, {"NewS"});
  EXPECT_EQ(Constats(),
            (std::vector<std::string>{
                "#ERR# Table : T, enregistrement Id=1, champ 'S2', valeur par défaut '' : " + troisMilleQuinze,
                "#ERR# Table : T, enregistrement Id=1, champ 'NewS', valeur par défaut 'abcdefgh' : " + troisMilleCentSoixanteTrois,
                "#ERR# Table : T, enregistrement Id=1 non mis à jour, champs restés nuls : 'N', 'S', 'S2', 'NewS'.",
                "#ERR# Table : T, enregistrement Id=2, champ 'NewS', valeur par défaut 'abcdefgh' : " + troisMilleCentSoixanteTrois,
                "#ERR# Table : T, enregistrement Id=2 non mis à jour, champs restés nuls : 'NewS'.",
                "Champ nul rencontré :'T.N'... champ mis à jour !", "Champ nul rencontré :'T.S'... champ mis à jour !"}));
  auto& r = Resultat();
  EXPECT_EQ(ValeursColonne(r, "T", "N"), (std::vector<Valeur>{Valeur::Nul(), Valeur(1), Valeur(5)}));
  EXPECT_EQ(ValeursColonne(r, "T", "S"), (std::vector<Valeur>{Valeur::Nul(), Valeur("s"), Valeur("x")}));
  // A Yes/No field never holds Null: the damaged file's missing values read No, and no pass fills them.
  EXPECT_EQ(ValeursColonne(r, "T", "B"), (std::vector<Valeur>{Valeur(false), Valeur(false), Valeur(false)}));
}

TEST_F(Verification, ChampsNulsLaissesSansModeAvance) {
  Modele([](moteur::Database& b) { CreeTable(b, "T", {{"Id", dbLong}, {"C", dbText, 10, true, "\"N\""}}); });
  Cible([](moteur::Database& b) {
    CreeTable(b, "T", {{"Id", dbLong}, {"C", dbText, 10, true, "\"N\""}});
    moteur::EcritSansControle(b, "T", {{"Id", Valeur(1)}, {"C", Valeur::Nul()}});
  });
  Verifie(false);

  EXPECT_TRUE(Constats().empty());
  EXPECT_TRUE(ValeursColonne(Resultat(), "T", "C")[0].EstNul());
}

}  // namespace
}  // namespace utireorg::tests

// The record verification after error 3163: what it finds, what it writes, how it corrects,
// and that a record is never lost between its deletion and its corrected copy.
#include "records/LectureEnregistrements.h"

#include <algorithm>
#include <limits>

#include "messages/Balisage.h"
#include "moteur/Injection.h"
#include "test_lecture_outils.h"

namespace lecture_tests {
namespace {

using utireorg::AnalyseMessage;
using utireorg::PointeurSouris;
using utireorg::VerificationEnregistrements;

const char* const TitreBilan = "Vérification terminée";

std::string TexteDe(const std::string& balisage) { return AnalyseMessage(balisage).texte; }

std::string BilanAttendu(const std::string& lignes) {
  return TexteDe("i#La vérification a été effectuée avec succès :" + lignes +
                 "@@Consultez le journal d'analyse pour connaître@le détail des enregistrements concernés.");
}

class Verification : public TestLecture {
 protected:
  void SetUp() override {
    TestLecture::SetUp();
    fenetre.reponses = {1};  // "Oui" to the question; the summary takes its own button
  }

  std::string Base() const { return Chemin("base.mdb"); }

  bool Verifie() { return VerificationEnregistrements(etat, Base()); }

  // The records counted by the message shown after the question.
  const utireorg::MessageAnalyse& Bilan() const { return fenetre.messages.at(1); }

  bool Compacte() {
    std::error_code ec;
    std::filesystem::remove(Chemin("compact.mdb"), ec);
    return static_cast<bool>(moteur::Essaie([&] { moteur::DBEngine::CompactDatabase(Base(), Chemin("compact.mdb")); }));
  }
};

TEST_F(Verification, LaQuestionEstPoseeTelleQuelle) {
  fenetre.reponses = {2};
  Cree().Close();
  Verifie();
  ASSERT_EQ(fenetre.messages.size(), 1u);
  const auto& question = fenetre.messages[0];
  auto attendu = AnalyseMessage(
      "!#Une erreur (Réf 3163) a été détectée dans le fichier@en cours de vérification."
      "@@Cette erreur est dûe à la présence d'un ou plusieurs@enregistrements non valides car ils occupent une place"
      "@plus importante que celle prévue par la table à laquelle@ils appartiennent."
      "@@Une vérification de tout le fichier est nécessaire@afin de corriger les enregistrements défectueux."
      "@@Souhaitez-vous lancer la vérification ?");
  EXPECT_EQ(question.texte, attendu.texte);
  EXPECT_EQ(question.icone, 1);
  EXPECT_EQ(question.titre, "Compactage impossible");
  ASSERT_EQ(question.boutons.size(), 2u);
  EXPECT_EQ(question.boutons[0].legende, "&Oui");
  EXPECT_EQ(question.boutons[1].legende, "&Non");
  EXPECT_TRUE(question.boutons[1].focus);
  EXPECT_TRUE(question.boutons[1].annulation);
}

TEST_F(Verification, NonNeTouchePasALaBase) {
  fenetre.reponses = {2};
  auto base = Cree();
  CreeTable(base, "T", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 3, false, {}, true}});
  AjouteDefectueux(base, "T", {{"Code", 1}, {"Nom", "trop long"}});
  base.Close();
  auto avant = Contenu(Base(), "T");

  EXPECT_FALSE(Verifie());
  EXPECT_EQ(fenetre.messages.size(), 1u);
  EXPECT_TRUE(LignesJournal().empty());
  EXPECT_EQ(Contenu(Base(), "T"), avant);
  for (auto p : fenetre.pointeurs) EXPECT_NE(p, PointeurSouris::Sablier);
}

TEST_F(Verification, SansReponseRienNEstFait) {
  fenetre.reponses = {0};  // no button: the question could not be answered
  auto base = Cree();
  CreeTable(base, "T", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 3, false, {}, true}});
  AjouteDefectueux(base, "T", {{"Code", 1}, {"Nom", "trop long"}});
  base.Close();
  auto avant = Contenu(Base(), "T");
  EXPECT_FALSE(Verifie());
  EXPECT_EQ(fenetre.messages.size(), 1u);
  EXPECT_EQ(Contenu(Base(), "T"), avant);
}

TEST_F(Verification, UnCaractereDeTropEstCorrigePasLaTailleExacte) {
  auto base = Cree();
  CreeTable(base, "T", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 6, false, {}, true}});
  Ajoute(base, "T", {{"Code", 1}, {"Nom", "ABCDEF"}});
  Ajoute(base, "T", {{"Code", 2}, {"Nom", "éèêëàâ"}});  // six characters, twelve bytes
  AjouteDefectueux(base, "T", {{"Code", 3}, {"Nom", "ÉCOLIER"}});
  base.Close();
  ASSERT_FALSE(Compacte());

  EXPECT_TRUE(Verifie());

  EXPECT_EQ(LignesJournal(), (std::vector<std::string>{
                                 Horodate("ERREUR 3163 : Réorganisation fichier " + Base()),
                                 Horodate("       Enregistrement défectueux : Table T"),
                                 Horodate("          Code : 3"),
                                 Horodate("          Nom : ÉCOLIE (coupé, valeur d'origine : ÉCOLIER)"),
                             }));
  EXPECT_EQ(Contenu(Base(), "T"), (std::vector<std::vector<std::string>>{
                                      {"1", "ABCDEF"}, {"2", "éèêëàâ"}, {"3", "ÉCOLIE"}}));
  ASSERT_EQ(fenetre.messages.size(), 2u);
  EXPECT_EQ(Bilan().texte, BilanAttendu("@1 enregistrement défectueux a été corrigé."));
  EXPECT_EQ(Bilan().icone, 2);
  EXPECT_EQ(Bilan().titre, TitreBilan);
  ASSERT_EQ(Bilan().boutons.size(), 1u);
  EXPECT_EQ(Bilan().boutons[0].legende, "Continuer");
  EXPECT_TRUE(Compacte());

  ASSERT_FALSE(fenetre.pointeurs.empty());
  EXPECT_NE(std::find(fenetre.pointeurs.begin(), fenetre.pointeurs.end(), PointeurSouris::Sablier),
            fenetre.pointeurs.end());
  EXPECT_EQ(fenetre.pointeurs.back(), PointeurSouris::Normal);
}

// A Single past what four bytes hold, a Double at infinity: no write through the engine stores
// them, the compaction does not carry them, the check replaces them and says what was stored.
TEST_F(Verification, ReelHorsDeSonTypeEstCorrige) {
  auto base = Cree();
  CreeTable(base, "R", {{"Code", moteur::dbLong}, {"S", moteur::dbSingle}, {"D", moteur::dbDouble}});
  Ajoute(base, "R", {{"Code", 1}, {"S", Valeur(3.4e38)}, {"D", Valeur(1e308)}});
  AjouteDefectueux(base, "R", {{"Code", 2}, {"S", Valeur(1e39)}, {"D", Valeur(2.5)}});
  AjouteDefectueux(base, "R",
                   {{"Code", 3}, {"S", Valeur(1.5)}, {"D", Valeur(std::numeric_limits<double>::infinity())}});
  base.Close();
  ASSERT_FALSE(Compacte());

  EXPECT_TRUE(Verifie());
  std::string journal;
  for (const auto& l : LignesJournal()) journal += l + "\n";
  EXPECT_NE(
      journal.find("#ALERT# Table 'R', enregistrement Code = 2 : la valeur du champ 'S' est hors des limites de son "
                   "type, remplacée par 0 (valeur lue : "),
      std::string::npos)
      << journal;
  EXPECT_NE(
      journal.find("#ALERT# Table 'R', enregistrement Code = 3 : la valeur du champ 'D' est hors des limites de son "
                   "type, remplacée par 0 (valeur lue : "),
      std::string::npos)
      << journal;
  const auto contenu = Contenu(Base(), "R");
  ASSERT_EQ(contenu.size(), 3u);
  EXPECT_EQ(contenu[1][1], "0");
  EXPECT_EQ(contenu[1][2], "2,5");
  EXPECT_EQ(contenu[2][1], "1,5");
  EXPECT_EQ(contenu[2][2], "0");
  EXPECT_TRUE(Compacte());
}

// A Yes/No stored as another number than -1 or 0 reads Yes: the compaction does not carry it, the
// check stores Yes as the engine writes it, and says what was stored.
TEST_F(Verification, OuiNonStockeAutrementQueMoinsUnOuZeroDevientOui) {
  auto base = Cree();
  CreeTable(base, "B", {{"Code", moteur::dbLong}, {"Actif", moteur::dbBoolean}});
  Ajoute(base, "B", {{"Code", 1}, {"Actif", Valeur(true)}});
  Ajoute(base, "B", {{"Code", 2}, {"Actif", Valeur(false)}});
  AjouteDefectueux(base, "B", {{"Code", 3}, {"Actif", Valeur(7)}});
  base.Close();
  ASSERT_FALSE(Compacte());

  const bool verifiee = Verifie();
  std::string journal;
  for (const auto& l : LignesJournal()) journal += l + "\n";
  EXPECT_TRUE(verifiee) << journal;
  EXPECT_NE(journal.find("#ALERT# Table 'B', enregistrement Code = 3 : la valeur du champ 'Actif' vaut 7 dans un "
                         "champ Oui/Non, qui ne tient que -1 ou 0, remplacée par Vrai."),
            std::string::npos)
      << journal;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(Base().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT group_concat(Actif) FROM (SELECT Actif FROM B ORDER BY Code)", -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "-1,0,-1");
  sqlite3_finalize(st);
  sqlite3_close(db);
  EXPECT_TRUE(Compacte());
}

// The journal keeps what was stored, the only trace of a value the correction replaces.
TEST_F(Verification, ValeurIllisibleEstEcriteTelleQuelleEtRemiseParDefaut) {
  auto base = Cree();
  CreeTable(base, "U",
            {{"Code", moteur::dbLong},
             {"Montant", moteur::dbLong},
             {"Quand", moteur::dbDate},
             {"Note", moteur::dbText, 10, false, {}, true},
             {"Actif", moteur::dbBoolean}});
  AjouteDefectueux(base, "U", {{"Code", 7}, {"Montant", "abc"}, {"Actif", Valeur(true)}});
  base.Close();
  // Compacted as it is, the value would stay there run after run.
  ASSERT_FALSE(Compacte());

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(LignesJournal(),
            (std::vector<std::string>{
                Horodate("ERREUR 3163 : Réorganisation fichier " + Base()),
                Horodate("       Enregistrement défectueux : Table U"),
                Horodate("          Code : 7"),
                Horodate("          Montant :  (illisible : Le champ 'Montant' contient une valeur "
                         "qui ne convient pas à son type (valeur lue : \"abc\").)"),
                Horodate("          Quand : "),
                Horodate("          Note : "),
                Horodate("          Actif : Vrai"),
                Horodate("#ALERT# Table 'U', enregistrement Code = 7 : la valeur du champ 'Montant' est "
                         "illisible, remplacée par 0 (valeur lue : \"abc\")."),
            }));
  // Nulls come back as their type's default; an empty date stays null.
  EXPECT_EQ(Contenu(Base(), "U"), (std::vector<std::vector<std::string>>{{"7", "0", "<nul>", "", "Vrai"}}));
  auto relue = moteur::DBEngine::OpenDatabase(Base());
  auto rs = relue.OpenRecordset("U", moteur::dbOpenTable);
  EXPECT_EQ(rs["Note"].Value(), Valeur(std::string()));
  EXPECT_TRUE(rs["Quand"].Value().EstNul());
  rs.Close();
  relue.Close();
  EXPECT_EQ(Bilan().texte, BilanAttendu("@1 enregistrement défectueux a été corrigé."));
  EXPECT_TRUE(Compacte());
}

TEST_F(Verification, TroisCorrigesUnSupprimeEtRienNEstPerdu) {
  auto base = Cree();
  CreeTable(base, "Premiere", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 4, false, {}, true}});
  // The two first records are both defective: the one after a defective first record is read too.
  AjouteDefectueux(base, "Premiere", {{"Code", 1}, {"Nom", "aaaaa"}});
  AjouteDefectueux(base, "Premiere", {{"Code", 2}, {"Nom", "bbbbb"}});
  Ajoute(base, "Premiere", {{"Code", 3}, {"Nom", "cccc"}});
  // "Ref" is required and refuses the empty text: a record without it has no copy the table takes.
  CreeTable(base, "Seconde",
            {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 4, false, {}, true}, {"Ref", moteur::dbText, 5, true}});
  AjouteDefectueux(base, "Seconde", {{"Code", 4}, {"Nom", "ddddd"}, {"Ref", "r4"}});
  AjouteDefectueux(base, "Seconde", {{"Code", 5}, {"Nom", "eeeee"}});
  Ajoute(base, "Seconde", {{"Code", 6}, {"Nom", "ffff"}, {"Ref", "r6"}});
  base.Close();

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(Bilan().texte, BilanAttendu("@3 enregistrements défectueux ont été corrigés."
                                        "@1 enregistrement défectueux a été supprimé."));

  EXPECT_EQ(Contenu(Base(), "Premiere"), (std::vector<std::vector<std::string>>{
                                             {"3", "cccc"}, {"1", "aaaa"}, {"2", "bbbb"}}));
  // The record whose corrected copy the rules refuse is deleted; its values are in the journal.
  EXPECT_EQ(Contenu(Base(), "Seconde"), (std::vector<std::vector<std::string>>{
                                            {"6", "ffff", "r6"}, {"4", "dddd", "r4"}}));
  auto lignes = LignesJournal();
  EXPECT_EQ(std::count(lignes.begin(), lignes.end(), Horodate("ERREUR 3163 : Réorganisation fichier " + Base())), 1);
  EXPECT_EQ(lignes.front(), Horodate("ERREUR 3163 : Réorganisation fichier " + Base()));
  EXPECT_EQ(std::count(lignes.begin(), lignes.end(), Horodate("       Enregistrement défectueux : Table Premiere")), 2);
  EXPECT_EQ(std::count(lignes.begin(), lignes.end(), Horodate("       Enregistrement défectueux : Table Seconde")), 2);
  EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate("          Nom : eeee (coupé, valeur d'origine : eeeee)")), lignes.end());
  EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate("          Ref : ")), lignes.end());
}

// A record whose only fault is a text too long is corrected, never deleted for a value it held
// rightly: a Null the field accepts stays Null even where the type's default would be refused.
// The journal is the only trace of what the cut takes away, so it keeps the whole value.
TEST_F(Verification, UnNulAccepteResteNulEtLaValeurCoupeeResteEntiereAuJournal) {
  auto base = Cree();
  CreeTable(base, "T",
            {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 4, false, {}, true}, {"Ref", moteur::dbText, 5}});
  AjouteDefectueux(base, "T", {{"Code", 1}, {"Nom", "abcdéfgh"}});
  base.Close();

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(Contenu(Base(), "T"), (std::vector<std::vector<std::string>>{{"1", "abcd", "<nul>"}}));
  EXPECT_EQ(Bilan().texte, BilanAttendu("@1 enregistrement défectueux a été corrigé."));
  auto lignes = LignesJournal();
  EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate("          Nom : abcd (coupé, valeur d'origine : abcdéfgh)")),
            lignes.end());
  EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate("          Ref : ")), lignes.end());
}

TEST_F(Verification, PlusieursSupprimesAuPluriel) {
  auto base = Cree();
  CreeTable(base, "T",
            {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 2, false, {}, true}, {"Ref", moteur::dbText, 2, true}});
  AjouteDefectueux(base, "T", {{"Code", 1}, {"Nom", "xxx"}});
  AjouteDefectueux(base, "T", {{"Code", 2}, {"Nom", "yyy"}});
  base.Close();

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(Bilan().texte, BilanAttendu("@2 enregistrements défectueux ont été supprimés."));
  EXPECT_TRUE(Contenu(Base(), "T").empty());
}

TEST_F(Verification, RienADireDonneLeMessageAucun) {
  auto base = Cree();
  CreeTable(base, "T", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 6, false, {}, true}});
  CreeTable(base, "Vide", {{"Code", moteur::dbLong}});
  Ajoute(base, "T", {{"Code", 1}, {"Nom", "ABCDEF"}});
  base.Close();

  EXPECT_FALSE(Verifie());
  EXPECT_TRUE(LignesJournal().empty());
  ASSERT_EQ(fenetre.messages.size(), 2u);
  EXPECT_EQ(Bilan().texte, TexteDe("!#La vérification n'a détecté aucun@enregistrement défectueux."
                                   "@@Le fichier vérifié est endommagé et ne@peut pas être compacté par ce module."));
  EXPECT_EQ(Bilan().titre, TitreBilan);
  auto defaut = AnalyseMessage("x");
  ASSERT_EQ(Bilan().boutons.size(), defaut.boutons.size());
  EXPECT_EQ(Bilan().boutons[0].legende, defaut.boutons[0].legende);
}

TEST_F(Verification, PlusDeCentUnChampsArreteAuPremierEnregistrement) {
  // The collection is in name order.
  auto base = Cree();
  CreeTable(base, "T1Avant", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 2, false, {}, true}});
  AjouteDefectueux(base, "T1Avant", {{"Code", 1}, {"Nom", "abc"}});
  auto large = base.CreateTableDef("T2Large");
  large.Fields().Append(large.CreateField("Nom", moteur::dbText, 2));
  for (int i = 1; i <= 101; ++i) large.Fields().Append(large.CreateField("C" + std::to_string(i), moteur::dbLong));
  base.TableDefs().Append(large);
  AjouteDefectueux(base, "T2Large", {{"Nom", "abc"}});
  CreeTable(base, "T3Apres", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 2, false, {}, true}});
  AjouteDefectueux(base, "T3Apres", {{"Code", 1}, {"Nom", "abc"}});
  base.Close();
  auto large0 = Contenu(Base(), "T2Large");
  auto apres0 = Contenu(Base(), "T3Apres");

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(Bilan().texte, BilanAttendu("@1 enregistrement défectueux a été corrigé."));
  EXPECT_EQ(Contenu(Base(), "T1Avant"), (std::vector<std::vector<std::string>>{{"1", "ab"}}));
  EXPECT_EQ(Contenu(Base(), "T2Large"), large0);
  EXPECT_EQ(Contenu(Base(), "T3Apres"), apres0);
  EXPECT_EQ(fenetre.pointeurs.back(), PointeurSouris::Normal);
  // The database was closed: it can be opened exclusively at once.
  EXPECT_TRUE(moteur::Essaie([&] { moteur::DBEngine::OpenDatabase(Base(), true).Close(); }));
}

TEST_F(Verification, CentUnChampsTiennentDansLeTampon) {
  auto base = Cree();
  auto td = base.CreateTableDef("Juste");
  td.Fields().Append(td.CreateField("Nom", moteur::dbText, 2));
  for (int i = 1; i <= 100; ++i) td.Fields().Append(td.CreateField("C" + std::to_string(i), moteur::dbLong));
  base.TableDefs().Append(td);
  AjouteDefectueux(base, "Juste", {{"Nom", "abc"}, {"C100", 100}});
  base.Close();

  EXPECT_TRUE(Verifie());
  auto contenu = Contenu(Base(), "Juste");
  ASSERT_EQ(contenu.size(), 1u);
  EXPECT_EQ(contenu[0][0], "ab");
  EXPECT_EQ(contenu[0][100], "100");
  EXPECT_EQ(contenu[0][1], "0");
}

// Whatever byte the disk fills at, the defective record is either corrected or left in place
// as it was: never deleted without its copy.
TEST_F(Verification, DisquePleinNePerdJamaisUnEnregistrement) {
  auto base = Cree("modele.mdb");
  CreeTable(base, "T", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 6, false, {}, true}});
  Ajoute(base, "T", {{"Code", 1}, {"Nom", "ABCDEF"}});
  AjouteDefectueux(base, "T", {{"Code", 2}, {"Nom", "ABCDEFG"}});
  Ajoute(base, "T", {{"Code", 3}, {"Nom", "GHIJ"}});
  base.Close();
  const std::vector<std::vector<std::string>> garde{{"1", "ABCDEF"}, {"2", "ABCDEFG"}, {"3", "GHIJ"}};
  const std::vector<std::vector<std::string>> corrige{{"1", "ABCDEF"}, {"3", "GHIJ"}, {"2", "ABCDEF"}};

  int gardes = 0, corriges = 0;
  for (long long octets = 0; octets <= 40000; octets += 1024) {
    std::filesystem::copy_file(Chemin("modele.mdb"), Base(), std::filesystem::copy_options::overwrite_existing);
    fenetre.messages.clear();
    fenetre.reponses = {1};
    bool resultat;
    {
      moteur::injection::LimiteTemporaire limite(octets);
      resultat = Verifie();
    }
    ASSERT_EQ(moteur::DBEngine::NiveauTransaction(), 0) << octets;
    auto contenu = Contenu(Base(), "T");
    if (!resultat) {
      // The disk filled up before the corrected copy was written: the record was put back as it
      // was, and the verification says it failed instead of counting a deletion.
      ASSERT_EQ(contenu, garde) << octets;
      ++gardes;
    } else {
      ASSERT_EQ(contenu, corrige) << octets;
      ++corriges;
      EXPECT_EQ(Bilan().texte, BilanAttendu("@1 enregistrement défectueux a été corrigé.")) << octets;
    }
  }
  EXPECT_GT(gardes, 0);
  EXPECT_GT(corriges, 0);
}

// A GUID field has no made-up value to take: what another program stored there that is no GUID
// becomes Null, and the record is corrected, not left to stop every compaction.
TEST_F(Verification, UnGuidQuiNEnEstPasUnDevientNul) {
  auto base = Cree();
  CreeTable(base, "T", {{"Code", moteur::dbLong}, {"G", moteur::dbGUID}});
  AjouteDefectueux(base, "T", {{"Code", 1}, {"G", "pas un guid"}});
  base.Close();

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(Contenu(Base(), "T"), (std::vector<std::vector<std::string>>{{"1", "<nul>"}}));
  EXPECT_EQ(Bilan().texte, BilanAttendu("@1 enregistrement défectueux a été corrigé."));
  EXPECT_TRUE(Compacte());
}

// A copy refused by the table's rules, after the deletion has been made: the record stays deleted
// and is counted so; its values are in the journal.
TEST_F(Verification, CopieRefuseeParUnIndexUniqueSupprimeLEnregistrement) {
  auto base = Cree();
  auto td = CreeTable(base, "T", {{"Code", moteur::dbLong}, {"Nom", moteur::dbText, 3, false, {}, true}});
  auto ix = td.CreateIndex("NomUnique");
  ix.SetFields("Nom");
  ix.SetUnique(true);
  td.Indexes().Append(ix);
  Ajoute(base, "T", {{"Code", 1}, {"Nom", "abc"}});
  AjouteDefectueux(base, "T", {{"Code", 2}, {"Nom", "abcd"}});  // "abc" once cut: a duplicate
  base.Close();

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(Contenu(Base(), "T"), (std::vector<std::vector<std::string>>{{"1", "abc"}}));
  EXPECT_EQ(Bilan().texte, BilanAttendu("@1 enregistrement défectueux a été supprimé."));
  auto lignes = LignesJournal();
  EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate("          Code : 2")), lignes.end());
  // The deletion itself is said, with why: the lines above are then all that is left of it.
  EXPECT_NE(std::find(lignes.begin(), lignes.end(),
                      Horodate("#ALERT# Table 'T', enregistrement Code = 2 : supprimé, sa copie corrigée étant refusée "
                               "par les règles de la table (erreur 3022) ; ses valeurs sont écrites ci-dessus.")),
            lignes.end());
}

// Deleting a record of a cascading relation would take its linked records with it, and storing
// the copy would not bring them back: such a record is corrected where it lies. A value another
// program stored that does not fit its field (a text in a Yes/No or a number field, bytes in a
// currency, a number past its type's range, a Null in a required field) is replaced like an
// unreadable one, each with a line naming the table, the key and the field.
TEST_F(Verification, UnEnregistrementLieEstCorrigeSurPlaceAvecSesValeursHorsType) {
  auto base = Cree();
  auto clients = CreeTable(base, "Clients",
                           {{"Id", moteur::dbLong},
                            {"Nom", moteur::dbText, 3, false, {}, true},
                            {"Actif", moteur::dbBoolean},
                            {"Solde", moteur::dbCurrency},
                            {"Points", moteur::dbInteger},
                            {"Rang", moteur::dbLong, 0, true}});
  auto cle = clients.CreateIndex("CleClients");
  cle.SetFields("Id");
  cle.SetPrimary(true);
  cle.SetUnique(true);
  clients.Indexes().Append(cle);
  CreeTable(base, "Commandes", {{"Num", moteur::dbLong}, {"ClientId", moteur::dbLong}});
  AjouteDefectueux(base, "Clients", {{"Id", 1}, {"Nom", "Alice"}, {"Rang", 1}});
  AjouteDefectueux(base, "Clients",
                   {{"Id", 2},
                    {"Nom", "Bob"},
                    {"Actif", "oui"},
                    {"Solde", Valeur::Binaire(std::string("\0\xFF", 2))},
                    {"Points", 70000}});
  Ajoute(base, "Commandes", {{"Num", 10}, {"ClientId", 1}});
  Ajoute(base, "Commandes", {{"Num", 11}, {"ClientId", 2}});
  auto rel = base.CreateRelation("ClientsCommandes", "Clients", "Commandes", moteur::dbRelationDeleteCascade);
  auto f = rel.CreateField("Id");
  f.SetForeignName("ClientId");
  rel.Fields().Append(f);
  base.Relations().Append(rel);
  base.Close();

  EXPECT_TRUE(Verifie());
  EXPECT_EQ(Contenu(Base(), "Commandes"), (std::vector<std::vector<std::string>>{{"10", "1"}, {"11", "2"}}));
  EXPECT_EQ(Contenu(Base(), "Clients"),
            (std::vector<std::vector<std::string>>{{"1", "Ali", "Faux", "<nul>", "<nul>", "1"},
                                                   {"2", "Bob", "Faux", "0", "0", "0"}}));
  EXPECT_EQ(Bilan().texte, BilanAttendu("@2 enregistrements défectueux ont été corrigés."));
  auto lignes = LignesJournal();
  for (const char* ligne :
       {"#ALERT# Table 'Clients', enregistrement Id = 2 : la valeur du champ 'Actif' est illisible, remplacée par Faux "
        "(valeur lue : \"oui\").",
        "#ALERT# Table 'Clients', enregistrement Id = 2 : la valeur du champ 'Solde' est illisible, remplacée par 0 "
        "(valeur lue : \"\\x00\\xFF\").",
        "#ALERT# Table 'Clients', enregistrement Id = 2 : la valeur du champ 'Points' est hors des limites de son "
        "type, "
        "remplacée par 0 (valeur lue : 70000).",
        "#ALERT# Table 'Clients', enregistrement Id = 2 : la valeur du champ 'Rang' est Null dans un champ requis, "
        "remplacée par 0."})
    EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate(ligne)), lignes.end()) << ligne;
  for (const auto& l : lignes) EXPECT_EQ(l.find("#ERR#"), std::string::npos) << l;
  // The record's lines keep what was read in place of a replaced value.
  EXPECT_NE(std::find(lignes.begin(), lignes.end(), Horodate("          Points :  (valeur lue : 70000)")),
            lignes.end());
  EXPECT_TRUE(Compacte());
}

}  // namespace
}  // namespace lecture_tests

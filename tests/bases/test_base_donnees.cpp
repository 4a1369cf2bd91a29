#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bases/BaseDonnees.h"
#include "common/InterfaceFenetre.h"
#include "commun/FenetreFactice.h"
#include "commun/ProcessusAide.h"
#include "commun/FichiersTest.h"

namespace fs = std::filesystem;
using namespace utireorg;
using namespace std::chrono_literals;
using moteur::Valeur;

namespace {

class BaseDonneesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temporaire_.emplace("base_donnees");
    dossier_ = temporaire_->Racine();
    // The error handler writes its journal in the current directory.
    ancien_ = fs::current_path();
    fs::current_path(dossier_);
    auto base = moteur::DBEngine::CreateDatabase(Chemin());
    auto td = base.CreateTableDef("Clients");
    td.Fields().Append(td.CreateField("Id", moteur::dbLong));
    td.Fields().Append(td.CreateField("Nom", moteur::dbText, 50));
    td.Fields().Append(td.CreateField("Creation", moteur::dbDate));
    td.Fields().Append(td.CreateField("Montant", moteur::dbDouble));
    td.Fields().Append(td.CreateField("Actif", moteur::dbBoolean));
    td.Fields().Append(td.CreateField("Notes", moteur::dbMemo));
    base.TableDefs().Append(td);
    auto rs = base.OpenRecordset("Clients", moteur::dbOpenDynaset);
    for (int i = 1; i <= 3; ++i) {
      rs.AddNew();
      rs["Id"].SetValue(i);
      rs["Nom"].SetValue("client " + std::to_string(i));
      rs.Update();
    }
    rs.Close();
    base.Close();
    base_ = OuvreBase(Chemin());
  }

  void TearDown() override {
    aide_.reset();
    DefinitHorlogeAttente({});
    DefinitPauseAttente({});
    moteur::DefinitDelaiOccupation(moteur::DelaiOccupationParDefaut);
    FermeBase(base_);
    fs::current_path(ancien_);
  }

  std::string Chemin() const { return (dossier_ / "base.mdb").string(); }

  void DemarreAide(const std::string& mode) {
    aide_.emplace(CHEMIN_aide_tenue, std::vector<std::string>{Chemin(), mode});
    ASSERT_EQ(aide_->PremiereLigne(), "pret");
  }

  // A clock that moves one second at each reading, and a pause that costs nothing: a two-minute
  // wait runs through in a moment.
  void TempsAccelere() {
    // Each attempt fails at once: the two minutes pass in the test's own time only.
    moteur::DefinitDelaiOccupation(std::chrono::milliseconds(0));
    DefinitHorlogeAttente([this] {
      instant_ += 1s;
      return instant_;
    });
    DefinitPauseAttente([this](std::chrono::milliseconds) { ++pauses_; });
  }

  // The table's recordset, on the client of that number.
  moteur::Recordset Client(moteur::Database& base, int id) {
    auto rs = OuvreTable(base, "Clients", moteur::dbOpenDynaset);
    while (!rs.Eof() && rs["Id"].Value().EnEntier() != id) rs.MoveNext();
    return rs;
  }

  std::vector<std::string> TextesMontres() const {
    std::vector<std::string> textes;
    for (const auto& m : fenetre_.messages) textes.push_back(m.texte);
    return textes;
  }

  bool TableExiste(moteur::Database& base, const std::string& nom) {
    return static_cast<bool>(moteur::Essaie([&] { base.TableDefs()[nom]; }));
  }

  tests::FenetreFactice fenetre_;
  fs::path dossier_, ancien_;
  std::optional<utireorg::tests::DossierTest> temporaire_;
  moteur::Database base_;
  // The helper process that holds the database as another workstation would.
  std::optional<tests::ProcessusAide> aide_;
  std::chrono::steady_clock::time_point instant_{};
  int pauses_ = 0;
};

moteur::TableDef Definition(moteur::Database& base, const std::string& nom) {
  auto td = base.CreateTableDef(nom);
  td.Fields().Append(td.CreateField("Code", moteur::dbLong));
  return td;
}

// ---------------------------------------------------------------- opening and closing

TEST_F(BaseDonneesTest, FermeBaseFermeEtOublieLaBaseSansJamaisEchouer) {
  FermeBase(base_);
  EXPECT_FALSE(base_.EstOuverte());
  FermeBase(base_);  // already closed
  // Nothing of ours holds the file any longer.
  auto exclusive = OuvreBase(Chemin(), true);
  EXPECT_TRUE(exclusive.EstOuverte());
  FermeBase(exclusive);
}

// ---------------------------------------------------------------- TableVide

TEST_F(BaseDonneesTest, TableVideSansTitreNeMontreRien) {
  base_.Execute("DELETE * FROM Clients");
  auto rs = OuvreTable(base_, "Clients");
  EXPECT_TRUE(TableVide(rs));
  EXPECT_TRUE(fenetre_.messages.empty());
}

TEST_F(BaseDonneesTest, TableVideAvecTitrePrevientLUtilisateur) {
  base_.Execute("DELETE * FROM Clients");
  auto rs = OuvreTable(base_, "Clients");
  EXPECT_TRUE(TableVide(rs, "Copie des enregistrements"));
  ASSERT_EQ(fenetre_.messages.size(), 1u);
  EXPECT_EQ(fenetre_.messages[0].texte, "La table est vide.\nAucun traitement n'est possible");
  EXPECT_EQ(fenetre_.messages[0].titre, "Copie des enregistrements");
  EXPECT_EQ(fenetre_.messages[0].icone, 2);
}

TEST_F(BaseDonneesTest, TableNonVideGardeLEnregistrementCourant) {
  auto rs = OuvreTable(base_, "Clients", moteur::dbOpenDynaset);
  rs.MoveNext();
  EXPECT_FALSE(TableVide(rs, "titre"));
  EXPECT_EQ(rs["Id"].Value().EnEntier(), 2);
  rs.MoveLast();
  rs.MoveNext();
  EXPECT_FALSE(TableVide(rs));
  EXPECT_TRUE(rs.Eof());
  EXPECT_TRUE(fenetre_.messages.empty());
}

// ---------------------------------------------------------------- LitChamp

TEST_F(BaseDonneesTest, LitChampRemplaceLeNulSelonLeType) {
  base_.Execute("UPDATE Clients SET Nom = Null WHERE Id = 1");
  auto rs = Client(base_, 1);
  Valeur texte = LitChamp(rs, "Nom");
  EXPECT_EQ(texte.genre(), Valeur::Genre::Texte);
  EXPECT_EQ(texte.texte(), "");
  EXPECT_EQ(LitChamp(rs, "Notes").genre(), Valeur::Genre::Texte);
  EXPECT_TRUE(LitChamp(rs, "Creation").EstVide());
  for (const char* numerique : {"Id", "Montant", "Actif"}) {
    SCOPED_TRACE(numerique);
    rs.Edit();
    rs[numerique].SetValue(Valeur::Nul());
    rs.Update();
    Valeur v = LitChamp(rs, numerique);
    EXPECT_TRUE(v.EstNumerique());
    EXPECT_EQ(v.EnEntier(), 0);
  }
}

TEST_F(BaseDonneesTest, LitChampRendUneValeurNonNulleTelleQuelle) {
  auto rs = Client(base_, 2);
  EXPECT_EQ(LitChamp(rs, "Nom").texte(), "client 2");
  EXPECT_EQ(LitChamp(rs, 0).EnEntier(), 2);  // by position
}

TEST_F(BaseDonneesTest, LitChampSignaleUnChampInconnuSaufSiLesErreursSontIgnorees) {
  auto rs = Client(base_, 1);
  auto r = moteur::Essaie([&] { LitChamp(rs, "Inconnu"); });
  EXPECT_EQ(r.Number, moteur::err::ElementIntrouvable);
  EXPECT_TRUE(LitChamp(rs, "Inconnu", true).EstVide());
  EXPECT_TRUE(LitChamp(rs, 42, true).EstVide());
}

// ---------------------------------------------------------------- AjouteTable

TEST_F(BaseDonneesTest, AjouteTableCreeLaTable) {
  auto td = Definition(base_, "Nouvelle");
  EXPECT_TRUE(AjouteTable(base_, td));
  EXPECT_TRUE(TableExiste(base_, "Nouvelle"));
}

TEST_F(BaseDonneesTest, AjouteTableSurUneTableExistanteLaVide) {
  auto existante = Definition(base_, "Table copiée");
  base_.TableDefs().Append(existante);
  base_.Execute("INSERT INTO [Table copiée] (Code) SELECT Id FROM Clients");
  ASSERT_EQ(base_.TableDefs()["Table copiée"].RecordCount(), 3);
  auto td = Definition(base_, "Table copiée");
  EXPECT_TRUE(AjouteTable(base_, td));
  EXPECT_EQ(base_.TableDefs()["Table copiée"].RecordCount(), 0);
  EXPECT_TRUE(fenetre_.messages.empty());
}

TEST_F(BaseDonneesTest, AjouteTableEnEchecRendFauxEtSignaleSaufSilence) {
  auto sansChamp = base_.CreateTableDef("SansChamp");
  EXPECT_FALSE(AjouteTable(base_, sansChamp, Signalement::Silencieux));
  EXPECT_TRUE(fenetre_.messages.empty());
  EXPECT_FALSE(AjouteTable(base_, sansChamp));
  ASSERT_EQ(fenetre_.messages.size(), 1u);
  EXPECT_EQ(fenetre_.messages[0].titre, "Erreur");
  EXPECT_NE(fenetre_.messages[0].texte.find("3264 " + TitreApplication() + " (T_ATDA)"), std::string::npos)
      << fenetre_.messages[0].texte;
}

// ---------------------------------------------------------------- SupprimeTable

TEST_F(BaseDonneesTest, SupprimeTableInexistanteReussitSansRienDire) {
  EXPECT_TRUE(SupprimeTable(base_, "Absente"));
  EXPECT_TRUE(fenetre_.messages.empty());
}

TEST_F(BaseDonneesTest, SupprimeTableSupprime) {
  EXPECT_TRUE(SupprimeTable(base_, "clients"));
  EXPECT_FALSE(TableExiste(base_, "Clients"));
}

// ---------------------------------------------------------------- SupprimeEnreg and MiseAJour

TEST_F(BaseDonneesTest, SupprimeEnregDejaSupprimeParUnAutrePosteReussit) {
  auto rs = Client(base_, 2);
  auto autre = OuvreBase(Chemin());
  autre.Execute("DELETE * FROM Clients WHERE Id = 2");
  FermeBase(autre);
  EXPECT_TRUE(SupprimeEnreg(rs));
  EXPECT_TRUE(fenetre_.messages.empty());
}

TEST_F(BaseDonneesTest, SupprimeEnregSupprime) {
  auto rs = Client(base_, 2);
  EXPECT_TRUE(SupprimeEnreg(rs));
  EXPECT_EQ(base_.TableDefs()["Clients"].RecordCount(), 2);
}

TEST_F(BaseDonneesTest, MiseAJourEnregistreEtRevientAuVerrouillageOptimiste) {
  auto rs = Client(base_, 1);
  rs.SetLockEdits(true);
  rs.Edit();
  rs["Nom"].SetValue("modifié");
  EXPECT_TRUE(MiseAJour(rs));
  EXPECT_FALSE(rs.LockEdits());
  auto relu = Client(base_, 1);
  EXPECT_EQ(relu["Nom"].Value().texte(), "modifié");
}

TEST_F(BaseDonneesTest, MiseAJourApresModificationParUnAutrePosteEchoueEtLeDit) {
  TempsAccelere();  // a conflict is not a lock: no waiting
  auto rs = Client(base_, 1);
  rs.Edit();
  rs["Nom"].SetValue("le mien");
  auto autre = OuvreBase(Chemin());
  autre.Execute("UPDATE Clients SET Nom = 'le sien' WHERE Id = 1");
  FermeBase(autre);
  EXPECT_FALSE(MiseAJour(rs));
  ASSERT_EQ(fenetre_.messages.size(), 1u);
  EXPECT_EQ(fenetre_.messages[0].titre, "Mise à jour");
  EXPECT_EQ(fenetre_.messages[0].texte, " Les données ont été mises à jour par une autre tâche.");
  EXPECT_EQ(fenetre_.messages[0].icone, 1);
  EXPECT_EQ(pauses_, 0);
  EXPECT_EQ(Client(base_, 1)["Nom"].Value().texte(), "le sien");
}

TEST_F(BaseDonneesTest, MiseAJourSilencieuseApresModificationParUnAutrePosteNeDitRien) {
  TempsAccelere();  // a conflict is not a lock: no waiting
  auto rs = Client(base_, 1);
  rs.Edit();
  rs["Nom"].SetValue("le mien");
  auto autre = OuvreBase(Chemin());
  autre.Execute("UPDATE Clients SET Nom = 'le sien' WHERE Id = 1");
  FermeBase(autre);
  EXPECT_FALSE(MiseAJour(rs, Signalement::Silencieux));
  EXPECT_TRUE(fenetre_.messages.empty());
}

TEST_F(BaseDonneesTest, MiseAJourDUnEnregistrementEffaceParUnAutrePoste) {
  TempsAccelere();  // a conflict is not a lock: no waiting
  auto rs = Client(base_, 3);
  rs.Edit();
  rs["Nom"].SetValue("le mien");
  auto autre = OuvreBase(Chemin());
  autre.Execute("DELETE * FROM Clients WHERE Id = 3");
  FermeBase(autre);
  EXPECT_FALSE(MiseAJour(rs));
  EXPECT_EQ(TextesMontres(),
            std::vector<std::string>{"Les données à mettre à jour\n ont été effacées par une autre tâche."});
}

// ---------------------------------------------------------------- waits on a real lock

TEST_F(BaseDonneesTest, EcritureGardeeReessaieJusquALaLiberationDuVerrou) {
  auto rs = Client(base_, 2);
  rs.Edit();
  rs["Nom"].SetValue("attendu");
  DemarreAide("immediat");
  // The other workstation lets go during the third pause.
  DefinitPauseAttente([this](std::chrono::milliseconds) {
    if (++pauses_ == 3) aide_->Libere();
  });
  EXPECT_TRUE(MiseAJour(rs));
  EXPECT_EQ(pauses_, 3);
  EXPECT_TRUE(fenetre_.messages.empty());
  auto autre = OuvreBase(Chemin());
  EXPECT_EQ(Client(autre, 2)["Nom"].Value().texte(), "attendu");
  FermeBase(autre);
}

TEST_F(BaseDonneesTest, AjouteTableAbandonneApresDeuxMinutesDeVerrouEtLeSignale) {
  DemarreAide("immediat");
  TempsAccelere();
  auto td = Definition(base_, "Nouvelle");
  EXPECT_FALSE(AjouteTable(base_, td));
  EXPECT_GT(pauses_, 100);  // it did wait, in its own time
  ASSERT_EQ(fenetre_.messages.size(), 1u);
  EXPECT_EQ(fenetre_.messages[0].titre, "Erreur");
  EXPECT_NE(fenetre_.messages[0].texte.find(TitreApplication() + " (T_ATDA)"), std::string::npos);
  EXPECT_NE(fenetre_.messages[0].texte.find("L'enregistrement a déjà été réservé"), std::string::npos)
      << fenetre_.messages[0].texte;
  aide_->Libere();
  EXPECT_FALSE(TableExiste(base_, "Nouvelle"));
}

TEST_F(BaseDonneesTest, AbandonSilencieuxRendFauxSansRienDire) {
  auto rs = Client(base_, 1);
  DemarreAide("immediat");
  TempsAccelere();
  EXPECT_FALSE(SupprimeEnreg(rs, Signalement::Silencieux));
  EXPECT_FALSE(SupprimeTable(base_, "Clients", Signalement::Silencieux));
  EXPECT_TRUE(fenetre_.messages.empty());
  aide_->Libere();
  EXPECT_EQ(base_.TableDefs()["Clients"].RecordCount(), 3);
}

TEST_F(BaseDonneesTest, SupprimeEnregAttendLaFinDUnVerrouExclusif) {
  auto rs = Client(base_, 1);
  DemarreAide("exclusif");
  DefinitPauseAttente([this](std::chrono::milliseconds) {
    if (++pauses_ == 2) aide_->Libere();
  });
  EXPECT_TRUE(SupprimeEnreg(rs));
  EXPECT_EQ(pauses_, 2);
  EXPECT_EQ(base_.TableDefs()["Clients"].RecordCount(), 2);
}

// ---------------------------------------------------------------- AttenteTransaction

TEST_F(BaseDonneesTest, AttenteTransactionDureDeuxMinutesEnTempsEcoule) {
  std::chrono::steady_clock::time_point maintenant{};
  DefinitHorlogeAttente([&] { return maintenant; });
  DefinitPauseAttente([this](std::chrono::milliseconds duree) {
    ++pauses_;
    EXPECT_GT(duree, 0ms);
    EXPECT_LE(duree, 50ms);
  });
  const auto debut = maintenant;
  maintenant = debut + 119s + 999ms;
  EXPECT_TRUE(AttenteTransaction(debut));
  EXPECT_EQ(pauses_, 1);
  maintenant = debut + 120s;
  EXPECT_FALSE(AttenteTransaction(debut));
  maintenant = debut + 121s;
  EXPECT_FALSE(AttenteTransaction(debut));
  EXPECT_EQ(pauses_, 1);  // no pause once given up
}

// ---------------------------------------------------------------- priorities

void PosePriorite(moteur::Database& base, int valeur) {
  auto f = base.TableDefs()["Clients"].Fields()["Nom"];
  if (!moteur::Essaie([&] { f.Properties()["Priorite"].SetValue(Valeur(valeur)); }))
    f.Properties().Append(f.CreateProperty("Priorite", moteur::dbInteger, Valeur(valeur)));
}

long long Priorite(moteur::Database& base) {
  return base.TableDefs()["Clients"].Fields()["Nom"].Properties()["Priorite"].Value().EnEntier();
}

TEST_F(BaseDonneesTest, LitPrioriteSansProprieteRendFaux) {
  for (int slot = 0; slot < 3; ++slot) EXPECT_FALSE(LitPriorite(base_, "Clients", "Nom", slot));
  EXPECT_FALSE(LitPriorite(base_, "Absente", "Nom", 0));
}

TEST_F(BaseDonneesTest, LitPrioriteLitLesBitsDuMasque) {
  PosePriorite(base_, 5);
  EXPECT_TRUE(LitPriorite(base_, "Clients", "Nom", 0));
  EXPECT_FALSE(LitPriorite(base_, "Clients", "Nom", 1));
  EXPECT_TRUE(LitPriorite(base_, "Clients", "Nom", 2));
  EXPECT_FALSE(LitPriorite(base_, "Clients", "Nom", 3));
}

// The value is taken apart from its highest slot down, against what remains: from 7 up every
// slot is set, whatever the bits above the third say.
TEST_F(BaseDonneesTest, LitPrioriteDecomposeCeQuiReste) {
  for (int valeur : {7, 8, 11, 12, 100}) {
    PosePriorite(base_, valeur);
    for (int slot = 0; slot < 3; ++slot)
      EXPECT_TRUE(LitPriorite(base_, "Clients", "Nom", slot)) << valeur << " " << slot;
  }
  PosePriorite(base_, 6);
  EXPECT_FALSE(LitPriorite(base_, "Clients", "Nom", 0));
  EXPECT_TRUE(LitPriorite(base_, "Clients", "Nom", 1));
  EXPECT_TRUE(LitPriorite(base_, "Clients", "Nom", 2));
  PosePriorite(base_, -1);
  for (int slot = 0; slot < 3; ++slot) EXPECT_FALSE(LitPriorite(base_, "Clients", "Nom", slot));
}

TEST_F(BaseDonneesTest, AffectePrioritesSansListeCreeLaProprieteA7) {
  AffectePriorites(base_, "Clients", "Nom", {});
  EXPECT_EQ(Priorite(base_), 7);
  EXPECT_TRUE(fenetre_.messages.empty());
}

TEST_F(BaseDonneesTest, AffectePrioritesRemplaceUnePrioriteExistante) {
  PosePriorite(base_, 7);
  AffectePriorites(base_, "Clients", "Nom", {1, 0, 5});
  EXPECT_EQ(Priorite(base_), 3);
  AffectePriorites(base_, "Clients", "Nom", {2, 0});
  EXPECT_EQ(Priorite(base_), 2);
  EXPECT_TRUE(fenetre_.messages.empty());
}

TEST_F(BaseDonneesTest, AffectePrioritesSurUnChampInconnuPrevient) {
  AffectePriorites(base_, "Clients", "Inconnu", {});
  ASSERT_EQ(fenetre_.messages.size(), 1u);
  EXPECT_EQ(fenetre_.messages[0].titre, "Affectation dynamique des priorités");
  EXPECT_EQ(fenetre_.messages[0].icone, 1);
  EXPECT_EQ(fenetre_.messages[0].texte, moteur::DescriptionErreur(moteur::err::ElementIntrouvable, {"Inconnu"}));
}

// ---------------------------------------------------------------- RemplaceTexte

TEST(RemplaceTexte, RemplaceToutesLesOccurrencesMemeCellesQueLeRemplacementForme) {
  std::string texte = "aaaa";
  RemplaceTexte(texte, "aa", "a");
  EXPECT_EQ(texte, "a");
  texte = "Table copiée de Table";
  RemplaceTexte(texte, "Table", "T");
  EXPECT_EQ(texte, "T copiée de T");
  texte = "xaabb";
  RemplaceTexte(texte, "ab", "");
  EXPECT_EQ(texte, "x");
}

TEST(RemplaceTexte, RemplacementContenantLeTexteCherche) {
  std::string texte = "l'eau d'ici";
  RemplaceTexte(texte, "'", "''");
  EXPECT_EQ(texte, "l''eau d''ici");
}

TEST(RemplaceTexte, TexteChercheVideNeChangeRien) {
  std::string texte = "abc";
  RemplaceTexte(texte, "", "x");
  EXPECT_EQ(texte, "abc");
}

}  // namespace

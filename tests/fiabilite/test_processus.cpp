// Other processes during a whole run: a workstation holding a write lock while the run makes its
// guarded writes (the run waits, then goes on once it is released), a program holding the database
// exclusively when compaction or the return of the working copy comes, a program writing the
// database while "Mode sécurisé" copies it or while the run repairs and compacts it, a reader that
// keeps the run from writing, and a second run on the same database. The run itself goes on in the test's process, so that
// the other program takes its lock at an exact step of it; the other program is always a process
// of its own, always stopped at the end.
#include <sqlite3.h>

#include "bases/BaseDonnees.h"
#include "fiabilite/OutilsFiabilite.h"

namespace fiabilite {
namespace {

using utireorg::IssueLancer;

const std::string EnUtilisation = "#ERR# La base de données est en cours d'utilisation par une autre application !";

class AutresProcessus : public ::testing::Test {
 protected:
  void SetUp() override {
    couple_ = CreeCoupleBases(dossier_.Chemin("run"));
    octetsOrigine_ = LitFichier(couple_.cible);
    origine_ = LitBase(couple_.cible);
  }
  void TearDown() override {
    utireorg::DefinitPauseAttente({});
    utireorg::DefinitHorlogeAttente({});
    moteur::DefinitDelaiOccupation(moteur::DelaiOccupationParDefaut);
  }

  // What the same run gives with nobody else around.
  BaseLue Reference(bool securise, bool copie = true) {
    CoupleBases autre = CreeCoupleBases(dossier_.Chemin("reference"));
    EnvironnementRun environnement(dossier_.Chemin("reference"), dossier_.Chemin("reference/tmp"));
    FenetreRun fenetre(autre, securise, copie);
    EXPECT_EQ(LanceRun(fenetre), IssueLancer::Terminee) << fenetre.journal;
    return LitBase(autre.cible);
  }

  // The run in its folder, with its own temporary folder.
  IssueLancer Run(FenetreRun& fenetre) {
    EnvironnementRun environnement(dossier_.Chemin("run"), Temporaire());
    return LanceRun(fenetre);
  }

  std::string Temporaire() { return dossier_.Chemin("run/tmp"); }

  // The current folder of a run started as another process.
  std::string DossierLot(const std::string& nom) {
    const std::string dossier = dossier_.Chemin(nom);
    fs::create_directories(dossier);
    return dossier;
  }

  // Starts the helper holding the database when the run writes that journal line.
  void TientA(FenetreRun& fenetre, const std::string& debutLigne, const std::string& chemin, const std::string& mode) {
    fenetre.surLigne = [=, this](const std::string& ligne) {
      if (tenue_ || ligne.find(debutLigne) == std::string::npos) return;
      tenue_ = std::make_unique<ProcessusAide>(CHEMIN_aide_tenue, std::vector<std::string>{chemin, mode});
      ASSERT_TRUE(tenue_->Pret()) << "la base n'a pas pu être tenue";
    };
  }

  // The guarded writes pause between their attempts: the other workstation lets go at the third.
  void LibereALaTroisiemePause() {
    utireorg::DefinitPauseAttente([this](std::chrono::milliseconds) {
      if (++pauses_ == 3 && tenue_) tenue_->Libere();
    });
  }

  // The wait for another program passes in no time: each attempt fails at once, and each pause
  // moves the clock on by a minute.
  void AttenteAccelere() {
    moteur::DefinitDelaiOccupation(std::chrono::milliseconds(0));
    utireorg::DefinitHorlogeAttente([this] { return instant_; });
    utireorg::DefinitPauseAttente([this](std::chrono::milliseconds) {
      ++pauses_;
      instant_ += std::chrono::minutes(1);
    });
  }

  DossierTest dossier_{"processus", true};
  std::chrono::steady_clock::time_point instant_{};
  CoupleBases couple_;
  std::string octetsOrigine_;
  BaseLue origine_;
  std::unique_ptr<ProcessusAide> tenue_;
  int pauses_ = 0;
};

// ---------------------------------------------------------------- a write lock during guarded writes

TEST_F(AutresProcessus, LaPurgeAttendLaFinDUnVerrouDEcriturePuisSupprimeLaTable) {
  BaseLue attendu = Reference(false);
  FenetreRun fenetre(couple_, false);
  // The line is written just before the guarded deletion of the table.
  TientA(fenetre, "Purge table TmpCalcul", couple_.cible, "immediat");
  LibereALaTroisiemePause();

  EXPECT_EQ(Run(fenetre), IssueLancer::Terminee) << fenetre.journal;
  ASSERT_TRUE(tenue_);
  EXPECT_EQ(pauses_, 3);
  // A purge given up would have left the table's records: the result would not be the same.
  BaseLue lue = LitBase(couple_.cible);
  EXPECT_TRUE(lue == attendu) << Differences(lue, attendu);
}

TEST_F(AutresProcessus, LaCorrectionDesEnregistrementsAttendLaFinDUnVerrouDEcriture) {
  BaseLue attendu = Reference(false);
  FenetreRun fenetre(couple_, false);
  // The record is deleted and stored again, through guarded writes, just after its lines.
  TientA(fenetre, "Enregistrement défectueux : Table Clients", couple_.cible, "immediat");
  LibereALaTroisiemePause();

  EXPECT_EQ(Run(fenetre), IssueLancer::Terminee) << fenetre.journal;
  ASSERT_TRUE(tenue_);
  EXPECT_EQ(pauses_, 3);
  EXPECT_TRUE(fenetre.MessageContient("5 enregistrements défectueux ont été corrigés.")) << fenetre.journal;
  BaseLue lue = LitBase(couple_.cible);
  EXPECT_TRUE(lue == attendu) << Differences(lue, attendu);
}

// ---------------------------------------------------------------- a database held exclusively

TEST_F(AutresProcessus, UneBaseTenueExclusivementAuCompactageArreteLeRunSansRienPerdre) {
  FenetreRun fenetre(couple_, false);
  TientA(fenetre, "Début Compactage base de données principale", couple_.cible, "exclusif");
  AttenteAccelere();

  EXPECT_EQ(Run(fenetre), IssueLancer::Interrompue) << fenetre.journal;
  ASSERT_TRUE(tenue_);
  tenue_->Libere();

  EXPECT_TRUE(fenetre.ContientLigne(EnUtilisation)) << fenetre.journal;
  EXPECT_TRUE(fenetre.MessageContient(" (La base de données est en cours d'utilisation par une autre application)\n\n"
                                      "Veuillez quitter les applications en cours puis tenter\n"
                                      "une nouvelle réorganisation."));
  EXPECT_FALSE(fenetre.ContientTexte("  Fin Compactage"));
  EXPECT_TRUE(fenetre.ContientLigne("La réorganisation ne s'est pas terminée correctement !"));
  EXPECT_TRUE(fenetre.ContientLigne("Erreur 3356"));
  ASSERT_FALSE(fenetre.legendes.empty());
  EXPECT_EQ(fenetre.legendes.back().first, "Procédure interrompue !");
  // Nothing lost: the target holds what it held, and nothing is left in the temporary folder.
  BaseLue lue = LitBase(couple_.cible);
  EXPECT_TRUE(lue.integrite.empty());
  EXPECT_TRUE(lue == origine_) << Differences(lue, origine_);
  EXPECT_TRUE(FichiersDuDossier(Temporaire()).empty());
}

TEST_F(AutresProcessus, UneOrigineTenueExclusivementALaRestaurationNEstPasRemplacee) {
  BaseLue attendu = Reference(true);
  FenetreRun fenetre(couple_, true);
  TientA(fenetre, "  Début Restauration ", couple_.cible, "exclusif");

  EXPECT_EQ(Run(fenetre), IssueLancer::Interrompue) << fenetre.journal;
  ASSERT_TRUE(tenue_);
  tenue_->Libere();

  EXPECT_TRUE(fenetre.ContientTexte("  Erreur 70 - Restauration " + couple_.cible)) << fenetre.journal;
  // The origin is left to the program that holds it; the processed copy is kept and named.
  EXPECT_EQ(LitFichier(couple_.cible), octetsOrigine_);
  std::vector<std::string> copies = FichiersDuDossier(Temporaire());
  ASSERT_EQ(copies.size(), 1u);
  const std::string copie = Temporaire() + "/" + copies[0];
  EXPECT_TRUE(fenetre.ContientTexte("#ERR# La base d'origine " + couple_.cible +
                                    " n'a pas été modifiée ; la base traitée est conservée dans " + copie))
      << fenetre.journal;
  BaseLue traitee = LitBase(copie);
  EXPECT_TRUE(traitee == attendu) << Differences(traitee, attendu);
}

// ---------------------------------------------------------------- a copy under another writer

// The rows the other program's own table holds, read as that program reads them.
long LignesEcrites(const std::string& chemin) {
  sqlite3* db = nullptr;
  long n = -1;
  if (sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* r = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM Bruit", -1, &r, nullptr) == SQLITE_OK && sqlite3_step(r) == SQLITE_ROW)
      n = sqlite3_column_int64(r, 0);
    sqlite3_finalize(r);
  }
  sqlite3_close(db);
  return n;
}

TEST_F(AutresProcessus, UneCopieDeTravailPriseSousLesEcrituresDUnAutreProgrammeNePerdRien) {
  // Without the record copy: nothing in the run but the copy and its return opens the origin.
  BaseLue attendu = Reference(true, false);
  FenetreRun fenetre(couple_, true, false);
  std::unique_ptr<ProcessusAide> ecrivain;
  fenetre.surLigne = [&](const std::string& ligne) {
    if (ecrivain || ligne.find("Sauvegarde des bases de données") == std::string::npos) return;
    ecrivain =
        std::make_unique<ProcessusAide>(CHEMIN_aide_ecrivain, std::vector<std::string>{couple_.cible, "continu"});
    ASSERT_TRUE(ecrivain->Pret());
  };

  IssueLancer issue = Run(fenetre);
  ASSERT_TRUE(ecrivain);
  ecrivain->Libere();

  // Every row the other program committed is still in the origin, whatever the run did.
  const long ecrites = LignesEcrites(couple_.cible);
  EXPECT_GT(ecrites, 0);
  BaseLue lue = LitBase(couple_.cible);
  EXPECT_TRUE(lue.integrite.empty());
  EXPECT_TRUE(lue == origine_) << Differences(lue, origine_);
  EXPECT_NE(issue, IssueLancer::Terminee) << "la base d'origine, écrite pendant le run, a été remplacée";

  if (fenetre.ContientTexte("#ERR# Le fichier est déjà ouvert par une autre application.")) {
    // The copy could not be taken between two writes: nothing was done.
    EXPECT_TRUE(FichiersDuDossier(Temporaire()).empty());
    return;
  }
  // The copy was taken whole: the processed copy is kept, sound, and holds the reorganised records.
  EXPECT_TRUE(fenetre.ContientTexte("  Erreur 70 - Restauration " + couple_.cible)) << fenetre.journal;
  std::vector<std::string> copies = FichiersDuDossier(Temporaire());
  ASSERT_EQ(copies.size(), 1u);
  BaseLue traitee = LitBase(Temporaire() + "/" + copies[0]);
  EXPECT_TRUE(traitee.integrite.empty());
  EXPECT_TRUE(traitee == attendu) << Differences(traitee, attendu);
  EXPECT_GT(LignesEcrites(Temporaire() + "/" + copies[0]), 0);
}

// ---------------------------------------------------------------- a reader keeps the run from writing

TEST_F(AutresProcessus, UneTableQueLaVerificationNePeutEnregistrerInterromptLeRunSansRienPerdre) {
  FenetreRun fenetre(couple_, false);
  BaseLue avant;
  // From the start of the verification, another program reads the database without end: no
  // commit of the run can be written.
  fenetre.surLigne = [&](const std::string& ligne) {
    if (tenue_ || ligne.find("Vérification base de données principale") == std::string::npos) return;
    avant = LitBase(couple_.cible);
    tenue_ = std::make_unique<ProcessusAide>(CHEMIN_aide_tenue, std::vector<std::string>{couple_.cible, "lecture"});
    ASSERT_TRUE(tenue_->Pret());
  };
  AttenteAccelere();

  EXPECT_EQ(Run(fenetre), IssueLancer::Interrompue) << fenetre.journal;
  ASSERT_TRUE(tenue_);
  tenue_->Libere();

  EXPECT_TRUE(fenetre.ContientTexte(", les modifications n'ont pas pu être enregistrées.")) << fenetre.journal;
  EXPECT_TRUE(fenetre.MessageContient("n'ont pas pu être enregistrées : la base de données est en cours d'utilisation"));
  EXPECT_NE(LitFichier(dossier_.Chemin("run/STE.JNL")).find("ERREUR 3356(Les modifications de la table"),
            std::string::npos);
  EXPECT_TRUE(fenetre.ContientLigne("La réorganisation ne s'est pas terminée correctement !"));
  ASSERT_FALSE(fenetre.legendes.empty());
  EXPECT_EQ(fenetre.legendes.back().first, "Procédure interrompue !");
  // What the journal told of the table was undone, and nothing after it was done: the database is
  // what it was when the verification began, whole and sound.
  BaseLue apres = LitBase(couple_.cible);
  EXPECT_TRUE(apres.integrite.empty());
  EXPECT_TRUE(apres == avant) << Differences(apres, avant);
}

// ---------------------------------------------------------------- a lock during the repair

TEST_F(AutresProcessus, UnVerrouPendantLaReparationEstAttenduPuisLaBaseEstReparee) {
  BaseLue attendu = Reference(false);
  for (const std::string mode : {"exclusif", "lecture"}) {
    SCOPED_TRACE(mode);
    CoupleBases couple = CreeCoupleBases(dossier_.Chemin(mode));
    FenetreRun fenetre(couple, false);
    TientA(fenetre, "Début Réparation base de données principale", couple.cible, mode);
    pauses_ = 0;
    LibereALaTroisiemePause();
    {
      EnvironnementRun environnement(dossier_.Chemin(mode), dossier_.Chemin(mode + "/tmp"));
      EXPECT_EQ(LanceRun(fenetre), IssueLancer::Terminee) << fenetre.journal;
    }
    ASSERT_TRUE(tenue_);
    tenue_.reset();
    EXPECT_EQ(pauses_, 3);
    EXPECT_FALSE(fenetre.ContientTexte("endommagée")) << fenetre.journal;
    BaseLue lue = LitBase(couple.cible);
    EXPECT_TRUE(lue.integrite.empty());
    EXPECT_TRUE(lue == attendu) << Differences(lue, attendu);
  }
}

TEST_F(AutresProcessus, UneBaseQuUnAutreProgrammeNeLachePasPendantLaReparationEstEnCoursDUtilisation) {
  FenetreRun fenetre(couple_, false);
  TientA(fenetre, "Début Réparation base de données principale", couple_.cible, "lecture");
  AttenteAccelere();

  EXPECT_EQ(Run(fenetre), IssueLancer::Interrompue) << fenetre.journal;
  ASSERT_TRUE(tenue_);
  tenue_->Libere();

  EXPECT_TRUE(fenetre.ContientLigne(EnUtilisation)) << fenetre.journal;
  EXPECT_FALSE(fenetre.ContientTexte("endommagée"));
  EXPECT_TRUE(fenetre.MessageContient(" (La base de données est en cours d'utilisation par une autre application)"));
  EXPECT_FALSE(fenetre.ContientTexte("  Fin Réparation"));
  EXPECT_TRUE(fenetre.ContientLigne("Erreur 3356"));
  BaseLue lue = LitBase(couple_.cible);
  EXPECT_TRUE(lue.integrite.empty());
  EXPECT_TRUE(lue == origine_) << Differences(lue, origine_);
}

// ---------------------------------------------------------------- a writer during repair and compaction

// The rows of the writer's table: n when they are rows 1 to n, each with its own text; -1 otherwise.
long LignesValidees(const std::string& chemin) {
  sqlite3* db = nullptr;
  long n = -1;
  if (sqlite3_open_v2(chemin.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* r = nullptr;
    const char* texte = "SELECT count(*), coalesce(max(Id), 0), sum(Texte = 'ligne ' || Id) FROM Lignes";
    if (sqlite3_prepare_v2(db, texte, -1, &r, nullptr) == SQLITE_OK && sqlite3_step(r) == SQLITE_ROW &&
        sqlite3_column_int64(r, 0) == sqlite3_column_int64(r, 1) && sqlite3_column_int64(r, 0) == sqlite3_column_int64(r, 2))
      n = static_cast<long>(sqlite3_column_int64(r, 0));
    sqlite3_finalize(r);
  }
  sqlite3_close(db);
  return n;
}

TEST_F(AutresProcessus, UnProgrammeQuiValideSansCesseGardeToutesSesLignesParLaReparationEtLeCompactage) {
  ProcessusAide ecrivain(CHEMIN_aide_ecrivain, {couple_.cible, "lignes"});
  ASSERT_TRUE(ecrivain.Pret());
  FenetreRun fenetre(couple_, false, false);
  fenetre.coches[coche::VerificationsPrimaires] = false;  // straight to the repair and the compaction

  IssueLancer issue = Run(fenetre);
  ecrivain.Libere();
  const std::string fin = ecrivain.PremiereLigne();
  ASSERT_EQ(fin.rfind("validees ", 0), 0u) << fin;
  const long validees = std::stol(fin.substr(9));

  EXPECT_EQ(issue, IssueLancer::Terminee) << fenetre.journal;
  EXPECT_GT(validees, 0);
  // Every row whose commit the other program saw succeed is in the database, as it wrote it.
  EXPECT_EQ(LignesValidees(couple_.cible), validees);
  BaseLue lue = LitBase(couple_.cible);
  EXPECT_TRUE(lue.integrite.empty());
}

// An application that opens the database for each write: one that opened it just before the
// compaction put its result in place goes on with that very file, waits for the put-back, and its
// write goes through; none is refused as if the file were read-only.
TEST_F(AutresProcessus, UnProgrammeQuiOuvreLaBasePourChaqueEcritureNEstJamaisRefuseParLeCompactage) {
  ProcessusAide ecrivain(CHEMIN_aide_ecrivain, {couple_.cible, "connexions"});
  ASSERT_TRUE(ecrivain.Pret());
  FenetreRun fenetre(couple_, false, false);
  fenetre.coches[coche::VerificationsPrimaires] = false;

  IssueLancer issue = Run(fenetre);
  ecrivain.Libere();
  long validees = -1, lectureSeule = -1;
  const std::string fin = ecrivain.PremiereLigne();
  ASSERT_EQ(std::sscanf(fin.c_str(), "validees %ld lecture-seule %ld", &validees, &lectureSeule), 2) << fin;

  EXPECT_EQ(issue, IssueLancer::Terminee) << fenetre.journal;
  EXPECT_EQ(lectureSeule, 0);
  EXPECT_GT(validees, 0);
  EXPECT_EQ(LignesValidees(couple_.cible), validees);
  EXPECT_TRUE(LitBase(couple_.cible).integrite.empty());
}

// ---------------------------------------------------------------- another run, another program

TEST_F(AutresProcessus, UnSecondRunSurLaMemeBaseOuLeMemeDossierEstRefuseAuControleDesSaisies) {
  BaseLue attendu = Reference(false);
  // Another database of the same folder: a run with the record copy would write the same copy file.
  const std::string voisine = (fs::path(couple_.cible).parent_path() / "Voisine.mdb").string();
  fs::copy_file(couple_.cible, voisine);
  FenetreRun fenetre(couple_, false);
  std::vector<Execution> seconds;
  fenetre.surLigne = [&](const std::string& ligne) {
    if (!seconds.empty() || ligne.find("Début Compactage base de données principale") == std::string::npos) return;
    seconds.push_back(Execute({OutilLot(), {"--cible", couple_.cible, "--reparation"}, DossierLot("second")}));
    seconds.push_back(Execute(
        {OutilLot(), {"--cible", voisine, "--modele", couple_.modele, "--copie", "--reparation"}, DossierLot("voisin")}));
  };

  EXPECT_EQ(Run(fenetre), IssueLancer::Terminee) << fenetre.journal;
  ASSERT_EQ(seconds.size(), 2u);
  EXPECT_EQ(seconds[0].code, 2) << seconds[0].sortie;
  EXPECT_NE(seconds[0].sortie.find("en cours d'utilisation"), std::string::npos) << seconds[0].sortie;
  EXPECT_NE(seconds[0].sortie.find("une autre réorganisation la traite"), std::string::npos) << seconds[0].sortie;
  EXPECT_EQ(seconds[1].code, 2) << seconds[1].sortie;
  EXPECT_NE(seconds[1].sortie.find("copie_reorg.mdb"), std::string::npos) << seconds[1].sortie;
  BaseLue lue = LitBase(couple_.cible);
  EXPECT_TRUE(lue == attendu) << Differences(lue, attendu);
  EXPECT_EQ(LitFichier(voisine), octetsOrigine_);

  // Once the first run is over, the database is free again.
  Execution apres = Execute({OutilLot(), {"--cible", couple_.cible, "--reparation"}, DossierLot("apres")});
  EXPECT_EQ(apres.code, 0) << apres.sortie;
}

TEST_F(AutresProcessus, UneBaseQuUnAutreProgrammeLitEstRefuseeAuControleDesSaisies) {
  ProcessusAide lecteur(CHEMIN_aide_tenue, {couple_.cible, "lecture"});
  ASSERT_TRUE(lecteur.Pret());
  Execution refus = Execute({OutilLot(), {"--cible", couple_.cible, "--reparation"}, DossierLot("lot")});
  EXPECT_EQ(refus.code, 2) << refus.sortie;
  EXPECT_NE(refus.sortie.find("un autre programme la lit ou l'écrit"), std::string::npos) << refus.sortie;
  lecteur.Libere();
  EXPECT_EQ(LitFichier(couple_.cible), octetsOrigine_);
}

// ---------------------------------------------------------------- the working copy

TEST_F(AutresProcessus, UneBaseQuUnAutreProgrammeLitArreteLeModeSecuriseALaSauvegarde) {
  FenetreRun fenetre(couple_, true);
  TientA(fenetre, "Sauvegarde des bases de données", couple_.cible, "lecture");

  EXPECT_EQ(Run(fenetre), IssueLancer::Interrompue) << fenetre.journal;
  ASSERT_TRUE(tenue_);
  tenue_->Libere();

  EXPECT_TRUE(fenetre.ContientTexte("  Erreur 70 - Sauvegarde " + couple_.cible)) << fenetre.journal;
  EXPECT_TRUE(fenetre.ContientTexte("#ERR# Le fichier est déjà ouvert par une autre application."));
  EXPECT_TRUE(fenetre.MessageContient("Le fichier est déjà ouvert par une autre application."));
  // Nothing was done: no stage ran, no copy is left, the database is as it was.
  EXPECT_FALSE(fenetre.ContientTexte("Début Réparation"));
  EXPECT_FALSE(fenetre.ContientTexte("Restauration"));
  EXPECT_TRUE(FichiersDuDossier(Temporaire()).empty());
  EXPECT_EQ(LitFichier(couple_.cible), octetsOrigine_);
}

TEST_F(AutresProcessus, LaCopieDeTravailEstLaBaseOctetPourOctet) {
  FenetreRun fenetre(couple_, true, false);
  std::optional<std::string> copie;
  fenetre.surLigne = [&](const std::string& ligne) {
    if (copie || ligne.find("  Fin Sauvegarde ") == std::string::npos) return;
    for (const auto& nom : FichiersDuDossier(Temporaire()))
      if (nom.rfind("utireorg-DB", 0) == 0 && nom.size() > 4 && nom.substr(nom.size() - 4) == ".mdb")
        copie = LitFichier(Temporaire() + "/" + nom);
  };
  EXPECT_EQ(Run(fenetre), IssueLancer::Terminee) << fenetre.journal;
  ASSERT_TRUE(copie);
  EXPECT_TRUE(*copie == octetsOrigine_) << "la copie de travail diffère de la base";
}

}  // namespace
}  // namespace fiabilite

// The space estimate of a folder (figures, rounding, 32-bit stop), the host's list object and
// the explanation of "Mode sécurisé".
#include "test_pilote_outils.h"

#include "messages/GestionErreur.h"
#include "moteur/Erreurs.h"

namespace pilote_tests {
namespace {

using utireorg::GetTailleDossier;
using utireorg::TailleDossier;
using utireorg::TailleEnUnites;

// A file of that length without writing its bytes (a sparse file).
void Fichier(const std::string& chemin, long long octets) {
  fs::create_directories(fs::path(chemin).parent_path());
  std::ofstream(chemin).close();
  fs::resize_file(chemin, static_cast<std::uintmax_t>(octets));
}

std::pair<std::string, std::string> EnUnites(long long octets) {
  std::string unite = "?";
  std::string valeur = TailleEnUnites(octets, unite);
  return {valeur, unite};
}

using Taille = std::pair<std::string, std::string>;

TEST(TailleEnUnites, JusquACinqMegaoctetsLaTailleSeDonneEnKilooctetsEntiers) {
  EXPECT_EQ(EnUnites(0), Taille("0", "Ko"));
  EXPECT_EQ(EnUnites(1023), Taille("0", "Ko"));
  EXPECT_EQ(EnUnites(1024), Taille("1", "Ko"));
  EXPECT_EQ(EnUnites(5'242'880), Taille("5120", "Ko"));
  EXPECT_EQ(EnUnites(5'243'903), Taille("5120", "Ko"));
}

TEST(TailleEnUnites, AuDelaLesMegaoctetsSontArrondisLaMoitieVersLePair) {
  EXPECT_EQ(EnUnites(5'243'904), Taille("5", "Mo"));
  EXPECT_EQ(EnUnites(7'864'320), Taille("8", "Mo"));   // 7.5
  EXPECT_EQ(EnUnites(9'961'472), Taille("10", "Mo"));  // 9.5
  EXPECT_EQ(EnUnites(6'815'744), Taille("6", "Mo"));   // 6.5
  EXPECT_EQ(EnUnites(8'912'896), Taille("8", "Mo"));   // 8.5
  EXPECT_EQ(EnUnites(8'913'920), Taille("9", "Mo"));   // just above 8.5
  EXPECT_EQ(EnUnites(2'147'483'647), Taille("2048", "Mo"));
}

class TestTailleDossier : public TestPilote {};

TEST_F(TestTailleDossier, SeulsLesFichiersOrdinairesDuDossierComptent) {
  Fichier(Chemin("Donnees/a.mdb"), 5'000'000);
  Fichier(Chemin("Donnees/b.txt"), 243'904);
  Fichier(Chemin("Donnees/.cache"), 9'000'000);           // hidden
  Fichier(Chemin("Donnees/Archives/vieux.mdb"), 9'000'000);  // in a folder below
  EXPECT_EQ(TailleDossier(Chemin("Donnees")), 5'243'904);
  std::string unite;
  EXPECT_EQ(GetTailleDossier(unite, Chemin("Donnees")), "5");
  EXPECT_EQ(unite, "Mo");
}

TEST_F(TestTailleDossier, UnDossierRelatifSeLitDansLeDossierDuModele) {
  Fichier(Chemin("Logiciel/Donnees/a.mdb"), 4096);
  utireorg::DefinitDossierModele(Chemin("Logiciel/"));
  std::string unite;
  EXPECT_EQ(GetTailleDossier(unite, std::string("Donnees")), "4");
  EXPECT_EQ(unite, "Ko");
  // Without a folder, the model folder itself.
  Fichier(Chemin("Logiciel/Compta.mdb"), 8192);
  EXPECT_EQ(pilote->GetTailleDossier(unite), "8");
}

TEST_F(TestTailleDossier, UnDossierAbsentDonneZeroKo) {
  std::string unite = "Mo";
  EXPECT_EQ(GetTailleDossier(unite, Chemin("absent")), "0");
  EXPECT_EQ(unite, "Ko");
}

TEST_F(TestTailleDossier, LeCompteSArreteAuDernierTotalQuiTientSurTrenteDeuxBits) {
  Fichier(Chemin("Gros/un.mdb"), 1'500'000'000);
  Fichier(Chemin("Gros/deux.mdb"), 1'500'000'000);
  EXPECT_EQ(TailleDossier(Chemin("Gros")), 1'500'000'000);
  std::string unite;
  EXPECT_EQ(GetTailleDossier(unite, Chemin("Gros")), "1431");
  EXPECT_EQ(unite, "Mo");
}

TEST_F(TestTailleDossier, LeTexteDeLaCopieDeSecuriteMesureLaBaseQuElleCopie) {
  const std::string debut = "Une copie de sécurité de la base sera effectuée avant de lancer le traitement. ";
  // Before a target is chosen there is nothing to copy: neither the model's folder nor "/".
  Fichier(Chemin("Logiciel/Compta.mdb"), 7 * 1024 * 1024);
  utireorg::DefinitDossierModele(Chemin("Logiciel/"));
  EXPECT_EQ(pilote->TexteCopieSecurite(), debut + "(nécessite 0 Ko sur votre disque dur.)");

  // The target alone, not the other files of its folder.
  Fichier(Chemin("Dossier1/Compta.mdb"), 9'961'472);
  Fichier(Chemin("Dossier1/Grand.bin"), 50 * 1024 * 1024);
  fenetre->saisies[saisie::Cible] = Chemin("Dossier1/Compta.mdb");
  EXPECT_EQ(pilote->TexteCopieSecurite(), debut + "(nécessite 10 Mo sur votre disque dur.)");
}

// ---- The host's list object ----

class Liste : public utireorg::ListeHote {
 public:
  explicit Liste(std::function<std::optional<std::string>()> id) : id_(std::move(id)) {}
  std::optional<std::string> GetID() override {
    ++appels;
    return id_();
  }
  int appels = 0;

 private:
  std::function<std::optional<std::string>()> id_;
};

TEST_F(TestTailleDossier, FromVekListeAvecUnIdentifiantNulNeFaitRien) {
  Liste liste([] { return std::nullopt; });
  pilote->FromVekListe(&liste, "Dossiers", 0);
  EXPECT_EQ(liste.appels, 1);
  EXPECT_TRUE(fenetre->messages.empty());
  EXPECT_EQ(fenetre->fermetures, 0);
  Liste autre([] { return std::optional<std::string>("12"); });
  pilote->FromVekListe(&autre, "Dossiers", 1);
  EXPECT_TRUE(fenetre->messages.empty());
}

TEST_F(TestTailleDossier, UneErreurDeLaListeVaAuGestionnaireDErreurs) {
  Liste liste([]() -> std::optional<std::string> { throw moteur::ErreurMoteur(moteur::err::ElementIntrouvable); });
  pilote->FromVekListe(&liste, "Dossiers", 0);
  ASSERT_EQ(fenetre->NombreMessages("Erreur"), 1);
  bool fatale = utireorg::ExpliqueErreur(moteur::err::ElementIntrouvable, "").fatale;
  EXPECT_EQ(fenetre->fermetures, fatale ? 1 : 0);
  // The error journal names the place.
  std::string journal = utireorg::DepuisAnsi(LitFichier(Chemin("STE.JNL")));
  EXPECT_NE(journal.find("(FVL)"), std::string::npos);

  pilote->FromVekListe(nullptr, "Dossiers", 0);
  EXPECT_EQ(fenetre->NombreMessages("Erreur"), 2);
}

}  // namespace
}  // namespace pilote_tests

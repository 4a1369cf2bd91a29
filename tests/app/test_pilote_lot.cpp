// The run without a display, "utireorg-lot", as a scheduled job sees it: exit codes, journal
// lines on its output, "Analyse.txt" in the current directory.
#include <pty.h>
#include <poll.h>

#include <regex>

#include "commun/SchemaJson.h"
#include "moteur/Tenue.h"
#include "test_pilote_outils.h"

namespace pilote_tests {
namespace {

using Json = nlohmann::ordered_json;

class TestLot : public TestPilote {
 protected:
  Execution Lot(const std::vector<std::string>& arguments) { return Lance(Outil("utireorg-lot"), arguments, Dossier()); }

  // The run with every option, as scripts/demo.sh starts it, and its report.
  Json RapportDemo(int codeAttendu = 0) {
    CreeBasesDemo();
    auto e = Lot({"--cible", cibleDemo, "--modele", modeleDemo, "--options", "0,1,2,3,4,5", "--copie", "--ligne-a-ligne",
                  "--avance", "--oui", "--rapport", "rapport.json"});
    EXPECT_EQ(e.code, codeAttendu) << e.sortie;
    return Json::parse(LitFichier(Chemin("rapport.json")));
  }

  static std::vector<std::string> FautesDeFormat(const Json& rapport) {
    fs::path schema = RacineProjet() / "doc" / "rapport-lot.schema.json";
    return schema::Validateur(Json::parse(LitFichier(schema.string()))).Fautes(rapport);
  }

  // Runs the program with its output on a terminal, reads what the terminal shows to the end.
  Execution SurUnTerminal(const std::vector<std::string>& arguments, unsigned short colonnes = 120) {
    int maitre = -1;
    winsize taille{};
    taille.ws_col = colonnes;
    taille.ws_row = 40;
    std::string programme = Outil("utireorg-lot");
    std::vector<std::string> mots{programme};
    mots.insert(mots.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& m : mots) argv.push_back(m.data());
    argv.push_back(nullptr);
    pid_t pid = ::forkpty(&maitre, nullptr, nullptr, &taille);
    if (pid == 0) {
      ::execv(programme.c_str(), argv.data());
      ::_exit(127);
    }
    Execution e;
    char tampon[4096];
    for (;;) {
      ssize_t lus = ::read(maitre, tampon, sizeof tampon);
      if (lus <= 0) break;  // EIO once the child has closed the terminal
      e.sortie.append(tampon, static_cast<std::size_t>(lus));
    }
    int statut = 0;
    ::waitpid(pid, &statut, 0);
    ::close(maitre);
    e.code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
    return e;
  }
};

TEST_F(TestLot, UneBaseAbsenteEstRefuseeAvecLeCodeDeux) {
  auto e = Lot({"--cible", Chemin("absente.mdb")});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_NE(e.sortie.find("Vous devez saisir une base valide !"), std::string::npos) << e.sortie;
  EXPECT_FALSE(fs::exists(Chemin("Analyse.txt")));
}

TEST_F(TestLot, LaCopieSansBaseModeleEstRefusee) {
  auto e = Lot({"--cible", CreePetiteBase("Compta.mdb"), "--copie"});
  EXPECT_EQ(e.code, 2) << e.sortie;
}

TEST_F(TestLot, UneLigneDeCommandeIncompleteEstRefusee) {
  auto e = Lot({"--securise"});
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.sortie.find("Erreur de syntaxe"), std::string::npos) << e.sortie;
}

TEST_F(TestLot, UnRunParDefautConfirmeTraiteEtSortAvecZero) {
  std::string cible = CreePetiteBase("Compta.mdb");
  auto e = Lot({"--cible", cible});
  EXPECT_EQ(e.code, 0) << e.sortie;
  // The journal lines on the output, the journal itself in the current directory.
  EXPECT_NE(e.sortie.find("Logiciel : Compta\n"), std::string::npos) << e.sortie;
  EXPECT_NE(e.sortie.find("Sauvegarde des bases de données"), std::string::npos);  // the window's defaults
  std::string journal = utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt")));
  EXPECT_NE(journal.find("Compactage base de données principale"), std::string::npos) << journal;
  EXPECT_NE(journal.find("Fin de l'analyse de bases de données"), std::string::npos);
}

TEST_F(TestLot, UnRunInterrompuSortAvecUn) {
  std::string cible = CreePetiteBase("Compta.mdb");
  {
    auto base = moteur::DBEngine::OpenDatabase(cible);
    moteur::EcritSansControle(base, "Clients", {{"Id", moteur::Valeur(10)}, {"Nom", moteur::Valeur(std::string(40, 'x'))}, {"Ville", moteur::Valeur("Albi")}});
    base.Close();
  }
  // Compaction meets the oversized record and the verification it proposes is declined.
  auto e = Lot({"--cible", cible, "--options", "1", "--repondre", "2"});
  EXPECT_EQ(e.code, 1) << e.sortie;
  EXPECT_NE(e.sortie.find("La réorganisation ne s'est pas terminée correctement !"), std::string::npos) << e.sortie;

  // Answered "Oui", the same run repairs the record and ends well.
  e = Lot({"--cible", cible, "--options", "1", "--oui"});
  EXPECT_EQ(e.code, 0) << e.sortie;
  EXPECT_NE(e.sortie.find("Tentative de réparation réussie !"), std::string::npos) << e.sortie;
}

// The report of the demonstration run follows the documented format, and what it counts is what
// the journal tells.
TEST_F(TestLot, LeRapportDeLaDemoSuitSonFormatEtLeJournal) {
  Json rapport = RapportDemo();
  auto fautes = FautesDeFormat(rapport);
  EXPECT_TRUE(fautes.empty()) << ::testing::PrintToString(fautes);
  EXPECT_EQ(rapport["codeSortie"], 0);
  ASSERT_EQ(rapport["dossiers"].size(), 1u);
  const Json& dossier = rapport["dossiers"][0];
  EXPECT_EQ(dossier["issue"], "terminee");
  EXPECT_EQ(dossier["cible"], cibleDemo);

  // Each marked line of the journal, in order, with the number it names.
  std::string journal = utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt")));
  std::vector<std::string> marquees;
  std::istringstream lignes(journal);
  for (std::string ligne; std::getline(lignes, ligne);) {
    if (ligne.size() > 12 && ligne[6] == ':' && ligne[11] == ' ') ligne = ligne.substr(12);
    if (ligne.starts_with("#ERR#") || ligne.starts_with("#ALERT#")) marquees.push_back(ligne.substr(0, ligne.find('\r')));
  }
  ASSERT_EQ(dossier["lignes"].size(), marquees.size());
  for (std::size_t i = 0; i < marquees.size(); ++i)
    EXPECT_EQ(dossier["lignes"][i]["texte"].get<std::string>().substr(0, marquees[i].size()), marquees[i]);
  EXPECT_EQ(dossier["lignes"][0]["numero"], 3163);

  // The demonstration target lacks a table, seven of its fields and seven indexes of the model.
  auto compte = [&](const std::string& morceau) {
    long n = 0;
    for (auto pos = journal.find(morceau); pos != std::string::npos; pos = journal.find(morceau, pos + 1)) ++n;
    return n;
  };
  const Json& structure = dossier["structure"];
  EXPECT_EQ(structure["tablesCreees"], compte("Table non trouvée : création"));
  EXPECT_EQ(structure["champsCrees"], compte("' non trouvé : création"));
  EXPECT_EQ(structure["indexCrees"], compte("a bien été créé"));
  EXPECT_GT(structure["champsCrees"].get<long>(), 0);
  EXPECT_EQ(structure["tablesPurgees"], compte("Purge table "));
  EXPECT_EQ(structure["valeursModifiees"], compte(" devient "));

  // Clients: every record read, two defective ones dealt with as the verification's summary said,
  // one left out of the copy as the copy's trace shows.
  Json clients;
  for (const Json& t : dossier["tables"])
    if (t["nom"] == "Clients") clients = t;
  ASSERT_FALSE(clients.is_null());
  EXPECT_EQ(clients["lus"], 10);
  EXPECT_EQ(clients["corriges"].get<long>() + clients["supprimes"].get<long>(), 2);
  EXPECT_EQ(clients["refuses"], compte("Table : Clients, Enregistrement non mis à jour."));
  EXPECT_EQ(clients["copies"].get<long>() + clients["refuses"].get<long>(), 10);

  std::vector<std::string> etapes;
  for (const Json& e : dossier["etapes"]) etapes.push_back(e["nom"]);
  for (const char* attendue : {"Sauvegarde des bases de données", "Copie des enregistrements",
                               "Vérification base de données principale", "Restauration des bases de données"})
    EXPECT_NE(std::find(etapes.begin(), etapes.end(), attendue), etapes.end()) << attendue;
}

// Paths typed relative to the current folder name the same databases as their absolute form:
// the structure check finds the model one folder above the target either way.
TEST_F(TestLot, DesCheminsRelatifsTrouventLaBaseModele) {
  CreeBasesDemo();
  fs::current_path(Chemin("Logiciel"));
  auto e = Lot({"--cible", "Dossier1/Compta.mdb", "--modele", "Compta.mdb", "--options", "4", "--oui"});
  fs::current_path(Dossier());
  EXPECT_EQ(e.code, 0) << e.sortie;
  EXPECT_EQ(e.sortie.find("Base de données du logiciel inexistante !"), std::string::npos) << e.sortie;
  EXPECT_NE(e.sortie.find("Vérification base de données principale"), std::string::npos) << e.sortie;
}

// However the run ends, the report is there: refused databases, a refused command line.
TEST_F(TestLot, UnRapportEstEcritQuandLeRunNAPasLieu) {
  auto e = Lot({"--cible", Chemin("absente.mdb"), "--rapport", "refus.json"});
  EXPECT_EQ(e.code, 2);
  Json refus = Json::parse(LitFichier(Chemin("refus.json")));
  EXPECT_TRUE(FautesDeFormat(refus).empty()) << ::testing::PrintToString(FautesDeFormat(refus));
  EXPECT_EQ(refus["codeSortie"], 2);
  EXPECT_EQ(refus["dossiers"][0]["issue"], "refusee");
  EXPECT_EQ(refus["dossiers"][0]["messages"][0], "Vous devez saisir une base valide !");

  e = Lot({"--cible", "x.mdb", "--options", "9", "--rapport", "syntaxe.json"});
  EXPECT_EQ(e.code, 2);
  Json syntaxe = Json::parse(LitFichier(Chemin("syntaxe.json")));
  EXPECT_TRUE(FautesDeFormat(syntaxe).empty()) << ::testing::PrintToString(FautesDeFormat(syntaxe));
  EXPECT_TRUE(syntaxe["dossiers"].empty());
  EXPECT_NE(syntaxe["erreur"].get<std::string>().find("--options"), std::string::npos);

  // A report that could not be written is refused before anything is done.
  e = Lot({"--cible", CreePetiteBase("Compta.mdb"), "--rapport", Chemin("absent/rapport.json")});
  EXPECT_EQ(e.code, 2);
  EXPECT_NE(e.sortie.find("ne peut pas être écrit"), std::string::npos) << e.sortie;
  EXPECT_FALSE(fs::exists(Chemin("Analyse.txt")));
}

// On a terminal the progress line is rewritten in place between the journal lines; written to a
// file nothing of it shows; silent, only the final line is left.
TEST_F(TestLot, LaLigneDAvancementNeSAfficheQueSurUnTerminal) {
  std::string cible = CreePetiteBase("Compta.mdb");
  auto terminal = SurUnTerminal({"--cible", cible});
  EXPECT_EQ(terminal.code, 0) << terminal.sortie;
  EXPECT_NE(terminal.sortie.find("\r\033[K["), std::string::npos) << terminal.sortie;
  EXPECT_TRUE(std::regex_search(terminal.sortie, std::regex("\\] +[0-9]+ %  [0-9]+:[0-9]{2}  Compactage")))
      << terminal.sortie;
  EXPECT_NE(terminal.sortie.find("Logiciel : Compta"), std::string::npos);

  auto fichier = Lot({"--cible", cible});
  EXPECT_EQ(fichier.code, 0);
  EXPECT_EQ(fichier.sortie.find("\033["), std::string::npos) << fichier.sortie;

  auto silencieux = SurUnTerminal({"--cible", cible, "--silencieux"});
  EXPECT_EQ(silencieux.code, 0);
  EXPECT_EQ(silencieux.sortie, "Procédure terminée.\r\n");
}

// ---- Every folder beside the model ----

// "Logiciel/Compta.mdb" and its client folders: Alpha and Delta (sound; Delta's name in other
// case), beta (damaged), Gamma (no database).
class TestLotDossiers : public TestLot {
 protected:
  void SetUp() override {
    TestLot::SetUp();
    modele = CreePetiteBase("Logiciel/Compta.mdb");
    alpha = CreePetiteBase("Logiciel/Alpha/Compta.mdb");
    delta = CreePetiteBase("Logiciel/Delta/compta.MDB");
    beta = Chemin("Logiciel/beta/Compta.mdb");
    fs::create_directories(Chemin("Logiciel/beta"));
    std::ofstream(beta, std::ios::binary) << std::string(4096, 'x');
    fs::create_directories(Chemin("Logiciel/Gamma"));
  }

  std::string Decrit(const std::string& base) {
    auto e = Lance(Outil("utireorg-base"), {"decrire", base}, Dossier());
    EXPECT_EQ(e.code, 0) << e.sortie;
    return e.sortie;
  }
  std::string Journal() const { return utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt"))); }

  // The closing frame's list and totals, as one text.
  std::string Bilan() const {
    const std::string journal = Journal();
    auto debut = journal.find("Bilan de la réorganisation de tous les dossiers");
    if (debut == std::string::npos) return {};
    debut = journal.find("\r\n", journal.find("\r\n", debut) + 2) + 2;
    return journal.substr(debut);
  }

  std::string modele, alpha, beta, delta;
};

// One folder after the other, then several at once: the same outcomes, the journals whole and in
// folder order, a report entry per folder, the model and the interrupted folder as they were.
TEST_F(TestLotDossiers, ChaqueDossierASonIssueEnSuiteCommeEnParallele) {
  const std::string modeleAvant = LitFichier(modele), betaAvant = LitFichier(beta);
  const std::string alphaDecrit = Decrit(alpha), deltaDecrit = Decrit(delta);
  for (const char* parallele : {"1", "2"}) {
    SCOPED_TRACE(std::string("--parallele ") + parallele);
    fs::remove(Chemin("Analyse.txt"));
    auto e = Lot({"--tous-les-dossiers", "--modele", modele, "--parallele", parallele, "--rapport", "rapport.json"});
    EXPECT_EQ(e.code, 1) << e.sortie;
    const std::string bilan = Bilan();
    EXPECT_EQ(bilan.rfind("Alpha : terminée\r\nbeta : interrompue : Base à analyser refusée : « " + beta + " »", 0), 0u)
        << bilan;
    EXPECT_NE(bilan.find("\r\nDelta : terminée\r\nGamma : ignorée : aucune base « Compta.mdb »\r\n\r\n"
                         "Total : 4 dossiers : 2 terminés, 1 interrompu, 1 ignoré\r\n"),
              std::string::npos)
        << bilan;
    EXPECT_NE(e.sortie.find("4 dossiers : 2 terminés, 1 interrompu, 1 ignoré\n"), std::string::npos) << e.sortie;

    const std::string journal = Journal();
    const auto alphaFin = journal.find("Fin Restauration " + alpha);
    const auto betaRefus = journal.find("#ERR# Base à analyser refusée : « " + beta);
    const auto deltaDebut = journal.find("Début Sauvegarde " + delta);
    ASSERT_NE(deltaDebut, std::string::npos) << journal;
    EXPECT_LT(alphaFin, betaRefus);
    EXPECT_LT(betaRefus, deltaDebut);
    EXPECT_EQ(journal.find("Logiciel : Compta"), journal.rfind("Logiciel : Compta")) << "chaque journal une seule fois";

    Json rapport = Json::parse(LitFichier(Chemin("rapport.json")));
    auto fautes = FautesDeFormat(rapport);
    EXPECT_TRUE(fautes.empty()) << ::testing::PrintToString(fautes);
    EXPECT_EQ(rapport["codeSortie"], 1);
    ASSERT_EQ(rapport["dossiers"].size(), 4u) << rapport.dump(2);
    const std::vector<std::pair<std::string, std::string>> attendus = {
        {"Alpha", "terminee"}, {"beta", "interrompue"}, {"Delta", "terminee"}, {"Gamma", "ignoree"}};
    for (std::size_t i = 0; i < attendus.size(); ++i) {
      EXPECT_EQ(rapport["dossiers"][i]["dossier"], attendus[i].first);
      EXPECT_EQ(rapport["dossiers"][i]["issue"], attendus[i].second);
    }
    EXPECT_FALSE(rapport["dossiers"][0]["etapes"].empty());
    EXPECT_EQ(rapport["dossiers"][2]["cible"], delta);

    EXPECT_TRUE(LitFichier(modele) == modeleAvant) << "la base modèle a été écrite";
    EXPECT_TRUE(LitFichier(beta) == betaAvant);
    EXPECT_EQ(Decrit(alpha), alphaDecrit);
    EXPECT_EQ(Decrit(delta), deltaDecrit);
    EXPECT_TRUE(FichiersTemporaires().empty()) << ::testing::PrintToString(FichiersTemporaires());
  }
}

TEST_F(TestLotDossiers, LaBaseModeleSeuleEstExigeeEtSonRefusSortAvecDeux) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--tous-les-dossiers"}, {"--tous-les-dossiers", "--cible", alpha, "--modele", modele},
        {"--cible", alpha, "--parallele", "2"}, {"--tous-les-dossiers", "--modele", modele, "--parallele", "0"}}) {
    auto e = Lot(arguments);
    EXPECT_EQ(e.code, 2) << ::testing::PrintToString(arguments) << e.sortie;
    EXPECT_NE(e.sortie.find("Erreur de syntaxe"), std::string::npos) << e.sortie;
  }
  auto e = Lot({"--tous-les-dossiers", "--modele", Chemin("Logiciel/Absent.mdb")});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_NE(e.sortie.find("Vous devez saisir une base valide !"), std::string::npos) << e.sortie;
  EXPECT_NE(e.sortie.find("Base modèle refusée : « " + Chemin("Logiciel/Absent.mdb") + " » : fichier introuvable."),
            std::string::npos)
      << e.sortie;
  e = Lot({"--tous-les-dossiers", "--modele", beta});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_NE(e.sortie.find("Base modèle invalide !"), std::string::npos) << e.sortie;
  EXPECT_EQ(Bilan(), "");

  // Every folder that has a database ended: 0, the folder without one aside.
  fs::remove_all(Chemin("Logiciel/beta"));
  e = Lot({"--tous-les-dossiers", "--modele", modele});
  EXPECT_EQ(e.code, 0) << e.sortie;
  EXPECT_NE(Bilan().find("Total : 3 dossiers : 2 terminés, 0 interrompu, 1 ignoré"), std::string::npos) << Bilan();
}

// A journal that cannot be opened: several at once do what one after the other does, since a
// child's journal would be written where nobody reads it while the child corrects and deletes.
TEST_F(TestLotDossiers, UnJournalImpossibleAOuvrirEnParalleleCommeEnSuite) {
  // Databases with records the verification would cut: only a journal keeps their values.
  for (const std::string& base : {alpha, delta}) {
    fs::remove(base);
    auto c = Lance(Outil("utireorg-base"), {"creer", DossierDemo() + "/cible.json", base}, Dossier());
    ASSERT_EQ(c.code, 0) << c.sortie;
  }
  fs::create_directories(Chemin("Analyse.txt"));
  const std::string alphaDecrit = Decrit(alpha), deltaDecrit = Decrit(delta);
  std::vector<Json> rapports;
  for (const char* parallele : {"1", "2"}) {
    SCOPED_TRACE(std::string("--parallele ") + parallele);
    auto e = Lot({"--tous-les-dossiers", "--modele", modele, "--oui", "--parallele", parallele, "--rapport", "rapport.json"});
    EXPECT_EQ(e.code, 1) << e.sortie;
    Json rapport = Json::parse(LitFichier(Chemin("rapport.json")));
    ASSERT_EQ(rapport["dossiers"].size(), 4u) << rapport.dump(2);
    std::vector<std::string> issues;
    for (const auto& d : rapport["dossiers"]) issues.push_back(d["issue"]);
    rapports.push_back(issues);
    EXPECT_TRUE(Decrit(alpha) == alphaDecrit) << "valeurs changées sans journal";
    EXPECT_TRUE(Decrit(delta) == deltaDecrit) << "valeurs changées sans journal";
    EXPECT_TRUE(FichiersTemporaires().empty()) << ::testing::PrintToString(FichiersTemporaires());
  }
  EXPECT_EQ(rapports[0], rapports[1]);
}

// Two runs over the same folders at once would each find the other's databases in use and mix
// their journals: the second is refused at the check of the model, before anything is written.
TEST_F(TestLotDossiers, UneSecondeReorganisationDeTousLesDossiersEstRefusee) {
  auto tenue = std::make_unique<moteur::TenueRun>(modele);  // as the first run holds it
  const std::string alphaAvant = LitFichier(alpha);
  auto e = Lot({"--tous-les-dossiers", "--modele", modele, "--parallele", "2"});
  EXPECT_EQ(e.code, 2) << e.sortie;
  EXPECT_NE(e.sortie.find("Une réorganisation de tous les dossiers est déjà en cours sur cette base modèle !"),
            std::string::npos)
      << e.sortie;
  EXPECT_NE(Journal().find("#ERR# Base modèle refusée : « " + modele + " »"), std::string::npos) << Journal();
  EXPECT_TRUE(LitFichier(alpha) == alphaAvant);
  tenue.reset();
  e = Lot({"--tous-les-dossiers", "--modele", modele});
  EXPECT_NE(Bilan().find("Alpha : terminée"), std::string::npos) << e.sortie;
}

// A temporary folder that cannot be used: several at once do what one after the other does (each
// folder refused, the folder named), rather than children that cannot even write their journal.
TEST_F(TestLotDossiers, UnDossierTemporaireInutilisableEnParalleleCommeEnSuite) {
  const char* ancien = std::getenv("TMPDIR");
  const std::string garde = ancien ? ancien : "";
  ::setenv("TMPDIR", Chemin("absent").c_str(), 1);
  std::vector<std::string> bilans;
  for (const char* parallele : {"1", "2"}) {
    SCOPED_TRACE(std::string("--parallele ") + parallele);
    fs::remove(Chemin("Analyse.txt"));
    auto e = Lot({"--tous-les-dossiers", "--modele", modele, "--parallele", parallele});
    EXPECT_EQ(e.code, 1) << e.sortie;
    EXPECT_NE(Bilan().find("Alpha : interrompue : "), std::string::npos) << Bilan();
    EXPECT_NE(Bilan().find(Chemin("absent")), std::string::npos) << Bilan();
    bilans.push_back(Bilan());
  }
  if (ancien)
    ::setenv("TMPDIR", garde.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  EXPECT_EQ(bilans[0], bilans[1]);
}

// A full disk in the first folder: its database is put back as it was and no other is started.
TEST_F(TestLotDossiers, UnDisquePleinArreteLEnsembleApresLeDossierEnCours) {
  const std::string alphaAvant = LitFichier(alpha), deltaAvant = LitFichier(delta);
  ::setenv("UTIREORG_LIMITE_ECRITURE", "2000", 1);
  auto e = Lot({"--tous-les-dossiers", "--modele", modele});
  ::unsetenv("UTIREORG_LIMITE_ECRITURE");
  EXPECT_EQ(e.code, 1) << e.sortie;
  const std::string bilan = Bilan();
  EXPECT_EQ(bilan.rfind("Alpha : interrompue : ", 0), 0u) << bilan;
  EXPECT_NE(bilan.find("\r\nbeta : ignorée : espace disque insuffisant, la réorganisation s'est arrêtée avant ce dossier\r\n"
                       "Delta : ignorée : espace disque insuffisant, la réorganisation s'est arrêtée avant ce dossier\r\n"
                       "Gamma : ignorée : aucune base « Compta.mdb »\r\n"),
            std::string::npos)
      << bilan;
  EXPECT_TRUE(LitFichier(alpha) == alphaAvant);
  EXPECT_TRUE(LitFichier(delta) == deltaAvant);
  EXPECT_TRUE(FichiersTemporaires().empty()) << ::testing::PrintToString(FichiersTemporaires());
}

// However narrow the terminal, the progress line fits in one row (a wrapped line is not rewritten
// in place), and it is gone before the final line: the run's outcome is not drawn as a stage.
TEST_F(TestLot, LaLigneDAvancementTientSurUneLigneEtSEffaceALaFin) {
  std::string cible = CreePetiteBase("Compta.mdb");
  auto barres = [](const std::string& sortie) {
    std::vector<std::string> lignes;
    for (auto pos = sortie.find("\r\033[K["); pos != std::string::npos; pos = sortie.find("\r\033[K[", pos + 1))
      lignes.push_back(sortie.substr(pos + 4, sortie.find_first_of("\r\n", pos + 4) - pos - 4));
    return lignes;
  };
  auto etroit = SurUnTerminal({"--cible", cible}, 30);
  EXPECT_EQ(etroit.code, 0) << etroit.sortie;
  ASSERT_FALSE(barres(etroit.sortie).empty()) << etroit.sortie;
  for (const std::string& barre : barres(etroit.sortie))
    EXPECT_LT(utireorg::VersAnsi(barre).size(), 30u) << barre;  // one byte a character

  auto large = SurUnTerminal({"--cible", cible});
  EXPECT_EQ(large.code, 0) << large.sortie;
  for (const std::string& barre : barres(large.sortie)) EXPECT_EQ(barre.find("Procédure"), std::string::npos) << barre;

  // A stage starts from an empty bar, not from where the one before ended.
  CreeBasesDemo();
  auto copie = SurUnTerminal({"--cible", cibleDemo, "--modele", modeleDemo, "--copie", "--oui"});
  EXPECT_EQ(copie.code, 0) << copie.sortie;
  std::vector<std::string> copies;
  for (const std::string& barre : barres(copie.sortie))
    if (barre.find("Copie des enregistrements") != std::string::npos) copies.push_back(barre);
  ASSERT_FALSE(copies.empty()) << copie.sortie;
  EXPECT_NE(copies.front().find("   0 %"), std::string::npos) << copies.front();
}

}  // namespace
}  // namespace pilote_tests

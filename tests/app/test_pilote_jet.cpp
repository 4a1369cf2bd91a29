// Runs on real Jet files: the target is converted to a file of the engine at compaction, its
// original kept beside it under a name of its own, every record carried over; a Jet model is
// converted for the record copy and read as it is by the structure verification; the format
// after Jet 4.0 is refused by the input check.
#include <algorithm>
#include <cstdio>
#include <map>

#include "app/EtapesFichier.h"
#include "bases/BaseDonnees.h"
#include "commun/EchantillonsJet.h"
#include "copies/Copies.h"
#include "common/Fichiers.h"
#include "moteur/Injection.h"
#include "test_pilote_outils.h"

namespace pilote_tests {
namespace {

using utireorg::IssueLancer;

// One value as stored: its kind and its exact content, so that 1 and 1.0 or "1" differ.
std::string Empreinte(const moteur::Valeur& v) {
  char reel[64];
  std::snprintf(reel, sizeof reel, "%a", v.reel());
  return std::to_string(static_cast<int>(v.genre())) + ":" + std::to_string(v.entier()) + ":" + reel + ":" + v.texte();
}

// Every record of every user table, each as the list of its fields' values, the records of a
// table sorted: the structure verification may rebuild a table and so change the order.
using Enregistrements = std::map<std::string, std::vector<std::string>>;

Enregistrements LitContenu(const std::string& chemin) {
  Enregistrements contenu;
  auto base = moteur::DBEngine::OpenDatabase(chemin, false, true);
  auto tables = base.TableDefs();
  for (int i = 0; i < tables.Count(); ++i) {
    auto table = tables[i];
    if (table.Attributes() & moteur::dbSystemObject) continue;
    std::vector<std::string> champs;
    for (int f = 0; f < table.Fields().Count(); ++f) champs.push_back(table.Fields()[f].Name());
    std::sort(champs.begin(), champs.end());
    auto& lignes = contenu[table.Name()];
    auto rs = base.OpenRecordset(table.Name(), moteur::dbOpenSnapshot);
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string ligne;
      for (const auto& champ : champs) ligne += champ + "=" + Empreinte(rs[champ].Value()) + ";";
      lignes.push_back(ligne);
    }
    rs.Close();
    std::sort(lignes.begin(), lignes.end());
  }
  base.Close();
  return contenu;
}

class TestPiloteJet : public TestPilote {
 protected:
  void SetUp() override {
    TestPilote::SetUp();
    for (const char* nom : {"indexTestV1997.mdb", "indexTestV2000.mdb", "testV1997.mdb", "testV2007.accdb"}) {
      ECHANTILLON_JET(chemin, nom);
    }
    for (int i = 0; i < coche::Nombre; ++i) fenetre->coches[i] = true;
    fenetre->cases[cases::Copie] = true;
    fenetre->cases[cases::Avancee] = true;
    fenetre->reponses.assign(30, 1);
  }

  void TearDown() override {
    utireorg::DefinitOperationsFichier({});
    utireorg::DefinitInterruption({});
    moteur::injection::SupprimeLimite();
    TestPilote::TearDown();
  }

  static std::string Echantillon(const std::string& nom) { return echantillons::CheminJet(nom); }

  // Target "Logiciel/Dossier1/Compta.mdb" (Jet 3.0) and model "Logiciel/Compta.mdb" (Jet 4.0),
  // the same tables in both, copied from the samples: the run may only ever read the samples.
  void PrepareBases(const std::string& cible = "indexTestV1997.mdb", const std::string& modele = "indexTestV2000.mdb") {
    fs::create_directories(Chemin("Logiciel/Dossier1"));
    cibleJet = Chemin("Logiciel/Dossier1/Compta.mdb");
    modeleJet = Chemin("Logiciel/Compta.mdb");
    fs::copy_file(Echantillon(cible), cibleJet);
    fs::copy_file(Echantillon(modele), modeleJet);
    fs::permissions(cibleJet, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(modeleJet, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    echantillonCible = Echantillon(cible);
    echantillonModele = Echantillon(modele);
    fenetre->saisies[saisie::Cible] = cibleJet;
    fenetre->saisies[saisie::Modele] = modeleJet;
  }

  std::string Conservee(const std::string& nom = "Compta.jet.mdb") const { return Chemin("Logiciel/Dossier1/" + nom); }

  // What every successful run on a Jet target leaves: the original kept byte for byte, the
  // target a file of the engine holding every record of it, the model untouched.
  void VerifieCibleConvertie(const std::string& conservee) {
    EXPECT_EQ(LitFichier(conservee), LitFichier(echantillonCible));
    EXPECT_EQ(moteur::FormatDuFichier(cibleJet), moteur::FormatFichier::Moteur);
    EXPECT_EQ(LitFichier(modeleJet), LitFichier(echantillonModele));
    EXPECT_EQ(LitContenu(cibleJet), LitContenu(echantillonCible));
    auto base = moteur::DBEngine::OpenDatabase(cibleJet, false, true);
    EXPECT_TRUE(base.VerifieIntegrite().empty());
    base.Close();
    EXPECT_TRUE(FichiersTemporaires().empty());
  }

  std::string LigneConservation(const std::string& format, const std::string& conservee) const {
    return "Base d'origine au format " + format + " conservée sous « " + conservee + " ».";
  }

  std::string cibleJet, modeleJet, echantillonCible, echantillonModele;
};

// ---------------------------------------------------------------------------------------------
// Input check

TEST_F(TestPiloteJet, LesBasesJetSontAccepteesEtLeurVersionFixeLaConversion) {
  PrepareBases();
  fenetre->cases[cases::Copie] = false;
  ASSERT_TRUE(pilote->ControleSaisies()) << (fenetre->messages.empty() ? "" : fenetre->messages.back().texte);
  EXPECT_EQ(pilote->Etat().versionCible, "3.0");
  EXPECT_EQ(pilote->Etat().nomLogiciel, "Compta");
  EXPECT_EQ(pilote->Etat().baseCourante.Name(), cibleJet);

  fenetre->cases[cases::Copie] = true;
  ASSERT_TRUE(pilote->ControleSaisies());
  EXPECT_EQ(pilote->Etat().versionCible, "4.0");  // a Jet 3.0 target with a Jet 4.0 model
  EXPECT_TRUE(fenetre->messages.empty());
}

TEST_F(TestPiloteJet, UneCibleOuUnModeleDeFormatUlterieurEstRefuseAvecUneLigneAuJournal) {
  PrepareBases();
  std::string accdb = Chemin("Logiciel/Dossier1/Compta.accdb");
  fs::copy_file(Echantillon("testV2007.accdb"), accdb);

  fenetre->saisies[saisie::Cible] = accdb;
  EXPECT_FALSE(pilote->ControleSaisies());
  ASSERT_EQ(fenetre->messages.size(), 1u);
  EXPECT_EQ(fenetre->messages[0].icone, 1);
  EXPECT_EQ(fenetre->messages[0].texte.rfind("Base à analyser invalide !\n", 0), 0u) << fenetre->messages[0].texte;
  EXPECT_NE(fenetre->messages[0].texte.find("Access 2007 ou ultérieur (.accdb)"), std::string::npos);
  EXPECT_FALSE(pilote->Etat().baseCourante.EstOuverte());
  const std::string ligne = "#ERR# Base à analyser refusée : « " + accdb +
                            " » : format Access 2007 ou ultérieur (.accdb), non pris en charge.";
  EXPECT_TRUE(fenetre->ContientTexte(ligne)) << fenetre->journal;
  // The journal file holds it too, although no run had opened it.
  EXPECT_NE(utireorg::DepuisAnsi(LitFichier(Chemin("Analyse.txt"))).find(ligne), std::string::npos);

  fenetre->messages.clear();
  fenetre->saisies[saisie::Cible] = cibleJet;
  fenetre->saisies[saisie::Modele] = accdb;
  EXPECT_FALSE(pilote->ControleSaisies());
  ASSERT_EQ(fenetre->messages.size(), 1u);
  EXPECT_EQ(fenetre->messages[0].texte.rfind("Base modèle invalide !\n", 0), 0u) << fenetre->messages[0].texte;
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# Base modèle refusée : « " + accdb + " »"));
  // Nothing was touched.
  EXPECT_EQ(LitFichier(accdb), LitFichier(Echantillon("testV2007.accdb")));
  EXPECT_EQ(LitFichier(cibleJet), LitFichier(echantillonCible));
}

// ---------------------------------------------------------------------------------------------
// Whole runs

TEST_F(TestPiloteJet, RunCompletEnModeSecuriseConserveLOriginalALaRestauration) {
  PrepareBases();
  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Terminee) << fenetre->journal;
  EXPECT_EQ(fenetre->legendes.back().first, "Procédure terminée.");

  // The working copy was converted; the origin was replaced only at the restoration, and kept there.
  long conversion = fenetre->PositionCadre("Conversion base de données principale");
  long compactage = fenetre->PositionCadre("Compactage base de données principale", conversion + 1);
  long restauration = fenetre->PositionCadre("Restauration des bases de données");
  long conservation = fenetre->Position(LigneConservation("Jet 3.0", Conservee()));
  EXPECT_GE(conversion, 0) << fenetre->journal;
  EXPECT_GT(compactage, conversion);
  EXPECT_GT(conservation, restauration);
  EXPECT_GE(restauration, 0);
  EXPECT_TRUE(fenetre->Contient("Base convertie du format Jet 3.0 au format du moteur, version 4.0."));
  EXPECT_TRUE(fenetre->Contient("Base modèle au format Jet 4.0 convertie au format du moteur pour la copie des "
                                "enregistrements."));
  EXPECT_FALSE(fenetre->ContientTexte("#ERR#")) << fenetre->journal;

  ASSERT_TRUE(pilote->Etat().baseCourante.EstOuverte());
  EXPECT_EQ(pilote->Etat().baseCourante.Version(), "4.0");
  pilote.reset();
  VerifieCibleConvertie(Conservee());

  // The record copy went into a writable copy of the model, by the bulk statement (the Jet target
  // refuses it, its converted image does not).
  std::string copie = Chemin("Logiciel/Dossier1/copie_reorg.mdb");
  EXPECT_EQ(moteur::FormatDuFichier(copie), moteur::FormatFichier::Moteur);
  auto attendu = LitContenu(echantillonCible);
  for (const auto& [table, lignes] : attendu) {
    std::string n = std::to_string(lignes.size());
    EXPECT_TRUE(fenetre->Contient("Table : " + table + " Copie de " + n + "/" + n + " enregistrements")) << table << fenetre->journal;
  }
  auto copiees = LitContenu(copie);
  EXPECT_EQ(copiees["Table2"], attendu["Table2"]);
  EXPECT_EQ(copiees["Table3"], attendu["Table3"]);
}

TEST_F(TestPiloteJet, SansModeSecuriseNiCompactageLaCibleEstConvertieEtLOriginalConserve) {
  PrepareBases();
  fenetre->coches[coche::ReparationCompactage] = false;
  fenetre->coches[coche::ModeSecurise] = false;
  fenetre->cases[cases::Copie] = false;
  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Terminee) << fenetre->journal;

  long conversion = fenetre->PositionCadre("Conversion base de données principale");
  ASSERT_GE(conversion, 0) << fenetre->journal;
  EXPECT_EQ(fenetre->PositionCadre("Compactage base de données principale"), -1);
  long explication = fenetre->Position(
      "La base est au format Jet 3.0, que le moteur lit sans pouvoir y écrire : elle est convertie bien que "
      "« Réparation / Compactage » ne soit pas coché.",
      conversion);
  long conservation = fenetre->Position(LigneConservation("Jet 3.0", Conservee()), conversion);
  EXPECT_GT(explication, conversion);
  EXPECT_GT(conservation, explication);
  // Without the record copy the target keeps its own version.
  EXPECT_TRUE(fenetre->Contient("Base convertie du format Jet 3.0 au format du moteur, version 3.0."));
  pilote.reset();
  VerifieCibleConvertie(Conservee());
}

// A Jet target with one row that cannot be read: the rest is converted, the row is told in the
// conversion's section, the original is kept beside, and the run goes to its end.
TEST_F(TestPiloteJet, UneLigneIllisibleDUneCibleJetEstDiteEtLeResteConverti) {
  PrepareBases("testIndexPropertiesV2000.mdb", "testIndexPropertiesV2000.mdb");
  fenetre->coches[coche::ModeSecurise] = false;
  fenetre->cases[cases::Copie] = false;
  std::string octets = LitFichier(cibleJet);
  // The row's entry flagged as moved, its pointer then leading nowhere.
  std::size_t motif = octets.find("still more rows");
  ASSERT_NE(motif, std::string::npos);
  const std::size_t page = motif / 4096 * 4096, rco = 12;
  const int lignes = static_cast<unsigned char>(octets[page + rco]) | (static_cast<unsigned char>(octets[page + rco + 1]) << 8);
  bool marquee = false;
  for (int i = 0; i < lignes && !marquee; ++i) {
    std::size_t entree = page + rco + 2 + 2 * static_cast<std::size_t>(i);
    std::size_t debut = page + ((static_cast<unsigned char>(octets[entree]) | (static_cast<unsigned char>(octets[entree + 1]) << 8)) & 0x1FFF);
    std::size_t fin = i == 0 ? page + 4096 : page + ((static_cast<unsigned char>(octets[entree - 2]) | (static_cast<unsigned char>(octets[entree - 1]) << 8)) & 0x1FFF);
    if (debut <= motif && motif < fin) {
      octets[entree + 1] = static_cast<char>(octets[entree + 1] | 0x40);
      marquee = true;
    }
  }
  ASSERT_TRUE(marquee);
  std::ofstream(cibleJet, std::ios::binary | std::ios::trunc) << octets;
  const std::string alteree = octets;

  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Terminee) << fenetre->journal;
  long conversion = fenetre->PositionCadre("Conversion base de données principale");
  ASSERT_GE(conversion, 0) << fenetre->journal;
  long perte = fenetre->Position("#ALERT# Table 'TableUnique2_temp', ligne 10 : illisible, elle n'est pas reprise "
                                 "(une ligne déplacée renvoie hors du fichier).", conversion);
  long convertie = fenetre->Position("Base convertie du format Jet 4.0 au format du moteur, version 4.0.", conversion);
  EXPECT_GT(perte, conversion) << fenetre->journal;
  EXPECT_GT(convertie, perte);
  EXPECT_FALSE(fenetre->ContientTexte("#ERR#")) << fenetre->journal;
  utireorg::FermeBase(pilote->Etat().baseCourante);
  // The original, as the run found it, is kept; the converted target lacks that row alone.
  EXPECT_EQ(LitFichier(Conservee()), alteree);
  auto lu = LitContenu(cibleJet), attendu = LitContenu(echantillonCible);
  EXPECT_EQ(lu["TableUnique2_temp"].size() + 1, attendu["TableUnique2_temp"].size());
  EXPECT_EQ(lu["TableIgnoreNulls2"], attendu["TableIgnoreNulls2"]);
}

TEST_F(TestPiloteJet, ChaqueFichierDExempleSortDUnRunCompletAvecTousSesEnregistrements) {
  for (const char* nom : {"testV1997.mdb", "test2V2000.mdb", "testIndexPropertiesV2000.mdb", "fixedTextTestV2000.mdb"}) {
    SCOPED_TRACE(nom);
    ECHANTILLON_JET(echantillon, nom);
    fs::remove_all(Chemin("Logiciel"));
    PrepareBases(nom, nom);
    fenetre->journal.clear();
    fenetre->reponses.assign(30, 1);
    pilote->Reorganisation();
    ASSERT_EQ(pilote->Lancer(), IssueLancer::Terminee) << fenetre->journal;
    EXPECT_FALSE(fenetre->ContientTexte("#ERR#")) << fenetre->journal;
    utireorg::FermeBase(pilote->Etat().baseCourante);
    VerifieCibleConvertie(Conservee());
  }
}

TEST_F(TestPiloteJet, UnTexteTropLongGardeParLaConversionEstCorrigeSurLaBaseConvertie) {
  PrepareBases();
  fenetre->coches[coche::ModeSecurise] = false;
  // A Jet file may hold a text longer than its field: the conversion keeps it as it is, which is
  // what this conversion does to the sample, so that compaction meets it.
  utireorg::DefinitOperationsFichier({{}, {}, [](const std::string& source, const std::string& destination,
                                                const std::string& version) {
    moteur::ConvertitJet(source, destination, version);
    auto base = moteur::DBEngine::OpenDatabase(destination);
    moteur::EcritSansControle(base, "Table2", {{"id", moteur::Valeur(99)}, {"data", moteur::Valeur(std::string(80, 'x'))}});
    base.Close();
  }});
  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Terminee) << fenetre->journal;
  long conversion = fenetre->PositionCadre("Conversion base de données principale");
  long reparation = fenetre->Position("#ERR# Erreur 3163 ! Tentative de réparation ...", conversion);
  EXPECT_GT(reparation, conversion) << fenetre->journal;
  EXPECT_GT(fenetre->Position("Tentative de réparation réussie !", reparation), reparation);
  EXPECT_TRUE(fenetre->Contient(LigneConservation("Jet 3.0", Conservee())));
  pilote.reset();
  EXPECT_EQ(LitFichier(Conservee()), LitFichier(echantillonCible));
  auto base = moteur::DBEngine::OpenDatabase(cibleJet, false, true);
  auto rs = base.OpenRecordset("SELECT data FROM Table2 WHERE id = 99", moteur::dbOpenSnapshot);
  ASSERT_FALSE(rs.Eof());
  EXPECT_EQ(rs["data"].Value().texte(), std::string(50, 'x'));  // cut to the field's size
  rs.Close();
  base.Close();
}

TEST_F(TestPiloteJet, UnOriginalDejaConserveSousCeNomNEstPasEcrase) {
  PrepareBases("testV1997.mdb", "testV1997.mdb");
  std::ofstream(Conservee(), std::ios::binary) << "conservée lors d'une réorganisation précédente";
  fenetre->coches[coche::ModeSecurise] = false;
  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Terminee) << fenetre->journal;
  EXPECT_TRUE(fenetre->Contient(LigneConservation("Jet 3.0", Conservee("Compta.jet.2.mdb")))) << fenetre->journal;
  EXPECT_EQ(LitFichier(Conservee()), "conservée lors d'une réorganisation précédente");
  pilote.reset();
  VerifieCibleConvertie(Conservee("Compta.jet.2.mdb"));
}

TEST_F(TestPiloteJet, SiLOriginalNePeutEtreConserveLaCibleResteIntacte) {
  PrepareBases();
  fenetre->coches[coche::ModeSecurise] = false;
  // The kept copy is refused as a folder without write rights would refuse it.
  utireorg::DefinitInterruption([](std::string_view etape, const std::string& chemin) {
    if (etape == "copie" && chemin.find("Compta.jet.mdb.") != std::string::npos)
      throw moteur::ErreurMoteur(moteur::err::FichierUtilise, {chemin});
  });
  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Interrompue) << fenetre->journal;
  EXPECT_EQ(fenetre->legendes.back().first, "Procédure interrompue !");
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# La base d'origine au format Jet 3.0 « " + cibleJet +
                                     " » n'a pas pu être conservée : elle n'a pas été remplacée."))
      << fenetre->journal;
  EXPECT_TRUE(fenetre->Contient("La réorganisation ne s'est pas terminée correctement !"));
  EXPECT_TRUE(fenetre->Contient("Erreur 70"));
  EXPECT_FALSE(fenetre->ContientTexte("conservée sous"));
  pilote.reset();
  EXPECT_EQ(LitFichier(cibleJet), LitFichier(echantillonCible));
  EXPECT_FALSE(fs::exists(Conservee()));
  EXPECT_TRUE(FichiersTemporaires().empty());
}

TEST_F(TestPiloteJet, DisquePleinEnConservantLOriginalALaRestaurationLaisseLOrigineEnPlace) {
  PrepareBases();
  // The disk fills up just as the kept copy begins.
  utireorg::DefinitInterruption([](std::string_view etape, const std::string& chemin) {
    if (etape == "copie" && chemin.find("Compta.jet.mdb.") != std::string::npos) moteur::injection::LimiteEcriture(0);
  });
  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Interrompue) << fenetre->journal;
  EXPECT_EQ(fenetre->legendes.back().first, "Procédure interrompue ! Libérer de la place sur votre disque dur.");
  EXPECT_TRUE(fenetre->ContientTexte("  Erreur 61 - Restauration " + cibleJet));
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# La base d'origine au format Jet 3.0 « " + cibleJet +
                                     " » n'a pas pu être conservée : elle n'a pas été remplacée."));
  moteur::injection::SupprimeLimite();
  pilote.reset();
  EXPECT_EQ(LitFichier(cibleJet), LitFichier(echantillonCible));
  EXPECT_FALSE(fs::exists(Conservee()));
}

// A Jet file has no lock the run could take: another program that writes it while the run works on
// its copy shows only in its date, and that is enough to leave it in place.
TEST_F(TestPiloteJet, UnOriginalJetEcritPendantLeRunNEstPasRemplace) {
  PrepareBases();
  ASSERT_TRUE(fenetre->coches[coche::ModeSecurise]);
  const std::string cible = cibleJet;
  utireorg::DefinitInterruption([cible](std::string_view etape, const std::string& chemin) {
    if (etape == "copie" && chemin.find("Compta.jet.mdb.") != std::string::npos)
      fs::last_write_time(cible, fs::file_time_type::clock::now() + std::chrono::seconds(5));
  });
  pilote->Reorganisation();
  ASSERT_EQ(pilote->Lancer(), IssueLancer::Interrompue) << fenetre->journal;
  EXPECT_TRUE(fenetre->ContientTexte("  Erreur 70 - Restauration " + cibleJet)) << fenetre->journal;
  EXPECT_TRUE(fenetre->ContientTexte("#ERR# La base d'origine " + cibleJet + " n'a pas été modifiée")) << fenetre->journal;
  pilote.reset();
  EXPECT_EQ(moteur::FormatDuFichier(cibleJet), moteur::FormatFichier::Jet3);
  EXPECT_EQ(LitFichier(cibleJet), LitFichier(echantillonCible));
  EXPECT_FALSE(fs::exists(Conservee()));
}

}  // namespace
}  // namespace pilote_tests

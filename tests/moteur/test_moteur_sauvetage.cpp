// The repair of a file whose pages were overwritten: every record lying on sound pages comes back
// exactly, none is made up, and what was lost is told.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "OutilsMoteur.h"
#include "commun/SqliteSansMoteur.h"

using namespace moteur;
using namespace outils;

namespace {

using Contenu = std::map<long long, std::vector<std::string>>;  // key → values as text, Null as "<nul>"

class Sauvetage : public TestMoteur {
 protected:
  static std::string Memo(long long id) {
    std::string texte = "MEMO-" + std::to_string(id) + "-";
    std::mt19937 alea(static_cast<unsigned>(id));
    const std::size_t longueur = id % 40 == 0 ? 9000 : 120 + id % 60;  // some span several overflow pages
    while (texte.size() < longueur) texte += static_cast<char>('a' + alea() % 26);
    return texte;
  }

  // Grande(Id counter, Nom Text 40, Actif Yes/No, Texte Memo) and Petite(Code Long, Libelle Text 30).
  void CreeBase(int grandes, int petites) {
    auto base = Cree();
    auto td = base.CreateTableDef("Grande");
    auto id = td.CreateField("Id", dbLong);
    id.SetAttributes(dbAutoIncrField);
    td.Fields().Append(id);
    td.Fields().Append(td.CreateField("Nom", dbText, 40));
    td.Fields().Append(td.CreateField("Actif", dbBoolean));
    td.Fields().Append(td.CreateField("Texte", dbMemo));
    base.TableDefs().Append(td);
    AjouteIndex(td, "Cle", "Id", true, true);
    auto petite = CreeTable(base, "Petite", {{"Code", dbLong}, {"Libelle", dbText, 30}});
    AjouteIndex(petite, "CleCode", "Code", true, true);
    DBEngine::BeginTrans();
    auto rs = base.OpenRecordset("Grande");
    for (int i = 1; i <= grandes; ++i) {
      rs.AddNew();
      rs["Nom"].SetValue("nom " + std::to_string(i));
      rs["Texte"].SetValue(Memo(i));
      rs["Actif"].SetValue(i % 2 == 0);
      rs.Update();
    }
    rs.Close();
    rs = base.OpenRecordset("Petite");
    for (int i = 1; i <= petites; ++i) {
      rs.AddNew();
      rs["Code"].SetValue(i);
      rs["Libelle"].SetValue("libellé " + std::to_string(i * 7));
      rs.Update();
    }
    rs.Close();
    DBEngine::CommitTrans();
  }

  Contenu Lit(const std::string& table, const std::string& cle) {
    Contenu contenu;
    auto base = Ouvre();
    auto rs = base.OpenRecordset(table, dbOpenTable, dbReadOnly);
    for (; !rs.Eof(); rs.MoveNext()) {
      std::vector<std::string> valeurs;
      for (int i = 0; i < rs.Fields().Count(); ++i) {
        Valeur v = rs[i].Value();
        valeurs.push_back(v.EstNul() ? "<nul>" : v.EnTexte());
      }
      contenu[rs[cle].Value().EnEntier()] = valeurs;
    }
    return contenu;
  }

  struct Page {
    long long numero;
    std::string genre;  // "leaf", "internal" or "overflow"
  };

  // The pages a table's records lie on, read from SQLite's own page statistics before any
  // damage: leaves in key order hold the keys in turn, and each overflow page names its cell.
  std::map<long long, std::set<long long>> PagesDesEnregistrements(const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Chemin("base.bd").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::vector<long long> cles;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, ("SELECT rowid FROM \"" + table + "\" ORDER BY rowid").c_str(), -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) cles.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    std::map<std::string, std::pair<long long, long long>> feuilles;  // path → page, first key position
    std::vector<std::pair<std::string, long long>> debordements;
    sqlite3_prepare_v2(db, "SELECT path, pageno, pagetype, ncell FROM dbstat WHERE name = ? ORDER BY path", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    long long position = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::string chemin = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      std::string genre = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
      if (genre == "leaf") {
        feuilles[chemin] = {sqlite3_column_int64(st, 1), position};
        position += sqlite3_column_int64(st, 3);
      } else if (genre == "overflow") {
        debordements.emplace_back(chemin, sqlite3_column_int64(st, 1));
      }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_EQ(position, static_cast<long long>(cles.size()));
    std::map<long long, std::set<long long>> pages;
    std::vector<std::pair<long long, long long>> parPosition;
    for (const auto& [chemin, f] : feuilles) parPosition.push_back(f);
    std::sort(parPosition.begin(), parPosition.end(), [](auto a, auto b) { return a.second < b.second; });
    for (std::size_t i = 0; i < parPosition.size(); ++i) {
      long long fin = i + 1 < parPosition.size() ? parPosition[i + 1].second : position;
      for (long long k = parPosition[i].second; k < fin; ++k) pages[cles[static_cast<std::size_t>(k)]].insert(parPosition[i].first);
    }
    for (const auto& [chemin, page] : debordements) {
      auto plus = chemin.find('+');
      auto barre = chemin.rfind('/', plus);
      const auto& f = feuilles.at(chemin.substr(0, barre + 1));
      long long cellule = std::stoll(chemin.substr(barre + 1, plus - barre - 1), nullptr, 16);
      pages[cles[static_cast<std::size_t>(f.second + cellule)]].insert(page);
    }
    return pages;
  }

  std::vector<long long> PagesDe(const std::string& table, const std::string& genre) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Chemin("base.bd").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT pageno FROM dbstat WHERE name = ? AND pagetype = ? ORDER BY path", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, genre.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<long long> pages;
    while (sqlite3_step(st) == SQLITE_ROW) pages.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return pages;
  }

  // Random bytes over whole pages, as a failing disk or another program leaves them.
  void Abime(const std::set<long long>& pages) {
    int fd = ::open(Chemin("base.bd").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    std::mt19937 alea(12345);
    std::string dechets(4096, '\0');
    for (long long p : pages) {
      for (auto& c : dechets) c = static_cast<char>(alea());
      ASSERT_EQ(::pwrite(fd, dechets.data(), dechets.size(), (p - 1) * 4096), 4096);
    }
    ::close(fd);
  }

  // Records on sound pages all come back as they were; any other record that comes back holds
  // nothing but its own values or Null; no record comes from nowhere.
  void VerifieSauves(const Contenu& avant, const Contenu& apres, const std::map<long long, std::set<long long>>& pages,
                     const std::set<long long>& abimees, long long& intacts, long long& partiels) {
    intacts = partiels = 0;
    for (const auto& [cle, valeurs] : avant) {
      bool intact = true;
      for (long long p : pages.at(cle)) intact = intact && !abimees.count(p);
      auto it = apres.find(cle);
      if (intact) {
        ++intacts;
        ASSERT_NE(it, apres.end()) << "enregistrement " << cle << " perdu";
        EXPECT_TRUE(it->second == valeurs) << "enregistrement " << cle << " changé";
      } else if (it != apres.end()) {
        ++partiels;
        for (std::size_t i = 0; i < valeurs.size(); ++i)
          if (it->second[i] != "<nul>") {
            EXPECT_TRUE(it->second[i] == valeurs[i]) << "enregistrement " << cle << ", champ " << i << " changé";
          }
      }
    }
    for (const auto& [cle, valeurs] : apres) EXPECT_TRUE(avant.count(cle)) << "enregistrement " << cle << " inventé";
  }
};

TEST_F(Sauvetage, FeuillesAbimeesNeFontPerdreQueLeursEnregistrements) {
  CreeBase(3000, 20000);
  auto avantG = Lit("Grande", "Id"), avantP = Lit("Petite", "Code");
  auto pagesG = PagesDesEnregistrements("Grande"), pagesP = PagesDesEnregistrements("Petite");
  auto feuillesG = PagesDe("Grande", "leaf"), feuillesP = PagesDe("Petite", "leaf");
  ASSERT_GT(feuillesG.size(), 40u);
  // One leaf, two neighbouring leaves, and scattered ones in both tables.
  std::set<long long> abimees{feuillesG[5], feuillesG[20], feuillesG[21], feuillesP[3], feuillesP[100], feuillesP[101],
                              feuillesP[feuillesP.size() - 1], feuillesG[feuillesG.size() / 2 + 3]};
  Abime(abimees);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  EXPECT_TRUE(Ouvre().VerifieIntegrite().empty());
  long long intacts, partiels;
  auto apresG = Lit("Grande", "Id"), apresP = Lit("Petite", "Code");
  VerifieSauves(avantG, apresG, pagesG, abimees, intacts, partiels);
  EXPECT_GT(intacts, 2800);
  VerifieSauves(avantP, apresP, pagesP, abimees, intacts, partiels);
  EXPECT_GT(intacts, 19000);
  // The primary keys' indexes name every record: what is lost is counted exactly.
  auto bilan = [](const std::string& table, std::size_t sauves, std::size_t perdus, int pages) {
    return "#ALERT# Table '" + table + "' : " + std::to_string(sauves) + " enregistrements sauvés, " +
           std::to_string(perdus) + " illisibles (" + std::to_string(pages) + " pages endommagées).";
  };
  EXPECT_EQ(constats, (std::vector<std::string>{bilan("Grande", apresG.size(), avantG.size() - apresG.size(), 4),
                                                bilan("Petite", apresP.size(), avantP.size() - apresP.size(), 4)}));
}

TEST_F(Sauvetage, LesFeuillesDUnePageInterieureAbimeeSontRetrouvees) {
  CreeBase(3000, 20000);
  auto avantG = Lit("Grande", "Id"), avantP = Lit("Petite", "Code");
  auto pagesG = PagesDesEnregistrements("Grande"), pagesP = PagesDesEnregistrements("Petite");
  // The root of each table: every leaf is then reached by no tree.
  std::set<long long> abimees{PagesDe("Grande", "internal").front(), PagesDe("Petite", "internal").front()};
  Abime(abimees);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  // Every record found again: the journal says only that the file was rebuilt.
  EXPECT_EQ(constats, std::vector<std::string>{"#ALERT# La base était endommagée : elle a été reconstruite, sans perte "
                                               "d'enregistrement ni de valeur."});
  long long intacts, partiels;
  auto apresG = Lit("Grande", "Id");
  VerifieSauves(avantG, apresG, pagesG, abimees, intacts, partiels);
  EXPECT_EQ(apresG.size(), avantG.size());
  auto apresP = Lit("Petite", "Code");
  VerifieSauves(avantP, apresP, pagesP, abimees, intacts, partiels);
  EXPECT_EQ(apresP.size(), avantP.size());
}

TEST_F(Sauvetage, UnMemoDontUnePageDeDebordementEstAbimeeDevientNul) {
  CreeBase(400, 10);
  auto avant = Lit("Grande", "Id");
  auto pages = PagesDesEnregistrements("Grande");
  auto debordements = PagesDe("Grande", "overflow");
  ASSERT_FALSE(debordements.empty());
  // The second overflow page of the first memo that has several.
  long long cible = 40;
  std::vector<long long> siennes;
  for (long long p : pages.at(cible))
    if (std::count(debordements.begin(), debordements.end(), p)) siennes.push_back(p);
  ASSERT_GE(siennes.size(), 2u);
  std::set<long long> abimees{siennes[1]};
  Abime(abimees);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  auto apres = Lit("Grande", "Id");
  long long intacts, partiels;
  VerifieSauves(avant, apres, pages, abimees, intacts, partiels);
  ASSERT_TRUE(apres.count(cible));
  // Id, Nom and Actif read; the memo could not be read whole.
  EXPECT_TRUE(apres[cible] == (std::vector<std::string>{"40", "nom 40", "Vrai", "<nul>"}))
      << apres[cible][0] << " " << apres[cible][1] << " " << apres[cible][2] << " " << apres[cible][3].substr(0, 40);
  EXPECT_EQ(apres.size(), avant.size());
  EXPECT_EQ(constats, std::vector<std::string>{"#ALERT# Table 'Grande', enregistrement Id = 40 : la valeur du champ 'Texte' "
                                               "est illisible, remplacée par Null."});
}

// A required field takes its default instead of Null; bytes that are no UTF-8 never come back as
// a text, though the page holding them is sound.
TEST_F(Sauvetage, UnChampRequisPrendSonDefautEtUnTexteInvalideDevientNul) {
  CreeBase(400, 10);
  {
    auto base = Ouvre();
    auto texte = base.TableDefs()["Grande"].Fields()["Texte"];
    texte.SetDefaultValue("\"vide\"");
    texte.SetRequired(true);
  }
  ASSERT_EQ(utireorg::tests::EcritSansLeMoteur(Chemin("base.bd"),
                                               "UPDATE Grande SET Nom = CAST(x'6e6fff20fe37' AS TEXT) WHERE Id = 7"),
            SQLITE_OK);
  auto pages = PagesDesEnregistrements("Grande");
  auto debordements = PagesDe("Grande", "overflow");
  std::vector<long long> siennes;
  for (long long p : pages.at(40))
    if (std::count(debordements.begin(), debordements.end(), p)) siennes.push_back(p);
  ASSERT_GE(siennes.size(), 2u);
  Abime({siennes[1]});
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  auto apres = Lit("Grande", "Id");
  EXPECT_TRUE(apres[40] == (std::vector<std::string>{"40", "nom 40", "Vrai", "vide"})) << apres[40][3].substr(0, 40);
  EXPECT_TRUE(apres[7] == (std::vector<std::string>{"7", "<nul>", "Faux", Memo(7)})) << apres[7][1];
  EXPECT_EQ(apres.size(), 400u);
  EXPECT_EQ(
      constats,
      (std::vector<std::string>{
          "#ALERT# Table 'Grande', enregistrement Id = 7 : la valeur du champ 'Nom' est illisible, remplacée par Null "
          "(octets lus : \"no\\xFF \\xFE7\").",
          "#ALERT# Table 'Grande', enregistrement Id = 40 : la valeur du champ 'Texte' est illisible, remplacée "
          "par sa valeur par défaut."}));
}

// Bytes that are no UTF-8 in a text, on pages that are all sound: the file is not sound, the text
// becomes Null, and its bytes, escaped, stay in the journal; nothing else changes.
TEST_F(Sauvetage, UnTexteInvalideSurDesPagesSainesEstRepare) {
  CreeBase(100, 10);
  // Read before the bytes are written: the engine hands back no such text.
  auto avantG = Lit("Grande", "Id"), avantP = Lit("Petite", "Code");
  avantG[7][1] = "<nul>";
  ASSERT_EQ(utireorg::tests::EcritSansLeMoteur(Chemin("base.bd"),
                                               "UPDATE Grande SET Nom = CAST(x'6e6fff0afe37' AS TEXT) WHERE Id = 7"),
            SQLITE_OK);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  EXPECT_TRUE(Lit("Grande", "Id") == avantG);
  EXPECT_TRUE(Lit("Petite", "Code") == avantP);
  EXPECT_EQ(constats,
            (std::vector<std::string>{
                "#ALERT# Table 'Grande', enregistrement Id = 7 : la valeur du champ 'Nom' est illisible, remplacée par "
                "Null (octets lus : \"no\\xFF\\n\\xFE7\")."}));
}

// A chain of overflow pages whose pointer was altered into another memo's chain: the memo it
// belongs to cannot be read whole, the other one, its own chain intact, is kept as it was.
TEST_F(Sauvetage, UneChaineDeDebordementQuiEnCroiseUneAutreNeLaFaitPasPerdre) {
  CreeBase(400, 10);
  {
    auto base = Ouvre();
    auto rs = base.OpenRecordset("Grande");
    for (; !rs.Eof(); rs.MoveNext()) {
      const long long id = rs["Id"].Value().EnEntier();
      if (id != 40 && id != 80) continue;
      rs.Edit();
      rs["Texte"].SetValue(std::string(id == 40 ? 30000 : 14000, 'z'));  // the first chain longer than the other
      rs.Update();
    }
  }
  auto avant = Lit("Grande", "Id");
  auto pages = PagesDesEnregistrements("Grande");
  auto debordements = PagesDe("Grande", "overflow");
  int fd = ::open(Chemin("base.bd").c_str(), O_RDWR);
  auto suivante = [&](long long page) {
    unsigned char o[4] = {};
    EXPECT_EQ(::pread(fd, o, 4, (page - 1) * 4096), 4);
    return static_cast<long long>(o[0]) << 24 | o[1] << 16 | o[2] << 8 | o[3];
  };
  // A memo's overflow pages in the order of its chain: the first is the one no other points to.
  auto siennes = [&](long long id) {
    std::vector<long long> v;
    for (long long p : pages.at(id))
      if (std::count(debordements.begin(), debordements.end(), p)) v.push_back(p);
    std::vector<long long> chaine;
    for (long long p : v)
      if (std::none_of(v.begin(), v.end(), [&](long long q) { return suivante(q) == p; })) chaine = {p};
    while (!chaine.empty() && chaine.size() < v.size()) chaine.push_back(suivante(chaine.back()));
    return chaine;
  };
  auto a = siennes(40), b = siennes(80);
  ASSERT_GE(a.size(), 2u);
  ASSERT_GE(b.size(), 2u);
  const unsigned char croise[4] = {0, 0, static_cast<unsigned char>(b[1] >> 8), static_cast<unsigned char>(b[1])};
  ASSERT_EQ(::pwrite(fd, croise, 4, (a[0] - 1) * 4096), 4);
  ::close(fd);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  avant[40][3] = "<nul>";
  auto apres = Lit("Grande", "Id");
  EXPECT_TRUE(apres == avant);
  EXPECT_TRUE(apres[80][3] == avant[80][3]) << "le mémo 80 est changé";
  EXPECT_EQ(constats,
            std::vector<std::string>{"#ALERT# Table 'Grande', enregistrement Id = 40 : la valeur du champ 'Texte' "
                                     "est illisible, remplacée par Null."});
}

// Reads the rowid varint of cell i of a table leaf: where it starts in the file and its bytes.
std::pair<long long, std::string> CleDeCellule(const std::string& chemin, long long page, int i) {
  std::string octets(4096, '\0');
  int fd = ::open(chemin.c_str(), O_RDONLY);
  EXPECT_EQ(::pread(fd, octets.data(), 4096, (page - 1) * 4096), 4096);
  ::close(fd);
  auto u = [&](std::size_t p) { return static_cast<unsigned char>(octets[p]); };
  std::size_t cellule = u(8 + 2 * i) << 8 | u(9 + 2 * i);
  while (u(cellule) & 0x80) ++cellule;  // the payload's size
  std::size_t debut = ++cellule;
  while (u(cellule) & 0x80) ++cellule;
  return {(page - 1) * 4096 + static_cast<long long>(debut), octets.substr(debut, cellule + 1 - debut)};
}

// A damaged key, equal to the next record's: the index tells the two apart and gives the altered
// cell its own key back, so that nothing is lost nor changed.
TEST_F(Sauvetage, UneCleAbimeeEnDoubleEstRendueParLIndex) {
  CreeBase(50, 3000);
  auto avant = Lit("Petite", "Code");
  const long long feuille = PagesDe("Petite", "leaf")[5];
  auto [position, premiere] = CleDeCellule(Chemin("base.bd"), feuille, 0);
  auto [_, seconde] = CleDeCellule(Chemin("base.bd"), feuille, 1);
  ASSERT_EQ(premiere.size(), seconde.size());
  int fd = ::open(Chemin("base.bd").c_str(), O_RDWR);
  ASSERT_EQ(::pwrite(fd, seconde.data(), seconde.size(), position), static_cast<ssize_t>(seconde.size()));
  ::close(fd);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  EXPECT_TRUE(Lit("Petite", "Code") == avant);
  ASSERT_EQ(constats.size(), 1u);
  EXPECT_NE(constats[0].find("la clé abîmée"), std::string::npos) << constats[0];
}

// Without an index to tell which is right, the record set aside is written out whole.
TEST_F(Sauvetage, UneCleEnDoubleSansTemoinEcrivantLEnregistrementEcarte) {
  CreeBase(50, 3000);
  {
    auto base = Ouvre();
    base.TableDefs()["Petite"].Indexes().Delete("CleCode");
  }
  const long long feuille = PagesDe("Petite", "leaf")[5];
  auto [position, premiere] = CleDeCellule(Chemin("base.bd"), feuille, 0);
  auto [_, seconde] = CleDeCellule(Chemin("base.bd"), feuille, 1);
  int fd = ::open(Chemin("base.bd").c_str(), O_RDWR);
  ASSERT_EQ(::pwrite(fd, seconde.data(), seconde.size(), position), static_cast<ssize_t>(seconde.size()));
  ::close(fd);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  ASSERT_FALSE(constats.empty());
  EXPECT_NE(constats[0].find("deux enregistrements ont la clé"), std::string::npos) << constats[0];
  EXPECT_NE(constats[0].find("Libelle = \"libellé "), std::string::npos) << constats[0];
}

// The counter of a table's automatic numbers goes on after the highest number it ever gave, even
// past records deleted before the damage; when its own page is lost, the repair says so.
TEST_F(Sauvetage, LeCompteurDesNumerosAutomatiquesNeRedonneAucunNumero) {
  CreeBase(300, 10);
  Ouvre().Execute("DELETE FROM Grande WHERE Id > 250", dbFailOnError);
  const std::string originale = Chemin("originale.bd");
  std::filesystem::copy_file(Chemin("base.bd"), originale);
  const auto avant = Lit("Grande", "Id");
  const long long compteur = PagesDe("sqlite_sequence", "leaf").front(), derniere = PagesDe("Grande", "leaf").back();
  const std::string perdu =
      "#ALERT# Table 'Grande' : le compteur des numéros automatiques est perdu ; il reprend après 250, le plus grand "
      "numéro trouvé : des numéros au-delà ont pu être donnés à des enregistrements supprimés depuis, et seront donnés "
      "à nouveau.";
  // Its own page sound; lost; lost with the table's last leaf, whose keys its index still lists.
  const std::vector<std::pair<std::set<long long>, std::string>> cas = {
      {{PagesDe("Petite", "leaf").front()}, "301"}, {{compteur}, "251"}, {{compteur, derniere}, "251"}};
  for (const auto& [pages, attendu] : cas) {
    SCOPED_TRACE(attendu + " " + std::to_string(pages.size()));
    std::filesystem::copy_file(originale, Chemin("base.bd"), std::filesystem::copy_options::overwrite_existing);
    Abime(pages);
    std::vector<std::string> constats;
    ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
    if (pages.size() == 1) {
      EXPECT_EQ(Lit("Grande", "Id"), avant);
    }
    auto base = Ouvre();
    Ajoute(base, "Grande", {{"Nom", Valeur("nouveau")}});
    EXPECT_EQ(Colonne(base, "SELECT Id FROM Grande WHERE Nom = 'nouveau'", "Id"), std::vector<std::string>{attendu});
    if (pages.count(compteur)) {
      EXPECT_NE(std::find(constats.begin(), constats.end(), perdu), constats.end());
    }
    if (pages == std::set<long long>{compteur}) {
      EXPECT_EQ(constats, std::vector<std::string>{perdu});
    }
  }
}

}  // namespace

namespace {

class SauvetageRelations : public Sauvetage {
 protected:
  // Clients(Id key) and Commandes(Num, ClientId), each order of its own client, related with
  // cascading deletes; and a third table with nothing to do with them.
  void CreeBaseLiee() {
    auto base = Cree();
    auto clients = CreeTable(base, "Clients", {{"Id", dbLong}, {"Nom", dbText, 40}});
    AjouteIndex(clients, "Cle", "Id", true, true);
    auto commandes = CreeTable(base, "Commandes", {{"Num", dbLong}, {"ClientId", dbLong}});
    AjouteIndex(commandes, "CleNum", "Num", true, true);
    auto autre = CreeTable(base, "Autre", {{"N", dbLong}, {"Texte", dbText, 100}});
    AjouteIndex(autre, "CleN", "N", true, true);
    DBEngine::BeginTrans();
    for (int i = 1; i <= 2000; ++i) {
      base.Execute("INSERT INTO Clients VALUES (" + std::to_string(i) + ", 'client " + std::to_string(i) + "')", dbFailOnError);
      base.Execute("INSERT INTO Commandes VALUES (" + std::to_string(i) + ", " + std::to_string(i) + ")", dbFailOnError);
      base.Execute("INSERT INTO Autre VALUES (" + std::to_string(i) + ", '" + std::string(80, 'a') + "')", dbFailOnError);
    }
    DBEngine::CommitTrans();
    auto rel = base.CreateRelation("ClientsCommandes", "Clients", "Commandes", dbRelationDeleteCascade);
    auto f = rel.CreateField("Id");
    f.SetForeignName("ClientId");
    rel.Fields().Append(f);
    base.Relations().Append(rel);
  }
};

TEST_F(SauvetageRelations, UneRelationQueLesDonneesRespectentGardeSesAttributs) {
  CreeBaseLiee();
  Abime({PagesDe("Autre", "leaf")[2]});
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  auto base = Ouvre();
  EXPECT_EQ(base.Relations()["ClientsCommandes"].Attributes(), dbRelationDeleteCascade);
  base.Execute("DELETE FROM Clients WHERE Id = 7", dbFailOnError);
  EXPECT_EQ(Colonne(base, "SELECT Num FROM Commandes WHERE ClientId = 7", "Num"), std::vector<std::string>{});
  ASSERT_EQ(constats.size(), 1u);
  EXPECT_EQ(constats[0].rfind("#ALERT# Table 'Autre' : ", 0), 0u) << constats[0];
}

TEST_F(SauvetageRelations, UneRelationQueLesDonneesSauveesViolentEstDite) {
  CreeBaseLiee();
  Abime({PagesDe("Clients", "leaf")[2]});
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  auto base = Ouvre();
  EXPECT_EQ(base.Relations()["ClientsCommandes"].Attributes(), dbRelationDeleteCascade | dbRelationDontEnforce);
  EXPECT_NE(std::find(constats.begin(), constats.end(),
                      "#ALERT# Relation 'ClientsCommandes' entre 'Clients' et 'Commandes' : des enregistrements sauvés de "
                      "'Commandes' n'ont plus d'enregistrement lié dans 'Clients' ; elle n'est plus appliquée."),
            constats.end());
}

// Another program dropped the relation's rules, then wrote an order whose customer does not
// exist: the check names the missing rules; the repair makes them again, keeps the order and, the
// data no longer fitting the relation, leaves it unenforced and says so.
TEST_F(SauvetageRelations, UneRegleSupprimeeParUnAutreProgrammeEstDiteEtRefaite) {
  CreeBaseLiee();
  // Each rule with the table it watches.
  const std::vector<std::pair<std::string, std::string>> supprimees = [&] {
    std::vector<std::pair<std::string, std::string>> noms;
    sqlite3* db = nullptr;
    sqlite3_open_v2(Chemin("base.bd").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT name, tbl_name FROM sqlite_master WHERE type = 'trigger' AND name LIKE 'MSysRel_%' "
                       "ORDER BY name",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
      noms.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                        reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return noms;
  }();
  ASSERT_FALSE(supprimees.empty());
  std::string instructions;
  for (const auto& [nom, table] : supprimees) instructions += "DROP TRIGGER \"" + nom + "\";";
  ASSERT_EQ(utireorg::tests::EcritSansLeMoteur(Chemin("base.bd"),
                                               instructions + "INSERT INTO Commandes VALUES (5000, 4999);"),
            SQLITE_OK);

  const auto problemes = Ouvre().VerifieIntegrite();
  ASSERT_EQ(problemes.size(), supprimees.size()) << ::testing::PrintToString(problemes);
  for (const auto& [nom, table] : supprimees)
    EXPECT_NE(std::find(problemes.begin(), problemes.end(),
                        "Règle du moteur supprimée par un autre programme, que la réparation refait d'après le "
                        "catalogue : règle « " +
                            nom + " » (table " + table + ")."),
              problemes.end())
        << ::testing::PrintToString(problemes);

  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  for (const auto& [nom, table] : supprimees)
    EXPECT_NE(std::find(constats.begin(), constats.end(),
                        "#ALERT# Règle du moteur refaite d'après le catalogue : règle « " + nom + " » (table " + table +
                            ")."),
              constats.end())
        << ::testing::PrintToString(constats);
  EXPECT_NE(std::find(constats.begin(), constats.end(),
                      "#ALERT# Relation 'ClientsCommandes' entre 'Clients' et 'Commandes' : des enregistrements de "
                      "'Commandes' n'ont pas d'enregistrement lié dans 'Clients' ; elle n'est plus appliquée."),
            constats.end())
      << ::testing::PrintToString(constats);
  auto base = Ouvre();
  EXPECT_EQ(base.Relations()["ClientsCommandes"].Attributes(), dbRelationDeleteCascade | dbRelationDontEnforce);
  EXPECT_EQ(Colonne(base, "SELECT ClientId FROM Commandes WHERE Num = 5000", "ClientId"),
            std::vector<std::string>{"4999"});
  EXPECT_TRUE(base.VerifieIntegrite().empty()) << ::testing::PrintToString(base.VerifieIntegrite());
}

// The repaired file takes the place of the damaged one where it really is, with its rights and owner.
TEST_F(Sauvetage, LeFichierRepareGardeLienDroitsEtProprietaire) {
  CreeBase(300, 10);
  Abime({PagesDe("Grande", "leaf")[3]});
  fs::create_directory(Chemin("donnees"));
  fs::rename(Chemin("base.bd"), Chemin("donnees/vraie.bd"));
  fs::create_symlink("donnees/vraie.bd", Chemin("base.bd"));
  ASSERT_EQ(::chmod(Chemin("donnees/vraie.bd").c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(Chemin("donnees/vraie.bd").c_str(), 65534, 65534), 0);
  }
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd")));
  EXPECT_TRUE(fs::is_symlink(Chemin("base.bd")));
  EXPECT_EQ(fs::read_symlink(Chemin("base.bd")), "donnees/vraie.bd");
  struct stat s {};
  ASSERT_EQ(::stat(Chemin("donnees/vraie.bd").c_str(), &s), 0);
  EXPECT_EQ(s.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(s.st_uid, 65534u);
    EXPECT_EQ(s.st_gid, 65534u);
  }
  auto base = Ouvre();
  EXPECT_TRUE(base.VerifieIntegrite().empty());
  EXPECT_LT(Compte(base, "Grande"), 300);
}

}  // namespace

// Files whose records all lie on sound pages but whose definitions do not: a page of the schema,
// a page of the catalog, or the last byte of the file lost.
class SauvetageDefinitions : public SauvetageRelations {
 protected:
  // What the user sees of the file's structure: every table's fields and indexes, the relations.
  std::string Structure() {
    auto base = Ouvre();
    std::string texte;
    auto tables = base.TableDefs();
    for (int i = 0; i < tables.Count(); ++i) {
      auto td = tables[i];
      if (td.Name().rfind("MSys", 0) == 0) continue;
      texte += td.Name() + " :";
      for (int j = 0; j < td.Fields().Count(); ++j) {
        auto c = td.Fields()[j];
        texte += " " + c.Name() + "/" + std::to_string(c.Type()) + "/" + std::to_string(c.Size()) + "/" +
                 std::to_string(c.Attributes()) + (c.Required() ? "/requis" : "");
      }
      for (int j = 0; j < td.Indexes().Count(); ++j) {
        auto x = td.Indexes()[j];
        texte += " [" + x.Fields() + (x.Unique() ? " unique" : "") + (x.Primary() ? " primaire" : "") + "]";
      }
      texte += "\n";
    }
    for (int i = 0; i < base.Relations().Count(); ++i) {
      auto r = base.Relations()[i];
      texte += r.Table() + " -> " + r.ForeignTable() + " " + std::to_string(r.Attributes()) + "\n";
    }
    return texte;
  }

  long long RacineDe(const std::string& nom) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Chemin("base.bd").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_schema WHERE name = ?", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, nom.c_str(), -1, SQLITE_TRANSIENT);
    long long racine = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return racine;
  }
};

TEST_F(SauvetageDefinitions, UnePageDuSchemaOuDuCatalogueAbimeeNeFaitRienPerdre) {
  CreeBaseLiee();
  {
    // A counter: SQLite's own table of counters then has a leaf that a table whose root was lost
    // must not take for its records.
    auto base = Ouvre();
    CreeTable(base, "Numerotes", {{"Id", dbLong, 0, false, {}, false, dbAutoIncrField}, {"Libelle", dbText, 30}});
    for (int i = 1; i <= 300; ++i)
      base.Execute("INSERT INTO Numerotes (Libelle) VALUES ('numéro " + std::to_string(i) + "')", dbFailOnError);
  }
  const std::string originale = Chemin("originale.bd");
  ASSERT_EQ(::rename(Chemin("base.bd").c_str(), originale.c_str()), 0);
  auto copie = [&] {
    std::filesystem::copy_file(originale, Chemin("base.bd"), std::filesystem::copy_options::overwrite_existing);
  };
  copie();
  const std::string structure = Structure();
  const auto clients = Lit("Clients", "Id"), commandes = Lit("Commandes", "Num"), autre = Lit("Autre", "N"),
             numerotes = Lit("Numerotes", "Id");
  const auto pagesClients = PagesDesEnregistrements("Clients"), pagesCommandes = PagesDesEnregistrements("Commandes"),
             pagesAutre = PagesDesEnregistrements("Autre"), pagesNumerotes = PagesDesEnregistrements("Numerotes");
  const long long derniere = TailleFichier(originale) / 4096;
  const auto schema = PagesDe("sqlite_schema", "leaf");
  ASSERT_FALSE(schema.empty());
  const std::vector<std::pair<std::string, long long>> cas = {
      {"schéma", *std::max_element(schema.begin(), schema.end())},
      // Its first leaf holds the definitions of the catalog's own tables: the catalog's pages are
      // then found by the shape of their rows.
      {"schéma du catalogue", schema.front()},
      {"MSysColumns", RacineDe("MSysColumns")},
      {"MSysTables", RacineDe("MSysTables")},
      {"MSysIndexes", RacineDe("MSysIndexes")},
      {"MSysRelationships", RacineDe("MSysRelationships")},
      {"coupé", derniere}};
  for (const auto& [nom, page] : cas) {
    SCOPED_TRACE(nom);
    copie();
    const bool coupe = nom == "coupé";
    if (coupe)
      ASSERT_EQ(::truncate(Chemin("base.bd").c_str(), TailleFichier(originale) - 1), 0);
    else
      Abime({page});
    std::vector<std::string> constats;
    ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
    EXPECT_EQ(Structure(), structure);
    long long intacts, partiels;
    VerifieSauves(clients, Lit("Clients", "Id"), pagesClients, {page}, intacts, partiels);
    VerifieSauves(commandes, Lit("Commandes", "Num"), pagesCommandes, {page}, intacts, partiels);
    VerifieSauves(autre, Lit("Autre", "N"), pagesAutre, {page}, intacts, partiels);
    VerifieSauves(numerotes, Lit("Numerotes", "Id"), pagesNumerotes, {page}, intacts, partiels);
    std::string journal;
    for (const auto& l : constats) journal += l + "\n";
    EXPECT_NE(journal.find(coupe                       ? "le fichier est tronqué"
                           : nom.starts_with("schéma") ? "Schéma du fichier endommagé"
                                                       : "Catalogue endommagé"),
              std::string::npos)
        << journal;
    // Nothing was lost, and the engine's own rules and counters are no strangers' objects.
    EXPECT_EQ(journal.find("Objet inconnu"), std::string::npos) << journal;
    // A table whose first page was lost with its index and without a counter cannot tell how many
    // records it had: that is said, and no loss is claimed.
    const bool sansCompte = nom == "schéma du catalogue";
    EXPECT_EQ(
        journal.find("Table 'Clients' : 2000 enregistrements sauvés ; le fichier ne dit plus combien elle en avait : "
                     "d'autres, illisibles, ont pu être perdus.") != std::string::npos,
        sansCompte)
        << journal;
    // Only a page of the schema was damaged, none of the table's.
    EXPECT_EQ(journal.find("ont pu être perdus ("), std::string::npos) << journal;
    EXPECT_EQ(journal.find("sont perdus"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("compteur des numéros automatiques est perdu"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("n'a pu être rattachée"), std::string::npos) << journal;
  }
}

// A file cut short inside its schema's last page: the rule whose text lay there is made again as
// it was, and the schema's other pages are no lost records.
TEST_F(SauvetageDefinitions, UnFichierCoupeDansSonSchemaNeDitQueLaTroncature) {
  CreeBaseLiee();
  {
    auto base = Ouvre();  // enough definitions for the schema to span several pages
    for (int i = 0; i < 12; ++i) CreeTable(base, "Table" + std::to_string(i), {{"Champ" + std::to_string(i), dbLong}});
    auto rel = base.CreateRelation("ClientsCommandes2", "Clients", "Commandes", 0);
    auto f = rel.CreateField("Id");
    f.SetForeignName("ClientId");
    rel.Fields().Append(f);
    base.Relations().Append(rel);
  }
  const auto schema = PagesDe("sqlite_schema", "leaf");
  ASSERT_GT(schema.size(), 1u);
  ASSERT_EQ(*std::max_element(schema.begin(), schema.end()), TailleFichier(Chemin("base.bd")) / 4096);
  ASSERT_EQ(::truncate(Chemin("base.bd").c_str(), TailleFichier(Chemin("base.bd")) - 1), 0);
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  std::string journal;
  for (const auto& l : constats) journal += l + "\n";
  ASSERT_EQ(constats.size(), 2u) << journal;
  EXPECT_NE(constats[0].find("le fichier est tronqué"), std::string::npos) << journal;
  EXPECT_EQ(constats[1],
            "#ALERT# La base était endommagée : elle a été reconstruite, sans perte d'enregistrement ni de valeur.");
  EXPECT_ERREUR(err::PasDEnregistrementLie,
                Ouvre().Execute("INSERT INTO Commandes VALUES (5000, 4999)", dbFailOnError));
}

TEST_F(SauvetageDefinitions, UnFichierCoupeEstDitTronque) {
  CreeBaseLiee();
  ASSERT_EQ(::truncate(Chemin("base.bd").c_str(), TailleFichier(Chemin("base.bd")) - 1), 0);
  try {
    DBEngine::OpenDatabase(Chemin("base.bd"));
    FAIL() << "ouverte";
  } catch (const ErreurMoteur& e) {
    EXPECT_EQ(e.Number(), err::BaseEndommagee);
    EXPECT_NE(e.Description().find("le fichier est tronqué"), std::string::npos) << e.Description();
  }
}

// A file whose header another program overwrote (its signature, its page size, or the whole of it)
// while its pages are intact: the file is called damaged, not foreign, and the repair reads its
// pages at the size they show, keeping every record, every definition and every relation.
TEST_F(SauvetageDefinitions, UnEnTeteEcraseEstRefaitDApresLesPages) {
  CreeBaseLiee();
  const std::string originale = Chemin("originale.bd");
  ASSERT_EQ(::rename(Chemin("base.bd").c_str(), originale.c_str()), 0);
  std::filesystem::copy_file(originale, Chemin("base.bd"));
  const std::string structure = Structure();
  const auto clients = Lit("Clients", "Id"), commandes = Lit("Commandes", "Num"), autre = Lit("Autre", "N");
  std::mt19937 alea(99);
  std::string hasard(100, '\0');
  for (char& c : hasard) c = static_cast<char>(alea());
  const std::vector<std::pair<std::string, std::pair<long, std::string>>> cas = {
      {"signature", {0, "XXXXXX"}},
      {"taille de page impossible", {16, std::string("\xff\xff", 2)}},
      {"taille de page nulle", {16, std::string("\0\0", 2)}},
      {"taille de page fausse", {16, std::string("\x04\x00", 2)}},
      {"taille de page de 65536", {16, std::string("\x00\x01", 2)}},
      {"taille de page de 8192", {16, std::string("\x20\x00", 2)}},
      {"octet réservé", {20, std::string("\x01", 1)}},
      {"octets réservés", {20, std::string("\xff", 1)}},
      {"versions", {18, std::string("\x09\x09", 2)}},
      {"fractions", {21, std::string("\0\0\0", 3)}},
      {"format du schéma", {44, std::string("\0\0\0\x09", 4)}},
      {"encodage", {56, std::string("\0\0\0\x02", 4)}},
      {"marque du moteur", {68, std::string("URG2", 4)}},
      {"en-tête entier", {0, hasard}}};
  for (const auto& [nom, ecrasement] : cas) {
    SCOPED_TRACE(nom);
    std::filesystem::copy_file(originale, Chemin("base.bd"), std::filesystem::copy_options::overwrite_existing);
    {
      std::fstream f(Chemin("base.bd"), std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(ecrasement.first);
      f.write(ecrasement.second.data(), static_cast<std::streamsize>(ecrasement.second.size()));
    }
    auto ouverture = Essaie([&] { DBEngine::OpenDatabase(Chemin("base.bd")); });
    EXPECT_EQ(ouverture.Number, err::BaseEndommagee) << ouverture.Description;
    EXPECT_NE(ouverture.Description.find("en-tête"), std::string::npos) << ouverture.Description;
    EXPECT_EQ(FormatDuFichier(Chemin("base.bd")), FormatFichier::Moteur);
    std::vector<std::string> constats;
    std::string gardee;
    ASSERT_SANS_ERREUR(gardee = DBEngine::RepairDatabase(Chemin("base.bd"), constats, DBEngine::GardeEndommagee::Oui));
    // What was read through a header made again is kept as it was, should that header be wrong.
    EXPECT_FALSE(gardee.empty());
    if (!gardee.empty()) std::filesystem::remove(gardee);
    EXPECT_EQ(Structure(), structure);
    EXPECT_EQ(Lit("Clients", "Id"), clients);
    EXPECT_EQ(Lit("Commandes", "Num"), commandes);
    EXPECT_EQ(Lit("Autre", "N"), autre);
    EXPECT_TRUE(Ouvre().VerifieIntegrite().empty());
    ASSERT_FALSE(constats.empty());
    EXPECT_EQ(constats.front(), "#ALERT# L'en-tête de la base de données '" + Chemin("base.bd") +
                                    "' était écrasé : il a été refait d'après ses pages, de 4096 octets.");
    std::string journal;
    for (const auto& l : constats) journal += l + "\n";
    EXPECT_EQ(journal.find("illisible"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("perdu"), std::string::npos) << journal;
    EXPECT_EQ(journal.find(".entete.bd"), std::string::npos) << journal;
  }
}

// The whole first page overwritten: the header and the schema's root with it. The schema's other
// leaves, found among the pages no tree reaches, give back the definitions and root pages they
// hold; the catalog's tables, whose definitions were on the lost page, are found by the shape of
// their rows. Everything comes back, and the file as it was is kept beside.
TEST_F(SauvetageDefinitions, UnePremierePageEcraseeEstRefaiteDApresLesAutresPagesDuSchema) {
  CreeBaseLiee();
  const std::string structure = Structure();
  const auto clients = Lit("Clients", "Id"), commandes = Lit("Commandes", "Num"), autre = Lit("Autre", "N");
  ASSERT_GT(PagesDe("sqlite_schema", "leaf").size(), 1u);
  std::mt19937 alea(5);
  std::string page(4096, '\0');
  for (char& c : page) c = static_cast<char>(alea());
  {
    std::fstream f(Chemin("base.bd"), std::ios::in | std::ios::out | std::ios::binary);
    f.write(page.data(), static_cast<std::streamsize>(page.size()));
  }
  std::vector<std::string> constats;
  std::string gardee;
  ASSERT_SANS_ERREUR(gardee = DBEngine::RepairDatabase(Chemin("base.bd"), constats, DBEngine::GardeEndommagee::Oui));
  EXPECT_FALSE(gardee.empty());
  std::string journal;
  for (const auto& l : constats) journal += l + "\n";
  EXPECT_EQ(Structure(), structure) << journal;
  EXPECT_EQ(Lit("Clients", "Id"), clients) << journal;
  EXPECT_EQ(Lit("Commandes", "Num"), commandes) << journal;
  EXPECT_EQ(Lit("Autre", "N"), autre) << journal;
  EXPECT_EQ(journal.find("illisible"), std::string::npos) << journal;
  EXPECT_EQ(journal.find(".entete.bd"), std::string::npos) << journal;
  // The schema's own leaves are no pages of records left over.
  EXPECT_EQ(journal.find("rattachée"), std::string::npos) << journal;
}

// An overwritten signature and a file cut short: both are told, and every record on the whole pages
// left is kept, whether the cut falls on a page boundary or inside a page.
TEST_F(SauvetageDefinitions, UnEnTeteEcraseDansUnFichierCoupeDitLesDeux) {
  CreeBaseLiee();
  const std::string originale = Chemin("originale.bd");
  ASSERT_EQ(::rename(Chemin("base.bd").c_str(), originale.c_str()), 0);
  std::filesystem::copy_file(originale, Chemin("base.bd"));
  const auto clients = Lit("Clients", "Id"), commandes = Lit("Commandes", "Num");
  const auto pagesClients = PagesDesEnregistrements("Clients"), pagesCommandes = PagesDesEnregistrements("Commandes");
  const long long pages = TailleFichier(originale) / 4096;
  for (long long taille : {(pages - 3) * 4096, (pages - 3) * 4096 + 1000}) {
    SCOPED_TRACE(taille);
    std::filesystem::copy_file(originale, Chemin("base.bd"), std::filesystem::copy_options::overwrite_existing);
    {
      std::fstream f(Chemin("base.bd"), std::ios::in | std::ios::out | std::ios::binary);
      f.write("XXXXXX", 6);
    }
    ASSERT_EQ(::truncate(Chemin("base.bd").c_str(), taille), 0);
    EXPECT_EQ(Essaie([&] { DBEngine::OpenDatabase(Chemin("base.bd")); }).Number, err::BaseEndommagee);
    std::vector<std::string> constats;
    ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
    std::string journal;
    for (const auto& l : constats) journal += l + "\n";
    EXPECT_NE(journal.find("était écrasé"), std::string::npos) << journal;
    EXPECT_NE(journal.find("le fichier est tronqué"), std::string::npos) << journal;
    std::set<long long> perdues;
    for (long long p = pages - 2; p <= pages; ++p) perdues.insert(p);
    long long intacts = 0, partiels = 0;
    VerifieSauves(clients, Lit("Clients", "Id"), pagesClients, perdues, intacts, partiels);
    VerifieSauves(commandes, Lit("Commandes", "Num"), pagesCommandes, perdues, intacts, partiels);
  }
}

// The header's first page of the free list names a page of records that is intact: that page is
// no free page, and its records are all kept.
TEST_F(SauvetageDefinitions, UneListeLibreQuiDesigneUnePageDeDonneesNeLaFaitPasPerdre) {
  CreeBaseLiee();
  const auto clients = Lit("Clients", "Id"), commandes = Lit("Commandes", "Num"), autre = Lit("Autre", "N");
  const long long feuille = PagesDe("Clients", "leaf")[3];
  {
    std::fstream f(Chemin("base.bd"), std::ios::in | std::ios::out | std::ios::binary);
    const unsigned char tronc[8] = {
        0, 0, static_cast<unsigned char>(feuille >> 8), static_cast<unsigned char>(feuille), 0, 0, 0, 9};
    f.seekp(32);
    f.write(reinterpret_cast<const char*>(tronc), 8);
  }
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  std::string journal;
  for (const auto& l : constats) journal += l + "\n";
  EXPECT_EQ(journal.find("illisible"), std::string::npos) << journal;
  EXPECT_EQ(Lit("Clients", "Id"), clients);
  EXPECT_EQ(Lit("Commandes", "Num"), commandes);
  EXPECT_EQ(Lit("Autre", "N"), autre);
}

namespace {

// The first page of the schema holds the catalog's definitions and the first table's: the
// catalog's leaves, found by the shape of their rows, are no old rows of that wider table, and
// no page is said left over.
TEST_F(Sauvetage, LesFeuillesDuCatalogueNeSontPasPrisesPourCellesDUneTablePlusLarge) {
  CreeBase(300, 100);
  const auto avantG = Lit("Grande", "Id"), avantP = Lit("Petite", "Code");
  const auto schema = PagesDe("sqlite_schema", "leaf");
  ASSERT_FALSE(schema.empty());
  Abime({schema.front()});
  std::vector<std::string> constats;
  ASSERT_SANS_ERREUR(DBEngine::RepairDatabase(Chemin("base.bd"), constats));
  std::string journal;
  for (const auto& l : constats) journal += l + "\n";
  EXPECT_EQ(journal.find("n'a pu être rattachée"), std::string::npos) << journal;
  EXPECT_NE(journal.find("sans perte d'enregistrement ni de valeur"), std::string::npos) << journal;
  EXPECT_EQ(Lit("Grande", "Id"), avantG);
  EXPECT_EQ(Lit("Petite", "Code"), avantP);
}

}  // namespace

namespace {

// A statement that meets a damaged page names the file, whatever it was doing.
TEST_F(Sauvetage, UnePageEndommageeRencontreeParUneInstructionNommeLeFichier) {
  CreeBase(300, 2000);
  Abime({PagesDe("Petite", "leaf")[3]});
  auto base = Ouvre();
  auto r = Essaie([&] { base.Execute("UPDATE Petite SET Libelle = 'x'", dbFailOnError); });
  EXPECT_EQ(r.Number, err::BaseEndommagee) << r.Description;
  EXPECT_NE(r.Description.find(Chemin("base.bd")), std::string::npos) << r.Description;
}

}  // namespace

// Repair: a sound file is left as it is; a damaged one is salvaged, row by row, into a new
// file that then takes its place in one rename, so that an interruption leaves one or the other.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "moteur/Injection.h"
#include "moteur/Interne.h"
#include "moteur/Noms.h"
#include "moteur/Tenue.h"

namespace moteur {

namespace {

std::string Dossier(const std::string& chemin) {
  auto pos = chemin.find_last_of('/');
  if (pos == std::string::npos) return ".";
  return pos == 0 ? "/" : chemin.substr(0, pos);
}

bool FichierSain(BaseEtat& base) {
  // SQLite's own check runs once, inside VerifieIntegrite: it reads the whole file, and on a
  // sound file it is most of the repair's time.
  try {
    if (!catalogue::EstCatalogue(base.db)) return false;
    catalogue::Charge(base);
    Database vue(std::shared_ptr<BaseEtat>(&base, [](BaseEtat*) {}));
    return vue.VerifieIntegrite().empty();
  } catch (const ErreurMoteur& e) {
    // A lock says nothing of the file's health.
    if (EstErreurVerrou(e.Number())) throw;
    return false;
  }
}

// Definitions that can still be read: the catalog when it survives, else what SQLite itself knows.
std::vector<DefTable> DefinitionsLisibles(BaseEtat& ancienne, std::vector<DefRelation>& relations,
                                          std::vector<DefPropriete>& proprietes) {
  std::vector<DefTable> tables;
  try {
    if (catalogue::EstCatalogue(ancienne.db)) {
      catalogue::Charge(ancienne);
      for (const auto& t : ancienne.cat.tables)
        if (t->id > 0) tables.push_back(*t);
      for (const auto& r : ancienne.cat.relations) relations.push_back(*r);
      proprietes = ancienne.cat.proprietes;
      return tables;
    }
  } catch (const ErreurMoteur& e) {
    if (EstErreurVerrou(e.Number())) throw;
    tables.clear();
    relations.clear();
  }
  try {
    sql::Requete r(ancienne.db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'MSys%' AND name NOT LIKE 'sqlite%'");
    while (r.Pas()) {
      DefTable t;
      t.nom = r.Texte(0);
      sql::Requete c(ancienne.db, "SELECT name, type FROM pragma_table_info(?) ORDER BY cid");
      c.Lie(1, std::string_view(t.nom));
      int ordinal = 0;
      while (c.Pas()) {
        DefChamp champ;
        champ.nom = c.Texte(0);
        std::string type = PlieNom(c.Texte(1));
        champ.type = type.find("int") != std::string::npos ? dbLong : type.find("real") != std::string::npos ? dbDouble
                     : type.find("blob") != std::string::npos                                     ? dbLongBinary
                                                                                                  : dbMemo;
        champ.taille = TailleFixe(champ.type);
        champ.zeroLongueur = true;
        champ.ordinal = ordinal++;
        if (NomValide(champ.nom)) t.champs.push_back(std::move(champ));
      }
      if (NomValide(t.nom) && !t.champs.empty()) tables.push_back(std::move(t));
    }
  } catch (const ErreurMoteur& e) {
    if (EstErreurVerrou(e.Number())) throw;
    throw ErreurMoteur(err::BaseEndommagee, {ancienne.chemin});
  }
  return tables;
}

// Copies every readable row; a damaged page is stepped over by jumping ahead in rowids.
void SauveLignes(BaseEtat& ancienne, BaseEtat& nouvelle, const DefTable& t) {
  std::string colonnes, marques;
  for (const auto& c : t.champs) {
    colonnes += ", " + CiteIdent(c.nom);
    marques += ", ?";
  }
  sql::Requete lecture(ancienne.db, "SELECT rowid" + colonnes + " FROM " + CiteIdent(t.nom) + " WHERE rowid > ? ORDER BY rowid");
  sql::Requete ecriture(nouvelle.db, "INSERT INTO " + CiteIdent(t.nom) + " (rowid" + colonnes + ") VALUES (?" + marques + ")",
                        sql::Operation::Ecriture);
  long long depuis = std::numeric_limits<long long>::min();
  long long saut = 1;
  for (int tentatives = 0; tentatives < 64; ++tentatives) {
    lecture.Reinitialise();
    lecture.Lie(1, depuis);
    try {
      while (lecture.Pas()) {
        depuis = lecture.Entier(0);
        ecriture.Reinitialise();
        for (int i = 0; i <= static_cast<int>(t.champs.size()); ++i) ecriture.Lie(i + 1, lecture.Brute(i));
        ecriture.Termine();
        saut = 1;
        veille::Point();
      }
      return;
    } catch (const ErreurMoteur& e) {
      if (e.Number() != err::BaseEndommagee && e.Number() != err::FormatNonReconnu) throw;
      if (depuis == std::numeric_limits<long long>::min()) return;
      // The jump over damaged pages grows fourfold at each failure; past the last possible rowid
      // there is nothing left to salvage.
      if (depuis > std::numeric_limits<long long>::max() - saut) return;
      depuis += saut;
      if (saut <= std::numeric_limits<long long>::max() / 4) saut *= 4;
    }
  }
}

void Recree(BaseEtat& ancienne, BaseEtat& nouvelle) {
  std::vector<DefRelation> relations;
  std::vector<DefPropriete> proprietes;
  auto tables = DefinitionsLisibles(ancienne, relations, proprietes);
  sql::PointDeReprise pr(nouvelle.db);
  for (const auto& p : proprietes) {
    bool existe = false;
    for (const auto& q : nouvelle.cat.proprietes) existe = existe || MemeNom(q.nom, p.nom);
    catalogue::EcritPropriete(nouvelle, Proprietaire::Base, 0, p, !existe);
  }
  for (auto t : tables) {
    auto index = std::move(t.index);
    t.index.clear();
    DefTable& creee = catalogue::AjouteTable(nouvelle, t);
    // Rows keep whatever they held, even values a rule would now refuse: the record check corrects them later.
    sql::Execute(nouvelle.db, "DROP TRIGGER IF EXISTS " + CiteIdent("MSysRegle_" + std::to_string(creee.id) + "_ins"));
    SauveLignes(ancienne, nouvelle, t);
    catalogue::RegenereRegles(nouvelle, creee);
    for (auto& x : index) {
      try {
        catalogue::AjouteIndex(nouvelle, creee.id, x);
      } catch (const ErreurMoteur&) {
        x.unique = x.primaire = false;  // the data no longer fit the key: keep the index for its order
        try {
          catalogue::AjouteIndex(nouvelle, creee.id, x);
        } catch (const ErreurMoteur&) {
        }
      }
    }
  }
  for (auto r : relations) {
    try {
      catalogue::AjouteRelation(nouvelle, r);
    } catch (const ErreurMoteur&) {
      r.attributs |= dbRelationDontEnforce;
      try {
        catalogue::AjouteRelation(nouvelle, r);
      } catch (const ErreurMoteur&) {
      }
    }
  }
  pr.Valide();
}

constexpr std::string_view PrefixeTemporaire = ".reparation";

// A repair killed in its middle leaves its new file beside the one it repaired. SQLite writes that
// file without interruption while the repair lasts and locks it while it does: one nobody has
// written for ten minutes and nobody holds is such a leftover.
bool EstReparationAbandonnee(const std::string& chemin) {
  struct stat etat {};
  if (::lstat(chemin.c_str(), &etat) != 0 || !S_ISREG(etat.st_mode) || ::time(nullptr) - etat.st_mtime < 600)
    return false;
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock verrou {};
  verrou.l_type = F_WRLCK;
  verrou.l_whence = SEEK_SET;
  const bool libre = ::fcntl(fd, F_GETLK, &verrou) == 0 && verrou.l_type == F_UNLCK;
  ::close(fd);
  return libre;
}

void SupprimeReparationsAbandonnees(const std::string& dossier) {
  std::vector<std::string> restes;
  if (DIR* d = ::opendir(dossier.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      std::string_view nom = e->d_name;
      if (nom.size() == PrefixeTemporaire.size() + 6 && nom.substr(0, PrefixeTemporaire.size()) == PrefixeTemporaire)
        restes.push_back(dossier + "/" + std::string(nom));
    }
    ::closedir(d);
  }
  for (const auto& reste : restes) {
    if (!EstReparationAbandonnee(reste)) continue;
    ::unlink(reste.c_str());
    ::unlink((reste + "-journal").c_str());
  }
}

std::string NomTemporaire(const std::string& chemin) {
  SupprimeReparationsAbandonnees(Dossier(chemin));
  std::string modele = Dossier(chemin) + "/" + std::string(PrefixeTemporaire) + "XXXXXX";
  std::vector<char> nom(modele.begin(), modele.end());
  nom.push_back('\0');
  int fd = ::mkstemp(nom.data());
  if (fd < 0) throw ErreurMoteur(errno == ENOSPC ? err::DisquePlein : err::AccesRefuse, {chemin});
  ::close(fd);
  ::unlink(nom.data());
  return nom.data();
}

void Synchronise(const std::string& chemin, bool dossier) {
  int fd = ::open(chemin.c_str(), (dossier ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

void DBEngine::RepairDatabase(const std::string& chemin) {
  if (EstFichierJet(chemin))
    throw ErreurMoteur(err::OperationNonGeree, "La réparation d'une base de données Jet n'est pas prise en charge : '" + chemin +
                                                   "' est lue en lecture seule par le moteur, et convertie à son format "
                                                   "lors du compactage.");
  // No other program may commit between what the repair reads and the file it puts in place: its
  // commit would be lost with the old file. Writers are kept out until then.
  std::optional<TenueEcritures> tenue(std::in_place, chemin);
  std::shared_ptr<BaseEtat> ancienne;
  try {
    ancienne = OuvreEtat(chemin, false, false);
  } catch (const ErreurMoteur& e) {
    if (e.Number() != err::BaseEndommagee) throw;
  }
  if (ancienne && FichierSain(*ancienne)) {
    // The file stays in place: its rules are rewritten under SQLite's own locking, beside the
    // other programs, which the hold would keep this connection from.
    tenue.reset();
    // Rules are rebuilt from the catalog in case a trigger was lost.
    sql::PointDeReprise pr(ancienne->db);
    for (const auto& t : ancienne->cat.tables)
      if (t->id > 0) catalogue::RegenereRegles(*ancienne, *t);
    pr.Valide();
    return;
  }
  if (!ancienne) {
    // The header looked cut short: let SQLite read what it can all the same.
    ancienne = std::make_shared<BaseEtat>();
    ancienne->chemin = chemin;
    injection::InstalleVfs();
    if (sqlite3_open_v2(chemin.c_str(), &ancienne->db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      ancienne->Ferme();
      throw ErreurMoteur(err::BaseEndommagee, {chemin});
    }
    sqlite3_extended_result_codes(ancienne->db, 1);
    veille::Installe(ancienne->db);
    // SQLite refuses outright a file shorter than its header says unless the schema is writable;
    // on this read-only connection that only lets it read up to the real end of the file.
    sqlite3_exec(ancienne->db, "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
  }
  std::string temporaire = NomTemporaire(chemin);
  try {
    std::string version = "4.0";
    {
      veille::Interruptible interruptible;
      Database nouvelle = DBEngine::CreateDatabase(temporaire, version);
      Recree(*ancienne, *nouvelle.etat());
      nouvelle.Close();
    }
    ancienne->Ferme();
    Synchronise(temporaire, false);
    // A program still reading the old file would go on with it: the file is in use.
    if (tenue->AutreProcessus() || !tenue->Inchangee()) throw ErreurMoteur(err::BaseEnUtilisation, {chemin});
    SuiteTenue suite(chemin, temporaire);
    if (::rename(temporaire.c_str(), chemin.c_str()) != 0) throw ErreurMoteur(err::AccesRefuse, {chemin});
    suite.Valide();
    Synchronise(Dossier(chemin), true);
  } catch (...) {
    ::unlink(temporaire.c_str());
    ::unlink((temporaire + "-journal").c_str());
    throw;
  }
}

}  // namespace moteur

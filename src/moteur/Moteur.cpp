// The engine: opening, creating, compacting and repairing database files, and the default
// workspace's transactions.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "moteur/Injection.h"
#include "moteur/Interne.h"
#include "moteur/Jet.h"
#include "moteur/Noms.h"
#include "moteur/Sauvetage.h"

namespace moteur {

namespace {

std::mutex verrouRegistre;
std::vector<std::weak_ptr<BaseEtat>>& Registre() {
  static std::vector<std::weak_ptr<BaseEtat>> registre;
  return registre;
}
int niveauEspaceTravail = 0;

std::vector<std::shared_ptr<BaseEtat>> BasesOuvertes() {
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  auto& r = Registre();
  r.erase(std::remove_if(r.begin(), r.end(), [](const auto& w) { auto b = w.lock(); return !b || !b->db; }), r.end());
  std::vector<std::shared_ptr<BaseEtat>> bases;
  for (const auto& w : r)
    if (auto b = w.lock()) bases.push_back(b);
  return bases;
}

void FonctionGuid(sqlite3_context* contexte, int, sqlite3_value**) {
  const std::string guid = conversion::NouveauGuid();
  sqlite3_result_text(contexte, guid.c_str(), static_cast<int>(guid.size()), SQLITE_TRANSIENT);
}

void FonctionIgnore(sqlite3_context* contexte, int, sqlite3_value**) {
  auto* base = static_cast<BaseEtat*>(sqlite3_user_data(contexte));
  sqlite3_result_int(contexte, base && base->ignoreRegles ? 1 : 0);
}

std::string Dossier(const std::string& chemin) {
  auto pos = chemin.find_last_of('/');
  if (pos == std::string::npos) return ".";
  return pos == 0 ? "/" : chemin.substr(0, pos);
}

bool DossierExiste(const std::string& chemin) {
  struct stat s{};
  return ::stat(Dossier(chemin).c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

bool Existe(const std::string& chemin) {
  struct stat s{};
  return ::lstat(chemin.c_str(), &s) == 0;
}

std::uint32_t LitGrosBoutiste(const unsigned char* p, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// A name longer than any folder can hold: said as such, rather than as a file that cannot be opened.
void RefuseNomTropLong(const std::string& chemin) {
  std::size_t debut = 0;
  for (std::size_t fin; debut <= chemin.size(); debut = fin + 1) {
    fin = std::min(chemin.find('/', debut), chemin.size());
    if (fin - debut > NAME_MAX)
      throw ErreurMoteur(err::CheminInvalide,
                         "'" + chemin + "' n'est pas un chemin d'accès valide : nom de fichier trop long (" +
                             std::to_string(fin - debut) + " octets, au plus " + std::to_string(NAME_MAX) + ").");
  }
}

// A file another program overwrote the header of no longer says what the rest of it still is:
// damaged, which the repair mends, not foreign.
ErreurMoteur EnteteEndommage(const std::string& chemin) {
  return ErreurMoteur(err::BaseEndommagee, "L'en-tête de la base de données '" + chemin +
                                               "' est endommagé : ses autres pages sont celles d'une base de "
                                               "données, mais elle ne peut pas être ouverte.");
}

ErreurMoteur ErreurFormat(const std::string& chemin) {
  if (!sauvetage::EnteteEcrase(chemin)) return ErreurMoteur(err::FormatNonReconnu, {chemin});
  return EnteteEndommage(chemin);
}

// What the file is, before SQLite sees it: missing, unreadable, foreign or cut short.
void VerifieFichier(const std::string& chemin) {
  if (chemin.empty() || chemin.find('\0') != std::string::npos) throw ErreurMoteur(err::CheminInvalide, {chemin});
  RefuseNomTropLong(chemin);
  struct stat s{};
  if (::stat(chemin.c_str(), &s) != 0) {
    if (errno == ENOENT) throw ErreurMoteur(DossierExiste(chemin) ? err::FichierIntrouvable : err::CheminInvalide, {chemin});
    if (errno == EACCES) throw ErreurMoteur(err::AccesRefuse, {chemin});
    throw ErreurMoteur(err::CheminInvalide, {chemin});
  }
  if (S_ISDIR(s.st_mode))
    throw ErreurMoteur(err::AccesRefuse, "Le moteur de base de données ne peut pas ouvrir '" + chemin +
                                             "' : c'est un dossier, pas un fichier de base de données.");
  if (!S_ISREG(s.st_mode))
    throw ErreurMoteur(err::FormatNonReconnu,
                       "Le moteur de base de données ne peut pas ouvrir '" + chemin +
                           "' : ce n'est pas un fichier ordinaire (tube nommé, périphérique ou prise).");
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ErreurMoteur(err::AccesRefuse, {chemin});
  unsigned char entete[100] = {};
  ssize_t lus = ::pread(fd, entete, sizeof entete, 0);
  ::close(fd);
  if (s.st_size == 0) throw ErreurMoteur(err::FormatNonReconnu, "Format de base de données non reconnu : '" + chemin + "' est un fichier vide.");
  // Jet 3.0 and 4.0 files are read before this check; what is left of that family is a later
  // format, or a header too short to say which.
  if (lus >= 19 && (std::memcmp(entete + 4, "Standard Jet DB", 15) == 0 || std::memcmp(entete + 4, "Standard ACE DB", 15) == 0)) {
    const bool jet = std::memcmp(entete + 4, "Standard Jet DB", 15) == 0;
    if (jet && lus > 0x14 && entete[0x14] > 1)
      throw ErreurMoteur(err::BaseEndommagee, "La base de données Jet '" + chemin +
                                                  "' est endommagée : son en-tête donne la version " +
                                                  std::to_string(entete[0x14]) +
                                                  ", qu'aucun fichier Jet n'a (0 pour Jet 3.0, 1 pour Jet 4.0).");
    if (FormatDuFichier(chemin) != FormatFichier::JetUlterieur)
      throw ErreurMoteur(err::BaseEndommagee, "La base de données Jet '" + chemin + "' est endommagée : le fichier est trop court.");
    throw ErreurMoteur(err::FormatNonReconnu, "'" + chemin +
                                                  "' est une base de données Access d'un format ultérieur (Access 2007 "
                                                  "ou plus récent, ACCDB) : ce format n'est pas pris en charge ; seuls "
                                                  "les formats Jet 3.0 et 4.0 sont lus.");
  }
  if (lus < 100 || std::memcmp(entete, "SQLite format 3", 16) != 0) throw ErreurFormat(chemin);
  std::uint32_t page = LitGrosBoutiste(entete + 16, 2);
  if (page == 1) page = 65536;
  std::uint32_t pages = LitGrosBoutiste(entete + 28, 4);
  bool compteValide = LitGrosBoutiste(entete + 24, 4) == LitGrosBoutiste(entete + 92, 4);
  // A writer stopped in the middle of a commit leaves its journal beside a file it had begun to
  // write, whose header may already count pages not written yet: the open rolls the journal back
  // and only then can the size be judged.
  struct stat journal{};
  bool journalEnAttente = ::stat((chemin + "-journal").c_str(), &journal) == 0 && journal.st_size > 0;
  if (sauvetage::EnteteEcrase(chemin)) throw EnteteEndommage(chemin);
  if (page < 512 || (page & (page - 1)) != 0 || s.st_size < static_cast<off_t>(page) ||
      (compteValide && !journalEnAttente && pages > 0 &&
       static_cast<unsigned long long>(pages) * page > static_cast<unsigned long long>(s.st_size))) {
    if (const std::string troncature = sauvetage::Troncature(chemin); !troncature.empty())
      throw ErreurMoteur(err::BaseEndommagee,
                         "Impossible d'ouvrir la base de données '" + chemin + "' : " + troncature + ".");
    throw ErreurMoteur(err::BaseEndommagee, {chemin});
  }
}

// Each row checked by the write rules runs a trigger program whose frame SQLite allocates and
// frees; with the C library's default trim threshold that memory goes back to the system and is
// taken again for every row, which makes bulk statements several times slower.
void ReglageMemoire() {
  static std::once_flag fait;
  std::call_once(fait, [] {
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
  });
}

std::atomic<long long> delaiOccupationMs{DelaiOccupationParDefaut.count()};

// Another process's commit holds the file for the moment it takes to write it: a statement met
// by it waits that long, the way SQLite's own busy timeout does, rather than fail at once.
// Longer holds are refused with a lock number, for the multi-station wait of the callers.
int AttendOccupation(void*, int essais) {
  static constexpr int pauses[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
  constexpr int nombre = static_cast<int>(sizeof pauses / sizeof pauses[0]);
  long long attendu = 0;
  for (int i = 0; i < essais; ++i) attendu += pauses[std::min(i, nombre - 1)];
  const long long delai = delaiOccupationMs.load();
  if (attendu >= delai) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(pauses[std::min(essais, nombre - 1)], delai - attendu)));
  return 1;
}

sqlite3* OuvreConnexion(const std::string& chemin, int drapeaux) {
  ReglageMemoire();
  injection::InstalleVfs();
  sqlite3* db = nullptr;
  // A connection is only ever used by the thread that holds its database: without its mutex,
  // every value read stops costing a lock and an unlock.
  int rc = sqlite3_open_v2(chemin.c_str(), &db, drapeaux | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    ErreurMoteur e = sql::Traduit(db, rc, sql::Operation::Ouverture, chemin);
    sqlite3_close_v2(db);
    throw e;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_handler(db, AttendOccupation, nullptr);
  veille::Installe(db);
  return db;
}

// Only the triggers the engine wrote run: whatever a trigger or a view another program planted in
// the file would do is refused when the statement that would run it is prepared. A file attached
// for a statement was checked when it was opened, and its rules are allowed for that statement.
// The engine's own statements name their common table expressions "MSys…" too: SQLite hands them
// here as it hands a view.
int Autorise(void* donnees, int, const char*, const char*, const char*, const char* source) {
  if (source == nullptr) return SQLITE_OK;
  auto* base = static_cast<BaseEtat*>(donnees);
  if (base->declencheursSurs.count(source) || base->declencheursAttaches.count(source)) return SQLITE_OK;
  const bool inconnu = std::any_of(base->objetsInconnus.begin(), base->objetsInconnus.end(),
                                   [&](const ObjetInconnu& o) { return o.nom == source; });
  if (!inconnu && std::strncmp(source, "MSys", 4) == 0) return SQLITE_OK;
  sql::NoteRefus(base->chemin, source);
  return SQLITE_DENY;
}

void Configure(BaseEtat& base) {
  sqlite3_create_function_v2(base.db, "utireorg_ignore", 0, SQLITE_UTF8, &base, FonctionIgnore, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(base.db, "utireorg_genguid", 0, SQLITE_UTF8, nullptr, FonctionGuid, nullptr, nullptr, nullptr);
  conversion::InstalleFonctionConversion(base.db);
  sqlite3_set_authorizer(base.db, Autorise, &base);
}

// An error met while reading the file at open time says what the file is.
[[noreturn]] void LeveOuverture(const ErreurMoteur& e, const std::string& chemin) {
  switch (e.Number()) {
    case err::BaseEndommagee: {
      // A file cut short says so: the user then looks for the rest of it rather than for damage.
      if (const std::string troncature = sauvetage::Troncature(chemin); !troncature.empty())
        throw ErreurMoteur(e.Number(), "Impossible d'ouvrir la base de données '" + chemin + "' : " + troncature + ".");
      // A description that already names the file says more than the general one.
      if (e.Description().find(chemin) != std::string::npos) throw e;
      throw ErreurMoteur(e.Number(), {chemin});
    }
    case err::FormatNonReconnu: throw ErreurFormat(chemin);
    case err::BaseEnUtilisation:
    case err::AccesRefuse: throw ErreurMoteur(e.Number(), {chemin});
    case err::LectureVerrouillee:
    case err::Verrouille: throw ErreurMoteur(err::BaseEnUtilisation, {chemin});
    default: throw e;
  }
}

std::string VersionDemandee(int options, const std::string& actuelle) {
  if (options & dbVersion40) return "4.0";
  if (options & dbVersion30) return "3.0";
  return actuelle;
}

void Supprime(const std::string& chemin) {
  ::unlink(chemin.c_str());
  ::unlink((chemin + "-journal").c_str());
}

void SynchroniseDossier(const std::string& chemin) {
  int fd = ::open(Dossier(chemin).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// A number, a Yes/No or a currency stored in a form its type does not read, or past its range:
// another program wrote it, and no write through the engine would have. Empty for the other types.
std::string ConditionHorsType(const DefChamp& c) {
  const std::string champ = CiteIdent(c.nom);
  auto genres = [&](const char* admis) { return "typeof(" + champ + ") NOT IN (" + admis + ", 'null')"; };
  auto plage = [&](const char* min, const char* max) {
    return genres("'integer'") + " OR " + champ + " < " + min + " OR " + champ + " > " + max;
  };
  switch (c.type) {
    // The engine stores Yes as -1 and No as 0; any other number reads Yes.
    case dbBoolean: return genres("'integer'") + " OR " + champ + " NOT IN (0, -1)";
    case dbByte: return plage("0", "255");
    case dbInteger: return plage("-32768", "32767");
    case dbLong: return (c.attributs & dbAutoIncrField) ? std::string() : plage("-2147483648", "2147483647");
    case dbCurrency: return genres("'integer', 'real'") + " OR abs(" + champ + ") > 922337203685477.5807";
    // SQLite keeps an infinity, and a Single past what four bytes hold: neither is a number of
    // the field's type.
    case dbSingle: return genres("'integer', 'real'") + " OR abs(" + champ + ") > 3.402823466e38";
    case dbDouble: return genres("'integer', 'real'") + " OR abs(" + champ + ") > 1.7976931348623157e308";
    default: return {};
  }
}

// A text longer than its field, as a damaged or older file may hold, cannot be compacted; nor can
// a text whose bytes form no UTF-8, which no later reading gives back, nor a value its field's type
// does not read: the record check that this refusal leads to corrects them.
void VerifieLongueurs(sqlite3* db, const Catalogue& cat) {
  InstalleFonctionUtf8(db);
  for (const auto& t : cat.tables) {
    if (t->Systeme()) continue;
    std::string condition;
    for (const auto& c : t->champs) {
      if (const std::string horsType = ConditionHorsType(c); !horsType.empty())
        condition += (condition.empty() ? "" : " OR ") + horsType;
      if (!EstTypeTexte(c.type)) continue;
      const std::string champ = CiteIdent(c.nom);
      condition += (condition.empty() ? "" : " OR ") + ConditionTexteIllisible(champ);
      if (c.type == dbText) condition += " OR length(" + champ + ") > " + std::to_string(c.taille);
    }
    if (condition.empty()) continue;
    sql::Requete r(db, "SELECT 1 FROM " + CiteIdent(t->nom) + " WHERE " + condition + " LIMIT 1");
    if (r.Pas()) throw ErreurMoteur(err::ValeurTropLongue, {t->nom});
  }
}

// The length check decodes every text of the file, while VACUUM INTO copies records without
// decoding them: run one after the other, the check alone costs more than half the copy. It
// therefore reads on a connection of its own, in a second thread, while the copy is written.
// Its read transaction begins before the copy's, and a writer cannot commit while it lasts, so
// both see the same state of the file.
class ControleLongueurs {
 public:
  explicit ControleLongueurs(BaseEtat& origine) : cat_(origine.cat) {
    const char* fichier = sqlite3_db_filename(origine.db, "main");
    if (fichier == nullptr || *fichier == '\0') {
      // An image in memory or in a deleted file cannot be opened a second time.
      VerifieLongueurs(origine.db, origine.cat);
      return;
    }
    db_ = OuvreConnexion(fichier, SQLITE_OPEN_READONLY);
    try {
      sql::Execute(db_, "BEGIN", sql::Operation::Lecture);
      sql::Requete(db_, "SELECT count(*) FROM sqlite_master").Termine();
    } catch (...) {
      Ferme();
      throw;
    }
    try {
      fil_ = std::thread([this] { Verifie(); });
    } catch (const std::system_error&) {
      Verifie();  // no second thread to be had: the check comes first, as on a single core
    }
  }
  ~ControleLongueurs() {
    if (fil_.joinable()) {
      sqlite3_interrupt(db_);
      fil_.join();
    }
    Ferme();
  }
  ControleLongueurs(const ControleLongueurs&) = delete;
  ControleLongueurs& operator=(const ControleLongueurs&) = delete;

  // Waits for the check and lets go of the source; throws what the check found.
  void Resultat() {
    // The copy is written: a check still reading must not freeze the window while it ends.
    while (fil_.joinable() && !fini_) {
      Veille();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (fil_.joinable()) fil_.join();
    Ferme();
    if (erreur_) std::rethrow_exception(erreur_);
  }

 private:
  void Verifie() {
    try {
      VerifieLongueurs(db_, cat_);
    } catch (...) {
      erreur_ = std::current_exception();
    }
    fini_ = true;
  }
  void Ferme() {
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  const Catalogue& cat_;
  sqlite3* db_ = nullptr;
  std::thread fil_;
  std::atomic<bool> fini_{false};
  std::exception_ptr erreur_;
};

}  // namespace

sqlite3* OuvreConnexionMoteur(const std::string& chemin, int drapeaux) { return OuvreConnexion(chemin, drapeaux); }
void ConfigureConnexion(BaseEtat& base) { Configure(base); }

void EnregistreBase(const std::shared_ptr<BaseEtat>& base) {
  std::lock_guard<std::mutex> verrou(verrouRegistre);
  // A handle left behind keeps its database's whole block allocated: a process that opens file
  // after file must not keep one per file it ever opened.
  auto& r = Registre();
  r.erase(std::remove_if(r.begin(), r.end(), [](const auto& w) { return w.expired(); }), r.end());
  r.push_back(base);
}

std::shared_ptr<BaseEtat> OuvreEtat(const std::string& chemin, bool exclusif, bool lectureSeule) {
  if (EstFichierJet(chemin)) return jet::Ouvre(chemin, exclusif);
  VerifieFichier(chemin);
  auto base = std::make_shared<BaseEtat>();
  base->chemin = chemin;
  base->exclusif = exclusif;
  base->db = OuvreConnexion(chemin, lectureSeule ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  base->lectureSeule = lectureSeule || sqlite3_db_readonly(base->db, "main") == 1;
  Configure(*base);
  try {
    if (!catalogue::EstCatalogue(base->db)) {
      // The catalog's tables are there and only the header's mark of the engine is not: damage.
      if (catalogue::TablesDuCatalogue(base->db))
        throw ErreurMoteur(err::BaseEndommagee, "L'en-tête de la base de données '" + chemin +
                                                    "' est endommagé : il ne porte plus la marque du moteur, dont "
                                                    "elle a pourtant les tables.");
      throw ErreurMoteur(err::FormatNonReconnu, "Format de base de données non reconnu : '" + chemin +
                                                    "' n'est pas une base de données de ce moteur.");
    }
    if (!base->lectureSeule) {
      sql::Requete mode(base->db, "PRAGMA journal_mode", sql::Operation::Ouverture);
      if (mode.Pas() && PlieNom(mode.Texte(0)) != "delete") {
        mode.Reinitialise();
        sql::Execute(base->db, "PRAGMA journal_mode = DELETE", sql::Operation::Ouverture);
      }
    }
    catalogue::Charge(*base);
  } catch (const ErreurMoteur& e) {
    base->Ferme();
    LeveOuverture(e, chemin);
  }
  if (exclusif) {
    try {
      sql::Execute(base->db, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; COMMIT", sql::Operation::Ouverture);
    } catch (const ErreurMoteur&) {
      base->Ferme();
      throw ErreurMoteur(err::FichierDejaUtilise, {chemin});
    }
  }
  return base;
}

FormatFichier FormatDuFichier(const std::string& chemin) {
  // Without O_NONBLOCK, a named pipe given for a database would hold the open until some other
  // program writes into it: only a regular file is read.
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? FormatFichier::Absent : FormatFichier::Inconnu;
  struct stat s{};
  if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
    ::close(fd);
    return FormatFichier::Inconnu;
  }
  unsigned char entete[32] = {};
  ssize_t lus = ::pread(fd, entete, sizeof entete, 0);
  ::close(fd);
  if (lus >= 16 && std::memcmp(entete, "SQLite format 3", 16) == 0) return FormatFichier::Moteur;
  if (lus >= 21 && std::memcmp(entete + 4, "Standard ACE DB", 15) == 0) return FormatFichier::JetUlterieur;
  if (lus >= 21 && std::memcmp(entete + 4, "Standard Jet DB", 15) == 0) {
    // Byte 0x14 gives the version: 0 for Jet 3.0, 1 for Jet 4.0. Later formats sign themselves
    // otherwise: any other number under this signature is damage.
    if (entete[0x14] == 0) return FormatFichier::Jet3;
    if (entete[0x14] == 1) return FormatFichier::Jet4;
    return FormatFichier::Inconnu;
  }
  // Pages of the engine behind an overwritten signature: the file is one, damaged.
  if (sauvetage::EnteteEcrase(chemin)) return FormatFichier::Moteur;
  return FormatFichier::Inconnu;
}

bool EstFichierJet(const std::string& chemin) {
  auto f = FormatDuFichier(chemin);
  return f == FormatFichier::Jet3 || f == FormatFichier::Jet4;
}

Database DBEngine::OpenDatabase(const std::string& chemin, bool exclusif, bool lectureSeule, const std::string&) {
  auto base = OuvreEtat(chemin, exclusif, lectureSeule);
  EnregistreBase(base);
  return Database(base);
}

Database DBEngine::CreateDatabase(const std::string& chemin, const std::string& version) {
  if (chemin.empty()) throw ErreurMoteur(err::CheminInvalide, {chemin});
  RefuseNomTropLong(chemin);
  if (Existe(chemin)) throw ErreurMoteur(err::DestinationExiste, {chemin});
  if (!DossierExiste(chemin)) throw ErreurMoteur(err::CheminInvalide, {chemin});
  if (version != "3.0" && version != "4.0") throw ErreurMoteur(err::OperationInvalide);
  auto base = std::make_shared<BaseEtat>();
  base->chemin = chemin;
  try {
    base->db = OuvreConnexion(chemin, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE);
    Configure(*base);
    sql::Execute(base->db, "PRAGMA page_size = 4096; PRAGMA journal_mode = DELETE", sql::Operation::Structure);
    catalogue::Cree(base->db, version);
    catalogue::Charge(*base);
  } catch (...) {
    base->Ferme();
    Supprime(chemin);
    throw;
  }
  EnregistreBase(base);
  return Database(base);
}

void DBEngine::CompactDatabase(const std::string& source, const std::string& destination, const std::string&,
                               int options, const std::string&) {
  if (destination.empty()) throw ErreurMoteur(err::CheminInvalide, {destination});
  // Read-write, so that a journal left by an interrupted write is rolled back before copying.
  auto origine = OuvreEtat(source, false, false);
  std::string version;
  for (const auto& p : origine->cat.proprietes)
    if (MemeNom(p.nom, "Version")) version = p.valeur.EnTexte();
  if (version != "3.0" && version != "4.0") throw ErreurMoteur(err::VersionIndeterminee);
  VerifieDestination(destination);
  ControleLongueurs controle(*origine);
  EcritCopie(*origine, source, destination, VersionDemandee(options, version), [&] { controle.Resultat(); });
}

void VerifieDestination(const std::string& destination) {
  if (Existe(destination)) throw ErreurMoteur(err::DestinationExiste, {destination});
  if (!DossierExiste(destination)) throw ErreurMoteur(err::CheminInvalide, {destination});
}

void EcritCopie(BaseEtat& origine, const std::string& source, const std::string& destination, const std::string& version,
                const std::function<void()>& avantFinition) {
  try {
    {
      veille::Interruptible interruptible;
      sql::Requete r(origine.db, "VACUUM INTO ?", sql::Operation::Lecture);
      r.Lie(1, std::string_view(destination));
      r.Termine();
    }
    if (avantFinition) avantFinition();
    origine.Ferme();
    // Writing the version commits with a sync, so the new file is on disk when we return.
    auto copie = OuvreEtat(destination, false, false);
    catalogue::EcritPropriete(*copie, Proprietaire::Base, 0, {"Version", dbText, Valeur(version)}, false);
    copie->Ferme();
    SynchroniseDossier(destination);
  } catch (const ErreurMoteur& e) {
    Supprime(destination);
    if (e.Number() == err::LectureVerrouillee || e.Number() == err::Verrouille)
      throw ErreurMoteur(err::BaseEnUtilisation, {source});
    // The copy is the file that could not be written: it is the one named.
    if (e.Number() == err::AccesRefuse && e.Description().find(destination) == std::string::npos)
      throw ErreurMoteur(err::AccesRefuse, {destination});
    throw;
  } catch (...) {
    Supprime(destination);
    throw;
  }
}

void ConvertitJet(const std::string& source, const std::string& destination, const std::string& version) {
  std::vector<std::string> constats;
  ConvertitJet(source, destination, version, constats);
}

void ConvertitJet(const std::string& source, const std::string& destination, const std::string& version,
                  std::vector<std::string>& constats) {
  if (destination.empty()) throw ErreurMoteur(err::CheminInvalide, {destination});
  if (version != "3.0" && version != "4.0") throw ErreurMoteur(err::OperationInvalide);
  auto origine = OuvreEtat(source, false, true);
  VerifieDestination(destination);
  EcritCopie(*origine, source, destination, version);
  constats.insert(constats.end(), origine->pertes.begin(), origine->pertes.end());
}

void DBEngine::Idle(int) { sqlite3_release_memory(1 << 20); }

void DBEngine::BeginTrans() {
  auto bases = BasesOuvertes();
  std::string nom = "espace" + std::to_string(niveauEspaceTravail + 1);
  for (const auto& b : bases) {
    if (b->lectureSeule) continue;
    if (b->niveauTransaction == 0) sql::OublieCauseAnnulation(b->db);
    sql::Execute(b->db, "SAVEPOINT " + nom, sql::Operation::Ecriture);
    ++b->niveauTransaction;
  }
  ++niveauEspaceTravail;
}

void DBEngine::CommitTrans() {
  if (niveauEspaceTravail == 0) throw ErreurMoteur(3034, "Validation ou annulation sans BeginTrans.");
  std::string nom = "espace" + std::to_string(niveauEspaceTravail);
  std::optional<ErreurMoteur> premiere;
  for (const auto& b : BasesOuvertes()) {
    if (b->niveauTransaction < niveauEspaceTravail) continue;
    if (b->TransactionPerdue()) {
      // Nothing is left to commit: SQLite undid it all after an error. The engine stops counting
      // the transaction and forgets the definitions it had changed.
      if (!premiere) premiere = b->ErreurTransactionPerdue();
      b->niveauTransaction = 0;
      IgnoreEchec<ErreurMoteur>("the lost transaction is the error reported; the definitions load again at next use",
                                [&] { catalogue::Charge(*b); });
      continue;
    }
    try {
      sql::Execute(b->db, "RELEASE " + nom, sql::Operation::Ecriture);
      --b->niveauTransaction;
    } catch (const ErreurMoteur& e) {
      if (!premiere) premiere = e;
    }
  }
  if (premiere) throw *premiere;
  --niveauEspaceTravail;
}

void DBEngine::Rollback() {
  if (niveauEspaceTravail == 0) throw ErreurMoteur(3034, "Validation ou annulation sans BeginTrans.");
  std::string nom = "espace" + std::to_string(niveauEspaceTravail);
  std::optional<ErreurMoteur> premiere;
  for (const auto& b : BasesOuvertes()) {
    if (b->niveauTransaction < niveauEspaceTravail) continue;
    // The outermost level is the SQLite transaction itself: releasing its savepoint would be a
    // commit, which another process may refuse, and the connection would stay inside a
    // transaction the engine no longer counts. It is rolled back as a whole instead.
    const bool annulee = b->niveauTransaction == 1 || b->TransactionPerdue()
                             ? sql::AnnuleTransaction(b->db)
                             : sqlite3_exec(b->db, ("ROLLBACK TO " + nom + "; RELEASE " + nom).c_str(), nullptr, nullptr,
                                            nullptr) == SQLITE_OK;
    if (!annulee && !premiere)
      premiere = ErreurMoteur(3034, "L'annulation de la transaction de la base '" + b->chemin +
                                        "' a échoué : " + sqlite3_errmsg(b->db) + ".");
    --b->niveauTransaction;
    // Definitions changed in the transaction are gone too. A file that cannot be read back
    // (a full disk during the undo) must not leave the workspace in a transaction nor the
    // other databases not rolled back.
    try {
      catalogue::Charge(*b);
    } catch (const ErreurMoteur& e) {
      if (!premiere) premiere = e;
    }
  }
  --niveauEspaceTravail;
  if (premiere) throw *premiere;
}

int DBEngine::NiveauTransaction() { return niveauEspaceTravail; }

void DefinitDelaiOccupation(std::chrono::milliseconds delai) { delaiOccupationMs = std::max<long long>(0, delai.count()); }

}  // namespace moteur

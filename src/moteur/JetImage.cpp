// Opening a Jet file: its first page checked here, its content read by a child process and
// written into a private image of this engine's format (see Jet.h).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>

#include "moteur/Jet.h"
#include "moteur/Noms.h"

namespace moteur::jet {

namespace {

// How long the reading process may stay silent. Reading one record never takes this long, even
// a long value of a gigabyte; a file that makes libmdb loop does.
constexpr int SilenceMaxMs = 60000;

// The header page is scrambled from offset 0x18 with RC4 under this fixed key.
constexpr unsigned char CleEntete[4] = {0xC7, 0xDA, 0x39, 0x6B};

void Rc4(const unsigned char* cle, std::size_t longueurCle, unsigned char* donnees, std::size_t n) {
  unsigned char s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + cle[static_cast<std::size_t>(i) % longueurCle]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    donnees[k] ^= s[(s[i] + s[j]) & 0xFF];
  }
}

[[noreturn]] void Endommage(const std::string& chemin, const std::string& detail) {
  throw ErreurMoteur(err::BaseEndommagee, "La base de données Jet '" + chemin + "' est endommagée : " + detail + ".");
}

[[noreturn]] void Protegee(const std::string& chemin, const char* comment) {
  throw ErreurMoteur(3031, "La base de données Jet '" + chemin + "' est " + comment +
                               " : le moteur ne sait pas la lire. Retirez cette protection avec le logiciel qui l'a "
                               "créée, puis recommencez.");
}

// A database key other than zero means its pages are encrypted; a password, that it is protected.
void VerifieProtection(const std::string& chemin, unsigned char* page, int version) {
  Rc4(CleEntete, sizeof CleEntete, page + 0x18, version >= 1 ? 128 : 126);
  std::uint32_t cle = 0;
  for (int i = 3; i >= 0; --i) cle = (cle << 8) | page[0x3E + i];
  if (cle != 0) Protegee(chemin, "chiffrée");
  unsigned char masque[4] = {0, 0, 0, 0};
  if (version >= 1) {
    // Jet 4.0 hides the password under the integer part of the creation date.
    double date;
    std::memcpy(&date, page + 0x72, sizeof date);
    if (std::isfinite(date) && std::fabs(date) < 2e9) {
      auto m = static_cast<std::uint32_t>(static_cast<std::int32_t>(date));
      for (int i = 0; i < 4; ++i) masque[i] = static_cast<unsigned char>((m >> (8 * i)) & 0xFF);
    }
  }
  int longueur = version >= 1 ? 40 : 20;
  for (int i = 0; i < longueur; ++i)
    if ((page[0x42 + i] ^ masque[i % 4]) != 0) Protegee(chemin, "protégée par un mot de passe");
}

// ---- The reading process ----

// Caps what a runaway allocation in libmdb can take: it then fails in the child alone.
void LimiteMemoire() {
  long pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  rlimit limite{};
  limite.rlim_cur = limite.rlim_max = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + (rlim_t{4} << 30);
  ::setrlimit(RLIMIT_AS, &limite);
}

[[noreturn]] void Enfant(const std::string& chemin, const Entete& entete, int fd, pid_t parent) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  // libmdb reports on stderr what it finds odd; the builder learns it from the stream instead.
  int nul = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nul >= 0) {
    ::dup2(nul, 1);
    ::dup2(nul, 2);
  }
  ::signal(SIGPIPE, SIG_DFL);
  LimiteMemoire();
  {
    Ecrivain sortie(fd);
    LitFichier(chemin, entete, sortie);
  }
  ::_exit(0);
}

// The child that reads the file; always killed and reaped, whatever happens to the builder.
class Processus {
 public:
  Processus(const std::string& chemin, const Entete& entete) {
    int tube[2];
    if (::pipe2(tube, O_CLOEXEC) != 0) throw ErreurMoteur(3035);
    pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
      ::close(tube[0]);
      ::close(tube[1]);
      throw ErreurMoteur(3035);
    }
    if (pid_ == 0) {
      ::close(tube[0]);
      Enfant(chemin, entete, tube[1], parent);
    }
    ::close(tube[1]);
    fd_ = tube[0];
  }
  ~Processus() {
    ::close(fd_);
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  Processus(const Processus&) = delete;
  Processus& operator=(const Processus&) = delete;
  int fd() const { return fd_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// ---- The image ----

bool EstNumeroDe(int numero, std::initializer_list<int> numeros) {
  for (int n : numeros)
    if (n == numero) return true;
  return false;
}

// What the image cannot take of a definition is left out rather than refusing the whole file:
// an index the data no longer fit, a relation whose data are orphaned. Any other failure (a
// full disk above all) stops the open.
bool DefinitionRefusee(const ErreurMoteur& e) {
  return EstNumeroDe(e.Number(), {err::Doublon, err::CleNulle, err::NomInvalide, err::ElementIntrouvable, err::CleExistante,
                                  err::TableSansChamp, err::TableInexistante, err::PasDEnregistrementLie, err::ProprieteExiste,
                                  3012, 3368, 3374, 3375, 3377});
}

void Perte(BaseEtat& base, const std::string& texte) { base.pertes.push_back("#ALERT# " + texte + "."); }

void AjouteIndexSouple(BaseEtat& base, long long tableId, DefIndex index) {
  const DefTable* t = base.cat.TableParId(tableId);
  const std::string nom = "Index '" + (t ? t->nom : std::string()) + "." + index.nom + "'";
  try {
    catalogue::AjouteIndex(base, tableId, index);
    return;
  } catch (const ErreurMoteur& e) {
    if (!DefinitionRefusee(e)) throw;
    if (!index.unique && !index.primaire) {
      Perte(base, nom + " : il n'est pas repris (" + e.Description() + ")");
      return;
    }
  }
  index.unique = index.primaire = false;  // kept for its order when its key no longer holds
  try {
    catalogue::AjouteIndex(base, tableId, index);
    Perte(base, nom + " : les enregistrements lus n'en respectent plus la clé ; il est gardé, sans être unique");
  } catch (const ErreurMoteur& e) {
    if (!DefinitionRefusee(e)) throw;
    Perte(base, nom + " : il n'est pas repris (" + e.Description() + ")");
  }
}

void AjouteRelationSouple(BaseEtat& base, DefRelation relation) {
  const std::string nom = "Relation '" + relation.nom + "' entre '" + relation.table + "' et '" + relation.tableEtrangere + "'";
  try {
    catalogue::AjouteRelation(base, relation);
    return;
  } catch (const ErreurMoteur& e) {
    if (!DefinitionRefusee(e)) throw;
    if (e.Number() != err::PasDEnregistrementLie) {
      Perte(base, nom + " : elle n'est pas reprise (" + e.Description() + ")");
      return;
    }
  }
  // Orphans in the file: kept as the file keeps them, the relation unenforced.
  const bool appliquee = relation.Appliquee();
  relation.attributs |= dbRelationDontEnforce;
  try {
    catalogue::AjouteRelation(base, relation);
    if (appliquee) Perte(base, nom + " : des enregistrements n'ont pas d'enregistrement lié ; elle n'est plus appliquée");
  } catch (const ErreurMoteur& e) {
    if (!DefinitionRefusee(e)) throw;
    Perte(base, nom + " : elle n'est pas reprise (" + e.Description() + ")");
  }
}

// One table being filled: its rows go in as stored, past the write rules, which are put back
// once its last row is in.
class Chantier {
 public:
  explicit Chantier(BaseEtat& base) : base_(base) {}

  void Commence(DefTable def) {
    Termine();
    index_ = std::move(def.index);
    def.index.clear();
    DefTable& table = catalogue::AjouteTable(base_, def);
    id_ = table.id;
    colonnes_ = static_cast<int>(def.champs.size());
    for (const char* suffixe : {"_ins", "_maj"})
      sql::Execute(base_.db, "DROP TRIGGER IF EXISTS " + CiteIdent("MSysRegle_" + std::to_string(id_) + suffixe), sql::Operation::Structure);
    std::string noms, marques;
    for (const auto& c : def.champs) {
      noms += (noms.empty() ? "" : ", ") + CiteIdent(c.nom);
      marques += marques.empty() ? "?" : ", ?";
    }
    insertion_.emplace(base_.db, "INSERT INTO " + CiteIdent(table.nom) + " (" + noms + ") VALUES (" + marques + ")",
                       sql::Operation::Ecriture);
  }

  void Ajoute(Lecteur& flux, const std::string& chemin) {
    std::int64_t n = flux.Entier();
    if (!insertion_ || n != colonnes_) Endommage(chemin, "un enregistrement ne correspond pas à sa table");
    insertion_->Reinitialise();
    for (int i = 1; i <= colonnes_; ++i) insertion_->Lie(i, flux.Valeur());
    insertion_->Termine();
  }

  void Termine() {
    if (!insertion_) return;
    insertion_.reset();
    for (auto& x : index_) AjouteIndexSouple(base_, id_, x);
    index_.clear();
    if (DefTable* t = base_.cat.TableParId(id_)) catalogue::RegenereRegles(base_, *t);
  }

 private:
  BaseEtat& base_;
  long long id_ = 0;
  int colonnes_ = 0;
  std::vector<DefIndex> index_;
  std::optional<sql::Requete> insertion_;
};

void EcritProprietesBase(BaseEtat& base, const std::vector<DefPropriete>& proprietes) {
  for (const auto& p : proprietes) {
    try {
      catalogue::EcritPropriete(base, Proprietaire::Base, 0, p, true);
    } catch (const ErreurMoteur& e) {
      if (!DefinitionRefusee(e)) throw;
    }
  }
}

void Construit(BaseEtat& base, Lecteur& flux, const std::string& chemin) {
  // One transaction for the whole image, opened as the engine opens its own.
  sql::PointDeReprise transaction(base.db);
  Chantier chantier(base);
  for (;;) {
    switch (flux.Type()) {
      case Message::Base: EcritProprietesBase(base, flux.Proprietes()); break;
      case Message::Table: chantier.Commence(flux.Table()); break;
      case Message::Ligne: chantier.Ajoute(flux, chemin); break;
      case Message::FinTable: chantier.Termine(); break;
      case Message::Relation:
        chantier.Termine();
        AjouteRelationSouple(base, flux.Relation());
        break;
      case Message::Perte: Perte(base, flux.Texte()); break;
      case Message::Erreur: {
        int numero = static_cast<int>(flux.Entier());
        std::string description = flux.Texte();
        throw ErreurMoteur(numero, description);
      }
      case Message::Fin:
        chantier.Termine();
        transaction.Valide();
        return;
      default: Endommage(chemin, "sa lecture a produit des données incohérentes");
    }
  }
}

// An empty database of this engine, in a file SQLite creates in the temporary folder and
// unlinks at once: only this connection can reach it, and it disappears with it.
void CreeImage(BaseEtat& base, const std::string& version) {
  base.db = OuvreConnexionMoteur("", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  ConfigureConnexion(base);
  sql::Execute(base.db, "PRAGMA page_size = 4096", sql::Operation::Structure);
  catalogue::Cree(base.db, version);
  catalogue::Charge(base);
}

// A shared lock while the file is read, kept exclusive for as long as the database is open
// when it was opened exclusively: another exclusive open, or a read meanwhile, is refused.
int Verrouille(const std::string& chemin, bool exclusif) {
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ErreurMoteur(errno == EACCES ? err::AccesRefuse : err::FichierIntrouvable, {chemin});
  if (::flock(fd, (exclusif ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    ::close(fd);
    throw ErreurMoteur(exclusif ? err::FichierDejaUtilise : err::BaseEnUtilisation, {chemin});
  }
  return fd;
}

}  // namespace

Entete VerifieEntete(const std::string& chemin) {
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ErreurMoteur(errno == EACCES ? err::AccesRefuse : err::FichierIntrouvable, {chemin});
  struct stat s{};
  unsigned char page[4096] = {};
  ssize_t lus = ::fstat(fd, &s) == 0 ? ::pread(fd, page, sizeof page, 0) : -1;
  ::close(fd);
  Entete e;
  e.version = page[0x14];
  e.taillePage = e.version >= 1 ? 4096 : 2048;
  if (lus < e.taillePage || s.st_size < 3 * e.taillePage)
    Endommage(chemin, "le fichier est tronqué : il n'a que " + std::to_string(s.st_size) +
                          " octets, moins que ses trois premières pages");
  if (page[0] != 0) Endommage(chemin, "sa première page n'est pas une page d'en-tête");
  e.pages = s.st_size / e.taillePage;
  e.reste = s.st_size % e.taillePage;
  VerifieProtection(chemin, page, e.version);
  return e;
}

std::shared_ptr<BaseEtat> Ouvre(const std::string& chemin, bool exclusif) {
  Entete entete = VerifieEntete(chemin);
  int verrou = Verrouille(chemin, exclusif);
  auto base = std::make_shared<BaseEtat>();
  base->chemin = chemin;
  base->exclusif = exclusif;
  try {
    CreeImage(*base, entete.version >= 1 ? "4.0" : "3.0");
    {
      Processus lecture(chemin, entete);
      Lecteur flux(lecture.fd(), chemin, SilenceMaxMs);
      Construit(*base, flux, chemin);
    }
    catalogue::Charge(*base);
    base->lectureSeule = true;
  } catch (...) {
    base->Ferme();
    ::close(verrou);
    throw;
  }
  if (exclusif) base->verrou = verrou;
  else ::close(verrou);
  return base;
}

}  // namespace moteur::jet

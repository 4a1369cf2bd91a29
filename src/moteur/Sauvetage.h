// Reading the records of a damaged file straight from its pages.
//
// SQLite stops at the first page it cannot read; a repair must go on past it. The file is
// therefore read here page by page, following each table's tree as its pages describe it: a page
// that does not hold together (overwritten, cut off, pointing outside the file) is stepped over
// alone, and every record of every other page is kept, exactly as stored. Leaves that a damaged
// inner page no longer reaches are found among the pages that no tree claims, and given back to
// the table whose lost key range and record shape they fit. Nothing is guessed: a record is
// handed over only when its cell holds together, and a value only when all of its bytes could be
// read and, for a text, form valid UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "moteur/Valeur.h"

namespace moteur::sauvetage {

// Storage class a column is expected to hold, from its declared SQLite type.
enum class Classe : std::uint8_t { Entier, Reel, Texte, Blob, Cle };  // Cle: the rowid's alias

// One tree of the file, as its schema names it.
struct Arbre {
  std::uint32_t racine = 0;
  bool table = false;                 // a table's tree, else an index's
  std::vector<Classe> colonnes;       // its columns when its records are wanted; else empty
  std::optional<long long> cleMax;    // highest key it ever gave, when the file keeps it
  std::optional<std::size_t> tableIndexee;  // for an index: the tree of its table
  // For an index: the table's columns it holds, in order; empty when it holds an expression or
  // the key's alias, which tell nothing of a record's values.
  std::vector<std::size_t> colonnesIndexees;
  // A stray leaf is given to it only when each of its records has all of its columns, each of
  // its class (a Blob column, untyped, takes any): for a tree whose root was lost, found by the
  // shape of its rows alone.
  bool formeExacte = false;
};

struct Enregistrement {
  long long cle = 0;                // the rowid
  std::vector<Valeur> valeurs;      // one per column of the table; missing ones Null
  std::vector<std::size_t> illisibles;  // columns whose value could not be read whole
  // Two cells gave the same key and the indexes did not name this one's: it is not saved.
  bool ecarte = false;
  // The key its damaged cell gave, when an index gave the record its own key back.
  std::optional<long long> cleLue;
};

// A key range whose pages were lost: keys k with bas < k <= haut; an absent bound is open.
struct Trou {
  std::optional<long long> bas, haut;
};

struct Bilan {
  long long lus = 0;                 // records handed over
  long long cellulesIllisibles = 0;  // records found on a readable page but not readable
  long long pagesAbimees = 0;        // pages of the tree that could not be read
  // Records lost. Exact when an index of the table could be read whole: its entries name every
  // record. Otherwise at most the unreadable cells and the keys of the lost ranges that no stray
  // leaf gave back; unknown when a lost range has no end.
  std::optional<long long> perdus;
  bool exact = false;
};

// The storage class of a column declared with this SQLite type; `cle` for the table's only
// INTEGER PRIMARY KEY column.
Classe ClasseDeclaree(const std::string& declare, bool cle);

// What tells that a file is shorter than its pages: empty for a file whose size is a whole number
// of pages and no less than its header counts, else the words that say how it is cut short.
std::string Troncature(const std::string& chemin);
// The same for a file whose header was overwritten, its pages being of the given size: what is
// left of its header is believed only as far as it holds together.
std::string TroncatureSousLEnTete(const std::string& chemin, std::uint32_t taille);

// Whether the file's header no longer says what its pages are (its signature or its page size
// overwritten) while its pages after the first are plainly a database's: the file is damaged,
// no foreign one.
bool EnteteEcrase(const std::string& chemin);

// Writes into `destination` (created or emptied) the file `source` whose header was overwritten,
// with a header made again from its pages: their size (the header's own when it holds), their
// count, the engine's `identifiant`. Returns the page size. 3049 when the pages show no size, the
// engine's file numbers otherwise.
std::uint32_t RefaitEntete(const std::string& source, const std::string& destination, std::uint32_t identifiant);

class Fichier {
 public:
  // Reads the file's header and walks every tree and the free list, to know what each page
  // belongs to. Throws 3049 when the file is not one SQLite wrote in UTF-8. The schema's own
  // tree, from page 1, is read like any other when it is among the trees.
  Fichier(const std::string& chemin, std::vector<Arbre> arbres);
  ~Fichier();
  Fichier(const Fichier&) = delete;
  Fichier& operator=(const Fichier&) = delete;

  // Every readable record of tree i (a table's whose records are wanted), in key order.
  void Parcourt(std::size_t i, const std::function<void(Enregistrement&)>& recoit);
  // Once every such tree was walked: the records of the leaves no tree reaches any more, each
  // leaf given to the one table whose lost range and columns it fits.
  void RecupereEgarees(const std::function<void(std::size_t, Enregistrement&)>& recoit);
  // What became of tree i, once the stray leaves were read.
  Bilan BilanDe(std::size_t i) const;
  // The highest key tree i ever gave, learnt from the file's counters once their pages were read.
  void DonneCleMax(std::size_t i, long long cle) { arbres_[i].cleMax = cle; }

  // The highest key tree i is known to have given: among its records, the entries of its indexes
  // and the bounds of the key ranges its damaged pages held.
  long long CleLaPlusHaute(std::size_t i) const;

  // Stray leaves that could be given to no table (or to more than one).
  long long FeuillesNonAttribuees() const { return nonAttribuees_; }

  struct Page;

 private:
  void Reclame();

  int fd_ = -1;
  std::string chemin_;
  std::vector<Arbre> arbres_;
  std::uint32_t taillePage_ = 0, utile_ = 0, pages_ = 0, bornes_ = 0;
  std::vector<std::int32_t> proprietaire_;  // per page: 0 free of any claim, else tree + 1, or negative
  std::vector<std::vector<Trou>> trous_;    // per tree, key ranges lost in the walk
  std::vector<Bilan> bilans_;
  std::vector<std::vector<long long>> cles_;  // per tree: keys handed over, or those an index lists
  // Per index: its entries as (key, fingerprint of the values it holds), by key.
  std::vector<std::vector<std::pair<long long, std::uint64_t>>> entrees_;
  long long nonAttribuees_ = 0;
};

}  // namespace moteur::sauvetage

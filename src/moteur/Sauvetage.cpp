// Records read from the pages of a damaged file (see Sauvetage.h). The layout followed is the
// one SQLite documents for its database files: b-tree pages, cells, records and overflow chains.
#include "moteur/Sauvetage.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>
#include <unordered_set>

#include "moteur/Erreurs.h"
#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur::sauvetage {

namespace {

constexpr std::uint8_t InterieurIndex = 0x02, InterieurTable = 0x05, FeuilleIndex = 0x0A, FeuilleTable = 0x0D;
constexpr std::int32_t ListeLibre = -1;
constexpr int ProfondeurMax = 64;  // far more than any tree of a real file holds

std::uint32_t Lu16(const unsigned char* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
std::uint32_t Lu32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// A varint at p, not past fin: its length, 0 when it runs past fin.
int LitVarint(const unsigned char* p, const unsigned char* fin, std::uint64_t& v) {
  v = 0;
  for (int i = 0; i < 9; ++i) {
    if (p + i >= fin) return 0;
    if (i == 8) {
      v = (v << 8) | p[i];
      return 9;
    }
    v = (v << 7) | (p[i] & 0x7F);
    if (!(p[i] & 0x80)) return i + 1;
  }
  return 0;
}

// Size of a value of this serial type; -1 for the two types no record may use.
long long TailleSerie(std::uint64_t t) {
  static constexpr int tailles[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, -1, -1};
  if (t < 12) return tailles[t];
  if (t > (std::uint64_t{1} << 40)) return -1;
  return static_cast<long long>((t - 12) / 2);
}

bool ClasseAdmise(Classe c, std::uint64_t t) {
  if (t == 0) return true;
  switch (c) {
    case Classe::Cle: return false;  // the key lives in the cell, the record holds Null for it
    case Classe::Entier: return t <= 6 || t == 8 || t == 9;
    case Classe::Reel: return t <= 9;
    case Classe::Texte: return t >= 13 && t % 2 == 1;
    case Classe::Blob: return t >= 12 && t % 2 == 0;
  }
  return false;
}

Valeur DecodeValeur(std::uint64_t t, const unsigned char* p, std::size_t n) {
  if (t == 0) return Valeur::Nul();
  if (t == 8) return Valeur(0LL);
  if (t == 9) return Valeur(1LL);
  if (t == 7) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | p[i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return Valeur(d);
  }
  if (t <= 6) {
    std::uint64_t u = (p[0] & 0x80) ? ~std::uint64_t{0} : 0;
    for (std::size_t i = 0; i < n; ++i) u = u << 8 | p[i];
    return Valeur(static_cast<long long>(u));
  }
  std::string octets(reinterpret_cast<const char*>(p), n);
  if (t % 2 == 0) return Valeur::Binaire(std::move(octets));
  return Valeur(std::move(octets));
}

// How many values of these records have the very kind their column is declared for (the key's
// alias holds Null); a Null elsewhere says nothing.
long long Ressemblance(const std::vector<Classe>& colonnes, const std::vector<std::pair<long long, std::vector<std::uint64_t>>>& formes) {
  long long score = 0;
  for (const auto& [cle, types] : formes)
    for (std::size_t k = 0; k < types.size() && k < colonnes.size(); ++k) {
      std::uint64_t t = types[k];
      switch (colonnes[k]) {
        case Classe::Cle: score += t == 0; break;
        case Classe::Entier: score += t >= 1 && (t <= 6 || t == 8 || t == 9); break;
        case Classe::Reel: score += t == 7; break;
        case Classe::Texte: score += t >= 13 && t % 2 == 1; break;
        case Classe::Blob: score += t >= 12 && t % 2 == 0; break;
      }
    }
  return score;
}

bool FormeExacte(const std::vector<Classe>& colonnes,
                 const std::vector<std::pair<long long, std::vector<std::uint64_t>>>& formes) {
  for (const auto& [cle, t] : formes) {
    if (t.size() != colonnes.size()) return false;
    for (std::size_t k = 0; k < t.size(); ++k)
      if (colonnes[k] != Classe::Blob && !ClasseAdmise(colonnes[k], t[k]) && !(colonnes[k] == Classe::Cle && t[k] == 0))
        return false;
  }
  return true;
}

bool DansTrou(const Trou& t, long long k) { return (!t.bas || k > *t.bas) && (!t.haut || k <= *t.haut); }

void Melange(std::uint64_t& h, const void* octets, std::size_t n) {
  auto o = static_cast<const unsigned char*>(octets);
  for (std::size_t i = 0; i < n; ++i) h = (h ^ o[i]) * 1099511628211ULL;
}

// Adds a value to a fingerprint that is the same whether the value was read from a table's record
// or from an index's: a real holding a whole number may be stored as that integer.
void AjouteEmpreinte(std::uint64_t& h, const Valeur& v) {
  unsigned char genre = 0;
  long long entier = 0;
  double reel = v.genre() == Valeur::Genre::Reel ? v.reel() : 0;
  switch (v.genre()) {
    case Valeur::Genre::Entier: genre = 1, entier = v.entier(); break;
    case Valeur::Genre::Reel:
      if (reel == std::trunc(reel) && std::fabs(reel) < 9.2e18)
        genre = 1, entier = static_cast<long long>(reel);
      else
        genre = 2;
      break;
    case Valeur::Genre::Texte: genre = 3; break;
    case Valeur::Genre::Binaire: genre = 4; break;
    default: break;
  }
  Melange(h, &genre, 1);
  if (genre == 1) Melange(h, &entier, sizeof entier);
  if (genre == 2) Melange(h, &reel, sizeof reel);
  if (genre >= 3) {
    std::uint64_t n = v.texte().size();
    Melange(h, &n, sizeof n);
    Melange(h, v.texte().data(), v.texte().size());
  }
}

constexpr std::uint64_t EmpreinteVide = 14695981039346656037ULL;

// An index of a table and what it lists: which record holds which values.
struct Temoin {
  const std::vector<std::size_t>* colonnes;
  const std::vector<std::pair<long long, std::uint64_t>>* entrees;

  std::uint64_t Empreinte(const Enregistrement& e) const {
    std::uint64_t h = EmpreinteVide;
    for (std::size_t c : *colonnes) AjouteEmpreinte(h, c < e.valeurs.size() ? e.valeurs[c] : Valeur::Nul());
    return h;
  }
  bool Confirme(const Enregistrement& e, long long cle) const {
    const std::uint64_t h = Empreinte(e);
    auto [debut, fin] = std::equal_range(entrees->begin(), entrees->end(), std::pair<long long, std::uint64_t>(cle, 0),
                                         [](const auto& a, const auto& b) { return a.first < b.first; });
    return std::any_of(debut, fin, [&](const auto& x) { return x.second == h; });
  }
  // The keys in bas < k <= haut that this index lists with the record's values.
  std::vector<long long> Cles(const Enregistrement& e, const std::optional<long long>& bas,
                              const std::optional<long long>& haut) const {
    const std::uint64_t h = Empreinte(e);
    std::vector<long long> cles;
    auto it = bas ? std::upper_bound(entrees->begin(), entrees->end(),
                                     std::pair<long long, std::uint64_t>(*bas, ~std::uint64_t{0}))
                  : entrees->begin();
    for (; it != entrees->end() && (!haut || it->first <= *haut); ++it)
      if (it->second == h) cles.push_back(it->first);
    return cles;
  }
};

}  // namespace

// One page as read from the file, with its tree header.
struct Fichier::Page {
  std::uint32_t numero = 0;
  std::vector<unsigned char> octets;
  std::uint8_t type = 0;
  std::uint32_t cellules = 0, droite = 0;
  std::size_t tableau = 0;  // where the cell pointers begin

  std::uint32_t Cellule(std::uint32_t i) const { return Lu16(octets.data() + tableau + 2 * i); }
};

// ---- Reading pages ----

namespace {

struct Lecteur {
  int fd;
  std::uint32_t taillePage, utile, pages;
  // The highest page a pointer may name: beyond the file's end when it was cut short, whose lost
  // pages an inner page still points to without being damaged itself.
  std::uint32_t bornes;

  bool Lit(std::uint32_t numero, std::vector<unsigned char>& octets) const {
    if (numero < 1 || numero > pages) return false;
    octets.resize(taillePage);
    std::size_t lus = 0;
    off_t position = static_cast<off_t>(numero - 1) * taillePage;
    while (lus < taillePage) {
      ssize_t n = ::pread(fd, octets.data() + lus, taillePage - lus, position + static_cast<off_t>(lus));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      lus += static_cast<std::size_t>(n);
    }
    return true;
  }

  // The tree header of a page that holds together as a page of a tree; false otherwise.
  bool Entete(Fichier::Page& p) const {
    std::size_t h = p.numero == 1 ? 100 : 0;
    const unsigned char* o = p.octets.data();
    p.type = o[h];
    bool interieur = p.type == InterieurIndex || p.type == InterieurTable;
    if (!interieur && p.type != FeuilleIndex && p.type != FeuilleTable) return false;
    p.cellules = Lu16(o + h + 3);
    p.tableau = h + (interieur ? 12 : 8);
    if (p.tableau + 2 * static_cast<std::size_t>(p.cellules) > utile) return false;
    std::uint32_t contenu = Lu16(o + h + 5);
    if (contenu == 0) contenu = 65536;
    if (p.cellules > 0 && (contenu < p.tableau + 2 * p.cellules || contenu > utile)) return false;
    if (o[h + 7] > 60) return false;  // fragmented bytes: SQLite never lets more build up
    if (interieur) {
      p.droite = Lu32(o + h + 8);
      if (p.droite < 2 || p.droite > bornes) return false;
    }
    for (std::uint32_t i = 0; i < p.cellules; ++i) {
      std::uint32_t c = p.Cellule(i);
      if (c < contenu || c >= utile) return false;
    }
    return true;
  }

  // How much of a payload of size P stays in its cell.
  std::uint64_t Local(std::uint64_t P, bool table) const {
    std::uint64_t U = utile;
    std::uint64_t X = table ? U - 35 : ((U - 12) * 64 / 255) - 23;
    if (P <= X) return P;
    std::uint64_t M = ((U - 12) * 32 / 255) - 23;
    std::uint64_t K = M + ((P - M) % (U - 4));
    return K <= X ? K : M;
  }
};

// A cell's payload as the page gives it: its size, its local part and its first overflow page.
struct Charge {
  std::uint64_t taille = 0;
  const unsigned char* local = nullptr;
  std::uint64_t tailleLocale = 0;
  std::uint32_t debordement = 0;
};

}  // namespace

// ---- The walk ----

namespace {

// The serial types of a record's header, read from what is available of its payload: false
// when the header does not hold together with the payload's size.
bool LitTypes(std::string_view disponible, std::uint64_t taille, std::vector<std::uint64_t>& types, std::uint64_t& entete) {
  auto u = reinterpret_cast<const unsigned char*>(disponible.data());
  int n = LitVarint(u, u + disponible.size(), entete);
  if (n == 0 || entete < static_cast<std::uint64_t>(n) || entete > taille || entete > disponible.size()) return false;
  types.clear();
  std::uint64_t total = entete;
  for (const unsigned char* q = u + n; q < u + entete;) {
    std::uint64_t t;
    int m = LitVarint(q, u + entete, t);
    long long t2 = m == 0 ? -1 : TailleSerie(t);
    if (t2 < 0) return false;
    types.push_back(t);
    total += static_cast<std::uint64_t>(t2);
    q += m;
  }
  return total == taille && !types.empty();
}

struct Parcours {
  const Lecteur& l;
  std::vector<std::int32_t>& proprietaire;
  std::int32_t marque;  // what the pages of this walk are claimed as
  bool table;           // a table's tree, else an index's
  const Arbre* arbre = nullptr;  // when its records are wanted
  const std::function<void(Enregistrement&)>* recoit = nullptr;
  Bilan* bilan = nullptr;
  std::vector<Trou>* trous = nullptr;
  std::vector<long long>* cles = nullptr;  // keys handed over; for an index, the keys it lists
  std::vector<std::pair<long long, std::uint64_t>>* entrees = nullptr;  // for an index: what it lists
  const std::vector<std::size_t>* indexees = nullptr;                   // for an index: its table's columns
  std::vector<Temoin> temoins{};  // for a table: its indexes, which tell a damaged key from a sound one

  void Perte(const std::optional<long long>& bas, const std::optional<long long>& haut) {
    if (bilan) ++bilan->pagesAbimees;
    if (trous) trous->push_back({bas, haut});
  }

  // Reads the chain of overflow pages after a local part; the bytes whose pages hold together, in
  // order. A page's pointer tells whether the page itself is sound: the last page of a chain points
  // nowhere, every other one to a page of the file. Its pages are claimed only when the chain
  // holds together whole: a damaged pointer may lead into another record's chain, which must
  // stay readable for that record.
  void Debordement(std::uint32_t page, std::uint64_t reste, std::string* dans) {
    const std::uint64_t parPage = l.utile - 4;
    std::vector<unsigned char> octets;
    std::vector<std::uint32_t> siennes;
    std::unordered_set<std::uint32_t> vues;  // a chain running twice through a page is read no further
    while (reste > 0) {
      if (page < 2 || page > l.pages || proprietaire[page] != 0 || !vues.insert(page).second || !l.Lit(page, octets))
        return;
      std::uint32_t suivante = Lu32(octets.data());
      bool derniere = reste <= parPage;
      if (derniere ? suivante != 0 : (suivante < 2 || suivante > l.pages)) return;
      siennes.push_back(page);
      std::uint64_t n = std::min(reste, parPage);
      if (dans) dans->append(reinterpret_cast<const char*>(octets.data() + 4), static_cast<std::size_t>(n));
      reste -= n;
      page = suivante;
    }
    for (std::uint32_t p : siennes) proprietaire[p] = marque;
  }

  // The payload of cell i of a page; false when the cell does not hold together.
  bool LitCharge(const Fichier::Page& p, std::uint32_t i, Charge& c, long long& cle) const {
    const unsigned char* fin = p.octets.data() + l.utile;
    const unsigned char* q = p.octets.data() + p.Cellule(i);
    if (p.type == InterieurIndex) q += 4;
    if (q >= fin) return false;
    int n = LitVarint(q, fin, c.taille);
    if (n == 0 || c.taille > (std::uint64_t{1} << 31)) return false;
    q += n;
    const bool feuilleTable = p.type == FeuilleTable;
    if (feuilleTable) {
      std::uint64_t k;
      n = LitVarint(q, fin, k);
      if (n == 0) return false;
      q += n;
      cle = static_cast<long long>(k);
    }
    c.tailleLocale = l.Local(c.taille, feuilleTable);
    c.local = q;
    std::uint64_t place = c.tailleLocale + (c.taille > c.tailleLocale ? 4 : 0);
    if (static_cast<std::uint64_t>(fin - q) < place) return false;
    c.debordement = c.taille > c.tailleLocale ? Lu32(q + c.tailleLocale) : 0;
    return true;
  }

  // The record of a table cell, as the table's columns: false when its header does not hold
  // together or does not fit the table, which makes it a cell that cannot be read.
  bool Decode(const Charge& c, std::string_view disponible, long long cle, Enregistrement& e) const {
    std::vector<std::uint64_t> types;
    std::uint64_t position;
    const auto& colonnes = arbre->colonnes;
    if (!LitTypes(disponible, c.taille, types, position) || types.size() > colonnes.size()) return false;
    auto u = reinterpret_cast<const unsigned char*>(disponible.data());
    e.cle = cle;
    e.valeurs.assign(colonnes.size(), Valeur::Nul());
    e.illisibles.clear();
    for (std::size_t i = 0; i < types.size(); ++i) {
      auto taille = static_cast<std::uint64_t>(TailleSerie(types[i]));
      if (position + taille > disponible.size()) {
        e.illisibles.push_back(i);
      } else {
        e.valeurs[i] = DecodeValeur(types[i], u + position, static_cast<std::size_t>(taille));
        // Bytes that are no UTF-8 are not a text, whatever the record says, nor are binary data in
        // a text column; they are handed over as bytes, for the journal to keep.
        const bool texte = types[i] >= 13 && types[i] % 2 == 1;
        const bool binaireDansTexte = types[i] >= 12 && types[i] % 2 == 0 && colonnes[i] == Classe::Texte;
        if ((texte && !Utf8Valide(e.valeurs[i].texte())) || binaireDansTexte) {
          e.valeurs[i] = Valeur::Binaire(e.valeurs[i].texte());
          e.illisibles.push_back(i);
        }
      }
      position += taille;
    }
    for (std::size_t i = 0; i < colonnes.size(); ++i)
      if (colonnes[i] == Classe::Cle) e.valeurs[i] = Valeur(cle);
    return true;
  }

  // One cell whose payload was read: its overflow pages claimed, its record handed over when
  // records are wanted. False when its record cannot be read.
  bool Cellule(const Charge& c, bool feuilleTable, long long cle, Enregistrement& e) {
    const bool veut = arbre && feuilleTable;
    const bool liste = !table && cles;
    std::string disponible;
    if (veut || liste) disponible.assign(reinterpret_cast<const char*>(c.local), static_cast<std::size_t>(c.tailleLocale));
    if (c.debordement) Debordement(c.debordement, c.taille - c.tailleLocale, veut || liste ? &disponible : nullptr);
    if (liste) return ListeCle(c, disponible);
    if (!veut) return true;
    return Decode(c, disponible, cle, e);
  }

  void Remet(Enregistrement& e) {
    if (e.ecarte) {
      ++bilan->cellulesIllisibles;
    } else {
      ++bilan->lus;
      if (cles) cles->push_back(e.cle);
    }
    (*recoit)(e);
  }

  int Confirmations(const Enregistrement& e, long long cle) const {
    int n = 0;
    for (const auto& t : temoins) n += t.Confirme(e, cle);
    return n;
  }

  // The key the indexes give a record whose cell's key was damaged: one key in bas < k <= haut
  // that every index listing the record's values there agrees on.
  std::optional<long long> CleRendue(const Enregistrement& e, const std::optional<long long>& bas,
                                     const std::optional<long long>& haut) const {
    std::optional<std::vector<long long>> communes;
    for (const auto& t : temoins) {
      auto cles = t.Cles(e, bas, haut);
      if (cles.empty()) continue;
      if (!communes) {
        communes = std::move(cles);
        continue;
      }
      std::vector<long long> deux;
      std::set_intersection(communes->begin(), communes->end(), cles.begin(), cles.end(), std::back_inserter(deux));
      *communes = std::move(deux);
    }
    if (!communes || communes->size() != 1) return std::nullopt;
    return communes->front();
  }

  // The records of a leaf, in cell order, whose keys must rise. Of two cells giving the same key,
  // the one the indexes confirm is kept; a cell set aside gets back the key the indexes list with
  // its values when that key lies between its kept neighbours', which no other cell then holds.
  void Departage(std::vector<Enregistrement>& lus, const std::optional<long long>& bas,
                 const std::optional<long long>& haut) {
    std::vector<std::size_t> gardes, ecartes;
    for (std::size_t i = 0; i < lus.size(); ++i) {
      if (gardes.empty() || lus[i].cle > lus[gardes.back()].cle) {
        gardes.push_back(i);
        continue;
      }
      std::size_t ecarte = i;
      if (lus[i].cle == lus[gardes.back()].cle &&
          Confirmations(lus[i], lus[i].cle) > Confirmations(lus[gardes.back()], lus[i].cle)) {
        ecarte = gardes.back();
        gardes.back() = i;
      }
      ecartes.push_back(ecarte);
    }
    for (std::size_t x : ecartes) {
      auto suite = std::upper_bound(gardes.begin(), gardes.end(), x);
      std::optional<long long> dessous =
          suite == gardes.begin() ? bas : std::optional<long long>(lus[*(suite - 1)].cle);
      std::optional<long long> dessus = suite == gardes.end() ? haut : std::optional<long long>(lus[*suite].cle - 1);
      auto rendue = temoins.empty() ? std::nullopt : CleRendue(lus[x], dessous, dessus);
      if (!rendue) {
        lus[x].ecarte = true;
        continue;
      }
      lus[x].cleLue = lus[x].cle;
      lus[x].cle = *rendue;
      for (std::size_t i = 0; i < arbre->colonnes.size(); ++i)
        if (arbre->colonnes[i] == Classe::Cle) lus[x].valeurs[i] = Valeur(*rendue);
      gardes.insert(suite, x);
    }
    for (auto& e : lus) Remet(e);
  }

  // An index entry ends with the key of its record.
  bool ListeCle(const Charge& c, std::string_view disponible) {
    std::vector<std::uint64_t> types;
    std::uint64_t entete;
    if (disponible.size() != c.taille || !LitTypes(disponible, c.taille, types, entete)) return false;
    std::uint64_t t = types.back();
    if (t == 0 || t > 9 || t == 7) return false;
    auto taille = static_cast<std::size_t>(TailleSerie(t));
    auto u = reinterpret_cast<const unsigned char*>(disponible.data()) + disponible.size() - taille;
    const long long cle = DecodeValeur(t, u, taille).entier();
    cles->push_back(cle);
    if (entrees && indexees && !indexees->empty() && types.size() == indexees->size() + 1) {
      std::uint64_t h = EmpreinteVide;
      auto v = reinterpret_cast<const unsigned char*>(disponible.data()) + entete;
      for (std::size_t i = 0; i + 1 < types.size(); ++i) {
        auto n = static_cast<std::size_t>(TailleSerie(types[i]));
        AjouteEmpreinte(h, DecodeValeur(types[i], v, n));
        v += n;
      }
      entrees->emplace_back(cle, h);
    }
    return true;
  }

  // The cells of a leaf or of an index's inner page. A table's keys rise from cell to cell and
  // stay in the range the parent gives; a cell that breaks this is not read.
  void Cellules(const Fichier::Page& p, const std::optional<long long>& bas, const std::optional<long long>& haut) {
    std::optional<long long> precedente = bas;
    long long illisibles = 0;
    const bool feuilleTable = p.type == FeuilleTable;
    const bool veut = arbre && feuilleTable;
    std::vector<Enregistrement> lus;
    for (std::uint32_t i = 0; i < p.cellules; ++i) {
      Charge c;
      long long cle = 0;
      Enregistrement e;
      bool lisible = LitCharge(p, i, c, cle);
      // The records wanted are put in order once the whole leaf is read.
      if (lisible && feuilleTable)
        lisible = (veut ? !bas || cle > *bas : !precedente || cle > *precedente) && (!haut || cle <= *haut);
      if (lisible) lisible = Cellule(c, feuilleTable, cle, e);
      if (!lisible) {
        ++illisibles;
        continue;
      }
      if (feuilleTable) precedente = cle;
      if (veut) lus.push_back(std::move(e));
    }
    if (bilan) bilan->cellulesIllisibles += illisibles;
    if (veut) Departage(lus, bas, haut);
  }

  // The subtree at `page`, whose keys k lie in bas < k <= haut.
  void Descend(std::uint32_t page, std::optional<long long> bas, std::optional<long long> haut, int profondeur) {
    Fichier::Page p;
    p.numero = page;
    if (page < 1 || page > l.pages || proprietaire[page] != 0 || profondeur > ProfondeurMax || !l.Lit(page, p.octets) ||
        !l.Entete(p)) {
      Perte(bas, haut);
      return;
    }
    const bool interieur = p.type == InterieurIndex || p.type == InterieurTable;
    if (table != (p.type == InterieurTable || p.type == FeuilleTable)) {
      Perte(bas, haut);
      return;
    }
    if (!interieur) {
      proprietaire[page] = marque;
      Cellules(p, bas, haut);
      return;
    }
    // An inner page is followed only when all of its pointers and keys hold together.
    std::vector<std::pair<std::uint32_t, std::optional<long long>>> enfants;
    std::optional<long long> precedente = bas;
    const unsigned char* fin = p.octets.data() + l.utile;
    for (std::uint32_t i = 0; i < p.cellules; ++i) {
      const unsigned char* q = p.octets.data() + p.Cellule(i);
      if (fin - q < 5) return Perte(bas, haut);
      std::uint32_t enfant = Lu32(q);
      if (enfant < 2 || enfant > l.bornes) return Perte(bas, haut);
      std::optional<long long> cle;
      if (p.type == InterieurTable) {
        std::uint64_t k;
        if (LitVarint(q + 4, fin, k) == 0) return Perte(bas, haut);
        cle = static_cast<long long>(k);
        if ((precedente && *cle < *precedente) || (haut && *cle > *haut)) return Perte(bas, haut);
        precedente = cle;
      }
      enfants.emplace_back(enfant, cle);
    }
    proprietaire[page] = marque;
    if (p.type == InterieurIndex) Cellules(p, bas, haut);  // an index's inner cells hold keys, with their overflow
    std::optional<long long> gauche = bas;
    for (const auto& [enfant, cle] : enfants) {
      Descend(enfant, gauche, p.type == InterieurTable ? cle : haut, profondeur + 1);
      if (p.type == InterieurTable) gauche = cle;
    }
    Descend(p.droite, gauche, haut, profondeur + 1);
  }
};

}  // namespace

Classe ClasseDeclaree(const std::string& declare, bool cle) {
  std::string t = PlieNom(declare);
  if (cle && t == "integer") return Classe::Cle;
  if (t.find("int") != std::string::npos) return Classe::Entier;
  if (t.find("real") != std::string::npos) return Classe::Reel;
  if (t.empty() || t.find("blob") != std::string::npos) return Classe::Blob;
  return Classe::Texte;
}

namespace {

// What tells that a file of pages of this size is shorter than they are: a size that is no whole
// number of pages, or fewer pages than the header counts, when that count can be believed.
std::string TroncatureDe(const unsigned char* entete, unsigned long long octets, std::uint32_t taille) {
  if (octets % taille != 0)
    return "le fichier est tronqué : ses " + std::to_string(octets) +
           " octets ne font pas un nombre entier de pages de " + std::to_string(taille) + " octets";
  // The header's page count holds only when the change counter it was written with is current.
  const std::uint32_t pages = Lu32(entete + 28);
  if (pages != 0 && Lu32(entete + 92) == Lu32(entete + 24) && octets / taille < pages)
    return "le fichier est tronqué : il a " + std::to_string(octets / taille) + " pages sur les " +
           std::to_string(pages) + " que son en-tête compte";
  return {};
}

bool LitEnTete(const std::string& chemin, unsigned char* entete, unsigned long long& octets) {
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat s {};
  const bool lu = ::fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && ::pread(fd, entete, 100, 0) == 100;
  ::close(fd);
  octets = static_cast<unsigned long long>(s.st_size);
  return lu;
}

}  // namespace

std::string Troncature(const std::string& chemin) {
  unsigned char entete[100] = {};
  unsigned long long octets = 0;
  if (!LitEnTete(chemin, entete, octets) || std::memcmp(entete, "SQLite format 3", 16) != 0) return {};
  std::uint32_t taille = Lu16(entete + 16);
  if (taille == 1) taille = 65536;
  if (taille < 512 || (taille & (taille - 1)) != 0) return {};
  return TroncatureDe(entete, octets, taille);
}

std::string TroncatureSousLEnTete(const std::string& chemin, std::uint32_t taille) {
  unsigned char entete[100] = {};
  unsigned long long octets = 0;
  if (!LitEnTete(chemin, entete, octets)) return {};
  return TroncatureDe(entete, octets, taille);
}

namespace {

// A tree page's header holds together: a known kind, and its cells and content within the page.
bool PageDArbre(const unsigned char* page, std::uint32_t taille) {
  const unsigned genre = page[0];
  if (genre != 2 && genre != 5 && genre != 10 && genre != 13) return false;
  const std::uint32_t entete = genre == 2 || genre == 5 ? 12 : 8;
  const std::uint32_t contenu = Lu16(page + 5) == 0 ? 65536 : Lu16(page + 5);
  return Lu16(page + 1) < taille && contenu <= taille && entete + 2 * Lu16(page + 3) <= contenu;
}

// Of the pages after the first, at most 64, how many are tree pages of the given size; the
// second must be one.
bool PagesDeBase(int fd, std::uint32_t taille, unsigned long long pages) {
  std::vector<unsigned char> page(taille);
  unsigned lues = 0, arbres = 0;
  for (unsigned long long n = 1; n < pages && lues < 64; ++n, ++lues) {
    if (::pread(fd, page.data(), taille, static_cast<off_t>(n * taille)) != static_cast<ssize_t>(taille)) return false;
    if (PageDArbre(page.data(), taille))
      ++arbres;
    else if (n == 1)
      return false;
  }
  return lues > 0 && 2 * arbres >= lues;
}

bool DeuxiemePageDArbre(int fd, std::uint32_t taille) {
  std::vector<unsigned char> page(taille);
  return ::pread(fd, page.data(), taille, taille) == static_cast<ssize_t>(taille) && PageDArbre(page.data(), taille);
}

// The schema's root, after the file header on the first page, holds together at this page size:
// its cells, which SQLite packs from the end of the page, all lie within it.
bool PremierePageTient(int fd, std::uint32_t taille) {
  std::vector<unsigned char> page(taille);
  if (::pread(fd, page.data(), taille, 0) != static_cast<ssize_t>(taille)) return false;
  const unsigned char* arbre = page.data() + 100;
  if (arbre[0] != 5 && arbre[0] != 13) return false;
  const std::uint32_t entete = arbre[0] == 5 ? 12 : 8;
  const std::uint32_t cellules = Lu16(arbre + 3);
  const std::uint32_t contenu = Lu16(arbre + 5) == 0 ? 65536 : Lu16(arbre + 5);
  if (100 + entete + 2 * cellules > contenu || contenu > taille) return false;
  for (std::uint32_t i = 0; i < cellules; ++i) {
    const std::uint32_t cellule = Lu16(arbre + entete + 2 * i);
    if (cellule < contenu || cellule >= taille) return false;
  }
  return true;
}

bool TailleValide(std::uint32_t taille) { return taille >= 512 && taille <= 65536 && (taille & (taille - 1)) == 0; }

// The page size the header gives, 0 when it gives none that can be.
std::uint32_t TailleDeLEnTete(const unsigned char* entete) {
  const std::uint32_t taille = Lu16(entete + 16) == 1 ? 65536 : Lu16(entete + 16);
  return TailleValide(taille) ? taille : 0;
}

// The header fields every file of the engine holds as they are: the format's versions, the fixed
// payload fractions, a known schema format; and in a file marked as the engine's, no reserved
// bytes and UTF-8 text, the only ones it writes.
bool ChampsFixesIntacts(const unsigned char* entete) {
  const auto version = [](unsigned char v) { return v == 1 || v == 2; };
  if (!version(entete[18]) || !version(entete[19]) || entete[21] != 64 || entete[22] != 32 || entete[23] != 32)
    return false;
  if (Lu32(entete + 44) < 1 || Lu32(entete + 44) > 4) return false;
  return Lu32(entete + 68) != catalogue::IdentifiantApplication || (entete[20] == 0 && Lu32(entete + 56) == 1);
}

// The page size the pages themselves show when the header no longer says what they are: its
// signature, its page size or its fixed fields overwritten. 0 when the header holds, or when the
// pages are no database's either. A header that holds together is doubted only for a smaller size,
// at which its first page would hold together too: a sound file's other pages never look like a
// database's at a size that cuts its first page in two.
std::uint32_t TailleSousLEnTete(int fd) {
  unsigned char entete[100] = {};
  struct stat s {};
  if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode) || ::pread(fd, entete, sizeof entete, 0) != 100) return 0;
  const auto octets = static_cast<unsigned long long>(s.st_size);
  const bool signature = std::memcmp(entete, "SQLite format 3", 16) == 0;
  const std::uint32_t annoncee = signature ? TailleDeLEnTete(entete) : 0;
  // A page count the header can vouch for that makes up the file exactly at another size: the
  // page size is the one overwritten.
  const std::uint32_t compte = Lu32(entete + 28);
  if (signature && compte >= 2 && Lu32(entete + 92) == Lu32(entete + 24) &&
      (annoncee == 0 || octets != static_cast<unsigned long long>(compte) * annoncee))
    for (std::uint32_t taille = 512; taille <= 65536; taille *= 2)
      if (octets == static_cast<unsigned long long>(compte) * taille && PremierePageTient(fd, taille) &&
          PagesDeBase(fd, taille, compte))
        return taille;
  const bool tient =
      annoncee != 0 && ChampsFixesIntacts(entete) && octets % annoncee == 0 && PremierePageTient(fd, annoncee);
  if (tient && (octets / annoncee < 2 || DeuxiemePageDArbre(fd, annoncee))) return 0;
  for (std::uint32_t taille = 512; taille <= 65536; taille *= 2) {
    if (tient && taille >= annoncee) break;
    // A file cut short in the middle of a page keeps its whole pages when its signature says the
    // header is gone; with the signature intact, a size that leaves bytes over is no size.
    if ((signature && octets % taille != 0) || octets / taille < 2) continue;
    if (signature && !PremierePageTient(fd, taille)) continue;
    if (PagesDeBase(fd, taille, octets / taille)) return taille;
  }
  return 0;
}

void Ecrit32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

// The first page of the free list, when the header's still leads to one: a page of the file that
// lists pages of the file.
bool TroncLibreValide(int fd, std::uint32_t taille, std::uint32_t pages, std::uint32_t tronc) {
  if (tronc < 2 || tronc > pages) return false;
  std::vector<unsigned char> page(taille);
  if (::pread(fd, page.data(), taille, static_cast<off_t>(tronc - 1) * taille) != static_cast<ssize_t>(taille) ||
      PageDArbre(page.data(), taille))
    return false;
  const std::uint32_t suivant = Lu32(page.data()), feuilles = Lu32(page.data() + 4);
  if (suivant > pages || feuilles > taille / 4 - 2) return false;
  for (std::uint32_t i = 0; i < feuilles; ++i) {
    const std::uint32_t f = Lu32(page.data() + 8 + 4 * i);
    if (f < 2 || f > pages) return false;
  }
  return true;
}

// A header for pages of this size, keeping from the damaged one what can still be trusted: the
// change counter, the schema's version, the application's fields, and the free list when it leads
// to one. The reserved bytes are kept when the three fixed bytes after them are intact.
void RedresseEnTete(int fd, unsigned char* entete, std::uint32_t taille, std::uint32_t pages,
                    std::uint32_t identifiant) {
  std::memcpy(entete, "SQLite format 3", 16);
  entete[16] = static_cast<unsigned char>(taille == 65536 ? 0 : taille >> 8);
  entete[17] = static_cast<unsigned char>(taille == 65536 ? 1 : 0);
  entete[18] = entete[19] = 1;  // rollback journal
  entete[20] = 0;               // the engine reserves no bytes in its pages
  entete[21] = 64;
  entete[22] = entete[23] = 32;
  Ecrit32(entete + 28, pages);
  if (!TroncLibreValide(fd, taille, pages, Lu32(entete + 32)) || Lu32(entete + 36) >= pages) {
    Ecrit32(entete + 32, 0);
    Ecrit32(entete + 36, 0);
  }
  if (Lu32(entete + 40) == 0) Ecrit32(entete + 40, 1);  // the schema cookie
  if (Lu32(entete + 44) < 1 || Lu32(entete + 44) > 4) Ecrit32(entete + 44, 4);
  Ecrit32(entete + 52, 0);  // the engine never makes files that vacuum themselves
  Ecrit32(entete + 56, 1);  // UTF-8
  Ecrit32(entete + 64, 0);
  Ecrit32(entete + 68, identifiant);
  std::memset(entete + 72, 0, 20);
  std::memcpy(entete + 92, entete + 24, 4);  // the page count above is current
  Ecrit32(entete + 96, SQLITE_VERSION_NUMBER);
}

}  // namespace

bool EnteteEcrase(const std::string& chemin) {
  int fd = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  const bool ecrase = TailleSousLEnTete(fd) != 0;
  ::close(fd);
  return ecrase;
}

std::uint32_t RefaitEntete(const std::string& source, const std::string& destination, std::uint32_t identifiant) {
  int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw ErreurMoteur(err::AccesRefuse, {source});
  struct Ferme {
    int fd;
    ~Ferme() { ::close(fd); }
  } fermeSource{fd};
  // A header that holds but for the engine's mark keeps its own page size.
  std::uint32_t taille = TailleSousLEnTete(fd);
  unsigned char entete[100] = {};
  if (taille == 0 && ::pread(fd, entete, sizeof entete, 0) == 100 && std::memcmp(entete, "SQLite format 3", 16) == 0)
    taille = TailleDeLEnTete(entete);
  struct stat s {};
  if (taille == 0 || ::fstat(fd, &s) != 0) throw ErreurMoteur(err::BaseEndommagee, {source});
  const auto pages = static_cast<std::uint32_t>(std::min<long long>(s.st_size / taille, 0x7FFFFFF0LL));
  int sortie = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (sortie < 0) throw ErreurMoteur(errno == ENOSPC ? err::DisquePlein : err::AccesRefuse, {destination});
  Ferme fermeSortie{sortie};
  std::vector<unsigned char> page(taille);
  for (std::uint32_t n = 0; n < pages; ++n) {
    const auto position = static_cast<off_t>(n) * taille;
    if (::pread(fd, page.data(), taille, position) != static_cast<ssize_t>(taille))
      throw ErreurMoteur(err::BaseEndommagee, {source});
    if (n == 0) RedresseEnTete(fd, page.data(), taille, pages, identifiant);
    if (::pwrite(sortie, page.data(), taille, position) != static_cast<ssize_t>(taille))
      throw ErreurMoteur(errno == ENOSPC || errno == EDQUOT ? err::DisquePlein : err::AccesRefuse, {destination});
  }
  return taille;
}

Fichier::Fichier(const std::string& chemin, std::vector<Arbre> arbres) : chemin_(chemin), arbres_(std::move(arbres)) {
  auto endommage = [&](const char* detail) {
    return ErreurMoteur(err::BaseEndommagee, "Impossible de lire les pages de '" + chemin + "' : " + detail + ".");
  };
  fd_ = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw ErreurMoteur(err::AccesRefuse, {chemin});
  unsigned char entete[100];
  struct stat s {};
  if (::fstat(fd_, &s) != 0 || ::pread(fd_, entete, sizeof entete, 0) != static_cast<ssize_t>(sizeof entete)) {
    ::close(fd_);
    throw endommage("son en-tête est illisible");
  }
  taillePage_ = Lu16(entete + 16);
  if (taillePage_ == 1) taillePage_ = 65536;
  utile_ = taillePage_ - entete[20];
  if (taillePage_ < 512 || (taillePage_ & (taillePage_ - 1)) != 0 || utile_ < 480 || Lu32(entete + 56) != 1) {
    ::close(fd_);
    throw endommage("son en-tête n'est pas celui d'une base de ce moteur");
  }
  pages_ = static_cast<std::uint32_t>(std::min<long long>(s.st_size / taillePage_, 0x7FFFFFF0LL));
  bornes_ = pages_;
  // The header's page count holds only when the change counter it was written with is current.
  if (Lu32(entete + 92) == Lu32(entete + 24))
    bornes_ = std::clamp<std::uint32_t>(Lu32(entete + 28), pages_, 0x7FFFFFF0U);
  proprietaire_.assign(static_cast<std::size_t>(pages_) + 1, 0);
  trous_.assign(arbres_.size(), {});
  bilans_.assign(arbres_.size(), {});
  cles_.assign(arbres_.size(), {});
  entrees_.assign(arbres_.size(), {});
  Reclame();
}

Fichier::~Fichier() {
  if (fd_ >= 0) ::close(fd_);
}

// The free list and the trees whose records are not wanted here: what they hold is no stray leaf.
void Fichier::Reclame() {
  Lecteur l{fd_, taillePage_, utile_, pages_, bornes_};
  std::vector<unsigned char> octets;
  if (l.Lit(1, octets)) {
    std::uint32_t tronc = Lu32(octets.data() + 32);
    for (std::uint32_t n = 0; tronc >= 2 && tronc <= pages_ && proprietaire_[tronc] == 0 && n < pages_; ++n) {
      // A page of records is no page of the free list, whatever a damaged header or trunk says.
      if (!l.Lit(tronc, octets) || PageDArbre(octets.data(), taillePage_)) break;
      proprietaire_[tronc] = ListeLibre;
      std::uint32_t feuilles = Lu32(octets.data() + 4);
      if (feuilles > utile_ / 4 - 2) break;
      for (std::uint32_t i = 0; i < feuilles; ++i) {
        std::uint32_t f = Lu32(octets.data() + 8 + 4 * i);
        if (f >= 2 && f <= pages_ && proprietaire_[f] == 0) proprietaire_[f] = ListeLibre;
      }
      tronc = Lu32(octets.data());
    }
  }
  if (std::none_of(arbres_.begin(), arbres_.end(), [](const Arbre& a) { return a.racine == 1; })) {
    Parcours schema{l, proprietaire_, -2, true};  // the schema's own tree, from page 1
    schema.Descend(1, std::nullopt, std::nullopt, 0);
  }
  for (std::size_t i = 0; i < arbres_.size(); ++i) {
    if (!arbres_[i].colonnes.empty()) continue;
    Parcours p{l, proprietaire_, static_cast<std::int32_t>(i) + 1, arbres_[i].table};
    // An index of a table whose records are wanted lists the keys of all of them.
    const auto& indexee = arbres_[i].tableIndexee;
    if (!arbres_[i].table && indexee && *indexee < arbres_.size() && !arbres_[*indexee].colonnes.empty()) {
      p.bilan = &bilans_[i];
      p.cles = &cles_[i];
      p.entrees = &entrees_[i];
      p.indexees = &arbres_[i].colonnesIndexees;
    }
    p.Descend(arbres_[i].racine, std::nullopt, std::nullopt, 0);
    std::sort(entrees_[i].begin(), entrees_[i].end());
  }
}

namespace {

std::vector<Temoin> TemoinsDe(const std::vector<Arbre>& arbres,
                              const std::vector<std::vector<std::pair<long long, std::uint64_t>>>& entrees,
                              std::size_t table) {
  std::vector<Temoin> temoins;
  for (std::size_t x = 0; x < arbres.size(); ++x)
    if (arbres[x].tableIndexee == table && !entrees[x].empty())
      temoins.push_back({&arbres[x].colonnesIndexees, &entrees[x]});
  return temoins;
}

}  // namespace

void Fichier::Parcourt(std::size_t i, const std::function<void(Enregistrement&)>& recoit) {
  Lecteur l{fd_, taillePage_, utile_, pages_, bornes_};
  Parcours p{l, proprietaire_, static_cast<std::int32_t>(i) + 1, true, &arbres_[i], &recoit, &bilans_[i], &trous_[i], &cles_[i]};
  p.temoins = TemoinsDe(arbres_, entrees_, i);
  // A root no definition names any more is no damaged page: the whole key range is looked for
  // among the stray leaves.
  if (arbres_[i].racine == 0) {
    trous_[i].push_back({});
    return;
  }
  p.Descend(arbres_[i].racine, std::nullopt, std::nullopt, 0);
}

void Fichier::RecupereEgarees(const std::function<void(std::size_t, Enregistrement&)>& recoit) {
  Lecteur l{fd_, taillePage_, utile_, pages_, bornes_};
  std::vector<std::uint64_t> types;
  for (std::uint32_t page = 2; page <= pages_; ++page) {
    if (proprietaire_[page] != 0) continue;
    Page p;
    p.numero = page;
    if (!l.Lit(page, p.octets) || !l.Entete(p) || p.type != FeuilleTable || p.cellules == 0) continue;
    // The keys of the leaf and the shapes of its records, from the cells that hold together.
    Parcours lecture{l, proprietaire_, 0, true};
    std::vector<std::pair<long long, std::vector<std::uint64_t>>> formes;
    bool enOrdre = true;
    for (std::uint32_t i = 0; i < p.cellules && enOrdre; ++i) {
      Charge c;
      long long cle = 0;
      std::uint64_t entete;
      std::string_view local(reinterpret_cast<const char*>(c.local), 0);
      if (!lecture.LitCharge(p, i, c, cle)) continue;
      local = {reinterpret_cast<const char*>(c.local), static_cast<std::size_t>(c.tailleLocale)};
      if (!LitTypes(local, c.taille, types, entete)) continue;
      enOrdre = formes.empty() || cle > formes.back().first;
      formes.emplace_back(cle, types);
    }
    if (!enOrdre || formes.empty()) continue;
    auto convient = [&](std::size_t a, bool stricte) {
      const auto& colonnes = arbres_[a].colonnes;
      if (arbres_[a].formeExacte) return FormeExacte(colonnes, formes);
      for (const auto& [cle, t] : formes) {
        if (t.size() > colonnes.size()) return false;
        for (std::size_t k = 0; stricte && k < t.size(); ++k)
          if (!ClasseAdmise(colonnes[k], t[k]) && !(colonnes[k] == Classe::Cle && t[k] == 0)) return false;
      }
      return true;
    };
    std::vector<std::pair<std::size_t, Trou>> candidats;
    for (std::size_t a = 0; a < arbres_.size(); ++a) {
      if (arbres_[a].colonnes.empty() || !convient(a, false)) continue;
      for (const auto& t : trous_[a])
        if (DansTrou(t, formes.front().first) && DansTrou(t, formes.back().first)) candidats.emplace_back(a, t);
    }
    // Each value of the class its column holds: a leaf of some other tree (the schema's, a table's
    // whose definition is gone) is given to no table whose columns it merely outnumbers not.
    candidats.erase(
        std::remove_if(candidats.begin(), candidats.end(), [&](const auto& c) { return !convient(c.first, true); }),
        candidats.end());
    // Still several: records as wide as one table's rows are its own rather than old rows of a
    // wider one that were written before its last columns were added.
    if (candidats.size() > 1) {
      auto pleineLargeur = [&](const auto& c) {
        return std::all_of(formes.begin(), formes.end(),
                           [&](const auto& f) { return f.second.size() == arbres_[c.first].colonnes.size(); });
      };
      if (std::count_if(candidats.begin(), candidats.end(), pleineLargeur) == 1)
        candidats.erase(
            std::remove_if(candidats.begin(), candidats.end(), [&](const auto& c) { return !pleineLargeur(c); }),
            candidats.end());
    }
    // Still several: the table whose columns the values fit best, when one fits better than all.
    if (candidats.size() > 1) {
      std::vector<long long> scores;
      for (const auto& c : candidats) scores.push_back(Ressemblance(arbres_[c.first].colonnes, formes));
      long long meilleur = *std::max_element(scores.begin(), scores.end());
      if (std::count(scores.begin(), scores.end(), meilleur) == 1)
        candidats = {candidats[static_cast<std::size_t>(std::max_element(scores.begin(), scores.end()) - scores.begin())]};
    }
    if (candidats.size() != 1) {
      ++nonAttribuees_;
      continue;
    }
    const auto& [a, trou] = candidats.front();
    std::function<void(Enregistrement&)> vers = [&, a = a](Enregistrement& e) { recoit(a, e); };
    Parcours p2{l, proprietaire_, static_cast<std::int32_t>(a) + 1, true, &arbres_[a], &vers, &bilans_[a], nullptr, &cles_[a]};
    p2.temoins = TemoinsDe(arbres_, entrees_, a);
    proprietaire_[page] = static_cast<std::int32_t>(a) + 1;
    p2.Cellules(p, trou.bas, trou.haut);
  }
}

long long Fichier::CleLaPlusHaute(std::size_t i) const {
  long long haute = 0;
  auto voit = [&](const std::vector<long long>& cles) {
    for (long long k : cles) haute = std::max(haute, k);
  };
  voit(cles_[i]);
  for (std::size_t x = 0; x < arbres_.size(); ++x)
    if (!arbres_[x].table && arbres_[x].tableIndexee == i) voit(cles_[x]);
  for (const auto& t : trous_[i]) haute = std::max({haute, t.bas.value_or(0), t.haut.value_or(0)});
  return haute;
}

Bilan Fichier::BilanDe(std::size_t i) const {
  Bilan b = bilans_[i];
  std::vector<long long> sauvees = cles_[i];
  std::sort(sauvees.begin(), sauvees.end());
  // An index read whole names every record: those it lists and no page gave are the lost ones.
  for (std::size_t x = 0; x < arbres_.size(); ++x) {
    if (arbres_[x].tableIndexee != i || arbres_[x].table || bilans_[x].pagesAbimees || bilans_[x].cellulesIllisibles) continue;
    std::vector<long long> listees = cles_[x];
    std::sort(listees.begin(), listees.end());
    listees.erase(std::unique(listees.begin(), listees.end()), listees.end());
    long long perdus = 0;
    for (long long k : listees) perdus += !std::binary_search(sauvees.begin(), sauvees.end(), k);
    b.perdus = perdus;
    b.exact = true;
    return b;
  }
  long long perdus = b.cellulesIllisibles;
  for (const auto& t : trous_[i]) {
    // Keys below 1 are never given by the engine; the highest key comes from the file when known.
    long long bas = t.bas.value_or(0);
    std::optional<long long> haut = t.haut ? t.haut : arbres_[i].cleMax;
    if (!haut) return b;
    if (*haut <= bas) continue;
    auto debut = std::upper_bound(sauvees.begin(), sauvees.end(), bas);
    auto fin = std::upper_bound(sauvees.begin(), sauvees.end(), *haut);
    perdus += (*haut - bas) - (fin - debut);
  }
  b.perdus = perdus;
  return b;
}

}  // namespace moteur::sauvetage

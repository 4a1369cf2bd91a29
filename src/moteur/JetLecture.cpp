// Reading a Jet file with libmdb, in the reading process: the catalog, each table's definition,
// properties and records, then the relations, written to the stream as they are read.
//
// libmdb 1.0 is used for what it does well (pages, columns, cracking a row apart); the rest is
// read here, because libmdb gets it wrong or loses it: it returns deleted rows and skips moved
// ones (the two row flags are swapped), reads some index definitions wrongly, turns property
// values into text without their type, and stops quietly at a page past the end of a cut file.
#include <fcntl.h>
#include <unistd.h>

#include <glib.h>  // before mdbtools.h, which would include it inside extern "C"

#include <mdbtools.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "moteur/Jet.h"
#include "moteur/Noms.h"

namespace moteur::jet {

namespace {

constexpr int MasqueDecalage = 0x1FFF;
constexpr int LigneSupprimee = 0x8000;
constexpr int LigneDeplacee = 0x4000;  // the row holds the place of a row moved to another page
constexpr std::uint32_t ObjetSysteme = 0x80000002u;

std::uint32_t Lu32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
int Lu16(const unsigned char* p) { return p[0] | (p[1] << 8); }

// ---- Definitions as the table definition pages hold them ----

struct ColonneTdef {
  int numero = 0;
  std::string nom;
};

struct IndexReel {
  std::vector<std::pair<int, bool>> colonnes;  // column number, ascending
  int drapeaux = 0;
};

struct IndexLogique {
  std::string nom;
  int reel = 0;
  int genre = 0;  // 1 primary key, 2 foreign key of a relation
};

struct Tdef {
  std::vector<ColonneTdef> colonnes;
  std::vector<IndexReel> reels;
  std::vector<IndexLogique> logiques;
};

// Properties of one object: a block for the object itself (empty name) and one per field.
struct BlocProprietes {
  std::string nom;
  std::vector<DefPropriete> proprietes;
};

struct ObjetJet {
  std::string nom;
  std::uint32_t drapeaux = 0;
  std::uint32_t pageDefinition = 0;
  std::vector<BlocProprietes> proprietes;
};

class Lecture;

// Bounds-checked view of a definition spread over a chain of pages.
class Curseur {
 public:
  Curseur(const std::string& donnees, const std::string& chemin) : d_(donnees), chemin_(chemin) {}
  void Place(std::size_t position) { p_ = position; }
  void Saute(std::size_t n) { Exige(n); p_ += n; }
  int Octet() { Exige(1); return static_cast<unsigned char>(d_[p_++]); }
  int Mot() { Exige(2); int v = Lu16(Ptr()); p_ += 2; return v; }
  std::uint32_t Long() { Exige(4); std::uint32_t v = Lu32(Ptr()); p_ += 4; return v; }
  std::string_view Octets(std::size_t n) { Exige(n); std::string_view v(d_.data() + p_, n); p_ += n; return v; }

 private:
  const unsigned char* Ptr() const { return reinterpret_cast<const unsigned char*>(d_.data() + p_); }
  void Exige(std::size_t n) const;
  const std::string& d_;
  const std::string& chemin_;
  std::size_t p_ = 0;
};

[[noreturn]] void Endommage(const std::string& chemin, const std::string& detail) {
  throw ErreurMoteur(err::BaseEndommagee, "La base de données Jet '" + chemin + "' est endommagée : " + detail + ".");
}

// What an error of the reading says once the file's name is taken away.
std::string Detail(const ErreurMoteur& e) {
  const std::string& d = e.Description();
  const std::string marque = "' est endommagée : ";
  auto pos = d.find(marque);
  std::string detail = pos == std::string::npos ? d : d.substr(pos + marque.size());
  if (!detail.empty() && detail.back() == '.') detail.pop_back();
  return detail;
}

void Curseur::Exige(std::size_t n) const {
  if (p_ + n > d_.size()) Endommage(chemin_, "une définition de table est incomplète");
}

// Property values as the object model types them; false for kinds this engine cannot hold.
bool ValeurPropriete(int type, std::string_view o, int version, int pageDeCode, DefPropriete& p) {
  auto u = reinterpret_cast<const unsigned char*>(o.data());
  auto exige = [&](std::size_t n) { return o.size() >= n; };
  switch (type) {
    case dbBoolean: if (!exige(1)) return false; p.valeur = Valeur(u[0] != 0); break;
    case dbByte: if (!exige(1)) return false; p.valeur = Valeur(static_cast<long long>(u[0])); break;
    case dbInteger: if (!exige(2)) return false; p.valeur = Valeur(static_cast<long long>(static_cast<std::int16_t>(Lu16(u)))); break;
    case dbLong: if (!exige(4)) return false; p.valeur = Valeur(static_cast<long long>(static_cast<std::int32_t>(Lu32(u)))); break;
    case dbCurrency: {
      if (!exige(8)) return false;
      std::int64_t m;
      std::memcpy(&m, u, 8);
      p.valeur = Valeur::Monetaire(m);
      break;
    }
    case dbSingle: {
      if (!exige(4)) return false;
      float f;
      std::memcpy(&f, u, 4);
      p.valeur = Valeur(static_cast<double>(f));
      break;
    }
    case dbDouble:
    case dbDate: {
      if (!exige(8)) return false;
      double d;
      std::memcpy(&d, u, 8);
      DateHeure date;
      if (type == dbDate && !DateDepuisJet(d, date)) return false;
      p.valeur = type == dbDate ? Valeur(date) : Valeur(d);
      break;
    }
    case dbText:
    case dbMemo: p.valeur = Valeur(DecodeTexte(o, version, pageDeCode)); break;
    case dbBinary:
    case dbLongBinary: p.valeur = Valeur::Binaire(std::string(o)); break;
    case 15: type = dbBinary; p.valeur = Valeur::Binaire(std::string(o)); break;  // a GUID, kept as its 16 bytes
    default: return false;
  }
  p.type = type;
  return true;
}

// The properties blob of an object ("KKD" in Jet 3.0, "MR2" in Jet 4.0): a list of names, then
// blocks of typed values that refer to those names.
std::vector<BlocProprietes> LitProprietes(std::string_view blob, int version, int pageDeCode) {
  std::vector<BlocProprietes> blocs;
  if (blob.size() < 4 || (blob.substr(0, 4) != std::string_view("KKD\0", 4) && blob.substr(0, 4) != std::string_view("MR2\0", 4)))
    return blocs;
  auto u = reinterpret_cast<const unsigned char*>(blob.data());
  std::vector<std::string> noms;
  std::size_t pos = 4;
  while (pos + 6 <= blob.size()) {
    std::uint32_t longueur = Lu32(u + pos);
    int genre = Lu16(u + pos + 4);
    if (longueur < 6 || pos + longueur > blob.size()) break;
    std::string_view morceau = blob.substr(pos + 6, longueur - 6);
    auto m = reinterpret_cast<const unsigned char*>(morceau.data());
    if (genre == 0x80) {
      noms.clear();
      for (std::size_t p = 0; p + 2 <= morceau.size();) {
        std::size_t n = static_cast<std::size_t>(Lu16(m + p));
        if (p + 2 + n > morceau.size()) break;
        noms.push_back(DecodeTexte(morceau.substr(p + 2, n), version, pageDeCode));
        p += 2 + n;
      }
    } else if ((genre == 0x00 || genre == 0x01) && morceau.size() >= 6) {
      BlocProprietes bloc;
      std::size_t n = static_cast<std::size_t>(Lu16(m + 4));
      if (6 + n > morceau.size()) break;
      bloc.nom = DecodeTexte(morceau.substr(6, n), version, pageDeCode);
      for (std::size_t p = 6 + n; p + 8 <= morceau.size();) {
        std::size_t taille = static_cast<std::size_t>(Lu16(m + p));
        std::size_t rang = static_cast<std::size_t>(Lu16(m + p + 4));
        std::size_t donnees = static_cast<std::size_t>(Lu16(m + p + 6));
        if (taille < 8 || p + taille > morceau.size() || 8 + donnees > taille) break;
        DefPropriete prop;
        if (rang < noms.size() && NomValide(noms[rang])) {
          prop.nom = noms[rang];
          bool connue = std::any_of(bloc.proprietes.begin(), bloc.proprietes.end(),
                                    [&](const DefPropriete& x) { return MemeNom(x.nom, prop.nom); });
          if (!connue && ValeurPropriete(m[p + 3], morceau.substr(p + 8, donnees), version, pageDeCode, prop))
            bloc.proprietes.push_back(std::move(prop));
        }
        p += taille;
      }
      blocs.push_back(std::move(bloc));
    }
    pos += longueur;
  }
  return blocs;
}

const std::vector<DefPropriete>* Bloc(const std::vector<BlocProprietes>& blocs, std::string_view nom) {
  for (const auto& b : blocs)
    if (MemeNom(b.nom, nom)) return &b.proprietes;
  return nullptr;
}

bool EstIntegree(std::string_view nom, std::initializer_list<const char*> integrees) {
  for (const char* n : integrees)
    if (MemeNom(nom, n)) return true;
  return false;
}

// ---- The file ----

class Lecture {
 public:
  Lecture(const std::string& chemin, const Entete& entete);
  ~Lecture();
  Lecture(const Lecture&) = delete;
  Lecture& operator=(const Lecture&) = delete;
  void Envoie(Ecrivain& sortie);

 private:
  friend class Parcours;
  void LitCatalogue();
  std::string ChaineDefinition(std::uint32_t page);
  std::uint32_t PageDeSaCarte(std::uint32_t page);
  Tdef LitTdef(std::uint32_t page);
  MdbTableDef* OuvreTable(MdbCatalogEntry& entree, const std::string& nom, std::uint32_t page);
  DefTable Definition(const ObjetJet& o, MdbTableDef* t, const Tdef& tdef);
  DefChamp Champ(const MdbColumn* col, const std::string& nom, int ordinal, const std::vector<BlocProprietes>& blocs);
  void Index(DefTable& def, const Tdef& tdef);
  void EnvoieTable(const ObjetJet& o, Ecrivain& sortie);
  void EnvoieRelations(Ecrivain& sortie);
  Valeur Decode(const MdbColumn* col, const MdbField& f);
  std::string ValeurLongue(const MdbField& f);
  std::string_view LigneLongue(std::uint32_t pageLigne);
  int TypeMoteur(const MdbColumn* col) const;
  // What cannot be read is left out and told; the reading goes on.
  void Perte(const std::string& texte);
  // A page number past the end: the file was cut short when the page would have been in it.
  std::string Dehors(std::uint32_t page, const std::string& quoi) const;

  std::string chemin_;
  Ecrivain* sortie_ = nullptr;
  Entete e_;
  MdbHandle* mdb_ = nullptr;
  int fd_ = -1;
  int pageDeCode_ = 1252;
  std::vector<ObjetJet> tables_;
  std::vector<DefPropriete> proprietesBase_;
  std::uint32_t pageRelations_ = 0;
};

// Live rows of a table: deleted rows are skipped, moved rows are read where they moved to.
class Parcours {
 public:
  // `lieu` names the table in what is told of a row that cannot be read ("Table 'Clients'").
  Parcours(Lecture& l, MdbTableDef* t, std::string lieu)
      : l_(l), t_(t), lieu_(std::move(lieu)), champs_(std::max(1u, t->num_cols)) {
    mdb_rewind_table(t_);
  }
  // Fills the values of the next row that can be read, false at the end of the table. A row that
  // cannot be read, or a value of it, is told and left out.
  bool Suivante(std::vector<Valeur>& valeurs);
  long long Position() const { return position_; }
  std::uint32_t PageHorsDuFichier() const;

 private:
  bool PageSuivante();
  bool LitEntree(int ligne, int drapeaux, std::vector<Valeur>& valeurs);
  void LitLigne(int debut, int fin, std::vector<Valeur>& valeurs);
  void Limites(int ligne, int& debut, int& fin) const;
  std::string Ligne() const { return lieu_ + ", ligne " + std::to_string(position_); }

  Lecture& l_;
  MdbTableDef* t_;
  std::string lieu_;
  long long position_ = 0;  // of the row being read, among the table's live rows
  std::vector<MdbField> champs_;
  std::uint32_t page_ = 0;
  int ligne_ = 0, lignes_ = 0;
  bool commence_ = false;
};

Lecture::Lecture(const std::string& chemin, const Entete& entete) : chemin_(chemin), e_(entete) {
  fd_ = ::open(chemin.c_str(), O_RDONLY | O_CLOEXEC);
  mdb_ = mdb_open(chemin.c_str(), MDB_NOFLAGS);
  if (fd_ < 0 || !mdb_) Endommage(chemin_, "son en-tête est illisible");
  if (mdb_->fmt->pg_size != e_.taillePage || static_cast<int>(mdb_->f->jet_version) != e_.version)
    Endommage(chemin_, "son en-tête est incohérent");
  if (mdb_->f->code_page != 0) pageDeCode_ = mdb_->f->code_page;
}

Lecture::~Lecture() {
  if (mdb_) mdb_close(mdb_);
  if (fd_ >= 0) ::close(fd_);
}

// A table definition and its continuation pages, as one block whose offsets are those of the
// first page.
std::string Lecture::ChaineDefinition(std::uint32_t page) {
  std::string donnees;
  std::string tampon(static_cast<std::size_t>(e_.taillePage), '\0');
  for (long long n = 0; page != 0; ++n) {
    if (page >= e_.pages || n > e_.pages) Endommage(chemin_, Dehors(page, "une définition de table"));
    if (::pread(fd_, tampon.data(), tampon.size(), static_cast<off_t>(page) * e_.taillePage) != e_.taillePage || tampon[0] != 0x02)
      Endommage(chemin_, "une page de définition de table est illisible");
    donnees.append(n == 0 ? tampon : tampon.substr(8));
    page = Lu32(reinterpret_cast<const unsigned char*>(tampon.data()) + 4);
  }
  return donnees;
}

// The page that holds the map of the table's pages (libmdb reads the table without it when it
// lies past the end, and then finds no rows).
std::uint32_t Lecture::PageDeSaCarte(std::uint32_t page) {
  std::string definition = ChaineDefinition(page);
  const std::size_t carte = e_.version >= 1 ? 55 : 35;
  return Lu32(reinterpret_cast<const unsigned char*>(definition.data()) + carte) >> 8;
}

Tdef Lecture::LitTdef(std::uint32_t page) {
  const bool jet4 = e_.version >= 1;
  std::string donnees = ChaineDefinition(page);
  Curseur c(donnees, chemin_);
  Tdef t;
  c.Place(jet4 ? 45 : 25);
  int colonnes = c.Mot();
  std::uint32_t logiques = c.Long(), reels = c.Long();
  if (colonnes > 4096 || logiques > 4096 || reels > 4096) Endommage(chemin_, "une définition de table est incohérente");
  c.Place(jet4 ? 63 : 43);
  c.Saute(reels * (jet4 ? 12u : 8u));
  for (int i = 0; i < colonnes; ++i) {
    std::string_view entree = c.Octets(jet4 ? 25 : 18);
    t.colonnes.push_back({Lu16(reinterpret_cast<const unsigned char*>(entree.data()) + (jet4 ? 5 : 1)), {}});
  }
  for (auto& col : t.colonnes) col.nom = DecodeTexte(c.Octets(static_cast<std::size_t>(jet4 ? c.Mot() : c.Octet())), e_.version, pageDeCode_);
  for (std::uint32_t i = 0; i < reels; ++i) {
    if (jet4) c.Saute(4);
    IndexReel x;
    for (int k = 0; k < 10; ++k) {
      int numero = c.Mot();
      int ordre = c.Octet();
      if (numero != 0xFFFF) x.colonnes.emplace_back(numero, ordre == 0x01);
    }
    // Map and first page, then in Jet 4.0 four more bytes before the flags.
    c.Saute(jet4 ? 12 : 8);
    x.drapeaux = c.Octet();
    if (jet4) c.Saute(5);
    t.reels.push_back(std::move(x));
  }
  for (std::uint32_t i = 0; i < logiques; ++i) {
    std::string_view entree = c.Octets(jet4 ? 28 : 20);
    auto u = reinterpret_cast<const unsigned char*>(entree.data()) + (jet4 ? 4 : 0);
    t.logiques.push_back({{}, static_cast<int>(Lu32(u + 4)), u[19]});
  }
  for (auto& x : t.logiques) x.nom = DecodeTexte(c.Octets(static_cast<std::size_t>(jet4 ? c.Mot() : c.Octet())), e_.version, pageDeCode_);
  return t;
}

// MSysObjects, through the same row reader as any table: its tables, their properties, the
// database's properties and where the relations are. Jet's own system tables are not carried
// over (the image's catalog takes their place), nor are linked tables and queries, which hold no
// records of the file.
void Lecture::LitCatalogue() {
  MdbCatalogEntry entree{};
  MdbTableDef* t = OuvreTable(entree, "MSysObjects", 2);
  std::map<std::string, int> rang;
  for (unsigned i = 0; i < t->num_cols; ++i)
    rang[static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i))->name] = static_cast<int>(i);
  for (const char* n : {"Id", "Name", "Type", "Flags", "LvProp"})
    if (!rang.count(n)) {
      mdb_free_tabledef(t);
      Endommage(chemin_, "son catalogue est illisible");
    }
  std::vector<Valeur> v;
  Parcours parcours(*this, t, "Catalogue (MSysObjects)");
  long long lues = 0;
  while (parcours.Suivante(v)) {
    ++lues;
    if (v[rang["Name"]].EstNul() || v[rang["Id"]].EstNul()) continue;
    std::string nom = v[rang["Name"]].texte();
    auto id = static_cast<std::uint32_t>(v[rang["Id"]].entier());
    auto type = v[rang["Type"]].EstNul() ? 0 : v[rang["Type"]].entier() & 0x7F;
    auto drapeaux = static_cast<std::uint32_t>(v[rang["Flags"]].EstNul() ? 0 : v[rang["Flags"]].entier());
    const Valeur& blob = v[rang["LvProp"]];
    if (MemeNom(nom, "MSysRelationships") && type == 1) pageRelations_ = id & 0x00FFFFFF;
    if (MemeNom(nom, "MSysDb") && !blob.EstNul()) {
      auto blocs = LitProprietes(blob.texte(), e_.version, pageDeCode_);
      if (const auto* p = Bloc(blocs, "")) proprietesBase_ = *p;
    }
    bool systeme = (drapeaux & ObjetSysteme) != 0 || PlieNom(nom).rfind("msys", 0) == 0;
    if (type != 1 || systeme) continue;
    ObjetJet o{nom, drapeaux, id & 0x00FFFFFF, {}};
    if (!blob.EstNul()) o.proprietes = LitProprietes(blob.texte(), e_.version, pageDeCode_);
    tables_.push_back(std::move(o));
  }
  std::uint32_t dehors = parcours.PageHorsDuFichier();
  if (std::uint32_t carte = PageDeSaCarte(2); carte >= e_.pages) dehors = carte;
  mdb_free_tabledef(t);
  // Without a single row of its catalog, nothing of the file can be found: it is not converted
  // into an empty database. When its pages lie past the end, the file was cut short.
  if (lues == 0) Endommage(chemin_, dehors ? Dehors(dehors, "son catalogue") : "son catalogue est illisible");
}

MdbTableDef* Lecture::OuvreTable(MdbCatalogEntry& entree, const std::string& nom, std::uint32_t page) {
  if (page == 0 || page >= e_.pages) Endommage(chemin_, Dehors(page, "la table '" + nom + "'"));
  entree.mdb = mdb_;
  std::snprintf(entree.object_name, sizeof entree.object_name, "%s", nom.c_str());
  entree.object_type = MDB_TABLE;
  entree.table_pg = page;
  MdbTableDef* t = mdb_read_table(&entree);
  if (!t || !mdb_read_columns(t) || t->num_cols == 0 || t->columns->len != t->num_cols) {
    if (t) mdb_free_tabledef(t);
    // A definition whose pages, or whose map of pages, lie past the end says so: the file was
    // cut short.
    if (std::uint32_t carte = PageDeSaCarte(page); carte >= e_.pages)
      Endommage(chemin_, Dehors(carte, "la définition de la table '" + nom + "'"));
    Endommage(chemin_, "la définition de la table '" + nom + "' est illisible");
  }
  return t;
}

int Lecture::TypeMoteur(const MdbColumn* col) const {
  switch (col->col_type) {
    case MDB_BOOL: return dbBoolean;
    case MDB_BYTE: return dbByte;
    case MDB_INT: return dbInteger;
    case MDB_LONGINT: return dbLong;
    case MDB_MONEY: return dbCurrency;
    case MDB_FLOAT: return dbSingle;
    case MDB_DOUBLE: return dbDouble;
    case MDB_DATETIME: return dbDate;
    case MDB_BINARY: return dbBinary;
    case MDB_TEXT: return dbText;
    case MDB_REPID: return dbGUID;  // kept as its usual text, "{…}"
    case MDB_MEMO: return dbMemo;
    // A scaled decimal is kept exactly: as a double while its digits fit one, else as text.
    case MDB_NUMERIC: return col->col_prec <= 15 ? dbDouble : dbText;
    default: return dbLongBinary;
  }
}

DefChamp Lecture::Champ(const MdbColumn* col, const std::string& nom, int ordinal, const std::vector<BlocProprietes>& blocs) {
  DefChamp c;
  c.nom = nom;
  c.type = TypeMoteur(col);
  c.ordinal = ordinal;
  if (c.type == dbText) {
    int taille = col->col_type == MDB_NUMERIC ? col->col_prec + 2 : col->col_size / (e_.version >= 1 ? 2 : 1);
    c.taille = std::clamp(taille, 1, TailleTexteMax);
  } else {
    c.taille = c.type == dbBinary ? std::max(1, col->col_size) : TailleFixe(c.type);
  }
  if (col->is_long_auto && c.type == dbLong) c.attributs |= dbAutoIncrField;
  // A Replication ID Jet fills itself is one whose default is a new GUID.
  if (col->is_uuid_auto && c.type == dbGUID) c.defaut = "GenGUID()";
  if (col->is_fixed && col->col_type == MDB_TEXT) c.attributs |= dbFixedField;
  if (const auto* props = Bloc(blocs, nom)) {
    for (const auto& p : *props) {
      if (MemeNom(p.nom, "DefaultValue")) {
        // A default the engine cannot evaluate (GenGUID(), a computed expression) is left out.
        std::string expression = p.valeur.EstNul() ? "" : p.valeur.EnTexte();
        if (conversion::DefautValide(expression)) c.defaut = expression;
      } else if (MemeNom(p.nom, "Required")) {
        c.requis = !p.valeur.EstNul() && p.valeur.EnBooleen();
      } else if (MemeNom(p.nom, "AllowZeroLength")) {
        c.zeroLongueur = !p.valeur.EstNul() && p.valeur.EnBooleen();
      } else if (!EstIntegree(p.nom, {"Name", "Type", "Size", "Attributes", "OrdinalPosition"})) {
        c.proprietes.push_back(p);
      }
    }
  }
  return c;
}

void Lecture::Index(DefTable& def, const Tdef& tdef) {
  std::map<int, std::string> noms;  // column number → field name
  for (const auto& col : tdef.colonnes) noms[col.numero] = col.nom;
  for (const auto& x : tdef.logiques) {
    // The index behind a relation belongs to the relation, which is rebuilt with it.
    if (x.genre == 2) continue;
    if (x.reel < 0 || x.reel >= static_cast<int>(tdef.reels.size())) {
      Perte("Index '" + def.nom + "." + x.nom + "' : sa définition est illisible, il n'est pas repris");
      continue;
    }
    const IndexReel& r = tdef.reels[static_cast<std::size_t>(x.reel)];
    std::string champs;
    bool complet = !r.colonnes.empty();
    for (const auto& [numero, croissant] : r.colonnes) {
      auto it = noms.find(numero);
      if (it == noms.end()) complet = false;
      else champs += (champs.empty() ? "" : ";") + std::string(croissant ? "+" : "-") + it->second;
    }
    if (!complet || !NomValide(x.nom)) {
      Perte("Index '" + def.nom + "." + x.nom + "' : sa définition est illisible, il n'est pas repris");
      continue;
    }
    DefIndex index;
    index.nom = x.nom;
    index.champs = champs;
    index.primaire = x.genre == 1;
    index.unique = (r.drapeaux & MDB_IDX_UNIQUE) != 0 || index.primaire;
    index.ignoreNulls = (r.drapeaux & MDB_IDX_IGNORENULLS) != 0;
    def.index.push_back(std::move(index));
  }
}

DefTable Lecture::Definition(const ObjetJet& o, MdbTableDef* t, const Tdef& tdef) {
  DefTable def;
  def.nom = o.nom;
  std::map<int, std::string> noms;
  for (const auto& col : tdef.colonnes) noms[col.numero] = col.nom;
  for (unsigned i = 0; i < t->num_cols; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
    auto it = noms.find(col->col_num);
    if (it == noms.end() || !NomValide(it->second)) Endommage(chemin_, "la table '" + o.nom + "' a une colonne illisible");
    def.champs.push_back(Champ(col, it->second, static_cast<int>(i), o.proprietes));
  }
  Index(def, tdef);
  if (const auto* props = Bloc(o.proprietes, ""))
    for (const auto& p : *props)
      if (!EstIntegree(p.nom, {"Name", "Attributes"})) def.proprietes.push_back(p);
  return def;
}

void Lecture::EnvoieTable(const ObjetJet& o, Ecrivain& sortie) {
  MdbCatalogEntry entree{};  // libmdb keeps a pointer to it in the table's definition
  MdbTableDef* t = nullptr;
  DefTable def;
  try {
    Tdef tdef = LitTdef(o.pageDefinition);
    t = OuvreTable(entree, o.nom, o.pageDefinition);
    if (t->num_cols != tdef.colonnes.size()) Endommage(chemin_, "la définition de la table '" + o.nom + "' est incohérente");
    def = Definition(o, t, tdef);
  } catch (const ErreurMoteur& e) {
    if (t) mdb_free_tabledef(t);
    Perte("Table '" + o.nom + "' : sa définition est illisible, elle n'est pas convertie (" + Detail(e) + ")");
    return;
  }
  sortie.Type(Message::Table);
  sortie.Table(def);
  std::vector<Valeur> valeurs;
  Parcours parcours(*this, t, "Table '" + o.nom + "'");
  try {
    while (parcours.Suivante(valeurs)) {
      sortie.Type(Message::Ligne);
      sortie.Entier(static_cast<std::int64_t>(valeurs.size()));
      for (const auto& v : valeurs) sortie.Valeur(v);
    }
  } catch (const ErreurMoteur& e) {
    Perte("Table '" + o.nom + "' : la lecture s'est arrêtée après la ligne " + std::to_string(parcours.Position()) + " (" + Detail(e) +
          ") ; les enregistrements suivants sont perdus");
  }
  sortie.Type(Message::FinTable);
  mdb_free_tabledef(t);
}

// MSysRelationships: one row per pair of fields, grouped by relation name.
void Lecture::EnvoieRelations(Ecrivain& sortie) {
  if (pageRelations_ == 0) return;
  MdbCatalogEntry entree{};
  MdbTableDef* t = nullptr;
  try {
    t = OuvreTable(entree, "MSysRelationships", pageRelations_);
  } catch (const ErreurMoteur& e) {
    Perte("Relations : la table qui les décrit est illisible, elles ne sont pas reprises (" + Detail(e) + ")");
    return;
  }
  std::map<std::string, int> rang;
  for (unsigned i = 0; i < t->num_cols; ++i)
    rang[static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i))->name] = static_cast<int>(i);
  std::vector<std::pair<DefRelation, std::vector<std::pair<long long, std::pair<std::string, std::string>>>>> relations;
  bool lisible = true;
  for (const char* n : {"szRelationship", "grbit", "icolumn", "szObject", "szColumn", "szReferencedObject", "szReferencedColumn"})
    lisible = lisible && rang.count(n);
  if (!lisible) Perte("Relations : la table qui les décrit est incomplète, elles ne sont pas reprises");
  std::vector<Valeur> v;
  Parcours parcours(*this, t, "Relations (MSysRelationships)");
  while (lisible && parcours.Suivante(v)) {
    auto texte = [&](const char* n) { const Valeur& x = v[rang[n]]; return x.EstNul() ? std::string() : x.texte(); };
    std::string nom = texte("szRelationship");
    auto it = std::find_if(relations.begin(), relations.end(), [&](const auto& r) { return r.first.nom == nom; });
    if (it == relations.end()) {
      DefRelation r;
      r.nom = nom;
      r.table = texte("szReferencedObject");
      r.tableEtrangere = texte("szObject");
      r.attributs = v[rang["grbit"]].EstNul() ? 0 : static_cast<std::uint32_t>(v[rang["grbit"]].entier());
      relations.emplace_back(std::move(r), std::vector<std::pair<long long, std::pair<std::string, std::string>>>{});
      it = relations.end() - 1;
    }
    long long position = v[rang["icolumn"]].EstNul() ? 0 : v[rang["icolumn"]].entier();
    it->second.emplace_back(position, std::make_pair(texte("szReferencedColumn"), texte("szColumn")));
  }
  mdb_free_tabledef(t);
  auto convertie = [&](const std::string& nom) {
    return std::any_of(tables_.begin(), tables_.end(), [&](const ObjetJet& o) { return MemeNom(o.nom, nom); });
  };
  for (auto& [r, champs] : relations) {
    if (!convertie(r.table) || !convertie(r.tableEtrangere) || !NomValide(r.nom)) continue;
    std::stable_sort(champs.begin(), champs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& c : champs) r.champs.push_back(std::move(c.second));
    sortie.Type(Message::Relation);
    sortie.Relation(r);
  }
}

void Lecture::Perte(const std::string& texte) {
  sortie_->Type(Message::Perte);
  sortie_->Texte(texte);
}

std::string Lecture::Dehors(std::uint32_t page, const std::string& quoi) const {
  // A page a little past the end is one of the pages cut off; far past it, a number overwritten.
  if (page >= e_.pages && static_cast<long long>(page) < 4 * e_.pages + 64)
    return "le fichier est tronqué : " + quoi + " renvoie à la page " + std::to_string(page) + ", au-delà de sa fin (" +
           std::to_string(e_.pages) + " pages)";
  return quoi + " renvoie hors du fichier";
}

void Lecture::Envoie(Ecrivain& sortie) {
  sortie_ = &sortie;
  if (e_.reste != 0)
    Perte("Le fichier est tronqué : sa dernière page n'a que " + std::to_string(e_.reste) + " octets sur " +
          std::to_string(e_.taillePage) + ", elle n'est pas lue ; ses " + std::to_string(e_.pages) +
          " pages entières le sont");
  LitCatalogue();
  std::vector<DefPropriete> base;
  for (const auto& p : proprietesBase_)
    if (!EstIntegree(p.nom, {"Name", "Version"})) base.push_back(p);
  sortie.Type(Message::Base);
  sortie.Proprietes(base);
  for (const auto& o : tables_) EnvoieTable(o, sortie);
  EnvoieRelations(sortie);
  sortie.Type(Message::Fin);
}

// A row of a long value page; the page is checked to be in the file before libmdb reads it.
std::string_view Lecture::LigneLongue(std::uint32_t pageLigne) {
  std::uint32_t page = pageLigne >> 8;
  if (page == 0 || page >= e_.pages) Endommage(chemin_, Dehors(page, "un texte long ou un objet"));
  void* tampon = nullptr;
  int debut = 0;
  std::size_t longueur = 0;
  if (mdb_find_pg_row(mdb_, static_cast<int>(pageLigne), &tampon, &debut, &longueur) != 0 || !tampon || debut < 0 ||
      static_cast<long>(debut) + static_cast<long>(longueur) > e_.taillePage)
    Endommage(chemin_, "un texte long ou un objet est illisible");
  // A long value page says "LVAL" where a data page names its table.
  auto contenu = static_cast<const unsigned char*>(tampon);
  if (contenu[0] != MDB_PAGE_DATA || std::memcmp(contenu + 4, "LVAL", 4) != 0)
    Endommage(chemin_, "la page d'un texte long ou d'un objet a été écrasée");
  return {static_cast<const char*>(tampon) + debut, longueur};
}

// Memo and long binary values: in the row itself, in one row of another page, or in a chain of
// rows whose first four bytes point to the next one.
std::string Lecture::ValeurLongue(const MdbField& f) {
  if (f.siz == 0) return {};
  if (f.siz < MDB_MEMO_OVERHEAD) Endommage(chemin_, "un texte long ou un objet est tronqué");
  const unsigned char* h = mdb_->pg_buf + f.start;
  std::uint32_t entete = Lu32(h);
  std::size_t longueur = entete & 0x3FFFFFFF;
  if (entete & 0x80000000u) return std::string(reinterpret_cast<const char*>(h) + MDB_MEMO_OVERHEAD, static_cast<std::size_t>(f.siz - MDB_MEMO_OVERHEAD));
  std::uint32_t suivante = Lu32(h + 4);
  if (entete & 0x40000000u) {
    std::string_view ligne = LigneLongue(suivante);
    if (longueur > ligne.size()) Endommage(chemin_, "un texte long ou un objet est tronqué");
    return std::string(ligne.substr(0, longueur));
  }
  std::string valeur;
  valeur.reserve(std::min<std::size_t>(longueur, 64u << 20));
  for (long long n = 0; valeur.size() < longueur; ++n) {
    if (suivante == 0 || n > e_.pages) Endommage(chemin_, "un texte long ou un objet est tronqué");
    std::string_view ligne = LigneLongue(suivante);
    if (ligne.size() < 4) Endommage(chemin_, "un texte long ou un objet est illisible");
    suivante = Lu32(reinterpret_cast<const unsigned char*>(ligne.data()));
    valeur.append(ligne.substr(4));
  }
  valeur.resize(longueur);
  return valeur;
}

// One field of the row libmdb has just cracked, as the engine stores it.
Valeur Lecture::Decode(const MdbColumn* col, const MdbField& f) {
  if (col->col_type == MDB_BOOL) return Valeur(!f.is_null);
  if (f.is_null) return Valeur::Nul();
  const unsigned char* o = mdb_->pg_buf + f.start;
  auto fixe = [&](int taille) {
    if (f.siz != taille) Endommage(chemin_, "la colonne '" + std::string(col->name) + "' a une valeur de taille incohérente");
  };
  switch (col->col_type) {
    case MDB_BYTE: fixe(1); return Valeur(static_cast<long long>(o[0]));
    case MDB_INT: fixe(2); return Valeur(static_cast<long long>(static_cast<std::int16_t>(Lu16(o))));
    case MDB_LONGINT: fixe(4); return Valeur(static_cast<long long>(static_cast<std::int32_t>(Lu32(o))));
    case MDB_MONEY: {
      fixe(8);
      std::int64_t m;
      std::memcpy(&m, o, 8);
      return Valeur::Monetaire(m);
    }
    case MDB_FLOAT: {
      fixe(4);
      float x;
      std::memcpy(&x, o, 4);
      return Valeur(static_cast<double>(x));
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
      fixe(8);
      double x;
      std::memcpy(&x, o, 8);
      DateHeure d;
      // A date out of any calendar stays the number it is: the record check then finds it.
      if (col->col_type == MDB_DATETIME && DateDepuisJet(x, d)) return Valeur(d);
      return Valeur(x);
    }
    case MDB_TEXT: return Valeur(DecodeTexte({reinterpret_cast<const char*>(o), static_cast<std::size_t>(f.siz)}, e_.version, pageDeCode_));
    case MDB_MEMO: return Valeur(DecodeTexte(ValeurLongue(f), e_.version, pageDeCode_));
    case MDB_OLE: return Valeur::Binaire(ValeurLongue(f));
    case MDB_REPID: {
      fixe(16);
      char texte[40];
      std::snprintf(texte, sizeof texte, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", o[3], o[2],
                    o[1], o[0], o[5], o[4], o[7], o[6], o[8], o[9], o[10], o[11], o[12], o[13], o[14], o[15]);
      return Valeur(std::string(texte));
    }
    case MDB_NUMERIC: {
      fixe(17);
      std::string texte = DecimalEnTexte(o, col->col_scale);
      if (TypeMoteur(col) == dbDouble) return Valeur(std::strtod(texte.c_str(), nullptr));
      return Valeur(texte);
    }
    default: return Valeur::Binaire(std::string(reinterpret_cast<const char*>(o), static_cast<std::size_t>(f.siz)));
  }
}

// ---- Parcours ----

// The first page the table's map names that lies past the end of the file; 0 when none does.
std::uint32_t Parcours::PageHorsDuFichier() const {
  if (!t_->usage_map) return 0;
  const auto taille = static_cast<unsigned>(t_->map_sz);
  // A large table's map is a list of the pages that hold its bitmaps: one of them past the end
  // is enough (libmdb then stops the walk without a word).
  const auto* carte = static_cast<const unsigned char*>(t_->usage_map);
  if (taille > 0 && carte[0] == 1)
    for (unsigned i = 1; i + 4 <= taille; i += 4)
      if (std::uint32_t page = Lu32(carte + i); page >= l_.e_.pages) return page;
  int precedente = 0;
  for (int p = mdb_map_find_next(l_.mdb_, t_->usage_map, taille, 0); p > precedente;
       precedente = p, p = mdb_map_find_next(l_.mdb_, t_->usage_map, taille, static_cast<guint32>(p))) {
    if (p >= l_.e_.pages) return static_cast<std::uint32_t>(p);
  }
  return 0;
}

bool Parcours::PageSuivante() {
  MdbHandle* mdb = l_.mdb_;
  for (;;) {
    int page = mdb_read_next_dpg(t_);
    if (page <= 0) {
      // libmdb also ends the table on a page it cannot read, and steps quietly over one that is
      // no longer a data page: the count the definition keeps tells, and a page the map names
      // past the end says the file was cut short.
      // A count beyond what the whole file could hold is the definition's damage, not records.
      const long long capacite = static_cast<long long>(l_.e_.pages) * (l_.e_.taillePage / 2);
      if (static_cast<long long>(t_->num_rows) > capacite) {
        l_.Perte(lieu_ + " : le nombre d'enregistrements que donne sa définition (" + std::to_string(t_->num_rows) +
                 ") est incohérent, le fichier ne peut en contenir autant ; " + std::to_string(position_) +
                 " ont été lus");
        return false;
      }
      if (position_ < static_cast<long long>(t_->num_rows)) {
        std::string perdus = std::to_string(t_->num_rows - position_) + " de ses " + std::to_string(t_->num_rows) +
                             " enregistrements, sur des pages illisibles, sont perdus";
        std::uint32_t dehors = PageHorsDuFichier();
        l_.Perte(lieu_ + " : " + (dehors ? l_.Dehors(dehors, "sa liste de pages") + " ; " : std::string()) + perdus);
      }
      return false;
    }
    page_ = static_cast<std::uint32_t>(page);
    lignes_ = mdb_get_int16(mdb->pg_buf, mdb->fmt->row_count_offset);
    ligne_ = 0;
    if (lignes_ >= 0 && mdb->fmt->row_count_offset + 2 + 2 * lignes_ <= l_.e_.taillePage) return true;
    l_.Perte(lieu_ + " : la page " + std::to_string(page_) + " est incohérente, ses enregistrements sont perdus");
  }
}

void Parcours::Limites(int ligne, int& debut, int& fin) const {
  MdbHandle* mdb = l_.mdb_;
  int rco = mdb->fmt->row_count_offset;
  int lignes = mdb_get_int16(mdb->pg_buf, rco);
  if (ligne < 0 || ligne >= lignes || rco + 2 + 2 * lignes > l_.e_.taillePage)
    Endommage(l_.chemin_, "une ligne de la table '" + std::string(t_->name) + "' est introuvable");
  debut = mdb_get_int16(mdb->pg_buf, rco + 2 + 2 * ligne) & MasqueDecalage;
  fin = ligne == 0 ? static_cast<int>(l_.e_.taillePage) : (mdb_get_int16(mdb->pg_buf, rco + 2 * ligne) & MasqueDecalage);
  if (debut < rco + 2 + 2 * lignes || fin > l_.e_.taillePage || debut >= fin)
    Endommage(l_.chemin_, "une ligne de la table '" + std::string(t_->name) + "' est hors de sa page");
}

void Parcours::LitLigne(int debut, int fin, std::vector<Valeur>& valeurs) {
  int n = mdb_crack_row(t_, debut, static_cast<std::size_t>(fin - debut), champs_.data());
  if (n < 0) Endommage(l_.chemin_, "une ligne de la table '" + std::string(t_->name) + "' est illisible");
  valeurs.assign(t_->num_cols, Valeur::Nul());
  for (unsigned i = 0; i < t_->num_cols; ++i) {
    const MdbField& f = champs_[i];
    if (f.colnum < 0 || f.colnum >= static_cast<int>(t_->num_cols)) Endommage(l_.chemin_, "une ligne est illisible");
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t_->columns, f.colnum));
    // A value that cannot be read whole is left Null; the rest of the row is kept.
    try {
      bool dehors = !f.is_null && col->col_type != MDB_BOOL && (f.siz < 0 || f.start < debut || f.start + f.siz > fin);
      if (dehors) Endommage(l_.chemin_, "elle déborde de sa ligne");
      valeurs[static_cast<std::size_t>(f.colnum)] = l_.Decode(col, f);
    } catch (const ErreurMoteur& e) {
      l_.Perte(Ligne() + ", champ '" + std::string(col->name) + "' : valeur illisible, remplacée par Null (" + Detail(e) + ")");
    }
  }
}

bool Parcours::Suivante(std::vector<Valeur>& valeurs) {
  MdbHandle* mdb = l_.mdb_;
  if (!commence_) {
    commence_ = true;
    if (!PageSuivante()) return false;
  }
  for (;;) {
    while (ligne_ >= lignes_)
      if (!PageSuivante()) return false;
    int ligne = ligne_++;
    int drapeaux = mdb_get_int16(mdb->pg_buf, mdb->fmt->row_count_offset + 2 + 2 * ligne);
    if (drapeaux & LigneSupprimee) continue;
    ++position_;
    try {
      if (LitEntree(ligne, drapeaux, valeurs)) return true;
    } catch (const ErreurMoteur& e) {
      l_.Perte(Ligne() + " : illisible, elle n'est pas reprise (" + Detail(e) + ")");
      // A moved row is read from another page: the page of the walk is read again.
      if (mdb_read_pg(mdb, page_) != l_.e_.taillePage) {
        l_.Perte(lieu_ + " : la page " + std::to_string(page_) + " est devenue illisible, ses enregistrements suivants sont perdus");
        ligne_ = lignes_;
      }
    }
  }
}

// One entry of the page's table of rows: the row itself, or the one it points to.
bool Parcours::LitEntree(int ligne, int drapeaux, std::vector<Valeur>& valeurs) {
  MdbHandle* mdb = l_.mdb_;
  int debut = 0, fin = 0;
  Limites(ligne, debut, fin);
  if (!(drapeaux & LigneDeplacee)) {
    LitLigne(debut, fin, valeurs);
    return true;
  }
  // Row number, then page number on three bytes, of where the row now lives.
  if (fin - debut < 4) Endommage(l_.chemin_, "une ligne déplacée est illisible");
  const unsigned char* p = mdb->pg_buf + debut;
  int ailleurs = p[0];
  std::uint32_t page = static_cast<std::uint32_t>(p[1]) | (static_cast<std::uint32_t>(p[2]) << 8) | (static_cast<std::uint32_t>(p[3]) << 16);
  if (page == 0 || page >= l_.e_.pages) Endommage(l_.chemin_, l_.Dehors(page, "une ligne déplacée"));
  if (mdb_read_pg(mdb, page) != l_.e_.taillePage || mdb->pg_buf[0] != MDB_PAGE_DATA)
    Endommage(l_.chemin_, "une ligne déplacée est introuvable");
  Limites(ailleurs, debut, fin);
  LitLigne(debut, fin, valeurs);
  if (mdb_read_pg(mdb, page_) != l_.e_.taillePage) Endommage(l_.chemin_, "une page est devenue illisible");
  return true;
}

}  // namespace

void LitFichier(const std::string& chemin, const Entete& entete, Ecrivain& sortie) {
  try {
    Lecture lecture(chemin, entete);
    lecture.Envoie(sortie);
  } catch (const ErreurMoteur& e) {
    sortie.Type(Message::Erreur);
    sortie.Entier(e.Number());
    sortie.Texte(e.Description());
  } catch (const std::exception&) {
    sortie.Type(Message::Erreur);
    sortie.Entier(err::BaseEndommagee);
    sortie.Texte("La base de données Jet '" + chemin + "' est endommagée : sa lecture a échoué.");
  }
  sortie.Vide();
}

}  // namespace moteur::jet

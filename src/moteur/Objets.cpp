// Table definitions, fields, indexes, relations and properties: handles that are either a
// draft of their own or a view of an appended object in the catalog.
#include <algorithm>

#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur {

struct TableDefEtat {
  std::shared_ptr<BaseEtat> base;  // set on append (or for a table read from the catalog)
  long long id = 0;
  DefTable brouillon;

  bool Lie() const { return base != nullptr; }
  DefTable& Def() const {
    if (!Lie()) return const_cast<DefTable&>(brouillon);
    base->VerifieOuverte();
    DefTable* t = base->cat.TableParId(id);
    if (!t) throw ErreurMoteur(err::ObjetInvalide, "Objet non valide ou qui n'est plus défini.");
    return *t;
  }
};

struct FieldEtat {
  enum class Mode { Libre, Brouillon, Lie, Relation, Recordset };
  Mode mode = Mode::Libre;
  DefChamp def;                         // Libre, Relation
  std::shared_ptr<TableDefEtat> table;  // Brouillon, Lie
  long long champId = 0;                // Lie
  std::string nomEtranger;              // Relation
  std::shared_ptr<RecordsetEtat> rs;    // Recordset
  int colonne = 0;

  // A field appended to a draft table follows it into the catalog when the table is appended.
  void Suit() const {
    if (mode != Mode::Brouillon || !table->Lie()) return;
    auto* moi = const_cast<FieldEtat*>(this);
    DefChamp* c = table->Def().Champ(def.nom);
    if (!c) throw ErreurMoteur(err::ElementIntrouvable, {def.nom});
    moi->champId = c->id;
    moi->mode = Mode::Lie;
  }
  DefChamp& Def() const {
    Suit();
    switch (mode) {
      case Mode::Brouillon: {
        DefChamp* c = table->Def().Champ(def.nom);
        if (!c) throw ErreurMoteur(err::ElementIntrouvable, {def.nom});
        return *c;
      }
      case Mode::Lie: {
        DefChamp* c = table->Def().ChampParId(champId);
        if (!c) throw ErreurMoteur(err::ObjetInvalide, "Objet non valide ou qui n'est plus défini.");
        return *c;
      }
      case Mode::Recordset: return const_cast<DefChamp&>(DefChampRecordset(*rs, colonne));
      default: return const_cast<DefChamp&>(def);
    }
  }
  // Characteristics that no longer change once the field belongs to a table.
  void VerifieLibre() const {
    Suit();
    if (mode == Mode::Lie || mode == Mode::Recordset) throw ErreurMoteur(err::OperationInvalide);
  }
  template <class F>
  void Change(F&& f) {
    Suit();
    if (mode == Mode::Recordset) throw ErreurMoteur(err::OperationInvalide);
    if (mode == Mode::Lie) {
      catalogue::ModifieChamp(*table->base, table->id, champId, f);
      return;
    }
    f(Def());
  }
};

struct IndexEtat {
  enum class Mode { Libre, Brouillon, Lie };
  Mode mode = Mode::Libre;
  DefIndex def;
  std::shared_ptr<TableDefEtat> table;

  DefIndex& Def() const {
    if (mode == Mode::Libre) return const_cast<DefIndex&>(def);
    auto& liste = table->Def().index;
    auto it = std::find_if(liste.begin(), liste.end(), [&](const DefIndex& x) {
      return mode == Mode::Lie ? x.id == def.id : MemeNom(x.nom, def.nom);
    });
    if (it == liste.end()) throw ErreurMoteur(err::ElementIntrouvable, {def.nom});
    return *it;
  }
  DefIndex& Modifiable() {
    if (mode == Mode::Lie || (mode == Mode::Brouillon && table->Lie())) throw ErreurMoteur(err::OperationInvalide);
    return Def();
  }
};

struct RelationEtat {
  std::shared_ptr<BaseEtat> base;
  DefRelation def;  // the draft, or the id of the appended relation

  DefRelation& Def() const {
    if (!base) return const_cast<DefRelation&>(def);
    base->VerifieOuverte();
    DefRelation* r = base->cat.RelationParId(def.id);
    if (!r) throw ErreurMoteur(err::ElementIntrouvable, {def.nom});
    return *r;
  }
  DefRelation& Modifiable() {
    if (base) throw ErreurMoteur(err::OperationInvalide);
    return def;
  }
};

namespace {

const std::string& NomExigeant(const std::string& nom) {
  if (nom.empty()) throw ErreurMoteur(3125, {nom});
  return nom;
}

DefPropriete* Cherche(std::vector<DefPropriete>* liste, std::string_view nom) {
  if (!liste) return nullptr;
  for (auto& p : *liste)
    if (MemeNom(p.nom, nom)) return &p;
  return nullptr;
}

std::shared_ptr<ProprietesEtat> ProprietesDraft(std::function<std::vector<DefPropriete>*()> stockees) {
  auto e = std::make_shared<ProprietesEtat>();
  e->stockees = stockees;
  e->ecrit = [stockees](const DefPropriete& p, bool creation) {
    auto* liste = stockees();
    DefPropriete* existante = Cherche(liste, p.nom);
    if (creation) {
      if (existante) throw ErreurMoteur(err::ProprieteExiste, {p.nom});
      VerifieNom(p.nom);
      DefPropriete copie = p;
      copie.valeur = conversion::DepuisStockage(conversion::VersStockage(p.valeur, p.type), p.type);
      liste->push_back(copie);
    } else {
      if (!existante) throw ErreurMoteur(3270, {p.nom});
      existante->valeur = conversion::DepuisStockage(conversion::VersStockage(p.valeur, existante->type), existante->type);
    }
  };
  e->supprime = [stockees](const std::string& nom) {
    auto* liste = stockees();
    auto it = std::find_if(liste->begin(), liste->end(), [&](const DefPropriete& x) { return MemeNom(x.nom, nom); });
    if (it == liste->end()) throw ErreurMoteur(3270, {nom});
    liste->erase(it);
  };
  return e;
}

std::shared_ptr<ProprietesEtat> ProprietesStockees(const std::shared_ptr<BaseEtat>& base, Proprietaire genre,
                                                   std::function<long long()> id) {
  auto e = std::make_shared<ProprietesEtat>();
  e->stockees = [base, genre, id] {
    base->VerifieOuverte();
    return catalogue::ProprietesDe(*base, genre, id(), 0);
  };
  e->ecrit = [base, genre, id](const DefPropriete& p, bool creation) {
    catalogue::EcritPropriete(*base, genre, id(), p, creation);
  };
  e->supprime = [base, genre, id](const std::string& nom) { catalogue::SupprimePropriete(*base, genre, id(), nom); };
  return e;
}

std::vector<DefPropriete> IntegreesChamp(const DefChamp& c) {
  return {{"Name", dbText, Valeur(c.nom)},
          {"Type", dbInteger, Valeur(c.type)},
          {"Size", dbLong, Valeur(c.taille)},
          {"Attributes", dbLong, Valeur(c.attributs)},
          {"DefaultValue", dbText, Valeur(c.defaut)},
          {"Required", dbBoolean, Valeur(c.requis)},
          {"AllowZeroLength", dbBoolean, Valeur(c.zeroLongueur)},
          {"OrdinalPosition", dbInteger, Valeur(c.ordinal)}};
}

void EcritIntegreeChamp(Field champ, const std::string& nom, const Valeur& v) {
  std::string n = PlieNom(nom);
  if (n == "name") champ.SetName(v.EnTexte());
  else if (n == "type") champ.SetType(static_cast<int>(v.EnEntier()));
  else if (n == "size") champ.SetSize(static_cast<int>(v.EnEntier()));
  else if (n == "attributes") champ.SetAttributes(v.EnEntier());
  else if (n == "defaultvalue") champ.SetDefaultValue(v.EnTexte());
  else if (n == "required") champ.SetRequired(v.EnBooleen());
  else if (n == "allowzerolength") champ.SetAllowZeroLength(v.EnBooleen());
  else if (n == "ordinalposition") champ.SetOrdinalPosition(static_cast<int>(v.EnEntier()));
  else throw ErreurMoteur(err::OperationInvalide);
}

}  // namespace

// ---- Property / Properties ----

Property ProprieteLibre(std::string_view nom, int type, const Valeur& valeur) {
  auto e = std::make_shared<ProprieteEtat>();
  e->def = {std::string(nom), type, valeur};
  return Property(e);
}

std::string Property::Name() const { return e_->def.nom; }

int Property::Type() const {
  if (!e_->collection) return e_->def.type;
  if (e_->integree) {
    for (const auto& p : e_->collection->integrees())
      if (MemeNom(p.nom, e_->def.nom)) return p.type;
  }
  DefPropriete* p = Cherche(e_->collection->stockees(), e_->def.nom);
  if (!p) throw ErreurMoteur(3270, {e_->def.nom});
  return p->type;
}

Valeur Property::Value() const {
  if (!e_->collection) return e_->def.valeur;
  if (e_->integree) {
    for (const auto& p : e_->collection->integrees())
      if (MemeNom(p.nom, e_->def.nom)) return p.valeur;
  }
  DefPropriete* p = Cherche(e_->collection->stockees(), e_->def.nom);
  if (!p) throw ErreurMoteur(3270, {e_->def.nom});
  return p->valeur;
}

void Property::SetValue(const Valeur& valeur) {
  if (!e_->collection) {
    e_->def.valeur = valeur;
    return;
  }
  if (e_->integree) {
    if (!e_->collection->ecritIntegree) throw ErreurMoteur(err::OperationInvalide);
    e_->collection->ecritIntegree(e_->def.nom, valeur);
    return;
  }
  DefPropriete p = e_->def;
  p.valeur = valeur;
  e_->collection->ecrit(p, false);
}

int Properties::Count() const {
  auto* liste = e_->stockees();
  return static_cast<int>((e_->integrees ? e_->integrees().size() : 0) + (liste ? liste->size() : 0));
}

Property Properties::operator[](int position) const {
  std::vector<DefPropriete> integrees = e_->integrees ? e_->integrees() : std::vector<DefPropriete>{};
  auto* liste = e_->stockees();
  auto e = std::make_shared<ProprieteEtat>();
  e->collection = e_;
  if (position >= 0 && position < static_cast<int>(integrees.size())) {
    e->def.nom = integrees[position].nom;
    e->integree = true;
    return Property(e);
  }
  position -= static_cast<int>(integrees.size());
  if (!liste || position < 0 || position >= static_cast<int>(liste->size()))
    throw ErreurMoteur(err::ElementIntrouvable, {std::to_string(position)});
  e->def.nom = (*liste)[position].nom;
  return Property(e);
}

Property Properties::operator[](std::string_view nom) const {
  auto e = std::make_shared<ProprieteEtat>();
  e->collection = e_;
  if (DefPropriete* p = Cherche(e_->stockees(), nom)) {
    e->def.nom = p->nom;
    return Property(e);
  }
  if (e_->integrees) {
    for (const auto& p : e_->integrees())
      if (MemeNom(p.nom, nom)) {
        e->def.nom = p.nom;
        e->integree = true;
        return Property(e);
      }
  }
  throw ErreurMoteur(err::ElementIntrouvable, {nom});
}

void Properties::Append(const Property& propriete) {
  auto& e = propriete.etat();
  if (!e) throw ErreurMoteur(err::OperationInvalide);
  if (e->collection) throw ErreurMoteur(err::ProprieteExiste, {e->def.nom});
  if (e->def.nom.empty()) throw ErreurMoteur(err::NomInvalide, {e->def.nom});
  if (!TypeChampValide(e->def.type)) throw ErreurMoteur(3259);
  if (e_->integrees)
    for (const auto& p : e_->integrees())
      if (MemeNom(p.nom, e->def.nom)) throw ErreurMoteur(err::ProprieteExiste, {e->def.nom});
  e_->ecrit(e->def, true);
  e->collection = e_;
}

void Properties::Delete(std::string_view nom) { e_->supprime(std::string(nom)); }

std::shared_ptr<ProprietesEtat> ProprietesBase(const std::shared_ptr<BaseEtat>& base) {
  auto e = ProprietesStockees(base, Proprietaire::Base, [] { return 0LL; });
  e->integrees = [base] { return std::vector<DefPropriete>{{"Name", dbText, Valeur(base->chemin)}}; };
  return e;
}

// ---- Field ----

std::string Field::Name() const { return e_->Def().nom; }

void Field::SetName(std::string_view nom) {
  if (e_->mode == FieldEtat::Mode::Relation || e_->mode == FieldEtat::Mode::Libre) {
    e_->def.nom = std::string(nom);
    return;
  }
  if (MemeNom(nom, e_->Def().nom) && nom == e_->Def().nom) return;
  throw ErreurMoteur(err::OperationInvalide);
}

int Field::Type() const { return e_->Def().type; }

void Field::SetType(int type) {
  e_->VerifieLibre();
  if (!TypeChampValide(type)) throw ErreurMoteur(3259);
  DefChamp& c = e_->Def();
  c.type = type;
  if (type != dbText) c.taille = TailleFixe(type);
  else if (c.taille <= 0 || c.taille > TailleTexteMax) c.taille = TailleTexteMax;
}

int Field::Size() const { return e_->Def().taille; }

void Field::SetSize(int taille) {
  e_->VerifieLibre();
  DefChamp& c = e_->Def();
  if (c.type == dbText || c.type == 0) {
    if (taille < 1 || taille > TailleTexteMax) throw ErreurMoteur(3259);
    c.taille = taille;
  } else if (taille != TailleFixe(c.type) && TailleFixe(c.type) != 0) {
    throw ErreurMoteur(err::OperationInvalide);
  }
}

long long Field::Attributes() const { return e_->Def().attributs; }

void Field::SetAttributes(long long attributs) {
  e_->VerifieLibre();
  e_->Def().attributs = attributs;
}

std::string Field::DefaultValue() const { return e_->Def().defaut; }

void Field::SetDefaultValue(std::string_view expression) {
  if (!expression.empty() && !conversion::DefautValide(expression))
    throw ErreurMoteur(err::SyntaxeExpression, {expression});
  std::string texte(expression);
  e_->Change([texte](DefChamp& c) { c.defaut = texte; });
}

bool Field::Required() const { return e_->Def().requis; }
void Field::SetRequired(bool requis) { e_->Change([requis](DefChamp& c) { c.requis = requis; }); }
bool Field::AllowZeroLength() const { return e_->Def().zeroLongueur; }

void Field::SetAllowZeroLength(bool autorise) {
  int type = e_->Def().type;
  if (type != 0 && !EstTypeTexte(type) && autorise) throw ErreurMoteur(3378);
  e_->Change([autorise](DefChamp& c) { c.zeroLongueur = autorise; });
}

int Field::OrdinalPosition() const { return e_->Def().ordinal; }
void Field::SetOrdinalPosition(int position) { e_->Change([position](DefChamp& c) { c.ordinal = position; }); }

std::string Field::ForeignName() const {
  if (e_->mode != FieldEtat::Mode::Relation) return {};
  return e_->nomEtranger;
}

void Field::SetForeignName(std::string_view nom) {
  if (e_->mode != FieldEtat::Mode::Relation) throw ErreurMoteur(err::OperationInvalide);
  e_->nomEtranger = std::string(nom);
}

std::string Field::SourceTable() const {
  return e_->table ? e_->table->Def().nom : std::string();
}

Valeur Field::Value() const {
  if (e_->mode != FieldEtat::Mode::Recordset) throw ErreurMoteur(err::OperationInvalide);
  return ValeurChampRecordset(*e_->rs, e_->colonne);
}

void Field::LitValeur(Valeur& dans) const {
  if (e_->mode != FieldEtat::Mode::Recordset) throw ErreurMoteur(err::OperationInvalide);
  LitValeurChampRecordset(*e_->rs, e_->colonne, dans);
}

Valeur Field::ValeurStockee() const {
  if (e_->mode != FieldEtat::Mode::Recordset) throw ErreurMoteur(err::OperationInvalide);
  return ValeurStockeeRecordset(*e_->rs, e_->colonne);
}

void Field::SetValue(const Valeur& valeur) {
  if (e_->mode != FieldEtat::Mode::Recordset) throw ErreurMoteur(err::OperationInvalide);
  AffecteChampRecordset(*e_->rs, e_->colonne, valeur);
}

moteur::Properties Field::Properties() const {
  e_->Suit();
  auto etat = e_;
  std::shared_ptr<ProprietesEtat> p;
  if (e_->mode == FieldEtat::Mode::Lie) {
    auto base = e_->table->base;
    long long id = e_->champId;
    p = ProprietesStockees(base, Proprietaire::Champ, [id] { return id; });
  } else if (e_->mode == FieldEtat::Mode::Recordset) {
    p = ProprietesDraft([etat] { return &etat->Def().proprietes; });
    p->ecrit = [](const DefPropriete&, bool) { throw ErreurMoteur(err::OperationInvalide); };
  } else {
    p = ProprietesDraft([etat] { return &etat->Def().proprietes; });
  }
  p->integrees = [etat] { return IntegreesChamp(etat->Def()); };
  p->ecritIntegree = [etat](const std::string& nom, const Valeur& v) { EcritIntegreeChamp(Field(etat), nom, v); };
  return moteur::Properties(p);
}

Property Field::CreateProperty(std::string_view nom, int type, const Valeur& valeur) const {
  return ProprieteLibre(nom, type, valeur);
}

bool Field::EstLie() const { return e_->mode == FieldEtat::Mode::Lie; }

Field ChampDeRecordset(const std::shared_ptr<RecordsetEtat>& rs, int colonne) {
  auto e = std::make_shared<FieldEtat>();
  e->mode = FieldEtat::Mode::Recordset;
  e->rs = rs;
  e->colonne = colonne;
  return Field(e);
}

// ---- Fields of a table definition ----

namespace {

class ChampsTable : public ChampsSource {
 public:
  explicit ChampsTable(std::shared_ptr<TableDefEtat> t) : t_(std::move(t)) {}
  int Nombre() const override { return static_cast<int>(t_->Def().champs.size()); }

  Field Element(int position) const override {
    const auto& champs = t_->Def().champs;
    if (position < 0 || position >= static_cast<int>(champs.size()))
      throw ErreurMoteur(err::ElementIntrouvable, {std::to_string(position)});
    return Vue(champs[position]);
  }

  Field Cherche(std::string_view nom) const override {
    const DefChamp* c = t_->Def().Champ(nom);
    if (!c) throw ErreurMoteur(err::ElementIntrouvable, {nom});
    return Vue(*c);
  }

  void Ajoute(const Field& champ) override {
    auto& e = champ.etat();
    if (!e || e->mode != FieldEtat::Mode::Libre) throw ErreurMoteur(err::OperationInvalide);
    DefChamp def = e->def;
    if (def.type == 0) throw ErreurMoteur(3259);
    if (def.type == dbText && def.taille == 0) def.taille = TailleTexteMax;
    if (def.type != dbText) def.taille = TailleFixe(def.type);
    if (t_->Lie()) {
      catalogue::AjouteChamp(*t_->base, t_->id, def);
      const DefChamp* ajoute = t_->Def().Champ(def.nom);
      e->mode = FieldEtat::Mode::Lie;
      e->champId = ajoute->id;
    } else {
      VerifieNom(def.nom);
      if (t_->brouillon.Champ(def.nom)) throw ErreurMoteur(3191, {def.nom});
      t_->brouillon.champs.push_back(def);
      e->mode = FieldEtat::Mode::Brouillon;
    }
    e->table = t_;
  }

  void Supprime(std::string_view nom) override {
    if (t_->Lie()) {
      catalogue::SupprimeChamp(*t_->base, t_->id, nom);
      return;
    }
    auto& champs = t_->brouillon.champs;
    auto it = std::find_if(champs.begin(), champs.end(), [&](const DefChamp& c) { return MemeNom(c.nom, nom); });
    if (it == champs.end()) throw ErreurMoteur(err::ElementIntrouvable, {nom});
    champs.erase(it);
  }

 private:
  Field Vue(const DefChamp& c) const {
    auto e = std::make_shared<FieldEtat>();
    e->table = t_;
    if (t_->Lie()) {
      e->mode = FieldEtat::Mode::Lie;
      e->champId = c.id;
    } else {
      e->mode = FieldEtat::Mode::Brouillon;
    }
    e->def.nom = c.nom;
    return Field(e);
  }
  std::shared_ptr<TableDefEtat> t_;
};

class ChampsRelation : public ChampsSource {
 public:
  explicit ChampsRelation(std::shared_ptr<RelationEtat> r) : r_(std::move(r)) {}
  int Nombre() const override { return static_cast<int>(r_->Def().champs.size()); }
  Field Element(int position) const override {
    const auto& champs = r_->Def().champs;
    if (position < 0 || position >= static_cast<int>(champs.size()))
      throw ErreurMoteur(err::ElementIntrouvable, {std::to_string(position)});
    return Vue(champs[position]);
  }
  Field Cherche(std::string_view nom) const override {
    for (const auto& c : r_->Def().champs)
      if (MemeNom(c.first, nom)) return Vue(c);
    throw ErreurMoteur(err::ElementIntrouvable, {nom});
  }
  void Ajoute(const Field& champ) override {
    auto& e = champ.etat();
    if (!e || e->mode != FieldEtat::Mode::Relation) throw ErreurMoteur(err::OperationInvalide);
    DefRelation& r = r_->Modifiable();
    for (const auto& c : r.champs)
      if (MemeNom(c.first, e->def.nom)) throw ErreurMoteur(3191, {e->def.nom});
    r.champs.emplace_back(NomExigeant(e->def.nom), e->nomEtranger.empty() ? e->def.nom : e->nomEtranger);
  }
  void Supprime(std::string_view nom) override {
    auto& champs = r_->Modifiable().champs;
    auto it = std::find_if(champs.begin(), champs.end(), [&](const auto& c) { return MemeNom(c.first, nom); });
    if (it == champs.end()) throw ErreurMoteur(err::ElementIntrouvable, {nom});
    champs.erase(it);
  }

 private:
  static Field Vue(const std::pair<std::string, std::string>& c) {
    auto e = std::make_shared<FieldEtat>();
    e->mode = FieldEtat::Mode::Relation;
    e->def.nom = c.first;
    e->nomEtranger = c.second;
    return Field(e);
  }
  std::shared_ptr<RelationEtat> r_;
};

}  // namespace

int Fields::Count() const { return source_->Nombre(); }
Field Fields::operator[](int position) const { return source_->Element(position); }
Field Fields::operator[](std::string_view nom) const { return source_->Cherche(nom); }
void Fields::Append(const Field& champ) { source_->Ajoute(champ); }
void Fields::Delete(std::string_view nom) { source_->Supprime(nom); }

// ---- Index ----

std::string Index::Name() const { return e_->Def().nom; }
void Index::SetName(std::string_view nom) { e_->Modifiable().nom = std::string(nom); }
std::string Index::Fields() const { return e_->Def().champs; }
void Index::SetFields(std::string_view champs) { e_->Modifiable().champs = std::string(champs); }
bool Index::Unique() const { return e_->Def().unique; }
void Index::SetUnique(bool unique) { e_->Modifiable().unique = unique; }
bool Index::Primary() const { return e_->Def().primaire; }
void Index::SetPrimary(bool primaire) { e_->Modifiable().primaire = primaire; }
bool Index::IgnoreNulls() const { return e_->Def().ignoreNulls; }
void Index::SetIgnoreNulls(bool ignore) { e_->Modifiable().ignoreNulls = ignore; }

namespace {
Index VueIndex(const std::shared_ptr<TableDefEtat>& t, const DefIndex& x) {
  auto e = std::make_shared<IndexEtat>();
  e->table = t;
  e->mode = t->Lie() ? IndexEtat::Mode::Lie : IndexEtat::Mode::Brouillon;
  e->def.id = x.id;
  e->def.nom = x.nom;
  return Index(e);
}
}  // namespace

int Indexes::Count() const { return static_cast<int>(table_->Def().index.size()); }

Index Indexes::operator[](int position) const {
  const auto& liste = table_->Def().index;
  if (position < 0 || position >= static_cast<int>(liste.size()))
    throw ErreurMoteur(err::ElementIntrouvable, {std::to_string(position)});
  return VueIndex(table_, liste[position]);
}

Index Indexes::operator[](std::string_view nom) const {
  for (const auto& x : table_->Def().index)
    if (MemeNom(x.nom, nom)) return VueIndex(table_, x);
  throw ErreurMoteur(err::ElementIntrouvable, {nom});
}

void Indexes::Append(const Index& index) {
  auto& e = index.etat();
  if (!e || e->mode != IndexEtat::Mode::Libre) throw ErreurMoteur(err::OperationInvalide);
  DefIndex def = e->def;
  if (table_->Lie()) {
    catalogue::AjouteIndex(*table_->base, table_->id, def);
    for (const auto& x : table_->Def().index)
      if (MemeNom(x.nom, def.nom)) e->def.id = x.id;
    e->mode = IndexEtat::Mode::Lie;
  } else {
    VerifieNom(def.nom);
    for (const auto& x : table_->brouillon.index) {
      if (MemeNom(x.nom, def.nom)) throw ErreurMoteur(3375, "Un index nommé '" + def.nom + "' existe déjà.");
      if (x.primaire && def.primaire) throw ErreurMoteur(err::CleExistante);
    }
    table_->brouillon.index.push_back(def);
    e->mode = IndexEtat::Mode::Brouillon;
  }
  e->table = table_;
}

void Indexes::Delete(std::string_view nom) {
  if (table_->Lie()) {
    catalogue::SupprimeIndex(*table_->base, table_->id, nom);
    return;
  }
  auto& liste = table_->brouillon.index;
  auto it = std::find_if(liste.begin(), liste.end(), [&](const DefIndex& x) { return MemeNom(x.nom, nom); });
  if (it == liste.end()) throw ErreurMoteur(err::ElementIntrouvable, {nom});
  liste.erase(it);
}

// ---- TableDef ----

TableDef TableLiee(const std::shared_ptr<BaseEtat>& base, long long id) {
  auto e = std::make_shared<TableDefEtat>();
  e->base = base;
  e->id = id;
  return TableDef(e);
}

std::string TableDef::Name() const { return e_->Def().nom; }

void TableDef::SetName(std::string_view nom) {
  if (e_->Lie()) {
    catalogue::RenommeTable(*e_->base, e_->id, nom);
    return;
  }
  e_->brouillon.nom = std::string(nom);
}

long long TableDef::Attributes() const { return e_->Def().attributs; }

void TableDef::SetAttributes(long long attributs) {
  if (e_->Lie()) {
    catalogue::ModifieAttributsTable(*e_->base, e_->id, attributs);
    return;
  }
  e_->brouillon.attributs = attributs;
}

long long TableDef::RecordCount() const {
  if (!e_->Lie()) return 0;
  const DefTable& t = e_->Def();
  sql::Requete r(e_->base->db, "SELECT count(*) FROM " + CiteIdent(t.nom));
  return r.Pas() ? r.Entier(0) : 0;
}

moteur::Fields TableDef::Fields() const { return moteur::Fields(std::make_shared<ChampsTable>(e_)); }
moteur::Indexes TableDef::Indexes() const { return moteur::Indexes(e_); }

moteur::Properties TableDef::Properties() const {
  auto etat = e_;
  std::shared_ptr<ProprietesEtat> p;
  if (e_->Lie()) {
    long long id = e_->id;
    p = ProprietesStockees(e_->base, Proprietaire::Table, [id] { return id; });
  } else {
    p = ProprietesDraft([etat] { return &etat->brouillon.proprietes; });
  }
  p->integrees = [etat] {
    const DefTable& t = etat->Def();
    return std::vector<DefPropriete>{{"Name", dbText, Valeur(t.nom)}, {"Attributes", dbLong, Valeur(t.attributs)}};
  };
  p->ecritIntegree = [etat](const std::string& nom, const Valeur& v) {
    TableDef t(etat);
    if (MemeNom(nom, "Name")) t.SetName(v.EnTexte());
    else if (MemeNom(nom, "Attributes")) t.SetAttributes(v.EnEntier());
    else throw ErreurMoteur(err::OperationInvalide);
  };
  return moteur::Properties(p);
}

Field TableDef::CreateField(std::string_view nom, int type, int taille) const {
  auto e = std::make_shared<FieldEtat>();
  e->def.nom = std::string(nom);
  e->def.type = type;
  e->def.taille = type == dbText ? (taille > 0 ? taille : TailleTexteMax) : TailleFixe(type);
  if (type == dbText && (taille < 0 || taille > TailleTexteMax)) throw ErreurMoteur(3259);
  if (type != 0 && !TypeChampValide(type)) throw ErreurMoteur(3259);
  return Field(e);
}

Index TableDef::CreateIndex(std::string_view nom) const {
  auto e = std::make_shared<IndexEtat>();
  e->def.nom = std::string(nom);
  return Index(e);
}

Property TableDef::CreateProperty(std::string_view nom, int type, const Valeur& valeur) const {
  return ProprieteLibre(nom, type, valeur);
}

bool TableDef::EstLie() const { return e_->Lie(); }

// ---- TableDefs ----

int TableDefs::Count() const {
  base_->VerifieOuverte();
  return static_cast<int>(base_->cat.tables.size());
}

TableDef TableDefs::operator[](int position) const {
  base_->VerifieOuverte();
  if (position < 0 || position >= static_cast<int>(base_->cat.tables.size()))
    throw ErreurMoteur(err::ElementIntrouvable, {std::to_string(position)});
  return TableLiee(base_, base_->cat.tables[position]->id);
}

TableDef TableDefs::operator[](std::string_view nom) const {
  base_->VerifieOuverte();
  DefTable* t = base_->cat.Table(nom);
  if (!t) throw ErreurMoteur(err::ElementIntrouvable, {nom});
  return TableLiee(base_, t->id);
}

void TableDefs::Append(const TableDef& table) {
  base_->VerifieOuverte();
  auto& e = table.etat();
  if (!e || e->Lie()) throw ErreurMoteur(err::TableExiste, {e ? e->Def().nom : std::string()});
  DefTable& ajoutee = catalogue::AjouteTable(*base_, e->brouillon);
  e->base = base_;
  e->id = ajoutee.id;
  e->brouillon = DefTable();
}

void TableDefs::Delete(std::string_view nom) {
  base_->VerifieOuverte();
  catalogue::SupprimeTable(*base_, nom);
}

void TableDefs::Refresh() const {
  base_->VerifieOuverte();
  catalogue::Charge(*base_);
}

// ---- Relation ----

std::string Relation::Name() const { return e_->Def().nom; }
void Relation::SetName(std::string_view nom) { e_->Modifiable().nom = std::string(nom); }
std::string Relation::Table() const { return e_->Def().table; }
void Relation::SetTable(std::string_view nom) { e_->Modifiable().table = std::string(nom); }
std::string Relation::ForeignTable() const { return e_->Def().tableEtrangere; }
void Relation::SetForeignTable(std::string_view nom) { e_->Modifiable().tableEtrangere = std::string(nom); }
long long Relation::Attributes() const { return e_->Def().attributs; }
void Relation::SetAttributes(long long attributs) { e_->Modifiable().attributs = attributs; }
moteur::Fields Relation::Fields() const { return moteur::Fields(std::make_shared<ChampsRelation>(e_)); }

Field Relation::CreateField(std::string_view nom) const {
  auto e = std::make_shared<FieldEtat>();
  e->mode = FieldEtat::Mode::Relation;
  e->def.nom = std::string(nom);
  return Field(e);
}

namespace {
Relation VueRelation(const std::shared_ptr<BaseEtat>& base, const DefRelation& r) {
  auto e = std::make_shared<RelationEtat>();
  e->base = base;
  e->def.id = r.id;
  e->def.nom = r.nom;
  return Relation(e);
}
}  // namespace

int Relations::Count() const {
  base_->VerifieOuverte();
  return static_cast<int>(base_->cat.relations.size());
}

Relation Relations::operator[](int position) const {
  base_->VerifieOuverte();
  if (position < 0 || position >= static_cast<int>(base_->cat.relations.size()))
    throw ErreurMoteur(err::ElementIntrouvable, {std::to_string(position)});
  return VueRelation(base_, *base_->cat.relations[position]);
}

Relation Relations::operator[](std::string_view nom) const {
  base_->VerifieOuverte();
  DefRelation* r = base_->cat.Relation(nom);
  if (!r) throw ErreurMoteur(err::ElementIntrouvable, {nom});
  return VueRelation(base_, *r);
}

void Relations::Append(const Relation& relation) {
  base_->VerifieOuverte();
  auto& e = relation.etat();
  if (!e || e->base) throw ErreurMoteur(3012, "L'objet existe déjà.");
  catalogue::AjouteRelation(*base_, e->def);
  e->base = base_;
  e->def.id = base_->cat.Relation(e->def.nom)->id;
}

void Relations::Delete(std::string_view nom) {
  base_->VerifieOuverte();
  catalogue::SupprimeRelation(*base_, nom);
}

void Relations::Refresh() const {
  base_->VerifieOuverte();
  catalogue::Charge(*base_);
}

// ---- Database (definitions) ----

TableDef Database::CreateTableDef(std::string_view nom, long long attributs) const {
  e_->VerifieOuverte();
  auto e = std::make_shared<TableDefEtat>();
  e->brouillon.nom = std::string(nom);
  e->brouillon.attributs = attributs;
  return TableDef(e);
}

Relation Database::CreateRelation(std::string_view nom, std::string_view table, std::string_view tableEtrangere,
                                  long long attributs) const {
  e_->VerifieOuverte();
  auto e = std::make_shared<RelationEtat>();
  e->def.nom = std::string(nom);
  e->def.table = std::string(table);
  e->def.tableEtrangere = std::string(tableEtrangere);
  e->def.attributs = attributs;
  return Relation(e);
}

Property Database::CreateProperty(std::string_view nom, int type, const Valeur& valeur) const {
  return ProprieteLibre(nom, type, valeur);
}

moteur::TableDefs Database::TableDefs() const {
  e_->VerifieOuverte();
  return moteur::TableDefs(e_);
}

moteur::Relations Database::Relations() const {
  e_->VerifieOuverte();
  return moteur::Relations(e_);
}

moteur::Properties Database::Properties() const {
  e_->VerifieOuverte();
  return moteur::Properties(ProprietesBase(e_));
}

}  // namespace moteur

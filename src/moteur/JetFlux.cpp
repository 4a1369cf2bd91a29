// The stream between the process that reads a Jet file and the one that builds its image:
// little-endian integers, texts with their length, values tagged with their kind.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "moteur/Jet.h"

namespace moteur::jet {

namespace {

constexpr std::size_t TailleTampon = 64 * 1024;
// Longest text or value the stream carries: more than any Jet long value can hold.
constexpr std::int64_t LongueurMax = std::int64_t{1} << 31;

ErreurMoteur Interrompue(const std::string& chemin) {
  return ErreurMoteur(err::BaseEndommagee, "La lecture de la base de données Jet '" + chemin +
                                               "' s'est interrompue : le fichier est endommagé.");
}

}  // namespace

// ---- Ecrivain ----

void Ecrivain::Octet(std::uint8_t o) {
  tampon_.push_back(static_cast<char>(o));
  if (tampon_.size() >= TailleTampon) Vide();
}

void Ecrivain::Entier(std::int64_t n) {
  auto u = static_cast<std::uint64_t>(n);
  for (int i = 0; i < 8; ++i) tampon_.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
  if (tampon_.size() >= TailleTampon) Vide();
}

void Ecrivain::Texte(std::string_view s) {
  Entier(static_cast<std::int64_t>(s.size()));
  if (s.size() < TailleTampon) {
    tampon_.append(s);
    if (tampon_.size() >= TailleTampon) Vide();
    return;
  }
  // A long value goes out as it is rather than through one more copy of it.
  Vide();
  std::string_view reste = s;
  while (!reste.empty()) {
    ssize_t n = ::write(fd_, reste.data(), reste.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(1);
    reste.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Ecrivain::Valeur(const moteur::Valeur& v) {
  using G = moteur::Valeur::Genre;
  G genre = v.genre() == G::Vide ? G::Nul : v.genre();
  Octet(static_cast<std::uint8_t>(genre));
  switch (genre) {
    case G::Booleen:
    case G::Entier:
    case G::Monetaire: Entier(v.entier()); break;
    case G::Reel: {
      std::int64_t bits;
      double d = v.reel();
      std::memcpy(&bits, &d, sizeof bits);
      Entier(bits);
      break;
    }
    case G::Date:
    case G::Texte:
    case G::Binaire: Texte(v.texte()); break;
    default: break;
  }
}

void Ecrivain::Proprietes(const std::vector<DefPropriete>& liste) {
  Entier(static_cast<std::int64_t>(liste.size()));
  for (const auto& p : liste) {
    Texte(p.nom);
    Entier(p.type);
    Valeur(p.valeur);
  }
}

void Ecrivain::Table(const DefTable& t) {
  Texte(t.nom);
  Entier(t.attributs);
  Entier(static_cast<std::int64_t>(t.champs.size()));
  for (const auto& c : t.champs) {
    Texte(c.nom);
    Entier(c.type);
    Entier(c.taille);
    Entier(c.attributs);
    Texte(c.defaut);
    Entier(c.requis);
    Entier(c.zeroLongueur);
    Entier(c.ordinal);
    Proprietes(c.proprietes);
  }
  Entier(static_cast<std::int64_t>(t.index.size()));
  for (const auto& x : t.index) {
    Texte(x.nom);
    Texte(x.champs);
    Entier(x.unique);
    Entier(x.primaire);
    Entier(x.ignoreNulls);
  }
  Proprietes(t.proprietes);
}

void Ecrivain::Relation(const DefRelation& r) {
  Texte(r.nom);
  Texte(r.table);
  Texte(r.tableEtrangere);
  Entier(r.attributs);
  Entier(static_cast<std::int64_t>(r.champs.size()));
  for (const auto& [nom, etranger] : r.champs) {
    Texte(nom);
    Texte(etranger);
  }
}

void Ecrivain::Vide() {
  std::size_t ecrits = 0;
  while (ecrits < tampon_.size()) {
    ssize_t n = ::write(fd_, tampon_.data() + ecrits, tampon_.size() - ecrits);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(1);  // the builder has given up: nobody reads any more
    ecrits += static_cast<std::size_t>(n);
  }
  tampon_.clear();
}

// ---- Lecteur ----

void Lecteur::Remplit() {
  tampon_.erase(0, position_);
  position_ = 0;
  auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(silenceMaxMs_);
  for (;;) {
    auto reste = std::chrono::duration_cast<std::chrono::milliseconds>(limite - std::chrono::steady_clock::now()).count();
    if (reste <= 0)
      throw ErreurMoteur(err::BaseEndommagee, "La lecture de la base de données Jet '" + chemin_ +
                                                  "' ne progresse plus : le fichier est endommagé.");
    pollfd p{fd_, POLLIN, 0};
    int prets = ::poll(&p, 1, static_cast<int>(reste));
    if (prets < 0 && errno == EINTR) continue;
    if (prets <= 0) continue;
    char bloc[TailleTampon];
    ssize_t n = ::read(fd_, bloc, sizeof bloc);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Interrompue(chemin_);
    tampon_.append(bloc, static_cast<std::size_t>(n));
    return;
  }
}

std::uint8_t Lecteur::Octet() {
  while (position_ >= tampon_.size()) Remplit();
  return static_cast<std::uint8_t>(tampon_[position_++]);
}

std::int64_t Lecteur::Entier() {
  while (tampon_.size() - position_ < 8) Remplit();
  std::uint64_t u = 0;
  for (int i = 0; i < 8; ++i) u |= static_cast<std::uint64_t>(static_cast<unsigned char>(tampon_[position_ + i])) << (8 * i);
  position_ += 8;
  return static_cast<std::int64_t>(u);
}

std::string Lecteur::Texte() {
  std::int64_t n = Entier();
  if (n < 0 || n > LongueurMax) throw Interrompue(chemin_);
  std::string s;
  s.reserve(static_cast<std::size_t>(n));
  while (static_cast<std::int64_t>(s.size()) < n) {
    if (position_ >= tampon_.size()) Remplit();
    std::size_t pris = std::min<std::size_t>(static_cast<std::size_t>(n) - s.size(), tampon_.size() - position_);
    s.append(tampon_, position_, pris);
    position_ += pris;
  }
  return s;
}

moteur::Valeur Lecteur::Valeur() {
  using G = moteur::Valeur::Genre;
  switch (static_cast<G>(Octet())) {
    case G::Nul: return moteur::Valeur::Nul();
    case G::Booleen: return moteur::Valeur(Entier() != 0);
    case G::Entier: return moteur::Valeur(static_cast<long long>(Entier()));
    case G::Monetaire: return moteur::Valeur::Monetaire(Entier());
    case G::Reel: {
      std::int64_t bits = Entier();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return moteur::Valeur(d);
    }
    case G::Date: return moteur::Valeur::DateIso(Texte());
    case G::Texte: return moteur::Valeur(Texte());
    case G::Binaire: return moteur::Valeur::Binaire(Texte());
    default: throw Interrompue(chemin_);
  }
}

std::vector<DefPropriete> Lecteur::Proprietes() {
  std::int64_t n = Entier();
  if (n < 0 || n > 1 << 20) throw Interrompue(chemin_);
  std::vector<DefPropriete> liste;
  for (std::int64_t i = 0; i < n; ++i) {
    DefPropriete p;
    p.nom = Texte();
    p.type = static_cast<int>(Entier());
    p.valeur = Valeur();
    liste.push_back(std::move(p));
  }
  return liste;
}

DefTable Lecteur::Table() {
  DefTable t;
  t.nom = Texte();
  t.attributs = Entier();
  std::int64_t champs = Entier();
  if (champs < 0 || champs > 4096) throw Interrompue(chemin_);
  for (std::int64_t i = 0; i < champs; ++i) {
    DefChamp c;
    c.nom = Texte();
    c.type = static_cast<int>(Entier());
    c.taille = static_cast<int>(Entier());
    c.attributs = Entier();
    c.defaut = Texte();
    c.requis = Entier() != 0;
    c.zeroLongueur = Entier() != 0;
    c.ordinal = static_cast<int>(Entier());
    c.proprietes = Proprietes();
    t.champs.push_back(std::move(c));
  }
  std::int64_t index = Entier();
  if (index < 0 || index > 4096) throw Interrompue(chemin_);
  for (std::int64_t i = 0; i < index; ++i) {
    DefIndex x;
    x.nom = Texte();
    x.champs = Texte();
    x.unique = Entier() != 0;
    x.primaire = Entier() != 0;
    x.ignoreNulls = Entier() != 0;
    t.index.push_back(std::move(x));
  }
  t.proprietes = Proprietes();
  return t;
}

DefRelation Lecteur::Relation() {
  DefRelation r;
  r.nom = Texte();
  r.table = Texte();
  r.tableEtrangere = Texte();
  r.attributs = Entier();
  std::int64_t n = Entier();
  if (n < 0 || n > 4096) throw Interrompue(chemin_);
  for (std::int64_t i = 0; i < n; ++i) {
    std::string nom = Texte();
    std::string etranger = Texte();
    r.champs.emplace_back(std::move(nom), std::move(etranger));
  }
  return r;
}

}  // namespace moteur::jet

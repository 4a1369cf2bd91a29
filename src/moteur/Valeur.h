// The value of a field or property: what a variant holds in the object model.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace moteur {

// Calendar date and time of day; kept as its own fields so that no time zone or
// floating-point rounding ever changes a stored date.
struct DateHeure {
  int annee = 1899, mois = 12, jour = 30, heure = 0, minute = 0, seconde = 0;

  bool Valide() const;
  std::string Iso() const;  // "YYYY-MM-DD HH:MM:SS", the stored form
  static bool DepuisIso(std::string_view texte, DateHeure& date);
  friend bool operator==(const DateHeure&, const DateHeure&) = default;
};

class Valeur {
 public:
  enum class Genre : std::uint8_t { Vide, Nul, Booleen, Entier, Monetaire, Reel, Date, Texte, Binaire };

  Valeur() = default;  // Vide: the uninitialised variant
  Valeur(bool b) : genre_(Genre::Booleen), entier_(b ? -1 : 0) {}
  Valeur(int i) : genre_(Genre::Entier), entier_(i) {}
  Valeur(long i) : genre_(Genre::Entier), entier_(i) {}
  Valeur(long long i) : genre_(Genre::Entier), entier_(i) {}
  Valeur(double d) : genre_(Genre::Reel), reel_(d) {}
  Valeur(std::string s) : genre_(Genre::Texte), texte_(std::move(s)) {}
  Valeur(std::string_view s) : genre_(Genre::Texte), texte_(s) {}
  Valeur(const char* s) : genre_(Genre::Texte), texte_(s) {}
  Valeur(const DateHeure& d) : genre_(Genre::Date), texte_(d.Iso()) {}

  static Valeur Nul() { Valeur v; v.genre_ = Genre::Nul; return v; }
  // Currency in ten-thousandths: exact.
  static Valeur Monetaire(long long dixMilliemes) { Valeur v; v.genre_ = Genre::Monetaire; v.entier_ = dixMilliemes; return v; }
  static Valeur Binaire(std::string octets) { Valeur v(std::move(octets)); v.genre_ = Genre::Binaire; return v; }
  static Valeur DateIso(std::string iso) { Valeur v(std::move(iso)); v.genre_ = Genre::Date; return v; }

  // Gives a text, a date or a binary value new contents in place: the storage this value holds
  // already is reused, so that rows read again into the same values allocate nothing for them.
  void RemplaceOctets(Genre genre, const char* octets, std::size_t taille) {
    genre_ = genre;
    texte_.assign(octets, taille);
  }

  Genre genre() const { return genre_; }
  bool EstNul() const { return genre_ == Genre::Nul; }
  bool EstVide() const { return genre_ == Genre::Vide; }
  bool EstNulOuVide() const { return genre_ == Genre::Nul || genre_ == Genre::Vide; }
  bool EstNumerique() const;

  // Conversions in the manner of the object model; a value that cannot be converted throws 3421.
  bool EnBooleen() const;
  long long EnEntier() const;      // rounds half to even, as the object model does
  long long EnDixMilliemes() const;  // currency scale
  double EnReel() const;
  DateHeure EnDate() const;
  // Text as the French user sees it: "Vrai"/"Faux", decimal comma, dates "31/12/2024 10:05:00".
  std::string EnTexte() const;

  // Raw access, no conversion.
  long long entier() const { return entier_; }
  double reel() const { return reel_; }
  const std::string& texte() const { return texte_; }

  friend bool operator==(const Valeur& a, const Valeur& b);

 private:
  Genre genre_ = Genre::Vide;
  long long entier_ = 0;
  double reel_ = 0;
  std::string texte_;
};

}  // namespace moteur

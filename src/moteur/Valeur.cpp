#include "moteur/Valeur.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "moteur/Erreurs.h"
#include "moteur/Noms.h"

namespace moteur {
namespace {

bool Bissextile(int a) { return (a % 4 == 0 && a % 100 != 0) || a % 400 == 0; }

int JoursDuMois(int a, int m) {
  static const int jours[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Bissextile(a) ? 29 : jours[m - 1];
}

std::string_view SansEspaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads a decimal number written with a point or a French comma.
bool LitNombre(std::string_view s, double& resultat) {
  s = SansEspaces(s);
  if (s.empty() || s.size() > 64) return false;
  std::string tampon(s);
  for (char& c : tampon)
    if (c == ',') c = '.';
  const char* debut = tampon.data();
  if (*debut == '+') ++debut;
  auto [fin, ec] = std::from_chars(debut, tampon.data() + tampon.size(), resultat);
  return ec == std::errc() && fin == tampon.data() + tampon.size();
}

// Reads "n" digits as an int; advances the view.
bool LitChiffres(std::string_view& s, int min, int max, int& valeur) {
  int n = 0;
  valeur = 0;
  while (n < max && n < static_cast<int>(s.size()) && s[n] >= '0' && s[n] <= '9') valeur = valeur * 10 + (s[n++] - '0');
  if (n < min) return false;
  s.remove_prefix(n);
  return true;
}

bool LitSeparateur(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

bool LitHeure(std::string_view s, DateHeure& d) {
  s = SansEspaces(s);
  if (s.empty()) return true;
  if (!LitChiffres(s, 1, 2, d.heure) || !LitSeparateur(s, ':') || !LitChiffres(s, 1, 2, d.minute)) return false;
  if (LitSeparateur(s, ':') && !LitChiffres(s, 1, 2, d.seconde)) return false;
  return s.empty();
}

// "dd/mm/yyyy [hh:mm[:ss]]", the French way users type dates.
bool LitDateFrancaise(std::string_view s, DateHeure& d) {
  s = SansEspaces(s);
  if (!LitChiffres(s, 1, 2, d.jour) || !LitSeparateur(s, '/') || !LitChiffres(s, 1, 2, d.mois) ||
      !LitSeparateur(s, '/') || !LitChiffres(s, 4, 4, d.annee))
    return false;
  d.heure = d.minute = d.seconde = 0;
  return LitHeure(s, d) && d.Valide();
}

std::string FormateReel(double d, int chiffres) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "+Inf" : "-Inf";
  char tampon[64];
  std::snprintf(tampon, sizeof tampon, "%.*g", chiffres, d);
  std::string texte(tampon);
  for (char& c : texte)
    if (c == '.') c = ',';
  return texte;
}

// A decimal text read exactly into ten-thousandths, rounded half to even at the fourth decimal,
// as a currency amount is: a binary fraction would turn 0.00015 into 0.0001. False when the text
// is not a plain decimal number (the caller then reads it as a double); throws 3349 when the
// amount does not fit.
bool LitDixMilliemes(std::string_view s, long long& resultat) {
  s = SansEspaces(s);
  bool negatif = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negatif = s.front() == '-';
    s.remove_prefix(1);
  }
  std::string chiffres;  // every digit, the separator left out
  int decimales = 0, exposant = 0;
  bool separateur = false;
  std::size_t i = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      chiffres += c;
      if (separateur) ++decimales;
    } else if ((c == '.' || c == ',') && !separateur) {
      separateur = true;
    } else {
      break;
    }
  }
  if (chiffres.empty()) return false;
  if (i < s.size()) {
    if (s[i] != 'e' && s[i] != 'E') return false;
    std::string_view reste = s.substr(i + 1);
    if (!reste.empty() && reste.front() == '+') reste.remove_prefix(1);
    auto [fin, ec] = std::from_chars(reste.data(), reste.data() + reste.size(), exposant);
    if (ec != std::errc() || fin != reste.data() + reste.size() || reste.empty()) return false;
    if (exposant > 400 || exposant < -400) {
      if (exposant > 0 && chiffres.find_first_not_of('0') != std::string::npos) throw ErreurMoteur(err::DepassementNumerique);
      resultat = 0;
      return true;
    }
  }
  // value = chiffres x 10^(exposant - decimales), in ten-thousandths: shift by 4 more.
  const int decalage = exposant - decimales + 4;
  std::string entiers = chiffres, reste;
  if (decalage >= 0) {
    entiers.append(static_cast<std::size_t>(decalage), '0');
  } else {
    const std::size_t coupe = static_cast<std::size_t>(-decalage);
    if (coupe >= entiers.size()) {
      reste = std::string(coupe - entiers.size(), '0') + entiers;
      entiers.clear();
    } else {
      reste = entiers.substr(entiers.size() - coupe);
      entiers.resize(entiers.size() - coupe);
    }
  }
  const auto debut = entiers.find_first_not_of('0');
  entiers = debut == std::string::npos ? std::string() : entiers.substr(debut);
  if (entiers.size() > 19) throw ErreurMoteur(err::DepassementNumerique);
  unsigned long long valeur = 0;
  for (char c : entiers) valeur = valeur * 10 + static_cast<unsigned long long>(c - '0');
  if (!reste.empty()) {
    const bool plusDeLaMoitie = reste[0] > '5' || (reste[0] == '5' && reste.find_first_not_of('0', 1) != std::string::npos);
    const bool moitie = reste[0] == '5' && !plusDeLaMoitie;
    if (plusDeLaMoitie || (moitie && valeur % 2 == 1)) ++valeur;
  }
  const unsigned long long limite = negatif ? 9223372036854775808ULL : 9223372036854775807ULL;
  if (valeur > limite) throw ErreurMoteur(err::DepassementNumerique);
  resultat = negatif ? static_cast<long long>(0ULL - valeur) : static_cast<long long>(valeur);
  return true;
}

long long ArrondiBancaire(double d) {
  if (!std::isfinite(d) || d >= 9.2233720368547758e18 || d < -9.2233720368547758e18)
    throw ErreurMoteur(err::DepassementNumerique);
  return static_cast<long long>(std::nearbyint(d));  // default rounding mode: half to even
}

}  // namespace

bool DateHeure::Valide() const {
  return annee >= 100 && annee <= 9999 && mois >= 1 && mois <= 12 && jour >= 1 && jour <= JoursDuMois(annee, mois) &&
         heure >= 0 && heure <= 23 && minute >= 0 && minute <= 59 && seconde >= 0 && seconde <= 59;
}

std::string DateHeure::Iso() const {
  auto chiffres = [](char* t, int v, int n) {
    for (int i = n - 1; i >= 0; --i, v /= 10) t[i] = static_cast<char>('0' + v % 10);
  };
  auto dansDeux = [](int v) { return v >= 0 && v <= 99; };
  // Written digit by digit: a formatted print was most of the cost of storing a date. Parts out
  // of their usual widths keep the print's own form.
  if (annee >= 0 && annee <= 9999 && dansDeux(mois) && dansDeux(jour) && dansDeux(heure) && dansDeux(minute) &&
      dansDeux(seconde)) {
    char t[19] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0', ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
    chiffres(t, annee, 4);
    chiffres(t + 5, mois, 2);
    chiffres(t + 8, jour, 2);
    chiffres(t + 11, heure, 2);
    chiffres(t + 14, minute, 2);
    chiffres(t + 17, seconde, 2);
    return std::string(t, sizeof t);
  }
  char tampon[80];
  std::snprintf(tampon, sizeof tampon, "%04d-%02d-%02d %02d:%02d:%02d", annee, mois, jour, heure, minute, seconde);
  return tampon;
}

bool DateHeure::DepuisIso(std::string_view s, DateHeure& d) {
  s = SansEspaces(s);
  DateHeure lu;
  if (!LitChiffres(s, 4, 4, lu.annee) || !LitSeparateur(s, '-') || !LitChiffres(s, 1, 2, lu.mois) ||
      !LitSeparateur(s, '-') || !LitChiffres(s, 1, 2, lu.jour))
    return false;
  if (!s.empty() && s.front() == 'T') s.remove_prefix(1);
  if (!LitHeure(s, lu) || !lu.Valide()) return false;
  d = lu;
  return true;
}

bool Valeur::EstNumerique() const {
  return genre_ == Genre::Booleen || genre_ == Genre::Entier || genre_ == Genre::Monetaire || genre_ == Genre::Reel;
}

bool Valeur::EnBooleen() const {
  switch (genre_) {
    case Genre::Vide: return false;
    case Genre::Booleen:
    case Genre::Entier:
    case Genre::Monetaire: return entier_ != 0;
    case Genre::Reel: return reel_ != 0;
    case Genre::Texte: {
      std::string plie = PlieNom(SansEspaces(texte_));
      if (plie == "vrai" || plie == "true" || plie == "oui" || plie == "yes") return true;
      if (plie == "faux" || plie == "false" || plie == "non" || plie == "no") return false;
      double d;
      if (LitNombre(texte_, d)) return d != 0;
      break;
    }
    default: break;
  }
  throw ErreurMoteur(err::ConversionImpossible);
}

long long Valeur::EnEntier() const {
  switch (genre_) {
    case Genre::Vide: return 0;
    case Genre::Booleen:
    case Genre::Entier: return entier_;
    case Genre::Monetaire: return ArrondiBancaire(static_cast<double>(entier_) / 10000.0);
    case Genre::Reel: return ArrondiBancaire(reel_);
    case Genre::Texte: {
      long long i;
      auto t = SansEspaces(texte_);
      auto [fin, ec] = std::from_chars(t.data(), t.data() + t.size(), i);
      if (ec == std::errc() && fin == t.data() + t.size()) return i;
      double d;
      if (LitNombre(texte_, d)) return ArrondiBancaire(d);
      break;
    }
    default: break;
  }
  throw ErreurMoteur(err::ConversionImpossible);
}

long long Valeur::EnDixMilliemes() const {
  switch (genre_) {
    case Genre::Monetaire: return entier_;
    case Genre::Vide: return 0;
    case Genre::Booleen:
    case Genre::Entier:
      if (entier_ > std::numeric_limits<long long>::max() / 10000 || entier_ < std::numeric_limits<long long>::min() / 10000)
        throw ErreurMoteur(err::DepassementNumerique);
      return entier_ * 10000;
    case Genre::Reel: return ArrondiBancaire(reel_ * 10000.0);
    case Genre::Texte: {
      long long exact;
      if (LitDixMilliemes(texte_, exact)) return exact;
      double d;
      if (LitNombre(texte_, d)) return ArrondiBancaire(d * 10000.0);
      break;
    }
    default: break;
  }
  throw ErreurMoteur(err::ConversionImpossible);
}

double Valeur::EnReel() const {
  switch (genre_) {
    case Genre::Vide: return 0;
    case Genre::Booleen:
    case Genre::Entier: return static_cast<double>(entier_);
    case Genre::Monetaire: return static_cast<double>(entier_) / 10000.0;
    case Genre::Reel: return reel_;
    case Genre::Texte: {
      double d;
      if (LitNombre(texte_, d)) return d;
      break;
    }
    default: break;
  }
  throw ErreurMoteur(err::ConversionImpossible);
}

DateHeure Valeur::EnDate() const {
  DateHeure d;
  if (genre_ == Genre::Vide) return d;
  if ((genre_ == Genre::Date || genre_ == Genre::Texte) &&
      (DateHeure::DepuisIso(texte_, d) || LitDateFrancaise(texte_, d)))
    return d;
  throw ErreurMoteur(err::ConversionImpossible);
}

std::string Valeur::EnTexte() const {
  switch (genre_) {
    case Genre::Vide:
    case Genre::Nul: return {};
    case Genre::Booleen: return entier_ ? "Vrai" : "Faux";
    case Genre::Entier: return std::to_string(entier_);
    case Genre::Monetaire: {
      // Unsigned, so that the smallest amount has an absolute value too.
      const unsigned long long absolu =
          entier_ < 0 ? 0ULL - static_cast<unsigned long long>(entier_) : static_cast<unsigned long long>(entier_);
      std::string texte = (entier_ < 0 ? "-" : "") + std::to_string(absolu / 10000);
      const unsigned long long reste = absolu % 10000;
      if (reste) {
        char tampon[8];
        std::snprintf(tampon, sizeof tampon, "%04llu", reste);
        std::string decimales(tampon);
        while (decimales.back() == '0') decimales.pop_back();
        texte += "," + decimales;
      }
      return texte;
    }
    case Genre::Reel: return FormateReel(reel_, 15);
    case Genre::Date: {
      DateHeure d;
      if (!DateHeure::DepuisIso(texte_, d)) return texte_;
      char tampon[40];
      bool sansHeure = d.heure == 0 && d.minute == 0 && d.seconde == 0;
      if (d.annee == 1899 && d.mois == 12 && d.jour == 30 && !sansHeure)
        std::snprintf(tampon, sizeof tampon, "%02d:%02d:%02d", d.heure, d.minute, d.seconde);
      else if (sansHeure)
        std::snprintf(tampon, sizeof tampon, "%02d/%02d/%04d", d.jour, d.mois, d.annee);
      else
        std::snprintf(tampon, sizeof tampon, "%02d/%02d/%04d %02d:%02d:%02d", d.jour, d.mois, d.annee, d.heure, d.minute,
                      d.seconde);
      return tampon;
    }
    case Genre::Texte:
    case Genre::Binaire: return texte_;
  }
  return {};
}

bool operator==(const Valeur& a, const Valeur& b) {
  if (a.genre_ != b.genre_) return false;
  switch (a.genre_) {
    case Valeur::Genre::Vide:
    case Valeur::Genre::Nul: return true;
    case Valeur::Genre::Booleen:
    case Valeur::Genre::Entier:
    case Valeur::Genre::Monetaire: return a.entier_ == b.entier_;
    case Valeur::Genre::Reel: return a.reel_ == b.reel_;
    default: return a.texte_ == b.texte_;
  }
}

}  // namespace moteur

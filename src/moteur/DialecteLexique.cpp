// The dialect's lexer: a statement cut into tokens (words, [bracketed names], 'texts', numbers,
// #dates#, symbols).
//
// Design: the lexer never throws. A fault (an unterminated quote, an impossible date) stops the
// cut and is kept with its position, because its error number depends on the kind of statement,
// which only the first token tells. A malformed UTF-8 byte is a fault at its position, so every
// token and every quoted extract is valid UTF-8, and bytes >= 0x80 are letters of names.
#include <algorithm>
#include <array>
#include <cstdio>

#include "moteur/DialecteInterne.h"
#include "moteur/Erreurs.h"

namespace moteur::dialecte::interne {
namespace {

// ---------------------------------------------------------------- dates

bool Bissextile(int a) { return (a % 4 == 0 && a % 100 != 0) || a % 400 == 0; }

int JoursDuMois(int a, int m) {
  static constexpr std::array<int, 12> jours{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && Bissextile(a) ? 29 : jours[static_cast<size_t>(m - 1)];
}

// Content of a #…# literal, to the storage form 'YYYY-MM-DD HH:MM:SS'.
std::optional<std::string> LitDate(std::string_view c) {
  while (!c.empty() && EstBlanc(c.front())) c.remove_prefix(1);
  while (!c.empty() && EstBlanc(c.back())) c.remove_suffix(1);
  size_t i = 0;
  auto nombre = [&](int& valeur, int& chiffres) {
    valeur = 0;
    chiffres = 0;
    while (i < c.size() && EstChiffre(c[i])) {
      if (++chiffres > 4) return false;
      valeur = valeur * 10 + (c[i] - '0');
      ++i;
    }
    return chiffres > 0;
  };

  int annee = 1899, mois = 12, jour = 30, heure = 0, minute = 0, seconde = 0;
  bool aDate = false;
  int v1, n1;
  if (nombre(v1, n1) && i < c.size() && (c[i] == '/' || c[i] == '-')) {
    const char separateur = c[i++];
    int v2, n2, v3, n3;
    if (!nombre(v2, n2) || i >= c.size() || c[i] != separateur) return std::nullopt;
    ++i;
    if (!nombre(v3, n3)) return std::nullopt;
    int chiffresAnnee;
    if (n1 >= 3) {  // year first, whatever the separator
      if (n2 > 2 || n3 > 2) return std::nullopt;
      annee = v1, mois = v2, jour = v3, chiffresAnnee = n1;
    } else if (separateur == '/') {  // month/day/year, the US order
      if (n2 > 2) return std::nullopt;
      mois = v1, jour = v2, annee = v3, chiffresAnnee = n3;
    } else {
      return std::nullopt;
    }
    if (chiffresAnnee <= 2) annee += annee < 30 ? 2000 : 1900;
    aDate = true;
    if (i < c.size()) {
      if (!EstBlanc(c[i])) return std::nullopt;
      while (i < c.size() && EstBlanc(c[i])) ++i;
    }
  } else {
    i = 0;
  }

  bool aHeure = false;
  if (i < c.size()) {
    int n;
    if (!nombre(heure, n) || n > 2 || i >= c.size() || c[i] != ':') return std::nullopt;
    ++i;
    if (!nombre(minute, n) || n > 2) return std::nullopt;
    if (i < c.size() && c[i] == ':') {
      ++i;
      if (!nombre(seconde, n) || n > 2) return std::nullopt;
    }
    while (i < c.size() && EstBlanc(c[i])) ++i;
    if (i < c.size()) {
      const std::string suffixe = Majuscules(c.substr(i));
      if ((suffixe != "AM" && suffixe != "PM") || heure < 1 || heure > 12) return std::nullopt;
      heure = heure % 12 + (suffixe == "PM" ? 12 : 0);
    }
    aHeure = true;
  }
  if (!aDate && !aHeure) return std::nullopt;
  if (annee < 100 || annee > 9999 || mois < 1 || mois > 12 || jour < 1 || jour > JoursDuMois(annee, mois) ||
      heure > 23 || minute > 59 || seconde > 59) {
    return std::nullopt;
  }
  char tampon[80];  // room for any int, which keeps -Wformat-truncation quiet
  std::snprintf(tampon, sizeof tampon, "%04d-%02d-%02d %02d:%02d:%02d", annee, mois, jour, heure, minute, seconde);
  return std::string(tampon);
}

}  // namespace

std::string Extrait(std::string_view source, size_t position, bool avant) {
  constexpr size_t kLongueur = 60;
  position = std::min(position, source.size());
  size_t debut = avant ? (position > kLongueur ? position - kLongueur : 0) : position;
  size_t fin = avant ? position : std::min(source.size(), position + kLongueur);
  while (debut > 0 && debut < source.size() && texte::EstSuiteUtf8(source[debut])) {
    ++debut;
  }
  while (fin < source.size() && fin > debut && texte::EstSuiteUtf8(source[fin])) --fin;
  if (debut > fin) debut = fin;
  std::string_view morceau = source.substr(debut, fin - debut);
  morceau = morceau.substr(0, std::min(morceau.size(), PremierOctetInvalide(morceau)));
  while (!morceau.empty() && EstBlanc(morceau.front())) morceau.remove_prefix(1);
  while (!morceau.empty() && EstBlanc(morceau.back())) morceau.remove_suffix(1);
  return std::string(morceau);
}

Lexique Decoupe(std::string_view s) {
  Lexique r;
  const size_t limite = std::min(PremierOctetInvalide(s), s.size());
  size_t i = 0;
  size_t fin = s.size();
  auto echec = [&](int numero, size_t debut, std::string argument = {}) {
    r.erreur = ErreurLexicale{numero, std::move(argument), debut};
    fin = debut;
  };
  auto ajoute = [&](Sorte sorte, std::string texte, size_t debut) {
    Jeton j{sorte, std::move(texte), {}, debut};
    if (sorte == Sorte::Mot) j.maj = Majuscules(j.texte);
    r.jetons.push_back(std::move(j));
  };

  while (i < s.size()) {
    const char c = s[i];
    if (EstBlanc(c)) {
      ++i;
      continue;
    }
    if (i >= limite) {
      echec(0, i);
      break;
    }
    const size_t debut = i;
    if (c == ';') {
      for (size_t k = i + 1; k < s.size(); ++k) {
        if (!EstBlanc(s[k])) {
          echec(err::CaracteresApresFin, k);
          break;
        }
      }
      fin = i;
      break;
    }
    if (c == '[') {
      std::string nom;
      size_t k = i + 1;
      bool ferme = false;
      while (k < s.size() && s[k] != '\0') {
        if (s[k] == ']') {
          if (k + 1 < s.size() && s[k + 1] == ']') {
            nom += ']';
            k += 2;
            continue;
          }
          ferme = true;
          break;
        }
        nom += s[k++];
      }
      if (!ferme || k > limite || nom.empty()) {
        echec(0, debut);
        break;
      }
      i = k + 1;
      ajoute(Sorte::Crochet, std::move(nom), debut);
      continue;
    }
    if (c == '\'' || c == '"') {
      std::string valeur;
      size_t k = i + 1;
      bool ferme = false;
      while (k < s.size() && s[k] != '\0') {
        if (s[k] == c) {
          if (k + 1 < s.size() && s[k + 1] == c) {
            valeur += c;
            k += 2;
            continue;
          }
          ferme = true;
          break;
        }
        valeur += s[k++];
      }
      if (!ferme || k > limite) {
        echec(0, debut);
        break;
      }
      i = k + 1;
      ajoute(Sorte::Chaine, std::move(valeur), debut);
      continue;
    }
    if (c == '#') {
      const size_t k = s.find('#', i + 1);
      if (k == std::string_view::npos || k > limite) {
        echec(0, debut);
        break;
      }
      auto date = LitDate(s.substr(i + 1, k - i - 1));
      if (!date) {
        echec(err::SyntaxeExpression, debut, std::string(s.substr(i, k + 1 - i)));
        break;
      }
      i = k + 1;
      ajoute(Sorte::Date, std::move(*date), debut);
      continue;
    }
    const bool apresNom =
        !r.jetons.empty() && (r.jetons.back().sorte == Sorte::Mot || r.jetons.back().sorte == Sorte::Crochet);
    if (EstChiffre(c) || (c == '.' && !apresNom && i + 1 < s.size() && EstChiffre(s[i + 1]))) {
      size_t k = i;
      while (k < s.size() && EstChiffre(s[k])) ++k;
      if (k < s.size() && s[k] == '.') {
        ++k;
        while (k < s.size() && EstChiffre(s[k])) ++k;
      }
      if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
        size_t e = k + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-')) ++e;
        if (e < s.size() && EstChiffre(s[e])) {
          while (e < s.size() && EstChiffre(s[e])) ++e;
          k = e;
        }
      }
      if (k < s.size() && EstCaractereMot(s[k])) {
        echec(0, debut);
        break;
      }
      i = k;
      ajoute(Sorte::Nombre, std::string(s.substr(debut, k - debut)), debut);
      continue;
    }
    if (EstCaractereMot(c)) {
      size_t k = i;
      while (k < s.size() && EstCaractereMot(s[k])) ++k;
      if (k > limite) {
        echec(0, limite);
        break;
      }
      i = k;
      ajoute(Sorte::Mot, std::string(s.substr(debut, k - debut)), debut);
      continue;
    }
    if (i + 1 < s.size()) {
      const std::string_view deux = s.substr(i, 2);
      if (deux == "<>" || deux == "<=" || deux == ">=") {
        i += 2;
        ajoute(Sorte::Symbole, std::string(deux), debut);
        continue;
      }
    }
    static constexpr std::string_view kSymboles = "(),.*+-/\\&=<>";
    if (c != '\0' && kSymboles.find(c) != std::string_view::npos) {
      ++i;
      ajoute(Sorte::Symbole, std::string(1, c), debut);
      continue;
    }
    echec(0, debut);
    break;
  }
  r.jetons.push_back(Jeton{Sorte::Fin, {}, {}, std::min(fin, s.size())});
  return r;
}

bool EstReserve(std::string_view maj) {
  static constexpr std::array<std::string_view, 47> kMots{
      "ALL",  "AND",    "AS",     "ASC",    "BETWEEN", "BY",      "DELETE", "DESC",   "DISTINCT", "DISTINCTROW",
      "EQV",  "EXISTS", "FALSE",  "FROM",   "GROUP",   "HAVING",  "IMP",    "IN",     "INNER",    "INSERT",
      "INTO", "IS",     "JOIN",   "LEFT",   "LIKE",    "MOD",     "NO",     "NON",    "NOT",      "NULL",
      "ON",   "OR",     "ORDER",  "OUI",    "OUTER",   "PERCENT", "RIGHT",  "SELECT", "SET",      "TOP",
      "TRUE", "UNION",  "UPDATE", "VALUES", "WHERE",   "XOR",     "YES"};
  return std::find(kMots.begin(), kMots.end(), maj) != kMots.end();
}

}  // namespace moteur::dialecte::interne

#include <cctype>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <random>
#include <ctime>
#include <limits>

#include "moteur/Interne.h"
#include "moteur/Noms.h"

namespace moteur {

bool TypeChampValide(int type) { return (type >= dbBoolean && type <= dbMemo) || type == dbGUID; }

int TailleFixe(int type) {
  switch (type) {
    case dbBoolean:
    case dbByte: return 1;
    case dbInteger: return 2;
    case dbLong:
    case dbSingle: return 4;
    case dbCurrency:
    case dbDouble:
    case dbDate: return 8;
    case dbText: return 0;
    case dbBinary: return 255;
    case dbGUID: return 16;
    default: return 0;  // Memo and Long Binary grow as needed
  }
}

bool EstTypeTexte(int type) { return type == dbText || type == dbMemo; }

namespace conversion {
namespace {

void VerifiePlage(long long v, long long min, long long max) {
  if (v < min || v > max) throw ErreurMoteur(err::DepassementNumerique);
}

DateHeure Maintenant(bool avecHeure) {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  DateHeure d;
  d.annee = local.tm_year + 1900;
  d.mois = local.tm_mon + 1;
  d.jour = local.tm_mday;
  if (avecHeure) {
    d.heure = local.tm_hour;
    d.minute = local.tm_min;
    d.seconde = local.tm_sec;
  }
  return d;
}

// A GUID in its text form, upper case between braces; empty when the text is none.
std::string GuidCanonique(std::string_view texte) {
  if (texte.size() == 38 && texte.front() == '{' && texte.back() == '}') texte = texte.substr(1, 36);
  if (texte.size() != 36) return {};
  std::string guid = "{";
  for (std::size_t i = 0; i < texte.size(); ++i) {
    char c = texte[i];
    const bool tiret = i == 8 || i == 13 || i == 18 || i == 23;
    if (tiret != (c == '-')) return {};
    if (!tiret && !std::isxdigit(static_cast<unsigned char>(c))) return {};
    guid += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return guid + "}";
}

std::string_view Nettoie(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  if (!s.empty() && s.front() == '=') {
    s.remove_prefix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  }
  return s;
}

// The default expressions a definition may hold: literals, True/False, Date(), Now().
std::optional<Valeur> LitExpression(std::string_view expression) {
  std::string_view e = Nettoie(expression);
  if (e.empty()) return Valeur::Nul();
  std::string plie = PlieNom(e);
  if (plie == "null") return Valeur::Nul();
  if (plie == "true" || plie == "vrai" || plie == "oui" || plie == "yes") return Valeur(true);
  if (plie == "false" || plie == "faux" || plie == "non" || plie == "no") return Valeur(false);
  if (plie == "date()") return Valeur(Maintenant(false));
  if (plie == "genguid()") return Valeur(NouveauGuid());
  if (plie == "now()" || plie == "maintenant()") return Valeur(Maintenant(true));
  if (plie == "time()") {
    DateHeure d = Maintenant(true);
    d.annee = 1899, d.mois = 12, d.jour = 30;
    return Valeur(d);
  }
  char q = e.front();
  if ((q == '"' || q == '\'') && e.size() >= 2 && e.back() == q) {
    std::string texte;
    for (std::size_t i = 1; i + 1 < e.size(); ++i) {
      if (e[i] == q) {
        if (i + 2 < e.size() && e[i + 1] == q) {
          texte += q;
          ++i;
          continue;
        }
        return std::nullopt;
      }
      texte += e[i];
    }
    return Valeur(texte);
  }
  if (q == '#' && e.size() >= 2 && e.back() == '#') {
    // Between # a date is written month first, as in statements; EnDate reads day first.
    std::string date(e.substr(1, e.size() - 2));
    auto a = date.find('/'), b = a == std::string::npos ? a : date.find('/', a + 1);
    if (b != std::string::npos) date = date.substr(a + 1, b - a - 1) + "/" + date.substr(0, a) + date.substr(b);
    Valeur texte{date};
    try {
      return Valeur(texte.EnDate());
    } catch (const ErreurMoteur&) {
      return std::nullopt;
    }
  }
  Valeur nombre{std::string(e)};
  try {
    double d = nombre.EnReel();
    if (e.find_first_of(".,eE") == std::string_view::npos) return Valeur(nombre.EnEntier());
    return Valeur(d);
  } catch (const ErreurMoteur&) {
    return std::nullopt;
  }
}

}  // namespace

Valeur VersStockage(const Valeur& v, int type) {
  if (v.EstNulOuVide()) return Valeur::Nul();
  switch (type) {
    case dbBoolean: return Valeur(static_cast<long long>(v.EnBooleen() ? -1 : 0));
    case dbByte: {
      long long i = v.EnEntier();
      VerifiePlage(i, 0, 255);
      return Valeur(i);
    }
    case dbInteger: {
      long long i = v.EnEntier();
      VerifiePlage(i, -32768, 32767);
      return Valeur(i);
    }
    case dbLong: {
      long long i = v.EnEntier();
      VerifiePlage(i, -2147483648LL, 2147483647LL);
      return Valeur(i);
    }
    case dbCurrency: return Valeur(static_cast<double>(v.EnDixMilliemes()) / 10000.0);
    case dbSingle: {
      double d = v.EnReel();
      if (std::isfinite(d) && std::fabs(d) > 3.402823466e38) throw ErreurMoteur(err::DepassementNumerique);
      return Valeur(static_cast<double>(static_cast<float>(d)));
    }
    case dbDouble: return Valeur(v.EnReel());
    case dbDate: return Valeur::DateIso(v.EnDate().Iso());
    case dbBinary:
    case dbLongBinary: return v.genre() == Valeur::Genre::Binaire ? v : Valeur::Binaire(v.EnTexte());
    case dbGUID: {
      std::string guid = v.genre() == Valeur::Genre::Binaire ? GuidDepuisOctets(v.texte()) : GuidCanonique(v.EnTexte());
      if (guid.empty()) throw ErreurMoteur(err::ConversionImpossible);
      return Valeur(guid);
    }
    default:
      if (v.genre() == Valeur::Genre::Binaire) throw ErreurMoteur(err::ConversionImpossible);
      return Valeur(v.EnTexte());
  }
}

Valeur DepuisStockage(const Valeur& brute, int type) {
  using G = Valeur::Genre;
  // A Yes/No field never holds Null: one a damaged or older file left there reads No.
  if (brute.EstNulOuVide()) return type == dbBoolean ? Valeur(false) : Valeur::Nul();
  G g = brute.genre();
  auto illisible = [] { return ErreurMoteur(err::FormatNonReconnu); };
  switch (type) {
    case dbBoolean:
      if (g != G::Entier) throw illisible();
      return Valeur(brute.entier() != 0);
    case dbByte:
    case dbInteger:
    case dbLong:
      if (g == G::Entier) return brute;
      if (g == G::Reel && std::nearbyint(brute.reel()) == brute.reel() && std::fabs(brute.reel()) < 9e15)
        return Valeur(static_cast<long long>(brute.reel()));
      throw illisible();
    case dbCurrency:
      if (g == G::Entier) return Valeur::Monetaire(brute.entier() * 10000);
      if (g == G::Reel && std::isfinite(brute.reel()) && std::fabs(brute.reel()) <= 922337203685477.5808) {
        // The ends of the range, once stored as doubles, land just past what ten-thousandths hold.
        double d = brute.reel() * 10000.0;
        if (d >= 9223372036854775807.0) return Valeur::Monetaire(std::numeric_limits<long long>::max());
        if (d <= -9223372036854775808.0) return Valeur::Monetaire(std::numeric_limits<long long>::min());
        return Valeur::Monetaire(std::llround(d));
      }
      throw illisible();
    case dbSingle:
    case dbDouble:
      if (g == G::Reel) return brute;
      if (g == G::Entier) return Valeur(static_cast<double>(brute.entier()));
      throw illisible();
    case dbDate: {
      DateHeure d;
      if ((g == G::Texte || g == G::Date) && DateHeure::DepuisIso(brute.texte(), d)) return Valeur(d);
      throw illisible();
    }
    case dbBinary:
    case dbLongBinary: return g == G::Binaire ? brute : Valeur::Binaire(brute.EnTexte());
    case dbText:
    case dbMemo:
      if (g == G::Binaire) throw illisible();
      return g == G::Texte ? brute : Valeur(brute.EnTexte());
    case dbGUID:
      if (g != G::Texte || GuidCanonique(brute.texte()) != brute.texte()) throw illisible();
      return brute;
    default: return brute;
  }
}

std::string NouveauGuid() {
  static std::mt19937_64 alea{std::random_device{}()};
  static std::mutex verrou;
  std::uint64_t a, b;
  {
    std::lock_guard<std::mutex> garde(verrou);
    a = alea();
    b = alea();
  }
  a = (a & ~0xF000ULL) | 0x4000ULL;                    // version 4: random
  b = (b & ~(0xC0ULL << 56)) | (0x80ULL << 56);        // variant 1
  char texte[40];
  std::snprintf(texte, sizeof texte, "{%08llX-%04llX-%04llX-%04llX-%012llX}", static_cast<unsigned long long>(a >> 32),
                static_cast<unsigned long long>((a >> 16) & 0xFFFF), static_cast<unsigned long long>(a & 0xFFFF),
                static_cast<unsigned long long>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
  return texte;
}

std::string GuidDepuisOctets(std::string_view o) {
  if (o.size() != 16) return {};
  auto u = reinterpret_cast<const unsigned char*>(o.data());
  char texte[40];
  // The first three groups are stored least significant byte first.
  std::snprintf(texte, sizeof texte, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", u[3], u[2], u[1],
                u[0], u[5], u[4], u[7], u[6], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
  return texte;
}

bool EstGenerationGuid(std::string_view expression) { return PlieNom(Nettoie(expression)) == "genguid()"; }

Valeur EvalueDefaut(std::string_view expression, int type) {
  auto v = LitExpression(expression);
  // A Yes/No field without a default starts at No, never Null.
  if (!v || v->EstNul()) return type == dbBoolean ? VersStockage(Valeur(false), type) : Valeur::Nul();
  try {
    return VersStockage(*v, type);
  } catch (const ErreurMoteur&) {
    return Valeur::Nul();
  }
}

bool DefautValide(std::string_view expression) { return LitExpression(expression).has_value(); }

namespace {

constexpr const char* NomFonctionConversion = "utireorg_convertit";

Valeur DepuisSqlite(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return Valeur(static_cast<long long>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT: return Valeur(sqlite3_value_double(v));
    case SQLITE_TEXT: {
      const auto* texte = reinterpret_cast<const char*>(sqlite3_value_text(v));
      return Valeur(std::string(texte ? texte : "", static_cast<std::size_t>(sqlite3_value_bytes(v))));
    }
    default: return Valeur::Nul();
  }
}

void RenvoieValeur(sqlite3_context* contexte, const Valeur& v) {
  switch (v.genre()) {
    case Valeur::Genre::Booleen:
    case Valeur::Genre::Entier: sqlite3_result_int64(contexte, v.entier()); break;
    case Valeur::Genre::Monetaire: sqlite3_result_double(contexte, static_cast<double>(v.entier()) / 10000.0); break;
    case Valeur::Genre::Reel: sqlite3_result_double(contexte, v.reel()); break;
    case Valeur::Genre::Date:
    case Valeur::Genre::Texte:
      sqlite3_result_text64(contexte, v.texte().data(), v.texte().size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    default: sqlite3_result_null(contexte); break;
  }
}

// What the field stores already needs nothing: the common case of a copy costs no conversion.
bool DejaStockee(int sorte, int type, int typeSource) {
  if (sorte == SQLITE_NULL || sorte == SQLITE_BLOB) return true;
  const bool sourceBrute = typeSource == 0 || (typeSource >= dbByte && typeSource <= dbLong) || typeSource == dbDouble;
  const bool entier = type == dbByte || type == dbInteger || type == dbLong;
  if (sourceBrute && ((sorte == SQLITE_INTEGER && (entier || type == dbDouble)) || (sorte == SQLITE_FLOAT && type == dbDouble)))
    return true;
  return sorte == SQLITE_TEXT && EstTypeTexte(type) && (typeSource == 0 || EstTypeTexte(typeSource));
}

// utireorg_convertit(value, field type, source field type or 0 when unknown, field name). A value
// read from a field of known type is first taken as the recordset reads that field (a date, a
// Yes/No, an amount), then converted as the recordset converts it. A value it cannot convert is
// an error of the statement, whatever its option: a row dropped for it would be a value lost.
void FonctionConversion(sqlite3_context* contexte, int, sqlite3_value** arguments) {
  sqlite3_value* valeur = arguments[0];
  const int type = sqlite3_value_int(arguments[1]);
  const int typeSource = sqlite3_value_int(arguments[2]);
  const int sorte = sqlite3_value_type(valeur);
  if (DejaStockee(sorte, type, typeSource)) {
    sqlite3_result_value(contexte, valeur);
    return;
  }
  Valeur lue = DepuisSqlite(valeur);
  if (typeSource != 0) {
    IgnoreEchec<ErreurMoteur>("not what its own field should hold: converted as it stands",
                              [&] { lue = DepuisStockage(lue, typeSource); });
  }
  try {
    RenvoieValeur(contexte, VersStockage(lue, type));
  } catch (const ErreurMoteur& e) {
    const auto* nom = reinterpret_cast<const char*>(sqlite3_value_text(arguments[3]));
    const std::string message = "JET:" + std::to_string(e.Number()) + ":" + (nom ? nom : "");
    sqlite3_result_error(contexte, message.c_str(), static_cast<int>(message.size()));
  }
}

}  // namespace

void InstalleFonctionConversion(sqlite3* db) {
  sqlite3_create_function_v2(db, NomFonctionConversion, 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                             FonctionConversion, nullptr, nullptr, nullptr);
}

bool DemandeConversion(int type, int typeSource) {
  if (typeSource != 0 && typeSource == type) return false;
  if (type >= dbBoolean && type <= dbDate) return true;
  return EstTypeTexte(type) && !EstTypeTexte(typeSource);
}

std::string ExpressionConvertie(const std::string& expression, int type, int typeSource, const std::string& champ) {
  if (!DemandeConversion(type, typeSource)) return expression;
  return std::string(NomFonctionConversion) + "(" + expression + ", " + std::to_string(type) + ", " +
         std::to_string(typeSource) + ", " + CiteLitteral(champ) + ")";
}

}  // namespace conversion

Valeur ValeurParDefaut(std::string_view expression, int type) { return conversion::EvalueDefaut(expression, type); }

Valeur ValeurDuChamp(const Valeur& valeur, int type) {
  return conversion::DepuisStockage(conversion::VersStockage(valeur, type), type);
}

}  // namespace moteur

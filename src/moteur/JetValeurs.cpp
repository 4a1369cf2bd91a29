// Values as a Jet file stores them: texts, dates and scaled decimals.
#include <iconv.h>

#include <cmath>
#include <cstring>

#include "moteur/Jet.h"
#include "moteur/Noms.h"

namespace moteur::jet {

namespace {

// The bytes 0x80 to 0x9F of code page 1252; the five it leaves undefined keep their own value,
// as Windows does, so that no byte is lost.
constexpr char16_t Cp1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AjouteUtf16(const std::u16string& unites, std::string& sortie) {
  for (std::size_t i = 0; i < unites.size(); ++i) {
    char32_t cp = unites[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < unites.size() && unites[i + 1] >= 0xDC00 && unites[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unites[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // half of a pair cannot be written in UTF-8
    }
    EcritCaractere(cp, sortie);
  }
}

// Jet 4.0 "compressed" text: after 0xFF 0xFE, single bytes stand for characters below 256 and a
// zero byte switches to and from plain two-byte characters.
std::u16string Decompresse(std::string_view o) {
  std::u16string unites;
  bool compresse = true;
  for (std::size_t i = 2; i < o.size();) {
    auto octet = static_cast<unsigned char>(o[i]);
    if (octet == 0) {
      compresse = !compresse;
      ++i;
    } else if (compresse) {
      unites.push_back(octet);
      ++i;
    } else if (i + 1 < o.size()) {
      unites.push_back(static_cast<char16_t>(octet | (static_cast<unsigned char>(o[i + 1]) << 8)));
      i += 2;
    } else {
      break;
    }
  }
  return unites;
}

std::string DepuisUcs2(std::string_view o) {
  std::u16string unites;
  if (o.size() >= 2 && static_cast<unsigned char>(o[0]) == 0xFF && static_cast<unsigned char>(o[1]) == 0xFE) {
    unites = Decompresse(o);
  } else {
    for (std::size_t i = 0; i + 1 < o.size(); i += 2)
      unites.push_back(static_cast<char16_t>(static_cast<unsigned char>(o[i]) | (static_cast<unsigned char>(o[i + 1]) << 8)));
  }
  std::string sortie;
  AjouteUtf16(unites, sortie);
  return sortie;
}

std::string DepuisCp1252(std::string_view o) {
  std::string sortie;
  sortie.reserve(o.size());
  for (char c : o) {
    auto octet = static_cast<unsigned char>(c);
    EcritCaractere(octet >= 0x80 && octet < 0xA0 ? Cp1252[octet - 0x80] : octet, sortie);
  }
  return sortie;
}

bool DepuisPageDeCode(std::string_view o, int pageDeCode, std::string& sortie) {
  iconv_t cd = iconv_open("UTF-8", ("CP" + std::to_string(pageDeCode)).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string entree(o);
  sortie.assign(entree.size() * 4 + 4, '\0');
  char* in = entree.data();
  char* out = sortie.data();
  std::size_t resteEntree = entree.size(), resteSortie = sortie.size();
  std::size_t rc = iconv(cd, &in, &resteEntree, &out, &resteSortie);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return false;
  sortie.resize(sortie.size() - resteSortie);
  return true;
}

// Days since 1970-01-01 to a calendar date (proleptic Gregorian).
void DateCivile(long long z, int& annee, int& mois, int& jour) {
  z += 719468;
  long long ere = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - ere * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  jour = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  mois = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  annee = static_cast<int>(yoe + ere * 400 + (mois <= 2 ? 1 : 0));
}

}  // namespace

std::string DecodeTexte(std::string_view octets, int version, int pageDeCode) {
  if (version >= 1) return DepuisUcs2(octets);
  std::string sortie;
  if (pageDeCode != 0 && pageDeCode != 1252 && DepuisPageDeCode(octets, pageDeCode, sortie)) return sortie;
  return DepuisCp1252(octets);
}

bool DateDepuisJet(double jours, DateHeure& date) {
  if (!std::isfinite(jours) || std::fabs(jours) > 3.0e6) return false;
  // The whole part counts days from 30/12/1899; the fraction is the time of that day, also for
  // negative values (-1.25 is 29/12/1899 06:00).
  long long jour = static_cast<long long>(std::trunc(jours));
  long long secondes = std::llround(std::fabs(jours - static_cast<double>(jour)) * 86400.0);
  if (secondes >= 86400) {
    ++jour;
    secondes = 0;
  }
  DateHeure d;
  DateCivile(jour - 25569, d.annee, d.mois, d.jour);
  d.heure = static_cast<int>(secondes / 3600);
  d.minute = static_cast<int>(secondes / 60 % 60);
  d.seconde = static_cast<int>(secondes % 60);
  if (!d.Valide()) return false;
  date = d;
  return true;
}

__extension__ typedef unsigned __int128 Entier128;  // 96 bits of mantissa, and more

std::string DecimalEnTexte(const unsigned char* octets, int echelle) {
  Entier128 n = 0;
  for (int mot = 0; mot < 4; ++mot) {
    std::uint32_t m = 0;
    for (int k = 3; k >= 0; --k) m = (m << 8) | octets[1 + 4 * mot + k];
    n = (n << 32) | m;
  }
  std::string chiffres;
  do {
    chiffres.insert(chiffres.begin(), static_cast<char>('0' + static_cast<int>(n % 10)));
    n /= 10;
  } while (n != 0);
  if (echelle < 0) echelle = 0;
  if (echelle > 0) {
    if (static_cast<int>(chiffres.size()) <= echelle) chiffres.insert(0, static_cast<std::size_t>(echelle) + 1 - chiffres.size(), '0');
    chiffres.insert(chiffres.size() - static_cast<std::size_t>(echelle), ".");
  }
  bool nul = chiffres.find_first_not_of("0.") == std::string::npos;
  return (octets[0] & 0x80) && !nul ? "-" + chiffres : chiffres;
}

}  // namespace moteur::jet

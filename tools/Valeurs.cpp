// Values and types between the JSON of a description and the engine.
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "Outil.h"
#include "texte/Texte.h"

namespace outil {

using moteur::Valeur;

void ErreurFormat(const std::string& message) {
  throw ErreurOutil(ErreurFormatDescription, "Format de description non reconnu : " + message);
}

namespace {

struct NomDeType {
  int type;
  std::string_view nom;
};

// The first name of each type is the one messages use; the others are accepted on input.
constexpr std::array<NomDeType, 14> NomsDeTypes{{{moteur::dbBoolean, "Booléen"},
                                                 {moteur::dbByte, "Octet"},
                                                 {moteur::dbInteger, "Entier"},
                                                 {moteur::dbLong, "Entier long"},
                                                 {moteur::dbCurrency, "Monétaire"},
                                                 {moteur::dbSingle, "Réel simple"},
                                                 {moteur::dbDouble, "Réel double"},
                                                 {moteur::dbDate, "Date/Heure"},
                                                 {moteur::dbDate, "Date"},
                                                 {moteur::dbBinary, "Binaire"},
                                                 {moteur::dbText, "Texte"},
                                                 {moteur::dbLongBinary, "Binaire long"},
                                                 {moteur::dbMemo, "Mémo"},
                                                 {moteur::dbGUID, "N° de réplication"}}};

// Names typed by hand differ in case, accents and spacing: "entier LONG", "Entier-long", "Memo".
std::string PlieNomType(std::string_view nom) {
  std::string plie;
  for (char c : texte::PlieNom(texte::SansAccents(nom), texte::Pliage::Ascii))
    if (c != ' ' && c != '-' && c != '_') plie += c;
  return plie;
}

int ChiffreHexadecimal(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DepuisHexadecimal(const std::string& hex) {
  if (hex.size() % 2 != 0)
    throw ErreurOutil(moteur::err::ConversionImpossible, "Erreur de conversion de type de données : '" + hex +
                                                             "' n'a pas un nombre pair de chiffres hexadécimaux.");
  std::string octets;
  octets.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int fort = ChiffreHexadecimal(hex[i]), faible = ChiffreHexadecimal(hex[i + 1]);
    if (fort < 0 || faible < 0)
      throw ErreurOutil(moteur::err::ConversionImpossible,
                        "Erreur de conversion de type de données : '" + hex + "' n'est pas en hexadécimal.");
    octets += static_cast<char>(fort * 16 + faible);
  }
  return octets;
}

// A Single is stored as the double nearest a float: the float's shortest writing reads back to it
// and is the number the user typed.
Json EcritSimple(double d) {
  char tampon[64];
  auto [fin, ec] = std::to_chars(tampon, tampon + sizeof tampon, static_cast<float>(d));
  double relu = d;
  if (ec == std::errc()) std::from_chars(tampon, fin, relu);
  return relu;
}

Json EcritReel(double d, int type) {
  // JSON has no infinities nor NaN; the engine reads these words back as numbers.
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d > 0 ? "+Inf" : "-Inf";
  if (type == moteur::dbSingle && std::isfinite(static_cast<float>(d))) return EcritSimple(d);
  return d;
}

}  // namespace

int LitType(const Json& type) {
  if (type.is_number_integer()) {
    long long n = type.get<long long>();
    if (!moteur::TypeChampValide(static_cast<int>(n)) || n != static_cast<int>(n))
      throw ErreurOutil(3259, moteur::DescriptionErreur(3259) + " (type " + std::to_string(n) + ")");
    return static_cast<int>(n);
  }
  if (type.is_string()) {
    std::string plie = PlieNomType(type.get<std::string>());
    for (const auto& [numero, nom] : NomsDeTypes)
      if (PlieNomType(nom) == plie) return numero;
    throw ErreurOutil(3259, moteur::DescriptionErreur(3259) + " (type '" + type.get<std::string>() + "')");
  }
  ErreurFormat("un type s'écrit comme un nombre de 1 à 12 ou un nom tel que \"Texte\", pas " + type.dump());
}

std::string NomType(int type) {
  for (const auto& [numero, nom] : NomsDeTypes)
    if (numero == type) return std::string(nom);
  return "type " + std::to_string(type);
}

std::string Hexadecimal(std::string_view octets) {
  static const char* chiffres = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(octets.size() * 2);
  for (unsigned char c : octets) {
    hex += chiffres[c >> 4];
    hex += chiffres[c & 15];
  }
  return hex;
}

std::string TexteMonetaire(long long dixMilliemes) {
  // Unsigned arithmetic: the most negative amount has no positive counterpart.
  unsigned long long absolu = dixMilliemes < 0 ? 0ULL - static_cast<unsigned long long>(dixMilliemes)
                                               : static_cast<unsigned long long>(dixMilliemes);
  std::string texte = (dixMilliemes < 0 ? "-" : "") + std::to_string(absolu / 10000);
  unsigned long long reste = absolu % 10000;
  if (reste) {
    std::string decimales = std::to_string(reste);
    decimales.insert(0, 4 - decimales.size(), '0');
    while (decimales.back() == '0') decimales.pop_back();
    texte += "." + decimales;
  }
  return texte;
}

bool LitMonetaire(std::string_view texte, long long& dixMilliemes) {
  bool negatif = false;
  if (!texte.empty() && (texte.front() == '-' || texte.front() == '+')) {
    negatif = texte.front() == '-';
    texte.remove_prefix(1);
  }
  auto separateur = texte.find_first_of(".,");
  std::string_view entiers = texte.substr(0, separateur);
  std::string_view decimales = separateur == std::string_view::npos ? std::string_view() : texte.substr(separateur + 1);
  if (entiers.empty() || decimales.size() > 4 || (separateur != std::string_view::npos && decimales.empty()))
    return false;
  unsigned long long valeur = 0;
  auto ajoute = [&valeur](char c) {
    if (c < '0' || c > '9') return false;
    if (valeur > (std::numeric_limits<unsigned long long>::max() - 9) / 10) return false;
    valeur = valeur * 10 + static_cast<unsigned>(c - '0');
    return true;
  };
  for (char c : entiers)
    if (!ajoute(c)) return false;
  for (std::size_t i = 0; i < 4; ++i)
    if (!ajoute(i < decimales.size() ? decimales[i] : '0')) return false;
  unsigned long long limite =
      static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + (negatif ? 1 : 0);
  if (valeur > limite) return false;
  dixMilliemes = negatif ? static_cast<long long>(0ULL - valeur) : static_cast<long long>(valeur);
  return true;
}

bool EstIllisible(const Json& valeur) { return valeur.is_object() && valeur.contains("illisible"); }

Json EcritIllisible(const std::string& brut) { return Json{{"illisible", brut}}; }

Json EcritValeur(const Valeur& v, int type) {
  using G = Valeur::Genre;
  switch (v.genre()) {
    case G::Vide:
    case G::Nul:
      return nullptr;
    case G::Booleen:
      return v.entier() != 0;
    case G::Entier:
      return v.entier();
    case G::Monetaire:
      return TexteMonetaire(v.entier());
    case G::Reel:
      return EcritReel(v.reel(), type);
    case G::Date:
      return v.EnDate().Iso();
    case G::Texte:
      return v.texte();
    case G::Binaire:
      return Json{{"hex", Hexadecimal(v.texte())}};
  }
  return nullptr;
}

Valeur LitValeur(const Json& j, int type) {
  switch (j.type()) {
    case Json::value_t::null:
      return Valeur::Nul();
    case Json::value_t::boolean:
      return Valeur(j.get<bool>());
    case Json::value_t::number_integer:
      return Valeur(j.get<long long>());
    case Json::value_t::number_unsigned: {
      auto n = j.get<unsigned long long>();
      if (n <= static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
        return Valeur(static_cast<long long>(n));
      return Valeur(static_cast<double>(n));
    }
    case Json::value_t::number_float:
      return Valeur(j.get<double>());
    case Json::value_t::string: {
      const auto& texte = j.get_ref<const std::string&>();
      long long dixMilliemes;
      // A decimal string is the exact way to give an amount; a JSON number goes through a double.
      if (type == moteur::dbCurrency && LitMonetaire(texte, dixMilliemes)) return Valeur::Monetaire(dixMilliemes);
      return Valeur(texte);
    }
    case Json::value_t::object:
      if (j.size() == 1 && j.contains("hex") && j["hex"].is_string())
        return Valeur::Binaire(DepuisHexadecimal(j["hex"].get<std::string>()));
      if (EstIllisible(j))
        ErreurFormat("une valeur illisible (" + j.dump() + ") ne se donne que dans un enregistrement");
      break;
    default:
      break;
  }
  ErreurFormat("valeur " + j.dump() + " inattendue : nombre, texte, booléen, null ou {\"hex\": \"…\"} attendu");
}

Valeur LitValeurBrute(const Json& j, int type) {
  if (EstIllisible(j)) {
    const Json& brut = j["illisible"];
    if (j.size() != 1 || !brut.is_string())
      ErreurFormat("une valeur illisible s'écrit {\"illisible\": \"texte brut\"}, pas " + j.dump());
    return Valeur(brut.get<std::string>());
  }
  Valeur v = LitValeur(j, type);
  // Only what the engine itself would write in the same way is normalised; anything else is
  // stored as given, which is the point of a defective record.
  if (v.genre() == Valeur::Genre::Texte && type == moteur::dbDate) {
    moteur::DateHeure date;
    if (moteur::DateHeure::DepuisIso(v.texte(), date)) return Valeur(date);
  }
  return v;
}

}  // namespace outil

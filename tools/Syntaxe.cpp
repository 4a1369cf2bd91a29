#include "Syntaxe.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "texte/Texte.h"

namespace syntaxe {
namespace {

// The parser's names of value kinds, as the French help shows them.
std::string NomDeType(const std::string& type) {
  if (type == "TEXT") return "TEXTE";
  if (type == "INT" || type == "UINT") return "ENTIER";
  if (type == "FLOAT") return "NOMBRE";
  return type;
}

// An option starts with a dash; anything else the parser names is a positional argument.
std::string Nomme(const std::string& nom) { return (nom.starts_with("-") ? "l'option " : "l'argument ") + nom; }

std::string Requis(const std::string& texte, const std::string& sousCommandes) {
  if (texte.find("subcommand") != std::string::npos)
    return sousCommandes.empty() ? "sous-commande attendue" : "sous-commande attendue : " + sousCommandes;
  std::smatch m;
  if (std::regex_match(texte, m, std::regex("(.+) is required"))) return Nomme(m[1]) + " est obligatoire";
  return "argument obligatoire manquant";
}

std::string Inattendus(const std::string& texte) {
  auto deuxPoints = texte.find(": ");
  std::istringstream mots(deuxPoints == std::string::npos ? texte : texte.substr(deuxPoints + 2));
  // The parser lists them last first; the user reads them in the order typed.
  std::vector<std::string> liste{std::istream_iterator<std::string>(mots), std::istream_iterator<std::string>()};
  std::string texteListe;
  for (auto mot = liste.rbegin(); mot != liste.rend(); ++mot) texteListe += (texteListe.empty() ? "" : " ") + *mot;
  return std::string(liste.size() > 1 ? "arguments inattendus : " : "argument inattendu : ") + texteListe;
}

std::string Conversion(const std::string& texte) {
  std::smatch m;
  if (std::regex_match(texte, m, std::regex("Could not convert: (\\S+) = (.*)")))
    return "valeur non valide pour " + m[1].str() + " : « " + m[2].str() + " »";
  if (std::regex_match(texte, m, std::regex("The value (.*) is not an allowed value for (\\S+)")))
    return "valeur non valide pour " + m[2].str() + " : « " + m[1].str() + " »";
  if (std::regex_match(texte, m, std::regex("(\\S+): too many inputs for a flag")))
    return Nomme(m[1]) + " ne prend pas de valeur";
  if (std::regex_match(texte, m, std::regex("(\\S+): Should be true/false or a number")))
    return "valeur non valide pour " + m[1].str() + " : un booléen ou un nombre est attendu";
  return {};
}

std::string Validation(const std::string& texte) {
  std::smatch m;
  if (std::regex_match(texte, m, std::regex("(\\S+): Value (.*) not in range \\[?(\\S+) (?:to|-) (\\S+?)\\]?")))
    return "valeur non valide pour " + m[1].str() + " : « " + m[2].str() + " » (de " + m[3].str() + " à " +
           m[4].str() + ")";
  if (std::regex_match(texte, m, std::regex("(\\S+): Value (.*) is not a button number")))
    return "valeur non valide pour " + m[1].str() + " : « " + m[2].str() + " » (un numéro de bouton, à partir de 1)";
  if (std::regex_match(texte, m, std::regex("(\\S+): (.*)"))) return "valeur non valide pour " + m[1].str();
  return {};
}

// "--a excludes --b", "--a requires --b": the two options named.
std::string Incompatibles(const std::string& texte) {
  std::smatch m;
  if (std::regex_match(texte, m, std::regex("(\\S+) excludes (\\S+)")))
    return "options incompatibles : " + m[1].str() + " et " + m[2].str();
  if (std::regex_match(texte, m, std::regex("(\\S+) requires (\\S+)")))
    return Nomme(m[1]) + " ne s'emploie qu'avec " + m[2].str();
  return "options incompatibles";
}

std::string NombreDeValeurs(const std::string& texte) {
  std::smatch m;
  if (std::regex_match(texte, m, std::regex("(\\S+): \\d+ required (\\S+) missing")))
    return Nomme(m[1]) + " attend une valeur (" + NomDeType(m[2]) + ")";
  if (std::regex_match(texte, m, std::regex("(\\S+) was given a disallowed flag override")))
    return Nomme(m[1].str().starts_with("-") ? m[1].str() : "--" + m[1].str()) + " ne prend pas de valeur";
  if (std::regex_search(texte, m, std::regex("arguments to (\\S+)")))
    return "nombre de valeurs incorrect pour " + m[1].str();
  if (std::regex_match(texte, m, std::regex("(\\S+): .*"))) return "nombre de valeurs incorrect pour " + m[1].str();
  return {};
}

std::vector<CLI::App*> SousCommandes(CLI::App& app) {
  return app.get_subcommands(std::function<bool(CLI::App*)>([](CLI::App*) { return true; }));
}

// The options the command line may use: the program's, and those of the subcommand it names.
std::map<std::string, const CLI::Option*> OptionsConnues(CLI::App& app, const std::vector<std::string>& mots) {
  std::map<std::string, const CLI::Option*> connues;
  auto ajoute = [&](CLI::App& source) {
    for (const CLI::Option* option : source.get_options()) {
      for (const auto& nom : option->get_lnames()) connues["--" + nom] = option;
      for (const auto& nom : option->get_snames()) connues["-" + nom] = option;
    }
  };
  ajoute(app);
  for (CLI::App* sous : SousCommandes(app))
    if (std::find(mots.begin(), mots.end(), sous->get_name()) != mots.end()) ajoute(*sous);
  return connues;
}

bool RessembleAUneOption(const std::string& mot) {
  return mot.size() > 1 && mot[0] == '-' && (std::isalpha(static_cast<unsigned char>(mot[1])) || mot[1] == '-');
}

std::string Inconnue(const std::string& nom, const std::map<std::string, const CLI::Option*>& connues) {
  std::string message = "argument inattendu : " + nom;
  for (const auto& [connu, option] : connues)
    if (texte::MemeNom(connu, nom, texte::Pliage::Ascii)) return message + " (voulez-vous dire " + connu + " ?)";
  return message;
}

std::string FauteDesMots(CLI::App& app, const std::vector<std::string>& mots, const std::string& sousCommandes) {
  const auto connues = OptionsConnues(app, mots);
  std::map<const CLI::Option*, int> vues;
  for (std::size_t i = 0; i < mots.size(); ++i) {
    const std::string& mot = mots[i];
    if (mot == "--") break;
    if (!RessembleAUneOption(mot)) continue;
    const std::string nom = mot.substr(0, mot.find('='));
    auto trouvee = connues.find(nom);
    if (trouvee == connues.end()) return Inconnue(nom, connues);
    const CLI::Option* option = trouvee->second;
    // A flag expects no value, whatever the size of the variable it sets.
    const bool prendUneValeur = option->get_type_size_max() > 0 && option->get_expected_max() > 0;
    if (prendUneValeur && ++vues[option] > 1 && option->get_items_expected_max() == 1)
      return Nomme(nom) + " est donnée plusieurs fois";
    const bool valeurCollee = nom.size() < mot.size();
    if (prendUneValeur && !valeurCollee && i + 1 < mots.size() && connues.count(mots[i + 1].substr(0, mots[i + 1].find('='))))
      return Nomme(nom) + " attend une valeur (" + NomDeType(option->get_type_name()) + ")";
  }
  // The first word that is no option names the subcommand.
  if (!sousCommandes.empty()) {
    for (const std::string& mot : mots) {
      if (RessembleAUneOption(mot)) continue;
      const auto sous = SousCommandes(app);
      if (std::none_of(sous.begin(), sous.end(), [&](CLI::App* s) { return s->get_name() == mot; }))
        return "sous-commande inconnue : " + mot + " (" + sousCommandes + ")";
      break;
    }
  }
  return {};
}

}  // namespace

const CLI::Validator NumeroDeBouton(
    [](std::string& valeur) -> std::string {
      // Not a number at all: the conversion says so.
      if (valeur.find_first_not_of("-+0123456789") != std::string::npos || valeur.empty()) return {};
      if (valeur[0] == '-' || valeur.find_first_not_of("+0") == std::string::npos)
        return "Value " + valeur + " is not a button number";
      return {};
    },
    "NUMERO");

std::string MessageSyntaxe(const CLI::ParseError& erreur, CLI::App& app, int argc, char** argv,
                           const std::string& sousCommandes) {
  std::string faute = FauteDesMots(app, std::vector<std::string>(argv + 1, argv + argc), sousCommandes);
  return faute.empty() ? MessageSyntaxe(erreur, sousCommandes) : faute;
}

std::string MessageSyntaxe(const CLI::ParseError& erreur, const std::string& sousCommandes) {
  const std::string texte = erreur.what();
  std::string message;
  if (dynamic_cast<const CLI::RequiredError*>(&erreur))
    message = Requis(texte, sousCommandes);
  else if (dynamic_cast<const CLI::ExtrasError*>(&erreur))
    message = Inattendus(texte);
  else if (dynamic_cast<const CLI::ConversionError*>(&erreur))
    message = Conversion(texte);
  else if (dynamic_cast<const CLI::ValidationError*>(&erreur))
    message = Validation(texte);
  else if (dynamic_cast<const CLI::ArgumentMismatch*>(&erreur))
    message = NombreDeValeurs(texte);
  else if (dynamic_cast<const CLI::ExcludesError*>(&erreur) || dynamic_cast<const CLI::RequiresError*>(&erreur))
    message = Incompatibles(texte);
  // A complaint the parser words in a way not foreseen here still says something in French.
  return message.empty() ? "ligne de commande non valide" : message;
}

namespace {

// The parser writes its headings "Options:"; French sets a space before the colon.
class FormateurFrancais : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string nom, CLI::AppFormatMode mode) const override {
    static const std::regex titre("(^|\n)([[:alnum:]_-]+):");
    static const std::regex lien(" (exclut|nécessite):");
    // A range check describes itself in English after the value's name: "N:INT in [1 - 64]".
    static const std::regex plage(":(?:INT|UINT|FLOAT|NUMBER) in \\[(\\S+) - (\\S+)\\]");
    std::string texte = CLI::Formatter::make_help(app, std::move(nom), mode);
    texte = std::regex_replace(texte, titre, "$1$2 :");
    texte = std::regex_replace(texte, lien, ", $1");
    return std::regex_replace(texte, plage, " (de $1 à $2)");
  }
};

}  // namespace

void TraduitAide(CLI::App& app, std::size_t largeurColonne) {
  if (!std::dynamic_pointer_cast<FormateurFrancais>(app.get_formatter())) app.formatter(std::make_shared<FormateurFrancais>());
  auto formateur = app.get_formatter();
  formateur->label("Usage", "Utilisation");
  formateur->label("OPTIONS", "OPTIONS");
  formateur->label("SUBCOMMAND", "SOUS-COMMANDE");
  formateur->label("SUBCOMMANDS", "SOUS-COMMANDES");
  formateur->label("Positionals", "Arguments");
  formateur->label("REQUIRED", "OBLIGATOIRE");
  formateur->label("TEXT", "TEXTE");
  formateur->label("Excludes", "exclut");
  formateur->label("Needs", "nécessite");
  formateur->column_width(largeurColonne);
}

}  // namespace syntaxe

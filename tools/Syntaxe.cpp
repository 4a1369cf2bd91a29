#include "Syntaxe.h"

#include <iterator>
#include <regex>
#include <sstream>
#include <vector>

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
  if (std::regex_match(texte, m, std::regex("(\\S+): (.*)"))) return "valeur non valide pour " + m[1].str();
  return {};
}

std::string NombreDeValeurs(const std::string& texte) {
  std::smatch m;
  if (std::regex_match(texte, m, std::regex("(\\S+): \\d+ required (\\S+) missing")))
    return Nomme(m[1]) + " attend une valeur (" + NomDeType(m[2]) + ")";
  if (std::regex_search(texte, m, std::regex("arguments to (\\S+)")))
    return "nombre de valeurs incorrect pour " + m[1].str();
  if (std::regex_match(texte, m, std::regex("(\\S+): .*"))) return "nombre de valeurs incorrect pour " + m[1].str();
  return {};
}

}  // namespace

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
    message = "options incompatibles";
  // A complaint the parser words in a way not foreseen here still says something in French.
  return message.empty() ? "ligne de commande non valide" : message;
}

void TraduitAide(CLI::App& app, std::size_t largeurColonne) {
  auto formateur = app.get_formatter();
  formateur->label("Usage", "Utilisation");
  formateur->label("OPTIONS", "OPTIONS");
  formateur->label("SUBCOMMAND", "SOUS-COMMANDE");
  formateur->label("SUBCOMMANDS", "SOUS-COMMANDES");
  formateur->label("Positionals", "Arguments");
  formateur->label("REQUIRED", "OBLIGATOIRE");
  formateur->label("TEXT", "TEXTE");
  formateur->column_width(largeurColonne);
}

}  // namespace syntaxe

// utireorg-base: creates a database from a JSON description, describes one as JSON, runs a
// statement on it, checks it, or converts a Jet file to a database of the engine.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <string>

#include "Outil.h"
#include "Syntaxe.h"

namespace {

void AfficheErreur(int numero, const std::string& description, const std::string& contexte) {
  std::cerr << "Erreur " << numero << " : " << description << '\n';
  if (!contexte.empty()) std::cerr << "Dans : " << contexte << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Crée, décrit, interroge et vérifie une base de données.", "utireorg-base"};
  app.set_help_flag("-h,--help", "Affiche cette aide et quitte");
  app.set_version_flag("--version", "utireorg-base " UTIREORG_VERSION, "Affiche la version et quitte");
  app.option_defaults()->group("Options");
  app.require_subcommand(1);
  app.footer("Codes de sortie : 0 succès, 1 problèmes trouvés par « verifier », 2 erreur.");
  syntaxe::TraduitAide(app, 36);

  std::string description, fichier, instruction;
  bool sansDonnees = false;

  auto* creer =
      app.add_subcommand("creer", "Crée une base à partir d'une description JSON (refuse un fichier existant)");
  creer->add_option("DESCRIPTION", description, "Description JSON de la base")->required()->group("Arguments");
  creer->add_option("FICHIER", fichier, "Base à créer")->required()->group("Arguments");

  auto* decrire = app.add_subcommand("decrire", "Écrit la structure, les propriétés et les données de la base en JSON");
  decrire->add_option("FICHIER", fichier, "Base à décrire")->required()->group("Arguments");
  decrire->add_flag("--sans-donnees", sansDonnees, "N'écrit pas les enregistrements");

  auto* sql = app.add_subcommand("sql", "Exécute une instruction SELECT, INSERT, UPDATE ou DELETE");
  sql->add_option("FICHIER", fichier, "Base interrogée")->required()->group("Arguments");
  sql->add_option("INSTRUCTION", instruction, "Instruction dans le dialecte du moteur")->required()->group("Arguments");
  sql->footer(
      "Un SELECT écrit une ligne d'en-tête puis un enregistrement par ligne, champs séparés par des tabulations ;\n"
      "tabulation, saut de ligne et barre oblique inverse d'une valeur s'écrivent \\t, \\n et \\\\.");

  auto* verifier =
      app.add_subcommand("verifier", "Vérifie l'intégrité du fichier et la lisibilité de chaque enregistrement");
  verifier->add_option("FICHIER", fichier, "Base à vérifier")->required()->group("Arguments");

  std::string destination, version;
  auto* convertir = app.add_subcommand(
      "convertir", "Convertit une base Jet 3.0 ou 4.0 (.mdb) en base du moteur (refuse une destination existante)");
  convertir->add_option("SOURCE", fichier, "Base Jet à convertir (elle n'est que lue)")->required()->group("Arguments");
  convertir->add_option("DESTINATION", destination, "Base à créer")->required()->group("Arguments");
  convertir->add_option("--version", version, "Version de la base créée : 3.0 ou 4.0 (par défaut, celle de la source)");
  convertir->footer(
      "Les valeurs sont reprises telles que le fichier les contient, même un texte plus long que son champ :\n"
      "« utireorg-base verifier » sur la base convertie les signale.");

  for (auto* sous : {creer, decrire, sql, verifier, convertir}) {
    sous->group("Sous-commandes");
    syntaxe::TraduitAide(*sous, 36);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "Erreur de syntaxe : " << syntaxe::MessageSyntaxe(e, app, argc, argv, "convertir, creer, decrire, sql ou verifier") << ".\n"
              << "Lancez « utireorg-base --help » pour l'aide.\n";
    return outil::SortieErreur;
  }

  try {
    if (*creer) {
      outil::CreeBase(outil::LitFichierDescription(description), fichier, std::cerr);
      std::cout << "Base créée : " << fichier << '\n';
      return 0;
    }
    if (*decrire || *verifier) outil::AnnuleEcritureInterrompue(fichier, std::cerr);
    if (*decrire) {
      moteur::Database base = moteur::DBEngine::OpenDatabase(fichier, false, true);
      outil::Json d = outil::DecritBase(base, !sansDonnees);
      base.Close();
      // Text from a damaged file may not be valid UTF-8: print it rather than fail.
      std::cout << d.dump(2, ' ', false, outil::Json::error_handler_t::replace) << '\n';
      return 0;
    }
    if (*sql) return outil::ExecuteInstruction(fichier, instruction, std::cout, std::cerr);
    if (*verifier) return outil::VerifieBase(fichier, std::cout);
    if (*convertir) return outil::ConvertitBase(fichier, destination, version, std::cout);
  } catch (const outil::ErreurOutil& e) {
    AfficheErreur(e.Numero(), e.Description(), e.Contexte());
  } catch (const moteur::ErreurMoteur& e) {
    AfficheErreur(e.Number(), e.Description(), {});
    // What a read-only open says of a journal left by an interrupted write it could not roll back.
    if (e.Number() == moteur::err::LectureSeule && !fichier.empty() && std::filesystem::exists(fichier + "-journal"))
      std::cerr << "Une écriture interrompue doit être annulée avant toute lecture (journal « " << fichier
                << "-journal ») : relancez la commande avec le droit d'écrire dans le dossier de la base.\n";
  } catch (const outil::Json::exception& e) {
    AfficheErreur(outil::ErreurFormatDescription, "Format de description non reconnu : " + std::string(e.what()), {});
  } catch (const std::exception& e) {
    std::cerr << "Erreur : " << e.what() << '\n';
  }
  return outil::SortieErreur;
}

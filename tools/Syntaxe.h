// The command-line parser speaks English: its complaints are told to the user in French,
// naming the option or the value at fault.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace syntaxe {

// The French text of a parse error, without the leading "Erreur de syntaxe : " nor the final
// full stop. "sousCommandes" lists the subcommands, for a program that requires one.
std::string MessageSyntaxe(const CLI::ParseError& erreur, const std::string& sousCommandes = {});

// The same, naming first the mistake that the parser's complaint may hide: an unknown option (the
// parser would speak of the missing option it stood for), an unknown subcommand, an option given
// twice, an option whose value is missing because another option follows it.
std::string MessageSyntaxe(const CLI::ParseError& erreur, CLI::App& app, int argc, char** argv,
                           const std::string& sousCommandes = {});

// The number of a message's button: 1 and up.
extern const CLI::Validator NumeroDeBouton;

// The help labels in French.
void TraduitAide(CLI::App& app, std::size_t largeurColonne);

}  // namespace syntaxe

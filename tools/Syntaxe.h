// The command-line parser speaks English: its complaints are told to the user in French,
// naming the option or the value at fault.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace syntaxe {

// The French text of a parse error, without the leading "Erreur de syntaxe : " nor the final
// full stop. "sousCommandes" lists the subcommands, for a program that requires one.
std::string MessageSyntaxe(const CLI::ParseError& erreur, const std::string& sousCommandes = {});

// The help labels in French.
void TraduitAide(CLI::App& app, std::size_t largeurColonne);

}  // namespace syntaxe

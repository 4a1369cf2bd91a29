// The program's command line, kept for the options read anywhere in it ("DEBUG", "AUTOTEST").
#pragma once

#include <string>
#include <string_view>

namespace utireorg {

void MemoriseLigneDeCommande(int argc, const char* const* argv);
void MemoriseLigneDeCommande(std::string ligne);
const std::string& LigneDeCommande();
// True when the command line, upper-cased, contains the word (given in upper case).
bool LigneDeCommandeContient(std::string_view motEnMajuscules);

}  // namespace utireorg

// The journals hold one byte per character in code page 1252; the program works in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace utireorg {

// Characters without a place in the code page become "?".
std::string VersAnsi(std::string_view utf8);
std::string DepuisAnsi(std::string_view ansi);

}  // namespace utireorg

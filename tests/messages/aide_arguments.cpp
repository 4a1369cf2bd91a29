// Stands in for the help program: writes its arguments, one a line, into the file named by
// UTIREORG_AIDE_SORTIE, all at once so that the test never reads half of them.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  const char* sortie = std::getenv("UTIREORG_AIDE_SORTIE");
  if (!sortie) return 2;
  std::string provisoire = std::string(sortie) + ".part";
  {
    std::ofstream f(provisoire, std::ios::binary);
    for (int i = 1; i < argc; ++i) f << argv[i] << '\n';
  }
  return std::rename(provisoire.c_str(), sortie) == 0 ? 0 : 1;
}

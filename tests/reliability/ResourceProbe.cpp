// Prints where this program finds each named resource, as the installed programs look for
// them; exits 1 when one is not found. Copied into an installed tree, it shows what a program
// there would find.
#include <cstdio>

#include "hosts/core/ResourceLookup.h"

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path found =
        nimbrel::host::findResourceIn(nimbrel::host::resourceDirectories(), argv[i]);
    if (found.empty()) {
      std::fprintf(stderr, "%s: not found\n", argv[i]);
      status = 1;
    } else {
      std::printf("%s\n", found.c_str());
    }
  }
  return status;
}

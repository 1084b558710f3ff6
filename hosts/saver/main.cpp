// nimbrel: the saver. `nimbrel render ...` is the headless renderer.
#include <cstdio>
#include <string>
#include <vector>

#include "RenderCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "render") {
    return renderMain(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  std::fprintf(stderr, "nimbrel: only 'nimbrel render' is available in this build\n");
  return 2;
}

#include <cstdio>

#include "commands.h"

namespace telvane::cli {

int RunScriptCommand(int, char**) {
  std::fputs("telvane-cli: script is not available yet\n", stderr);
  return 1;
}

}  // namespace telvane::cli

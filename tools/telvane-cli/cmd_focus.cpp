#include <cstdio>

#include "commands.h"

namespace telvane::cli {

int RunFocusCommand(int, char**) {
  std::fputs("telvane-cli: focus is not available yet\n", stderr);
  return 1;
}

}  // namespace telvane::cli

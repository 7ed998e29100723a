#include <cstdio>

#include "commands.h"

namespace telvane::cli {

int RunCamerasCommand(int, char**) {
  std::fputs("telvane-cli: cameras is not available yet\n", stderr);
  return 1;
}

int RunCaptureCommand(int, char**) {
  std::fputs("telvane-cli: capture is not available yet\n", stderr);
  return 1;
}

}  // namespace telvane::cli

// telvane-cli: the headless front end. Captures from a camera, runs scripts unattended and
// measures saved frames on a computer without a screen.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fputs(
      "usage: telvane-cli <command> [options]\n"
      "\n"
      "commands:\n"
      "  cameras [--simulate]                 list the attached cameras\n"
      "  capture [--simulate] --camera <entry> --mode <m> --exposure <ms> --count <k>\n"
      "          [--gain <g>] [--offset <o>] --out <base>.FIT\n"
      "                                       take exposures and save them as FITS files\n"
      "  script [--listing] FILE.tvs          run a script (or print its assembly listing)\n"
      "  focus FILE.fit [--box x1,y1,x2,y2]   measure the star of a saved frame\n",
      to);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "-h") == 0 || std::strcmp(command, "--help") == 0 ||
      std::strcmp(command, "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  struct Entry {
    const char* name;
    int (*run)(int, char**);
  };
  static constexpr Entry kCommands[] = {
      {"cameras", telvane::cli::RunCamerasCommand},
      {"capture", telvane::cli::RunCaptureCommand},
      {"script", telvane::cli::RunScriptCommand},
      {"focus", telvane::cli::RunFocusCommand},
  };
  for (const Entry& entry : kCommands) {
    if (std::strcmp(command, entry.name) == 0) return entry.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "telvane-cli: unknown command '%s'\n", command);
  PrintUsage(stderr);
  return 2;
}

// telvane-cli script [--listing] FILE.tvs
//
// Runs a script without a screen: PRINT lines on stdout, messages and INPUT prompts on
// stderr, INPUT answers from stdin. The file's lines go to the compiler exactly as the
// script window hands over its editor's lines.
//
// Exit status: 0 the script ended, 2 usage or compile error, 3 a run-time error ended it,
// 130 stopped by Ctrl-C (a second Ctrl-C ends the program at once).
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "commands.h"
#include "telvane/script/dbasic.h"
#include "telvane/script/terminal_host.h"

namespace telvane::cli {
namespace {

constexpr int kExitEnded = 0;
constexpr int kExitUsage = 2;
constexpr int kExitCompileError = 2;
constexpr int kExitFault = 3;
constexpr int kExitInterrupted = 130;  // the shell's code for a SIGINT ending

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void OnInterrupt(int) { g_interrupted.store(true, std::memory_order_relaxed); }

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a read of an INPUT answer returns at once and counts as cancelled.
  // SA_RESETHAND: a second Ctrl-C, e.g. during a long pause, ends the program.
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
}

int Usage() {
  std::fputs("usage: telvane-cli script [--listing] FILE.tvs\n", stderr);
  return kExitUsage;
}

}  // namespace

int RunScriptCommand(int argc, char** argv) {
  bool listingOnly = false;
  const char* path = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--listing") == 0) {
      listingOnly = true;
    } else if (argv[i][0] == '-' || path != nullptr) {
      return Usage();
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) return Usage();

  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "telvane-cli: cannot read %s\n", path);
    return kExitUsage;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  script::TerminalHost host(stdin, stdout, stderr);
  script::TDBasic engine(host);
  if (engine.Compile(script::SplitLines(text), {}) != 0) return kExitCompileError;

  if (listingOnly) {
    for (const std::string& line : engine.Listing()) {
      const std::size_t end = line.find_last_not_of(' ');
      std::printf("%s\n", end == std::string::npos ? "" : line.substr(0, end + 1).c_str());
    }
    return kExitEnded;
  }

  InstallInterruptHandler();
  host.WatchInterrupt(g_interrupted, engine);
  const script::RunResult result = engine.Run();
  std::fflush(stdout);
  switch (result.Status) {
    case script::RunStatus::Ended: return kExitEnded;
    case script::RunStatus::Fault: return kExitFault;  // the host has shown the message
    case script::RunStatus::Stopped: break;
  }
  return g_interrupted.load() ? kExitInterrupted : kExitEnded;
}

}  // namespace telvane::cli

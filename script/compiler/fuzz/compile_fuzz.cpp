// libFuzzer target: compile + resolve arbitrary text.
#include <cstdio>
#include <cstdlib>

#include "compile_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem = telvane::script::CompileOneInput(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    std::abort();
  }
  return 0;
}

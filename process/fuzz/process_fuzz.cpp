// libFuzzer target over every libprocess function; see process_fuzz_entry.h.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "process_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string fault = telvane::process::fuzz::RunProcessInput(data, size);
  if (!fault.empty()) {
    std::fprintf(stderr, "libprocess: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}

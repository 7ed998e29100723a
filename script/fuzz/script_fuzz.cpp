// libFuzzer target over the whole script engine; see script_fuzz_entry.h.
#include <cstddef>
#include <cstdint>

#include "script_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  telvane::script::fuzz::RunScriptInput(data, size);
  return 0;
}

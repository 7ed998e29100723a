// One fuzz input through the whole engine: compile, resolve, assemble and run with an
// instruction budget and no side effects outside the process (file built-ins and pause
// replaced, host calls answered in memory). An input that starts with "#asm" followed by a
// line end is instead taken as an assembly listing and assembled directly, so that the
// assembler and executive also meet listings the compiler would never write.
// Shared by the libFuzzer target and the test that replays the corpus.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvane::script::fuzz {

// Instructions one input may execute.
inline constexpr uint64_t kInstructionBudget = 20'000;
// Strings are kept short so that a concatenation loop stays fast.
inline constexpr std::size_t kFuzzStringLimit = 1 << 20;

void RunScriptInput(const uint8_t* data, std::size_t size);

}  // namespace telvane::script::fuzz

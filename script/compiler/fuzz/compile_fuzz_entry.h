// Compile + resolve one input and check what must hold of any result. Shared by the
// libFuzzer target and the replay test so both run the same checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telvane::script {

// Empty when everything held; otherwise what was violated.
std::string CompileOneInput(const uint8_t* data, std::size_t size);

}  // namespace telvane::script

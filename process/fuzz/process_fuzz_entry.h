// One fuzz input through every libprocess function, checking what the callers rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telvane::process::fuzz {

// Input layout: width and height (1 byte each, taken modulo 80), box x1, y1, x2, y2 (signed 16-bit each,
// little-endian), levels low and high (signed 8-bit each), then pixels as little-endian
// 16-bit words, repeated to fill the frame. Shorter inputs are padded with zeros.
// Returns an empty string, or what went wrong.
std::string RunProcessInput(const uint8_t* data, size_t size);

}  // namespace telvane::process::fuzz

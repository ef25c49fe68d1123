// The fuzz input as a NUL-terminated text, the form the scanners receive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string as_text(const uint8_t* data, size_t size, size_t max = 1 << 16) {
  std::string text(reinterpret_cast<const char*>(data), size < max ? size : max);
  return text;  // .c_str() stops at the first zero byte, as the programs' buffers do
}

#define FUZZ_CHECK(condition) \
  do {                        \
    if (!(condition)) __builtin_trap(); \
  } while (0)

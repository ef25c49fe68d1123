// The fuzz input in the forms the scanners receive, and the check that stops a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// As a NUL-terminated text: .c_str() stops at the first zero byte, as the programs' buffers do.
inline std::string as_text(const uint8_t* data, size_t size, size_t max = 1 << 16) {
  return std::string(reinterpret_cast<const char*>(data), size < max ? size : max);
}

// As UTF-16 units in wchar_t, up to the first zero unit.
inline std::wstring as_wide_text(const uint8_t* data, size_t size, size_t max_units) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size && text.size() < max_units; i += 2) {
    wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

#define FUZZ_CHECK(condition) ((condition) ? void() : __builtin_trap())

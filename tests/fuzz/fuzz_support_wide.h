// The fuzz input as UTF-16 units in wchar_t, up to the first zero unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::wstring as_wide_text(const uint8_t* data, size_t size, size_t max_units) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size && text.size() < max_units; i += 2) {
    wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

// Pure parts of the text helpers (no Windows calls).
#include "text.h"

#include <cstring>
#include <cwchar>

namespace {
template <typename Char>
Char ascii_lower(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Copies as much of src as fits and terminates; false when src was cut.
template <typename Char>
bool copy_cut(Char* dst, size_t cap, const Char* src) {
  if (!dst || cap == 0) return false;
  size_t len = 0;
  while (src && src[len]) ++len;
  bool fits = len < cap;
  if (!fits) len = cap - 1;
  for (size_t i = 0; i < len; ++i) dst[i] = src[i];
  dst[len] = Char{};
  return fits;
}
}  // namespace

bool copy_bounded(wchar_t* dst, size_t cap, const wchar_t* src) { return copy_cut(dst, cap, src); }

bool copy_bounded(char* dst, size_t cap, const char* src) { return copy_cut(dst, cap, src); }

// The variadic forms; each platform file supplies the va_list ones.
bool format_bounded(wchar_t* dst, size_t cap, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  bool fits = vformat_bounded(dst, cap, format, args);
  va_end(args);
  return fits;
}

bool format_bounded(char* dst, size_t cap, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fits = vformat_bounded(dst, cap, format, args);
  va_end(args);
  return fits;
}

bool equals_ignore_case(const wchar_t* a, const wchar_t* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b) {
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
  }
  return *a == *b;
}

bool equals_ignore_case(const char* a, size_t a_len, const char* b) {
  size_t b_len = std::strlen(b);
  if (a_len != b_len) return false;
  for (size_t i = 0; i < a_len; ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

void strip_one_trailing_slash(wchar_t* text) {
  size_t len = std::wcslen(text);
  if (len > 0 && text[len - 1] == L'/') text[len - 1] = L'\0';
}

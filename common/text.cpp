// Pure parts of the text helpers (no Windows calls).
#include "text.h"

#include <cstring>
#include <cwchar>
#include <type_traits>

namespace {
template <typename Char>
bool in_set(Char c, const char* blanks) {
  auto unit = static_cast<std::make_unsigned_t<Char>>(c);
  return unit != 0 && unit < 0x80 && std::strchr(blanks, static_cast<char>(unit));
}

template <typename Char>
const Char* skip_set(const Char* p, const char* blanks) {
  while (in_set(*p, blanks)) ++p;
  return p;
}

template <typename Char>
long read_decimal(const Char* p, long max) {
  p = skip_set(p, C_BLANKS);
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return -1;
  long long value = 0;  // long is 32 bits on Windows
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > max) return -1;
  }
  return negative ? -1 : static_cast<long>(value);
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

bool copy_bounded(wchar_t* dst, size_t cap, const wchar_t* src) {
  return copy_cut(dst, cap, src);
}

bool copy_bounded(char* dst, size_t cap, const char* src) {
  return copy_cut(dst, cap, src);
}

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

bool is_blank(char c, const char* blanks) {
  return in_set(c, blanks);
}

bool is_blank(wchar_t c, const char* blanks) {
  return in_set(c, blanks);
}

const char* skip_blanks(const char* p, const char* blanks) {
  return skip_set(p, blanks);
}

const wchar_t* skip_blanks(const wchar_t* p, const char* blanks) {
  return skip_set(p, blanks);
}

std::string_view trim_view_end(std::string_view text, const char* blanks) {
  while (!text.empty() && in_set(text.back(), blanks)) text.remove_suffix(1);
  return text;
}

std::string_view trim_view(std::string_view text, const char* blanks) {
  while (!text.empty() && in_set(text.front(), blanks)) text.remove_prefix(1);
  return trim_view_end(text, blanks);
}

long parse_decimal(const char* p, long max) {
  return read_decimal(p, max);
}

long parse_decimal(const wchar_t* p, long max) {
  return read_decimal(p, max);
}

void strip_one_trailing_slash(wchar_t* text) {
  size_t len = std::wcslen(text);
  if (len > 0 && text[len - 1] == L'/') text[len - 1] = L'\0';
}

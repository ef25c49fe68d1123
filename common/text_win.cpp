// Conversions and formatting through the system and msvcrt (see text.h).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "text.h"

namespace {
bool multibyte_to_wide(UINT code_page, const char* src, int src_len, wchar_t* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = L'\0';
  if (!src) return true;
  if (src_len < 0) src_len = static_cast<int>(std::strlen(src));
  if (src_len == 0) return true;
  if (cap - 1 > 0x7fffffff) cap = 0x7fffffff;
  int n = MultiByteToWideChar(code_page, 0, src, src_len, out, static_cast<int>(cap - 1));
  if (n <= 0) {
    out[0] = L'\0';
    return false;
  }
  out[n] = L'\0';
  return true;
}
}  // namespace

bool utf8_to_wide(const char* src, int src_len, wchar_t* out, size_t cap) {
  return multibyte_to_wide(CP_UTF8, src, src_len, out, cap);
}

bool ansi_to_wide(const char* src, int src_len, wchar_t* out, size_t cap) {
  return multibyte_to_wide(CP_ACP, src, src_len, out, cap);
}

bool wide_to_utf8(const wchar_t* src, char* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = '\0';
  if (!src || !*src) return true;
  if (cap - 1 > 0x7fffffff) cap = 0x7fffffff;
  int n = WideCharToMultiByte(CP_UTF8, 0, src, -1, out, static_cast<int>(cap), nullptr, nullptr);
  if (n <= 0) {
    out[0] = '\0';
    return false;
  }
  out[n - 1] = '\0';
  return true;
}

std::wstring utf8_to_wstring(const char* src, int src_len) {
  if (!src) return {};
  if (src_len < 0) src_len = static_cast<int>(std::strlen(src));
  int n = MultiByteToWideChar(CP_UTF8, 0, src, src_len, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, src, src_len, out.data(), n);
  return out;
}

std::string wstring_to_utf8(const wchar_t* src) {
  if (!src || !*src) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, src, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, src, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

// msvcrt's _vsnwprintf/_vsnprintf: Microsoft format meaning; they return -1
// and leave the buffer unterminated when the text is cut.
bool vformat_bounded(wchar_t* dst, size_t cap, const wchar_t* format, va_list args) {
  if (!dst || cap == 0) return false;
  int n = _vsnwprintf(dst, cap - 1, format, args);
  dst[cap - 1] = L'\0';
  if (n < 0) return false;
  dst[n] = L'\0';
  return true;
}

bool vformat_bounded(char* dst, size_t cap, const char* format, va_list args) {
  if (!dst || cap == 0) return false;
  int n = _vsnprintf(dst, cap - 1, format, args);
  dst[cap - 1] = '\0';
  if (n < 0) return false;
  dst[n] = '\0';
  return true;
}

std::wstring vformat_text(const wchar_t* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int n = _vscwprintf(format, measure);
  va_end(measure);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n) + 1, L'\0');
  _vsnwprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

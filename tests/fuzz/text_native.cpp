// Native stand-in for the Windows half of text.h, so the scanners build on
// Linux for fuzzing. UTF-16 code units are kept in wchar_t as on Windows; each
// unit glibc's iconv refuses becomes U+FFFD, as in the system's conversions.
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "text.h"

namespace {
iconv_t utf8_to_utf16 = iconv_open("UTF-16LE", "UTF-8");
iconv_t utf16_to_utf8 = iconv_open("UTF-8", "UTF-16LE");

std::string convert(iconv_t converter, std::string in, size_t unit, const std::string& replacement) {
  std::string out(in.size() * 2, '\0');  // room for the longest result either way
  char *src = in.data(), *dst = out.data();
  size_t left = in.size(), room = out.size();
  while (iconv(converter, &src, &left, &dst, &room) == static_cast<size_t>(-1)) {
    dst = std::copy(replacement.begin(), replacement.end(), dst);
    room -= replacement.size();
    src += unit;
    left -= unit;
  }
  out.resize(dst - out.data());
  return out;
}
}  // namespace

bool utf8_to_wide(const char* src, int src_len, wchar_t* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = L'\0';
  std::string bytes = src ? std::string(src, src_len < 0 ? std::strlen(src) : src_len) : "";
  std::string units = convert(utf8_to_utf16, bytes, 1, "\xFD\xFF");
  std::wstring wide;
  for (size_t i = 0; i + 1 < units.size(); i += 2)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(units[i]) |
                                 static_cast<unsigned char>(units[i + 1]) << 8);
  // All or nothing; a converted zero ends the text, as it does for the callers.
  return wide.size() < cap && copy_bounded(out, cap, wide.c_str());
}

std::string wstring_to_utf8(const wchar_t* src) {
  std::string units;  // UTF-16LE
  for (const wchar_t* p = src ? src : L""; *p; ++p)
    units += {static_cast<char>(*p & 0xff), static_cast<char>(*p >> 8)};
  return convert(utf16_to_utf8, units, 2, "\xEF\xBF\xBD");
}

// The code's wide formats have the Microsoft meaning ("%s" is a wide
// string); glibc reads "%s" as narrow, so it becomes "%ls" here.
static std::wstring iso_wide_format(const wchar_t* format) {
  std::wstring out;
  for (const wchar_t* p = format; *p; ++p) {
    out += *p;
    if (*p != L'%') continue;
    while (p[1] && std::wcschr(L"-+ #0123456789.*", p[1])) out += *++p;
    if (p[1] == L's') out += L'l';
    if (p[1] == L'%') out += *++p;
  }
  return out;
}

bool vformat_bounded(wchar_t* dst, size_t cap, const wchar_t* format, va_list args) {
  if (!dst || cap == 0) return false;
  int n = std::vswprintf(dst, cap, iso_wide_format(format).c_str(), args);
  dst[cap - 1] = L'\0';
  return n >= 0 && static_cast<size_t>(n) < cap;
}

bool vformat_bounded(char* dst, size_t cap, const char* format, va_list args) {
  if (!dst || cap == 0) return false;
  int n = std::vsnprintf(dst, cap, format, args);
  return n >= 0 && static_cast<size_t>(n) < cap;
}

// CharLowerBuffW over the ASCII range is what the classification relies on.
void lower_in_place(wchar_t* text, size_t len) {
  for (size_t i = 0; i < len; ++i) text[i] = ascii_lower(text[i]);
}

// Native stand-in for the Windows half of text.h, so the scanners build on
// Linux for fuzzing. UTF-16 code units are kept in wchar_t as on Windows.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "text.h"

namespace {
// Decodes UTF-8 into UTF-16 code units; invalid sequences give U+FFFD.
std::u16string decode_utf8(const unsigned char* s, size_t n) {
  std::u16string out;
  for (size_t i = 0; i < n;) {
    unsigned c = s[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    unsigned cp = len == 1 ? c : len == 2 ? c & 0x1f : len == 3 ? c & 0x0f : c & 0x07;
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xc0) != 0x80) ok = false;
      cp = (cp << 6) | (s[i + k] & 0x3f);
    }
    static const unsigned shortest[] = {0, 0, 0x80, 0x800, 0x10000};  // overlong forms are invalid
    if (!ok || cp < shortest[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
      out += u'\xfffd';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xd800 + (cp >> 10));
      out += static_cast<char16_t>(0xdc00 + (cp & 0x3ff));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}
}  // namespace

bool utf8_to_wide(const char* src, int src_len, wchar_t* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = L'\0';
  if (!src) return true;
  size_t n = src_len < 0 ? std::strlen(src) : static_cast<size_t>(src_len);
  std::u16string units = decode_utf8(reinterpret_cast<const unsigned char*>(src), n);
  if (units.size() > cap - 1) return false;
  for (size_t i = 0; i < units.size(); ++i) out[i] = units[i];
  out[units.size()] = L'\0';
  return true;
}

bool ansi_to_wide(const char* src, int src_len, wchar_t* out, size_t cap) {
  return utf8_to_wide(src, src_len, out, cap);
}

bool wide_to_utf8(const wchar_t* src, char* out, size_t cap) {
  if (!out || cap == 0) return false;
  std::string s = wstring_to_utf8(src);
  if (s.size() > cap - 1) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, s.c_str(), s.size() + 1);
  return true;
}

std::wstring utf8_to_wstring(const char* src, int src_len) {
  if (!src) return {};
  size_t n = src_len < 0 ? std::strlen(src) : static_cast<size_t>(src_len);
  std::u16string units = decode_utf8(reinterpret_cast<const unsigned char*>(src), n);
  return std::wstring(units.begin(), units.end());
}

std::string wstring_to_utf8(const wchar_t* src) {
  std::string out;
  for (const wchar_t* p = src ? src : L""; *p; ++p) {
    unsigned c = static_cast<unsigned>(*p) & 0xffff;
    unsigned next = static_cast<unsigned>(p[1]) & 0xffff;
    if (c >= 0xd800 && c <= 0xdbff && next >= 0xdc00 && next <= 0xdfff) {
      // A surrogate pair is one character of four bytes, as Windows writes it.
      unsigned cp = 0x10000 + ((c - 0xd800) << 10) + (next - 0xdc00);
      out += static_cast<char>(0xf0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (cp & 0x3f));
      ++p;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
      out += static_cast<char>(0xe0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

// The code's wide formats have the Microsoft meaning ("%s" is a wide
// string); glibc reads "%s" as narrow, so it becomes "%ls" here.
static std::wstring iso_wide_format(const wchar_t* format) {
  std::wstring out;
  for (const wchar_t* p = format; *p; ++p) {
    out += *p;
    if (*p != L'%') continue;
    if (p[1] == L'%') {
      out += *++p;
      continue;
    }
    while (p[1] && std::wcschr(L"-+ #0123456789.*", p[1])) out += *++p;
    if (p[1] == L's') out += L'l';
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

std::wstring vformat_text(const wchar_t* format, va_list args) {
  wchar_t buf[4096];
  vformat_bounded(buf, 4096, format, args);
  return buf;
}

// CharLowerBuffW over the ASCII range is what the classification relies on.
void lower_in_place(wchar_t* text, size_t len) {
  for (size_t i = 0; i < len; ++i)
    if (text[i] >= L'A' && text[i] <= L'Z') text[i] = static_cast<wchar_t>(text[i] - L'A' + L'a');
}

// Bounded text helpers: conversions between UTF-8 and UTF-16, copies and
// formatting into fixed-capacity buffers (capacities count the terminator).
//
// Formats: every format string in this code base has the Microsoft C runtime
// meaning, because that is what the documented message texts are written in:
// in a wide format "%s" is a wide string, in a narrow format "%s" is narrow
// and "%S" wide. MinGW's ISO stdio would read them differently, so formats are
// only ever passed to format_bounded/format_text here (and console_print),
// which call msvcrt's own formatter.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 -> UTF-16 (invalid sequences become U+FFFD). src_len < 0: up to the NUL.
// All or nothing: when the result does not fit, out is left empty and false is
// returned. out is always terminated when cap > 0.
bool utf8_to_wide(const char* src, int src_len, wchar_t* out, size_t cap);
// The same from the system ANSI code page.
bool ansi_to_wide(const char* src, int src_len, wchar_t* out, size_t cap);
// UTF-16 -> UTF-8, all or nothing like utf8_to_wide.
bool wide_to_utf8(const wchar_t* src, char* out, size_t cap);

std::wstring utf8_to_wstring(const char* src, int src_len = -1);
std::string wstring_to_utf8(const wchar_t* src);

// Copies as much as fits; returns false when src was cut.
bool copy_bounded(wchar_t* dst, size_t cap, const wchar_t* src);
bool copy_bounded(char* dst, size_t cap, const char* src);

// Formats with truncation, always terminated; returns false when cut.
bool format_bounded(wchar_t* dst, size_t cap, const wchar_t* format, ...);
bool format_bounded(char* dst, size_t cap, const char* format, ...);
bool vformat_bounded(wchar_t* dst, size_t cap, const wchar_t* format, va_list args);
bool vformat_bounded(char* dst, size_t cap, const char* format, va_list args);
// Formats without a bound, for output that must not be cut.
std::wstring vformat_text(const wchar_t* format, va_list args);

// ASCII-only case folding: the words compared are ASCII (command words, keys,
// file names), and any other character stands for itself.
template <typename Char>
constexpr Char ascii_lower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// ASCII-only case-insensitive comparisons (command words, keys, file names).
bool equals_ignore_case(const wchar_t* a, const wchar_t* b);
bool equals_ignore_case(const char* a, size_t a_len, const char* b);

// Sets of blanks. The scanners differ on purpose in what they pass over, so
// each names its own set.
inline constexpr char SPACE_TAB[] = " \t";
inline constexpr char LINE_BLANKS[] = " \t\r\n";
inline constexpr char C_BLANKS[] = " \t\n\v\f\r";  // what the standard number conversions skip

// True when c is one of blanks (never for the terminator).
bool is_blank(char c, const char* blanks);
bool is_blank(wchar_t c, const char* blanks);
// p past the blanks at its start.
const char* skip_blanks(const char* p, const char* blanks);
const wchar_t* skip_blanks(const wchar_t* p, const char* blanks);
// text without the blanks at its end, or at both ends.
std::string_view trim_view_end(std::string_view text, const char* blanks);
std::string_view trim_view(std::string_view text, const char* blanks);

// A decimal number read as the standard conversions read it: C_BLANKS and
// one sign first, then digits up to the first other character. -1 when there
// is no digit, the sign is '-' or the value is above max.
long parse_decimal(const char* p, long max);
long parse_decimal(const wchar_t* p, long max);

// Removes one trailing '/' (only one), as every reader of a server URL does.
void strip_one_trailing_slash(wchar_t* text);

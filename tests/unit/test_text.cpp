// Formatting conventions and the command-line quoting round trip.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "handles.h"
#include "text.h"

namespace {
std::wstring format_text(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = vformat_text(format, args);
  va_end(args);
  return text;
}
}  // namespace

TEST(text_format, formats_have_the_microsoft_meaning) {
  wchar_t wide[64];
  ASSERT_TRUE(format_bounded(wide, 64, L"Config saved to %s\n", L"C:\\x"));
  EXPECT_STREQ(wide, L"Config saved to C:\\x\n");
  char narrow[64];
  ASSERT_TRUE(format_bounded(narrow, 64, "IP updated: %S", L"203.0.113.7"));
  EXPECT_STREQ(narrow, "IP updated: 203.0.113.7");
  EXPECT_EQ(format_text(L"%s-%u", L"a", 7u), L"a-7");
}

TEST(text_format, cut_results_stay_terminated) {
  wchar_t buf[5];
  EXPECT_FALSE(format_bounded(buf, 5, L"%s", L"abcdefgh"));
  EXPECT_STREQ(buf, L"abcd");
  EXPECT_TRUE(format_bounded(buf, 5, L"%s", L"abcd"));
  EXPECT_STREQ(buf, L"abcd");
  char narrow[4];
  EXPECT_FALSE(format_bounded(narrow, 4, "%s", "abcdef"));
  EXPECT_STREQ(narrow, "abc");
}

TEST(text_convert, all_or_nothing) {
  wchar_t out[4] = L"old";
  EXPECT_TRUE(utf8_to_wide("\xe2\x82\xac" "ab", -1, out, 4));
  EXPECT_STREQ(out, L"\u20acab");
  EXPECT_FALSE(utf8_to_wide("abcd", -1, out, 4));
  EXPECT_STREQ(out, L"");
  char narrow[4];
  EXPECT_FALSE(wide_to_utf8(L"\u20ac!", narrow, 4));
  EXPECT_STREQ(narrow, "");
  EXPECT_TRUE(wide_to_utf8(L"\u20ac", narrow, 4));
  EXPECT_STREQ(narrow, "\xe2\x82\xac");
}

TEST(command_line, quoting_round_trips_through_CommandLineToArgvW) {
  const wchar_t* args[] = {L"plain",           L"with blank",     L"",           L"quote\"inside",
                           L"trailing\\",      L"two\\\\",        L"C:\\dir\\",  L"\\\"",
                           L"a\\\\\"b c",      L"tab\there",      L"\u00e9t\u00e9"};
  std::wstring line = L"prog.exe";
  for (const wchar_t* a : args) append_quoted_argument(line, a);
  int argc = 0;
  local_memory argv_memory(reinterpret_cast<HLOCAL>(CommandLineToArgvW(line.c_str(), &argc)));
  ASSERT_TRUE(argv_memory);
  auto argv = reinterpret_cast<wchar_t**>(argv_memory.get());
  ASSERT_EQ(argc, static_cast<int>(std::size(args)) + 1) << line.c_str();
  for (size_t i = 0; i < std::size(args); ++i) EXPECT_STREQ(argv[i + 1], args[i]) << "argument " << i;
}

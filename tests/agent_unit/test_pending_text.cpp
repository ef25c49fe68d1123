// The queue file's text: the lenient reader and the one form that is written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pending_text.h"

namespace {
std::vector<std::wstring> entries(const pending_list& list) {
  return {list.entries, list.entries + list.count};
}

std::string numbered_lines(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += "10.0.0." + std::to_string(i) + "\n";
  return text;
}
}  // namespace

TEST(pending_text, reader_is_lenient_about_what_others_wrote) {
  pending_list list;
  parse_pending_text("\r\n  198.51.100.1\t\r\n\r\n\n\tFE80::1 \r203.0.113.9\r\n198.51.100.1\nfe80::1\n   \n", list);
  EXPECT_EQ(entries(list), (std::vector<std::wstring>{L"198.51.100.1", L"FE80::1", L"203.0.113.9"}));

  parse_pending_text("", list);
  EXPECT_EQ(list.count, 0);
  parse_pending_text("192.0.2.5", list);  // no line end at all
  EXPECT_EQ(entries(list), std::vector<std::wstring>{L"192.0.2.5"});
}

TEST(pending_text, only_plain_addresses_and_the_cap) {
  pending_list list;
  // Anyone can write the file; the service sends a DELETE for each entry.
  std::string text = "example.com\n198.51.100.7:443\n10.0.0.0/8\n192.0.2.1\n../x\nfe80::1%eth0\n" +
                     std::string(63, 'a') + "\n" + std::string(80, '1') + "\n2001:DB8::5\n";
  parse_pending_text(text.c_str(), list);
  EXPECT_EQ(entries(list), (std::vector<std::wstring>{L"192.0.2.1", L"2001:DB8::5"}));

  parse_pending_text(numbered_lines(40).c_str(), list);
  ASSERT_EQ(list.count, PENDING_MAX);
  EXPECT_STREQ(list.entries[31], L"10.0.0.32");
  parse_pending_text(numbered_lines(40).c_str(), list, 3);
  EXPECT_EQ(list.count, 3);
}

TEST(pending_text, written_form_and_round_trip) {
  pending_list list;
  EXPECT_EQ(format_pending_text(list), "");
  pending_append(list, L"198.51.100.1");
  pending_append(list, L"2001:DB8::e9");
  EXPECT_EQ(format_pending_text(list), "198.51.100.1\n2001:DB8::e9\n");
  pending_list back;
  parse_pending_text(format_pending_text(list).c_str(), back);
  EXPECT_EQ(entries(back), entries(list));
}

TEST(pending_text, membership_append_and_drop_ignore_case) {
  pending_list list;
  for (const wchar_t* ip : {L"a::1", L"B::2", L"c::3"}) pending_append(list, ip);
  EXPECT_EQ(pending_find(list, L"b::2"), 1);
  EXPECT_EQ(pending_find(list, L"d::4"), -1);

  pending_list dropped;
  pending_append(dropped, L"A::1");
  pending_append(dropped, L"c::3");
  pending_append(dropped, L"x::9");
  pending_drop_all(list, dropped);
  EXPECT_EQ(entries(list), std::vector<std::wstring>{L"B::2"});

  pending_list full;
  for (int i = 0; i < PENDING_MAX; ++i) EXPECT_TRUE(pending_append(full, std::to_wstring(i).c_str()));
  EXPECT_FALSE(pending_append(full, L"one more"));
  EXPECT_EQ(full.count, PENDING_MAX);
}

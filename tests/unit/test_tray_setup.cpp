// The setup command pasted into the Setup form, the agent's command lines as
// the child splits them, and the balloon of a failed sync.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "agent_command.h"
#include "handles.h"
#include "setup_command.h"
#include "agent_run.h"
#include "notify_rules.h"

namespace {
struct parsed {
  int result;
  std::wstring token, url;
};

parsed parse(const wchar_t* text) {
  wchar_t token[256] = L"junk", url[512] = L"junk";
  int r = parse_setup_command(text, token, 256, url, 512);
  return {r, token, url};
}

std::vector<std::wstring> words(const wchar_t* text, size_t cap = 512) {
  std::vector<std::wstring> out;
  std::vector<wchar_t> word(cap);
  const wchar_t* cursor = text;
  while (*cursor) {
    const wchar_t* before = cursor;
    out.push_back(next_setup_token(&cursor, word.data(), cap) >= 0 ? word.data() : L"<none>");
    if (cursor == before) break;
  }
  return out;
}

std::vector<std::wstring> split(const wchar_t* line) {
  int argc = 0;
  local_memory memory(reinterpret_cast<HLOCAL>(CommandLineToArgvW(line, &argc)));
  auto argv = reinterpret_cast<wchar_t**>(memory.get());
  return argv ? std::vector<std::wstring>(argv, argv + argc) : std::vector<std::wstring>{};
}
}  // namespace

TEST(setup_command, the_dashboard_form_with_a_quoted_token_and_a_trailing_slash) {
  parsed p = parse(L"  whitelist --token \"ab cd\" --server-url https://h.example/\r\n");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.token, L"ab cd") << "the blank stays, the quotes go";
  EXPECT_EQ(p.url, L"https://h.example");
  EXPECT_EQ(parse(L"whitelist -t a -s https://h//").url, L"https://h/") << "only one slash is removed";
  // Only the nine letters are compared; the rest of the first word is a word of its own.
  EXPECT_EQ(parse(L"Whitelist.exe --token a --server-url u").result, 0);
  EXPECT_EQ(parse(L"--token a --server-url u").result, 0) << "the program word is optional";
}

TEST(setup_command, options_in_capitals_and_in_reverse_order) {
  parsed p = parse(L"WHITELIST -S https://h.example -T tok");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.token, L"tok");
  EXPECT_EQ(p.url, L"https://h.example");
  p = parse(L"whitelist --SERVER-URL u --Token t --token last --extra value");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.token, L"last") << "the last value wins; unknown words are ignored";
}

TEST(setup_command, an_option_name_right_after_an_option_is_its_value) {
  parsed p = parse(L"whitelist --token --server-url https://h");
  EXPECT_EQ(p.result, -1) << "the URL is left as an ignored word";
  EXPECT_EQ(p.token, L"");
  EXPECT_EQ(p.url, L"");
  p = parse(L"whitelist --token --server-url --server-url https://h");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.token, L"--server-url");
}

TEST(setup_command, a_missing_value_or_option_saves_nothing) {
  for (const wchar_t* text : {L"whitelist --token abc", L"whitelist --server-url https://h --token",
                              L"whitelist --token abc --server-url", L"whitelist", L"", L"   \r\n",
                              L"whitelist --token \"\" --server-url u"}) {
    parsed p = parse(text);
    EXPECT_EQ(p.result, -1) << text;
    EXPECT_EQ(p.token + p.url, L"") << text;
  }
  wchar_t token[8], url[8];
  EXPECT_EQ(parse_setup_command(nullptr, token, 8, url, 8), -1);
  EXPECT_EQ(parse_setup_command(L"-t a -s b", nullptr, 8, url, 8), -1);
  EXPECT_EQ(parse_setup_command(L"-t a -s b", token, 8, url, 0), -1);
}

TEST(setup_command, an_empty_quoted_word_does_not_end_the_command) {
  parsed p = parse(L"whitelist \"\" --token a -s u");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.token, L"a");
}

TEST(setup_command, a_single_slash_url_is_found_and_left_empty_for_the_save_to_refuse) {
  parsed p = parse(L"-t a -s /");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.url, L"");
}

TEST(setup_command, over_long_values_are_refused_and_other_long_words_cut) {
  std::wstring url(511, L'u');
  parsed p = parse((L"whitelist --token " + std::wstring(255, L'k') + L" --server-url " + url).c_str());
  EXPECT_EQ(p.result, 0) << "255 and 511 units fit";
  EXPECT_EQ(p.url, url);
  p = parse((L"whitelist --token " + std::wstring(256, L'k') + L" --server-url u").c_str());
  EXPECT_EQ(p.result, SETUP_TOKEN_TOO_LONG);
  EXPECT_EQ(p.token + p.url, L"");
  p = parse((L"-t \"a b\" -s \"" + url + L"/\"").c_str());
  EXPECT_EQ(p.result, SETUP_URL_TOO_LONG) << "quoted, and before its slash is removed";
  // An ignored word longer than 511 units: its tail is a word of its own.
  p = parse((std::wstring(511, L'x') + L"-t abc --server-url u").c_str());
  EXPECT_EQ(p.token, L"abc");
  EXPECT_EQ(words(L"abcdef", 4), (std::vector<std::wstring>{L"abc", L"def"}));
  EXPECT_EQ(words(L"\"abcdefghij\" k", 8), (std::vector<std::wstring>{L"abcdefg", L"hij\"", L"k"}))
      << "the rest of a cut quoted word is read as a plain word";
}

TEST(setup_command, words_quotes_and_blanks) {
  EXPECT_EQ(words(L" a\tb\r\nc "), (std::vector<std::wstring>{L"a", L"b", L"c", L"<none>"}));
  EXPECT_EQ(words(L"x\"y\"z \"p q\"r"), (std::vector<std::wstring>{L"x\"y\"z", L"p q", L"r"}));
  EXPECT_EQ(words(L"\"unterminated rest"), (std::vector<std::wstring>{L"unterminated rest"}));
  EXPECT_EQ(words(L"\"\" a"), (std::vector<std::wstring>{L"<none>", L"a"}));
  const wchar_t* cursor = L"a";
  wchar_t out[4];
  EXPECT_EQ(next_setup_token(&cursor, out, 0), -1);
  EXPECT_EQ(next_setup_token(nullptr, out, 4), -1);
  EXPECT_EQ(next_setup_token(&cursor, nullptr, 4), -1);
}

TEST(agent_command_line, values_reach_the_child_intact) {
  const wchar_t* program = L"C:\\Program Files\\QOR\\sync.exe";
  const wchar_t* names[] = {L"BIRCH LLC", L"say \"hi\"", L"ends in \\", L"\\\\server\\", L"a\\\"b", L"\t"};
  const wchar_t* tokens[] = {L"7D3A-91C4", L"\"", L"x\\", L"\\\"\\\\", L"tok en", L"\u00e9"};
  for (size_t i = 0; i < std::size(names); ++i) {
    wchar_t line[FILES_COMMAND_LINE_CAPACITY];
    ASSERT_TRUE(files_command_line(program, names[i], tokens[i], line, FILES_COMMAND_LINE_CAPACITY));
    EXPECT_EQ(split(line), (std::vector<std::wstring>{program, L"files", L"--name", names[i], L"--token", tokens[i]}))
        << line;
  }
}

TEST(agent_command_line, plain_lines_and_lines_that_do_not_fit) {
  wchar_t line[FILES_COMMAND_LINE_CAPACITY];
  ASSERT_TRUE(files_command_line(L"C:\\app\\sync.exe", L"BIRCH", L"T1", line, FILES_COMMAND_LINE_CAPACITY));
  EXPECT_STREQ(line, L"\"C:\\app\\sync.exe\" files --name \"BIRCH\" --token \"T1\"");
  ASSERT_TRUE(sync_command_line(L"C:\\my app\\whitelist.exe", line, SYNC_COMMAND_LINE_CAPACITY));
  EXPECT_STREQ(line, L"\"C:\\my app\\whitelist.exe\" sync");

  // The longest values the fields hold, all quotes: still within the buffer.
  std::wstring quotes(255, L'"'), path = L"C:\\" + std::wstring(250, L'p') + L".exe";
  ASSERT_TRUE(files_command_line(path.c_str(), quotes.c_str(), quotes.c_str(), line, FILES_COMMAND_LINE_CAPACITY));
  EXPECT_EQ(split(line)[3], quotes);
  EXPECT_FALSE(sync_command_line(path.c_str(), line, 20)) << "a cut line is never run";
  EXPECT_STREQ(line, L"");
  EXPECT_FALSE(sync_command_line(L"", line, SYNC_COMMAND_LINE_CAPACITY));
}

TEST(sync_failure_balloon, text_chosen_in_order_and_cut_at_240) {
  wchar_t out[BALLOON_TEXT_CAPACITY];
  sync_failure_balloon_text(L"from the worker", L"from the file", out, BALLOON_TEXT_CAPACITY);
  EXPECT_STREQ(out, L"from the worker");
  sync_failure_balloon_text(L"", L"from the file", out, BALLOON_TEXT_CAPACITY);
  EXPECT_STREQ(out, L"from the file");
  sync_failure_balloon_text(L"", nullptr, out, BALLOON_TEXT_CAPACITY);
  EXPECT_STREQ(out, L"Whitelist sync failed.");
  std::wstring long_text(300, L'e');
  sync_failure_balloon_text(long_text.c_str(), nullptr, out, BALLOON_TEXT_CAPACITY);
  EXPECT_EQ(std::wstring(out), std::wstring(237, L'e') + L"...");
  sync_failure_balloon_text(std::wstring(240, L'f').c_str(), nullptr, out, BALLOON_TEXT_CAPACITY);
  EXPECT_EQ(std::wstring(out), std::wstring(240, L'f')) << "240 units are shown whole";
}

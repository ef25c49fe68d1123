// The "key=value" parser: the places where a hand-edited or damaged
// plaintext can go wrong.
#include <gtest/gtest.h>

#include "config_text.h"

namespace {
struct parsed {
  wchar_t token[TOKEN_CAPACITY] = L"";
  wchar_t server_url[SERVER_URL_CAPACITY] = L"";
  wchar_t files_name[FILES_NAME_CAPACITY] = L"";
  wchar_t files_token[FILES_TOKEN_CAPACITY] = L"";
};

parsed parse(const char* text) {
  parsed p;
  parse_config_text(text, {{p.token, TOKEN_CAPACITY},
                           {p.server_url, SERVER_URL_CAPACITY},
                           {p.files_name, FILES_NAME_CAPACITY},
                           {p.files_token, FILES_TOKEN_CAPACITY}});
  return p;
}
}  // namespace

TEST(config_text, keys_and_values) {
  EXPECT_STREQ(parse("TOKEN=x\n").token, L"x") << "keys match in any case";
  EXPECT_STREQ(parse("token =x\n").token, L"") << "a blank before '=' makes another key";
  EXPECT_STREQ(parse("token=a=b\n").token, L"a=b");
  EXPECT_STREQ(parse("token= a \n").token, L" a ") << "values are not trimmed";
  EXPECT_STREQ(parse("token=one\ntoken=two\n").token, L"two");
  EXPECT_STREQ(parse("other=1\ntoken=t").token, L"t") << "unknown keys are skipped; no final line end";
  EXPECT_STREQ(parse("token=caf\xc3\xa9").token, L"caf\u00e9");
  EXPECT_STREQ(parse("token=a\xff" "b").token, L"a\ufffdb") << "invalid UTF-8 is replaced, not rejected";
}

TEST(config_text, line_ends_and_broken_lines) {
  parsed crlf = parse("token=t\r\nserver_url=https://a\r\nfiles_name=n\r\nfiles_token=f\r\n");
  EXPECT_STREQ(crlf.token, L"t");
  EXPECT_STREQ(crlf.server_url, L"https://a");
  EXPECT_STREQ(crlf.files_name, L"n");
  EXPECT_STREQ(crlf.files_token, L"f");

  // A line without '=' joins the next key, so that entry is lost too.
  parsed joined = parse("garbage\ntoken=t\nserver_url=u\n");
  EXPECT_STREQ(joined.token, L"");
  EXPECT_STREQ(joined.server_url, L"u");

  // A line break inside a value cuts it; the rest is read as its own entry.
  parsed cut = parse("token=ab\nserver_url=x\n");
  EXPECT_STREQ(cut.token, L"ab");
  EXPECT_STREQ(parse("token=ab\rfiles_name=z").files_name, L"z");
  EXPECT_STREQ(parse("token").token, L"") << "text ending before '='";
  EXPECT_STREQ(parse("").token, L"");
}

TEST(config_text, unwanted_and_oversized_outputs) {
  wchar_t url[8] = L"old";
  parse_config_text("token=t\nserver_url=https://far-too-long\n", {{nullptr, 0}, {url, 8}, {}, {}});
  EXPECT_STREQ(url, L"") << "a value that does not fit leaves the output empty";
  parse_config_text("server_url=http://\n", {{nullptr, 0}, {url, 8}, {}, {}});
  EXPECT_STREQ(url, L"http://");
}

TEST(config_text, format_is_fixed_and_refuses_to_cut) {
  char out[CONFIG_TEXT_CAPACITY];
  ASSERT_TRUE(format_config_text("t", "u", "", "", out, sizeof out));
  EXPECT_STREQ(out, "token=t\nserver_url=u\nfiles_name=\nfiles_token=\n");
  std::string huge(CONFIG_TEXT_CAPACITY, 'x');
  EXPECT_FALSE(format_config_text(huge.c_str(), "u", "", "", out, sizeof out));
}

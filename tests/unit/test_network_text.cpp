// Text logic of the network layer: URL splitting, address recognition,
// JSON escaping and the refusal texts' length limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "allowlist_api.h"
#include "allowlist_text.h"
#include "ip_text.h"
#include "server_url.h"

namespace {
struct split_result {
  int rc;
  std::wstring host;
  int port;
  int secure;
};

split_result split(const wchar_t* url, size_t cap = HOST_CAPACITY) {
  wchar_t host[HOST_CAPACITY];
  int port = -7, secure = -7;
  int rc = split_server_url(url, host, cap, &port, &secure);
  return {rc, host, port, secure};
}
}  // namespace

TEST(server_url, split) {
  struct {
    const wchar_t* url;
    int rc;
    const wchar_t* host;
    int port, secure;
  } cases[] = {
      {L"https://srv.example", 0, L"srv.example", 443, 1},
      {L"HTTPS://srv.example/", 0, L"srv.example", 443, 1},
      {L"http://srv.example:8080/base/x?y", 0, L"srv.example", 8080, 0},
      {L"srv.example:0", -1, L"srv.example", 0, 0},
      {L"srv.example", 0, L"srv.example", 80, 0},
      {L"http://h:8080abc", 0, L"h", 8080, 0},
      {L"http://h: 81", 0, L"h", 81, 0},
      {L"http://h:65535", 0, L"h", 65535, 0},
      {L"http://h:65536", -1, L"h", 0, 0},
      {L"http://h:99999999999999999999", -1, L"h", 0, 0},
      {L"https://h:-443", -1, L"h", 0, 1},
      {L"https://h:abc", -1, L"h", 0, 1},
      {L"http://h/p:80", 0, L"h", 80, 0},
      {L"", 0, L"", 80, 0},
  };
  for (const auto& c : cases) {
    split_result r = split(c.url);
    EXPECT_EQ(r.rc, c.rc) << c.url;
    EXPECT_EQ(r.host, c.host) << c.url;
    EXPECT_EQ(r.port, c.port) << c.url;
    EXPECT_EQ(r.secure, c.secure) << c.url;
  }
  EXPECT_EQ(split(L"https://abcdefgh:1", 5).host, L"abcd") << "a long host is cut to the capacity";
}

TEST(ip_text, recognises_plain_addresses_only) {
  for (const char* ok : {"203.0.113.7", "0.0.0.0", "255.255.255.255", "2001:db8::1", "::", "::1", "fe80::1:2",
                         "1:2:3:4:5:6:7:8", "::ffff:192.0.2.1", "1:2:3:4:5:6:1.2.3.4", "1::"})
    EXPECT_TRUE(is_ip_address_text(ok)) << ok;
  for (const char* bad : {"", "203.0.113", "203.0.113.7.1", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "1.2.3.4:80",
                          "1.2.3.04x", "1..2.3", "abc", "<html>", "1:2:3:4:5:6:7:8:9", "1::2::3", ":1:2", "1:",
                          ":::", "12345::", "fe80::1%eth0", "1:2:3:4:5:6:7:1.2.3.4", "1.2.3.4\n"})
    EXPECT_FALSE(is_ip_address_text(bad)) << bad;
}

TEST(ip_text, client_ip_member_scan) {
  char out[64];
  EXPECT_TRUE(scan_client_ip_answer(R"({"ip":"b","ipv4":"a"})", out, sizeof out));
  EXPECT_STREQ(out, "a");
  EXPECT_FALSE(scan_client_ip_answer(R"({"ipv4":null,"ip":"b"})", out, sizeof out)) << "ip is not tried";
  EXPECT_FALSE(scan_client_ip_answer(R"({"ipv4" "x"})", out, sizeof out)) << "no colon";
  EXPECT_TRUE(scan_client_ip_answer(R"({"ip":"unterminated)", out, sizeof out));
  EXPECT_STREQ(out, "unterminated");
  std::string long_value = R"({"ip":")" + std::string(70, '7') + R"("})";
  EXPECT_TRUE(scan_client_ip_answer(long_value.c_str(), out, sizeof out));
  EXPECT_EQ(std::strlen(out), 63u);
}

TEST(allowlist_text, json_escape_never_writes_half_an_escape) {
  char out[16];
  json_escape("a\"b\\c\x1f", out, sizeof out);
  EXPECT_STREQ(out, "a\\\"b\\\\c\\u001f");
  json_escape("", out, sizeof out);
  EXPECT_STREQ(out, "");
  char small[5];
  json_escape("ab\x01", small, sizeof small);
  EXPECT_STREQ(small, "ab");
}

TEST(allowlist_text, refusal_text_stays_within_the_buffer) {
  std::string body = R"({"error":")" + std::string(3000, 'e') + R"( token"})";
  char out[2048];
  allowlist_refusal_text(401, body.c_str(), out, sizeof out);
  EXPECT_EQ(std::strlen(out), 2047u);
  std::string just_fits = R"({"error":")" + std::string(2040, 'e') + R"("})";
  allowlist_refusal_text(403, just_fits.c_str(), out, sizeof out);
  EXPECT_EQ(std::string(out).substr(2040), " The ru") << "the hint is cut to what fits";
}

TEST(allowlist_text, error_suffixes_name_the_real_codes) {
  EXPECT_STREQ(winhttp_error_suffix(12029), " - cannot connect (server down, port closed or blocked by a firewall)");
  EXPECT_STREQ(winhttp_error_suffix(12175), " - TLS/secure channel failure (certificate, protocol)");
  EXPECT_STREQ(winhttp_error_suffix(12157), " - TLS/secure channel failure (certificate, protocol)");
  EXPECT_STREQ(winhttp_error_suffix(12037), " - certificate date invalid");
  EXPECT_STREQ(winhttp_error_suffix(12002), " - timeout or cancelled");
  EXPECT_STREQ(winhttp_error_suffix(12163), " - connection reset");
  EXPECT_STREQ(winhttp_error_suffix(5), "");
}

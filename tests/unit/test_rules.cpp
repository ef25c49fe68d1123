// Text rules as tables, the tray's refresh gate and its DPI scaling.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dpi_scale.h"
#include "file_list.h"
#include "refresh_gate.h"
#include "server_url.h"
#include "setup_command.h"
#include "status_rules.h"
#include "text.h"

namespace {
struct status_row {
  bool configured;
  const wchar_t *error, *state, *detected, *public_ip, *last_ip, *expected;
  std::wstring asked;
};

struct fake_sources final : status_sources {
  explicit fake_sources(const status_row& row) : row(row) {}
  const status_row& row;
  std::wstring asked;

  bool configured() override { return reply(L"config ", row.configured ? L"" : nullptr, nullptr, 0); }
  bool last_error(wchar_t* out, size_t cap) override { return reply(L"error ", row.error, out, cap); }
  void service_state(wchar_t* out, size_t cap) override { reply(L"service ", row.state, out, cap); }
  bool detect_public_ip(wchar_t* out, size_t cap) override {
    return reply(L"detect ", row.detected, out, cap);
  }
  bool reply(const wchar_t* source, const wchar_t* text, wchar_t* out, size_t cap) {
    asked += source;
    if (text && out) wcsncpy(out, text, cap - 1);
    return text != nullptr;
  }
};

// Each scanner's result as one text, so that one table holds them all.
std::wstring url_parts(const std::string& url, size_t) {  // result host:port secure
  wchar_t host[HOST_CAPACITY];
  int port = -7, secure = -7;
  bool usable = split_server_url(utf8_to_wstring(url.c_str()).c_str(), host, HOST_CAPACITY, &port, &secure);
  return (usable ? L"ok " : L"refused ") + std::wstring(host) + L":" + std::to_wstring(port) + L" " +
         std::to_wstring(secure);
}

std::wstring listed_files(const std::string& body, size_t cap) {
  std::wstring found;
  file_list_walker walker(body.c_str(), cap);
  for (file_entry e; walker.next(e);)
    found += std::to_wstring(e.id) + L" " + utf8_to_wstring(e.name.data(), static_cast<int>(e.name.size())) +
             L", ";
  return found;
}

std::wstring setup_values(const std::string& text, size_t) {  // result token|url
  wchar_t token[256] = L"junk", url[512] = L"junk";
  int rc = parse_setup_command(utf8_to_wstring(text.c_str()).c_str(), token, 256, url, 512);
  return std::to_wstring(rc) + L" " + token + L"|" + url;
}
}  // namespace

TEST(text_scanners, table) {
  const std::string late = R"({"id":5,"original_name":"late"})",
                    n259(259, 'n');  // late's "id" stands one byte in
  const struct {
    std::wstring (*scan)(const std::string&, size_t);
    std::string input;
    std::wstring expected;
    size_t cap = FILES_RESPONSE_CAPACITY;
  } rows[] = {
      {url_parts, "HTTPS://srv.example/", L"ok srv.example:443 1"},
      {url_parts, "srv.example", L"ok srv.example:80 0"},
      {url_parts, "http://h:99999999999999999999", L"refused h:0 0"},
      {url_parts, "http://h/p:80", L"ok h:80 0"},
      // Each id with its own record's name, whatever the key order; a record
      // without a usable id or name is skipped and never lends its name.
      {listed_files, R"([{"id":1,"file_name":"f","original_name":"o"}])", L"1 o, "},
      {listed_files,
       R"([{"file_name":"a","id":1},{"size":3,"id":2,"x":"y","original_name":"b"},)"
       R"({"id":"3","original_name":"c"},{"id":0,"original_name":"d"},{"id":5},{"original_name":"f","id":6}])",
       L"1 a, 2 b, 6 f, "},
      {listed_files, R"({"id":99999999999,"original_name":"a"})", L""},  // past 32 bits
      {listed_files, R"({"id":1,"original_name":")" + n259 + R"(n"})", L""},
      {listed_files, R"({"id":1,"original_name":")" + n259 + R"("})",
       L"1 " + std::wstring(259, L'n') + L", "},
      {listed_files, std::string(79, ' ') + late, L"", 100},  // a match in the last 20 bytes of the buffer
      {listed_files, std::string(78, ' ') + late, L"5 late, ", 100},
      {setup_values, "  whitelist --token \"ab cd\" --server-url https://h.example\r\n",
       L"0 ab cd|https://h.example"},
      {setup_values, "Whitelist.exe --token a --server-url u",
       L"0 a|u"},  // only the nine letters are compared
      {setup_values, "--SERVER-URL u --Token t --token last --extra value", L"0 last|u"},
      // An option name after an option is its value.
      {setup_values, "whitelist --token --server-url --server-url https://h", L"0 --server-url|https://h"},
      {setup_values, "whitelist --server-url https://h --token", L"-1 |"},
      {setup_values, "whitelist --token \"\" --server-url u", L"-1 |"},
      {setup_values, "whitelist \"\" --token a -s u", L"0 a|u"},  // an empty quoted word is skipped
      {setup_values, "whitelist --token " + std::string(255, 'k') + " --server-url " + std::string(511, 'u'),
       L"0 " + std::wstring(255, L'k') + L"|" + std::wstring(511, L'u')},
  };
  for (size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(rows[i].scan(rows[i].input, rows[i].cap), rows[i].expected)
        << "row " << i << ": " << rows[i].input;
}

TEST(file_list, only_plain_names_are_written) {
  for (const char* ok : {"report.pdf", "a b.txt", "caf\xc3\xa9.txt", ".hidden", "conf.txt", "COM10", "x..y"})
    EXPECT_TRUE(is_plain_file_name(ok)) << ok;
  for (const char* bad : {"",
                          ".",
                          "..",
                          "..\\evil.txt",
                          "../evil.txt",
                          "a/b",
                          "a\\b",
                          "C:\\x",
                          "C:x",
                          "x:stream",
                          "CON",
                          "con.txt",
                          "Lpt1",
                          "NUL .txt",
                          "aux",
                          "COM3.log",
                          "a?b",
                          "a*b",
                          "a|b",
                          "a<b",
                          "a\"b",
                          "tab\there",
                          "trail.",
                          "trail ",
                          "COM\xc2\xb9",
                          "lpt\xc2\xb3.txt",
                          "Com\xc2\xb2 .log"})
    EXPECT_FALSE(is_plain_file_name(bad)) << bad;
}

TEST(classify_last_error, table) {
  const struct {
    const wchar_t *text, *expected;
  } rows[] = {
      {L"FORBIDDEN by rule", L"Error: invalid token"},
      {L"WinHttpSendRequest failed: error 12157", L"Error: TLS/certificate problem"},
      // 12029 is how the agent words a failure to connect: the server is down, TLS is fine.
      {L"WinHttpSendRequest failed (POST body to 127.0.0.1:9): error 12029", L"Error: cannot reach server"},
      {nullptr, L"Error: sync failed"},
      {L"WinHTTP: no internet connection", L"Error: no public IP"},  // earlier rows win
      {L"HTTP 403 and 401", L"Error: unauthorized (401)"},
      {L"http 404: nothing", L"Error: sync failed"},  // "HTTP " is matched exactly
      {L"HTTP 500: Internal error. More words.", L"Error: HTTP 500: Internal error"},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    wchar_t out[STATUS_TEXT_CAPACITY] = L"junk";
    classify_last_error(rows[i].text, out, STATUS_TEXT_CAPACITY);
    EXPECT_STREQ(out, rows[i].expected) << "row " << i;
  }
}

// The rules in order, each source asked only when its rule is reached.
TEST(compute_allowlist_status, table) {
  const std::wstring all = L"config error service ";
  const status_row rows[] = {
      {false, L"unauthorized", L"Running", nullptr, L"1.2.3.4", L"1.2.3.4",
       L"Not configured / not_configured", L"config "},
      {true, L"DNS failure", L"Stopped", nullptr, nullptr, L"", L"Error: server not found (DNS) / error",
       L"config error "},
      {true, nullptr, L"State 7", nullptr, L"1.2.3.4", L"1.2.3.4",
       L"Service State 7 - sync inactive / service_stopped", all},
      {true, nullptr, L"RUNNING", nullptr, L"ABCD::1", L"abcd::1", L"Up to date / up_to_date", all},
      {true, nullptr, L"Running", nullptr, L"1.2.3.4", L"1.2.3.5", L"Out of sync - sync needed / out_of_sync",
       all},
      {true, nullptr, L"Running", nullptr, L"1.2.3.4", nullptr, L"Awaiting first sync / awaiting_first_sync",
       all},
      {true, nullptr, L"Running", nullptr, nullptr, L"1.2.3.4", L"Could not detect public IP / no_public_ip",
       all + L"detect "},
      {true, nullptr, L"Running", L"1.2.3.4", L"", L"1.2.3.4", L"Up to date / up_to_date", all + L"detect "},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    fake_sources s(rows[i]);
    wchar_t out[STATUS_TEXT_CAPACITY] = L"junk";
    allowlist_state state{};
    compute_allowlist_status(out, STATUS_TEXT_CAPACITY, rows[i].public_ip, rows[i].last_ip, s, &state);
    std::string word = allowlist_state_word(state);
    EXPECT_EQ(out + (L" / " + std::wstring(word.begin(), word.end())) + L" / " + s.asked,
              rows[i].expected + std::wstring(L" / ") + rows[i].asked)
        << "row " << i;
  }
}

TEST(refresh_gate, one_at_a_time_and_a_request_meanwhile_is_kept) {
  refresh_gate gate;
  bool reload = true;
  EXPECT_FALSE(gate.take_queued(reload)) << "nothing kept yet";
  EXPECT_TRUE(gate.try_begin(false));
  EXPECT_FALSE(gate.try_begin(true)) << "a sync's reload request meets a timer refresh";
  EXPECT_FALSE(gate.try_begin(false)) << "a later request without reload keeps the reload wish";
  gate.finish();
  ASSERT_TRUE(gate.take_queued(reload));
  EXPECT_TRUE(reload);
  EXPECT_FALSE(gate.take_queued(reload)) << "taken once";
  EXPECT_TRUE(gate.try_begin(reload));
  EXPECT_FALSE(gate.try_begin(false));
  gate.finish();
  ASSERT_TRUE(gate.take_queued(reload));
  EXPECT_FALSE(reload);
}

TEST(dpi_scale, rounds_as_the_system_does_and_keeps_neighbours_touching) {
  // Font heights are negative, and halves occur from 120 DPI on.
  for (int dpi : {96, 120, 144, 168, 192, 240, 288})
    for (int v = -40; v <= 600; ++v)
      ASSERT_EQ(scale_for_dpi(v, dpi), MulDiv(v, dpi, 96)) << v << " at " << dpi;
  constexpr design_box left{20, 294, 104, 32}, right{124, 294, 104, 32}, below{20, 326, 104, 10};
  for (int dpi : {120, 144, 168}) {
    design_box l = scale_box(left, dpi), r = scale_box(right, dpi), b = scale_box(below, dpi);
    EXPECT_EQ(l.x + l.w, r.x) << dpi;
    EXPECT_EQ(l.y + l.h, b.y) << dpi;
  }
}

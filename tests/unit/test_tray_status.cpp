// The tray's status rules: error classification, the allowlist status
// decision, its colour and tooltip, the small text rules around them, and
// the scaling of the 96-DPI design.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "dpi_scale.h"
#include "status_rules.h"

namespace {
std::wstring classify(const wchar_t* text) {
  wchar_t out[STATUS_TEXT_CAPACITY] = L"junk";
  classify_last_error(text, out, STATUS_TEXT_CAPACITY);
  return out;
}

// Answers as configured and records which sources were asked.
class fake_sources final : public status_sources {
 public:
  bool is_configured = true;
  const wchar_t* error = nullptr;
  const wchar_t* state = L"Running";
  const wchar_t* detected = nullptr;
  std::vector<std::wstring> asked;

  bool configured() override {
    asked.push_back(L"config");
    return is_configured;
  }
  bool last_error(wchar_t* out, size_t cap) override {
    asked.push_back(L"error");
    if (!error) return false;
    wcsncpy(out, error, cap - 1);
    return true;
  }
  void service_state(wchar_t* out, size_t cap) override {
    asked.push_back(L"service");
    wcsncpy(out, state, cap - 1);
  }
  bool detect_public_ip(wchar_t* out, size_t cap) override {
    asked.push_back(L"detect");
    if (!detected) return false;
    wcsncpy(out, detected, cap - 1);
    return true;
  }
};

std::wstring status(fake_sources& sources, const wchar_t* public_ip, const wchar_t* last_ip) {
  wchar_t out[STATUS_TEXT_CAPACITY] = L"junk";
  EXPECT_EQ(compute_allowlist_status(out, STATUS_TEXT_CAPACITY, public_ip, last_ip, sources), 0);
  return out;
}
}  // namespace

TEST(contains_nocase, ignores_case_and_rejects_missing_or_empty_inputs) {
  EXPECT_EQ(contains_nocase(L"WinHTTP failed", L"winhttp"), 1);
  EXPECT_EQ(contains_nocase(L"x", L"X"), 1);
  EXPECT_EQ(contains_nocase(L"\u00c9CHEC r\u00e9seau", L"\u00e9chec"), 1) << "the system's lowering, not ASCII only";
  EXPECT_EQ(contains_nocase(L"abc", L"abd"), 0);
  EXPECT_EQ(contains_nocase(L"abc", L""), 0);
  EXPECT_EQ(contains_nocase(nullptr, L"a"), 0);
  EXPECT_EQ(contains_nocase(L"a", nullptr), 0);
}

TEST(contains_nocase, looks_only_at_the_first_2047_units) {
  std::wstring text(2047, L'a');
  EXPECT_EQ(contains_nocase((text + L"dns").c_str(), L"dns"), 0);
  text.resize(2044);
  EXPECT_EQ(contains_nocase((text + L"DNS").c_str(), L"dns"), 1);
}

TEST(classify_last_error, each_row_of_the_table) {
  struct example {
    const wchar_t* text;
    const wchar_t* expected;
  };
  const example examples[] = {
      {L"HTTP 401: Invalid Token", L"Error: invalid token"},
      {L"Request was Unauthorized", L"Error: invalid token"},
      {L"FORBIDDEN by rule", L"Error: invalid token"},
      {L"token rotated on server", L"Error: invalid token"},
      {L"Service is Not Configured", L"Error: not configured"},
      {L"no configuration found", L"Error: not configured"},
      {L"Could not detect Public IP", L"Error: no public IP"},
      {L"check your Internet Connection", L"Error: no public IP"},
      {L"WinHttpSendRequest failed: error 12007", L"Error: server not found (DNS)"},
      {L"ERROR_WINHTTP_NAME_NOT_RESOLVED", L"Error: server not found (DNS)"},
      {L"DNS lookup failed", L"Error: server not found (DNS)"},
      {L"error 12175 - certificate date invalid", L"Error: TLS/certificate problem"},
      {L"WinHttpSendRequest failed: error 12157", L"Error: TLS/certificate problem"},
      {L"TLS handshake", L"Error: TLS/certificate problem"},
      {L"bad Certificate", L"Error: TLS/certificate problem"},
      {L"WinHttpConnect failed", L"Error: cannot reach server"},
      {L"server cannot reach", L"Error: cannot reach server"},
      {L"Connection aborted", L"Error: cannot reach server"},
      {L"HTTP 502: upstream", L"Error: server unreachable (502)"},
      {L"Bad Gateway", L"Error: server unreachable (502)"},
      {L"status 401", L"Error: unauthorized (401)"},
      {L"status 403", L"Error: forbidden (403)"},
      {L"HTTP 500: Internal error. More words.", L"Error: HTTP 500: Internal error"},
      {L"something odd", L"Error: sync failed"},
      {L"", L"Error: sync failed"},
      {nullptr, L"Error: sync failed"},
  };
  for (const example& e : examples) EXPECT_EQ(classify(e.text), e.expected) << (e.text ? e.text : L"(null)");
}

TEST(classify_last_error, earlier_rows_win) {
  EXPECT_EQ(classify(L"WinHTTP: no internet connection"), L"Error: no public IP");
  EXPECT_EQ(classify(L"HTTP 401: unauthorized"), L"Error: invalid token");
  EXPECT_EQ(classify(L"WinHttpSendRequest failed: error 12007"), L"Error: server not found (DNS)");
  EXPECT_EQ(classify(L"HTTP 502 with a TLS note"), L"Error: TLS/certificate problem");
  EXPECT_EQ(classify(L"HTTP 403 and 401"), L"Error: unauthorized (401)");
}

TEST(classify_last_error, a_refused_connection_is_not_a_tls_problem) {
  // 12029 is how the agent words a failure to connect; the server is simply down.
  EXPECT_EQ(classify(L"WinHttpSendRequest failed (POST body to 127.0.0.1:9): error 12029"),
            L"Error: cannot reach server");
}

TEST(classify_last_error, case_sensitive_rows_and_the_http_excerpt) {
  EXPECT_EQ(classify(L"http 404: nothing"), L"Error: sync failed") << "\"HTTP \" is matched exactly";
  EXPECT_EQ(classify(L"see HTTP 404 (not found)"), L"Error: HTTP 404 (not found)");
  std::wstring long_text = L"HTTP 418: " + std::wstring(200, L'x');
  EXPECT_EQ(classify(long_text.c_str()), L"Error: " + long_text.substr(0, 79)) << "79 units at most";
  wchar_t small[10];
  classify_last_error(L"bad gateway", small, 10);
  EXPECT_STREQ(small, L"Error: se") << "cut to the caller's capacity";
}

TEST(compute_allowlist_status, rules_in_order_and_sources_asked_lazily) {
  {
    fake_sources s;
    s.is_configured = false;
    s.error = L"unauthorized";
    EXPECT_EQ(status(s, L"1.2.3.4", L"1.2.3.4"), L"Not configured");
    EXPECT_EQ(s.asked, (std::vector<std::wstring>{L"config"}));
  }
  {
    fake_sources s;
    s.error = L"DNS failure";
    s.state = L"Stopped";
    EXPECT_EQ(status(s, nullptr, L""), L"Error: server not found (DNS)") << "the error beats a stopped service";
    EXPECT_EQ(s.asked, (std::vector<std::wstring>{L"config", L"error"}));
  }
  {
    fake_sources s;
    s.state = L"State 7";
    EXPECT_EQ(status(s, L"1.2.3.4", L"1.2.3.4"), L"Service State 7 - sync inactive");
    s.state = L"Not installed";
    EXPECT_EQ(status(s, L"1.2.3.4", L"1.2.3.4"), L"Service Not installed - sync inactive");
  }
  {
    fake_sources s;
    s.state = L"RUNNING";
    EXPECT_EQ(status(s, L"10.0.0.1", L"10.0.0.1"), L"Up to date") << "running is compared ignoring case";
    EXPECT_EQ(s.asked, (std::vector<std::wstring>{L"config", L"error", L"service"})) << "no second detection";
  }
}

TEST(compute_allowlist_status, comparing_addresses) {
  fake_sources s;
  EXPECT_EQ(status(s, L"ABCD::1", L"abcd::1"), L"Up to date");
  EXPECT_EQ(status(s, L"1.2.3.4", L"1.2.3.5"), L"Out of sync - sync needed");
  EXPECT_EQ(status(s, L"1.2.3.4", L""), L"Awaiting first sync");
  EXPECT_EQ(status(s, L"1.2.3.4", nullptr), L"Awaiting first sync");
}

TEST(compute_allowlist_status, detects_again_only_without_a_public_ip) {
  fake_sources s;
  EXPECT_EQ(status(s, nullptr, L"1.2.3.4"), L"Could not detect public IP");
  EXPECT_EQ(s.asked.back(), L"detect");
  s.detected = L"1.2.3.4";
  EXPECT_EQ(status(s, L"", L"1.2.3.4"), L"Up to date");
  s.detected = L"5.6.7.8";
  EXPECT_EQ(status(s, nullptr, L""), L"Awaiting first sync");
}

TEST(compute_allowlist_status, refuses_a_missing_buffer) {
  fake_sources s;
  wchar_t out[4] = L"abc";
  EXPECT_EQ(compute_allowlist_status(nullptr, 10, nullptr, L"", s), -1);
  EXPECT_EQ(compute_allowlist_status(out, 0, nullptr, L"", s), -1);
  EXPECT_STREQ(out, L"abc");
  EXPECT_TRUE(s.asked.empty());
}

TEST(set_allowlist_status_rules, colour_of_each_status) {
  EXPECT_EQ(status_color_for(L"Up to date"), COLOR_GREEN);
  EXPECT_EQ(status_color_for(L"Out of sync - sync needed"), COLOR_AMBER);
  EXPECT_EQ(status_color_for(L"Awaiting first sync"), COLOR_AMBER);
  EXPECT_EQ(status_color_for(L"Not configured"), COLOR_AMBER);
  EXPECT_EQ(status_color_for(L"Could not detect public IP"), COLOR_AMBER);
  EXPECT_EQ(status_color_for(L"Service Stopped - sync inactive"), COLOR_AMBER);
  EXPECT_EQ(status_color_for(L"Error: sync failed"), COLOR_RED);
  EXPECT_EQ(status_color_for(L"Syncing with server..."), COLOR_NEUTRAL);
  EXPECT_EQ(status_color_for(L""), COLOR_NEUTRAL);
  EXPECT_EQ(status_color_for(nullptr), COLOR_NEUTRAL);
  EXPECT_EQ(status_color_for(L"up to date"), COLOR_NEUTRAL) << "prefixes are case-sensitive";
  EXPECT_EQ(status_color_for(L"Error: sync inactive"), COLOR_RED) << "the first rule decides";
}

TEST(set_allowlist_status_rules, tooltip_explains_four_statuses_and_repeats_the_rest) {
  EXPECT_STREQ(status_tooltip_for(L"Up to date"), L"Your current public IP is registered on the server allowlist.");
  EXPECT_STREQ(status_tooltip_for(L"Out of sync - sync needed"),
               L"Your public IP changed since the last successful registration. Click Sync now to update the "
               L"server allowlist.");
  EXPECT_STREQ(status_tooltip_for(L"Awaiting first sync"),
               L"No IP has been registered yet. Click Sync now or wait for the background service.");
  EXPECT_STREQ(status_tooltip_for(L"Not configured"), L"Open Configuration and enter your rule token and server URL.");
  EXPECT_STREQ(status_tooltip_for(L"Up to date "), L"Up to date ") << "whole-text match only";
  EXPECT_STREQ(status_tooltip_for(L"Error: invalid token"), L"Error: invalid token");
}

TEST(service_state_text, names_the_four_states_and_numbers_the_rest) {
  struct example {
    service_answer answer;
    unsigned long state;
    const wchar_t* expected;
  };
  const example examples[] = {
      {service_answer::not_installed, 0, L"Not installed"}, {service_answer::query_failed, 4, L"Unknown"},
      {service_answer::state, 1, L"Stopped"},               {service_answer::state, 2, L"Starting"},
      {service_answer::state, 3, L"Stopping"},              {service_answer::state, 4, L"Running"},
      {service_answer::state, 5, L"State 5"},               {service_answer::state, 7, L"State 7"},
  };
  for (const example& e : examples) {
    wchar_t out[SERVICE_STATE_CAPACITY] = L"junk";
    service_state_text(e.answer, e.state, out, SERVICE_STATE_CAPACITY);
    EXPECT_STREQ(out, e.expected);
  }
  EXPECT_TRUE(is_running_text(L"rUnNiNg"));
  EXPECT_FALSE(is_running_text(L"Running "));
}

TEST(shorten_token, first_eight_characters_then_an_ellipsis) {
  wchar_t out[TOKEN_DISPLAY_CAPACITY];
  shorten_token(L"abcde", out, TOKEN_DISPLAY_CAPACITY);
  EXPECT_STREQ(out, L"abcde...");
  shorten_token(std::wstring(40, L'z').c_str(), out, TOKEN_DISPLAY_CAPACITY);
  EXPECT_STREQ(out, L"zzzzzzzz...");
}

TEST(dpi_scale, rounds_as_the_system_does_and_keeps_neighbours_touching) {
  // Font heights are negative, and halves occur from 120 DPI on.
  for (int dpi : {96, 120, 144, 168, 192, 240, 288})
    for (int v = -40; v <= 600; ++v) ASSERT_EQ(scale_for_dpi(v, dpi), MulDiv(v, dpi, 96)) << v << " at " << dpi;
  EXPECT_EQ(scale_for_dpi(-13, 144), -20);

  constexpr design_box left{20, 294, 104, 32}, right{124, 294, 104, 32}, below{20, 326, 104, 10};
  for (int dpi : {96, 120, 144, 168}) {
    design_box l = scale_box(left, dpi), r = scale_box(right, dpi), b = scale_box(below, dpi);
    EXPECT_EQ(l.x + l.w, r.x) << dpi;
    EXPECT_EQ(l.y + l.h, b.y) << dpi;
  }
  design_box at_144 = scale_box({168, 108, 280, 22}, 144);
  EXPECT_EQ((std::vector<int>{at_144.x, at_144.y, at_144.w, at_144.h}), (std::vector<int>{252, 162, 420, 33}));
}

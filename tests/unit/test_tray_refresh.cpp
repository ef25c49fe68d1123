// What a refresh reports: the balloons, the refresh gate, and the snapshot
// and export built from a real data folder.
#include <gtest/gtest.h>

#include <string>

#include "config_store.h"
#include "data_folder.h"
#include "config_transfer.h"
#include "notify_rules.h"
#include "refresh_gate.h"
#include "status_snapshot.h"
#include "test_support.h"

namespace {
notify_plan plan(notify_memory& m, const wchar_t* ip, const wchar_t* error, bool hidden = true,
                 const wchar_t* status = L"Up to date") {
  return plan_notifications(m, ip, status, error, hidden);
}

notify_memory primed(const wchar_t* ip, const wchar_t* error) {
  notify_memory m;
  EXPECT_EQ(plan(m, ip, error).count, 0);
  return m;
}
}  // namespace

TEST(notify_changes, the_first_snapshot_only_primes) {
  notify_memory m;
  EXPECT_EQ(plan(m, L"1.2.3.4", L"boom").count, 0);
  EXPECT_TRUE(m.primed);
  EXPECT_STREQ(m.ip, L"1.2.3.4");
  EXPECT_STREQ(m.error, L"boom");
  EXPECT_EQ(plan(m, L"1.2.3.4", L"boom").count, 0) << "nothing changed";
}

TEST(notify_changes, a_new_registered_ip_is_announced_once) {
  notify_memory m = primed(L"1.2.3.4", nullptr);
  notify_plan p = plan(m, L"5.6.7.8", nullptr, false);
  ASSERT_EQ(p.count, 1) << "announced whether the window is shown or not";
  EXPECT_EQ(p.shown[0].kind, balloon_kind::info);
  EXPECT_STREQ(p.shown[0].title, L"QOR Whitelist IP Updater");
  EXPECT_STREQ(p.shown[0].text, L"Allowlist updated to 5.6.7.8.");
  EXPECT_EQ(plan(m, L"5.6.7.8", nullptr).count, 0);
  EXPECT_EQ(plan(m, L"(none)", nullptr).count, 0) << "a change to (none) is not announced";
  EXPECT_EQ(plan(m, L"5.6.7.8", nullptr).count, 0) << "nor remembered";
  EXPECT_EQ(plan(m, L"5.6.7.8 ", nullptr).count, 1) << "exact comparison";
}

TEST(notify_changes, a_new_error_is_announced_only_while_hidden) {
  notify_memory m = primed(L"1.2.3.4", nullptr);
  notify_plan p = plan(m, L"1.2.3.4", L"raw text", true, L"Error: invalid token");
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(p.shown[0].kind, balloon_kind::error);
  EXPECT_STREQ(p.shown[0].title, L"Allowlist update failed");
  EXPECT_STREQ(p.shown[0].text, L"Error: invalid token") << "the classified status when there is one";
  EXPECT_EQ(plan(m, L"1.2.3.4", L"raw text").count, 0) << "the same error again";

  EXPECT_EQ(plan(m, L"1.2.3.4", nullptr).count, 0);
  p = plan(m, L"1.2.3.4", L"raw text", true, L"Service Stopped - sync inactive");
  ASSERT_EQ(p.count, 1) << "after the file went away the same text is news again";
  EXPECT_STREQ(p.shown[0].text, L"raw text") << "the error itself when the status is not an error";

  EXPECT_EQ(plan(m, L"1.2.3.4", L"second", false).count, 0) << "shown window: only remembered";
  EXPECT_EQ(plan(m, L"1.2.3.4", L"second", true).count, 0) << "and not announced later";
}

TEST(notify_changes, both_balloons_from_one_snapshot) {
  notify_memory m = primed(L"1.2.3.4", nullptr);
  notify_plan p = plan(m, L"9.9.9.9", L"oops", true, L"Error: sync failed");
  ASSERT_EQ(p.count, 2);
  EXPECT_EQ(p.shown[0].kind, balloon_kind::info);
  EXPECT_EQ(p.shown[1].kind, balloon_kind::error);
}

TEST(balloon_text, long_texts_end_in_an_ellipsis_at_240_units) {
  wchar_t out[BALLOON_TEXT_CAPACITY];
  cut_balloon_text(std::wstring(300, L'a').c_str(), out, BALLOON_TEXT_CAPACITY);
  EXPECT_EQ(std::wstring(out), std::wstring(237, L'a') + L"...");
  cut_balloon_text(std::wstring(240, L'b').c_str(), out, BALLOON_TEXT_CAPACITY);
  EXPECT_EQ(std::wstring(out), std::wstring(240, L'b')) << "240 units fit as they are";
  cut_balloon_text(std::wstring(241, L'c').c_str(), out, BALLOON_TEXT_CAPACITY);
  EXPECT_EQ(std::wstring(out), std::wstring(237, L'c') + L"...");
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

class tray_data : public ::testing::Test {
 protected:
  temp_program_data data;
  void SetUp() override { data.create_folder(); }
};

TEST_F(tray_data, count_pending_deletes_counts_what_the_agent_would_retry) {
  int count = -5;
  EXPECT_EQ(count_pending_deletes(&count), 0);
  EXPECT_EQ(count, 0) << "no file";
  // Blank, repeated (in another letter case) and over-long lines are dropped by the agent.
  write_bytes(data.file(L"pending_delete_ips.txt"),
              "1.1.1.1\r\n \t\r\nfe80::A\r\n1.1.1.1\nFE80::a\n" + std::string(70, '9') + "\n2.2.2.2");
  EXPECT_EQ(count_pending_deletes(&count), 0);
  EXPECT_EQ(count, 3);
  std::string many;
  for (int i = 0; i < 40; ++i) many += "10.0.0." + std::to_string(i) + "\n";
  write_bytes(data.file(L"pending_delete_ips.txt"), many);
  EXPECT_EQ(count_pending_deletes(&count), 0);
  EXPECT_EQ(count, 32) << "the queue's cap";
}

// A snapshot asks the network (the echo service on the test builds' fixed
// port), so CTest runs these under that port's lock.
using tray_snapshot = tray_data;

TEST_F(tray_snapshot, of_a_configured_folder) {
  ASSERT_EQ(tray_config_save(L"0123456789abcdef", L"https://srv.example", nullptr, nullptr, nullptr, 0), 0);
  write_bytes(data.file(L"last_ip.txt"), "203.0.113.7\r\n");
  write_bytes(data.file(L"last_error.txt"), "WinHttpSendRequest failed: error 12029\n");
  write_bytes(data.file(L"pending_delete_ips.txt"), "198.51.100.1\n198.51.100.2\n\n");
  request_last_ip_reload();
  snapshot_ptr s(build_status_snapshot());
  ASSERT_TRUE(s);
  EXPECT_STREQ(s->last_whitelisted, L"203.0.113.7");
  EXPECT_STREQ(s->server, L"https://srv.example");
  EXPECT_STREQ(s->token_display, L"01234567...");
  EXPECT_STREQ(s->allowlist_status, L"Error: cannot reach server") << "a recorded error decides first";
  EXPECT_STREQ(s->pending_cleanup, L"2 old IP(s) waiting to remove");
  EXPECT_STRNE(s->service_state, L"");
  EXPECT_TRUE(s->has_last_error) << "the balloons get the same reading";
  EXPECT_EQ(std::wstring(s->last_error).rfind(L"WinHttpSendRequest failed: error 12029", 0), 0u);
  EXPECT_EQ(config_present(), 1);

  // Too long for the balloons' 512 units: none for them, still the status's reason.
  write_bytes(data.file(L"last_error.txt"), "Error: forbidden (403) " + std::string(600, 'x'));
  s.reset(build_status_snapshot());
  EXPECT_FALSE(s->has_last_error);
  EXPECT_STREQ(s->allowlist_status, L"Error: invalid token");
}

TEST_F(tray_snapshot, without_configuration_and_the_cache_reload) {
  write_bytes(data.file(L"last_ip.txt"), "192.0.2.1");
  refresh_last_ip_cache();
  DeleteFileW(data.file(L"last_ip.txt").c_str());
  snapshot_ptr s(build_status_snapshot());
  ASSERT_TRUE(s);
  EXPECT_STREQ(s->allowlist_status, L"Not configured");
  EXPECT_STREQ(s->server, L"(not configured)");
  EXPECT_STREQ(s->token_display, L"(not configured)");
  EXPECT_STREQ(s->public_ip, L"(unavailable)");
  EXPECT_STREQ(s->pending_cleanup, L"None");
  EXPECT_STREQ(s->last_whitelisted, L"192.0.2.1") << "the cache is only re-read on request";
  request_last_ip_reload();
  s.reset(build_status_snapshot());
  EXPECT_STREQ(s->last_whitelisted, L"(none)");
  EXPECT_EQ(config_present(), 0);
}

TEST_F(tray_snapshot, of_a_configuration_without_server_url) {
  // The tray refuses to save this, but an older agent's file can hold it.
  ASSERT_EQ(write_config_file(data.file(L"whitelist.config").c_str(), "token=abc\nserver_url=\n"), 0);
  snapshot_ptr s(build_status_snapshot());
  ASSERT_TRUE(s);
  EXPECT_STREQ(s->server, L"(not set)");
  EXPECT_STREQ(s->token_display, L"abc...");
  EXPECT_STREQ(s->allowlist_status, L"Not configured");
  EXPECT_EQ(config_present(), 0);
}

TEST_F(tray_data, export_copies_the_stored_file_byte_for_byte) {
  std::wstring target = data.base() + L"\\out.config";
  EXPECT_EQ(export_config_file(target.c_str()), -1) << "no configuration yet";
  EXPECT_FALSE(file_exists(target));
  EXPECT_EQ(export_config_file(L""), -1);
  EXPECT_EQ(export_config_file(nullptr), -1);

  ASSERT_EQ(tray_config_save(L"tok", L"https://a.example", L"n", L"ft", nullptr, 0), 0);
  write_bytes(target, "an older export that is longer than the new one ..........................");
  ASSERT_EQ(export_config_file(target.c_str()), 0);
  EXPECT_EQ(read_bytes(target), read_bytes(data.file(L"whitelist.config")));
  EXPECT_EQ(list_folder(data.base()), L"QOR Whitelist IP Updater out.config") << "no temporary file left";

  std::wstring missing_folder = data.base() + L"\\no such folder\\x.config";
  EXPECT_EQ(export_config_file(missing_folder.c_str()), -1);
}

// One replacement of the registered address: what is sent, what is recorded,
// and what is never overwritten.
#include <algorithm>
#include <string>

#include "agent_test_support.h"
#include "commands.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "sync_pass.h"

using sync_pass_test = agent_test;

TEST_F(sync_pass_test, refuses_without_token_or_server) {
  agent_config.server_url[0] = L'\0';
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), -1);
  wcscpy(agent_config.server_url, L"https://allowlist.test");
  agent_config.token[0] = L'\0';
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), -1);
  EXPECT_TRUE(fake_net.requests.empty());
  EXPECT_EQ(list_folder(data.folder()), L"") << "nothing written, not even a log line";
}

TEST_F(sync_pass_test, first_and_repeated_registration_send_only_the_addition) {
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), 0);
  EXPECT_STREQ(agent.last_ip, L"203.0.113.7");
  EXPECT_EQ(read_bytes(data.file(L"last_ip.txt")), "203.0.113.7");
  EXPECT_EQ(sync_pass(L"2001:DB8::1", pass_mode::log), 0);
  wcscpy(agent.last_ip, L"2001:db8::1");
  EXPECT_EQ(sync_pass(L"2001:DB8::1", pass_mode::log), 0);
  EXPECT_EQ(request_lines(), (std::vector<std::wstring>{L"POST 203.0.113.7", L"DELETE 203.0.113.7",
                                                        L"POST 2001:DB8::1", L"POST 2001:DB8::1"}));
}

TEST_F(sync_pass_test, change_removes_the_old_address_and_forgets_its_queue_entry) {
  wcscpy(agent.last_ip, L"198.51.100.1");
  pending_add(L"198.51.100.1");
  pending_add(L"192.0.2.9");
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), 0);
  EXPECT_EQ(request_lines(), (std::vector<std::wstring>{L"DELETE 198.51.100.1", L"POST 203.0.113.7"}));
  EXPECT_EQ(pending_text(), "192.0.2.9\n");
  EXPECT_EQ(log_messages(), std::vector<std::string>{"IP changed from 198.51.100.1 to 203.0.113.7 - removing old IP"});
}

TEST_F(sync_pass_test, failed_removal_with_a_full_queue_still_adds) {
  std::string full;
  for (int i = 1; i <= 32; ++i) full += "10.0.0." + std::to_string(i) + "\n";
  write_bytes(pending_file(), full);
  wcscpy(agent.last_ip, L"198.51.100.1");
  fake_net.answer = [](const recorded_request& r) -> std::optional<std::string> {
    if (r.method == L"DELETE") return "gone away";
    return std::nullopt;
  };
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), 0);
  EXPECT_EQ(request_lines(), (std::vector<std::wstring>{L"DELETE 198.51.100.1", L"POST 203.0.113.7"}));
  EXPECT_EQ(pending_text(), full);
  EXPECT_EQ(log_messages(), (std::vector<std::string>{
                                "IP changed from 198.51.100.1 to 203.0.113.7 - removing old IP",
                                "Warning: failed to remove old IP (may not exist); queued for retry",
                                "Warning: pending delete queue full",
                            }));
}

TEST_F(sync_pass_test, failed_addition_keeps_last_ip_and_records_the_reason_in_log_mode_only) {
  wcscpy(agent.last_ip, L"198.51.100.1");
  std::string error = "rule disabled";
  fake_net.answer = [&](const recorded_request&) -> std::optional<std::string> { return error; };
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), 1);
  EXPECT_STREQ(agent.last_ip, L"198.51.100.1");
  EXPECT_FALSE(file_exists(data.file(L"last_ip.txt")));
  EXPECT_EQ(read_bytes(data.file(L"last_error.txt")), "rule disabled");
  EXPECT_EQ(pending_text(), "198.51.100.1\n");

  error = "";
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), 1);
  EXPECT_EQ(read_bytes(data.file(L"last_error.txt")), "rule disabled") << "an empty reason leaves the file";

  DeleteFileW(data.file(L"last_error.txt").c_str());
  error = "console failure";
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::console), 1);
  EXPECT_FALSE(file_exists(data.file(L"last_error.txt"))) << "the sync command writes it itself";
}

// The service loaded token A; meanwhile another program saved token B. The
// service's registration must leave B in the file.
TEST_F(sync_pass_test, registration_never_writes_older_settings_over_newer_ones) {
  ASSERT_EQ(write_config_values(agent.config_path, L"token-B", L"https://new.test", L"", L""), 0);
  EXPECT_EQ(sync_pass(L"203.0.113.7", pass_mode::log), 0);
  EXPECT_EQ(fake_net.requests.at(0).token, L"token-A") << "the running record is still used for requests";

  config_record saved;
  ASSERT_EQ(read_config_record(agent.config_path, saved), 0);
  EXPECT_STREQ(saved.token, L"token-B");
  EXPECT_STREQ(saved.server_url, L"https://new.test");
  EXPECT_EQ(read_bytes(data.file(L"last_ip.txt")), "203.0.113.7");
}

// Two agent processes replacing the same old address at once (the tray's
// "Sync now" while the service polls, across an address change): each
// registers what it saw, and the one that records last must not leave the
// other's address on the allowlist untracked.
TEST_F(sync_pass_test, an_address_registered_meanwhile_by_another_process_is_queued) {
  wcscpy(agent.last_ip, L"198.51.100.1");
  write_bytes(data.file(L"last_ip.txt"), "198.51.100.1");
  std::wstring path = data.file(L"last_ip.txt");
  fake_net.answer = [&](const recorded_request& r) -> std::optional<std::string> {
    if (r.method == L"POST") write_bytes(path, "198.51.100.2");  // the other process recorded its address
    return std::nullopt;
  };
  EXPECT_EQ(sync_pass(L"198.51.100.3", pass_mode::log), 0);
  EXPECT_EQ(read_bytes(path), "198.51.100.3");
  EXPECT_EQ(pending_text(), "198.51.100.2\n");

  // The file naming the pass's own old or new address is no one else's.
  for (const char* on_file : {"198.51.100.3", "198.51.100.4"}) {
    DeleteFileW(pending_file().c_str());
    wcscpy(agent.last_ip, L"198.51.100.3");
    fake_net.answer = [&](const recorded_request& r) -> std::optional<std::string> {
      if (r.method == L"POST") write_bytes(path, on_file);
      return std::nullopt;
    };
    EXPECT_EQ(sync_pass(L"198.51.100.4", pass_mode::log), 0);
    EXPECT_FALSE(file_exists(pending_file())) << on_file;
  }
}

TEST_F(sync_pass_test, the_address_replaced_is_the_one_last_ip_txt_names_now) {
  wcscpy(agent.last_ip, L"198.51.100.1");
  write_bytes(data.file(L"last_ip.txt"), "198.51.100.2");  // another process replaced .1 meanwhile
  EXPECT_EQ(sync_pass(L"198.51.100.3", pass_mode::log), 0);
  EXPECT_EQ(request_lines(), (std::vector<std::wstring>{L"DELETE 198.51.100.2", L"POST 198.51.100.3"}));
  EXPECT_FALSE(file_exists(pending_file()));
  EXPECT_STREQ(agent.last_ip, L"198.51.100.3");
}

// last_ip.txt held open by another process (any user may read it; a reader
// without delete sharing blocks its replacement) across a registration and
// the next address change: the address registered meanwhile is never left on
// the allowlist with nothing tracking it, and the failure is reported.
TEST_F(sync_pass_test, a_registration_last_ip_txt_cannot_record_stays_tracked) {
  std::wstring path = data.file(L"last_ip.txt");
  write_bytes(path, "198.51.100.1");
  wcscpy(agent.last_ip, L"198.51.100.1");
  file_handle holder(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(sync_pass(L"198.51.100.2", pass_mode::log), 2);
  EXPECT_EQ(read_bytes(path), "198.51.100.1");
  EXPECT_EQ(pending_text(), "198.51.100.2\n") << "queued until last_ip.txt names it";
  fake_net.public_ip = L"198.51.100.2";
  pending_retry_pass(pass_mode::log);
  EXPECT_EQ(pending_text(), "198.51.100.2\n") << "current, but not recorded: kept";

  EXPECT_EQ(sync_pass(L"198.51.100.3", pass_mode::log), 2) << "still held: memory named the address to replace";
  holder.reset();
  fake_net.public_ip = L"198.51.100.3";
  pending_retry_pass(pass_mode::log);
  wchar_t registered[IP_CAPACITY];
  last_ip_reload(registered);
  EXPECT_STREQ(registered, L"198.51.100.3");
  EXPECT_EQ(read_bytes(path), "198.51.100.3") << "written once it could be";
  pending_retry_pass(pass_mode::log);
  EXPECT_FALSE(file_exists(pending_file()));
  EXPECT_EQ(request_lines(), (std::vector<std::wstring>{L"DELETE 198.51.100.1", L"POST 198.51.100.2",
                                                        L"DELETE 198.51.100.2", L"POST 198.51.100.3"}));
  std::vector<std::string> log = log_messages();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "Warning: could not write last_ip.txt; 198.51.100.2 kept in memory and queued for removal"),
            1);
}

// The sync command's form of the same: exit 1 and the reason for the tray.
TEST_F(sync_pass_test, the_sync_command_fails_when_it_cannot_record_its_registration) {
  ASSERT_EQ(write_config_values(agent.config_path, L"token-A", L"https://allowlist.test", L"", L""), 0);
  std::wstring path = data.file(L"last_ip.txt");
  write_bytes(path, "198.51.100.1");
  fake_net.public_ip = L"198.51.100.2";
  {
    file_handle holder(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(sync_command(0, nullptr), EXIT_FAILED);
  }
  EXPECT_EQ(read_bytes(data.file(L"last_error.txt")), "IP whitelisted, but last_ip.txt could not be written.");
  EXPECT_EQ(pending_text(), "198.51.100.2\n");
  wchar_t registered[IP_CAPACITY];
  last_ip_reload(registered);  // the file can be written again
  EXPECT_EQ(read_bytes(path), "198.51.100.2");
}

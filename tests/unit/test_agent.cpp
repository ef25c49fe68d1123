// The agent's queue, registration and log, with the network replaced by a
// double that records every allowlist request and answers from a script.
#include <algorithm>
#include <functional>
#include <latch>
#include <memory>
#include <thread>

#include "agent_network.h"
#include "commands.h"
#include "event_log.h"
#include "folder_security.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "service_log.h"
#include "sync_pass.h"
#include "test_support.h"
#include "text.h"

namespace {
struct recorded_request {
  std::wstring method, ip, token;
};
struct fake_network final : agent_network {
  std::vector<recorded_request> requests;
  // nullptr: accepted; otherwise the error text the server left (may be empty).
  std::function<const char*(const recorded_request&)> answer;
  std::wstring public_ip;  // empty: detection fails

  bool allowlist_request(const wchar_t* method, const wchar_t*, const wchar_t* token,
                         const wchar_t* ip) override {
    recorded_request r{method, ip, token};
    requests.push_back(r);
    const char* error = answer ? answer(r) : nullptr;
    copy_bounded(last_api_error, LAST_API_ERROR_CAPACITY, error ? error : "");
    return !error;
  }
  bool detect_public_ip(const wchar_t*, wchar_t* out, size_t cap) override {
    copy_bounded(out, cap, public_ip.c_str());
    return !public_ip.empty();
  }
};

class agent_test : public data_test {
 protected:
  fake_network fake_net;
  void SetUp() override {
    wcscpy(agent.config.token, L"token-A");
    wcscpy(agent.config.server_url, L"https://allowlist.test");
  }
  std::wstring pending_file() const { return file(L"pending_delete_ips.txt"); }
  std::string pending_text() const { return read_bytes(pending_file()); }
  std::string log_text() const { return read_bytes(file(L"service.log")); }
  std::wstring wire() const {
    std::wstring lines;
    for (const recorded_request& r : fake_net.requests) lines += r.method + L" " + r.ip + L", ";
    return lines;
  }
};
}  // namespace

// Anyone can write the queue and each entry is sent: lenient about form, strict about content.
TEST(pending_text, read_then_written) {
  const std::string file =
      "\r\n  198.51.100.1\t\r\n\r\n\n\tFE80::1 \r203.0.113.9\r\n198.51.100.1\nfe80::1\n   \n"
      "example.com\n198.51.100.7:443\n10.0.0.0/8\n192.0.2.1\n../x\nfe80::1%eth0\n" +
      std::string(63, 'a') + "\n" + std::string(80, '1') + "\n2001:DB8::5\n";
  pending_list list;
  parse_pending_text(file.c_str(), list);
  EXPECT_EQ(format_pending_text(list), "198.51.100.1\nFE80::1\n203.0.113.9\n192.0.2.1\n2001:DB8::5\n");
}

// Wine keeps no event: what Event Viewer would show is read from the built program's message table.
TEST(event_log, the_program_holds_a_sentence_for_every_event_with_each_of_its_texts) {
  wchar_t here[MAX_PATH];
  std::wstring program(here, GetModuleFileNameW(nullptr, here, MAX_PATH));
  program = program.substr(0, program.rfind(L'\\')) + L"\\..\\bin\\whitelist.exe";
  std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module(
      LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
      FreeLibrary);
  ASSERT_TRUE(module) << "cannot load " << std::string(program.begin(), program.end());
  for (const service_event& event : SERVICE_EVENTS) {
    const wchar_t* inserts[] = {L"<first>", L"<second>", L"<third>"};
    DWORD_PTR arguments[std::size(inserts)];
    std::transform(inserts, std::end(inserts), arguments,
                   [](auto text) { return reinterpret_cast<DWORD_PTR>(text); });
    wchar_t text[1024] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module.get(),
                                  event.id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                                  std::size(text), reinterpret_cast<va_list*>(arguments));
    std::wstring sentence(text, length), used;
    for (const wchar_t* insert : inserts) used += sentence.find(insert) != std::wstring::npos ? L"+" : L"-";
    EXPECT_EQ(used, std::wstring(event.inserts, L'+') + std::wstring(3 - event.inserts, L'-')) << event.id;
    EXPECT_GT(length, 20u) << event.id;
  }
}

TEST(event_log, a_failure_streak_warns_once_and_its_end_is_a_recovery) {
  bool failing = false;
  std::vector<DWORD> reported;
  auto step = [&](bool succeeded, const service_event* done) {
    const service_event* event = registration_event(succeeded, failing, done);
    reported.push_back(event ? event->id : 0);
  };
  for (bool succeeded : {true, false, false, true, true, false}) step(succeeded, &EVENT_ADDRESS_CHANGED);
  step(true, nullptr);  // a success with nothing of its own to report still ends the streak
  EXPECT_EQ(reported,
            (std::vector<DWORD>{MSG_ADDRESS_CHANGED, MSG_REGISTRATION_FAILED, 0, MSG_REGISTRATION_RECOVERED,
                                MSG_ADDRESS_CHANGED, MSG_REGISTRATION_FAILED, MSG_REGISTRATION_RECOVERED}));
}

TEST(queue_lock, the_service_never_adopts_a_mutex_another_owner_created) {
  local_memory foreign = descriptor_from_sddl(L"O:BUD:(A;;GA;;;WD)");
  SECURITY_ATTRIBUTES attributes{sizeof attributes, foreign.get(), FALSE};
  kernel_handle planted(CreateMutexW(&attributes, FALSE, L"Local\\wl-test-planted"));
  ASSERT_TRUE(planted);
  EXPECT_FALSE(create_shared_mutex(L"Local\\wl-test-planted", foreign_objects::refuse));
  EXPECT_TRUE(create_shared_mutex(L"Local\\wl-test-planted", foreign_objects::adopt));
  kernel_handle own = create_shared_mutex(L"Local\\wl-test-own", foreign_objects::refuse);
  ASSERT_TRUE(own);
  EXPECT_TRUE(create_shared_mutex(L"Local\\wl-test-own", foreign_objects::refuse));
}

TEST_F(agent_test, a_queue_that_cannot_be_read_is_not_overwritten) {
  write_bytes(pending_file(), "192.0.2.1\n");
  file_handle holder(
      CreateFileW(pending_file().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(pending_add(agent, L"192.0.2.2"), queue_add::unwritten);
  holder.reset();
  EXPECT_EQ(pending_text(), "192.0.2.1\n");
  // The address it could not queue is not dropped: the next pass queues it.
  fake_net.answer = [](const recorded_request&) { return "unreachable"; };
  pending_retry_pass(agent, fake_net, pass_mode::log);
  EXPECT_EQ(pending_text(), "192.0.2.1\n192.0.2.2\n");
}

// An address change between this pass's detection and the next registration.
TEST_F(agent_test, the_current_address_stays_queued_until_it_is_the_registered_one) {
  write_bytes(pending_file(), "203.0.113.7\n");
  fake_net.public_ip = L"203.0.113.7";
  wcscpy(agent.last_ip, L"198.51.100.1");
  pending_retry_pass(agent, fake_net, pass_mode::log);
  EXPECT_TRUE(fake_net.requests.empty()) << "the address in use is never removed";
  EXPECT_EQ(pending_text(), "203.0.113.7\n");
  EXPECT_EQ(log_text(), "");

  fake_net.public_ip = L"198.51.100.1";  // it changed back before being registered
  pending_retry_pass(agent, fake_net, pass_mode::log);
  EXPECT_EQ(wire(), L"DELETE 203.0.113.7, ");
  EXPECT_FALSE(std::filesystem::exists(pending_file())) << "an empty queue is no file";
}

TEST_F(agent_test, queue_changes_made_meanwhile_by_another_process_survive) {
  write_bytes(pending_file(), "192.0.2.1\n192.0.2.2\n192.0.2.3\n");
  fake_net.answer = [this](const recorded_request& r) -> const char* {
    if (r.ip != L"192.0.2.1") return "unreachable";
    // What a command-line run does in the meantime, on the same file.
    EXPECT_EQ(pending_add(agent, L"198.51.100.50"), queue_add::queued);
    EXPECT_TRUE(pending_remove(agent, L"192.0.2.3"));
    EXPECT_EQ(pending_text(), "192.0.2.1\n192.0.2.2\n198.51.100.50\n");
    return nullptr;
  };
  pending_retry_pass(agent, fake_net, pass_mode::log);
  EXPECT_EQ(fake_net.requests.size(), 3u);
  EXPECT_EQ(pending_text(), "192.0.2.2\n198.51.100.50\n");
}

// The service loaded token A; meanwhile another program saved token B.
TEST_F(agent_test, registration_never_writes_older_settings_over_newer_ones) {
  std::wstring config = file(L"whitelist.config");
  const char* newer = "token=token-B\nserver_url=https://new.test\nfiles_name=\nfiles_token=\n";
  ASSERT_TRUE(write_config_file(config.c_str(), newer));
  EXPECT_EQ(sync_pass(agent, fake_net, L"203.0.113.7", pass_mode::log), registration::recorded);
  EXPECT_EQ(fake_net.requests.at(0).token, L"token-A") << "the running record is still used for requests";
  char text[CONFIG_TEXT_CAPACITY];
  ASSERT_TRUE(read_config_file(config.c_str(), text, sizeof text));
  EXPECT_STREQ(text, newer);
  EXPECT_EQ(read_bytes(file(L"last_ip.txt")), "203.0.113.7");
}

// Two agent processes replace the same old address at once (a sync from the
// tray while the service polls): the later record must not leave the other's untracked.
TEST_F(agent_test, an_address_registered_meanwhile_by_another_process_is_queued) {
  std::wstring path = file(L"last_ip.txt");
  // The pass's own old address, its new one, then another process's.
  for (const char* on_file : {"198.51.100.1", "198.51.100.3", "198.51.100.2"}) {
    wcscpy(agent.last_ip, L"198.51.100.1");
    write_bytes(path, "198.51.100.1");
    fake_net.answer = [&](const recorded_request& r) -> const char* {
      if (r.method == L"POST") write_bytes(path, on_file);
      return nullptr;
    };
    EXPECT_EQ(sync_pass(agent, fake_net, L"198.51.100.3", pass_mode::log), registration::recorded) << on_file;
    EXPECT_EQ(read_bytes(path), "198.51.100.3") << on_file;
  }
  EXPECT_EQ(pending_text(), "198.51.100.2\n") << "only another process's address is queued";
}

TEST_F(agent_test, the_address_replaced_is_the_one_last_ip_txt_names_now) {
  wcscpy(agent.last_ip, L"198.51.100.1");
  write_bytes(file(L"last_ip.txt"), "198.51.100.2");  // another process replaced .1 meanwhile
  EXPECT_EQ(sync_pass(agent, fake_net, L"198.51.100.3", pass_mode::log), registration::recorded);
  EXPECT_EQ(wire(), L"DELETE 198.51.100.2, POST 198.51.100.3, ");
  EXPECT_FALSE(std::filesystem::exists(pending_file()));
  EXPECT_STREQ(agent.last_ip, L"198.51.100.3");
}

// last_ip.txt held by a reader without delete sharing (any user may read it)
// across a registration and the next change: no address is left untracked,
// and the sync command fails with the reason for the tray.
TEST_F(agent_test, a_registration_last_ip_txt_cannot_record_stays_tracked) {
  ASSERT_TRUE(write_config_file(file(L"whitelist.config").c_str(), "token=A\nserver_url=https://a.test\n"));
  std::wstring path = file(L"last_ip.txt");
  write_bytes(path, "198.51.100.1");
  file_handle holder(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  fake_net.public_ip = L"198.51.100.2";
  EXPECT_EQ(sync_command(agent, fake_net), EXIT_FAILED);
  EXPECT_EQ(read_bytes(file(L"last_error.txt")), "IP whitelisted, but last_ip.txt could not be written.");
  EXPECT_EQ(read_bytes(path), "198.51.100.1");
  EXPECT_EQ(pending_text(), "198.51.100.2\n") << "queued until last_ip.txt names it";
  pending_retry_pass(agent, fake_net, pass_mode::log);
  EXPECT_EQ(pending_text(), "198.51.100.2\n") << "current, but not recorded: kept";

  EXPECT_EQ(sync_pass(agent, fake_net, L"198.51.100.3", pass_mode::log), registration::unrecorded)
      << "still held: memory named the address to replace";
  holder.reset();
  fake_net.public_ip = L"198.51.100.3";
  pending_retry_pass(agent, fake_net, pass_mode::log);
  wchar_t registered[IP_CAPACITY];
  last_ip_reload(agent, registered);  // the service's next reload writes what memory holds
  EXPECT_EQ(read_bytes(path), "198.51.100.3") << "written once it could be";
  pending_retry_pass(agent, fake_net, pass_mode::log);
  EXPECT_FALSE(std::filesystem::exists(pending_file()));
  EXPECT_EQ(wire(), L"DELETE 198.51.100.1, POST 198.51.100.2, DELETE 198.51.100.2, POST 198.51.100.3, ");
  const std::string log = log_text(),
                    kept = "could not write last_ip.txt; 198.51.100.3 kept in memory and queued";
  EXPECT_TRUE(log.find(kept) != std::string::npos && log.find(kept) == log.rfind(kept))
      << "logged once: " << log;
}

TEST_F(agent_test, threads_logging_across_the_log_restart_lose_no_line) {
  constexpr int rounds = 40, threads = 4;
  for (int round = 0; round < rounds; ++round) {
    write_bytes(file(L"service.log"), std::string(LOG_MAX_BYTES + 1, 'x'));
    std::latch start(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&start, t] {
        start.arrive_and_wait();
        service_log("thread %d", t);
      });
    for (std::thread& t : pool) t.join();
    std::string text = log_text();
    ASSERT_EQ(text.find('x'), std::string::npos) << "round " << round << ": restarted";
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), threads) << "round " << round << ": " << text;
  }
}

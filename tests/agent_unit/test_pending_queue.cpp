// The queue file and the retry pass, with the server replaced by a script.
#include <string>

#include "agent_test_support.h"
#include "folder_security.h"
#include "handles.h"
#include "pending_queue.h"
#include "sync_pass.h"
#include "shared_objects.h"

using queue_files = agent_test;
using retry_pass = agent_test;

namespace {
std::string numbered_lines(int first, int last) {
  std::string text;
  for (int i = first; i <= last; ++i) text += "10.0.0." + std::to_string(i) + "\n";
  return text;
}
}  // namespace

TEST_F(queue_files, add_writes_lf_lines_and_dedupes_ignoring_case) {
  EXPECT_EQ(pending_add(L"fe80::a"), 0);
  EXPECT_EQ(pending_add(L"198.51.100.1"), 0);
  EXPECT_EQ(pending_text(), "fe80::a\n198.51.100.1\n");
  EXPECT_EQ(pending_add(L"FE80::A"), 0);
  EXPECT_EQ(pending_text(), "fe80::a\n198.51.100.1\n");
  EXPECT_EQ(pending_add(L""), -1);
  EXPECT_EQ(pending_add(nullptr), -1);
  EXPECT_EQ(list_folder(data.folder()), L"pending_delete_ips.txt") << "no temporary file left behind";
}

TEST_F(queue_files, hand_written_file_is_rewritten_clean) {
  write_bytes(pending_file(), "  192.0.2.1\r\n\r\n\t192.0.2.2 \r\n192.0.2.1\r\n" + std::string(70, '9') + "\r\n");
  EXPECT_EQ(pending_add(L"192.0.2.3"), 0);
  EXPECT_EQ(pending_text(), "192.0.2.1\n192.0.2.2\n192.0.2.3\n");
}

// The queue's lock as the service takes it: an object someone else created
// first (and so controls) is not adopted; one's own is.
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

TEST_F(queue_files, cap_of_32) {
  write_bytes(pending_file(), numbered_lines(1, 32));
  EXPECT_EQ(pending_add(L"10.0.0.33"), -1);
  EXPECT_EQ(pending_text(), numbered_lines(1, 32));
  EXPECT_EQ(pending_add(L"10.0.0.32"), 0) << "an address already queued is no addition";
}

TEST_F(queue_files, removing_the_last_entry_deletes_the_file) {
  pending_add(L"192.0.2.1");
  pending_add(L"192.0.2.2");
  EXPECT_EQ(pending_remove(L"192.0.2.9"), 0);
  EXPECT_EQ(pending_remove(L"192.0.2.1"), 0);
  EXPECT_EQ(pending_text(), "192.0.2.2\n");
  EXPECT_EQ(pending_remove(L"192.0.2.2"), 0);
  EXPECT_FALSE(file_exists(pending_file()));
  EXPECT_EQ(pending_save(pending_list{}), 0);
  EXPECT_FALSE(file_exists(pending_file())) << "an empty queue is no file, never an empty one";
}

TEST_F(queue_files, a_file_that_cannot_be_read_is_not_overwritten) {
  write_bytes(pending_file(), "192.0.2.1\n");
  file_handle holder(CreateFileW(pending_file().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(pending_add(L"192.0.2.2"), PENDING_WRITE_FAILED);
  holder.reset();
  EXPECT_EQ(pending_text(), "192.0.2.1\n");
  // The address it could not queue is not dropped: the next pass queues it.
  fake_net.answer = [](const recorded_request&) -> std::optional<std::string> { return "unreachable"; };
  pending_retry_pass(pass_mode::log);
  EXPECT_EQ(pending_text(), "192.0.2.1\n192.0.2.2\n");
}

TEST_F(retry_pass, each_entry_by_its_case) {
  write_bytes(pending_file(), "192.0.2.1\n203.0.113.7\n192.0.2.2\n192.0.2.3\n");
  fake_net.public_ip = L"203.0.113.7";
  wcscpy(agent.last_ip, L"203.0.113.7");
  fake_net.answer = [](const recorded_request& r) -> std::optional<std::string> {
    if (r.ip == L"192.0.2.2") return "server said no";
    if (r.ip == L"192.0.2.3") return "";
    return std::nullopt;
  };
  pending_retry_pass(pass_mode::log);

  EXPECT_EQ(request_lines(), (std::vector<std::wstring>{L"DELETE 192.0.2.1", L"DELETE 192.0.2.2", L"DELETE 192.0.2.3"}));
  for (const recorded_request& r : fake_net.requests) {
    EXPECT_EQ(r.token, L"token-A");
    EXPECT_EQ(r.server_url, L"https://allowlist.test");
    EXPECT_EQ(r.path, L"/api/public/whitelist");
  }
  EXPECT_EQ(fake_net.detections, 1);
  EXPECT_EQ(pending_text(), "192.0.2.2\n192.0.2.3\n");
  EXPECT_EQ(log_messages(), (std::vector<std::string>{
                                "Pending delete OK (straggler removed): 192.0.2.1",
                                "Pending delete dropped (same as current public IP): 203.0.113.7",
                                "Pending delete failed for 192.0.2.2: server said no",
                                "Pending delete failed for 192.0.2.3: (unknown)",
                            }));
}

// An address change between this pass's detection and the registration that
// follows it must not leave the current address untracked.
TEST_F(retry_pass, the_current_address_stays_queued_until_it_is_the_registered_one) {
  write_bytes(pending_file(), "203.0.113.7\n");
  fake_net.public_ip = L"203.0.113.7";
  wcscpy(agent.last_ip, L"198.51.100.1");
  pending_retry_pass(pass_mode::log);
  EXPECT_TRUE(fake_net.requests.empty()) << "the address in use is never removed";
  EXPECT_EQ(pending_text(), "203.0.113.7\n");
  EXPECT_EQ(log_text(), "");

  fake_net.public_ip = L"198.51.100.1";  // it changed back before being registered
  pending_retry_pass(pass_mode::log);
  EXPECT_EQ(request_lines(), std::vector<std::wstring>{L"DELETE 203.0.113.7"});
  EXPECT_FALSE(file_exists(pending_file()));
}

TEST_F(retry_pass, without_detection_every_entry_is_sent_and_all_removed_deletes_the_file) {
  write_bytes(pending_file(), "192.0.2.1\n192.0.2.2\n");
  pending_retry_pass(pass_mode::log);
  EXPECT_EQ(request_lines(), (std::vector<std::wstring>{L"DELETE 192.0.2.1", L"DELETE 192.0.2.2"}));
  EXPECT_FALSE(file_exists(pending_file()));
}

TEST_F(retry_pass, does_nothing_without_settings_or_entries) {
  pending_retry_pass(pass_mode::log);
  EXPECT_EQ(fake_net.detections, 0) << "an empty queue needs no detection";
  write_bytes(pending_file(), "192.0.2.1\n");
  agent_config.token[0] = L'\0';
  pending_retry_pass(pass_mode::log);
  EXPECT_EQ(fake_net.detections, 0);
  EXPECT_TRUE(fake_net.requests.empty());
  EXPECT_EQ(pending_text(), "192.0.2.1\n");
}

// Another process changes the queue while this pass waits for the server:
// what it added survives the pass's save, what it removed stays removed.
TEST_F(retry_pass, changes_made_meanwhile_by_another_process_survive) {
  write_bytes(pending_file(), "192.0.2.1\n192.0.2.2\n192.0.2.3\n");
  fake_net.answer = [this](const recorded_request& r) -> std::optional<std::string> {
    if (r.ip == L"192.0.2.1") {
      // What a command-line run does in the meantime, on the same file.
      EXPECT_EQ(pending_add(L"198.51.100.50"), 0);
      EXPECT_EQ(pending_remove(L"192.0.2.3"), 0);
      EXPECT_EQ(pending_text(), "192.0.2.1\n192.0.2.2\n198.51.100.50\n");
      return std::nullopt;
    }
    return "unreachable";
  };
  pending_retry_pass(pass_mode::log);
  EXPECT_EQ(request_lines().size(), 3u);
  EXPECT_EQ(pending_text(), "192.0.2.2\n198.51.100.50\n");
}

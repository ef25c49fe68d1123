// service.log: the line format, the cut, the 512 KiB rule and many threads.
#include <latch>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "agent_constants.h"
#include "agent_test_support.h"
#include "service_log.h"

using service_log_test = agent_test;

TEST_F(service_log_test, line_format_with_wide_and_narrow_arguments) {
  service_log("IP changed from %S to %S - removing old IP", L"198.51.100.1", L"203.0.113.7");
  service_log("%s", "\xc3\xa9 utf-8 passes as it is");
  std::string text = log_text();
  std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [^\r\n]*\r\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, line));
  EXPECT_EQ(m.position(0), 0);
  EXPECT_EQ(log_messages(), (std::vector<std::string>{"IP changed from 198.51.100.1 to 203.0.113.7 - removing old IP",
                                                      "\xc3\xa9 utf-8 passes as it is"}));
  EXPECT_EQ(std::regex_replace(text, line, ""), "") << "every byte belongs to a whole line";
}

TEST_F(service_log_test, long_message_is_cut_to_511_bytes) {
  service_log("%s", std::string(700, 'm').c_str());
  std::string text = log_text();
  EXPECT_EQ(text.size(), 20 + 511 + 2u);
  EXPECT_EQ(text.substr(text.size() - 3), "m\r\n");
}

TEST_F(service_log_test, restarts_only_above_512_kib) {
  std::wstring path = data.file(L"service.log");
  write_bytes(path, std::string(LOG_MAX_BYTES, 'x'));
  service_log("kept");
  std::string text = log_text();
  EXPECT_EQ(text.substr(0, LOG_MAX_BYTES), std::string(LOG_MAX_BYTES, 'x'));
  EXPECT_EQ(text.size(), LOG_MAX_BYTES + 26u);

  service_log("first of the new file");
  EXPECT_EQ(log_messages(), std::vector<std::string>{"first of the new file"});
}

TEST_F(service_log_test, creates_the_data_folder_and_needs_the_base) {
  RemoveDirectoryW(data.folder().c_str());
  service_log("hello");
  EXPECT_EQ(log_messages(), std::vector<std::string>{"hello"});

  _wputenv_s(L"ProgramData", (data.base() + L"\\missing").c_str());
  service_log("lost");  // only the debugger copy remains; no crash, no file
  EXPECT_FALSE(file_exists(data.base() + L"\\missing"));
}

// The restart must happen once even when several threads log at the moment
// the limit is passed: no line may be lost to a second deletion.
TEST_F(service_log_test, threads_logging_across_the_restart_lose_no_line) {
  constexpr int rounds = 40, threads = 4;
  for (int round = 0; round < rounds; ++round) {
    write_bytes(data.file(L"service.log"), std::string(LOG_MAX_BYTES + 1, 'x'));
    std::latch start(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&start, t] {
        start.arrive_and_wait();
        service_log("thread %d", t);
      });
    for (std::thread& t : pool) t.join();
    std::vector<std::string> messages = log_messages();
    ASSERT_EQ(messages.size(), static_cast<size_t>(threads)) << "round " << round;
    for (const std::string& m : messages) EXPECT_EQ(m.rfind("thread ", 0), 0u) << m;
  }
}

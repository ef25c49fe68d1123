// The data folder's paths and the two small state files, including what
// happens when another process holds a file open.
#include <gtest/gtest.h>

#include <cwchar>
#include <thread>

#include "agent_state.h"
#include "file_io.h"
#include "folder_security.h"
#include "handles.h"
#include "test_support.h"
#include "tray_files.h"

namespace {
class state_files : public ::testing::Test {
 protected:
  temp_program_data data;
  void SetUp() override { data.create_folder(); }
};

file_handle hold_open(const std::wstring& path, DWORD share) {
  return file_handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                 0, nullptr));
}
}  // namespace

TEST(data_paths, default_base_when_program_data_is_unset) {
  temp_program_data data;
  _wputenv_s(L"ProgramData", L"");  // removes the variable
  init_paths();
  EXPECT_STREQ(agent.config_path, L"C:\\ProgramData\\QOR Whitelist IP Updater\\whitelist.config");
  EXPECT_STREQ(agent.pending_path, L"C:\\ProgramData\\QOR Whitelist IP Updater\\pending_delete_ips.txt");
}

TEST(data_paths, long_base_is_cut_to_259_units) {
  temp_program_data data;
  std::wstring base = L"C:\\" + std::wstring(300, L'd');
  _wputenv_s(L"ProgramData", base.c_str());
  init_paths();
  EXPECT_EQ(std::wcslen(agent.last_error_path), PATH_CAPACITY - 1);
}

TEST_F(state_files, agent_last_ip_reading_rule) {
  std::wstring path = data.file(L"last_ip.txt");
  struct {
    std::string file;
    const wchar_t* expected;
  } cases[] = {
      {"203.0.113.7\r\nmore text", L"203.0.113.7"},
      {"  203.0.113.7", L"  203.0.113.7"},
      {std::string(70, '1'), L"111111111111111111111111111111111111111111111111111111111111111"},
      {"", L""},
  };
  for (const auto& c : cases) {
    write_bytes(path, c.file);
    wcscpy(agent.last_ip, L"previous");
    load_last_ip();
    EXPECT_STREQ(agent.last_ip, c.expected);
  }
  DeleteFileW(path.c_str());
  wcscpy(agent.last_ip, L"198.51.100.9");
  load_last_ip();
  EXPECT_STREQ(agent.last_ip, L"198.51.100.9") << "a missing file keeps the value";
}

TEST_F(state_files, tray_readers) {
  wchar_t ip[IP_CAPACITY] = L"stale";
  tray_read_last_ip(ip, IP_CAPACITY);
  EXPECT_STREQ(ip, L"") << "missing file reads as empty";
  write_bytes(data.file(L"last_ip.txt"), "203.0.113.7\n");
  tray_read_last_ip(ip, IP_CAPACITY);
  EXPECT_STREQ(ip, L"203.0.113.7");

  wchar_t error[256];
  EXPECT_EQ(tray_read_last_error(error, 256), -1);
  write_bytes(data.file(L"last_error.txt"), " \r\n\t \n");
  EXPECT_EQ(tray_read_last_error(error, 256), -1) << "blanks mean no error";
  write_bytes(data.file(L"last_error.txt"), "\r\n  Invalid token  ");
  ASSERT_EQ(tray_read_last_error(error, 256), 0);
  EXPECT_STREQ(error, L"Invalid token  ");
  EXPECT_EQ(tray_read_last_error(error, 0), -1);
  write_bytes(data.file(L"last_error.txt"), std::string(300, 'e'));
  EXPECT_EQ(tray_read_last_error(error, 256), -1) << "a text that fits no conversion counts as none";
  EXPECT_EQ(tray_read_last_error(error, 2048), 0);
}

TEST_F(state_files, last_error_write_and_delete) {
  std::wstring path = data.file(L"last_error.txt");
  ASSERT_EQ(write_last_error("Failed to add IP to whitelist."), 0);
  EXPECT_EQ(read_bytes(path), "Failed to add IP to whitelist.");
  write_last_error("");
  write_last_error(nullptr);
  EXPECT_EQ(read_bytes(path), "Failed to add IP to whitelist.") << "an empty text changes nothing";
  delete_last_error();
  EXPECT_FALSE(file_exists(path));
  delete_last_error();  // a missing file is no error
}

TEST_F(state_files, replace_waits_out_a_brief_lock) {
  std::wstring path = data.file(L"last_ip.txt");
  write_bytes(path, "old");
  file_handle reader = hold_open(path, FILE_SHARE_READ);
  ASSERT_TRUE(reader);
  std::thread release([&] {
    Sleep(60);
    reader.reset();
  });
  int result = replace_file(path.c_str(), "new", 3);
  release.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(read_bytes(path), "new");
}

TEST_F(state_files, replace_that_cannot_finish_keeps_the_old_file_whole) {
  std::wstring path = data.file(L"last_error.txt");
  write_bytes(path, "old text");
  {
    file_handle holder = hold_open(path, 0);
    ASSERT_TRUE(holder);
    EXPECT_EQ(replace_file(path.c_str(), "new", 3), -1);
  }
  EXPECT_EQ(read_bytes(path), "old text");
  EXPECT_EQ(list_folder(data.folder()), L"last_error.txt") << "the temporary file is removed";
}

// The service's guard, on a state file planted as a hard link to a file
// elsewhere (Wine counts hard links; it shows no link to a file).
TEST_F(state_files, guarded_state_files_refuse_hard_links) {
  static std::string refusals;
  ASSERT_EQ(guard_data_folder([](const wchar_t*, const char* why) { refusals += why; }), nullptr);
  std::wstring victim = data.base() + L"\\victim.txt";
  write_bytes(victim, "elsewhere");
  std::wstring path = data.file(L"last_ip.txt");
  ASSERT_TRUE(CreateHardLinkW(path.c_str(), victim.c_str(), nullptr));
  wchar_t ip[IP_CAPACITY];
  EXPECT_FALSE(read_last_ip_file(ip));
  wcscpy(agent.last_ip, L"198.51.100.9");
  EXPECT_EQ(write_last_ip_file(), -1);
  EXPECT_EQ(read_bytes(victim), "elsewhere");
  EXPECT_EQ(refusals, "it has more than one hard linkit has more than one hard link");

  DeleteFileW(path.c_str());
  EXPECT_EQ(write_last_ip_file(), 0);
  EXPECT_TRUE(read_last_ip_file(ip));
  EXPECT_STREQ(ip, L"198.51.100.9");
  EXPECT_EQ(list_folder(data.folder()), L"last_ip.txt service.lock")
      << "no temporary file is left; the anchor that keeps the folder from being emptied is held";
  EXPECT_FALSE(DeleteFileW(data.file(L"service.lock").c_str())) << "the anchor can't be deleted while held";
}

TEST_F(state_files, reader_waits_out_a_brief_writer) {
  std::wstring path = data.file(L"last_ip.txt");
  write_bytes(path, "203.0.113.8");
  file_handle writer = hold_open(path, 0);
  ASSERT_TRUE(writer);
  std::thread release([&] {
    Sleep(60);
    writer.reset();
  });
  wchar_t ip[IP_CAPACITY] = L"";
  tray_read_last_ip(ip, IP_CAPACITY);
  release.join();
  EXPECT_STREQ(ip, L"203.0.113.8");
}

// The configuration and state files, the tray's reading of them and its runs of the agent.
#include <thread>

#include "agent_run.h"
#include "allowlist_text.h"
#include "config_cipher.h"
#include "config_transfer.h"
#include "disk_space.h"
#include "folder_security.h"
#include "test_support.h"
#include "text.h"
#include "tray_files.h"

namespace {
// Made with: iv=000102030405060708090a0b0c0d0e0f
//   (printf "$iv" | xxd -r -p; printf '%s' "$PLAINTEXT" |
//    openssl enc -aes-128-cfb -K 52773854714c6d3256624e35785a6337 -iv $iv) | base64 -w0
constexpr uint8_t TEST_IV[CIPHER_BLOCK_BYTES] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
constexpr char PLAINTEXT[] = "token=abc\nserver_url=https://example.test\nfiles_name=\nfiles_token=\n";
constexpr char CIPHERTEXT[] =
    "\xf2\x5c\x28\x0a\x0f\xbc\xe2\x02\x4b\x65\x5a\xcb\x3b\x6c\x8e\x81\x3a\x76\x01\x9b\x8f\x4a\x87\xdd\xbf\x37"
    "\xf4"
    "\x3e\xdd\x49\xd6\x21\x37\x6d\x4d\x32\xa5\xad\x7e\xe6\x77\x39\x0a\x00\xdd\x9b\x26\x41\x21\xb3\x48\x08\x81"
    "\xdb\x50\x77\x43\x7b\x5e\xd9\x44\x47\xcb\x66\x49\x59\xa4";
constexpr char FILE_TEXT[] =
    "AAECAwQFBgcICQoLDA0OD/JcKAoPvOICS2VayztsjoE6dgGbj0qH3b839D7dSdYhN21NMqWtfuZ3OQoA3ZsmQSGzSAiB21B3Q3te2"
    "URHy2ZJWaQ=";

class config_file : public data_test {
 protected:
  std::wstring path = file(L"whitelist.config");
  std::string read() const {
    char text[CONFIG_TEXT_CAPACITY];
    return read_config_file(path.c_str(), text, sizeof text) ? text : "(refused)";
  }
};
using state_files = data_test;

file_handle hold_open(const std::wstring& path, DWORD share) {
  return file_handle(
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, 0, nullptr));
}

std::string json(const std::wstring& text) {
  char out[2048];
  json_escape(wstring_to_utf8(text.c_str()).c_str(), out, sizeof out);
  return "\"" + std::string(out) + "\"";
}

class agent_runs : public data_test {
 protected:
  std::wstring app = base + L"\\app";
  std::wstring program(const wchar_t* name) const { return app + L"\\" + name; }

  void SetUp() override {
    CreateDirectoryW(app.c_str(), nullptr);
    wchar_t own[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring stand_in =
        std::wstring(own).substr(0, std::wstring(own).rfind(L'\\')) + L"\\stand_in_agent.exe";
    ASSERT_TRUE(CopyFileW(stand_in.c_str(), program(L"whitelist.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(stand_in.c_str(), program(L"sync.exe").c_str(), FALSE));
  }
};
}  // namespace

TEST_F(config_file, openssl_known_answers) {
  std::string out(sizeof PLAINTEXT - 1, '\0');
  ASSERT_TRUE(config_cipher(TEST_IV, reinterpret_cast<const uint8_t*>(PLAINTEXT),
                            reinterpret_cast<uint8_t*>(out.data()), out.size(), cipher_direction::encrypt));
  EXPECT_EQ(out, std::string(CIPHERTEXT, out.size()));
  write_bytes(path, FILE_TEXT);
  EXPECT_EQ(read(), PLAINTEXT);
  ASSERT_TRUE(write_config_file(path.c_str(), "token=t\n"));
  std::string first = read_bytes(path);
  ASSERT_TRUE(write_config_file(path.c_str(), "token=t\n"));
  EXPECT_NE(read_bytes(path), first) << "every save draws a new initialisation vector";
  EXPECT_EQ(read(), "token=t\n");
}

// A save or an export that fails says why and leaves the old file whole.
TEST_F(config_file, failed_saves_and_exports_keep_the_file_and_say_why) {
  write_bytes(path, FILE_TEXT);
  // 200 characters of three UTF-8 bytes each do not fit the 511-byte field.
  wchar_t message[64] = L"";
  EXPECT_FALSE(
      tray_config_save(std::wstring(200, L'\u20ac').c_str(), L"https://a", nullptr, nullptr, message, 64));
  EXPECT_STREQ(message, L"Failed to write encrypted config.");
  EXPECT_EQ(read_bytes(path), FILE_TEXT);

  auto export_text = [](const std::wstring& destination) {
    wchar_t text[RUN_RESULT_TEXT_CAPACITY] = L"";
    transfer_result result = export_config_file(destination.c_str());
    if (result.status != transfer_status::done) export_failure_text(result, text, RUN_RESULT_TEXT_CAPACITY);
    return std::wstring(text);
  };
  std::wstring into_missing_folder = export_text(base + L"\\missing\\out.config");
  // The error's number, then the system's own words for it.
  EXPECT_EQ(into_missing_folder.rfind(L"Could not export config file (error ", 0), 0u) << into_missing_folder;
  EXPECT_LT(into_missing_folder.find(L"): "), into_missing_folder.size() - 4) << into_missing_folder;
  // A name too long to hold fails no Windows call: no error number then, not an earlier call's.
  EXPECT_EQ(export_text(base + L"\\" + std::wstring(300, L'x')), L"Could not export config file.");
  EXPECT_EQ(export_text(base + L"\\out.config"), L"");
  EXPECT_EQ(read_bytes(base + L"\\out.config"), FILE_TEXT);
  DeleteFileW(path.c_str());
  EXPECT_EQ(export_text(base + L"\\out.config"), L"No saved config found to export.");
}

// Another process holds a state file: a brief hold is waited out by the writer
// and the reader; a replacement that cannot finish keeps the old file whole.
TEST_F(state_files, a_held_file_is_waited_out_or_kept_whole) {
  std::wstring path = file(L"last_ip.txt");
  write_bytes(path, "203.0.113.8");
  {
    file_handle holder = hold_open(path, 0);
    ASSERT_TRUE(holder);
    EXPECT_FALSE(replace_file(path.c_str(), "new", 3));
  }
  EXPECT_EQ(read_bytes(path), "203.0.113.8");
  EXPECT_EQ(list_folder(folder()), std::set<std::wstring>{L"last_ip.txt"}) << "the temporary file is removed";
  file_handle reader = hold_open(path, FILE_SHARE_READ);
  ASSERT_TRUE(reader);
  std::jthread release_reader([&] {
    Sleep(60);
    reader.reset();
  });
  EXPECT_TRUE(replace_file(path.c_str(), "203.0.113.9", 11));
  file_handle writer = hold_open(path, 0);
  ASSERT_TRUE(writer);
  std::jthread release_writer([&] {
    Sleep(60);
    writer.reset();
  });
  wchar_t ip[IP_CAPACITY] = L"";
  tray_read_last_ip(ip, IP_CAPACITY);
  EXPECT_STREQ(ip, L"203.0.113.9");
}

// A state file planted as a hard link (Wine counts them; it hides file links).
// The guard holds for the rest of the process: CTest runs this test apart.
TEST_F(state_files, guarded_state_files_refuse_hard_links) {
  static std::string refusals;
  ASSERT_EQ(guard_data_folder([](const wchar_t*, const char* why) { refusals += why; }, true).reason,
            nullptr);
  std::wstring victim = base + L"\\victim.txt";
  write_bytes(victim, "elsewhere");
  std::wstring path = file(L"last_ip.txt");
  ASSERT_TRUE(CreateHardLinkW(path.c_str(), victim.c_str(), nullptr));
  wchar_t ip[IP_CAPACITY];
  EXPECT_FALSE(read_last_ip_file(agent, ip));
  wcscpy(agent.last_ip, L"198.51.100.9");
  EXPECT_FALSE(write_last_ip_file(agent));
  EXPECT_EQ(read_bytes(victim), "elsewhere");
  EXPECT_EQ(refusals, "it has more than one hard linkit has more than one hard link");

  DeleteFileW(path.c_str());
  EXPECT_TRUE(write_last_ip_file(agent));
  EXPECT_TRUE(read_last_ip_file(agent, ip));
  EXPECT_STREQ(ip, L"198.51.100.9");
  EXPECT_EQ(list_folder(folder()), (std::set<std::wstring>{L"last_ip.txt", L"service.lock"}))
      << "no temporary file is left; the anchor that keeps the folder from being emptied is held";
  EXPECT_FALSE(DeleteFileW(file(L"service.lock").c_str())) << "the anchor can't be deleted while held";
}

// The bytes a download wrote since the last reading count against it; the
// test hook stands in for the volume's free space.
TEST_F(state_files, a_download_keeps_the_minimum_free) {
  SetEnvironmentVariableW(FREE_BYTES_TEST_VARIABLE, std::to_wstring(DOWNLOAD_MIN_FREE_BYTES + 10000).c_str());
  disk_room room(file(L"download.bin").c_str());
  EXPECT_FALSE(room.allows(10001));
  EXPECT_TRUE(room.take(6000));
  EXPECT_FALSE(room.take(5000));
  EXPECT_TRUE(room.take(4000));
  SetEnvironmentVariableW(FREE_BYTES_TEST_VARIABLE, nullptr);
}

// The one round trip of the argument quoting: the hardest values, split by a real child.
TEST_F(agent_runs, files_values_reach_the_child_intact) {
  const std::wstring quotes(255, L'"');
  const std::pair<std::wstring, std::wstring> values[] = {
      {L"BIRCH \"LLC\" \\", L"tok\\"},
      {L"a\\\"b", L"tab\there \u00e9"},
      {quotes, quotes},
  };
  for (const auto& [name, token] : values) {
    wchar_t text[RUN_RESULT_TEXT_CAPACITY];
    int code = -7;
    EXPECT_TRUE(run_files_download_in(app.c_str(), FILES_WAIT_MS, name.c_str(), token.c_str(), &code, text,
                                      RUN_RESULT_TEXT_CAPACITY));
    std::string argv = "\"argv\": [" + json(program(L"sync.exe")) + ", \"files\", \"--name\", " + json(name) +
                       ", \"--token\", " + json(token) + "]";
    EXPECT_NE(read_bytes(program(L"sync.exe") + L".log").find(argv), std::string::npos) << argv;
  }
}

TEST_F(agent_runs, a_child_that_outlives_the_bound_is_stopped_and_reported) {
  write_bytes(program(L"whitelist.exe") + L".script", "hold\n");
  wchar_t text[RUN_RESULT_TEXT_CAPACITY] = L"";
  int code = -7;
  EXPECT_FALSE(run_whitelist_sync_in(app.c_str(), 300, &code, text, RUN_RESULT_TEXT_CAPACITY));
  EXPECT_EQ(std::wstring(text).rfind(L"whitelist.exe did not finish within ", 0), 0u) << text;
  EXPECT_EQ(code, -7);
  // Stopped, not left behind: its file can be replaced now.
  EXPECT_TRUE(DeleteFileW(program(L"whitelist.exe").c_str())) << GetLastError();
}

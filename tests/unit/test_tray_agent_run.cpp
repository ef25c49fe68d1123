// The tray's runs of the agent against a stand-in agent program (it records
// how it was started and exits as its script says), and import/export of the
// configuration file.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "agent_run.h"
#include "config_store.h"
#include "config_transfer.h"
#include "test_support.h"
#include "agent_launch.h"
#include "config_window.h"

namespace {
std::wstring own_folder() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.rfind(L'\\'));
}

// A folder with the stand-in agent under both of the agent's file names.
class agent_runs : public ::testing::Test {
 protected:
  temp_program_data data;
  std::wstring folder;

  void SetUp() override {
    data.create_folder();
    folder = data.base() + L"\\app";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring stand_in = own_folder() + L"\\stand_in_agent.exe";
    ASSERT_TRUE(CopyFileW(stand_in.c_str(), program(L"whitelist.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(stand_in.c_str(), program(L"sync.exe").c_str(), FALSE));
  }

  std::wstring program(const wchar_t* name) const { return folder + L"\\" + name; }
  void script(const wchar_t* name, const std::string& lines) const {
    write_bytes(program(name) + L".script", lines);
  }
  std::string log(const wchar_t* name) const { return read_bytes(program(name) + L".log"); }

  int sync(std::wstring& message, int& code, DWORD wait_ms = SYNC_WAIT_MS) const {
    wchar_t text[CONFIG_MESSAGE_CAPACITY] = L"untouched";
    int r = run_whitelist_sync_in(folder.c_str(), wait_ms, &code, text, CONFIG_MESSAGE_CAPACITY);
    message = text;
    return r;
  }
  int files(const wchar_t* name, const wchar_t* token, std::wstring& message, int& code) const {
    wchar_t text[RUN_RESULT_TEXT_CAPACITY] = L"untouched";
    int r = run_files_download_in(folder.c_str(), FILES_WAIT_MS, name, token, &code, text, RUN_RESULT_TEXT_CAPACITY);
    message = text;
    return r;
  }
};

std::string utf8_path(const std::wstring& path) {
  std::string out;
  for (wchar_t c : path) {
    if (c == L'\\') out += "\\\\";
    else out += static_cast<char>(c);
  }
  return out;
}
}  // namespace

TEST_F(agent_runs, sync_success_runs_the_exact_command_line) {
  std::wstring message;
  int code = -7;
  EXPECT_EQ(sync(message, code), 0);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(message, L"untouched") << "no message on success";
  std::string p = utf8_path(program(L"whitelist.exe"));
  EXPECT_EQ(log(L"whitelist.exe"), "{\"command_line\": \"\\\"" + p + "\\\" sync\", \"argv\": [\"" + p +
                                       "\", \"sync\"], \"program_data\": \"" + utf8_path(data.base()) + "\"}\n")
      << "the tray's environment goes to the child";
}

TEST_F(agent_runs, sync_failure_reports_the_agents_last_error_or_a_fallback) {
  script(L"whitelist.exe", "last-error Error: unauthorized (401) - check the token\nexit 3\n");
  std::wstring message;
  int code = 0;
  EXPECT_EQ(sync(message, code), -1);
  EXPECT_EQ(code, 3);
  EXPECT_EQ(message, L"Error: unauthorized (401) - check the token");

  DeleteFileW(data.file(L"last_error.txt").c_str());
  script(L"whitelist.exe", "exit 1\n");
  EXPECT_EQ(sync(message, code), -1);
  EXPECT_EQ(message, L"Whitelist sync failed. Check configuration.");
  write_bytes(data.file(L"last_error.txt"), " \r\n");
  EXPECT_EQ(sync(message, code), -1);
  EXPECT_EQ(message, L"Whitelist sync failed. Check configuration.") << "a blank last error is no text";
}

TEST_F(agent_runs, missing_programs_are_named) {
  DeleteFileW(program(L"whitelist.exe").c_str());
  DeleteFileW(program(L"sync.exe").c_str());
  std::wstring message;
  int code = -7;
  EXPECT_EQ(sync(message, code), -1);
  EXPECT_EQ(message, L"Could not find whitelist.exe in the install folder.");
  EXPECT_EQ(files(L"n", L"t", message, code), -1);
  EXPECT_EQ(message, L"Could not find sync.exe in the install folder.");
  EXPECT_EQ(code, -7) << "no child, no exit code";
  wchar_t text[64];
  EXPECT_EQ(run_whitelist_sync_in(nullptr, SYNC_WAIT_MS, nullptr, text, 64), -1);
  EXPECT_STREQ(text, L"Could not find whitelist.exe in the install folder.") << "no install folder";
}

TEST_F(agent_runs, a_program_that_cannot_start_reports_the_system_error) {
  write_bytes(program(L"whitelist.exe"), "not a program");
  std::wstring message;
  int code = 0;
  EXPECT_EQ(sync(message, code), -1);
  EXPECT_EQ(message.rfind(L"Failed to start whitelist.exe (error ", 0), 0u) << message;
  EXPECT_EQ(message.back(), L'.');
}

TEST_F(agent_runs, files_values_arrive_intact_and_failures_are_worded) {
  std::wstring message;
  int code = -7;
  EXPECT_EQ(files(L"BIRCH \"LLC\" \\", L"tok\\", message, code), 0);
  EXPECT_EQ(code, 0);
  std::string p = utf8_path(program(L"sync.exe"));
  std::string logged = log(L"sync.exe");
  EXPECT_NE(logged.find("\"argv\": [\"" + p +
                        "\", \"files\", \"--name\", \"BIRCH \\\"LLC\\\" \\\\\", \"--token\", \"tok\\\\\"]"),
            std::string::npos)
      << logged;

  script(L"sync.exe", "exit 1\n");
  EXPECT_EQ(files(L"n", L"t", message, code), -1);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(message, L"File download failed. Check files customer name and token.");
}

TEST_F(agent_runs, files_without_name_or_token_start_nothing) {
  std::wstring message;
  int code = -7;
  for (auto [name, token] : {std::pair{L"", L"t"}, {L"n", L""}}) {
    EXPECT_EQ(files(name, token, message, code), -1);
    EXPECT_EQ(message, L"Files customer name and files token are required.");
  }
  wchar_t text[64];
  EXPECT_EQ(run_files_download_in(nullptr, FILES_WAIT_MS, nullptr, L"t", nullptr, text, 64), -1);
  EXPECT_STREQ(text, L"Files customer name and files token are required.") << "checked before the program";
  EXPECT_EQ(log(L"sync.exe"), "");
}

TEST_F(agent_runs, a_child_that_outlives_the_bound_is_stopped_and_reported) {
  script(L"whitelist.exe", "hold\n");
  std::wstring message;
  int code = -7;
  EXPECT_EQ(sync(message, code, 300), -1);
  EXPECT_EQ(message.rfind(L"whitelist.exe did not finish within ", 0), 0u) << message;
  EXPECT_EQ(code, -7);
  // Stopped, not left behind: its file can be replaced now.
  EXPECT_TRUE(DeleteFileW(program(L"whitelist.exe").c_str())) << GetLastError();
}

TEST_F(agent_runs, import_replaces_the_configuration_whole_or_not_at_all) {
  std::wstring config = data.file(L"whitelist.config");
  std::wstring chosen = data.base() + L"\\chosen.config";
  write_bytes(config, "the old configuration");
  for (const std::wstring& bad : {std::wstring(), data.base() + L"\\missing.config", folder}) {
    EXPECT_EQ(import_config_file(bad.c_str()), -1) << bad.c_str();
    EXPECT_EQ(read_bytes(config), "the old configuration");
  }
  EXPECT_EQ(import_config_file(nullptr), -1);

  std::string content(70000, 'c');  // any content, longer than one copy chunk
  write_bytes(chosen, content);
  ASSERT_EQ(import_config_file(chosen.c_str()), 0);
  EXPECT_EQ(read_bytes(config), content);
  EXPECT_EQ(import_config_file(config.c_str()), 0) << "the stored file itself";
  EXPECT_EQ(read_bytes(config), content);
  EXPECT_EQ(list_folder(data.folder()), L"whitelist.config") << "no temporary file left";

  DeleteFileW(config.c_str());
  RemoveDirectoryW(data.folder().c_str());
  ASSERT_EQ(import_config_file(chosen.c_str()), 0) << "the data folder is created";
  EXPECT_EQ(read_bytes(config), content);
}

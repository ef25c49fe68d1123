#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "agent_state.h"

// A test with a fresh temporary ProgramData, its data folder in place and
// an agent state whose paths are filled from it.
class data_test : public ::testing::Test {
 protected:
  std::wstring base;
  agent_state agent;
  data_test() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // Wine hands a finished test's process id to the next one at once: a name
    // that exists already belongs to someone else, so the next one is tried.
    static unsigned counter = 0;
    do {
      base = std::wstring(temp) + L"wl-unit-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    } while (!CreateDirectoryW(base.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    CreateDirectoryW(folder().c_str(), nullptr);
    _wputenv_s(L"ProgramData", base.c_str());
    EXPECT_TRUE(init_paths(agent));
  }
  ~data_test() override {
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    _wputenv_s(L"ProgramData", L"");
  }
  std::wstring folder() const { return base + L"\\" + DATA_FOLDER_NAME; }
  std::wstring file(const wchar_t* name) const { return folder() + L"\\" + name; }
};

inline void write_bytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream file(std::filesystem::path(path), std::ios::binary);
  ASSERT_TRUE(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush())
      << "cannot write test file";
}

inline std::string read_bytes(const std::wstring& path) {  // empty when missing
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::set<std::wstring> list_folder(const std::wstring& folder) {
  std::set<std::wstring> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    names.insert(entry.path().filename().wstring());
  return names;
}

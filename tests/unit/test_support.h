// Helpers for tests that touch files: a private ProgramData folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// A test with a fresh temporary ProgramData, its data folder in place and
// the agent's paths filled from it.
class data_test : public ::testing::Test {
 protected:
  std::wstring base;
  data_test();
  ~data_test() override;
  std::wstring folder() const;  // base\QOR Whitelist IP Updater
  std::wstring file(const wchar_t* name) const { return folder() + L"\\" + name; }
};

void write_bytes(const std::wstring& path, const std::string& bytes);
std::string read_bytes(const std::wstring& path);  // empty when missing
bool file_exists(const std::wstring& path);
std::wstring list_folder(const std::wstring& folder);  // names, sorted, blank-separated

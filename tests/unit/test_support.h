// Helpers for tests that touch files: a private ProgramData folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// Points ProgramData at a fresh temporary folder for the lifetime of the
// object and fills the agent's paths from it.
class temp_program_data {
 public:
  temp_program_data();
  ~temp_program_data();
  temp_program_data(const temp_program_data&) = delete;

  const std::wstring& base() const { return base_; }
  std::wstring folder() const;  // base\QOR Whitelist IP Updater
  std::wstring file(const wchar_t* name) const { return folder() + L"\\" + name; }

 private:
  std::wstring base_;
};

// A test with its data folder in place.
class data_test : public ::testing::Test {
 protected:
  temp_program_data data;
  void SetUp() override { CreateDirectoryW(data.folder().c_str(), nullptr); }
};

void write_bytes(const std::wstring& path, const std::string& bytes);
std::string read_bytes(const std::wstring& path);  // empty when missing
bool file_exists(const std::wstring& path);
std::wstring list_folder(const std::wstring& folder);  // names, sorted, blank-separated

// Helpers for unit tests that touch files: a private ProgramData folder.
#pragma once

#include <windows.h>

#include <string>

// Points ProgramData at a fresh temporary folder for the lifetime of the
// object and fills the agent's paths from it.
class temp_program_data {
 public:
  temp_program_data();
  ~temp_program_data();
  temp_program_data(const temp_program_data&) = delete;
  temp_program_data& operator=(const temp_program_data&) = delete;

  const std::wstring& base() const { return base_; }
  // base\QOR Whitelist IP Updater
  std::wstring folder() const;
  std::wstring file(const wchar_t* name) const { return folder() + L"\\" + name; }
  void create_folder() const;

 private:
  std::wstring base_;
};

void write_bytes(const std::wstring& path, const std::string& bytes);
std::string read_bytes(const std::wstring& path);  // empty when missing
bool file_exists(const std::wstring& path);
// Names of the files in a folder, sorted.
std::wstring list_folder(const std::wstring& folder);

#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "agent_state.h"
#include "data_folder.h"

data_test::data_test() {
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
  init_paths();
}

data_test::~data_test() {
  std::error_code ignored;
  std::filesystem::remove_all(base, ignored);
  _wputenv_s(L"ProgramData", L"");
}

std::wstring data_test::folder() const { return base + L"\\" + DATA_FOLDER_NAME; }

void write_bytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream file(std::filesystem::path(path), std::ios::binary);
  ASSERT_TRUE(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) << "cannot write test file";
}

std::string read_bytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring list_folder(const std::wstring& folder) {
  std::set<std::wstring> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
    names.insert(entry.path().filename().wstring());
  std::wstring out;
  for (const std::wstring& name : names) out += (out.empty() ? L"" : L" ") + name;
  return out;
}

// The programs are built with -municode, so the test runner has a wide entry too.
int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

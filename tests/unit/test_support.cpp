#include "test_support.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "agent_state.h"
#include "handles.h"

namespace {
void remove_tree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = dir + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(dir.c_str());
}
}  // namespace

temp_program_data::temp_program_data() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  // Wine hands a finished test's process id to the next one at once: a name
  // that exists already belongs to someone else, so the next one is tried.
  static unsigned counter = 0;
  do {
    base_ = std::wstring(temp) + L"wl-unit-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
  } while (!CreateDirectoryW(base_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
  _wputenv_s(L"ProgramData", base_.c_str());
  init_paths();
}

temp_program_data::~temp_program_data() {
  remove_tree(base_);
  _wputenv_s(L"ProgramData", L"");
}

std::wstring temp_program_data::folder() const { return base_ + L"\\" + DATA_FOLDER_NAME; }

void temp_program_data::create_folder() const { CreateDirectoryW(folder().c_str(), nullptr); }

void write_bytes(const std::wstring& path, const std::string& bytes) {
  file_handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << "cannot create test file";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

std::string read_bytes(const std::wstring& path) {
  file_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string out;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  return out;
}

bool file_exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring list_folder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  std::sort(names.begin(), names.end());
  std::wstring out;
  for (const std::wstring& n : names) out += (out.empty() ? L"" : L" ") + n;
  return out;
}

// The programs are built with -municode, so the test runner has a wide entry too.
int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

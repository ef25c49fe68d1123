// "secure-folders <install folder>": run by the elevated installers after
// copying the programs. Gives the data folder, the install folder's "files"
// and an install folder outside Program Files their security. "files" is
// the programs' own: users download into folders of their own.
#include <windows.h>

#include <cwchar>

#include "commands.h"
#include "console.h"
#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"
#include "text.h"

namespace {
constexpr wchar_t FILES_FOLDER_NAME[] = L"files";

bool secured(const wchar_t* folder, folder_problem problem) {
  if (problem) {
    console_print(L"Failed to secure %s: %S (error %lu).\n", folder, problem, GetLastError());
    return false;
  }
  console_print(L"Secured %s\n", folder);
  return true;
}

// One child of "files", through its own handle, which is never what a link
// leads to: a link, or a second name of a file elsewhere, loses its name;
// anything else gets the protected list.
bool resecure_child(const wchar_t* path) {
  file_handle child(CreateFileW(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!child) return secured(path, "it can't be opened");
  folder_problem problem = plain_file_problem(child.get());
  if (!problem)
    return apply_security(child.get(), PROGRAM_FOLDER_SDDL) || secured(path, "its security can't be set");
  // Wine follows a link to a folder even here and shows it only by its path:
  // a handle that is not the link itself must not remove anything.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  DWORD by_path = GetFileAttributesW(path);
  bool followed = !GetFileInformationByHandleEx(child.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
                  (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && by_path != INVALID_FILE_ATTRIBUTES &&
                   (by_path & FILE_ATTRIBUTE_REPARSE_POINT));
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (followed || !SetFileInformationByHandle(child.get(), FileDispositionInfo, &dispose, sizeof dispose))
    return secured(path, followed ? "it is a link" : problem);
  console_print(L"Removed %s: %S.\n", path, problem);
  return true;
}

// What users put in "files" while it was open to them, one child at a time:
// securing the folder itself rewrites none of them.
bool resecure_children(const wchar_t* files) {
  wchar_t pattern[PATH_CAPACITY];
  if (!format_bounded(pattern, PATH_CAPACITY, L"%s\\*", files)) return false;
  WIN32_FIND_DATAW found;
  find_handle search(FindFirstFileW(pattern, &found));
  if (!search) return secured(files, "its contents can't be listed");
  bool ok = true;
  do {
    if (!std::wcscmp(found.cFileName, L".") || !std::wcscmp(found.cFileName, L"..")) continue;
    wchar_t path[PATH_CAPACITY];
    bool fits = format_bounded(path, PATH_CAPACITY, L"%s\\%s", files, found.cFileName);
    ok = (fits ? resecure_child(path) : secured(files, "a name is too long")) && ok;
  } while (FindNextFileW(search.get(), &found));
  return ok;
}
}  // namespace

int secure_folders_command(int argc, wchar_t** argv) {
  if (argc != 3 || !argv[2][0]) {
    console_print(L"Usage: whitelist secure-folders \"<install folder>\"\n");
    return EXIT_FAILED;
  }
  wchar_t install[PATH_CAPACITY];
  DWORD len = GetFullPathNameW(argv[2], PATH_CAPACITY, install, nullptr);
  wchar_t files[PATH_CAPACITY];
  if (len == 0 || len >= PATH_CAPACITY || !format_bounded(files, PATH_CAPACITY, L"%s\\%s", install, FILES_FOLDER_NAME)) {
    console_print(L"Install folder path is too long: %s\n", argv[2]);
    return EXIT_FAILED;
  }
  wchar_t data[PATH_CAPACITY];
  if (!data_folder_path(data, PATH_CAPACITY)) {
    console_print(L"Data folder path is too long.\n");
    return EXIT_FAILED;
  }

  file_handle held;
  bool ok = secured(data, secure_data_folder(held));
  // The install folder first: its protected DACL reaches the programs, and
  // "files" then gets its own.
  if (!is_under_program_files(install)) ok = secured(install, secure_folder(install, PROGRAM_FOLDER_SDDL, held)) && ok;
  // An upgrade keeps what an older version's open "files" holds.
  file_handle files_held;
  ok = secured(files, secure_folder(files, PROGRAM_FOLDER_SDDL, files_held)) && ok;
  if (files_held) ok = resecure_children(files) && ok;
  return ok ? EXIT_OK : EXIT_FAILED;
}

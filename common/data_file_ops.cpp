// STAND-IN until the held-folder module lands: delete_data_file by path,
// refusing links and shared files the way the guarded opens do. Drop this
// file when the module's own definition is merged.
#include <windows.h>

#include "data_folder.h"
#include "file_io.h"

bool delete_data_file(const wchar_t* name) {
  wchar_t path[PATH_CAPACITY];
  if (!data_file_path(name, path, PATH_CAPACITY) || state_folder_problem()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  file_handle file(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT | state_file_flags(), nullptr));
  if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if (state_file_problem(file.get())) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  FILE_DISPOSITION_INFO dispose{TRUE};
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

#include "data_folder.h"

#include <windows.h>

#include <cstdlib>

#include "text.h"

namespace {
constexpr wchar_t DATA_PATH_FORMAT[] = L"%s\\%s\\%s";
constexpr wchar_t DATA_FOLDER_FORMAT[] = L"%s\\%s";

const wchar_t* program_data_dir() {
  const wchar_t* base = _wgetenv(L"ProgramData");
  return (base && *base) ? base : DEFAULT_PROGRAM_DATA;
}
}  // namespace

bool data_file_path(const wchar_t* file_name, wchar_t* out, size_t cap) {
  if (format_bounded(out, cap, DATA_PATH_FORMAT, program_data_dir(), DATA_FOLDER_NAME, file_name))
    return true;
  // A cut path would name another file; an empty one opens none.
  if (out && cap > 0) out[0] = L'\0';
  return false;
}

bool data_folder_path(wchar_t* out, size_t cap) {
  return format_bounded(out, cap, DATA_FOLDER_FORMAT, program_data_dir(), DATA_FOLDER_NAME);
}

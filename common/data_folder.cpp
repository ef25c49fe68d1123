#include "data_folder.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "file_io.h"
#include "pending_text.h"
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

read_result read_state_file(const wchar_t* path, char* buf, size_t max) {
  file_handle file = open_for_reading(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!file) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? read_result::missing
                                                                          : read_result::unreadable;
  }
  long got = read_up_to(file.get(), buf, max);
  if (got < 0) return read_result::unreadable;
  buf[got] = '\0';
  return read_result::ok;
}

read_result read_last_ip(const wchar_t* path, wchar_t* out, size_t cap) {
  char text[IP_CAPACITY];
  read_result result = read_state_file(path, text, LAST_IP_READ_MAX);
  if (result != read_result::ok) return result;
  // Anything but a plain address reads as none: it is never sent.
  wchar_t ip[IP_CAPACITY];
  if (!address_line(text, std::strcspn(text, "\r\n"), ip)) ip[0] = L'\0';
  copy_bounded(out, cap < IP_CAPACITY ? cap : IP_CAPACITY, ip);
  return result;
}

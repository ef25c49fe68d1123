#include "state_files.h"

#include <windows.h>

#include <cstring>

#include "file_io.h"
#include "text.h"

read_result read_state_file(const wchar_t* path, char* buf, size_t max) {
  file_handle file = open_for_reading(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!file) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? read_result::missing
                                                                          : read_result::unreadable;
  }
  size_t got = 0;
  if (!read_up_to(file.get(), buf, max, got)) return read_result::unreadable;
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

read_result read_pending_file(const wchar_t* path, pending_list& out, int max) {
  out.count = 0;
  char text[PENDING_READ_MAX + 1];
  read_result result = read_state_file(path, text, PENDING_READ_MAX);
  if (result == read_result::ok) parse_pending_text(text, out, max);
  return result;
}

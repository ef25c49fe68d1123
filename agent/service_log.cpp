#include "service_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>
#include <mutex>

#include "agent_constants.h"
#include "data_folder.h"
#include "handles.h"
#include "text.h"

namespace {
// The worker and the control handler's thread log at the same time; the size
// check, the deletion and the append of one line happen as one step.
std::mutex log_lock;

file_handle open_log(const wchar_t* path, DWORD disposition) {
  return file_handle(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}
}  // namespace

int log_path(wchar_t* buf, size_t cap) {
  if (!data_file_path(LOG_FILE_NAME, buf, cap)) return -1;
  return static_cast<int>(std::wcslen(buf));
}

void service_log(const char* format, ...) {
  char message[LOG_MESSAGE_CAPACITY];
  va_list args;
  va_start(args, format);
  vformat_bounded(message, sizeof message, format, args);
  va_end(args);
  OutputDebugStringA(message);
  OutputDebugStringA("\n");

  wchar_t path[PATH_CAPACITY];
  log_path(path, PATH_CAPACITY);
  ensure_data_folder(path);
  SYSTEMTIME now;
  GetLocalTime(&now);
  char line[LOG_LINE_CAPACITY];
  format_bounded(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond, message);

  std::lock_guard lock(log_lock);
  file_handle log = open_log(path, OPEN_ALWAYS);
  if (!log) return;
  LARGE_INTEGER size;
  if (GetFileSizeEx(log.get(), &size) && size.QuadPart > LOG_MAX_BYTES) {
    log.reset();
    DeleteFileW(path);
    // Create-always also empties a file that another open handle kept alive.
    log = open_log(path, CREATE_ALWAYS);
    if (!log) return;
  }
  DWORD written = 0;
  WriteFile(log.get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

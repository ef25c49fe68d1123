#include "service_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>
#include <mutex>

#include "agent_constants.h"
#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"
#include "handles.h"
#include "text.h"

namespace {
// The worker and the control handler's thread log at the same time; the size
// check, the deletion and the append of one line happen as one step.
std::mutex log_lock;

// Checked like every state file once the service guards them; the handle
// may also delete the log, so that the size cap removes the very file that
// was checked, never whatever the name leads to by then.
file_handle open_log(const wchar_t* path, DWORD disposition) {
  if (state_folder_problem()) return {};
  file_handle log(CreateFileW(path, FILE_APPEND_DATA | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL | state_file_flags(), nullptr));
  if (log && state_file_problem(log.get())) log.reset();
  return log;
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
    FILE_DISPOSITION_INFO dispose{TRUE};
    SetFileInformationByHandle(log.get(), FileDispositionInfo, &dispose, sizeof dispose);
    log.reset();
    log = open_log(path, OPEN_ALWAYS);
    if (!log) return;
  }
  DWORD written = 0;
  WriteFile(log.get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

void log_refused_file(const wchar_t* path, const char* why) { service_log("Refused %S: %s", path, why); }

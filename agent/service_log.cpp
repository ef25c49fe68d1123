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
// The size check, the rotation and the append of one line happen as one step,
// whichever thread logs (in the service, service_main before the worker
// starts and the worker after; the control handler never logs).
std::mutex log_lock;
// Set while this thread writes the log: a refusal of the log's own files
// found meanwhile goes to the debugger only, not back into the log.
thread_local bool writing_log = false;

struct writing_scope {
  writing_scope() { writing_log = true; }
  ~writing_scope() { writing_log = false; }
  writing_scope(const writing_scope&) = delete;
  writing_scope& operator=(const writing_scope&) = delete;
};

// Write access rather than append only, so that the log can also be started
// again through this handle; lines are appended at its end.
file_handle open_log() {
  return open_data_file(LOG_FILE_NAME, FILE_WRITE_DATA | FILE_APPEND_DATA,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true);
}

bool over_cap(HANDLE log) {
  LARGE_INTEGER size;
  return GetFileSizeEx(log, &size) && size.QuadPart > LOG_MAX_BYTES;
}
}  // namespace

void service_log(const char* format, ...) {
  char message[LOG_MESSAGE_CAPACITY];
  va_list args;
  va_start(args, format);
  vformat_bounded(message, sizeof message, format, args);
  va_end(args);
  OutputDebugStringA(message);
  OutputDebugStringA("\n");

  wchar_t path[PATH_CAPACITY];
  if (data_file_path(LOG_FILE_NAME, path, PATH_CAPACITY)) ensure_data_folder(path);
  SYSTEMTIME now;
  GetLocalTime(&now);
  char line[LOG_LINE_CAPACITY];
  format_bounded(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond, message);

  std::lock_guard lock(log_lock);
  writing_scope writing;
  file_handle log = open_log();
  if (!log) return;
  if (over_cap(log.get())) {
    log.reset();
    (void)rename_data_file(LOG_FILE_NAME, LOG_HISTORY_FILE_NAME);
    log = open_log();
    FILE_END_OF_FILE_INFO empty{};
    if (!log || (over_cap(log.get()) &&
                 !SetFileInformationByHandle(log.get(), FileEndOfFileInfo, &empty, sizeof empty)))
      return;
  }
  LARGE_INTEGER end{};
  DWORD written = 0;
  if (SetFilePointerEx(log.get(), end, nullptr, FILE_END))
    WriteFile(log.get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

void log_refused_file(const wchar_t* path, const char* why) {
  if (!writing_log) {
    service_log("Refused %S: %s", path, why);
    return;
  }
  char message[LOG_MESSAGE_CAPACITY];
  format_bounded(message, sizeof message, "Refused %S: %s\n", path, why);
  OutputDebugStringA(message);
}

#include "agent_run.h"

#include "agent_command.h"
#include "file_io.h"
#include "handles.h"
#include "text.h"
#include "tray_files.h"

namespace {
constexpr DWORD STOP_WAIT_MS = 10000;
constexpr DWORD MS_PER_MINUTE = 60000;

// The folder of the tray's own program, or false when its path is unusable.
bool install_folder(wchar_t* out, size_t cap) {
  wchar_t* name;
  if (!program_path(out, cap, &name) || name == out) return false;
  name[-1] = L'\0';
  return true;
}

// A path cut to fit would name some other file, so it counts as not found.
bool find_program(const wchar_t* folder, const wchar_t* file_name, wchar_t* out, size_t cap) {
  return folder && format_bounded(out, cap, L"%s\\%s", folder, file_name) &&
         GetFileAttributesW(out) != INVALID_FILE_ATTRIBUTES;
}

void write_message(wchar_t* message, size_t cap, const wchar_t* format, ...) {
  if (!message || cap == 0) return;
  va_list args;
  va_start(args, format);
  vformat_bounded(message, cap, format, args);
  va_end(args);
}

enum class run_end { exited_ok, exited_failed, not_run };

// Finds, starts and waits for one agent child. On not_run the message is
// written; on exited_failed the caller words the failure.
template <typename BuildLine>
run_end run_agent(const wchar_t* folder, const wchar_t* program, BuildLine build_line, bool hidden,
                  DWORD wait_ms, int* exit_code, wchar_t* message, size_t cap) {
  wchar_t path[PROGRAM_PATH_CAPACITY];
  if (!find_program(folder, program, path, PROGRAM_PATH_CAPACITY)) {
    write_message(message, cap, FORMAT_PROGRAM_NOT_FOUND, program);
    return run_end::not_run;
  }
  wchar_t line[FILES_COMMAND_LINE_CAPACITY];
  if (!build_line(path, line)) {
    write_message(message, cap, FORMAT_PROGRAM_NOT_STARTED, program,
                  static_cast<unsigned>(ERROR_BUFFER_OVERFLOW));
    return run_end::not_run;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (hidden) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    write_message(message, cap, FORMAT_PROGRAM_NOT_STARTED, program, static_cast<unsigned>(GetLastError()));
    return run_end::not_run;
  }
  // Declared in this order, the thread handle is closed first.
  kernel_handle process(info.hProcess);
  kernel_handle thread(info.hThread);

  if (WaitForSingleObject(process.get(), wait_ms) != WAIT_OBJECT_0) {
    // Nothing is left running behind the user's back, and no late result
    // can overwrite what is reported now.
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), STOP_WAIT_MS);
    write_message(message, cap, FORMAT_PROGRAM_TIMED_OUT, program,
                  static_cast<unsigned>(wait_ms / MS_PER_MINUTE));
    return run_end::not_run;
  }
  DWORD code = 1;  // a code that can't be read counts as failure
  GetExitCodeProcess(process.get(), &code);
  if (exit_code) *exit_code = static_cast<int>(code);
  return code == 0 ? run_end::exited_ok : run_end::exited_failed;
}
}  // namespace

bool run_whitelist_sync_in(const wchar_t* folder, DWORD wait_ms, int* exit_code, wchar_t* message,
                           size_t message_cap) {
  auto build = [](const wchar_t* path, wchar_t* line) {
    return sync_command_line(path, line, SYNC_COMMAND_LINE_CAPACITY);
  };
  switch (run_agent(folder, WHITELIST_PROGRAM, build, false, wait_ms, exit_code, message, message_cap)) {
    case run_end::exited_ok: return true;
    case run_end::not_run: return false;
    case run_end::exited_failed: break;
  }
  // The agent leaves its reason in last_error.txt.
  if (message && message_cap > 0 && !tray_read_last_error(message, message_cap))
    copy_bounded(message, message_cap, TEXT_SYNC_FAILED);
  return false;
}

bool run_files_download_in(const wchar_t* folder, DWORD wait_ms, const wchar_t* name, const wchar_t* token,
                           int* exit_code, wchar_t* message, size_t message_cap) {
  if (!name || !*name || !token || !*token) {
    write_message(message, message_cap, L"%s", TEXT_FILES_VALUES_REQUIRED);
    return false;
  }
  auto build = [name, token](const wchar_t* path, wchar_t* line) {
    return files_command_line(path, name, token, line, FILES_COMMAND_LINE_CAPACITY);
  };
  switch (run_agent(folder, SYNC_PROGRAM_NAME, build, true, wait_ms, exit_code, message, message_cap)) {
    case run_end::exited_ok: return true;
    case run_end::not_run: return false;
    case run_end::exited_failed: break;
  }
  write_message(message, message_cap, L"%s", TEXT_DOWNLOAD_FAILED);
  return false;
}

bool run_whitelist_sync(int* exit_code, wchar_t* message, size_t message_cap) {
  wchar_t folder[PROGRAM_PATH_CAPACITY];
  bool found = install_folder(folder, PROGRAM_PATH_CAPACITY);
  return run_whitelist_sync_in(found ? folder : nullptr, SYNC_WAIT_MS, exit_code, message, message_cap);
}

bool run_files_download(const wchar_t* name, const wchar_t* token, int* exit_code, wchar_t* message,
                        size_t message_cap) {
  wchar_t folder[PROGRAM_PATH_CAPACITY];
  bool found = install_folder(folder, PROGRAM_PATH_CAPACITY);
  return run_files_download_in(found ? folder : nullptr, FILES_WAIT_MS, name, token, exit_code, message,
                               message_cap);
}

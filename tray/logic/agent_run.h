// Running the agent program beside the tray as a child process and turning
// its end into a result and a message. Blocks the calling thread; no window
// is touched here.
#pragma once

#include <windows.h>

#include <cstddef>

#include "service_names.h"

// Its two file names (SYNC_PROGRAM_NAME the other) sit beside the tray.
inline constexpr wchar_t WHITELIST_PROGRAM[] = L"whitelist.exe";
inline constexpr size_t PROGRAM_PATH_CAPACITY = 260;
inline constexpr size_t SYNC_COMMAND_LINE_CAPACITY = 1100;
inline constexpr size_t FILES_COMMAND_LINE_CAPACITY = 2048;
// Every run waits on a worker thread, and the Sync button (or, for Save, the
// whole form) stays disabled until it posts its result; a sync's wait is still
// bounded, far above what a sync needs even when every request runs into WinHTTP's
// time-outs. Downloads may be large.
inline constexpr unsigned SYNC_WAIT_MS = 180000;
inline constexpr unsigned FILES_WAIT_MS = 1800000;
inline constexpr size_t RUN_RESULT_TEXT_CAPACITY = 2048;
inline constexpr wchar_t TEXT_SYNC_FAILED[] = L"Whitelist sync failed. Check configuration.";
inline constexpr wchar_t TEXT_DOWNLOAD_FAILED[] =
    L"File download failed. Check files customer name and token.";
inline constexpr wchar_t TEXT_FILES_VALUES_REQUIRED[] = L"Files customer name and files token are required.";
inline constexpr wchar_t FORMAT_PROGRAM_NOT_FOUND[] = L"Could not find %s in the install folder.";
inline constexpr wchar_t FORMAT_PROGRAM_NOT_STARTED[] = L"Failed to start %s (error %u).";
inline constexpr wchar_t FORMAT_PROGRAM_TIMED_OUT[] =
    L"%s did not finish within %u minutes and was stopped. Check the internet connection and try again.";

// What a worker reports of a run; allocated by the worker, freed by the
// window that receives it (or by the worker when the post fails).
struct agent_run_result {
  bool ok;                                 // the agent exited with 0
  wchar_t text[RUN_RESULT_TEXT_CAPACITY];  // the failure message, empty on success
};

// The agent's sync command (whitelist.exe). True when it exited with 0; else false
// with the reason in message (when one is given and message_cap is not 0).
// exit_code (optional) receives the child's exit code when it ran to its end.
[[nodiscard]] bool run_whitelist_sync(int* exit_code, wchar_t* message, size_t message_cap);
// The agent's files command (sync.exe) with the customer name and files token.
[[nodiscard]] bool run_files_download(const wchar_t* name, const wchar_t* token, int* exit_code,
                                      wchar_t* message, size_t message_cap);

// The same runs with the agent looked for in folder (null: not found) and
// the wait bounded by wait_ms; a child still running then is stopped.
[[nodiscard]] bool run_whitelist_sync_in(const wchar_t* folder, DWORD wait_ms, int* exit_code,
                                         wchar_t* message, size_t message_cap);
[[nodiscard]] bool run_files_download_in(const wchar_t* folder, DWORD wait_ms, const wchar_t* name,
                                         const wchar_t* token, int* exit_code, wchar_t* message,
                                         size_t message_cap);

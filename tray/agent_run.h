// Running the agent program beside the tray as a child process and turning
// its end into a result and a message. Blocks the calling thread; no window
// is touched here.
#pragma once

#include <windows.h>

#include <cstddef>

// The agent's sync command (whitelist.exe). 0 when it exited with 0; else -1
// with the reason in message (when one is given and message_cap is not 0).
// exit_code (optional) receives the child's exit code when it ran to its end.
int run_whitelist_sync(int* exit_code, wchar_t* message, size_t message_cap);
// The agent's files command (sync.exe) with the customer name and files token.
int run_files_download(const wchar_t* name, const wchar_t* token, int* exit_code, wchar_t* message,
                       size_t message_cap);

// The same runs with the agent looked for in folder (null: not found) and
// the wait bounded by wait_ms; a child still running then is stopped.
int run_whitelist_sync_in(const wchar_t* folder, DWORD wait_ms, int* exit_code, wchar_t* message,
                          size_t message_cap);
int run_files_download_in(const wchar_t* folder, DWORD wait_ms, const wchar_t* name, const wchar_t* token,
                          int* exit_code, wchar_t* message, size_t message_cap);

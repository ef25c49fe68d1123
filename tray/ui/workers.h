// The tray's worker threads: "Sync now", Save's sync, "Download files" and
// the status refresh. Each blocks on its own thread and reports only by
// posting its outcome (see tray_messages.h); none touches a window.
#pragma once

#include <windows.h>

#include "agent_run.h"
#include "busy_flag.h"
#include "config_text.h"

inline constexpr wchar_t TEXT_SYNC_NOT_STARTED[] = L"Could not start sync.";

// What the configuration window hands to the download worker, which frees it.
struct download_request {
  HWND window;             // receives WM_DOWNLOAD_DONE
  busy_flag* in_progress;  // released by the worker when the window is gone
  wchar_t name[FILES_NAME_CAPACITY];
  wchar_t token[FILES_TOKEN_CAPACITY];
};

// A sync whose outcome arrives at window as WM_SYNC_DONE. False when no
// thread could be made.
bool start_sync_worker(HWND window);
// Save's sync: the outcome arrives at the configuration window as
// WM_SAVE_SYNC_DONE, so the windows keep answering while it runs.
bool start_save_sync_worker(HWND config_window);
// Starts the download worker for a request the caller filled; false when no
// thread could be made (the caller still owns the request then).
bool start_download_worker(download_request* request);
// A snapshot built from the caller's copy of last_ip (re-read first when
// reload is set) arrives at window as WM_REFRESH_DONE. False when no thread
// could be made.
bool start_refresh_worker(HWND window, const wchar_t* last_ip, bool reload);

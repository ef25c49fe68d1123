// The asynchronous agent runs of the tray: "Sync now" and "Download files".
// Each runs on a worker thread of its own, at most one of each kind at a
// time, and reports by posting a private message with an agent_run_result.
#pragma once

#include <windows.h>

#include <atomic>

#include "config_text.h"

inline constexpr UINT WM_SYNC_DONE = WM_USER + 102;
inline constexpr size_t RUN_RESULT_TEXT_CAPACITY = 2048;
inline constexpr wchar_t TEXT_SYNCING_IP[] = L"Syncing...";
inline constexpr wchar_t STATUS_SYNCING[] = L"Syncing with server...";
inline constexpr wchar_t TEXT_SYNC_NOT_STARTED[] = L"Could not start sync.";
inline constexpr wchar_t SYNC_FAILED_CAPTION[] = L"Whitelist sync failed";

// A run that may exist once at a time (a sync, a download): claimed with a
// compare-exchange from 0 to 1, released with an exchange to 0.
class busy_flag {
 public:
  bool claim() noexcept {
    long idle = 0;
    return value_.compare_exchange_strong(idle, 1);
  }
  void release() noexcept { value_.exchange(0); }
  bool busy() const noexcept { return value_.load() != 0; }

 private:
  std::atomic<long> value_{0};
};

// What a worker reports; allocated by the worker, freed by the window that
// receives it (or by the worker when the post fails).
struct agent_run_result {
  int result;  // 0 success, -1 failure
  wchar_t text[RUN_RESULT_TEXT_CAPACITY];  // the failure message, empty on success
};

// What the configuration window hands to the download worker, which frees it.
struct download_request {
  HWND window;  // receives WM_DOWNLOAD_DONE
  busy_flag* in_progress;  // released by the worker when the window is gone
  wchar_t name[FILES_NAME_CAPACITY];
  wchar_t token[FILES_TOKEN_CAPACITY];
};

// "Sync now" (button and menu): starts a sync whose outcome arrives as
// WM_SYNC_DONE; does nothing while one runs.
void tray_start_sync(HWND status_window);
// WM_SYNC_DONE: refreshes, re-enables "Sync now" and reports a failure.
void on_sync_done(HWND status_window, LPARAM result) noexcept;
// Save's sync: runs on a worker so the windows keep answering; the outcome
// arrives at the configuration window as WM_SAVE_SYNC_DONE. False when no
// thread could be made.
bool start_save_sync_worker(HWND config_window);
// Starts the download worker for a request the caller filled; false when no
// thread could be made (the caller still owns the request then).
bool start_download_worker(download_request* request);

// The asynchronous agent runs of the tray: "Sync now" and "Download files".
// Each runs on a worker thread of its own, at most one of each kind at a
// time, and reports by posting a private message with an AgentRunResult.
#pragma once

#include <windows.h>

#include "busy_flag.h"
#include "config_text.h"
#include "tray_constants.h"

// What a worker reports; allocated by the worker, freed by the window that
// receives it (or by the worker when the post fails).
struct AgentRunResult {
  int result;  // 0 success, -1 failure
  wchar_t text[tray::RUN_RESULT_TEXT_CAPACITY];  // the failure message, empty on success
};

// What the configuration window hands to the download worker, which frees it.
struct DownloadRequest {
  HWND window;  // receives WM_DOWNLOAD_DONE
  wchar_t name[FILES_NAME_CAPACITY];
  wchar_t token[FILES_TOKEN_CAPACITY];
};

extern busy_flag sync_in_progress;
extern busy_flag download_in_progress;

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
bool start_download_worker(DownloadRequest* request);

#include "agent_launch.h"

#include <shellapi.h>

#include <memory>
#include <new>

#include "agent_command.h"
#include "agent_run.h"
#include "tray_files.h"
#include "handles.h"
#include "notify_icon.h"
#include "status_refresh.h"
#include "status_window.h"
#include "config_window.h"
#include "notify_rules.h"
#include "tray_app.h"

namespace {
using result_ptr = std::unique_ptr<agent_run_result>;
using request_ptr = std::unique_ptr<download_request>;

// Posts the outcome to window. Without memory for a result the post still
// goes out, with no result, so the window re-enables its button; only when
// the window can't be told (it is gone) does the worker release the flag.
void report(HWND window, UINT message, result_ptr result, busy_flag* flag) noexcept {
  if (PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(result.get())))
    result.release();  // the window owns it now
  else if (flag)
    flag->release();
}

result_ptr run_sync() noexcept {
  result_ptr result(new (std::nothrow) agent_run_result{});
  if (result) result->result = run_whitelist_sync(nullptr, result->text, RUN_RESULT_TEXT_CAPACITY);
  return result;
}

DWORD WINAPI sync_worker(void* parameter) noexcept {
  report(static_cast<HWND>(parameter), WM_SYNC_DONE, run_sync(), nullptr);  // the status window lives to the exit
  return 0;
}

// A configuration window gone meanwhile (the tray exited): report frees the result.
DWORD WINAPI save_sync_worker(void* parameter) noexcept {
  report(static_cast<HWND>(parameter), WM_SAVE_SYNC_DONE, run_sync(), nullptr);
  return 0;
}

DWORD WINAPI download_worker(void* parameter) noexcept {
  request_ptr request(static_cast<download_request*>(parameter));
  result_ptr result(new (std::nothrow) agent_run_result{});
  if (result)
    result->result =
        run_files_download(request->name, request->token, nullptr, result->text, RUN_RESULT_TEXT_CAPACITY);
  report(request->window, WM_DOWNLOAD_DONE, std::move(result), request->in_progress);
  return 0;
}
}  // namespace

void tray_start_sync(HWND window) {
  busy_flag& sync_in_progress = state_of(window).sync_in_progress;
  if (!sync_in_progress.claim()) return;
  HWND sync_button = GetDlgItem(window, ID_SYNC_BUTTON);
  EnableWindow(sync_button, FALSE);
  SetDlgItemTextW(window, ID_PUBLIC_IP_VALUE, TEXT_SYNCING_IP);
  set_allowlist_status(window, STATUS_SYNCING);
  redraw_status_panel(window);

  kernel_handle thread(CreateThread(nullptr, 0, sync_worker, window, 0, nullptr));
  if (thread) return;
  sync_in_progress.release();
  EnableWindow(sync_button, TRUE);
  MessageBoxW(window, TEXT_SYNC_NOT_STARTED, APP_TITLE, MB_OK | MB_ICONERROR);
}

void on_sync_done(HWND window, LPARAM parameter) noexcept {
  result_ptr result(reinterpret_cast<agent_run_result*>(parameter));
  bool succeeded = result && result->result == 0;
  start_status_refresh(window, succeeded);
  EnableWindow(GetDlgItem(window, ID_SYNC_BUTTON), TRUE);
  state_of(window).sync_in_progress.release();
  if (!result || succeeded) return;

  if (IsWindowVisible(window)) {
    MessageBoxW(window, result->text, SYNC_FAILED_CAPTION, MB_OK | MB_ICONERROR);
  } else {
    wchar_t last_error[BALLOON_TEXT_CAPACITY] = {};
    bool has_last_error = !result->text[0] && tray_read_last_error(last_error, BALLOON_TEXT_CAPACITY) == 0;
    wchar_t text[BALLOON_TEXT_CAPACITY];
    sync_failure_balloon_text(result->text, has_last_error ? last_error : nullptr, text, BALLOON_TEXT_CAPACITY);
    show_balloon(window, BALLOON_FAILED_TITLE, text, NIIF_ERROR);
  }
  // The next refresh must not announce this error a second time.
  remember_last_error_as_notified(window);
}

bool start_save_sync_worker(HWND config_window) {
  kernel_handle thread(CreateThread(nullptr, 0, save_sync_worker, config_window, 0, nullptr));
  return static_cast<bool>(thread);
}

bool start_download_worker(download_request* request) {
  kernel_handle thread(CreateThread(nullptr, 0, download_worker, request, 0, nullptr));
  return static_cast<bool>(thread);
}

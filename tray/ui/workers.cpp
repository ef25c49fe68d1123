#include "workers.h"

#include <memory>
#include <new>

#include "handles.h"
#include "status_snapshot.h"
#include "text.h"
#include "tray_messages.h"

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
  if (result) result->ok = run_whitelist_sync(nullptr, result->text, RUN_RESULT_TEXT_CAPACITY);
  return result;
}

DWORD WINAPI sync_worker(void* parameter) noexcept {
  report(static_cast<HWND>(parameter), WM_SYNC_DONE, run_sync(),
         nullptr);  // the status window lives to the exit
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
    result->ok =
        run_files_download(request->name, request->token, nullptr, result->text, RUN_RESULT_TEXT_CAPACITY);
  report(request->window, WM_DOWNLOAD_DONE, std::move(result), request->in_progress);
  return 0;
}

// What a refresh worker is handed, and frees: the window's own copy of the
// last IP, so the worker never reads the window's state.
struct refresh_job {
  HWND window;
  bool reload;
  wchar_t last_ip[SHORT_FIELD_CAPACITY];
};

DWORD WINAPI refresh_worker(void* parameter) noexcept {
  std::unique_ptr<refresh_job> job(static_cast<refresh_job*>(parameter));
  // Even without a snapshot the window is told, so "Refresh" comes back and a
  // kept request still runs.
  snapshot_ptr snapshot(build_status_snapshot(job->last_ip, job->reload));
  // A window gone takes its gate with it; the unique_ptr frees the snapshot.
  if (PostMessageW(job->window, WM_REFRESH_DONE, 0, reinterpret_cast<LPARAM>(snapshot.get())))
    snapshot.release();
  return 0;
}

bool start_thread(LPTHREAD_START_ROUTINE procedure, void* parameter) {
  kernel_handle thread(CreateThread(nullptr, 0, procedure, parameter, 0, nullptr));
  return static_cast<bool>(thread);
}
}  // namespace

bool start_sync_worker(HWND window) {
  return start_thread(sync_worker, window);
}

bool start_save_sync_worker(HWND config_window) {
  return start_thread(save_sync_worker, config_window);
}

bool start_download_worker(download_request* request) {
  return start_thread(download_worker, request);
}

bool start_refresh_worker(HWND window, const wchar_t* last_ip, bool reload) {
  std::unique_ptr<refresh_job> job(new (std::nothrow) refresh_job{window, reload, {}});
  if (!job) return false;
  copy_bounded(job->last_ip, SHORT_FIELD_CAPACITY, last_ip);
  if (!start_thread(refresh_worker, job.get())) return false;
  job.release();  // the worker frees it
  return true;
}

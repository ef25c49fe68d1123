#include "status_refresh.h"

#include <memory>
#include <new>

#include "handles.h"
#include "status_snapshot.h"
#include "status_window.h"
#include "text.h"

namespace {
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
}  // namespace

void start_status_refresh(HWND window, bool reload) {
  status_window_state& state = state_of(window);
  if (!state.gate.try_begin(reload)) return;
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), FALSE);
  SetDlgItemTextW(window, ID_PUBLIC_IP_VALUE, TEXT_REFRESHING);
  redraw_status_panel(window);

  std::unique_ptr<refresh_job> job(new (std::nothrow) refresh_job{window, reload, {}});
  if (job) {
    copy_bounded(job->last_ip, SHORT_FIELD_CAPACITY, state.last_ip);
    kernel_handle thread(CreateThread(nullptr, 0, refresh_worker, job.get(), 0, nullptr));
    if (thread) {
      job.release();  // the worker frees it
      return;
    }
  }
  // No thread: gather here on the UI thread, without balloons.
  state.gate.finish();
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), TRUE);
  snapshot_ptr snapshot(build_status_snapshot(state.last_ip, reload));
  show_snapshot(window, snapshot.get());
}

void on_refresh_done(HWND window, LPARAM parameter) noexcept {
  snapshot_ptr snapshot(reinterpret_cast<status_snapshot*>(parameter));
  notify_changes(window, snapshot.get());
  show_snapshot(window, snapshot.get());
  snapshot.reset();
  state_of(window).gate.finish();
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), TRUE);
  // A sync whose outcome could not be posted left "Sync now" disabled.
  if (!state_of(window).sync_in_progress.busy()) EnableWindow(GetDlgItem(window, ID_SYNC_BUTTON), TRUE);
  bool reload = false;
  if (state_of(window).gate.take_queued(reload)) start_status_refresh(window, reload);
}

#include "status_refresh.h"

#include "handles.h"
#include "status_snapshot.h"
#include "status_window.h"

namespace {

DWORD WINAPI refresh_worker(void* parameter) noexcept {
  HWND window = static_cast<HWND>(parameter);
  // Even without a snapshot the window is told, so "Refresh" comes back and a
  // kept request still runs.
  snapshot_ptr snapshot(build_status_snapshot());
  // A window gone takes its gate with it; the unique_ptr frees the snapshot.
  if (PostMessageW(window, WM_REFRESH_DONE, 0, reinterpret_cast<LPARAM>(snapshot.get()))) snapshot.release();
  return 0;
}
}  // namespace

void start_status_refresh(HWND window, bool reload) {
  if (!state_of(window).gate.try_begin(reload)) return;
  if (reload) request_last_ip_reload();
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), FALSE);
  SetDlgItemTextW(window, ID_PUBLIC_IP_VALUE, TEXT_REFRESHING);
  redraw_status_panel(window);

  kernel_handle thread(CreateThread(nullptr, 0, refresh_worker, window, 0, nullptr));
  if (thread) return;
  // No thread: gather here on the UI thread, without balloons.
  state_of(window).gate.finish();
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), TRUE);
  snapshot_ptr snapshot(build_status_snapshot());
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

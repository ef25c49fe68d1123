#include "status_window.h"

#include <memory>

#include "agent_command.h"
#include "config_file_dialog.h"
#include "config_transfer.h"
#include "config_window.h"
#include "controls.h"
#include "dialog_keys.h"
#include "dpi.h"
#include "painting.h"
#include "status_snapshot.h"
#include "text.h"
#include "tray_app.h"
#include "tray_files.h"
#include "tray_messages.h"
#include "workers.h"

namespace {
// Sent by the shell to every top-level window when the taskbar is created
// again (Explorer restarted): the icons it showed are gone.
const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");

status_window_state& state_of(HWND window) {
  return window_state<status_window_state>(window);
}

// The caption's icons at the window's DPI.
void set_status_window_icons(HWND window) {
  status_window_state& state = state_of(window);
  UINT dpi = window_dpi(window);
  ui_resources r = ui();
  HICON large = r.large_icon, small = r.small_icon;
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  int large_size = system_metric_for_dpi(SM_CXICON, dpi),
      small_size = system_metric_for_dpi(SM_CXSMICON, dpi);
  if (large_size != GetSystemMetrics(SM_CXICON) && load_resource_icon(instance, large_size, state.large_icon))
    large = state.large_icon.get();
  if (small_size != GetSystemMetrics(SM_CXSMICON) &&
      load_resource_icon(instance, small_size, state.small_icon))
    small = state.small_icon.get();
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void show_status_window(HWND window) {
  state_of(window).icon.add(window);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
}

void hide_to_tray(HWND window) {
  ShowWindow(window, SW_HIDE);
  state_of(window).icon.add(window);
}

// UI thread. reload: re-read last_ip.txt first (otherwise the window's last
// reading serves). A request that meets a running refresh is started after
// that one has been shown.
void start_status_refresh(HWND window, bool reload) {
  status_window_state& state = state_of(window);
  if (!state.gate.try_begin(reload)) return;
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), FALSE);
  SetDlgItemTextW(window, ID_PUBLIC_IP_VALUE, TEXT_REFRESHING);
  redraw_status_panel(window);
  if (start_refresh_worker(window, state.last_ip, reload)) return;
  // No thread: gather here on the UI thread, without balloons.
  state.gate.finish();
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), TRUE);
  snapshot_ptr snapshot(build_status_snapshot(state.last_ip, reload));
  if (snapshot) copy_bounded(state.last_ip, SHORT_FIELD_CAPACITY, snapshot->last_ip);
  show_snapshot(window, state.panel, snapshot.get());
}

void notify_changes(HWND window, const status_snapshot& s) {
  status_window_state& state = state_of(window);
  bool has_error = s.has_last_error && s.last_error[0];
  bool hidden = !IsWindowVisible(window);
  notify_plan plan = plan_notifications(state.notified, s.last_whitelisted, s.allowlist_status,
                                        has_error ? s.last_error : nullptr, hidden);
  for (int i = 0; i < plan.count; ++i) {
    const balloon& b = plan.shown[i];
    state.icon.show_balloon(b.title, b.text, b.kind == balloon_kind::error ? NIIF_ERROR : NIIF_INFO);
  }
}

// WM_REFRESH_DONE: shows the snapshot (null when the worker ran out of
// memory), frees it, re-enables "Refresh" and starts a kept request.
void on_refresh_done(HWND window, LPARAM parameter) {
  status_window_state& state = state_of(window);
  snapshot_ptr snapshot(reinterpret_cast<status_snapshot*>(parameter));
  if (snapshot) {
    notify_changes(window, *snapshot);
    copy_bounded(state.last_ip, SHORT_FIELD_CAPACITY, snapshot->last_ip);
  }
  show_snapshot(window, state.panel, snapshot.get());
  snapshot.reset();
  state.gate.finish();
  EnableWindow(GetDlgItem(window, ID_REFRESH_BUTTON), TRUE);
  // A sync whose outcome could not be posted left "Sync now" disabled.
  if (!state.sync_in_progress.busy()) EnableWindow(GetDlgItem(window, ID_SYNC_BUTTON), TRUE);
  bool reload = false;
  if (state.gate.take_queued(reload)) start_status_refresh(window, reload);
}

// "Sync now" (button and menu): its outcome arrives as WM_SYNC_DONE; nothing
// starts while one runs.
void start_sync(HWND window) {
  status_window_state& state = state_of(window);
  if (!state.sync_in_progress.claim()) return;
  HWND sync_button = GetDlgItem(window, ID_SYNC_BUTTON);
  EnableWindow(sync_button, FALSE);
  SetDlgItemTextW(window, ID_PUBLIC_IP_VALUE, TEXT_SYNCING_IP);
  set_allowlist_status(window, state.panel, STATUS_SYNCING);
  redraw_status_panel(window);
  if (start_sync_worker(window)) return;
  state.sync_in_progress.release();
  EnableWindow(sync_button, TRUE);
  MessageBoxW(window, TEXT_SYNC_NOT_STARTED, APP_TITLE, MB_OK | MB_ICONERROR);
}

// What last_error.txt holds now counts as reported (after a sync's own report).
void remember_last_error_as_notified(HWND window) {
  wchar_t error[NOTIFIED_ERROR_CAPACITY] = {};
  if (!tray_read_last_error(error, NOTIFIED_ERROR_CAPACITY)) error[0] = L'\0';
  copy_bounded(state_of(window).notified.error, NOTIFIED_ERROR_CAPACITY, error);
}

// WM_SYNC_DONE: refreshes, re-enables "Sync now" and reports a failure: a box
// when the window is shown, a balloon when it is hidden.
void on_sync_done(HWND window, LPARAM parameter) {
  std::unique_ptr<agent_run_result> result(reinterpret_cast<agent_run_result*>(parameter));
  bool succeeded = result && result->ok;
  start_status_refresh(window, succeeded);
  EnableWindow(GetDlgItem(window, ID_SYNC_BUTTON), TRUE);
  state_of(window).sync_in_progress.release();
  if (!result || succeeded) return;

  if (IsWindowVisible(window)) {
    MessageBoxW(window, result->text, SYNC_FAILED_CAPTION, MB_OK | MB_ICONERROR);
  } else {
    wchar_t last_error[BALLOON_TEXT_CAPACITY] = {};
    bool has_last_error = !result->text[0] && tray_read_last_error(last_error, BALLOON_TEXT_CAPACITY);
    wchar_t text[BALLOON_TEXT_CAPACITY];
    sync_failure_balloon_text(result->text, has_last_error ? last_error : nullptr, text,
                              BALLOON_TEXT_CAPACITY);
    state_of(window).icon.show_balloon(BALLOON_FAILED_TITLE, text, NIIF_ERROR);
  }
  // The next refresh must not announce this error a second time.
  remember_last_error_as_notified(window);
}

// The "Export" button: a save dialog, then the copy; a failure says why.
void export_command(HWND window) {
  wchar_t path[EXPORT_PATH_CAPACITY];
  copy_bounded(path, EXPORT_PATH_CAPACITY, CONFIG_FILE_NAME);
  if (!ask_config_file_path(window, config_file_dialog::export_to, path, EXPORT_PATH_CAPACITY)) return;
  transfer_result result = export_config_file(path);
  if (result.status == transfer_status::done) return;
  wchar_t text[RUN_RESULT_TEXT_CAPACITY];
  export_failure_text(result, text, RUN_RESULT_TEXT_CAPACITY);
  MessageBoxW(window, text, APP_TITLE, MB_OK | MB_ICONWARNING);
}

// With a window already open, that one is brought to the front.
void open_config(HWND window, bool setup_form) {
  status_window_state& state = state_of(window);
  if (state.config_window && IsWindow(state.config_window)) {
    SetForegroundWindow(state.config_window);
    return;
  }
  state.config_window = open_config_window(window, setup_form);
}

// WM_CONFIG_CLOSED: what the configuration window did decides how much is read again.
void on_config_closed(HWND window, WPARAM outcome, LPARAM closed) {
  HWND& open_window = state_of(window).config_window;
  if (open_window == reinterpret_cast<HWND>(closed)) open_window = nullptr;
  switch (static_cast<config_window_outcome>(outcome)) {
    case config_window_outcome::imported:
      start_status_refresh(window, true);
      start_sync(window);
      start_status_refresh(window, false);
      break;
    case config_window_outcome::saved: start_status_refresh(window, true); break;
    case config_window_outcome::cancelled: start_status_refresh(window, false); break;
  }
}

void on_dpi_changed(HWND window, WPARAM wparam, LPARAM lparam) {
  take_suggested_rect(window, wparam, lparam);
  layout_status_controls(window, state_of(window).panel);
  set_status_window_icons(window);
  InvalidateRect(window, nullptr, TRUE);
}

void on_create(HWND window) {
  // A tray started elevated (at the end of the install) would not receive
  // the message from Explorer, which runs at a lower integrity level.
  if (taskbar_created) ChangeWindowMessageFilterEx(window, taskbar_created, MSGFLT_ALLOW, nullptr);
  status_panel& panel = state_of(window).panel;
  create_status_controls(window, config_present());
  layout_status_controls(window, panel);
  create_status_tooltip(window, panel);
  start_status_refresh(window, true);
  SetTimer(window, REFRESH_TIMER_ID, REFRESH_PERIOD_MS, nullptr);
  if (!config_present()) PostMessageW(window, WM_OPEN_SETUP, 0, 0);
}

void on_destroy(HWND window) {
  status_window_state& state = state_of(window);
  KillTimer(window, REFRESH_TIMER_ID);
  state.icon.remove();
  state.large_icon.reset();
  state.small_icon.reset();
  release_ui_resources();
  PostQuitMessage(0);
}

bool on_command(HWND window, int id) {
  switch (id) {
    case ID_SYNC_BUTTON:
    case ID_MENU_SYNC: start_sync(window); return true;
    case ID_CONFIG_BUTTON:
    case ID_MENU_CONFIG: open_config(window, false); return true;
    case ID_REFRESH_BUTTON: start_status_refresh(window, true); return true;
    case ID_EXPORT_BUTTON: export_command(window); return true;
    case ID_MENU_OPEN: show_status_window(window); return true;
    case ID_MENU_EXIT: DestroyWindow(window); return true;
    default: return false;
  }
}

void on_tray_callback(HWND window, LPARAM mouse_message) {
  switch (mouse_message) {
    case WM_LBUTTONDBLCLK: show_status_window(window); break;
    case WM_RBUTTONUP: show_tray_menu(window); break;
    default: break;  // single clicks, moves and the other buttons mean nothing here
  }
}
}  // namespace

void finish_status_window(HWND window) {
  size_client_area(window, CLIENT_WIDTH, CLIENT_HEIGHT);
  set_status_window_icons(window);
  state_of(window).icon.add(window);
}

LRESULT CALLBACK status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_NCCREATE:  // the state wWinMain made
      keep_window_state(window, lparam);
      break;
    case WM_CREATE: on_create(window); return 0;
    case WM_DESTROY: on_destroy(window); return 0;
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED) hide_to_tray(window);
      return 0;
    case WM_CLOSE: hide_to_tray(window); return 0;
    case WM_ERASEBKGND:
      paint_window_background(window, reinterpret_cast<HDC>(wparam), STATUS_PANEL);
      return 1;
    case WM_COMMAND:
      if (on_command(window, LOWORD(wparam))) return 0;
      break;
    case WM_TIMER:
      if (wparam == REFRESH_TIMER_ID) start_status_refresh(window, false);
      return 0;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(color_status_static(
          reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam), state_of(window).panel));
    case WM_TRAY_CALLBACK: on_tray_callback(window, lparam); return 0;
    case WM_REFRESH_DONE: on_refresh_done(window, lparam); return 0;
    case WM_SYNC_DONE: on_sync_done(window, lparam); return 0;
    case WM_OPEN_SETUP: open_config(window, true); return 0;
    case WM_CONFIG_CLOSED: on_config_closed(window, wparam, lparam); return 0;
    case WM_DPICHANGED: on_dpi_changed(window, wparam, lparam); return 0;
    case WM_NEXTDLGCTL: move_dialog_focus(window, wparam, lparam); return 0;
    case DM_GETDEFID: return default_button_answer(ID_SYNC_BUTTON);
    case WM_ACTIVATE: keep_dialog_focus(window, wparam, state_of(window).focused_control); return 0;
    default:
      if (message == taskbar_created && taskbar_created != 0) {
        state_of(window).icon.readd(window);
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

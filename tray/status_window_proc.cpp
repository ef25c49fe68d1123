#include "status_window.h"

#include "agent_launch.h"
#include "config_window.h"
#include "dialog_keys.h"
#include "dpi.h"
#include "notify_icon.h"
#include "painting.h"
#include "status_refresh.h"
#include "status_snapshot.h"
#include "notify_rules.h"
#include "ui_handles.h"

namespace {
// Sent by the shell to every top-level window when the taskbar is created
// again (Explorer restarted): the icons it showed are gone.
const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");

void on_dpi_changed(HWND window, WPARAM wparam, LPARAM lparam) {
  take_suggested_rect(window, wparam, lparam);
  layout_status_controls(window);
  set_status_window_icons(window);
  InvalidateRect(window, nullptr, TRUE);
}

void on_create(HWND window) {
  // A tray started elevated (at the end of the install) would not receive
  // the message from Explorer, which runs at a lower integrity level.
  if (taskbar_created) ChangeWindowMessageFilterEx(window, taskbar_created, MSGFLT_ALLOW, nullptr);
  create_status_controls(window);
  create_status_tooltip(window);
  start_status_refresh(window, true);
  SetTimer(window, REFRESH_TIMER_ID, REFRESH_PERIOD_MS, nullptr);
  if (!config_present()) PostMessageW(window, WM_OPEN_SETUP, 0, 0);
}

void on_destroy(HWND window) {
  KillTimer(window, REFRESH_TIMER_ID);
  remove_tray_icon(window);
  state_of(window).large_icon.reset();
  state_of(window).small_icon.reset();
  release_ui_resources();
  PostQuitMessage(0);
}

void hide_to_tray(HWND window) {
  ShowWindow(window, SW_HIDE);
  add_tray_icon(window);
}

bool on_command(HWND window, int id) {
  switch (id) {
    case ID_SYNC_BUTTON:
    case ID_MENU_SYNC: tray_start_sync(window); return true;
    case ID_CONFIG_BUTTON:
    case ID_MENU_CONFIG: open_config_window(window, false); return true;
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

void set_status_window_icons(HWND window) {
  UINT dpi = window_dpi(window);
  ui_resources r = ui();
  HICON large = r.large_icon, small = r.small_icon;
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  int large_size = system_metric_for_dpi(SM_CXICON, dpi), small_size = system_metric_for_dpi(SM_CXSMICON, dpi);
  if (large_size != GetSystemMetrics(SM_CXICON) && load_resource_icon(instance, large_size, state_of(window).large_icon))
    large = state_of(window).large_icon.get();
  if (small_size != GetSystemMetrics(SM_CXSMICON) && load_resource_icon(instance, small_size, state_of(window).small_icon))
    small = state_of(window).small_icon.get();
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large));
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void show_status_window(HWND window) {
  add_tray_icon(window);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
}

status_window_state& state_of(HWND status_window) {
  return *reinterpret_cast<status_window_state*>(GetWindowLongPtrW(status_window, GWLP_USERDATA));
}

LRESULT CALLBACK status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_NCCREATE:  // the state wWinMain made
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams));
      break;
    case WM_CREATE: on_create(window); return 0;
    case WM_DESTROY: on_destroy(window); return 0;
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED) hide_to_tray(window);
      return 0;
    case WM_CLOSE: hide_to_tray(window); return 0;
    case WM_ERASEBKGND: paint_window_background(window, reinterpret_cast<HDC>(wparam)); return 1;
    case WM_COMMAND:
      if (on_command(window, LOWORD(wparam))) return 0;
      break;
    case WM_TIMER:
      if (wparam == REFRESH_TIMER_ID) start_status_refresh(window, false);
      return 0;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<LRESULT>(color_static(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam)));
    case WM_TRAY_CALLBACK: on_tray_callback(window, lparam); return 0;
    case WM_REFRESH_DONE: on_refresh_done(window, lparam); return 0;
    case WM_SYNC_DONE: on_sync_done(window, lparam); return 0;
    case WM_OPEN_SETUP: open_config_window(window, true); return 0;
    case WM_DPICHANGED: on_dpi_changed(window, wparam, lparam); return 0;
    case WM_NEXTDLGCTL: move_dialog_focus(window, wparam, lparam); return 0;
    case DM_GETDEFID: return default_button_answer(ID_SYNC_BUTTON);
    case WM_ACTIVATE: keep_dialog_focus(window, wparam, state_of(window).focused_control); return 0;
    default:
      if (message == taskbar_created && taskbar_created != 0) {
        readd_tray_icon(window);
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

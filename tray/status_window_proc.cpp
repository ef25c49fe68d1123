#include "status_window_proc.h"

#include "agent_launch.h"
#include "config_window.h"
#include "notify_icon.h"
#include "painting.h"
#include "status_refresh.h"
#include "status_snapshot.h"
#include "status_window.h"
#include "tray_constants.h"

using namespace tray;

namespace {
void on_create(HWND window) {
  create_fonts();
  create_status_controls(window);
  create_status_tooltip(window);
  refresh_last_ip_cache();
  start_status_refresh(window, false);
  SetTimer(window, REFRESH_TIMER_ID, REFRESH_PERIOD_MS, nullptr);
  if (!config_present()) PostMessageW(window, WM_OPEN_SETUP, 0, 0);
}

void on_destroy(HWND window) {
  KillTimer(window, REFRESH_TIMER_ID);
  remove_tray_icon();
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

void show_status_window(HWND window) {
  add_tray_icon(window);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
}

LRESULT CALLBACK status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
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
    default: break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

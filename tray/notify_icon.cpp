#include "notify_icon.h"

#include <shellapi.h>

#include <cstring>

#include "painting.h"
#include "text.h"
#include "status_window.h"
#include "tray_app.h"
#include "ui_handles.h"

namespace {
// The full record: 956 bytes on x86; x64 aligns it to more.
static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATAW) == NOTIFY_RECORD_SIZE);
}  // namespace

void add_tray_icon(HWND window) {
  status_window_state& state = state_of(window);
  NOTIFYICONDATAW& notify_record = state.notify_record;
  if (state.icon_added) return;
  std::memset(&notify_record, 0, sizeof notify_record);
  notify_record.cbSize = sizeof notify_record;
  notify_record.hWnd = window;
  notify_record.uID = TRAY_ICON_ID;
  notify_record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  notify_record.uCallbackMessage = WM_TRAY_CALLBACK;
  notify_record.hIcon = ui().small_icon ? ui().small_icon : ui().large_icon;
  copy_bounded(notify_record.szTip, std::size(notify_record.szTip), APP_TITLE);
  Shell_NotifyIconW(NIM_ADD, &notify_record);
  // A refusal by the shell is not detectable in a useful way; later calls go out regardless.
  state.icon_added = true;
}

void readd_tray_icon(HWND window) {
  state_of(window).icon_added = false;
  add_tray_icon(window);
}

void show_balloon(HWND window, const wchar_t* title, const wchar_t* text, DWORD flags) {
  NOTIFYICONDATAW balloon = state_of(window).notify_record;
  balloon.cbSize = sizeof balloon;
  balloon.uFlags = NIF_INFO;
  copy_bounded(balloon.szInfoTitle, std::size(balloon.szInfoTitle), title);
  copy_bounded(balloon.szInfo, std::size(balloon.szInfo), text);
  balloon.dwInfoFlags = flags;
  balloon.uTimeout = BALLOON_TIMEOUT_MS;
  Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void remove_tray_icon(HWND window) {
  status_window_state& state = state_of(window);
  if (!state.icon_added) return;
  Shell_NotifyIconW(NIM_DELETE, &state.notify_record);
  state.icon_added = false;
}

void show_tray_menu(HWND window) {
  POINT cursor{};
  GetCursorPos(&cursor);
  menu_handle menu(CreatePopupMenu());
  if (!menu) return;
  AppendMenuW(menu.get(), MF_STRING, ID_MENU_OPEN, MENU_OPEN);
  AppendMenuW(menu.get(), MF_STRING, ID_MENU_SYNC, MENU_SYNC);
  AppendMenuW(menu.get(), MF_STRING, ID_MENU_CONFIG, MENU_CONFIG);
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, ID_MENU_EXIT, MENU_EXIT);
  // Without the foreground the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(window);
  TrackPopupMenu(menu.get(), TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
}

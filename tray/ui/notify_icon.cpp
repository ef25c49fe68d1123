#include "notify_icon.h"

#include <cstring>

#include "painting.h"
#include "text.h"
#include "tray_app.h"
#include "tray_messages.h"
#include "ui_handles.h"

namespace {
// The full record: 956 bytes on x86; x64 aligns it to more.
static_assert(sizeof(void*) != 4 || sizeof(NOTIFYICONDATAW) == NOTIFY_RECORD_SIZE);
}  // namespace

void tray_icon::add(HWND window) {
  if (added_) return;
  std::memset(&record_, 0, sizeof record_);
  record_.cbSize = sizeof record_;
  record_.hWnd = window;
  record_.uID = TRAY_ICON_ID;
  record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record_.uCallbackMessage = WM_TRAY_CALLBACK;
  record_.hIcon = ui().small_icon ? ui().small_icon : ui().large_icon;
  copy_bounded(record_.szTip, std::size(record_.szTip), APP_TITLE);
  Shell_NotifyIconW(NIM_ADD, &record_);
  // A refusal by the shell is not detectable in a useful way; later calls go out regardless.
  added_ = true;
}

void tray_icon::readd(HWND window) {
  added_ = false;
  add(window);
}

void tray_icon::show_balloon(const wchar_t* title, const wchar_t* text, DWORD flags) const {
  NOTIFYICONDATAW balloon = record_;
  balloon.cbSize = sizeof balloon;
  balloon.uFlags = NIF_INFO;
  copy_bounded(balloon.szInfoTitle, std::size(balloon.szInfoTitle), title);
  copy_bounded(balloon.szInfo, std::size(balloon.szInfo), text);
  balloon.dwInfoFlags = flags;
  balloon.uTimeout = BALLOON_TIMEOUT_MS;
  Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void tray_icon::remove() {
  if (!added_) return;
  Shell_NotifyIconW(NIM_DELETE, &record_);
  added_ = false;
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

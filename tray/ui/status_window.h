// The status window: the program's main window, hidden in the notification
// area, with the rows of the system's state and its commands. It owns the
// notification icon and is the owner of the configuration window.
#pragma once

#include <windows.h>

#include "busy_flag.h"
#include "notify_icon.h"
#include "notify_rules.h"
#include "refresh_gate.h"
#include "status_panel.h"
#include "ui_handles.h"

inline constexpr uintptr_t REFRESH_TIMER_ID = 2;
inline constexpr unsigned REFRESH_PERIOD_MS = 60000;

inline constexpr wchar_t TEXT_REFRESHING[] = L"Refreshing...";
inline constexpr wchar_t TEXT_SYNCING_IP[] = L"Syncing...";
inline constexpr wchar_t STATUS_SYNCING[] = L"Syncing with server...";
inline constexpr wchar_t SYNC_FAILED_CAPTION[] = L"Whitelist sync failed";
inline constexpr size_t EXPORT_PATH_CAPACITY = 260;

// What the status window keeps between messages: made by wWinMain, passed
// as the creation parameter and held in the window's GWLP_USERDATA.
struct status_window_state {
  wchar_t last_ip[SHORT_FIELD_CAPACITY] = {};  // last_ip.txt as last read, re-read only on a reload
  status_panel panel;
  tray_icon icon;
  notify_memory notified;
  refresh_gate gate;
  busy_flag sync_in_progress;
  HWND focused_control = nullptr;
  icon_handle large_icon, small_icon;  // the caption's, at a DPI other than the system's
  HWND config_window = nullptr;        // the open configuration window, if any
};

// After creation: the client area, the caption's icons and the notification icon.
void finish_status_window(HWND window);
LRESULT CALLBACK status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

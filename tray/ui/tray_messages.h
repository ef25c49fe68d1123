// Every private message of the tray's windows and the notification icon's
// menu commands. Workers, launches and the icon report to a window only by
// posting one of these; a record in lParam is freed by the receiver, or by the
// sender when the post fails.
#pragma once

#include <windows.h>

// The notification icon's mouse events (lParam: the mouse message).
inline constexpr UINT WM_TRAY_CALLBACK = WM_USER + 100;
// A status refresh ended (lParam: status_snapshot, may be null).
inline constexpr UINT WM_REFRESH_DONE = WM_USER + 101;
// "Sync now" ended (lParam: agent_run_result, may be null).
inline constexpr UINT WM_SYNC_DONE = WM_USER + 102;
// Open the Setup form (nothing is configured).
inline constexpr UINT WM_OPEN_SETUP = WM_USER + 103;
// "Download files" ended, to the configuration window (lParam: agent_run_result, may be null).
inline constexpr UINT WM_DOWNLOAD_DONE = WM_USER + 104;
// Save's sync ended, to the configuration window (lParam: agent_run_result, may be null).
inline constexpr UINT WM_SAVE_SYNC_DONE = WM_USER + 105;
// The configuration window is gone, to its owner (wParam: a config_window_outcome,
// lParam: the window that was).
inline constexpr UINT WM_CONFIG_CLOSED = WM_USER + 106;

// The notification icon's menu.
enum menu_id : int { ID_MENU_OPEN = 1001, ID_MENU_SYNC = 1002, ID_MENU_CONFIG = 1003, ID_MENU_EXIT = 1004 };

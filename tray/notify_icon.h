// The notification-area icon: registration, balloons, its context menu and removal.
#pragma once

#include <windows.h>

inline constexpr UINT WM_TRAY_CALLBACK = WM_USER + 100;
inline constexpr unsigned TRAY_ICON_ID = 1;
inline constexpr unsigned NOTIFY_RECORD_SIZE = 956;  // the full NOTIFYICONDATAW
inline constexpr unsigned BALLOON_TIMEOUT_MS = 5000;

// The icon's menu.
enum menu_id : int { ID_MENU_OPEN = 1001, ID_MENU_SYNC = 1002, ID_MENU_CONFIG = 1003, ID_MENU_EXIT = 1004 };
inline constexpr wchar_t MENU_OPEN[] = L"Open";
inline constexpr wchar_t MENU_SYNC[] = L"Sync now";
inline constexpr wchar_t MENU_CONFIG[] = L"Configuration...";
inline constexpr wchar_t MENU_EXIT[] = L"Exit tray (service keeps running)";

// Adds the icon once; later calls do nothing.
void add_tray_icon(HWND window);
// The taskbar was created again: the shell has forgotten the icon, so it is added anew.
void readd_tray_icon(HWND window);
// flags: NIIF_INFO or NIIF_ERROR. The registered icon and tooltip stay.
void show_balloon(HWND window, const wchar_t* title, const wchar_t* text, DWORD flags);
// Exit: deletes the icon if it was added.
void remove_tray_icon(HWND window);
// The right-click menu at the cursor; the choice arrives as WM_COMMAND.
void show_tray_menu(HWND window);

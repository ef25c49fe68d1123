// The notification-area icon: registration, balloons, its context menu and removal.
#pragma once

#include <windows.h>

// Adds the icon once; later calls do nothing.
void add_tray_icon(HWND window);
// The taskbar was created again: the shell has forgotten the icon, so it is added anew.
void readd_tray_icon(HWND window);
// flags: NIIF_INFO or NIIF_ERROR. The registered icon and tooltip stay.
void show_balloon(const wchar_t* title, const wchar_t* text, DWORD flags);
// Exit: deletes the icon if it was added.
void remove_tray_icon();
// The right-click menu at the cursor; the choice arrives as WM_COMMAND.
void show_tray_menu(HWND window);

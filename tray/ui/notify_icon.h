// The notification-area icon: registration, balloons, its context menu and
// removal. Its mouse events arrive at the owning window as WM_TRAY_CALLBACK,
// its menu's choices as WM_COMMAND (tray_messages.h).
#pragma once

#include <windows.h>

#include <shellapi.h>

inline constexpr unsigned TRAY_ICON_ID = 1;
inline constexpr unsigned NOTIFY_RECORD_SIZE = 956;  // the full NOTIFYICONDATAW
inline constexpr unsigned BALLOON_TIMEOUT_MS = 5000;

inline constexpr wchar_t MENU_OPEN[] = L"Open";
inline constexpr wchar_t MENU_SYNC[] = L"Sync now";
inline constexpr wchar_t MENU_CONFIG[] = L"Configuration...";
inline constexpr wchar_t MENU_EXIT[] = L"Exit tray (service keeps running)";

// One icon, held by the window it reports to.
class tray_icon {
 public:
  // Adds the icon once; later calls do nothing.
  void add(HWND window);
  // The taskbar was created again: the shell has forgotten the icon, so it is added anew.
  void readd(HWND window);
  // flags: NIIF_INFO or NIIF_ERROR. The registered icon and tooltip stay.
  void show_balloon(const wchar_t* title, const wchar_t* text, DWORD flags) const;
  // Exit: deletes the icon if it was added.
  void remove();

 private:
  NOTIFYICONDATAW record_{};
  bool added_ = false;
};

// The right-click menu at the cursor; the choice arrives as WM_COMMAND.
void show_tray_menu(HWND window);

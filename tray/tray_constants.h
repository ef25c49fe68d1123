// Names, identifiers, sizes and texts of the tray application, in one place.
// Kept free of <windows.h> so that the pure status logic can use it too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tray {

// Process and window names.
inline constexpr wchar_t MUTEX_NAME[] = L"Global\\QORWhitelistIPUpdaterTray";
inline constexpr wchar_t STATUS_CLASS[] = L"QORWhitelistIPUpdaterTray";
inline constexpr wchar_t SETTINGS_CLASS[] = L"QORWhitelistSettings";
inline constexpr wchar_t APP_TITLE[] = L"QOR Whitelist IP Updater";
inline constexpr wchar_t APP_SUBTITLE[] = L"Automatic IP allowlist for QOR proxy";
inline constexpr wchar_t FONT_FACE[] = L"Segoe UI";

inline constexpr int ICON_RESOURCE_ID = 101;

// Private window messages (WM_USER + n); lParam records are freed by the receiver.
inline constexpr unsigned WM_USER_BASE = 0x0400;
inline constexpr unsigned WM_TRAY_CALLBACK = WM_USER_BASE + 100;
inline constexpr unsigned WM_REFRESH_DONE = WM_USER_BASE + 101;
inline constexpr unsigned WM_SYNC_DONE = WM_USER_BASE + 102;
inline constexpr unsigned WM_OPEN_SETUP = WM_USER_BASE + 103;
inline constexpr unsigned WM_DOWNLOAD_DONE = WM_USER_BASE + 104;
inline constexpr unsigned WM_SAVE_SYNC_DONE = WM_USER_BASE + 105;  // to the configuration window

// Notification icon.
inline constexpr unsigned TRAY_ICON_ID = 1;
inline constexpr unsigned NOTIFY_RECORD_SIZE = 956;  // the full NOTIFYICONDATAW
inline constexpr unsigned BALLOON_TIMEOUT_MS = 5000;
inline constexpr size_t BALLOON_TEXT_CAPACITY = 256;  // the record's field
inline constexpr size_t BALLOON_TEXT_SHOWN_MAX = 240;  // longer texts end in "..."

// Timer.
inline constexpr uintptr_t REFRESH_TIMER_ID = 2;
inline constexpr unsigned REFRESH_PERIOD_MS = 60000;

// Command and control identifiers.
enum control_id : int {
  ID_SERVICE_LABEL = 201,
  ID_SERVICE_VALUE = 202,
  ID_PUBLIC_IP_LABEL = 203,
  ID_PUBLIC_IP_VALUE = 204,
  ID_LAST_IP_LABEL = 205,
  ID_LAST_IP_VALUE = 206,
  ID_SERVER_LABEL = 207,
  ID_SERVER_VALUE = 208,
  ID_TOKEN_LABEL = 209,
  ID_TOKEN_VALUE = 210,
  ID_SYNC_BUTTON = 211,
  ID_CONFIG_BUTTON = 212,
  ID_REFRESH_BUTTON = 213,
  ID_STATUS_LABEL = 215,
  ID_STATUS_VALUE = 216,
  ID_PENDING_LABEL = 217,
  ID_PENDING_VALUE = 218,
  ID_FOOTER = 219,
  ID_EXPORT_BUTTON = 220,
  ID_TOKEN_EDIT = 301,
  ID_SERVER_URL_EDIT = 302,
  ID_SAVE_BUTTON = 303,
  ID_CANCEL_BUTTON = 304,
  ID_IMPORT_BUTTON = 306,
  ID_SETUP_COMMAND_EDIT = 307,
  ID_FILES_NAME_EDIT = 308,
  ID_FILES_TOKEN_EDIT = 309,
  ID_DOWNLOAD_BUTTON = 310,
  ID_MENU_OPEN = 1001,
  ID_MENU_SYNC = 1002,
  ID_MENU_CONFIG = 1003,
  ID_MENU_EXIT = 1004,
};
// Statics in this range are drawn as values (neutral, body font).
inline constexpr int VALUE_RANGE_FIRST = 203;
inline constexpr int VALUE_RANGE_LAST = 218;

// Geometry of the status window in pixels at 96 DPI, scaled by the window's DPI.
inline constexpr int CLIENT_WIDTH = 480;
inline constexpr int CLIENT_HEIGHT = 388;
inline constexpr int HEADER_HEIGHT = 56;
inline constexpr int PANEL_LEFT = 20, PANEL_TOP = 68, PANEL_RIGHT = 460, PANEL_BOTTOM = 278;
inline constexpr int ROW_COUNT = 7;
inline constexpr int ROW_TOP = 80, ROW_STEP = 28, ROW_HEIGHT = 22;
inline constexpr int LABEL_LEFT = 32, LABEL_WIDTH = 132;
inline constexpr int VALUE_LEFT = 168, VALUE_WIDTH = 280;
inline constexpr int BUTTON_TOP = 294, BUTTON_WIDTH = 104, BUTTON_HEIGHT = 32;
inline constexpr int SYNC_BUTTON_LEFT = 20, CONFIG_BUTTON_LEFT = 132, REFRESH_BUTTON_LEFT = 244,
                     EXPORT_BUTTON_LEFT = 356;
inline constexpr int FOOTER_LEFT = 20, FOOTER_TOP = 336, FOOTER_WIDTH = 440, FOOTER_HEIGHT = 36;
inline constexpr int TOOLTIP_MAX_WIDTH = 360;

// Fonts: heights in pixels at 96 DPI, scaled like the geometry.
inline constexpr int SMALL_FONT_HEIGHT = -12;
inline constexpr int BODY_FONT_HEIGHT = -13;
inline constexpr int NORMAL_WEIGHT = 400;
inline constexpr int BOLD_WEIGHT = 600;

// Colours as 0x00BBGGRR, the layout of COLORREF.
constexpr uint32_t rgb(unsigned r, unsigned g, unsigned b) { return r | (g << 8) | (b << 16); }
inline constexpr uint32_t COLOR_PAGE = rgb(245, 247, 250);
inline constexpr uint32_t COLOR_WHITE = rgb(255, 255, 255);
inline constexpr uint32_t COLOR_HEADER = rgb(30, 58, 95);
inline constexpr uint32_t COLOR_PANEL_BORDER = rgb(226, 232, 240);
inline constexpr uint32_t COLOR_NEUTRAL = rgb(15, 23, 42);
inline constexpr uint32_t COLOR_GREEN = rgb(5, 150, 105);
inline constexpr uint32_t COLOR_AMBER = rgb(217, 119, 6);
inline constexpr uint32_t COLOR_RED = rgb(220, 38, 38);
inline constexpr uint32_t COLOR_LABEL_GREY = rgb(100, 116, 139);
inline constexpr uint32_t COLOR_FOOTER_GREY = rgb(148, 163, 184);
inline constexpr uint32_t COLOR_SUBTITLE_BLUE = rgb(191, 219, 254);

// Snapshot field capacities (units, terminator included).
inline constexpr size_t SERVICE_STATE_CAPACITY = 64;
inline constexpr size_t SHORT_FIELD_CAPACITY = 64;
inline constexpr size_t SERVER_FIELD_CAPACITY = 512;
inline constexpr size_t TOKEN_DISPLAY_CAPACITY = 32;
inline constexpr size_t STATUS_TEXT_CAPACITY = 512;
inline constexpr size_t TOKEN_PREVIEW_CHARS = 8;
inline constexpr size_t NOCASE_TEXT_CAPACITY = 2048;
inline constexpr size_t NOCASE_NEEDLE_CAPACITY = 256;
inline constexpr size_t HTTP_EXCERPT_MAX = 79;
inline constexpr size_t NOTIFIED_ERROR_CAPACITY = 512;
inline constexpr size_t LAST_ERROR_TEXT_CAPACITY = 2048;
inline constexpr size_t EXPORT_PATH_CAPACITY = 260;

// Row texts.
inline constexpr wchar_t TEXT_NONE[] = L"(none)";
inline constexpr wchar_t TEXT_UNAVAILABLE[] = L"(unavailable)";
inline constexpr wchar_t TEXT_NOT_CONFIGURED_VALUE[] = L"(not configured)";
inline constexpr wchar_t TEXT_NOT_SET[] = L"(not set)";
inline constexpr wchar_t TEXT_NO_PENDING[] = L"None";
inline constexpr wchar_t FORMAT_PENDING[] = L"%d old IP(s) waiting to remove";
inline constexpr wchar_t TEXT_REFRESHING[] = L"Refreshing...";
inline constexpr wchar_t TEXT_FOOTER[] =
    L"Closing this window only hides the tray app. The background service keeps updating your IP.";

// Service states.
inline constexpr wchar_t STATE_NOT_INSTALLED[] = L"Not installed";
inline constexpr wchar_t STATE_UNKNOWN[] = L"Unknown";
inline constexpr wchar_t STATE_STOPPED[] = L"Stopped";
inline constexpr wchar_t STATE_STARTING[] = L"Starting";
inline constexpr wchar_t STATE_STOPPING[] = L"Stopping";
inline constexpr wchar_t STATE_RUNNING[] = L"Running";
inline constexpr wchar_t FORMAT_STATE_OTHER[] = L"State %u";

// Allowlist statuses.
inline constexpr wchar_t STATUS_NOT_CONFIGURED[] = L"Not configured";
inline constexpr wchar_t FORMAT_SERVICE_INACTIVE[] = L"Service %s - sync inactive";
inline constexpr wchar_t STATUS_NO_PUBLIC_IP[] = L"Could not detect public IP";
inline constexpr wchar_t STATUS_AWAITING[] = L"Awaiting first sync";
inline constexpr wchar_t STATUS_UP_TO_DATE[] = L"Up to date";
inline constexpr wchar_t STATUS_OUT_OF_SYNC[] = L"Out of sync - sync needed";

// Balloons and message boxes.
inline constexpr wchar_t FORMAT_BALLOON_UPDATED[] = L"Allowlist updated to %s.";
inline constexpr wchar_t BALLOON_FAILED_TITLE[] = L"Allowlist update failed";
inline constexpr wchar_t TEXT_NO_CONFIG_TO_EXPORT[] = L"No saved config found to export.";

// Export and import dialogs.
inline constexpr wchar_t EXPORT_DIALOG_TITLE[] = L"Export encrypted config";
inline constexpr wchar_t EXPORT_DEFAULT_EXTENSION[] = L"config";
// Pairs of display text and pattern, ended by an empty pair.
inline constexpr wchar_t CONFIG_FILE_FILTER[] =
    L"Config files (*.config)\0*.config\0All files (*.*)\0*.*\0";

// Configuration window: outer sizes (at 96 DPI), and the capacities of what is read from it.
inline constexpr int CONFIG_WINDOW_WIDTH = 448;
inline constexpr int SETUP_WINDOW_HEIGHT = 300;
inline constexpr int CONFIG_WINDOW_HEIGHT = 364;
inline constexpr size_t SETUP_COMMAND_CAPACITY = 1024;
inline constexpr size_t SETUP_WORD_CAPACITY = 512;
inline constexpr size_t CONFIG_MESSAGE_CAPACITY = 512;
inline constexpr wchar_t SETUP_TITLE[] = L"Setup";
inline constexpr wchar_t CONFIG_TITLE[] = L"Configuration";
inline constexpr wchar_t TEXT_DOWNLOAD_FILES[] = L"Download files";
inline constexpr wchar_t TEXT_DOWNLOADING[] = L"Downloading...";
inline constexpr wchar_t TEXT_PASTE_SETUP_COMMAND[] =
    L"Paste a full setup command from the plugin dashboard:\n\nwhitelist --token <token> --server-url <url>";
inline constexpr wchar_t TEXT_TOKEN_TOO_LONG[] = L"The rule token is too long (at most 255 characters).";
inline constexpr wchar_t TEXT_SERVER_URL_TOO_LONG[] = L"The server URL is too long (at most 511 characters).";
inline constexpr wchar_t TEXT_TOKEN_AND_URL_NEEDED[] = L"Please enter both rule token and server URL.";
inline constexpr wchar_t TEXT_IMPORT_FAILED[] = L"Could not import config file.";
inline constexpr wchar_t TEXT_FILES_FIELDS_NEEDED[] = L"Please enter files customer name and files token.";
inline constexpr wchar_t TEXT_DOWNLOAD_NOT_STARTED[] = L"Could not start file download.";
inline constexpr wchar_t TEXT_DOWNLOAD_DONE[] = L"Files downloaded successfully.";
inline constexpr wchar_t DOWNLOAD_FAILED_CAPTION[] = L"File download failed";
inline constexpr wchar_t IMPORT_DIALOG_TITLE[] = L"Import encrypted config";
inline constexpr size_t IMPORT_PATH_CAPACITY = 260;

// Running the agent. Its two file names sit beside the tray.
inline constexpr wchar_t WHITELIST_PROGRAM[] = L"whitelist.exe";
inline constexpr wchar_t SYNC_PROGRAM[] = L"sync.exe";
inline constexpr size_t PROGRAM_PATH_CAPACITY = 260;
inline constexpr size_t SYNC_COMMAND_LINE_CAPACITY = 1100;
inline constexpr size_t FILES_COMMAND_LINE_CAPACITY = 2048;
inline constexpr size_t RUN_RESULT_TEXT_CAPACITY = 2048;
// Save waits for the sync child on the user-interface thread, so the wait is
// bounded; the bound is far above what a sync needs even when every request
// runs into WinHTTP's time-outs. Downloads run on a worker and may be large.
inline constexpr unsigned SYNC_WAIT_MS = 180000;
inline constexpr unsigned FILES_WAIT_MS = 1800000;
inline constexpr wchar_t TEXT_SYNCING_IP[] = L"Syncing...";
inline constexpr wchar_t STATUS_SYNCING[] = L"Syncing with server...";
inline constexpr wchar_t TEXT_SYNC_NOT_STARTED[] = L"Could not start sync.";
inline constexpr wchar_t SYNC_FAILED_CAPTION[] = L"Whitelist sync failed";
inline constexpr wchar_t TEXT_SYNC_FAILED_SHORT[] = L"Whitelist sync failed.";
inline constexpr wchar_t TEXT_SYNC_FAILED[] = L"Whitelist sync failed. Check configuration.";
inline constexpr wchar_t TEXT_DOWNLOAD_FAILED[] = L"File download failed. Check files customer name and token.";
inline constexpr wchar_t TEXT_FILES_VALUES_REQUIRED[] = L"Files customer name and files token are required.";
inline constexpr wchar_t FORMAT_PROGRAM_NOT_FOUND[] = L"Could not find %s in the install folder.";
inline constexpr wchar_t FORMAT_PROGRAM_NOT_STARTED[] = L"Failed to start %s (error %u).";
inline constexpr wchar_t FORMAT_PROGRAM_TIMED_OUT[] =
    L"%s did not finish within %u minutes and was stopped. Check the internet connection and try again.";

// Context menu.
inline constexpr wchar_t MENU_OPEN[] = L"Open";
inline constexpr wchar_t MENU_SYNC[] = L"Sync now";
inline constexpr wchar_t MENU_CONFIG[] = L"Configuration...";
inline constexpr wchar_t MENU_EXIT[] = L"Exit tray (service keeps running)";

}  // namespace tray

// The status window's contents: rows, buttons, footer, tooltip, colours,
// the picture of a snapshot and the balloons a refresh raises.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <vector>

#include "agent_launch.h"
#include "notify_rules.h"
#include "refresh_gate.h"
#include "status_snapshot.h"
#include "ui_handles.h"

// Private messages (lParam records are freed by the receiver).
inline constexpr UINT WM_REFRESH_DONE = WM_USER + 101;
inline constexpr UINT WM_OPEN_SETUP = WM_USER + 103;
inline constexpr uintptr_t REFRESH_TIMER_ID = 2;
inline constexpr unsigned REFRESH_PERIOD_MS = 60000;

enum status_control_id : int {
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

inline constexpr wchar_t TEXT_REFRESHING[] = L"Refreshing...";
inline constexpr wchar_t TEXT_FOOTER[] =
    L"Closing this window only hides the tray app. The background service keeps updating your IP.";
inline constexpr size_t EXPORT_PATH_CAPACITY = 260;
inline constexpr wchar_t TEXT_NO_CONFIG_TO_EXPORT[] = L"No saved config found to export.";

// The configuration window's own state (one window at a time, owned by the
// status window); its GWLP_USERDATA points here from WM_NCCREATE on.
struct config_window_state {
  bool setup_form = false;
  bool saving = false;  // while Save's sync runs, with the controls it disabled
  bool saved = false;  // Save's sync succeeded: closing re-reads last_ip.txt
  std::vector<HWND> disabled_by_save;
  HWND focused_control = nullptr;
};

// What the status window keeps between messages: made by wWinMain, passed
// as the creation parameter and held in the window's GWLP_USERDATA.
struct status_window_state {
  wchar_t last_ip[SHORT_FIELD_CAPACITY] = {};  // last_ip.txt as last read, re-read only on a reload
  COLORREF status_color = COLOR_NEUTRAL;
  HWND tooltip = nullptr;
  notify_memory notified;
  NOTIFYICONDATAW notify_record{};
  bool icon_added = false;
  refresh_gate gate;
  busy_flag sync_in_progress, download_in_progress;
  HWND focused_control = nullptr;
  icon_handle large_icon, small_icon;  // the caption's, at a DPI other than the system's
  HWND config_window = nullptr;
  config_window_state config;
};
// The state of the status window (or of the configuration window's owner).
status_window_state& state_of(HWND status_window);

// A visible-or-not child control (WS_CHILD is added) with its font; id 0 for none.
HWND create_child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
                  int id, HFONT font, DWORD ex_style = 0);
void create_status_controls(HWND window);
// Places and sizes the controls, and sets their fonts, for the window's DPI.
void layout_status_controls(HWND window);
void create_status_tooltip(HWND window);
// Invalidates, erases and repaints the panel with its children at once.
void redraw_status_panel(HWND window);
// A null snapshot is ignored; the window keeps its reading of last_ip.txt.
void show_snapshot(HWND window, const status_snapshot* snapshot);
void set_allowlist_status(HWND window, const wchar_t* text);
void notify_changes(HWND window, const status_snapshot* snapshot);
// What last_error.txt holds now counts as reported (after a sync's own report).
void remember_last_error_as_notified(HWND window);
// WM_CTLCOLORSTATIC of both tray windows: text colour and font; returns the background brush.
HBRUSH color_static(HDC dc, HWND control);
// The "Export" button: a save dialog, then export_config_file.
void export_command(HWND window);
// The window procedure: message and command dispatch only (status_window_proc.cpp).
void show_status_window(HWND window);
// The caption's icons at the window's DPI.
void set_status_window_icons(HWND window);
LRESULT CALLBACK status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

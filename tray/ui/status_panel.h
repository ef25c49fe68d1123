// The status window's contents: rows, buttons, footer, tooltip and colours,
// and the picture of a snapshot.
#pragma once

#include <windows.h>

#include "painting.h"
#include "status_look.h"
#include "status_snapshot.h"

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
inline constexpr int PANEL_BOTTOM = 278;
inline constexpr design_box STATUS_PANEL = panel_box(CLIENT_WIDTH, PANEL_BOTTOM);
inline constexpr int ROW_COUNT = 7;
inline constexpr int ROW_TOP = 80, ROW_STEP = 28, ROW_HEIGHT = 22;
inline constexpr int LABEL_LEFT = PANEL_MARGIN + PANEL_PADDING, LABEL_WIDTH = 132;
inline constexpr int VALUE_LEFT = 168, VALUE_WIDTH = 280;
inline constexpr int BUTTON_TOP = 294, BUTTON_WIDTH = 104, BUTTON_HEIGHT = 32;
inline constexpr int SYNC_BUTTON_LEFT = PANEL_MARGIN, CONFIG_BUTTON_LEFT = 132, REFRESH_BUTTON_LEFT = 244,
                     EXPORT_BUTTON_LEFT = 356;
inline constexpr int FOOTER_LEFT = PANEL_MARGIN, FOOTER_TOP = 336, FOOTER_WIDTH = 440, FOOTER_HEIGHT = 36;
inline constexpr int TOOLTIP_MAX_WIDTH = 360;

inline constexpr wchar_t TEXT_FOOTER[] =
    L"Closing this window only hides the tray app. The background service keeps updating your IP.";

// What the panel keeps between messages, held in the status window's state.
struct status_panel {
  COLORREF status_color = COLOR_NEUTRAL;
  HWND tooltip = nullptr;
};

// The rows, buttons and footer; "Export" only when configured.
void create_status_controls(HWND window, bool configured);
// Places and sizes the controls, and sets their fonts, for the window's DPI.
void layout_status_controls(HWND window, const status_panel& panel);
void create_status_tooltip(HWND window, status_panel& panel);
// Invalidates, erases and repaints the panel with its children at once.
void redraw_status_panel(HWND window);
void set_allowlist_status(HWND window, status_panel& panel, const wchar_t* text);
// The snapshot's rows and "Export"; a null snapshot is ignored.
void show_snapshot(HWND window, status_panel& panel, const status_snapshot* snapshot);
// WM_CTLCOLORSTATIC: text colour and font; returns the background brush.
HBRUSH color_status_static(HDC dc, HWND control, const status_panel& panel);

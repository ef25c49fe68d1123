// Process-wide drawing resources (fonts, brushes, icons) and the painting
// shared by both tray windows, at each window's DPI.
#pragma once

#include <windows.h>

#include "dpi_scale.h"
#include "ui_handles.h"

inline constexpr wchar_t APP_SUBTITLE[] = L"Automatic IP allowlist for QOR proxy";
inline constexpr wchar_t FONT_FACE[] = L"Segoe UI";
inline constexpr int ICON_RESOURCE_ID = 101;
// Font heights in pixels at 96 DPI, scaled like the geometry.
inline constexpr int SMALL_FONT_HEIGHT = -12;
inline constexpr int BODY_FONT_HEIGHT = -13;
inline constexpr int NORMAL_WEIGHT = 400;
inline constexpr int BOLD_WEIGHT = 600;
inline constexpr COLORREF COLOR_PAGE = RGB(245, 247, 250);
inline constexpr COLORREF COLOR_WHITE = RGB(255, 255, 255);
inline constexpr COLORREF COLOR_HEADER = RGB(30, 58, 95);
inline constexpr COLORREF COLOR_PANEL_BORDER = RGB(226, 232, 240);
inline constexpr COLORREF COLOR_LABEL_GREY = RGB(100, 116, 139);
inline constexpr COLORREF COLOR_FOOTER_GREY = RGB(148, 163, 184);
inline constexpr COLORREF COLOR_SUBTITLE_BLUE = RGB(191, 219, 254);
// Both windows in pixels at 96 DPI: the header band, then the white panel
// with the same margins in each, its contents inset by the padding.
inline constexpr int HEADER_HEIGHT = 56;
inline constexpr int PANEL_MARGIN = 20;
inline constexpr int PANEL_TOP = 68;
inline constexpr int PANEL_PADDING = 12;

struct ui_resources {
  HBRUSH page_brush, white_brush;
  HICON large_icon, small_icon;
};
// Current handles; null where not created (yet, or any more).
ui_resources ui();

struct font_set {
  HFONT small_font, body_font, bold_font;
};
// The three fonts at a DPI, created the first time that DPI is asked for and
// kept until exit (a window that moves back to a monitor finds them again).
font_set fonts_for(UINT dpi);
void create_brushes();
// Icon 101 at the system's icon sizes (32 and 16 pixels at 96 DPI), with the
// system's fallbacks.
void load_icons(HINSTANCE instance);
// Icon 101 at size pixels, owned by owner; null when it can't be loaded.
HICON load_resource_icon(HINSTANCE instance, int size, icon_handle& owner);
// Exit: deletes fonts, brushes and the icons owned by the program.
void release_ui_resources();

// The panel's box of the design, for a client area client_width wide whose panel ends at bottom.
constexpr design_box panel_box(int client_width, int bottom) {
  return {PANEL_MARGIN, PANEL_TOP, client_width - 2 * PANEL_MARGIN, bottom - PANEL_TOP};
}
// WM_ERASEBKGND of both tray windows: the page, the panel (a box of the
// design) and the header.
void paint_window_background(HWND window, HDC dc, design_box panel);
// WM_CTLCOLORSTATIC for a label on the panel: grey small text on white;
// returns the background brush.
HBRUSH color_label(HDC dc, HWND control);

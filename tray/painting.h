// Process-wide drawing resources (fonts, brushes, icons) and the painting
// shared by both tray windows, at each window's DPI.
#pragma once

#include <windows.h>

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
// Exit: deletes fonts, brushes and the icons owned by the program.
void release_ui_resources();

void paint_panel(HDC dc, UINT dpi);
void paint_header(HDC dc, const RECT& client, UINT dpi);
// WM_ERASEBKGND of both tray windows: the page, the panel and the header.
void paint_window_background(HWND window, HDC dc);

// Process-wide drawing resources (fonts, brushes, icons) and the painting
// shared by both tray windows.
#pragma once

#include <windows.h>

struct ui_resources {
  HFONT small_font, body_font, bold_font;
  HBRUSH page_brush, white_brush;
  HICON large_icon, small_icon;
};
// Current handles; null where not created (yet, or any more).
ui_resources ui();

// Creates each missing font; safe to call any number of times.
void create_fonts();
void create_brushes();
// Icon 101 at 32 and 16 pixels with the system's fallbacks.
void load_icons(HINSTANCE instance);
// Exit: deletes fonts, brushes and the icons owned by the program.
void release_ui_resources();

void paint_panel(HDC dc);
void paint_header(HDC dc, const RECT& client);
// WM_ERASEBKGND of both tray windows: the page, the panel and the header.
void paint_window_background(HWND window, HDC dc);

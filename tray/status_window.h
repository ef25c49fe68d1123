// The status window's contents: rows, buttons, footer, tooltip, colours,
// the picture of a snapshot and the balloons a refresh raises.
#pragma once

#include <windows.h>

#include "status_snapshot.h"

// A visible-or-not child control (WS_CHILD is added) with its font; id 0 for none.
HWND create_child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h,
                  int id, HFONT font, DWORD ex_style = 0);
void create_status_controls(HWND window);
// Places and sizes the controls, and sets their fonts, for the window's DPI.
void layout_status_controls(HWND window);
void create_status_tooltip(HWND window);
// Invalidates, erases and repaints the panel with its children at once.
void redraw_status_panel(HWND window);
// A null snapshot is ignored.
void show_snapshot(HWND window, const status_snapshot* snapshot);
void set_allowlist_status(HWND window, const wchar_t* text);
void notify_changes(HWND window, const status_snapshot* snapshot);
// What last_error.txt holds now counts as reported (after a sync's own report).
void remember_last_error_as_notified();
// WM_CTLCOLORSTATIC of both tray windows: text colour and font; returns the background brush.
HBRUSH color_static(HDC dc, HWND control);
// The "Export" button: a save dialog, then export_config_file.
void export_command(HWND window);

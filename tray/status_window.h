// The status window's contents: rows, buttons, footer, tooltip, colours,
// the picture of a snapshot and the balloons a refresh raises.
#pragma once

#include <windows.h>

#include "status_snapshot.h"

void create_status_controls(HWND window);
void create_status_tooltip(HWND window);
// Invalidates, erases and repaints the panel with its children at once.
void redraw_status_panel(HWND window);
// A null snapshot is ignored.
void show_snapshot(HWND window, const status_snapshot* snapshot);
void set_allowlist_status(HWND window, const wchar_t* text);
void notify_changes(HWND window, const status_snapshot* snapshot);
// WM_CTLCOLORSTATIC of both tray windows: text colour and font; returns the background brush.
HBRUSH color_static(HDC dc, HWND control);
// The "Export" button: a save dialog, then export_config_file.
void export_command(HWND window);

// The DPI of a window and the system metrics for it. The per-monitor
// functions are looked up at run time: without them (Windows 7, 8) every
// window has the system DPI, and the programs still start.
#pragma once

#include <windows.h>

#include "dpi_scale.h"

// The window's DPI (its monitor's under per-monitor awareness), else the system's.
UINT window_dpi(HWND window);
// GetSystemMetrics at a DPI (SM_CXICON, SM_CXSMICON, ...).
int system_metric_for_dpi(int index, UINT dpi);
// The box of the design at a DPI, as a rectangle.
RECT scaled_rect(design_box box, UINT dpi);
// Sizes the window so that its client area is width x height of the design at
// its DPI, measuring the frame on the window itself (whatever its metrics).
void size_client_area(HWND window, int width, int height);
// Moves a child to the scaled box of the design and gives it font.
void place_child(HWND child, design_box box, UINT dpi, HFONT font);
// WM_DPICHANGED: wparam carries the new DPI; lparam the suggested rectangle,
// which the window takes.
UINT take_suggested_rect(HWND window, WPARAM wparam, LPARAM lparam);

// The status window's procedure: message and command dispatch only.
#pragma once

#include <windows.h>

void show_status_window(HWND window);
// The caption's icons at the window's DPI.
void set_status_window_icons(HWND window);
LRESULT CALLBACK status_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

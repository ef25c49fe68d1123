// Child controls of the tray's windows, and where a window keeps its state.
#pragma once

#include <windows.h>

// A visible-or-not child control (WS_CHILD is added) with its font; id 0 for none.
HWND create_child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                  int h, int id, HFONT font, DWORD ex_style = 0);

// Keeps the state its creator passed to CreateWindowExW; called at WM_NCCREATE.
void keep_window_state(HWND window, LPARAM create_parameter);
// That state again, for the window's own handlers.
template <typename State>
State& window_state(HWND window) {
  return *reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

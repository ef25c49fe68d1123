// Child controls of the tray's windows.
#pragma once

#include <windows.h>

// A visible-or-not child control (WS_CHILD is added) with its font; id 0 for none.
HWND create_child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                  int h, int id, HFONT font, DWORD ex_style = 0);

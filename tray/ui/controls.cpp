#include "controls.h"

HWND create_child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
                  int h, int id, HFONT font, DWORD ex_style) {
  HWND child =
      CreateWindowExW(ex_style, cls, text, WS_CHILD | style, x, y, w, h, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
  if (child && font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

void keep_window_state(HWND window, LPARAM create_parameter) {
  SetWindowLongPtrW(
      window, GWLP_USERDATA,
      reinterpret_cast<LONG_PTR>(reinterpret_cast<const CREATESTRUCTW*>(create_parameter)->lpCreateParams));
}

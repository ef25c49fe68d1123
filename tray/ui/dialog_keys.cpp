#include "dialog_keys.h"

#include <iterator>

namespace {
void focus_control(HWND control) {
  if (!control) return;
  SetFocus(control);
  wchar_t cls[8] = {};
  GetClassNameW(control, cls, static_cast<int>(std::size(cls)));
  if (lstrcmpiW(cls, L"Edit") == 0) SendMessageW(control, EM_SETSEL, 0, -1);
}
// GetNextDlgTabItem with no control starts from the first one and so
// returns the second: the first is looked for here.
HWND first_tab_stop(HWND window) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED)) return child;
  }
  return nullptr;
}
}  // namespace

void move_dialog_focus(HWND window, WPARAM wparam, LPARAM lparam) {
  if (LOWORD(lparam)) {
    focus_control(reinterpret_cast<HWND>(wparam));
    return;
  }
  HWND focus = GetFocus();
  if (!focus || !IsChild(window, focus)) {
    focus_control(first_tab_stop(window));
    return;
  }
  focus_control(GetNextDlgTabItem(window, focus, wparam != 0 ? TRUE : FALSE));
}

void keep_dialog_focus(HWND window, WPARAM wparam, HWND& remembered) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus && IsChild(window, focus)) remembered = focus;
    return;
  }
  HWND target =
      remembered && IsChild(window, remembered) && IsWindowEnabled(remembered) ? remembered : nullptr;
  if (!target) target = first_tab_stop(window);
  if (target)
    SetFocus(target);
  else
    SetFocus(window);
}

void focus_first_control(HWND window) {
  focus_control(first_tab_stop(window));
}

LRESULT default_button_answer(int id) {
  return MAKELRESULT(id, DC_HASDEFID);
}

bool dialog_key_message(HWND window, MSG& msg) {
  if (!window || !IsWindowVisible(window) || !IsWindowEnabled(window)) return false;
  // Only the window's own keys: IsDialogMessageW dispatches every message it
  // is given, and the other window's keys belong to that window.
  if (msg.hwnd != window && !IsChild(window, msg.hwnd)) return false;
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  return IsDialogMessageW(window, &msg) != FALSE;
}

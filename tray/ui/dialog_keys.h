// Dialog-style keyboard use for the tray's two windows, which are plain
// windows, not dialogs: IsDialogMessageW in the message loop turns Tab,
// Enter and Escape into WM_NEXTDLGCTL, DM_GETDEFID and IDCANCEL, which a
// dialog's own procedure would answer and which are answered here.
#pragma once

#include <windows.h>

// WM_NEXTDLGCTL: moves the focus to the next or previous tab stop, or to the
// control in wparam when lparam's low word is set. An edit field's text is
// selected, as in a dialog.
void move_dialog_focus(HWND window, WPARAM wparam, LPARAM lparam);
// WM_ACTIVATE: keeps the focused control while the window is inactive (a
// message box, another program) and gives it back; the first tab stop when
// none was kept. remembered is the window's own slot.
void keep_dialog_focus(HWND window, WPARAM wparam, HWND& remembered);
// The first tab stop gets the focus.
void focus_first_control(HWND window);
// DM_GETDEFID's answer: the control that Enter presses.
LRESULT default_button_answer(int id);
// Routes a message to window's dialog navigation when it is for window or
// one of its controls; true when it was handled there.
bool dialog_key_message(HWND window, MSG& msg);

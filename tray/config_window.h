// The configuration window (Setup and Configuration forms). The forms arrive
// with the next change; until then opening one says so plainly.
#pragma once

#include <windows.h>

// The open configuration window, or null (the message loop routes dialog keys to it).
HWND config_window();
// setup_form: the paste-a-setup-command form opened at start when nothing is configured.
void open_config_window(HWND owner, bool setup_form);
LRESULT CALLBACK config_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

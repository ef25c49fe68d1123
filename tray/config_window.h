// The configuration window in its two forms: Setup (paste the setup command
// from the plugin dashboard, or import a configuration file) and
// Configuration (the four saved values, and the customer's files).
#pragma once

#include <windows.h>

// The open configuration window, or null (the message loop routes dialog keys to it).
HWND config_window();
// setup_form: the paste-a-setup-command form opened at start when nothing is
// configured. With a window already open, that one is brought to the front.
void open_config_window(HWND owner, bool setup_form);
LRESULT CALLBACK config_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
// "Download files": starts the download worker with the two fields as they stand.
void start_files_download(HWND window);

// Running the agent program for the tray ("Sync now"). The launching code
// arrives with the next change; until then the button says so plainly.
#pragma once

#include <windows.h>

// "Sync now" (button and menu): starts a sync whose outcome arrives as WM_SYNC_DONE.
void tray_start_sync(HWND status_window);
// WM_SYNC_DONE: takes the worker's result record.
void on_sync_done(HWND status_window, LPARAM result) noexcept;

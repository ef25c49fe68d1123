// Status refreshes: one worker thread at a time builds a snapshot and posts
// it to the status window as WM_REFRESH_DONE.
#pragma once

#include <windows.h>

// UI thread. reload: re-read last_ip.txt first (otherwise the window's last
// reading serves). A request that meets a running refresh is started after
// that one has been shown.
void start_status_refresh(HWND window, bool reload);
// WM_REFRESH_DONE: shows the snapshot (may be null when the worker ran out
// of memory), frees it, re-enables "Refresh" and starts a kept request.
void on_refresh_done(HWND window, LPARAM snapshot) noexcept;

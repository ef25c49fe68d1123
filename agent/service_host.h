// The Windows service side of the agent: the control manager's plumbing
// (service_host.cpp) and the worker that polls and syncs (service_worker.cpp).
#pragma once

#include <windows.h>

#include "handles.h"

void WINAPI service_main(DWORD argc, LPWSTR* argv) noexcept;
void WINAPI service_ctrl_handler(DWORD control) noexcept;

// What wakes the worker for a reload: "Global\QORWhitelistIPUpdaterReloadLastIp"
// (null when unavailable) and the private event that control code 128 sets.
struct reload_signals {
  HANDLE named;
  HANDLE control;
};

// The worker thread: start-up sync, then one poll cycle per wait; a reload
// re-reads the settings and last_ip.txt first. Ends when a stop is requested.
DWORD WINAPI service_worker(LPVOID signals) noexcept;

// The Windows service side of the agent: the control manager's plumbing
// (service_host.cpp) and the worker that polls and syncs (service_worker.cpp).
#pragma once

#include <windows.h>

#include "handles.h"

void WINAPI service_main(DWORD argc, LPWSTR* argv) noexcept;
void WINAPI service_ctrl_handler(DWORD control) noexcept;

// Signalled once by the stop control; never reset.
extern kernel_handle stop_event;
// "Global\QORWhitelistIPUpdaterReloadLastIp", or none when unavailable.
extern kernel_handle reload_event;
// Resets reload_event when present; safe against the events' closing.
void reset_reload_event() noexcept;

// The worker thread: start-up sync, then one poll cycle per wait.
DWORD WINAPI service_worker(LPVOID) noexcept;
// Re-reads last_ip.txt after a command-line registration and logs it.
void reload_last_ip() noexcept;

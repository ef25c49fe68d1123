// The worker thread that polls and syncs, started by service_main.
#pragma once

#include <windows.h>

#include "agent_state.h"

// What wakes the worker besides the stop and its poll: the reload events
// ("Global\QORWhitelistIPUpdaterReloadLastIp", null when unavailable, and
// the private one control code 128 sets) and the resume the power event sets.
struct worker_signals {
  HANDLE named;
  HANDLE control;
  HANDLE resume;
  agent_state* agent;  // the process's state, for the worker alone while it runs
};

// Start-up sync, then a cycle on each poll, reload, address change or
// resume; a reload re-reads the settings and last_ip.txt first. Ends when a
// stop is requested.
// signals: a worker_signals that outlives the thread.
DWORD WINAPI service_worker(LPVOID signals) noexcept;

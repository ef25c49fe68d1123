// One consistent picture of the system for the status window, gathered on a
// worker thread (files, the service control manager, the configuration and
// the network).
#pragma once

#include <cstddef>
#include <memory>

#include "config_text.h"
#include "notify_rules.h"
#include "status_look.h"

struct status_snapshot {
  wchar_t last_ip[SHORT_FIELD_CAPACITY];  // last_ip.txt as last read, kept by the window for the next refresh
  wchar_t service_state[SERVICE_STATE_CAPACITY];
  wchar_t last_whitelisted[SHORT_FIELD_CAPACITY];
  wchar_t public_ip[SHORT_FIELD_CAPACITY];
  wchar_t server[SERVER_URL_CAPACITY];
  wchar_t token_display[TOKEN_DISPLAY_CAPACITY];
  wchar_t allowlist_status[STATUS_TEXT_CAPACITY];
  wchar_t pending_cleanup[SHORT_FIELD_CAPACITY];
  bool configured;      // token and server URL saved: "Export" is offered
  bool has_last_error;  // last_error.txt holds a reason (read into 512 units)
  wchar_t last_error[NOTIFIED_ERROR_CAPACITY];
};

// A new zero-filled snapshot, filled in; null when memory is exhausted.
// last_ip: the window's last reading of last_ip.txt, read anew when
// reload_last_ip is set.
status_snapshot* build_status_snapshot(const wchar_t* last_ip, bool reload_last_ip) noexcept;
void free_status_snapshot(status_snapshot* snapshot) noexcept;
struct snapshot_deleter {
  void operator()(status_snapshot* s) const noexcept { free_status_snapshot(s); }
};
using snapshot_ptr = std::unique_ptr<status_snapshot, snapshot_deleter>;

// True when the configuration loads with a token and a server URL.
[[nodiscard]] bool config_present();

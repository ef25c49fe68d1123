// The agent's last_ip, kept together with last_ip.txt and with other agent
// processes that register meanwhile. One thread of a process uses it (the
// service's worker, or a command); the lock around each step keeps the pair
// whole should a second thread ever come.
#pragma once

#include "agent_state.h"

// Copies last_ip into out (IP_CAPACITY units); false while that address is
// not yet written to last_ip.txt (see record_registered_ip).
bool last_ip_copy(agent_state& agent, wchar_t* out);
// Re-reads last_ip.txt (a missing file keeps the value) and copies the result
// into out (IP_CAPACITY units). An address not yet written is written first;
// while that fails, memory stays the truth and the file is not read.
void last_ip_reload(agent_state& agent, wchar_t* out);
// After a successful registration that replaced old_ip (may be empty): ip
// becomes last_ip and goes to last_ip.txt, and last_confirmed.txt dates it. The configuration file is left
// alone, so settings saved by another process since this one loaded its
// record are never overwritten. An address that another agent process
// registered meanwhile (last_ip.txt names neither old_ip nor ip) is queued
// for removal, so that it can't stay on the allowlist with nothing tracking
// it; the retry pass keeps it if it turns out to be the current address.
// True, or false when last_ip.txt could not be written even after a few tries
// (another process holding it, a full disk): then ip is queued as well, so
// that it is removed once no longer current, and memory keeps it.
[[nodiscard]] bool record_registered_ip(agent_state& agent, const wchar_t* old_ip, const wchar_t* ip);
// config_load under the same guard; an address not yet written survives it.
[[nodiscard]] bool config_load_guarded(agent_state& agent);

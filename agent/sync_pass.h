// The registration engine: one replacement of the registered address by the
// current one, and the retry of queued removals.
#pragma once

#include "agent_network.h"
#include "agent_state.h"
#include "service_log.h"

enum class [[nodiscard]] registration{
    not_configured,  // no token or server URL: nothing sent
    recorded,        // ip added and recorded as last_ip
    failed,          // the addition failed (reason in last_api_error), or a stop ended the pass
    unrecorded,  // ip added, but last_ip.txt could not be written: reported, and ip stays tracked (memory,
                 // queue)
};
// Whether the allowlist now holds the address, recorded or not.
constexpr bool is_registered(registration r) {
  return r == registration::recorded || r == registration::unrecorded;
}

registration sync_pass(agent_state& agent, agent_network& network, const wchar_t* ip, pass_mode mode);
// Sends the removal of every queued address again; drops an entry equal to
// the current public address without a request once it is recorded as the
// registered one. Ends early when a stop is requested.
void pending_retry_pass(agent_state& agent, agent_network& network, pass_mode mode);

#include "sync_pass.h"

#include "agent_constants.h"
#include "agent_state.h"
#include "console.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "shared_objects.h"
#include "stop_request.h"

namespace {
// One message of a pass, by where it goes: the service's log, the sync
// command's console, configure mode's console (which says less). A null
// text says nothing there.
struct pass_text {
  const char* log;
  const wchar_t* sync;
  const wchar_t* configure;
};

constexpr pass_text CHANGED{"IP changed from %S to %S - removing old IP",
                            L"IP changed from %s. Removing old IP...\n", nullptr};
constexpr pass_text REMOVAL_FAILED{"Warning: failed to remove old IP (may not exist); queued for retry",
                                   L"Warning: failed to remove old IP (may not exist); queued for retry.\n",
                                   L"Warning: failed to remove old IP; queued for retry.\n"};
constexpr pass_text QUEUE_FULL{
    "Warning: pending delete queue full",
    L"Warning: pending delete queue full; straggler may remain until manual remove.\n",
    L"Warning: pending delete queue full.\n"};
constexpr wchar_t QUEUE_UNWRITTEN_CONSOLE[] =
    L"Warning: could not write the pending delete queue; %s may remain on the whitelist.\n";
constexpr pass_text QUEUE_UNWRITTEN{
    "Warning: could not write the pending delete queue; %S kept for the next retry", QUEUE_UNWRITTEN_CONSOLE,
    QUEUE_UNWRITTEN_CONSOLE};
constexpr wchar_t UNRECORDED_CONSOLE[] =
    L"Warning: could not write last_ip.txt; %s stays queued for removal once no longer current.\n";
constexpr pass_text UNRECORDED{
    "Warning: could not write last_ip.txt; %S kept in memory and queued for removal", UNRECORDED_CONSOLE,
    UNRECORDED_CONSOLE};
constexpr wchar_t DROPPED_CONSOLE[] = L"Dropped pending delete (matches current public IP): %s\n";
constexpr pass_text DROPPED{"Pending delete dropped (same as current public IP): %S", DROPPED_CONSOLE,
                            DROPPED_CONSOLE};
constexpr wchar_t STRAGGLER_REMOVED_CONSOLE[] = L"Removed pending straggler IP from whitelist: %s\n";
constexpr pass_text STRAGGLER_REMOVED{"Pending delete OK (straggler removed): %S", STRAGGLER_REMOVED_CONSOLE,
                                      STRAGGLER_REMOVED_CONSOLE};

void report(pass_mode mode, const pass_text& text, const wchar_t* ip, const wchar_t* other = nullptr) {
  if (mode == pass_mode::log) {
    service_log(text.log, ip, other);
  } else if (const wchar_t* format = mode == pass_mode::console ? text.sync : text.configure) {
    console_print(format, ip, other);
  }
}

// Sends the removal of an address that is no longer this PC's; a failed
// removal is queued for retry and reported, a successful one leaves the queue.
void remove_old_ip(agent_state& agent, agent_network& network, const wchar_t* old_ip, pass_mode mode) {
  const config_record& c = agent.config;
  if (network.allowlist_request(METHOD_REMOVE, c.server_url, c.token, old_ip)) {
    (void)pending_remove(agent, old_ip);  // left queued, the retry pass sends it once more
    return;
  }
  queue_add queued = pending_add(agent, old_ip);
  report(mode, REMOVAL_FAILED, old_ip);
  if (queued == queue_add::unwritten)
    report(mode, QUEUE_UNWRITTEN, old_ip);
  else if (queued == queue_add::refused)
    report(mode, QUEUE_FULL, old_ip);
}
}  // namespace

registration sync_pass(agent_state& agent, agent_network& network, const wchar_t* ip, pass_mode mode) {
  const config_record& c = agent.config;
  if (!c.token[0] || !c.server_url[0]) return registration::not_configured;

  // One registration at a time on this machine, and the address to replace
  // is what last_ip.txt names now: another agent process may have replaced
  // it since this one read it.
  machine_lock registering(REGISTRATION_MUTEX_NAME, REGISTRATION_MUTEX_WAIT_MS);
  if (stop_requested()) return registration::failed;
  wchar_t old_ip[IP_CAPACITY];
  last_ip_reload(agent, old_ip);
  if (old_ip[0] && !same_ip(old_ip, ip)) {
    report(mode, CHANGED, old_ip, ip);
    remove_old_ip(agent, network, old_ip, mode);
  }

  if (network.allowlist_request(METHOD_ADD, c.server_url, c.token, ip)) {
    if (record_registered_ip(agent, old_ip, ip)) return registration::recorded;
    report(mode, UNRECORDED, ip);
    return registration::unrecorded;
  }
  // A stop's cancellation is no failure to show.
  if (mode == pass_mode::log && last_api_error[0] && !stop_requested())
    write_last_error(agent, last_api_error);
  return registration::failed;
}

void pending_retry_pass(agent_state& agent, agent_network& network, pass_mode mode) {
  const config_record& c = agent.config;
  if (!c.token[0] || !c.server_url[0] || !agent.pending_path[0]) return;
  pending_requeue_unsaved(agent);
  pending_list queue;
  pending_load(agent, queue);
  if (queue.count == 0) return;

  wchar_t current[IP_CAPACITY] = {};
  bool detected = network.detect_public_ip(c.server_url, current, IP_CAPACITY);
  wchar_t registered[IP_CAPACITY];
  bool recorded = last_ip_copy(agent, registered);
  pending_list done;  // removed or dropped; everything else stays queued
  for (int i = 0; i < queue.count && !stop_requested(); ++i) {
    const wchar_t* ip = queue.entries[i];
    if (detected && same_ip(ip, current)) {
      // The address in use is not removed. It leaves the queue only once it
      // is the registered one and recorded so: should the address change
      // again before last_ip.txt names it, nothing else would track it.
      if (!same_ip(ip, registered) || !recorded) continue;
      report(mode, DROPPED, ip);
      pending_append(done, ip);
    } else if (network.allowlist_request(METHOD_REMOVE, c.server_url, c.token, ip)) {
      report(mode, STRAGGLER_REMOVED, ip);
      pending_append(done, ip);
    } else if (mode != pass_mode::log) {
      console_print(L"Pending delete failed for %s\n", ip);
      console_print_failure(L"");
    } else {
      service_log("Pending delete failed for %S: %s", ip, last_api_error[0] ? last_api_error : "(unknown)");
    }
  }
  // The requests took time; another process may have queued or removed
  // addresses meanwhile: the outcome applies to the file as it is now.
  (void)pending_drop(agent, done);  // left queued, they are sent once more
}

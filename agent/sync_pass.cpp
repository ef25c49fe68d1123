#include "sync_pass.h"

#include "agent_constants.h"
#include "allowlist_api.h"
#include "config_store.h"
#include "console.h"
#include "data_folder.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "shared_objects.h"
#include "stop_request.h"

old_ip_removal remove_old_ip(const wchar_t* old_ip) {
  const config_record& c = agent_config;
  if (allowlist_request(METHOD_REMOVE, c.server_url, ALLOWLIST_PATH, c.token, old_ip) == 0) {
    pending_remove(old_ip);
    return old_ip_removal::removed;
  }
  switch (pending_add(old_ip)) {
    case 0:
      return old_ip_removal::queued;
    case PENDING_WRITE_FAILED:
      return old_ip_removal::queue_unwritten;
    default:
      return old_ip_removal::queue_full;
  }
}

void report_removal(old_ip_removal removal, const wchar_t* old_ip, pass_mode mode) {
  if (removal == old_ip_removal::removed) return;
  const bool console = mode == pass_mode::console;
  if (console)
    console_print(L"Warning: failed to remove old IP (may not exist); queued for retry.\n");
  else
    service_log("Warning: failed to remove old IP (may not exist); queued for retry");
  if (removal == old_ip_removal::queue_full) {
    if (console)
      console_print(L"Warning: pending delete queue full; straggler may remain until manual remove.\n");
    else
      service_log("Warning: pending delete queue full");
  } else if (removal == old_ip_removal::queue_unwritten) {
    if (console)
      console_print(L"Warning: could not write the pending delete queue; %s may remain on the whitelist.\n",
                    old_ip);
    else
      service_log("Warning: could not write the pending delete queue; %S kept for the next retry", old_ip);
  }
}

void report_unrecorded(const wchar_t* ip, pass_mode mode) {
  if (mode == pass_mode::console)
    console_print(L"Warning: could not write last_ip.txt; %s stays queued for removal once no longer current.\n",
                  ip);
  else
    service_log("Warning: could not write last_ip.txt; %S kept in memory and queued for removal", ip);
}

int sync_pass(const wchar_t* ip, pass_mode mode) {
  const config_record& c = agent_config;
  if (!c.token[0] || !c.server_url[0]) return -1;

  // One registration at a time on this machine, and the address to replace
  // is what last_ip.txt names now: another agent process may have replaced
  // it since this one read it.
  machine_lock registering(REGISTRATION_MUTEX_NAME, REGISTRATION_MUTEX_WAIT_MS);
  if (stop_requested()) return 1;
  wchar_t old_ip[IP_CAPACITY];
  last_ip_reload(old_ip);
  if (old_ip[0] && !same_ip(old_ip, ip)) {
    if (mode == pass_mode::console)
      console_print(L"IP changed from %s. Removing old IP...\n", old_ip);
    else
      service_log("IP changed from %S to %S - removing old IP", old_ip, ip);
    report_removal(remove_old_ip(old_ip), old_ip, mode);
  }

  if (allowlist_request(METHOD_ADD, c.server_url, ALLOWLIST_PATH, c.token, ip) == 0) {
    if (record_registered_ip(old_ip, ip) == 0) return 0;
    report_unrecorded(ip, mode);
    return 2;
  }
  // A stop's cancellation is no failure to show.
  if (mode == pass_mode::log && last_api_error[0] && !stop_requested()) write_last_error(last_api_error);
  return 1;
}

#include "sync_pass.h"

#include "agent_constants.h"
#include "allowlist_api.h"
#include "config_store.h"
#include "console.h"
#include "data_folder.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "shared_objects.h"

old_ip_removal remove_old_ip(const wchar_t* old_ip) {
  const config_record& c = agent_config;
  if (allowlist_request(METHOD_REMOVE, c.server_url, ALLOWLIST_PATH, c.token, old_ip) == 0) {
    pending_remove(old_ip);
    return old_ip_removal::removed;
  }
  return pending_add(old_ip) == 0 ? old_ip_removal::queued : old_ip_removal::queue_full;
}

int sync_pass(const wchar_t* ip, pass_mode mode) {
  const config_record& c = agent_config;
  if (!c.token[0] || !c.server_url[0]) return -1;
  const bool console = mode == pass_mode::console;

  // One registration at a time on this machine, and the address to replace
  // is what last_ip.txt names now: another agent process may have replaced
  // it since this one read it.
  machine_lock registering(REGISTRATION_MUTEX_NAME, REGISTRATION_MUTEX_WAIT_MS);
  wchar_t old_ip[IP_CAPACITY];
  last_ip_reload(old_ip);
  if (old_ip[0] && !same_ip(old_ip, ip)) {
    if (console)
      console_print(L"IP changed from %s. Removing old IP...\n", old_ip);
    else
      service_log("IP changed from %S to %S - removing old IP", old_ip, ip);
    old_ip_removal removal = remove_old_ip(old_ip);
    if (removal != old_ip_removal::removed) {
      if (console)
        console_print(L"Warning: failed to remove old IP (may not exist); queued for retry.\n");
      else
        service_log("Warning: failed to remove old IP (may not exist); queued for retry");
    }
    if (removal == old_ip_removal::queue_full) {
      if (console)
        console_print(L"Warning: pending delete queue full; straggler may remain until manual remove.\n");
      else
        service_log("Warning: pending delete queue full");
    }
  }

  if (allowlist_request(METHOD_ADD, c.server_url, ALLOWLIST_PATH, c.token, ip) == 0) {
    record_registered_ip(old_ip, ip);
    return 0;
  }
  if (!console && last_api_error[0]) write_last_error(last_api_error);
  return 1;
}

// The service's body: registers the address once at start, then polls every
// POLL_INTERVAL_MS, waking early for a stop or a reload notification.
#include "agent_constants.h"
#include "api_error.h"
#include "config_store.h"
#include "ip_detect.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "service_host.h"
#include "service_log.h"
#include "sync_pass.h"

namespace {
bool configured() { return agent_config.token[0] && agent_config.server_url[0]; }

void log_sync_failure(const char* fallback) {
  if (last_api_error[0])
    service_log("%s", last_api_error);
  else
    service_log("%s", fallback);
}

void startup_sync() {
  pending_retry_pass(pass_mode::log);
  wchar_t ip[IP_CAPACITY] = {};
  if (detect_public_ip(ip, IP_CAPACITY, agent_config.server_url) != 0)
    service_log("Startup whitelist sync skipped: could not get public IP");
  else if (sync_pass(ip, pass_mode::log) == 0)
    service_log("Startup whitelist sync OK: %S", ip);
  else
    log_sync_failure("Startup whitelist sync failed (POST)");
  pending_retry_pass(pass_mode::log);
}

void poll_cycle() {
  pending_retry_pass(pass_mode::log);
  wchar_t ip[IP_CAPACITY] = {};
  if (detect_public_ip(ip, IP_CAPACITY, agent_config.server_url) != 0) return;
  wchar_t last[IP_CAPACITY];
  last_ip_copy(last);
  if (last[0] && same_ip(last, ip)) return;
  if (sync_pass(ip, pass_mode::log) == 0)
    service_log("IP updated: %S", ip);
  else
    log_sync_failure("Failed to add IP to whitelist");
}

bool stop_requested() { return WaitForSingleObject(stop_event.get(), 0) == WAIT_OBJECT_0; }
}  // namespace

void reload_last_ip() noexcept {
  wchar_t ip[IP_CAPACITY];
  last_ip_reload(ip);
  reset_reload_event();
  service_log("Last IP reloaded from file after external sync: %S", ip[0] ? ip : L"(none)");
}

DWORD WINAPI service_worker(LPVOID) noexcept {
  if (configured()) startup_sync();
  const HANDLE waits[] = {stop_event.get(), reload_event.get()};
  const DWORD wait_count = reload_event ? 2 : 1;
  while (!stop_requested()) {
    if (configured()) poll_cycle();
    DWORD woke = WaitForMultipleObjects(wait_count, waits, FALSE, POLL_INTERVAL_MS);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_OBJECT_0 + 1) reload_last_ip();
  }
  return 0;
}

// The service's body: registers the address once at start, then polls every
// POLL_INTERVAL_MS, waking early for a stop or a reload notification. The
// settings follow whitelist.config: a reload re-reads them, and so does a
// cycle that finds the file written since they were read.
#include <cwchar>

#include "agent_constants.h"
#include "agent_state.h"
#include "api_error.h"
#include "ip_detect.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "service_host.h"
#include "service_log.h"
#include "stop_request.h"
#include "sync_pass.h"

namespace {
constexpr char MSG_NO_CONFIG[] = "No config - service will do nothing until whitelist --token X --server-url Y is run";

bool configured() { return agent_config.token[0] && agent_config.server_url[0]; }

void log_sync_failure(const char* fallback) {
  if (last_api_error[0])
    service_log("%s", last_api_error);
  else
    service_log("%s", fallback);
}

// The last-write time of whitelist.config; 0 when there is none.
ULONGLONG config_written() {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(agent.config_path, GetFileExInfoStandard, &data)) return 0;
  return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

class worker {
 public:
  explicit worker(const reload_signals& signals) : signals_(signals) {}
  void run();

 private:
  void load_settings(bool at_start);
  void startup_sync();
  void poll_cycle();
  enum class wake { stop, poll, reload };
  wake wait_for_work();
  // Takes a reload (and those of its burst) no sooner than allowed; false on stop.
  bool take_reload();

  reload_signals signals_;
  ULONGLONG loaded_stamp_ = 0;
  ULONGLONG last_network_ = 0;
};

void worker::load_settings(bool at_start) {
  const config_record before = agent_config;
  // Stamped before the read: a write meanwhile is seen by the next cycle.
  loaded_stamp_ = config_written();
  bool had = configured();
  if (config_load_guarded() != 0) {
    if (at_start || had) service_log("%s", MSG_NO_CONFIG);
    return;
  }
  if (!at_start && (std::wcscmp(before.token, agent_config.token) != 0 ||
                    std::wcscmp(before.server_url, agent_config.server_url) != 0))
    service_log("Settings changed - using server %S", agent_config.server_url);
}

void worker::startup_sync() {
  pending_retry_pass(pass_mode::log);
  wchar_t ip[IP_CAPACITY] = {};
  if (detect_public_ip(ip, IP_CAPACITY, agent_config.server_url) != 0) {
    if (!stop_requested()) service_log("Startup whitelist sync skipped: could not get public IP");
  } else {
    int pass = sync_pass(ip, pass_mode::log);
    if (pass == 0 || pass == 2) {
      delete_last_error();
      service_log("Startup whitelist sync OK: %S", ip);
    } else if (!stop_requested()) {
      log_sync_failure("Startup whitelist sync failed (POST)");
    }
  }
  pending_retry_pass(pass_mode::log);
}

void worker::poll_cycle() {
  pending_retry_pass(pass_mode::log);
  wchar_t ip[IP_CAPACITY] = {};
  if (detect_public_ip(ip, IP_CAPACITY, agent_config.server_url) != 0) return;
  wchar_t last[IP_CAPACITY];
  last_ip_copy(last);
  if (last[0] && same_ip(last, ip)) return;
  int pass = sync_pass(ip, pass_mode::log);
  if (pass == 0 || pass == 2) {
    delete_last_error();
    service_log("IP updated: %S", ip);
  } else if (!stop_requested()) {
    log_sync_failure("Failed to add IP to whitelist");
  }
}

worker::wake worker::wait_for_work() {
  const HANDLE waits[] = {stop_request_event(), signals_.control, signals_.named};
  DWORD count = signals_.named ? 3 : 2;
  DWORD woke = WaitForMultipleObjects(count, waits, FALSE, POLL_INTERVAL_MS);
  if (woke == WAIT_TIMEOUT) return wake::poll;
  return woke == WAIT_OBJECT_0 || woke == WAIT_FAILED ? wake::stop : wake::reload;
}

bool worker::take_reload() {
  // Any account may set the reload event: the sets of a burst, and those
  // that come within RELOAD_CYCLE_GAP_MS of the last cycle, are taken as one.
  ULONGLONG now = GetTickCount64();
  ULONGLONG due = now + RELOAD_SETTLE_MS;
  if (last_network_ && last_network_ + RELOAD_CYCLE_GAP_MS > due) due = last_network_ + RELOAD_CYCLE_GAP_MS;
  if (WaitForSingleObject(stop_request_event(), static_cast<DWORD>(due - now)) == WAIT_OBJECT_0) return false;
  if (signals_.named) ResetEvent(signals_.named);
  WaitForSingleObject(signals_.control, 0);  // auto-reset: taken
  load_settings(false);
  wchar_t ip[IP_CAPACITY];
  last_ip_copy(ip);
  service_log("Last IP reloaded from file after external sync: %S", ip[0] ? ip : L"(none)");
  return true;
}

void worker::run() {
  load_settings(true);
  if (configured()) {
    startup_sync();
    last_network_ = GetTickCount64();
  }
  for (;;) {
    if (stop_requested()) return;
    if (config_written() != loaded_stamp_) load_settings(false);
    if (configured()) {
      poll_cycle();
      last_network_ = GetTickCount64();
    }
    wake woke = wait_for_work();
    if (woke == wake::stop || (woke == wake::reload && !take_reload())) return;
  }
}
}  // namespace

DWORD WINAPI service_worker(LPVOID signals) noexcept {
  worker(*static_cast<const reload_signals*>(signals)).run();
  return 0;
}

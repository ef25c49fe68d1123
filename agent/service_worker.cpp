// The service's body: registers the address once at start, then polls every
// POLL_INTERVAL_MS, waking early for a stop, a reload, an address change, a
// resume or a re-assertion of the address (wake_plan times the cycles). The
// settings follow whitelist.config: a reload re-reads them, and so does a
// cycle that finds the file written since they were read.
#include "service_worker.h"

#include <iphlpapi.h>

#include <cwchar>

#include "agent_constants.h"
#include "agent_state.h"
#include "api_error.h"
#include "event_log.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "service_log.h"
#include "service_parameters.h"
#include "stop_request.h"
#include "sync_pass.h"
#include "wake_plan.h"

namespace {
constexpr char MSG_NO_CONFIG[] =
    "No config - service will do nothing until whitelist --token X --server-url Y is run";

bool configured(const agent_state& agent) {
  return agent.config.token[0] && agent.config.server_url[0];
}

constexpr char MSG_ADD_FAILED[] = "Failed to add IP to whitelist";

// One registration of the service, logged and reported (done: the event of
// a success; none for a quiet one). A success clears its own error and adds
// no line when done_format is null; a failure is logged unless log_failure is
// false. True when the server accepted the address.
bool register_and_log(agent_state& agent, agent_network& network, const wchar_t* ip, const char* done_format,
                      const char* failure_fallback, const service_event* done, bool log_failure = true) {
  if (is_registered(sync_pass(agent, network, ip, pass_mode::log))) {
    delete_last_error();
    if (done_format) service_log(done_format, ip);
    report_registration(true, done, ip, nullptr);
    return true;
  }
  if (!stop_requested()) {
    const char* reason = last_api_error[0] ? last_api_error : failure_fallback;
    if (log_failure) service_log("%s", reason);
    report_registration(false, done, ip, reason);
  }
  return false;
}

// The last-write time of whitelist.config; 0 when there is none.
ULONGLONG config_written(const agent_state& agent) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(agent.config_path, GetFileExInfoStandard, &data)) return 0;
  return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

// The system's notice of a change of the PC's IPv4 addresses, as an
// overlapped event the worker waits on with the others. Without it (the
// call refused) the service only polls.
class address_watch {
 public:
  address_watch() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!event_ || !arm())
      service_log("Network change notices unavailable - checking every %lu s", POLL_INTERVAL_MS / 1000);
  }
  ~address_watch() {
    if (armed_) CancelIPChangeNotify(&overlapped_);
  }
  address_watch(const address_watch&) = delete;
  address_watch& operator=(const address_watch&) = delete;
  HANDLE event() const { return armed_ ? event_.get() : nullptr; }
  // After the event fired: asks for the next change.
  void rearm() {
    armed_ = false;
    if (!arm()) service_log("Network change notices stopped - checking every %lu s", POLL_INTERVAL_MS / 1000);
  }

 private:
  bool arm() {
    ResetEvent(event_.get());
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    HANDLE unused = nullptr;
    armed_ = NotifyAddrChange(&unused, &overlapped_) == ERROR_IO_PENDING;
    return armed_;
  }
  kernel_handle event_;
  OVERLAPPED overlapped_{};
  bool armed_ = false;
};

class worker {
 public:
  explicit worker(const worker_signals& signals) : signals_(signals), agent_(*signals.agent) {}
  void run();

 private:
  void load_settings(bool at_start);
  cycle_outcome startup_sync();
  cycle_outcome poll_cycle(bool reassert);
  void run_cycle(unsigned causes);
  // Waits until a cycle is due; false on stop.
  bool wait_for_work();
  void take_reload();

  worker_signals signals_;
  agent_state& agent_;
  winhttp_network network_;
  address_watch addresses_;
  wake_plan plan_;
  ULONGLONG loaded_stamp_ = 0;
  // Since the last registration failed: a quiet re-assertion that fails
  // again adds no line.
  bool failing_ = false;
};

void worker::load_settings(bool at_start) {
  const config_record before = agent_.config;
  plan_.set_reassert_period(reassert_period_ms());
  // Stamped before the read: a write meanwhile is seen by the next cycle.
  loaded_stamp_ = config_written(agent_);
  bool had = configured(agent_);
  if (!config_load_guarded(agent_)) {
    if (at_start || had) service_log("%s", MSG_NO_CONFIG);
    return;
  }
  if (!at_start && (std::wcscmp(before.token, agent_.config.token) != 0 ||
                    std::wcscmp(before.server_url, agent_.config.server_url) != 0))
    service_log("Settings changed - using server %S", agent_.config.server_url);
}

cycle_outcome worker::startup_sync() {
  pending_retry_pass(agent_, network_, pass_mode::log);
  wchar_t ip[IP_CAPACITY] = {};
  cycle_outcome outcome = cycle_outcome::unreached;
  if (!network_.detect_public_ip(agent_.config.server_url, ip, IP_CAPACITY)) {
    if (!stop_requested())
      service_log("Startup whitelist sync skipped: %s",
                  last_api_error[0] ? last_api_error : "could not get public IP");
  } else {
    failing_ = !register_and_log(agent_, network_, ip, "Startup whitelist sync OK: %S",
                                 "Startup whitelist sync failed (POST)", &EVENT_ADDRESS_REGISTERED);
    outcome = failing_ ? cycle_outcome::reached : cycle_outcome::confirmed;
  }
  pending_retry_pass(agent_, network_, pass_mode::log);
  return outcome;
}

// A changed address is registered; an unchanged one only when the cycle
// re-asserts it, which adds no line unless it starts a streak of failures.
cycle_outcome worker::poll_cycle(bool reassert) {
  pending_retry_pass(agent_, network_, pass_mode::log);
  wchar_t ip[IP_CAPACITY] = {};
  if (!network_.detect_public_ip(agent_.config.server_url, ip, IP_CAPACITY)) return cycle_outcome::unreached;
  wchar_t last[IP_CAPACITY];
  last_ip_copy(agent_, last);
  bool changed = !last[0] || !same_ip(last, ip);
  if (!changed && !reassert) return cycle_outcome::reached;
  bool confirmed =
      changed
          ? register_and_log(agent_, network_, ip, "IP updated: %S", MSG_ADD_FAILED, &EVENT_ADDRESS_CHANGED)
          : register_and_log(agent_, network_, ip, nullptr, MSG_ADD_FAILED, nullptr, !failing_);
  failing_ = !confirmed;
  return confirmed ? cycle_outcome::confirmed : cycle_outcome::reached;
}

void worker::take_reload() {
  if (signals_.named) ResetEvent(signals_.named);
  WaitForSingleObject(signals_.control, 0);  // auto-reset: taken
  load_settings(false);
  wchar_t ip[IP_CAPACITY];
  last_ip_copy(agent_, ip);
  service_log("Last IP reloaded from file after external sync: %S", ip[0] ? ip : L"(none)");
}

void worker::run_cycle(unsigned causes) {
  if (causes & WAKE_RELOAD)
    take_reload();
  else if (config_written(agent_) != loaded_stamp_)
    load_settings(false);
  if (!configured(agent_)) {
    plan_.cycle_ended(GetTickCount64(), causes, cycle_outcome::skipped);
    return;
  }
  // Only what the PC noticed is logged: a quiet network's polls stay silent.
  if (causes & WAKE_NETWORK)
    service_log("Network change - checking public IP");
  else if (causes & WAKE_RESUME)
    service_log("Resumed from sleep - checking public IP");
  cycle_outcome outcome = poll_cycle(causes & WAKE_REASSERT);
  if (outcome == cycle_outcome::unreached && (causes & (WAKE_NETWORK | WAKE_RESUME | WAKE_RETRY)) &&
      !stop_requested())
    service_log("No network yet - trying again shortly");
  plan_.cycle_ended(GetTickCount64(), causes, outcome);
}

bool worker::wait_for_work() {
  for (;;) {
    ULONGLONG now = GetTickCount64();
    ULONGLONG wait = plan_.wait_ms(now);
    if (wait == 0) return true;
    // Stop first, then reload, then the PC's notices; the poll is the time-out.
    // A reload waiting for its settle time leaves its events set until taken.
    HANDLE waits[5];
    wake_cause causes[5];
    DWORD count = 0;
    waits[count] = stop_request_event();
    causes[count++] = WAKE_POLL;
    if (!plan_.reload_pending()) {
      waits[count] = signals_.control;
      causes[count++] = WAKE_RELOAD;
      if (signals_.named) {
        waits[count] = signals_.named;
        causes[count++] = WAKE_RELOAD;
      }
    }
    if (HANDLE changed = addresses_.event()) {
      waits[count] = changed;
      causes[count++] = WAKE_NETWORK;
    }
    waits[count] = signals_.resume;
    causes[count++] = WAKE_RESUME;
    DWORD woke = WaitForMultipleObjects(count, waits, FALSE,
                                        static_cast<DWORD>(wait < INFINITE ? wait : INFINITE - 1));
    if (woke == WAIT_TIMEOUT) continue;
    if (woke == WAIT_OBJECT_0 || woke >= WAIT_OBJECT_0 + count) return false;
    wake_cause cause = causes[woke - WAIT_OBJECT_0];
    now = GetTickCount64();
    if (cause == WAKE_RELOAD) {
      // Any account may set the reload event: a burst, and the sets within
      // RELOAD_CYCLE_GAP_MS of the last cycle, are taken as one.
      plan_.reload_signalled(now);
    } else {
      if (cause == WAKE_NETWORK) addresses_.rearm();
      plan_.change_signalled(now, cause);
    }
  }
}

void worker::run() {
  load_settings(true);
  if (configured(agent_))
    plan_.cycle_ended(GetTickCount64(), WAKE_START, startup_sync());
  else
    plan_.cycle_ended(GetTickCount64(), WAKE_START, cycle_outcome::skipped);
  for (;;) {
    if (stop_requested() || !wait_for_work() || stop_requested()) return;
    run_cycle(plan_.take(GetTickCount64()));
  }
}
}  // namespace

DWORD WINAPI service_worker(LPVOID signals) noexcept {
  worker(*static_cast<const worker_signals*>(signals)).run();
  return 0;
}

// The service control manager's side of the service: registration of the
// handler, status reports, the stop and reload controls, the events.
#include "service_host.h"

#include <mutex>

#include "agent_constants.h"
#include "folder_security.h"
#include "last_ip.h"
#include "service_log.h"
#include "service_names.h"
#include "shared_objects.h"

kernel_handle stop_event;
kernel_handle reload_event;

namespace {
// service_main's thread and the handler's thread both report; the record,
// the checkpoint counter and the events are used under this lock.
std::mutex status_lock;
SERVICE_STATUS_HANDLE status_handle = nullptr;
SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, 0, 0, 0, 0, 0, 0};
DWORD checkpoint = 1;
bool stopped_reported = false;

// Caller holds status_lock. Pending states count checkpoints; nothing is
// reported after "stopped", when the process may already be going away.
void report_locked(DWORD state, DWORD controls, DWORD wait_hint, DWORD exit_code) {
  if (stopped_reported) return;
  bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwCurrentState = state;
  status.dwControlsAccepted = controls;
  status.dwWin32ExitCode = exit_code;
  status.dwCheckPoint = pending ? checkpoint++ : 0;
  status.dwWaitHint = wait_hint;
  SetServiceStatus(status_handle, &status);
  stopped_reported = state == SERVICE_STOPPED;
}

void report(DWORD state, DWORD controls, DWORD wait_hint, DWORD exit_code = NO_ERROR) {
  std::lock_guard lock(status_lock);
  report_locked(state, controls, wait_hint, exit_code);
}

void open_reload_event() { reload_event = create_shared_event(RELOAD_EVENT_NAME, foreign_objects::refuse); }
}  // namespace

void reset_reload_event() noexcept {
  std::lock_guard lock(status_lock);
  if (reload_event) ResetEvent(reload_event.get());
}

void WINAPI service_ctrl_handler(DWORD control) noexcept {
  switch (control) {
    case SERVICE_CONTROL_STOP: {
      std::lock_guard lock(status_lock);
      report_locked(SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP, STOP_WAIT_HINT_MS, NO_ERROR);
      if (stop_event) SetEvent(stop_event.get());
      break;
    }
    case SERVICE_CONTROL_RELOAD_LAST_IP:
      reload_last_ip();
      break;
    default:
      break;  // interrogate and the rest: nothing, no report
  }
}

void WINAPI service_main(DWORD, LPWSTR*) noexcept {
  status_handle = RegisterServiceCtrlHandlerW(SERVICE_NAME, service_ctrl_handler);
  if (!status_handle) return;
  report(SERVICE_START_PENDING, 0, START_WAIT_HINT_MS);
  if (folder_problem refused = guard_data_folder(log_refused_file))
    service_log("Data folder not secured: %s", refused);

  stop_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop_event) {
    DWORD error = GetLastError();
    report(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, error);
    return;
  }
  open_reload_event();
  if (!reload_event)
    service_log("Reload-last-IP event unavailable; external sync will not refresh service memory until next poll");
  if (config_load_guarded() != 0)
    service_log("No config - service will do nothing until whitelist --token X --server-url Y is run");

  report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0);
  kernel_handle worker(CreateThread(nullptr, 0, service_worker, nullptr, 0, nullptr));
  if (worker) WaitForSingleObject(worker.get(), INFINITE);
  worker.reset();

  std::lock_guard lock(status_lock);
  stop_event.reset();
  reload_event.reset();
  report_locked(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, NO_ERROR);
}

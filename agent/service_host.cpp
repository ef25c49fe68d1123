// The service control manager's side of the service: the dispatcher,
// registration of the handler, status reports, the stop, reload and power
// controls, the events. The worker is service_worker.h.
#include <windows.h>

#include <mutex>

#include "agent_constants.h"
#include "commands.h"
#include "console.h"
#include "event_log.h"
#include "folder_security.h"
#include "service_log.h"
#include "service_names.h"
#include "service_worker.h"
#include "shared_objects.h"
#include "stop_request.h"

namespace {
// service_main's thread and the handler's thread both report; the record
// and the checkpoint counter are used under this lock.
std::mutex status_lock;
SERVICE_STATUS_HANDLE status_handle = nullptr;
SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, 0, 0, 0, 0, 0, 0};
DWORD checkpoint = 1;
bool stopped_reported = false;
kernel_handle control_reload;  // auto-reset; set by control code 128
kernel_handle power_resume;    // auto-reset; set by a resume from sleep
constexpr DWORD ACCEPTED = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT;
// The service control manager calls service_main with no context of ours:
// the process's state reaches it only through here, set before the dispatch.
agent_state* service_agent = nullptr;

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

kernel_handle open_reload_event() {
  return create_shared_event(RELOAD_EVENT_NAME, foreign_objects::refuse);
}

// Waits for the worker; once a stop was requested, only for a bound, with the
// checkpoint advancing. A worker still inside a call that its cancellation
// did not end is left to the process's exit. True when the worker ended.
bool wait_for_worker(HANDLE worker) {
  const HANDLE waits[] = {worker, stop_request_event()};
  if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return true;
  for (DWORD waited = 0; waited < STOP_GRACE_MS; waited += STOP_CHECKPOINT_MS) {
    if (WaitForSingleObject(worker, STOP_CHECKPOINT_MS) == WAIT_OBJECT_0) return true;
    report(SERVICE_STOP_PENDING, ACCEPTED, STOP_WAIT_HINT_MS);
  }
  return false;
}

DWORD WINAPI service_ctrl_handler(DWORD control, DWORD event_type, LPVOID, LPVOID) noexcept {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      report(SERVICE_STOP_PENDING, ACCEPTED, STOP_WAIT_HINT_MS);
      request_stop();
      return NO_ERROR;
    case SERVICE_CONTROL_RELOAD_LAST_IP:
      // The worker reloads: the settings are its own, and a burst of
      // reloads is taken together there.
      SetEvent(control_reload.get());
      return NO_ERROR;
    case SERVICE_CONTROL_POWEREVENT:
      // After sleep the PC is often on another network, or its lease renewed.
      if (event_type == PBT_APMRESUMEAUTOMATIC || event_type == PBT_APMRESUMESUSPEND)
        SetEvent(power_resume.get());
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI service_main(DWORD, LPWSTR*) noexcept {
  status_handle = RegisterServiceCtrlHandlerExW(SERVICE_NAME, service_ctrl_handler, nullptr);
  if (!status_handle) return;
  report(SERVICE_START_PENDING, 0, START_WAIT_HINT_MS);
  open_event_log();
  if (folder_problem refused = guard_data_folder(report_refused_file, true))
    report_unsecured_folder(refused.reason);
  if (!keep_service_locks())
    service_log("Machine-wide locks created by another account - working without them");

  control_reload.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  power_resume.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!stop_request_init() || !control_reload || !power_resume) {
    DWORD error = GetLastError();
    report(SERVICE_STOPPED, ACCEPTED, 0, error);
    return;
  }
  // Kept until the process ends, like the stop event: a worker that
  // outlived the stop may still wait on it.
  static kernel_handle reload_event = open_reload_event();
  if (!reload_event)
    service_log(
        "Reload-last-IP event unavailable; external sync will not refresh service memory until next poll");

  report(SERVICE_RUNNING, ACCEPTED, 0);
  report_event(EVENT_SERVICE_STARTED);
  static worker_signals signals{reload_event.get(), control_reload.get(), power_resume.get(), service_agent};
  kernel_handle worker(CreateThread(nullptr, 0, service_worker, &signals, 0, nullptr));
  bool ended = !worker || wait_for_worker(worker.get());
  report_event(EVENT_SERVICE_STOPPED);
  report(SERVICE_STOPPED, ACCEPTED, 0);
  // A worker still blocked in a call must not run on while the process's
  // globals are torn down: the process ends here, as it may after STOPPED.
  if (!ended) ExitProcess(NO_ERROR);
}

// A console start (any word the program does not know, "--help" too) ends
// here: the user asked for help or mistyped a command.
void print_usage(bool sync_program) {
  console_print(
      L"Usage:\n"
      L"  whitelist --token <token> --server-url <url>   store the settings and register now (-t / -s)\n"
      L"  whitelist status                               service state and stored settings\n"
      L"  whitelist status --json                        the status as one JSON line; exit 0 only when up to "
      L"date\n"
      L"  whitelist sync                                 register the current public address now\n");
  if (sync_program)
    console_print(
        L"  sync files --name <customer> --token <token> [--server-url <url>]   download the files\n");
  console_print(L"Without a command the program is the Windows service, started by the service manager.\n");
}
}  // namespace

int service_dispatch(agent_state& agent, bool sync_program) {
  service_agent = &agent;
  SERVICE_TABLE_ENTRYW table[] = {
      {const_cast<wchar_t*>(SERVICE_NAME), service_main},
      {nullptr, nullptr},
  };
  if (StartServiceCtrlDispatcherW(table)) return EXIT_OK;
  DWORD error = GetLastError();
  console_print(L"StartServiceCtrlDispatcher failed: %u\n", static_cast<unsigned>(error));
  if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) print_usage(sync_program);
  return EXIT_FAILED;
}

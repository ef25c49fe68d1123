// A service registered under the agent's service name that only reports
// "running" until it is stopped, for tray tests that need a running service
// without the agent's network work.
#include <windows.h>

#include "handles.h"
#include "service_names.h"

namespace {
SERVICE_STATUS_HANDLE status_handle = nullptr;
HANDLE stop_event = nullptr;

void report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  SetServiceStatus(status_handle, &status);
}

DWORD WINAPI on_control(DWORD control, DWORD, LPVOID, LPVOID) noexcept {
  if (control == SERVICE_CONTROL_STOP) {
    report(SERVICE_STOP_PENDING);
    SetEvent(stop_event);
  }
  return NO_ERROR;
}

void WINAPI service_main(DWORD, LPWSTR*) noexcept {
  status_handle = RegisterServiceCtrlHandlerExW(SERVICE_NAME, on_control, nullptr);
  if (!status_handle) return;
  kernel_handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  stop_event = stop.get();
  report(SERVICE_RUNNING);
  WaitForSingleObject(stop_event, INFINITE);
  report(SERVICE_STOPPED);
}
}  // namespace

int wmain() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(SERVICE_NAME), service_main}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

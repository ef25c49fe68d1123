// The service's body is not part of this build yet: when the service control
// manager starts the program it reports that it stopped, with a reason the
// manager shows, instead of pretending to run.
#include "service_host.h"

#include "service_names.h"

namespace {
DWORD WINAPI ignore_controls(DWORD, DWORD, LPVOID, LPVOID) noexcept { return NO_ERROR; }
}  // namespace

void WINAPI service_main(DWORD, LPWSTR*) noexcept {
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(SERVICE_NAME, ignore_controls, nullptr);
  if (!handle) return;
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = SERVICE_STOPPED;
  status.dwWin32ExitCode = ERROR_CALL_NOT_IMPLEMENTED;
  SetServiceStatus(handle, &status);
}

// Test tool: pokes the running agent service the way other programs do.
//   service_control event        sets the reload event
//   service_control control N    sends control code N with ControlService
// Exit 0 on success, else the system error code. `sc control` can't send
// user-defined codes under Wine.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "handles.h"
#include "service_names.h"

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"event") == 0) {
    kernel_handle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, RELOAD_EVENT_NAME));
    if (!event || !SetEvent(event.get())) return static_cast<int>(GetLastError());
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"control") == 0 && std::iswdigit(argv[2][0])) {
    DWORD code = std::wcstoul(argv[2], nullptr, 10);
    service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return static_cast<int>(GetLastError());
    service_handle service(OpenServiceW(manager.get(), SERVICE_NAME, SERVICE_USER_DEFINED_CONTROL));
    SERVICE_STATUS status{};
    if (!service || !ControlService(service.get(), code, &status)) return static_cast<int>(GetLastError());
    return 0;
  }
  std::fputs("usage: service_control event | control <code>\n", stderr);
  return 87;
}

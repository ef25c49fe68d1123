#include "reload_signal.h"

#include <windows.h>

#include "handles.h"
#include "service_names.h"

void signal_service_reload() {
  kernel_handle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, RELOAD_EVENT_NAME));
  if (event) {
    SetEvent(event.get());
    return;
  }
  service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return;
  service_handle service(OpenServiceW(manager.get(), SERVICE_NAME, SERVICE_USER_DEFINED_CONTROL));
  if (!service) return;
  SERVICE_STATUS status{};
  ControlService(service.get(), SERVICE_CONTROL_RELOAD_LAST_IP, &status);
}

#include "service_query.h"

#include "handles.h"
#include "service_names.h"

service_query query_agent_service(DWORD& state) {
  service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return service_query::not_installed;
  service_handle service(OpenServiceW(manager.get(), SERVICE_NAME, SERVICE_QUERY_STATUS));
  if (!service) return service_query::not_installed;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                            sizeof status, &needed))
    return service_query::unknown;
  state = status.dwCurrentState;
  return service_query::ok;
}

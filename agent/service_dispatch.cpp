// Hands the process to the service control manager.
#include <windows.h>

#include "commands.h"
#include "console.h"
#include "service_host.h"
#include "service_names.h"

int service_dispatch() {
  SERVICE_TABLE_ENTRYW table[] = {
      {const_cast<wchar_t*>(SERVICE_NAME), service_main},
      {nullptr, nullptr},
  };
  if (StartServiceCtrlDispatcherW(table)) return EXIT_OK;
  console_print(L"StartServiceCtrlDispatcher failed: %u\n", static_cast<unsigned>(GetLastError()));
  return EXIT_FAILED;
}

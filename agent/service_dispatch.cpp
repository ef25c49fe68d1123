// Hands the process to the service control manager.
#include <windows.h>

#include "commands.h"
#include "console.h"
#include "service_host.h"
#include "service_names.h"

namespace {
// A console start (any word the program does not know, "--help" too) ends
// here: the user asked for help or mistyped a command.
void print_usage(bool sync_program) {
  console_print(
      L"Usage:\n"
      L"  whitelist --token <token> --server-url <url>   store the settings and register now (-t / -s)\n"
      L"  whitelist status                               service state and stored settings\n"
      L"  whitelist sync                                 register the current public address now\n");
  if (sync_program)
    console_print(L"  sync files --name <customer> --token <token> [--server-url <url>]   download the files\n");
  console_print(L"Without a command the program is the Windows service, started by the service manager.\n");
}
}  // namespace

int service_dispatch(bool sync_program) {
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

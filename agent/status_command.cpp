// "status": the service's state and what is configured.
#include <windows.h>

#include "agent_state.h"
#include "commands.h"
#include "console.h"
#include "service_query.h"
#include "status_rules.h"
#include "text.h"

namespace {
constexpr wchar_t STATUS_JSON_OPTION[] = L"--json";

void print_service_line() {
  DWORD state = 0;
  switch (query_agent_service(state)) {
    case service_query::not_installed: console_print(L"Service: Not installed\n"); return;
    case service_query::unknown: console_print(L"Service: Unknown\n"); return;
    case service_query::ok: break;
  }
  switch (state) {
    case SERVICE_STOPPED: console_print(L"Service: Stopped\n"); break;
    case SERVICE_START_PENDING: console_print(L"Service: Starting\n"); break;
    case SERVICE_STOP_PENDING: console_print(L"Service: Stopping\n"); break;
    case SERVICE_RUNNING: console_print(L"Service: Running\n"); break;
    default: console_print(L"Service: %u\n", static_cast<unsigned>(state)); break;
  }
}
}  // namespace

int status_command(agent_state& agent, int argc, wchar_t** argv) {
  if (argc >= 3 && equals_ignore_case(argv[2], STATUS_JSON_OPTION)) return status_json_command(agent);
  (void)config_load(agent);  // none: shown as not configured
  print_service_line();

  const config_record& c = agent.config;
  if (!c.token[0] && !c.server_url[0] && !agent.last_ip[0]) {
    console_print(L"Config: Not configured. Run: whitelist --token X --server-url Y\n");
    return EXIT_OK;
  }
  console_print(L"Config:  %s\n", agent.config_path);
  if (c.server_url[0]) console_print(L"Server:  %s\n", c.server_url);
  if (agent.last_ip[0]) console_print(L"Last IP: %s\n", agent.last_ip);
  console_print(L"Last IP file: %s\n", agent.last_ip_path);
  if (c.token[0]) {
    wchar_t shown[TOKEN_DISPLAY_CAPACITY];
    shorten_token(c.token, shown, TOKEN_DISPLAY_CAPACITY);
    console_print(L"Token:   %s\n", shown);
  }
  return EXIT_OK;
}

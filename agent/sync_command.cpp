// "sync" and the registration that ends configure mode: both register the
// current public address and, on success, tell a running service.
#include <windows.h>

#include "agent_constants.h"
#include "agent_state.h"
#include "commands.h"
#include "console.h"
#include "handles.h"
#include "service_names.h"
#include "sync_pass.h"

namespace {
constexpr char MSG_NO_CONFIG[] =
    "No configuration found. Open Settings and enter your rule token and server URL.";
constexpr char MSG_NO_PUBLIC_IP[] = "Failed to detect public IP (check internet connection).";
constexpr char MSG_ADD_FAILED[] = "Failed to add IP to whitelist.";
constexpr char MSG_NOT_RECORDED[] = "IP whitelisted, but last_ip.txt could not be written.";

// Tells a running service that last_ip.txt changed behind its back: the
// reload event when it can be opened, control code 128 otherwise. Silent: a
// command succeeds whether or not a service heard it.
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

void record_add_failure(const agent_state& agent) {
  write_last_error(agent, last_api_error[0] ? last_api_error : MSG_ADD_FAILED);
}

int registration_succeeded(const wchar_t* ip) {
  delete_last_error();
  console_print(L"IP %s whitelisted successfully.\n", ip);
  signal_service_reload();
  return EXIT_OK;
}
}  // namespace

int sync_command(agent_state& agent, int, wchar_t**) {
  winhttp_network network;
  return sync_command(agent, network);
}

int sync_command(agent_state& agent, agent_network& network) {
  delete_last_error();
  if (!config_load(agent)) {
    console_print(L"No config. Run: whitelist --token X --server-url Y\n");
    write_last_error(agent, MSG_NO_CONFIG);
    return EXIT_FAILED;
  }
  wchar_t ip[IP_CAPACITY] = {};
  if (!network.detect_public_ip(agent.config.server_url, ip, IP_CAPACITY)) {
    console_print_failure(L"Failed to get public IP.");
    write_last_error(agent, last_api_error[0] ? last_api_error : MSG_NO_PUBLIC_IP);
    return EXIT_FAILED;
  }
  console_print(L"Current public IP: %s\n", ip);
  registration pass = sync_pass(agent, network, ip, pass_mode::console);
  if (pass == registration::unrecorded) {
    // Registered but not recorded: the allowlist changed, so the service
    // hears of it; the failure is the command's result.
    write_last_error(agent, MSG_NOT_RECORDED);
    signal_service_reload();
    return EXIT_FAILED;
  }
  if (pass != registration::recorded) {
    console_print_failure(L"Failed to add IP to whitelist.");
    record_add_failure(agent);
    return EXIT_FAILED;
  }
  pending_retry_pass(agent, network, pass_mode::console);
  return registration_succeeded(ip);
}

int register_configuration(agent_state& agent, agent_network& network) {
  wchar_t ip[IP_CAPACITY] = {};
  if (!network.detect_public_ip(agent.config.server_url, ip, IP_CAPACITY)) {
    console_print(L"Warning: could not get public IP.\n");
    if (last_api_error[0]) {  // a proxy's refusal: the reason to show
      console_print_failure(L"");
      write_last_error(agent, last_api_error);
    }
    return EXIT_OK;
  }
  // A registration last_ip.txt could not record is reported by the pass and
  // still ends configure mode as a success.
  if (!is_registered(sync_pass(agent, network, ip, pass_mode::configure))) {
    console_print_failure(L"Warning: failed to add IP to whitelist.");
    record_add_failure(agent);
    return EXIT_OK;
  }
  pending_retry_pass(agent, network, pass_mode::console);
  return registration_succeeded(ip);
}

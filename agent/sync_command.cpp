// "sync" and the registration that ends configure mode: both register the
// current public address and, on success, tell a running service.
#include "agent_constants.h"
#include "allowlist_api.h"
#include "commands.h"
#include "config_store.h"
#include "console.h"
#include "data_folder.h"
#include "ip_detect.h"
#include "last_ip.h"
#include "pending_queue.h"
#include "reload_signal.h"
#include "shared_objects.h"
#include "sync_pass.h"

namespace {
constexpr char MSG_NO_CONFIG[] = "No configuration found. Open Settings and enter your rule token and server URL.";
constexpr char MSG_NO_PUBLIC_IP[] = "Failed to detect public IP (check internet connection).";
constexpr char MSG_ADD_FAILED[] = "Failed to add IP to whitelist.";
constexpr char MSG_NOT_RECORDED[] = "IP whitelisted, but last_ip.txt could not be written.";

void record_add_failure() { write_last_error(last_api_error[0] ? last_api_error : MSG_ADD_FAILED); }

int registration_succeeded(const wchar_t* ip) {
  delete_last_error();
  console_print(L"IP %s whitelisted successfully.\n", ip);
  signal_service_reload();
  return EXIT_OK;
}
}  // namespace

int sync_command(int, wchar_t**) {
  delete_last_error();
  if (config_load() != 0) {
    console_print(L"No config. Run: whitelist --token X --server-url Y\n");
    write_last_error(MSG_NO_CONFIG);
    return EXIT_FAILED;
  }
  wchar_t ip[IP_CAPACITY] = {};
  if (detect_public_ip(ip, IP_CAPACITY, agent_config.server_url) != 0) {
    console_print(L"Failed to get public IP.\n");
    write_last_error(MSG_NO_PUBLIC_IP);
    return EXIT_FAILED;
  }
  console_print(L"Current public IP: %s\n", ip);
  int pass = sync_pass(ip, pass_mode::console);
  if (pass == 2) {
    // Registered but not recorded: the allowlist changed, so the service
    // hears of it; the failure is the command's result.
    write_last_error(MSG_NOT_RECORDED);
    signal_service_reload();
    return EXIT_FAILED;
  }
  if (pass != 0) {
    console_print_failure(L"Failed to add IP to whitelist.");
    record_add_failure();
    return EXIT_FAILED;
  }
  pending_retry_pass(pass_mode::console);
  return registration_succeeded(ip);
}

namespace {
// The replacement of the registered address, as in sync_pass but with its own
// messages; true when the addition succeeded.
bool replace_registration(const wchar_t* ip) {
  const config_record& c = agent_config;
  machine_lock registering(REGISTRATION_MUTEX_NAME, REGISTRATION_MUTEX_WAIT_MS);
  wchar_t old_ip[IP_CAPACITY];
  last_ip_reload(old_ip);
  if (old_ip[0] && !same_ip(old_ip, ip)) {
    old_ip_removal removal = remove_old_ip(old_ip);
    if (removal != old_ip_removal::removed)
      console_print(L"Warning: failed to remove old IP; queued for retry.\n");
    if (removal == old_ip_removal::queue_full) console_print(L"Warning: pending delete queue full.\n");
    if (removal == old_ip_removal::queue_unwritten)
      console_print(L"Warning: could not write the pending delete queue; %s may remain on the whitelist.\n",
                    old_ip);
  }
  if (allowlist_request(METHOD_ADD, c.server_url, ALLOWLIST_PATH, c.token, ip) != 0) return false;
  if (record_registered_ip(old_ip, ip) != 0) report_unrecorded(ip, pass_mode::console);
  return true;
}
}  // namespace

int register_configuration() {
  wchar_t ip[IP_CAPACITY] = {};
  if (detect_public_ip(ip, IP_CAPACITY, agent_config.server_url) != 0) {
    console_print(L"Warning: could not get public IP.\n");
    return EXIT_OK;
  }
  if (!replace_registration(ip)) {
    console_print_failure(L"Warning: failed to add IP to whitelist.");
    record_add_failure();
    return EXIT_OK;
  }
  pending_retry_pass(pass_mode::console);
  return registration_succeeded(ip);
}

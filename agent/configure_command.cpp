// Configure mode: "--token <token> --server-url <url>" (or -t / -s) stores
// the settings; values already stored fill in what the command line omits.
#include "agent_state.h"
#include "commands.h"
#include "console.h"
#include "folder_security.h"
#include "text.h"

const command_option* read_command_options(int argc, wchar_t** argv, int first,
                                           std::span<const command_option> options) {
  for (int i = first; i + 1 < argc; ++i) {
    for (const command_option& option : options) {
      if (!equals_ignore_case(argv[i], option.long_name) && !equals_ignore_case(argv[i], option.short_name))
        continue;
      if (!copy_bounded(option.field, option.capacity, argv[++i])) return &option;
      break;
    }
  }
  return nullptr;
}

bool take_folder_guard(bool writer) {
  if (!takes_folder_guard()) return true;
  // Nothing in the folder is used by path from here on.
  const char* why = guard_data_folder(nullptr, writer).reason;
  if (why) console_print(L"Data folder is not safe to use: %S.\n", why);
  return !why;
}

int configure_command(agent_state& agent, int argc, wchar_t** argv) {
  (void)config_load(agent);  // none: the options given make a new one
  config_record& c = agent.config;
  const command_option options[] = {
      {L"--token", L"-t", c.token, TOKEN_CAPACITY},
      {L"--server-url", L"-s", c.server_url, SERVER_URL_CAPACITY},
  };
  if (const command_option* too_long = read_command_options(argc, argv, 1, options)) {
    console_print(L"%s\n", too_long == &options[0] ? TEXT_TOKEN_TOO_LONG : TEXT_SERVER_URL_TOO_LONG);
    return EXIT_FAILED;
  }

  if (!c.token[0] || !c.server_url[0]) {
    console_print(L"Usage: whitelist --token <token> --server-url <url>\n");
    return EXIT_FAILED;
  }
  strip_one_trailing_slash(c.server_url);
  if (!take_folder_guard(true)) return EXIT_FAILED;
  if (!config_save(agent)) {
    console_print(L"Failed to save config.\n");
    return EXIT_FAILED;
  }
  delete_last_error();
  console_print(L"Config saved to %s\n", agent.config_path);
  winhttp_network network;
  return register_configuration(agent, network);
}

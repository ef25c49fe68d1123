// Configure mode: "--token <token> --server-url <url>" (or -t / -s) stores
// the settings; values already stored fill in what the command line omits.
#include <cwchar>

#include "agent_state.h"
#include "commands.h"
#include "console.h"
#include "text.h"

namespace {
struct option_field {
  const wchar_t* long_name;
  const wchar_t* short_name;
  wchar_t* field;
  size_t capacity;
  const wchar_t* too_long_message;
};

bool is_option(const wchar_t* arg, const option_field& option) {
  return equals_ignore_case(arg, option.long_name) || equals_ignore_case(arg, option.short_name);
}
}  // namespace

int configure_command(int argc, wchar_t** argv) {
  config_load();
  config_record& c = agent_config;
  const option_field options[] = {
      {L"--token", L"-t", c.token, TOKEN_CAPACITY,
       L"The rule token is too long (at most 255 characters).\n"},
      {L"--server-url", L"-s", c.server_url, SERVER_URL_CAPACITY,
       L"The server URL is too long (at most 511 characters).\n"},
  };

  // Reject over-long values before anything is changed: a cut token or URL
  // would be saved and fail later in ways that are hard to trace.
  for (int i = 1; i + 1 < argc; ++i) {
    for (const option_field& option : options) {
      if (!is_option(argv[i], option)) continue;
      if (std::wcslen(argv[i + 1]) >= option.capacity) {
        console_print(option.too_long_message);
        return EXIT_FAILED;
      }
      copy_bounded(option.field, option.capacity, argv[i + 1]);
      ++i;
      break;
    }
  }

  if (!c.token[0] || !c.server_url[0]) {
    console_print(L"Usage: whitelist --token <token> --server-url <url>\n");
    return EXIT_FAILED;
  }
  strip_one_trailing_slash(c.server_url);
  if (config_save() != 0) {
    console_print(L"Failed to save config.\n");
    return EXIT_FAILED;
  }
  delete_last_error();
  console_print(L"Config saved to %s\n", agent.config_path);
  return register_configuration();
}

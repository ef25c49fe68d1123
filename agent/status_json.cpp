// "status --json": one line of JSON for monitoring and remediation scripts,
// decided by the same rules as the tray's status. Exit 0 only when the
// allowlist holds the current address.
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <type_traits>

#include "agent_state.h"
#include "commands.h"
#include "console.h"
#include "status_rules.h"
#include "status_sources.h"
#include "text.h"
#include "version.h"

namespace {
// "2026-12-07T14:05:09Z": digits where the pattern has '9'.
constexpr char CONFIRMED_PATTERN[] = "9999-99-99T99:99:99Z";
constexpr size_t CONFIRMED_LENGTH = sizeof CONFIRMED_PATTERN - 1;

// One JSON object built key by key. Everything outside printable ASCII is
// written as \uXXXX, so the line reads the same in any console code page
// (Windows PowerShell decodes a program's output with the OEM one).
class json_line {
 public:
  template <typename Char>
  void text(const char* key, const Char* value) {
    name(key);
    if (!value) {
      line_ += L"null";
      return;
    }
    line_ += L'"';
    for (; *value; ++value) {
      auto unit = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(*value));
      if (unit == '"' || unit == '\\') {
        line_ += L'\\';
        line_ += static_cast<wchar_t>(unit);
      } else if (unit < 0x20 || unit > 0x7e) {
        wchar_t escaped[7];
        format_bounded(escaped, std::size(escaped), L"\\u%04x", unit);
        line_ += escaped;
      } else {
        line_ += static_cast<wchar_t>(unit);
      }
    }
    line_ += L'"';
  }
  void literal(const char* key, const wchar_t* json) {
    name(key);
    line_ += json;
  }
  void number(const char* key, int value) { literal(key, std::to_wstring(value).c_str()); }
  void boolean(const char* key, bool value) { literal(key, value ? L"true" : L"false"); }
  // Another object as this key's value.
  void object(const char* key, json_line& value) { literal(key, value.close().c_str()); }
  const std::wstring& close() {
    line_ += L'}';
    return line_;
  }

 private:
  void name(const char* key) {
    if (line_.size() > 1) line_ += L',';
    line_ += L'"';
    for (; *key; ++key) line_ += static_cast<wchar_t>(*key);
    line_ += L"\":";
  }
  std::wstring line_ = L"{";
};

// The time last_confirmed.txt holds, or null when it holds none.
const char* read_last_confirmed(char* out) {
  wchar_t path[PATH_CAPACITY];
  if (!data_file_path(LAST_CONFIRMED_FILE_NAME, path, PATH_CAPACITY) ||
      read_state_file(path, out, CONFIRMED_LENGTH + 2) != read_result::ok)
    return nullptr;
  out[std::strcspn(out, "\r\n")] = '\0';
  if (std::strlen(out) != CONFIRMED_LENGTH) return nullptr;
  for (size_t i = 0; i < CONFIRMED_LENGTH; ++i) {
    bool digit = out[i] >= '0' && out[i] <= '9';
    if (CONFIRMED_PATTERN[i] == '9' ? !digit : out[i] != CONFIRMED_PATTERN[i]) return nullptr;
  }
  return out;
}

const wchar_t* or_null(const wchar_t* text) {
  return text && *text ? text : nullptr;
}
}  // namespace

int status_json_command(agent_state& agent) {
  (void)config_load(agent);  // none: reported as not configured
  const config_record& c = agent.config;
  bool configured = c.token[0] && c.server_url[0];
  machine_status_sources sources(configured, c.server_url);
  wchar_t public_ip[SHORT_FIELD_CAPACITY] = {};
  bool detected = sources.detect_public_ip(public_ip, SHORT_FIELD_CAPACITY);
  wchar_t status[STATUS_TEXT_CAPACITY];
  allowlist_state state = allowlist_state::not_configured;
  compute_allowlist_status(status, STATUS_TEXT_CAPACITY, detected ? public_ip : nullptr, agent.last_ip,
                           sources, &state);

  json_line json;
  json.text("version", WHITELIST_VERSION_TEXT);
  json.text("service", sources.service_word());
  json.boolean("configured", configured);
  json.text("server", or_null(c.server_url));
  json.text("public_ip", detected ? public_ip : nullptr);
  json.text("last_ip", or_null(agent.last_ip));
  char confirmed[CONFIRMED_LENGTH + 3];
  json.text("last_confirmed", read_last_confirmed(confirmed));
  json.text("status", allowlist_state_word(state));
  wchar_t error_text[LAST_ERROR_TEXT_CAPACITY];
  if (state == allowlist_state::error && sources.last_error(error_text, LAST_ERROR_TEXT_CAPACITY)) {
    for (size_t n = std::wcslen(error_text); n > 0 && std::iswspace(error_text[n - 1]);)
      error_text[--n] = L'\0';
    json_line error;
    error.text("text", error_text);
    size_t prefix = std::wcslen(ERROR_STATUS_PREFIX);
    error.text("reason", std::wcsncmp(status, ERROR_STATUS_PREFIX, prefix) == 0 ? status + prefix : status);
    json.object("error", error);
  } else {
    json.literal("error", L"null");
  }
  int pending = 0;
  if (count_pending_deletes(&pending))
    json.number("pending_removals", pending);
  else
    json.literal("pending_removals", L"null");
  console_print(L"%s\n", json.close().c_str());
  return state == allowlist_state::up_to_date ? EXIT_OK : EXIT_FAILED;
}

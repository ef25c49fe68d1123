#include "config_text.h"

#include <cstring>

#include "text.h"

namespace {
constexpr char CONFIG_TEXT_FORMAT[] = "token=%s\nserver_url=%s\nfiles_name=%s\nfiles_token=%s\n";

const config_output* output_for_key(const char* key, size_t key_len, const config_outputs& outputs) {
  if (equals_ignore_case(key, key_len, "token")) return &outputs.token;
  if (equals_ignore_case(key, key_len, "server_url")) return &outputs.server_url;
  if (equals_ignore_case(key, key_len, "files_name")) return &outputs.files_name;
  if (equals_ignore_case(key, key_len, "files_token")) return &outputs.files_token;
  return nullptr;
}
}  // namespace

void parse_config_text(const char* text, const config_outputs& outputs) {
  const char* p = text;
  for (;;) {
    p = skip_blanks(p, LINE_BLANKS);
    if (!*p) return;
    // The key runs to the next '=' across line ends: a line without '=' joins
    // the next key, which then matches nothing.
    const char* key = p;
    const char* equals = std::strchr(p, '=');
    if (!equals) return;
    const char* value = equals + 1;
    size_t value_len = std::strcspn(value, "\r\n");
    p = value + value_len;
    if (*p) ++p;  // one CR or LF ends the value

    const config_output* out = output_for_key(key, static_cast<size_t>(equals - key), outputs);
    if (out && out->buffer && out->capacity > 0)
      utf8_to_wide(value, static_cast<int>(value_len), out->buffer, out->capacity);
  }
}

bool format_config_text(const char* token, const char* server_url, const char* files_name,
                        const char* files_token, char* out, size_t cap) {
  return format_bounded(out, cap, CONFIG_TEXT_FORMAT, token, server_url, files_name, files_token);
}

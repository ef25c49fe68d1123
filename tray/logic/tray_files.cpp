#include "tray_files.h"

#include "ip_detect.h"
#include "status_sources.h"
#include "text.h"

namespace {
wchar_t* state_file_path(const wchar_t* file_name, wchar_t* out) {
  data_file_path(file_name, out, PATH_CAPACITY);
  return out;
}
}  // namespace

bool tray_config_load(wchar_t* token, size_t token_cap, wchar_t* server_url, size_t server_url_cap,
                      wchar_t* files_name, size_t files_name_cap, wchar_t* files_token,
                      size_t files_token_cap) {
  wchar_t path[PATH_CAPACITY];
  config_record record;
  bool loaded = read_config_record(state_file_path(CONFIG_FILE_NAME, path), record);
  const struct {
    wchar_t* out;
    size_t cap;
    const wchar_t* value;
  } outputs[] = {{token, token_cap, record.token},
                 {server_url, server_url_cap, record.server_url},
                 {files_name, files_name_cap, record.files_name},
                 {files_token, files_token_cap, record.files_token}};
  for (const auto& o : outputs)
    if (o.out && o.cap > 0) copy_bounded(o.out, o.cap, o.value);
  return loaded;
}

bool tray_config_save(const wchar_t* token, const wchar_t* server_url, const wchar_t* files_name,
                      const wchar_t* files_token, wchar_t* message, size_t message_cap) {
  auto fail = [&](const wchar_t* text) {
    if (message && message_cap > 0) copy_bounded(message, message_cap, text);
    return false;
  };
  if (!token || !*token || !server_url || !*server_url) return fail(MSG_TOKEN_AND_URL_REQUIRED);
  wchar_t path[PATH_CAPACITY];
  if (!write_config_values(state_file_path(CONFIG_FILE_NAME, path), token, server_url,
                           files_name ? files_name : L"", files_token ? files_token : L""))
    return fail(MSG_CONFIG_WRITE_FAILED);
  return true;
}

void tray_read_last_ip(wchar_t* out, size_t cap) {
  if (!out || cap == 0) return;
  wchar_t path[PATH_CAPACITY];
  if (read_last_ip(state_file_path(LAST_IP_FILE_NAME, path), out, cap) == read_result::missing)
    out[0] = L'\0';
}

bool tray_read_last_error(wchar_t* out, size_t cap) {
  return read_last_error_text(out, cap);
}

bool tray_detect_public_ip(const wchar_t* server_url, wchar_t* out, size_t cap) {
  return detect_public_ip(out, cap, server_url);
}

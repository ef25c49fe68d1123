#include "agent_state.h"

#include <windows.h>

#include <cstring>

#include "file_io.h"
#include "folder_security.h"
#include "text.h"

bool init_paths(agent_state& agent) {
  bool whole = data_file_path(CONFIG_FILE_NAME, agent.config_path, PATH_CAPACITY);
  whole = data_file_path(LAST_IP_FILE_NAME, agent.last_ip_path, PATH_CAPACITY) && whole;
  whole = data_file_path(PENDING_FILE_NAME, agent.pending_path, PATH_CAPACITY) && whole;
  whole = data_file_path(LAST_CONFIRMED_FILE_NAME, agent.last_confirmed_path, PATH_CAPACITY) && whole;
  return data_file_path(LAST_ERROR_FILE_NAME, agent.last_error_path, PATH_CAPACITY) && whole;
}

bool read_last_ip_file(const agent_state& agent, wchar_t* out) {
  return read_last_ip(agent.last_ip_path, out, IP_CAPACITY) == read_result::ok;
}

void load_last_ip(agent_state& agent) {
  read_last_ip_file(agent, agent.last_ip);
}

bool write_last_ip_file(const agent_state& agent) {
  if (!agent.last_ip[0]) return true;
  char text[LAST_IP_UTF8_CAPACITY];
  if (!wide_to_utf8(agent.last_ip, text, sizeof text)) return false;
  ensure_data_folder(agent.config_path);
  return replace_file(agent.last_ip_path, text, std::strlen(text));
}

void write_last_error(const agent_state& agent, const char* text) {
  if (!text || !*text || !agent.last_error_path[0]) return;
  ensure_data_folder(agent.last_error_path);
  (void)replace_file(agent.last_error_path, text, std::strlen(text));
}

void delete_last_error() {
  (void)delete_data_file(LAST_ERROR_FILE_NAME);
}

bool write_last_confirmed(const agent_state& agent) {
  if (!agent.last_confirmed_path[0]) return false;
  SYSTEMTIME now;
  GetSystemTime(&now);
  char text[sizeof "2026-12-07T14:05:09Z"];
  format_bounded(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay,
                 now.wHour, now.wMinute, now.wSecond);
  ensure_data_folder(agent.last_confirmed_path);
  return replace_file(agent.last_confirmed_path, text, std::strlen(text));
}

bool config_load(agent_state& agent) {
  bool loaded = read_config_record(agent.config_path, agent.config);
  // With a configuration, its last_ip.txt alone says what is registered.
  if (loaded) agent.last_ip[0] = L'\0';
  load_last_ip(agent);
  return loaded;
}

bool config_save(const agent_state& agent) {
  const config_record& c = agent.config;
  if (!write_config_values(agent.config_path, c.token, c.server_url, c.files_name, c.files_token))
    return false;
  (void)write_last_ip_file(agent);  // not reported: the configuration itself was saved
  return true;
}

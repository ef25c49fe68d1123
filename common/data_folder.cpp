#include "data_folder.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "file_io.h"
#include "folder_security.h"
#include "text.h"

agent_state agent;

namespace {
constexpr wchar_t DATA_PATH_FORMAT[] = L"%s\\%s\\%s";
constexpr wchar_t DATA_FOLDER_FORMAT[] = L"%s\\%s";

const wchar_t* program_data_dir() {
  const wchar_t* base = _wgetenv(L"ProgramData");
  return (base && *base) ? base : DEFAULT_PROGRAM_DATA;
}

enum class read_result { ok, not_opened, read_failed };

// Reads at most max bytes from the start of a file into buf (max + 1 bytes)
// and terminates them.
read_result read_head(const wchar_t* path, DWORD share_mode, char* buf, size_t max) {
  file_handle file = open_for_reading(path, share_mode);
  if (!file) return read_result::not_opened;
  long got = read_up_to(file.get(), buf, max);
  if (got < 0) return read_result::read_failed;
  buf[got] = '\0';
  return read_result::ok;
}

void cut_at_line_end(char* text) { text[std::strcspn(text, "\r\n")] = '\0'; }
}  // namespace

bool data_file_path(const wchar_t* file_name, wchar_t* out, size_t cap) {
  return format_bounded(out, cap, DATA_PATH_FORMAT, program_data_dir(), DATA_FOLDER_NAME, file_name);
}

bool data_folder_path(wchar_t* out, size_t cap) {
  return format_bounded(out, cap, DATA_FOLDER_FORMAT, program_data_dir(), DATA_FOLDER_NAME);
}

void init_paths() {
  data_file_path(CONFIG_FILE_NAME, agent.config_path, PATH_CAPACITY);
  data_file_path(LAST_IP_FILE_NAME, agent.last_ip_path, PATH_CAPACITY);
  data_file_path(PENDING_FILE_NAME, agent.pending_path, PATH_CAPACITY);
  data_file_path(LAST_ERROR_FILE_NAME, agent.last_error_path, PATH_CAPACITY);
}

void ensure_data_folder(const wchar_t* path) {
  if (state_files_guarded()) return;
  wchar_t folder[PATH_CAPACITY];
  copy_bounded(folder, PATH_CAPACITY, path);
  wchar_t* last = std::wcsrchr(folder, L'\\');
  if (!last) return;
  *last = L'\0';
  local_memory descriptor = descriptor_from_sddl(SHARED_FOLDER_DACL);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  CreateDirectoryW(folder, &attributes);
}

bool read_last_ip_file(wchar_t* out) {
  char text[IP_CAPACITY];
  if (read_head(agent.last_ip_path, FILE_SHARE_READ | FILE_SHARE_WRITE, text, LAST_IP_READ_MAX) !=
      read_result::ok)
    return false;
  cut_at_line_end(text);
  utf8_to_wide(text, -1, out, IP_CAPACITY);
  return true;
}

void load_last_ip() { read_last_ip_file(agent.last_ip); }

int write_last_ip_file() {
  if (!agent.last_ip[0]) return 0;
  char text[LAST_IP_UTF8_CAPACITY];
  if (!wide_to_utf8(agent.last_ip, text, sizeof text)) return -1;
  ensure_data_folder(agent.config_path);
  return replace_file(agent.last_ip_path, text, std::strlen(text));
}

int write_last_error(const char* text) {
  if (!text || !*text || !agent.last_error_path[0]) return 0;
  ensure_data_folder(agent.last_error_path);
  return replace_file(agent.last_error_path, text, std::strlen(text));
}

void delete_last_error() {
  if (agent.last_error_path[0]) DeleteFileW(agent.last_error_path);
}

void tray_read_last_ip(wchar_t* out, size_t cap) {
  if (!out || cap == 0) return;
  wchar_t path[PATH_CAPACITY];
  data_file_path(LAST_IP_FILE_NAME, path, PATH_CAPACITY);
  char text[IP_CAPACITY];
  switch (read_head(path, FILE_SHARE_READ, text, LAST_IP_READ_MAX)) {
    case read_result::not_opened:
      out[0] = L'\0';
      return;
    case read_result::read_failed:
      return;  // the caller's buffer keeps what it held
    case read_result::ok:
      break;
  }
  cut_at_line_end(text);
  utf8_to_wide(text, -1, out, cap < IP_CAPACITY ? cap : IP_CAPACITY);
}

int tray_read_last_error(wchar_t* out, size_t cap) {
  if (!out || cap == 0) return -1;
  out[0] = L'\0';
  wchar_t path[PATH_CAPACITY];
  data_file_path(LAST_ERROR_FILE_NAME, path, PATH_CAPACITY);
  char text[LAST_ERROR_CAPACITY];
  if (read_head(path, FILE_SHARE_READ, text, LAST_ERROR_CAPACITY - 1) != read_result::ok) return -1;
  const char* start = text + std::strspn(text, " \t\r\n");
  if (!*start) return -1;  // only blanks: no error
  if (utf8_to_wide(start, -1, out, cap) && out[0]) return 0;
  if (ansi_to_wide(start, -1, out, cap) && out[0]) return 0;
  out[0] = L'\0';
  return -1;
}

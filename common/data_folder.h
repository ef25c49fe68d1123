// The machine-wide data folder and its two small state files.
#pragma once

#include <cstddef>

inline constexpr wchar_t DATA_FOLDER_NAME[] = L"QOR Whitelist IP Updater";
inline constexpr wchar_t DEFAULT_PROGRAM_DATA[] = L"C:\\ProgramData";
inline constexpr wchar_t CONFIG_FILE_NAME[] = L"whitelist.config";
inline constexpr wchar_t LAST_IP_FILE_NAME[] = L"last_ip.txt";
inline constexpr wchar_t PENDING_FILE_NAME[] = L"pending_delete_ips.txt";
inline constexpr wchar_t LAST_ERROR_FILE_NAME[] = L"last_error.txt";
// Held open by the service so that its folder never becomes empty: an empty
// folder is what a mount point needs.
inline constexpr wchar_t FOLDER_ANCHOR_FILE_NAME[] = L"service.lock";

inline constexpr size_t PATH_CAPACITY = 260;
inline constexpr size_t IP_CAPACITY = 64;
inline constexpr size_t LAST_IP_READ_MAX = IP_CAPACITY - 1;
inline constexpr size_t LAST_IP_UTF8_CAPACITY = 128;
inline constexpr size_t LAST_ERROR_CAPACITY = 2048;

// The agent's process-wide state.
struct agent_state {
  wchar_t config_path[PATH_CAPACITY];
  wchar_t last_ip_path[PATH_CAPACITY];
  wchar_t pending_path[PATH_CAPACITY];
  wchar_t last_error_path[PATH_CAPACITY];
  wchar_t last_ip[IP_CAPACITY];  // what the allowlist holds for this PC, empty when unknown
};
extern agent_state agent;

// Formats "<ProgramData>\QOR Whitelist IP Updater\<file_name>" into out (cut to
// fit); false when it was cut.
bool data_file_path(const wchar_t* file_name, wchar_t* out, size_t cap);

// Formats "<ProgramData>\QOR Whitelist IP Updater" into out; false when cut.
bool data_folder_path(wchar_t* out, size_t cap);

// Agent: fills the four paths once, at the very start.
void init_paths();
// Creates the last folder level of path (an existing folder is the normal
// case) with the shared folders' DACL; nothing once the service guards it.
void ensure_data_folder(const wchar_t* path);
// Agent's reading rule: leaves last_ip unchanged when the file can't be read.
void load_last_ip();
// The same rule into out (IP_CAPACITY units); false, out untouched, when the
// file can't be read.
bool read_last_ip_file(wchar_t* out);
// Replaces last_ip.txt with last_ip; nothing when last_ip is empty. 0 or -1.
int write_last_ip_file();
// Replaces last_error.txt with text; nothing for an empty text. 0 or -1.
int write_last_error(const char* text);
void delete_last_error();

// Tray's reading rules; the paths are built anew for each call.
void tray_read_last_ip(wchar_t* out, size_t cap);
int tray_read_last_error(wchar_t* out, size_t cap);

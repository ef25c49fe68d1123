// The machine-wide data folder: its place and the names of its files.
#pragma once

#include <cstddef>

inline constexpr wchar_t DATA_FOLDER_NAME[] = L"QOR Whitelist IP Updater";
inline constexpr wchar_t DEFAULT_PROGRAM_DATA[] = L"C:\\ProgramData";
inline constexpr wchar_t CONFIG_FILE_NAME[] = L"whitelist.config";
inline constexpr wchar_t LAST_IP_FILE_NAME[] = L"last_ip.txt";
inline constexpr wchar_t PENDING_FILE_NAME[] = L"pending_delete_ips.txt";
inline constexpr wchar_t LAST_ERROR_FILE_NAME[] = L"last_error.txt";
// When the server last accepted the address in last_ip.txt (UTC, ISO 8601).
inline constexpr wchar_t LAST_CONFIRMED_FILE_NAME[] = L"last_confirmed.txt";
// Held open by the service so that its folder never becomes empty: an empty
// folder is what a mount point needs.
inline constexpr wchar_t FOLDER_ANCHOR_FILE_NAME[] = L"service.lock";

inline constexpr size_t PATH_CAPACITY = 260;
inline constexpr size_t IP_CAPACITY = 64;
inline constexpr size_t LAST_IP_READ_MAX = IP_CAPACITY - 1;
inline constexpr size_t LAST_IP_UTF8_CAPACITY = 128;
inline constexpr size_t LAST_ERROR_CAPACITY = 2048;

// Formats "<ProgramData>\QOR Whitelist IP Updater\<file_name>" into out;
// false, and out empty, when it does not fit.
bool data_file_path(const wchar_t* file_name, wchar_t* out, size_t cap);

// Formats "<ProgramData>\QOR Whitelist IP Updater" into out; false when cut.
bool data_folder_path(wchar_t* out, size_t cap);

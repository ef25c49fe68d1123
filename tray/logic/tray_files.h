// The tray's reads and writes of the agent's state files; the paths are
// built anew for each call.
#pragma once

#include <cstddef>

#include "config_store.h"
#include "state_files.h"

inline constexpr wchar_t MSG_TOKEN_AND_URL_REQUIRED[] = L"Rule token and server URL are required.";
inline constexpr wchar_t MSG_CONFIG_WRITE_FAILED[] = L"Failed to write encrypted config.";

// Every output is optional (null or capacity 0: not wanted). False when the
// file is missing or unreadable; the outputs are then empty.
[[nodiscard]] bool tray_config_load(wchar_t* token, size_t token_cap, wchar_t* server_url,
                                    size_t server_url_cap, wchar_t* files_name, size_t files_name_cap,
                                    wchar_t* files_token, size_t files_token_cap);
// files_name and files_token may be null. On failure a message goes to
// message when a buffer is given.
[[nodiscard]] bool tray_config_save(const wchar_t* token, const wchar_t* server_url,
                                    const wchar_t* files_name, const wchar_t* files_token, wchar_t* message,
                                    size_t message_cap);
// A missing file empties out; one that can't be read leaves it as it was.
void tray_read_last_ip(wchar_t* out, size_t cap);
[[nodiscard]] bool tray_read_last_error(wchar_t* out, size_t cap);
// detect_public_ip with the server URL the caller loaded by tray_config_load:
// one reading of the configuration serves a whole refresh.
[[nodiscard]] bool tray_detect_public_ip(const wchar_t* server_url, wchar_t* out, size_t cap);

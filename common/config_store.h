// The encrypted configuration file whitelist.config: Base64 of a 16-byte
// initialisation vector followed by the AES-128-CFB ciphertext of the
// "key=value" plaintext.
#pragma once

#include <cstddef>

#include "config_text.h"

inline constexpr size_t CONFIG_FILE_MAX_BYTES = 65536;
inline constexpr size_t CONFIG_UTF8_FIELD_BYTES = 512;       // token, files name and token
inline constexpr size_t CONFIG_UTF8_SERVER_URL_BYTES = 1024;

inline constexpr wchar_t MSG_TOKEN_AND_URL_REQUIRED[] = L"Rule token and server URL are required.";
inline constexpr wchar_t MSG_CONFIG_WRITE_FAILED[] = L"Failed to write encrypted config.";

// The agent's process-wide configuration record.
struct config_record {
  wchar_t token[TOKEN_CAPACITY];
  wchar_t server_url[SERVER_URL_CAPACITY];
  wchar_t files_name[FILES_NAME_CAPACITY];
  wchar_t files_token[FILES_TOKEN_CAPACITY];
};
extern config_record agent_config;

// Decrypts path into out as a terminated 8-bit text. 0 or -1.
int read_config_file(const wchar_t* path, char* out, size_t cap);
// Encrypts text under a fresh initialisation vector and replaces path. 0 or -1.
int write_config_file(const wchar_t* path, const char* text);

// Agent: fills agent_config from its file and reloads last_ip.
int config_load();
// Agent: writes agent_config, then last_ip.txt. The caller makes sure the token
// and server URL are set.
int config_save();

// Tray: every output is optional (null or capacity 0: not wanted).
int tray_config_load(wchar_t* token, size_t token_cap, wchar_t* server_url, size_t server_url_cap,
                     wchar_t* files_name, size_t files_name_cap, wchar_t* files_token,
                     size_t files_token_cap);
// Tray: files_name and files_token may be null. On failure a message goes to
// message when a buffer is given.
int tray_config_save(const wchar_t* token, const wchar_t* server_url, const wchar_t* files_name,
                     const wchar_t* files_token, wchar_t* message, size_t message_cap);

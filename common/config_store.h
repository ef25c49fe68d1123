// The encrypted configuration file whitelist.config: Base64 of a 16-byte
// initialisation vector followed by the AES-128-CFB ciphertext of the
// "key=value" plaintext.
#pragma once

#include <cstddef>

#include "config_text.h"

inline constexpr size_t CONFIG_FILE_MAX_BYTES = 65536;
inline constexpr size_t CONFIG_UTF8_FIELD_BYTES = 512;  // token, files name and token
inline constexpr size_t CONFIG_UTF8_SERVER_URL_BYTES = 1024;

// The four settings, as stored.
struct config_record {
  wchar_t token[TOKEN_CAPACITY];
  wchar_t server_url[SERVER_URL_CAPACITY];
  wchar_t files_name[FILES_NAME_CAPACITY];
  wchar_t files_token[FILES_TOKEN_CAPACITY];
};

// Decrypts path into out as a terminated 8-bit text.
[[nodiscard]] bool read_config_file(const wchar_t* path, char* out, size_t cap);
// Encrypts text under a fresh initialisation vector and replaces path.
[[nodiscard]] bool write_config_file(const wchar_t* path, const char* text);

// The one reader of whitelist.config for both programs: out holds its
// settings (one trailing slash of the server URL removed), or is empty (false).
[[nodiscard]] bool read_config_record(const wchar_t* path, config_record& out);
// The one writer: converts, formats and writes the four values. A value too
// long for its field or for the file fails the save instead of storing a cut
// configuration.
[[nodiscard]] bool write_config_values(const wchar_t* path, const wchar_t* token, const wchar_t* server_url,
                                       const wchar_t* files_name, const wchar_t* files_token);

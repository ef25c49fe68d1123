// The configuration plaintext: "key=value" lines (pure text logic).
#pragma once

#include <cstddef>

inline constexpr size_t TOKEN_CAPACITY = 256;
inline constexpr size_t SERVER_URL_CAPACITY = 512;
inline constexpr size_t FILES_NAME_CAPACITY = 256;
inline constexpr size_t FILES_TOKEN_CAPACITY = 256;
inline constexpr size_t CONFIG_TEXT_CAPACITY = 2048;  // plaintext with its terminator
// Configure mode and the tray's forms refuse a value that does not fit: a
// cut one would fail later in ways that are hard to trace.
inline constexpr wchar_t TEXT_TOKEN_TOO_LONG[] = L"The rule token is too long (at most 255 characters).";
inline constexpr wchar_t TEXT_SERVER_URL_TOO_LONG[] = L"The server URL is too long (at most 511 characters).";

// One output of the parser; a null buffer or a capacity of 0 skips the key.
struct config_output {
  wchar_t* buffer = nullptr;
  size_t capacity = 0;
};

struct config_outputs {
  config_output token, server_url, files_name, files_token;
};

// Applies every known entry of text (up to its first zero byte) to the
// outputs; a later entry overwrites an earlier one. A value that does not fit
// its output leaves that output empty.
void parse_config_text(const char* text, const config_outputs& outputs);

// Writes the four values (UTF-8) in the one form both programs store. Returns
// false when the text would not fit in CONFIG_TEXT_CAPACITY bytes.
bool format_config_text(const char* token, const char* server_url, const char* files_name,
                        const char* files_token, char* out, size_t cap);

// The setup command that the plugin dashboard shows for pasting:
//   whitelist --token <token> --server-url <url>
// Plain text logic, free of <windows.h>.
#pragma once

#include <cstddef>

inline constexpr size_t SETUP_WORD_CAPACITY = 512;

// Reads the next word at *cursor into out (capacity in units, terminator
// included) and moves *cursor past what it consumed. A word is a run of
// non-blanks, or the text between double quotes (an unterminated quote takes
// the rest). A word longer than cap - 1 is cut there and the cursor stays on
// the first unit not copied. 0 when a non-empty word was read, 1 when it was
// cut, else -1.
int next_setup_token(const wchar_t** cursor, wchar_t* out, size_t cap);

// Finds "--token"/"-t" and "--server-url"/"-s" (any letter case, any order,
// the last one given wins) after an optional leading "whitelist"; other words
// are ignored. One trailing '/' of the URL is removed after the check that
// both values are non-empty (so a URL of "/" comes back empty, and the save
// refuses it). 0 when the check passed, else one of the refusals below with
// both outputs empty. A value that does not fit its output is refused, never
// cut: a cut token would only fail later, with a misleading error.
inline constexpr int SETUP_INCOMPLETE = -1;
inline constexpr int SETUP_TOKEN_TOO_LONG = -2;
inline constexpr int SETUP_URL_TOO_LONG = -3;
int parse_setup_command(const wchar_t* text, wchar_t* token, size_t token_cap, wchar_t* server_url,
                        size_t server_url_cap);

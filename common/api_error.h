// The text of the last failed allowlist request (UTF-8), empty after a success;
// after a failed address detection, the proxy's refusal when there was one.
#pragma once

#include <cstddef>

inline constexpr size_t LAST_API_ERROR_CAPACITY = 2048;
inline constexpr char PROXY_SIGN_IN_TEXT[] = "The proxy requires authentication (HTTP 407).";

extern char last_api_error[LAST_API_ERROR_CAPACITY];

// Formats into last_api_error (cut to fit, always terminated).
void set_api_error(const char* format, ...);

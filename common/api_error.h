// The text of the last failed allowlist request (UTF-8), empty after a success.
#pragma once

#include <cstddef>

inline constexpr size_t LAST_API_ERROR_CAPACITY = 2048;

extern char last_api_error[LAST_API_ERROR_CAPACITY];

// Formats into last_api_error (cut to fit, always terminated).
void set_api_error(const char* format, ...);

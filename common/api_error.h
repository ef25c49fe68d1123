// The text of the last failed allowlist request (UTF-8), empty after a success.
#pragma once

#include <cstddef>

inline constexpr size_t LAST_API_ERROR_CAPACITY = 2048;

extern char last_api_error[LAST_API_ERROR_CAPACITY];

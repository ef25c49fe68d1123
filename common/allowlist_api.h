// Adding and removing this PC's address on the server's allowlist.
#pragma once

#include <cstddef>

#include "allowlist_text.h"
#include "api_error.h"

inline constexpr wchar_t ALLOWLIST_PATH[] = L"/api/public/whitelist";
inline constexpr wchar_t METHOD_ADD[] = L"POST";
inline constexpr wchar_t METHOD_REMOVE[] = L"DELETE";

// Sends {"token":..,"ip":..} with method to path on server_url. True when the
// server accepted the change; false with the reason in last_api_error.
[[nodiscard]] bool allowlist_request(const wchar_t* method, const wchar_t* server_url, const wchar_t* path,
                                     const wchar_t* token, const wchar_t* ip);

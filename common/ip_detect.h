// Finding this PC's public address: the server's client-ip answer first,
// the public echo service as the fallback.
#pragma once

#include <cstddef>

inline constexpr wchar_t CLIENT_IP_PATH[] = L"/api/client-ip";

// True with the address in out, or false when no source gave a valid address
// (last_api_error then names a proxy that refused, else is empty).
// server_url may be null or empty: then only the echo service is asked.
[[nodiscard]] bool detect_public_ip(wchar_t* out, size_t cap, const wchar_t* server_url);
// GET path on server_url into out (terminated); true when at least one byte
// came and the body arrived whole (not cut short of its announced length).
[[nodiscard]] bool http_get_text(const wchar_t* server_url, const wchar_t* path, char* out, size_t cap);
// The echo service alone.
[[nodiscard]] bool query_ip_echo_service(wchar_t* out, size_t cap);

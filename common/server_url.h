// Splitting a configured server URL into host, port and TLS flag (pure text logic).
#pragma once

#include <cstddef>

inline constexpr size_t HOST_CAPACITY = 256;
inline constexpr int HTTP_DEFAULT_PORT = 80;
inline constexpr int HTTPS_DEFAULT_PORT = 443;
inline constexpr int MAX_PORT = 65535;

// "https://host:port/path" -> host (cut to fit), port, secure. A port of 0 or
// less, or none, gives the scheme's default; the path is dropped. False when
// the URL names a port that is unusable (no number, or above 65535): such a
// URL must not be connected to.
[[nodiscard]] bool split_server_url(const wchar_t* url, wchar_t* host, size_t host_cap, int* port,
                                    int* secure);

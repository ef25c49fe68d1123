// The agent's exchanges with the outside: allowlist requests and finding the
// public address. The agent reaches the network only through this, so that a
// test can stand in for the servers.
#pragma once

#include <cstddef>

#include "allowlist_api.h"
#include "ip_detect.h"

class agent_network {
 public:
  virtual ~agent_network() = default;
  // As allowlist_request on ALLOWLIST_PATH: true when the server accepted the
  // change, else false with the reason in last_api_error.
  [[nodiscard]] virtual bool allowlist_request(const wchar_t* method, const wchar_t* server_url,
                                               const wchar_t* token, const wchar_t* ip) = 0;
  // As detect_public_ip.
  [[nodiscard]] virtual bool detect_public_ip(const wchar_t* server_url, wchar_t* out, size_t cap) = 0;
};

// The real servers, over WinHTTP.
class winhttp_network final : public agent_network {
 public:
  bool allowlist_request(const wchar_t* method, const wchar_t* server_url, const wchar_t* token,
                         const wchar_t* ip) override {
    return ::allowlist_request(method, server_url, ALLOWLIST_PATH, token, ip);
  }
  bool detect_public_ip(const wchar_t* server_url, wchar_t* out, size_t cap) override {
    return ::detect_public_ip(out, cap, server_url);
  }
};

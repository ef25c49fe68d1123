// Test double for the network layer: records every allowlist request and
// answers from a script; detection returns a set address or fails.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct recorded_request {
  std::wstring method, server_url, path, token, ip;
};

struct fake_network_state {
  std::vector<recorded_request> requests;
  // nullopt: the server accepted; otherwise the error text it left (may be empty).
  std::function<std::optional<std::string>(const recorded_request&)> answer;
  std::wstring public_ip;  // empty: detection fails
  int detections = 0;
};
extern fake_network_state fake_net;

// Before each test: no requests, every request accepted, detection fails.
void reset_fake_network();
// "DELETE 1.2.3.4" lines of the recorded requests, in order.
std::vector<std::wstring> request_lines();

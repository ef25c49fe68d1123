#include "fake_network.h"

#include "allowlist_api.h"
#include "ip_detect.h"
#include "text.h"

fake_network_state fake_net;

// A registration signals the installed service; the tests must not signal
// one that another suite runs.
void signal_service_reload() {}

void reset_fake_network() {
  fake_net = fake_network_state{};
  last_api_error[0] = '\0';
}

std::vector<std::wstring> request_lines() {
  std::vector<std::wstring> lines;
  for (const recorded_request& r : fake_net.requests) lines.push_back(r.method + L" " + r.ip);
  return lines;
}

int allowlist_request(const wchar_t* method, const wchar_t* server_url, const wchar_t* path,
                      const wchar_t* token, const wchar_t* ip) {
  last_api_error[0] = '\0';
  recorded_request r{method, server_url, path, token, ip};
  fake_net.requests.push_back(r);
  std::optional<std::string> error = fake_net.answer ? fake_net.answer(r) : std::nullopt;
  if (!error) return 0;
  copy_bounded(last_api_error, LAST_API_ERROR_CAPACITY, error->c_str());
  return -1;
}

int detect_public_ip(wchar_t* out, size_t cap, const wchar_t*) {
  ++fake_net.detections;
  if (fake_net.public_ip.empty()) return -1;
  copy_bounded(out, cap, fake_net.public_ip.c_str());
  return 0;
}

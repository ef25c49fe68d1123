#include "ip_detect.h"

#include <cstring>

#include "api_error.h"
#include "build_settings.h"
#include "http_transport.h"
#include "ip_text.h"
#include "server_url.h"
#include "text.h"

namespace {
constexpr size_t CLIENT_IP_ANSWER_BYTES = 512;
constexpr size_t ECHO_ANSWER_BYTES = 64;
constexpr wchar_t ECHO_PATH[] = L"/";

// Only a real address is ever taken: an error text or page in its place
// would otherwise be sent to the allowlist and the PC's address removed.
bool take_address(const char* text, wchar_t* out, size_t cap) {
  if (!is_ip_address_text(text)) return false;
  return utf8_to_wide(text, -1, out, cap) && out[0];
}

// False, keeping a proxy's refusal as the reason the address is unknown.
bool failed(const http_exchange& http) {
  if (http.failed_step() == http_step::proxy_sign_in) set_api_error("%s", PROXY_SIGN_IN_TEXT);
  return false;
}
}  // namespace

bool detect_public_ip(wchar_t* out, size_t cap, const wchar_t* server_url) {
  last_api_error[0] = '\0';
  if (server_url && *server_url && out && cap > 0) {
    char answer[CLIENT_IP_ANSWER_BYTES] = {};
    char ip[IP_TEXT_MAX_BYTES + 1];
    if (http_get_text(server_url, CLIENT_IP_PATH, answer, sizeof answer) &&
        scan_client_ip_answer(answer, ip, sizeof ip) && take_address(ip, out, cap))
      return true;
    // A proxy that refuses the server refuses its registration too: no
    // address from elsewhere would help, and no other host is asked.
    if (last_api_error[0]) return false;
  }
  return query_ip_echo_service(out, cap);
}

bool http_get_text(const wchar_t* server_url, const wchar_t* path, char* out, size_t cap) {
  if (!out || cap == 0) return false;
  wchar_t host[HOST_CAPACITY];
  int port = 0, secure = 0;
  if (!split_server_url(server_url, host, HOST_CAPACITY, &port, &secure)) return false;
  http_exchange http;
  if (!http.open({host, port, secure != 0}, L"GET", path) || !http.send() || !http.receive())
    return failed(http);
  if (http.redirected()) return false;
  out[0] = '\0';
  bool broken = false;
  size_t got = http.read_body(out, cap, &broken);
  // A body that ends short of what was announced is no answer: an address
  // cut inside ("198.51.100.1" of "...17") still reads as an address.
  long long announced = http.content_length();
  bool cut = broken || (got + 1 < cap && announced >= 0 && static_cast<long long>(got) < announced);
  if (cut) {
    out[0] = '\0';
    return false;
  }
  return got > 0;
}

bool query_ip_echo_service(wchar_t* out, size_t cap) {
  char answer[ECHO_ANSWER_BYTES] = {};
  {
    http_exchange http;
    if (!http.open({build_settings::ECHO_HOST, build_settings::ECHO_PORT, true}, L"GET", ECHO_PATH) ||
        !http.send() || !http.receive())
      return failed(http);
    if (http.redirected()) return false;
    long count = http.available();
    // One read of a short answer: anything longer is no address.
    if (count < 1 || static_cast<size_t>(count) >= ECHO_ANSWER_BYTES) return false;
    long got = http.read(answer, static_cast<DWORD>(count));
    // An answer cut short of its announced length may still read as an
    // address ("203.0.113.1" of "...17"): it is no answer.
    long long announced = http.content_length();
    if (got != count || (announced >= 0 && announced != got)) return false;
  }
  const char* text = trim_blanks(answer);
  return *text && out && cap > 0 && take_address(text, out, cap);
}

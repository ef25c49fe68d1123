#include "allowlist_api.h"

#include <cstring>

#include "http_transport.h"
#include "server_url.h"
#include "text.h"

namespace {
constexpr size_t TOKEN_UTF8_BYTES = 512;
constexpr size_t IP_UTF8_BYTES = 256;
constexpr size_t ESCAPED_TOKEN_BYTES = 3072;  // room for every byte as \u00XX
constexpr size_t ESCAPED_IP_BYTES = 1600;
constexpr size_t BODY_BYTES = 4800;
constexpr size_t HOST_UTF8_BYTES = 512;
constexpr wchar_t JSON_CONTENT_TYPE_HEADER[] = L"Content-Type: application/json\r\n";

bool fail_step(const http_exchange& http, const char* host, int port) {
  DWORD code = http.error();
  const char* suffix = winhttp_error_suffix(code);
  switch (http.failed_step()) {
    case http_step::open_session:
      set_api_error("WinHttpOpen failed: Windows error %lu%s", code, suffix);
      break;
    case http_step::connect:
      set_api_error("WinHttpConnect failed (host=%s port=%d): error %lu%s", host, port, code, suffix);
      break;
    case http_step::open_request:
      set_api_error("WinHttpOpenRequest failed: error %lu%s", code, suffix);
      break;
    case http_step::send:
      set_api_error("WinHttpSendRequest failed (POST body to %s:%d): error %lu%s", host, port, code, suffix);
      break;
    case http_step::proxy_sign_in: set_api_error("%s", PROXY_SIGN_IN_TEXT); break;
    case http_step::receive:
    case http_step::none:
      set_api_error("WinHttpReceiveResponse failed (no HTTP response from %s:%d): error %lu%s", host, port,
                    code, suffix);
      break;
  }
  return false;
}
}  // namespace

bool allowlist_request(const wchar_t* method, const wchar_t* server_url, const wchar_t* path,
                       const wchar_t* token, const wchar_t* ip) {
  last_api_error[0] = '\0';

  char token8[TOKEN_UTF8_BYTES], ip8[IP_UTF8_BYTES];
  if (!wide_to_utf8(token, token8, sizeof token8) || !wide_to_utf8(ip, ip8, sizeof ip8)) {
    set_api_error("The rule token or IP address is too long to send.");
    return false;
  }
  char escaped_token[ESCAPED_TOKEN_BYTES], escaped_ip[ESCAPED_IP_BYTES], body[BODY_BYTES];
  json_escape(token8, escaped_token, sizeof escaped_token);
  json_escape(ip8, escaped_ip, sizeof escaped_ip);
  format_bounded(body, sizeof body, "{\"token\":\"%s\",\"ip\":\"%s\"}", escaped_token, escaped_ip);

  wchar_t host[HOST_CAPACITY];
  int port = 0, secure = 0;
  bool port_usable = split_server_url(server_url, host, HOST_CAPACITY, &port, &secure);
  char host8[HOST_UTF8_BYTES];
  if (!wide_to_utf8(host, host8, sizeof host8) || !host8[0]) copy_bounded(host8, sizeof host8, "?");
  if (!port_usable) {
    set_api_error("Invalid port in server URL (host=%s): use a port number from 1 to 65535", host8);
    return false;
  }

  http_exchange http;
  if (!http.open({host, port, secure != 0}, method, path)) return fail_step(http, host8, port);
  http.add_header(JSON_CONTENT_TYPE_HEADER);
  DWORD body_size = static_cast<DWORD>(std::strlen(body));
  if (!http.send(body, body_size) || !http.receive()) return fail_step(http, host8, port);
  DWORD status = http.status_code();
  char response[ALLOWLIST_RESPONSE_CAPACITY];
  bool broken = false;
  http.read_body(response, sizeof response, &broken);
  // An answer cut off by the deadline or a stop is no answer.
  if (broken && http.error() == ERROR_WINHTTP_TIMEOUT) return fail_step(http, host8, port);

  if (allowlist_answer_accepted(status, response)) return true;
  allowlist_refusal_text(status, response, last_api_error, LAST_API_ERROR_CAPACITY);
  return false;
}

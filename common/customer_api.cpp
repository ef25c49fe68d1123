#include "customer_api.h"

#include <cstring>

#include "api_error.h"
#include "disk_space.h"
#include "file_io.h"
#include "http_transport.h"
#include "server_url.h"
#include "text.h"

namespace {
constexpr size_t AUTHORIZATION_HEADER_CHARS = 600;
constexpr DWORD DOWNLOAD_CHUNK_BYTES = 8192;
constexpr DWORD HTTP_OK = 200;
constexpr size_t REASON_TEXT_CAPACITY = 512;

customer_result failed_at(customer_step step, unsigned long code = 0) {
  return {step, code};
}

// The exchange's own failure, as the step a reader can act on.
customer_result exchange_failure(const http_exchange& http) {
  switch (http.failed_step()) {
    case http_step::open_session:
    case http_step::connect:
    case http_step::open_request: return failed_at(customer_step::connect, http.error());
    case http_step::send: return failed_at(customer_step::send, http.error());
    case http_step::proxy_sign_in: return failed_at(customer_step::proxy_sign_in);
    case http_step::receive:
    case http_step::none: break;
  }
  return failed_at(customer_step::receive, http.error());
}

// Session, bearer header, send, receive and status 200.
customer_result open_customer_request(http_exchange& http, const wchar_t* server_url, const wchar_t* path,
                                      const wchar_t* token, DWORD deadline_ms = HTTP_EXCHANGE_DEADLINE_MS) {
  wchar_t host[HOST_CAPACITY];
  int port = 0, secure = 0;
  if (!split_server_url(server_url, host, HOST_CAPACITY, &port, &secure))
    return failed_at(customer_step::server_url);
  if (!http.open({host, port, secure != 0}, L"GET", path, deadline_ms)) return exchange_failure(http);
  wchar_t header[AUTHORIZATION_HEADER_CHARS];
  format_bounded(header, AUTHORIZATION_HEADER_CHARS, L"Authorization: Bearer %s\r\n", token ? token : L"");
  http.add_header(header);
  if (!http.send() || !http.receive()) return exchange_failure(http);
  DWORD status = http.status_code();
  return status == HTTP_OK ? customer_result{} : failed_at(customer_step::status, status);
}

// The step's words; the code follows them.
struct step_text {
  customer_step step;
  const wchar_t* format;
};
constexpr step_text STEP_TEXTS[] = {
    {customer_step::server_url, L"Reason: the server URL is not valid."},
    {customer_step::connect, L"Reason: connecting failed with WinHTTP error %lu%S."},
    {customer_step::send, L"Reason: sending the request failed with WinHTTP error %lu%S."},
    {customer_step::receive, L"Reason: no answer arrived (WinHTTP error %lu%S)."},
    {customer_step::status, L"Reason: the server answered HTTP %lu."},
    {customer_step::disk_room, L"Reason: too little free disk space would remain."},
    {customer_step::file, L"Reason: the file could not be written (Windows error %lu)."},
};
}  // namespace

std::wstring customer_failure_text(const customer_result& result) {
  if (result.step == customer_step::proxy_sign_in) return L"Reason: " + utf8_to_wstring(PROXY_SIGN_IN_TEXT);
  const wchar_t* format = nullptr;
  if (result.step == customer_step::body)
    format = result.code ? L"Reason: the answer broke off (WinHTTP error %lu%S)."
                         : L"Reason: the answer ended before its announced length.";
  for (const step_text& row : STEP_TEXTS)
    if (row.step == result.step) format = row.format;
  if (!format) return L"";
  wchar_t text[REASON_TEXT_CAPACITY];
  format_bounded(text, REASON_TEXT_CAPACITY, format, result.code, winhttp_error_suffix(result.code));
  return text;
}

customer_result customer_api_get(const wchar_t* server_url, const wchar_t* path, const wchar_t* token,
                                 char* body, size_t cap) {
  if (!body || cap == 0) return failed_at(customer_step::body);
  http_exchange http;
  customer_result opened = open_customer_request(http, server_url, path, token);
  if (!opened.ok()) return opened;
  bool broken = false;
  http.read_body(body, cap, &broken);
  // A body cut by the buffer is fine (the callers walk what fits); one cut
  // by a failed read is not the server's answer.
  return broken ? failed_at(customer_step::body, http.error()) : customer_result{};
}

customer_result customer_api_download(const wchar_t* server_url, const wchar_t* path, const wchar_t* token,
                                      const wchar_t* file_path, const char* zone_text) {
  http_exchange http;
  customer_result opened = open_customer_request(http, server_url, path, token, HTTP_DOWNLOAD_DEADLINE_MS);
  if (!opened.ok()) return opened;
  long long expected = http.content_length();
  disk_room room(file_path);
  if (!room.allows(expected > 0 ? static_cast<unsigned long long>(expected) : 0))
    return failed_at(customer_step::disk_room);

  // The file is replaced only by a complete body: a transfer that breaks
  // off leaves the previous file (or none), never a cut one.
  file_replacement file(file_path);
  if (!file.is_open()) return failed_at(customer_step::file, GetLastError());
  char chunk[DOWNLOAD_CHUNK_BYTES];
  long long total = 0;
  for (;;) {
    long count = http.available();
    if (count < 0) return failed_at(customer_step::body, http.error());
    if (count == 0) break;
    long got = http.read(chunk, static_cast<DWORD>(count) < DOWNLOAD_CHUNK_BYTES ? static_cast<DWORD>(count)
                                                                                 : DOWNLOAD_CHUNK_BYTES);
    if (got < 0) return failed_at(customer_step::body, http.error());
    if (got == 0) break;
    if (!room.take(static_cast<unsigned long long>(got))) return failed_at(customer_step::disk_room);
    if (!file.write(chunk, static_cast<size_t>(got))) return failed_at(customer_step::file, GetLastError());
    total += got;
  }
  if (expected >= 0 && total != expected) return failed_at(customer_step::body);
  if (zone_text && !file.add_stream(L"Zone.Identifier", zone_text, std::strlen(zone_text)))
    return failed_at(customer_step::file, GetLastError());
  return file.commit() ? customer_result{} : failed_at(customer_step::file, GetLastError());
}

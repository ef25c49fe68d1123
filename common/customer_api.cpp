#include "customer_api.h"

#include <cstring>

#include "disk_space.h"
#include "file_io.h"
#include "http_transport.h"
#include "server_url.h"
#include "text.h"

namespace {
constexpr size_t AUTHORIZATION_HEADER_CHARS = 600;
constexpr DWORD DOWNLOAD_CHUNK_BYTES = 8192;
constexpr DWORD HTTP_OK = 200;

// Session, bearer header, send, receive and status 200; false otherwise.
bool open_customer_request(http_exchange& http, const wchar_t* server_url, const wchar_t* path,
                           const wchar_t* token, DWORD deadline_ms = HTTP_EXCHANGE_DEADLINE_MS) {
  wchar_t host[HOST_CAPACITY];
  int port = 0, secure = 0;
  if (split_server_url(server_url, host, HOST_CAPACITY, &port, &secure) != 0) return false;
  if (!http.open({host, port, secure != 0}, L"GET", path, deadline_ms)) return false;
  wchar_t header[AUTHORIZATION_HEADER_CHARS];
  format_bounded(header, AUTHORIZATION_HEADER_CHARS, L"Authorization: Bearer %s\r\n", token ? token : L"");
  http.add_header(header);
  return http.send() && http.receive() && http.status_code() == HTTP_OK;
}
}  // namespace

int customer_api_get(const wchar_t* server_url, const wchar_t* path, const wchar_t* token, char* body,
                     size_t cap) {
  if (!body || cap == 0) return -1;
  http_exchange http;
  if (!open_customer_request(http, server_url, path, token)) return -1;
  bool broken = false;
  http.read_body(body, cap, &broken);
  // A body cut by the buffer is fine (the callers walk what fits); one cut
  // by a failed read is not the server's answer.
  return broken ? -1 : 0;
}

int customer_api_download(const wchar_t* server_url, const wchar_t* path, const wchar_t* token,
                          const wchar_t* file_path, const char* zone_text) {
  http_exchange http;
  if (!open_customer_request(http, server_url, path, token, HTTP_DOWNLOAD_DEADLINE_MS)) return -1;
  long long expected = http.content_length();
  disk_room room(file_path);
  if (!room.allows(expected > 0 ? static_cast<unsigned long long>(expected) : 0)) return DOWNLOAD_NO_ROOM;

  // The file is replaced only by a complete body: a transfer that breaks
  // off leaves the previous file (or none), never a cut one.
  file_replacement file(file_path);
  if (!file.is_open()) return -1;
  char chunk[DOWNLOAD_CHUNK_BYTES];
  long long total = 0;
  for (;;) {
    long count = http.available();
    if (count < 0) return -1;
    if (count == 0) break;
    long got = http.read(chunk, static_cast<DWORD>(count) < DOWNLOAD_CHUNK_BYTES ? static_cast<DWORD>(count)
                                                                               : DOWNLOAD_CHUNK_BYTES);
    if (got < 0) return -1;
    if (got == 0) break;
    if (!room.take(static_cast<unsigned long long>(got))) return DOWNLOAD_NO_ROOM;
    if (!file.write(chunk, static_cast<size_t>(got))) return -1;
    total += got;
  }
  if (expected >= 0 && total != expected) return -1;
  if (zone_text && !file.add_stream(L"Zone.Identifier", zone_text, std::strlen(zone_text))) return -1;
  return file.commit() ? 0 : -1;
}

// The server's customer endpoints, authorised with a bearer token.
#pragma once

#include <cstddef>
#include <string>

// Where a customer request stopped.
enum class customer_step {
  done,           // no failure
  server_url,     // the server URL can't be split into host and port
  connect,        // session, connection or request could not be opened
  send,           // the request could not be sent
  receive,        // no answer arrived
  proxy_sign_in,  // the proxy still asked for sign-in
  status,         // the server answered, but not with 200
  body,           // the answer's body broke off or ended short
  disk_room,      // the download would leave less free space than the minimum (disk_space.h)
  file            // the downloaded file could not be written
};

struct [[nodiscard]] customer_result {
  customer_step step = customer_step::done;
  // The HTTP status at status; the WinHTTP or Windows error of the failed
  // call otherwise (0 when no call failed, e.g. a body shorter than announced).
  unsigned long code = 0;
  bool ok() const { return step == customer_step::done; }
};

// One sentence naming a failure for a person, e.g. "Reason: the server answered HTTP 401."
std::wstring customer_failure_text(const customer_result& result);

// GET path; on status 200 the body (cut to cap - 1 bytes) lands in body,
// terminated; body is untouched unless the status was 200.
customer_result customer_api_get(const wchar_t* server_url, const wchar_t* path, const wchar_t* token,
                                 char* body, size_t cap);
// GET path; on status 200 the body is streamed into file_path, which is
// replaced only when the whole body arrived and fit (the free space is
// checked before and during the transfer). zone_text, when not null,
// becomes the file's "Zone.Identifier" stream before the file takes its name.
customer_result customer_api_download(const wchar_t* server_url, const wchar_t* path, const wchar_t* token,
                                      const wchar_t* file_path, const char* zone_text = nullptr);

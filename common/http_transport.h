// The one way this system talks HTTP: a WinHTTP session, connection and
// request per exchange, closed request first on every path.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <cstddef>
#include <mutex>

#include "handles.h"

inline constexpr wchar_t USER_AGENT[] = L"QOR Whitelist IP Updater/2.4";
// Servers in the field may use self-signed, mismatched or expired
// certificates: unknown CA, wrong name and bad date are accepted.
inline constexpr DWORD RELAXED_SECURITY_FLAGS = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                                                SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                                SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
static_assert(RELAXED_SECURITY_FLAGS == 0x3100);

// Bounded so that no exchange can hold up a command, the service's worker or
// the tray's refresh for good; a time-out reports ERROR_WINHTTP_TIMEOUT.
inline constexpr int HTTP_RESOLVE_TIMEOUT_MS = 15000;
inline constexpr int HTTP_CONNECT_TIMEOUT_MS = 15000;
inline constexpr int HTTP_SEND_TIMEOUT_MS = 30000;
inline constexpr int HTTP_RECEIVE_TIMEOUT_MS = 30000;
// WinHTTP's time-outs above are not enforced everywhere (a trickling server
// never trips them), so every exchange also ends this long after it opened,
// whatever the server does: the same cancellation as a stop.
inline constexpr DWORD HTTP_EXCHANGE_DEADLINE_MS = 60000;
// A file download streams a body of any size: its deadline is a bound against
// a server that never ends it, below the tray's 30 minutes for a download.
inline constexpr DWORD HTTP_DOWNLOAD_DEADLINE_MS = 25 * 60000;

// Cancels every exchange in progress in this process and fails every later
// one at its start: a stopping service must not wait for a server. Any thread.
void http_cancel_all() noexcept;

// A few words naming a WinHTTP error code, or "".
const char* winhttp_error_suffix(DWORD code);

using winhttp_handle = unique_handle<close_traits<HINTERNET, WinHttpCloseHandle>>;

// A timer-queue timer; deleting it waits for a callback that is running.
inline void delete_deadline_timer(HANDLE h) noexcept {
  DeleteTimerQueueTimer(nullptr, h, INVALID_HANDLE_VALUE);
}
using deadline_timer = unique_handle<close_traits<HANDLE, delete_deadline_timer>>;

// proxy_sign_in: the proxy still answered 407 after it was offered what
// this account can give (or there was nothing to give).
enum class http_step { none, open_session, connect, open_request, send, receive, proxy_sign_in };

struct http_target {
  const wchar_t* host;
  int port;
  bool secure;
};

// One exchange. Its owner makes the calls on one thread; cancel() may come
// from any other (the deadline's timer, a stop): it closes the handles, which
// makes a pending WinHTTP call return, and every later call fails. A
// cancelled exchange reports ERROR_WINHTTP_TIMEOUT.
class http_exchange {
 public:
  http_exchange() = default;
  ~http_exchange();
  http_exchange(const http_exchange&) = delete;
  http_exchange& operator=(const http_exchange&) = delete;

  // Session, connection and request, with the relaxed TLS checks for https;
  // the exchange is cancelled deadline_ms after this. A WinHTTP proxy set on
  // the machine is used; without one, the system's automatic proxy settings
  // where it has them (Windows 8.1 and later), else none.
  bool open(const http_target& target, const wchar_t* method, const wchar_t* path,
            DWORD deadline_ms = HTTP_EXCHANGE_DEADLINE_MS);
  // Adds one "Name: value\r\n" header; its result is not needed by callers.
  void add_header(const wchar_t* header);
  // The body must stay in place until receive() returns: a proxy's request
  // for sign-in sends it again.
  bool send(const void* body = nullptr, DWORD size = 0);
  // The answer's headers. A 407 is answered once with this account's own
  // credentials (NTLM, Negotiate); a 407 that remains fails at proxy_sign_in.
  bool receive();
  // The status code, or 0 when it can't be read.
  DWORD status_code();
  // A 3xx answer: redirects are never followed, so this is no answer.
  bool redirected();
  // The Content-Length the server announced, or -1 when there is none.
  long long content_length();
  // Bytes announced as available now (0 at the end); -1 when the question fails.
  long available();
  // One read of at most size bytes; -1 when it fails.
  long read(void* buffer, DWORD size);
  // Reads the body into buffer, at most cap - 1 bytes, and terminates it;
  // returns the count. *broken is set when a call failed on the way.
  size_t read_body(char* buffer, size_t cap, bool* broken = nullptr);

  http_step failed_step() const { return failed_step_; }
  DWORD error() const { return error_; }

  void cancel() noexcept;

 private:
  friend void http_cancel_all() noexcept;
  bool fail(http_step step);
  // The request handle, or null once cancelled.
  HINTERNET request() noexcept;
  bool cancelled() noexcept;
  bool start_deadline(DWORD deadline_ms);
  bool offer_account_to_proxy();

  const void* body_ = nullptr;
  DWORD body_size_ = 0;

  // Destroyed in reverse order: request, then connection, then session.
  winhttp_handle session_;
  winhttp_handle connection_;
  winhttp_handle request_;
  http_step failed_step_ = http_step::none;
  DWORD error_ = 0;

  std::mutex lock_;  // the handles and cancelled_, against cancel()
  bool cancelled_ = false;
  deadline_timer deadline_;
  // The process's list of open exchanges, for http_cancel_all().
  http_exchange* next_ = nullptr;
  http_exchange* prev_ = nullptr;
  bool listed_ = false;
};

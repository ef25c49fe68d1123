#include "http_transport.h"

#include <versionhelpers.h>

namespace {
// Rounds of one request: a proxy's sign-in takes one more, and NTLM's
// handshake may ask for a resend in between.
constexpr int HTTP_SEND_ROUNDS = 4;

// The open exchanges of this process, and whether a stop ended them all.
std::mutex list_lock;
http_exchange* open_list = nullptr;
bool all_cancelled = false;

void CALLBACK deadline_passed(void* exchange, BOOLEAN) noexcept {
  static_cast<http_exchange*>(exchange)->cancel();
}

// The default-proxy mode sees only the machine's WinHTTP proxy (what netsh
// sets); the automatic one sees the system's and the user's settings, WPAD
// and PAC, but not that proxy: a proxy set on the machine wins.
DWORD proxy_access_type() {
  WINHTTP_PROXY_INFO machine{};
  if (WinHttpGetDefaultProxyConfiguration(&machine)) {
    global_memory proxy(machine.lpszProxy), bypass(machine.lpszProxyBypass);
    if (machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy)
      return WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  }
  return IsWindows8Point1OrGreater() ? WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
                                     : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
}

struct suffix_row {
  DWORD code;
  const char* text;
};
constexpr suffix_row ERROR_SUFFIXES[] = {
    {ERROR_WINHTTP_TIMEOUT, " - timeout or cancelled"},
    {ERROR_WINHTTP_INVALID_URL, " - invalid URL"},
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, " - unrecognized URL scheme (use http:// or https://)"},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED,
     " - ERROR_WINHTTP_NAME_NOT_RESOLVED (DNS: this PC cannot resolve the hostname; check spelling, DNS "
     "servers, "
     "firewall, and that the name exists on the public internet)"},
    {ERROR_WINHTTP_CANNOT_CONNECT, " - cannot connect (server down, port closed or blocked by a firewall)"},
    {ERROR_WINHTTP_CONNECTION_ERROR, " - connection error (aborted or reset)"},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, " - certificate date invalid"},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, " - invalid HTTP response from server"},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, " - TLS/secure channel failure (certificate, protocol)"},
    {12160, " - connection aborted"},
    {12163, " - connection reset"},
    {ERROR_WINHTTP_SECURE_FAILURE, " - TLS/secure channel failure (certificate, protocol)"},
};
static_assert(ERROR_WINHTTP_CANNOT_CONNECT == 12029 && ERROR_WINHTTP_SECURE_FAILURE == 12175 &&
              ERROR_WINHTTP_SECURE_CHANNEL_ERROR == 12157 && ERROR_WINHTTP_SECURE_CERT_DATE_INVALID == 12037);
}  // namespace

void http_cancel_all() noexcept {
  std::lock_guard lock(list_lock);
  all_cancelled = true;
  for (http_exchange* e = open_list; e; e = e->next_) e->cancel();
}

http_exchange::~http_exchange() {
  {
    std::lock_guard lock(list_lock);
    if (listed_) {
      if (prev_)
        prev_->next_ = next_;
      else
        open_list = next_;
      if (next_) next_->prev_ = prev_;
    }
  }
  deadline_.reset();  // waits for a deadline callback that is running
}

void http_exchange::cancel() noexcept {
  std::lock_guard lock(lock_);
  if (cancelled_) return;
  cancelled_ = true;
  // Closing the request handle is what makes a call pending on the owner's
  // thread return; the connection and session go with it.
  request_.reset();
  connection_.reset();
  session_.reset();
}

bool http_exchange::cancelled() noexcept {
  std::lock_guard lock(lock_);
  return cancelled_;
}

HINTERNET http_exchange::request() noexcept {
  std::lock_guard lock(lock_);
  return request_.get();
}

bool http_exchange::fail(http_step step) {
  DWORD error = GetLastError();
  error_ = cancelled() ? ERROR_WINHTTP_TIMEOUT : error;
  failed_step_ = step;
  return false;
}

// Lists the exchange for http_cancel_all() and arms its deadline; from here
// on the handles are touched only under lock_.
bool http_exchange::start_deadline(DWORD deadline_ms) {
  {
    std::lock_guard lock(list_lock);
    if (all_cancelled) {
      cancel();
    } else {
      next_ = open_list;
      if (open_list) open_list->prev_ = this;
      open_list = this;
      listed_ = true;
    }
  }
  if (cancelled()) {
    SetLastError(ERROR_WINHTTP_TIMEOUT);
    return false;
  }
  if (!CreateTimerQueueTimer(deadline_.put(), nullptr, deadline_passed, this, deadline_ms, 0,
                             WT_EXECUTEONLYONCE))
    return false;
  return true;
}

bool http_exchange::open(const http_target& target, const wchar_t* method, const wchar_t* path,
                         DWORD deadline_ms) {
  DWORD access = proxy_access_type();
  session_.reset(WinHttpOpen(USER_AGENT, access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_ && access == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY)  // a system that refuses the mode after all
    session_.reset(WinHttpOpen(USER_AGENT, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_) return fail(http_step::open_session);
  WinHttpSetTimeouts(session_.get(), HTTP_RESOLVE_TIMEOUT_MS, HTTP_CONNECT_TIMEOUT_MS, HTTP_SEND_TIMEOUT_MS,
                     HTTP_RECEIVE_TIMEOUT_MS);
  connection_.reset(WinHttpConnect(session_.get(), target.host, static_cast<INTERNET_PORT>(target.port), 0));
  if (!connection_) return fail(http_step::connect);
  request_.reset(WinHttpOpenRequest(connection_.get(), method, path, nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request_) return fail(http_step::open_request);
  // Never followed: the token and the body go only where they were sent,
  // and a 3xx comes back to the caller as the failure it is.
  DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request_.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects);
  // Medium: the account's own credentials may go to a proxy and to servers
  // on the proxy's bypass list, never to a server out on the internet.
  DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_MEDIUM;
  WinHttpSetOption(request_.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon);
  if (target.secure) {
    DWORD flags = RELAXED_SECURITY_FLAGS;
    WinHttpSetOption(request_.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (!start_deadline(deadline_ms)) return fail(http_step::open_request);
  return true;
}

void http_exchange::add_header(const wchar_t* header) {
  WinHttpAddRequestHeaders(request(), header, static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD);
}

bool http_exchange::send(const void* body, DWORD size) {
  body_ = body;
  body_size_ = size;
  if (!WinHttpSendRequest(request(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, const_cast<void*>(body), size, size,
                          0))
    return fail(http_step::send);
  return true;
}

bool http_exchange::receive() {
  bool offered = false;
  for (int round = 1;; ++round) {
    if (!WinHttpReceiveResponse(request(), nullptr)) {
      // NTLM's handshake may ask for the same request again.
      if (GetLastError() != ERROR_WINHTTP_RESEND_REQUEST || round == HTTP_SEND_ROUNDS)
        return fail(http_step::receive);
    } else if (status_code() != HTTP_STATUS_PROXY_AUTH_REQ) {
      return true;
    } else if (offered || round == HTTP_SEND_ROUNDS || !offer_account_to_proxy()) {
      SetLastError(ERROR_WINHTTP_LOGIN_FAILURE);
      return fail(http_step::proxy_sign_in);
    } else {
      offered = true;
    }
    if (!send(body_, body_size_)) return false;
  }
}

// Only the schemes that carry the account's logon without a stored password
// (the machine account for the service); WinHTTP asks nothing of the user.
bool http_exchange::offer_account_to_proxy() {
  DWORD schemes = 0, first = 0, target = 0;
  if (!WinHttpQueryAuthSchemes(request(), &schemes, &first, &target) || target != WINHTTP_AUTH_TARGET_PROXY)
    return false;
  DWORD scheme = (schemes & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                 : (schemes & WINHTTP_AUTH_SCHEME_NTLM)    ? WINHTTP_AUTH_SCHEME_NTLM
                                                           : 0;
  return scheme &&
         WinHttpSetCredentials(request(), WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr);
}

bool http_exchange::redirected() {
  return status_code() / 100 == 3;
}

DWORD http_exchange::status_code() {
  DWORD status = 0, size = sizeof status;
  if (!WinHttpQueryHeaders(request(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    return 0;
  return status;
}

long long http_exchange::content_length() {
  wchar_t text[32];
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX))
    return -1;
  long long value = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9' || value > (1LL << 50)) return -1;
    value = value * 10 + (*p - L'0');
  }
  return value;
}

long http_exchange::available() {
  DWORD count = 0;
  if (!WinHttpQueryDataAvailable(request(), &count)) {
    fail(http_step::receive);
    return -1;
  }
  return static_cast<long>(count);
}

long http_exchange::read(void* buffer, DWORD size) {
  DWORD got = 0;
  if (!WinHttpReadData(request(), buffer, size, &got)) {
    fail(http_step::receive);
    return -1;
  }
  return static_cast<long>(got);
}

size_t http_exchange::read_body(char* buffer, size_t cap, bool* broken) {
  if (broken) *broken = false;
  size_t pos = 0;
  while (pos + 1 < cap) {
    long count = available();
    if (count < 0 && broken) *broken = true;
    if (count <= 0) break;
    size_t room = cap - 1 - pos;
    long got = read(buffer + pos, static_cast<DWORD>(static_cast<size_t>(count) < room ? count : room));
    if (got < 0 && broken) *broken = true;
    if (got <= 0) break;
    pos += static_cast<size_t>(got);
  }
  buffer[pos] = '\0';
  return pos;
}

const char* winhttp_error_suffix(DWORD code) {
  for (const suffix_row& row : ERROR_SUFFIXES)
    if (row.code == code) return row.text;
  return "";
}

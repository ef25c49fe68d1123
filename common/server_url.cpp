#include "server_url.h"

#include <cwchar>

#include "text.h"

namespace {
bool starts_with_ignore_case(const wchar_t* text, const wchar_t* prefix) {
  size_t n = std::wcslen(prefix);
  wchar_t head[16] = {};
  if (n >= std::size(head) || std::wcslen(text) < n) return false;
  std::wmemcpy(head, text, n);
  return equals_ignore_case(head, prefix);
}
}  // namespace

bool split_server_url(const wchar_t* url, wchar_t* host, size_t host_cap, int* port, int* secure) {
  const wchar_t* p = url ? url : L"";
  *secure = 0;
  int default_port = HTTP_DEFAULT_PORT;
  if (starts_with_ignore_case(p, L"https://")) {
    *secure = 1;
    default_port = HTTPS_DEFAULT_PORT;
    p += 8;
  } else if (starts_with_ignore_case(p, L"http://")) {
    p += 7;
  }
  const wchar_t* end = std::wcschr(p, L'/');
  if (!end) end = p + std::wcslen(p);
  const wchar_t* colon = std::wmemchr(p, L':', static_cast<size_t>(end - p));
  const wchar_t* host_end = colon ? colon : end;

  size_t host_len = static_cast<size_t>(host_end - p);
  if (host_cap > 0) {
    if (host_len > host_cap - 1) host_len = host_cap - 1;
    std::wmemcpy(host, p, host_len);
    host[host_len] = L'\0';
  }

  *port = default_port;
  if (!colon) return true;
  // A port that is not a number from 1 to 65535 would connect somewhere else
  // (the value wraps to 16 bits), so the URL is refused instead.
  long value = parse_decimal(colon + 1, MAX_PORT);
  if (value <= 0) {
    *port = 0;
    return false;
  }
  *port = static_cast<int>(value);
  return true;
}

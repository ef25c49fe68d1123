// Splitting a server URL typed by a user.
#include <cwchar>

#include "fuzz_support.h"
#include "server_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring url = as_wide_text(data, size, 600);
  wchar_t host[HOST_CAPACITY];
  int port = 0, secure = 0;
  int rc = split_server_url(url.c_str(), host, HOST_CAPACITY, &port, &secure);
  FUZZ_CHECK(std::wcslen(host) < HOST_CAPACITY);
  if (rc == 0) FUZZ_CHECK(port >= 1 && port <= MAX_PORT);
  return 0;
}

// Test tool: sets WinHTTP's machine proxy, as "netsh winhttp set proxy" does.
//   machine_proxy [HOST:PORT]   (none: direct access). Prints the proxy set before, or an empty line.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>

#include "handles.h"

int wmain(int argc, wchar_t** argv) {
  WINHTTP_PROXY_INFO before{};
  if (!WinHttpGetDefaultProxyConfiguration(&before)) return static_cast<int>(GetLastError());
  global_memory proxy(before.lpszProxy), bypass(before.lpszProxyBypass);
  std::printf("%ls\n", before.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && before.lpszProxy
                           ? before.lpszProxy
                           : L"");
  WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
  if (argc > 1 && argv[1][0]) info = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, argv[1], nullptr};
  return WinHttpSetDefaultProxyConfiguration(&info) ? 0 : static_cast<int>(GetLastError());
}

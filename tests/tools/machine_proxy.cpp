// Test tool: machine_proxy [HOST:PORT] sets WinHTTP's machine proxy as "netsh winhttp set proxy" does (none:
// direct access) and prints the one set before, or an empty line.
#include <windows.h>

#include <winhttp.h>

#include <cstdio>

#include "handles.h"

int wmain(int argc, wchar_t** argv) {
  WINHTTP_PROXY_INFO before{}, after{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
  if (!WinHttpGetDefaultProxyConfiguration(&before)) return static_cast<int>(GetLastError());
  global_memory proxy(before.lpszProxy), bypass(before.lpszProxyBypass);
  std::printf("%ls\n", proxy ? before.lpszProxy : L"");
  if (argc > 1 && *argv[1]) after = {WINHTTP_ACCESS_TYPE_NAMED_PROXY, argv[1], nullptr};
  return WinHttpSetDefaultProxyConfiguration(&after) ? 0 : static_cast<int>(GetLastError());
}

// Test driver: calls one network operation of the shared library and prints
// its result as bytes, so tests can check texts exactly.
//   net_probe allowlist METHOD SERVER_URL TOKEN IP   -> "<rc>\n<last_api_error>"
//   net_probe detect [SERVER_URL]                     -> "<rc>\n<ip>"
//   net_probe tray-detect                             -> "<rc>\n<ip>"
//   net_probe get SERVER_URL PATH TOKEN CAPACITY      -> "<rc>\n<body>"
//   net_probe download SERVER_URL PATH TOKEN FILE     -> "<rc>\n"
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "allowlist_api.h"
#include "customer_api.h"
#include "data_folder.h"
#include "ip_detect.h"
#include "tray_files.h"
#include "text.h"

namespace {
void emit(int rc, const std::string& text) {
  std::printf("%d\n", rc);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string detected(int rc, const wchar_t* ip) { return rc == 0 ? wstring_to_utf8(ip) : std::string(); }
}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // bodies are compared byte for byte
  std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"allowlist" && argc == 6) {
    int rc = allowlist_request(argv[2], argv[3], ALLOWLIST_PATH, argv[4], argv[5]);
    emit(rc, last_api_error);
  } else if (verb == L"detect") {
    wchar_t ip[IP_CAPACITY] = {};
    int rc = detect_public_ip(ip, IP_CAPACITY, argc > 2 ? argv[2] : nullptr);
    emit(rc, detected(rc, ip));
  } else if (verb == L"tray-detect") {
    wchar_t ip[IP_CAPACITY] = {};
    int rc = tray_detect_public_ip(ip, IP_CAPACITY);
    emit(rc, detected(rc, ip));
  } else if (verb == L"get" && argc == 6) {
    std::vector<char> body(static_cast<size_t>(_wtoi(argv[5])) + 1, '#');
    body.back() = '\0';
    int rc = customer_api_get(argv[2], argv[3], argv[4], body.data(), body.size() - 1);
    emit(rc, body.data());
  } else if (verb == L"download" && argc == 6) {
    emit(customer_api_download(argv[2], argv[3], argv[4], argv[5]), "");
  } else {
    std::fputs("usage: see the comment at the top of net_probe.cpp\n", stderr);
    return 2;
  }
  return 0;
}

// Stand-in for the agent when the tray runs it, copied in as whitelist.exe and
// sync.exe. Beside the copy, named after it:
//   <program>.log     one JSON line per start: {"command_line": ..., "argv": [...], "program_data": ...}
//   <program>.script  lines done in order: "hold" (until <program>.release exists), "exit N" (0 when not
//   given)
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "allowlist_text.h"
#include "file_io.h"
#include "handles.h"
#include "text.h"

namespace {
std::string json_string(const wchar_t* text) {
  std::string utf8 = wstring_to_utf8(text), out(utf8.size() * 6 + 1, '\0');
  json_escape(utf8.c_str(), out.data(), out.size());
  return "\"" + std::string(out.c_str()) + "\"";
}
}  // namespace

int wmain() {
  wchar_t module[MAX_PATH + 1] = {}, program_data[1024] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  GetEnvironmentVariableW(L"ProgramData", program_data, 1024);
  std::wstring self = module;
  int argc = 0;
  local_memory argv_memory(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &argc)));
  auto argv = reinterpret_cast<wchar_t**>(argv_memory.get());
  std::string line = "{\"command_line\": " + json_string(GetCommandLineW()) + ", \"argv\": [";
  for (int i = 0; argv && i < argc; ++i) line += (i ? ", " : "") + json_string(argv[i]);
  line += "], \"program_data\": " + json_string(program_data) + "}\n";
  file_handle log(CreateFileW((self + L".log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (log) WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);

  int code = 0;
  std::string script(65536, '\0');
  file_handle file = open_for_reading((self + L".script").c_str(), FILE_SHARE_READ);
  size_t got = 0;
  script.resize(file && read_up_to(file.get(), script.data(), script.size(), got) ? got : 0);
  for (size_t start = 0, end = 0; start < script.size(); start = end + 1) {
    end = std::min(script.find('\n', start), script.size());
    std::string step = script.substr(start, end - start);
    if (!step.empty() && step.back() == '\r') step.pop_back();
    while (step == "hold" && GetFileAttributesW((self + L".release").c_str()) == INVALID_FILE_ATTRIBUTES)
      Sleep(50);
    if (step.rfind("exit ", 0) == 0) code = std::atoi(step.c_str() + 5);
  }
  return code;
}

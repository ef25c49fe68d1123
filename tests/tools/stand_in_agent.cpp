// Stand-in for the agent program when the tray runs it: copied into a test
// folder as whitelist.exe and sync.exe, it records each start and does what
// its script says. Files sit beside the copy, named after it:
//   <program>.log      one JSON object per start, appended:
//                      {"command_line": raw line, "argv": [...], "program_data": value}
//   <program>.script   optional lines, in order:
//                      "last-error TEXT"  writes TEXT to last_error.txt of the data folder
//                      "hold"             waits until <program>.release exists
//                      "exit N"           the exit code (0 when not given)
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "data_folder.h"
#include "file_io.h"
#include "folder_security.h"
#include "handles.h"
#include "text.h"

namespace {
constexpr DWORD HOLD_POLL_MS = 50;

std::string json_string(const wchar_t* text) {
  std::string utf8 = wstring_to_utf8(text ? text : L"");
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void append_log(const std::wstring& path) {
  int argc = 0;
  local_memory argv_memory(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &argc)));
  auto argv = reinterpret_cast<wchar_t**>(argv_memory.get());
  wchar_t program_data[1024] = {};
  GetEnvironmentVariableW(L"ProgramData", program_data, 1024);
  std::string line = "{\"command_line\": " + json_string(GetCommandLineW()) + ", \"argv\": [";
  for (int i = 0; argv && i < argc; ++i) line += (i ? ", " : "") + json_string(argv[i]);
  line += "], \"program_data\": " + json_string(program_data) + "}\n";
  file_handle log(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (log) WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string read_script(const std::wstring& path) {
  file_handle file = open_for_reading(path.c_str(), FILE_SHARE_READ);
  if (!file) return {};
  std::string text(65536, '\0');
  long got = read_up_to(file.get(), text.data(), text.size());
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

void write_last_error_text(const std::string& text) {
  wchar_t path[PATH_CAPACITY];
  data_file_path(LAST_ERROR_FILE_NAME, path, PATH_CAPACITY);
  ensure_data_folder(path);
  replace_file(path, text.data(), text.size());
}
}  // namespace

int wmain() {
  wchar_t module[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring self = module;
  append_log(self + L".log");

  int code = 0;
  std::string script = read_script(self + L".script");
  size_t start = 0;
  while (start < script.size()) {
    size_t end = script.find('\n', start);
    if (end == std::string::npos) end = script.size();
    std::string line = script.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (line.rfind("last-error ", 0) == 0) {
      write_last_error_text(line.substr(11));
    } else if (line == "hold") {
      std::wstring release = self + L".release";
      while (GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(HOLD_POLL_MS);
    } else if (line.rfind("exit ", 0) == 0) {
      code = std::atoi(line.c_str() + 5);
    }
  }
  return code;
}

// Test launcher: runs a program with some environment variables replaced
// (Wine forces ProgramData only for processes started from Linux) and passes
// its exit code through. The stamp is created before anything else: a run that
// left none was never started by Wine (now and then on a loaded machine).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "command_line.h"
#include "handles.h"

int wmain(int argc, wchar_t** argv) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  int i = 1;
  for (; i < argc && std::wcscmp(argv[i], L"--") != 0; ++i) {
    if (std::wcsncmp(argv[i], L"--stamp=", 8) == 0) {
      file_handle(CreateFileW(argv[i] + 8, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    } else if (std::wcsncmp(argv[i], L"--desktop=", 10) == 0) {
      startup.lpDesktop = argv[i] + 10;
    } else if (std::wcsncmp(argv[i], L"--show=", 7) == 0) {
      startup.dwFlags |= STARTF_USESHOWWINDOW;
      startup.wShowWindow = static_cast<WORD>(std::wcstoul(argv[i] + 7, nullptr, 10));
    } else if (const wchar_t* eq = std::wcschr(argv[i], L'=')) {
      // The child inherits the changed environment.
      SetEnvironmentVariableW(std::wstring(argv[i], eq - argv[i]).c_str(), eq + 1);
    } else {
      break;
    }
  }
  if (i + 1 >= argc || std::wcscmp(argv[i], L"--") != 0) {
    std::fputs(
        "usage: launch [--stamp=FILE] [--desktop=NAME] [--show=N] NAME=VALUE... -- program [args...]\n",
        stderr);
    return 125;
  }
  std::wstring command_line;
  for (int j = i + 1; j < argc; ++j) append_quoted_argument(command_line, argv[j]);

  PROCESS_INFORMATION info{};
  // Wine on a loaded machine now and then fails a start with
  // ERROR_INTERNAL_ERROR before the child runs any of its code; try again.
  constexpr int START_ATTEMPTS = 3;
  for (int attempt = 1;; ++attempt) {
    if (CreateProcessW(argv[i + 1], command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &info))
      break;
    DWORD error = GetLastError();
    std::fprintf(stderr, "launch: CreateProcess failed: %lu\n", error);
    if (error != ERROR_INTERNAL_ERROR || attempt == START_ATTEMPTS) return 126;
    Sleep(500);
  }
  kernel_handle process(info.hProcess), thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

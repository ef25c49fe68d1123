// Test driver for the tray: finds its windows in the named desktop and works
// them through Win32 messages, the way a user's clicks would arrive.
//   tray_driver --desktop NAME TARGET VERB [ARGS]    TARGET: status, config or dialog=TITLE
//     window          visible, enabled, client size, pid and title
//     controls        one line per child: id, class, visible, enabled, style (hex), text
//     set ID TEXT, click ID, post MSG W L, send MSG W L (returns once handled, at most 30 s)
//     focus, key VK   the control with the tray's keyboard focus (id, class); a key pressed there
//     ping N          N round trips of WM_NULL: microseconds each, or "timeout"
//   tray_driver --desktop NAME icon | taskbar-created | balloons | hold | release
//   tray_driver --desktop NAME run [--show N] [NAME=VALUE...] -- PROGRAM [ARGS...]
// Output is UTF-8, one record a line, tab-separated. Exit code 0 on success,
// 1 when the window is not there, 2 on bad usage; every failure is named on
// stderr, so a run without that line was never started by Wine.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "command_line.h"
#include "handles.h"
#include "text.h"

namespace {
constexpr wchar_t STATUS_CLASS[] = L"QORWhitelistIPUpdaterTray";
constexpr wchar_t SETTINGS_CLASS[] = L"QORWhitelistSettings";
constexpr UINT TRAY_ICON_ID = 1;
constexpr UINT WAIT_MS = 30000;

void print_line(const std::wstring& line) {
  std::string utf8 = wstring_to_utf8(line.c_str());
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

// An edit control's text crosses processes only through WM_GETTEXT, bounded
// in time for a busy window.
std::wstring window_text(HWND window) {
  std::wstring text(4096, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           5000, &got))
    got = static_cast<DWORD_PTR>(std::max(GetWindowTextW(window, text.data(), static_cast<int>(text.size())), 0));
  text.resize(static_cast<size_t>(got));
  std::replace_if(text.begin(), text.end(), [](wchar_t c) { return c == L'\t' || c == L'\n' || c == L'\r'; }, L' ');
  return text;
}

std::wstring class_name(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return name;
}

long number(const wchar_t* text) { return std::wcstol(text, nullptr, 0); }

HWND status_window() { return FindWindowW(STATUS_CLASS, nullptr); }

HWND find_target(const wchar_t* target) {
  if (std::wcscmp(target, L"status") == 0) return status_window();
  if (std::wcscmp(target, L"config") == 0) return FindWindowW(SETTINGS_CLASS, nullptr);
  if (std::wcsncmp(target, L"dialog=", 7) == 0) return FindWindowW(L"#32770", target + 7);
  return nullptr;
}

BOOL CALLBACK list_child(HWND child, LPARAM parent) noexcept {
  if (GetParent(child) != reinterpret_cast<HWND>(parent)) return TRUE;  // direct children only
  wchar_t line[256];
  DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
  format_bounded(line, std::size(line), L"%d\t%s\t%d\t%d\t%lx\t", GetDlgCtrlID(child), class_name(child).c_str(),
                 (style & WS_VISIBLE) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0, style);
  print_line(line + window_text(child));
  return TRUE;
}

// Balloons are shown by the shell (another process), as balloon-styled tooltips.
BOOL CALLBACK list_balloon(HWND window, LPARAM tray_pid) noexcept {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != static_cast<DWORD>(tray_pid) && IsWindowVisible(window) && class_name(window) == L"tooltips_class32" &&
      (GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON))
    print_line(L"balloon");
  return TRUE;
}

HWND focused_control(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  return thread && GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// The shell agrees to change nothing about the icon only when it knows it.
int icon_known(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  print_line(window && Shell_NotifyIconW(NIM_MODIFY, &data) ? L"1" : L"0");
  return window ? 0 : 1;
}

// What a restarted Explorer amounts to: its notification area knows no icon,
// and it announces itself to every top-level window.
int taskbar_created(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  Shell_NotifyIconW(NIM_DELETE, &data);
  int code = icon_known(window);  // "0": forgotten
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, WAIT_MS,
                      &result);
  return code;
}

// The window procedure must run to answer: a thread blocked on the network shows as a long trip.
int ping(HWND window, long count) {
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  for (long i = 0; i < count; ++i) {
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&before);
    bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, WAIT_MS, &result);
    QueryPerformanceCounter(&after);
    print_line(answered ? std::to_wstring((after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart)
                        : L"timeout");
  }
  return 0;
}

int window_verb(HWND window, const wchar_t* verb, int n, wchar_t** args) {
  auto is = [&](const wchar_t* name, int count) { return std::wcscmp(verb, name) == 0 && n == count; };
  UINT message = n >= 3 ? static_cast<UINT>(number(args[0])) : 0;
  DWORD_PTR result = 0;
  if (!window) return 1;
  if (is(L"window", 0)) {
    RECT client{};
    GetClientRect(window, &client);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t line[128];
    format_bounded(line, std::size(line), L"visible=%d\tenabled=%d\tclient=%ldx%ld\tpid=%lu\ttitle=",
                   IsWindowVisible(window) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0, client.right, client.bottom, pid);
    print_line(line + window_text(window));
    return 0;
  }
  if (is(L"controls", 0)) {
    EnumChildWindows(window, list_child, reinterpret_cast<LPARAM>(window));
    return 0;
  }
  if (is(L"set", 2)) return SetDlgItemTextW(window, static_cast<int>(number(args[0])), args[1]) ? 0 : 1;
  if (is(L"click", 1)) {
    HWND button = GetDlgItem(window, static_cast<int>(number(args[0])));
    return button && PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (is(L"post", 3)) return PostMessageW(window, message, number(args[1]), number(args[2])) ? 0 : 1;
  if (is(L"send", 3))
    return SendMessageTimeoutW(window, message, number(args[1]), number(args[2]), SMTO_NORMAL, WAIT_MS, &result)
               ? 0
               : 1;
  if (is(L"ping", 1)) return ping(window, number(args[0]));
  HWND focus = focused_control(window);
  if ((is(L"focus", 0) || is(L"key", 1)) && !focus) return 1;
  if (is(L"focus", 0)) {
    print_line(std::to_wstring(GetDlgCtrlID(focus)) + L"\t" + class_name(focus));
    return 0;
  }
  if (is(L"key", 1)) {  // posted to the focused control, so the tray's message loop sees it
    WPARAM key = static_cast<WPARAM>(number(args[0]));
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(focus, WM_KEYDOWN, key, 1 | scan);
    PostMessageW(focus, WM_KEYUP, key, 1 | scan | (3L << 30));
    return 0;
  }
  return 2;
}

// CreateProcess into the desktop with a show command and an edited environment; its exit code.
int run_program(int argc, wchar_t** argv, int i, const wchar_t* desktop) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  for (; i < argc && std::wcscmp(argv[i], L"--") != 0; ++i) {
    std::wstring assignment = argv[i];
    size_t eq = assignment.find(L'=');
    if (std::wcscmp(argv[i], L"--show") == 0 && i + 1 < argc) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = static_cast<WORD>(number(argv[++i]));
    } else if (eq == std::wstring::npos ||
               !SetEnvironmentVariableW(assignment.substr(0, eq).c_str(), assignment.c_str() + eq + 1)) {
      return 2;
    }
  }
  if (i + 1 >= argc) return 2;
  std::wstring command_line, desktop_name = desktop;
  for (int j = i + 1; j < argc; ++j) append_quoted_argument(command_line, argv[j]);
  startup.lpDesktop = desktop_name.data();
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(argv[i + 1], command_line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      nullptr, nullptr, &startup, &info))
    return 126;
  kernel_handle process(info.hProcess), thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

// A desktop lives while a program runs in it: "hold" is that program between the tray's runs.
int dispatch(int argc, wchar_t** argv) {
  const wchar_t* desktop = argv[2];
  const wchar_t* command = argv[3];
  std::wstring release_name = std::wstring(L"tray_driver_release_") + desktop;
  if (std::wcscmp(command, L"run") == 0) return run_program(argc, argv, 4, desktop);
  if (std::wcscmp(command, L"hold") == 0) {
    kernel_handle release(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
    return release && WaitForSingleObject(release.get(), INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
  }
  if (std::wcscmp(command, L"release") == 0) {
    kernel_handle release(OpenEventW(EVENT_MODIFY_STATE, FALSE, release_name.c_str()));
    return release && SetEvent(release.get()) ? 0 : 1;
  }
  HDESK joined = OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
  if (!joined || !SetThreadDesktop(joined)) return 3;
  if (std::wcscmp(command, L"icon") == 0) return icon_known(status_window());
  if (std::wcscmp(command, L"taskbar-created") == 0) return taskbar_created(status_window());
  if (std::wcscmp(command, L"balloons") == 0) {
    DWORD tray_pid = 0;
    GetWindowThreadProcessId(status_window(), &tray_pid);
    EnumWindows(list_balloon, static_cast<LPARAM>(tray_pid));
    return 0;
  }
  return argc >= 5 ? window_verb(find_target(command), argv[4], argc - 5, argv + 5) : 2;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  int code = argc >= 4 && std::wcscmp(argv[1], L"--desktop") == 0 ? dispatch(argc, argv) : 2;
  if (code != 0) std::fprintf(stderr, "tray_driver: %ls ended with %d\n", argc >= 4 ? argv[3] : L"", code);
  return code;
}

// Test driver for the tray: finds its windows in the named desktop and works
// them through Win32 messages, the way a user's clicks would arrive. Output is
// one record a line; exit code 1 when the window is not there.
//   tray_driver --desktop NAME status|config|dialog=TITLE VERB [ARGS]
//     read: a JSON line of the window (visible, enabled, client size, the id of the
//       control with the keyboard focus, title), then one per child (id, visible, enabled, style, text)
//     set ID TEXT | click ID | post MSG W L | key VK (pressed in the focused control)
//     send MSG W L [N]: N times (once), each round trip's microseconds or "timeout" (30 s)
//   tray_driver --desktop NAME taskbar-created | balloons
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "allowlist_text.h"
#include "notify_icon.h"
#include "text.h"
#include "tray_app.h"

namespace {
constexpr UINT WAIT_MS = 30000;

// A window's text as a JSON string. An edit control's text crosses processes
// only through WM_GETTEXT, bounded in time for a busy window.
std::string text_json(HWND window) {
  std::wstring text(4096, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_NORMAL, 5000, &got))
    got = static_cast<DWORD_PTR>(
        std::max(GetWindowTextW(window, text.data(), static_cast<int>(text.size())), 0));
  text.resize(static_cast<size_t>(got));
  std::string utf8 = wstring_to_utf8(text.c_str()), out(utf8.size() * 6 + 1, '\0');
  json_escape(utf8.c_str(), out.data(), out.size());
  return "\"" + std::string(out.c_str()) + "\"";
}

long number(const wchar_t* text) {
  return std::wcstol(text, nullptr, 0);
}

HWND status_window() {
  return FindWindowW(STATUS_CLASS, nullptr);
}

HWND find_target(const wchar_t* target) {
  if (std::wcscmp(target, L"status") == 0) return status_window();
  if (std::wcscmp(target, L"config") == 0) return FindWindowW(SETTINGS_CLASS, nullptr);
  if (std::wcsncmp(target, L"dialog=", 7) == 0) return FindWindowW(L"#32770", target + 7);
  return nullptr;
}

BOOL CALLBACK list_child(HWND child, LPARAM parent) noexcept {
  if (GetParent(child) != reinterpret_cast<HWND>(parent)) return TRUE;  // direct children only
  DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
  std::printf("{\"id\": %d, \"visible\": %d, \"enabled\": %d, \"style\": %lu, \"text\": %s}\n",
              GetDlgCtrlID(child), (style & WS_VISIBLE) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0, style,
              text_json(child).c_str());
  return TRUE;
}

// Balloons are shown by the shell (another process), as balloon-styled tooltips.
BOOL CALLBACK list_balloon(HWND window, LPARAM tray_pid) noexcept {
  DWORD pid = 0;
  wchar_t name[32] = {};
  GetWindowThreadProcessId(window, &pid);
  GetClassNameW(window, name, 32);
  if (pid != static_cast<DWORD>(tray_pid) && IsWindowVisible(window) &&
      std::wcscmp(name, L"tooltips_class32") == 0 && (GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON))
    std::puts("balloon");
  return TRUE;
}

HWND focused_control(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = GetWindowThreadProcessId(window, nullptr);
  return thread && GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// What a restarted Explorer amounts to: its notification area knows no icon,
// and it announces itself to every top-level window. The shell agrees to
// change nothing about an icon only when it knows it.
int taskbar_created(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  auto known = [&] { return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE; };
  std::puts(known() ? "1" : "0");
  Shell_NotifyIconW(NIM_DELETE, &data);
  std::puts(known() ? "1" : "0");
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG,
                      WAIT_MS, &result);
  for (int i = 0; i < 100 && !known(); ++i) Sleep(100);
  std::puts(known() ? "1" : "0");
  return window ? 0 : 1;
}

// The window procedure must run to answer: a thread blocked on the network shows as a long trip.
int send(HWND window, wchar_t** args, long count) {
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  int code = 0;
  for (long i = 0; i < count; ++i) {
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&before);
    bool answered = SendMessageTimeoutW(window, static_cast<UINT>(number(args[0])), number(args[1]),
                                        number(args[2]), SMTO_NORMAL, WAIT_MS, &result);
    QueryPerformanceCounter(&after);
    std::puts(answered
                  ? std::to_string((after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart).c_str()
                  : "timeout");
    code = answered ? code : 1;
  }
  return code;
}

int window_verb(HWND window, const wchar_t* verb, int n, wchar_t** args) {
  auto is = [&](const wchar_t* name, int count) { return std::wcscmp(verb, name) == 0 && n == count; };
  if (!window) return 1;
  HWND focus = focused_control(window);
  if (is(L"read", 0)) {
    RECT client{};
    GetClientRect(window, &client);
    std::printf("{\"visible\": %d, \"enabled\": %d, \"client\": \"%ldx%ld\", \"focus\": %d, \"title\": %s}\n",
                IsWindowVisible(window) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0, client.right, client.bottom,
                focus ? GetDlgCtrlID(focus) : 0, text_json(window).c_str());
    EnumChildWindows(window, list_child, reinterpret_cast<LPARAM>(window));
    return 0;
  }
  if (is(L"set", 2)) return SetDlgItemTextW(window, static_cast<int>(number(args[0])), args[1]) ? 0 : 1;
  if (is(L"click", 1)) {
    HWND button = GetDlgItem(window, static_cast<int>(number(args[0])));
    return button && PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (is(L"post", 3))
    return PostMessageW(window, static_cast<UINT>(number(args[0])), number(args[1]), number(args[2])) ? 0 : 1;
  if (is(L"send", 3) || is(L"send", 4)) return send(window, args, n == 4 ? number(args[3]) : 1);
  if (is(L"key", 1) && focus) {  // posted to the focused control, so the tray's message loop sees it
    WPARAM key = static_cast<WPARAM>(number(args[0]));
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(focus, WM_KEYDOWN, key, 1 | scan);
    PostMessageW(focus, WM_KEYUP, key, 1 | scan | (3L << 30));
    return 0;
  }
  return 2;
}

int dispatch(int argc, wchar_t** argv) {
  const wchar_t* command = argv[3];
  HDESK joined = OpenDesktopW(argv[2], 0, FALSE, GENERIC_ALL);
  if (!joined || !SetThreadDesktop(joined)) return 3;
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
  return argc >= 4 && std::wcscmp(argv[1], L"--desktop") == 0 ? dispatch(argc, argv) : 2;
}

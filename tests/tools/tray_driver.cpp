// Test driver for the tray: finds its windows and works them through Win32
// messages, the way a user's clicks would arrive. Every command first joins
// the named desktop (the tests run the tray in a virtual desktop of its own).
//
//   tray_driver --desktop NAME run [--show N] [NAME=VALUE...] -- program [args...]
//       starts the program in that desktop with the show command and the
//       environment changes, waits, and exits with its exit code
//   tray_driver --desktop NAME hold           waits until "release" (keeps the desktop open meanwhile)
//   tray_driver --desktop NAME release
//   tray_driver --desktop NAME window          the status window: handle, visibility, client size
//   tray_driver --desktop NAME controls        one line per child: id, class, WS_VISIBLE, enabled, x, y, w, h,
//                                              style (hex), text
//   tray_driver --desktop NAME config          the configuration window: title, visibility, position, outer size
//   tray_driver --desktop NAME config-controls the configuration window's children, as controls
//   tray_driver --desktop NAME config-set ID TEXT     sets a control's text there (WM_SETTEXT)
//   tray_driver --desktop NAME config-click ID        BM_CLICK to a button there (posted)
//   tray_driver --desktop NAME config-post MSG WPARAM LPARAM
//   tray_driver --desktop NAME send MSG WPARAM LPARAM         sent, not posted: returns once handled
//   tray_driver --desktop NAME config-send MSG WPARAM LPARAM  (exit code 1 when not handled within 30 s)
//   tray_driver --desktop NAME balloons        visible balloon windows of other processes: one line each
//   tray_driver --desktop NAME click ID        BM_CLICK to a button of the status window (posted)
//   tray_driver --desktop NAME post MSG WPARAM LPARAM    a message to the status window (posted)
//   tray_driver --desktop NAME icon [HWND]     1 when the shell knows the tray's notification icon
//                                              (of the status window, or of a window handle that may be gone)
//   tray_driver --desktop NAME taskbar-created  the shell forgets the icon (printed: icon as after
//                                              that), then "TaskbarCreated" goes to every top-level window
//   tray_driver --desktop NAME focus           the control with the tray's keyboard focus: id, class
//   tray_driver --desktop NAME key VK          a key press (WM_KEYDOWN, WM_KEYUP) posted to that control
//   tray_driver --desktop NAME ping N          N round trips of WM_NULL to the status window
//                                              (SendMessageTimeout, 30 s bound): one line of
//                                              microseconds per trip, or "timeout"
//   tray_driver --desktop NAME dialog TITLE    the texts of a top-level dialog with this title
//   tray_driver --desktop NAME dialog-set TITLE ID TEXT    sets a control's text in that dialog
//   tray_driver --desktop NAME dialog-post TITLE MSG WPARAM LPARAM
//
// Output is UTF-8, one record per line, fields separated by tabs. Exit code 0
// on success, 1 when the window looked for is not there, 2 on bad usage.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "command_line.h"
#include "handles.h"
#include "text.h"

namespace {
constexpr wchar_t STATUS_CLASS[] = L"QORWhitelistIPUpdaterTray";
constexpr wchar_t STATUS_TITLE[] = L"QOR Whitelist IP Updater";
constexpr wchar_t DIALOG_CLASS[] = L"#32770";
constexpr wchar_t SETTINGS_CLASS[] = L"QORWhitelistSettings";
constexpr wchar_t TOOLTIP_CLASS[] = L"tooltips_class32";
constexpr UINT TRAY_ICON_ID = 1;

void print_line(const std::wstring& line) {
  std::string utf8 = wstring_to_utf8(line.c_str());
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
}

// Edit controls keep their text to themselves: it is asked for with
// WM_GETTEXT (the system carries it across processes), bounded in time for a
// window whose thread is busy, and falls back to the caption.
std::wstring window_text(HWND window) {
  constexpr UINT TEXT_TIMEOUT_MS = 5000;
  constexpr size_t TEXT_MAX = 4096;
  std::wstring text(TEXT_MAX, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, TEXT_MAX, reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                           TEXT_TIMEOUT_MS, &got))
    got = static_cast<DWORD_PTR>(std::max(GetWindowTextW(window, text.data(), static_cast<int>(TEXT_MAX)), 0));
  text.resize(static_cast<size_t>(got));
  for (wchar_t& c : text)
    if (c == L'\t' || c == L'\n' || c == L'\r') c = L' ';
  return text;
}

std::wstring class_name(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return name;
}

HWND status_window() { return FindWindowW(STATUS_CLASS, STATUS_TITLE); }
HWND settings_window() { return FindWindowW(SETTINGS_CLASS, nullptr); }
HWND dialog_window(const wchar_t* title) { return FindWindowW(DIALOG_CLASS, title); }

long number(const wchar_t* text) { return std::wcstol(text, nullptr, 0); }

// BM_CLICK to a button of window, posted as a user's click would arrive.
int click(HWND window, wchar_t** args) {
  HWND button = window ? GetDlgItem(window, static_cast<int>(number(args[0]))) : nullptr;
  return button && PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
}

int post_to(HWND window, wchar_t** args) {
  return window && PostMessageW(window, static_cast<UINT>(number(args[0])), number(args[1]), number(args[2])) ? 0 : 1;
}

constexpr UINT SEND_TIMEOUT_MS = 30000;

// Returns once the window has handled the message, so that a check made
// afterwards sees its effect; a handler that opens a modal box never returns.
int send_to(HWND window, wchar_t** args) {
  DWORD_PTR result = 0;
  return window && SendMessageTimeoutW(window, static_cast<UINT>(number(args[0])), number(args[1]), number(args[2]),
                                       SMTO_NORMAL, SEND_TIMEOUT_MS, &result)
             ? 0
             : 1;
}

bool join_desktop(const wchar_t* name) {
  HDESK desktop = OpenDesktopW(name, 0, FALSE, GENERIC_ALL);
  return desktop && SetThreadDesktop(desktop);
}

BOOL CALLBACK list_child(HWND child, LPARAM parent_param) noexcept {
  HWND parent = reinterpret_cast<HWND>(parent_param);
  if (GetParent(child) != parent) return TRUE;  // direct children only
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  wchar_t line[1024];
  DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
  format_bounded(line, std::size(line), L"%d\t%s\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t%lx\t", GetDlgCtrlID(child),
                 class_name(child).c_str(), (style & WS_VISIBLE) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0, r.left,
                 r.top, r.right - r.left, r.bottom - r.top, style);
  print_line(line + window_text(child));
  return TRUE;
}

int list_controls(HWND parent) {
  if (!parent) return 1;
  EnumChildWindows(parent, list_child, reinterpret_cast<LPARAM>(parent));
  return 0;
}

int describe_status_window() {
  HWND window = status_window();
  if (!window) return 1;
  RECT client{};
  GetClientRect(window, &client);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t line[256];
  format_bounded(line, std::size(line), L"hwnd=%Id\tvisible=%d\ticonic=%d\tenabled=%d\tclient=%ldx%ld\tpid=%lu",
                 reinterpret_cast<INT_PTR>(window), IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0,
                 client.right - client.left, client.bottom - client.top, pid);
  print_line(line);
  return 0;
}

int describe_settings_window() {
  HWND window = settings_window();
  if (!window) return 1;
  RECT frame{};
  GetWindowRect(window, &frame);
  wchar_t line[512];
  format_bounded(line, std::size(line), L"visible=%d\tx=%ld\ty=%ld\touter=%ldx%ld\tstyle=%lx\texstyle=%lx\ttitle=",
                 IsWindowVisible(window) ? 1 : 0, frame.left, frame.top, frame.right - frame.left,
                 frame.bottom - frame.top, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)),
                 static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
  print_line(line + window_text(window));
  return 0;
}

BOOL CALLBACK list_balloon(HWND window, LPARAM tray_pid) noexcept {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == static_cast<DWORD>(tray_pid) || !IsWindowVisible(window) || class_name(window) != TOOLTIP_CLASS)
    return TRUE;
  if (!(GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON)) return TRUE;
  RECT r{};
  GetWindowRect(window, &r);
  wchar_t line[128];
  format_bounded(line, std::size(line), L"%ld\t%ld\t%ld\t%ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
  print_line(line);
  return TRUE;
}

// Balloons are shown by the shell (another process), as balloon-styled tooltips.
int list_balloons() {
  DWORD tray_pid = 0;
  if (HWND window = status_window()) GetWindowThreadProcessId(window, &tray_pid);
  EnumWindows(list_balloon, static_cast<LPARAM>(tray_pid));
  return 0;
}

// Asks the shell to change nothing about the icon: it only agrees when it knows the icon.
int icon_known(HWND window) {
  if (!window) return 1;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  print_line(Shell_NotifyIconW(NIM_MODIFY, &data) ? L"1" : L"0");
  return 0;
}

// What a restarted Explorer does: its new notification area knows no icon,
// and it announces itself to every top-level window.
int taskbar_created(HWND window) {
  if (!window) return 1;
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = TRAY_ICON_ID;
  Shell_NotifyIconW(NIM_DELETE, &data);
  icon_known(window);  // "0": the shell has forgotten it
  DWORD_PTR result = 0;
  SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, 30000,
                      &result);
  return 0;
}

HWND focused_control(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  DWORD thread = window ? GetWindowThreadProcessId(window, nullptr) : 0;
  return thread && GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

int describe_focus(HWND window) {
  HWND focus = focused_control(window);
  if (!focus) return 1;
  wchar_t line[256];
  format_bounded(line, std::size(line), L"%d\t%s", GetDlgCtrlID(focus), class_name(focus).c_str());
  print_line(line);
  return 0;
}

// The key arrives as the keyboard's would: posted to the focused control,
// so the tray's message loop sees it.
int press_key(HWND window, WPARAM key) {
  HWND focus = focused_control(window);
  if (!focus) return 1;
  UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
  PostMessageW(focus, WM_KEYDOWN, key, 1 | (static_cast<LPARAM>(scan) << 16));
  PostMessageW(focus, WM_KEYUP, key, 1 | (static_cast<LPARAM>(scan) << 16) | (3L << 30));
  return 0;
}

// run: CreateProcess into the desktop with a show command and an edited environment.
int run_program(int argc, wchar_t** argv, int i, const wchar_t* desktop) {
  int show = -1;
  std::vector<std::wstring> overrides;
  for (; i < argc && std::wcscmp(argv[i], L"--") != 0; ++i) {
    if (std::wcscmp(argv[i], L"--show") == 0 && i + 1 < argc)
      show = static_cast<int>(number(argv[++i]));
    else
      overrides.emplace_back(argv[i]);
  }
  if (i + 1 >= argc) return 2;
  for (const std::wstring& assignment : overrides) {
    size_t eq = assignment.find(L'=');
    if (eq == std::wstring::npos) return 2;
    SetEnvironmentVariableW(assignment.substr(0, eq).c_str(), assignment.substr(eq + 1).c_str());
  }
  std::wstring command_line;
  for (int j = i + 1; j < argc; ++j) append_quoted_argument(command_line, argv[j]);
  std::wstring desktop_name = desktop;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop_name.data();
  if (show >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(argv[i + 1], command_line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      nullptr, nullptr, &startup, &info)) {
    std::fprintf(stderr, "tray_driver: CreateProcess failed: %lu\n", GetLastError());
    return 126;
  }
  kernel_handle process(info.hProcess), thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

// A desktop lives while a program runs in it; the holder is that program
// between the tray's runs.
std::wstring release_event_name(const wchar_t* desktop) { return std::wstring(L"tray_driver_release_") + desktop; }

int hold(const wchar_t* desktop) {
  kernel_handle release(CreateEventW(nullptr, TRUE, FALSE, release_event_name(desktop).c_str()));
  if (!release) return 1;
  WaitForSingleObject(release.get(), INFINITE);
  return 0;
}

int release(const wchar_t* desktop) {
  kernel_handle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, release_event_name(desktop).c_str()));
  return event && SetEvent(event.get()) ? 0 : 1;
}

// The window procedure must run to answer: a thread blocked on the network
// would show as a long trip.
int ping(HWND window, long count) {
  if (!window || count < 1) return 1;
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  for (long i = 0; i < count; ++i) {
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&before);
    LRESULT answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
    QueryPerformanceCounter(&after);
    if (!answered) {
      print_line(L"timeout");
      continue;
    }
    wchar_t line[32];
    format_bounded(line, std::size(line), L"%lld", (after.QuadPart - before.QuadPart) * 1000000 / frequency.QuadPart);
    print_line(line);
  }
  return 0;
}

int usage() {
  std::fputs("usage: tray_driver --desktop NAME COMMAND [ARGS...] (see the source)\n", stderr);
  return 2;
}

int dispatch(int argc, wchar_t** argv) {
  const wchar_t* desktop = argv[2];
  const wchar_t* command = argv[3];
  if (std::wcscmp(command, L"run") == 0) return run_program(argc, argv, 4, desktop);
  if (std::wcscmp(command, L"hold") == 0) return hold(desktop);
  if (std::wcscmp(command, L"release") == 0) return release(desktop);
  if (!join_desktop(desktop)) {
    std::fprintf(stderr, "tray_driver: cannot join the desktop: %lu\n", GetLastError());
    return 1;
  }
  int n = argc - 4;
  wchar_t** args = argv + 4;
  if (std::wcscmp(command, L"window") == 0) return describe_status_window();
  if (std::wcscmp(command, L"controls") == 0) return list_controls(status_window());
  if (std::wcscmp(command, L"icon") == 0 && n <= 1)
    return icon_known(n == 1 ? reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(args[0], nullptr, 0)))
                             : status_window());
  if (std::wcscmp(command, L"taskbar-created") == 0) return taskbar_created(status_window());
  if (std::wcscmp(command, L"focus") == 0) return describe_focus(status_window());
  if (std::wcscmp(command, L"key") == 0 && n == 1) return press_key(status_window(), number(args[0]));
  if (std::wcscmp(command, L"ping") == 0 && n == 1) return ping(status_window(), number(args[0]));
  if (std::wcscmp(command, L"click") == 0 && n == 1) return click(status_window(), args);
  if (std::wcscmp(command, L"post") == 0 && n == 3) return post_to(status_window(), args);
  if (std::wcscmp(command, L"config") == 0) return describe_settings_window();
  if (std::wcscmp(command, L"config-controls") == 0) return list_controls(settings_window());
  if (std::wcscmp(command, L"config-set") == 0 && n == 2) {
    HWND window = settings_window();
    return window && SetDlgItemTextW(window, static_cast<int>(number(args[0])), args[1]) ? 0 : 1;
  }
  if (std::wcscmp(command, L"config-click") == 0 && n == 1) return click(settings_window(), args);
  if (std::wcscmp(command, L"config-post") == 0 && n == 3) return post_to(settings_window(), args);
  if (std::wcscmp(command, L"balloons") == 0) return list_balloons();
  if (std::wcscmp(command, L"send") == 0 && n == 3) return send_to(status_window(), args);
  if (std::wcscmp(command, L"config-send") == 0 && n == 3) return send_to(settings_window(), args);
  if (std::wcscmp(command, L"dialog") == 0 && n == 1) {
    HWND dialog = dialog_window(args[0]);
    if (!dialog) return 1;
    return list_controls(dialog);
  }
  if (std::wcscmp(command, L"dialog-set") == 0 && n == 3) {
    HWND dialog = dialog_window(args[0]);
    return dialog && SetDlgItemTextW(dialog, static_cast<int>(number(args[1])), args[2]) ? 0 : 1;
  }
  if (std::wcscmp(command, L"dialog-post") == 0 && n == 4) {
    HWND dialog = dialog_window(args[0]);
    return dialog && PostMessageW(dialog, static_cast<UINT>(number(args[1])), number(args[2]), number(args[3]))
               ? 0
               : 1;
  }
  return usage();
}
}  // namespace

// Every failure is named on stderr: a failed run without that line was never
// started by Wine, and the tests repeat it.
int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || std::wcscmp(argv[1], L"--desktop") != 0) return usage();
  int code = dispatch(argc, argv);
  if (code != 0) std::fprintf(stderr, "tray_driver: %ls ended with %d\n", argv[3], code);
  return code;
}


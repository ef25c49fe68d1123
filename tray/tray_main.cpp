// Entry point: single instance, window classes, the status window and the message loop.
#include <windows.h>

#include <commctrl.h>

#include "config_window.h"
#include "dialog_keys.h"
#include "folder_security.h"
#include "handles.h"
#include "painting.h"
#include "status_window.h"
#include "tray_app.h"

namespace {
constexpr wchar_t MUTEX_NAME[] = L"Global\\QORWhitelistIPUpdaterTray";
constexpr DWORD STATUS_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

bool register_class(HINSTANCE instance, const wchar_t* name, WNDPROC procedure, HICON icon,
                    HICON small_icon) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  cls.lpfnWndProc = procedure;
  cls.hInstance = instance;
  cls.hIcon = icon;
  cls.hIconSm = small_icon;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.lpszClassName = name;
  return RegisterClassExW(&cls) != 0;
}

// Another start shows the running instance instead of a second icon.
void show_running_instance() {
  HWND other = FindWindowW(STATUS_CLASS, APP_TITLE);
  if (!other) return;
  ShowWindow(other, SW_SHOW);
  SetForegroundWindow(other);
}

// The state, not the window: messages still arrive after the window is destroyed.
int run_message_loop(HWND status_window, const status_window_state& state) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (dialog_key_message(state.config_window, msg) || dialog_key_message(status_window, msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  kernel_handle mutex(CreateMutexW(nullptr, TRUE, MUTEX_NAME));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    show_running_instance();
    return 0;
  }

  // Started elevated, it writes the data folder as every elevated writer does:
  // through the held folder, or not at all (its saves then fail).
  if (takes_folder_guard()) (void)guard_data_folder(nullptr, true);

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  create_brushes();
  load_icons(instance);

  ui_resources r = ui();
  if (!register_class(instance, STATUS_CLASS, status_window_proc, r.large_icon, r.small_icon) ||
      !register_class(instance, SETTINGS_CLASS, config_window_proc, nullptr, nullptr))
    return 1;

  // Static: workers still running at the exit may release its flags.
  static status_window_state state;
  HWND window = CreateWindowExW(0, STATUS_CLASS, APP_TITLE, STATUS_STYLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, &state);
  if (!window) return 1;
  finish_status_window(window);
  // The program lives in the notification area, whatever show command it got.
  ShowWindow(window, SW_HIDE);

  return run_message_loop(window, state);
}

#include "config_window.h"

#include "tray_constants.h"

using namespace tray;

namespace {
HWND open_window = nullptr;

constexpr wchar_t SETUP_NOT_YET[] =
    L"Setup from the tray arrives with a later version.\n\nUntil then, configure this PC from a command "
    L"prompt with the setup command from the plugin dashboard:\n\nwhitelist --token <token> --server-url <url>";
constexpr wchar_t CONFIG_NOT_YET[] =
    L"The configuration window arrives with a later version.\n\nUntil then, change the settings from a command "
    L"prompt:\n\nwhitelist --token <token> --server-url <url>";
}  // namespace

HWND config_window() { return open_window; }

void open_config_window(HWND owner, bool setup_form) {
  MessageBoxW(owner, setup_form ? SETUP_NOT_YET : CONFIG_NOT_YET, APP_TITLE, MB_OK | MB_ICONINFORMATION);
}

LRESULT CALLBACK config_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  return DefWindowProcW(window, message, wparam, lparam);
}

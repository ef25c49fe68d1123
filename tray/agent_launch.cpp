#include "agent_launch.h"

#include "tray_constants.h"

using namespace tray;

namespace {
constexpr wchar_t SYNC_NOT_YET[] =
    L"Sync now arrives with a later version of the tray.\n\nThe background service keeps registering "
    L"this PC's address in the meantime.";
}  // namespace

void tray_start_sync(HWND status_window) {
  MessageBoxW(status_window, SYNC_NOT_YET, APP_TITLE, MB_OK | MB_ICONINFORMATION);
}

void on_sync_done(HWND, LPARAM) noexcept {
  // No sync worker exists yet, so nothing posts this message.
}

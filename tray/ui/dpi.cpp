#include "dpi.h"

namespace {
using get_dpi_for_window_fn = UINT(WINAPI*)(HWND);
using metrics_for_dpi_fn = int(WINAPI*)(int, UINT);

// Windows 10 1607 and later; null before.
template <typename Function>
Function user32_function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

UINT system_dpi() {
  static const UINT dpi = [] {
    HDC screen = GetDC(nullptr);
    int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return value > 0 ? static_cast<UINT>(value) : static_cast<UINT>(DESIGN_DPI);
  }();
  return dpi;
}
}  // namespace

UINT window_dpi(HWND window) {
  static const auto get_dpi_for_window = user32_function<get_dpi_for_window_fn>("GetDpiForWindow");
  UINT dpi = get_dpi_for_window && window ? get_dpi_for_window(window) : 0;
  return dpi ? dpi : system_dpi();
}

int system_metric_for_dpi(int index, UINT dpi) {
  static const auto metrics_for_dpi = user32_function<metrics_for_dpi_fn>("GetSystemMetricsForDpi");
  return metrics_for_dpi ? metrics_for_dpi(index, dpi) : GetSystemMetrics(index);
}

RECT scaled_rect(design_box box, UINT dpi) {
  design_box b = scale_box(box, static_cast<int>(dpi));
  return {b.x, b.y, b.x + b.w, b.y + b.h};
}

void size_client_area(HWND window, int width, int height) {
  int dpi = static_cast<int>(window_dpi(window));
  RECT outer{}, client{};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  int outer_width = scale_for_dpi(width, dpi) + (outer.right - outer.left) - (client.right - client.left);
  int outer_height = scale_for_dpi(height, dpi) + (outer.bottom - outer.top) - (client.bottom - client.top);
  SetWindowPos(window, nullptr, 0, 0, outer_width, outer_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void place_child(HWND child, design_box box, UINT dpi, HFONT font) {
  design_box b = scale_box(box, static_cast<int>(dpi));
  SetWindowPos(child, nullptr, b.x, b.y, b.w, b.h, SWP_NOZORDER | SWP_NOACTIVATE);
  if (font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

UINT take_suggested_rect(HWND window, WPARAM wparam, LPARAM lparam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
  if (suggested)
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  UINT dpi = HIWORD(wparam);
  return dpi ? dpi : window_dpi(window);
}

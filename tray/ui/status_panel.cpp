#include "status_panel.h"

#include <commctrl.h>

#include <iterator>

#include "controls.h"
#include "dpi.h"
#include "status_rules.h"
#include "text.h"

namespace {
struct row {
  const wchar_t* label;
  int label_id;
  int value_id;
};
constexpr row ROWS[ROW_COUNT] = {
    {L"Service", ID_SERVICE_LABEL, ID_SERVICE_VALUE},
    {L"Allowlist status", ID_STATUS_LABEL, ID_STATUS_VALUE},
    {L"Public IP", ID_PUBLIC_IP_LABEL, ID_PUBLIC_IP_VALUE},
    {L"Last whitelisted", ID_LAST_IP_LABEL, ID_LAST_IP_VALUE},
    {L"Server", ID_SERVER_LABEL, ID_SERVER_VALUE},
    {L"Token", ID_TOKEN_LABEL, ID_TOKEN_VALUE},
    {L"Pending cleanup", ID_PENDING_LABEL, ID_PENDING_VALUE},
};

struct button {
  const wchar_t* text;
  int id;
  int left;
  DWORD style;
};
constexpr button BUTTONS[] = {
    {L"Sync now", ID_SYNC_BUTTON, SYNC_BUTTON_LEFT, WS_VISIBLE | BS_DEFPUSHBUTTON},
    {L"Config", ID_CONFIG_BUTTON, CONFIG_BUTTON_LEFT, WS_VISIBLE | BS_PUSHBUTTON},
    {L"Refresh", ID_REFRESH_BUTTON, REFRESH_BUTTON_LEFT, WS_VISIBLE | BS_PUSHBUTTON},
    {L"Export", ID_EXPORT_BUTTON, EXPORT_BUTTON_LEFT, BS_PUSHBUTTON},
};

constexpr size_t SERVICE_TEXT_READ = 64;

void show_export_button(HWND window, bool configured) {
  HWND export_button = GetDlgItem(window, ID_EXPORT_BUTTON);
  ShowWindow(export_button, configured ? SW_SHOW : SW_HIDE);
  EnableWindow(export_button, configured ? TRUE : FALSE);
}
}  // namespace

void create_status_controls(HWND window, bool configured) {
  for (int i = 0; i < ROW_COUNT; ++i) {
    create_child(window, L"STATIC", ROWS[i].label, WS_VISIBLE | SS_RIGHT, 0, 0, 0, 0, ROWS[i].label_id,
                 nullptr);
    create_child(window, L"STATIC", L"", WS_VISIBLE | SS_LEFT | SS_ENDELLIPSIS | SS_NOPREFIX, 0, 0, 0, 0,
                 ROWS[i].value_id, nullptr);
  }
  // Created left to right: the order of the Tab key.
  for (const button& b : BUTTONS)
    create_child(window, L"BUTTON", b.text, WS_TABSTOP | b.style, 0, 0, 0, 0, b.id, nullptr);
  show_export_button(window, configured);
  create_child(window, L"STATIC", TEXT_FOOTER, WS_VISIBLE | SS_LEFT, 0, 0, 0, 0, ID_FOOTER, nullptr);
}

void layout_status_controls(HWND window, const status_panel& panel) {
  UINT dpi = window_dpi(window);
  font_set fonts = fonts_for(dpi);
  for (int i = 0; i < ROW_COUNT; ++i) {
    int top = ROW_TOP + ROW_STEP * i;
    place_child(GetDlgItem(window, ROWS[i].label_id), {LABEL_LEFT, top, LABEL_WIDTH, ROW_HEIGHT}, dpi,
                fonts.small_font);
    place_child(GetDlgItem(window, ROWS[i].value_id), {VALUE_LEFT, top, VALUE_WIDTH, ROW_HEIGHT}, dpi,
                fonts.body_font);
  }
  for (const button& b : BUTTONS)
    place_child(GetDlgItem(window, b.id), {b.left, BUTTON_TOP, BUTTON_WIDTH, BUTTON_HEIGHT}, dpi,
                fonts.body_font);
  place_child(GetDlgItem(window, ID_FOOTER), {FOOTER_LEFT, FOOTER_TOP, FOOTER_WIDTH, FOOTER_HEIGHT}, dpi,
              fonts.small_font);
  if (HWND tooltip = panel.tooltip)
    SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, scale_for_dpi(TOOLTIP_MAX_WIDTH, static_cast<int>(dpi)));
}

void create_status_tooltip(HWND window, status_panel& panel) {
  HWND& tooltip = panel.tooltip;
  if (tooltip) return;
  tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)), nullptr);
  if (!tooltip) return;
  SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0,
               scale_for_dpi(TOOLTIP_MAX_WIDTH, static_cast<int>(window_dpi(window))));
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, ID_STATUS_VALUE));
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void redraw_status_panel(HWND window) {
  RECT panel = scaled_rect(STATUS_PANEL, window_dpi(window));
  RedrawWindow(window, &panel, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void set_allowlist_status(HWND window, status_panel& panel, const wchar_t* text) {
  if (!text) text = L"";
  panel.status_color = status_color_for(text);
  SetDlgItemTextW(window, ID_STATUS_VALUE, text);
  if (!panel.tooltip) return;
  wchar_t detail[STATUS_TEXT_CAPACITY];
  copy_bounded(detail, STATUS_TEXT_CAPACITY, status_tooltip_for(text));
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = window;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(window, ID_STATUS_VALUE));
  tool.lpszText = detail;
  SendMessageW(panel.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void show_snapshot(HWND window, status_panel& panel, const status_snapshot* s) {
  if (!s) return;
  SetDlgItemTextW(window, ID_SERVICE_VALUE, s->service_state);
  set_allowlist_status(window, panel, s->allowlist_status);
  SetDlgItemTextW(window, ID_PUBLIC_IP_VALUE, s->public_ip);
  SetDlgItemTextW(window, ID_LAST_IP_VALUE, s->last_whitelisted);
  SetDlgItemTextW(window, ID_SERVER_VALUE, s->server);
  SetDlgItemTextW(window, ID_TOKEN_VALUE, s->token_display);
  SetDlgItemTextW(window, ID_PENDING_VALUE, s->pending_cleanup);
  show_export_button(window, s->configured);
  redraw_status_panel(window);
}

HBRUSH color_status_static(HDC dc, HWND control, const status_panel& panel) {
  int id = GetDlgCtrlID(control);
  // Labels, and what the ranges below leave, are drawn as on every panel.
  if (id != ID_STATUS_VALUE && id != ID_SERVICE_VALUE && id != ID_FOOTER &&
      (id < VALUE_RANGE_FIRST || id > VALUE_RANGE_LAST))
    return color_label(dc, control);
  ui_resources r = ui();
  font_set f = fonts_for(window_dpi(control));
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, COLOR_WHITE);
  if (id == ID_STATUS_VALUE) {
    SetTextColor(dc, panel.status_color);
    SelectObject(dc, f.bold_font);
  } else if (id == ID_SERVICE_VALUE) {
    wchar_t state[SERVICE_TEXT_READ] = {};
    GetWindowTextW(control, state, static_cast<int>(std::size(state)));
    SetTextColor(dc, is_running_text(state) ? COLOR_GREEN : COLOR_AMBER);
    SelectObject(dc, f.bold_font);
  } else if (id == ID_FOOTER) {
    // The footer stands on the page, not the panel: a white text background would show as a band.
    SetBkColor(dc, COLOR_PAGE);
    SetTextColor(dc, COLOR_FOOTER_GREY);
    SelectObject(dc, f.small_font);
    return r.page_brush;
  } else {
    SetTextColor(dc, COLOR_NEUTRAL);
    SelectObject(dc, f.body_font);
  }
  return r.white_brush;
}

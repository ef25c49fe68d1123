#include "painting.h"

#include "tray_constants.h"
#include "ui_handles.h"

using namespace tray;

namespace {
font_handle small_font, body_font, bold_font;
brush_handle page_brush, white_brush;
// Icons from our resources are ours to destroy; the system's stock fallback is shared.
icon_handle large_icon_owned, small_icon_owned;
HICON large_icon, small_icon;

void create_font(font_handle& font, int height, int weight) {
  if (font) return;
  font.reset(CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, FONT_FACE));
}

HICON load_resource_icon(HINSTANCE instance, int size, icon_handle& owner) {
  owner.reset(static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(ICON_RESOURCE_ID), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
  return owner.get();
}

HICON system_application_icon() { return LoadIconW(nullptr, IDI_APPLICATION); }
}  // namespace

ui_resources ui() {
  return {small_font.get(), body_font.get(), bold_font.get(), page_brush.get(), white_brush.get(),
          large_icon,       small_icon};
}

void create_fonts() {
  create_font(small_font, SMALL_FONT_HEIGHT, NORMAL_WEIGHT);
  create_font(body_font, BODY_FONT_HEIGHT, NORMAL_WEIGHT);
  create_font(bold_font, BODY_FONT_HEIGHT, BOLD_WEIGHT);
}

void create_brushes() {
  if (!page_brush) page_brush.reset(CreateSolidBrush(COLOR_PAGE));
  if (!white_brush) white_brush.reset(CreateSolidBrush(COLOR_WHITE));
}

void load_icons(HINSTANCE instance) {
  large_icon = load_resource_icon(instance, LARGE_ICON_SIZE, large_icon_owned);
  if (!large_icon) large_icon = system_application_icon();
  small_icon = load_resource_icon(instance, SMALL_ICON_SIZE, small_icon_owned);
  if (!small_icon) small_icon = system_application_icon();
  if (!small_icon) small_icon = large_icon;
}

void release_ui_resources() {
  small_font.reset();
  body_font.reset();
  bold_font.reset();
  page_brush.reset();
  white_brush.reset();
  small_icon_owned.reset();
  large_icon_owned.reset();
  small_icon = large_icon = nullptr;
}

void paint_panel(HDC dc) {
  RECT panel{PANEL_LEFT, PANEL_TOP, PANEL_RIGHT, PANEL_BOTTOM};
  FillRect(dc, &panel, white_brush.get());
  pen_handle border(CreatePen(PS_SOLID, 1, COLOR_PANEL_BORDER));
  selected_object pen(dc, border.get());
  selected_object brush(dc, GetStockObject(HOLLOW_BRUSH));
  Rectangle(dc, panel.left, panel.top, panel.right, panel.bottom);
}

void paint_header(HDC dc, const RECT& client) {
  RECT band{client.left, client.top, client.right, client.top + HEADER_HEIGHT};
  {
    brush_handle header(CreateSolidBrush(COLOR_HEADER));
    FillRect(dc, &band, header.get());
  }
  SetBkMode(dc, TRANSPARENT);
  constexpr UINT LINE = DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX;
  selected_object font(dc, bold_font.get());
  SetTextColor(dc, COLOR_WHITE);
  RECT title{client.left + 20, client.top + 12, client.right - 20, client.top + 34};
  DrawTextW(dc, APP_TITLE, -1, &title, LINE);
  SelectObject(dc, small_font.get());
  SetTextColor(dc, COLOR_SUBTITLE_BLUE);
  RECT subtitle{client.left + 20, client.top + 34, client.right - 20, client.top + 52};
  DrawTextW(dc, APP_SUBTITLE, -1, &subtitle, LINE);
}

void paint_window_background(HWND window, HDC dc) {
  RECT client{};
  GetClientRect(window, &client);
  FillRect(dc, &client, page_brush.get());
  paint_panel(dc);
  paint_header(dc, client);
}

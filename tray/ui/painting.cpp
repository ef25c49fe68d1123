#include "painting.h"

#include <vector>

#include "dpi.h"
#include "tray_app.h"
#include "ui_handles.h"

namespace {
struct dpi_fonts {
  UINT dpi;
  font_handle small_font, body_font, bold_font;
};
// The process-wide drawing resources: made at start, released with the status window.
struct drawing_resources {
  std::vector<dpi_fonts> font_sets;
  brush_handle page_brush, white_brush;
  // Icons from our resources are ours to destroy; the system's stock fallback is shared.
  icon_handle large_icon_owned, small_icon_owned;
  HICON large_icon = nullptr, small_icon = nullptr;
} resources;

void create_font(font_handle& font, int height, int weight, UINT dpi) {
  if (font) return;
  font.reset(CreateFontW(scale_for_dpi(height, static_cast<int>(dpi)), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, FONT_FACE));
}

HICON system_application_icon() {
  return LoadIconW(nullptr, IDI_APPLICATION);
}
}  // namespace

HICON load_resource_icon(HINSTANCE instance, int size, icon_handle& owner) {
  owner.reset(static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(ICON_RESOURCE_ID), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
  return owner.get();
}

ui_resources ui() {
  return {resources.page_brush.get(), resources.white_brush.get(), resources.large_icon,
          resources.small_icon};
}

font_set fonts_for(UINT dpi) {
  dpi_fonts* set = nullptr;
  for (dpi_fonts& f : resources.font_sets)
    if (f.dpi == dpi) set = &f;
  if (!set) set = &resources.font_sets.emplace_back(dpi_fonts{dpi, {}, {}, {}});
  // A font that could not be made is tried again next time.
  create_font(set->small_font, SMALL_FONT_HEIGHT, NORMAL_WEIGHT, dpi);
  create_font(set->body_font, BODY_FONT_HEIGHT, NORMAL_WEIGHT, dpi);
  create_font(set->bold_font, BODY_FONT_HEIGHT, BOLD_WEIGHT, dpi);
  return {set->small_font.get(), set->body_font.get(), set->bold_font.get()};
}

void create_brushes() {
  if (!resources.page_brush) resources.page_brush.reset(CreateSolidBrush(COLOR_PAGE));
  if (!resources.white_brush) resources.white_brush.reset(CreateSolidBrush(COLOR_WHITE));
}

void load_icons(HINSTANCE instance) {
  // The system DPI's sizes: the notification area and the class icons use it.
  resources.large_icon =
      load_resource_icon(instance, GetSystemMetrics(SM_CXICON), resources.large_icon_owned);
  if (!resources.large_icon) resources.large_icon = system_application_icon();
  resources.small_icon =
      load_resource_icon(instance, GetSystemMetrics(SM_CXSMICON), resources.small_icon_owned);
  if (!resources.small_icon) resources.small_icon = system_application_icon();
  if (!resources.small_icon) resources.small_icon = resources.large_icon;
}

void release_ui_resources() {
  resources = drawing_resources{};
}

namespace {
void paint_panel(HDC dc, design_box box, UINT dpi) {
  int d = static_cast<int>(dpi);
  RECT panel = scaled_rect(box, dpi);
  FillRect(dc, &panel, resources.white_brush.get());
  pen_handle border(CreatePen(PS_SOLID, scale_for_dpi(1, d), COLOR_PANEL_BORDER));
  selected_object pen(dc, border.get());
  selected_object brush(dc, GetStockObject(HOLLOW_BRUSH));
  Rectangle(dc, panel.left, panel.top, panel.right, panel.bottom);
}

void paint_header(HDC dc, const RECT& client, UINT dpi) {
  auto s = [dpi](int v) { return scale_for_dpi(v, static_cast<int>(dpi)); };
  RECT band{client.left, client.top, client.right, client.top + s(HEADER_HEIGHT)};
  {
    brush_handle header(CreateSolidBrush(COLOR_HEADER));
    FillRect(dc, &band, header.get());
  }
  SetBkMode(dc, TRANSPARENT);
  constexpr UINT LINE = DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX;
  font_set fonts = fonts_for(dpi);
  selected_object font(dc, fonts.bold_font);
  SetTextColor(dc, COLOR_WHITE);
  RECT title{client.left + s(20), client.top + s(12), client.right - s(20), client.top + s(34)};
  DrawTextW(dc, APP_TITLE, -1, &title, LINE);
  SelectObject(dc, fonts.small_font);
  SetTextColor(dc, COLOR_SUBTITLE_BLUE);
  RECT subtitle{client.left + s(20), client.top + s(34), client.right - s(20), client.top + s(52)};
  DrawTextW(dc, APP_SUBTITLE, -1, &subtitle, LINE);
}
}  // namespace

void paint_window_background(HWND window, HDC dc, design_box panel) {
  RECT client{};
  GetClientRect(window, &client);
  UINT dpi = window_dpi(window);
  FillRect(dc, &client, resources.page_brush.get());
  paint_panel(dc, panel, dpi);
  paint_header(dc, client, dpi);
}

HBRUSH color_label(HDC dc, HWND control) {
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, COLOR_WHITE);
  SetTextColor(dc, COLOR_LABEL_GREY);
  SelectObject(dc, fonts_for(window_dpi(control)).small_font);
  return resources.white_brush.get();
}

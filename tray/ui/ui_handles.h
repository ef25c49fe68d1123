// Close traits for the user-interface handles of the tray (GDI objects,
// icons, menus), on top of the common handle template.
#pragma once

#include <windows.h>

#include "handles.h"

template <typename Handle>
struct gdi_object_traits {
  using pointer = Handle;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { DeleteObject(h); }
};

struct icon_traits {
  using pointer = HICON;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { DestroyIcon(h); }
};

struct menu_traits {
  using pointer = HMENU;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { DestroyMenu(h); }
};

using font_handle = unique_handle<gdi_object_traits<HFONT>>;
using brush_handle = unique_handle<gdi_object_traits<HBRUSH>>;
using pen_handle = unique_handle<gdi_object_traits<HPEN>>;
using icon_handle = unique_handle<icon_traits>;
using menu_handle = unique_handle<menu_traits>;

// Selects an object into a device context for a scope and puts the previous one back.
class selected_object {
 public:
  selected_object(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~selected_object() {
    if (previous_) SelectObject(dc_, previous_);
  }
  selected_object(const selected_object&) = delete;
  selected_object& operator=(const selected_object&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

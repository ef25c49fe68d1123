// Close traits for the user-interface handles of the tray (GDI objects,
// icons, menus), on top of the common handle template.
#pragma once

#include <windows.h>

#include "handles.h"

using font_handle = unique_handle<close_traits<HFONT, DeleteObject>>;
using brush_handle = unique_handle<close_traits<HBRUSH, DeleteObject>>;
using pen_handle = unique_handle<close_traits<HPEN, DeleteObject>>;
using icon_handle = unique_handle<close_traits<HICON, DestroyIcon>>;
using menu_handle = unique_handle<close_traits<HMENU, DestroyMenu>>;

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

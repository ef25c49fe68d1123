// Scaling the 96-DPI design to a window's DPI: plain arithmetic, free of
// <windows.h>, so the rounding can be tested on its own.
#pragma once

inline constexpr int DESIGN_DPI = 96;

// value * dpi / 96, rounded half away from zero as the system's MulDiv does,
// so a font height of -13 at 144 DPI is -20, the size Windows picks itself.
constexpr int scale_for_dpi(int value, int dpi) {
  long long product = static_cast<long long>(value) * dpi;
  long long half = DESIGN_DPI / 2;
  return static_cast<int>(product >= 0 ? (product + half) / DESIGN_DPI : -((-product + half) / DESIGN_DPI));
}

// A rectangle of the design as left, top, width and height.
struct design_box {
  int x, y, w, h;
};

// Scales the edges, not the sizes: boxes that touch or line up at 96 DPI
// still do at any DPI, and no rounding opens a gap between neighbours.
constexpr design_box scale_box(design_box b, int dpi) {
  int left = scale_for_dpi(b.x, dpi), top = scale_for_dpi(b.y, dpi);
  return {left, top, scale_for_dpi(b.x + b.w, dpi) - left, scale_for_dpi(b.y + b.h, dpi) - top};
}

// Small value types of the display layer: rectangles, monitor and window
// handles.
//
// Coordinates: every rectangle a drawer or the display manager works with is
// in the coordinates of the video panel (the reference window), whose own
// rectangle is {0, 0, width, height}. That keeps composition, capture and
// repaint right whatever the windowing system says about global positions.
#pragma once

#include <algorithm>
#include <cstdint>

struct RECT {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  friend bool operator==(const RECT &a, const RECT &b) = default;
};

struct POINT {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const POINT &a, const POINT &b) = default;
};

inline RECT MakeRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return RECT{left, top, right, bottom};
}

inline RECT IntersectRect(const RECT &a, const RECT &b) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.IsEmpty()) return RECT{};
  return r;
}

// Opaque monitor handle: the address of the screen object the GUI reports,
// or 0 for none. Never dereferenced by the display layer.
using HMONITOR = uintptr_t;

class CVideoWindow;
// A window the display layer draws into (see video_window.h).
using HWND = CVideoWindow *;

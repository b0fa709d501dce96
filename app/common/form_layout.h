#pragma once

namespace orgkat::form_layout {

// The main window's layout in pixels at 96 dpi, the same for every toolkit; each scales it to
// the screen's density.
struct Place {
  int Left;
  int Top;
  int Width;
  int Height;
};

inline constexpr int kClientWidth = 535;
inline constexpr int kClientHeight = 424;
inline constexpr int kMargin = 8;
inline constexpr int kLogTop = 96;
inline constexpr int kLogBottomGap = kClientHeight - kLogTop - 305;  // to the window's bottom edge
inline constexpr int kProgressHeight = 17;
inline constexpr int kLabelLeft = 8;
inline constexpr int kLabelTop = 77;
inline constexpr Place kStartButton{183, 8, 169, 37};
inline constexpr Place kPauseButton{183, 51, 75, 25};
inline constexpr Place kStopButton{277, 51, 75, 25};
// Small enough for any screen, large enough that every button and a few log lines stay visible.
inline constexpr int kMinimumWidth = kStopButton.Left + kStopButton.Width + kMargin;
inline constexpr int kMinimumHeight = kLogTop + 60 + kLogBottomGap;

}  // namespace orgkat::form_layout

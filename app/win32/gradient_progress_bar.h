#pragma once

#include <windows.h>

#include <string>

#include "platform/controls.h"
#include "platform/progress_model.h"

namespace orgkat {

// The window's progress bar: a continuous bar filled with a green gradient on the window's
// colour, and a tooltip for its hover text. The hover text is also the control's window text and
// PBM_GETPOS / PBM_GETRANGE answer as a common progress bar does, so tools that read controls
// (screen readers, the window test) see both.
class GradientProgressBar final : public ModelledProgressBar {
 public:
  GradientProgressBar(HWND parent, int id, HINSTANCE instance);
  GradientProgressBar(const GradientProgressBar&) = delete;
  GradientProgressBar& operator=(const GradientProgressBar&) = delete;
  ~GradientProgressBar() override;

  HWND Handle() const { return window_; }

  void SetHint(const std::string& hint) override;
  void SetShowHint(bool show) override;

 private:
  void Changed() override;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void Paint();

  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  std::wstring hint_;
};

}  // namespace orgkat

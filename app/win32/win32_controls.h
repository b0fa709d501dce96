#pragma once

#include <windows.h>

#include "platform/controls.h"

namespace orgkat {

// The control interfaces over the main window's Win32 controls. A control whose window has been
// destroyed ignores every change and reads as empty.

// A multi-line edit control; its text keeps the CR LF line breaks the control uses itself.
class Win32LogView final : public ILogView {
 public:
  explicit Win32LogView(HWND edit) : edit_(edit) {}
  void Clear() override;
  void AppendLine(const std::string& line) override;
  std::string Text() const override;

 private:
  HWND edit_;
};

class Win32StartControl final : public IStartControl {
 public:
  explicit Win32StartControl(HWND button) : button_(button) {}
  void SetEnabled(bool enabled) override;

 private:
  HWND button_;
};

// A timer of the UI thread: WM_TIMER with the given id goes to the owner window.
class Win32ResumeTimer final : public IResumeTimer {
 public:
  Win32ResumeTimer(HWND owner, UINT_PTR id) : owner_(owner), id_(id) {}
  void SetInterval(int milliseconds) override;
  void SetEnabled(bool enabled) override;

 private:
  HWND owner_;
  UINT_PTR id_;
  UINT interval_ = 1000;
  bool enabled_ = false;
};

}  // namespace orgkat

#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/common/form_actions.h"
#include "app/common/options.h"

namespace orgkat {

class GradientProgressBar;
class Win32ResumeTimer;

// Caption of the error message box.
inline constexpr const wchar_t* kApplicationTitle = L"Парсер Orgkat";

// The main window: starts a run, pauses, resumes and stops it, and shows its log and progress.
// Laid out in pixels at 96 dpi, scaled to the DPI of the monitor it stands on. Its message boxes
// ask and tell the operator what the run's handlers need.
class TMainForm : public TFormActions {
 public:
  // processPendingEvents: run by progress reports to keep the window responsive during a run.
  TMainForm(FrontEndOptions options, HINSTANCE instance,
            std::function<void()> processPendingEvents);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;
  ~TMainForm();

  HWND Handle() const { return window_; }

  // The controls, in the order of the window's layout.
  std::shared_ptr<GradientProgressBar> ProgressBar;
  HWND LogsMemo = nullptr;
  HWND Label2 = nullptr;
  HWND StartButton = nullptr;
  HWND StopButton = nullptr;
  HWND PauseButton = nullptr;
  std::shared_ptr<Win32ResumeTimer> ResumeTimer;

  // A failure in an error message box; what the operator should know before a run in a warning
  // message box.
  void ShowError(const std::string& message) override;
  void ShowNotice(const std::string& message) override;
  Answer Ask(const std::string& question, bool cancel) override;
  bool ShowAccount(const std::string& text, Account kind) override;

 private:
  struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
  };
  using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls(HINSTANCE instance);
  // Fonts and fixed places for the window's DPI; Layout places what follows the window's size.
  void ApplyDpi();
  void Layout();
  int Scale(int pixelsAt96) const;

  void PostRunEnded(const TScraper::RunSummary& summary) override;
  void RunEnded();
  void Close();

  HWND window_ = nullptr;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  Font font_;
  Font start_font_;
  std::optional<TScraper::RunSummary> ended_;  // the run whose end is posted, until it is told
};

}  // namespace orgkat

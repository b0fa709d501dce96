#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/controls.h"
#include "platform/progress_model.h"

namespace orgkat {

// The progress bar of the console: one line on standard error, drawn only when that is a terminal,
// never wider than the terminal (see FormatProgressLine).
class ConsoleProgressBar final : public ModelledProgressBar {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ConsoleProgressBar(bool draw) : draw_(draw) {}

  void SetPosition(std::int32_t position) override;
  void SetHint(const std::string& hint) override;
  void SetShowHint(bool show) override;

  // A run has started: its list request comes first. The controller's first report with the
  // position back at 0 ends that request (or the run was stopped).
  void BeginListRequest();
  void SetHeld(bool held);
  // The directory is limiting the pace of the run's requests.
  void SetLimited(bool limited);
  void SetWidth(int columns);

  // The line as it would be drawn now, e.g. "[####    ] 12 из 300, осталось 288".
  std::string Line() const;
  // Takes the bar off the screen (before any other output); true when it was shown.
  bool Erase();
  // Draws the line when it is not on the screen as it is now.
  void Redraw();

 private:
  void Changed() override;

  std::string hint_;
  bool show_hint_ = false;
  bool list_request_ = false;
  bool held_ = false;
  bool limited_ = false;
  int width_ = 80;
  // Where the rate is measured from: the first position of the records phase and its time.
  std::optional<std::pair<Clock::time_point, std::int32_t>> origin_;
  bool draw_;
  bool drawn_ = false;
  std::string shown_;
};

// The log of the console: every line goes to standard output at once; the whole text (lines
// ending in CR LF) is kept for the log file.
class ConsoleLogView final : public ILogView {
 public:
  explicit ConsoleLogView(std::shared_ptr<ConsoleProgressBar> bar) : bar_(std::move(bar)) {}

  void Clear() override { text_.clear(); }
  void AppendLine(const std::string& line) override;
  std::string Text() const override { return text_; }

 private:
  std::shared_ptr<ConsoleProgressBar> bar_;
  std::string text_;
};

class ConsoleStartControl final : public IStartControl {
 public:
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const { return enabled_; }

 private:
  bool enabled_ = true;
};

// The resume timer: a deadline that the console loop watches.
class ConsoleResumeTimer final : public IResumeTimer {
 public:
  using Clock = std::chrono::steady_clock;

  void SetInterval(int milliseconds) override;
  void SetEnabled(bool enabled) override;
  bool Enabled() const { return deadline_.has_value(); }
  // When the timer fires next; nothing while disabled.
  std::optional<Clock::time_point> Deadline() const { return deadline_; }

 private:
  int interval_ms_ = 1000;
  std::optional<Clock::time_point> deadline_;
};

}  // namespace orgkat

#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/controls.h"
#include "platform/progress_model.h"

namespace orgkat {

// The progress bar of the console: drawn on standard error, and only when that is a terminal.
class ConsoleProgressBar final : public IProgressBar {
 public:
  explicit ConsoleProgressBar(bool draw) : draw_(draw) {}

  void SetMax(std::int32_t max) override;
  void SetPosition(std::int32_t position) override;
  std::int32_t Max() const override { return model_.Max(); }
  std::int32_t Position() const override { return model_.Position(); }
  void SetHint(const std::string& hint) override;
  void SetShowHint(bool show) override;

  // The drawn line, e.g. "[####    ] 12 из 300, осталось 288".
  std::string Line() const;
  // Takes the bar off the screen (before a log line); true when it was shown.
  bool Erase();
  void Redraw();

 private:
  ProgressModel model_;
  std::string hint_;
  bool show_hint_ = false;
  bool draw_;
  bool drawn_ = false;
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

#include "app/cli/console_controls.h"

#include <cstdio>

namespace orgkat {
namespace {

constexpr int kBarCells = 30;

}  // namespace

void ConsoleProgressBar::SetMax(std::int32_t max) {
  model_.SetMax(max);
  Redraw();
}

void ConsoleProgressBar::SetPosition(std::int32_t position) {
  model_.SetPosition(position);
  Redraw();
}

void ConsoleProgressBar::SetHint(const std::string& hint) {
  hint_ = hint;
  Redraw();
}

void ConsoleProgressBar::SetShowHint(bool show) {
  show_hint_ = show;
  Redraw();
}

std::string ConsoleProgressBar::Line() const {
  const int filled = static_cast<int>(model_.Fraction() * kBarCells);
  std::string line = "[" + std::string(filled, '#') + std::string(kBarCells - filled, ' ') + "]";
  if (show_hint_ && !hint_.empty()) line += " " + hint_;
  return line;
}

bool ConsoleProgressBar::Erase() {
  if (!drawn_) return false;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
  return true;
}

void ConsoleProgressBar::Redraw() {
  if (!draw_) return;
  std::fputs(("\r" + Line() + "\033[K").c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void ConsoleLogView::AppendLine(const std::string& line) {
  text_ += line;
  text_ += "\r\n";
  const bool shown = bar_->Erase();
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (shown) bar_->Redraw();
}

void ConsoleResumeTimer::SetInterval(int milliseconds) {
  interval_ms_ = milliseconds;
  if (deadline_) deadline_ = Clock::now() + std::chrono::milliseconds(interval_ms_);
}

void ConsoleResumeTimer::SetEnabled(bool enabled) {
  if (enabled) {
    deadline_ = Clock::now() + std::chrono::milliseconds(interval_ms_);
  } else {
    deadline_.reset();
  }
}

}  // namespace orgkat

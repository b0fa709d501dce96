#include "app/cli/console_controls.h"

#include <cstdio>

#include "app/cli/progress_line.h"

namespace orgkat {
namespace {

// Records taken before a rate is shown: the first few go out at once, up to the limit.
constexpr std::int32_t kFewRecords = 10;

}  // namespace

// The rate counts from the first position of a records phase.
void ConsoleProgressBar::SetPosition(std::int32_t position) {
  if (position == 0) {
    list_request_ = false;
    origin_.reset();
  }
  ModelledProgressBar::SetPosition(position);
}

void ConsoleProgressBar::Changed() {
  if (!list_request_ && !origin_ && Position() != 0) origin_.emplace(Clock::now(), Position());
  Redraw();
}

void ConsoleProgressBar::BeginListRequest() {
  list_request_ = true;
  origin_.reset();
  Redraw();
}

void ConsoleProgressBar::SetHeld(bool held) {
  held_ = held;
  Redraw();
}

void ConsoleProgressBar::SetLimited(bool limited) {
  if (limited == limited_) return;
  limited_ = limited;
  Redraw();
}

void ConsoleProgressBar::SetWidth(int columns) {
  width_ = columns;
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
  ProgressView view;
  view.Phase = held_           ? ProgressView::State::Held
               : list_request_ ? ProgressView::State::ListRequest
                               : ProgressView::State::Records;
  view.Position = Position();
  view.Max = Max();
  if (show_hint_) view.Hint = hint_;
  view.Width = width_;
  view.Limited = limited_;
  if (origin_ && Position() - origin_->second >= kFewRecords) {
    const std::chrono::duration<double> elapsed = Clock::now() - origin_->first;
    if (elapsed.count() > 0) view.Rate = (Position() - origin_->second) / elapsed.count();
  }
  return FormatProgressLine(view);
}

bool ConsoleProgressBar::Erase() {
  if (!drawn_) return false;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
  return true;
}

void ConsoleProgressBar::Redraw() {
  // Nothing is drawn before the controller's first progress report.
  if (!draw_ || !show_hint_) return;
  const std::string line = Line();
  if (drawn_ && line == shown_) return;
  std::fputs(("\r" + line + "\033[K").c_str(), stderr);
  std::fflush(stderr);
  shown_ = line;
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

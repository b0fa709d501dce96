#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orgkat {

// What the console's progress line shows at one moment.
struct ProgressView {
  enum class State {
    ListRequest,  // the list request is under way: no bar, its total is not known yet
    Records,
    Held,  // the run is paused
  };
  State Phase = State::Records;
  std::int32_t Position = 0;
  std::int32_t Max = 0;
  std::string Hint;  // the bar's hover text ("%d из %d, осталось %d"); empty while not shown
  // Records taken per second, once enough are done to tell.
  std::optional<double> Rate;
  bool Limited = false;  // the directory is limiting the pace of the requests
  int Width = 80;        // the terminal's columns
};

// The line itself, at most Width columns wide (counted in characters, not bytes), e.g.
// "[#####     ] 12 из 300, осталось 288  2.4/с ~2 мин". Below 20 columns only the counts.
std::string FormatProgressLine(const ProgressView& view);

// The time left at that rate: "~40 с", "~12 мин", "~2 ч 05 мин".
std::string TimeLeftText(double seconds);

}  // namespace orgkat

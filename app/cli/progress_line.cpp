#include "app/cli/progress_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/progress_model.h"

namespace orgkat {
namespace {

constexpr int kNarrow = 20;
constexpr int kMaxBarCells = 30;
constexpr int kMinBarCells = 5;

// Characters in UTF-8 text: every byte that does not continue a sequence.
int Columns(const std::string& text) {
  return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The first `columns` characters.
std::string Cut(const std::string& text, int columns) {
  std::size_t i = 0;
  for (int n = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (n++ == columns) break;
  }
  return text.substr(0, i);
}

std::string Bar(double fraction, int cells) {
  const int filled = std::clamp(static_cast<int>(fraction * cells), 0, cells);
  return "[" + std::string(filled, '#') + std::string(cells - filled, ' ') + "]";
}

}  // namespace

std::string TimeLeftText(double seconds) {
  const auto whole = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
  if (whole < 60) return "~" + std::to_string(whole) + " с";
  const long long minutes = (whole + 59) / 60;
  if (minutes < 60) return "~" + std::to_string(minutes) + " мин";
  char text[48];
  std::snprintf(text, sizeof text, "~%lld ч %02lld мин", minutes / 60, minutes % 60);
  return text;
}

std::string FormatProgressLine(const ProgressView& view) {
  ProgressModel model;
  model.SetMax(view.Max);
  model.SetPosition(view.Position);
  const int width = std::max(view.Width, 1);

  if (width < kNarrow) {
    const std::string counts =
        view.Phase == ProgressView::State::ListRequest
            ? "0/?"
            : std::to_string(model.Position()) + "/" + std::to_string(model.Max());
    return Cut(counts, width);
  }

  if (view.Phase == ProgressView::State::ListRequest) {
    return Cut("запрашиваем список организаций…", width);
  }

  // What follows the counts, most wanted first; each is tried with and without the bar before a
  // shorter one is, so the rate gives way before the time left, and the bar before the pause.
  // The directory's limit comes before the rate, which it explains.
  std::vector<std::string> extras;
  if (view.Phase == ProgressView::State::Held) {
    extras.push_back("  пауза");
  } else {
    const std::string limited = view.Limited ? "  сервер ограничивает запросы" : "";
    if (view.Rate && *view.Rate > 0) {
      const auto left = TimeLeftText((model.Max() - model.Position()) / *view.Rate);
      char rate[32];
      std::snprintf(rate, sizeof rate, "  %.1f/с ", *view.Rate);
      extras.push_back(limited + rate + left);
      if (view.Limited) extras.push_back(limited);
      extras.push_back(rate + left);
      extras.push_back("  " + left);
    } else if (view.Limited) {
      extras.push_back(limited);
    }
  }
  extras.emplace_back();
  for (const auto& extra : extras) {
    const std::string text = view.Hint.empty()
                                 ? extra.substr(std::min<std::size_t>(2, extra.size()))
                                 : view.Hint + extra;
    const int cells = std::min(kMaxBarCells, width - Columns(text) - 3);
    if (cells >= kMinBarCells) {
      return Bar(model.Fraction(), cells) + (text.empty() ? "" : " " + text);
    }
    if (Columns(text) <= width) return text;
  }
  return Cut(view.Hint, width);
}

}  // namespace orgkat

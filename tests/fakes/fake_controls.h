#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/progress_model.h"

namespace orgkat::test {

// Window controls for driving the reports without a window. Touch them on the UI thread only.

class FakeLogView : public ILogView {
 public:
  void Clear() override { lines.clear(); }
  void AppendLine(const std::string& line) override {
    if (beforeAppend) beforeAppend(line);
    lines.push_back(line);
  }
  std::string Text() const override {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
  }
  std::vector<std::string> lines;
  // Runs first in every AppendLine; may throw to fail the call.
  std::function<void(const std::string& line)> beforeAppend;
};

class FakeProgressBar : public IProgressBar {
 public:
  void SetMax(std::int32_t max) override { model.SetMax(max); }
  void SetPosition(std::int32_t position) override {
    if (beforeSetPosition) beforeSetPosition(model.Max(), position);
    model.SetPosition(position);
  }
  std::int32_t Max() const override { return model.Max(); }
  std::int32_t Position() const override { return model.Position(); }
  void SetHint(const std::string& text) override { hint = text; }
  void SetShowHint(bool show) override { showHint = show; }
  ProgressModel model;
  std::string hint;
  bool showHint = false;
  // Runs first in every SetPosition, with the maximum already set; may throw to fail the call.
  std::function<void(std::int32_t max, std::int32_t position)> beforeSetPosition;
};

class FakeStartControl : public IStartControl {
 public:
  void SetEnabled(bool value) override {
    enabled = value;
    changes.push_back(value);
  }
  bool enabled = true;
  std::vector<bool> changes;
};

class FakeResumeTimer : public IResumeTimer {
 public:
  void SetInterval(int milliseconds) override { interval = milliseconds; }
  void SetEnabled(bool value) override {
    enabled = value;
    if (value) ++armings;
  }
  int interval = 0;
  bool enabled = false;
  int armings = 0;
};

}  // namespace orgkat::test

#pragma once

#include <cstdint>
#include <string>

namespace orgkat {

// The window controls that the report operations act on. The window's widgets, the console and
// test fakes implement them; they are touched on the UI thread only.

class ILogView {
 public:
  virtual ~ILogView() = default;
  virtual void Clear() = 0;
  // Appends one line; in the whole text every appended line ends in CR LF.
  virtual void AppendLine(const std::string& line) = 0;
  virtual std::string Text() const = 0;
};

class IProgressBar {
 public:
  virtual ~IProgressBar() = default;
  // Clamping as ProgressModel does it.
  virtual void SetMax(std::int32_t max) = 0;
  virtual void SetPosition(std::int32_t position) = 0;
  virtual std::int32_t Max() const = 0;
  virtual std::int32_t Position() const = 0;
  virtual void SetHint(const std::string& hint) = 0;
  virtual void SetShowHint(bool show) = 0;
};

class IStartControl {
 public:
  virtual ~IStartControl() = default;
  virtual void SetEnabled(bool enabled) = 0;
};

class IResumeTimer {
 public:
  virtual ~IResumeTimer() = default;
  virtual void SetInterval(int milliseconds) = 0;
  // Enabling (also when already enabled) starts a full interval from now.
  virtual void SetEnabled(bool enabled) = 0;
};

}  // namespace orgkat

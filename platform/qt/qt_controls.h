#pragma once

#include <QPointer>
#include <QString>

#include "platform/controls.h"
#include "platform/progress_model.h"

class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orgkat {

// The control interfaces over the window's widgets. They hold guarded pointers: a run abandoned
// when the window goes away finds its controls gone and changes nothing.

class QtLogView final : public ILogView {
 public:
  explicit QtLogView(QPlainTextEdit* edit);
  void Clear() override;
  void AppendLine(const std::string& line) override;
  // Every line ends in CR LF, also the last one.
  std::string Text() const override;

 private:
  QPointer<QPlainTextEdit> edit_;
};

class QtProgressBar final : public ModelledProgressBar {
 public:
  explicit QtProgressBar(QProgressBar* bar);
  void SetHint(const std::string& hint) override;
  void SetShowHint(bool show) override;

 private:
  void Changed() override;
  void ShowHint();

  QPointer<QProgressBar> bar_;
  QString hint_;
  bool show_hint_ = false;
};

class QtStartControl final : public IStartControl {
 public:
  explicit QtStartControl(QPushButton* button);
  void SetEnabled(bool enabled) override;

 private:
  QPointer<QPushButton> button_;
};

class QtResumeTimer final : public IResumeTimer {
 public:
  explicit QtResumeTimer(QTimer* timer);
  void SetInterval(int milliseconds) override;
  void SetEnabled(bool enabled) override;

 private:
  QPointer<QTimer> timer_;
};

}  // namespace orgkat

#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "app/common/options.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orgkat {

class TRunHandlers;
class TScraper;

// Caption of the error message box.
inline constexpr const char* kApplicationTitle = "Парсер Orgkat";

// The main window: starts a run, pauses, resumes and stops it, and shows its log and progress.
class TMainForm : public QWidget {
  Q_OBJECT

 public:
  explicit TMainForm(FrontEndOptions options, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The controls, in the order of the window's layout.
  QProgressBar* ProgressBar;
  QPlainTextEdit* LogsMemo;
  QLabel* Label2;
  QPushButton* StartButton;
  QPushButton* StopButton;
  QPushButton* PauseButton;
  QTimer* ResumeTimer;

  // The current run; set by the start button, cleared on the UI thread when the run has ended.
  const std::shared_ptr<TScraper>& ActiveScraper() const;

  void StartButtonClick();
  void PauseButtonClick();
  void StopButtonClick();
  void ResumeTimerTimer();

  // Shows a failure to the operator in an error message box.
  void ShowError(const std::string& message);
  // Shows what the operator should know, though nothing failed, in a warning message box.
  void ShowNotice(const std::string& message);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Runs a handler; a failure that escapes it is shown and the event loop goes on.
  template <typename Handler>
  void Guarded(Handler handler);

  std::unique_ptr<TRunHandlers> Handlers;
};

}  // namespace orgkat

#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "app/common/operator_dialogs.h"
#include "app/common/options.h"
#include "scraper/scraper.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orgkat {

class TRunHandlers;

// Caption of the error message box.
inline constexpr const char* kApplicationTitle = "Парсер Orgkat";

// The main window: starts a run, pauses, resumes and stops it, and shows its log and progress.
// Its message boxes ask and tell the operator what the run's handlers need.
class TMainForm : public QWidget, public IOperatorDialogs {
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

  // A failure in an error message box; what the operator should know, though nothing failed, in
  // a warning message box.
  void ShowError(const std::string& message) override;
  void ShowNotice(const std::string& message) override;
  Answer Ask(const std::string& question, bool cancel) override;
  bool ShowAccount(const std::string& text, bool fetchAgain) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Runs a handler; a failure that escapes it is shown and the event loop goes on.
  template <typename Handler>
  void Guarded(Handler handler);
  // After a run has ended, from the event loop: the window closes if it was asked to, or tells
  // the operator what the run misses.
  void RunEnded(const TScraper::RunSummary& summary);

  std::unique_ptr<TRunHandlers> Handlers;
};

}  // namespace orgkat

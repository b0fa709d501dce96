#pragma once

#include <QWidget>
#include <string>

#include "app/common/form_actions.h"
#include "app/common/options.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orgkat {

// Caption of the error message box.
inline constexpr const char* kApplicationTitle = "Парсер Orgkat";

// The main window: starts a run, pauses, resumes and stops it, and shows its log and progress.
// Its message boxes ask and tell the operator what the run's handlers need.
class TMainForm : public QWidget, public TFormActions {
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

  // A failure in an error message box; what the operator should know, though nothing failed, in
  // a warning message box.
  void ShowError(const std::string& message) override;
  void ShowNotice(const std::string& message) override;
  Answer Ask(const std::string& question, bool cancel) override;
  bool ShowAccount(const std::string& text, Account kind) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void PostRunEnded(const TScraper::RunSummary& summary) override;
};

}  // namespace orgkat

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/cli/console_controls.h"
#include "scraper/run_config.h"
#include "scraper/scraper.h"

namespace orgkat {

// The console's counterpart of the main window: it holds the controls, starts the run and carries
// the operator's start, pause, stop and resume-timer actions to the controller. UI thread only.
class TConsoleForm {
 public:
  TConsoleForm(std::shared_ptr<const RunConfig> config, std::int32_t limit,
               std::shared_ptr<ILogView> log, std::shared_ptr<IProgressBar> bar,
               std::shared_ptr<IStartControl> start, std::shared_ptr<IResumeTimer> timer);

  void StartButtonClick();
  void PauseButtonClick();
  void StopButtonClick();
  void ResumeTimerTimer();

  bool RunActive() const;
  // Called on the UI thread once the controller's body has ended.
  std::function<void()> OnRunEnded;
  // Drains the UI-thread calls from inside a progress report.
  std::function<void()> ProcessPendingEvents;

  bool StopRequested() const { return stop_requested_; }
  bool LogFileFailed() const { return log_file_failed_; }
  // The summary of the last run, once it has ended.
  const std::optional<TScraper::RunSummary>& LastSummary() const { return last_summary_; }

 private:
  void Log(const std::string& message);

  std::shared_ptr<const RunConfig> config_;
  std::int32_t limit_;
  std::shared_ptr<ILogView> log_;
  std::shared_ptr<IProgressBar> bar_;
  std::shared_ptr<IStartControl> start_;
  std::shared_ptr<IResumeTimer> timer_;
  std::shared_ptr<TScraper> ActiveScraper;
  bool stop_requested_ = false;
  bool log_file_failed_ = false;
  std::optional<TScraper::RunSummary> last_summary_;
};

}  // namespace orgkat

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/common/operator_dialogs.h"
#include "platform/controls.h"
#include "scraper/run_config.h"
#include "scraper/scraper.h"

namespace orgkat {

// The operator's actions on a run (start, pause, stop, the resume timer's expiry, closing), shared
// by the window and the console. UI thread only. The handlers own the run's controller and join
// its thread: the one of an ended run when the next starts, the current one when they go.
class TRunHandlers {
 public:
  struct Controls {
    std::shared_ptr<ILogView> Log;
    std::shared_ptr<IProgressBar> Progress;
    std::shared_ptr<IStartControl> Start;
    std::shared_ptr<IResumeTimer> Timer;
  };

  TRunHandlers(Controls controls, std::shared_ptr<const RunConfig> config, std::int32_t limit);
  TRunHandlers(const TRunHandlers&) = delete;
  TRunHandlers& operator=(const TRunHandlers&) = delete;
  // Stops a run still going and joins it. Its UI-thread calls must fail by then (the front end
  // shuts its queue first), since the thread that would serve them is the one waiting here.
  ~TRunHandlers();

  // Starts a run; the first start continues the run the configuration names, if any.
  void StartButtonClick();
  void PauseButtonClick();
  void StopButtonClick();
  void ResumeTimerTimer();

  // The window's start: first the checks that depend on the moment (a disk fills, certificate
  // files are moved), made before the run is created; then, when the output folder holds an
  // interrupted run, the question whether to continue it.
  void WindowStart(IOperatorDialogs& dialogs);
  // The window is to close: true when it may close now. During a run the operator is asked; on
  // yes the run is stopped as by the stop button, and the window closes once it has ended
  // (CloseWhenEnded).
  bool CloseRequested(IOperatorDialogs& dialogs);
  bool CloseWhenEnded() const { return close_when_ended_; }
  // What the window tells at the end of a run that misses records or failed; on Дозапросить the
  // missing records are fetched again into the same result file.
  void ShowRunAccount(const TScraper::RunSummary& summary, IOperatorDialogs& dialogs);

  // The current run: set by the start action, cleared on the UI thread once the run has ended.
  const std::shared_ptr<TScraper>& ActiveScraper() const { return active_; }

  // Handed to every run: processing of pending UI events inside progress reports, and the report
  // of a log file that could not be saved.
  std::function<void()> ProcessPendingEvents;
  std::function<void(const std::string& message)> OnLogFileFailure;
  // Called on the UI thread when a run has ended, with how it went.
  std::function<void(const TScraper::RunSummary& summary)> OnRunEnded;
  // Where orgkat.conf is, named in the window's advice.
  std::string ConfigFile;

 private:
  void Log(const std::string& message);
  void StartRun(std::shared_ptr<const ContinuationPlan> continuation);
  void FetchAgain(const std::string& csvPath, IOperatorDialogs& dialogs);

  Controls controls_;
  std::shared_ptr<const RunConfig> config_;
  // The run the first start continues; taken by it.
  std::shared_ptr<const ContinuationPlan> first_continuation_;
  std::int32_t limit_;
  std::shared_ptr<TScraper> active_;
  // The latest run's controller, kept until its thread is joined.
  std::shared_ptr<TScraper> owned_;
  bool close_when_ended_ = false;
};

}  // namespace orgkat

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/controls.h"
#include "scraper/run_config.h"
#include "scraper/scraper.h"

namespace orgkat {

// The operator's four actions on a run (start, pause, stop and the resume timer's expiry), shared
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

  void StartButtonClick();
  // The window's start: first the checks that depend on the moment (a disk fills, certificate
  // files are moved), made before the run is created; an error refuses the run, notices are shown
  // and the run starts.
  void CheckedStart(const std::function<void(const std::string&)>& showError,
                    const std::function<void(const std::string&)>& showNotice);
  void PauseButtonClick();
  void StopButtonClick();
  void ResumeTimerTimer();

  // The current run: set by the start action, cleared on the UI thread once the run has ended.
  const std::shared_ptr<TScraper>& ActiveScraper() const { return active_; }

  // Handed to every run: processing of pending UI events inside progress reports, and the report
  // of a log file that could not be saved.
  std::function<void()> ProcessPendingEvents;
  std::function<void(const std::string& message)> OnLogFileFailure;
  // Called on the UI thread when a run has ended, with how it went.
  std::function<void(const TScraper::RunSummary& summary)> OnRunEnded;

 private:
  void Log(const std::string& message);

  Controls controls_;
  std::shared_ptr<const RunConfig> config_;
  std::int32_t limit_;
  std::shared_ptr<TScraper> active_;
  // The latest run's controller, kept until its thread is joined.
  std::shared_ptr<TScraper> owned_;
};

}  // namespace orgkat

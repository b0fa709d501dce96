#pragma once

#include <functional>
#include <memory>

#include "app/common/operator_dialogs.h"
#include "app/common/options.h"
#include "app/common/run_handlers.h"
#include "scraper/scraper.h"

namespace orgkat {

// What both windows do with their controls and boxes, whatever their toolkit: the four event
// handlers over the run's handlers, the account after a run, the question before closing, and a
// failure that escapes a handler shown in an error box. UI thread only.
class TFormActions : public IOperatorDialogs {
 public:
  // The current run; set by the start button, cleared on the UI thread when the run has ended.
  const std::shared_ptr<TScraper>& ActiveScraper() const { return handlers_->ActiveScraper(); }

  void StartButtonClick() { handlers_->WindowStart(*this); }
  void PauseButtonClick() { handlers_->PauseButtonClick(); }
  void StopButtonClick() { handlers_->StopButtonClick(); }
  void ResumeTimerTimer() { handlers_->ResumeTimerTimer(); }

 protected:
  // processPendingEvents: run by progress reports to keep the window responsive during a run.
  void MakeHandlers(TRunHandlers::Controls controls, FrontEndOptions& options,
                    std::function<void()> processPendingEvents);
  // Stops a run still going and joins it; the window calls it first as it goes, while its boxes
  // are still there. Its run's UI-thread calls must fail by then (the queue is shut).
  void EndRuns() { handlers_.reset(); }

  // Runs a handler; a failure that escapes it is shown and the event loop goes on.
  void Guarded(const std::function<void()>& handler);
  // Whether the window may close now; during a run the operator is asked.
  bool MayClose();
  // From the event loop after a run has ended: true when the window is to close now; otherwise the
  // operator is told what the run misses.
  bool AfterRun(const TScraper::RunSummary& summary);
  // Queues AfterRun for the event loop: the end of a run is told inside a UI-thread call.
  virtual void PostRunEnded(const TScraper::RunSummary& summary) = 0;

 private:
  std::unique_ptr<TRunHandlers> handlers_;
};

}  // namespace orgkat

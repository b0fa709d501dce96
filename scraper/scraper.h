#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/thread.h"
#include "scraper/dispatch_pacing.h"
#include "scraper/record_id_list.h"
#include "scraper/result_file.h"
#include "scraper/run_config.h"
#include "scraper/run_journal.h"
#include "scraper/url_queue.h"
#include "scraper/worker_lists.h"

namespace orgkat {

class TScrapingThread;

// The run controller: phase 1 fetches the organisation list and collects record URLs, phase 2
// fetches every record with at most Limit workers and writes one row per record. Create with
// std::make_shared (created suspended), set the controls, Config and Limit, then Resume; the front
// end owns it and joins it. It owns its workers: those it abandons when a phase fails or stops
// are no longer waited for, and once the run has made its last report they are cancelled and
// joined. It reports to the window only through UI-thread calls, whose values travel in the call.
class TScraper : public TThread {
 public:
  TScraper() = default;
  // Waits for the thread to end.
  ~TScraper() override;

  // Window controls, touched only inside UI-thread calls.
  std::shared_ptr<IProgressBar> ProgressBar;
  std::shared_ptr<IStartControl> StartButton;
  std::shared_ptr<ILogView> LogsMemo;
  std::shared_ptr<IResumeTimer> ResumeTimer;
  std::int32_t Limit = 5;
  std::shared_ptr<const RunConfig> Config = std::make_shared<RunConfig>();

  // Report operations, run on the UI thread; each reads the report fields below, written by the
  // controller just before the UI-thread call that runs it.
  void AppendLog();       // LogMessageText
  void UpdateRunState();  // CursorHourGlass
  void UpdateProgress();  // ProgressBarMax, ProgressBarPosition
  void ReportResult();    // result
  // The "Ошибка: ..." line of an error result alone, for a failure with nothing left to resume.
  void ReportError();
  void ArmResumeTimer();

  // Lets the UI thread process its pending events from inside UpdateProgress; set by the front end.
  std::function<void()> ProcessPendingEvents;
  // Called on the UI thread when the log file cannot be saved, with the failure's message; the
  // start control is enabled again all the same.
  std::function<void(const std::string& message)> OnLogFileFailure;

  // How the run went, for the console's exit status. Read on the UI thread once the run has ended.
  struct RunSummary {
    bool Completed = false;      // "Сбор данных завершен" was logged
    bool ErrorReported = false;  // a failure ended a phase or the closing ("Ошибка: ...")
    bool Stopped = false;        // a phase ended on the Terminated flag
    bool LogFileSaved = false;
    std::string ListFailure;       // why the list request failed after its last attempt
    std::string Failure;           // the message of the first failure that ended a phase
    std::size_t RecordsFound = 0;  // URLs handed to the records phase
    std::size_t RowsWritten = 0;
    std::vector<std::string> LostUrls;  // records that failed after their last attempt
    std::size_t Refusals = 0;           // attempts the directory refused with 429 or 503
    std::string ResultPath;             // empty when no result file was made
    std::string LogPath;
    // What changed since the newest earlier complete run of the same list in the result file's
    // folder, or why nothing was compared; empty when the run wrote no row.
    std::string ChangesLine;
    std::string ChangesPath;  // the change report written; empty when none was
  };
  const RunSummary& Summary() const { return summary_; }
  // Any thread: whether the directory is limiting the pace of the run's requests right now.
  bool PaceLimited() const { return pace_limited_.load(); }

 protected:
  void Execute() override;

 private:
  // Report fields: the inputs of the report operations.
  std::string result;
  std::string LogMessageText;
  bool CursorHourGlass = false;
  std::int32_t ProgressBarPosition = 0;
  std::int32_t ProgressBarMax = 0;

  enum class Phase { List, Records };
  // How a phase ended: all its work done, a failure (reported), or the Terminated flag.
  enum class PhaseEnd { Done, Failed, Stopped };
  // Whether the loop goes on after a step, or leaves at once on the Terminated flag.
  enum class StepEnd { Continue, Stop };
  void RunPhases();
  // Runs a step of the controller; a failure in it is reported and the run goes on to its end.
  void Guarded(const std::function<void()>& step);
  void ReportFailure(const std::string& message);
  void SendResult(const std::string& outcome);
  void SendProgress(std::int32_t position);
  void SendRunState(bool busy);
  PhaseEnd RunPhase(Phase phase);
  PhaseEnd DispatchLoop(Phase phase);
  StepEnd DispatchStep();
  StepEnd ConsumeStep(Phase phase);
  bool PhaseDone();
  struct StartTurn {
    bool Allowed = true;
    std::optional<std::uint32_t> GrantedAt;  // when the pacing granted it; empty: not asked
  };
  StartTurn PaceAllowsStart();
  void CycleWait();
  void StartWorker(std::string url, std::optional<std::uint32_t> granted_at);
  void Consume(Phase phase, TScrapingThread& worker);
  void DropRecordWithoutDocument(const std::string& url, const std::string& message);
  void NoteFailure(const std::string& message);
  void AbandonWorkers();
  void EndAbandonedWorkers();
  void CloseRun();
  void ReportChanges();
  PhaseEnd TakeContinuedRecords();
  void ReopenResultFile();
  void Log(const std::string& message);
  void SaveLogFile();

  // Run state, owned by Execute.
  std::mutex ListsLock;  // guards every phase's lists
  // Each phase's lists. An abandoned worker may still hand over into its phase's lists after the
  // next phase has begun, so they all stay until the run has joined its workers; a deque keeps
  // their places while it grows.
  std::deque<TPhaseLists> PhaseLists;
  TWorkerList* RunningList = nullptr;  // the current phase's lists, in PhaseLists
  TWorkerList* FinishedList = nullptr;
  // Workers left running or unconsumed when a phase failed or stopped.
  std::vector<std::shared_ptr<TScrapingThread>> Abandoned;
  TUrlQueue UrlQueue;
  RecordIdList FoundIds;
  std::deque<std::string> ContinuedUrls;  // a continued run's records, in their first order
  TResultFile ResultFile;
  TRunJournal Journal;
  std::string LastDirector;
  RunSummary summary_;
  // The directory's pace as the workers report it; guarded by ListsLock. Its base is the two
  // waits between starts.
  TDispatchPacing Pacing{0};
  std::atomic<bool> pace_limited_{false};
};

}  // namespace orgkat

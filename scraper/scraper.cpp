#include "scraper/scraper.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include "platform/code_page.h"
#include "platform/file_creation.h"
#include "platform/timestamp.h"
#include "scraper/directory_endpoints.h"
#include "scraper/progress_hint.h"
#include "scraper/record_row.h"
#include "scraper/run_comparison.h"
#include "scraper/scraping_thread.h"

namespace orgkat {
namespace {

constexpr std::size_t kErrorTextLimit = 200;  // characters of a failure message in its log line
// How often the dispatch loop looks for a start's turn while the directory limits the pace.
constexpr std::chrono::milliseconds kLimitedCycle{20};

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte offset of the character `count` characters into UTF-8 text (or its size).
std::size_t CharacterOffset(const std::string& text, std::size_t from, std::size_t count) {
  std::size_t i = from;
  while (i < text.size() && count > 0) {
    ++i;
    while (i < text.size() && IsContinuationByte(text[i])) ++i;
    --count;
  }
  return i;
}

// The failure message of an error result: from its seventh character, at most 200 characters.
std::string ErrorMessageOf(const std::string& result) {
  const std::size_t begin = CharacterOffset(result, 0, 6);
  const std::size_t end = CharacterOffset(result, begin, kErrorTextLimit);
  return result.substr(begin, end - begin);
}

std::int32_t ClampedCount(std::size_t n) {
  return static_cast<std::int32_t>(
      std::min<std::size_t>(n, static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())));
}

}  // namespace

TScraper::~TScraper() {
  WaitFor();
}

// Each report reads the fields written just before its call; the blocking call orders both.
void TScraper::Log(const std::string& message) {
  LogMessageText = message;
  Synchronize([this] { AppendLog(); });
}

void TScraper::SendResult(const std::string& outcome) {
  result = outcome;
  Synchronize([this] { ReportResult(); });
}

void TScraper::SendProgress(std::int32_t position) {
  ProgressBarPosition = position;
  Synchronize([this] { UpdateProgress(); });
}

void TScraper::SendRunState(bool busy) {
  CursorHourGlass = busy;
  Synchronize([this] { UpdateRunState(); });
}

void TScraper::Execute() {
  // The run's pacing follows its configuration's clock.
  Sleeper = Config->Sleeper;
  {
    std::lock_guard lock(ListsLock);
    Pacing = TDispatchPacing(static_cast<std::uint32_t>(2 * Config->PollInterval.count()));
  }
  Guarded([this] { RunPhases(); });
  // A failure that skipped the regular closing still closes the file through its closing steps.
  if (ResultFile.IsOpen()) Guarded([this] { CloseRun(); });
  try {
    SendRunState(false);
  } catch (...) {
    // Saving the log reports its own failures; nothing is left to report this one to.
  }
  // The last report is made: what the run abandoned is no longer waited for, only ended.
  EndAbandonedWorkers();
  UrlQueue.clear();
  FoundIds.clear();
}

void TScraper::RunPhases() {
  SendRunState(true);

  UrlQueue.Assign(ListUrl(Config->ApiHost));
  FoundIds.clear();
  if (RunPhase(Phase::List) == PhaseEnd::Stopped) return;
  SendProgress(0);
  if (Config->Continuation) {
    UrlQueue.Assign(std::exchange(ContinuedUrls, {}));
  } else {
    UrlQueue.Assign(std::move(FoundIds), Config->ApiHost);
  }
  summary_.RecordsFound = UrlQueue.size();
  FoundIds.clear();
  if (UrlQueue.empty()) return;
  if (RunPhase(Phase::Records) != PhaseEnd::Stopped) SendResult("ok");
  {
    std::lock_guard lock(ListsLock);
    summary_.Refusals = Pacing.Refusals();
  }
  CloseRun();
}

void TScraper::Guarded(const std::function<void()>& step) {
  try {
    try {
      step();
    } catch (const std::exception& failure) {
      ReportFailure(failure.what());
    } catch (...) {
      ReportFailure("unknown failure");
    }
  } catch (...) {
    // The report failed as well (no memory, say): the run still goes on to save its log.
  }
}

void TScraper::NoteFailure(const std::string& message) {
  if (!summary_.ErrorReported) summary_.Failure = message;
  summary_.ErrorReported = true;
}

void TScraper::ReportFailure(const std::string& message) {
  NoteFailure(message);
  result = "ERROR_" + message;
  Synchronize([this] { ReportError(); });
}

TScraper::PhaseEnd TScraper::RunPhase(Phase phase) {
  std::string message;
  try {
    if (phase == Phase::List && Config->Continuation) return TakeContinuedRecords();
    if (phase == Phase::Records && Config->Continuation) {
      ReopenResultFile();
      summary_.ResultPath = ResultFile.Path();
    } else if (phase == Phase::Records) {
      ResultFile.OpenResultFile(Config->OutputDir, Config->Ticks->Now(),
                                [this](const std::string& message) { Log(message); });
      summary_.ResultPath = ResultFile.Path();
      Journal.Begin(Config->Ticks, ResultFile.Path(), ResultFile.Size(), ListUrl(Config->ApiHost),
                    UrlQueue);
    }
    ProgressBarPosition = 0;
    ProgressBarMax = ClampedCount(UrlQueue.size());
    {
      std::lock_guard lock(ListsLock);
      TPhaseLists& lists = PhaseLists.emplace_back();
      RunningList = &lists.Running;
      FinishedList = &lists.Finished;
    }
    return DispatchLoop(phase);
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
  }
  AbandonWorkers();
  NoteFailure(message);
  SendResult("ERROR_" + message);
  return PhaseEnd::Failed;
}

// The pacing comes from the two waits of RunConfig::PollInterval (100 ms), taken with the run's
// sleeper: one after each worker start and one at the end of every cycle. So starts are at least
// two intervals apart, and at most one finished worker is consumed per cycle. While the directory
// limits the pace, the starts wait for their turns instead (see CycleWait).
TScraper::PhaseEnd TScraper::DispatchLoop(Phase phase) {
  bool early = false;
  while (!Terminated()) {
    if (DispatchStep() == StepEnd::Stop || ConsumeStep(phase) == StepEnd::Stop) {
      early = true;
      break;
    }
    const bool done = PhaseDone();
    CycleWait();
    if (done) return PhaseEnd::Done;
  }
  // The one way out for a stop. Left at the loop test, the running workers are asked to end; left
  // early, they are not. Either way the phase no longer waits for them.
  if (!early) {
    std::lock_guard lock(ListsLock);
    for (const auto& worker : *RunningList) worker->Terminate();
  }
  summary_.Stopped = true;
  AbandonWorkers();
  return PhaseEnd::Stopped;
}

TScraper::StepEnd TScraper::DispatchStep() {
  std::size_t running;
  {
    std::lock_guard lock(ListsLock);
    running = RunningList->size();
    pace_limited_ = Pacing.Limiting();
  }
  if (static_cast<std::int64_t>(running) >= Limit || UrlQueue.empty()) return StepEnd::Continue;
  const StartTurn turn = PaceAllowsStart();
  if (!turn.Allowed) return StepEnd::Continue;
  std::string entry = UrlQueue.PopFront();
  SendProgress(ProgressBarPosition + 1);
  // An empty entry is used up and counted; no worker is made for it.
  if (TrimValue(entry).empty()) return StepEnd::Continue;
  if (Terminated()) return StepEnd::Stop;
  StartWorker(std::move(entry), turn.GrantedAt);
  CycleWait();
  return StepEnd::Continue;
}

// While the directory limits the pace, the loop looks in more often than its own rhythm, so that
// a turn given back by a refused request is taken at once; the turns themselves still space the
// starts. Otherwise each wait is the whole PollInterval.
void TScraper::CycleWait() {
  bool limiting = false;
  {
    std::lock_guard lock(ListsLock);
    limiting = Pacing.Limiting();
  }
  Sleep(limiting ? std::min(Config->PollInterval, kLimitedCycle) : Config->PollInterval);
}

// Only while the directory limits the pace does a start wait for its turn; otherwise the two
// waits of the cycle alone space the starts. A turn due within the cycle is waited for here, so
// the pace is not rounded up to whole cycles.
TScraper::StartTurn TScraper::PaceAllowsStart() {
  std::uint32_t wait = 0;
  {
    std::lock_guard lock(ListsLock);
    if (!Pacing.Limiting()) return {};
    wait = Pacing.StartWaitMs(Config->Ticks->Now());
  }
  if (std::chrono::milliseconds(wait) > Config->PollInterval) return {false, std::nullopt};
  if (wait > 0) Sleep(std::chrono::milliseconds(wait));
  std::lock_guard lock(ListsLock);
  const std::uint32_t now = Config->Ticks->Now();
  if (!Pacing.TryStart(now)) return {false, std::nullopt};
  return {true, now};
}

void TScraper::StartWorker(std::string url, std::optional<std::uint32_t> granted_at) {
  auto worker = std::make_shared<TScrapingThread>();
  worker->ListsLock = &ListsLock;
  worker->RunningList = RunningList;
  worker->FinishedList = FinishedList;
  worker->url = std::move(url);
  worker->LogsMemo = LogsMemo;
  worker->Config = Config;
  worker->Pacing = &Pacing;
  worker->TurnGrantedAt = granted_at;
  worker->UiQueue = UiQueue;
  {
    std::lock_guard lock(ListsLock);
    RunningList->push_back(worker);
  }
  worker->Resume();
}

TScraper::StepEnd TScraper::ConsumeStep(Phase phase) {
  std::shared_ptr<TScrapingThread> finished;
  {
    std::lock_guard lock(ListsLock);
    if (FinishedList->empty()) return StepEnd::Continue;
    finished = FinishedList->front();
  }
  if (Terminated()) return StepEnd::Stop;
  Consume(phase, *finished);
  finished->Terminate();
  {
    std::lock_guard lock(ListsLock);
    FinishedList->pop_front();
  }
  finished->WaitFor();
  return StepEnd::Continue;
}

bool TScraper::PhaseDone() {
  std::lock_guard lock(ListsLock);
  return RunningList->empty() && FinishedList->empty() && UrlQueue.empty();
}

void TScraper::Consume(Phase phase, TScrapingThread& worker) {
  // The body goes as soon as it is decoded, before the identifiers or the record tree are built.
  std::string text = DecodeBody(std::exchange(worker.html, std::string()));
  if (worker.result != 1) {
    if (phase == Phase::List && worker.result == -1) {
      summary_.ListFailure =
          worker.statusText.substr(worker.statusText.starts_with("ERROR_") ? 6 : 0);
    }
    if (phase == Phase::Records && worker.result == -1) summary_.LostUrls.push_back(worker.url);
    if (phase == Phase::Records) Journal.Failed(worker.url);
    return;
  }
  if (phase == Phase::List) {
    ScanRecordUrls(std::move(text), FoundIds, [this](const std::string& message) { Log(message); });
  } else {
    try {
      WriteRecordRow(text, ResultFile, LastDirector);
    } catch (const NoRecordError& failure) {
      DropRecordWithoutDocument(worker.url, failure.what());
      return;
    }
    ++summary_.RowsWritten;
    Journal.RowWritten(worker.url, ResultFile.Size());
  }
}

// One record that holds no organisation does not end the collection: after its error and the
// automatic pause, the phase goes on with the records still queued, and the record counts as lost.
// A continued run that meets it again leaves it out without a pause.
void TScraper::DropRecordWithoutDocument(const std::string& url, const std::string& message) {
  summary_.LostUrls.push_back(url);
  if (Journal.NoRecord(url)) {
    Log("Пропускаем " + url + ": в ответе снова нет записи организации");
    return;
  }
  SendResult("ERROR_" + message);
}

void TScraper::AbandonWorkers() {
  std::lock_guard lock(ListsLock);
  for (const auto* list : {RunningList, FinishedList}) {
    if (list) Abandoned.insert(Abandoned.end(), list->begin(), list->end());
  }
}

void TScraper::EndAbandonedWorkers() {
  for (const auto& worker : Abandoned) worker->Cancel();
  for (const auto& worker : Abandoned) worker->WaitFor();
  Abandoned.clear();
  std::lock_guard lock(ListsLock);
  RunningList = nullptr;
  FinishedList = nullptr;
  PhaseLists.clear();
}

// A continued run takes its records from the journal instead of a list request.
TScraper::PhaseEnd TScraper::TakeContinuedRecords() {
  const ContinuationPlan& plan = *Config->Continuation;
  Log("Продолжаем прерванную работу, файл с результатами " + plan.CsvPath);
  Log("Осталось собрать " + std::to_string(plan.Remaining.size()) + " организаций из " +
      std::to_string(plan.FoundCount));
  ContinuedUrls.assign(plan.Remaining.begin(), plan.Remaining.end());
  return PhaseEnd::Done;
}

void TScraper::ReopenResultFile() {
  const ContinuationPlan& plan = *Config->Continuation;
  Journal.Resume(Config->Ticks, plan);
  ResultFile.Attach(OpenForAppend(plan.CsvPath), plan.CsvKeep);
}

void TScraper::CloseRun() {
  bool kept = true;
  try {
    ResultFile.CloseResultFile();
  } catch (const std::exception& failure) {
    // The file is gone (or its last bytes are): there is nothing to open.
    kept = false;
    ReportFailure(failure.what());
  }
  try {
    Journal.Close();
  } catch (const std::exception& failure) {
    ReportFailure(failure.what());
  }
  if (kept && !LastDirector.empty()) {
    Log("Открываем файл с результатами");
    if (Config->OpenFile) {
      try {
        Config->OpenFile(ResultFile.Path());
      } catch (...) {
        // The open request is made once and its outcome does not matter to the run.
      }
    }
  }
  if (kept && summary_.RowsWritten > 0) ReportChanges();
  SendProgress(0);
}

// Both files are closed: the comparison reads them as any later reader would.
void TScraper::ReportChanges() {
  const auto outcome = CompareWithEarlierRun(ResultFile.Path());
  summary_.ChangesLine = outcome.Line;
  summary_.ChangesPath = outcome.ReportPath;
  Log(outcome.Line);
}

void TScraper::AppendLog() {
  if (LogsMemo) LogsMemo->AppendLine(LogLine(LogMessageText));
}

void TScraper::UpdateRunState() {
  if (CursorHourGlass) {
    LogsMemo->Clear();
    LogsMemo->AppendLine(LogLine("Начинаем работу"));
    StartButton->SetEnabled(false);
    return;
  }
  SaveLogFile();
  StartButton->SetEnabled(true);
}

void TScraper::SaveLogFile() {
  const std::uint32_t ticks = Config->Ticks->Now();
  try {
    OutputFile file;
    try {
      file =
          CreateNumberedFile(Config->OutputDir, "log-", static_cast<std::int32_t>(ticks), ".txt");
    } catch (...) {
      // The line names the file even when it cannot be made, as the log shows what was tried.
      LogsMemo->AppendLine(LogLine("Работа завершена, лог записан в " + Config->OutputDir + "log-" +
                                   TickText(ticks) + ".txt"));
      throw;
    }
    summary_.LogPath = file.Path();
    LogsMemo->AppendLine(LogLine("Работа завершена, лог записан в " + file.Path()));
    const std::string text = Utf8ToSystemCodePage(LogsMemo->Text());
    file.WriteAll(text.data(), text.size());
    summary_.LogFileSaved = true;
  } catch (const std::exception& failure) {
    if (OnLogFileFailure) OnLogFileFailure(failure.what());
  }
}

void TScraper::UpdateProgress() {
  ProgressBar->SetMax(ProgressBarMax);
  ProgressBar->SetPosition(ProgressBarPosition);
  ProgressBar->SetHint(ProgressHintText(ProgressBar->Position(), ProgressBar->Max()));
  ProgressBar->SetShowHint(true);
  if (ProcessPendingEvents) ProcessPendingEvents();
}

void TScraper::ReportResult() {
  if (result.find("ERROR") != std::string::npos) {
    ReportError();
    LogsMemo->AppendLine(LogLine("Включаем паузу на 30 секунд"));
    ArmResumeTimer();
    // The controller is blocked in this very call; the closed gate holds it here until resumed.
    Suspend();
    return;
  }
  LogsMemo->AppendLine(LogLine("Сбор данных завершен"));
  summary_.Completed = true;
}

void TScraper::ReportError() {
  LogsMemo->AppendLine(LogLine("Ошибка: " + ErrorMessageOf(result)));
}

void TScraper::ArmResumeTimer() {
  ResumeTimer->SetInterval(Config->ResumeDelayMs);
  ResumeTimer->SetEnabled(true);
}

}  // namespace orgkat

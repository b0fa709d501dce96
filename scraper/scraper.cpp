#include "scraper/scraper.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include "platform/code_page.h"
#include "platform/file_creation.h"
#include "platform/progress_model.h"
#include "platform/timestamp.h"
#include "scraper/directory_endpoints.h"
#include "scraper/record_row.h"
#include "scraper/scraping_thread.h"

namespace orgkat {
namespace {

constexpr std::size_t kErrorTextLimit = 200;  // characters of a failure message in its log line

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

TScraper::TScraper() {
  FreeOnTerminate = true;
}

void TScraper::Log(const std::string& message) {
  LogMessageText = message;
  Synchronize([this] { AppendLog(); });
}

void TScraper::Execute() {
  Guarded([this] { RunPhases(); });
  // A failure that skipped the regular closing still closes the file through its closing steps.
  if (ResultFile.IsOpen()) Guarded([this] { CloseRun(); });
  CursorHourGlass = false;
  try {
    Synchronize([this] { UpdateRunState(); });
  } catch (...) {
    // Saving the log reports its own failures; nothing is left to report this one to.
  }
  UrlQueue.clear();
  FoundIds.clear();
}

void TScraper::RunPhases() {
  ListsLock = std::make_shared<std::mutex>();
  CursorHourGlass = true;
  Synchronize([this] { UpdateRunState(); });

  UrlQueue.Assign(ListUrl(Config->ApiHost));
  FoundIds.clear();
  if (RunPhase(Phase::List) == PhaseEnd::Stopped) return;
  ProgressBarPosition = 0;
  Synchronize([this] { UpdateProgress(); });
  if (Config->Continuation) {
    UrlQueue.Assign(std::exchange(ContinuedUrls, {}));
  } else {
    UrlQueue.Assign(std::move(FoundIds), Config->ApiHost);
  }
  Summary_.RecordsFound = UrlQueue.size();
  FoundIds.clear();
  if (UrlQueue.empty()) return;
  if (RunPhase(Phase::Records) != PhaseEnd::Stopped) {
    result = "ok";
    Synchronize([this] { ReportResult(); });
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

void TScraper::ReportFailure(const std::string& message) {
  result = "ERROR_" + message;
  Synchronize([this] { ReportError(); });
}

TScraper::PhaseEnd TScraper::RunPhase(Phase phase) {
  try {
    if (phase == Phase::List && Config->Continuation) return TakeContinuedRecords();
    if (phase == Phase::Records && Config->Continuation) {
      ReopenResultFile();
      Summary_.ResultPath = ResultFile.Path();
    } else if (phase == Phase::Records) {
      ResultFile.OpenResultFile(Config->OutputDir, Config->Ticks->Now(),
                                [this](const std::string& message) { Log(message); });
      Summary_.ResultPath = ResultFile.Path();
      Journal.Begin(Config->Ticks, ResultFile.Path(), ResultFile.Size(), ListUrl(Config->ApiHost),
                    UrlQueue);
    }
    ProgressBarPosition = 0;
    ProgressBarMax = ClampedCount(UrlQueue.size());
    RunningList = std::make_shared<TWorkerList>();
    FinishedList = std::make_shared<TWorkerList>();
    Done = false;
    return DispatchLoop(phase);
  } catch (const std::exception& failure) {
    result = std::string("ERROR_") + failure.what();
  } catch (...) {
    result = "ERROR_";
  }
  // Workers still running are abandoned: they keep the lock and the lists alive themselves.
  Synchronize([this] { ReportResult(); });
  return PhaseEnd::Failed;
}

TScraper::PhaseEnd TScraper::DispatchLoop(Phase phase) {
  while (!Terminated() && !Done) {
    std::size_t running;
    {
      std::lock_guard lock(*ListsLock);
      running = RunningList->size();
    }
    if (static_cast<std::int64_t>(running) < Limit && !UrlQueue.empty()) {
      std::string entry = UrlQueue.PopFront();
      ++ProgressBarPosition;
      Synchronize([this] { UpdateProgress(); });
      if (!TrimValue(entry).empty()) {
        if (Terminated()) return PhaseEnd::Stopped;
        auto worker = std::make_shared<TScrapingThread>();
        worker->ListsLock = ListsLock;
        worker->RunningList = RunningList;
        worker->FinishedList = FinishedList;
        worker->url = std::move(entry);
        worker->LogsMemo = LogsMemo;
        worker->Config = Config;
        worker->UiQueue = UiQueue;
        {
          std::lock_guard lock(*ListsLock);
          RunningList->push_back(worker);
        }
        worker->Resume();
        Sleep(Config->PollInterval);
      }
    }

    std::shared_ptr<TScrapingThread> finished;
    {
      std::lock_guard lock(*ListsLock);
      if (!FinishedList->empty()) finished = FinishedList->front();
    }
    if (finished) {
      if (Terminated()) return PhaseEnd::Stopped;
      Consume(phase, *finished);
      finished->Terminate();
      {
        std::lock_guard lock(*ListsLock);
        FinishedList->pop_front();
      }
      finished->WaitFor();
    }

    {
      std::lock_guard lock(*ListsLock);
      if (RunningList->empty() && FinishedList->empty() && UrlQueue.empty()) Done = true;
    }
    Sleep(Config->PollInterval);
  }
  if (Done) return PhaseEnd::Done;

  std::lock_guard lock(*ListsLock);
  for (const auto& worker : *RunningList) worker->Terminate();
  return PhaseEnd::Stopped;
}

void TScraper::Consume(Phase phase, TScrapingThread& worker) {
  // The body goes as soon as it is decoded, before the identifiers or the record tree are built.
  std::string text = DecodeBody(std::exchange(worker.html, std::string()));
  if (worker.result != 1) {
    if (phase == Phase::Records && worker.result == -1) Summary_.LostUrls.push_back(worker.url);
    if (phase == Phase::Records) Journal.Failed(worker.url);
    return;
  }
  if (phase == Phase::List) {
    ScanRecordUrls(std::move(text), FoundIds, [this](const std::string& message) { Log(message); });
  } else {
    try {
      WriteRecordRow(text, ResultFile, LastDirector);
    } catch (const NoRecordError&) {
      if (!Journal.NoRecord(worker.url)) throw;
      Log("Пропускаем " + worker.url + ": в ответе снова нет записи организации");
      Summary_.LostUrls.push_back(worker.url);
      return;
    }
    ++Summary_.RowsWritten;
    Journal.RowWritten(worker.url, ResultFile.Size());
  }
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
  ProgressBarPosition = 0;
  Synchronize([this] { UpdateProgress(); });
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
    Summary_.LogPath = file.Path();
    LogsMemo->AppendLine(LogLine("Работа завершена, лог записан в " + file.Path()));
    const std::string text = Utf8ToSystemCodePage(LogsMemo->Text());
    file.WriteAll(text.data(), text.size());
    Summary_.LogFileSaved = true;
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
  Summary_.Completed = true;
}

void TScraper::ReportError() {
  Summary_.ErrorReported = true;
  LogsMemo->AppendLine(LogLine("Ошибка: " + ErrorMessageOf(result)));
}

void TScraper::ArmResumeTimer() {
  ResumeTimer->SetInterval(Config->ResumeDelayMs);
  ResumeTimer->SetEnabled(true);
}

}  // namespace orgkat

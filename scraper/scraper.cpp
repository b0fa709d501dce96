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
  ListsLock = std::make_shared<std::mutex>();
  CursorHourGlass = true;
  Synchronize([this] { UpdateRunState(); });

  UrlQueue.assign({ListUrl(Config->ApiHost)});
  FoundUrls.clear();
  if (RunPhase(Phase::List) != PhaseEnd::Stopped) {
    ProgressBarPosition = 0;
    Synchronize([this] { UpdateProgress(); });
    UrlQueue.assign(FoundUrls.begin(), FoundUrls.end());
    FoundUrls.clear();
    if (!UrlQueue.empty()) {
      if (RunPhase(Phase::Records) != PhaseEnd::Stopped) {
        result = "ok";
        Synchronize([this] { ReportResult(); });
      }
      CloseRun();
    }
  }

  CursorHourGlass = false;
  Synchronize([this] { UpdateRunState(); });
  UrlQueue.clear();
  FoundUrls.clear();
}

TScraper::PhaseEnd TScraper::RunPhase(Phase phase) {
  try {
    if (phase == Phase::Records) {
      ResultFile.OpenResultFile(Config->OutputDir, Config->Ticks->Now(),
                                [this](const std::string& message) { Log(message); });
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
      std::string entry = std::move(UrlQueue.front());
      UrlQueue.pop_front();
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
  const std::string body = std::exchange(worker.html, std::string());
  const std::string text = DecodeBody(body);
  if (worker.result != 1) return;
  if (phase == Phase::List) {
    ScanRecordUrls(text, Config->ApiHost, FoundUrls,
                   [this](const std::string& message) { Log(message); });
  } else {
    WriteRecordRow(text, ResultFile, LastDirector);
  }
}

void TScraper::CloseRun() {
  // A failure here skips the rest of the closing steps; it is not reported.
  try {
    ResultFile.CloseResultFile();
    if (!LastDirector.empty()) {
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
  } catch (...) {
  }
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
    LogsMemo->AppendLine(LogLine("Ошибка: " + ErrorMessageOf(result)));
    LogsMemo->AppendLine(LogLine("Включаем паузу на 30 секунд"));
    Summary_.ErrorReported = true;
    ArmResumeTimer();
    // The controller is blocked in this very call; the closed gate holds it here until resumed.
    Suspend();
    return;
  }
  LogsMemo->AppendLine(LogLine("Сбор данных завершен"));
  Summary_.Completed = true;
}

void TScraper::ArmResumeTimer() {
  ResumeTimer->SetInterval(Config->ResumeDelayMs);
  ResumeTimer->SetEnabled(true);
}

}  // namespace orgkat

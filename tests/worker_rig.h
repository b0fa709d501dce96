#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scraper/run_config.h"
#include "scraper/scraping_thread.h"
#include "tests/fakes/fake_controls.h"
#include "tests/fakes/fake_directory_client.h"
#include "tests/fakes/manual_clock.h"
#include "tests/fakes/test_ui_thread.h"
#include "tests/wait_until.h"

namespace orgkat::test {

// One worker with its lists, a UI thread, a manual clock and either the scripted directory's
// client or a client of the test's choice.
struct WorkerRig {
  TestUiThread ui;
  std::shared_ptr<ManualClock> ticks = std::make_shared<ManualClock>();
  std::shared_ptr<FakeDirectory> directory = std::make_shared<FakeDirectory>(ticks);
  std::shared_ptr<FakeLogView> log = std::make_shared<FakeLogView>();
  // The controller's part, which outlives the worker.
  std::mutex lock;
  TWorkerList running;
  TWorkerList finished;
  std::shared_ptr<RunConfig> config = std::make_shared<RunConfig>();
  std::shared_ptr<TScrapingThread> worker = std::make_shared<TScrapingThread>();
  std::string url = "https://api.test/api/eduoffices/17.json";
  bool listed_as_running = true;  // the controller's part: put the worker in RunningList

  WorkerRig() {
    config->Ticks = ticks;
    config->SiteHost = "site.test";
    config->MakeClient = directory->Factory();
    worker->UiQueue = ui.Queue();
  }

  ~WorkerRig() {
    // Lets a worker that a failed test left in a pause run out instead of outliving the test.
    worker->Terminate();
    ticks->SetStep(1000000);
    WaitUntil([&] { return worker->Finished(); });
  }

  void Start() {
    worker->ListsLock = &lock;
    worker->RunningList = &running;
    worker->FinishedList = &finished;
    worker->url = url;
    worker->LogsMemo = log;
    worker->Config = config;
    if (listed_as_running) {
      std::lock_guard guard(lock);
      running.push_back(worker);
    }
    worker->Resume();
  }

  bool HandedOver() {
    std::lock_guard guard(lock);
    return std::find(finished.begin(), finished.end(), worker) != finished.end();
  }
  bool InRunningList() {
    std::lock_guard guard(lock);
    return std::find(running.begin(), running.end(), worker) != running.end();
  }
  // Ends when the worker has handed over; the lock orders the reads of its outcome after that.
  bool WaitHandedOver() {
    return WaitUntil([&] { return HandedOver(); });
  }
  bool WaitEnded() {
    if (!WaitUntil([&] { return worker->Finished(); })) return false;
    worker->WaitFor();
    return true;
  }

  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    ui.Run([&] { lines = log->lines; });
    return lines;
  }
};

// True when line is a log line (timestamp, ": ") carrying message.
inline bool IsLogLineOf(const std::string& line, const std::string& message) {
  const std::string tail = ": " + message;
  return line.size() > tail.size() && line.ends_with(tail);
}

}  // namespace orgkat::test

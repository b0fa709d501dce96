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
#include "platform/http_client.h"
#include "platform/tick_count.h"
#include "platform/ui_queue.h"
#include "scraper/run_config.h"
#include "scraper/scraping_thread.h"
#include "tests/fakes/fake_controls.h"
#include "tests/wait_until.h"

namespace orgkat::test {

// A tick counter the test sets by hand; with a step, every reading moves it on by that much, so
// pauses pass without real waiting and their length shows in the readings.
class ManualTicks final : public ITickCounter {
 public:
  std::uint32_t Now() override { return now_.fetch_add(step_.load()); }
  std::uint32_t Peek() const { return now_.load(); }
  void Set(std::uint32_t value) { now_.store(value); }
  void SetStep(std::uint32_t step) { step_.store(step); }

 private:
  std::atomic<std::uint32_t> now_{0};
  std::atomic<std::uint32_t> step_{0};
};

// One scripted request: it completes with `body`, or fails with `failure` as its message.
struct ScriptedRequest {
  std::optional<std::string> failure;
  int status = 200;
  std::string reason = "OK";
  std::string body;
  std::function<void()> during;  // runs while the request is in progress
  std::string retry_after;       // the response's Retry-After value
};

inline ScriptedRequest Fails(std::string message, int status = 404, std::string reason = "",
                             std::string retry_after = "") {
  return {std::move(message), status, std::move(reason), {}, {}, std::move(retry_after)};
}
inline ScriptedRequest Completes(std::string body, int status = 200) {
  return {std::nullopt, status, "OK", std::move(body), {}, {}};
}

// What the fake clients are told to do and what they saw; shared by the test and the worker.
struct RequestScript {
  std::mutex mutex;
  std::deque<ScriptedRequest> requests;
  std::vector<std::string> urls;
  std::vector<std::uint32_t> ticks_at_request;
  std::vector<std::vector<std::string>> header_blocks;
  std::optional<HttpClientSettings> settings;
  int clients = 0;
  std::atomic<int> serve_calls{0};
  std::atomic<int> cancels{0};
  std::shared_ptr<ManualTicks> ticks;

  std::vector<std::uint32_t> TicksAtRequests() {
    std::lock_guard lock(mutex);
    return ticks_at_request;
  }
  std::size_t Requests() {
    std::lock_guard lock(mutex);
    return urls.size();
  }
};

class FakeHttpClient final : public IHttpClient {
 public:
  FakeHttpClient(std::shared_ptr<RequestScript> script, const HttpClientSettings& settings)
      : script_(std::move(script)), settings_(settings) {}

  void Get(const std::string& url, std::string& body) override {
    if (cancelled_) throw HttpError("Request cancelled");
    ScriptedRequest request;
    std::vector<std::string> headers{"Host: scripted"};
    if (settings_.OnBeforeHeaderSend) settings_.OnBeforeHeaderSend("GET", headers);
    {
      std::lock_guard lock(script_->mutex);
      script_->urls.push_back(url);
      script_->ticks_at_request.push_back(script_->ticks->Peek());
      script_->header_blocks.push_back(headers);
      if (script_->requests.empty()) {
        request = Fails("no more scripted requests", 0);
      } else {
        request = std::move(script_->requests.front());
        script_->requests.pop_front();
      }
    }
    if (request.during) request.during();
    status_ = request.status;
    retry_after_ = request.retry_after;
    reason_ = request.failure && request.reason.empty() ? reason_ : request.reason;
    if (request.failure) throw HttpError(*request.failure);
    body = request.body;
  }
  int StatusCode() const override { return status_; }
  const std::string& ReasonPhrase() const override { return reason_; }
  const std::string& RetryAfter() const override { return retry_after_; }
  void ServeEvents(std::chrono::milliseconds) override { ++script_->serve_calls; }
  void Cancel() override {
    cancelled_ = true;
    ++script_->cancels;
  }

 private:
  std::atomic<bool> cancelled_{false};
  std::shared_ptr<RequestScript> script_;
  HttpClientSettings settings_;
  int status_ = 0;
  std::string reason_;
  std::string retry_after_;
};

// One worker with its lists, a UI thread, a manual counter and either the scripted client or
// a client of the test's choice.
struct WorkerRig {
  TestUiThread ui;
  std::shared_ptr<ManualTicks> ticks = std::make_shared<ManualTicks>();
  std::shared_ptr<RequestScript> script = std::make_shared<RequestScript>();
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
    script->ticks = ticks;
    config->Ticks = ticks;
    config->SiteHost = "site.test";
    config->MakeClient = [script = script](const HttpClientSettings& settings) {
      {
        std::lock_guard lock(script->mutex);
        script->settings = settings;
        ++script->clients;
      }
      return std::make_unique<FakeHttpClient>(script, settings);
    };
    worker->UiQueue = ui.Queue();
  }

  ~WorkerRig() {
    // Lets a worker that a failed test left in a pause run out instead of outliving the test.
    worker->Terminate();
    ticks->SetStep(1000000);
    WaitUntil([&] { return worker->Finished(); });
  }

  void Script(std::vector<ScriptedRequest> requests) {
    std::lock_guard guard(script->mutex);
    for (auto& request : requests) script->requests.push_back(std::move(request));
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

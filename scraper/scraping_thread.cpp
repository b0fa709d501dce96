#include "scraper/scraping_thread.h"

#include <algorithm>
#include <chrono>

#include "platform/timestamp.h"
#include "scraper/proxy_file.h"
#include "scraper/request_profile.h"

namespace orgkat {

namespace {

constexpr int kMaxAttempts = 5;
// One pass of a pause: serve the connection, then read the counter again.
constexpr std::chrono::milliseconds kServePass{20};
constexpr std::chrono::milliseconds kPassGap{5};
// The lowest status code of an HTTP answer; below it the client got none.
constexpr int kFirstStatus = 100;

std::string FailureText(const std::string& message, int status_code) {
  return "ERROR_" + (message.empty() ? std::to_string(status_code) : message);
}

std::chrono::milliseconds ConfiguredPause(const RunConfig& config) {
  return std::chrono::milliseconds(config.RetryPauseMs);
}

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return {};
  }
}

}  // namespace

// The move from RunningList to FinishedList. Made before anything that can fail, it runs on every
// way out of Execute; only the two ways out that end without a hand-off withdraw it, by name.
class TScrapingThread::HandOver {
 public:
  explicit HandOver(TScrapingThread& worker)
      : worker_(worker),
        lock_(worker.ListsLock),
        running_(worker.RunningList),
        finished_(worker.FinishedList) {}
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;

  ~HandOver() {
    if (withdrawn_) return;
    // Leaving RunningList may drop the controller's reference; this one bridges the gap until
    // FinishedList holds the worker.
    const auto self = std::static_pointer_cast<TScrapingThread>(worker_.shared_from_this());
    std::unique_lock<std::mutex> hold;
    if (lock_) hold = std::unique_lock(*lock_);
    if (running_) {
      const auto entry =
          std::find_if(running_->begin(), running_->end(),
                       [this](const auto& worker) { return worker.get() == &worker_; });
      if (entry != running_->end()) running_->erase(entry);
    }
    if (finished_) finished_->push_back(self);
  }

  void Withdraw() { withdrawn_ = true; }

 private:
  TScrapingThread& worker_;
  std::mutex* lock_;
  TWorkerList* running_;
  TWorkerList* finished_;
  bool withdrawn_ = false;
};

// Makes the client of Execute reachable by Cancel for as long as it lives.
class TScrapingThread::ClientRegistration {
 public:
  ClientRegistration(TScrapingThread& worker, IHttpClient& client) : worker_(worker) {
    std::lock_guard lock(worker_.client_mutex_);
    worker_.client_ = &client;
    if (worker_.cancelled_) client.Cancel();
  }
  ClientRegistration(const ClientRegistration&) = delete;
  ClientRegistration& operator=(const ClientRegistration&) = delete;
  ~ClientRegistration() {
    std::lock_guard lock(worker_.client_mutex_);
    worker_.client_ = nullptr;
  }

 private:
  TScrapingThread& worker_;
};

TScrapingThread::TScrapingThread() = default;

TScrapingThread::~TScrapingThread() {
  Terminate();
  WaitFor();
}

void TScrapingThread::BeforeHeaderSend(const std::string& /*method*/,
                                       std::vector<std::string>& headers) {
  headers.insert(headers.end(), CustomHeaders.begin(), CustomHeaders.end());
}

void TScrapingThread::AppendLog() {
  if (LogsMemo) LogsMemo->AppendLine(LogLine(LogMessageText));
}

void TScrapingThread::Cancel() {
  cancelled_ = true;
  Terminate();
  std::lock_guard lock(client_mutex_);
  if (client_) client_->Cancel();
}

void TScrapingThread::Log(const std::string& message) {
  LogMessageText = message;
  Synchronize([this] { AppendLog(); });
}

void TScrapingThread::Execute() {
  const auto config = Config ? Config : std::make_shared<const RunConfig>();
  // Declared in this order so that the hand-over comes before the client is released.
  std::unique_ptr<IHttpClient> client;
  HandOver hand_over(*this);
  try {
    client = MakeClient(*config);
  } catch (...) {
    ReportSetUpFailure(std::current_exception());
    return;
  }
  const ClientRegistration registration(*this, *client);

  result = 0;
  html.clear();
  if (Terminated()) return hand_over.Withdraw();

  try {
    AttemptEnd end = AttemptEnd::Failed;
    for (int attempt = 1; attempt <= kMaxAttempts && end == AttemptEnd::Failed; ++attempt) {
      end = Attempt(*client, *config, attempt == kMaxAttempts);
    }
    if (end == AttemptEnd::Ended) return hand_over.Withdraw();
    if (end == AttemptEnd::Failed) {
      result = -1;
      Pause(*client, *config, PauseKind::Final, ConfiguredPause(*config));
    } else {
      result = 1;
      statusText = "успешно";
    }
  } catch (...) {
    // A failure outside the request itself: no log line, the pause, then the hand-over.
    result = -1;
    statusText = FailureText(MessageOf(std::current_exception()), client->StatusCode());
    try {
      Pause(*client, *config, PauseKind::Final, ConfiguredPause(*config));
    } catch (...) {
      // A client that fails even to serve its events must not keep the worker from its hand-off.
    }
  }
}

std::unique_ptr<IHttpClient> TScrapingThread::MakeClient(const RunConfig& config) {
  HttpClientSettings settings = RequestSettings(config);
  settings.OnBeforeHeaderSend = [this, &config](const std::string& method,
                                                std::vector<std::string>& headers) {
    BeforeHeaderSend(method, headers);
    WaitForHeaderTurn(config);
  };
  CustomHeaders.push_back(OriginHeader(config.SiteHost));
  const ProxySetting proxy_setting = ReadProxyFile(config.ProxyFile);
  if (proxy_setting.FirstLine) proxy = *proxy_setting.FirstLine;
  settings.Proxy = proxy_setting.Host;
  settings.ProxyPort = proxy_setting.Port;
  return config.MakeClient(settings);
}

void TScrapingThread::ReportSetUpFailure(const std::exception_ptr& failure) {
  // Without a client there is nothing to attempt; the worker still reports and hands over, so the
  // run does not wait for it forever.
  result = -1;
  statusText = FailureText(MessageOf(failure), 0);
  try {
    Log(statusText + " для " + url);
  } catch (...) {
    // The user interface is gone; the hand-off matters more than the line.
  }
}

TScrapingThread::AttemptEnd TScrapingThread::Attempt(IHttpClient& client, const RunConfig& config,
                                                     bool last) {
  std::string received;
  std::string message;
  try {
    client.Get(url, received);
    html = std::move(received);
    ReportToPacing([this](TDispatchPacing& pacing) { pacing.Accepted(sent_at_); });
    return Terminated() ? AttemptEnd::Ended : AttemptEnd::Completed;
  } catch (...) {
    message = MessageOf(std::current_exception());
  }
  // A request cut short by Cancel is no failure of the directory's.
  if (cancelled_) return AttemptEnd::Ended;
  result = -1;
  statusText = FailureText(message, client.StatusCode());
  Log(statusText + " для " + url);
  const RetryPlan plan =
      PlanRetry({message, client.StatusCode(), client.ReasonPhrase(), client.RetryAfter()},
                ConfiguredPause(config), config.WallClock());
  if (plan.Refused) {
    ReportToPacing([this, &plan, &config](TDispatchPacing& pacing) {
      std::optional<std::uint32_t> retry_after;
      if (plan.RetryAfter) retry_after = static_cast<std::uint32_t>(plan.RetryAfter->count());
      pacing.Refused(sent_at_, config.Ticks->Now(), retry_after);
    });
  } else if (client.StatusCode() >= kFirstStatus) {
    // Any other answer was let through by the directory's limit all the same.
    ReportToPacing([this](TDispatchPacing& pacing) { pacing.Accepted(sent_at_); });
  }
  if (plan.Pause.count() > 0) Pause(client, config, PauseKind::Retry, plan.Pause);
  // After the last attempt no request follows that would need a turn.
  if (!last) WaitForPace(client, config);
  return AttemptEnd::Failed;
}

void TScrapingThread::Pause(IHttpClient& client, const RunConfig& config, PauseKind kind,
                            std::chrono::milliseconds length) {
  // The final pause gives way to a termination request, the retry pause does not; neither
  // outlasts a cancel.
  const auto interrupted = [&] {
    return cancelled_.load() || (kind == PauseKind::Final && Terminated());
  };
  if (interrupted()) return;
  const std::uint32_t deadline = config.Ticks->Now() + static_cast<std::uint32_t>(length.count());
  for (;;) {
    client.ServeEvents(kServePass);
    // Past the deadline, counted modulo 2^32 so a counter that wraps during the pause still ends
    // it on time.
    if (static_cast<std::int32_t>(config.Ticks->Now() - deadline) > 0) return;
    if (interrupted()) return;
    config.Sleeper->Sleep(kPassGap);
  }
}

// While the directory limits the pace, a retry goes out only when the pace allows it, as a new
// worker's first request does; like the retry pause, only a cancel ends the wait.
void TScrapingThread::WaitForPace(IHttpClient& client, const RunConfig& config) {
  for (;;) {
    bool turn = true;
    ReportToPacing([&](TDispatchPacing& pacing) {
      if (!pacing.Limiting()) return;
      const std::uint32_t now = config.Ticks->Now();
      turn = pacing.TryStart(now);
      if (turn) TurnGrantedAt = now;
    });
    if (turn || cancelled_) return;
    client.ServeEvents(kServePass);
    config.Sleeper->Sleep(kPassGap);
  }
}

// While the directory limits the pace, the header waits until the spacing since the last one has
// passed; otherwise it goes at once. Either way the pacing learns when it went out.
void TScrapingThread::WaitForHeaderTurn(const RunConfig& config) {
  if (!Pacing) return;
  // The set-up ends when the header is ready, not when its turn comes.
  std::optional<std::uint32_t> setup;
  for (;;) {
    sent_at_ = config.Ticks->Now();
    if (TurnGrantedAt && !setup) setup = sent_at_ - *TurnGrantedAt;
    std::uint32_t wait = 0;
    ReportToPacing([&](TDispatchPacing& pacing) {
      wait = pacing.SendWaitMs(sent_at_);
      if (wait == 0) pacing.Sent(sent_at_, setup);
    });
    if (wait == 0 || cancelled_) break;
    config.Sleeper->Sleep(std::min(std::chrono::milliseconds(wait), kPassGap));
  }
  TurnGrantedAt.reset();
}

void TScrapingThread::ReportToPacing(const std::function<void(TDispatchPacing&)>& report) {
  if (!Pacing) return;
  std::unique_lock<std::mutex> hold;
  if (ListsLock) hold = std::unique_lock(*ListsLock);
  report(*Pacing);
}

}  // namespace orgkat

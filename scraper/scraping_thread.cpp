#include "scraper/scraping_thread.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <thread>

#include "platform/timestamp.h"
#include "scraper/proxy_file.h"
#include "scraper/request_profile.h"

namespace orgkat {

namespace {

constexpr int kMaxAttempts = 5;
// One pass of a pause: serve the connection, then read the counter again.
constexpr std::chrono::milliseconds kServePass{20};
constexpr std::chrono::milliseconds kPassGap{5};

std::string FailureText(const std::string& message, int status_code) {
  return "ERROR_" + (message.empty() ? std::to_string(status_code) : message);
}

// Failures worth a pause before the next attempt: a refused connection, a socket-layer error
// and the client's inactivity limit.
bool CallsForRetryPause(const std::string& message, const std::string& reason_phrase) {
  std::string lower = message;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("socket") != std::string::npos || message.find("#10061") != std::string::npos ||
         reason_phrase == "Request aborted on timeout";
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

TScrapingThread::TScrapingThread() {
  FreeOnTerminate = false;
}

TScrapingThread::~TScrapingThread() = default;

void TScrapingThread::BeforeHeaderSend(const std::string& /*method*/,
                                       std::vector<std::string>& headers) {
  headers.insert(headers.end(), CustomHeaders.begin(), CustomHeaders.end());
}

void TScrapingThread::AppendLog() {
  if (LogsMemo) LogsMemo->AppendLine(LogLine(LogMessageText));
}

void TScrapingThread::Execute() {
  // Local references keep the lock and the lists alive for as long as this body needs them, even
  // after the run has ended; the fields let go when the body ends, so a worker left in its list
  // forms no cycle with it.
  const auto lock = ListsLock;
  const auto running = RunningList;
  const auto finished = FinishedList;
  const auto config = Config ? Config : std::make_shared<const RunConfig>();
  struct ReleaseShared {
    TScrapingThread& self;
    ~ReleaseShared() {
      self.ListsLock.reset();
      self.RunningList.reset();
      self.FinishedList.reset();
    }
  } release{*this};

  const auto hand_over = [&] {
    std::unique_lock<std::mutex> hold;
    if (lock) hold = std::unique_lock(*lock);
    if (running) {
      const auto entry = std::find_if(running->begin(), running->end(),
                                      [this](const auto& worker) { return worker.get() == this; });
      if (entry != running->end()) running->erase(entry);
    }
    if (finished)
      finished->push_back(std::static_pointer_cast<TScrapingThread>(shared_from_this()));
  };

  std::unique_ptr<IHttpClient> client;
  try {
    HttpClientSettings settings = RequestSettings(*config);
    settings.OnBeforeHeaderSend = [this](const std::string& method,
                                         std::vector<std::string>& headers) {
      BeforeHeaderSend(method, headers);
    };
    CustomHeaders.push_back(OriginHeader(config->SiteHost));
    const ProxySetting proxy_setting = ReadProxyFile(config->ProxyFile);
    if (proxy_setting.FirstLine) proxy = *proxy_setting.FirstLine;
    settings.Proxy = proxy_setting.Host;
    settings.ProxyPort = proxy_setting.Port;
    client = config->MakeClient(settings);
  } catch (...) {
    // Without a client there is nothing to attempt; the worker still reports and hands over, so
    // the run does not wait for it forever.
    result = -1;
    statusText = FailureText(MessageOf(std::current_exception()), 0);
    LogMessageText = statusText + " для " + url;
    try {
      Synchronize([this] { AppendLog(); });
    } catch (...) {
      // The user interface is gone; the hand-off matters more than the line.
    }
    hand_over();
    return;
  }

  const auto pause = [&](bool ends_on_terminate) {
    if (ends_on_terminate && Terminated()) return;
    const std::uint32_t deadline = config->Ticks->Now() + config->RetryPauseMs;
    for (;;) {
      client->ServeEvents(kServePass);
      // Past the deadline, counted modulo 2^32 so a counter that wraps during the pause still
      // ends it on time.
      if (static_cast<std::int32_t>(config->Ticks->Now() - deadline) > 0) return;
      if (ends_on_terminate && Terminated()) return;
      std::this_thread::sleep_for(kPassGap);
    }
  };

  result = 0;
  html.clear();
  if (Terminated()) return;

  try {
    bool failed = false;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
      failed = false;
      std::string received;
      std::exception_ptr error;
      try {
        client->Get(url, received);
      } catch (...) {
        error = std::current_exception();
      }
      if (!error) {
        html = std::move(received);
        if (Terminated()) return;
        break;
      }
      const std::string message = MessageOf(error);
      result = -1;
      failed = true;
      statusText = FailureText(message, client->StatusCode());
      LogMessageText = statusText + " для " + url;
      Synchronize([this] { AppendLog(); });
      if (CallsForRetryPause(message, client->ReasonPhrase())) pause(false);
    }
    if (failed) {
      result = -1;
      pause(true);
    } else {
      result = 1;
      statusText = "успешно";
    }
  } catch (...) {
    result = -1;
    statusText = FailureText(MessageOf(std::current_exception()), client->StatusCode());
    try {
      pause(true);
    } catch (...) {
      // A client that fails even to serve its events must not keep the worker from its hand-off.
    }
  }
  hand_over();
}

}  // namespace orgkat

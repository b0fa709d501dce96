#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/http_client.h"
#include "platform/thread.h"
#include "platform/tick_count.h"
#include "scraper/run_journal.h"

namespace orgkat {

// Everything a run needs from its front end. The defaults are the system's own values; tests
// shorten the timings.
struct RunConfig {
  std::string ApiHost = "api.orgkat.example";  // HOST or HOST:PORT
  std::string SiteHost = "orgkat.example";
  std::string
      OutputDir;  // where data%d.csv and log-%d.txt go; absolute, ends in the path separator
  std::string ProxyFile;  // full path of proxy.txt
  std::string CertDir;    // where 01cert.pem and 01key.pem are; absolute, ends in '/'; empty: cwd
  std::chrono::milliseconds HttpTimeout{std::chrono::seconds(120)};
  std::chrono::milliseconds HttpRequestLimit{0};  // one attempt as a whole; 0: 10 × HttpTimeout
  std::chrono::milliseconds PollInterval{100};
  std::uint32_t RetryPauseMs = 3000;
  int ResumeDelayMs = 30000;
  std::shared_ptr<ITickCounter> Ticks = SystemTicks();
  // The date and time, for a Retry-After given as a date; the tick counter is no date.
  std::function<std::chrono::system_clock::time_point()> WallClock = [] {
    return std::chrono::system_clock::now();
  };
  // The controller's cycle and the passes of the worker's pauses wait with it.
  std::shared_ptr<ISleeper> Sleeper = SystemSleeper();
  HttpClientFactory MakeClient = CreateHttpClient;
  // The desktop's "open" verb on a file path; empty: nothing is opened.
  std::function<void(const std::string& path)> OpenFile;
  // Set: the run continues the one this plan describes, without a list request.
  std::shared_ptr<const ContinuationPlan> Continuation;
};

}  // namespace orgkat

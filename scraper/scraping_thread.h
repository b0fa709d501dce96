#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/thread.h"
#include "scraper/run_config.h"
#include "scraper/worker_lists.h"

namespace orgkat {

// The fetch worker: one GET for one URL, up to five attempts, each failure logged, then the
// hand-off from RunningList to FinishedList. Create with std::make_shared; set the fields below,
// then Resume.
class TScrapingThread : public TThread {
 public:
  TScrapingThread();
  ~TScrapingThread() override;

  // Set by the controller before the start. The worker keeps the lock and the lists alive until
  // its hand-off is done, even after the run has ended.
  std::shared_ptr<std::mutex> ListsLock;
  std::shared_ptr<TWorkerList> RunningList;
  std::shared_ptr<TWorkerList> FinishedList;
  std::string url;
  std::shared_ptr<ILogView> LogsMemo;
  std::shared_ptr<const RunConfig> Config;

  // Outcome, final once the worker is in FinishedList: 0 none, 1 success, -1 failure.
  std::int32_t result = 0;
  std::string html;  // the response body, undecoded
  std::string statusText;
  std::string proxy;  // first line of the proxy file

  std::vector<std::string> CustomHeaders;
  std::string LogMessageText;

  // Appends CustomHeaders to a header block about to be sent.
  void BeforeHeaderSend(const std::string& method, std::vector<std::string>& headers);
  // UI thread: one log line of LogMessageText.
  void AppendLog();

 protected:
  void Execute() override;
};

}  // namespace orgkat

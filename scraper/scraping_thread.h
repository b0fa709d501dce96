#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/http_client.h"
#include "platform/thread.h"
#include "scraper/dispatch_pacing.h"
#include "scraper/retry_rule.h"
#include "scraper/run_config.h"
#include "scraper/worker_lists.h"

namespace orgkat {

// The fetch worker: one GET for one URL, up to five attempts, each failure logged, then the
// hand-off from RunningList to FinishedList. Create with std::make_shared; set the fields below,
// then Resume. Its owner (the controller) joins it.
class TScrapingThread : public TThread {
 public:
  TScrapingThread();
  // Requests termination and waits for the thread to end.
  ~TScrapingThread() override;

  // Set by the controller before the start: its lock and its phase's lists, which it keeps until
  // it has joined the worker.
  std::mutex* ListsLock = nullptr;
  TWorkerList* RunningList = nullptr;
  TWorkerList* FinishedList = nullptr;
  std::string url;
  std::shared_ptr<ILogView> LogsMemo;
  std::shared_ptr<const RunConfig> Config;
  // The controller's pacing, guarded by ListsLock: told of every request sent, refused and
  // answered; a retry after a refusal waits for its turn. Null: no pacing.
  TDispatchPacing* Pacing = nullptr;
  // When the pacing granted this worker's start, if it was asked; the worker's own after Resume.
  std::optional<std::uint32_t> TurnGrantedAt;

  // Outcome, final once the worker is in FinishedList: 0 none, 1 success, -1 failure.
  std::int32_t result = 0;
  std::string html;  // the response body, undecoded
  std::string statusText;
  std::string proxy;  // first line of the proxy file

  std::vector<std::string> CustomHeaders;
  std::string LogMessageText;

  // Appends CustomHeaders to a header block about to be sent.
  void BeforeHeaderSend(const std::string& method, std::vector<std::string>& headers);
  // UI thread: one log line with LogMessageText, written by the worker just before the call.
  void AppendLog();

  // Any thread: the outcome is no longer wanted. Requests termination, ends a request in progress
  // and any pause, so that the owner's join is prompt; the worker ends without a hand-off and
  // without logging the cut request.
  void Cancel();

 protected:
  void Execute() override;

 private:
  class HandOver;
  class ClientRegistration;
  enum class AttemptEnd { Completed, Failed, Ended };
  enum class PauseKind { Retry, Final };

  std::unique_ptr<IHttpClient> MakeClient(const RunConfig& config);
  void ReportSetUpFailure(const std::exception_ptr& failure);
  AttemptEnd Attempt(IHttpClient& client, const RunConfig& config, bool last);
  void Pause(IHttpClient& client, const RunConfig& config, PauseKind kind,
             std::chrono::milliseconds length);
  void WaitForPace(IHttpClient& client, const RunConfig& config);
  void WaitForHeaderTurn(const RunConfig& config);
  void ReportToPacing(const std::function<void(TDispatchPacing&)>& report);
  void Log(const std::string& message);

  std::mutex client_mutex_;
  IHttpClient* client_ = nullptr;  // the client of Execute while it lives; guarded by client_mutex_
  std::atomic<bool> cancelled_{false};
  std::uint32_t sent_at_ = 0;  // when the current attempt's header went out; the worker's own
};

}  // namespace orgkat

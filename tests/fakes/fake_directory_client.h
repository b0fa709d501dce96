#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "tests/fakes/manual_clock.h"

namespace orgkat::test {

// A scripted directory behind the HTTP client seam. A request takes the next queued answer, else
// the answer set for its URL, else fails with 404 "Not Found". The directory notes what its clients
// were given and asked for, and the largest number of requests in flight at once.
class FakeDirectory : public std::enable_shared_from_this<FakeDirectory> {
 public:
  struct Answer {
    std::string body;
    std::optional<std::string> failure;  // the request fails with this message
    int status = 200;
    std::string reason = "OK";           // for a failure, an empty one keeps the phrase before it
    std::chrono::milliseconds delay{0};  // a Cancel cuts it short
    std::function<void()> during;        // runs while the request is in progress
    std::string retryAfter;              // the response's Retry-After value

    static Answer Body(std::string body, std::chrono::milliseconds delay = {}) {
      return {std::move(body), std::nullopt, 200, "OK", delay, {}, {}};
    }
    static Answer Fails(std::string message, int status = 404, std::string reason = "",
                        std::string retryAfter = "") {
      return {{}, std::move(message), status, std::move(reason), {}, {}, std::move(retryAfter)};
    }
  };

  // `clock`, when given, is read (without moving it on) at every request.
  explicit FakeDirectory(std::shared_ptr<ManualClock> clock = nullptr) : clock_(std::move(clock)) {}

  void Set(const std::string& url, Answer answer);
  // Answers for the next requests, whatever their URLs, in this order.
  void Queue(std::vector<Answer> answers);
  // A client factory for RunConfig::MakeClient.
  HttpClientFactory Factory();

  // What the clients were given and did so far.
  struct Seen {
    // In the order the requests were made: their URLs, the clock then and the header blocks
    // after the client's OnBeforeHeaderSend.
    std::vector<std::string> urls;
    std::vector<std::uint32_t> ticks;
    std::vector<std::vector<std::string>> headerBlocks;
    std::optional<HttpClientSettings> settings;  // the last client's
    int clients = 0;
    int serveCalls = 0;
    int cancels = 0;
  };
  Seen Log() const;
  int Requests(const std::string& url) const;
  int MaxInFlight() const;
  // Requests begun and not yet ended (answered, failed or cancelled).
  int InFlight() const;

 private:
  friend class FakeClient;
  Answer Begin(const std::string& url, std::vector<std::string> headers);
  void End();
  void Count(int& counter);

  const std::shared_ptr<ManualClock> clock_;
  mutable std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::deque<Answer> queued_;
  std::map<std::string, int> requests_;
  Seen seen_;
  int inFlight_ = 0;
  int maxInFlight_ = 0;
};

}  // namespace orgkat::test

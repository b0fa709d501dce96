#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/http_client.h"

namespace orgkat::test {

// A scripted directory behind the HTTP client seam: each URL answers with a body or fails with a
// message, after an optional delay. It counts requests and the largest number in flight at once.
class FakeDirectory : public std::enable_shared_from_this<FakeDirectory> {
 public:
  struct Answer {
    std::string body;
    std::string failure;  // non-empty: the request fails with this message
    int status = 200;
    std::chrono::milliseconds delay{0};

    static Answer Body(std::string body, std::chrono::milliseconds delay = {}) {
      return {std::move(body), {}, 200, delay};
    }
    static Answer Failure(int status, std::string reason) {
      return {{}, std::move(reason), status, {}};
    }
  };

  void Set(const std::string& url, Answer answer);
  // A client factory for RunConfig::MakeClient.
  HttpClientFactory Factory();

  int Requests(const std::string& url) const;
  int MaxInFlight() const;
  // Requests begun and not yet ended (answered, failed or cancelled).
  int InFlight() const;

 private:
  friend class FakeClient;
  Answer Begin(const std::string& url);
  void End();

  mutable std::mutex mutex_;
  std::map<std::string, Answer> answers_;
  std::map<std::string, int> requests_;
  int inFlight_ = 0;
  int maxInFlight_ = 0;
};

}  // namespace orgkat::test

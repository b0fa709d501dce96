#include "tests/fakes/fake_directory_client.h"

#include <condition_variable>
#include <thread>

namespace orgkat::test {

class FakeClient : public IHttpClient {
 public:
  explicit FakeClient(std::shared_ptr<FakeDirectory> directory)
      : directory_(std::move(directory)) {}

  void Get(const std::string& url, std::string& body) override {
    const FakeDirectory::Answer answer = directory_->Begin(url);
    bool cancelled = false;
    {
      std::unique_lock lock(mutex_);
      cancelled = cancel_.wait_for(lock, answer.delay, [this] { return cancelled_; });
    }
    directory_->End();
    if (cancelled) throw HttpError("Request cancelled");
    status_ = answer.status;
    if (!answer.failure.empty() || answer.status >= 400) {
      reason_ = answer.failure;
      throw HttpError(answer.failure);
    }
    reason_ = "OK";
    body = answer.body;
  }
  int StatusCode() const override { return status_; }
  const std::string& ReasonPhrase() const override { return reason_; }
  const std::string& RetryAfter() const override { return retry_after_; }
  void ServeEvents(std::chrono::milliseconds max_wait) override {
    std::this_thread::sleep_for(std::min(max_wait, std::chrono::milliseconds(1)));
  }
  void Cancel() override {
    {
      std::lock_guard lock(mutex_);
      cancelled_ = true;
    }
    cancel_.notify_all();
  }

 private:
  std::shared_ptr<FakeDirectory> directory_;
  std::mutex mutex_;
  std::condition_variable cancel_;
  bool cancelled_ = false;
  int status_ = 0;
  std::string reason_;
  std::string retry_after_;  // this directory gives none
};

void FakeDirectory::Set(const std::string& url, Answer answer) {
  std::lock_guard lock(mutex_);
  answers_[url] = std::move(answer);
}

HttpClientFactory FakeDirectory::Factory() {
  return [self = shared_from_this()](const HttpClientSettings&) {
    return std::make_unique<FakeClient>(self);
  };
}

int FakeDirectory::Requests(const std::string& url) const {
  std::lock_guard lock(mutex_);
  const auto it = requests_.find(url);
  return it == requests_.end() ? 0 : it->second;
}

int FakeDirectory::InFlight() const {
  std::lock_guard lock(mutex_);
  return inFlight_;
}

int FakeDirectory::MaxInFlight() const {
  std::lock_guard lock(mutex_);
  return maxInFlight_;
}

FakeDirectory::Answer FakeDirectory::Begin(const std::string& url) {
  std::lock_guard lock(mutex_);
  ++requests_[url];
  maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
  const auto it = answers_.find(url);
  if (it != answers_.end()) return it->second;
  Answer missing;
  missing.status = 404;
  missing.failure = "Not Found";
  return missing;
}

void FakeDirectory::End() {
  std::lock_guard lock(mutex_);
  --inFlight_;
}

}  // namespace orgkat::test

#include "tests/fakes/fake_directory_client.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

namespace orgkat::test {

class FakeClient : public IHttpClient {
 public:
  FakeClient(std::shared_ptr<FakeDirectory> directory, const HttpClientSettings& settings)
      : directory_(std::move(directory)), settings_(settings) {}

  void Get(const std::string& url, std::string& body) override {
    if (Cancelled({})) throw HttpError("Request cancelled");
    std::vector<std::string> headers{"Host: scripted"};
    if (settings_.OnBeforeHeaderSend) settings_.OnBeforeHeaderSend("GET", headers);
    const FakeDirectory::Answer answer = directory_->Begin(url, std::move(headers));
    if (answer.during) answer.during();
    const bool cancelled = Cancelled(answer.delay);
    directory_->End();
    if (cancelled) throw HttpError("Request cancelled");
    status_ = answer.status;
    retry_after_ = answer.retryAfter;
    if (!answer.failure || !answer.reason.empty()) reason_ = answer.reason;
    if (answer.failure) throw HttpError(*answer.failure);
    body = answer.body;
  }
  int StatusCode() const override { return status_; }
  const std::string& ReasonPhrase() const override { return reason_; }
  const std::string& RetryAfter() const override { return retry_after_; }
  void ServeEvents(std::chrono::milliseconds max_wait) override {
    directory_->Count(directory_->seen_.serveCalls);
    std::this_thread::sleep_for(std::min(max_wait, std::chrono::milliseconds(1)));
  }
  void Cancel() override {
    directory_->Count(directory_->seen_.cancels);
    {
      std::lock_guard lock(mutex_);
      cancelled_ = true;
    }
    cancel_.notify_all();
  }

 private:
  // Waits out `delay` unless a Cancel comes first; true when one has come.
  bool Cancelled(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex_);
    return cancel_.wait_for(lock, delay, [this] { return cancelled_; });
  }

  std::shared_ptr<FakeDirectory> directory_;
  HttpClientSettings settings_;
  std::mutex mutex_;
  std::condition_variable cancel_;
  bool cancelled_ = false;
  int status_ = 0;
  std::string reason_;
  std::string retry_after_;
};

void FakeDirectory::Set(const std::string& url, Answer answer) {
  std::lock_guard lock(mutex_);
  answers_[url] = std::move(answer);
}

void FakeDirectory::Queue(std::vector<Answer> answers) {
  std::lock_guard lock(mutex_);
  for (auto& answer : answers) queued_.push_back(std::move(answer));
}

HttpClientFactory FakeDirectory::Factory() {
  return [self = shared_from_this()](const HttpClientSettings& settings) {
    {
      std::lock_guard lock(self->mutex_);
      self->seen_.settings = settings;
      ++self->seen_.clients;
    }
    return std::make_unique<FakeClient>(self, settings);
  };
}

FakeDirectory::Seen FakeDirectory::Log() const {
  std::lock_guard lock(mutex_);
  return seen_;
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

FakeDirectory::Answer FakeDirectory::Begin(const std::string& url,
                                           std::vector<std::string> headers) {
  std::lock_guard lock(mutex_);
  ++requests_[url];
  seen_.urls.push_back(url);
  seen_.ticks.push_back(clock_ ? clock_->Peek() : 0);
  seen_.headerBlocks.push_back(std::move(headers));
  maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
  if (!queued_.empty()) {
    Answer answer = std::move(queued_.front());
    queued_.pop_front();
    return answer;
  }
  const auto it = answers_.find(url);
  if (it != answers_.end()) return it->second;
  return Answer::Fails("Not Found", 404, "Not Found");
}

void FakeDirectory::End() {
  std::lock_guard lock(mutex_);
  --inFlight_;
}

void FakeDirectory::Count(int& counter) {
  std::lock_guard lock(mutex_);
  ++counter;
}

}  // namespace orgkat::test

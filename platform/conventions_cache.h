#pragma once

#include <memory>
#include <mutex>

namespace orgkat {

// The user's conventions of kind T (made by T's constructor), read at the first use and read
// again as a whole on Reload; a thread that holds the old set keeps it until it lets it go.
template <typename T>
class ConventionsCache {
 public:
  std::shared_ptr<const T> Get() {
    std::lock_guard lock(mutex_);
    if (!current_) current_ = std::make_shared<const T>();
    return current_;
  }
  void Reload() {
    auto fresh = std::make_shared<const T>();
    std::lock_guard lock(mutex_);
    current_ = std::move(fresh);
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const T> current_;
};

}  // namespace orgkat

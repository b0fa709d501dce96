#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orgkat {

// System threads that outlive the bodies they run. A worker's own work on a fast link costs less
// than starting a thread and building what the libraries keep per thread on first use (the TLS
// library's random generators and error queue, the allocator's arena); so a body goes to a
// parked thread when one is free, and to a new thread only when none is. The reservoir owns its
// threads: it joins every one of them when it goes, after their bodies have ended.
class ThreadReservoir {
 public:
  ThreadReservoir() = default;
  ~ThreadReservoir();
  ThreadReservoir(const ThreadReservoir&) = delete;
  ThreadReservoir& operator=(const ThreadReservoir&) = delete;

  // Runs body on a thread of the reservoir, at once: a parked thread takes it, or a new thread is
  // started for it, so a body never waits for another to end. The body must not throw. Throws
  // std::system_error, and runs nothing, when a needed thread cannot be started.
  void Run(std::function<void()> body);
  // How many threads the reservoir has started so far, and how many of them wait for a body.
  std::size_t Threads() const;
  std::size_t Parked() const;

  // The one reservoir of the process.
  static ThreadReservoir& Shared();

 private:
  void Serve();

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable arrived_;
  std::deque<std::function<void()>> waiting_;
  std::size_t parked_ = 0;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace orgkat

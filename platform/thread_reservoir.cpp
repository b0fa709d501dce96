#include "platform/thread_reservoir.h"

#include <utility>

#include <openssl/ssl.h>

namespace orgkat {

ThreadReservoir::~ThreadReservoir() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    threads = std::move(threads_);
  }
  arrived_.notify_all();
  for (auto& thread : threads) thread.join();
}

void ThreadReservoir::Run(std::function<void()> body) {
  std::unique_lock lock(mutex_);
  waiting_.push_back(std::move(body));
  // Each parked thread takes one body; bodies handed over but not yet taken still count.
  if (parked_ >= waiting_.size()) {
    // Woken after the lock is let go, so it does not wake only to wait for the lock.
    lock.unlock();
    arrived_.notify_one();
    return;
  }
  try {
    threads_.emplace_back([this] { Serve(); });
  } catch (...) {
    // No thread could be started: the body is not run at all, and the caller learns why.
    waiting_.pop_back();
    throw;
  }
}

std::size_t ThreadReservoir::Threads() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

std::size_t ThreadReservoir::Parked() const {
  std::lock_guard lock(mutex_);
  return parked_;
}

ThreadReservoir& ThreadReservoir::Shared() {
  // The TLS library keeps state per thread, freed as the thread exits, and frees what it shares
  // in an exit handler, which must run after the reservoir has joined its threads: otherwise
  // their state is lost. Exit handlers run in the reverse order of their registration, so the
  // library registers its own before the reservoir is made.
  static const bool tls_library_ready = OPENSSL_init_ssl(0, nullptr) == 1;
  static ThreadReservoir reservoir;
  static_cast<void>(tls_library_ready);
  return reservoir;
}

void ThreadReservoir::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (waiting_.empty()) {
      ++parked_;
      arrived_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
      --parked_;
      if (waiting_.empty()) return;
    }
    auto body = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    body();
    // Destroyed outside the lock: what the body captured may start another body as it goes.
    body = nullptr;
    lock.lock();
  }
}

}  // namespace orgkat

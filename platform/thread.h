#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace orgkat {

class IUiQueue;

// How a thread waits out a stretch of time. Tests hand in one that moves a manual clock on, so
// pacing rules are checked without waiting in real time.
class ISleeper {
 public:
  virtual ~ISleeper() = default;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The real clock's sleep.
std::shared_ptr<ISleeper> SystemSleeper();

// A thread object in the manner of the run's classes: created suspended, started by Resume, with a
// termination flag that the body tests at its own points. The body runs on a system thread of the
// process's reservoir (platform/thread_reservoir.h), which may run other bodies after it. The
// object belongs to its owner, which waits for the body: WaitFor, or the destructor, which waits
// for a started body to end. The body never keeps its own object alive, so the owner decides when
// it goes; a derived class whose body uses its own members waits in its own destructor, before
// they go. The last reference must not be let go on the body's own thread, which cannot wait for
// itself.
//
// Pause is a gate, not a hard suspension: the body stops at its next UI-thread call (before it is
// queued and again before it returns, so a call during which the object was suspended does not
// return until it is resumed) and at the end of its sleeps.
class TThread : public std::enable_shared_from_this<TThread> {
 public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a thread created suspended; otherwise opens the pause gate.
  void Resume();
  void Suspend();
  bool Suspended() const;
  void Terminate();
  bool Terminated() const;
  // True once Execute has returned and the end-of-thread notice has run.
  bool Finished() const;
  // Blocks until the body and the end-of-thread notice have run (returns at once if it never
  // started). Any thread but the body's own may call it, as often as it likes.
  void WaitFor();

  // Called on the UI thread after Execute has returned, before Finished turns true.
  std::function<void()> OnTerminate;
  // The queue for Synchronize; the process-wide queue when not set before Resume.
  std::shared_ptr<IUiQueue> UiQueue;
  // What Sleep waits with; set before Resume.
  std::shared_ptr<ISleeper> Sleeper = SystemSleeper();

 protected:
  virtual void Execute() = 0;
  // Runs op on the UI thread and waits for it, honouring the pause gate before and after.
  void Synchronize(const std::function<void()>& op);
  // Sleeps, then waits while paused.
  void Sleep(std::chrono::milliseconds duration);
  // Blocks while the object is suspended.
  void WaitWhilePaused();

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  bool suspended_ = true;
  bool finished_ = false;
  std::atomic<bool> terminated_{false};
  std::atomic<std::thread::id> running_on_;
};

}  // namespace orgkat

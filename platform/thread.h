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

// A thread object in the manner of the run's classes: created suspended, started by Resume, with a
// termination flag that the body tests at its own points. Objects are always shared-owned
// (std::make_shared): a running thread holds a reference to its own object, so nothing it can
// still reach is freed under it. Destroying the object from another thread waits for the thread
// to end; when the last reference goes on the thread itself, the thread is detached.
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
  // Blocks until the thread has ended (returns at once if it never started). Not allowed on a
  // FreeOnTerminate object, whose lifetime ends with its thread.
  void WaitFor();

  // True: the object belongs to its running thread and nobody waits for it (the run controller).
  // False: its owner waits for it with WaitFor before letting it go (the fetch worker).
  bool FreeOnTerminate = false;
  // Called on the UI thread after Execute has returned, before Finished turns true.
  std::function<void()> OnTerminate;
  // The queue for Synchronize; the process-wide queue when not set before Resume.
  std::shared_ptr<IUiQueue> UiQueue;

 protected:
  virtual void Execute() = 0;
  // Runs op on the UI thread and waits for it, honouring the pause gate before and after.
  void Synchronize(const std::function<void()>& op);
  // Sleeps, then waits while paused.
  void Sleep(std::chrono::milliseconds duration);
  // Blocks while the object is suspended.
  void WaitWhilePaused();

 private:
  void Run(std::shared_ptr<TThread> self);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  bool suspended_ = true;
  bool finished_ = false;
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace orgkat

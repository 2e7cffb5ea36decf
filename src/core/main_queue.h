#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace pellavo {

// The main thread's queue of work posted by other threads: a worker's completion reaches the
// main thread through it. The window drains it from its event loop, the command line from
// its own loop (TLoopQueue). Besides the queue it counts the worker threads still alive, so
// that a front end can let them end before the process does.
class TMainQueue {
 public:
  virtual ~TMainQueue() = default;

  // Any thread: queues task to run on the main thread.
  virtual void Post(std::function<void()> task) = 0;
  // Main thread: runs every task that is queued at this moment.
  virtual void ProcessPending() = 0;
  // Main thread: waits up to ms milliseconds for tasks and runs them; returns as soon as at
  // least one has run (true) or when the time is up (false). ms <= 0 only processes pending.
  virtual bool WaitAndProcess(int ms) = 0;

  // Worker threads register for their whole life, up to and including self-release.
  void ThreadBegun();
  void ThreadEnded();
  // Main thread: waits until every registered thread has ended.
  void WaitForThreads();
  int LiveThreads();

 private:
  std::mutex threads_mutex_;
  std::condition_variable threads_ended_;
  int live_threads_ = 0;
};

// The queue of a front end without an event loop of its own.
class TLoopQueue final : public TMainQueue {
 public:
  void Post(std::function<void()> task) override;
  void ProcessPending() override;
  bool WaitAndProcess(int ms) override;

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace pellavo

#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace pellavo {

// The main thread's side of the engine's threads: work posted to run on the main thread (a
// worker's completion, a run's delayed launch) and the count of worker threads still alive.
// The front end's event loop runs the tasks: the window through queued calls and single-shot
// timers, the command line through TLoopQueue. Every task runs inside its own guard (RunGuarded),
// so an exception from one task reaches the front end's error sink and never keeps the other
// tasks, or the worker waiting for one of them, from going on.
class TMainQueue {
 public:
  using TTask = std::function<void()>;
  // Receives the text of an exception that escaped a task. Runs on the main thread; must not throw.
  using TErrorSink = std::function<void(const std::string& error)>;

  explicit TMainQueue(TErrorSink on_error) : on_error_(std::move(on_error)) {}
  virtual ~TMainQueue() = default;
  TMainQueue(const TMainQueue&) = delete;
  TMainQueue& operator=(const TMainQueue&) = delete;

  // Any thread: runs task on the main thread, after the tasks posted before it.
  virtual void Post(TTask task) = 0;
  // Main thread: runs task on the main thread once at least ms milliseconds have passed.
  virtual void PostDelayed(int ms, TTask task) = 0;

  // A worker thread is counted from just before it is created until it has released its worker
  // and touches nothing more; the queue must outlive every counted thread.
  void ThreadBegun();
  void ThreadEnded();
  int LiveThreads() const;

 protected:
  // Runs one task; an exception from it goes to the error sink instead of to the caller.
  void RunGuarded(const TTask& task) const;

  // Guards the live count, and a subclass's own queue, so that one wait on `changed_` sees both a
  // posted task and the end of the last thread.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int live_threads_ = 0;  // under mutex_

 private:
  TErrorSink on_error_;
};

// The queue of a front end without an event loop of its own: it runs tasks only inside these
// calls, all made on the main thread.
class TLoopQueue : public TMainQueue {
 public:
  using TMainQueue::TMainQueue;

  void Post(TTask task) override;
  void PostDelayed(int ms, TTask task) override;

  // Runs the tasks posted until now and the delayed tasks that are due; true when any ran.
  bool ProcessPending();
  // Waits up to ms milliseconds for a posted task or a due delayed one, then runs what is there;
  // true when any task ran. ms <= 0 only processes what is pending.
  bool WaitAndProcess(int ms);
  // The shutdown wait: runs posted tasks (completions that workers wait for) until no worker
  // thread is alive. Delayed tasks are left unrun: a front end that shuts down launches nothing.
  void WaitForThreads();

 private:
  using TClock = std::chrono::steady_clock;
  void RunAll(std::deque<TTask>& tasks) const;

  std::deque<TTask> tasks_;                      // under mutex_
  std::multimap<TClock::time_point, TTask> delayed_;  // under mutex_; equal times keep their order
};

}  // namespace pellavo

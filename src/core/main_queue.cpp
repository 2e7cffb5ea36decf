#include "core/main_queue.h"

#include <algorithm>

#include "core/errors.h"

namespace pellavo {

void TMainQueue::ThreadBegun() {
  std::lock_guard lock(mutex_);
  ++live_threads_;
}

void TMainQueue::ThreadEnded() {
  // Notified under the lock: a waiter that sees the count reach 0 may destroy the queue at once,
  // and this thread must be done with it by then.
  std::lock_guard lock(mutex_);
  if (--live_threads_ == 0) changed_.notify_all();
}

int TMainQueue::LiveThreads() const {
  std::lock_guard lock(mutex_);
  return live_threads_;
}

void TMainQueue::RunGuarded(const TTask& task) const {
  try {
    task();
  } catch (...) {
    if (on_error_) on_error_(CurrentErrorText());
  }
}

void TLoopQueue::RunAll(std::deque<TTask>& tasks) const {
  // Each task is destroyed right after it ran: what it holds (a worker's release, say) goes then,
  // not when the whole batch is done.
  while (!tasks.empty()) {
    const TTask task = std::move(tasks.front());
    tasks.pop_front();
    RunGuarded(task);
  }
}

void TLoopQueue::Post(TTask task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void TLoopQueue::PostDelayed(int ms, TTask task) {
  const auto due = TClock::now() + std::chrono::milliseconds(std::max(ms, 0));
  std::lock_guard lock(mutex_);
  delayed_.emplace(due, std::move(task));
}

bool TLoopQueue::ProcessPending() {
  std::deque<TTask> posted;
  std::deque<TTask> due;
  {
    std::lock_guard lock(mutex_);
    posted.swap(tasks_);
    // Taken out before any runs: a task that posts a delayed task of 0 ms is run by the next call.
    const auto end = delayed_.upper_bound(TClock::now());
    for (auto it = delayed_.begin(); it != end; ++it) due.push_back(std::move(it->second));
    delayed_.erase(delayed_.begin(), end);
  }
  const bool any = !posted.empty() || !due.empty();
  RunAll(posted);
  RunAll(due);
  return any;
}

bool TLoopQueue::WaitAndProcess(int ms) {
  if (ms > 0) {
    auto until = TClock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(mutex_);
    if (!delayed_.empty()) until = std::min(until, delayed_.begin()->first);
    changed_.wait_until(lock, until, [this] { return !tasks_.empty(); });
  }
  return ProcessPending();
}

void TLoopQueue::WaitForThreads() {
  for (;;) {
    std::deque<TTask> posted;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return !tasks_.empty() || live_threads_ == 0; });
      if (tasks_.empty()) return;
      posted.swap(tasks_);
    }
    RunAll(posted);
  }
}

}  // namespace pellavo

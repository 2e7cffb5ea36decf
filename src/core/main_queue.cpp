#include "core/main_queue.h"

#include <chrono>

namespace pellavo {

void TMainQueue::ThreadBegun() {
  std::lock_guard lock(threads_mutex_);
  ++live_threads_;
}

void TMainQueue::ThreadEnded() {
  std::lock_guard lock(threads_mutex_);
  if (--live_threads_ == 0) threads_ended_.notify_all();
}

void TMainQueue::WaitForThreads() {
  std::unique_lock lock(threads_mutex_);
  threads_ended_.wait(lock, [this] { return live_threads_ == 0; });
}

int TMainQueue::LiveThreads() {
  std::lock_guard lock(threads_mutex_);
  return live_threads_;
}

void TLoopQueue::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  posted_.notify_one();
}

void TLoopQueue::ProcessPending() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(mutex_);
    batch.swap(tasks_);
  }
  // Tasks run without the lock: a task may post again or process the queue itself.
  for (auto& task : batch) task();
}

bool TLoopQueue::WaitAndProcess(int ms) {
  if (ms > 0) {
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !tasks_.empty(); })) return false;
  }
  bool ran = false;
  {
    std::lock_guard lock(mutex_);
    ran = !tasks_.empty();
  }
  ProcessPending();
  return ran;
}

}  // namespace pellavo

#include "core/thread.h"

#include <exception>
#include <future>

namespace pellavo {

TThread::TThread(TMainQueue& queue) : queue_(queue) {}

TThread::~TThread() {
  // A self-releasing worker is deleted on its own thread after detaching it.
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::Start() {
  queue_.ThreadBegun();
  std::lock_guard lock(start_mutex_);
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    queue_.ThreadEnded();
    throw;
  }
}

void TThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TThread::Run() {
  { std::lock_guard lock(start_mutex_); }
  try {
    Execute();
  } catch (const std::exception& e) {
    fatal_error_ = e.what();
    if (fatal_error_.empty()) fatal_error_ = "Unknown error";
  } catch (...) {
    fatal_error_ = "Unknown error";
  }

  if (on_terminate_) {
    std::promise<void> handled;
    std::future<void> done = handled.get_future();
    queue_.Post([this, &handled] {
      try {
        on_terminate_(*this);
      } catch (...) {
        handled.set_value();
        throw;  // the front end's error report takes it; the worker goes on regardless
      }
      handled.set_value();
    });
    done.wait();
  }

  // Everything below runs after the handler: the queue must outlive this thread.
  TMainQueue& queue = queue_;
  if (free_on_terminate_) {
    thread_.detach();
    delete this;
  }
  queue.ThreadEnded();
}

}  // namespace pellavo

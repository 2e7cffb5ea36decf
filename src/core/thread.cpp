#include "core/thread.h"

#include <future>
#include <stdexcept>
#include <thread>

#include "core/errors.h"

namespace pellavo {
namespace {

// Wakes the worker's thread when its completion task is gone: after the handler returned or
// threw, or when the front end destroyed the task without running it.
class TCompletionGone {
 public:
  ~TCompletionGone() { gone_.set_value(); }
  std::future<void> Future() { return gone_.get_future(); }

 private:
  std::promise<void> gone_;
};

}  // namespace

void TThread::Start(std::unique_ptr<TThread> worker, TMainQueue& queue, TNotify on_terminate) {
  if (!worker) throw std::invalid_argument("TThread::Start: no worker");
  queue.ThreadBegun();
  try {
    // When creation fails the closure, and with it the worker, is destroyed before the catch.
    std::thread([owned = std::move(worker), &queue, notify = std::move(on_terminate)]() mutable {
      owned->RunBody();
      if (notify) owned->HandOver(queue, notify);
      owned.reset();
      notify = nullptr;  // whatever the handler holds goes while the thread is still counted
      queue.ThreadEnded();
    }).detach();
  } catch (...) {
    queue.ThreadEnded();
    throw;
  }
}

void TThread::RunBody() {
  try {
    Execute();
  } catch (...) {
    fatal_error_ = CurrentErrorReason();
  }
}

void TThread::HandOver(TMainQueue& queue, const TNotify& on_terminate) {
  auto gone = std::make_shared<TCompletionGone>();
  std::future<void> handled = gone->Future();
  queue.Post([gone = std::move(gone), this, &on_terminate]() mutable {
    const auto release = std::move(gone);  // however the handler ends
    on_terminate(*this);
  });
  handled.wait();
}

}  // namespace pellavo

#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "core/main_queue.h"

namespace pellavo {

// The worker thread base. Created not running so that its creator can set it up completely;
// Start runs Execute on a thread of its own. When Execute has ended, normally or by an error,
// the completion handler runs on the main thread (through the main queue) while this thread
// waits for it; then a self-releasing worker deletes itself and its thread ends.
class TThread {
 public:
  using TNotify = std::function<void(TThread&)>;

  explicit TThread(TMainQueue& queue);
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void SetOnTerminate(TNotify handler) { on_terminate_ = std::move(handler); }
  void SetFreeOnTerminate(bool free) { free_on_terminate_ = free; }
  bool FreeOnTerminate() const { return free_on_terminate_; }

  // Starts the body; call once, from the creating thread.
  void Start();
  // For a worker that does not release itself: waits until its thread has ended.
  void WaitFor();

  // The text of an error that escaped Execute, empty when none did. The window does not
  // show it; the command line reports it.
  const std::string& FatalError() const { return fatal_error_; }

 protected:
  virtual void Execute() = 0;

 private:
  void Run();

  TMainQueue& queue_;
  TNotify on_terminate_;
  bool free_on_terminate_ = false;
  std::string fatal_error_;
  std::thread thread_;
  std::mutex start_mutex_;  // held while Start stores thread_, so Run never sees it unset
};

}  // namespace pellavo

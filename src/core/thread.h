#pragma once
#include <functional>
#include <memory>
#include <string>

#include "core/main_queue.h"

namespace pellavo {

// The worker thread base. A worker is built complete (everything it needs is a constructor
// argument) and then handed to Start, which owns it from there: its Execute runs on a thread of
// its own; when Execute has ended, normally or by an error, the completion handler runs on the
// main thread (through the main queue) while the worker's thread waits; then the worker is
// released and its thread ends. Nobody else keeps a reference to a started worker.
class TThread {
 public:
  using TNotify = std::function<void(TThread& finished)>;

  virtual ~TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Main thread. When no thread can be created this throws, the worker is released at once and
  // the handler is never called; the queue's live count is as it was. The handler may be empty.
  // A handler that throws, or a queue that drops the completion unrun, still releases the worker.
  static void Start(std::unique_ptr<TThread> worker, TMainQueue& queue, TNotify on_terminate);

  // The text of an error that escaped Execute, empty when none did. Read it in the handler.
  const std::string& FatalError() const { return fatal_error_; }

 protected:
  TThread() = default;
  virtual void Execute() = 0;

 private:
  void RunBody();
  void HandOver(TMainQueue& queue, const TNotify& on_terminate);

  std::string fatal_error_;
};

}  // namespace pellavo

#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "core/main_queue.h"

namespace pellavo {

// The main queue over Qt's event loop. Posted tasks become queued calls on an object that lives
// in the GUI thread, so they run between the window's own events, in the order they were
// posted. A task that throws is handed to the error sink instead of unwinding the event loop.
class TQtMainQueue final : public TMainQueue {
 public:
  using TErrorSink = std::function<void(const std::string& text)>;

  // Construct on the GUI thread, after the application object.
  explicit TQtMainQueue(TErrorSink error_sink);
  ~TQtMainQueue() override;

  // Any thread.
  void Post(std::function<void()> task) override;
  // Main thread: task runs after ms milliseconds of the event loop.
  void PostDelayed(int ms, std::function<void()> task);
  // Main thread: handles every pending event, posted tasks included.
  void ProcessPending() override;
  // Main thread: runs the event loop until a posted task has run or ms milliseconds passed.
  bool WaitAndProcess(int ms) override;
  // Main thread: runs the event loop until every worker thread has ended, so that none is cut
  // off in the middle of writing when the process exits.
  void DrainThreads();

 private:
  std::function<void()> Guarded(std::function<void()> task);
  // Runs the event loop until a posted task has run or ms milliseconds have passed.
  bool PumpUntilTask(int ms);

  std::unique_ptr<QObject> context_;
  TErrorSink error_sink_;
  unsigned long tasks_run_ = 0;  // main thread only
};

}  // namespace pellavo

#pragma once
#include <QObject>
#include <memory>

#include "core/main_queue.h"

namespace pellavo {

// The main queue over Qt's event loop. Posted tasks become queued calls on an object that lives
// in the GUI thread, so they run between the window's own events, in the order they were
// posted; delayed ones ride single-shot timers. Waiting is the event loop's business.
class TQtMainQueue final : public TMainQueue {
 public:
  // Construct on the GUI thread, after the application object.
  explicit TQtMainQueue(TErrorSink error_sink);
  ~TQtMainQueue() override;

  // Any thread.
  void Post(TTask task) override;
  // Main thread.
  void PostDelayed(int ms, TTask task) override;
  // Main thread: runs the event loop until every worker thread has ended, so that none is cut
  // off in the middle of writing when the process exits.
  void DrainThreads();

 private:
  std::unique_ptr<QObject> context_;
};

}  // namespace pellavo

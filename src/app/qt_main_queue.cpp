#include "app/qt_main_queue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <exception>

namespace pellavo {

TQtMainQueue::TQtMainQueue(TErrorSink error_sink)
    : context_(std::make_unique<QObject>()), error_sink_(std::move(error_sink)) {}

TQtMainQueue::~TQtMainQueue() = default;

std::function<void()> TQtMainQueue::Guarded(std::function<void()> task) {
  return [this, task = std::move(task)] {
    ++tasks_run_;
    try {
      task();
    } catch (const std::exception& e) {
      if (error_sink_) error_sink_(e.what());
    } catch (...) {
      if (error_sink_) error_sink_("Unknown error");
    }
  };
}

void TQtMainQueue::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(context_.get(), Guarded(std::move(task)), Qt::QueuedConnection);
}

void TQtMainQueue::PostDelayed(int ms, std::function<void()> task) {
  QTimer::singleShot(ms, context_.get(), Guarded(std::move(task)));
}

void TQtMainQueue::ProcessPending() { QCoreApplication::processEvents(); }

bool TQtMainQueue::WaitAndProcess(int ms) {
  if (ms <= 0) {
    const unsigned long before = tasks_run_;
    ProcessPending();
    return tasks_run_ != before;
  }
  return PumpUntilTask(ms);
}

bool TQtMainQueue::PumpUntilTask(int ms) {
  const unsigned long before = tasks_run_;
  QElapsedTimer clock;
  clock.start();
  for (;;) {
    const qint64 left = ms - clock.elapsed();
    if (left <= 0) break;
    // The timer only wakes the blocking wait when nothing else does.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(static_cast<int>(left));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (tasks_run_ != before) break;
  }
  return tasks_run_ != before;
}

void TQtMainQueue::DrainThreads() {
  while (LiveThreads() > 0) PumpUntilTask(100);
}

}  // namespace pellavo

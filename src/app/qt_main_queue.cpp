#include "app/qt_main_queue.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

namespace pellavo {

TQtMainQueue::TQtMainQueue(TErrorSink error_sink)
    : TMainQueue(std::move(error_sink)), context_(std::make_unique<QObject>()) {}

TQtMainQueue::~TQtMainQueue() = default;

void TQtMainQueue::Post(TTask task) {
  QMetaObject::invokeMethod(
      context_.get(), [this, task = std::move(task)] { RunGuarded(task); }, Qt::QueuedConnection);
}

void TQtMainQueue::PostDelayed(int ms, TTask task) {
  QTimer::singleShot(ms, context_.get(), [this, task = std::move(task)] { RunGuarded(task); });
}

void TQtMainQueue::DrainThreads() {
  // A worker's last completion is a queued call, so the loop must keep running while it waits;
  // the timer only bounds each blocking wait, since a thread's end posts nothing.
  QEventLoop loop;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
    if (LiveThreads() == 0) loop.quit();
  });
  tick.start(10);
  if (LiveThreads() > 0) loop.exec();
}

}  // namespace pellavo

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/qt_main_queue.h"

namespace pellavo {
namespace {

// Runs the event loop until done() holds, for at most a generous bound.
bool ProcessEventsUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 10000) QTest::qWait(5);
  return done();
}

TEST(QtMainQueue, TasksFromOtherThreadsRunOnTheMainThreadInOrder) {
  std::vector<std::string> errors;
  TQtMainQueue queue([&](const std::string& text) { errors.push_back(text); });
  std::vector<int> ran;
  std::vector<bool> on_main;
  std::thread poster([&] {
    for (int i = 0; i < 5; ++i)
      queue.Post([&, i] {
        ran.push_back(i);
        on_main.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
      });
  });
  poster.join();
  ASSERT_TRUE(ProcessEventsUntil([&] { return ran.size() == 5; }));
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(on_main, std::vector<bool>(5, true));
  EXPECT_TRUE(errors.empty());
}

// A worker waits for its completion to run on the main thread before its thread ends, so the
// shutdown wait must keep the event loop going.
TEST(QtMainQueue, DrainThreadsRunsTheCompletionsTheWorkersWaitFor) {
  TQtMainQueue queue(nullptr);
  queue.ThreadBegun();
  std::thread worker([&] {
    std::promise<void> handled;
    queue.Post([&] { handled.set_value(); });
    handled.get_future().wait();
    queue.ThreadEnded();
  });
  queue.DrainThreads();
  EXPECT_EQ(queue.LiveThreads(), 0);
  worker.join();
}

TEST(QtMainQueue, DelayedTasksWaitAndFailingTasksGoToTheErrorSink) {
  std::vector<std::string> errors;
  TQtMainQueue queue([&](const std::string& text) { errors.push_back(text); });
  bool delayed = false;
  QElapsedTimer clock;
  clock.start();
  queue.PostDelayed(80, [&] { delayed = true; });
  queue.Post([] { throw std::runtime_error("broken task"); });
  queue.Post([] { throw 42; });
  EXPECT_TRUE(ProcessEventsUntil([&] { return delayed && errors.size() == 2; }));
  EXPECT_GE(clock.elapsed(), 75);
  EXPECT_EQ(errors, (std::vector<std::string>{"broken task", "Unknown error"}));
}

}  // namespace
}  // namespace pellavo

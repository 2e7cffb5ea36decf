#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/qt_main_queue.h"

namespace pellavo {
namespace {

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
  while (ran.size() < 5) ASSERT_TRUE(queue.WaitAndProcess(1000));
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(on_main, std::vector<bool>(5, true));
  EXPECT_TRUE(errors.empty());
}

TEST(QtMainQueue, WaitAndProcessReturnsAtTheFirstTaskOrWhenTheTimeIsUp) {
  TQtMainQueue queue(nullptr);
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(queue.WaitAndProcess(60));
  EXPECT_GE(clock.elapsed(), 55);

  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    queue.Post([] {});
  });
  clock.restart();
  EXPECT_TRUE(queue.WaitAndProcess(5000));
  EXPECT_LT(clock.elapsed(), 2000) << "returns when the task has run, not when the time is up";
  late.join();
  EXPECT_FALSE(queue.WaitAndProcess(0));
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
  while (!delayed && clock.elapsed() < 5000) queue.WaitAndProcess(100);
  EXPECT_TRUE(delayed);
  EXPECT_GE(clock.elapsed(), 75);
  EXPECT_EQ(errors, (std::vector<std::string>{"broken task", "Unknown error"}));
}

}  // namespace
}  // namespace pellavo

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "core/main_queue.h"
#include "core/thread.h"
#include "support/threads.h"

namespace pellavo {
namespace {

using namespace std::chrono_literals;

class TProbe : public TThread {
 public:
  TProbe(std::atomic<int>& released, bool fail) : released_(released), fail_(fail) {}
  ~TProbe() override { ++released_; }
  std::thread::id body_thread;

 protected:
  void Execute() override {
    body_thread = std::this_thread::get_id();
    if (fail_) throw std::runtime_error("decoder failed");
  }

 private:
  std::atomic<int>& released_;
  bool fail_;
};

// A loop queue that also counts what was posted to it, so a test can let completions pile up.
class TCountingQueue : public TLoopQueue {
 public:
  using TLoopQueue::TLoopQueue;
  void Post(TTask task) override {
    TLoopQueue::Post(std::move(task));
    std::lock_guard lock(count_mutex_);
    ++posted_;
    count_changed_.notify_all();
  }
  // Waits until n tasks were posted in all; the time limit only stops a hang.
  bool WaitUntilPosted(int n) {
    std::unique_lock lock(count_mutex_);
    return count_changed_.wait_for(lock, 30s, [&] { return posted_ >= n; });
  }

 private:
  std::mutex count_mutex_;
  std::condition_variable count_changed_;
  int posted_ = 0;
};

TEST(Thread, CompletionRunsOnTheMainThreadThenTheWorkerIsReleased) {
  TLoopQueue queue(test::FailOnQueueError());
  const std::thread::id main_id = std::this_thread::get_id();
  std::atomic<int> released{0};
  for (bool fail : {false, true}) {
    struct Seen {
      bool called = false;
      bool on_main = false;
      bool body_elsewhere = false;
      std::string error;
    } seen;
    TThread::Start(std::make_unique<TProbe>(released, fail), queue, [&](TThread& t) {
      seen.called = true;
      seen.on_main = std::this_thread::get_id() == main_id;
      seen.body_elsewhere = static_cast<TProbe&>(t).body_thread != main_id;
      seen.error = t.FatalError();
    });
    const int before = released;
    // The worker cannot end before its completion was handled here.
    while (!seen.called) queue.WaitAndProcess(100);
    queue.WaitForThreads();
    EXPECT_TRUE(seen.on_main);
    EXPECT_TRUE(seen.body_elsewhere);
    EXPECT_EQ(seen.error, fail ? "decoder failed" : "");
    EXPECT_EQ(released, before + 1);
    EXPECT_EQ(queue.LiveThreads(), 0);
  }
}

TEST(Thread, ACompletionThatThrowsAmidOthersStrandsNoWorker) {
  test::TErrorLog errors;
  TCountingQueue queue(errors.Sink());
  std::atomic<int> released{0};
  constexpr int kWorkers = 5;
  std::vector<int> handled;
  for (int i = 0; i < kWorkers; ++i) {
    TThread::Start(std::make_unique<TProbe>(released, false), queue, [i, &handled](TThread&) {
      handled.push_back(i);
      if (i == 2) throw std::runtime_error("the status bar is gone");
    });
  }
  // Every completion is queued before any is handled: one batch, with the throwing one inside.
  ASSERT_TRUE(queue.WaitUntilPosted(kWorkers));
  EXPECT_TRUE(queue.ProcessPending());
  EXPECT_EQ(handled.size(), size_t(kWorkers));
  EXPECT_EQ(errors.errors, std::vector<std::string>{"the status bar is gone"});
  queue.WaitForThreads();
  EXPECT_EQ(released, kWorkers);
  EXPECT_EQ(queue.LiveThreads(), 0);
}

TEST(Thread, TheShutdownWaitHandlesCompletionsThatAreStillQueued) {
  TLoopQueue queue(test::FailOnQueueError());
  std::atomic<int> released{0};
  int handled = 0;
  for (int i = 0; i < 4; ++i)
    TThread::Start(std::make_unique<TProbe>(released, false), queue, [&handled](TThread&) { ++handled; });
  // Nothing was pumped: every worker waits for its completion, which this wait must run.
  queue.WaitForThreads();
  EXPECT_EQ(handled, 4);
  EXPECT_EQ(released, 4);
}

// A front end that is gone: it destroys what is posted to it without running it.
class TDroppingQueue : public TMainQueue {
 public:
  using TMainQueue::TMainQueue;
  void Post(TTask) override {}
  void PostDelayed(int, TTask) override {}
};

TEST(Thread, ACompletionDroppedUnrunStillReleasesTheWorker) {
  TDroppingQueue queue(test::FailOnQueueError());
  std::atomic<int> released{0};
  bool called = false;
  TThread::Start(std::make_unique<TProbe>(released, false), queue, [&called](TThread&) { called = true; });
  const auto give_up = std::chrono::steady_clock::now() + 30s;  // only stops a hang
  while (queue.LiveThreads() > 0 && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(released, 1);
  EXPECT_FALSE(called);
}

TEST(Thread, AThreadThatCannotBeCreatedReleasesItsWorkerAndIsNotCounted) {
  TLoopQueue queue(test::FailOnQueueError());
  std::atomic<int> released{0};
  bool called = false;
  {
    test::TThreadCreationFails no_threads;
    EXPECT_THROW(TThread::Start(std::make_unique<TProbe>(released, false), queue, [&](TThread&) { called = true; }),
                 std::system_error);
  }
  EXPECT_EQ(released, 1);
  EXPECT_EQ(queue.LiveThreads(), 0);
  EXPECT_FALSE(queue.WaitAndProcess(0));
  EXPECT_FALSE(called);
}

TEST(MainQueue, WaitReturnsAsSoonAsATaskRan) {
  TLoopQueue queue(test::FailOnQueueError());
  EXPECT_FALSE(queue.WaitAndProcess(0));
  EXPECT_FALSE(queue.WaitAndProcess(5));
  int ran = 0;
  std::thread poster([&] { queue.Post([&] { ++ran; }); });
  const auto start = std::chrono::steady_clock::now();
  while (!ran) queue.WaitAndProcess(10000);
  poster.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(ran, 1);
}

TEST(MainQueue, DelayedTasksRunInDueOrderAndNotBeforeTheirTime) {
  TLoopQueue queue(test::FailOnQueueError());
  std::vector<char> order;
  std::chrono::steady_clock::time_point long_ran;
  const auto posted = std::chrono::steady_clock::now();
  queue.PostDelayed(80, [&] {
    order.push_back('a');
    long_ran = std::chrono::steady_clock::now();
  });
  queue.PostDelayed(20, [&] { order.push_back('b'); });
  queue.PostDelayed(0, [&] { order.push_back('c'); });
  queue.Post([&] { order.push_back('p'); });
  EXPECT_TRUE(queue.ProcessPending());
  EXPECT_EQ(order, (std::vector<char>{'p', 'c'}));
  while (order.size() < 4) queue.WaitAndProcess(10000);
  EXPECT_EQ(order, (std::vector<char>{'p', 'c', 'b', 'a'}));
  EXPECT_GE(long_ran - posted, 80ms);
}

TEST(MainQueue, AThrowingTaskGoesToTheErrorSinkAndTheOthersStillRun) {
  test::TErrorLog errors;
  TLoopQueue queue(errors.Sink());
  int ran = 0;
  queue.Post([&] { ++ran; });
  queue.Post([] { throw std::runtime_error("first"); });
  queue.PostDelayed(0, [] { throw 42; });
  queue.PostDelayed(0, [&] { ++ran; });
  queue.Post([&] { ++ran; });
  EXPECT_TRUE(queue.ProcessPending());
  EXPECT_EQ(ran, 3);
  EXPECT_EQ(errors.errors, (std::vector<std::string>{"first", "Unknown error"}));
}

}  // namespace
}  // namespace pellavo

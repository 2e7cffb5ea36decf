#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "core/main_queue.h"
#include "core/thread.h"

namespace pellavo {
namespace {

class TProbe : public TThread {
 public:
  TProbe(TMainQueue& q, std::atomic<int>& destroyed, bool fail) : TThread(q), destroyed_(destroyed), fail_(fail) {}
  ~TProbe() override { ++destroyed_; }
  std::thread::id body_thread;
  bool body_ran = false;

 protected:
  void Execute() override {
    body_thread = std::this_thread::get_id();
    body_ran = true;
    if (fail_) throw std::runtime_error("decoder failed");
  }

 private:
  std::atomic<int>& destroyed_;
  bool fail_;
};

TEST(Thread, CompletionRunsOnTheMainThreadThenTheWorkerReleasesItself) {
  TLoopQueue queue;
  const std::thread::id main_id = std::this_thread::get_id();
  std::atomic<int> destroyed{0};
  struct Seen {
    bool called = false;
    bool on_main = false;
    bool other_thread = false;
    std::string error;
  } seen;
  for (bool fail : {false, true}) {
    seen = Seen{};
    auto* worker = new TProbe(queue, destroyed, fail);
    worker->SetFreeOnTerminate(true);
    worker->SetOnTerminate([&](TThread& t) {
      auto& probe = static_cast<TProbe&>(t);
      seen.called = true;
      seen.on_main = std::this_thread::get_id() == main_id;
      seen.other_thread = probe.body_ran && probe.body_thread != std::this_thread::get_id();
      seen.error = t.FatalError();
    });
    const int before = destroyed;
    worker->Start();
    // The worker cannot finish before its completion was handled here.
    while (!seen.called) queue.WaitAndProcess(100);
    queue.WaitForThreads();
    EXPECT_TRUE(seen.on_main);
    EXPECT_TRUE(seen.other_thread);
    EXPECT_EQ(seen.error, fail ? "decoder failed" : "");
    EXPECT_EQ(destroyed, before + 1);
  }
}

TEST(MainQueue, WaitReturnsAsSoonAsATaskRan) {
  TLoopQueue queue;
  EXPECT_FALSE(queue.WaitAndProcess(0));
  EXPECT_FALSE(queue.WaitAndProcess(5));
  int ran = 0;
  std::thread poster([&] { queue.Post([&] { ++ran; }); });
  const auto start = std::chrono::steady_clock::now();
  while (!ran) queue.WaitAndProcess(10000);
  poster.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace pellavo

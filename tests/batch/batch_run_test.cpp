#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "batch/batch_run.h"
#include "batch/fake_view.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using namespace std::chrono_literals;

// Counts how many of its kind run at once and what it was handed.
struct TProbeLog {
  std::atomic<int> running{0};
  std::atomic<int> peak{0};
  std::mutex mutex;
  std::vector<TWorkerOrder> orders;
  std::vector<std::chrono::steady_clock::time_point> starts;
};

class TProbeWorker : public TBatchWorker {
 public:
  TProbeWorker(TMainQueue& q, TProbeLog& log, TWorkerOrder order, std::chrono::milliseconds work)
      : TBatchWorker(q), log_(log), order_(std::move(order)), work_(work) {
    SetFreeOnTerminate(true);
  }
  std::string StatusText() const override { return order_.Output; }
  TFileOutcome Outcome() const override { return {order_.Source, order_.Output, "", true, false}; }

 protected:
  void Execute() override {
    const int now = ++log_.running;
    int peak = log_.peak;
    while (now > peak && !log_.peak.compare_exchange_weak(peak, now)) {
    }
    std::this_thread::sleep_for(work_);
    --log_.running;
  }

 private:
  TProbeLog& log_;
  TWorkerOrder order_;
  std::chrono::milliseconds work_;
};

class BatchRun : public ::testing::Test {
 protected:
  TWorkerFactory Factory(std::chrono::milliseconds work) {
    return [this, work](TMainQueue& q, const TWorkerOrder& order) -> TBatchWorker* {
      std::lock_guard lock(log.mutex);
      log.orders.push_back(order);
      log.starts.push_back(std::chrono::steady_clock::now());
      return new TProbeWorker(q, log, order, work);
    };
  }
  void Entries(int n) {
    for (int i = 0; i < n; ++i) view.entries.push_back("/src/img" + std::to_string(i) + ".bmp");
  }
  void Finish(TBatchRun& run) {
    while (run.Running()) queue.WaitAndProcess(100);
    queue.WaitForThreads();
  }
  int MaxShownThreads() const {
    int most = 0;
    for (const std::string& t : view.threads_texts) most = std::max(most, std::stoi(t.substr(8)));
    return most;
  }

  TLoopQueue queue;
  test::TFakeView view;
  TProbeLog log;
  std::function<void()> stopper;
};

TEST_F(BatchRun, NeverRunsMoreWorkersThanTheLimit) {
  Entries(12);
  view.settings.MaxThreads = 5;
  TBatchRun run(view, queue, Factory(20ms));
  run.Start();
  Finish(run);
  EXPECT_LE(log.peak, 5);
  EXPECT_GE(log.peak, 2) << "slots are used in parallel";
  EXPECT_LE(MaxShownThreads(), 5);
  EXPECT_EQ(view.threads_texts.back(), "Threads:0");
  EXPECT_EQ(view.statuses.size(), 12u);
  EXPECT_EQ(view.progress_pos, 0);
  EXPECT_EQ(view.progress_max, 12);
  EXPECT_FALSE(view.stop_enabled);
  EXPECT_EQ(view.minimised, 1);
  EXPECT_EQ(view.summary.rfind("Files processed: 12 in ", 0), 0u) << view.summary;
}

TEST_F(BatchRun, LimitZeroLaunchesEveryEntryAndLimitOffRunsOneAtATime) {
  Entries(8);
  view.settings.MaxThreads = 0;
  {
    TBatchRun run(view, queue, Factory(60ms));
    run.Start();
    EXPECT_EQ(run.WorkerLimit(), 8);
    Finish(run);
  }
  EXPECT_EQ(log.peak, 8);

  log.peak = 0;
  view.settings.MaxThreadsOn = false;
  view.settings.MaxThreads = 7;
  TBatchRun run(view, queue, Factory(5ms));
  run.Start();
  Finish(run);
  EXPECT_EQ(log.peak, 1);
}

TEST_F(BatchRun, StopLaunchesNoFurtherEntryAndTheSummaryCountsTheLaunched) {
  Entries(20);
  view.settings.MaxThreads = 5;
  TBatchRun run(view, queue, [this](TMainQueue& q, const TWorkerOrder& order) -> TBatchWorker* {
    std::lock_guard lock(log.mutex);
    log.orders.push_back(order);
    // STOP is pressed while the fifth worker is being launched.
    if (log.orders.size() == 5) queue.Post([this] { stopper(); });
    return new TProbeWorker(q, log, order, 80ms);
  });
  stopper = [&run] { run.Stop(); };
  run.Start();
  Finish(run);
  EXPECT_EQ(log.orders.size(), 5u);
  EXPECT_EQ(run.FinishedFiles(), 5);
  EXPECT_EQ(view.progress_pos, 15);
  EXPECT_EQ(view.summary.rfind("Files processed: 5 in ", 0), 0u) << view.summary;
}

TEST_F(BatchRun, StopWithNothingRunningStillEndsTheRun) {
  Entries(3);
  view.settings.MaxThreads = 1;
  TBatchRun run(view, queue, Factory(1ms));
  stopper = [&run] { run.Stop(); };
  view.settings.StartDelay = 50;  // the first worker ends during the delay, then STOP arrives
  queue.Post([this] { stopper(); });
  run.Start();
  Finish(run);
  EXPECT_FALSE(run.Running());
  EXPECT_EQ(log.orders.size(), 1u);
  EXPECT_EQ(view.summary.rfind("Files processed: 1 in ", 0), 0u) << view.summary;
}

TEST_F(BatchRun, StartDelaySpacesTheLaunches) {
  Entries(3);
  view.settings.StartDelay = 200;
  TBatchRun run(view, queue, Factory(1ms));
  run.Start();
  Finish(run);
  ASSERT_EQ(log.starts.size(), 3u);
  for (size_t i = 1; i < 3; ++i) EXPECT_GE(log.starts[i] - log.starts[i - 1], 200ms);
}

TEST_F(BatchRun, DestinationMustExist) {
  Entries(2);
  test::TTempDir dir;
  struct Case {
    bool fast_copy;
    std::string dest;
    const char* message;
    bool cleared;
  };
  const Case cases[] = {
      {true, "", "You must specify an existing destination folder", false},
      {true, dir.File("missing"), "You must specify an existing destination folder", false},
      {false, dir.File("missing"), "You must specify an existing destination folder or leave blank", true},
  };
  for (const Case& c : cases) {
    view.messages.clear();
    view.destination_cleared = false;
    view.settings.FastCopy = c.fast_copy;
    view.settings.DestFolder = c.dest;
    TBatchRun run(view, queue, Factory(1ms));
    run.Start();
    EXPECT_FALSE(run.Running());
    EXPECT_EQ(view.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(view.destination_cleared, c.cleared);
    EXPECT_TRUE(log.orders.empty());
  }
  // An empty list does nothing at all.
  view.entries.clear();
  view.messages.clear();
  TBatchRun run(view, queue, Factory(1ms));
  run.Start();
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(BatchRun, RunWideOptionsAreFixedAtStartAndPerFileOnesAreReadPerLaunch) {
  Entries(3);
  view.settings.SizeMode = TSizeMode::Percent;
  view.settings.PercentSize = 40;
  view.settings.PixelSize = 999;
  view.settings.NameAddition = TNameAddition::PostFix;
  view.settings.AdditionText = "_$";
  view.settings.MaxThreads = 1;
  TBatchRun run(view, queue, Factory(1ms));
  // Changed while the first worker runs: the mode applies to later entries, the size does not.
  queue.Post([this] {
    view.settings.SizeMode = TSizeMode::Width;
    view.settings.PixelSize = 123;
    view.settings.AdditionText = "changed";
  });
  run.Start();
  Finish(run);
  ASSERT_EQ(log.orders.size(), 3u);
  EXPECT_EQ(log.orders[0].Settings.SizeMode, TSizeMode::Percent);
  EXPECT_EQ(log.orders[2].Settings.SizeMode, TSizeMode::Width);
  for (const TWorkerOrder& o : log.orders) EXPECT_EQ(o.SizeValue, 40);
  EXPECT_EQ(log.orders[2].Output, "/src/img2_2.bmp");

  // The next run with a prefix carries only the prefix.
  log.orders.clear();
  view.settings.NameAddition = TNameAddition::Prefix;
  view.settings.AdditionText = "p$";
  run.Start();
  Finish(run);
  EXPECT_EQ(log.orders[1].Output, "/src/p1img1.bmp");
}

TEST(SummaryText, TwoDecimalsWithTheGivenSeparator) {
  EXPECT_EQ(SummaryText(3, 61500, '.'), "Files processed: 3 in 61.50 secs");
  EXPECT_EQ(SummaryText(1, 61500, ','), "Files processed: 1 in 61,50 secs");
  EXPECT_EQ(SummaryText(0, 7, '.'), "Files processed: 0 in 0.01 secs");
}

}  // namespace
}  // namespace pellavo

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <semaphore>
#include <set>
#include <stdexcept>
#include <system_error>

#include "batch/batch_run.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"
#include "support/threads.h"

namespace pellavo {
namespace {

using namespace std::chrono_literals;

// What the probe workers of one run share. Each probe counts itself as running when its body
// starts, then waits at the gate until the test lets it through.
struct TProbeLog {
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;  // under mutex
  int peak = 0;     // under mutex
  int released = 0;  // probes destroyed; under mutex
  std::counting_semaphore<> gate{0};

  // Main thread only: what the factory was asked for, and when.
  std::vector<TWorkerOrder> orders;
  std::vector<std::chrono::steady_clock::time_point> launches;

  void Enter() {
    std::lock_guard lock(mutex);
    peak = std::max(peak, ++running);
    changed.notify_all();
  }
  void Leave() {
    std::lock_guard lock(mutex);
    --running;
  }
  void Released() {
    std::lock_guard lock(mutex);
    ++released;
  }
  // Waits until n probes are inside their body at once; the time limit only stops a hang.
  bool WaitUntilRunning(int n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 30s, [&] { return running == n; });
  }
  int Peak() {
    std::lock_guard lock(mutex);
    return peak;
  }
  int ReleasedCount() {
    std::lock_guard lock(mutex);
    return released;
  }
  void Open() { gate.release(1 << 20); }
};

class TProbeWorker : public TBatchWorker {
 public:
  TProbeWorker(const TWorkerOrder& order, TProbeLog& log) : TBatchWorker(order), log_(log) {}
  ~TProbeWorker() override { log_.Released(); }

 protected:
  TWorkerReport Work() override {
    log_.Enter();
    log_.gate.acquire();
    log_.Leave();
    return {Order().Output, {Order().Source, Order().Output, "", true, false}};
  }

 private:
  TProbeLog& log_;
};

// A loop queue whose delayed tasks wait until the test fires them, so that a test decides when
// a start delay has passed.
class TManualDelayQueue : public TLoopQueue {
 public:
  using TLoopQueue::TLoopQueue;
  void PostDelayed(int, TTask task) override { delayed_.push_back(std::move(task)); }
  size_t DelayedCount() const { return delayed_.size(); }
  void FireDelayed() {
    std::vector<TTask> due;
    due.swap(delayed_);
    for (const TTask& task : due) RunGuarded(task);
  }

 private:
  std::vector<TTask> delayed_;
};

// One run's surroundings: the probes' log, the queue, the view. Whatever a test left running
// is let through and waited for before any of them goes.
template <class Queue = TLoopQueue>
struct TProbeRun {
  explicit TProbeRun(int entries, TMainQueue::TErrorSink sink = test::FailOnQueueError()) : queue(std::move(sink)) {
    for (int i = 0; i < entries; ++i) view.entries.push_back("/src/img" + std::to_string(i) + ".bmp");
  }
  ~TProbeRun() {
    log.Open();
    queue.WaitForThreads();
  }
  TWorkerFactory Factory() {
    return [this](const TWorkerOrder& order) -> std::unique_ptr<TBatchWorker> {
      log.orders.push_back(order);
      log.launches.push_back(std::chrono::steady_clock::now());
      return std::make_unique<TProbeWorker>(order, log);
    };
  }
  // Runs the queue until n files of the run have been handled.
  void HandleUntilFinished(TBatchRun& run, int n) {
    while (run.Running() && run.FinishedFiles() < n) queue.WaitAndProcess(100);
  }
  void Finish(TBatchRun& run) {
    log.Open();
    while (run.Running()) queue.WaitAndProcess(100);
    queue.WaitForThreads();
  }

  TProbeLog log;
  Queue queue;
  test::TFakeView view;
};

TEST(BatchRun, TheLimitHoldsAndAFreedSlotIsTakenByTheCompletionThatFreesIt) {
  struct Case {
    bool limit_on;
    int limit;
    int at_once;  // of 8 entries
  };
  const Case cases[] = {{true, 5, 5}, {true, 0, 8}, {false, 7, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "limit " << c.limit_on << " " << c.limit);
    TProbeRun probe(8);
    probe.view.settings.MaxThreadsOn = c.limit_on;
    probe.view.settings.MaxThreads = c.limit;
    TBatchRun run(probe.view, probe.queue, probe.Factory());
    run.Start();
    EXPECT_EQ(run.WorkerLimit(), c.at_once);
    ASSERT_EQ(probe.log.orders.size(), size_t(c.at_once)) << "Start launches up to the limit and returns";
    ASSERT_TRUE(probe.log.WaitUntilRunning(c.at_once));
    run.Start();  // a second Start during the run changes nothing
    EXPECT_EQ(probe.log.orders.size(), size_t(c.at_once));
    EXPECT_EQ(run.ActiveWorkers(), c.at_once);

    if (c.at_once < 8) {
      probe.log.gate.release(1);
      probe.HandleUntilFinished(run, 1);
      EXPECT_EQ(probe.log.orders.size(), size_t(c.at_once + 1));
    }
    probe.Finish(run);
    EXPECT_EQ(probe.log.Peak(), c.at_once);
    EXPECT_EQ(probe.view.MaxShownThreads(), c.at_once);
    EXPECT_EQ(probe.log.ReleasedCount(), 8);
    ASSERT_EQ(probe.log.orders.size(), 8u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(probe.log.orders[i].Source, probe.view.entries[i]) << "list order";
    EXPECT_EQ(probe.view.threads_texts.back(), "Threads:0");
    EXPECT_EQ(probe.view.statuses.size(), 8u);
    EXPECT_EQ(probe.view.progress_max, 8);
    EXPECT_EQ(probe.view.progress_pos, 0);
    EXPECT_FALSE(probe.view.stop_enabled);
    EXPECT_EQ(probe.view.alerted, 1);
    EXPECT_EQ(probe.view.not_launched, -1) << "a run that launched everything was not stopped";
    EXPECT_EQ(probe.view.summary.rfind("Files processed: 8 in ", 0), 0u) << probe.view.summary;
  }
}

TEST(BatchRun, StopLaunchesNoFurtherEntryAndTheSummaryCountsTheLaunched) {
  TProbeRun probe(20);
  probe.view.settings.MaxThreads = 5;
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  ASSERT_TRUE(probe.log.WaitUntilRunning(5));
  run.Stop();
  EXPECT_TRUE(run.Running()) << "the launched workers still finish";
  probe.Finish(run);
  EXPECT_EQ(probe.log.orders.size(), 5u);
  EXPECT_EQ(run.FinishedFiles(), 5);
  EXPECT_EQ(probe.view.progress_pos, 15);
  EXPECT_EQ(probe.view.alerted, 1);
  EXPECT_EQ(probe.view.not_launched, 15);
  EXPECT_EQ(probe.view.summary.rfind("Files processed: 5 in ", 0), 0u) << probe.view.summary;
}

TEST(BatchRun, StopDuringAStartDelayWithNothingRunningEndsTheRunAtOnce) {
  TProbeRun<TManualDelayQueue> probe(3);
  probe.view.settings.StartDelay = 200;
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  EXPECT_EQ(probe.log.orders.size(), 1u) << "the next entry waits for the delay, though slots are free";
  ASSERT_EQ(probe.queue.DelayedCount(), 1u);
  probe.log.Open();
  probe.HandleUntilFinished(run, 1);
  EXPECT_EQ(probe.log.orders.size(), 1u);

  run.Stop();
  EXPECT_FALSE(run.Running());
  EXPECT_FALSE(probe.view.stop_enabled);
  EXPECT_EQ(probe.view.summary.rfind("Files processed: 1 in ", 0), 0u) << probe.view.summary;
  probe.queue.FireDelayed();  // the delay of the ended run passes
  EXPECT_EQ(probe.log.orders.size(), 1u);
  EXPECT_EQ(probe.view.alerted, 1);
}

TEST(BatchRun, StartDelaySpacesTheLaunches) {
  TProbeRun probe(3);
  probe.view.settings.StartDelay = 100;
  probe.log.Open();
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  probe.Finish(run);
  ASSERT_EQ(probe.log.launches.size(), 3u);
  for (size_t i = 1; i < 3; ++i) EXPECT_GE(probe.log.launches[i] - probe.log.launches[i - 1], 100ms);
}

TEST(BatchRun, ADestroyedRunIgnoresItsCompletionsAndPendingLaunchWhileItsWorkersStillEnd) {
  TProbeRun<TManualDelayQueue> probe(4);
  probe.view.settings.StartDelay = 50;
  {
    TBatchRun run(probe.view, probe.queue, probe.Factory());
    run.Start();
    ASSERT_TRUE(probe.log.WaitUntilRunning(1));
    ASSERT_EQ(probe.queue.DelayedCount(), 1u);
  }
  const size_t threads_texts = probe.view.threads_texts.size();
  probe.queue.FireDelayed();
  probe.log.Open();
  probe.queue.WaitForThreads();
  EXPECT_EQ(probe.log.orders.size(), 1u);
  EXPECT_EQ(probe.log.ReleasedCount(), 1);
  EXPECT_EQ(probe.queue.LiveThreads(), 0);
  EXPECT_EQ(probe.view.threads_texts.size(), threads_texts);
  EXPECT_TRUE(probe.view.statuses.empty());
  EXPECT_TRUE(probe.view.summary.empty());
}

TEST(BatchRun, AWorkerThatCannotStartEndsTheRunAfterTheLaunchedOnes) {
  {
    // The first launch fails: Start reports it and the run is over at once.
    TProbeRun probe(3);
    TBatchRun run(probe.view, probe.queue, probe.Factory());
    {
      test::TThreadCreationFails no_threads;
      EXPECT_THROW(run.Start(), std::system_error);
    }
    EXPECT_FALSE(run.Running());
    EXPECT_EQ(run.ActiveWorkers(), 0);
    EXPECT_EQ(probe.log.orders.size(), 1u);
    EXPECT_EQ(probe.log.ReleasedCount(), 1) << "the worker that never ran is released";
    EXPECT_EQ(probe.queue.LiveThreads(), 0);
    EXPECT_EQ(probe.view.summary.rfind("Files processed: 0 in ", 0), 0u) << probe.view.summary;
  }
  {
    // A later launch fails inside a completion: the front end hears of it, and the run ends.
    test::TErrorLog errors;
    TProbeRun probe(3, errors.Sink());
    probe.view.settings.MaxThreads = 1;
    TBatchRun run(probe.view, probe.queue, probe.Factory());
    run.Start();
    ASSERT_TRUE(probe.log.WaitUntilRunning(1));
    {
      test::TThreadCreationFails no_threads;
      probe.log.Open();
      probe.HandleUntilFinished(run, 1);
    }
    EXPECT_FALSE(run.Running());
    EXPECT_EQ(errors.errors.size(), 1u);
    EXPECT_EQ(probe.log.orders.size(), 2u);
    probe.queue.WaitForThreads();
    EXPECT_EQ(probe.log.ReleasedCount(), 2);
    EXPECT_EQ(probe.view.summary.rfind("Files processed: 1 in ", 0), 0u) << probe.view.summary;
  }
}

TEST(BatchRun, EntriesRemovedDuringTheRunEndItAfterTheLaunchedOnes) {
  TProbeRun probe(3);
  probe.view.settings.MaxThreads = 1;
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  probe.view.entries.resize(1);
  probe.Finish(run);
  EXPECT_EQ(probe.log.orders.size(), 1u);
  EXPECT_EQ(probe.view.summary.rfind("Files processed: 1 in ", 0), 0u) << probe.view.summary;
}

TEST(BatchRun, StartEntriesRunsOnlyThoseAndEachKeepsItsNumber) {
  TProbeRun probe(5);
  probe.view.settings.NameAddition = TNameAddition::PostFix;
  probe.view.settings.AdditionText = "_$";
  probe.view.settings.MaxThreads = 1;
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.StartEntries({3, 1, 9});  // 9 is not in the list
  probe.Finish(run);
  ASSERT_EQ(probe.log.orders.size(), 2u);
  EXPECT_EQ(probe.log.orders[0].Output, "/src/img3_3.bmp");
  EXPECT_EQ(probe.log.orders[1].Output, "/src/img1_1.bmp");
  ASSERT_EQ(probe.view.outcomes.size(), 2u);
  EXPECT_EQ(probe.view.outcomes[0].Entry, 3);
  EXPECT_EQ(probe.view.outcomes[1].Entry, 1);
  EXPECT_EQ(probe.view.progress_max, 2);
  EXPECT_EQ(probe.view.not_launched, -1);
  EXPECT_EQ(probe.view.summary.rfind("Files processed: 2 in ", 0), 0u) << probe.view.summary;
}

TEST(BatchRun, AbandonedFilesEndAsInterruptedOnTheirOwnEntries) {
  TProbeRun probe(3);
  probe.view.settings.MaxThreads = 2;
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  ASSERT_TRUE(probe.log.WaitUntilRunning(2));
  run.Abandon();
  EXPECT_FALSE(run.Running());
  ASSERT_EQ(probe.view.outcomes.size(), 2u);
  std::set<int> entries;
  for (const TFileOutcome& o : probe.view.outcomes) {
    EXPECT_EQ(o.Error, "interrupted");
    entries.insert(o.Entry);
  }
  EXPECT_EQ(entries, (std::set<int>{0, 1}));
  EXPECT_EQ(probe.view.not_launched, 1);
  probe.Finish(run);
  EXPECT_EQ(probe.view.outcomes.size(), 2u) << "the abandoned workers' own ends are not heard";
}

TEST(BatchRun, StartWithNothingToRunSaysSoAndStartsNothing) {
  TProbeRun probe(0);
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  probe.view.entries = {"/src/a.bmp"};
  run.StartEntries({4});
  EXPECT_FALSE(run.Running());
  EXPECT_TRUE(probe.log.orders.empty());
  EXPECT_EQ(probe.view.statuses,
            (std::vector<std::string>{"Nothing to process: the source list is empty", "Nothing to process"}));
  EXPECT_TRUE(probe.view.summary.empty());
}

// A body that lets an error escape, which the real workers never do.
class TThrowingWorker : public TBatchWorker {
 public:
  using TBatchWorker::TBatchWorker;

 protected:
  TWorkerReport Work() override { throw std::runtime_error("out of memory"); }
};

TEST(BatchRun, AnErrorEscapingAWorkerCountsItsEntryAsFailedWithThatError) {
  test::TFakeView view;
  view.entries = {"/src/a.bmp"};
  view.Run([](const TWorkerOrder& order) { return std::make_unique<TThrowingWorker>(order); });
  ASSERT_EQ(view.outcomes.size(), 1u);
  EXPECT_EQ(view.outcomes[0].Source, "/src/a.bmp");
  EXPECT_EQ(view.outcomes[0].Error, "out of memory");
  EXPECT_FALSE(view.outcomes[0].Written);
  EXPECT_EQ(view.statuses, std::vector<std::string>{""});
  EXPECT_EQ(view.summary.rfind("Files processed: 1 in ", 0), 0u) << view.summary;
}

TEST(BatchRun, DestinationMustExist) {
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
    TProbeRun probe(2);
    probe.view.settings.FastCopy = c.fast_copy;
    probe.view.settings.DestFolder = c.dest;
    TBatchRun run(probe.view, probe.queue, probe.Factory());
    run.Start();
    EXPECT_FALSE(run.Running());
    EXPECT_EQ(probe.view.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(probe.view.destination_cleared, c.cleared);
    EXPECT_TRUE(probe.log.orders.empty());
  }
  // An empty list does nothing at all.
  TProbeRun probe(0);
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  EXPECT_FALSE(run.Running());
  EXPECT_TRUE(probe.view.messages.empty());
  EXPECT_EQ(probe.view.progress_max, -1);
}

TEST(BatchRun, RunWideOptionsAreFixedAtStartAndPerFileOnesAreReadPerLaunch) {
  TProbeRun probe(3);
  TRunSettings& settings = probe.view.settings;
  settings.SizeMode = TSizeMode::Percent;
  settings.PercentSize = 40;
  settings.PixelSize = 999;
  settings.NameAddition = TNameAddition::PostFix;
  settings.AdditionText = "_$";
  settings.MaxThreads = 1;
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  // Changed while the first worker runs: the mode applies to later entries, the size does not.
  settings.SizeMode = TSizeMode::Width;
  settings.PixelSize = 123;
  settings.AdditionText = "changed";
  probe.Finish(run);
  ASSERT_EQ(probe.log.orders.size(), 3u);
  EXPECT_EQ(probe.log.orders[0].Settings.SizeMode, TSizeMode::Percent);
  EXPECT_EQ(probe.log.orders[2].Settings.SizeMode, TSizeMode::Width);
  for (const TWorkerOrder& o : probe.log.orders) EXPECT_EQ(o.SizeValue, 40);
  EXPECT_EQ(probe.log.orders[2].Output, "/src/img2_2.bmp");

  // The next run with a prefix carries only the prefix.
  probe.log.orders.clear();
  settings.NameAddition = TNameAddition::Prefix;
  settings.AdditionText = "p$";
  run.Start();
  probe.Finish(run);
  ASSERT_EQ(probe.log.orders.size(), 3u);
  EXPECT_EQ(probe.log.orders[1].Output, "/src/p1img1.bmp");
}

// The replace question is asked once, at Start, yet overwriting, the destination and the format
// are read again for each file: an original Start did not ask about must never be replaced.
TEST(BatchRun, OnlyTheOriginalsStartAskedAboutAreReplaced) {
  struct TCase {
    const char* what;
    bool overwrite_at_start;
    bool dest_at_start;
    bool overwrite_later;
    bool dest_later;
    int questions;           // replace questions asked at Start
    bool later_overwrites;   // whether entries launched after the change still overwrite
  } cases[] = {
      {"overwriting turned on mid-run", false, false, true, false, 0, false},
      {"destination cleared mid-run", true, true, true, false, 0, false},
      {"agreed at Start", true, false, true, false, 1, true},
      {"outputs that are no source", true, true, true, true, 0, true},
  };
  for (const TCase& c : cases) {
    test::TTempDir dir;
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0755), 0);
    TProbeRun probe(0);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
      test::WriteBytes(dir.File(name), {1, 2, 3});
      probe.view.entries.push_back(dir.File(name));
    }
    TRunSettings& settings = probe.view.settings;
    settings.MaxThreads = 1;
    settings.Overwrite = c.overwrite_at_start;
    settings.DestFolder = c.dest_at_start ? dir.File("out") : "";
    TBatchRun run(probe.view, probe.queue, probe.Factory());
    run.Start();
    ASSERT_TRUE(run.Running()) << c.what;
    settings.Overwrite = c.overwrite_later;
    settings.DestFolder = c.dest_later ? dir.File("out") : "";
    probe.Finish(run);
    EXPECT_EQ(probe.view.replace_questions.size(), size_t(c.questions)) << c.what;
    ASSERT_EQ(probe.log.orders.size(), 3u) << c.what;
    for (size_t i = 1; i < 3; ++i) EXPECT_EQ(probe.log.orders[i].Settings.Overwrite, c.later_overwrites) << c.what;
  }
}

// An addition that would put outputs outside their folder stops Start with a message; a single
// entry whose output would still leave the folder fails by name, and nothing is made for it.
TEST(BatchRun, OutputsThatWouldLeaveTheirFolderAreRefused) {
  for (TNameAddition where : {TNameAddition::Prefix, TNameAddition::PostFix}) {
    TProbeRun probe(2);
    probe.view.settings.NameAddition = where;
    probe.view.settings.AdditionText = "../";
    TBatchRun run(probe.view, probe.queue, probe.Factory());
    run.Start();
    EXPECT_FALSE(run.Running());
    ASSERT_EQ(probe.view.messages.size(), 1u);
    EXPECT_NE(probe.view.messages[0].find("must not contain \"/\""), std::string::npos) << probe.view.messages[0];
    EXPECT_TRUE(probe.log.orders.empty());
  }

  // An entry without a file name (the open-file dialog takes anything) and the prefix ".."
  // would name the parent folder itself.
  TProbeRun probe(0);
  probe.view.entries = {"/src/a.bmp", "/src/", "/src/b.bmp"};
  probe.view.settings.NameAddition = TNameAddition::Prefix;
  probe.view.settings.AdditionText = "..";
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  probe.Finish(run);
  ASSERT_EQ(probe.log.orders.size(), 2u);
  EXPECT_EQ(probe.log.orders[0].Output, "/src/..a.bmp");
  const TFileOutcome& refused = probe.view.For("/src/");
  EXPECT_FALSE(refused.Written);
  EXPECT_NE(refused.Error.find("would not lie in the folder \"/src/\""), std::string::npos) << refused.Error;
  EXPECT_EQ(probe.view.summary.rfind("Files processed: 3 in ", 0), 0u) << probe.view.summary;
}

// Leftovers of killed runs go from the folders a run writes into, once they are a day old.
TEST(BatchRun, StaleTemporaryFilesGoFromTheFoldersWrittenTo) {
  test::TTempDir out;
  test::LeftoverOfAKilledRun(out.Path(), 48);
  const std::string fresh = test::LeftoverOfAKilledRun(out.Path(), 1);
  // The user's own file of a temporary file's name stays, however old.
  test::WriteBytes(out.File(".pv-mine00"), {1});
  test::AgeFile(out.File(".pv-mine00"), 48);
  TProbeRun probe(2);
  probe.view.settings.DestFolder = out.Path();
  TBatchRun run(probe.view, probe.queue, probe.Factory());
  run.Start();
  probe.Finish(run);
  std::vector<std::string> kept = {".pv-mine00", fresh};
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(out.List(), kept);
}

TEST(SummaryText, TwoDecimalsWithTheGivenSeparator) {
  EXPECT_EQ(SummaryText(3, 61500, '.'), "Files processed: 3 in 61.50 secs");
  EXPECT_EQ(SummaryText(1, 61500, ','), "Files processed: 1 in 61,50 secs");
  EXPECT_EQ(SummaryText(0, 7, '.'), "Files processed: 0 in 0.01 secs");
}

}  // namespace
}  // namespace pellavo

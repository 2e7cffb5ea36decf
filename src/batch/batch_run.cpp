#include "batch/batch_run.h"

#include <chrono>
#include <cstdio>
#include <locale>
#include <map>
#include <set>

#include "batch/output_folder.h"
#include "core/chunk_pool.h"
#include "core/core_gate.h"
#include "core/files.h"
#include "core/limits.h"
#include "core/memory_budget.h"
#include "formats/output_formats.h"

namespace pellavo {

// The run itself. Completions and delayed launches hold it weakly, so they find nothing once the
// run is destroyed; while one of them runs it holds the state strongly, so the state outlives the
// call even when the front end destroys the run from inside a view callback.
class TBatchRun::TState : public std::enable_shared_from_this<TState> {
 public:
  TState(TRunView& view, TMainQueue& queue, TWorkerFactory factory)
      : view_(view), queue_(queue), factory_(std::move(factory)) {}

  void Start();
  void Stop();
  void Abandon();

  bool Running() const { return running_; }
  int ActiveWorkers() const { return active_workers_; }
  int FinishedFiles() const { return finished_files_; }
  int WorkerLimit() const { return worker_limit_; }

 private:
  void LaunchWhilePossible();
  void LaunchOne(int index);
  // Ends an entry without a worker, through the queue like a worker's completion, so that the
  // accounting is the same.
  void FinishWithoutWorker(uint64_t launch, TWorkerReport report);
  // Why no output can be written into folder (its missing part made here), or empty.
  std::string PrepareOutputFolder(const TOutputFolder& folder);
  void WorkerStarted(uint64_t launch, const std::string& source);
  void WorkerFinished(uint64_t launch, const TWorkerReport& report);
  void CountFinished(const TWorkerReport& report);
  void DelayElapsed(uint64_t delay);
  bool RunIsOver() const;
  void EndRun();

  TRunView& view_;
  TMainQueue& queue_;
  TWorkerFactory factory_;

  bool running_ = false;
  bool stop_requested_ = false;
  int entry_count_ = 0;
  int next_entry_ = 0;  // the list position launched next
  // This run's share of the list: the positions shard_index_, + shard_count_, ...
  int shard_index_ = 0;
  int shard_count_ = 1;
  int shard_entries_ = 0;  // how many positions of the list that is
  int skipped_files_ = 0;  // entries whose output existed
  int active_workers_ = 0;
  int finished_files_ = 0;
  int worker_limit_ = 1;
  int size_value_ = 0;
  // The start delay being waited out, 0 when none. Each delay has its own number, so that one
  // left over from an ended run cannot cut short a delay of the next run.
  uint64_t pending_delay_ = 0;
  uint64_t last_delay_ = 0;
  std::string name_prefix_;
  std::string name_postfix_;
  std::optional<std::string> subfolder_;
  bool keep_tree_ = false;
  uint64_t max_image_bytes_ = kDefaultMaxImageBytes;
  // Owned by the run and shared with its workers: one still waiting for room when the run is
  // gone keeps it alive.
  std::shared_ptr<TMemoryBudget> budget_;
  std::shared_ptr<TChunkPool> chunks_;  // for the length of a run, so an idle window holds none
  std::shared_ptr<TCoreGate> cores_;
  std::shared_ptr<TFreeNames> free_names_;  // new for each run: names taken outside it are unknown
  // The sources of the workers whose completion is awaited, by launch number: numbers are never
  // reused, so the completion of a worker abandoned in an earlier run finds nothing here.
  std::map<uint64_t, std::string> awaited_;
  uint64_t last_launch_ = 0;
  std::set<std::string> swept_folders_;  // output folders cleared of stale temporary files this run
  // Output folders this run made or checked, each with why it cannot be used (empty when it can).
  std::map<std::string, std::string> prepared_folders_;
  std::chrono::steady_clock::time_point run_start_;
};

void TBatchRun::TState::Start() {
  if (running_) return;  // a second Start would reset counters under running workers
  const int count = view_.EntryCount();
  if (count == 0) return;

  TRunSettings settings = view_.Settings();
  if (settings.FastCopy) {
    if (settings.DestFolder.empty() || !DirectoryExists(settings.DestFolder)) {
      view_.ShowMessage("You must specify an existing destination folder");
      return;
    }
  } else if (!settings.DestFolder.empty() && !DirectoryExists(settings.DestFolder)) {
    view_.ShowMessage("You must specify an existing destination folder or leave blank");
    view_.ClearDestination();
    return;
  }

  if (settings.NameAddition != TNameAddition::None) {
    if (const std::string problem = NameAdditionProblem(settings.AdditionText); !problem.empty()) {
      view_.ShowMessage(problem);
      return;
    }
  }

  if (const std::string problem = RunSettingsProblem(settings); !problem.empty()) {
    view_.ShowMessage(problem);
    return;
  }

  worker_limit_ = WorkerLimitOf(settings, count);
  swept_folders_.clear();
  prepared_folders_.clear();
  active_workers_ = 0;
  finished_files_ = 0;
  skipped_files_ = 0;
  entry_count_ = count;
  shard_index_ = settings.ShardIndex;
  shard_count_ = settings.ShardCount;
  shard_entries_ = ShardEntryCount(settings, count);
  next_entry_ = shard_index_;
  view_.SetProgress(shard_entries_, shard_entries_);
  name_prefix_ = settings.NameAddition == TNameAddition::Prefix ? settings.AdditionText : std::string();
  name_postfix_ = settings.NameAddition == TNameAddition::PostFix ? settings.AdditionText : std::string();
  subfolder_ = settings.Subfolder;
  keep_tree_ = settings.KeepTree;
  stop_requested_ = false;
  view_.SetStopEnabled(true);
  run_start_ = std::chrono::steady_clock::now();
  size_value_ = SizeValueOf(settings);
  max_image_bytes_ = settings.MaxImageBytes;
  budget_ = std::make_shared<TMemoryBudget>(settings.MemoryBudgetBytes ? settings.MemoryBudgetBytes
                                                                       : DefaultMemoryBudget());
  chunks_ = std::make_shared<TChunkPool>(kKeptChunks);
  cores_ = std::make_shared<TCoreGate>(UsableCores());
  free_names_ = std::make_shared<TFreeNames>();
  running_ = true;
  view_.SetRunning(true);

  LaunchWhilePossible();
}

void TBatchRun::TState::Stop() {
  stop_requested_ = true;
  // With nothing active no completion will come to end the run.
  if (RunIsOver()) EndRun();
}

void TBatchRun::TState::LaunchWhilePossible() {
  try {
    while (running_ && pending_delay_ == 0 && next_entry_ < entry_count_ && active_workers_ < worker_limit_) {
      // STOP is looked at only when a slot is free, just before the next worker would be created.
      if (stop_requested_) break;
      // Entries removed from the list during the run end the launching there, as STOP would.
      if (next_entry_ >= view_.EntryCount()) {
        stop_requested_ = true;
        break;
      }
      const int index = next_entry_;
      next_entry_ += shard_count_;
      LaunchOne(index);
      const int delay = view_.Settings().StartDelay;
      if (delay > 0 && next_entry_ < entry_count_) {
        pending_delay_ = ++last_delay_;
        queue_.PostDelayed(delay, [weak = weak_from_this(), id = pending_delay_] {
          if (const auto self = weak.lock()) self->DelayElapsed(id);
        });
      }
    }
  } catch (...) {
    // A worker that could not be started: launch nothing more, and end the run if nothing runs.
    stop_requested_ = true;
    if (RunIsOver()) EndRun();
    throw;
  }
  if (RunIsOver()) EndRun();
}

void TBatchRun::TState::LaunchOne(int index) {
  TWorkerOrder order;
  order.Settings = view_.Settings();
  order.Source = view_.Entry(index);
  order.SizeValue = size_value_;
  order.Settings.MaxImageBytes = max_image_bytes_;
  order.Budget = budget_;
  order.Chunks = chunks_;
  order.Cores = cores_;
  order.FreeNames = free_names_;
  const std::optional<TOutputFolder> chosen =
      ChosenOutputFolder(order.Source, keep_tree_ ? view_.EntryFolder(index) : std::string(),
                         TOutputFolderRule{order.Settings.DestFolder, subfolder_, keep_tree_});
  const std::string dest = chosen ? chosen->Path() : std::string();
  // A copy keeps its bytes, so it keeps the extension that says what they are.
  const TOutputFormat format = order.Settings.FastCopy ? TOutputFormat::Source : order.Settings.OutputFormat;
  order.Output = OutputFileName(order.Source, index, TNamingRule{format, dest, name_prefix_, name_postfix_});
  const uint64_t launch = ++last_launch_;

  TWorkerReport report;
  report.Outcome.Source = order.Source;
  const std::string folder = OutputFolderOf(order.Source, dest);
  if (!OutputStaysIn(order.Output, folder)) {
    // Nothing is created for this entry; it ends like a failed worker.
    report.Outcome.Error = "The output name \"" + order.Output + "\" would not lie in the folder \"" + folder + "\"";
    FinishWithoutWorker(launch, std::move(report));
    return;
  }
  if (order.Settings.SkipExisting) {
    // The name the worker would publish under, were it free: what a finished earlier run wrote.
    const std::string written = order.Settings.FastCopy ? order.Output : WrittenFileName(order.Output);
    if (FileExists(written)) {
      report.StatusText = written;
      report.Outcome.Output = written;
      report.Outcome.ExistingOutput = true;
      FinishWithoutWorker(launch, std::move(report));
      return;
    }
  }
  if (chosen) {
    if (std::string problem = PrepareOutputFolder(*chosen); !problem.empty()) {
      report.Outcome.Error = std::move(problem);
      FinishWithoutWorker(launch, std::move(report));
      return;
    }
  }
  // Leftovers of killed runs go before this run writes into the folder.
  if (swept_folders_.insert(folder).second) RemoveStaleTempFiles(folder, kStaleTempAge);

  TBatchWorker::Launch(factory_(order), queue_, [weak = weak_from_this(), launch](TWorkerReport finished) {
    if (const auto self = weak.lock()) self->WorkerFinished(launch, finished);
  });
  WorkerStarted(launch, order.Source);
}

std::string TBatchRun::TState::PrepareOutputFolder(const TOutputFolder& folder) {
  const auto known = prepared_folders_.find(folder.Path());
  if (known != prepared_folders_.end()) return known->second;
  // Made once a run, and refused once for all the entries that would go there.
  std::string problem = MakeFoldersBelow(folder.Existing.empty() ? "." : folder.Existing, folder.Made);
  prepared_folders_.emplace(folder.Path(), problem);
  return problem;
}

void TBatchRun::TState::FinishWithoutWorker(uint64_t launch, TWorkerReport report) {
  WorkerStarted(launch, report.Outcome.Source);
  queue_.Post([weak = weak_from_this(), launch, report = std::move(report)]() mutable {
    if (const auto self = weak.lock()) self->WorkerFinished(launch, report);
  });
}

void TBatchRun::TState::WorkerStarted(uint64_t launch, const std::string& source) {
  awaited_.emplace(launch, source);
  ++active_workers_;
  view_.SetThreadsText("Threads:" + std::to_string(active_workers_));
}

void TBatchRun::TState::WorkerFinished(uint64_t launch, const TWorkerReport& report) {
  if (awaited_.erase(launch) == 0) return;  // abandoned: already counted as failed
  CountFinished(report);
  if (RunIsOver())
    EndRun();
  else
    LaunchWhilePossible();  // a freed slot is taken now
}

void TBatchRun::TState::Abandon() {
  if (!running_) return;
  stop_requested_ = true;
  pending_delay_ = 0;
  // Taken out first: a view callback below must not see them as still running.
  std::map<uint64_t, std::string> abandoned;
  abandoned.swap(awaited_);
  for (const auto& [launch, source] : abandoned) {
    TWorkerReport report;
    report.Outcome.Source = source;
    report.Outcome.Error = "interrupted";
    CountFinished(report);
  }
  if (RunIsOver()) EndRun();
}

void TBatchRun::TState::CountFinished(const TWorkerReport& report) {
  view_.SetStatusText(report.StatusText);
  ++finished_files_;
  if (report.Outcome.ExistingOutput) ++skipped_files_;
  --active_workers_;
  view_.SetProgress(shard_entries_, shard_entries_ - finished_files_);
  view_.SetThreadsText("Threads:" + std::to_string(active_workers_));
  view_.FileFinished(report.Outcome);
}

void TBatchRun::TState::DelayElapsed(uint64_t delay) {
  if (delay != pending_delay_) return;
  pending_delay_ = 0;
  LaunchWhilePossible();
}

bool TBatchRun::TState::RunIsOver() const {
  if (!running_ || active_workers_ != 0) return false;
  return finished_files_ == shard_entries_ || stop_requested_;
}

void TBatchRun::TState::EndRun() {
  running_ = false;
  chunks_.reset();
  pending_delay_ = 0;
  view_.SetStopEnabled(false);
  view_.MinimizeAndRestore();
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - run_start_);
  std::string summary = SummaryText(finished_files_, elapsed.count(), UserDecimalSeparator());
  if (skipped_files_ > 0) summary += ", " + std::to_string(skipped_files_) + " skipped";
  view_.SetSummaryText(summary);
  view_.SetRunning(false);
}

TBatchRun::TBatchRun(TRunView& view, TMainQueue& queue, TWorkerFactory factory)
    : state_(std::make_shared<TState>(view, queue, std::move(factory))) {}

TBatchRun::~TBatchRun() = default;

void TBatchRun::Start() {
  const auto state = state_;  // kept alive through the call, whatever the view does meanwhile
  state->Start();
}

void TBatchRun::Stop() {
  const auto state = state_;
  state->Stop();
}

void TBatchRun::Abandon() {
  const auto state = state_;
  state->Abandon();
}

bool TBatchRun::Running() const { return state_->Running(); }
int TBatchRun::ActiveWorkers() const { return state_->ActiveWorkers(); }
int TBatchRun::FinishedFiles() const { return state_->FinishedFiles(); }
int TBatchRun::WorkerLimit() const { return state_->WorkerLimit(); }

std::string SummaryText(int files, int64_t milliseconds, char decimal_separator) {
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.2f", static_cast<double>(milliseconds) / 1000.0);
  for (char* p = seconds; *p; ++p)
    if (*p == '.') *p = decimal_separator;
  return "Files processed: " + std::to_string(files) + " in " + seconds + " secs";
}

char UserDecimalSeparator() {
  try {
    return std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
  } catch (const std::exception&) {
    return '.';
  }
}

}  // namespace pellavo

#include "batch/batch_run.h"

#include <chrono>
#include <cstdio>
#include <locale>
#include <map>
#include <numeric>
#include <optional>
#include <set>

#include "batch/output_folder.h"
#include "batch/replaced_sources.h"
#include "core/chunk_pool.h"
#include "core/core_gate.h"
#include "core/files.h"
#include "core/limits.h"
#include "core/memory_budget.h"
#include "formats/output_formats.h"

namespace pellavo {
namespace {

// The name a worker publishes output under, were it free: a copy keeps the name it was given.
std::string PublishedName(const std::string& output, bool copies) {
  return copies ? output : WrittenFileName(output);
}

}  // namespace

// The run itself. Completions and delayed launches hold it weakly, so they find nothing once the
// run is destroyed; while one of them runs it holds the state strongly, so the state outlives the
// call even when the front end destroys the run from inside a view callback.
class TBatchRun::TState : public std::enable_shared_from_this<TState> {
 public:
  TState(TRunView& view, TMainQueue& queue, TWorkerFactory factory)
      : view_(view), queue_(queue), factory_(std::move(factory)) {}

  // positions: the list positions to run, all of them when none are given.
  void Start(std::optional<std::vector<int>> positions);
  void Stop();
  void Abandon();

  bool Running() const { return running_; }
  int ActiveWorkers() const { return active_workers_; }
  int FinishedFiles() const { return finished_files_; }
  int WorkerLimit() const { return worker_limit_; }

 private:
  void LaunchWhilePossible();
  void LaunchOne(int position);
  // The entry's output folder as the run's rules choose it; none: beside its source.
  std::optional<TOutputFolder> FolderOf(int position, const TRunSettings& settings) const;
  std::string OutputOf(int position, const TRunSettings& settings) const;
  // Ends an entry without a worker, through the queue like a worker's completion, so that the
  // accounting is the same.
  void FinishWithoutWorker(uint64_t launch, int position, TWorkerReport report);
  // Why no output can be written into folder (its missing part made here), or empty.
  std::string PrepareOutputFolder(const TOutputFolder& folder);
  TPlannedOutput PlannedOutputOf(int position, const TRunSettings& settings) const;
  // Asks before outputs replace the run's own sources; false: the user said no.
  bool SourcesMayBeReplaced(const TRunSettings& settings);
  void WorkerStarted(uint64_t launch, int position, const std::string& source);
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
  // The list positions of the run's entries, in launch order: the whole list, or the entries
  // a front end picked (those that failed, to try them again).
  std::vector<int> positions_;
  int entry_count_ = 0;
  int next_entry_ = 0;  // the index into positions_ launched next
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
  TSourceReplacements replacements_;  // the run's sources, and those Start was allowed to replace
  // The entries of the workers whose completion is awaited, by launch number: numbers are never
  // reused, so the completion of a worker abandoned in an earlier run finds nothing here.
  struct TAwaited {
    int Position;
    std::string Source;
  };
  std::map<uint64_t, TAwaited> awaited_;
  uint64_t last_launch_ = 0;
  std::set<std::string> swept_folders_;  // output folders cleared of stale temporary files this run
  // Output folders this run made or checked, each with why it cannot be used (empty when it can).
  std::map<std::string, std::string> prepared_folders_;
  std::chrono::steady_clock::time_point run_start_;
};

void TBatchRun::TState::Start(std::optional<std::vector<int>> positions) {
  if (running_) return;  // a second Start would reset counters under running workers
  const int listed = view_.EntryCount();
  if (positions) {
    std::erase_if(*positions, [listed](int p) { return p < 0 || p >= listed; });
  } else {
    positions.emplace(static_cast<size_t>(listed));
    std::iota(positions->begin(), positions->end(), 0);
  }
  if (positions->empty()) {
    view_.SetStatusText(listed == 0 ? "Nothing to process: the source list is empty" : "Nothing to process");
    return;
  }

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

  // This process's share of the list; "$" numbers stay the positions in the whole list.
  std::erase_if(*positions, [&](int p) { return p % settings.ShardCount != settings.ShardIndex; });
  const int count = static_cast<int>(positions->size());
  positions_ = std::move(*positions);
  name_prefix_ = settings.NameAddition == TNameAddition::Prefix ? settings.AdditionText : std::string();
  name_postfix_ = settings.NameAddition == TNameAddition::PostFix ? settings.AdditionText : std::string();
  subfolder_ = settings.Subfolder;
  keep_tree_ = settings.KeepTree;
  if (!SourcesMayBeReplaced(settings)) return;

  worker_limit_ = WorkerLimitOf(settings, count);
  swept_folders_.clear();
  prepared_folders_.clear();
  active_workers_ = 0;
  finished_files_ = 0;
  entry_count_ = count;
  next_entry_ = 0;
  view_.SetProgress(count, count);
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
      if (positions_[static_cast<size_t>(next_entry_)] >= view_.EntryCount()) {
        stop_requested_ = true;
        break;
      }
      LaunchOne(positions_[static_cast<size_t>(next_entry_++)]);
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

std::optional<TOutputFolder> TBatchRun::TState::FolderOf(int position, const TRunSettings& settings) const {
  return ChosenOutputFolder(view_.Entry(position), keep_tree_ ? view_.EntryFolder(position) : std::string(),
                            TOutputFolderRule{settings.DestFolder, subfolder_, keep_tree_});
}

std::string TBatchRun::TState::OutputOf(int position, const TRunSettings& settings) const {
  // A copy keeps its bytes, so it keeps the extension that says what they are.
  const TOutputFormat format = settings.FastCopy ? TOutputFormat::Source : settings.OutputFormat;
  const std::optional<TOutputFolder> folder = FolderOf(position, settings);
  return OutputFileName(view_.Entry(position), position,
                        TNamingRule{format, folder ? folder->Path() : std::string(), name_prefix_, name_postfix_});
}

TPlannedOutput TBatchRun::TState::PlannedOutputOf(int position, const TRunSettings& settings) const {
  const std::string output = OutputOf(position, settings);
  return {view_.Entry(position), PublishedName(output, settings.FastCopy)};
}

bool TBatchRun::TState::SourcesMayBeReplaced(const TRunSettings& settings) {
  std::vector<TPlannedOutput> plan;
  plan.reserve(positions_.size());
  for (const int position : positions_)
    plan.push_back(settings.Overwrite ? PlannedOutputOf(position, settings) : TPlannedOutput{view_.Entry(position), {}});
  replacements_ = TSourceReplacements(plan);
  // Without overwriting every output takes a free name.
  if (!settings.Overwrite) return true;
  const int count = replacements_.Count(plan, settings.FastCopy);
  if (count > 0 && !view_.ConfirmReplacingSources(count)) return false;
  replacements_.Agree(plan, settings.FastCopy);
  return true;
}

void TBatchRun::TState::LaunchOne(int position) {
  TWorkerOrder order;
  order.Settings = view_.Settings();
  order.Source = view_.Entry(position);
  order.SizeValue = size_value_;
  order.Settings.MaxImageBytes = max_image_bytes_;
  order.Budget = budget_;
  order.Chunks = chunks_;
  order.Cores = cores_;
  order.FreeNames = free_names_;
  const std::optional<TOutputFolder> chosen = FolderOf(position, order.Settings);
  order.Output = OutputOf(position, order.Settings);
  const std::string written = PublishedName(order.Output, order.Settings.FastCopy);
  // Overwriting turned on, or the destination or format changed, since Start: an original the
  // user was not asked about keeps its place, and this output takes a free name.
  if (order.Settings.Overwrite && !replacements_.MayReplace({order.Source, written}, order.Settings.FastCopy))
    order.Settings.Overwrite = false;
  const uint64_t launch = ++last_launch_;

  TWorkerReport report;
  report.Outcome.Source = order.Source;
  const std::string folder = OutputFolderOf(order.Source, chosen ? chosen->Path() : std::string());
  if (!OutputStaysIn(order.Output, folder)) {
    // Nothing is created for this entry; it ends like a failed worker.
    report.Outcome.Error = "The output name \"" + order.Output + "\" would not lie in the folder \"" + folder + "\"";
    FinishWithoutWorker(launch, position, std::move(report));
    return;
  }
  if (order.Settings.SkipExisting) {
    // What a finished earlier run wrote.
    if (FileExists(written)) {
      report.StatusText = written;
      report.Outcome.Output = written;
      report.Outcome.Skipped = true;
      report.Outcome.ExistingOutput = true;
      report.Outcome.Error = "the output exists";
      FinishWithoutWorker(launch, position, std::move(report));
      return;
    }
  }
  if (chosen) {
    if (std::string problem = PrepareOutputFolder(*chosen); !problem.empty()) {
      report.Outcome.Error = std::move(problem);
      FinishWithoutWorker(launch, position, std::move(report));
      return;
    }
  }
  // Leftovers of killed runs go before this run writes into the folder.
  if (swept_folders_.insert(folder).second) RemoveStaleTempFiles(folder, kStaleTempAge);

  TBatchWorker::Launch(factory_(order), queue_, [weak = weak_from_this(), launch, position](TWorkerReport finished) {
    finished.Outcome.Entry = position;
    if (const auto self = weak.lock()) self->WorkerFinished(launch, finished);
  });
  WorkerStarted(launch, position, order.Source);
}

std::string TBatchRun::TState::PrepareOutputFolder(const TOutputFolder& folder) {
  const auto known = prepared_folders_.find(folder.Path());
  if (known != prepared_folders_.end()) return known->second;
  // Made once a run, and refused once for all the entries that would go there.
  std::string problem = MakeFoldersBelow(folder.Existing.empty() ? "." : folder.Existing, folder.Made);
  prepared_folders_.emplace(folder.Path(), problem);
  return problem;
}

void TBatchRun::TState::FinishWithoutWorker(uint64_t launch, int position, TWorkerReport report) {
  report.Outcome.Entry = position;
  WorkerStarted(launch, position, report.Outcome.Source);
  queue_.Post([weak = weak_from_this(), launch, report = std::move(report)]() mutable {
    if (const auto self = weak.lock()) self->WorkerFinished(launch, report);
  });
}

void TBatchRun::TState::WorkerStarted(uint64_t launch, int position, const std::string& source) {
  awaited_.emplace(launch, TAwaited{position, source});
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
  std::map<uint64_t, TAwaited> abandoned;
  abandoned.swap(awaited_);
  for (const auto& [launch, awaited] : abandoned) {
    TWorkerReport report;
    report.Outcome.Source = awaited.Source;
    report.Outcome.Entry = awaited.Position;
    report.Outcome.Error = "interrupted";
    CountFinished(report);
  }
  if (RunIsOver()) EndRun();
}

void TBatchRun::TState::CountFinished(const TWorkerReport& report) {
  view_.SetStatusText(report.StatusText);
  ++finished_files_;
  --active_workers_;
  view_.SetProgress(entry_count_, entry_count_ - finished_files_);
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
  return finished_files_ == entry_count_ || stop_requested_;
}

void TBatchRun::TState::EndRun() {
  running_ = false;
  chunks_.reset();
  pending_delay_ = 0;
  view_.SetStopEnabled(false);
  view_.DrawAttention();
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - run_start_);
  if (next_entry_ < entry_count_) view_.RunStopped(entry_count_ - next_entry_);
  view_.SetSummaryText(SummaryText(finished_files_, elapsed.count(), UserDecimalSeparator()));
  view_.SetRunning(false);
}

TBatchRun::TBatchRun(TRunView& view, TMainQueue& queue, TWorkerFactory factory)
    : state_(std::make_shared<TState>(view, queue, std::move(factory))) {}

TBatchRun::~TBatchRun() = default;

void TBatchRun::Start() {
  const auto state = state_;  // kept alive through the call, whatever the view does meanwhile
  state->Start(std::nullopt);
}

void TBatchRun::StartEntries(std::vector<int> positions) {
  const auto state = state_;
  state->Start(std::move(positions));
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

// pellavo-cli: the same run as the window's Start button, driven from the command line.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "batch/batch_run.h"
#include "batch/source_list.h"
#include "cli/cli_options.h"
#include "cli/cli_view.h"
#include "cli/escaping.h"
#include "cli/interrupts.h"
#include "cli/path_list.h"
#include "core/errors.h"
#include "core/files.h"
#include "core/main_queue.h"
#include "formats/all/standard_formats.h"
#include "programs/heap_tuning.h"
#include "worker/standard_workers.h"

using namespace pellavo;

namespace {

// The system's reason in the words of the other messages: "no such file or folder",
// "permission denied".
std::string PlainReason(int error) {
  if (error == ENOENT) return "no such file or folder";
  std::string text = SystemErrorText(error);
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  TuneHeapForBatches();  // first: the signal watcher below is a thread
  // Before any other thread exists, so that every thread leaves the signals to the watcher.
  TInterrupts interrupts;
  // A reader that went away (a closed pipe) must not kill the run halfway through a file: writes
  // to it fail instead, and the run goes on.
  std::signal(SIGPIPE, SIG_IGN);

  RegisterStandardFormats();
  TCliOptions options;
  if (const int code = ParseCliOptions(argc, argv, options); code >= 0) return code;
  const TCliReport report = options.Json ? TCliReport::Json : options.Quiet ? TCliReport::Quiet : TCliReport::Text;

  std::vector<std::string> paths = options.Paths;
  if (!options.FilesFrom.empty()) {
    try {
      for (std::string& path : ReadPathList(options.FilesFrom, options.NullSeparated ? '\0' : '\n'))
        paths.push_back(std::move(path));
    } catch (const std::exception& e) {
      std::cerr << "pellavo-cli: --files-from: " << EscapeForTerminal(e.what()) << "\n";
      return kUsageError;
    }
  }

  // Every path goes through the list's own admission; the command line also says what it refused.
  int input_errors = 0;
  TSourceList list;
  list.IncludeSubfolders = options.IncludeSubfolders;
  // The outputs of an earlier run of the same command are not sources of this one.
  if (options.Settings.Subfolder) list.SkippedFolderName = *options.Settings.Subfolder;
  list.OnUnreadable = [&](const std::string& path, int error) {
    PrintInputProblem(report, path, PlainReason(error), true);
    ++input_errors;
  };
  for (const std::string& path : paths) {
    if (path.empty()) {
      PrintInputProblem(report, options.FilesFrom, "an empty name in the list", true);
      ++input_errors;
      continue;
    }
    const int errors_before = input_errors;
    if (list.AddSourcePath(path) > 0 || input_errors > errors_before) continue;
    if (!IsFolderPath(path))
      PrintInputProblem(report, path, "the extension is not one of an image format", false);
    else
      PrintInputProblem(report, path, "no image files found", false);
  }

  const int entries = list.Count();
  TCliView view(options.Settings, std::move(list), report);
  if (entries == 0) {
    std::cerr << "pellavo-cli: nothing to convert\n";
    if (report == TCliReport::Json) view.PrintJsonSummary(input_errors, 0, 0, 1);
    return 1;
  }

  TLoopQueue queue([&view](const std::string& error) { view.ShowError(error); });
  TBatchRun run(view, queue, MakeStandardWorker);
  int interrupted_by = 0;
  bool abandoned = false;
  const auto start = std::chrono::steady_clock::now();
  {
    // The first interrupt reaches the run on the main thread like STOP. A second one abandons the
    // running files: their temporary files go at once, here, whatever the main thread is doing;
    // then the run counts them as failed and ends with its summary. Later ones add nothing.
    TInterrupts::TScope on_interrupt(interrupts, [&](int signal, int count) {
      if (count > 2) return;
      if (count == 2) AbandonTempFiles();
      queue.Post([&, signal, count] {
        if (interrupted_by == 0) interrupted_by = signal;
        if (count == 1) {
          view.ShowInterrupted(signal, run.ActiveWorkers());
          run.Stop();
        } else {
          abandoned = true;
          view.ShowAbandoned();
          run.Abandon();
        }
      });
    });
    try {
      run.Start();
    } catch (const std::exception& e) {
      view.ShowError(e.what());
    }
    while (run.Running()) queue.WaitAndProcess(1000);
    // Abandoned workers may still be decoding: nothing waits for them.
    if (!abandoned) queue.WaitForThreads();
  }

  int code = 0;
  if (interrupted_by != 0)
    code = 128 + interrupted_by;
  else if (view.RefusedToStart())
    code = kUsageError;
  else if (view.Failures() > 0 || input_errors > 0)
    code = 1;
  if (report == TCliReport::Json) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    view.PrintJsonSummary(input_errors, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(),
                          interrupted_by, code);
  }
  if (abandoned) {
    // Abandoned workers still hold the queue and the run's objects: end without destroying them.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(code);
  }
  return code;
}

// pellavo-cli: the same run as the window's Start button, driven from the command line.
#include <iostream>

#include "batch/batch_run.h"
#include "batch/source_list.h"
#include "cli/cli_options.h"
#include "cli/cli_view.h"
#include "core/files.h"
#include "core/main_queue.h"
#include "formats/all/standard_formats.h"
#include "worker/standard_workers.h"

using namespace pellavo;

int main(int argc, char** argv) {
  RegisterStandardFormats();
  TCliOptions options;
  if (const int code = ParseCliOptions(argc, argv, options); code >= 0) return code;

  TSourceList list;
  list.IncludeSubfolders = options.IncludeSubfolders;
  for (const std::string& path : options.Paths) {
    // Every path goes through the list's own admission; the command line also says what it refused.
    if (list.AddSourcePath(path) > 0) continue;
    if (!IsFolderPath(path))
      std::cerr << "pellavo-cli: " << path << ": the extension is not one of an image format\n";
    else if (!DirectoryExists(path))
      std::cerr << "pellavo-cli: " << path << ": no such file or folder\n";
    else
      std::cerr << "pellavo-cli: " << path << ": no image files found\n";
  }
  if (list.Count() == 0) {
    std::cerr << "pellavo-cli: nothing to convert\n";
    return 1;
  }

  TCliView view(options.Settings, list.Entries(), options.Quiet);
  TLoopQueue queue([&view](const std::string& error) { view.ShowError(error); });
  {
    TBatchRun run(view, queue, MakeStandardWorker);
    try {
      run.Start();
    } catch (const std::exception& e) {
      view.ShowError(e.what());
    }
    while (run.Running()) queue.WaitAndProcess(1000);
  }
  queue.WaitForThreads();
  if (view.RefusedToStart()) return kUsageError;
  return view.Failures() > 0 ? 1 : 0;
}

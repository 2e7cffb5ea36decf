#pragma once
#include <string>
#include <vector>

#include "batch/run_settings.h"

namespace pellavo {

struct TCliOptions {
  TRunSettings Settings;
  std::vector<std::string> Paths;
  bool IncludeSubfolders = false;
  bool Quiet = false;
  std::string FilesFrom;      // a file listing more paths, "-" for standard input; empty: none
  bool NullSeparated = false; // that list's paths end in NUL bytes rather than line breaks
  bool Json = false;          // a JSON object per finished file and one for the summary
};

// The exit status of every usage error, and of a destination that does not exist.
inline constexpr int kUsageError = 2;

// Parses the command line. Returns the exit code to stop with (0 after the help or the version,
// kUsageError after a usage error, already printed), or -1 to go on with options.
int ParseCliOptions(int argc, char** argv, TCliOptions& options);

}  // namespace pellavo

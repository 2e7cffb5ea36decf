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
};

// Parses the command line. Returns the exit code to stop with (help, version or a usage error,
// already printed), or -1 to go on with options.
int ParseCliOptions(int argc, char** argv, TCliOptions& options);

}  // namespace pellavo

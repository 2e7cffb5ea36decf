#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace pellavo::test {

// Whether a program of that name is on the PATH: independent tools the tests check against.
bool HaveTool(const char* name);

struct TCommandResult {
  int code = -1;       // the exit code, -1 when the command did not exit normally
  std::string output;  // what it wrote on its standard output
};

// Runs a shell command and captures its standard output.
TCommandResult RunCommand(const std::string& command);
// The standard output alone.
inline std::string RunAndCapture(const std::string& command) { return RunCommand(command).output; }

// A program started without a shell (so that it gets signals as a foreground program does), its
// standard output and error going to files; standard input from in_file, or /dev/null.
class TChild {
 public:
  TChild(const std::vector<std::string>& argv, const std::string& out_file, const std::string& err_file,
         const std::string& in_file = "/dev/null");
  ~TChild();  // kills the program if it still runs
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  void Signal(int signal) const;
  // The exit status, or 128 + the signal that ended it; waits at most timeout_ms, then kills it
  // and returns -1.
  int Wait(int timeout_ms = 60000);

 private:
  pid_t pid_ = -1;
};

}  // namespace pellavo::test

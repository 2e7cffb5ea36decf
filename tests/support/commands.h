#pragma once
#include <string>

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

}  // namespace pellavo::test

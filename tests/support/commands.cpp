#include "support/commands.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace pellavo::test {

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

TCommandResult RunCommand(const std::string& command) {
  TCommandResult r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
  const int status = ::pclose(pipe);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace pellavo::test

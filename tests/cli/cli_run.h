#pragma once
// pellavo-cli run in a folder, with its standard output and error kept apart.
#include <cstdint>
#include <string>
#include <vector>

#include "support/commands.h"
#include "support/temp_dir.h"

namespace pellavo::test {

struct TCliRun {
  int code = -1;
  std::string out;
  std::string err;
};

inline std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// The lines of text, each without its '\n'; an unended last line is left out.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// pellavo-cli run in folder with args (shell words), after prefix (shell words of its own, such
// as an environment setting). A run that hangs is ended after seconds and exits 124.
inline TCliRun RunCliIn(const std::string& folder, const std::string& args, const std::string& prefix, int seconds) {
  TTempDir logs;
  const TCommandResult r = RunCommand("cd '" + folder + "' && " + prefix + "timeout " + std::to_string(seconds) + " " +
                                      PELLAVO_CLI_PATH + " " + args + " 2>'" + logs.File("err") + "'");
  return {r.code, r.output, ReadText(logs.File("err"))};
}

}  // namespace pellavo::test

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace pellavo {
namespace {

using TArgs = std::vector<std::string>;

TEST(CommandLine, RequestAndSourcePaths) {
  struct Case {
    const char* what;
    TArgs args;
    TCommandLineRequest request;
    TArgs sources;  // for OpenWindow
  };
  const Case cases[] = {
      {"no arguments", {}, TCommandLineRequest::OpenWindow, {}},
      {"files and folders", {"a.jpg", "pics"}, TCommandLineRequest::OpenWindow, {"a.jpg", "pics"}},
      {"--help", {"--help"}, TCommandLineRequest::Help, {}},
      {"-h among paths", {"a.jpg", "-h"}, TCommandLineRequest::Help, {}},
      {"--version", {"--version"}, TCommandLineRequest::Version, {}},
      {"the first request wins", {"--version", "--help"}, TCommandLineRequest::Version, {}},
      {"a path after -- is never an option", {"a.jpg", "--", "--help"}, TCommandLineRequest::OpenWindow,
       {"a.jpg", "--help"}},
      {"only the first -- ends the options", {"--", "--", "b.png"}, TCommandLineRequest::OpenWindow, {"--", "b.png"}},
      {"a name that only starts like an option", {"--helpful.png"}, TCommandLineRequest::OpenWindow,
       {"--helpful.png"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CommandLineRequest(c.args), c.request);
    if (c.request == TCommandLineRequest::OpenWindow) {
      EXPECT_EQ(SourceArguments(c.args), c.sources);
    }
  }
}

}  // namespace
}  // namespace pellavo

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "formats/bmp/bitmap.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using TResult = test::TCommandResult;

TResult RunCli(const std::string& args) {
  return test::RunCommand(std::string(PELLAVO_CLI_PATH) + " " + args + " 2>&1");
}

TEST(Cli, HelpExplainsEveryOption) {
  const TResult r = RunCli("--help");
  EXPECT_EQ(r.code, 0);
  for (const char* option : {"--size-mode", "--size", "--percent", "--filter", "--wide", "--format", "--dest",
                             "--prefix", "--postfix", "--overwrite", "--threads", "--delay", "--border-width",
                             "--border-color", "--no-frame", "--fastcopy", "--recursive", "--quiet", "--version"})
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
}

TEST(Cli, BadArgumentsAreUsageErrorsThatSayWhy) {
  struct Case {
    const char* args;
    const char* says;
  };
  const Case cases[] = {
      {"--format tiff x.bmp", "unknown output format \"tiff\""},
      {"--filter blurry x.bmp", "unknown filter \"blurry\""},
      {"--size 3 x.bmp", "--size: Value 3 not in range 10 to 5000"},
      {"--percent 900 x.bmp", "--percent: Value 900 not in range 1 to 500"},
      {"--border-color red x.bmp", "#RRGGBB"},
      {"--prefix a --postfix b x.bmp", "excludes"},
      {"", "paths is required"},
  };
  for (const Case& c : cases) {
    const TResult r = RunCli(c.args);
    EXPECT_NE(r.code, 0) << c.args;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
  }
}

TEST(Cli, ConvertsAFolderAndReportsEachFailureByName) {
  test::TTempDir dir;
  ::mkdir(dir.File("in").c_str(), 0755);
  ::mkdir(dir.File("out").c_str(), 0755);
  test::WritePatternBmp(dir.File("in/a.bmp"), 64, 48);
  test::WritePatternBmp(dir.File("in/b.bmp"), 48, 64);
  test::WriteBytes(dir.File("in/c.bmp"), {'B', 'M', 1});
  const TResult r = RunCli("--size 32 --format bmp --dest " + dir.File("out") + " " + dir.File("in") + " " +
                           dir.File("nothing-here"));
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_NE(r.output.find(dir.File("nothing-here") + ": no such file or folder"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("failed: " + dir.File("in/c.bmp") + ": Bitmap image is not valid"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(dir.File("out/a.bmp") + "\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Files processed: 3 in "), std::string::npos) << r.output;
  TBitmap a, b;
  a.ReadFromFile(dir.File("out/a.bmp"));
  b.ReadFromFile(dir.File("out/b.bmp"));
  EXPECT_EQ(a.Width(), 32);
  EXPECT_EQ(a.Height(), 24);
  EXPECT_EQ(b.Width(), 24);
  EXPECT_EQ(b.Height(), 32);
}

TEST(Cli, FastCopyNamesCopiesAndNeedsAnExistingDestination) {
  test::TTempDir dir;
  std::string sources;
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
    test::WritePatternBmp(dir.File(name), 4 + name[0] - 'a', 4);
    sources += " " + dir.File(name);
  }
  const TResult missing = RunCli("--fastcopy --dest " + dir.File("OUT") + sources);
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.output, "You must specify an existing destination folder\n");

  ::mkdir(dir.File("OUT").c_str(), 0755);
  const std::string command = "--fastcopy --dest " + dir.File("OUT") + " --postfix '_$'" + sources;
  const TResult first = RunCli(command);
  EXPECT_EQ(first.code, 0) << first.output;
  const TResult second = RunCli(command);
  EXPECT_EQ(second.code, 0) << second.output;
  int n = 0;
  for (const char* name : {"a", "b", "c"}) {
    const std::vector<uint8_t> bytes = test::ReadBytes(dir.File(std::string(name) + ".bmp"));
    const std::string copy = dir.File("OUT/" + std::string(name) + "_" + std::to_string(n++));
    EXPECT_EQ(test::ReadBytes(copy + ".bmp"), bytes) << copy;
    EXPECT_EQ(test::ReadBytes(copy + "[1].bmp"), bytes) << copy;
  }
  EXPECT_EQ(test::TTempDir::ListOf(dir.File("OUT")).size(), 6u);
}

}  // namespace
}  // namespace pellavo

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
  for (const char* option : {"--size-mode", "--size", "--filter", "--wide", "--format", "--dest", "--prefix",
                             "--postfix", "--overwrite", "--threads", "--delay", "--border", "--border-color",
                             "--no-frame", "--fast-copy", "--recursive", "--quiet", "--version"})
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
      {"--size 3 x.bmp", "--size must be between 10 and 5000 pixels"},
      {"--size-mode percent --size 900 x.bmp", "between 1 and 500"},
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
  EXPECT_NE(r.output.find(dir.File("in/c.bmp") + ": Bitmap image is not valid"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Files processed: 3 in "), std::string::npos) << r.output;
  TBitmap a, b;
  a.ReadFromFile(dir.File("out/a.bmp"));
  b.ReadFromFile(dir.File("out/b.bmp"));
  EXPECT_EQ(a.Width(), 32);
  EXPECT_EQ(a.Height(), 24);
  EXPECT_EQ(b.Width(), 24);
  EXPECT_EQ(b.Height(), 32);
}

TEST(Cli, FastCopyNeedsAnExistingDestination) {
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("a.bmp"), 4, 4);
  const TResult r = RunCli("--fast-copy " + dir.File("a.bmp"));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.output.find("You must specify an existing destination folder"), std::string::npos) << r.output;

  const TResult ok = RunCli("--fast-copy --quiet --dest " + dir.Path() + " " + dir.File("a.bmp"));
  EXPECT_EQ(ok.code, 0) << ok.output;
  EXPECT_EQ(test::ReadBytes(dir.File("a[1].bmp")), test::ReadBytes(dir.File("a.bmp")));
}

}  // namespace
}  // namespace pellavo

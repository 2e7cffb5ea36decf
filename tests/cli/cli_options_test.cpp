#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/run_options.h"
#include "cli/cli_options.h"
#include "core/paths.h"
#include "formats/all/standard_formats.h"

namespace pellavo {
namespace {

// Parses a command line (without the program's name) as pellavo-cli does.
int Parse(std::vector<std::string> args, TCliOptions& options) {
  RegisterStandardFormats();  // the help lists the formats read
  args.insert(args.begin(), "pellavo-cli");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  return ParseCliOptions(static_cast<int>(argv.size()), argv.data(), options);
}

// "--size" of "-s,--size".
std::string LongFlag(std::string_view flag) { return std::string(flag.substr(flag.rfind(',') + 1)); }

// Every option of the table that has a flag reaches its field: left out as its default, given
// as what it says, and a number outside its range is refused with that range.
TEST(CliOptions, EveryTableOptionReachesItsFieldWithinItsRange) {
  for (const TRunOption& o : kRunOptions) {
    if (o.Flag.empty()) continue;
    const std::string flag = LongFlag(o.Flag);
    SCOPED_TRACE(flag);
    // --keep-tree needs a destination; no option of the table excludes one.
    const std::vector<std::string> rest = {"--dest", ".", "x.bmp"};
    {
      TCliOptions options;
      ASSERT_EQ(Parse(rest, options), -1);
      EXPECT_EQ(o.Field.Get(options.Settings), o.Default);
    }
    struct Given {
      std::vector<std::string> args;
      int value;
    };
    std::vector<Given> given;
    const int min = o.OffText.empty() ? o.Min : o.Min + 1;
    switch (o.Kind) {
      case TOptionKind::Switch:
        given.push_back({{flag}, 1 - o.Default});
        break;
      case TOptionKind::Number:
        given.push_back({{flag, std::to_string(min)}, min});
        given.push_back({{flag, std::to_string(o.Max)}, o.Max});
        for (const int outside : {min - 1, o.Max + 1}) {
          TCliOptions options;
          std::vector<std::string> args = {flag, std::to_string(outside)};
          args.insert(args.end(), rest.begin(), rest.end());
          testing::internal::CaptureStderr();
          EXPECT_EQ(Parse(args, options), kUsageError) << outside;
          EXPECT_NE(testing::internal::GetCapturedStderr().find(flag + ": Value " + std::to_string(outside) +
                                                                 " not in range " + std::to_string(min) + " to " +
                                                                 std::to_string(o.Max)),
                    std::string::npos)
              << outside;
        }
        break;
      case TOptionKind::Choice:
        for (size_t i = 0; i < o.Items.size(); ++i) given.push_back({{flag, LowerAscii(o.Items[i])}, int(i)});
        break;
    }
    for (Given& g : given) {
      TCliOptions options;
      g.args.insert(g.args.end(), rest.begin(), rest.end());
      ASSERT_EQ(Parse(g.args, options), -1) << g.args[0];
      EXPECT_EQ(o.Field.Get(options.Settings), g.value) << g.args.size();
    }
  }
}

TEST(CliOptions, TheHelpGivesEveryTableOptionWithItsNamesFilledIn) {
  TCliOptions options;
  testing::internal::CaptureStdout();
  ASSERT_EQ(Parse({"--help"}, options), 0);
  const std::string help = testing::internal::GetCapturedStdout();
  for (const TRunOption& o : kRunOptions) {
    if (!o.Flag.empty()) {
      EXPECT_NE(help.find(std::string(o.Flag)), std::string::npos) << o.Flag;
    }
  }
  EXPECT_EQ(help.find("formats}"), std::string::npos) << "a name left unfilled";
  EXPECT_EQ(help.find("{max-kb"), std::string::npos) << "a name left unfilled";
  EXPECT_NE(help.find("the highest quality from 40 up to --quality"), std::string::npos);
  EXPECT_NE(help.find("XMP into jpg, png, webp, avif, tif or jxl outputs"), std::string::npos);
  EXPECT_NE(help.find("--max-kb N (1-1048576, none)"), std::string::npos) << "off is the option left out";
  EXPECT_NE(help.find("quality: what a\n   JPEG, WebP, AVIF or JPEG XL output was encoded at"), std::string::npos)
      << "every format that takes a quality";
}

}  // namespace
}  // namespace pellavo

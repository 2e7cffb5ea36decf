#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "batch/output_folder.h"
#include "batch/run_settings.h"
#include "core/files.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

TEST(ChosenOutputFolder, DestinationTreeOrSubfolder) {
  struct Case {
    const char* source;
    const char* relative;
    TOutputFolderRule rule;
    const char* expected;
  };
  const Case cases[] = {
      {"/p/2019/a.jpg", "2019/", {"", std::nullopt, false}, "none"},
      {"/p/2019/a.jpg", "2019/", {"/out", std::nullopt, false}, "/out/ +"},
      {"/p/2019/a.jpg", "2019/", {"/out/", std::nullopt, true}, "/out/ + 2019/"},
      {"/p/a.jpg", "", {"/out", std::nullopt, true}, "/out/ +"},
      {"/p/2019/a.jpg", "2019/", {"", "small", false}, "/p/2019/ + small/"},
      {"/p/2019/a.jpg", "2019/", {"", "small", true}, "/p/2019/ + small/"},
      {"a.jpg", "", {"", "small", false}, " + small/"},
  };
  for (const Case& c : cases) {
    const std::optional<TOutputFolder> chosen = ChosenOutputFolder(c.source, c.relative, c.rule);
    const std::string shown = chosen ? chosen->Existing + " +" + (chosen->Made.empty() ? "" : " " + chosen->Made) : "none";
    EXPECT_EQ(shown, c.expected) << c.source << " " << c.relative;
  }
}

// Folders are made only below the base, never through a link or over a file.
TEST(MakeFoldersBelow, MakesWhatIsMissingAndRefusesLinksAndFiles) {
  test::TTempDir dir;
  EXPECT_EQ(MakeFoldersBelow(dir.Path(), "a/b/c/"), "");
  EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
  EXPECT_EQ(MakeFoldersBelow(dir.Path(), "a/b/"), "") << "existing folders are fine";

  ::mkdir(dir.File("elsewhere").c_str(), 0755);
  ASSERT_EQ(::symlink("../elsewhere", dir.File("a/out").c_str()), 0);
  EXPECT_NE(MakeFoldersBelow(dir.Path(), "a/out/x/").find("is a symbolic link"), std::string::npos);
  EXPECT_FALSE(DirectoryExists(dir.File("elsewhere/x")));

  test::WriteBytes(dir.File("a/file"), {1});
  EXPECT_NE(MakeFoldersBelow(dir.Path(), "a/file/x/").find("exists and is not a folder"), std::string::npos);
  EXPECT_NE(MakeFoldersBelow(dir.Path(), "a/../../x/").find("would not lie in"), std::string::npos);
}

// The combinations a run refuses, in the window's words.
TEST(RunSettingsProblem, CombinationsThatCannotRun) {
  struct Case {
    const char* what;
    void (*set)(TRunSettings&);
    const char* says;  // empty: fine
  };
  const Case cases[] = {
      {"defaults", [](TRunSettings&) {}, ""},
      {"skip and overwrite",
       [](TRunSettings& s) {
         s.SkipExisting = true;
         s.Overwrite = true;
       },
       "\"Skip existing\" and \"Overwrite files\" cannot both be on"},
      {"sub-folder and destination",
       [](TRunSettings& s) {
         s.Subfolder = "small";
         s.DestFolder = "/out";
       },
       "leave the destination empty"},
      {"keep folders without a destination", [](TRunSettings& s) { s.KeepTree = true; }, "choose one with Destination"},
      {"keep folders into a destination",
       [](TRunSettings& s) {
         s.KeepTree = true;
         s.DestFolder = "/out";
       },
       ""},
      {"empty sub-folder", [](TRunSettings& s) { s.Subfolder = ""; }, "Type a folder name for \"Into sub-folder\""},
      {"sub-folder with a separator", [](TRunSettings& s) { s.Subfolder = "a/b"; }, "must be one folder name"},
      {"sub-folder ..", [](TRunSettings& s) { s.Subfolder = ".."; }, "must be one folder name"},
      {"a sub-folder", [](TRunSettings& s) { s.Subfolder = "small"; }, ""},
      {"max KB for PNG",
       [](TRunSettings& s) {
         s.MaxKb = 100;
         s.OutputFormat = TOutputFormat::Png;
       },
       "\"Max KB\" applies to .jpg, .webp, .avif, .jxl outputs only"},
      {"max KB for the source's format", [](TRunSettings& s) { s.MaxKb = 100; }, ""},
      {"max KB and FASTCOPY",
       [](TRunSettings& s) {
         s.MaxKb = 100;
         s.FastCopy = true;
       },
       "FASTCOPY"},
      {"a shard past the count",
       [](TRunSettings& s) {
         s.ShardIndex = 2;
         s.ShardCount = 2;
       },
       "The shard 2/2 does not exist"},
  };
  for (const Case& c : cases) {
    TRunSettings s;
    c.set(s);
    const std::string problem = RunSettingsProblem(s);
    if (*c.says == 0)
      EXPECT_EQ(problem, "") << c.what;
    else
      EXPECT_NE(problem.find(c.says), std::string::npos) << c.what << ": " << problem;
  }
}

}  // namespace
}  // namespace pellavo

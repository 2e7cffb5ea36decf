#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <set>

#include "batch/batch_run.h"
#include "batch/source_list.h"
#include "formats/all/standard_formats.h"
#include "support/fake_view.h"
#include "support/images.h"
#include "support/temp_dir.h"
#include "worker/copy_thread.h"

namespace pellavo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

std::unique_ptr<TBatchWorker> MakeCopy(const TWorkerOrder& o) { return std::make_unique<tCopyStrmThrd>(o); }

class FastCopy : public ::testing::Test {
 protected:
  void Run() { view.Run(MakeCopy); }
  TTempDir dir;
  test::TFakeView view;
};

TEST_F(FastCopy, CopiesBytesUnderTheNamingRule) {
  ::mkdir(dir.File("out").c_str(), 0755);
  WriteBytes(dir.File("a.jpg"), {1, 2, 3});
  WriteBytes(dir.File("empty.gif"), {});
  WriteBytes(dir.File("out/a.jpg"), {9});
  view.entries = {dir.File("a.jpg"), dir.File("empty.gif"), dir.File("gone.bmp")};
  view.settings.FastCopy = true;
  view.settings.DestFolder = dir.File("out");
  // A copy's bytes are unchanged, so it keeps the extension that says what they are; the rest
  // of the naming rule applies.
  view.settings.OutputFormat = TOutputFormat::Png;
  Run();
  EXPECT_EQ(ReadBytes(dir.File("out/a[1].jpg")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(ReadBytes(dir.File("out/a.jpg")), (std::vector<uint8_t>{9})) << "not overwritten";
  EXPECT_TRUE(ReadBytes(dir.File("out/empty.gif")).empty());
  EXPECT_EQ(test::TTempDir::ListOf(dir.File("out")), (std::vector<std::string>{"a.jpg", "a[1].jpg", "empty.gif"}));
  ASSERT_EQ(view.outcomes.size(), 3u);
  // The missing source: nothing written, an empty status, still counted.
  const auto gone = std::find_if(view.outcomes.begin(), view.outcomes.end(),
                                 [&](const TFileOutcome& o) { return o.Source == dir.File("gone.bmp"); });
  ASSERT_NE(gone, view.outcomes.end());
  EXPECT_FALSE(gone->Written);
  EXPECT_NE(gone->Error.find("gone.bmp"), std::string::npos) << gone->Error;
  EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(), ""), view.statuses.end());
  EXPECT_EQ(view.summary.rfind("Files processed: 3 in ", 0), 0u);
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.jpg", "empty.gif", "out"}));
}

TEST_F(FastCopy, OntoItsOwnFolderKeepsOrRewritesTheSource) {
  WriteBytes(dir.File("a.jpg"), {4, 5});
  view.entries = {dir.File("a.jpg")};
  view.settings.FastCopy = true;
  view.settings.DestFolder = dir.Path();
  Run();
  EXPECT_EQ(ReadBytes(dir.File("a[1].jpg")), (std::vector<uint8_t>{4, 5}));

  view.settings.Overwrite = true;
  Run();
  EXPECT_EQ(ReadBytes(dir.File("a.jpg")), (std::vector<uint8_t>{4, 5}));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.jpg", "a[1].jpg"})) << "no temporary file left";
}

// Many copies of one name into one folder: each takes the next free name in near-constant time,
// however many came before it. The run's table counts the names tried: every file costs one try,
// plus one for each rival that took the name it was about to try, of which there are fewer than
// the worker limit. Searching from name[1] each time would cost 200 million tries here.
TEST_F(FastCopy, ManySameNamedCopiesTryANearConstantNumberOfNamesEach) {
  constexpr int kCopies = 20000;
  ::mkdir(dir.File("out").c_str(), 0755);
  WriteBytes(dir.File("a.jpg"), {7});
  WriteBytes(dir.File("out/a.jpg"), {9});  // the user's, taken before the run
  view.entries.assign(kCopies, dir.File("a.jpg"));
  view.settings.FastCopy = true;
  view.settings.DestFolder = dir.File("out");
  std::shared_ptr<TFreeNames> names;
  view.Run([&](const TWorkerOrder& o) {
    names = o.FreeNames;
    return MakeCopy(o);
  });
  ASSERT_TRUE(names);
  ASSERT_EQ(view.outcomes.size(), size_t{kCopies});
  std::set<std::string> outputs;
  for (const TFileOutcome& o : view.outcomes) outputs.insert(o.Output);
  std::set<std::string> expected;
  for (int n = 1; n <= kCopies; ++n) expected.insert(dir.File("out/a[" + std::to_string(n) + "].jpg"));
  EXPECT_EQ(outputs, expected) << "the first free names, each once";
  EXPECT_EQ(ReadBytes(dir.File("out/a.jpg")), (std::vector<uint8_t>{9}));
  const uint64_t limit = uint64_t(WorkerLimitOf(view.settings, kCopies));
  EXPECT_GE(names->Attempts(), uint64_t{kCopies + 1});
  EXPECT_LE(names->Attempts(), uint64_t{kCopies} * limit) << "tries for " << kCopies << " files";
}

TEST_F(FastCopy, AnOutputThatCannotBeCreatedLeavesNothingAndReportsWhy) {
  ::mkdir(dir.File("out").c_str(), 0755);
  ::mkdir(dir.File("out/a.jpg").c_str(), 0755);  // a folder holds the output's name
  WriteBytes(dir.File("a.jpg"), {1});
  view.entries = {dir.File("a.jpg")};
  view.settings.FastCopy = true;
  view.settings.Overwrite = true;
  view.settings.DestFolder = dir.File("out");
  Run();
  ASSERT_EQ(view.outcomes.size(), 1u);
  EXPECT_FALSE(view.outcomes[0].Written);
  EXPECT_NE(view.outcomes[0].Error.find("Cannot create file"), std::string::npos) << view.outcomes[0].Error;
  EXPECT_EQ(test::TTempDir::ListOf(dir.File("out")), std::vector<std::string>{"a.jpg"});
}

class SourceList : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterStandardFormats();
    for (const char* name : {"b.bmp", "A.BMP", "c.txt", "d.bm", "E.bmp", "noext", ".hidden.bmp"}) WriteBytes(dir.File(name), {0});
    ::mkdir(dir.File("sub").c_str(), 0755);
    ::mkdir(dir.File("sub/deeper").c_str(), 0755);
    ::mkdir(dir.File(".secret").c_str(), 0755);
    WriteBytes(dir.File("sub/s.ico"), {0});
    WriteBytes(dir.File("sub/deeper/t.bmp"), {0});
    WriteBytes(dir.File(".secret/x.bmp"), {0});
  }
  TTempDir dir;
};

TEST_F(SourceList, FolderScanTakesImagesByExtensionDepthFirstWhenAsked) {
  TSourceList flat;
  EXPECT_EQ(flat.AddSourcePath(dir.Path()), 4);
  EXPECT_EQ(flat.Entries(),
            (std::vector<std::string>{dir.File("A.BMP"), dir.File("b.bmp"), dir.File("d.bm"), dir.File("E.bmp")}));

  TSourceList deep;
  deep.IncludeSubfolders = true;
  deep.AddSourcePath(dir.Path());
  EXPECT_EQ(deep.Entries(), (std::vector<std::string>{dir.File("A.BMP"), dir.File("b.bmp"), dir.File("d.bm"),
                                                      dir.File("E.bmp"), dir.File("sub/deeper/t.bmp"),
                                                      dir.File("sub/s.ico")}));
}

// Each entry remembers its folder below the folder it was added with, through every change of
// the list: what a mirrored destination rebuilds.
TEST_F(SourceList, EntriesKeepTheirFolderRelativeToTheFolderAdded) {
  TSourceList list;
  list.IncludeSubfolders = true;
  list.AddSourcePath(dir.File("sub/s.ico"));  // alone
  list.AddSourcePath(dir.Path());
  list.Append("/picked/x.bmp");
  const auto folders = [&] {
    std::vector<std::string> all;
    for (int i = 0; i < list.Count(); ++i) all.push_back(list.Folder(i));
    return all;
  };
  EXPECT_EQ(folders(), (std::vector<std::string>{"", "", "", "", "", "sub/deeper/", "sub/", ""}));
  list.Remove(0);
  list.Remove(3);  // E.bmp
  EXPECT_EQ(list.Entries()[3], dir.File("sub/deeper/t.bmp"));
  EXPECT_EQ(folders(), (std::vector<std::string>{"", "", "", "sub/deeper/", "sub/", ""}));
  list.RemoveUnsupportedEntries();  // d.bm goes
  EXPECT_EQ(list.Entries()[2], dir.File("sub/deeper/t.bmp"));
  EXPECT_EQ(folders(), (std::vector<std::string>{"", "", "sub/deeper/", "sub/", ""}));

  TSourceList scanned_below;
  scanned_below.IncludeSubfolders = true;
  scanned_below.AddSourcePath(dir.File("sub"));
  TSourceList joined;
  joined.Append(scanned_below);
  ASSERT_EQ(joined.Count(), 2);
  EXPECT_EQ(joined.Folder(0), "deeper/");
  EXPECT_EQ(joined.Folder(1), "");
}

TEST_F(SourceList, SinglePathsAndLinksBackToAScannedFolder) {
  TSourceList list;
  EXPECT_EQ(list.AddSourcePath(dir.File(".hidden.bmp")), 1) << "a hidden file given by itself is taken";
  EXPECT_EQ(list.AddSourcePath(dir.File(".hidden.bmp")), 1) << "duplicates are allowed";
  EXPECT_EQ(list.AddSourcePath(dir.File("noext")), 0);
  EXPECT_EQ(list.AddSourcePath(dir.File("c.txt")), 0);
  EXPECT_EQ(list.AddSourcePath(dir.File("missing.bmp")), 0) << "a missing path scans as an empty folder";

  ASSERT_EQ(::symlink(dir.Path().c_str(), dir.File("sub/loop").c_str()), 0);
  TSourceList deep;
  deep.IncludeSubfolders = true;
  EXPECT_EQ(deep.AddSourcePath(dir.Path()), 6);
}

// A pipe named like an image would block the worker that opens it: the scan passes it over,
// while one named directly is taken and then fails by name. What a scan cannot look into is
// reported, once it matters.
TEST_F(SourceList, ScansTakeOnlyRegularFilesAndReportWhatTheyCannotRead) {
  ASSERT_EQ(::mkfifo(dir.File("pipe.bmp").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("loop.bmp", dir.File("loop.bmp").c_str()), 0);
  ASSERT_EQ(::symlink("loop", dir.File("sub/loop").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", dir.File("dangling.bmp").c_str()), 0);
  ASSERT_EQ(::symlink("b.bmp", dir.File("link.bmp").c_str()), 0);

  for (bool deep : {false, true}) {
    TSourceList list;
    list.IncludeSubfolders = deep;
    std::vector<std::pair<std::string, int>> unreadable;
    list.OnUnreadable = [&](const std::string& path, int error) { unreadable.emplace_back(path, error); };
    list.AddSourcePath(dir.Path());
    std::vector<std::string> expected = {dir.File("A.BMP"), dir.File("b.bmp"), dir.File("d.bm"), dir.File("E.bmp"),
                                         dir.File("link.bmp")};
    std::vector<std::pair<std::string, int>> expected_unreadable = {{dir.File("loop.bmp"), ELOOP}};
    if (deep) {
      expected.insert(expected.end(), {dir.File("sub/deeper/t.bmp"), dir.File("sub/s.ico")});
      expected_unreadable.emplace_back(dir.File("sub/loop"), ELOOP);
    }
    EXPECT_EQ(list.Entries(), expected) << deep;
    EXPECT_EQ(unreadable, expected_unreadable) << deep;
  }

  TSourceList list;
  std::vector<std::pair<std::string, int>> unreadable;
  list.OnUnreadable = [&](const std::string& path, int error) { unreadable.emplace_back(path, error); };
  EXPECT_EQ(list.AddSourcePath(dir.File("pipe.bmp")), 1);
  EXPECT_EQ(list.AddSourcePath(dir.File("missing")), 0);
  EXPECT_EQ(unreadable, (std::vector<std::pair<std::string, int>>{{dir.File("missing"), ENOENT}}));
}

TEST_F(SourceList, PastedTextReplacesTheListAndKeepsOnlyFullExtensions) {
  TSourceList list;
  list.Append("/keep/me.bmp");
  list.ReplaceWithLines("/x/a.bmp\r\n/x/b.jp\n/x/c.ICO\r/x/folder\n/x/d.txt\n/not/there.bmp\r\n");
  EXPECT_EQ(list.Entries(), (std::vector<std::string>{"/x/a.bmp", "/x/c.ICO", "/not/there.bmp"}));
  list.ReplaceWithLines("");
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(TSourceList::JoinLines({"/a.bmp", "/b.bmp"}), "/a.bmp\r\n/b.bmp\r\n");
  EXPECT_EQ(FileCountText(2), "Files: 2");
}

}  // namespace
}  // namespace pellavo

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <set>
#include <thread>

#include "core/errors.h"
#include "core/files.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TEST(UniqueFileName, TakesTheFirstFreeNumber) {
  TTempDir dir;
  EXPECT_EQ(UniqueFileName(dir.File("a.jpg")), dir.File("a.jpg"));
  WriteBytes(dir.File("a.jpg"), {1});
  WriteBytes(dir.File("a[1].jpg"), {1});
  WriteBytes(dir.File("a[2].jpg"), {1});
  EXPECT_EQ(UniqueFileName(dir.File("a.jpg")), dir.File("a[3].jpg"));
  // A folder of that name does not count as a file.
  ::mkdir(dir.File("b.jpg").c_str(), 0755);
  EXPECT_EQ(UniqueFileName(dir.File("b.jpg")), dir.File("b.jpg"));
  EXPECT_EQ(NumberedFileName("/x/noext", 4), "/x/noext[4]");
}

TEST(SafeOutput, ReplacesOnlyAfterACompleteWrite) {
  TTempDir dir;
  const std::string target = dir.File("photo.jpg");
  WriteBytes(target, {1, 2, 3});
  {
    TSafeOutput out(target, true);
    out.Stream().Write("new bytes", 9);
    // Not committed: the failure path of a writer.
  }
  EXPECT_EQ(ReadBytes(target), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"photo.jpg"}) << "no temporary file is left";

  {
    TSafeOutput out(target, true);
    out.Stream().Write("new", 3);
    out.Commit();
    EXPECT_EQ(out.FinalName(), target);
  }
  EXPECT_EQ(ReadBytes(target), (std::vector<uint8_t>{'n', 'e', 'w'}));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"photo.jpg"});
}

// Only files of the temporary pattern, and nothing under a real name, while writers work: an
// interrupted run leaves no empty file for the next run to number around.
TEST(SafeOutput, WithoutOverwriteTakesAFreeNameOnlyWhenPublishing) {
  TTempDir dir;
  WriteBytes(dir.File("a.png"), {9});
  {
    TSafeOutput first(dir.File("a.png"), false);
    TSafeOutput second(dir.File("a.png"), false);
    first.Stream().Write("1", 1);
    second.Stream().Write("2", 1);
    const std::vector<std::string> during = dir.List();
    ASSERT_EQ(during.size(), 3u);
    EXPECT_EQ(during[2], "a.png");
    for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(IsTempFileName(during[i])) << during[i];

    second.Commit();
    EXPECT_EQ(second.FinalName(), dir.File("a[1].png"));
    // first is dropped unfinished: a writer that failed.
  }
  EXPECT_EQ(ReadBytes(dir.File("a.png")), (std::vector<uint8_t>{9}));
  EXPECT_EQ(ReadBytes(dir.File("a[1].png")), (std::vector<uint8_t>{'2'}));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.png", "a[1].png"}));
}

// The run's table of free names only says where to start: the names are still the first free
// ones, gaps of the user's included, and each search starts past the run's own outputs.
TEST(SafeOutput, FreeNamesStartPastTheRunsOwnOutputsAndKeepTheFirstFreeRule) {
  TTempDir dir;
  for (const char* taken : {"a.png", "a[1].png", "a[3].png"}) WriteBytes(dir.File(taken), {9});
  TFreeNames names;
  struct Publication {
    const char* name;
    int attempts;  // tried names, all together so far
  };
  for (const Publication& p : {Publication{"a[2].png", 3}, Publication{"a[4].png", 5}, Publication{"a[5].png", 6}}) {
    TSafeOutput out(dir.File("a.png"), false, &names);
    out.Commit();
    EXPECT_EQ(out.FinalName(), dir.File(p.name));
    EXPECT_EQ(names.Attempts(), uint64_t(p.attempts)) << p.name;
  }
  // Another name has its own start; overwriting takes no free name.
  EXPECT_EQ(WriteFileSafely(dir.File("b.png"), false, "b", 1), dir.File("b.png"));
  TSafeOutput replacing(dir.File("a.png"), true, &names);
  replacing.Commit();
  EXPECT_EQ(replacing.FinalName(), dir.File("a.png"));
  EXPECT_EQ(names.FirstToTry(dir.File("a.png")), 6);
}

// A temporary name of its own length, so a name that fits the folder can be written.
TEST(SafeOutput, ANameNearTheLimitFits) {
  TTempDir dir;
  const std::string name = std::string(250, 'n') + ".png";  // 254 bytes, the limit is 255
  EXPECT_EQ(WriteFileSafely(dir.File(name), false, "x", 1), dir.File(name));
  EXPECT_EQ(dir.List(), std::vector<std::string>{name});
}

// With overwrite, what is at the output path decides: a link is replaced as a link, so its
// target (outside the folder, say) is never written; a folder or a pipe is refused.
TEST(SafeOutput, OverwriteReplacesALinkItselfAndRefusesWhatIsNoFile) {
  TTempDir dir;
  ::mkdir(dir.File("out").c_str(), 0755);
  WriteBytes(dir.File("precious"), {1, 2});
  ASSERT_EQ(::symlink("../precious", dir.File("out/x.jpg").c_str()), 0);
  EXPECT_EQ(WriteFileSafely(dir.File("out/x.jpg"), true, "new", 3), dir.File("out/x.jpg"));
  EXPECT_EQ(ReadBytes(dir.File("precious")), (std::vector<uint8_t>{1, 2}));
  struct stat st;
  ASSERT_EQ(::lstat(dir.File("out/x.jpg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadBytes(dir.File("out/x.jpg")), (std::vector<uint8_t>{'n', 'e', 'w'}));

  // Without overwrite a link, even one to nothing, holds its name.
  ASSERT_EQ(::symlink("nowhere", dir.File("out/y.jpg").c_str()), 0);
  EXPECT_EQ(WriteFileSafely(dir.File("out/y.jpg"), false, "y", 1), dir.File("out/y[1].jpg"));

  ASSERT_EQ(::mkfifo(dir.File("out/pipe.jpg").c_str(), 0644), 0);
  EXPECT_THROW(TSafeOutput(dir.File("out/pipe.jpg"), true), EFCreateError);
  EXPECT_EQ(test::TTempDir::ListOf(dir.File("out")),
            (std::vector<std::string>{"pipe.jpg", "x.jpg", "y.jpg", "y[1].jpg"}));
}

TEST(SafeOutput, ManyWritersRacingForOneNameEachGetTheirOwnFile) {
  TTempDir dir;
  constexpr int kWriters = 24;
  std::vector<std::string> names(kWriters);
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (int i = 0; i < kWriters; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      const uint8_t byte = static_cast<uint8_t>(i);
      names[size_t(i)] = WriteFileSafely(dir.File("out.bmp"), false, &byte, 1);
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), size_t{kWriters});
  // Every writer's byte is in the file it was told about: nothing was overwritten.
  for (int i = 0; i < kWriters; ++i) EXPECT_EQ(ReadBytes(names[size_t(i)]), (std::vector<uint8_t>{uint8_t(i)}));
  EXPECT_EQ(dir.List().size(), size_t{kWriters});
}

TEST(SafeOutput, KeepsTheModeOfAReplacedFileAndRefusesAFolder) {
  TTempDir dir;
  const std::string target = dir.File("keep.bin");
  WriteBytes(target, {1});
  ::chmod(target.c_str(), 0640);
  WriteFileSafely(target, true, "z", 1);
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ::mkdir(dir.File("folder.bin").c_str(), 0755);
  EXPECT_THROW(TSafeOutput(dir.File("folder.bin"), true), EFCreateError);
  EXPECT_THROW(TSafeOutput(dir.File("missing/x.bin"), true), EFCreateError);
}

// The fallback for file systems whose rename cannot refuse to replace.
TEST(SafeOutput, LinkNoReplacePublishesOnlyOntoAFreeName) {
  TTempDir dir;
  WriteBytes(dir.File("t1"), {1});
  WriteBytes(dir.File("taken"), {7});
  EXPECT_EQ(files_detail::LinkNoReplace(dir.File("t1"), dir.File("taken")), EEXIST);
  EXPECT_EQ(ReadBytes(dir.File("taken")), (std::vector<uint8_t>{7}));
  EXPECT_EQ(files_detail::LinkNoReplace(dir.File("t1"), dir.File("free")), 0);
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"free", "taken"}));
}

// Only our own leftovers go: a file of the user's that merely has a temporary file's name, however
// old, stays, and so does a copy of a leftover that carries its mark (another inode).
TEST(StaleTempFiles, OnlyOldLeftoversOfOurOwnGo) {
  TTempDir dir;
  const std::string old_leftover = test::LeftoverOfAKilledRun(dir.Path(), 25);
  const std::string fresh_leftover = test::LeftoverOfAKilledRun(dir.Path(), 23);
  for (const char* name : {".pv-Ab3xY9", ".pv-abc", ".pv-abcdefg", ".pv-ab_def", "pv-abcdef", "a.jpg"}) {
    WriteBytes(dir.File(name), {0});
    test::AgeFile(dir.File(name), 25);
  }
  // A copy with the extended attributes kept, as cp -a makes it.
  const std::vector<uint8_t> bytes = ReadBytes(dir.File(old_leftover));
  WriteBytes(dir.File(".pv-copy00"), bytes);
  char mark[64];
  const ssize_t length = ::getxattr(dir.File(old_leftover).c_str(), "user.pellavo.temporary", mark, sizeof mark);
  ASSERT_GT(length, 0) << "the leftover carries its mark";
  ASSERT_EQ(::setxattr(dir.File(".pv-copy00").c_str(), "user.pellavo.temporary", mark, size_t(length), 0), 0);
  test::AgeFile(dir.File(".pv-copy00"), 25);
  ::mkdir(dir.File(".pv-folder").c_str(), 0755);
  test::AgeFile(dir.File(".pv-folder"), 25);
  ASSERT_EQ(::symlink(old_leftover.c_str(), dir.File(".pv-link00").c_str()), 0);
  test::AgeFile(dir.File(".pv-link00"), 25);

  EXPECT_EQ(RemoveStaleTempFiles(dir.Path(), kStaleTempAge), 1);
  std::vector<std::string> expected = {".pv-Ab3xY9", ".pv-ab_def", ".pv-abc", ".pv-abcdefg", ".pv-copy00", ".pv-folder",
                                       ".pv-link00", "a.jpg", fresh_leftover, "pv-abcdef"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.List(), expected);
  EXPECT_EQ(RemoveStaleTempFiles(dir.File("missing"), kStaleTempAge), 0);
}

// An output is the user's file: it does not carry the temporary files' mark.
TEST(StaleTempFiles, OutputsDoNotCarryTheMark) {
  TTempDir dir;
  const std::string name = WriteFileSafely(dir.File("a.jpg"), false, "x", 1);
  char mark[64];
  EXPECT_LT(::getxattr(name.c_str(), "user.pellavo.temporary", mark, sizeof mark), 0);
  ASSERT_EQ(::rename(name.c_str(), dir.File(".pv-renam1").c_str()), 0);
  test::AgeFile(dir.File(".pv-renam1"), 48);
  EXPECT_EQ(RemoveStaleTempFiles(dir.Path(), kStaleTempAge), 0);
}

// A source that is not a regular file fails at once by name instead of blocking the reader.
TEST(OpenRead, RefusesWhatIsNoRegularFileWithoutBlocking) {
  TTempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("x.jpg").c_str(), 0644), 0);
  ::mkdir(dir.File("d.jpg").c_str(), 0755);
  struct Case {
    std::string path;
    const char* reason;
  };
  const Case cases[] = {{dir.File("x.jpg"), "Not a regular file"},
                        {"/dev/null", "Not a regular file"},
                        {dir.File("d.jpg"), "Is a directory"},
                        {dir.File("gone.jpg"), "No such file or directory"}};
  for (const Case& c : cases) {
    try {
      ReadWholeFile(c.path);
      ADD_FAILURE() << c.path << " was read";
    } catch (const EFOpenError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + c.path + "\". " + c.reason);
    }
  }
}

}  // namespace
}  // namespace pellavo

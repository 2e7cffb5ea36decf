#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
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

TEST(SafeOutput, WithoutOverwriteClaimsAFreeNameAndReleasesItOnFailure) {
  TTempDir dir;
  WriteBytes(dir.File("a.png"), {9});
  {
    TSafeOutput out(dir.File("a.png"), false);
    EXPECT_EQ(out.FinalName(), dir.File("a[1].png"));
    // The name is held while the writer works, so another writer skips it.
    TSafeOutput other(dir.File("a.png"), false);
    EXPECT_EQ(other.FinalName(), dir.File("a[2].png"));
    other.Stream().Write("x", 1);
    other.Commit();
  }
  EXPECT_EQ(ReadBytes(dir.File("a.png")), (std::vector<uint8_t>{9}));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.png", "a[2].png"}));
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

}  // namespace
}  // namespace pellavo

#include <gtest/gtest.h>

#include "batch/output_naming.h"

namespace pellavo {
namespace {

TEST(OutputFileName, DestinationFormatAndNumberedAdditions) {
  using enum TOutputFormat;
  struct Case {
    const char* source;
    int index;
    TNamingRule rule;
    const char* expected;
  };
  const Case cases[] = {
      {"/pics/a.jpg", 0, {Source, "/out", "", "_$"}, "/out/a_0.jpg"},
      {"/pics/c.jpg", 2, {Source, "/out", "", "_$"}, "/out/c_2.jpg"},
      {"/pics/b.jpg", 1, {Png, "/out", "web$-", ""}, "/out/web1-b.png"},
      {"/pics/c.jpg", 22, {Source, "", "$$", ""}, "/pics/2222c.jpg"},
      {"/pics/c.jpg", 3, {Source, "", "", "-small"}, "/pics/c-small.jpg"},
      // A trailing separator on the destination makes no difference.
      {"/pics/a.jpg", 0, {Source, "/out/", "", "_$"}, "/out/a_0.jpg"},
      // No destination, "Source", no addition: the source path itself.
      {"/pics/a.jpg", 5, {Source, "", "", ""}, "/pics/a.jpg"},
      // Without an extension the new one is appended, and a postfix stands before it.
      {"/pics/noext", 4, {Jpg, "", "", "_$"}, "/pics/noext_4.jpg"},
      {"/pics/noext", 4, {Source, "", "", "_$"}, "/pics/noext_4"},
      {"/pics/photo.JPEG", 0, {Pdf, "/out", "", ""}, "/out/photo.pdf"},
  };
  for (const Case& c : cases) EXPECT_EQ(OutputFileName(c.source, c.index, c.rule), c.expected) << c.source;
}

// What keeps every output in its folder: additions without separators, and a last check of
// each path before anything is created.
TEST(OutputFolder, AdditionsWithSeparatorsAreRefusedAndEveryPathIsChecked) {
  for (const char* bad : {"../", "/..", "a/b", "/", "$/"}) EXPECT_FALSE(NameAdditionProblem(bad).empty()) << bad;
  for (const char* good : {"", "..", ".", "_$", "web$-", "\\", "a b"}) EXPECT_TRUE(NameAdditionProblem(good).empty()) << good;

  EXPECT_EQ(OutputFolderOf("/pics/a.jpg", ""), "/pics/");
  EXPECT_EQ(OutputFolderOf("/pics/a.jpg", "/out"), "/out/");
  EXPECT_EQ(OutputFolderOf("a.jpg", ""), "");
  struct Case {
    const char* output;
    const char* folder;
    bool stays;
  };
  const Case cases[] = {
      {"/out/a.jpg", "/out/", true},     {"a.jpg", "", true},           {"/out/..a.jpg", "/out/", true},
      {"/out/../a.jpg", "/out/", false}, {"/out/sub/a.jpg", "/out/", false}, {"/elsewhere/a.jpg", "/out/", false},
      {"/out/..", "/out/", false},       {"/out/.", "/out/", false},    {"/out/", "/out/", false},
      {"sub/a.jpg", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(OutputStaysIn(c.output, c.folder), c.stays) << c.output;
}

}  // namespace
}  // namespace pellavo

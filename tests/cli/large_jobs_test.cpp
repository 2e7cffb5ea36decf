// pellavo-cli on large jobs: mirrored trees, outputs in a sub-folder beside each source, runs
// resumed after an interrupt, outputs held to a size, and one list split among processes.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_run.h"
#include "core/files.h"
#include "formats/all/standard_formats.h"
#include "formats/picture.h"
#include "support/commands.h"
#include "support/images.h"
#include "support/temp_dir.h"

namespace pellavo {
namespace {

using test::TTempDir;

using test::Lines;
using test::ReadText;
using test::TCliRun;

// Some cases convert a hundred files or more: a minute before a run counts as hung.
TCliRun RunIn(const std::string& folder, const std::string& args) { return test::RunCliIn(folder, args, "", 60); }

// Every file below folder, as paths relative to it, sorted; folders only through their files.
void ListTree(const std::string& folder, const std::string& prefix, std::set<std::string>& out) {
  for (const std::string& name : TTempDir::ListOf(folder)) {
    const std::string path = folder + "/" + name;
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
    if (S_ISDIR(st.st_mode))
      ListTree(path, prefix + name + "/", out);
    else
      out.insert(prefix + name);
  }
}
std::set<std::string> Tree(const std::string& folder) {
  std::set<std::string> out;
  ListTree(folder, "", out);
  return out;
}

// A pattern BMP at path, below folders made as needed.
void WriteImage(const std::string& path, int32_t w = 16, int32_t h = 12) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0755);
  test::WritePatternBmp(path, w, h);
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The value of a numeric field in a JSON line, -1 when it is absent or null.
int64_t JsonNumber(const std::string& line, const std::string& field) {
  const size_t at = line.find("\"" + field + "\":");
  if (at == std::string::npos) return -1;
  const std::string rest = line.substr(at + field.size() + 3);
  return rest.starts_with("null") ? -1 : std::stoll(rest);
}

TEST(CliLargeJobs, UsageErrorsSayWhy) {
  TTempDir dir;
  WriteImage(dir.File("a.bmp"), 8, 6);
  ::mkdir(dir.File("d").c_str(), 0755);
  struct Case {
    const char* args;
    const char* says;
  };
  const Case cases[] = {
      {"--skip-existing --overwrite a.bmp", "--overwrite excludes --skip-existing"},
      {"--subfolder a/b a.bmp", "--subfolder must be one folder name"},
      {"--subfolder .. a.bmp", "--subfolder must be one folder name"},
      {"--subfolder . a.bmp", "--subfolder must be one folder name"},
      {"--subfolder '' a.bmp", "--subfolder must be one folder name"},
      {"--subfolder small --dest d a.bmp", "--subfolder puts outputs beside their sources: it excludes --dest"},
      {"--keep-tree a.bmp", "--keep-tree needs --dest"},
      {"--max-kb 0 a.bmp", "--max-kb: Value 0 not in range 1 to 1048576"},
      {"--max-kb 100 --format png a.bmp", "--max-kb applies to jpg, webp, avif or jxl outputs only, not png"},
      {"--max-kb 100 --fastcopy --dest d a.bmp", "--max-kb cannot shrink the files --fastcopy copies unchanged"},
      {"--shard 3/3 a.bmp", "--shard must be K/N with 0 <= K < N"},
      {"--shard 0/0 a.bmp", "--shard must be K/N"},
      {"--shard -1/2 a.bmp", "--shard must be K/N"},
      {"--shard 1 a.bmp", "--shard must be K/N"},
      {"--shard 1/2x a.bmp", "--shard must be K/N"},
      {"--shard ' 1/2' a.bmp", "--shard must be K/N"},
  };
  for (const Case& c : cases) {
    const TCliRun r = RunIn(dir.Path(), c.args);
    EXPECT_EQ(r.code, 2) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.bmp", "d"})) << c.args << ": nothing is written";
  }
}

// A second run with --skip-existing converts nothing that is there: no name[1] copies, each file
// reported as skipped (a line in text, a "skipped" object in JSON, counted in the summaries),
// and the status stays 0. Only the missing ones are converted.
TEST(CliLargeJobs, SkipExistingReportsSkippedFilesAndConvertsOnlyTheMissing) {
  TTempDir dir;
  for (const char* name : {"in/a.bmp", "in/b.bmp", "c.bmp"}) WriteImage(dir.File(name), 16, 12);
  ASSERT_EQ(RunIn(dir.Path(), "--quiet --format jpg --dest in c.bmp").code, 0);
  ASSERT_EQ(::rename(dir.File("in/c.jpg").c_str(), dir.File("in/c.JPEG").c_str()), 0);
  ASSERT_EQ(RunIn(dir.Path(), "--quiet --format png --dest in --prefix s_ in/a.bmp in/b.bmp").code, 0);
  ::unlink(dir.File("in/s_b.png").c_str());

  const TCliRun text = RunIn(dir.Path(), "--skip-existing --format png --dest in --prefix s_ in/a.bmp in/b.bmp");
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("skipped: in/a.bmp: in/s_a.png exists\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("in/s_b.png\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Files processed: 2 in "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(" secs, 1 skipped\n"), std::string::npos) << text.out;
  EXPECT_EQ(Tree(dir.File("in")), (std::set<std::string>{"a.bmp", "b.bmp", "c.JPEG", "s_a.png", "s_b.png"}));

  const TCliRun quiet = RunIn(dir.Path(), "--quiet --skip-existing --format png --dest in --prefix s_ in/a.bmp in/b.bmp");
  EXPECT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.out.find("skipped:"), std::string::npos) << quiet.out;
  EXPECT_NE(quiet.out.find(" secs, 2 skipped\n"), std::string::npos) << quiet.out;

  const TCliRun json = RunIn(dir.Path(), "--json --skip-existing --format png --dest in --prefix s_ in/a.bmp in/b.bmp");
  EXPECT_EQ(json.code, 0);
  EXPECT_EQ(Count(json.out, "\"status\":\"skipped\",\"reason\":\"the output exists\""), 2u) << json.out;
  EXPECT_NE(json.out.find("\"output\":\"in/s_a.png\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"written\":0,\"failed\":0,\"skipped\":2,"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"exit_status\":0"), std::string::npos) << json.out;

  // A source kept in its own format under an alias extension is written as .jpg: that is the
  // name looked for.
  ASSERT_EQ(RunIn(dir.Path(), "--quiet --dest in --prefix s_ in/c.JPEG").code, 0);
  ASSERT_TRUE(FileExists(dir.File("in/s_c.jpg")));
  const TCliRun alias = RunIn(dir.Path(), "--skip-existing --dest in --prefix s_ in/c.JPEG");
  EXPECT_NE(alias.out.find("skipped: in/c.JPEG: in/s_c.jpg exists"), std::string::npos) << alias.out;
  EXPECT_FALSE(FileExists(dir.File("in/s_c[1].jpg")));

  // Copies keep their name's extension, and are skipped by it.
  ::mkdir(dir.File("copies").c_str(), 0755);
  ASSERT_EQ(RunIn(dir.Path(), "--quiet --fastcopy --dest copies in/c.JPEG").code, 0);
  const TCliRun copy = RunIn(dir.Path(), "--skip-existing --fastcopy --dest copies in/c.JPEG in/a.bmp");
  EXPECT_EQ(copy.code, 0);
  EXPECT_EQ(Tree(dir.File("copies")), (std::set<std::string>{"a.bmp", "c.JPEG"}));
}

// STOP after some files, then the same command with --skip-existing: exactly the rest is
// converted, with no duplicates.
TEST(CliLargeJobs, ARunInterruptedAndResumedWithSkipExistingConvertsExactlyTheRest) {
  TTempDir dir, logs;
  WriteImage(dir.File("in/img_000.bmp"), 640, 480);
  char name[32];
  for (int i = 1; i < 120; ++i) {
    std::snprintf(name, sizeof name, "in/img_%03d.bmp", i);
    ASSERT_EQ(::link(dir.File("in/img_000.bmp").c_str(), dir.File(name).c_str()), 0);
  }
  ::mkdir(dir.File("d").c_str(), 0755);
  const std::vector<std::string> argv = {PELLAVO_CLI_PATH, "-j",     "2",         "--format", "png", "--size",
                                         "300",            "--json", "--dest",    dir.File("d"), dir.File("in")};
  std::vector<std::string> resumed = argv;
  resumed.insert(resumed.begin() + 1, "--skip-existing");

  int first_written = 0;
  {
    test::TChild cli(resumed, logs.File("out1"), logs.File("err1"));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadText(logs.File("out1")).find("\"written\"") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cli.Signal(SIGINT);
    ASSERT_EQ(cli.Wait(), 130);
    first_written = static_cast<int>(Count(ReadText(logs.File("out1")), "\"status\":\"written\""));
  }
  ASSERT_GT(first_written, 0);
  ASSERT_LT(first_written, 120) << "the interrupt came too late to test a resume";
  EXPECT_EQ(TTempDir::ListOf(dir.File("d")).size(), static_cast<size_t>(first_written));

  test::TChild again(resumed, logs.File("out2"), logs.File("err2"));
  ASSERT_EQ(again.Wait(), 0) << ReadText(logs.File("err2"));
  const std::string out = ReadText(logs.File("out2"));
  EXPECT_EQ(Count(out, "\"status\":\"written\""), static_cast<size_t>(120 - first_written));
  EXPECT_EQ(Count(out, "\"status\":\"skipped\""), static_cast<size_t>(first_written));
  const std::vector<std::string> outputs = TTempDir::ListOf(dir.File("d"));
  ASSERT_EQ(outputs.size(), 120u);
  for (const std::string& output : outputs) EXPECT_EQ(output.find('['), std::string::npos) << output;
}

// --subfolder puts each output in NAME/ beside its source, made when missing; a NAME that is a
// file or a link out is refused for the files of that folder only.
TEST(CliLargeJobs, SubfolderPutsOutputsBesideEachSource) {
  TTempDir dir;
  for (const char* name : {"in/a.bmp", "in/x/b.bmp", "in/y/c.bmp", "elsewhere/keep"}) WriteImage(dir.File(name), 20, 10);
  const TCliRun r = RunIn(dir.Path(), "-r --format png --size 10 --subfolder small in");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Tree(dir.File("in")), (std::set<std::string>{"a.bmp", "small/a.png", "x/b.bmp", "x/small/b.png", "y/c.bmp",
                                                         "y/small/c.png"}));
  // Again, resumed: the scan passes over the small/ folders, whose files are no sources, and
  // converts nothing.
  const TCliRun again = RunIn(dir.Path(), "-r --format png --size 10 --subfolder small --skip-existing in");
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_NE(again.out.find("Files processed: 3 in "), std::string::npos) << again.out;
  EXPECT_NE(again.out.find(", 3 skipped"), std::string::npos) << again.out;
  EXPECT_EQ(Tree(dir.File("in")).size(), 6u);

  // The sub-folder's name taken by a file, and by a link that leads out.
  test::WriteBytes(dir.File("in/x/thumbs"), {'f'});
  ASSERT_EQ(::symlink("../../elsewhere", dir.File("in/y/thumbs").c_str()), 0);
  const TCliRun blocked = RunIn(dir.Path(), "-r --format png --subfolder thumbs in");
  EXPECT_EQ(blocked.code, 1);
  EXPECT_NE(blocked.err.find("failed: in/x/b.bmp: \"in/x/thumbs\" exists and is not a folder"), std::string::npos)
      << blocked.err;
  EXPECT_NE(blocked.err.find("failed: in/y/c.bmp: \"in/y/thumbs\" is a symbolic link"), std::string::npos) << blocked.err;
  EXPECT_TRUE(FileExists(dir.File("in/thumbs/a.png")));
  EXPECT_EQ(TTempDir::ListOf(dir.File("elsewhere")), (std::vector<std::string>{"keep"}));
}

// Two folders holding the same names mirror into one destination without name[1] copies; a
// file named alone goes to the destination itself; "$" numbers count through the whole list.
TEST(CliLargeJobs, KeepTreeMirrorsTheFoldersBelowEachFolderNamed) {
  TTempDir dir;
  for (const char* name : {"photos/2019/img.bmp", "photos/2020/img.bmp", "photos/2020/deep/img.bmp", "photos/top.bmp",
                           "alone.bmp", "outside/keep"})
    WriteImage(dir.File(name), 20, 10);
  ::mkdir(dir.File("out").c_str(), 0755);
  const TCliRun r = RunIn(dir.Path(), "-r --keep-tree --format png --postfix _$ --dest out photos alone.bmp");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Tree(dir.File("out")), (std::set<std::string>{"2019/img_0.png", "2020/deep/img_1.png", "2020/img_2.png",
                                                          "top_3.png", "alone_4.png"}));
  // Without the tree the same names collide.
  ::mkdir(dir.File("flat").c_str(), 0755);
  ASSERT_EQ(RunIn(dir.Path(), "-r --format png --dest flat photos").code, 0);
  EXPECT_EQ(Tree(dir.File("flat")), (std::set<std::string>{"img.png", "img[1].png", "img[2].png", "top.png"}));

  // A folder of the destination that is a link leading out takes none of the outputs.
  ::mkdir(dir.File("linked").c_str(), 0755);
  ASSERT_EQ(::symlink("../outside", dir.File("linked/2019").c_str()), 0);
  const TCliRun escape = RunIn(dir.Path(), "-r --keep-tree --format png --dest linked photos");
  EXPECT_EQ(escape.code, 1);
  EXPECT_NE(escape.err.find("failed: photos/2019/img.bmp: \"linked/2019\" is a symbolic link"), std::string::npos)
      << escape.err;
  EXPECT_EQ(TTempDir::ListOf(dir.File("outside")), (std::vector<std::string>{"keep"}));
  EXPECT_TRUE(FileExists(dir.File("linked/2020/deep/img.png")));
}

// N shards of one list write disjoint parts whose union is the whole list, with the names the
// whole list gives; a shard past the end of a short list converts nothing and succeeds.
TEST(CliLargeJobs, ShardsSplitOneListWithoutCollisions) {
  TTempDir dir;
  for (int i = 0; i < 7; ++i) WriteImage(dir.File("in/f" + std::to_string(i) + ".bmp"), 8, 8);
  ::mkdir(dir.File("d").c_str(), 0755);
  std::map<std::string, int> shard_of;
  for (int k = 0; k < 3; ++k) {
    const TCliRun r = RunIn(dir.Path(), "--quiet --prefix '$_' --format png --dest d --shard " + std::to_string(k) + "/3 in");
    EXPECT_EQ(r.code, 0) << r.err;
    for (const std::string& name : TTempDir::ListOf(dir.File("d")))
      if (!shard_of.contains(name)) shard_of[name] = k;
  }
  const std::map<std::string, int> expected = {{"0_f0.png", 0}, {"1_f1.png", 1}, {"2_f2.png", 2}, {"3_f3.png", 0},
                                               {"4_f4.png", 1}, {"5_f5.png", 2}, {"6_f6.png", 0}};
  EXPECT_EQ(shard_of, expected);

  const TCliRun empty = RunIn(dir.Path(), "--format png --dest d --shard 5/9 in/f0.bmp");
  EXPECT_EQ(empty.code, 0) << empty.err;
  EXPECT_NE(empty.out.find("Files processed: 0 in "), std::string::npos) << empty.out;
}

// Three shard processes started by GNU parallel on one list, as across machines: every file
// converted exactly once; rerun with --skip-existing (a retried job) they convert nothing.
TEST(CliLargeJobs, GnuParallelRunsTheShardsOfOneListAndEachFileIsConvertedOnce) {
  ASSERT_TRUE(test::HaveTool("parallel")) << "GNU parallel (scripts/setup-deps installs it)";
  TTempDir dir;
  WriteImage(dir.File("in/a/p00.bmp"), 64, 48);
  ::mkdir(dir.File("in/b").c_str(), 0755);
  std::string list;
  for (int i = 0; i < 40; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "in/%c/p%02d.bmp", i % 2 ? 'b' : 'a', i);
    if (i > 0) {
      ASSERT_EQ(::link(dir.File("in/a/p00.bmp").c_str(), dir.File(name).c_str()), 0) << name;
    }
    list += std::string(name) + "\n";
  }
  test::WriteBytes(dir.File("list"), std::vector<uint8_t>(list.begin(), list.end()));
  ::mkdir(dir.File("out").c_str(), 0755);
  const std::string command = std::string("cd '") + dir.Path() + "' && parallel --will-cite -j 3 --halt now,fail=1 " +
                              PELLAVO_CLI_PATH +
                              " --json --skip-existing --format png --size 32 --dest out --shard {}/3 --files-from list"
                              " ::: 0 1 2 2>&1";
  const test::TCommandResult first = test::RunCommand(command);
  ASSERT_EQ(first.code, 0) << first.output;
  EXPECT_EQ(Count(first.output, "\"status\":\"written\""), 40u) << first.output;
  EXPECT_EQ(Count(first.output, "\"type\":\"summary\""), 3u);
  std::set<std::string> expected;
  for (int i = 0; i < 40; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%02d.png", i);
    expected.insert(name);
  }
  EXPECT_EQ(Tree(dir.File("out")), expected);

  const test::TCommandResult retried = test::RunCommand(command);
  ASSERT_EQ(retried.code, 0) << retried.output;
  EXPECT_EQ(Count(retried.output, "\"status\":\"written\""), 0u);
  EXPECT_EQ(Count(retried.output, "\"status\":\"skipped\""), 40u);
  EXPECT_EQ(Tree(dir.File("out")), expected);
}

// On a real photo: each lossy output is within the limit and within 25 % of it, and the JSON
// tells the quality chosen and the bytes written. A limit the lowest quality cannot meet takes
// a smaller picture; a format without quality kept by "source" is written with a warning.
TEST(CliLargeJobs, MaxKbHoldsRealPhotosToTheLimit) {
  RegisterStandardFormats();
  TTempDir dir;
  ASSERT_TRUE(FileExists("samples/landscape.jpg")) << "run from the source folder";
  ::mkdir(dir.File("out").c_str(), 0755);
  struct Case {
    const char* format;
    int size;
    int kb;
  };
  for (const Case& c : {Case{"jpg", 640, 30}, Case{"jpg", 640, 22}, Case{"webp", 320, 5}}) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.kb));
    const std::string args = "--json --overwrite --size " + std::to_string(c.size) + " --format " + c.format + " --max-kb " +
                             std::to_string(c.kb) + " --dest " + dir.File("out") + " samples/landscape.jpg";
    const test::TCommandResult r = test::RunCommand(std::string(PELLAVO_CLI_PATH) + " " + args);
    ASSERT_EQ(r.code, 0) << r.output;
    const std::string line = Lines(r.output).at(0);
    const std::string output = dir.File(std::string("out/landscape.") + c.format);
    const int64_t size = FileSize(output);
    EXPECT_LE(size, c.kb * 1024) << line;
    EXPECT_GE(size, c.kb * 1024 * 3 / 4) << line;
    EXPECT_EQ(JsonNumber(line, "bytes"), size) << line;
    const int64_t quality = JsonNumber(line, "quality");
    EXPECT_GE(quality, 40) << line;
    EXPECT_LT(quality, 90) << line;
    EXPECT_EQ(JsonNumber(line, "width"), c.size) << line;
  }

  // The floor quality is too large at 640 × 480 for 4 KB: 10 % smaller steps until it fits.
  const test::TCommandResult tiny = test::RunCommand(std::string(PELLAVO_CLI_PATH) + " --json --size 640 --format jpg --max-kb 4 --dest " +
                                                     dir.File("out") + " samples/landscape.jpg");
  ASSERT_EQ(tiny.code, 0) << tiny.output;
  const std::string line = Lines(tiny.output).at(0);
  EXPECT_LT(JsonNumber(line, "width"), 640) << line;
  EXPECT_LE(JsonNumber(line, "bytes"), 4 * 1024) << line;
  TPicture picture;
  picture.ReadFromFile(dir.File("out/landscape[1].jpg"));
  EXPECT_EQ(picture.Width(), JsonNumber(line, "width"));
  EXPECT_NEAR(picture.Height(), picture.Width() * 3 / 4, 1) << "the whole picture, smaller";

  // Metadata that alone is over the limit: the picture shrinks to a few pixels, then the file
  // fails by name and nothing is written.
  if (test::HaveTool("exiftool")) {
    ASSERT_EQ(test::RunCommand("cp samples/landscape.jpg " + dir.File("meta.jpg") +
                               " && exiftool -q -overwrite_original -XMP-dc:Description=" + std::string(6000, 'x') +
                               " " + dir.File("meta.jpg"))
                  .code,
              0);
    ::mkdir(dir.File("meta").c_str(), 0755);
    const TCliRun meta = RunIn(dir.Path(), "--keep-metadata --max-kb 3 --format jpg --dest meta meta.jpg");
    EXPECT_EQ(meta.code, 1);
    EXPECT_NE(meta.err.find("failed: meta.jpg: Cannot make \"meta.jpg\" as small as 3 KB: its format and metadata "
                            "alone take more"),
              std::string::npos)
        << meta.err;
    EXPECT_TRUE(TTempDir::ListOf(dir.File("meta")).empty());
  }

  // A PNG kept as it is has no quality to lower: a warning, and the JSON's quality is null.
  WriteImage(dir.File("p.bmp"), 20, 10);
  ASSERT_EQ(RunIn(dir.Path(), "--quiet --format png --dest " + dir.Path() + " p.bmp").code, 0);
  const TCliRun png = RunIn(dir.Path(), "--json --max-kb 1 --dest out p.png");
  EXPECT_EQ(png.code, 0) << png.err;
  EXPECT_NE(png.out.find("\"reason\":\"the .png format has no quality to lower; the size limit does not apply\""),
            std::string::npos)
      << png.out;
  EXPECT_NE(png.out.find("\"quality\":null,\"bytes\":" + std::to_string(FileSize(dir.File("out/p.png")))),
            std::string::npos)
      << png.out;
}

}  // namespace
}  // namespace pellavo

// pellavo-cli as an attacker, a careless script or an impatient user drives it: outputs stay
// where the user said, only regular files are read, interruptions leave nothing half-done, and
// the exit status and the reasons tell the truth.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
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
using namespace std::string_literals;

using test::Lines;
using test::ReadText;
using test::TCliRun;

// A run that hangs is ended after 30 s and exits 124.
TCliRun RunIn(const std::string& folder, const std::string& args, const std::string& prefix = "") {
  return test::RunCliIn(folder, args, prefix, 30);
}

bool IsLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Each case starts from in/a.bmp, in/b.bmp, an empty d/ and a file "precious" beside them.
// Whatever the case does, nothing appears outside in/ and d/ and "precious" keeps its bytes.
TEST(CliHostile, OutputsStayWhereTheUserSaidAndOnlyRegularFilesAreRead) {
  const std::string long_name = std::string(240, 'n') + ".bmp";  // its output fits; a longer temp would not
  struct Case {
    const char* name;
    std::function<void(const TTempDir&)> setup;
    std::string args;
    int code;
    std::vector<std::string> dest;  // all that d/ holds afterwards, hidden files included
    std::string says;               // in standard output or error
    std::function<void(const TTempDir&)> check;
  };
  const auto fifo = [](const TTempDir& dir) { ASSERT_EQ(::mkfifo(dir.File("in/p.bmp").c_str(), 0644), 0); };
  const auto link_to_precious = [](const TTempDir& dir) {
    ASSERT_EQ(::symlink("../precious", dir.File("d/a.bmp").c_str()), 0);
  };
  const Case cases[] = {
      {"prefix climbing out, with overwrite", nullptr, "--dest d --prefix ../ --overwrite in/a.bmp", 2, {},
       "must not contain \"/\"", nullptr},
      {"postfix climbing out", nullptr, "--dest d --postfix /.. in/a.bmp", 2, {}, "must not contain \"/\"", nullptr},
      {"postfix into a sub-folder beside the source", nullptr, "--postfix /x in/a.bmp", 2, {}, "must not contain", nullptr},
      {"a link at the output, with overwrite", link_to_precious, "--dest d --overwrite in/a.bmp", 0, {"a.bmp"},
       "d/a.bmp\n",
       [](const TTempDir& dir) { EXPECT_FALSE(IsLink(dir.File("d/a.bmp"))) << "the link itself is replaced"; }},
      {"a link at the output, without overwrite", link_to_precious, "--dest d in/a.bmp", 0, {"a.bmp", "a[1].bmp"},
       "d/a[1].bmp\n", [](const TTempDir& dir) { EXPECT_TRUE(IsLink(dir.File("d/a.bmp"))); }},
      {"a pipe named directly", fifo, "--dest d in/p.bmp in/a.bmp", 1, {"a.bmp"},
       "failed: in/p.bmp: Cannot open file \"in/p.bmp\". Not a regular file", nullptr},
      {"a pipe in a scanned folder", fifo, "--dest d in", 0, {"a.bmp", "b.bmp"}, "Files processed: 2", nullptr},
      {"a pipe in a fast copy", fifo, "--fastcopy --dest d in/p.bmp", 1, {}, "Not a regular file", nullptr},
      {"a name near the length limit",
       [&](const TTempDir& dir) { ASSERT_EQ(::link(dir.File("in/a.bmp").c_str(), dir.File("in/" + long_name).c_str()), 0); },
       "--dest d --format png in/" + long_name, 0, {std::string(240, 'n') + ".png"}, "Files processed: 1", nullptr},
      {"a missing input beside a good one", nullptr, "--dest d in/a.bmp in/missing.bmp", 1, {"a.bmp"},
       "pellavo-cli: in/missing.bmp: no such file or folder", nullptr},
      {"a sub-folder that cannot be read",
       [](const TTempDir& dir) { ASSERT_EQ(::symlink("loop", dir.File("in/loop").c_str()), 0); }, "-r --dest d in", 1,
       {"a.bmp", "b.bmp"}, "pellavo-cli: in/loop: too many levels of symbolic links", nullptr},
      {"a fast copy asked for another format keeps its bytes' extension", nullptr,
       "--fastcopy --format png --dest d in/a.bmp", 0, {"a.bmp"}, "d/a.bmp\n", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTempDir dir;
    ::mkdir(dir.File("in").c_str(), 0755);
    ::mkdir(dir.File("d").c_str(), 0755);
    test::WritePatternBmp(dir.File("in/a.bmp"), 16, 12);
    test::WritePatternBmp(dir.File("in/b.bmp"), 12, 16);
    test::WriteBytes(dir.File("precious"), {'k', 'e', 'e', 'p'});
    if (c.setup) c.setup(dir);

    const TCliRun r = RunIn(dir.Path(), c.args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_EQ(TTempDir::ListOf(dir.File("d")), c.dest);
    EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"d", "in", "precious"}));
    EXPECT_EQ(ReadText(dir.File("precious")), "keep");
    if (c.check) c.check(dir);
  }
}

// A damaged JPEG says what the library found; an unreadable folder says so rather than that it
// holds no images.
TEST(CliHostile, ReasonsSayWhatWentWrongInPlainWords) {
  TTempDir dir;
  ::mkdir(dir.File("d").c_str(), 0755);
  ASSERT_EQ(test::RunCommand("convert -size 64x48 gradient:red-blue " + dir.File("whole.jpg")).code, 0);
  std::vector<uint8_t> jpeg = test::ReadBytes(dir.File("whole.jpg"));
  jpeg.resize(jpeg.size() * 2 / 3);
  test::WriteBytes(dir.File("cut.jpg"), jpeg);
  const TCliRun cut = RunIn(dir.Path(), "--dest d cut.jpg");
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(cut.err.find("JPEG error #"), std::string::npos) << cut.err;
  EXPECT_NE(cut.err.find(": Premature end of input file\n"), std::string::npos) << cut.err;
}

// Permission checks do not apply to root: the folder is then read as another user.
TEST(CliHostile, AFolderThatCannotBeReadIsAFailureNamedAsSuch) {
  TTempDir dir;
  std::string as_other_user;
  if (::geteuid() == 0) {
    if (!test::HaveTool("setpriv")) GTEST_SKIP() << "needs setpriv to test as another user";
    as_other_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (RunIn(dir.Path(), "--version", as_other_user).code != 0) GTEST_SKIP() << "the build is not reachable by others";
  }
  ::chmod(dir.Path().c_str(), 0755);
  ::mkdir(dir.File("in").c_str(), 0755);
  ::mkdir(dir.File("in/locked").c_str(), 0755);
  ::mkdir(dir.File("d").c_str(), 0755);
  ::chmod(dir.File("d").c_str(), 0777);
  test::WritePatternBmp(dir.File("in/a.bmp"), 8, 8);
  test::WritePatternBmp(dir.File("in/locked/b.bmp"), 8, 8);
  ::chmod(dir.File("in/locked").c_str(), 0);

  const TCliRun named = RunIn(dir.Path(), "--dest d in/locked", as_other_user);
  EXPECT_EQ(named.code, 1);
  EXPECT_NE(named.err.find("pellavo-cli: in/locked: permission denied"), std::string::npos) << named.err;
  EXPECT_EQ(named.err.find("no image files found"), std::string::npos) << named.err;

  const TCliRun scanned = RunIn(dir.Path(), "-r --dest d in", as_other_user);
  EXPECT_EQ(scanned.code, 1);
  EXPECT_NE(scanned.err.find("pellavo-cli: in/locked: permission denied"), std::string::npos) << scanned.err;
  EXPECT_EQ(TTempDir::ListOf(dir.File("d")), std::vector<std::string>{"a.bmp"});
  ::chmod(dir.File("in/locked").c_str(), 0755);
}

TEST(CliHostile, NamesArePrintedEscapedOneLinePerFile) {
  TTempDir dir;
  ::mkdir(dir.File("in").c_str(), 0755);
  ::mkdir(dir.File("d").c_str(), 0755);
  test::WritePatternBmp(dir.File("in/a.bmp"), 8, 8);
  for (const char* name : {"in/x\ny\x1b[31m.bmp", "in/back\\slash.bmp", "in/bad\xff.bmp"})
    ASSERT_EQ(::link(dir.File("in/a.bmp").c_str(), dir.File(name).c_str()), 0);
  test::WriteBytes(dir.File("in/broken\r.bmp"), {'B', 'M'});

  const TCliRun r = RunIn(dir.Path(), "-j 1 --dest d in");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"d/a.bmp", "d/back\\\\slash.bmp", "d/bad\\xff.bmp",
                                                    "d/x\\ny\\x1b[31m.bmp", Lines(r.out).back()}));
  EXPECT_EQ(Lines(r.err), std::vector<std::string>{"failed: in/broken\\r.bmp: Bitmap image is not valid"});
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

TEST(CliHostile, FilesFromAFileOrStandardInputByLinesOrNulBytes) {
  TTempDir dir;
  ::mkdir(dir.File("in").c_str(), 0755);
  ::mkdir(dir.File("d").c_str(), 0755);
  test::WritePatternBmp(dir.File("in/a.bmp"), 8, 8);
  test::WritePatternBmp(dir.File("in/new\nline.bmp"), 8, 8);
  test::WritePatternBmp(dir.File("in/b.bmp"), 8, 8);

  const std::string nul_list = "in/a.bmp\0in/new\nline.bmp\0\0in/b.bmp\0"s;
  test::WriteBytes(dir.File("nul.list"), std::vector<uint8_t>(nul_list.begin(), nul_list.end()));
  test::WriteBytes(dir.File("lines.list"), {'i', 'n', '/', 'a', '.', 'b', 'm', 'p', '\n', '\n'});

  // The empty name between two NULs is no file: an input error, while the others are converted.
  const TCliRun from_stdin = RunIn(dir.Path(), "--quiet --dest d --files-from - -0 < nul.list");
  EXPECT_EQ(from_stdin.code, 1) << from_stdin.err;
  EXPECT_EQ(from_stdin.err, "pellavo-cli: -: an empty name in the list\n");
  EXPECT_EQ(TTempDir::ListOf(dir.File("d")), (std::vector<std::string>{"a.bmp", "b.bmp", "new\nline.bmp"}));

  // Paths on the command line and in the list are all taken.
  const TCliRun from_file = RunIn(dir.Path(), "--quiet --dest d --files-from lines.list in/b.bmp");
  EXPECT_EQ(from_file.code, 0) << from_file.err;
  EXPECT_NE(from_file.out.find("Files processed: 2"), std::string::npos) << from_file.out;

  struct Usage {
    const char* args;
    const char* says;
  };
  for (const Usage& u : {Usage{"--dest d -0 in/a.bmp", "--null requires --files-from"},
                         Usage{"--dest d --files-from missing.list", "--files-from: Cannot open file \"missing.list\""},
                         Usage{"--dest d", "paths is required"}}) {
    const TCliRun r = RunIn(dir.Path(), u.args);
    EXPECT_EQ(r.code, 2) << u.args;
    EXPECT_NE(r.err.find(u.says), std::string::npos) << u.args << "\n" << r.err;
  }
}

// Every object is parsed back by an independent JSON reader; names that are not UTF-8 come back
// byte for byte through the surrogate escapes.
TEST(CliHostile, JsonReportsEveryFileAndTheSummary) {
  if (!test::HaveTool("python3")) GTEST_SKIP() << "needs python3";
  TTempDir dir;
  ::mkdir(dir.File("in").c_str(), 0755);
  ::mkdir(dir.File("d").c_str(), 0755);
  test::WritePatternBmp(dir.File("in/a.bmp"), 40, 20);
  for (const char* name : {"in/q\"uote.bmp", "in/new\nline.bmp", "in/bad\xff\xfe.bmp", "in/\xc3\xbcn\xc3\xaf" "code.bmp"})
    ASSERT_EQ(::link(dir.File("in/a.bmp").c_str(), dir.File(name).c_str()), 0);
  test::WriteBytes(dir.File("in/broken.bmp"), {'B', 'M'});
  test::WriteBytes(dir.File("check.py"), [] {
    const std::string script = R"PY(
import json, os, sys
lines = sys.stdin.read().split("\n")
assert lines[-1] == "", "the last line ends in a line break"
objects = [json.loads(line) for line in lines[:-1]]
files = [o for o in objects if o["type"] == "file"]
inputs = [o for o in objects if o["type"] == "input"]
summary = objects[-1]
assert summary["type"] == "summary", summary
assert [o["type"] for o in objects].count("summary") == 1
sources = sorted(os.fsencode(o["source"]) for o in files)
assert sources == sorted(b"in/" + n for n in os.listdir(b"in")), sources
for o in files:
    if o["status"] == "written":
        assert os.path.getsize(os.fsencode(o["output"])) > 0, o
        assert (o["width"], o["height"], o["reason"]) == (20, 10, None), o
    else:
        assert o["status"] == "failed" and os.fsencode(o["source"]) == b"in/broken.bmp", o
        assert o["output"] is None and o["width"] is None and "not valid" in o["reason"], o
    assert isinstance(o["milliseconds"], int) and o["milliseconds"] >= 0, o
assert [(o["path"], o["status"], o["reason"]) for o in inputs] == [("gone", "failed", "no such file or folder")], inputs
assert (summary["files"], summary["written"], summary["failed"], summary["skipped"]) == (6, 5, 1, 0), summary
assert (summary["input_errors"], summary["interrupted"], summary["exit_status"]) == (1, None, 1), summary
print("ok")
)PY";
    return std::vector<uint8_t>(script.begin(), script.end());
  }());
  const TCliRun r = RunIn(dir.Path(), "--json --size 20 --dest d in gone > out.json; echo $?; python3 check.py < out.json");
  EXPECT_EQ(r.out, "1\nok\n") << r.err << ReadText(dir.File("out.json"));
  EXPECT_EQ(r.err.find("failed:"), std::string::npos) << "in JSON mode the files are reported on stdout only";
}

class CliInterrupt : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterStandardFormats();
    ::mkdir(dir.File("in").c_str(), 0755);
    ::mkdir(dir.File("d").c_str(), 0755);
  }
  // Waits until predicate holds, at most 30 s.
  static bool WaitFor(const std::function<bool()>& predicate) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!predicate()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  bool HasTempFile() const {
    for (const std::string& name : TTempDir::ListOf(dir.File("d")))
      if (IsTempFileName(name)) return true;
    return false;
  }
  // What d/ holds must be complete outputs only: no temporary, no empty file.
  void ExpectOnlyCompleteOutputs() const {
    for (const std::string& name : TTempDir::ListOf(dir.File("d"))) {
      EXPECT_FALSE(IsTempFileName(name)) << name;
      EXPECT_FALSE(test::ReadBytes(dir.File("d/" + name)).empty()) << name;
    }
  }
  std::vector<std::string> Cli(const std::string& args) const {
    std::vector<std::string> argv = {PELLAVO_CLI_PATH};
    size_t start = 0;
    for (size_t end; (end = args.find(' ', start)) != std::string::npos; start = end + 1)
      argv.push_back(args.substr(start, end - start));
    argv.push_back(args.substr(start));
    return argv;
  }

  TTempDir dir;
  TTempDir logs;
};

// The first signal launches nothing more and lets the running files finish: every line printed
// names a complete output, everything in the folder was printed, and the status says why.
TEST_F(CliInterrupt, AFirstSignalFinishesTheRunningFilesAndExitsWithItsStatus) {
  test::WritePatternBmp(dir.File("in/000.bmp"), 320, 240);
  char name[32];
  for (int i = 1; i < 200; ++i) {
    std::snprintf(name, sizeof name, "in/%03d.bmp", i);
    ASSERT_EQ(::link(dir.File("in/000.bmp").c_str(), dir.File(name).c_str()), 0);
  }
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
    SCOPED_TRACE(status);
    for (const std::string& old : TTempDir::ListOf(dir.File("d"))) ::unlink(dir.File("d/" + old).c_str());
    const std::string out = logs.File("out"), err = logs.File("err");
    test::TChild cli(Cli("-j 2 --format png --size 300 --dest " + dir.File("d") + " " + dir.File("in")), out, err);
    // The first line is on disk while the run goes on: lines are flushed one by one.
    ASSERT_TRUE(WaitFor([&] { return !test::ReadBytes(out).empty(); }));
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(), status);

    std::vector<std::string> lines = Lines(ReadText(out));
    ASSERT_FALSE(lines.empty());
    const std::string summary = lines.back();
    lines.pop_back();
    EXPECT_EQ(summary, "Files processed: " + std::to_string(lines.size()) + summary.substr(summary.find(" in ")));
    EXPECT_LT(lines.size(), 200u) << "the interrupt stopped the launching";
    std::set<std::string> printed;
    for (const std::string& line : lines) {
      TPicture picture;
      picture.ReadFromFile(line);
      EXPECT_EQ(picture.Width(), 300) << line;
      printed.insert(line.substr(line.rfind('/') + 1));
    }
    const std::vector<std::string> left = TTempDir::ListOf(dir.File("d"));
    EXPECT_EQ(std::set<std::string>(left.begin(), left.end()), printed);
    ExpectOnlyCompleteOutputs();
    EXPECT_NE(ReadText(err).find("launching nothing more"), std::string::npos) << ReadText(err);
  }
}

// A second signal abandons the files being written: their temporary files go, nothing partial is
// left under any name, and the run still ends with its summary, the JSON one too, in which the
// abandoned files count as failed.
TEST_F(CliInterrupt, ASecondSignalAbandonsTheRunningFilesAndStillPrintsTheSummary) {
  for (const char* name : {"in/a.bmp", "in/b.bmp", "in/c.bmp"}) test::WritePatternBmp(dir.File(name), 4000, 3000);
  const std::string out = logs.File("out"), err = logs.File("err");
  test::TChild cli(Cli("-j 3 --json --format png --size 5000 --dest " + dir.File("d") + " " + dir.File("in")), out, err);
  ASSERT_TRUE(WaitFor([&] { return HasTempFile(); })) << "a file is being written";
  cli.Signal(SIGINT);
  ASSERT_TRUE(WaitFor([&] { return ReadText(err).find("launching nothing more") != std::string::npos; }));
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 130);
  EXPECT_NE(ReadText(err).find("running files abandoned"), std::string::npos) << ReadText(err);
  ExpectOnlyCompleteOutputs();

  const std::string text = ReadText(out);
  std::vector<std::string> lines = Lines(text);
  ASSERT_FALSE(lines.empty()) << ReadText(err);
  const std::string summary = lines.back();
  int interrupted = 0, written = 0;
  for (const std::string& line : lines) {
    if (line.find("\"reason\":\"interrupted\"") != std::string::npos) {
      EXPECT_NE(line.find("\"status\":\"failed\""), std::string::npos) << line;
      ++interrupted;
    }
    if (line.find("\"status\":\"written\"") != std::string::npos) ++written;
  }
  EXPECT_GE(interrupted, 1) << text;
  EXPECT_EQ(summary, "{\"type\":\"summary\",\"files\":" + std::to_string(interrupted + written) +
                         ",\"written\":" + std::to_string(written) + ",\"failed\":" + std::to_string(interrupted) +
                         ",\"skipped\":0,\"input_errors\":0" + summary.substr(summary.find(",\"milliseconds\"")))
      << text;
  EXPECT_NE(summary.find(",\"interrupted\":\"SIGINT\",\"exit_status\":130}"), std::string::npos) << summary;
}

}  // namespace
}  // namespace pellavo

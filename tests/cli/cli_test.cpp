#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>

#include "core/decode_limits.h"
#include "core/files.h"
#include "core/version.h"
#include "formats/bmp/bitmap.h"
#include "formats/all/animations.h"
#include "formats/all/standard_formats.h"
#include "formats/jpeg/jpeg_encode.h"
#include "formats/picture.h"
#include "support/bombs.h"
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
                             "--border-color", "--no-frame", "--fastcopy", "--recursive", "--quiet", "--version",
                             "--max-image-mb", "--files-from", "--null", "--json", "\\udcXX", "130 after SIGINT",
                             "--no-autorotate", "--no-alpha", "--background", "--no-profile", "--keep-metadata",
                             "GPS position", "\"type\": \"warning\"", "--quality", "--no-enlarge", "--keep-dates", "--first-frame",
                             "--skip-existing", "--subfolder", "--keep-tree", "--max-kb", "--shard", "parallel --sshloginfile",
                             "JOB_COMPLETION_INDEX", "\"quality\": N|null", "\"bytes\": N|null"})
    EXPECT_NE(r.output.find(option), std::string::npos) << option;
  // The choices come from the program's own tables.
  EXPECT_NE(r.output.find("Output format: source (keep each file's own), jpg, bmp, png, gif, emf, jp2, pdf, webp, avif, tif or jxl"),
            std::string::npos);
  EXPECT_NE(r.output.find("Quality of jpg, webp, avif or jxl outputs"), std::string::npos);
  {
    // Said plainly, however the help wraps its lines.
    std::string words;
    bool space = false;
    for (const char c : r.output) {
      if (std::isspace(static_cast<unsigned char>(c))) {
        space = true;
        continue;
      }
      if (space && !words.empty()) words += ' ';
      space = false;
      words += c;
    }
    EXPECT_NE(words.find("Without --dest, and with the source's format, this replaces the original images themselves"),
              std::string::npos);
  }
  EXPECT_NE(r.output.find("GIF Image (gif); "), std::string::npos) << "the input formats, from the registry";
  EXPECT_NE(r.output.find("WebP Image (webp); AVIF Image (avif); HEIF Image (heic, heif); TIFF Image (tif, tiff); JPEG XL Image (jxl)."), std::string::npos);
  EXPECT_NE(r.output.find("Resampling filter: nearest, draft, linear, cosine, spline, lanczos, mitchell or box"),
            std::string::npos);
  EXPECT_NE(r.output.find("width|height|largest|percent (largest)"), std::string::npos);
  EXPECT_NE(r.output.find("none|land|all (none)"), std::string::npos);
}

TEST(Cli, VersionIsTheBuildsVersion) {
  const TResult r = RunCli("--version");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.output, "pellavo-cli " + std::string(kVersion) + "\n");
  // Four parts, as the window's title shows them: digits with three dots between.
  const std::string version(kVersion);
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
  EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
  EXPECT_EQ(version.find(".."), std::string::npos) << version;
}

// Every kind of usage error exits with 2, as the help promises, and says what was wrong.
TEST(Cli, BadArgumentsAreUsageErrorsThatSayWhy) {
  struct Case {
    const char* kind;
    const char* args;
    const char* says;
  };
  const Case cases[] = {
      {"unknown option", "--bogus x.bmp", "The following argument was not expected: --bogus"},
      {"missing value", "x.bmp --size", "--size: 1 required"},
      {"value out of range", "--size 3 x.bmp", "--size: Value 3 not in range 10 to 5000"},
      {"value out of range", "--percent 900 x.bmp", "--percent: Value 900 not in range 1 to 500"},
      {"value out of range", "--threads 100 x.bmp", "--threads: Value 100 not in range 0 to 99"},
      {"value out of range", "--max-image-mb 0 x.bmp", "--max-image-mb: Value 0 not in range 1 to 4096"},
      {"value out of range", "--max-image-mb 4097 x.bmp", "--max-image-mb: Value 4097 not in range 1 to 4096"},
      {"not a number", "--delay soon x.bmp", "--delay: Value soon not in range 0 to 500"},
      {"quality out of range", "--quality 0 x.bmp", "--quality: Value 0 not in range 1 to 100"},
      {"quality out of range", "--quality 101 x.bmp", "--quality: Value 101 not in range 1 to 100"},
      {"bad size mode", "--size-mode wide x.bmp", "--size-mode: Check wide value in"},
      {"bad 16:9 mode", "--wide sideways x.bmp", "--wide: Check sideways value in"},
      {"bad output format", "--format tiff x.bmp", "unknown output format \"tiff\""},
      {"bad filter name", "--filter blurry x.bmp", "unknown filter \"blurry\""},
      {"filter number out of range", "--filter 256 x.bmp", "unknown filter \"256\""},
      {"bad colour", "--border-color red x.bmp", "#RRGGBB"},
      {"bad background", "--background '#12345' x.bmp", "--background must look like #RRGGBB"},
      {"background without alpha", "--no-alpha --background '#000000' x.bmp", "--background has no effect with --no-alpha"},
      {"conflicting options", "--prefix a --postfix b x.bmp", "--prefix excludes --postfix"},
      {"no paths", "", "paths is required"},
      {"no paths after options", "--size 100", "paths is required"},
  };
  for (const Case& c : cases) {
    const TResult r = RunCli(c.args);
    EXPECT_EQ(r.code, 2) << c.kind << ": " << c.args;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << c.kind << ": " << c.args << "\n" << r.output;
    EXPECT_NE(r.output.find("Run with --help for more information."), std::string::npos) << c.kind;
  }
}

// Names as the help gives them, and the extensions, pick the format; the case of a name matters.
TEST(Cli, OutputFormatsByNameOrExtension) {
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("a.bmp"), 8, 6);
  struct Case {
    const char* format;
    const char* written;  // empty: refused
  };
  const Case cases[] = {{"source", "a.bmp"}, {"png", "a.png"}, {".jp2", "a.jp2"}, {"pdf", "a.pdf"},
                        {"webp", "a.webp"},  {".avif", "a.avif"}, {"heic", ""},
                        {"tif", "a.tif"},    {".tiff", ""},   {"jxl", "a.jxl"},
                        {"PNG", ""},         {"Source", ""},   {".jpeg", ""},     {"", ""}};
  for (const Case& c : cases) {
    const std::string out = dir.File(std::string("out-") + c.format);
    ::mkdir(out.c_str(), 0755);
    const TResult r = RunCli("--quiet --format '" + std::string(c.format) + "' --dest " + out + " " + dir.File("a.bmp"));
    if (*c.written) {
      EXPECT_EQ(r.code, 0) << c.format << "\n" << r.output;
      EXPECT_TRUE(FileExists(out + "/" + c.written)) << c.format;
    } else {
      EXPECT_EQ(r.code, 2) << c.format << "\n" << r.output;
      EXPECT_TRUE(test::TTempDir::ListOf(out).empty()) << c.format;
    }
  }
}

// A photo with a damaged colour profile is written, with a warning line before it in text and a
// warning object in JSON; warnings alone leave the exit status 0. A sideways photo comes out
// upright unless asked not to.
TEST(Cli, PhotosWarnOfWhatWasIgnoredAndComeOutUpright) {
  RegisterStandardFormats();
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("p.bmp"), 30, 20);
  // An EXIF block with orientation 6 and a profile that is no profile, right after the start.
  const std::string jpg = dir.File("sideways.jpg");
  ASSERT_EQ(RunCli("--quiet --format jpg --dest " + dir.Path() + " " + dir.File("p.bmp")).code, 0);
  ::rename(dir.File("p.jpg").c_str(), jpg.c_str());
  std::vector<uint8_t> bytes = test::ReadBytes(jpg);
  const std::vector<uint8_t> segments{
      0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
      0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0,
      0xFF, 0xE2, 0, 20, 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1, 'n', 'o', 'p', 'e'};
  bytes.insert(bytes.begin() + 2, segments.begin(), segments.end());
  test::WriteBytes(jpg, bytes);

  const std::string out = dir.File("out");
  ::mkdir(out.c_str(), 0755);
  TResult r = RunCli("--format bmp --size 30 --dest " + out + " " + jpg);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("warning: " + jpg + ": the colour profile is damaged; ignored\n"), std::string::npos) << r.output;
  TPicture upright;
  upright.ReadFromFile(out + "/sideways.bmp");
  EXPECT_EQ(upright.Width(), 20);
  EXPECT_EQ(upright.Height(), 30);

  r = RunCli("--json --overwrite --no-autorotate --format bmp --size 30 --dest " + out + " " + jpg);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_NE(r.output.find("{\"type\":\"warning\",\"source\":\"" + jpg + "\",\"reason\":\"the colour profile is damaged; ignored\"}\n"
                          "{\"type\":\"file\""),
            std::string::npos)
      << r.output;
  TPicture stored;
  stored.ReadFromFile(out + "/sideways.bmp");
  EXPECT_EQ(stored.Width(), 30);
  EXPECT_EQ(stored.Height(), 20);
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

int64_t ModifiedSeconds(const std::string& path) { return FileModificationTime(path).Seconds; }

// The options of the row below the options panel, each through the whole program.
TEST(Cli, OnlyShrinkQualityAndKeepDates) {
  constexpr int64_t kOldDate = 1000000000;  // 2001
  struct Case {
    const char* options;
    const char* output;  // in the destination, or "SOURCE" for the source's own path
    int32_t w, h;        // of the output
  };
  const Case cases[] = {
      {"--size 200 --format bmp", "a.bmp", 200, 160},
      {"--no-enlarge --size 200 --format bmp", "a.bmp", 100, 80},
      {"--no-enlarge --size 50 --format bmp", "a.bmp", 50, 40},
      {"--no-enlarge --size-mode percent --percent 300 --format bmp", "a.bmp", 100, 80},
      {"--no-enlarge --size 200 --wide all --format bmp", "a.bmp", 100, 57},  // 200 x 113 shows 100 x 56.5
      {"--size 100 --quality 10 --format jpg", "a.jpg", 100, 80},
      {"--size 100 --format jpg", "a.jpg", 100, 80},
      {"--size 100 --quality 100 --format jpg", "a.jpg", 100, 80},
      {"--size 100 --quality 10 --format webp", "a.webp", 100, 80},
      {"--size 100 --format webp", "a.webp", 100, 80},
      {"--size 100 --quality 10 --format avif", "a.avif", 100, 80},
      {"--size 100 --format avif", "a.avif", 100, 80},
      {"--size 100 --keep-dates --format png", "a.png", 100, 80},
      {"--size 100 --keep-dates --fastcopy", "a.bmp", 100, 80},
      {"--size 100 --format png", "a.png", 100, 80},
  };
  RegisterStandardFormats();
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("a.bmp"), 100, 80);
  const timespec old[2] = {{kOldDate, 0}, {kOldDate, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir.File("a.bmp").c_str(), old, 0), 0);
  std::map<std::string, int64_t> bytes;
  int n = 0;
  for (const Case& c : cases) {
    const std::string out = dir.File("out" + std::to_string(n++));
    ::mkdir(out.c_str(), 0755);
    const TResult r = RunCli(std::string("--quiet ") + c.options + " --dest " + out +
                             " " + dir.File("a.bmp"));
    ASSERT_EQ(r.code, 0) << c.options << "\n" << r.output;
    const std::string path = out + "/" + c.output;
    TPicture picture;
    picture.ReadFromFile(path);
    EXPECT_EQ(picture.Width(), c.w) << c.options;
    EXPECT_EQ(picture.Height(), c.h) << c.options;
    bytes[c.options] = int64_t(test::ReadBytes(path).size());
    const bool keep = std::string(c.options).find("--keep-dates") != std::string::npos;
    EXPECT_EQ(ModifiedSeconds(path) == kOldDate, keep) << c.options;
  }
  EXPECT_EQ(ModifiedSeconds(dir.File("a.bmp")), kOldDate) << "the source is untouched";
  EXPECT_LT(bytes["--size 100 --quality 10 --format jpg"], bytes["--size 100 --format jpg"]);
  EXPECT_LT(bytes["--size 100 --format jpg"], bytes["--size 100 --quality 100 --format jpg"]);
  EXPECT_LT(bytes["--size 100 --quality 10 --format webp"], bytes["--size 100 --format webp"]);
  EXPECT_LT(bytes["--size 100 --quality 10 --format avif"], bytes["--size 100 --format avif"]);
}

// Still GIF outputs, and an animation's first frame asked for, are the bytes they were before
// animations were kept (hashes of those outputs).
TEST(Cli, StillGifOutputsKeepTheirBytes) {
  if (!test::HaveTool("sha256sum")) GTEST_SKIP() << "sha256sum missing";
  const struct {
    const char* options;
    const char* output;
    const char* sha256;
  } cases[] = {
      {"--size 80 --first-frame samples/orbit.gif", "orbit.gif", "28b0de162b2827e4141c75faeb945e9a1055b64d7f52b79cb9c7b1204c90fb80"},
      {"--size 100 samples/bands.gif", "bands.gif", "b548099c204ed0522581ba7a3be8bc70936d9ddad16d14250ed30b93ba240850"},
      {"--size 120 samples/swirl.bmp", "swirl.gif", "36b38837db76ca1a3625f2d970d085515e495d8805e6e9015a2c549bbac11630"},
      // Transparent: a graphic control extension names its index.
      {"--size 90 --border-width 3 samples/badge.png", "badge.gif", "e5f5f7b60b802f1a1bd0d61da768865e027056b24e6544ce7eceba5e13a4566a"},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    const TResult r = RunCli(std::string("--quiet --format gif --dest ") + dir.Path() + " " + c.options);
    ASSERT_EQ(r.code, 0) << c.options << "\n" << r.output;
    EXPECT_EQ(r.output.find("warning:"), std::string::npos) << c.options << "\n" << r.output;
    EXPECT_EQ(test::RunAndCapture("sha256sum " + dir.File(c.output)).substr(0, 64), c.sha256) << c.options;
  }
}

// An animation converted from the command line keeps its frames, or warns that it does not.
TEST(Cli, AnimationsKeepTheirFramesOrSayHowManyWereLeftOut) {
  RegisterStandardFormats();
  const struct {
    const char* options;
    const char* output;
    int frames;  // 0: a still image
    const char* says;
  } cases[] = {
      {"--format gif", "orbit.gif", 12, ""},
      {"--format webp", "orbit.webp", 12, ""},
      {"--format source", "orbit.gif", 12, ""},
      {"--format png", "orbit.png", 0, "warning: samples/orbit.gif: the animation has 12 frames; only the first is converted"},
      {"--format webp --first-frame", "orbit.webp", 0, ""},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    const TResult r = RunCli(std::string("--quiet --size 40 ") + c.options + " --dest " + dir.Path() + " samples/orbit.gif");
    ASSERT_EQ(r.code, 0) << c.options << "\n" << r.output;
    if (*c.says)
      EXPECT_NE(r.output.find(c.says), std::string::npos) << c.options << "\n" << r.output;
    else
      EXPECT_EQ(r.output.find("warning:"), std::string::npos) << c.options << "\n" << r.output;
    const std::unique_ptr<TFrameSource> frames = OpenFrameSource(dir.File(c.output), TDecodeLimits{});
    EXPECT_EQ(frames ? frames->FrameCount() : 0, c.frames) << c.options;
    if (frames) {
      EXPECT_EQ(frames->Width(), 40) << c.options;
      EXPECT_EQ(frames->Height(), 30) << c.options;
    }
  }
}

// An output that replaces its own source still gets the date the source had before.
TEST(Cli, KeepDatesOverTheSourceKeepsItsOldDate) {
  test::TTempDir dir;
  for (const std::string& options : {std::string("--size 40"), "--fastcopy --dest " + dir.Path()}) {
    test::WritePatternBmp(dir.File("a.bmp"), 100, 80);
    const timespec old[2] = {{1000000000, 0}, {1000000000, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.File("a.bmp").c_str(), old, 0), 0);
    const TResult r = RunCli("--quiet --overwrite --keep-dates " + options + " " + dir.File("a.bmp"));
    ASSERT_EQ(r.code, 0) << options << "\n" << r.output;
    EXPECT_EQ(FileModificationTime(dir.File("a.bmp")), (TFileTime{1000000000, 500})) << options;
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.bmp"}) << options;
  }
}

// The sizes of the geometry table, at their real sizes, through every filter.
TEST(Cli, EveryFilterWritesTheSizesOfTheGeometryTable) {
  test::TTempDir dir;
  struct Case {
    int32_t w, h;
    const char* options;
    int32_t out_w, out_h;
  };
  const Case cases[] = {
      {1600, 1200, "--size-mode width --size 800", 800, 600},
      {1200, 1600, "--size-mode largest --size 800", 600, 800},
      {1600, 1200, "--size-mode largest --size 800 --wide land", 800, 450},
      {1200, 1600, "--size-mode largest --size 800 --wide land", 600, 800},
      {1200, 1600, "--size-mode largest --size 800 --wide all", 800, 450},
      {1600, 1200, "--size-mode height --size 450 --wide land", 800, 450},
      {1200, 1600, "--size-mode height --size 800 --wide all", 1422, 800},
      {1000, 1000, "--size-mode largest --size 800 --wide land", 800, 450},
      {10000, 100, "--size-mode width --size 10", 11, 1},
      {2560, 1080, "--size-mode largest --size 800 --wide land", 800, 450},
      {1000, 600, "--size-mode percent --percent 50", 500, 300},
  };
  ::mkdir(dir.File("out").c_str(), 0755);
  for (const Case& c : cases) {
    const std::string source = dir.File(std::to_string(c.w) + "x" + std::to_string(c.h) + ".bmp");
    if (!FileExists(source)) test::WritePatternBmp(source, c.w, c.h);
    for (const char* filter : {"nearest", "draft", "linear", "cosine", "spline", "lanczos", "mitchell", "box"}) {
      const TResult r = RunCli(std::string("--quiet --overwrite --format bmp --filter ") + filter + " " + c.options +
                               " --dest " + dir.File("out") + " " + source);
      ASSERT_EQ(r.code, 0) << c.options << " " << filter << "\n" << r.output;
      TBitmap out;
      out.ReadFromFile(dir.File("out/" + std::to_string(c.w) + "x" + std::to_string(c.h) + ".bmp"));
      EXPECT_EQ(out.Width(), c.out_w) << c.w << "x" << c.h << " " << c.options << " " << filter;
      EXPECT_EQ(out.Height(), c.out_h) << c.w << "x" << c.h << " " << c.options << " " << filter;
    }
  }
}

TEST(Cli, AnAnimatedGifConvertsToItsFirstFrame) {
  RegisterStandardFormats();
  test::TTempDir dir;
  const TResult r = RunCli("--quiet --no-frame --format png --size-mode percent --percent 100 --dest " + dir.Path() +
                           " tests/data/gif/animated.gif");
  ASSERT_EQ(r.code, 0) << r.output;
  TPicture first, out;
  first.ReadFromFile("tests/data/gif/animated.gif");
  out.ReadFromFile(dir.File("animated.png"));
  ASSERT_EQ(out.Width(), first.Width());
  ASSERT_EQ(out.Height(), first.Height());
  // At 100 percent the resampler copies the block: the output is the first frame as drawn.
  std::vector<TColor32> expected(size_t(first.Width()) * size_t(first.Height()), 0);
  std::vector<TColor32> actual(expected.size(), 0);
  first.Graphic()->Draw(TPixels32{expected.data(), first.Width(), first.Height()}, TRect{0, 0, first.Width(), first.Height()});
  out.Graphic()->Draw(TPixels32{actual.data(), out.Width(), out.Height()}, TRect{0, 0, out.Width(), out.Height()});
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(actual[i] & 0xFFFFFF, expected[i] & 0xFFFFFF) << "pixel " << i;
}

// Refused from its header; what that costs in time and memory is measured by
// bench/bomb_limits.sh, where no other test shares the process.
TEST(CliLimits, A35ByteGifClaiming30000SquaredIsRefusedByItsSize) {
  test::TTempDir dir;
  ::mkdir(dir.File("out").c_str(), 0755);
  const test::TBomb gif = test::Bombs().front();
  ASSERT_EQ(gif.Bytes.size(), 35u);
  test::WriteBytes(dir.File("bomb.gif"), gif.Bytes);
  const TResult r = RunCli("--dest " + dir.File("out") + " " + dir.File("bomb.gif"));
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_NE(r.output.find("image too large: 30000 \u00D7 30000 exceeds the limit of 1024 MB"), std::string::npos)
      << r.output;
  EXPECT_TRUE(dir.ListOf(dir.File("out")).empty());
}

// A tiny file per input format claiming a huge image fails by name with its size and leaves the
// destination empty. A JPEG decodes near the output size, so its claim counts at full scale.
TEST(CliLimits, BombsOfEveryFormatFailByTheirSizeAndWriteNothing) {
  test::TTempDir dir;
  for (const test::TBomb& bomb : test::Bombs()) {
    SCOPED_TRACE(bomb.Extension);
    const std::string out = dir.File(std::string("out") + bomb.Extension), source = dir.File(std::string("bomb") + bomb.Extension);
    ::mkdir(out.c_str(), 0755);
    test::WriteBytes(source, bomb.Bytes);
    const TResult r = RunCli(std::string(bomb.FullScaleOnly ? "--size-mode percent --percent 100 " : "") + "--dest " +
                             out + " " + source);
    EXPECT_EQ(r.code, 1) << r.output;
    EXPECT_NE(r.output.find("failed: " + source + ": " +
                            ImageTooLargeText(uint64_t(bomb.Width), uint64_t(bomb.Height), kDefaultMaxImageBytes)),
              std::string::npos)
        << r.output;
    EXPECT_TRUE(dir.ListOf(out).empty());
  }
}

TEST(CliLimits, MaxImageMbSetsTheLimit) {
  test::TTempDir dir;
  test::WritePatternBmp(dir.File("a.bmp"), 600, 600);  // 1.4 MB of 32-bit pixels
  ::mkdir(dir.File("out").c_str(), 0755);
  TResult r = RunCli("--max-image-mb 1 --dest " + dir.File("out") + " " + dir.File("a.bmp"));
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_NE(r.output.find("image too large: 600 \u00D7 600 exceeds the limit of 1 MB"), std::string::npos) << r.output;
  r = RunCli("--max-image-mb 2 --dest " + dir.File("out") + " " + dir.File("a.bmp"));
  EXPECT_EQ(r.code, 0) << r.output;
}

// A progressive file keeps its coefficients for the whole image, six bytes a pixel without
// subsampling: more than the decoded image's four, which must not get it refused.
TEST(CliLimits, TheLimitIsOnTheImageNotOnTheDecodersStorage) {
  test::TTempDir dir;
  ::mkdir(dir.File("out").c_str(), 0755);
  const std::string within = dir.File("within.jpg"), over = dir.File("over.jpg");
  test::WriteBytes(within, test::EncodeJpegRgb(1024, 1024, std::vector<uint8_t>(1024 * 1024 * 3, 90), {.progressive = true}));
  test::WriteBytes(over, test::EncodeJpegRgb(1448, 1448, std::vector<uint8_t>(1448 * 1448 * 3, 90), {.progressive = true}));
  TResult r = RunCli("--max-image-mb 4 --size 600 --dest " + dir.File("out") + " " + within);
  EXPECT_EQ(r.code, 0) << r.output;
  // Decoded at a half, its output is within the limit, but neither the image nor its coefficients are.
  r = RunCli("--max-image-mb 4 --size 600 --dest " + dir.File("out") + " " + over);
  EXPECT_EQ(r.code, 1) << r.output;
  EXPECT_NE(r.output.find("failed: " + over + ": progressive JPEG needs 12 MB of coefficient memory; the limit is 4 MB"),
            std::string::npos)
      << r.output;
}

// One pixel wide or tall, around the sides where a row times a side passes 2^31 (46341 squared)
// and 16 bits: 1 x 46342 crashed the whole run.
TEST(CliLimits, TallAndWideImagesConvert) {
  test::TTempDir dir;
  ::mkdir(dir.File("out").c_str(), 0755);
  std::string sources;
  for (uint32_t n : {32768u, 46341u, 46342u, 65535u}) {
    for (const bool tall : {true, false}) {
      const std::string name = dir.File((tall ? "tall-" : "wide-") + std::to_string(n) + ".png");
      test::WriteBytes(name, test::GradientPng(tall ? 1 : n, tall ? n : 1));
      sources += " " + name;
    }
  }
  const TResult r = RunCli("--quiet --dest " + dir.File("out") + sources);
  EXPECT_EQ(r.code, 0) << r.output;
  EXPECT_EQ(dir.ListOf(dir.File("out")).size(), 8u);
  RegisterStandardFormats();
  TPicture tall, wide;
  tall.ReadFromFile(dir.File("out/tall-46342.png"));
  wide.ReadFromFile(dir.File("out/wide-46342.png"));
  // The short side rounds to 0 pixels, and the target's fix-up for an empty size grows both sides.
  EXPECT_EQ(tall.Height(), 801);
  EXPECT_EQ(wide.Width(), 801);
}

}  // namespace
}  // namespace pellavo

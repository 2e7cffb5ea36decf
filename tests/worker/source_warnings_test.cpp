// What a source holds that its output leaves out is told in a warning on the file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "formats/all/standard_formats.h"
#include "support/commands.h"
#include "support/fake_view.h"
#include "support/temp_dir.h"
#include "worker/standard_workers.h"

namespace pellavo {
namespace {

TEST(SourceWarnings, LeftOutFramesAndPagesAreNamedWithTheirCount) {
  if (!test::HaveTool("convert") || !test::HaveTool("img2webp") || !test::HaveTool("tiffcp"))
    GTEST_SKIP() << "ImageMagick, webp or libtiff tools missing";
  RegisterStandardFormats();
  test::TTempDir dir;
  const std::string d = "'" + dir.Path() + "'/";
  ASSERT_EQ(test::RunCommand("cp samples/orbit.gif " + d + "orbit.gif && convert -size 8x6 xc:red " + d +
                             "red.png && convert -size 8x6 xc:blue " + d + "blue.png && convert -size 8x6 xc:lime " +
                             d + "lime.png && img2webp -lossless " + d + "red.png " + d + "blue.png " + d +
                             "lime.png -o " + d + "three.webp >/dev/null 2>&1 && convert " + d + "red.png " + d +
                             "still.gif && convert " + d + "red.png " + d + "red.tif && tiffcp " + d + "red.tif " + d +
                             "red.tif " + d + "pages.tif")
                .code,
            0);
  const std::string frames = test::RunAndCapture("identify " + d + "orbit.gif | wc -l");
  struct Case {
    const char* source;
    std::string warning;  // empty: none
  } cases[] = {
      {"orbit.gif", "the animation has " + std::to_string(std::stoi(frames)) + " frames; only the first is converted"},
      {"three.webp", "the animation has 3 frames; only the first is converted"},
      {"pages.tif", "the file holds 2 pages; only the first is converted"},
      {"still.gif", ""},
      {"red.tif", ""},
  };
  test::TFakeView run;
  for (const Case& c : cases) run.entries.push_back(dir.File(c.source));
  ::mkdir(dir.File("out").c_str(), 0755);
  run.settings.DestFolder = dir.File("out");
  run.settings.OutputFormat = TOutputFormat::Png;
  run.Run(MakeStandardWorker);
  for (const Case& c : cases) {
    const TFileOutcome& o = run.For(dir.File(c.source));
    EXPECT_TRUE(o.Written) << c.source << ": " << o.Error;
    const std::vector<std::string> want = c.warning.empty() ? std::vector<std::string>{} : std::vector{c.warning};
    EXPECT_EQ(o.Warnings, want) << c.source;
  }
}

}  // namespace
}  // namespace pellavo

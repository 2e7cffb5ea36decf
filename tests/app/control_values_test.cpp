#include <gtest/gtest.h>

#include "app/control_values.h"
#include "app/file_filter.h"
#include "app/version.h"
#include "app/window_metrics.h"

namespace pellavo {
namespace {

TEST(RunSettingsFrom, EachControlReachesItsField) {
  struct Case {
    const char* what;
    void (*set)(TControlValues&);
    bool (*check)(const TRunSettings&);
  };
  const Case cases[] = {
      {"defaults", [](TControlValues&) {},
       [](const TRunSettings& s) {
         const TRunSettings d;
         return s.FastCopy == d.FastCopy && s.DestFolder.empty() && s.OutputFormat == TOutputFormat::Source && s.NameAddition == TNameAddition::None &&
                s.MaxThreadsOn && s.MaxThreads == 5 && s.StartDelay == 0 && s.SizeMode == TSizeMode::Largest &&
                s.PixelSize == 800 && s.PercentSize == 80 && s.FilterIndex == 5 && !s.Overwrite && !s.BorderOn &&
                s.BorderWidth == 5 && s.BorderColor == 0x00FFFFFF && s.FrameOn && s.WideMode == TWideMode::None &&
                s.AutoRotate && !s.KeepMetadata && s.BackgroundColor == 0x00FFFFFF && s.KeepAlpha && s.ColourManaged &&
                s.Quality == 90 && !s.NoEnlarge && !s.KeepDates && s.Quality == d.Quality &&
                s.NoEnlarge == d.NoEnlarge && s.KeepDates == d.KeepDates;
       }},
      {"the row below the options",
       [](TControlValues& c) {
         c.AutoRotate = false;
         c.KeepMetadata = true;
         c.BackgroundColor = 0x00FF8000;
       },
       [](const TRunSettings& s) { return !s.AutoRotate && s.KeepMetadata && s.BackgroundColor == 0x00FF8000; }},
      {"no filter selected runs the box kernel", [](TControlValues& c) { c.Filter = -1; },
       [](const TRunSettings& s) { return s.FilterIndex == 255; }},
      {"a picked filter", [](TControlValues& c) { c.Filter = 6; }, [](const TRunSettings& s) { return s.FilterIndex == 6; }},
      {"Percent", [](TControlValues& c) { c.MaxDimension = 3; },
       [](const TRunSettings& s) { return s.SizeMode == TSizeMode::Percent; }},
      {"Width", [](TControlValues& c) { c.MaxDimension = 0; }, [](const TRunSettings& s) { return s.SizeMode == TSizeMode::Width; }},
      {"Height", [](TControlValues& c) { c.MaxDimension = 1; },
       [](const TRunSettings& s) { return s.SizeMode == TSizeMode::Height; }},
      {"Prefix", [](TControlValues& c) { c.NameAddition = 0; },
       [](const TRunSettings& s) { return s.NameAddition == TNameAddition::Prefix; }},
      {"PostFix", [](TControlValues& c) { c.NameAddition = 1; },
       [](const TRunSettings& s) { return s.NameAddition == TNameAddition::PostFix; }},
      {"16:9 Land", [](TControlValues& c) { c.Wide = 1; }, [](const TRunSettings& s) { return s.WideMode == TWideMode::Land; }},
      {"16:9 All", [](TControlValues& c) { c.Wide = 2; }, [](const TRunSettings& s) { return s.WideMode == TWideMode::All; }},
      {".pdf", [](TControlValues& c) { c.OutputFormat = 7; }, [](const TRunSettings& s) { return s.OutputFormat == TOutputFormat::Pdf; }},
      {".webp", [](TControlValues& c) { c.OutputFormat = 8; }, [](const TRunSettings& s) { return s.OutputFormat == TOutputFormat::Webp; }},
      {".avif", [](TControlValues& c) { c.OutputFormat = 9; }, [](const TRunSettings& s) { return s.OutputFormat == TOutputFormat::Avif; }},
      {".tif", [](TControlValues& c) { c.OutputFormat = 10; }, [](const TRunSettings& s) { return s.OutputFormat == TOutputFormat::Tif; }},
      {".jxl", [](TControlValues& c) { c.OutputFormat = 11; }, [](const TRunSettings& s) { return s.OutputFormat == TOutputFormat::Jxl; }},
      {"an output format out of range keeps the source's",
       [](TControlValues& c) { c.OutputFormat = int(kOutputFormats.size()); }, [](const TRunSettings& s) { return s.OutputFormat == TOutputFormat::Source; }},
      {"Quality", [](TControlValues& c) { c.Quality = 35; }, [](const TRunSettings& s) { return s.Quality == 35; }},
      {"Only shrink", [](TControlValues& c) { c.OnlyShrink = true; }, [](const TRunSettings& s) { return s.NoEnlarge; }},
      {"Keep file dates", [](TControlValues& c) { c.KeepDates = true; }, [](const TRunSettings& s) { return s.KeepDates; }},
      {"the row for large jobs",
       [](TControlValues& c) {
         c.KeepTree = true;
         c.SkipExisting = true;
         c.MaxKb = 500;
         c.IntoSubfolder = true;
         c.SubfolderName = "thumbs";
       },
       [](const TRunSettings& s) {
         return s.KeepTree && s.SkipExisting && s.MaxKb == 500 && s.Subfolder == std::optional<std::string>("thumbs");
       }},
      {"a sub-folder name without its box is not used", [](TControlValues& c) { c.SubfolderName = "thumbs"; },
       [](const TRunSettings& s) { return !s.Subfolder && !s.KeepTree && !s.SkipExisting && s.MaxKb == 0; }},
      {"an empty sub-folder name with its box reaches the run, which refuses it",
       [](TControlValues& c) {
         c.IntoSubfolder = true;
         c.SubfolderName.clear();
       },
       [](const TRunSettings& s) { return s.Subfolder == std::optional<std::string>(""); }},
      {"no radio checked keeps the default mode", [](TControlValues& c) { c.MaxDimension = -1; },
       [](const TRunSettings& s) { return s.SizeMode == TSizeMode::Largest; }},
      {"texts, numbers and switches",
       [](TControlValues& c) {
         c.FastCopy = true;
         c.Destination = "/out";
         c.AdditionText = "_$";
         c.MaxThreadsOn = false;
         c.MaxThreads = 0;
         c.ThreadDelay = 200;
         c.Pixels = 10;
         c.Percent = 500;
         c.Overwrite = true;
         c.BorderOn = true;
         c.BorderWidth = 30;
         c.BorderColor = 0x00123456;
         c.FrameOn = false;
       },
       [](const TRunSettings& s) {
         return s.FastCopy && s.DestFolder == "/out" && s.AdditionText == "_$" && !s.MaxThreadsOn && s.MaxThreads == 0 &&
                s.StartDelay == 200 && s.PixelSize == 10 && s.PercentSize == 500 && s.Overwrite && s.BorderOn &&
                s.BorderWidth == 30 && s.BorderColor == 0x00123456 && !s.FrameOn;
       }},
  };
  for (const Case& c : cases) {
    TControlValues controls;
    c.set(controls);
    EXPECT_TRUE(c.check(RunSettingsFrom(controls))) << c.what;
  }
}

TEST(WindowFontPointSize, HalfTheButtonHeightInPointsRoundedHalfToEven) {
  const struct {
    int dpi, points;
  } cases[] = {
      {96, 9},   // 23 px: 8.625
      {120, 9},  // 29 px: 8.7
      {144, 9},  // 35 px (34.5 rounded away from zero): 8.75
      {72, 8},   // 17 px: exactly 8.5, the even neighbour
      {192, 9},  // 46 px: 8.625
  };
  for (const auto& c : cases) EXPECT_EQ(WindowFontPointSize(c.dpi), c.points) << c.dpi << " dpi";
}

TEST(WindowCaption, VersionOrNone) {
  const struct {
    const char *version, *caption;
  } cases[] = {
      {"1.2.3.4", "Pellavo (ver: 1.2.3.4)"},
      {"", "Pellavo (ver: )"},
  };
  for (const auto& c : cases) EXPECT_EQ(WindowCaption(c.version), c.caption);
}

TEST(QtFileFilter, EachDescriptionTakesItsOwnPatterns) {
  EXPECT_EQ(QtFileFilter("All (*.gif;*.png)|*.gif;*.png|GIF Image (*.gif)|*.gif|Portable Network Graphics (*.png)|*.png"),
            "All (*.gif *.png);;GIF Image (*.gif);;Portable Network Graphics (*.png)");
  // A description without a pattern list of its own still gets one.
  EXPECT_EQ(QtFileFilter("Bitmaps|*.bmp"), "Bitmaps (*.bmp)");
  EXPECT_EQ(QtFileFilter(""), "");
}

}  // namespace
}  // namespace pellavo

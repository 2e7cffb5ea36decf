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
    void (*check)(const TRunSettings&);  // EXPECTs on the fields the case sets
  };
  const Case cases[] = {
      {"defaults", [](TControlValues&) {},
       [](const TRunSettings& s) {
         EXPECT_FALSE(s.FastCopy);
         EXPECT_EQ(s.DestFolder, "");
         EXPECT_EQ(s.OutputFormat, TOutputFormat::Source);
         EXPECT_EQ(s.NameAddition, TNameAddition::None);
         EXPECT_TRUE(s.MaxThreadsOn);
         EXPECT_EQ(s.MaxThreads, 5);
         EXPECT_EQ(s.StartDelay, 0);
         EXPECT_EQ(s.SizeMode, TSizeMode::Largest);
         EXPECT_EQ(s.PixelSize, 800);
         EXPECT_EQ(s.PercentSize, 80);
         EXPECT_EQ(s.FilterIndex, 5);
         EXPECT_FALSE(s.Overwrite);
         EXPECT_FALSE(s.BorderOn);
         EXPECT_EQ(s.BorderWidth, 5);
         EXPECT_EQ(s.BorderColor, 0x00FFFFFF);
         EXPECT_TRUE(s.FrameOn);
         EXPECT_EQ(s.WideMode, TWideMode::None);
         EXPECT_TRUE(s.AutoRotate);
         EXPECT_FALSE(s.KeepMetadata);
         EXPECT_EQ(s.BackgroundColor, 0x00FFFFFF);
         EXPECT_TRUE(s.KeepAlpha);
         EXPECT_TRUE(s.ColourManaged);
         EXPECT_EQ(s.Quality, 90);
         EXPECT_FALSE(s.NoEnlarge);
         EXPECT_FALSE(s.KeepDates);
         EXPECT_FALSE(s.FirstFrame);
       }},
      {"the row below the options",
       [](TControlValues& c) {
         c.Option("AutoRotate") = 0;
         c.Option("KeepMetadata") = 1;
         c.BackgroundColor = 0x00FF8000;
       },
       [](const TRunSettings& s) {
         EXPECT_FALSE(s.AutoRotate);
         EXPECT_TRUE(s.KeepMetadata);
         EXPECT_EQ(s.BackgroundColor, 0x00FF8000);
       }},
      {"no filter selected runs the box kernel", [](TControlValues& c) { c.Filter = -1; },
       [](const TRunSettings& s) { EXPECT_EQ(s.FilterIndex, 255); }},
      {"a picked filter", [](TControlValues& c) { c.Filter = 6; }, [](const TRunSettings& s) { EXPECT_EQ(s.FilterIndex, 6); }},
      {"Percent", [](TControlValues& c) { c.Option("SizeMode") = 3; },
       [](const TRunSettings& s) { EXPECT_EQ(s.SizeMode, TSizeMode::Percent); }},
      {"Width", [](TControlValues& c) { c.Option("SizeMode") = 0; }, [](const TRunSettings& s) { EXPECT_EQ(s.SizeMode, TSizeMode::Width); }},
      {"Height", [](TControlValues& c) { c.Option("SizeMode") = 1; },
       [](const TRunSettings& s) { EXPECT_EQ(s.SizeMode, TSizeMode::Height); }},
      {"Prefix", [](TControlValues& c) { c.Option("NameAddition") = 0; },
       [](const TRunSettings& s) { EXPECT_EQ(s.NameAddition, TNameAddition::Prefix); }},
      {"PostFix", [](TControlValues& c) { c.Option("NameAddition") = 1; },
       [](const TRunSettings& s) { EXPECT_EQ(s.NameAddition, TNameAddition::PostFix); }},
      {"16:9 Land", [](TControlValues& c) { c.Option("WideMode") = 1; }, [](const TRunSettings& s) { EXPECT_EQ(s.WideMode, TWideMode::Land); }},
      {"16:9 All", [](TControlValues& c) { c.Option("WideMode") = 2; }, [](const TRunSettings& s) { EXPECT_EQ(s.WideMode, TWideMode::All); }},
      {".pdf", [](TControlValues& c) { c.Option("OutputFormat") = 7; }, [](const TRunSettings& s) { EXPECT_EQ(s.OutputFormat, TOutputFormat::Pdf); }},
      {".webp", [](TControlValues& c) { c.Option("OutputFormat") = 8; }, [](const TRunSettings& s) { EXPECT_EQ(s.OutputFormat, TOutputFormat::Webp); }},
      {".avif", [](TControlValues& c) { c.Option("OutputFormat") = 9; }, [](const TRunSettings& s) { EXPECT_EQ(s.OutputFormat, TOutputFormat::Avif); }},
      {".tif", [](TControlValues& c) { c.Option("OutputFormat") = 10; }, [](const TRunSettings& s) { EXPECT_EQ(s.OutputFormat, TOutputFormat::Tif); }},
      {".jxl", [](TControlValues& c) { c.Option("OutputFormat") = 11; }, [](const TRunSettings& s) { EXPECT_EQ(s.OutputFormat, TOutputFormat::Jxl); }},
      {"an output format out of range keeps the source's",
       [](TControlValues& c) { c.Option("OutputFormat") = int(kOutputFormats.size()); }, [](const TRunSettings& s) { EXPECT_EQ(s.OutputFormat, TOutputFormat::Source); }},
      {"Quality", [](TControlValues& c) { c.Option("Quality") = 35; }, [](const TRunSettings& s) { EXPECT_EQ(s.Quality, 35); }},
      {"Only shrink", [](TControlValues& c) { c.Option("NoEnlarge") = 1; }, [](const TRunSettings& s) { EXPECT_TRUE(s.NoEnlarge); }},
      {"Keep file dates", [](TControlValues& c) { c.Option("KeepDates") = 1; }, [](const TRunSettings& s) { EXPECT_TRUE(s.KeepDates); }},
      {"First frame only", [](TControlValues& c) { c.Option("FirstFrame") = 1; }, [](const TRunSettings& s) { EXPECT_TRUE(s.FirstFrame); }},
      {"the row for large jobs",
       [](TControlValues& c) {
         c.Option("KeepTree") = 1;
         c.Option("SkipExisting") = 1;
         c.Option("MaxKb") = 500;
         c.IntoSubfolder = true;
         c.SubfolderName = "thumbs";
       },
       [](const TRunSettings& s) {
         EXPECT_TRUE(s.KeepTree);
         EXPECT_TRUE(s.SkipExisting);
         EXPECT_EQ(s.MaxKb, 500);
         EXPECT_EQ(s.Subfolder, std::optional<std::string>("thumbs"));
       }},
      {"a sub-folder name without its box is not used", [](TControlValues& c) { c.SubfolderName = "thumbs"; },
       [](const TRunSettings& s) {
         EXPECT_FALSE(s.Subfolder);
         EXPECT_FALSE(s.KeepTree);
         EXPECT_FALSE(s.SkipExisting);
         EXPECT_EQ(s.MaxKb, 0);
       }},
      {"an empty sub-folder name with its box reaches the run, which refuses it",
       [](TControlValues& c) {
         c.IntoSubfolder = true;
         c.SubfolderName.clear();
       },
       [](const TRunSettings& s) { EXPECT_EQ(s.Subfolder, std::optional<std::string>("")); }},
      {"no radio checked keeps the default mode", [](TControlValues& c) { c.Option("SizeMode") = -1; },
       [](const TRunSettings& s) { EXPECT_EQ(s.SizeMode, TSizeMode::Largest); }},
      {"texts, numbers and switches",
       [](TControlValues& c) {
         c.Option("FastCopy") = 1;
         c.Destination = "/out";
         c.AdditionText = "_$";
         c.Option("MaxThreadsOn") = 0;
         c.Option("MaxThreads") = 0;
         c.Option("StartDelay") = 200;
         c.Option("PixelSize") = 10;
         c.Option("PercentSize") = 500;
         c.Option("Overwrite") = 1;
         c.Option("BorderOn") = 1;
         c.Option("BorderWidth") = 30;
         c.BorderColor = 0x00123456;
         c.Option("FrameOn") = 0;
       },
       [](const TRunSettings& s) {
         EXPECT_TRUE(s.FastCopy);
         EXPECT_EQ(s.DestFolder, "/out");
         EXPECT_EQ(s.AdditionText, "_$");
         EXPECT_FALSE(s.MaxThreadsOn);
         EXPECT_EQ(s.MaxThreads, 0);
         EXPECT_EQ(s.StartDelay, 200);
         EXPECT_EQ(s.PixelSize, 10);
         EXPECT_EQ(s.PercentSize, 500);
         EXPECT_TRUE(s.Overwrite);
         EXPECT_TRUE(s.BorderOn);
         EXPECT_EQ(s.BorderWidth, 30);
         EXPECT_EQ(s.BorderColor, 0x00123456);
         EXPECT_FALSE(s.FrameOn);
       }},
  };
  for (const Case& c : cases) {
    TControlValues controls;
    c.set(controls);
    SCOPED_TRACE(c.what);
    c.check(RunSettingsFrom(controls));
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

#include <gtest/gtest.h>

#include "batch/run_options.h"

namespace pellavo {
namespace {

// The names in braces come from the format table, each in the words its reader uses.
TEST(OptionText, FillsInTheNamesFromTheFormatTable) {
  const struct {
    const char *text, *filled;
  } cases[] = {
      {"Quality of {quality formats} outputs", "Quality of jpg, webp, avif or jxl outputs"},
      {"into {metadata formats} outputs", "into jpg, png, webp, avif, tif or jxl outputs"},
      {"Quality of {quality items} output", "Quality of .jpg, .webp, .avif and .jxl output"},
      {"into {metadata names} files", "into JPEG, PNG, WebP, AVIF, TIFF and JPEG XL files"},
      {"from {max-kb floor}, at most {max-kb encodes}", "from 40, at most 7"},
      {"{quality items} twice: {quality items}", ".jpg, .webp, .avif and .jxl twice: .jpg, .webp, .avif and .jxl"},
      {"no names", "no names"},
      {"{unknown} stays", "{unknown} stays"},
  };
  for (const auto& c : cases) EXPECT_EQ(OptionText(c.text), c.filled) << c.text;
}

// A control or a command line that gives a value outside an option's range (a radio group
// with no button checked) gets the option's default.
TEST(SetRunOption, AValueOutsideTheRangeGivesTheDefault) {
  const struct {
    const char* option;
    int value, expected;
  } cases[] = {
      {"SizeMode", -1, int(TSizeMode::Largest)}, {"SizeMode", 3, int(TSizeMode::Percent)},
      {"OutputFormat", int(kOutputFormats.size()), 0}, {"PixelSize", 9, 800},
      {"PixelSize", 5000, 5000}, {"MaxImageMb", 4096, 4096},
  };
  for (const auto& c : cases) {
    TRunSettings s;
    SetRunOption(s, RunOptionIndex(c.option), c.value);
    EXPECT_EQ(RunOption(c.option).Field.Get(s), c.expected) << c.option << " " << c.value;
  }
  TRunSettings s;
  SetRunOption(s, RunOptionIndex("MaxImageMb"), 4096);
  EXPECT_EQ(s.MaxImageBytes, uint64_t{4096} << 20) << "held in bytes";
}

}  // namespace
}  // namespace pellavo

#include "app/control_values.h"

#include "core/stretch_filters.h"

namespace pellavo {
namespace {

// A radio group's checked item as its enum, whose values are the items' indices; a group with
// no button checked (which the window never shows) keeps the control's default.
template <class Enum, class Items>
Enum Item(const Items& items, int index, Enum fallback) {
  return index >= 0 && index < static_cast<int>(items.size()) ? static_cast<Enum>(index) : fallback;
}

}  // namespace

TRunSettings RunSettingsFrom(const TControlValues& c) {
  TRunSettings s;
  s.FastCopy = c.FastCopy;
  s.DestFolder = c.Destination;
  s.OutputFormat = Item(kOutputFormats, c.OutputFormat, TOutputFormat::Source);
  s.NameAddition = Item(kNameAdditionItems, c.NameAddition, TNameAddition::None);
  s.AdditionText = c.AdditionText;
  s.MaxThreadsOn = c.MaxThreadsOn;
  s.MaxThreads = c.MaxThreads;
  s.StartDelay = c.ThreadDelay;
  s.SizeMode = Item(kSizeModeItems, c.MaxDimension, TSizeMode::Largest);
  s.PixelSize = c.Pixels;
  s.PercentSize = c.Percent;
  // No selected item (-1) runs the box kernel.
  s.FilterIndex = static_cast<uint8_t>(FilterOfSelection(c.Filter));
  s.Overwrite = c.Overwrite;
  s.BorderOn = c.BorderOn;
  s.BorderWidth = c.BorderWidth;
  s.BorderColor = c.BorderColor;
  s.FrameOn = c.FrameOn;
  s.WideMode = Item(kWideModeItems, c.Wide, TWideMode::None);
  s.AutoRotate = c.AutoRotate;
  s.KeepMetadata = c.KeepMetadata;
  s.BackgroundColor = c.BackgroundColor;
  s.Quality = c.Quality;
  s.NoEnlarge = c.OnlyShrink;
  s.KeepDates = c.KeepDates;
  s.KeepTree = c.KeepTree;
  if (c.IntoSubfolder) s.Subfolder = c.SubfolderName;
  s.SkipExisting = c.SkipExisting;
  s.FirstFrame = c.FirstFrame;
  s.MaxKb = c.MaxKb;
  return s;
}

}  // namespace pellavo

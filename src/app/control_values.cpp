#include "app/control_values.h"

#include <array>

namespace pellavo {
namespace {

// The items of each radio group, in the order the group shows them.
constexpr std::array kSizeModes = {smWidth, smHeight, smLargest, smPercent};
constexpr std::array kWideModes = {wmNone, wmLand, wmAll};
constexpr std::array kNameAdditions = {naPrefix, naPostFix, naNone};

// A group with no button checked (which the window never shows) keeps the control's default.
template <class Items, class Value>
Value Item(const Items& items, int index, Value fallback) {
  return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<size_t>(index)] : fallback;
}

}  // namespace

TRunSettings RunSettingsFrom(const TControlValues& c) {
  TRunSettings s;
  s.FastCopy = c.FastCopy;
  s.DestFolder = c.Destination;
  s.OutputFormat = c.OutputFormat >= 0 && c.OutputFormat < static_cast<int>(kOutputFormats.size()) ? c.OutputFormat : 0;
  s.NameAddition = Item(kNameAdditions, c.NameAddition, naNone);
  s.AdditionText = c.AdditionText;
  s.MaxThreadsOn = c.MaxThreadsOn;
  s.MaxThreads = c.MaxThreads;
  s.StartDelay = c.ThreadDelay;
  s.SizeMode = Item(kSizeModes, c.MaxDimension, smLargest);
  s.PixelSize = c.Pixels;
  s.PercentSize = c.Percent;
  // The filter is the item's index in its low 8 bits; no selected item (-1) becomes 255,
  // which runs the box kernel.
  s.FilterIndex = static_cast<uint8_t>(c.Filter & 0xFF);
  s.Overwrite = c.Overwrite;
  s.BorderOn = c.BorderOn;
  s.BorderWidth = c.BorderWidth;
  s.BorderColor = c.BorderColor;
  s.FrameOn = c.FrameOn;
  s.WideMode = Item(kWideModes, c.Wide, wmNone);
  return s;
}

}  // namespace pellavo

#include "app/control_values.h"

#include "core/stretch_filters.h"

namespace pellavo {

TRunSettings RunSettingsFrom(const TControlValues& c) {
  TRunSettings s;
  for (size_t row = 0; row < kRunOptionCount; ++row) SetRunOption(s, row, c.Options[row]);
  s.DestFolder = c.Destination;
  s.AdditionText = c.AdditionText;
  // No selected item (-1) runs the box kernel.
  s.FilterIndex = FilterOfSelection(c.Filter);
  s.BorderColor = c.BorderColor;
  s.BackgroundColor = c.BackgroundColor;
  if (c.IntoSubfolder) s.Subfolder = c.SubfolderName;
  return s;
}

}  // namespace pellavo

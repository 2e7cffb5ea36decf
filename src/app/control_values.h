#pragma once
#include <string>
#include <string_view>

#include "batch/run_options.h"
#include "batch/run_settings.h"
#include "core/color.h"

namespace pellavo {

// The run options as the window's controls hold them, before they mean anything to a run:
// radio-group indices, spin values, check states, texts. Filled from the widgets in one place
// (control_binding), turned into TRunSettings in another (RunSettingsFrom), so the meaning of
// each control lives outside the window.
struct TControlValues {
  // The options of kRunOptions by row, as their controls hold them; an option without a
  // control keeps its default.
  TOptionValues Options = DefaultOptionValues();
  std::string Destination;              // Edit1
  std::string AdditionText;             // Edit2
  int Filter = 5;                       // Filters: the selected item, -1 when none is
  TColor BorderColor = 0x00FFFFFF;      // Shape1's fill
  TColor BackgroundColor = 0x00FFFFFF;  // BackgroundSwatch's fill
  bool IntoSubfolder = false;           // IntoSubfolder
  std::string SubfolderName = "small";  // SubfolderName

  int& Option(std::string_view name) { return Options[RunOptionIndex(name)]; }
};

TRunSettings RunSettingsFrom(const TControlValues& controls);

}  // namespace pellavo

#pragma once
#include <string>

#include "batch/run_settings.h"
#include "core/color.h"

namespace pellavo {

// The run options as the window's controls hold them, before they mean anything to a run:
// radio-group indices, spin values, check states, texts. Filled from the widgets in one place
// (control_binding), turned into TRunSettings in another (RunSettingsFrom), so the meaning of
// each control lives outside the window.
struct TControlValues {
  bool FastCopy = false;           // fCopy
  std::string Destination;         // Edit1
  int OutputFormat = 0;            // RG3
  int NameAddition = 2;            // RG2: Prefix, PostFix, None
  std::string AdditionText;        // Edit2
  bool MaxThreadsOn = true;        // syncit
  int MaxThreads = 5;              // SpinEdit2
  int ThreadDelay = 0;             // SpinEdit3
  int MaxDimension = 2;            // RG1: Width, Height, Largest, Percent
  int Pixels = 800;                // SpinEdit1
  int Percent = 80;                // SpinEdit4
  int Filter = 5;                  // Filters: the selected item, -1 when none is
  bool Overwrite = false;          // CheckBox1
  bool BorderOn = false;           // CheckBox3
  int BorderWidth = 5;             // SpinEdit5
  TColor BorderColor = 0x00FFFFFF; // Shape1's fill
  bool FrameOn = true;             // Framit
  int Wide = 0;                    // RG4: None, Land, All
  int Quality = 90;                // SpinEditQuality
  // Panel4, the row below the options.
  bool AutoRotate = true;          // AutoRotate
  bool KeepMetadata = false;       // KeepMetadata
  TColor BackgroundColor = 0x00FFFFFF;  // BackgroundSwatch's fill
  bool OnlyShrink = false;         // OnlyShrink
  bool KeepDates = false;          // KeepDates
  // Panel5, the row for large jobs.
  bool KeepTree = false;           // KeepTree
  bool IntoSubfolder = false;      // IntoSubfolder
  std::string SubfolderName = "small";  // SubfolderName
  bool SkipExisting = false;       // SkipExisting
  bool FirstFrame = false;         // FirstFrame
  int MaxKb = 0;                   // SpinEditMaxKb: 0 shows "Off"
};

TRunSettings RunSettingsFrom(const TControlValues& controls);

}  // namespace pellavo

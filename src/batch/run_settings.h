#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "core/color.h"

namespace pellavo {

// The items of "Output file format"; index 0 keeps the source's format.
inline constexpr std::array<const char*, 8> kOutputFormats = {"Source", ".jpg", ".bmp", ".png",
                                                              ".gif",   ".emf", ".jp2", ".pdf"};

enum TSizeMode : int { smWidth = 0, smHeight = 1, smLargest = 2, smPercent = 3 };
enum TWideMode : int { wmNone = 0, wmLand = 1, wmAll = 2 };
enum TNameAddition : int { naPrefix = 0, naPostFix = 1, naNone = 2 };

// The options of one run as the front end holds them. The run-wide ones are taken when the run
// starts; the per-file ones are read again just before each worker is launched, so a change
// made during a run applies to the entries launched after it.
struct TRunSettings {
  bool FastCopy = false;             // per file (and the destination check at start)
  std::string DestFolder;            // checked at start, read per file
  int OutputFormat = 0;              // per file: index into kOutputFormats
  int NameAddition = naNone;         // at start
  std::string AdditionText;          // at start; "$" stands for the entry's number
  bool MaxThreadsOn = true;          // at start
  int MaxThreads = 5;                // at start; 0 = one slot per entry
  int StartDelay = 0;                // per file, milliseconds
  int SizeMode = smLargest;          // per file
  int PixelSize = 800;               // at start (10 to 5000)
  int PercentSize = 80;              // at start (1 to 500)
  uint8_t FilterIndex = 255;         // per file; 255 while no filter was picked
  bool Overwrite = false;            // per file
  bool BorderOn = false;             // per file
  int BorderWidth = 5;               // per file, 1 to 30
  TColor BorderColor = 0x00FFFFFF;   // per file, white
  bool FrameOn = true;               // per file
  int WideMode = wmNone;             // per file
};

// The number a run uses as its size: the percentage in "Percent" mode, else the pixel size.
int SizeValueOf(const TRunSettings& s);
// The run's limit on simultaneous workers for a list of entry_count entries.
int WorkerLimitOf(const TRunSettings& s, int entry_count);

}  // namespace pellavo

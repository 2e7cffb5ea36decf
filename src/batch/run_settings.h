#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/color.h"
#include "core/limits.h"
#include "core/stretch_filters.h"
#include "formats/output_formats.h"

namespace pellavo {

// The choices of the window's radio groups. Each value is its item's index; the item texts
// stand beside them, in the group's order.

// "Max dimension": which side the size sets.
enum class TSizeMode : uint8_t { Width, Height, Largest, Percent };
inline constexpr std::array<std::string_view, 4> kSizeModeItems = {"Width", "Height", "Largest", "Percent"};

// "16:9 format": which images are cropped to a centred 16:9 band.
enum class TWideMode : uint8_t { None, Land, All };
inline constexpr std::array<std::string_view, 3> kWideModeItems = {"None", "Land", "All"};

// "File name addition": where the addition text goes.
enum class TNameAddition : uint8_t { Prefix, PostFix, None };
inline constexpr std::array<std::string_view, 3> kNameAdditionItems = {"Prefix", "PostFix", "None"};

// The options of one run as the front end holds them. The run-wide ones are taken when the run
// starts; the per-file ones are read again just before each worker is launched, so a change
// made during a run applies to the entries launched after it. The ranges of the numbers, and
// how the window and the command line offer each option, are in kRunOptions (run_options.h),
// which refuses to compile when a default here differs from its own.
struct TRunSettings {
  bool FastCopy = false;                               // per file (and the destination check at start)
  std::string DestFolder;                              // checked at start, read per file
  TOutputFormat OutputFormat = TOutputFormat::Source;  // per file
  TNameAddition NameAddition = TNameAddition::None;    // at start
  std::string AdditionText;                            // at start; "$" stands for the entry's number
  bool MaxThreadsOn = true;                            // at start
  int MaxThreads = 5;                                  // at start; 0 = one slot per entry
  int StartDelay = 0;                                  // per file, milliseconds
  TSizeMode SizeMode = TSizeMode::Largest;             // per file
  int PixelSize = 800;                                 // at start
  int PercentSize = 80;                                // at start
  TStretchFilter FilterIndex = sfNotPicked;            // per file
  bool Overwrite = false;                              // per file
  bool BorderOn = false;                               // per file
  int BorderWidth = 5;                                 // per file
  TColor BorderColor = 0x00FFFFFF;                     // per file, white
  bool FrameOn = true;                                 // per file
  TWideMode WideMode = TWideMode::None;                // per file
  // Photos stored sideways or mirrored (EXIF orientation 2 to 8) are turned upright before they
  // are sized; off, pixels are taken as stored.
  bool AutoRotate = true;                              // per file
  // Transparency is kept where the output format can hold it and laid onto BackgroundColor
  // elsewhere; off, transparent areas of PNG and GIF sources come out black and the alpha of
  // other sources is filtered like a colour, as outputs made before the switch existed had it.
  bool KeepAlpha = true;                               // per file
  TColor BackgroundColor = 0x00FFFFFF;                 // per file, white
  // An embedded colour profile is carried into the outputs whose format carries metadata (JPEG,
  // PNG, WebP, AVIF, TIFF) and converted to sRGB for the other formats; off, profiles are ignored.
  bool ColourManaged = true;                           // per file
  // Those outputs also carry the source's EXIF (orientation reset, preview dropped, sizes
  // updated) and XMP.
  bool KeepMetadata = false;                           // per file
  // The largest image a worker decodes, as 32-bit pixels (width x height x 4 bytes).
  uint64_t MaxImageBytes = kDefaultMaxImageBytes;      // at start
  // What the decoded images of all workers may take together; 0 for half the machine's memory.
  uint64_t MemoryBudgetBytes = 0;                      // at start
  // The row below the options panel.
  bool NoEnlarge = false;                              // per file: a source within the target keeps its size
  int Quality = 90;                                    // per file: JPEG, WebP, AVIF and JPEG XL outputs
  bool KeepDates = false;                              // per file: outputs get their source's modification time
  // An animated GIF or WebP written as GIF or WebP keeps every frame; on, only the first frame is
  // converted, as for outputs without animation.
  bool FirstFrame = false;                             // per file
  // Large jobs.
  // An entry whose output name (before any free name is taken) exists is not converted but
  // reported as skipped: outputs are only ever published complete, so a rerun of a stopped run
  // converts exactly what is missing.
  bool SkipExisting = false;                           // per file
  // With no destination, outputs go into this folder beside each source, created when missing;
  // one plain folder name. None: beside the source itself.
  std::optional<std::string> Subfolder;                // at start
  // With a destination, each output goes to the destination plus its source's folder relative
  // to the folder the user added.
  bool KeepTree = false;                               // at start
  // JPEG, WebP, AVIF and JPEG XL outputs of at most this many KiB: the highest quality up to
  // Quality that fits, then smaller pixel sizes. 0: no limit.
  int MaxKb = 0;                                       // per file
  // Of the list, only the entries whose position modulo ShardCount is ShardIndex are converted,
  // so that several processes can share one list; "$" numbers stay the positions in the list.
  int ShardIndex = 0;                                  // at start
  int ShardCount = 1;                                  // at start
};

// The largest "Max KB" value: 1 GiB.
inline constexpr int kMaxKbLimit = 1 << 20;
// The size limit's search for a quality. Below the floor JPEG's blocks show plainly, and a
// smaller picture looks better than a coarser one; from the floor up to 100, one trial at the
// asked quality and a bisection of the rest take at most kMaxKbEncodes encodes.
inline constexpr int kMaxKbQualityFloor = 40;
inline constexpr int kMaxKbEncodes = 7;
// Each step down in pixel size when even the floor is too large, in percent of the last.
inline constexpr int kMaxKbShrinkPercent = 90;

// Why these settings cannot run together, in the window's words, or empty when they can.
std::string RunSettingsProblem(const TRunSettings& s);
// Why text cannot name the sub-folder for the outputs, or empty when it can: one plain folder
// name, so that outputs stay beside their sources.
std::string SubfolderNameProblem(const std::string& text);

// The number a run uses as its size: the percentage in "Percent" mode, else the pixel size.
int SizeValueOf(const TRunSettings& s);
// The run's limit on simultaneous workers for a list of entry_count entries.
int WorkerLimitOf(const TRunSettings& s, int entry_count);
// How many of a list of entry_count entries the run's shard holds.
int ShardEntryCount(const TRunSettings& s, int entry_count);

}  // namespace pellavo

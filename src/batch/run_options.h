#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "batch/run_settings.h"
#include "core/limits.h"
#include "formats/output_formats.h"

namespace pellavo {

// How an option's value is held: a number in a range, a switch (0 off, 1 on), or the index of
// one of a list of items.
enum class TOptionKind : uint8_t { Number, Switch, Choice };

// Reads and writes an option's TRunSettings field as the int every front end holds it in.
struct TOptionField {
  int (*Get)(const TRunSettings&);
  void (*Set)(TRunSettings&, int);
};

// The field of TRunSettings that holds an option as it is (an int, a bool or an item enum).
template <auto Member>
constexpr TOptionField FieldOf() {
  return {[](const TRunSettings& s) { return static_cast<int>(s.*Member); },
          [](TRunSettings& s, int v) { s.*Member = static_cast<std::remove_cvref_t<decltype(s.*Member)>>(v); }};
}

// One run option as every front end offers it. Its name is the one the code uses for it in
// every layer (and the name of its TRunSettings field unless the field holds it in other units).
struct TRunOption {
  std::string_view Name;
  TOptionKind Kind;
  TOptionField Field;
  int Min, Max, Default;                     // a switch: 0, 1 and its default; a choice: 0, items - 1
  std::span<const std::string_view> Items;  // a choice's items, in the window's order
  // The command line's names for it ("-s,--size"; empty: not offered there) and its help text.
  // A switch's flag turns it away from its default ("--no-frame" turns FrameOn off).
  std::string_view Flag;
  std::string_view FlagHelp;
  // The objectName of the window's control that holds it (empty: not in the window) and the
  // hint the status bar shows for that control.
  std::string_view Control;
  std::string_view Hint;
  // The help and the hint may name other tables' contents in braces (see OptionText).
  // A number whose Min turns the option off: the window shows this text for Min, and the
  // command line takes values from Min + 1, leaving the option out for off.
  std::string_view OffText = {};
};

// Every numeric, on/off and choice option of a run. A new option is a row here and its field
// in TRunSettings; the window needs a control of that objectName in its layout.
inline constexpr std::array kRunOptions = {
    // Name, kind, field, min, max, default, items, flag, flag help, control, hint[, off text]
    TRunOption{"SizeMode", TOptionKind::Choice, FieldOf<&TRunSettings::SizeMode>(), 0, int(kSizeModeItems.size()) - 1,
               int(TSizeMode::Largest), kSizeModeItems, "-m,--size-mode",
               "Which side the size sets: width, height, largest (the longer side, --size) or percent (--percent of "
               "the longer side)",
               "RG1", "Maximum output dimension as pixels or a percentage"},
    TRunOption{"PixelSize", TOptionKind::Number, FieldOf<&TRunSettings::PixelSize>(), 10, 5000, 800, {}, "-s,--size",
               "Size in pixels for the width, height and largest modes", "SpinEdit1", "Set new size in pixels"},
    TRunOption{"PercentSize", TOptionKind::Number, FieldOf<&TRunSettings::PercentSize>(), 1, 500, 80, {},
               "-p,--percent", "Size in percent of the longer side for the percent mode", "SpinEdit4",
               "Set new size as a percentage of original"},
    TRunOption{"WideMode", TOptionKind::Choice, FieldOf<&TRunSettings::WideMode>(), 0, int(kWideModeItems.size()) - 1,
               int(TWideMode::None), kWideModeItems, "-w,--wide",
               "16:9 output: none, land (landscape images only) or all; the image is cropped to a centred band", "RG4",
               "Wide 16:9 output for only LANDSCAPE or ALL images"},
    TRunOption{"OutputFormat", TOptionKind::Choice, FieldOf<&TRunSettings::OutputFormat>(), 0,
               int(kOutputFormats.size()) - 1, int(TOutputFormat::Source), kOutputFormatItems, "", "", "RG3",
               "Either same as source file or as chosen - .pdf is a bmp in a PDF document"},
    TRunOption{"Quality", TOptionKind::Number, FieldOf<&TRunSettings::Quality>(), 1, 100, 90, {}, "-Q,--quality",
               "Quality of {quality formats} outputs, 1 (smallest) to 100 (best)", "SpinEditQuality",
               "Quality of {quality items} output - 1 smallest to 100 best (100: lossless .jxl)"},
    TRunOption{"MaxKb", TOptionKind::Number, FieldOf<&TRunSettings::MaxKb>(), 0, kMaxKbLimit, 0, {}, "--max-kb",
               "Make each {quality formats} output at most N KiB: the highest quality from {max-kb floor} up to "
               "--quality that fits (at most {max-kb encodes} trial encodes in memory), then the pixel size 10 % "
               "smaller at a time until it fits",
               "SpinEditMaxKb",
               "Largest size of each {quality items} output in KB - the quality is lowered to fit, then the size",
               "Off"},
    TRunOption{"NoEnlarge", TOptionKind::Switch, FieldOf<&TRunSettings::NoEnlarge>(), 0, 1, 0, {}, "--no-enlarge",
               "Only shrink: a source already within the size keeps its own (also in percent mode above 100)",
               "OnlyShrink", "Never enlarge - images already within the size keep their own"},
    TRunOption{"FirstFrame", TOptionKind::Switch, FieldOf<&TRunSettings::FirstFrame>(), 0, 1, 0, {}, "--first-frame",
               "Convert only the first frame of an animated GIF or WebP; without it a gif or webp output keeps every "
               "frame, resized and decorated alike, with its delay and the loop count",
               "FirstFrame",
               "Convert only the first frame of animated GIF and WebP files - off, .gif and .webp output keeps every "
               "frame"},
    TRunOption{"NameAddition", TOptionKind::Choice, FieldOf<&TRunSettings::NameAddition>(), 0,
               int(kNameAdditionItems.size()) - 1, int(TNameAddition::None), kNameAdditionItems, "", "", "RG2",
               "Text to be added to output file name"},
    TRunOption{"Overwrite", TOptionKind::Switch, FieldOf<&TRunSettings::Overwrite>(), 0, 1, 0, {}, "-o,--overwrite",
               "Replace existing files (by default an existing name gets a free name[1].ext); a file is only "
               "replaced after its new content is completely written. Without --dest, and with the source's "
               "format, this replaces the original images themselves, and they cannot be recovered",
               "CheckBox1", ""},
    TRunOption{"SkipExisting", TOptionKind::Switch, FieldOf<&TRunSettings::SkipExisting>(), 0, 1, 0, {},
               "--skip-existing",
               "Do not convert a file whose output name already exists; it is reported as skipped. Outputs are "
               "only ever published complete, so rerunning a stopped run converts exactly the rest",
               "SkipExisting", "Do not convert files whose output already exists - run again to finish a stopped run"},
    TRunOption{"KeepTree", TOptionKind::Switch, FieldOf<&TRunSettings::KeepTree>(), 0, 1, 0, {}, "--keep-tree",
               "With --dest: keep the folder structure below each folder named (with -r): each output goes to DIR "
               "plus its source's folder relative to the folder named, created as needed",
               "KeepTree", "With a destination, rebuild the folders below each source folder there"},
    TRunOption{"KeepDates", TOptionKind::Switch, FieldOf<&TRunSettings::KeepDates>(), 0, 1, 0, {}, "--keep-dates",
               "Give each output its source's modification time (also with --fastcopy)", "KeepDates",
               "Give each output the modification date of its source"},
    TRunOption{"FastCopy", TOptionKind::Switch, FieldOf<&TRunSettings::FastCopy>(), 0, 1, 0, {}, "-c,--fastcopy",
               "Copy each file byte for byte to --dest (named as above) instead of converting it", "fCopy",
               "Copy selected files to a destination folder without resizing or format change."},
    TRunOption{"MaxThreadsOn", TOptionKind::Switch, FieldOf<&TRunSettings::MaxThreadsOn>(), 0, 1, 1, {}, "", "",
               "syncit", "If unchecked multiple threads will not be used"},
    TRunOption{"MaxThreads", TOptionKind::Number, FieldOf<&TRunSettings::MaxThreads>(), 0, 99, 5, {}, "-j,--threads",
               "Files in progress at the same time (0: all at once); of these, one per core decodes and encodes at "
               "a time, and a large file splits its work only across cores no other file is using",
               "SpinEdit2", "Maximum number of threads running at a time - 0  means unlimited"},
    TRunOption{"StartDelay", TOptionKind::Number, FieldOf<&TRunSettings::StartDelay>(), 0, 500, 0, {}, "--delay",
               "Milliseconds between starting two files", "SpinEdit3",
               "Micro second delay between thread starts - can improve speed when running unlimited threads"},
    // Held in bytes; offered in MB, the unit in which a limit is worth setting.
    TRunOption{"MaxImageMb", TOptionKind::Number,
               {[](const TRunSettings& s) { return static_cast<int>(s.MaxImageBytes >> 20); },
                [](TRunSettings& s, int v) { s.MaxImageBytes = static_cast<uint64_t>(v) << 20; }},
               1, int(kMaxPixelBlockBytes >> 20), int(kDefaultMaxImageBytes >> 20), {}, "--max-image-mb",
               "Refuse an image whose decoded size (width x height x 4 bytes) is over this many MB; checked from its "
               "header before anything is decoded",
               "", ""},
    TRunOption{"AutoRotate", TOptionKind::Switch, FieldOf<&TRunSettings::AutoRotate>(), 0, 1, 1, {}, "--no-autorotate",
               "Take pixels as stored: photos whose EXIF orientation says they are sideways or mirrored are not "
               "turned upright first",
               "AutoRotate", "Turn photos upright by the orientation their camera recorded"},
    TRunOption{"ColourManaged", TOptionKind::Switch, FieldOf<&TRunSettings::ColourManaged>(), 0, 1, 1, {},
               "--no-profile",
               "Ignore embedded colour profiles: pixels are taken as they are stored and outputs carry none", "", ""},
    TRunOption{"KeepMetadata", TOptionKind::Switch, FieldOf<&TRunSettings::KeepMetadata>(), 0, 1, 0, {},
               "--keep-metadata",
               "Copy EXIF (orientation reset, preview dropped, sizes updated) and XMP into {metadata formats} "
               "outputs. They include any GPS position the camera recorded. Without it outputs carry only the "
               "colour profile",
               "KeepMetadata",
               "Copy EXIF and XMP (date taken, camera, GPS position) into {metadata names} files"},
    TRunOption{"KeepAlpha", TOptionKind::Switch, FieldOf<&TRunSettings::KeepAlpha>(), 0, 1, 1, {}, "--no-alpha",
               "Lay transparent areas of PNG and GIF sources onto black and filter the alpha of other sources like "
               "a colour, instead of keeping transparency where the output format can hold it",
               "", ""},
    TRunOption{"FrameOn", TOptionKind::Switch, FieldOf<&TRunSettings::FrameOn>(), 0, 1, 1, {}, "--no-frame",
               "Leave out the raised frame drawn on the outermost pixels", "Framit",
               "Add simple raised frame to image"},
    TRunOption{"BorderOn", TOptionKind::Switch, FieldOf<&TRunSettings::BorderOn>(), 0, 1, 0, {}, "", "", "CheckBox3",
               "Add colored border around image"},
    TRunOption{"BorderWidth", TOptionKind::Number, FieldOf<&TRunSettings::BorderWidth>(), 1, 30, 5, {},
               "-b,--border-width", "Coloured border of this many pixels inside the output; turns the border on",
               "SpinEdit5", "Border width"},
};

inline constexpr size_t kRunOptionCount = kRunOptions.size();

// The row of the option with this name; used in a constant expression, an unknown name does
// not compile.
constexpr size_t RunOptionIndex(std::string_view name) {
  for (size_t i = 0; i < kRunOptions.size(); ++i)
    if (kRunOptions[i].Name == name) return i;
  throw std::invalid_argument("no run option of that name");
}
constexpr const TRunOption& RunOption(std::string_view name) { return kRunOptions[RunOptionIndex(name)]; }

// The value of every option as a front end holds it, by row: the defaults, or as settings hold them.
using TOptionValues = std::array<int, kRunOptionCount>;
constexpr TOptionValues DefaultOptionValues() {
  TOptionValues values = {};
  for (size_t i = 0; i < kRunOptions.size(); ++i) values[i] = kRunOptions[i].Default;
  return values;
}
// The output formats (not "Source") that `has` picks, each as `word` names it, in words: "a, b
// or c", with `last` (" or ", " and ") before the last.
std::string FormatsInWords(bool (*has)(const TOutputFormatInfo&), std::string_view (*word)(const TOutputFormatInfo&),
                           std::string_view last);
// A format's name in capitals, as help texts write it ("JPEG XL").
std::string_view FormatTitle(const TOutputFormatInfo& f);

// A help text or hint with the names in braces filled in: {quality formats} and {metadata
// formats}, the command line's names of the output formats that take a quality and that carry
// metadata ("jpg, webp, avif or jxl"); {quality items}, the window's items of the first
// (".jpg, .webp, .avif and .jxl"); {metadata names}, the names of the second ("JPEG, PNG,
// ... and JPEG XL"); {max-kb floor} and {max-kb encodes}, the size limit's constants.
std::string OptionText(std::string_view text);

// Sets the option of row `row` to value; a value outside its range (a radio group with no
// button checked) gives its default.
void SetRunOption(TRunSettings& s, size_t row, int value);

}  // namespace pellavo

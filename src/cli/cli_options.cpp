#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch/output_naming.h"
#include "batch/run_options.h"
#include "batch/run_settings.h"
#include "core/limits.h"
#include "core/paths.h"
#include "core/version.h"
#include "formats/registry.h"

namespace pellavo {
namespace {

// "#RRGGBB" or "RRGGBB" to a window-system colour value (red in the low byte).
bool ParseColor(const std::string& text, TColor& color) {
  std::string hex = text;
  if (!hex.empty() && hex[0] == '#') hex.erase(0, 1);
  if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
  const unsigned long rgb = std::strtoul(hex.c_str(), nullptr, 16);
  color = static_cast<TColor>(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
  return true;
}

// "a, b or c", or with another word before the last.
std::string ListInWords(const std::vector<std::string>& words, std::string_view last = " or ") {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 == words.size() ? std::string(last) : ", ";
    out += words[i];
  }
  return out;
}

std::string Joined(const std::vector<std::string>& words, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) out += (i > 0 ? std::string(separator) : "") + words[i];
  return out;
}

// The command line names a choice by its item text in lower case.
std::vector<std::string> ItemNames(std::span<const std::string_view> items) {
  std::vector<std::string> names;
  for (std::string_view item : items) names.push_back(LowerAscii(item));
  return names;
}

// Name to item index, for CLI11's checked transformer.
std::map<std::string, int> IndexByName(const std::vector<std::string>& names) {
  std::map<std::string, int> map;
  for (size_t i = 0; i < names.size(); ++i) map.emplace(names[i], static_cast<int>(i));
  return map;
}

// The command line's name of an output format: its item text in lower case without the dot
// ("source", "jpg").
std::string FormatName(const TOutputFormatInfo& f) {
  const std::string item = LowerAscii(f.Item);
  return item.starts_with('.') ? item.substr(1) : item;
}

// The output formats (not "Source") that have a property, by their names in capitals as the
// help texts write them: "JPEG, PNG, WebP and AVIF".
std::string FormatTitles(bool (*has)(const TOutputFormatInfo&), std::string_view last = " and ") {
  return FormatsInWords(has, FormatTitle, last);
}

// An output format by that name, or by its extension (".jpg").
std::optional<TOutputFormat> FormatByName(std::string_view name) {
  for (const TOutputFormatInfo& f : kOutputFormats)
    if (name == FormatName(f) || (!f.Extension.empty() && name == f.Extension)) return f.Format;
  return std::nullopt;
}

// The options of kRunOptions that the command line offers, as CLI11 holds them.
class TTableOptions {
 public:
  void Add(size_t row, CLI::Option* option) { options_[row] = option; }
  CLI::Option* Of(std::string_view name) const { return options_[RunOptionIndex(name)]; }
  bool Given(size_t row) const { return options_[row] && options_[row]->count() > 0; }

 private:
  std::array<CLI::Option*, kRunOptionCount> options_{};
};

// Offers every option of kRunOptions that has a flag; what the command line gives lands in
// values, by row: a switch's flag gives the value away from its default.
TTableOptions AddTableOptions(CLI::App& app, TOptionValues& values) {
  TTableOptions added;
  for (size_t row = 0; row < kRunOptionCount; ++row) {
    const TRunOption& o = kRunOptions[row];
    if (o.Flag.empty()) continue;
    const std::string flag(o.Flag), help = OptionText(o.FlagHelp);
    CLI::Option* option = nullptr;
    switch (o.Kind) {
      case TOptionKind::Number: {
        // Off is the option left out.
        const int min = o.OffText.empty() ? o.Min : o.Min + 1;
        option = app.add_option(flag, values[row], help)->check(CLI::Range(min, o.Max));
        if (o.OffText.empty())
          option->default_str(std::to_string(o.Default));
        else
          option->option_text("N (" + std::to_string(min) + "-" + std::to_string(o.Max) + ", none)");
        break;
      }
      case TOptionKind::Switch:
        option = app.add_flag(flag, help);
        values[row] = 1 - o.Default;
        break;
      case TOptionKind::Choice: {
        const std::vector<std::string> names = ItemNames(o.Items);
        option = app.add_option(flag, values[row], help)
                     ->transform(CLI::CheckedTransformer(IndexByName(names), CLI::ignore_case))
                     ->option_text(Joined(names, "|") + " (" + names[size_t(o.Default)] + ")");
        break;
      }
    }
    added.Add(row, option);
  }
  return added;
}

std::optional<TStretchFilter> FilterByNameOrNumber(const std::string& text) {
  if (const std::optional<TStretchFilter> named = FilterByName(text)) return named;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || value < 0 || value > 255) return std::nullopt;
  return static_cast<TStretchFilter>(value);
}

// The formats read, in the order of the open-file dialog: "GIF Image (gif); ...; JPEG Image
// File (jpg, jpeg); ...".
std::string InputFormatList() {
  std::vector<std::string> names;
  std::string last_desc;
  const std::vector<TFileFormat>& entries = FileFormats().Entries();
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const TFileFormat& f = *it;
    if (!names.empty() && f.FileDesc == last_desc) {
      names.back().insert(names.back().size() - 1, ", " + f.FileExt);
    } else {
      names.push_back(f.FileDesc + " (" + f.FileExt + ")");
      last_desc = f.FileDesc;
    }
  }
  return Joined(names, "; ");
}

}  // namespace

int ParseCliOptions(int argc, char** argv, TCliOptions& options) {
  TRunSettings& s = options.Settings;
  s.FilterIndex = sfLanczos;  // the command line has no untouched filter box

  CLI::App app{
      "Pellavo batch image resizer.\n"
      "Converts every image named on the command line (files, or folders whose image files are taken)\n"
      "into the chosen size and format, several files at a time.\nInput formats: " +
          InputFormatList() + ".",
      "pellavo-cli"};
  app.set_version_flag("--version", "pellavo-cli " + std::string(kVersion));
  app.get_formatter()->column_width(34);

  app.add_option("paths", options.Paths, "Image files and folders to convert")->type_name("PATH...");
  auto* files_from = app.add_option("--files-from", options.FilesFrom,
                                    "Also convert the paths listed in FILE, one a line (- reads standard input)")
                         ->type_name("FILE");
  app.add_flag("-0,--null", options.NullSeparated,
               "The --files-from list ends each path with a NUL byte (find -print0), not a line break; an "
               "empty name in it is an input error")
      ->needs(files_from);

  std::vector<std::string> filter_names;
  std::string filter;
  for (const TStretchFilterName& f : kStretchFilterNames) {
    filter_names.emplace_back(f.Name);
    if (f.Filter == s.FilterIndex) filter = f.Name;
  }
  app.add_option("-f,--filter", filter, "Resampling filter: " + ListInWords(filter_names) + ", or a number 0-255")
      ->option_text("NAME|0-255 (" + filter + ")");

  std::vector<std::string> format_names;
  for (const TOutputFormatInfo& f : kOutputFormats)
    format_names.push_back(FormatName(f) + (f.Format == TOutputFormat::Source ? " (keep each file's own)" : ""));
  std::string format = FormatName(OutputFormatInfo(s.OutputFormat));
  app.add_option("-t,--format", format, "Output format: " + ListInWords(format_names))
      ->option_text("FORMAT (" + format + ")");

  auto* dest = app.add_option("-d,--dest", s.DestFolder, "Existing folder for the outputs (default: beside each source)")
                   ->type_name("DIR");
  std::string prefix, postfix;
  auto* prefix_opt = app.add_option("--prefix", prefix, "Text put before each output name; $ becomes the entry number (0, 1, ...)")
                         ->type_name("TEXT");
  app.add_option("--postfix", postfix, "Text put before each output's extension; $ becomes the entry number")
      ->type_name("TEXT")
      ->excludes(prefix_opt);
  std::string subfolder;
  auto* subfolder_opt =
      app.add_option("--subfolder", subfolder,
                     "Without --dest: put each output into the folder NAME beside its source, created when "
                     "missing; -r passes over folders named NAME, which hold outputs")
          ->type_name("NAME");
  std::string shard;
  app.add_option("--shard", shard,
                 "Convert only the entries whose position in the list (folders sorted by name, --files-from in "
                 "its order) modulo N is K, 0 <= K < N; $ numbers stay the positions in the whole list, so N "
                 "processes on the same list write N disjoint parts")
      ->type_name("K/N");

  TOptionValues values = DefaultOptionValues();
  const TTableOptions table = AddTableOptions(app, values);
  table.Of("SkipExisting")->excludes(table.Of("Overwrite"));

  std::string border_color = "#FFFFFF";
  auto* border_color_opt =
      app.add_option("--border-color", border_color, "Border colour as #RRGGBB; turns the border on")
          ->default_str("#FFFFFF");
  std::string background = "#FFFFFF";
  auto* background_opt =
      app.add_option("--background", background,
                     "Colour as #RRGGBB that transparent areas are laid onto in outputs without transparency (" +
                         FormatTitles([](const TOutputFormatInfo& f) { return !f.KeepsAlpha; }) + ")")
          ->default_str("#FFFFFF");

  app.add_flag("-r,--recursive", options.IncludeSubfolders, "Also take the images of sub-folders");
  app.add_flag("-q,--quiet", options.Quiet, "Print only failures and the summary (no success lines, no progress bar)");
  app.add_flag("--json", options.Json,
               "Print a JSON object per line instead of text: one per finished file, then the summary");
  app.footer(
      "Output: each finished file prints its output path on standard output, or \"failed: SOURCE: REASON\"\n"
      "on standard error, one line per file as it finishes, after a \"warning: SOURCE: REASON\" line on\n"
      "standard error for anything ignored in it; with --skip-existing, \"skipped: SOURCE: OUTPUT exists\"\n"
      "on standard output for a file not converted; the summary comes last. Control characters,\n"
      "backslashes and bytes that are not UTF-8 in names are escaped (\\n, \\\\, \\x1b, \\u0085), so a\n"
      "name never breaks a line.\n"
      "\n"
      "--json: standard output holds only JSON objects, one a line:\n"
      "  {\"type\": \"file\", \"source\": S, \"output\": S|null, \"status\": \"written\"|\"failed\"|\"skipped\",\n"
      "   \"reason\": S|null, \"width\": N|null, \"height\": N|null, \"quality\": N|null, \"bytes\": N|null,\n"
      "   \"milliseconds\": N} for each finished file (\"skipped\": not an image by its extension, or its\n"
      "   output exists under --skip-existing, which is no failure; quality: what a\n   " +
      FormatTitles([](const TOutputFormatInfo& f) { return f.TakesQuality; }, " or ") +
      " output was encoded at, after --max-kb; bytes: the size written);\n"
      "  {\"type\": \"input\", \"path\": S, \"status\": \"failed\"|\"ignored\", \"reason\": S} for a named path\n"
      "   that is missing, unreadable or holds no image;\n"
      "  {\"type\": \"warning\", \"source\": S, \"reason\": S} before a file's own object, for what was wrong\n"
      "   with it without stopping it (a damaged colour profile or EXIF block, ignored; the frames of an\n"
      "   animation or the pages of a TIFF left out); and last\n"
      "  {\"type\": \"summary\", \"files\": N, \"written\": N, \"failed\": N, \"skipped\": N, \"input_errors\": N,\n"
      "   \"milliseconds\": N, \"interrupted\": \"SIGINT\"|\"SIGTERM\"|\"SIGHUP\"|null, \"exit_status\": N}.\n"
      "  (Written here with spaces for reading; the objects themselves have none.)\n"
      "  A name byte that is not part of valid UTF-8 appears as \\udcXX (0xDC00 + the byte, the\n"
      "  surrogateescape convention: Python's os.fsencode gives back the exact bytes).\n"
      "\n"
      "Photos: by default a photo stored sideways or mirrored is turned upright by its EXIF orientation\n"
      "before it is sized (HEIC, AVIF and JPEG XL files by their own rotation when they hold one, TIFF\n"
      "files by their Orientation tag); an embedded colour profile travels with\n" +
      FormatTitles([](const TOutputFormatInfo& f) { return f.CarriesMetadata; }) +
      " outputs, and the other formats get the colours\nconverted to sRGB; transparency stays in " +
      FormatTitles([](const TOutputFormatInfo& f) { return f.KeepsAlpha; }) +
      "\noutputs and is laid onto --background in the others. Of a multi-page TIFF the first page is\n"
      "converted, with a warning.\n"
      "Animations: an animated GIF or WebP written as gif or webp keeps every frame, each resized and\n"
      "decorated like a still image, with its delay and the loop count (--max-kb does not apply to\n"
      "them); --first-frame converts the first frame only. Written in another format, an animation\n"
      "gives its first frame, with a warning naming its frame count.\n"
      "JPEG XL: --quality maps to a distance as cjxl maps it (90 is 1.0, each step down to 30 adds\n"
      "0.09, below 30 it grows faster, to the largest, 15, from 8 down); --quality 100 writes lossless\n"
      "JPEG XL. Metadata (EXIF, XMP) is left out unless --keep-metadata is given. --no-autorotate\n"
      "--no-alpha --no-profile take every pixel as stored.\n"
      "\n"
      "Lists: --files-from takes what find, xargs or a job scheduler produce, e.g.\n"
      "  find photos -name '*.jpg' -print0 | pellavo-cli --files-from - -0 --dest out\n"
      "\n"
      "Large jobs: --keep-tree -r --dest DIR mirrors a tree; --subfolder small writes small/ beside each\n"
      "source; --skip-existing after a stopped run converts exactly what is missing; --max-kb 500 fits an\n"
      "upload limit. --shard K/N splits one list among N processes or machines, each converting once:\n"
      "  parallel --sshloginfile hosts -j1 --retries 3 pellavo-cli --shard {}/8 --skip-existing \\\n"
      "    -r --keep-tree --dest /srv/small /srv/photos ::: 0 1 2 3 4 5 6 7\n"
      "  (a Kubernetes Indexed Job: --shard $JOB_COMPLETION_INDEX/8 --skip-existing; see the manual page)\n"
      "Every process must see the same files at the same paths.\n"
      "\n"
      "Interrupts: SIGINT, SIGTERM or SIGHUP (a closed terminal) launch nothing more, let the running\n"
      "files finish, print the summary and exit; a second one abandons the running files, which count\n"
      "as failed with the reason \"interrupted\", and still prints the summary (the JSON one too). No\n"
      "partial or temporary file is left.\n"
      "\n"
      "Exit status: 0 when every file was written, 1 when any failed or a named path was missing or\n"
      "unreadable, 2 for a usage error or a destination that does not exist, 129 after SIGHUP,\n"
      "130 after SIGINT, 143 after SIGTERM.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Prints the help, the version or the error; CLI11's own codes tell its errors apart, which
    // the exit status does not promise.
    return app.exit(e) == static_cast<int>(CLI::ExitCodes::Success) ? 0 : kUsageError;
  }

  const auto fail = [&](const std::string& message) {
    std::cerr << "pellavo-cli: " << message << "\nRun with --help for more information.\n";
    return kUsageError;
  };

  const std::optional<TStretchFilter> filter_index = FilterByNameOrNumber(filter);
  if (!filter_index) return fail("unknown filter \"" + filter + "\"");
  s.FilterIndex = *filter_index;

  const std::optional<TOutputFormat> output_format = FormatByName(format);
  if (!output_format) return fail("unknown output format \"" + format + "\"");
  s.OutputFormat = *output_format;

  if (options.Paths.empty() && options.FilesFrom.empty())
    return fail("paths is required: name image files or folders, or give --files-from");
  for (const std::string* addition : {&prefix, &postfix}) {
    if (const std::string problem = NameAdditionProblem(*addition); !problem.empty()) return fail(problem);
  }

  for (size_t row = 0; row < kRunOptionCount; ++row)
    if (table.Given(row)) SetRunOption(s, row, values[row]);
  if (!prefix.empty()) {
    s.NameAddition = TNameAddition::Prefix;
    s.AdditionText = prefix;
  } else if (!postfix.empty()) {
    s.NameAddition = TNameAddition::PostFix;
    s.AdditionText = postfix;
  }
  s.BorderOn = table.Of("BorderWidth")->count() > 0 || border_color_opt->count() > 0;
  if (!ParseColor(border_color, s.BorderColor)) return fail("--border-color must look like #RRGGBB");
  if (!ParseColor(background, s.BackgroundColor)) return fail("--background must look like #RRGGBB");
  if (!s.KeepAlpha && background_opt->count() > 0) return fail("--background has no effect with --no-alpha");

  if (subfolder_opt->count() > 0) {
    if (dest->count() > 0) return fail("--subfolder puts outputs beside their sources: it excludes --dest");
    if (const std::string problem = SubfolderNameProblem(subfolder); !problem.empty())
      return fail("--subfolder must be one folder name, without \"/\", and not \".\" or \"..\"");
    s.Subfolder = subfolder;
  }
  if (s.KeepTree && dest->count() == 0) return fail("--keep-tree needs --dest");
  if (s.MaxKb > 0) {
    if (s.FastCopy) return fail("--max-kb cannot shrink the files --fastcopy copies unchanged");
    if (s.OutputFormat != TOutputFormat::Source && !OutputFormatInfo(s.OutputFormat).TakesQuality)
      return fail(OptionText("--max-kb applies to {quality formats} outputs only, not ") + format);
  }
  if (!shard.empty()) {
    int k = -1, n = 0;
    char tail = 0;
    if (std::sscanf(shard.c_str(), "%d/%d%c", &k, &n, &tail) != 2 || k < 0 || n < 1 || k >= n ||
        shard.find_first_not_of("0123456789/") != std::string::npos)
      return fail("--shard must be K/N with 0 <= K < N, such as 0/3");
    s.ShardIndex = k;
    s.ShardCount = n;
  }
  return -1;
}

}  // namespace pellavo

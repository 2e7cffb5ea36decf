#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <map>

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

}  // namespace

int ParseCliOptions(int argc, char** argv, TCliOptions& options) {
  TRunSettings& s = options.Settings;
  s.FilterIndex = 5;  // Lanczos: the command line has no untouched filter box

  CLI::App app{
      "Pellavo batch image resizer.\n"
      "Converts every image named on the command line (files, or folders whose image files are taken)\n"
      "into the chosen size and format, several files at a time. Input formats: BMP, ICO, WMF, EMF,\n"
      "JPEG, JPEG 2000, PNG and GIF.",
      "pellavo-cli"};
  app.set_version_flag("--version", "pellavo-cli 0.1.0");
  app.get_formatter()->column_width(34);

  app.add_option("paths", options.Paths, "Image files and folders to convert")->required()->type_name("PATH...");

  const std::map<std::string, int> size_modes{{"width", smWidth}, {"height", smHeight}, {"largest", smLargest},
                                              {"percent", smPercent}};
  app.add_option("-m,--size-mode", s.SizeMode,
                 "Which side the size sets: width, height, largest (the longer side, --size) or percent (--percent of the longer side)")
      ->transform(CLI::CheckedTransformer(size_modes, CLI::ignore_case))
      ->option_text("width|height|largest|percent (largest)");
  app.add_option("-s,--size", s.PixelSize, "Size in pixels for the width, height and largest modes")
      ->check(CLI::Range(10, 5000))
      ->default_str("800");
  app.add_option("-p,--percent", s.PercentSize, "Size in percent of the longer side for the percent mode")
      ->check(CLI::Range(1, 500))
      ->default_str("80");

  const std::map<std::string, int> filters{{"nearest", 0}, {"draft", 1},   {"linear", 2},   {"cosine", 3},
                                           {"spline", 4},  {"lanczos", 5}, {"mitchell", 6}, {"box", 255}};
  std::string filter = "lanczos";
  app.add_option("-f,--filter", filter,
                 "Resampling filter: nearest, draft, linear, cosine, spline, lanczos, mitchell or box, "
                 "or a number 0-255")
      ->option_text("NAME|0-255 (lanczos)");

  const std::map<std::string, int> wide{{"none", wmNone}, {"land", wmLand}, {"all", wmAll}};
  app.add_option("-w,--wide", s.WideMode,
                 "16:9 output: none, land (landscape images only) or all; the image is cropped to a centred band")
      ->transform(CLI::CheckedTransformer(wide, CLI::ignore_case))
      ->option_text("none|land|all (none)");

  std::string format = "source";
  app.add_option("-t,--format", format,
                 "Output format: source (keep each file's own), jpg, bmp, png, gif, emf, jp2 or pdf")
      ->option_text("FORMAT (source)");

  app.add_option("-d,--dest", s.DestFolder, "Existing folder for the outputs (default: beside each source)")
      ->type_name("DIR");
  std::string prefix, postfix;
  auto* prefix_opt = app.add_option("--prefix", prefix, "Text put before each output name; $ becomes the entry number (0, 1, ...)")
                         ->type_name("TEXT");
  app.add_option("--postfix", postfix, "Text put before each output's extension; $ becomes the entry number")
      ->type_name("TEXT")
      ->excludes(prefix_opt);
  app.add_flag("-o,--overwrite", s.Overwrite,
               "Replace existing files (by default an existing name gets a free name[1].ext); a file is only "
               "replaced after its new content is completely written");

  int threads = 5;
  app.add_option("-j,--threads", threads, "Files converted at the same time (0: all at once)")
      ->check(CLI::Range(0, 99))
      ->default_str("5");
  app.add_option("--delay", s.StartDelay, "Milliseconds between starting two files")
      ->check(CLI::Range(0, 500))
      ->default_str("0");

  auto* border_width = app.add_option("-b,--border-width", s.BorderWidth,
                                      "Coloured border of this many pixels inside the output; turns the border on")
                           ->check(CLI::Range(1, 30))
                           ->default_str("5");
  std::string border_color = "#FFFFFF";
  auto* border_color_opt =
      app.add_option("--border-color", border_color, "Border colour as #RRGGBB; turns the border on")
          ->default_str("#FFFFFF");
  bool no_frame = false;
  app.add_flag("--no-frame", no_frame, "Leave out the raised frame drawn on the outermost pixels");

  app.add_flag("-c,--fastcopy", s.FastCopy,
               "Copy each file byte for byte to --dest (named as above) instead of converting it");
  app.add_flag("-r,--recursive", options.IncludeSubfolders, "Also take the images of sub-folders");
  app.add_flag("-q,--quiet", options.Quiet, "Print only failures and the summary (no success lines, no progress bar)");
  app.footer(
      "Each finished file prints its output path, or \"failed: SOURCE: REASON\"; the summary comes last.\n"
      "Exit status: 0 when every file was written, 1 when any failed, 2 for a usage error or a\n"
      "destination that does not exist.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  const auto fail = [&](const std::string& message) {
    std::cerr << "pellavo-cli: " << message << "\nRun with --help for more information.\n";
    return 2;
  };

  if (auto it = filters.find(filter); it != filters.end()) {
    s.FilterIndex = static_cast<uint8_t>(it->second);
  } else {
    char* end = nullptr;
    const long value = std::strtol(filter.c_str(), &end, 10);
    if (filter.empty() || *end || value < 0 || value > 255) return fail("unknown filter \"" + filter + "\"");
    s.FilterIndex = static_cast<uint8_t>(value);
  }

  s.OutputFormat = -1;
  std::string wanted = format;
  if (!wanted.empty() && wanted[0] != '.' && wanted != "source") wanted = "." + wanted;
  if (wanted == "source") s.OutputFormat = 0;
  for (size_t i = 1; i < kOutputFormats.size(); ++i)
    if (wanted == kOutputFormats[i]) s.OutputFormat = static_cast<int>(i);
  if (s.OutputFormat < 0) return fail("unknown output format \"" + format + "\"");

  if (!prefix.empty()) {
    s.NameAddition = naPrefix;
    s.AdditionText = prefix;
  } else if (!postfix.empty()) {
    s.NameAddition = naPostFix;
    s.AdditionText = postfix;
  }
  s.MaxThreadsOn = true;
  s.MaxThreads = threads;
  s.BorderOn = border_width->count() > 0 || border_color_opt->count() > 0;
  if (!ParseColor(border_color, s.BorderColor)) return fail("--border-color must look like #RRGGBB");
  s.FrameOn = !no_frame;
  return -1;
}

}  // namespace pellavo

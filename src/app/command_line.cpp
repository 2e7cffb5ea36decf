#include "app/command_line.h"

#include <algorithm>

#include "core/version.h"

namespace pellavo {

namespace {
constexpr const char* kEndOfOptions = "--";
}

TCommandLineRequest CommandLineRequest(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == kEndOfOptions) break;
    if (arg == "-h" || arg == "--help") return TCommandLineRequest::Help;
    if (arg == "--version") return TCommandLineRequest::Version;
  }
  return TCommandLineRequest::OpenWindow;
}

std::string UsageText() {
  return "Usage: pellavo [OPTION]... [FILE|FOLDER]...\n"
         "Open the Pellavo batch image resizer window with the named image files, and the image\n"
         "files of the named folders, in its source list.\n"
         "\n"
         "Options:\n"
         "  -h, --help     display this help and exit\n"
         "      --version  output version information and exit\n"
         "  --             end the options: every later argument is a file or folder\n"
         "\n"
         "Input formats: BMP, ICO, WMF, EMF, JPEG, JPEG 2000, PNG and GIF. Qt's own options\n"
         "(-platform NAME, -style NAME, ...) are taken too. The same conversion runs without a\n"
         "window with pellavo-cli (see pellavo-cli --help).\n";
}

std::string VersionText() { return "pellavo " + std::string(kVersion) + "\n"; }

std::vector<std::string> SourceArguments(std::vector<std::string> args) {
  if (const auto end = std::find(args.begin(), args.end(), kEndOfOptions); end != args.end()) args.erase(end);
  return args;
}

}  // namespace pellavo

#pragma once
#include <string>
#include <vector>

namespace pellavo {

// What the window's command line asks for. Decided before the application object exists, so
// that --help and --version answer on a console without a display (help2man runs them while
// the build makes the manual page).
enum class TCommandLineRequest { OpenWindow, Help, Version };

// args: the arguments after the program's name. "--" ends the options: an argument after it is a
// path even when it reads "--help".
TCommandLineRequest CommandLineRequest(const std::vector<std::string>& args);

// The answers to --help and --version, each ending in a new line.
std::string UsageText();
std::string VersionText();

// The files and folders for the source list: the arguments without the first "--".
std::vector<std::string> SourceArguments(std::vector<std::string> args);

}  // namespace pellavo

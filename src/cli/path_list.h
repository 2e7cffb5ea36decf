#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace pellavo {

// The paths of a list such as `find` prints: split at separator ('\n', or '\0' for `find -print0`),
// every byte kept (a name may hold a carriage return or, in a NUL-separated list, a line break).
// Blank lines are dropped; an empty name in a NUL-separated list is kept as "" for the caller to
// report, since no program that writes such lists means one (a separator after the last name
// ends it and adds none).
std::vector<std::string> SplitPathList(std::string_view bytes, char separator);

// Reads the list from file, or from standard input when file is "-"; throws EFOpenError or
// EReadError naming it. A pipe is read to its end: the list is the caller's own.
std::vector<std::string> ReadPathList(const std::string& file, char separator);

}  // namespace pellavo

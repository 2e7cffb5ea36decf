#include "app/file_filter.h"

#include <algorithm>
#include <vector>

namespace pellavo {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// "JPEG Image (*.jpg)" -> "JPEG Image": the dialog shows the patterns we give it instead.
std::string WithoutPatternList(std::string description) {
  const size_t open = description.rfind(" (");
  if (open != std::string::npos && !description.empty() && description.back() == ')') description.erase(open);
  return description;
}

}  // namespace

std::string QtFileFilter(const std::string& filter) {
  if (filter.empty()) return {};
  const std::vector<std::string> parts = Split(filter, '|');
  std::string result;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns = parts[i + 1];
    std::replace(patterns.begin(), patterns.end(), ';', ' ');
    if (!result.empty()) result += ";;";
    result += WithoutPatternList(parts[i]) + " (" + patterns + ")";
  }
  return result;
}

}  // namespace pellavo

#pragma once
#include <string>

#include "formats/output_formats.h"

namespace pellavo {

// What decides an entry's output path besides the source path and the entry's number.
struct TNamingRule {
  TOutputFormat OutputFormat = TOutputFormat::Source;  // Source keeps the extension
  std::string DestFolder;  // empty: beside the source
  std::string NamePrefix;  // "$" stands for the entry's number
  std::string NamePostfix;
};

// The output path of the entry at list position index (0 for the first).
std::string OutputFileName(const std::string& source, int index, const TNamingRule& rule);

// text with every "$" replaced by n in decimal.
std::string ExpandNumber(const std::string& text, int n);

}  // namespace pellavo
